// The one file that talks to libcurl: one exchange per transfer, driven through a multi handle by
// the calling thread in short polls, and libcurl's results turned into WinHttp's error codes.
//
// libcurl and the OpenSSL functions of the certificate check are not linked: they are loaded at the
// service's first use (a new session), so that a program that never sends a request maps none of
// libcurl's many dependencies. Their headers still declare every function this file calls, so the
// table of resolved pointers is type-checked against them.
//
// libcurl adds request headers of its own (Accept, Expect, Content-Type for a body, a proxy's
// Proxy-Connection); each is switched off with an empty "Name:" line, so the wire carries the
// lines the service decided on and the Host line that libcurl writes (with the port only when it is
// not the scheme's default), plus the basic Authorization lines of the credentials.
#include <curl/curl.h>
#include <dlfcn.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/winhttp/winhttp_private.h"

namespace win::winhttp {

struct SessionData {
  CURLSH* share = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];
};

namespace {

// The functions resolved at first use, by the shared object that exports them.
#define QV_CURL_FUNCTIONS(X)                                                                              \
  X(curl_global_init) X(curl_free) X(curl_easy_init) X(curl_easy_cleanup) X(curl_easy_setopt)             \
  X(curl_easy_getinfo) X(curl_easy_pause) X(curl_multi_init) X(curl_multi_cleanup) X(curl_multi_add_handle) \
  X(curl_multi_remove_handle) X(curl_multi_perform) X(curl_multi_info_read) X(curl_multi_poll)            \
  X(curl_slist_append) X(curl_slist_free_all) X(curl_url) X(curl_url_set) X(curl_url_get)                 \
  X(curl_url_cleanup) X(curl_share_init) X(curl_share_setopt) X(curl_share_cleanup)
#define QV_SSL_FUNCTIONS(X)                                                                       \
  X(SSL_get_ex_data_X509_STORE_CTX_idx) X(SSL_get_SSL_CTX) X(SSL_CTX_get_ex_data) X(SSL_CTX_set_ex_data) \
  X(SSL_CTX_set_verify) X(SSL_CTX_get_verify_mode)
#define QV_CRYPTO_FUNCTIONS(X)                                                                \
  X(CRYPTO_get_ex_new_index) X(X509_STORE_CTX_get_ex_data) X(X509_STORE_CTX_get_error) \
  X(X509_STORE_CTX_set_error)

struct CurlLibrary {
#define QV_POINTER(name) decltype(&::name) name = nullptr;
  QV_CURL_FUNCTIONS(QV_POINTER)
  QV_SSL_FUNCTIONS(QV_POINTER)
  QV_CRYPTO_FUNCTIONS(QV_POINTER)
#undef QV_POINTER
  // Where each TLS context carries the request's security flags for the certificate check.
  int securityFlagsIndex = -1;
};

constexpr char kDefaultCurlObject[] = "libcurl.so.4";
std::atomic<const char*> g_curlObject{kDefaultCurlObject};
std::atomic<bool> g_loadTried{false};

// Resolves every function, or none: false when a shared object or one of its functions is missing.
// libssl and libcrypto are taken only as libcurl itself loaded them (RTLD_NOLOAD), so the check
// runs in the TLS library that libcurl's connections use.
bool Load(const char* curlObject, CurlLibrary& lib) {
  void* curl = dlopen(curlObject, RTLD_NOW | RTLD_LOCAL);
  if (!curl) return false;
  void* ssl = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  void* crypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  bool complete = ssl && crypto;
  if (complete) {
#define QV_RESOLVE(handle, name) \
  complete = complete && (lib.name = reinterpret_cast<decltype(lib.name)>(dlsym(handle, #name))) != nullptr;
#define QV_FROM_CURL(name) QV_RESOLVE(curl, name)
#define QV_FROM_SSL(name) QV_RESOLVE(ssl, name)
#define QV_FROM_CRYPTO(name) QV_RESOLVE(crypto, name)
    QV_CURL_FUNCTIONS(QV_FROM_CURL)
    QV_SSL_FUNCTIONS(QV_FROM_SSL)
    QV_CRYPTO_FUNCTIONS(QV_FROM_CRYPTO)
#undef QV_FROM_CRYPTO
#undef QV_FROM_SSL
#undef QV_FROM_CURL
#undef QV_RESOLVE
  }
  if (complete) {
    lib.securityFlagsIndex = lib.CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_SSL_CTX, 0, nullptr, nullptr, nullptr, nullptr);
    complete = lib.securityFlagsIndex >= 0 && lib.curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  }
  // The handles taken with RTLD_NOLOAD only add a reference; a complete library stays loaded for
  // the life of the process.
  if (ssl) dlclose(ssl);
  if (crypto) dlclose(crypto);
  if (!complete) {
    dlclose(curl);
    lib = {};
  }
  return complete;
}

// The loaded library, or null when it cannot be loaded; loaded once, by the first caller.
const CurlLibrary* Library() {
  static CurlLibrary lib;
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] {
    g_loadTried = true;
    loaded = Load(g_curlObject.load(), lib);
  });
  return loaded ? &lib : nullptr;
}

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  static_cast<SessionData*>(user)->locks[data].lock();
}
void UnlockShare(CURL*, curl_lock_data data, void* user) { static_cast<SessionData*>(user)->locks[data].unlock(); }

