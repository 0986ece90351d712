// The request calls: WinHttpAddRequestHeaders, WinHttpSendRequest, WinHttpReceiveResponse (with the
// automatic redirects), WinHttpQueryDataAvailable, WinHttpReadData and WinHttpQueryHeaders.
#include <algorithm>
#include <cstring>

#include "platform/winhttp/winhttp_private.h"

namespace win {
namespace winhttp {

Request::~Request() = default;

namespace {

bool EqualNames(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsTokenCharacter(unsigned char c) { return c > 0x20 && c < 0x7F && !std::strchr("()<>@,;:\\\"/[]?={}", c); }

// Splits a header block into name/value pairs. Lines end at CR, LF or CR LF, so a lone CR or LF can
// never reach the wire inside a value; empty lines are skipped. A line without a colon, with an
// empty or malformed name, or starting with white space (an obsolete continuation) fails the whole
// block with ERROR_WINHTTP_INVALID_HEADER.
DWORD ParseHeaderBlock(std::u16string_view block, std::vector<std::pair<std::string, std::string>>& out) {
  size_t i = 0;
  while (i < block.size()) {
    size_t end = block.find_first_of(u"\r\n", i);
    if (end == std::u16string_view::npos) end = block.size();
    const std::u16string_view line = block.substr(i, end - i);
    i = end + 1;
    if (end < block.size() && block[end] == u'\r' && i < block.size() && block[i] == u'\n') ++i;
    if (line.empty()) continue;
    const size_t colon = line.find(u':');
    if (colon == std::u16string_view::npos || colon == 0) return ERROR_WINHTTP_INVALID_HEADER;
    const std::string name = Utf16ToAnsi(line.substr(0, colon));
    if (!std::all_of(name.begin(), name.end(), [](char c) { return IsTokenCharacter(static_cast<unsigned char>(c)); }))
      return ERROR_WINHTTP_INVALID_HEADER;
    std::u16string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == u' ' || value.front() == u'\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == u' ' || value.back() == u'\t')) value.remove_suffix(1);
    std::string bytes = Utf16ToAnsi(value);
    if (std::find(bytes.begin(), bytes.end(), '\0') != bytes.end()) return ERROR_WINHTTP_INVALID_HEADER;
    out.emplace_back(name, std::move(bytes));
  }
  return 0;
}

DWORD AddHeaders(Request& request, std::u16string_view block, DWORD modifiers) {
  std::vector<std::pair<std::string, std::string>> parsed;
  if (const DWORD error = ParseHeaderBlock(block, parsed)) return error;
  auto& headers = request.headers;
  auto find = [&](const std::string& name) {
    return std::find_if(headers.begin(), headers.end(), [&](const auto& h) { return EqualNames(h.first, name); });
  };
  // Check everything first so that a failing block changes nothing.
  for (const auto& [name, value] : parsed) {
    if ((modifiers & WINHTTP_ADDREQ_FLAG_ADD_IF_NEW) && find(name) != headers.end())
      return ERROR_WINHTTP_HEADER_ALREADY_EXISTS;
    if ((modifiers & WINHTTP_ADDREQ_FLAG_REPLACE) && !(modifiers & WINHTTP_ADDREQ_FLAG_ADD) &&
        find(name) == headers.end())
      return ERROR_WINHTTP_HEADER_NOT_FOUND;
  }
  for (auto& [name, value] : parsed) {
    const auto existing = find(name);
    if (modifiers & WINHTTP_ADDREQ_FLAG_REPLACE) {
      if (existing != headers.end()) {
        if (value.empty())
          headers.erase(existing);
        else
          existing->second = std::move(value);
        continue;
      }
      if (value.empty()) continue;
    } else if ((modifiers & (WINHTTP_ADDREQ_FLAG_COALESCE_WITH_COMMA | WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON)) &&
               existing != headers.end()) {
      existing->second += (modifiers & WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON) ? "; " : ", ";
      existing->second += value;
      continue;
    }
    headers.emplace_back(std::move(name), std::move(value));
  }
  return 0;
}

std::string CurrentOrigin(const std::string& url) {
  const size_t start = url.find("://");
  if (start == std::string::npos) return url;
  const size_t end = url.find_first_of("/?#", start + 3);
  std::string origin = url.substr(0, end);
  std::transform(origin.begin(), origin.end(), origin.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return origin;
}

bool IsSecureUrl(const std::string& url) { return url.compare(0, 8, "https://") == 0 || url.compare(0, 8, "HTTPS://") == 0; }

// The proxy of a named proxy list for a scheme: entries are separated by ';' or white space, each
// "[scheme=][scheme://]host[:port]"; an entry for the scheme wins over one without a scheme.
std::string ProxyFor(const std::string& list, bool secure) {
  const std::string wanted = secure ? "https" : "http";
  std::string generic, specific;
  size_t i = 0;
  while (i < list.size()) {
    size_t end = list.find_first_of("; \t", i);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(i, end - i);
    i = end + 1;
    if (entry.empty()) continue;
    std::string scheme;
    const size_t equals = entry.find('=');
    if (equals != std::string::npos) {
      scheme = entry.substr(0, equals);
      entry.erase(0, equals + 1);
    }
    const size_t slashes = entry.find("://");
    if (slashes != std::string::npos) entry.erase(0, slashes + 3);
    if (entry.empty()) continue;
    if (scheme.empty()) {
      if (generic.empty()) generic = entry;
    } else if (EqualNames(scheme, wanted) && specific.empty()) {
      specific = entry;
    }
  }
  return specific.empty() ? generic : specific;
}

std::string BaseUrl(const Request& request) {
  const Connection& connection = *request.connection;
  std::string host = connection.host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  INTERNET_PORT port = connection.port;
  if (port == INTERNET_DEFAULT_PORT) port = request.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  return (request.secure ? "https://" : "http://") + host + ":" + std::to_string(port) + request.objectName;
}

}  // namespace

namespace {

// The transfer of the request's current hop.
TransferSetup MakeSetup(const Request& request) {
  const Session& session = *request.connection->session;
  TransferSetup setup;
  setup.url = request.url;
  setup.verb = request.currentVerb;
  setup.head = EqualNames(request.currentVerb, "HEAD");
  const bool hasBody = request.sendBody && !request.body.empty() && !setup.head;
  if (hasBody) setup.body = &request.body;

  // The lines after Host: the connection's keep-alive, the agent, the caller's lines, the length.
  auto callerHas = [&](std::string_view name) {
    return std::any_of(request.headers.begin(), request.headers.end(),
                       [&](const auto& h) { return EqualNames(h.first, name); });
  };
  if (!callerHas("Connection") && !(request.disabledFeatures & WINHTTP_DISABLE_KEEP_ALIVE))
    setup.headerLines.push_back("Connection: Keep-Alive");
  if (!session.agent.empty() && !callerHas("User-Agent")) setup.headerLines.push_back("User-Agent: " + session.agent);
  const bool sameOrigin = CurrentOrigin(request.url) == request.origin;
  for (const auto& [name, value] : request.headers) {
    // The length is the service's to state: a caller's own could not match what is sent. A
    // caller's Host names the first server only; after a redirect elsewhere the new one is named.
    if (EqualNames(name, "Content-Length") || (!sameOrigin && EqualNames(name, "Host"))) continue;
    setup.headerLines.push_back(name + ": " + value);
  }
  if (hasBody)
    setup.headerLines.push_back("Content-Length: " + std::to_string(request.body.size()));
  else if (!setup.head && (EqualNames(request.currentVerb, "POST") || EqualNames(request.currentVerb, "PUT")))
    setup.headerLines.push_back("Content-Length: 0");

  const bool secure = IsSecureUrl(request.url);
  setup.proxy = ProxyFor(session.proxyList, secure);
  // Credentials go only to the origin they were given for, never to where a redirect points.
  if (sameOrigin && !(request.disabledFeatures & WINHTTP_DISABLE_AUTHENTICATION))
    setup.server = request.server;
  setup.proxyCredentials = request.proxy;
  setup.securityFlags = request.securityFlags;
  setup.cookies = !(request.disabledFeatures & WINHTTP_DISABLE_COOKIES);
  setup.session = session.data;
  setup.timeouts = request.timeouts;
  return setup;
}

DWORD StartHop(Request& request) {
  request.transfer.reset();
  DWORD error = 0;
  request.transfer = Transfer::Create(MakeSetup(request), &error);
  if (!error) error = request.transfer->WaitSent();
  if (error) request.transfer.reset();
  return error;
}

// The value of the first header line with that name in a response header block.
bool FindResponseHeader(const std::string& block, std::string_view name, DWORD occurrence, std::string& value) {
  size_t i = block.find("\r\n");  // the status line is not a header
  while (i != std::string::npos && i + 2 < block.size()) {
    const size_t start = i + 2;
    const size_t end = block.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    const std::string_view line(block.data() + start, end - start);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualNames(line.substr(0, colon), name) && occurrence-- == 0) {
      std::string_view v = line.substr(colon + 1);
      while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
      while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
      value.assign(v);
      return true;
    }
    i = end;
  }
  return false;
}

bool IsFollowedRedirect(int status) { return (status >= 300 && status <= 303) || status == 307 || status == 308; }

// Follows the redirects of the current response as the service does. 0 with the final response in
// place, or the error.
DWORD FollowRedirects(Request& request) {
  for (;;) {
    if (const DWORD error = request.transfer->WaitHeaders()) return error;
    const int status = request.transfer->StatusCode();
    if ((request.disabledFeatures & WINHTTP_DISABLE_REDIRECTS) || !IsFollowedRedirect(status)) return 0;
    std::string location;
    if (!FindResponseHeader(request.transfer->HeaderBlock(), "Location", 0, location) || location.empty()) return 0;
    const std::string next = ResolveLocation(request.url, location);
    if (next.empty()) return ERROR_WINHTTP_REDIRECT_FAILED;
    const bool nextSecure = next.compare(0, 8, "https://") == 0;
    // Only http and https are followed, and never from a secure address to a plain one: the
    // redirect response itself is the answer then.
    if (!nextSecure && next.compare(0, 7, "http://") != 0) return 0;
    if (IsSecureUrl(request.url) && !nextSecure) return 0;
    if (++request.hops > request.maxRedirects) return ERROR_WINHTTP_REDIRECT_FAILED;
    // 300 to 303 turn a POST into a GET without body; 307 and 308 repeat the method and body.
    if (status <= 303 && EqualNames(request.currentVerb, "POST")) {
      request.currentVerb = "GET";
      request.sendBody = false;
    }
    request.url = next;
    if (const DWORD error = StartHop(request)) return error;
  }
}

// The response text of one query: a header value, the status line's parts or the whole block.
DWORD QueryResponseText(const Request& request, DWORD level, LPCWSTR name, DWORD* index, std::string& out) {
  const std::string& block = request.responseHeaders;
  const size_t statusEnd = block.find("\r\n");
  const std::string_view statusLine(block.data(), statusEnd == std::string::npos ? block.size() : statusEnd);
  const size_t firstSpace = statusLine.find(' ');
  const size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : statusLine.find(' ', firstSpace + 1);
  switch (level) {
    case WINHTTP_QUERY_RAW_HEADERS_CRLF:
      out = block;
      return 0;
    case WINHTTP_QUERY_RAW_HEADERS: {
      // NUL after each line, one more at the end (the terminating NUL added by the caller's copy).
      out.clear();
      size_t i = 0;
      while (i < block.size()) {
        const size_t end = block.find("\r\n", i);
        if (end == std::string::npos || end == i) break;
        out.append(block, i, end - i);
        out += '\0';
        i = end + 2;
      }
      return 0;
    }
    case WINHTTP_QUERY_VERSION:
      out.assign(statusLine.substr(0, firstSpace));
      return 0;
    case WINHTTP_QUERY_STATUS_CODE:
      if (firstSpace == std::string_view::npos) return ERROR_WINHTTP_HEADER_NOT_FOUND;
      out.assign(statusLine.substr(firstSpace + 1, secondSpace == std::string_view::npos
                                                       ? std::string_view::npos
                                                       : secondSpace - firstSpace - 1));
      return 0;
    case WINHTTP_QUERY_STATUS_TEXT:
      out = secondSpace == std::string_view::npos ? std::string() : std::string(statusLine.substr(secondSpace + 1));
      return 0;
    default:
      break;
  }
  std::string headerName;
  switch (level) {
    case WINHTTP_QUERY_CONTENT_TYPE: headerName = "Content-Type"; break;
    case WINHTTP_QUERY_CONTENT_LENGTH: headerName = "Content-Length"; break;
    case WINHTTP_QUERY_CONTENT_ENCODING: headerName = "Content-Encoding"; break;
    case WINHTTP_QUERY_LOCATION: headerName = "Location"; break;
    case WINHTTP_QUERY_SET_COOKIE: headerName = "Set-Cookie"; break;
    case WINHTTP_QUERY_TRANSFER_ENCODING: headerName = "Transfer-Encoding"; break;
    case WINHTTP_QUERY_CUSTOM:
      if (WideLength(name) == 0) return ERROR_INVALID_PARAMETER;
      headerName = Utf16ToAnsi(name);
      break;
    default:
      return ERROR_WINHTTP_INVALID_QUERY_REQUEST;
  }
  const DWORD occurrence = index ? *index : 0;
  if (!FindResponseHeader(block, headerName, occurrence, out)) return ERROR_WINHTTP_HEADER_NOT_FOUND;
  if (index) *index = occurrence + 1;
  return 0;
}

}  // namespace
}  // namespace winhttp

using namespace winhttp;

BOOL WinHttpAddRequestHeaders(HINTERNET handle, LPCWSTR headers, DWORD headersLength, DWORD modifiers) {
  auto request = FindHandleOf<Request>(handle, ObjectKind::Request);
  if (!request) return FALSE;
  if (!headers) return Fail(ERROR_INVALID_PARAMETER);
  const size_t length = headersLength == static_cast<DWORD>(-1) ? WideLength(headers) : headersLength;
  if (const DWORD error = AddHeaders(*request, std::u16string_view(headers, length), modifiers)) return Fail(error);
  return TRUE;
}

BOOL WinHttpSendRequest(HINTERNET handle, LPCWSTR headers, DWORD headersLength, void* optional,
                        DWORD optionalLength, DWORD totalLength, uintptr_t context) {
  auto request = FindHandleOf<Request>(handle, ObjectKind::Request);
  if (!request) return FALSE;
  if ((optionalLength && !optional) || (headersLength && !headers)) return Fail(ERROR_INVALID_PARAMETER);
  // A total beyond the optional data would be written later with WinHttpWriteData, which this
  // service does not offer: the body is always the optional data.
  if (totalLength != optionalLength) return Fail(ERROR_INVALID_PARAMETER);
  if (headers && headersLength) {
    const size_t length = headersLength == static_cast<DWORD>(-1) ? WideLength(headers) : headersLength;
    if (const DWORD error = AddHeaders(*request, std::u16string_view(headers, length), WINHTTP_ADDREQ_FLAG_ADD))
      return Fail(error);
  }
  request->transfer.reset();
  request->responseHeaders.clear();
  // The body is kept with the request: a 307 or 308 sends it again after this call returned.
  request->body.assign(static_cast<const char*>(optional), optionalLength);
  request->url = BaseUrl(*request);
  request->origin = CurrentOrigin(request->url);
  request->currentVerb = request->verb;
  request->sendBody = true;
  request->hops = 0;
  if (const DWORD error = StartHop(*request)) {
    request->state = Request::State::Failed;
    return Fail(error);
  }
  request->state = Request::State::Sent;
  return TRUE;
}

BOOL WinHttpReceiveResponse(HINTERNET handle, void* reserved) {
  auto request = FindHandleOf<Request>(handle, ObjectKind::Request);
  if (!request) return FALSE;
  if (reserved) return Fail(ERROR_INVALID_PARAMETER);
  if (request->state != Request::State::Sent) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (const DWORD error = FollowRedirects(*request)) {
    request->transfer.reset();
    request->state = Request::State::Failed;
    return Fail(error);
  }
  request->responseHeaders = request->transfer->HeaderBlock();
  request->state = Request::State::Received;
  return TRUE;
}

BOOL WinHttpQueryDataAvailable(HINTERNET handle, DWORD* bytesAvailable) {
  auto request = FindHandleOf<Request>(handle, ObjectKind::Request);
  if (!request) return FALSE;
  if (request->state != Request::State::Received) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  DWORD error = 0;
  const size_t ready = request->transfer->WaitData(&error);
  if (error) return Fail(error);
  if (bytesAvailable) *bytesAvailable = static_cast<DWORD>(std::min<size_t>(ready, 0xFFFFFFFFu));
  return TRUE;
}

BOOL WinHttpReadData(HINTERNET handle, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
  auto request = FindHandleOf<Request>(handle, ObjectKind::Request);
  if (!request) return FALSE;
  if (!bytesRead || (bytesToRead && !buffer)) return Fail(ERROR_INVALID_PARAMETER);
  if (request->state != Request::State::Received) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  *bytesRead = 0;
  if (bytesToRead == 0) return TRUE;
  DWORD error = 0;
  if (request->transfer->WaitData(&error) == 0) return error ? Fail(error) : TRUE;
  *bytesRead = static_cast<DWORD>(request->transfer->Take(buffer, bytesToRead));
  return TRUE;
}

BOOL WinHttpQueryHeaders(HINTERNET handle, DWORD infoLevel, LPCWSTR name, void* buffer, DWORD* bufferLength,
                         DWORD* index) {
  auto request = FindHandleOf<Request>(handle, ObjectKind::Request);
  if (!request) return FALSE;
  if (!bufferLength) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD level = infoLevel & 0xFFFF;
  std::string text;
  if (infoLevel & WINHTTP_QUERY_FLAG_REQUEST_HEADERS) {
    if (level != WINHTTP_QUERY_CUSTOM || WideLength(name) == 0) return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
    const std::string wanted = Utf16ToAnsi(name);
    DWORD occurrence = index ? *index : 0;
    const auto found = std::find_if(request->headers.begin(), request->headers.end(),
                                    [&](const auto& h) { return EqualNames(h.first, wanted) && occurrence-- == 0; });
    if (found == request->headers.end()) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    text = found->second;
    if (index) ++*index;
  } else {
    if (request->state != Request::State::Received) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (const DWORD error = QueryResponseText(*request, level, name, index, text)) return Fail(error);
  }
  if (infoLevel & WINHTTP_QUERY_FLAG_NUMBER) {
    DWORD number = 0;
    size_t i = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') number = number * 10 + (text[i++] - '0');
    if (i == 0) return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
    if (!buffer || *bufferLength < sizeof(DWORD)) {
      *bufferLength = sizeof(DWORD);
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, &number, sizeof number);
    *bufferLength = sizeof(DWORD);
    return TRUE;
  }
  const std::u16string wide = AnsiToUtf16(text);
  const size_t needed = (wide.size() + 1) * sizeof(char16_t);
  if (!buffer || *bufferLength < needed) {
    *bufferLength = static_cast<DWORD>(needed);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, wide.data(), wide.size() * sizeof(char16_t));
  static_cast<char16_t*>(buffer)[wide.size()] = u'\0';
  *bufferLength = static_cast<DWORD>(wide.size() * sizeof(char16_t));
  return TRUE;
}

}  // namespace win
