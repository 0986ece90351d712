// The program's declared DLL commands that the HTTP client calls, by their index in the program's
// table of declarations. The client keeps its own names for them; a test checks them against the
// table.
#pragma once

#include <cstdint>

namespace quorvane::http_dll {

inline constexpr int32_t kWinHttpCheckPlatform = 0;
inline constexpr int32_t kWinHttpCrackUrl = 1;
inline constexpr int32_t kWinHttpOpen = 2;
inline constexpr int32_t kWinHttpSetTimeouts = 3;
inline constexpr int32_t kWinHttpConnect = 4;
inline constexpr int32_t kWinHttpOpenRequest = 5;
inline constexpr int32_t kWinHttpSetCredentials = 6;
inline constexpr int32_t kWinHttpCloseHandle = 7;
inline constexpr int32_t kWinHttpSetOption = 8;
inline constexpr int32_t kWinHttpAddRequestHeaders = 9;
inline constexpr int32_t kWinHttpSendRequest = 10;
inline constexpr int32_t kWinHttpReceiveResponse = 11;
inline constexpr int32_t kWinHttpQueryDataAvailable = 12;
inline constexpr int32_t kWinHttpReadData = 13;
inline constexpr int32_t kWinHttpQueryHeaders = 14;
inline constexpr int32_t kCoInitialize = 15;
inline constexpr int32_t kCoUninitialize = 16;
inline constexpr int32_t kMultiByteToWideChar = 17;
inline constexpr int32_t kWideCharToMultiByte = 18;

}  // namespace quorvane::http_dll
