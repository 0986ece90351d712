// What the WinHttp files share: the objects behind the handles, the handle table, text
// conversions and the transfer engine's interface (transfer.cpp is the one file that talks to
// libcurl).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/winhttp/winhttp.h"

namespace win::winhttp {

// Sets the last error and returns the failure value of the caller's result type.
inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// UTF-16 <-> bytes. Header texts, credentials and proxy names go to the wire in the system code
// page (936), which is what the program's own texts are, so they come back unchanged; host names
// and object names are UTF-8 as URLs require.
std::string Utf16ToUtf8(std::u16string_view text);
std::string Utf16ToAnsi(std::u16string_view text);
std::u16string AnsiToUtf16(std::string_view bytes);
// Length of a NUL-terminated wide text; 0 for null.
size_t WideLength(LPCWSTR text);

// The object name as the request line carries it, escaped by default as the service does.
std::string EscapeObjectName(std::u16string_view objectName, DWORD openRequestFlags);

// Limits in milliseconds; 0 means none.
struct Timeouts {
  int resolve = 0;
  int connect = 60000;
  int send = 30000;
  int receive = 30000;
};

enum class ObjectKind { Session, Connection, Request };

struct Object {
  explicit Object(ObjectKind k) : kind(k) {}
  virtual ~Object() = default;
  const ObjectKind kind;
  Timeouts timeouts;
  DWORD disabledFeatures = 0;
  DWORD securityFlags = 0;
  DWORD maxRedirects = 10;

  // A new handle starts with its parent's settings.
  void InheritSettings(const Object& parent) {
    timeouts = parent.timeouts;
    disabledFeatures = parent.disabledFeatures;
    securityFlags = parent.securityFlags;
    maxRedirects = parent.maxRedirects;
  }
};

struct SessionData;  // the transfer engine's per-session state (shared cookies)

struct Session : Object {
  Session() : Object(ObjectKind::Session) {}
  ~Session() override;
  std::string agent;      // empty: no User-Agent line
  std::string proxyList;  // the named proxy list as given, empty without a proxy
  std::string proxyBypass;
  SessionData* data = nullptr;
};

struct Connection : Object {
  Connection() : Object(ObjectKind::Connection) {}
  std::shared_ptr<Session> session;
  std::string host;  // UTF-8
  INTERNET_PORT port = INTERNET_DEFAULT_PORT;
};

struct Credentials {
  bool set = false;
  std::string user;
  std::string password;
};

class Transfer;

struct Request : Object {
  Request() : Object(ObjectKind::Request) {}
  ~Request() override;

  std::shared_ptr<Connection> connection;
  std::string verb;
  std::string objectName;  // escaped
  bool secure = false;
  // Header lines the caller added, in order, as "Name: value" bytes.
  std::vector<std::pair<std::string, std::string>> headers;
  Credentials server;
  Credentials proxy;
  std::string body;

  // The exchange in progress, across redirects: the address and verb of the current hop, whether
  // it carries the body, the origin that the credentials belong to, the redirects so far.
  std::string url;
  std::string origin;
  std::string currentVerb;
  bool sendBody = true;
  DWORD hops = 0;

  enum class State { Open, Sent, Received, Failed };
  State state = State::Open;
  std::unique_ptr<Transfer> transfer;
  // The final response's header block (status line and header lines, each ending in CR LF, then
  // one more CR LF), as received bytes.
  std::string responseHeaders;
};

// The handle table.
HINTERNET AddHandle(std::shared_ptr<Object> object);
// The object behind a handle, or null with ERROR_INVALID_HANDLE set.
std::shared_ptr<Object> FindHandle(HINTERNET handle);
bool RemoveHandle(HINTERNET handle);

template <typename T>
std::shared_ptr<T> FindHandleOf(HINTERNET handle, ObjectKind kind) {
  std::shared_ptr<Object> object = FindHandle(handle);
  if (!object) return nullptr;
  if (object->kind != kind) {
    SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(object);
}

// Runs the wait hook, if any.
void RunWaitHook();

// One exchange on the wire, from the request line to the end of the body, driven by the calling
// thread. A redirect is a new transfer.
struct TransferSetup {
  std::string url;  // absolute, escaped
  std::string verb;
  std::vector<std::string> headerLines;  // exactly the lines to send after Host, in order
  const std::string* body = nullptr;     // null: no body
  bool head = false;
  std::string proxy;  // "host:port" or empty
  Credentials server;
  Credentials proxyCredentials;
  DWORD securityFlags = 0;
  bool cookies = true;
  SessionData* session = nullptr;
  Timeouts timeouts;
};

class Transfer {
 public:
  static std::unique_ptr<Transfer> Create(const TransferSetup& setup, DWORD* error);
  virtual ~Transfer() = default;

  // Drives until the request is on the wire. 0 or a WinHttp error.
  virtual DWORD WaitSent() = 0;
  // Drives until the headers of a final (non-1xx) response are in. 0 or a WinHttp error.
  virtual DWORD WaitHeaders() = 0;
  virtual const std::string& HeaderBlock() const = 0;
  virtual int StatusCode() const = 0;
  // Drives until body bytes are ready or the body has ended; returns the number ready (0 at the
  // end), or an error in *error.
  virtual size_t WaitData(DWORD* error) = 0;
  // Takes up to size ready bytes.
  virtual size_t Take(void* buffer, size_t size) = 0;
};

// Resolves a Location value against the address it came from; empty when it cannot be resolved.
std::string ResolveLocation(const std::string& base, const std::string& location);

// Loads libcurl and the TLS functions at the first call; false, then and ever after, when they
// cannot be loaded. Every call below needs it to have succeeded.
bool LoadTransferEngine();

SessionData* CreateSessionData();
void DestroySessionData(SessionData* data);

}  // namespace win::winhttp
