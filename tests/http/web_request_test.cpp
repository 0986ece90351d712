// WebRequest end to end against servers on 127.0.0.1: the request bytes on the wire, the outputs
// of well-formed and misbehaving exchanges, HTTPS with any certificate, a proxy, the charset step,
// and no handle, descriptor or memory left behind.
#include <gtest/gtest.h>

#include <dirent.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#include <time.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "exchange.h"
#include "http/code_pages.h"
#include "http/name_value_list.h"
#include "runtime/commands/command_front.h"
#include "common/test_servers.h"
#include "event_probe.h"
#include "winhttp_spy.h"

namespace quorvane {
namespace {

using qvtest::Gbk;
using qv::test::HttpResponse;
using qv::test::RawReply;
using qv::test::RawServer;
namespace spy = qvtest::winhttp_spy;

std::string Url(int port, const std::string& path = "/") { return "http://127.0.0.1:" + std::to_string(port) + path; }

class WebRequestTest : public testing::Test {
 protected:
  void SetUp() override { spy::Reset(); }
};

TEST_F(WebRequestTest, PostSendsTheAssembledRequestBytes) {
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {}, "{}"));
  NameValueList form;
  form.Add("chapter", "3");
  form.Add("course", "数学");
  NameValueList headers;
  headers.Add("content-type", "application/x-www-form-urlencoded");
  headers.Add("x-requested-with", "XMLHttpRequest");
  Exchange e;
  e.sendCookies = qv::OwnedText::Copy("a=1; b=2");
  e.Run(Url(server.Port(), "/vm/0/q a?x=1"),
        {.method = 1, .postText = form.ToFormText().c_str(), .extraHeaders = headers.ToHeaderText().c_str()});
  ASSERT_EQ(server.Requests().size(), 1u);
  // The service puts its own Host and Connection lines first and Content-Length last.
  const std::string expected =
      "POST /vm/0/q%20a?x=1 HTTP/1.1\r\n"
      "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
      "Connection: Keep-Alive\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\n"
      "X-Requested-With: XMLHttpRequest\r\n"
      "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
      "Accept: text/html, application/xhtml+xml, */*\r\n"
      "Accept-Encoding: gbk, GB2312\r\n"
      "Accept-Language: zh-cn\r\n"
      "Cache-Control: no-cache\r\n"
      "Cookie: a=1; b=2\r\n"
      "Content-Length: 21\r\n"
      "\r\n"
      "chapter=3&course=数学";
  EXPECT_EQ(Gbk(server.Requests()[0]), Gbk(expected));
  EXPECT_EQ(Gbk(e.status.c_str()), Gbk("200 OK"));
}

TEST_F(WebRequestTest, UnnormalisedBlockWithCookiesKeepsTheRequestWellFormed) {
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {}, ""));
  Exchange e;
  e.sendCookies = qv::OwnedText::Copy("a=1");
  // The block is "x-one: 1" CR LF, then CR LF "Cookie: a=1" CR LF: an empty line in the middle.
  e.Run(Url(server.Port(), "/"), {.extraHeaders = "x-one: 1", .completeHeaders = false, .normaliseHeaderNames = false});
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(Gbk(server.Requests()[0]), Gbk("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                                            "\r\nConnection: Keep-Alive\r\nx-one: 1\r\nCookie: a=1\r\n\r\n"));
  EXPECT_EQ(Gbk(e.status.c_str()), Gbk("200 OK"));
}

TEST_F(WebRequestTest, ResponseOutputs) {
  const std::string body = std::string("ab\0cd", 5);
  RawServer server(HttpResponse("HTTP/1.1 200 OK",
                                {"Set-Cookie: a=1; path=/", "Set-Cookie: b=2", "set-cookie: c=3", "location: /next",
                                 "X-Tail: t"},
                                body));
  Exchange e;
  e.receivedCookies = qv::OwnedText::Copy("z=0");
  e.Run(Url(server.Port()), {.mergeCookies = false});
  EXPECT_EQ(Gbk(e.status.c_str()), Gbk("200 OK"));
  EXPECT_EQ(e.bytes.bytes(), body);
  EXPECT_EQ(Gbk(e.result.c_str()), Gbk("ab"));
  EXPECT_EQ(Gbk(e.location.c_str()), Gbk("/next"));
  EXPECT_EQ(Gbk(e.receivedCookies.c_str()), Gbk("z=0a=1; b=2"));
  EXPECT_TRUE(e.sendCookies.empty());
  EXPECT_TRUE(e.headers.view().starts_with("HTTP/1.1 200 OK\r\n")) << e.headers.c_str();
  EXPECT_TRUE(e.headers.view().ends_with("X-Tail: t\r\nContent-Length: 5\r\n\r\n")) << e.headers.c_str();
}

TEST_F(WebRequestTest, PendingEventsAreProcessedDuringTheCall) {
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {"A: 1"}, "x"));
  qv::cmd::ProcessEvents();  // the application object exists from here on
  const auto runs = qvtest::QueueCountingCallback();
  Exchange e;
  e.Run(Url(server.Port()));
  EXPECT_EQ(runs(), 1);
}

