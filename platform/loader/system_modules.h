// Kernel32 services that live with its built-in module (the code-page pair lives in
// platform/codepage, the COM pair in platform/com).
#pragma once

#include "platform/windows_types.h"

namespace win {

// Milliseconds since the system started, time spent suspended included, wrapping to 0 after
// 2^32 - 1 (about 49.7 days), as GetTickCount.
DWORD GetTickCount();

}  // namespace win
