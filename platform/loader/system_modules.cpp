// The built-in system modules and their export tables. Exports are listed in ordinal order; the
// ordinals follow the alphabetical order of the names, as the system libraries number theirs.
#include "platform/loader/system_modules.h"

#include <time.h>

#include "platform/codepage/codepage.h"
#include "platform/com/initialise.h"
#include "platform/loader/loader_private.h"
#include "platform/winhttp/winhttp.h"

namespace win {

DWORD GetTickCount() {
  // CLOCK_BOOTTIME counts from boot and keeps counting while the machine sleeps, as the tick count
  // does; CLOCK_MONOTONIC would stop.
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);
}

namespace loader {
namespace {

constexpr BuiltinExport kKernel32[] = {
    ExportOf<&GetLastError>("GetLastError"),
    ExportOf<&GetTickCount>("GetTickCount"),
    ExportOf<&MultiByteToWideChar>("MultiByteToWideChar"),
    ExportOf<&SetLastError>("SetLastError"),
    ExportOf<&WideCharToMultiByte>("WideCharToMultiByte"),
};

constexpr BuiltinExport kOle32[] = {
    ExportOf<&CoInitialize>("CoInitialize"),
    ExportOf<&CoUninitialize>("CoUninitialize"),
    ExportOf<&OleInitialize>("OleInitialize"),
    ExportOf<&OleUninitialize>("OleUninitialize"),
};

}  // namespace

std::span<const SystemModule> SystemModules() {
  static const SystemModule kSystemModules[] = {
      {"kernel32.dll", kKernel32},
      {"ole32.dll", kOle32},
      {"winhttp.dll", WinHttpExports()},
  };
  return kSystemModules;
}

}  // namespace loader
}  // namespace win
