// WinHttpCrackUrl, the escaping of object names, and the text conversions the service needs.
#include <algorithm>
#include <cstring>

#include "platform/codepage/codepage.h"
#include "platform/winhttp/winhttp_private.h"

namespace win {
namespace winhttp {

size_t WideLength(LPCWSTR text) {
  if (!text) return 0;
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

namespace {

// The next code point of a UTF-16 text; an unpaired surrogate reads as U+FFFD.
char32_t NextCodePoint(std::u16string_view text, size_t& i) {
  const char16_t unit = text[i++];
  if (unit >= 0xD800 && unit <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
    return 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{text[i++]} - 0xDC00);
  if (unit >= 0xD800 && unit <= 0xDFFF) return 0xFFFD;
  return unit;
}

void AppendUtf8(std::string& out, char32_t c) {
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

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string AnsiToUtf16(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(std::max(n, 0)), u'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscaped(std::string& out, unsigned char byte) {
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

// Bytes that can never appear as such in a request line: they would end it or split it.
bool IsUnsafeOnTheWire(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

// The characters the service escapes by default besides the unsafe ones.
bool IsEscapedByDefault(unsigned char byte) { return std::strchr("\"#<>[\\]^`{|}", byte) != nullptr && byte != 0; }

}  // namespace

std::string EscapeObjectName(std::u16string_view objectName, DWORD flags) {
  const std::string utf8 = Utf16ToUtf8(objectName);
  const size_t query = utf8.find('?');
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const bool inQuery = query != std::string::npos && i >= query;
    const bool minimal = (flags & WINHTTP_FLAG_ESCAPE_DISABLE) || (inQuery && (flags & WINHTTP_FLAG_ESCAPE_DISABLE_QUERY));
    bool escape = IsUnsafeOnTheWire(byte);
    if (!minimal)
      escape = escape || byte >= 0x80 || IsEscapedByDefault(byte) || (byte == '%' && (flags & WINHTTP_FLAG_ESCAPE_PERCENT));
    if (escape)
      AppendEscaped(out, byte);
    else
      out += static_cast<char>(byte);
  }
  return out;
}

namespace {

bool EqualsIgnoringCase(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t c = a[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<unsigned char>(b[i])) return false;
  }
  return true;
}

// One component's place in the address.
struct Span {
  size_t begin = 0;
  size_t length = 0;
};

struct Cracked {
  INTERNET_SCHEME scheme = 0;
  INTERNET_PORT port = 0;
  Span schemeName, user, password, host, path, extra;
  bool hasUser = false, hasPassword = false;
};

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Splits the address; 0 or the error.
DWORD Crack(std::u16string_view url, Cracked& out) {
  const size_t colon = url.find(u':');
  if (colon == std::u16string_view::npos) return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
  const std::u16string_view scheme = url.substr(0, colon);
  if (EqualsIgnoringCase(scheme, "http")) {
    out.scheme = INTERNET_SCHEME_HTTP;
    out.port = INTERNET_DEFAULT_HTTP_PORT;
  } else if (EqualsIgnoringCase(scheme, "https")) {
    out.scheme = INTERNET_SCHEME_HTTPS;
    out.port = INTERNET_DEFAULT_HTTPS_PORT;
  } else {
    return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
  }
  out.schemeName = {0, colon};
  if (url.substr(colon + 1, 2) != u"//") return ERROR_WINHTTP_INVALID_URL;

  const size_t authorityBegin = colon + 3;
  size_t authorityEnd = url.find_first_of(u"/?#", authorityBegin);
  if (authorityEnd == std::u16string_view::npos) authorityEnd = url.size();
  const std::u16string_view authority = url.substr(authorityBegin, authorityEnd - authorityBegin);

  // user:password@ before the host; the last '@' ends it, as a password may hold one.
  size_t hostBegin = authorityBegin;
  const size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) {
    const std::u16string_view userInfo = authority.substr(0, at);
    const size_t separator = userInfo.find(u':');
    out.hasUser = true;
    out.user = {authorityBegin, separator == std::u16string_view::npos ? userInfo.size() : separator};
    if (separator != std::u16string_view::npos) {
      out.hasPassword = true;
      out.password = {authorityBegin + separator + 1, userInfo.size() - separator - 1};
    }
    hostBegin = authorityBegin + at + 1;
  }

  // Host, with an IPv6 literal in brackets, then an optional port.
  const std::u16string_view hostAndPort = url.substr(hostBegin, authorityEnd - hostBegin);
  size_t hostLength = hostAndPort.size();
  size_t portColon = std::u16string_view::npos;
  if (!hostAndPort.empty() && hostAndPort[0] == u'[') {
    const size_t close = hostAndPort.find(u']');
    if (close == std::u16string_view::npos) return ERROR_WINHTTP_INVALID_URL;
    hostLength = close + 1;
    if (hostLength < hostAndPort.size()) {
      if (hostAndPort[hostLength] != u':') return ERROR_WINHTTP_INVALID_URL;
      portColon = hostLength;
    }
  } else {
    portColon = hostAndPort.find(u':');
    if (portColon != std::u16string_view::npos) hostLength = portColon;
  }
  if (hostLength == 0) return ERROR_WINHTTP_INVALID_URL;
  for (size_t i = 0; i < hostLength; ++i) {
    const char16_t c = hostAndPort[i];
    if (c <= 0x20 || c == 0x7F || c == u'\\' || c == u'@') return ERROR_WINHTTP_INVALID_URL;
  }
  out.host = {hostBegin, hostLength};
  if (portColon != std::u16string_view::npos) {
    const std::u16string_view digits = hostAndPort.substr(portColon + 1);
    // ":" with no digits keeps the scheme's default port.
    if (!digits.empty()) {
      uint32_t port = 0;
      for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return ERROR_WINHTTP_INVALID_URL;
        port = port * 10 + (c - u'0');
        if (port > 65535) return ERROR_WINHTTP_INVALID_URL;
      }
      out.port = static_cast<INTERNET_PORT>(port);
    }
  }

  // Path up to the extra information, which runs from the first '?' or '#' to the end.
  size_t extraBegin = url.find_first_of(u"?#", authorityEnd);
  if (extraBegin == std::u16string_view::npos) extraBegin = url.size();
  out.path = {authorityEnd, extraBegin - authorityEnd};
  out.extra = {extraBegin, url.size() - extraBegin};
  return 0;
}

// Hands one component to the caller as the record asks: a pointer into the address, or a copy into
// the caller's buffer. 0 or the error.
DWORD Deliver(LPCWSTR url, Span span, DWORD flags, bool escapeAllowed, LPWSTR& pointer, DWORD& length) {
  if (length == 0) return 0;
  if (!pointer) {
    if (flags & (ICU_DECODE | ICU_ESCAPE)) return ERROR_INVALID_PARAMETER;
    pointer = const_cast<LPWSTR>(url + span.begin);
    length = static_cast<DWORD>(span.length);
    return 0;
  }
  std::u16string value(url + span.begin, span.length);
  if ((flags & ICU_ESCAPE) && escapeAllowed) {
    const std::string escaped = EscapeObjectName(value, 0);
    value.assign(escaped.begin(), escaped.end());
  } else if (flags & ICU_DECODE) {
    std::u16string decoded;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == u'%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 && HexValue(value[i + 2]) >= 0) {
        decoded += static_cast<char16_t>(HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]));
        i += 2;
      } else {
        decoded += value[i];
      }
    }
    value = std::move(decoded);
  }
  if (length <= value.size()) {
    length = static_cast<DWORD>(value.size() + 1);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::copy(value.begin(), value.end(), pointer);
  pointer[value.size()] = u'\0';
  length = static_cast<DWORD>(value.size());
  return 0;
}

}  // namespace
}  // namespace winhttp

