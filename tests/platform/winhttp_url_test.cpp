// WinHttpCrackUrl by the service's rules, and the exports of the built-in module.
#include <gtest/gtest.h>

#include "platform/loader/loader.h"
#include "platform/winhttp/winhttp.h"
#include "winhttp_support.h"

namespace win {
namespace {

using test::Narrow;

struct CrackRow {
  std::u16string url;
  DWORD error;  // 0: succeeds
  INTERNET_SCHEME scheme = 0;
  INTERNET_PORT port = 0;
  const char* host = "";
  const char* user = "";
  const char* password = "";
  const char* path = "";
  const char* extra = "";
};

URL_COMPONENTS AskForEverything() {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength =
      parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  return parts;
}

TEST(WinHttpCrackUrl, SplitsAddressesAsTheServiceDoes) {
  const CrackRow rows[] = {
      {u"http://example.com", 0, 1, 80, "example.com"},
      {u"HTTPS://Example.com/a/b?x=1&y=2", 0, 2, 443, "Example.com", "", "", "/a/b", "?x=1&y=2"},
      {u"hTtP://h:8080/p", 0, 1, 8080, "h", "", "", "/p"},
      {u"http://h:/p", 0, 1, 80, "h", "", "", "/p"},
      {u"https://h:/", 0, 2, 443, "h", "", "", "/"},
      {u"http://h:65535", 0, 1, 65535, "h"},
      {u"http://h:0/", 0, 1, 0, "h", "", "", "/"},
      {u"http://u:p@h/x", 0, 1, 80, "h", "u", "p", "/x"},
      {u"http://u@h/x", 0, 1, 80, "h", "u", "", "/x"},
      {u"http://u:p:q@h:81/x", 0, 1, 81, "h", "u", "p:q", "/x"},
      {u"http://h?q", 0, 1, 80, "h", "", "", "", "?q"},
      {u"http://h/a?b=1#frag", 0, 1, 80, "h", "", "", "/a", "?b=1#frag"},
      {u"http://h/a#f?g", 0, 1, 80, "h", "", "", "/a", "#f?g"},
      {u"http://h/a?b?c", 0, 1, 80, "h", "", "", "/a", "?b?c"},
      {u"http://[::1]:8/x", 0, 1, 8, "[::1]", "", "", "/x"},
      {u"http://\u4E2D\u6587.cn/\u8DEF", 0, 1, 80, "\u4E2D\u6587.cn", "", "", "/\u8DEF"},
      {u"http://h/a b", 0, 1, 80, "h", "", "", "/a b"},
      // Failures.
      {u"", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {u"example.com/a", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {u"ftp://h/", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {u"httpx://h/", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {u"://h/", ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {u"http://h:65536/", ERROR_WINHTTP_INVALID_URL},
      {u"http://h:99999999999/", ERROR_WINHTTP_INVALID_URL},
      {u"http://h:8a/", ERROR_WINHTTP_INVALID_URL},
      {u"http://h:-1/", ERROR_WINHTTP_INVALID_URL},
      {u"http:///path", ERROR_WINHTTP_INVALID_URL},
      {u"http://", ERROR_WINHTTP_INVALID_URL},
      {u"http:h/", ERROR_WINHTTP_INVALID_URL},
      {u"http:/h/", ERROR_WINHTTP_INVALID_URL},
      {u"http://a b/", ERROR_WINHTTP_INVALID_URL},
      {u"http://h\r\nX: y/", ERROR_WINHTTP_INVALID_URL},
      {u"http://[::1/", ERROR_WINHTTP_INVALID_URL},
      {u"http://u:p@/x", ERROR_WINHTTP_INVALID_URL},
  };
  for (const CrackRow& row : rows) {
    SCOPED_TRACE(Narrow(row.url));
    URL_COMPONENTS parts = AskForEverything();
    SetLastError(0xdeadbeef);
    const BOOL ok = WinHttpCrackUrl(row.url.c_str(), static_cast<DWORD>(row.url.size()), 0, &parts);
    if (row.error) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), row.error);
      EXPECT_EQ(parts.lpszHostName, nullptr);  // the record is left alone
      continue;
    }
    ASSERT_TRUE(ok) << GetLastError();
    EXPECT_EQ(parts.nScheme, row.scheme);
    EXPECT_EQ(parts.nPort, row.port);
    auto part = [](LPWSTR p, DWORD n) { return Narrow(std::u16string(p, n)); };
    EXPECT_EQ(part(parts.lpszHostName, parts.dwHostNameLength), row.host);
    EXPECT_EQ(part(parts.lpszUserName, parts.dwUserNameLength), row.user);
    EXPECT_EQ(part(parts.lpszPassword, parts.dwPasswordLength), row.password);
    EXPECT_EQ(part(parts.lpszUrlPath, parts.dwUrlPathLength), row.path);
    EXPECT_EQ(part(parts.lpszExtraInfo, parts.dwExtraInfoLength), row.extra);
    // Pointers point into the caller's address.
    EXPECT_GE(parts.lpszHostName, row.url.c_str());
    EXPECT_LE(parts.lpszExtraInfo + parts.dwExtraInfoLength, row.url.c_str() + row.url.size());
  }
}

TEST(WinHttpCrackUrl, LengthZeroMeansTerminatedAndOnlyAskedComponentsAreFilled) {
  const std::u16string url = u"https://u:p@host:444/path?q";
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  ASSERT_TRUE(WinHttpCrackUrl(url.c_str(), 0, 0, &parts));
  EXPECT_EQ(Narrow(std::u16string(parts.lpszHostName, parts.dwHostNameLength)), "host");
  EXPECT_EQ(parts.nPort, 444);
  EXPECT_EQ(parts.lpszUrlPath, nullptr);
  EXPECT_EQ(parts.dwUrlPathLength, 0u);
  EXPECT_EQ(parts.lpszUserName, nullptr);
  // A length shorter than the text cracks only that much.
  parts = AskForEverything();
  ASSERT_TRUE(WinHttpCrackUrl(url.c_str(), 21, 0, &parts));  // "https://u:p@host:444/"
  EXPECT_EQ(Narrow(std::u16string(parts.lpszUrlPath, parts.dwUrlPathLength)), "/");
  EXPECT_EQ(parts.dwExtraInfoLength, 0u);
}

TEST(WinHttpCrackUrl, CopiesIntoBuffersAndReportsTheSizeNeeded) {
  const std::u16string url = u"http://host/p%41th?x";
  char16_t host[5] = {};
  char16_t path[16] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 4;  // "host" needs 5 with the NUL
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 16;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WinHttpCrackUrl(url.c_str(), 0, 0, &parts));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(parts.dwHostNameLength, 5u);
  EXPECT_EQ(parts.lpszHostName, host);
  ASSERT_TRUE(WinHttpCrackUrl(url.c_str(), 0, ICU_DECODE, &parts));
  EXPECT_EQ(std::u16string(host), u"host");
  EXPECT_EQ(parts.dwHostNameLength, 4u);
  EXPECT_EQ(std::u16string(path), u"/pAth");
  EXPECT_EQ(parts.dwUrlPathLength, 5u);
}

TEST(WinHttpCrackUrl, RejectsBadArgumentsAndCredentialsWhenAsked) {
  URL_COMPONENTS parts = AskForEverything();
  const auto expect = [](BOOL ok, DWORD error) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), error);
  };
  expect(WinHttpCrackUrl(nullptr, 0, 0, &parts), ERROR_INVALID_PARAMETER);
  expect(WinHttpCrackUrl(u"http://h/", 0, 0, nullptr), ERROR_INVALID_PARAMETER);
  URL_COMPONENTS wrongSize = AskForEverything();
  wrongSize.dwStructSize = 60;
  expect(WinHttpCrackUrl(u"http://h/", 0, 0, &wrongSize), ERROR_INVALID_PARAMETER);
  expect(WinHttpCrackUrl(u"http://u:p@h/", 0, ICU_REJECT_USERPWD, &parts), ERROR_WINHTTP_INVALID_URL);
  EXPECT_TRUE(WinHttpCrackUrl(u"http://h/", 0, ICU_REJECT_USERPWD, &parts));
}

