#include "platform/com/initialise.h"

namespace win {
namespace {
thread_local int t_comCount = 0;
thread_local int t_oleCount = 0;
}  // namespace

HRESULT CoInitialize(void*) { return t_comCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  // An unbalanced call on a thread that is not initialised does nothing, as on Windows.
  if (t_comCount > 0) --t_comCount;
}

HRESULT OleInitialize(void* reserved) {
  const HRESULT hr = CoInitialize(reserved);
  return t_oleCount++ == 0 ? hr : S_FALSE;
}

void OleUninitialize() {
  if (t_oleCount == 0) return;
  --t_oleCount;
  CoUninitialize();
}

int CoInitializeCount() { return t_comCount; }
int OleInitializeCount() { return t_oleCount; }

}  // namespace win
