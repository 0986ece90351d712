#include "winhttp_support.h"

#include <vector>

namespace win::test {

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Outcome Perform(const Exchange& x) {
  Outcome out;
  HINTERNET session = nullptr, connection = nullptr, request = nullptr;
  auto fail = [&](const char* step) {
    out.failedStep = step;
    out.error = GetLastError();
  };
  [&] {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(x.url.c_str(), static_cast<DWORD>(x.url.size()), 0, &parts)) return fail("crack");
    const std::u16string host(parts.lpszHostName, parts.dwHostNameLength);
    std::u16string object = std::u16string(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::u16string(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (parts.dwUrlPathLength < 1) object = u"/";
    session = WinHttpOpen(nullptr, x.proxy.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                          x.proxy.c_str(), nullptr, 0);
    if (!session) return fail("open");
    if (x.timeout && !WinHttpSetTimeouts(session, x.timeout, x.timeout, x.timeout, x.timeout)) return fail("timeouts");
    connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
    if (!connection) return fail("connect");
    request = WinHttpOpenRequest(connection, x.verb.c_str(), object.c_str(), nullptr, nullptr, nullptr,
                                 parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    if (!request) return fail("open request");
    if (!x.serverUser.empty() && !WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                                                         x.serverUser.c_str(), x.serverPassword.c_str(), nullptr))
      return fail("server credentials");
    if (!x.proxyUser.empty() && !WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                                                        x.proxyUser.c_str(), x.proxyPassword.c_str(), nullptr))
      return fail("proxy credentials");
    DWORD value = x.securityFlags;
    if (value && !WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &value, sizeof value))
      return fail("security flags");
    value = WINHTTP_DISABLE_COOKIES;
    if (x.disableCookies && !WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value))
      return fail("cookies");
    value = WINHTTP_DISABLE_REDIRECTS;
    if (x.disableRedirects && !WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value))
      return fail("redirects");
    if (!x.headers.empty() && !WinHttpAddRequestHeaders(request, x.headers.c_str(), static_cast<DWORD>(x.headers.size()),
                                                         WINHTTP_ADDREQ_FLAG_ADD))
      return fail("headers");
    std::string body = x.body;
    if (!WinHttpSendRequest(request, nullptr, 0, body.empty() ? nullptr : body.data(), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), 0))
      return fail("send");
    if (!WinHttpReceiveResponse(request, nullptr)) return fail("receive");
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) return fail("available");
      if (available == 0) break;
      std::vector<char> chunk(available);
      DWORD read = 0;
      if (!WinHttpReadData(request, chunk.data(), available, &read)) return fail("read");
      if (read > 0) ++out.reads;
      out.body.append(chunk.data(), read);
    }
    DWORD size = 0;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return fail("header size");
    std::u16string headers(size / 2, u'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, headers.data(), &size, nullptr))
      return fail("headers query");
    headers.resize(size / 2);
    out.headers = Narrow(headers);
  }();
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  return out;
}

}  // namespace win::test
