#include "http/web_request.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "http/code_pages.h"
#include "http/cookies.h"
#include "http/dll_indices.h"
#include "http/request_headers.h"
#include "http/response_text.h"
#include "regex/regex_object.h"
#include "runtime/commands/command_front.h"
#include "runtime/dll/dll_commands.h"
#include "runtime/errors.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

namespace {

using Handle = void*;

// URL_COMPONENTS as WinHttpCrackUrl fills it. A length of -1 with a null pointer asks for a
// pointer into the address and the component's length in characters.
struct UrlComponents {
  uint32_t structSize = sizeof(UrlComponents);
  char16_t* scheme = nullptr;
  uint32_t schemeLength = UINT32_MAX;
  int32_t schemeNumber = 0;
  char16_t* hostName = nullptr;
  uint32_t hostNameLength = UINT32_MAX;
  uint16_t port = 0;
  char16_t* userName = nullptr;
  uint32_t userNameLength = UINT32_MAX;
  char16_t* password = nullptr;
  uint32_t passwordLength = UINT32_MAX;
  char16_t* urlPath = nullptr;
  uint32_t urlPathLength = UINT32_MAX;
  char16_t* extraInfo = nullptr;
  uint32_t extraInfoLength = UINT32_MAX;
};
static_assert(sizeof(UrlComponents) == 104, "the 64-bit layout of URL_COMPONENTS");

// WinHttp's values as the routine passes them.
constexpr int32_t kSchemeHttps = 2;
constexpr uint32_t kAccessNoProxy = 1;
constexpr uint32_t kAccessNamedProxy = 3;
constexpr uint32_t kOpenRequestSecure = 0x800000;
constexpr uint32_t kAuthTargetServer = 0;
constexpr uint32_t kAuthTargetProxy = 1;
constexpr uint32_t kAuthSchemeBasic = 1;
constexpr uint32_t kOptionSecurityFlags = 31;
// Unknown authority 0x100, wrong usage 0x200, common-name mismatch 0x1000, date 0x2000: any server
// certificate is accepted.
constexpr uint32_t kIgnoreCertificateErrors = 0x3300;
constexpr uint32_t kOptionDisableFeature = 63;
// With value 1 this is the certificate-revocation check, set when the caller sends cookies, which
// leaves the service's own cookie handling as it is.
constexpr uint32_t kOptionEnableFeature = 79;
constexpr uint32_t kFeatureCookies = 1;
constexpr uint32_t kFeatureRedirects = 2;
constexpr uint32_t kAddHeaders = 0x20000000;
constexpr uint32_t kQueryRawHeadersCrlf = 22;

constexpr const char* kVerbs[] = {"GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};

bool Succeeded(intptr_t result) { return static_cast<int32_t>(result) != 0; }
Handle AsHandle(intptr_t result) { return reinterpret_cast<Handle>(result); }

// A UTF-16 text for a call: the units of a byte set from GbkToUtf16, or "" for an empty one.
const char16_t* Wide(const OwnedByteSet& set) {
  return set.empty() ? u"" : reinterpret_cast<const char16_t*>(set.data());
}
unsigned char* MutableData(OwnedByteSet& set) { return const_cast<unsigned char*>(set.data()); }

// The three handles of a request, closed in the order request, connection, session when the
// routine ends, whether or not they were opened.
struct RequestHandles {
  Handle session = nullptr;
  Handle connection = nullptr;
  Handle request = nullptr;
  RequestHandles() = default;
  RequestHandles(const RequestHandles&) = delete;
  RequestHandles& operator=(const RequestHandles&) = delete;
  ~RequestHandles() {
    for (Handle handle : {request, connection, session}) CallDllCommand(http_dll::kWinHttpCloseHandle, {handle});
  }
};

// The body as it is read: one runtime byte-set block that grows geometrically, so that a long run
// of chunks costs amortised constant time per byte, and that is handed over without a copy.
class BodyBuffer {
 public:
  BodyBuffer() = default;
  BodyBuffer(const BodyBuffer&) = delete;
  BodyBuffer& operator=(const BodyBuffer&) = delete;
  ~BodyBuffer() { RuntimeFree(m_block); }

  // n zero bytes after the body to read into, or null when the body would outgrow what a byte set
  // can hold (its length is a 32-bit number).
  unsigned char* Reserve(uint32_t n) {
    const uint64_t need = kByteSetHeader + m_size + uint64_t{n};
    if (need > kMaxBlock) return nullptr;
    if (need > m_capacity) {
      m_capacity = std::min<uint64_t>(std::max<uint64_t>(need, m_capacity * 2), kMaxBlock);
      m_block = static_cast<unsigned char*>(RuntimeRealloc(m_block, static_cast<int32_t>(m_capacity)));
    }
    unsigned char* space = m_block + kByteSetHeader + m_size;
    std::memset(space, 0, n);
    return space;
  }
  // The first n reserved bytes now belong to the body.
  void Commit(uint32_t n) { m_size += n; }

  // The body as a byte set block of its exact size.
  OwnedByteSet Take() {
    if (m_size == 0) return {};
    unsigned char* block =
        static_cast<unsigned char*>(RuntimeRealloc(m_block, static_cast<int32_t>(kByteSetHeader + m_size)));
    m_block = nullptr;
    m_capacity = 0;
    WriteInt32(block, 1);
    WriteInt32(block + 4, static_cast<int32_t>(m_size));
    m_size = 0;
    return OwnedByteSet::Adopt(block);
  }

 private:
  static constexpr uint64_t kMaxBlock = INT32_MAX;
  unsigned char* m_block = nullptr;
  uint64_t m_capacity = 0;
  uint64_t m_size = 0;
};

// The object name to request: the path followed by the query string, or "/" without a path.
std::u16string ObjectName(const UrlComponents& parts) {
  if (parts.urlPathLength < 1 || parts.urlPath == nullptr) return u"/";
  std::u16string name(parts.urlPath, parts.urlPathLength);
  if (parts.extraInfo != nullptr) name.append(parts.extraInfo, parts.extraInfoLength);
  return name;
}

bool SetCredentials(Handle request, uint32_t target, const char* user, const char* password) {
  const OwnedByteSet wideUser = GbkToUtf16(user);
  const OwnedByteSet widePassword = GbkToUtf16(password);
  return Succeeded(CallDllCommand(http_dll::kWinHttpSetCredentials,
                                  {request, target, kAuthSchemeBasic, Wide(wideUser), Wide(widePassword), nullptr}));
}

bool SetOption(Handle request, uint32_t option, uint32_t value) {
  return Succeeded(CallDllCommand(http_dll::kWinHttpSetOption, {request, option, &value, sizeof value}));
}

bool Given(const char* text) { return text != nullptr && *text != '\0'; }

// The status text is the status line from byte 10 on: the code and the reason phrase.
constexpr int32_t kStatusStart = 10;
constexpr const char* kLocationPrefix = "Location: ";
constexpr int32_t kLocationPrefixLength = 10;

}  // namespace

OwnedText WebRequest(const char* url, const WebRequestArguments& a) {
  const bool mergeCookies = a.mergeCookies.value_or(true);
  const bool completeHeaders = a.completeHeaders.value_or(true);
  const bool normaliseHeaderNames = a.normaliseHeaderNames.value_or(true);

  // Outputs the caller left out are written to the routine's own variables.
  OwnedText ownSendCookies, ownReceivedCookies, ownResponseHeaders, ownLocation, ownStatusText;
  OwnedByteSet ownResponseBytes;
  OwnedText& sendCookies = a.sendCookies ? *a.sendCookies : ownSendCookies;
  OwnedText& receivedCookies = a.receivedCookies ? *a.receivedCookies : ownReceivedCookies;
  OwnedText& responseHeaders = a.responseHeaders ? *a.responseHeaders : ownResponseHeaders;
  OwnedText& location = a.location ? *a.location : ownLocation;
  OwnedText& statusText = a.statusText ? *a.statusText : ownStatusText;
  OwnedByteSet& responseBytes = a.responseBytes ? *a.responseBytes : ownResponseBytes;

  RegexObject regex;
  RequestHandles handles;
  auto fail = [&](const char* message) {
    statusText = OwnedText::Copy(message);
    return OwnedText();
  };

  if (!Succeeded(CallDllCommand(http_dll::kWinHttpCheckPlatform, {}))) return fail(web_status::kNoPlatform);

  const OwnedByteSet wideUrl = GbkToUtf16(url);
  UrlComponents parts;
  const uint32_t urlUnits = wideUrl.empty() ? 0 : static_cast<uint32_t>(wideUrl.size() / 2 - 1);
  if (!Succeeded(CallDllCommand(http_dll::kWinHttpCrackUrl, {Wide(wideUrl), urlUnits, 0, &parts})))
    return fail(web_status::kBadUrl);
  const OwnedByteSet hostUnits = OwnedByteSet::Copy(
      parts.hostName ? std::string_view(reinterpret_cast<const char*>(parts.hostName), parts.hostNameLength * size_t{2})
                     : std::string_view());
  const OwnedText host = Utf16ToGbk(hostUnits.view());
  const bool secure = parts.schemeNumber == kSchemeHttps;
  const std::u16string objectName = ObjectName(parts);

  {
    // WinHttp's proxy list names the proxy per scheme; a secure address takes it as it stands.
    OwnedByteSet proxyName;
    if (Given(a.proxy))
      proxyName = GbkToUtf16(secure ? a.proxy : OwnedText::Adopt(ConcatTexts("http=", a.proxy)).c_str());
    handles.session = AsHandle(CallDllCommand(
        http_dll::kWinHttpOpen,
        {nullptr, Given(a.proxy) ? kAccessNamedProxy : kAccessNoProxy, Wide(proxyName), nullptr, 0}));
  }
  if (handles.session == nullptr) return fail(web_status::kSessionFailed);

  const int32_t limit = a.timeoutSeconds > 0 ? static_cast<int32_t>(std::min<int64_t>(int64_t{a.timeoutSeconds} * 1000, INT32_MAX))
                                             : 30000;
  if (!Succeeded(CallDllCommand(http_dll::kWinHttpSetTimeouts, {handles.session, limit, limit, limit, limit})))
    return fail(web_status::kTimeoutsFailed);

  {
    const OwnedByteSet wideHost = GbkToUtf16(host.c_str());
    handles.connection =
        AsHandle(CallDllCommand(http_dll::kWinHttpConnect, {handles.session, Wide(wideHost), parts.port, 0}));
  }
  if (handles.connection == nullptr) return fail(web_status::kConnectFailed);

  if (a.method < 0 || a.method >= static_cast<int32_t>(std::size(kVerbs)))
    RaiseRuntimeError(static_cast<int32_t>(RuntimeErrorNumber::ChoiceIndexOutOfRange), 0, 0);
  {
    const OwnedByteSet verb = GbkToUtf16(kVerbs[a.method]);
    handles.request = AsHandle(CallDllCommand(http_dll::kWinHttpOpenRequest,
                                              {handles.connection, Wide(verb), objectName.c_str(), nullptr, nullptr,
                                               nullptr, secure ? kOpenRequestSecure : 0}));
  }
  if (handles.request == nullptr) return fail(web_status::kRequestFailed);

  if (Given(a.serverUser) && Given(a.serverPassword) &&
      !SetCredentials(handles.request, kAuthTargetServer, a.serverUser, a.serverPassword))
    return fail(web_status::kCredentialsFailed);
  if (Given(a.proxyUser) && Given(a.proxyPassword) &&
      !SetCredentials(handles.request, kAuthTargetProxy, a.proxyUser, a.proxyPassword))
    return fail(web_status::kCredentialsFailed);

  if (!SetOption(handles.request, kOptionSecurityFlags, kIgnoreCertificateErrors))
    return fail(web_status::kSecurityFlagsFailed);
  if (!SetOption(handles.request, sendCookies.empty() ? kOptionDisableFeature : kOptionEnableFeature, kFeatureCookies))
    return fail(web_status::kCookieOptionFailed);
  if (a.disableRedirect && !SetOption(handles.request, kOptionDisableFeature, kFeatureRedirects))
    return fail(web_status::kRedirectOptionFailed);

  {
    const OwnedText block =
        BuildRequestHeaders(a.extraHeaders, a.method, sendCookies.c_str(), completeHeaders, normaliseHeaderNames);
    const OwnedByteSet wideBlock = GbkToUtf16(block.c_str());
    // An empty block goes as an empty NUL-terminated text (length -1).
    const int32_t units = static_cast<int32_t>(wideBlock.size() / 2) - 1;
    if (!Succeeded(CallDllCommand(http_dll::kWinHttpAddRequestHeaders,
                                  {handles.request, Wide(wideBlock), static_cast<uint32_t>(units), kAddHeaders})))
      return fail(web_status::kHeadersFailed);
  }

  {
    const std::string_view body = !a.postBytes.empty() ? a.postBytes.bytes()
                                  : a.postText       ? std::string_view(a.postText)
                                                     : std::string_view();
    const auto length = static_cast<uint32_t>(body.size());
    if (!Succeeded(CallDllCommand(http_dll::kWinHttpSendRequest,
                                  {handles.request, nullptr, 0, body.empty() ? nullptr : body.data(), length, length,
                                   0})))
      return fail(web_status::kSendFailed);
  }

  if (!Succeeded(CallDllCommand(http_dll::kWinHttpReceiveResponse, {handles.request, nullptr})))
    return fail(web_status::kNoResponse);

  // The body, in chunks of exactly the size the service reports as ready.
  BodyBuffer body;
  bool readFailed = false;
  for (;;) {
    uint32_t ready = 0;
    if (!Succeeded(CallDllCommand(http_dll::kWinHttpQueryDataAvailable, {handles.request, &ready})) || ready < 1)
      break;
    unsigned char* chunk = body.Reserve(ready);
    uint32_t read = 0;
    if (chunk == nullptr ||
        !Succeeded(CallDllCommand(http_dll::kWinHttpReadData, {handles.request, chunk, ready, &read}))) {
      statusText = OwnedText::Copy(web_status::kReadFailed);
      readFailed = true;
      break;
    }
    body.Commit(std::min(read, ready));
  }

  // The raw header block: measured with an empty buffer, then read.
  OwnedByteSet rawHeaders;
  {
    uint32_t size = 0;
    uint32_t index = 0;
    CallDllCommand(http_dll::kWinHttpQueryHeaders, {handles.request, kQueryRawHeadersCrlf, nullptr, nullptr, &size, &index});
    rawHeaders = c::ZeroByteSet(static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX)));
    index = 0;
    if (!Succeeded(CallDllCommand(http_dll::kWinHttpQueryHeaders, {handles.request, kQueryRawHeadersCrlf, nullptr,
                                                                   MutableData(rawHeaders), &size, &index})))
      return {};
  }

  responseHeaders = Utf16ToGbk(rawHeaders.view());
  if (!readFailed) {
    const int32_t lineEnd = c::FindText(responseHeaders.c_str(), "\r\n", kStatusStart);
    statusText = lineEnd == -1 ? OwnedText()
                               : c::TextMiddle(responseHeaders.c_str(), kStatusStart, lineEnd - kStatusStart);
  }

  const OwnedArray lines = c::SplitText(responseHeaders.c_str(), "\r\n");
  for (int64_t i = 0; i < lines.size(); ++i) {
    const char* line = lines.TextAt(i);
    CollectCookie(line, receivedCookies);
    if (c::CompareText(c::TextLeft(line, kLocationPrefixLength).c_str(), kLocationPrefix, false) == 0)
      location = c::TextRight(line, c::TextLength(line) - kLocationPrefixLength);
    c::ProcessEvents();
  }
  FinishReceivedCookies(receivedCookies, sendCookies, mergeCookies);

  responseBytes = body.Take();
  const std::string_view bytes = responseBytes.bytes();
  OwnedText text = OwnedText::Copy(bytes.substr(0, std::min(bytes.find('\0'), bytes.size())));
  return DecodeResponseText(regex, responseBytes.view(), std::move(text));
}

}  // namespace quorvane