// Response header blocks larger than this fail, as the service's default limit does: a server
// cannot make the client hold an endless header.
constexpr size_t kMaxHeaderBytes = 64 * 1024;
// The body waits in libcurl (the transfer pauses) while this much is ready and not yet read.
constexpr size_t kPauseAt = 1024 * 1024;
// The longest wait between two polls; the wait hook runs after each.
constexpr int kPollMs = 20;

DWORD MapCurlError(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_WINHTTP_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_WINHTTP_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_WINHTTP_TIMEOUT;
    case CURLE_URL_MALFORMAT:
      return ERROR_WINHTTP_INVALID_URL;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
      return ERROR_WINHTTP_SECURE_FAILURE;
    case CURLE_UNSUPPORTED_PROTOCOL:  // also an answer that does not start with an HTTP status line
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
      return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return ERROR_WINHTTP_CONNECTION_ERROR;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WINHTTP_CONNECTION_ERROR;
  }
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    const char a = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    if (a != prefix[i]) return false;
  }
  return true;
}

// Certificate checks. The security flags each forgive one kind of certificate fault, and only that
// one: libcurl's switches are coarser (peer verification off forgives everything), so the chain is
// verified by OpenSSL as usual and this callback clears exactly the faults the flags name. The
// host name check stays libcurl's, switched by the common-name flag.
bool Forgiven(int error, DWORD flags) {
  switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    case X509_V_ERR_INVALID_PURPOSE:
      return flags & SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    default:
      return false;
  }
}

// Both run inside a transfer, so the library is loaded.
int VerifyCertificate(int preverified, X509_STORE_CTX* store) {
  if (preverified) return 1;
  const CurlLibrary& lib = *Library();
  auto* ssl = static_cast<SSL*>(lib.X509_STORE_CTX_get_ex_data(store, lib.SSL_get_ex_data_X509_STORE_CTX_idx()));
  const auto flags = static_cast<DWORD>(reinterpret_cast<uintptr_t>(
      ssl ? lib.SSL_CTX_get_ex_data(lib.SSL_get_SSL_CTX(ssl), lib.securityFlagsIndex) : nullptr));
  if (!Forgiven(lib.X509_STORE_CTX_get_error(store), flags)) return 0;
  lib.X509_STORE_CTX_set_error(store, X509_V_OK);
  return 1;
}

CURLcode SetUpTls(CURL*, void* context, void* flags) {
  const CurlLibrary& lib = *Library();
  auto* ctx = static_cast<SSL_CTX*>(context);
  lib.SSL_CTX_set_ex_data(ctx, lib.securityFlagsIndex, flags);
  // The mode stays as libcurl chose it; libcurl reads the verification result after the handshake.
  lib.SSL_CTX_set_verify(ctx, lib.SSL_CTX_get_verify_mode(ctx), &VerifyCertificate);
  return CURLE_OK;
}

class CurlTransfer final : public Transfer {
 public:
  explicit CurlTransfer(const CurlLibrary& lib) : m_lib(lib) {}
  ~CurlTransfer() override {
    if (m_multi && m_easy) m_lib.curl_multi_remove_handle(m_multi, m_easy);
    if (m_easy) m_lib.curl_easy_cleanup(m_easy);
    if (m_multi) m_lib.curl_multi_cleanup(m_multi);
    m_lib.curl_slist_free_all(m_headers);
  }
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  DWORD Start(const TransferSetup& setup);