TEST(WinHttpModule, ExportsTheFifteenFunctionsWithTheirArgumentCounts) {
  const HMODULE module = LoadLibraryA("Winhttp.dll");
  ASSERT_NE(module, nullptr);
  const struct {
    const char* name;
    int arguments;
  } exports[] = {
      {"WinHttpAddRequestHeaders", 4}, {"WinHttpCheckPlatform", 0},      {"WinHttpCloseHandle", 1},
      {"WinHttpConnect", 4},           {"WinHttpCrackUrl", 4},           {"WinHttpOpen", 5},
      {"WinHttpOpenRequest", 7},       {"WinHttpQueryDataAvailable", 2}, {"WinHttpQueryHeaders", 6},
      {"WinHttpReadData", 4},          {"WinHttpReceiveResponse", 2},    {"WinHttpSendRequest", 7},
      {"WinHttpSetCredentials", 6},    {"WinHttpSetOption", 4},          {"WinHttpSetTimeouts", 5},
  };
  uint16_t ordinal = 0;
  for (const auto& e : exports) {
    SCOPED_TRACE(e.name);
    const auto procedure = LookupProcedure(module, e.name);
    ASSERT_TRUE(procedure.has_value());
    EXPECT_EQ(procedure->argumentCount, e.arguments);
    EXPECT_EQ(GetProcAddress(module, MakeOrdinalName(++ordinal)), procedure->address);
  }
  // Through the thunk: the platform check, and a crack whose words carry pointers and a DWORD.
  const auto check = LookupProcedure(module, "WinHttpCheckPlatform");
  EXPECT_EQ(CallProcedure(*check, {}), TRUE);
  const std::u16string url = u"https://h:9/p";
  URL_COMPONENTS parts = AskForEverything();
  const intptr_t words[] = {reinterpret_cast<intptr_t>(url.c_str()), static_cast<intptr_t>(url.size()), 0,
                            reinterpret_cast<intptr_t>(&parts)};
  EXPECT_EQ(CallProcedure(*LookupProcedure(module, "WinHttpCrackUrl"), words), TRUE);
  EXPECT_EQ(parts.nPort, 9);
  FreeLibrary(module);
}

}  // namespace
}  // namespace win
