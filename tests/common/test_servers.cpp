// Test servers. Compiled with UTF-8 literals in every test program (httplib and <chrono> cannot be
// compiled for GBK texts).
#include "test_servers.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace qv::test {
namespace {

int ListenOnLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    throw std::runtime_error("bind or listen failed");
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

size_t ContentLength(const std::string& head) {
  std::string lower(head);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

}  // namespace

TempDirectory::TempDirectory() {
  char pattern[] = "/tmp/qv_test_XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

std::string TempDirectory::Write(const std::string& name, const std::string& content) const {
  const std::string path = m_path + "/" + name;
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

RawServer::RawServer(Handler handler) : m_handler(std::move(handler)) {
  m_listener = ListenOnLoopback(m_port);
  m_thread = std::thread([this] { Serve(); });
}

RawServer::RawServer(std::string reply)
    : RawServer([reply = std::move(reply)](const std::string&, size_t) { return RawReply{{reply}}; }) {}

RawServer::~RawServer() {
  m_stop = true;
  ::shutdown(m_listener, SHUT_RDWR);
  m_thread.join();
  ::close(m_listener);
}

std::vector<std::string> RawServer::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

void RawServer::Serve() {
  while (!Stopping()) {
    pollfd p{m_listener, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++m_connections;
    ServeConnection(fd);
  }
}

void RawServer::ServeConnection(int fd) {
  std::string buffer;
  bool open = true;
  while (open && !Stopping()) {
    // One request: the header block, then a body of its Content-Length.
    size_t headEnd = std::string::npos;
    size_t wanted = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      if (headEnd == std::string::npos) {
        headEnd = buffer.find("\r\n\r\n");
        if (headEnd != std::string::npos) wanted = headEnd + 4 + ContentLength(buffer.substr(0, headEnd + 2));
      }
      if (headEnd != std::string::npos && buffer.size() >= wanted) break;
      if (Stopping() || std::chrono::steady_clock::now() > deadline) {
        open = false;
        break;
      }
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char chunk[16384];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        open = false;
        break;
      }
      buffer.append(chunk, static_cast<size_t>(n));
    }
    if (!open) break;
    const std::string request = buffer.substr(0, wanted);
    buffer.erase(0, wanted);
    size_t index = 0;
    {
      std::lock_guard lock(m_mutex);
      index = m_requests.size();
      m_requests.push_back(request);
    }
    const RawReply reply = m_handler(request, index);
    if (reply.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
    for (size_t i = 0; i < reply.parts.size(); ++i) {
      if (i > 0 && reply.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
      if (!SendAll(fd, reply.parts[i])) break;
    }
    switch (reply.then) {
      case RawReply::Then::KeepOpen:
        continue;
      case RawReply::Then::Reset: {
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        open = false;
        break;
      }
      case RawReply::Then::Hang:
        while (!Stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        open = false;
        break;
      case RawReply::Then::Close:
        open = false;
        break;
    }
  }
  ::close(fd);
}

Certificate MakeSelfSignedCertificate(const CertificateOptions& options) {
  Certificate result;
  result.directory = std::make_shared<TempDirectory>();
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* certificate = X509_new();
  if (!key || !certificate) throw std::runtime_error("openssl: no key or certificate");
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), static_cast<long>(std::time(nullptr)));
  X509_gmtime_adj(X509_getm_notBefore(certificate), options.validFromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(certificate), options.validToSeconds);
  X509_set_pubkey(certificate, key);
  X509_NAME* name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(options.commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(certificate, name);
  std::string alternativeNames;
  for (const std::string& dns : options.dnsNames) alternativeNames += (alternativeNames.empty() ? "" : ",") + ("DNS:" + dns);
  for (const std::string& ip : options.ipAddresses) alternativeNames += (alternativeNames.empty() ? "" : ",") + ("IP:" + ip);
  if (!alternativeNames.empty()) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alternativeNames.c_str());
    if (extension) {
      X509_add_ext(certificate, extension, -1);
      X509_EXTENSION_free(extension);
    }
  }
  X509_sign(certificate, key, EVP_sha256());
  result.certificatePath = result.directory->Path() + "/cert.pem";
  result.keyPath = result.directory->Path() + "/key.pem";
  FILE* out = std::fopen(result.certificatePath.c_str(), "wb");
  PEM_write_X509(out, certificate);
  std::fclose(out);
  out = std::fopen(result.keyPath.c_str(), "wb");
  PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(out);
  X509_free(certificate);
  EVP_PKEY_free(key);
  return result;
}

HttpServer::HttpServer(const Routes& routes) {
  m_server = std::make_unique<httplib::Server>();
  Start(routes);
}

HttpServer::HttpServer(const Certificate& certificate, const Routes& routes) {
  m_server = std::make_unique<httplib::SSLServer>(certificate.certificatePath.c_str(), certificate.keyPath.c_str());
  Start(routes);
}

void HttpServer::Start(const Routes& routes) {
  routes(*m_server);
  m_port = m_server->bind_to_any_port("127.0.0.1");
  if (m_port <= 0) throw std::runtime_error("httplib could not bind");
  m_thread = std::thread([this] { m_server->listen_after_bind(); });
  // cpp-httplib 0.11 has no readiness wait; the socket already listens, so connections queue
  // until the loop accepts them.
  while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::string HttpRequestSeen::Header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
      return value;
  return {};
}

namespace {

HttpServer::Routes RoutesOf(const SimpleHandler& handler) {
  return [handler](httplib::Server& server) {
    const auto answer = [handler](const httplib::Request& request, httplib::Response& response) {
      HttpRequestSeen seen;
      seen.method = request.method;
      seen.path = request.path;
      const size_t query = request.target.find('?');
      if (query != std::string::npos) seen.query = request.target.substr(query + 1);
      for (const auto& [name, value] : request.headers) seen.headers.emplace(name, value);
      seen.body = request.body;
      const HttpAnswer reply = handler(seen);
      response.status = reply.status;
      for (const auto& [name, value] : reply.headers) response.set_header(name.c_str(), value);
      response.set_content(reply.body, reply.contentType.c_str());
    };
    const std::string any = ".*";
    server.Get(any, answer);
    server.Post(any, answer);
    server.Put(any, answer);
    server.Delete(any, answer);
    server.Options(any, answer);
    server.Patch(any, answer);
  };
}

}  // namespace

HttpServer::HttpServer(const SimpleHandler& handler) : HttpServer(RoutesOf(handler)) {}
HttpServer::HttpServer(const Certificate& certificate, const SimpleHandler& handler)
    : HttpServer(certificate, RoutesOf(handler)) {}

HttpServer::~HttpServer() {
  m_server->stop();
  m_thread.join();
}

int UnusedPort() {
  int port = 0;
  ::close(ListenOnLoopback(port));
  return port;
}

Tinyproxy::Tinyproxy(const std::string& user, const std::string& password) {
  m_port = UnusedPort();
  std::string config = "Port " + std::to_string(m_port) +
                       "\nListen 127.0.0.1\nTimeout 10\nMaxClients 20\nAllow 127.0.0.1\n"
                       "DisableViaHeader Yes\nLogLevel Critical\n";
  if (!user.empty()) config += "BasicAuth " + user + " " + password + "\n";
  const std::string path = m_directory.Write("tinyproxy.conf", config);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execlp("tinyproxy", "tinyproxy", "-d", "-c", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid < 0) {
    m_error = "fork failed";
    m_port = 0;
    return;
  }
  m_pid = pid;
  // Ready once it accepts a connection.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_error = "tinyproxy ended at start (is it installed?)";
      m_pid = -1;
      m_port = 0;
      return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(m_port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (connected) return;
    if (std::chrono::steady_clock::now() > deadline) {
      m_error = "tinyproxy did not start listening";
      m_port = 0;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Tinyproxy::~Tinyproxy() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  int status = 0;
  ::waitpid(m_pid, &status, 0);
}

std::string HttpResponse(const std::string& statusLine, const std::vector<std::string>& headers,
                         const std::string& body) {
  std::string out = statusLine + "\r\n";
  for (const std::string& header : headers) out += header + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  return out + body;
}

}  // namespace qv::test