  DWORD WaitSent() override {
    const DWORD error = Drive([this] { return RequestSent() || m_headerBytes > 0; }, m_timeouts.send,
                              /*onlyWhenConnected=*/true);
    if (error) return error;
    // A transfer that ended after the request went out reports its result with the response.
    if (m_done && m_result != CURLE_OK && !RequestSent() && m_headerBytes == 0) return ResultError();
    return 0;
  }

  DWORD WaitHeaders() override {
    const DWORD error = Drive([this] { return m_headersComplete; }, m_timeouts.receive, false);
    if (error) return error;
    if (m_headersComplete) return 0;
    if (m_result == CURLE_OK) return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    return ResultError();
  }

  const std::string& HeaderBlock() const override { return m_headerBlock; }
  int StatusCode() const override { return m_status; }

  size_t WaitData(DWORD* error) override {
    *error = 0;
    if (Ready() == 0 && m_paused) Resume();
    if (const DWORD e = Drive([this] { return Ready() > 0; }, m_timeouts.receive, false)) {
      *error = e;
      return 0;
    }
    if (Ready() > 0) return Ready();
    // The end of the body. A connection closed before the announced length just ends it.
    if (m_result == CURLE_OK || m_result == CURLE_PARTIAL_FILE) return 0;
    *error = ResultError();
    return 0;
  }

  size_t Take(void* buffer, size_t size) override {
    const size_t n = std::min(size, Ready());
    std::memcpy(buffer, m_body.data() + m_bodyOffset, n);
    m_bodyOffset += n;
    if (m_bodyOffset == m_body.size()) {
      m_body.clear();
      m_bodyOffset = 0;
    }
    return n;
  }

 private:
  size_t Ready() const { return m_body.size() - m_bodyOffset; }

  bool RequestSent() const {
    long requestSize = 0;
    curl_off_t uploaded = 0;
    m_lib.curl_easy_getinfo(m_easy, CURLINFO_REQUEST_SIZE, &requestSize);
    m_lib.curl_easy_getinfo(m_easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    return requestSize > 0 && uploaded >= m_bodyLength;
  }

  DWORD ResultError() const {
    // libcurl refuses a single header line above its own limit as if memory had run out.
    if (m_headerOverflow || (m_result == CURLE_OUT_OF_MEMORY && !m_headersComplete))
      return ERROR_WINHTTP_HEADER_SIZE_OVERFLOW;
    return MapCurlError(m_result);
  }

  void Resume() {
    m_paused = false;
    m_lib.curl_easy_pause(m_easy, CURLPAUSE_CONT);
  }

  // Runs the transfer until ready() holds or it has ended. A limit (ms, 0 for none) ends the wait
  // with the time-out error when nothing arrives or leaves for that long; with onlyWhenConnected the
  // clock starts once the connection is up (libcurl's connect limit covers the time before).
  template <typename Ready>
  DWORD Drive(Ready ready, int limitMs, bool onlyWhenConnected) {
    using Clock = std::chrono::steady_clock;
    auto lastProgress = Clock::now();
    uint64_t seen = m_progress;
    for (;;) {
      int running = 0;
      if (m_lib.curl_multi_perform(m_multi, &running) != CURLM_OK) {
        m_done = true;
        m_result = CURLE_OUT_OF_MEMORY;
      }
      int queued = 0;
      while (CURLMsg* message = m_lib.curl_multi_info_read(m_multi, &queued)) {
        if (message->msg == CURLMSG_DONE) {
          m_done = true;
          m_result = message->data.result;
        }
      }
      if (ready() || m_done) return 0;
      const auto now = Clock::now();
      if (seen != m_progress || (onlyWhenConnected && !m_connected)) {
        seen = m_progress;
        lastProgress = now;
      }
      int waitMs = kPollMs;
      if (limitMs > 0) {
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastProgress).count();
        if (idle >= limitMs) return ERROR_WINHTTP_TIMEOUT;
        waitMs = static_cast<int>(std::min<long long>(waitMs, limitMs - idle));
      }
      m_lib.curl_multi_poll(m_multi, nullptr, 0, std::max(waitMs, 1), nullptr);
      RunWaitHook();
    }
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<CurlTransfer*>(user);
    const size_t n = size * count;
    ++self->m_progress;
    if (self->m_headersComplete) return n;  // trailers of a chunked body are not headers
    std::string_view line(data, n);
    self->m_headerBytes += n;
    if (self->m_headerBytes > kMaxHeaderBytes) {
      self->m_headerOverflow = true;
      return 0;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, 5) == "HTTP/") {  // a new response: an interim one is replaced by the next
      self->m_headerBlock.assign(line);
      self->m_headerBlock += "\r\n";
      const size_t space = line.find(' ');
      int status = 0;
      for (size_t i = space == std::string_view::npos ? line.size() : space + 1;
           i < line.size() && line[i] >= '0' && line[i] <= '9' && status < 1000; ++i)
        status = status * 10 + (line[i] - '0');
      self->m_status = status;
      return n;
    }
    self->m_headerBlock.append(line);
    self->m_headerBlock += "\r\n";
    if (line.empty()) {
      if (self->m_status >= 200) {
        self->m_headersComplete = true;
      } else {
        self->m_headerBlock.clear();
        self->m_headerBytes = 0;
      }
    }
    return n;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<CurlTransfer*>(user);
    const size_t n = size * count;
    if (self->Ready() >= kPauseAt) {
      self->m_paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    self->m_body.append(data, n);
    ++self->m_progress;
    return n;
  }

