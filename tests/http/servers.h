// The servers of the WebRequest tests, over the shared test servers of common/test_servers.h. That
// header brings in cpp-httplib and <chrono>, which a file compiled for GBK texts cannot include, so
// the servers are started behind this plain interface from a UTF-8 file (servers.cpp), which also
// does the one thing the tests need from Qt.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qvtest::http_servers {

// A server on 127.0.0.1 that serves until it is destroyed.
class Server {
 public:
  virtual ~Server() = default;
  virtual int Port() const = 0;
  // The bytes of each request received, for the servers that record them.
  virtual std::vector<std::string> Requests() const { return {}; }
};

// What a raw server sends for one request: the parts in order, pauseMs apart, then what it does
// with the connection.
struct Reply {
  enum class Then { Close, Reset, Hang };
  std::vector<std::string> parts = {};
  Then then = Then::Close;
  int pauseMs = 0;
};
using Handler = std::function<Reply(const std::string& request, size_t index)>;

// Records each request and answers with the bytes given, or the handler's reply.
std::unique_ptr<Server> Raw(std::string reply);
std::unique_ptr<Server> Raw(Handler handler);

enum class CertificateKind { Valid, WrongName, Expired };
// HTTPS with a self-signed certificate of that kind: POST /secure answers "got " and the body.
std::unique_ptr<Server> HttpsEcho(CertificateKind kind);
// GET /private answers "secret" to the basic credentials user:pass and 401 to anything else.
std::unique_ptr<Server> BasicAuth();
// tinyproxy that asks for these basic credentials; null, with *error set, when it cannot start.
std::unique_ptr<Server> Proxy(const std::string& user, const std::string& password, std::string* error);

int UnusedPort();

// Queues a callback on the thread's event queue (the application object must exist) and returns
// a reader of how often it has run.
std::function<int()> QueueCountingCallback();
// A complete HTTP/1.1 response with a Content-Length body.
std::string HttpResponse(const std::string& statusLine, const std::vector<std::string>& headers,
                         const std::string& body);

}  // namespace qvtest::http_servers
