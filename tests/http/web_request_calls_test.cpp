// WebRequest's calls into WinHttp, seen through the recording module: the exact argument values,
// the 7xx message of each failing step, and the three handles closed on every path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "exchange.h"
#include "winhttp_spy.h"

namespace quorvane {
namespace {

using qvtest::Gbk;
using Words = std::vector<intptr_t>;
namespace spy = qvtest::winhttp_spy;

spy::Call Only(const char* name) {
  const auto calls = spy::CallsNamed(name);
  return calls.size() == 1 ? calls[0] : spy::Call{};
}

// The handles closed, in order, and request, connection, session as they were opened (0 for one
// never opened).
Words ClosedHandles() {
  Words out;
  for (const spy::Call& call : spy::CallsNamed("WinHttpCloseHandle")) out.push_back(call.words[0]);
  return out;
}
Words OpenedHandles() {
  return {spy::LastResult("WinHttpOpenRequest"), spy::LastResult("WinHttpConnect"), spy::LastResult("WinHttpOpen")};
}

std::vector<std::pair<uint32_t, uint32_t>> Options() {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const spy::Call& call : spy::CallsNamed("WinHttpSetOption"))
    out.emplace_back(static_cast<uint32_t>(call.words[1]), call.optionValue);
  return out;
}

// Runs a request whose sending is made to fail, so that nothing reaches the network.
void RunUntilSending(const char* url, WebRequestArguments a) {
  spy::Reset();
  spy::FailCall("WinHttpSendRequest");
  qv::OwnedText status;
  a.statusText = &status;
  WebRequest(url, a);
  ASSERT_EQ(Gbk(status.c_str()), Gbk("711 发送请求失败!")) << url;
}

TEST(WebRequestCalls, EachFailingStepHasItsMessageAndClosesAllHandles) {
  struct Row {
    const char* failing;
    int occurrence;
    const char* message;
    WebRequestArguments arguments;
  };
  const Row rows[] = {
      {"WinHttpCheckPlatform", 1, "700 当前系统不支持WinHttp服务!", {}},
      {"WinHttpCrackUrl", 1, "701 解析URL地址失败!", {}},
      {"WinHttpOpen", 1, "702 创建WinHttp会话失败!", {}},
      {"WinHttpSetTimeouts", 1, "705 设置超时时间失败!", {}},
      {"WinHttpConnect", 1, "703 创建WinHttp连接失败!", {}},
      {"WinHttpOpenRequest", 1, "704 创建WinHttp请求失败!", {}},
      {"WinHttpSetCredentials", 1, "707 设置代理凭证失败!", {.serverUser = "u", .serverPassword = "p"}},
      {"WinHttpSetCredentials", 1, "707 设置代理凭证失败!", {.proxyUser = "u", .proxyPassword = "p"}},
      {"WinHttpSetOption", 1, "忽略错误/证书错误  失败！", {}},
      {"WinHttpSetOption", 2, "708 禁止自动设置Cookies失败!", {}},
      {"WinHttpSetOption", 3, "709 重定向设置失败!", {.disableRedirect = true}},
      {"WinHttpAddRequestHeaders", 1, "710 设置协议头失败!", {}},
      {"WinHttpSendRequest", 1, "711 发送请求失败!", {}},
      {"WinHttpReceiveResponse", 1, "712 服务器未响应!", {}},
  };
  for (const Row& r : rows) {
    spy::Reset();
    spy::FailCall(r.failing, r.occurrence);
    // Sending seems to succeed in the rows that fail elsewhere: nothing reaches the network.
    if (std::string(r.failing) != "WinHttpSendRequest") spy::ReturnInstead("WinHttpSendRequest", 1, 1);
    Exchange e;
    e.sendCookies = qv::OwnedText::Copy("s=1");
    e.receivedCookies = qv::OwnedText::Copy("r=1");
    e.Run("http://127.0.0.1:9/x", r.arguments);
    EXPECT_TRUE(e.result.empty()) << r.message;
    EXPECT_EQ(Gbk(e.status.c_str()), Gbk(r.message));
    // The other outputs keep their values.
    EXPECT_EQ(Gbk(std::string(e.headers.view()) + e.location.c_str() + std::string(e.bytes.bytes()) +
                  e.sendCookies.c_str() + e.receivedCookies.c_str()),
              Gbk("nonenonenones=1r=1"))
        << r.message;
    EXPECT_EQ(ClosedHandles(), OpenedHandles()) << r.message;
    EXPECT_EQ(spy::CallNames().back(), "WinHttpCloseHandle") << r.message;
  }
  // Addresses the service cannot crack.
  for (const char* url : {"", "ftp://127.0.0.1/", "127.0.0.1/x", "http://"}) {
    spy::Reset();
    Exchange e;
    e.Run(url);
    EXPECT_EQ(Gbk(e.status.c_str()), Gbk("701 解析URL地址失败!")) << url;
    EXPECT_EQ(ClosedHandles(), (Words{0, 0, 0})) << url;
  }
}

TEST(WebRequestCalls, PlainAddressWithDefaults) {
  RunUntilSending("http://127.0.0.1:9", {});
  EXPECT_EQ(spy::CallNames(),
            (std::vector<std::string>{"WinHttpCheckPlatform", "WinHttpCrackUrl", "WinHttpOpen", "WinHttpSetTimeouts",
                                      "WinHttpConnect", "WinHttpOpenRequest", "WinHttpSetOption", "WinHttpSetOption",
                                      "WinHttpAddRequestHeaders", "WinHttpSendRequest", "WinHttpCloseHandle",
                                      "WinHttpCloseHandle", "WinHttpCloseHandle"}));
  const spy::Call crack = Only("WinHttpCrackUrl");
  EXPECT_EQ(crack.texts[0], u"http://127.0.0.1:9");
  EXPECT_EQ(crack.words[1], 18);
  EXPECT_EQ(crack.words[2], 0);
  const spy::Call open = Only("WinHttpOpen");
  EXPECT_EQ(open.words, (Words{0, 1, open.words[2], 0, 0}));  // no agent, no proxy, no bypass list
  EXPECT_EQ(open.texts[1], u"");
  const Words timeouts = Only("WinHttpSetTimeouts").words;
  EXPECT_EQ(timeouts, (Words{timeouts[0], 30000, 30000, 30000, 30000}));
  const spy::Call connect = Only("WinHttpConnect");
  EXPECT_EQ(connect.texts[0], u"127.0.0.1");
  EXPECT_EQ(connect.words[2], 9);
  const spy::Call request = Only("WinHttpOpenRequest");
  EXPECT_EQ(request.texts[0], u"GET");
  EXPECT_EQ(request.texts[1], u"/");
  EXPECT_EQ(request.words, (Words{request.words[0], request.words[1], request.words[2], 0, 0, 0, 0}));
  EXPECT_EQ(Options(), (std::vector<std::pair<uint32_t, uint32_t>>{{31, 0x3300}, {63, 1}}));
  const spy::Call headers = Only("WinHttpAddRequestHeaders");
  const std::u16string block =
      u"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
      u"Accept: text/html, application/xhtml+xml, */*\r\nAccept-Encoding: gbk, GB2312\r\n"
      u"Accept-Language: zh-cn\r\nCache-Control: no-cache";
  EXPECT_EQ(headers.texts[0], block);
  EXPECT_EQ(headers.words[2], static_cast<intptr_t>(block.size()));
  EXPECT_EQ(headers.words[3], 0x20000000);
  const spy::Call send = Only("WinHttpSendRequest");
  EXPECT_EQ(send.words, (Words{send.words[0], 0, 0, 0, 0, 0, 0}));
}

TEST(WebRequestCalls, SecureAddressProxyCredentialsCookiesAndBody) {
  static const char kBody[] = "a=1&b=\xB4\xF0";
  const qv::OwnedByteSet bytes = qv::OwnedByteSet::Copy(std::string_view("\x01\x00\x02", 3));
  qv::OwnedText cookies = qv::OwnedText::Copy("k=v");
  struct Row {
    const char* url;
    WebRequestArguments arguments;
    std::u16string object;
    Words open;  // access type, then the connection's port, the time limit, the request's flags
    std::u16string proxyName;
    std::vector<std::pair<uint32_t, uint32_t>> options;
    size_t credentials;
    std::string_view body;
  };
  const Row rows[] = {
      {"https://Host.example:8443/a?b=1",
       {.method = 1, .postText = kBody, .sendCookies = &cookies, .disableRedirect = true, .serverUser = "u",
        .serverPassword = "p", .proxy = "p:3128", .proxyUser = "pu", .timeoutSeconds = 5},
       u"/a?b=1", {3, 8443, 5000, 0x800000}, u"p:3128", {{31, 0x3300}, {79, 1}, {63, 2}}, 1, kBody},
      {"http://127.0.0.1:9/p%20q/r?s=t&u", {.method = 3, .proxy = "p:3128", .timeoutSeconds = -3, .postBytes = bytes.view()},
       u"/p%20q/r?s=t&u", {3, 9, 30000, 0}, u"http=p:3128", {{31, 0x3300}, {63, 1}}, 0, bytes.bytes()},
      {"HTTPS://127.0.0.1", {.postText = "x", .proxyUser = "pu", .proxyPassword = "pp", .timeoutSeconds = 3000000},
       u"/", {1, 443, INT32_MAX, 0x800000}, u"", {{31, 0x3300}, {63, 1}}, 1, "x"},
  };
  for (const Row& r : rows) {
    RunUntilSending(r.url, r.arguments);
    const spy::Call request = Only("WinHttpOpenRequest");
    EXPECT_EQ((Words{Only("WinHttpOpen").words[1], Only("WinHttpConnect").words[2], Only("WinHttpSetTimeouts").words[3],
                     request.words[6]}),
              r.open)
        << r.url;
    EXPECT_EQ(Only("WinHttpOpen").texts[1], r.proxyName) << r.url;
    EXPECT_EQ(request.texts[1], r.object) << r.url;
    EXPECT_EQ(Options(), r.options) << r.url;
    EXPECT_EQ(spy::CallsNamed("WinHttpSetCredentials").size(), r.credentials) << r.url;
    const Words send = Only("WinHttpSendRequest").words;
    ASSERT_EQ(send[3] != 0, !r.body.empty()) << r.url;
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(send[3]), static_cast<size_t>(send[4])), r.body);
    EXPECT_EQ(send[5], send[4]);
  }
  // Credentials go with their targets and the basic scheme.
  RunUntilSending("http://127.0.0.1:9", {.serverUser = "su", .serverPassword = "sp", .proxyUser = "pu", .proxyPassword = "pp"});
  const auto credentials = spy::CallsNamed("WinHttpSetCredentials");
  ASSERT_EQ(credentials.size(), 2u);
  EXPECT_EQ(credentials[0].words, (Words{credentials[0].words[0], 0, 1, credentials[0].words[3], credentials[0].words[4], 0}));
  EXPECT_EQ(credentials[0].texts, (std::vector<std::u16string>{u"su", u"sp"}));
  EXPECT_EQ(credentials[1].words[1], 1);
  EXPECT_EQ(credentials[1].texts, (std::vector<std::u16string>{u"pu", u"pp"}));
  // The cookie line goes at the end of the block.
  RunUntilSending("http://127.0.0.1:9", {.sendCookies = &cookies, .extraHeaders = "a: 1", .completeHeaders = false});
  EXPECT_EQ(Only("WinHttpAddRequestHeaders").texts[0], u"A: 1\r\nCookie: k=v\r\n");
  EXPECT_EQ(Only("WinHttpAddRequestHeaders").words[2], 19);
}