  static int OnConnected(void* user, char*, char*, int, int) {
    static_cast<CurlTransfer*>(user)->m_connected = true;
    return CURL_PREREQFUNC_OK;
  }

  static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* self = static_cast<CurlTransfer*>(user);
    if (uploaded != self->m_uploaded) {
      self->m_uploaded = uploaded;
      ++self->m_progress;
    }
    return 0;
  }

  const CurlLibrary& m_lib;
  CURLM* m_multi = nullptr;
  CURL* m_easy = nullptr;
  curl_slist* m_headers = nullptr;
  std::string m_proxyUrl;
  Timeouts m_timeouts;
  curl_off_t m_bodyLength = 0;
  curl_off_t m_uploaded = 0;

  bool m_connected = false;
  bool m_done = false;
  CURLcode m_result = CURLE_OK;
  uint64_t m_progress = 0;

  std::string m_headerBlock;
  size_t m_headerBytes = 0;
  bool m_headerOverflow = false;
  bool m_headersComplete = false;
  int m_status = 0;

  std::string m_body;
  size_t m_bodyOffset = 0;
  bool m_paused = false;
};

DWORD CurlTransfer::Start(const TransferSetup& setup) {
  m_timeouts = setup.timeouts;
  m_multi = m_lib.curl_multi_init();
  m_easy = m_lib.curl_easy_init();
  if (!m_multi || !m_easy) return ERROR_NOT_ENOUGH_MEMORY;
  CURL* e = m_easy;

  m_lib.curl_easy_setopt(e, CURLOPT_URL, setup.url.c_str());
  m_lib.curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  m_lib.curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  m_lib.curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  m_lib.curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  m_lib.curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  m_lib.curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);  // bodies are delivered as they came

  // Resolving and connecting share libcurl's one connect limit; without a limit it must still be
  // set, as 0 would mean libcurl's own default.
  const int resolve = setup.timeouts.resolve, connect = setup.timeouts.connect;
  const long connectLimit = connect == 0 ? LONG_MAX : static_cast<long>(connect) + (resolve > 0 ? resolve : 0);
  m_lib.curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connectLimit);

  for (const std::string& line : setup.headerLines) m_headers = m_lib.curl_slist_append(m_headers, line.c_str());
  auto hasHeader = [&](std::string_view name) {
    return std::any_of(setup.headerLines.begin(), setup.headerLines.end(), [&](const std::string& line) {
      return StartsWithIgnoringCase(line, name) && line.size() > name.size() && line[name.size()] == ':';
    });
  };
  for (const char* name : {"accept", "expect", "content-type", "transfer-encoding", "pragma", "proxy-connection"}) {
    if (hasHeader(name)) continue;
    std::string off(name);
    off[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(off[0])));
    m_headers = m_lib.curl_slist_append(m_headers, (off + ":").c_str());
  }
  if (!m_headers) return ERROR_NOT_ENOUGH_MEMORY;
  m_lib.curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headers);
  m_lib.curl_easy_setopt(e, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);

  if (setup.head) {
    m_lib.curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (setup.body) {
    m_bodyLength = static_cast<curl_off_t>(setup.body->size());
    m_lib.curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, m_bodyLength);
    m_lib.curl_easy_setopt(e, CURLOPT_POSTFIELDS, setup.body->data());
    m_lib.curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, setup.verb.c_str());
  } else {
    m_lib.curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    if (setup.verb != "GET") m_lib.curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, setup.verb.c_str());
  }

  if (setup.server.set) {
    m_lib.curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    m_lib.curl_easy_setopt(e, CURLOPT_USERNAME, setup.server.user.c_str());
    m_lib.curl_easy_setopt(e, CURLOPT_PASSWORD, setup.server.password.c_str());
  }
  // An empty proxy also keeps libcurl from taking one from the environment.
  m_proxyUrl = setup.proxy.empty() ? std::string() : "http://" + setup.proxy;
  m_lib.curl_easy_setopt(e, CURLOPT_PROXY, m_proxyUrl.c_str());
  if (!setup.proxy.empty()) {
    m_lib.curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (setup.proxyCredentials.set) {
      m_lib.curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      m_lib.curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, setup.proxyCredentials.user.c_str());
      m_lib.curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, setup.proxyCredentials.password.c_str());
    }
  }

  m_lib.curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  m_lib.curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, (setup.securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
  m_lib.curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &SetUpTls);
  m_lib.curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, reinterpret_cast<void*>(static_cast<uintptr_t>(setup.securityFlags)));

  if (setup.cookies && setup.session) {
    m_lib.curl_easy_setopt(e, CURLOPT_SHARE, setup.session->share);
    m_lib.curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");  // the cookie engine, in memory only
  }

  m_lib.curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
  m_lib.curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  m_lib.curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
  m_lib.curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  m_lib.curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CurlTransfer::OnConnected);
  m_lib.curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
  m_lib.curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnProgress);
  m_lib.curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
  m_lib.curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);

  if (m_lib.curl_multi_add_handle(m_multi, e) != CURLM_OK) return ERROR_NOT_ENOUGH_MEMORY;
  return 0;
}

}  // namespace