BOOL WinHttpCrackUrl(LPCWSTR url, DWORD urlLength, DWORD flags, URL_COMPONENTS* components) {
  using namespace winhttp;
  if (!url || !components || components->dwStructSize != sizeof(URL_COMPONENTS))
    return Fail(ERROR_INVALID_PARAMETER);
  if (flags & ~(ICU_ESCAPE | ICU_DECODE | ICU_REJECT_USERPWD)) return Fail(ERROR_INVALID_PARAMETER);
  const std::u16string_view address(url, urlLength == 0 ? WideLength(url) : urlLength);
  Cracked cracked;
  if (const DWORD error = Crack(address, cracked)) return Fail(error);
  if ((flags & ICU_REJECT_USERPWD) && (cracked.hasUser || cracked.hasPassword)) return Fail(ERROR_WINHTTP_INVALID_URL);

  // Work on a copy so that a failure leaves the caller's record as it was.
  URL_COMPONENTS result = *components;
  result.nScheme = cracked.scheme;
  result.nPort = cracked.port;
  const struct {
    Span span;
    LPWSTR& pointer;
    DWORD& length;
    bool escape;
  } parts[] = {
      {cracked.schemeName, result.lpszScheme, result.dwSchemeLength, false},
      {cracked.host, result.lpszHostName, result.dwHostNameLength, false},
      {cracked.user, result.lpszUserName, result.dwUserNameLength, false},
      {cracked.password, result.lpszPassword, result.dwPasswordLength, false},
      {cracked.path, result.lpszUrlPath, result.dwUrlPathLength, true},
      {cracked.extra, result.lpszExtraInfo, result.dwExtraInfoLength, true},
  };
  DWORD error = 0;
  for (const auto& part : parts) {
    const DWORD partError = Deliver(url, part.span, flags, part.escape, part.pointer, part.length);
    if (partError == ERROR_INVALID_PARAMETER) return Fail(partError);
    if (partError && !error) error = partError;
  }
  if (error) {
    // Too small buffers report the sizes they need; nothing else changes.
    components->dwSchemeLength = result.dwSchemeLength;
    components->dwHostNameLength = result.dwHostNameLength;
    components->dwUserNameLength = result.dwUserNameLength;
    components->dwPasswordLength = result.dwPasswordLength;
    components->dwUrlPathLength = result.dwUrlPathLength;
    components->dwExtraInfoLength = result.dwExtraInfoLength;
    return Fail(error);
  }
  *components = result;
  return TRUE;
}

}  // namespace win
