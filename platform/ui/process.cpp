// Thread ids and the immediate process exit.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/ui/ui.h"

namespace win {

DWORD GetCurrentThreadId() {
  // The kernel's id: stable for the thread's life and the same one debuggers and /proc show.
  thread_local const DWORD id = static_cast<DWORD>(gettid());
  return id;
}

void ExitProcess(UINT exitCode) {
  // Like ExitProcess, nothing else runs: no static destructors, no atexit handlers. Only what the
  // program already wrote to the C streams is saved.
  std::fflush(nullptr);
  std::_Exit(static_cast<int>(exitCode));
}

}  // namespace win
