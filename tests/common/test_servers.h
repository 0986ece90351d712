// Servers for network tests, all on 127.0.0.1 with ephemeral ports: a raw TCP server that records
// the request bytes and answers with scripted bytes (also misbehaving: resets, hangs, short bodies),
// well-formed HTTP and HTTPS servers over cpp-httplib, self-signed certificates made at test time,
// and a tinyproxy started with a generated configuration.
//
// The header does not include httplib (nor <chrono>, which cannot be compiled for GBK texts), so
// that tests built with GBK literals can use it: they describe answers with SimpleHandler. Tests
// compiled with UTF-8 literals may include <httplib.h> and set up routes on the server directly.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace qv::test {

// A directory under /tmp that is removed with everything in it when the owner goes.
class TempDirectory {
 public:
  TempDirectory();
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::string& Path() const { return m_path; }
  // Writes a file in the directory and returns its path.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string m_path;
};

// What the raw server does with one request.
struct RawReply {
  enum class Then {
    Close,     // close the connection normally
    KeepOpen,  // wait for the next request on the same connection
    Reset,     // abort the connection (the client sees a reset)
    Hang,      // keep the connection open and send nothing more until the server stops
  };
  std::vector<std::string> parts;  // sent in order, with pauseMs between them
  Then then = Then::Close;
  int delayMs = 0;  // before the first part
  int pauseMs = 0;
};

// Accepts connections one after the other; reads each request (header block and a body of its
// Content-Length), records its bytes and answers with the handler's reply. The handler gets the
// request bytes and the request's index across all connections.
class RawServer {
 public:
  using Handler = std::function<RawReply(const std::string& request, size_t index)>;
  explicit RawServer(Handler handler);
  // Answers every request with these bytes and closes.
  explicit RawServer(std::string reply);
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  int Port() const { return m_port; }
  std::vector<std::string> Requests() const;
  size_t ConnectionCount() const { return m_connections.load(); }

 private:
  void Serve();
  void ServeConnection(int fd);
  bool Stopping() const { return m_stop.load(); }

  Handler m_handler;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<size_t> m_connections{0};
  mutable std::mutex m_mutex;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

// A certificate and its key as PEM files, self-signed, for the given names.
struct CertificateOptions {
  std::string commonName = "localhost";
  std::vector<std::string> dnsNames{"localhost"};
  std::vector<std::string> ipAddresses{"127.0.0.1"};
  long validFromSeconds = -3600;  // relative to now
  long validToSeconds = 86400;
};
struct Certificate {
  std::shared_ptr<TempDirectory> directory;
  std::string certificatePath;
  std::string keyPath;
};
Certificate MakeSelfSignedCertificate(const CertificateOptions& options = {});

// One request as a SimpleHandler sees it, and its answer.
struct HttpRequestSeen {
  std::string method;
  std::string path;  // without the query
  std::string query;
  std::multimap<std::string, std::string> headers;  // names as sent
  std::string body;
  // The value of the first header with that name, letter case ignored; empty when missing.
  std::string Header(const std::string& name) const;
};
struct HttpAnswer {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string contentType = "text/plain";
};
using SimpleHandler = std::function<HttpAnswer(const HttpRequestSeen&)>;

// cpp-httplib on 127.0.0.1, plain or with TLS, serving until destroyed. Routes are set up before
// the server starts listening; a SimpleHandler answers every method and path.
class HttpServer {
 public:
  using Routes = std::function<void(httplib::Server&)>;
  explicit HttpServer(const Routes& routes);
  HttpServer(const Certificate& certificate, const Routes& routes);
  explicit HttpServer(const SimpleHandler& handler);
  HttpServer(const Certificate& certificate, const SimpleHandler& handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int Port() const { return m_port; }

 private:
  void Start(const Routes& routes);

  std::unique_ptr<httplib::Server> m_server;
  std::thread m_thread;
  int m_port = 0;
};

// tinyproxy from the system, on 127.0.0.1 and a free port, optionally with basic authentication.
class Tinyproxy {
 public:
  explicit Tinyproxy(const std::string& user = "", const std::string& password = "");
  ~Tinyproxy();
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  // False when tinyproxy could not be started; Error() says why.
  bool Running() const { return m_pid > 0 && m_port > 0; }
  const std::string& Error() const { return m_error; }
  int Port() const { return m_port; }

 private:
  TempDirectory m_directory;
  pid_t m_pid = -1;
  int m_port = 0;
  std::string m_error;
};

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
int UnusedPort();

// Bytes of a full HTTP/1.1 response with a Content-Length body.
std::string HttpResponse(const std::string& statusLine, const std::vector<std::string>& headers,
                         const std::string& body);

}  // namespace qv::test
