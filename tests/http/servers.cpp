#include "servers.h"

#include <QCoreApplication>
#include <QTimer>

#include "common/test_servers.h"

namespace qvtest::http_servers {
namespace {

class RawServer : public Server {
 public:
  template <typename Argument>
  explicit RawServer(Argument&& argument) : m_server(std::forward<Argument>(argument)) {}
  int Port() const override { return m_server.Port(); }
  std::vector<std::string> Requests() const override { return m_server.Requests(); }

 private:
  qv::test::RawServer m_server;
};

class HttpServer : public Server {
 public:
  template <typename... Arguments>
  explicit HttpServer(const Arguments&... arguments) : m_server(arguments...) {}
  int Port() const override { return m_server.Port(); }

 private:
  qv::test::HttpServer m_server;
};

class ProxyServer : public Server {
 public:
  ProxyServer(const std::string& user, const std::string& password) : m_proxy(user, password) {}
  int Port() const override { return m_proxy.Port(); }
  const qv::test::Tinyproxy& Proxy() const { return m_proxy; }

 private:
  qv::test::Tinyproxy m_proxy;
};

qv::test::RawReply::Then Convert(Reply::Then then) {
  switch (then) {
    case Reply::Then::Reset: return qv::test::RawReply::Then::Reset;
    case Reply::Then::Hang: return qv::test::RawReply::Then::Hang;
    case Reply::Then::Close: break;
  }
  return qv::test::RawReply::Then::Close;
}

}  // namespace

std::unique_ptr<Server> Raw(std::string reply) { return std::make_unique<RawServer>(std::move(reply)); }

std::unique_ptr<Server> Raw(Handler handler) {
  return std::make_unique<RawServer>(
      qv::test::RawServer::Handler([handler = std::move(handler)](const std::string& request, size_t index) {
        const Reply reply = handler(request, index);
        return qv::test::RawReply{.parts = reply.parts, .then = Convert(reply.then), .pauseMs = reply.pauseMs};
      }));
}

std::unique_ptr<Server> HttpsEcho(CertificateKind kind) {
  qv::test::CertificateOptions options;
  if (kind == CertificateKind::WrongName) {
    options.commonName = "other.example";
    options.dnsNames = {"other.example"};
    options.ipAddresses = {};
  } else if (kind == CertificateKind::Expired) {
    options.validFromSeconds = -86400 * 10;
    options.validToSeconds = -86400;
  }
  const qv::test::Certificate certificate = qv::test::MakeSelfSignedCertificate(options);
  return std::make_unique<HttpServer>(certificate, [](httplib::Server& server) {
    server.Post("/secure", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content("got " + request.body, "text/plain");
    });
  });
}

std::unique_ptr<Server> BasicAuth() {
  return std::make_unique<HttpServer>([](httplib::Server& server) {
    server.Get("/private", [](const httplib::Request& request, httplib::Response& response) {
      if (request.get_header_value("Authorization") != "Basic dXNlcjpwYXNz") {  // user:pass
        response.status = 401;
        response.set_header("WWW-Authenticate", "Basic realm=\"q\"");
        return;
      }
      response.set_content("secret", "text/plain");
    });
  });
}

std::unique_ptr<Server> Proxy(const std::string& user, const std::string& password, std::string* error) {
  auto proxy = std::make_unique<ProxyServer>(user, password);
  if (!proxy->Proxy().Running()) {
    *error = proxy->Proxy().Error();
    return nullptr;
  }
  return proxy;
}

int UnusedPort() { return qv::test::UnusedPort(); }

std::function<int()> QueueCountingCallback() {
  auto runs = std::make_shared<int>(0);
  QTimer::singleShot(0, QCoreApplication::instance(), [runs] { ++*runs; });
  return [runs] { return *runs; };
}

std::string HttpResponse(const std::string& statusLine, const std::vector<std::string>& headers,
                         const std::string& body) {
  return qv::test::HttpResponse(statusLine, headers, body);
}

}  // namespace qvtest::http_servers
