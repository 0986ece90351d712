// HTTPS and certificate flags, named proxies (a real tinyproxy), credentials, redirects and
// cookies, handle rules, repainting while a call waits, and leaks over many requests.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/test_servers.h"
#include "platform/ui/ui.h"
#include "platform/winhttp/winhttp.h"
#include "winhttp_support.h"

namespace win {
namespace {

using qv::test::Certificate;
using qv::test::CertificateOptions;
using qv::test::HttpResponse;
using qv::test::HttpServer;
using qv::test::MakeSelfSignedCertificate;
using qv::test::RawReply;
using qv::test::RawServer;
using qv::test::Tinyproxy;
using test::Exchange;
using test::Outcome;
using test::Perform;
using test::Utf16;

constexpr DWORD kAcceptAnyCertificate = 0x3300;

std::string Local(int port, const std::string& rest = "/") { return "127.0.0.1:" + std::to_string(port) + rest; }

const qv::test::SimpleHandler Hello = [](const qv::test::HttpRequestSeen& request) {
  return qv::test::HttpAnswer{200, {}, "hello " + request.Header("authorization")};
};

struct CertificateRow {
  const char* name;
  CertificateOptions options;
  DWORD flags;
  DWORD error;  // from the send; 0 when the exchange succeeds
};

TEST(WinHttpTls, CertificatesAreCheckedUnlessTheFlagsForgiveTheirFault) {
  CertificateOptions expired;
  expired.validFromSeconds = -7200;
  expired.validToSeconds = -3600;
  CertificateOptions otherName;
  otherName.commonName = "elsewhere.test";
  otherName.dnsNames = {"elsewhere.test"};
  otherName.ipAddresses = {};
  const CertificateRow rows[] = {
      {"self-signed, no flags", {}, 0, ERROR_WINHTTP_SECURE_FAILURE},
      {"self-signed, unknown authority forgiven", {}, SECURITY_FLAG_IGNORE_UNKNOWN_CA, 0},
      {"self-signed, only the date forgiven", {}, SECURITY_FLAG_IGNORE_CERT_DATE_INVALID, ERROR_WINHTTP_SECURE_FAILURE},
      {"expired, authority forgiven", expired, SECURITY_FLAG_IGNORE_UNKNOWN_CA, ERROR_WINHTTP_SECURE_FAILURE},
      {"expired, authority and date forgiven", expired,
       SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID, 0},
      {"wrong name, authority forgiven", otherName, SECURITY_FLAG_IGNORE_UNKNOWN_CA, ERROR_WINHTTP_SECURE_FAILURE},
      {"wrong name, everything forgiven", otherName, kAcceptAnyCertificate, 0},
      {"expired with another name, everything forgiven", [] {
         CertificateOptions o;
         o.commonName = "x.test";
         o.dnsNames = {"x.test"};
         o.ipAddresses = {};
         o.validToSeconds = -60;
         return o;
       }(), kAcceptAnyCertificate, 0},
  };
  for (const CertificateRow& row : rows) {
    SCOPED_TRACE(row.name);
    const Certificate certificate = MakeSelfSignedCertificate(row.options);
    HttpServer server(certificate, Hello);
    Exchange x;
    x.url = Utf16("https://" + Local(server.Port(), "/hello"));
    x.securityFlags = row.flags;
    const Outcome out = Perform(x);
    if (row.error) {
      EXPECT_EQ(out.failedStep, "send");
      EXPECT_EQ(out.error, row.error);
    } else {
      EXPECT_EQ(out.failedStep, "") << out.error;
      EXPECT_EQ(out.body, "hello ");
    }
  }
}

TEST(WinHttpProxy, NamedProxiesCarryPlainAndSecureRequestsWithCredentials) {
  Tinyproxy open;
  Tinyproxy guarded("pu", "pp");
  ASSERT_TRUE(open.Running()) << open.Error();
  ASSERT_TRUE(guarded.Running()) << guarded.Error();
  HttpServer plain(Hello);
  const Certificate certificate = MakeSelfSignedCertificate();
  HttpServer secure(certificate, Hello);

  Exchange x;
  x.serverUser = u"su";
  x.serverPassword = u"sp";
  // A plain address through the per-scheme list entry.
  x.url = Utf16("http://" + Local(plain.Port(), "/hello"));
  x.proxy = Utf16("http=" + Local(open.Port(), ""));
  Outcome out = Perform(x);
  ASSERT_EQ(out.failedStep, "") << out.error;
  EXPECT_EQ(out.body, "hello Basic c3U6c3A=");
  // A secure address through the plain host:port form (a CONNECT tunnel).
  x.url = Utf16("https://" + Local(secure.Port(), "/hello"));
  x.proxy = Utf16(Local(open.Port(), ""));
  x.securityFlags = kAcceptAnyCertificate;
  out = Perform(x);
  ASSERT_EQ(out.failedStep, "") << out.error;
  EXPECT_EQ(out.body, "hello Basic c3U6c3A=");
  // A list with only an http entry does not apply to a secure address: that one goes direct.
  x.proxy = u"http=127.0.0.1:1";
  out = Perform(x);
  ASSERT_EQ(out.failedStep, "") << out.error;

  // The guarded proxy answers 407 without credentials and passes the request with them.
  for (const std::string scheme : {"http", "https"}) {
    SCOPED_TRACE(scheme);
    x.url = Utf16(scheme + "://" + Local(scheme == "http" ? plain.Port() : secure.Port(), "/hello"));
    x.proxy = Utf16(Local(guarded.Port(), ""));
    x.proxyUser.clear();
    out = Perform(x);
    if (scheme == "http") {
      ASSERT_EQ(out.failedStep, "");
      EXPECT_EQ(out.headers.substr(8, 4), " 407");  // tinyproxy answers in HTTP/1.0
    } else {
      EXPECT_NE(out.failedStep, "");  // the tunnel is refused
    }
    x.proxyUser = u"pu";
    x.proxyPassword = u"pp";
    out = Perform(x);
    ASSERT_EQ(out.failedStep, "") << out.error;
    EXPECT_EQ(out.body, "hello Basic c3U6c3A=");
  }
}

TEST(WinHttpRedirect, PostBecomesGetOn300To303AndIsRepeatedOn307And308) {
  for (const int status : {300, 301, 302, 303, 307, 308}) {
    SCOPED_TRACE(status);
    RawServer server([status](const std::string&, size_t i) {
      if (i == 0)
        return RawReply{{HttpResponse("HTTP/1.1 " + std::to_string(status) + " Moved", {"Location: /next?x=1"}, "old")}};
      return RawReply{{HttpResponse("HTTP/1.1 200 OK", {"X-Final: yes"}, "new")}};
    });
    Exchange x;
    x.url = Utf16("http://" + Local(server.Port(), "/first"));
    x.verb = u"POST";
    x.headers = u"Content-Type: text/plain\r\n";
    x.body = "data";
    const Outcome out = Perform(x);
    ASSERT_EQ(out.failedStep, "") << out.error;
    EXPECT_EQ(out.body, "new");
    EXPECT_EQ(out.headers, "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 3\r\n\r\n");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string host = "Host: " + Local(server.Port(), "") + "\r\n";
    if (status <= 303)
      EXPECT_EQ(requests[1], "GET /next?x=1 HTTP/1.1\r\n" + host + "Connection: Keep-Alive\r\nContent-Type: text/plain\r\n\r\n");
    else
      EXPECT_EQ(requests[1], "POST /next?x=1 HTTP/1.1\r\n" + host +
                                 "Connection: Keep-Alive\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\ndata");
  }
}

TEST(WinHttpRedirect, TenHopsAreFollowedAndTheEleventhFails) {
  for (const int hops : {10, 11}) {
    SCOPED_TRACE(hops);
    RawServer server([hops](const std::string&, size_t i) {
      if (static_cast<int>(i) < hops)
        return RawReply{{HttpResponse("HTTP/1.1 302 Found", {"Location: /" + std::to_string(i + 1)}, "")}};
      return RawReply{{HttpResponse("HTTP/1.1 200 OK", {}, "end")}};
    });
    Exchange x;
    x.url = Utf16("http://" + Local(server.Port(), "/0"));
    const Outcome out = Perform(x);
    if (hops == 10) {
      EXPECT_EQ(out.failedStep, "") << out.error;
      EXPECT_EQ(out.body, "end");
    } else {
      EXPECT_EQ(out.failedStep, "receive");
      EXPECT_EQ(out.error, ERROR_WINHTTP_REDIRECT_FAILED);
    }
  }
}

TEST(WinHttpRedirect, DisabledRedirectsAndSecureToPlainReturnTheRedirectItself) {
  RawServer target(HttpResponse("HTTP/1.1 200 OK", {}, "target"));
  const std::string location = "Location: http://" + Local(target.Port(), "/t");
  RawServer plain(HttpResponse("HTTP/1.1 302 Found", {location}, "moved"));
  Exchange x;
  x.url = Utf16("http://" + Local(plain.Port()));
  x.disableRedirects = true;
  Outcome out = Perform(x);
  ASSERT_EQ(out.failedStep, "") << out.error;
  EXPECT_EQ(out.headers, "HTTP/1.1 302 Found\r\n" + location + "\r\nContent-Length: 5\r\n\r\n");
  EXPECT_EQ(out.body, "moved");

  const Certificate certificate = MakeSelfSignedCertificate();
  HttpServer secure(certificate, [&](httplib::Server& server) {
    server.Get("/", [&](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("http://" + Local(target.Port(), "/t"));
    });
  });
  x.url = Utf16("https://" + Local(secure.Port()));
  x.disableRedirects = false;
  x.securityFlags = kAcceptAnyCertificate;
  out = Perform(x);
  ASSERT_EQ(out.failedStep, "") << out.error;
  EXPECT_EQ(out.headers.substr(0, 13), "HTTP/1.1 302 ");
  EXPECT_TRUE(target.Requests().empty());
}

TEST(WinHttpRedirect, CookiesSetOnARedirectComeBackOnlyWhenCookiesAreEnabled) {
  for (const bool disable : {false, true}) {
    SCOPED_TRACE(disable);
    RawServer server([](const std::string&, size_t i) {
      if (i == 0) return RawReply{{HttpResponse("HTTP/1.1 302 Found", {"Set-Cookie: sid=42; Path=/", "Location: /b"}, "")}};
      return RawReply{{HttpResponse("HTTP/1.1 200 OK", {}, "ok")}};
    });
    Exchange x;
    x.url = Utf16("http://" + Local(server.Port(), "/a"));
    x.disableCookies = disable;
    ASSERT_EQ(Perform(x).failedStep, "");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].find("Cookie: sid=42") != std::string::npos, !disable) << requests[1];
  }
}