TEST_F(WebRequestTest, CookiesMergeIntoBothVariables) {
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {"Set-Cookie: b=3; HttpOnly", "Set-Cookie: c=4", "Set-Cookie: d=deleted"}, ""));
  Exchange e;
  e.sendCookies = qv::OwnedText::Copy("a=1; b=2; d=5");
  e.Run(Url(server.Port()));
  EXPECT_EQ(Gbk(e.receivedCookies.c_str()), Gbk("b=3; c=4; a=1"));
  EXPECT_EQ(Gbk(e.sendCookies.c_str()), Gbk("b=3; c=4; a=1"));
  EXPECT_NE(server.Requests().at(0).find("\r\nCookie: a=1; b=2; d=5\r\n"), std::string::npos);
}

TEST_F(WebRequestTest, RedirectIsReportedNotFollowedWhenDisabled) {
  RawServer server(HttpResponse("HTTP/1.1 302 Found", {"Location: http://127.0.0.1:9/elsewhere"}, "moved"));
  Exchange e;
  e.Run(Url(server.Port(), "/old"), {.disableRedirect = true});
  EXPECT_EQ(Gbk(e.status.c_str()), Gbk("302 Found"));
  EXPECT_EQ(Gbk(e.location.c_str()), Gbk("http://127.0.0.1:9/elsewhere"));
  EXPECT_EQ(Gbk(e.result.c_str()), Gbk("moved"));
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(WebRequestTest, ResponseWithoutBody) {
  RawServer server(HttpResponse("HTTP/1.1 204 No Content", {}, ""));
  for (int32_t method : {0, 2}) {
    Exchange e;
    e.Run(Url(server.Port()), {.method = method});
    EXPECT_TRUE(e.bytes.empty()) << method;
    EXPECT_TRUE(e.result.empty()) << method;
    EXPECT_EQ(Gbk(e.status.c_str()), Gbk("204 No Content")) << method;
  }
}

TEST_F(WebRequestTest, CharsetStepEndToEnd) {
  const std::string utf8 = qvtest::Utf8(u8"答案");
  struct Row {
    std::string body;
    std::string expected;
  };
  const Row rows[] = {
      {"<p>答案</p>", "<p>答案</p>"},
      {"<meta charset=\"utf-8\">" + utf8, "<meta charset=\"utf-8\">答案"},
      {"<META http-equiv=Content-Type content=text/html;charset=UTF-8>" + utf8,
       "<META http-equiv=Content-Type content=text/html;charset=UTF-8>答案"},
      // Only the first 1024 bytes are searched.
      {std::string(1010, ' ') + "<meta charset=utf-8>" + utf8, std::string(1010, ' ') + "<meta charset=utf-8>" + utf8},
      // The exact GBK names keep the bytes, a broken last character included; any other spelling
      // goes through the stream, which turns that character into '?'.
      {"<meta content=\"text/html; charset=gb2312\">答\xB4", "<meta content=\"text/html; charset=gb2312\">答\xB4"},
      {"<meta charset='GBK'>答\xB4", "<meta charset='GBK'>答?"},
      {std::string("ab\0<meta charset=utf-8>", 23), "ab"},
  };
  for (const Row& r : rows) {
    RawServer server(HttpResponse("HTTP/1.1 200 OK", {"Content-Type: text/html; charset=gbk"}, r.body));
    Exchange e;
    e.Run(Url(server.Port()));
    EXPECT_EQ(e.bytes.bytes(), r.body);
    EXPECT_EQ(Gbk(e.result.c_str()), Gbk(r.expected));
  }
  // For a name it does not know the stream keeps its own character set, UTF-16LE: the bytes read as
  // UTF-16 units.
  const std::string body("<meta charset=x-unknown>\x41\x00\x42\x00", 28);
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {}, body));
  Exchange e;
  e.Run(Url(server.Port()));
  EXPECT_EQ(Gbk(e.result.c_str()), Gbk(Utf16ToGbk(e.bytes.view()).c_str()));
  EXPECT_TRUE(e.result.view().ends_with("AB")) << e.result.c_str();
}