bool LoadTransferEngine() { return Library() != nullptr; }

std::unique_ptr<Transfer> Transfer::Create(const TransferSetup& setup, DWORD* error) {
  const CurlLibrary* lib = Library();
  if (!lib) {
    *error = ERROR_WINHTTP_INTERNAL_ERROR;
    return nullptr;
  }
  auto transfer = std::make_unique<CurlTransfer>(*lib);
  *error = transfer->Start(setup);
  if (*error) return nullptr;
  return transfer;
}

std::string ResolveLocation(const std::string& base, const std::string& location) {
  const CurlLibrary* lib = Library();
  if (!lib) return {};
  CURLU* url = lib->curl_url();
  if (!url) return {};
  std::string result;
  char* text = nullptr;
  if (lib->curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
      lib->curl_url_set(url, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE) == CURLUE_OK &&
      lib->curl_url_set(url, CURLUPART_FRAGMENT, nullptr, 0) == CURLUE_OK &&
      lib->curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) {
    result = text;
  }
  lib->curl_free(text);
  lib->curl_url_cleanup(url);
  return result;
}

SessionData* CreateSessionData() {
  const CurlLibrary* lib = Library();
  if (!lib) return nullptr;
  auto* data = new SessionData;
  data->share = lib->curl_share_init();
  if (!data->share) {
    delete data;
    return nullptr;
  }
  lib->curl_share_setopt(data->share, CURLSHOPT_LOCKFUNC, &LockShare);
  lib->curl_share_setopt(data->share, CURLSHOPT_UNLOCKFUNC, &UnlockShare);
  lib->curl_share_setopt(data->share, CURLSHOPT_USERDATA, data);
  lib->curl_share_setopt(data->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  return data;
}

void DestroySessionData(SessionData* data) {
  if (!data) return;
  Library()->curl_share_cleanup(data->share);
  delete data;
}

}  // namespace win::winhttp

namespace win {

BOOL SetWinHttpLibraryForTesting(const char* curlObject) {
  if (winhttp::g_loadTried) return FALSE;
  winhttp::g_curlObject = curlObject ? curlObject : winhttp::kDefaultCurlObject;
  return TRUE;
}

}  // namespace win