TEST(WebRequestCalls, MethodTableAndEmptyHeaderBlock) {
  const char16_t* verbs[] = {u"GET", u"POST", u"HEAD", u"PUT", u"OPTIONS", u"DELETE", u"TRACE", u"CONNECT"};
  for (int32_t method = 0; method < 8; ++method) {
    RunUntilSending("http://127.0.0.1:9", {.method = method, .completeHeaders = false});
    EXPECT_EQ(Only("WinHttpOpenRequest").texts[0], verbs[method]);
    // Nothing to add: an empty NUL-terminated block.
    EXPECT_EQ(Only("WinHttpAddRequestHeaders").texts[0], u"");
    EXPECT_EQ(static_cast<uint32_t>(Only("WinHttpAddRequestHeaders").words[2]), 0xFFFFFFFFu);
  }
}

TEST(WebRequestDeathTest, MethodOutsideTheTableIsRuntimeError9) {
  for (int32_t method : {8, -1}) {
    EXPECT_EXIT(
        {
          qvtest::DismissBoxesAndReport();
          WebRequest("http://127.0.0.1:9/", {.method = method});
        },
        testing::ExitedWithCode(255), qvtest::Utf8(u8"错误代码：9"))
        << method;
  }
}

}  // namespace
}  // namespace quorvane