TEST_F(WebRequestTest, HttpsAcceptsAnyCertificate) {
  const qv::test::CertificateOptions kinds[] = {
      {},
      {.commonName = "other.example", .dnsNames = {"other.example"}, .ipAddresses = {}},
      {.validFromSeconds = -86400 * 10, .validToSeconds = -86400},
  };
  for (const auto& kind : kinds) {
    qv::test::HttpServer server(qv::test::MakeSelfSignedCertificate(kind), [](const qv::test::HttpRequestSeen& request) {
      qv::test::HttpAnswer answer;
      answer.body = request.method + " " + request.path + " " + request.body;
      return answer;
    });
    Exchange e;
    e.Run("https://127.0.0.1:" + std::to_string(server.Port()) + "/secure", {.method = 1, .postText = "x=1"});
    EXPECT_EQ(Gbk(e.status.c_str()), Gbk("200 OK")) << kind.commonName;
    EXPECT_EQ(Gbk(e.result.c_str()), Gbk("POST /secure x=1")) << kind.commonName;
    EXPECT_EQ(static_cast<uint32_t>(spy::CallsNamed("WinHttpOpenRequest").back().words[6]), 0x800000u);
  }
}

TEST_F(WebRequestTest, ProxyAndCredentials) {
  qv::test::HttpServer server([](const qv::test::HttpRequestSeen& request) {
    qv::test::HttpAnswer answer;
    if (request.Header("Authorization") == "Basic dXNlcjpwYXNz") {  // user:pass
      answer.body = "secret";
    } else {
      answer.status = 401;
      answer.headers = {{"WWW-Authenticate", "Basic realm=\"q\""}};
    }
    return answer;
  });
  const std::string url = Url(server.Port(), "/private");
  Exchange direct;
  direct.Run(url, {.serverUser = "user", .serverPassword = "pass"});
  EXPECT_EQ(Gbk(direct.result.c_str()), Gbk("secret"));
  Exchange withoutPassword;
  withoutPassword.Run(url, {.serverUser = "user"});
  EXPECT_TRUE(withoutPassword.status.view().starts_with("401")) << withoutPassword.status.c_str();

  qv::test::Tinyproxy proxy("pu", "pp");
  ASSERT_TRUE(proxy.Running()) << proxy.Error();
  const std::string proxyAddress = "127.0.0.1:" + std::to_string(proxy.Port());
  Exchange proxied;
  proxied.Run(url, {.serverUser = "user", .serverPassword = "pass", .proxy = proxyAddress.c_str(), .proxyUser = "pu",
                    .proxyPassword = "pp"});
  EXPECT_EQ(Gbk(proxied.status.c_str()), Gbk("200 OK"));
  EXPECT_EQ(Gbk(proxied.result.c_str()), Gbk("secret"));
  Exchange refused;
  refused.Run(url, {.proxy = proxyAddress.c_str()});
  EXPECT_TRUE(refused.status.view().starts_with("407")) << refused.status.c_str();
}

RawReply Then(RawReply::Then then) {
  RawReply reply;
  reply.then = then;
  return reply;
}

