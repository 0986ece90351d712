// The handle table and the calls that make and configure handles: WinHttpOpen, WinHttpConnect,
// WinHttpOpenRequest, WinHttpCloseHandle, WinHttpSetTimeouts, WinHttpSetOption,
// WinHttpSetCredentials; the exports of the built-in module and the wait hook.
#include <atomic>
#include <map>
#include <mutex>

#include "platform/ui/ui.h"
#include "platform/winhttp/winhttp_private.h"

namespace win {
namespace winhttp {
namespace {

// Handles are numbers handed out once each, never addresses: a stale or made-up handle finds
// nothing in the table instead of reaching freed memory.
struct HandleTable {
  std::mutex mutex;
  std::map<uintptr_t, std::shared_ptr<Object>> objects;
  uintptr_t next = 0x10000;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives every static that might close handles
  return *table;
}

std::atomic<WinHttpWaitHook> g_waitHook{&ProcessPaintMessages};

}  // namespace

HINTERNET AddHandle(std::shared_ptr<Object> object) {
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  const uintptr_t key = table.next;
  table.next += 8;
  table.objects.emplace(key, std::move(object));
  return reinterpret_cast<HINTERNET>(key);
}

std::shared_ptr<Object> FindHandle(HINTERNET handle) {
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return found->second;
}

bool RemoveHandle(HINTERNET handle) {
  std::shared_ptr<Object> removed;  // released after the lock: a request's teardown can take time
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.objects.end()) return false;
  removed = std::move(found->second);
  table.objects.erase(found);
  return true;
}

void RunWaitHook() {
  if (const WinHttpWaitHook hook = g_waitHook.load()) hook();
}

Session::~Session() { DestroySessionData(data); }

}  // namespace winhttp

using namespace winhttp;

WinHttpWaitHook SetWinHttpWaitHook(WinHttpWaitHook hook) { return g_waitHook.exchange(hook); }

size_t WinHttpOpenHandleCount() {
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  return table.objects.size();
}

BOOL WinHttpCheckPlatform() { return LoadTransferEngine() ? TRUE : FALSE; }

