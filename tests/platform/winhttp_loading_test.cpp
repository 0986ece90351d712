// The transfer library is loaded when the service is first used, not at start-up, and a machine
// where it cannot be loaded sees the service fail with its error codes, never a crash. Each case
// runs in a fresh process (death tests re-run the binary), where nothing has loaded it yet.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/winhttp/winhttp.h"

namespace win {
namespace {

bool CurlMapped() {
  void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

bool CracksUrl() {
  URL_COMPONENTS parts;
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = 1;
  return WinHttpCrackUrl(u"http://example.com/a", 0, 0, &parts) && parts.dwHostNameLength == 11;
}

// Ends the process with status 0 when every step held, else with the number of the first that did
// not (named on stderr).
#define QV_STEP(number, condition)                            \
  if (!(condition)) {                                         \
    std::fprintf(stderr, "step %d failed: %s\n", number, #condition); \
    std::exit(number);                                        \
  }

void UseTheService() {
  QV_STEP(1, !CurlMapped());
  QV_STEP(2, CracksUrl() && !CurlMapped());
  QV_STEP(3, WinHttpCheckPlatform() == TRUE && CurlMapped());
  HINTERNET session = WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  QV_STEP(4, session != nullptr);
  // The library in use cannot be swapped any more.
  QV_STEP(5, SetWinHttpLibraryForTesting("libc.so.6") == FALSE);
  QV_STEP(6, WinHttpCloseHandle(session) == TRUE);
  std::exit(0);
}

void UseTheServiceWithout(const char* curlObject) {
  QV_STEP(1, SetWinHttpLibraryForTesting(curlObject) == TRUE);
  // A failed load is not retried into a different outcome: every call sees the same failure.
  for (int attempt = 0; attempt < 2; ++attempt) {
    SetLastError(0xdeadbeef);
    QV_STEP(2, WinHttpCheckPlatform() == FALSE);
    SetLastError(0xdeadbeef);
    QV_STEP(3, WinHttpOpen(u"agent", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0) == nullptr);
    QV_STEP(4, GetLastError() == ERROR_WINHTTP_INTERNAL_ERROR);
  }
  // Argument faults keep their own error; cracking needs no library.
  SetLastError(0xdeadbeef);
  QV_STEP(5, WinHttpOpen(nullptr, 99, nullptr, nullptr, 0) == nullptr && GetLastError() == ERROR_INVALID_PARAMETER);
  QV_STEP(6, CracksUrl());
  QV_STEP(7, WinHttpOpenHandleCount() == 0 && !CurlMapped());
  std::exit(0);
}

#undef QV_STEP

TEST(WinHttpLoading, TheTransferLibraryIsMappedOnlyWhenTheServiceIsFirstUsed) {
  EXPECT_EXIT(UseTheService(), testing::ExitedWithCode(0), "");
}

TEST(WinHttpLoading, AMissingOrIncompleteLibraryFailsEveryCallWithTheServiceError) {
  for (const char* object : {"libquorvane-no-such-library.so.4", "libc.so.6", "/nonexistent/libcurl.so.4"}) {
    SCOPED_TRACE(object);
    EXPECT_EXIT(UseTheServiceWithout(object), testing::ExitedWithCode(0), "");
  }
}

}  // namespace
}  // namespace win