TEST_F(WebRequestTest, MisbehavingServers) {
  {
    Exchange e;
    e.Run(Url(qv::test::UnusedPort()));
    EXPECT_EQ(Gbk(e.status.c_str()), Gbk("711 发送请求失败!"));
  }
  {
    RawServer reset([](const std::string&, size_t) { return Then(RawReply::Then::Reset); });
    Exchange e;
    e.Run(Url(reset.Port()));
    EXPECT_EQ(Gbk(e.status.c_str()), Gbk("712 服务器未响应!"));
    EXPECT_EQ(Gbk(e.headers.c_str()), Gbk("none"));
  }
  {
    RawServer hang([](const std::string&, size_t) { return Then(RawReply::Then::Hang); });
    Exchange e;
    const time_t start = time(nullptr);
    e.Run(Url(hang.Port()), {.timeoutSeconds = 1});
    EXPECT_LE(time(nullptr) - start, 4);
    EXPECT_EQ(Gbk(e.status.c_str()), Gbk("712 服务器未响应!"));
  }
}

TEST_F(WebRequestTest, ReadFailureKeepsWhatWasRead) {
  RawServer server([](const std::string&, size_t) {
    return RawReply{.parts = {"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nfirst", "rest"}, .pauseMs = 200};
  });
  spy::FailCall("WinHttpReadData", 2);
  Exchange e;
  e.Run(Url(server.Port()));
  EXPECT_EQ(Gbk(e.status.c_str()), Gbk("713 读取数据失败!"));
  EXPECT_EQ(e.bytes.bytes(), "first");
  EXPECT_EQ(Gbk(e.result.c_str()), Gbk("first"));
  EXPECT_TRUE(e.headers.view().starts_with("HTTP/1.1 200 OK\r\n"));
}

TEST_F(WebRequestTest, FailedHeaderQueryProducesNoOutputs) {
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {"Set-Cookie: a=1", "Location: /x"}, "body"));
  spy::FailCall("WinHttpQueryHeaders", 2);
  Exchange e;
  e.Run(Url(server.Port()));
  EXPECT_TRUE(e.result.empty());
  EXPECT_EQ(Gbk(e.status.c_str()), Gbk("none"));
  EXPECT_EQ(Gbk(e.headers.c_str()), Gbk("none"));
  EXPECT_EQ(Gbk(e.location.c_str()), Gbk("none"));
  EXPECT_EQ(e.bytes.bytes(), "none");
  EXPECT_TRUE(e.receivedCookies.empty());
  EXPECT_EQ(spy::CallsNamed("WinHttpCloseHandle").size(), 3u);
}

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

size_t ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmRSS:")) return std::stoull(line.substr(6)) * 1024;
  return 0;
}

TEST_F(WebRequestTest, ThousandRequestsLeaveNothingBehind) {
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {"Set-Cookie: s=1"}, std::string(4096, 'b')));
  const std::string url = Url(server.Port(), "/loop");
  auto once = [&] {
    qv::OwnedByteSet bytes;
    qv::OwnedText cookies = qv::OwnedText::Copy("c=1");
    const qv::OwnedText text =
        WebRequest(url.c_str(), {.method = 1, .postText = "q=1", .sendCookies = &cookies, .responseBytes = &bytes});
    return bytes.size() == 4096 && text.size() == 4096;
  };
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(once());
  spy::Reset();
  spy::SetRecording(false);
  const size_t descriptors = OpenDescriptors();
  const size_t resident = ResidentBytes();
  int succeeded = 0;
  for (int i = 0; i < 1000; ++i) succeeded += once();
  EXPECT_EQ(succeeded, 1000);
  EXPECT_EQ(OpenDescriptors(), descriptors);
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer holds freed blocks back in its quarantine, so the resident size says nothing
  // here; its leak check looks at the heap directly.
  (void)resident;
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#else
  EXPECT_LT(ResidentBytes(), resident + (size_t{4} << 20));
#endif
  // Every opened handle was closed.
  EXPECT_EQ(spy::CallCount("WinHttpCloseHandle"), 3000);
  EXPECT_EQ(spy::CallCount("WinHttpOpenRequest"), 1000);
}

}  // namespace
}  // namespace quorvane