TEST(WinHttpRedirect, CredentialsAndTheCallersHostStayWithTheirOrigin) {
  RawServer other(HttpResponse("HTTP/1.1 200 OK", {}, "other"));
  RawServer first(HttpResponse("HTTP/1.1 302 Found", {"Location: http://" + Local(other.Port(), "/")}, ""));
  Exchange x;
  x.url = Utf16("http://" + Local(first.Port()));
  x.headers = u"Host: named.test\r\n";
  x.serverUser = u"u";
  x.serverPassword = u"p";
  ASSERT_EQ(Perform(x).failedStep, "");
  EXPECT_EQ(first.Requests().at(0),
            "GET / HTTP/1.1\r\nHost: named.test\r\nAuthorization: Basic dTpw\r\nConnection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(other.Requests().at(0),
            "GET / HTTP/1.1\r\nHost: " + Local(other.Port(), "") + "\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST(WinHttpHandles, BadHandlesAndCallsOutOfOrderFailWithTheirCodes) {
  const auto expect = [](BOOL ok, DWORD error) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), error);
  };
  expect(WinHttpCloseHandle(nullptr), ERROR_INVALID_HANDLE);
  HINTERNET session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, u"", nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  expect(WinHttpSetTimeouts(session, -2, 0, 0, 0), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(WinHttpSetTimeouts(session, -1, 0, -1, 5));
  HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", 1, 0);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(WinHttpConnect(connection, u"h", 80, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(WinHttpOpenRequest(connection, u"GET X", u"/", nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  HINTERNET request = WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(request, nullptr);
  DWORD value = 1, read = 0;
  expect(WinHttpSetOption(session, WINHTTP_OPTION_SECURITY_FLAGS, &value, sizeof value),
         ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
  expect(WinHttpSetOption(request, 12345, &value, sizeof value), ERROR_WINHTTP_INVALID_OPTION);
  expect(WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &value, 2), ERROR_INSUFFICIENT_BUFFER);
  expect(WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_SERVER, 2, u"u", u"p", nullptr), ERROR_INVALID_PARAMETER);
  expect(WinHttpReceiveResponse(request, nullptr), ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  expect(WinHttpQueryDataAvailable(request, &value), ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  expect(WinHttpReadData(request, &value, 4, &read), ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  expect(WinHttpSendRequest(request, nullptr, 0, &value, 4, 8, 0), ERROR_INVALID_PARAMETER);
  // Closing the parents first keeps the request usable until it is closed itself.
  EXPECT_TRUE(WinHttpCloseHandle(session));
  EXPECT_TRUE(WinHttpCloseHandle(connection));
  expect(WinHttpCloseHandle(connection), ERROR_INVALID_HANDLE);
  expect(WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0), ERROR_WINHTTP_CANNOT_CONNECT);
  expect(WinHttpReceiveResponse(request, nullptr), ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  EXPECT_TRUE(WinHttpCloseHandle(request));
  expect(WinHttpAddRequestHeaders(request, u"A: b", static_cast<DWORD>(-1), 0), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WinHttpOpenHandleCount(), 0u);
}

// A widget that counts its paint events.
class PaintCounter : public QWidget {
 public:
  int paints = 0;
  int keys = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
  void keyPressEvent(QKeyEvent*) override { ++keys; }
};

TEST(WinHttpWaiting, PaintsAreProcessedWhileACallWaitsAndInputWaitsForLater) {
  InitialiseApplication();
  PaintCounter widget;
  widget.resize(50, 50);
  widget.show();
  ProcessPendingMessages();
  RawServer slow([](const std::string&, size_t) { return RawReply{{HttpResponse("HTTP/1.1 200 OK", {}, "x")}, RawReply::Then::Close, 400}; });
  const int before = widget.paints;
  widget.update();
  QCoreApplication::postEvent(&widget, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
  Exchange x;
  x.url = Utf16("http://" + Local(slow.Port()));
  ASSERT_EQ(Perform(x).failedStep, "");
  EXPECT_GT(widget.paints, before);  // repainted during the call, with nothing else dispatched
  EXPECT_EQ(widget.keys, 0);
  ProcessPendingMessages();
  EXPECT_EQ(widget.keys, 1);
  // Without the hook nothing is dispatched while the call waits.
  const WinHttpWaitHook hook = SetWinHttpWaitHook(nullptr);
  const int painted = widget.paints;
  widget.update();
  ASSERT_EQ(Perform(x).failedStep, "");
  EXPECT_EQ(widget.paints, painted);
  SetWinHttpWaitHook(hook);
  ProcessPendingMessages();
}

size_t OpenFileDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

long ResidentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * 4;
}

TEST(WinHttpResources, AThousandRequestsLeaveNothingBehind) {
  RawServer server([](const std::string&, size_t) {
    return RawReply{{HttpResponse("HTTP/1.1 200 OK", {"Set-Cookie: a=b"}, std::string(2048, 'b'))}};
  });
  Exchange x;
  x.url = Utf16("http://" + Local(server.Port(), "/path?q=1"));
  x.verb = u"POST";
  x.headers = u"Content-Type: application/x-www-form-urlencoded\r\nX-Test: 1\r\n";
  x.body = "a=1&b=2";
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Perform(x).failedStep, "");  // warm-up: caches and allocator pools
  const size_t descriptors = OpenFileDescriptors();
  [[maybe_unused]] const long resident = ResidentKilobytes();
  for (int i = 0; i < 1000; ++i) {
    const Outcome out = Perform(x);
    ASSERT_EQ(out.failedStep, "") << i << " " << out.error;
    ASSERT_EQ(out.body.size(), 2048u);
  }
  EXPECT_EQ(WinHttpOpenHandleCount(), 0u);
  EXPECT_LE(OpenFileDescriptors(), descriptors + 1);  // the server may still be closing its last socket
#ifndef __SANITIZE_ADDRESS__
  // AddressSanitizer keeps freed memory in quarantine, so resident memory says nothing there; its
  // leak checker covers that build instead.
  EXPECT_LT(ResidentKilobytes() - resident, 4096);
#endif
}

}  // namespace
}  // namespace win