HINTERNET WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxyName, LPCWSTR proxyBypass, DWORD flags) {
  // Only the synchronous mode exists here; an asynchronous session would need status callbacks
  // that this service does not make.
  if (flags & WINHTTP_FLAG_ASYNC) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto session = std::make_shared<Session>();
  switch (accessType) {
    case WINHTTP_ACCESS_TYPE_NAMED_PROXY:
      if (WideLength(proxyName) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      session->proxyList = Utf16ToAnsi(proxyName);
      session->proxyBypass = Utf16ToAnsi(proxyBypass ? proxyBypass : u"");
      break;
    // There is no system-wide proxy setting here, so the default and automatic proxies are none.
    case WINHTTP_ACCESS_TYPE_DEFAULT_PROXY:
    case WINHTTP_ACCESS_TYPE_NO_PROXY:
    case WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY:
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
  if (!LoadTransferEngine()) {
    SetLastError(ERROR_WINHTTP_INTERNAL_ERROR);
    return nullptr;
  }
  session->agent = Utf16ToAnsi(agent ? agent : u"");
  session->data = CreateSessionData();
  if (!session->data) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return AddHandle(std::move(session));
}

HINTERNET WinHttpConnect(HINTERNET sessionHandle, LPCWSTR serverName, INTERNET_PORT serverPort, DWORD reserved) {
  auto session = FindHandleOf<Session>(sessionHandle, ObjectKind::Session);
  if (!session) return nullptr;
  if (WideLength(serverName) == 0 || reserved != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  connection->InheritSettings(*session);
  connection->session = session;
  connection->host = Utf16ToUtf8(serverName);
  connection->port = serverPort;
  return AddHandle(std::move(connection));
}

HINTERNET WinHttpOpenRequest(HINTERNET connectionHandle, LPCWSTR verb, LPCWSTR objectName, LPCWSTR version,
                             LPCWSTR referrer, const LPCWSTR* acceptTypes, DWORD flags) {
  auto connection = FindHandleOf<Connection>(connectionHandle, ObjectKind::Connection);
  if (!connection) return nullptr;
  const std::string verbText = WideLength(verb) ? Utf16ToUtf8(verb) : "GET";
  // The verb is the first word of the request line: nothing in it may end or split that line.
  for (unsigned char c : verbText) {
    if (c <= 0x20 || c >= 0x7F) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  // Requests go out as HTTP/1.1; a version other than 1.x cannot be spoken.
  if (WideLength(version) && std::u16string_view(version) != u"HTTP/1.1" &&
      std::u16string_view(version) != u"HTTP/1.0") {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto request = std::make_shared<Request>();
  request->InheritSettings(*connection);
  request->connection = connection;
  request->verb = verbText;
  std::string object = EscapeObjectName(WideLength(objectName) ? objectName : u"/", flags);
  if (object.empty() || object[0] != '/') object.insert(0, 1, '/');
  request->objectName = std::move(object);
  request->secure = (flags & WINHTTP_FLAG_SECURE) != 0;
  if (WideLength(referrer)) request->headers.emplace_back("Referer", Utf16ToAnsi(referrer));
  if (acceptTypes) {
    std::string accept;
    for (const LPCWSTR* type = acceptTypes; *type; ++type) {
      if (!WideLength(*type)) continue;
      if (!accept.empty()) accept += ", ";
      accept += Utf16ToAnsi(*type);
    }
    if (!accept.empty()) request->headers.emplace_back("Accept", std::move(accept));
  }
  return AddHandle(std::move(request));
}

BOOL WinHttpCloseHandle(HINTERNET handle) {
  if (!RemoveHandle(handle)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

BOOL WinHttpSetTimeouts(HINTERNET handle, int resolveTimeout, int connectTimeout, int sendTimeout,
                        int receiveTimeout) {
  auto object = FindHandle(handle);
  if (!object) return FALSE;
  for (int t : {resolveTimeout, connectTimeout, sendTimeout, receiveTimeout})
    if (t < -1) return Fail(ERROR_INVALID_PARAMETER);
  auto limit = [](int t) { return t == -1 ? 0 : t; };
  object->timeouts = {limit(resolveTimeout), limit(connectTimeout), limit(sendTimeout), limit(receiveTimeout)};
  return TRUE;
}

BOOL WinHttpSetOption(HINTERNET handle, DWORD option, void* buffer, DWORD bufferLength) {
  auto object = FindHandle(handle);
  if (!object) return FALSE;
  if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
  if (bufferLength < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const DWORD value = *static_cast<const DWORD*>(buffer);
  const bool isRequest = object->kind == ObjectKind::Request;
  switch (option) {
    case WINHTTP_OPTION_RESOLVE_TIMEOUT:
    case WINHTTP_OPTION_CONNECT_TIMEOUT:
    case WINHTTP_OPTION_SEND_TIMEOUT:
    case WINHTTP_OPTION_RECEIVE_TIMEOUT: {
      const int t = static_cast<int>(value);
      if (t < -1) return Fail(ERROR_INVALID_PARAMETER);
      int& slot = option == WINHTTP_OPTION_RESOLVE_TIMEOUT   ? object->timeouts.resolve
                  : option == WINHTTP_OPTION_CONNECT_TIMEOUT ? object->timeouts.connect
                  : option == WINHTTP_OPTION_SEND_TIMEOUT    ? object->timeouts.send
                                                             : object->timeouts.receive;
      slot = t == -1 ? 0 : t;
      return TRUE;
    }
    case WINHTTP_OPTION_SECURITY_FLAGS: {
      if (!isRequest) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
      constexpr DWORD kKnown = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                               SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
      if (value & ~kKnown) return Fail(ERROR_INVALID_PARAMETER);
      object->securityFlags = value;
      return TRUE;
    }
    case WINHTTP_OPTION_DISABLE_FEATURE: {
      if (!isRequest) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
      constexpr DWORD kKnown = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_AUTHENTICATION |
                               WINHTTP_DISABLE_KEEP_ALIVE;
      if (value & ~kKnown) return Fail(ERROR_INVALID_PARAMETER);
      object->disabledFeatures |= value;
      return TRUE;
    }
    case WINHTTP_OPTION_ENABLE_FEATURE:
      // Revocation checking needs revocation lists or OCSP answers, which the certificate store
      // here does not carry; the request is accepted and certificates are checked as always.
      if (!isRequest) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
      if (value & ~(WINHTTP_ENABLE_SSL_REVOCATION | WINHTTP_ENABLE_SSL_REVERT_IMPERSONATION))
        return Fail(ERROR_INVALID_PARAMETER);
      return TRUE;
    case WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS:
      object->maxRedirects = value;
      return TRUE;
    default:
      return Fail(ERROR_WINHTTP_INVALID_OPTION);
  }
}

BOOL WinHttpSetCredentials(HINTERNET handle, DWORD authTargets, DWORD authScheme, LPCWSTR userName,
                           LPCWSTR password, void* authParams) {
  auto request = FindHandleOf<Request>(handle, ObjectKind::Request);
  if (!request) return FALSE;
  if (authTargets != WINHTTP_AUTH_TARGET_SERVER && authTargets != WINHTTP_AUTH_TARGET_PROXY)
    return Fail(ERROR_INVALID_PARAMETER);
  // Basic is the scheme that can be sent without a challenge; the others are not offered here.
  if (authScheme != WINHTTP_AUTH_SCHEME_BASIC || !userName || authParams) return Fail(ERROR_INVALID_PARAMETER);
  Credentials& target = authTargets == WINHTTP_AUTH_TARGET_SERVER ? request->server : request->proxy;
  target = {true, Utf16ToAnsi(userName), Utf16ToAnsi(password ? password : u"")};
  return TRUE;
}

std::span<const BuiltinExport> WinHttpExports() {
  static constexpr BuiltinExport kExports[] = {
      ExportOf<&WinHttpAddRequestHeaders>("WinHttpAddRequestHeaders"),
      ExportOf<&WinHttpCheckPlatform>("WinHttpCheckPlatform"),
      ExportOf<&WinHttpCloseHandle>("WinHttpCloseHandle"),
      ExportOf<&WinHttpConnect>("WinHttpConnect"),
      ExportOf<&WinHttpCrackUrl>("WinHttpCrackUrl"),
      ExportOf<&WinHttpOpen>("WinHttpOpen"),
      ExportOf<&WinHttpOpenRequest>("WinHttpOpenRequest"),
      ExportOf<&WinHttpQueryDataAvailable>("WinHttpQueryDataAvailable"),
      ExportOf<&WinHttpQueryHeaders>("WinHttpQueryHeaders"),
      ExportOf<&WinHttpReadData>("WinHttpReadData"),
      ExportOf<&WinHttpReceiveResponse>("WinHttpReceiveResponse"),
      ExportOf<&WinHttpSendRequest>("WinHttpSendRequest"),
      ExportOf<&WinHttpSetCredentials>("WinHttpSetCredentials"),
      ExportOf<&WinHttpSetOption>("WinHttpSetOption"),
      ExportOf<&WinHttpSetTimeouts>("WinHttpSetTimeouts"),
  };
  return kExports;
}

}  // namespace win
