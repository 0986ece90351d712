// WebRequest's calls into WinHttp, seen through the recording module: the exact argument values,
// the 7xx message of each failing step, and the three handles closed on every path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "http/web_request.h"
#include "winhttp_spy.h"

namespace quorvane {
namespace {

using qvtest::Gbk;
namespace spy = qvtest::winhttp_spy;

// A port nothing listens on: every request here fails before or at sending.
constexpr const char* kClosedUrl = "http://127.0.0.1:9/x";

struct Sentinels {
  qv::OwnedText headers = qv::OwnedText::Copy("old headers");
  qv::OwnedText location = qv::OwnedText::Copy("old location");
  qv::OwnedText status = qv::OwnedText::Copy("old status");
  qv::OwnedByteSet bytes = qv::OwnedByteSet::Copy("old bytes");
  qv::OwnedText sent = qv::OwnedText::Copy("s=1");
  qv::OwnedText received = qv::OwnedText::Copy("r=1");
  WebRequestArguments Bind(WebRequestArguments a) {
    a.responseHeaders = &headers;
    a.location = &location;
    a.statusText = &status;
    a.responseBytes = &bytes;
    a.receivedCookies = &received;
    a.sendCookies = &sent;
    return a;
  }
};

// The handles WinHttpCloseHandle received, in order.
std::vector<intptr_t> ClosedHandles() {
  std::vector<intptr_t> out;
  for (const spy::Call& call : spy::CallsNamed("WinHttpCloseHandle")) out.push_back(call.words[0]);
  return out;
}

// Request, connection, session as they were opened (0 for one never opened).
std::vector<intptr_t> OpenedHandles() {
  return {spy::LastResult("WinHttpOpenRequest"), spy::LastResult("WinHttpConnect"), spy::LastResult("WinHttpOpen")};
}

class WebRequestCalls : public testing::Test {
 protected:
  void SetUp() override { spy::Reset(); }
};

TEST_F(WebRequestCalls, EachFailingStepHasItsMessageAndClosesAllHandles) {
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
    // No row reaches the network: sending fails, or seems to succeed when receiving is to fail.
    if (std::string(r.failing) != "WinHttpSendRequest") spy::ReturnInstead("WinHttpSendRequest", 1, 1);
    Sentinels s;
    const qv::OwnedText result = WebRequest(kClosedUrl, s.Bind(r.arguments));
    EXPECT_TRUE(result.empty()) << r.message;
    EXPECT_EQ(Gbk(s.status.c_str()), Gbk(r.message));
    EXPECT_EQ(Gbk(s.headers.c_str()), Gbk("old headers")) << r.message;
    EXPECT_EQ(Gbk(s.location.c_str()), Gbk("old location")) << r.message;
    EXPECT_EQ(s.bytes.bytes(), "old bytes") << r.message;
    EXPECT_EQ(Gbk(s.received.c_str()), Gbk("r=1")) << r.message;
    EXPECT_EQ(Gbk(s.sent.c_str()), Gbk("s=1")) << r.message;

    EXPECT_EQ(ClosedHandles(), OpenedHandles()) << r.message;
    EXPECT_EQ(spy::CallNames().back(), "WinHttpCloseHandle") << r.message;
  }
}

TEST_F(WebRequestCalls, AddressesTheServiceCannotCrackGive701) {
  for (const char* url : {"", "ftp://127.0.0.1/", "127.0.0.1/x", "http://"}) {
    spy::Reset();
    qv::OwnedText status;
    EXPECT_TRUE(WebRequest(url, {.statusText = &status}).empty()) << url;
    EXPECT_EQ(Gbk(status.c_str()), Gbk("701 解析URL地址失败!")) << url;
    EXPECT_EQ(ClosedHandles(), (std::vector<intptr_t>{0, 0, 0})) << url;
  }
}

// Runs a request whose sending is made to fail and returns the recorded calls.
void RunUntilSending(const char* url, const WebRequestArguments& arguments) {
  spy::Reset();
  spy::FailCall("WinHttpSendRequest");
  qv::OwnedText status;
  WebRequestArguments a = arguments;
  a.statusText = &status;
  WebRequest(url, a);
  ASSERT_EQ(Gbk(status.c_str()), Gbk("711 发送请求失败!")) << url;
}

std::vector<std::pair<uint32_t, uint32_t>> Options() {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const spy::Call& call : spy::CallsNamed("WinHttpSetOption"))
    out.emplace_back(static_cast<uint32_t>(call.words[1]), call.optionValue);
  return out;
}

TEST_F(WebRequestCalls, PlainAddressWithDefaults) {
  RunUntilSending("http://127.0.0.1:9", {});
  EXPECT_EQ(spy::CallNames(),
            (std::vector<std::string>{"WinHttpCheckPlatform", "WinHttpCrackUrl", "WinHttpOpen", "WinHttpSetTimeouts",
                                      "WinHttpConnect", "WinHttpOpenRequest", "WinHttpSetOption", "WinHttpSetOption",
                                      "WinHttpAddRequestHeaders", "WinHttpSendRequest", "WinHttpCloseHandle",
                                      "WinHttpCloseHandle", "WinHttpCloseHandle"}));
  const spy::Call crack = spy::CallsNamed("WinHttpCrackUrl")[0];
  EXPECT_EQ(crack.texts[0], u"http://127.0.0.1:9");
  EXPECT_EQ(crack.words[1], 18);
  EXPECT_EQ(crack.words[2], 0);
  const spy::Call open = spy::CallsNamed("WinHttpOpen")[0];
  EXPECT_EQ(open.words[0], 0);  // no agent
  EXPECT_EQ(open.words[1], 1);  // no proxy
  EXPECT_EQ(open.texts[1], u"");
  EXPECT_EQ(open.words[3], 0);
  EXPECT_EQ(open.words[4], 0);
  const spy::Call timeouts = spy::CallsNamed("WinHttpSetTimeouts")[0];
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(timeouts.words[i], 30000);
  const spy::Call connect = spy::CallsNamed("WinHttpConnect")[0];
  EXPECT_EQ(connect.texts[0], u"127.0.0.1");
  EXPECT_EQ(connect.words[2], 9);
  const spy::Call request = spy::CallsNamed("WinHttpOpenRequest")[0];
  EXPECT_EQ(request.texts[0], u"GET");
  EXPECT_EQ(request.texts[1], u"/");
  EXPECT_EQ(request.words[3], 0);
  EXPECT_EQ(request.words[4], 0);
  EXPECT_EQ(request.words[5], 0);
  EXPECT_EQ(request.words[6], 0);
  EXPECT_EQ(Options(), (std::vector<std::pair<uint32_t, uint32_t>>{{31, 0x3300}, {63, 1}}));
  const spy::Call headers = spy::CallsNamed("WinHttpAddRequestHeaders")[0];
  const std::u16string block =
      u"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
      u"Accept: text/html, application/xhtml+xml, */*\r\nAccept-Encoding: gbk, GB2312\r\n"
      u"Accept-Language: zh-cn\r\nCache-Control: no-cache";
  EXPECT_EQ(headers.texts[0], block);
  EXPECT_EQ(headers.words[2], static_cast<intptr_t>(block.size()));
  EXPECT_EQ(static_cast<uint32_t>(headers.words[3]), 0x20000000u);
  const spy::Call send = spy::CallsNamed("WinHttpSendRequest")[0];
  EXPECT_EQ(send.words, (std::vector<intptr_t>{send.words[0], 0, 0, 0, 0, 0, 0}));
}

TEST_F(WebRequestCalls, SecureAddressWithProxyCredentialsCookiesAndBody) {
  static const char kBody[] = "a=1&b=\xB4\xF0";
  const qv::OwnedByteSet bytes = qv::OwnedByteSet::Copy(std::string_view("\x01\x00\x02", 3));
  qv::OwnedText cookies = qv::OwnedText::Copy("k=v");
  struct Row {
    const char* url;
    WebRequestArguments arguments;
    std::u16string object;
    intptr_t port;
    uint32_t access;
    std::u16string proxyName;
    intptr_t timeout;
    uint32_t secure;
    std::vector<std::pair<uint32_t, uint32_t>> options;
    size_t credentials;
    std::string_view body;
  };
  const Row rows[] = {
      {"https://Host.example:8443/a?b=1",
       {.method = 1, .postText = kBody, .sendCookies = &cookies, .disableRedirect = true, .serverUser = "u",
        .serverPassword = "p", .proxy = "p:3128", .proxyUser = "pu", .timeoutSeconds = 5},
       u"/a?b=1", 8443, 3, u"p:3128", 5000, 0x800000, {{31, 0x3300}, {79, 1}, {63, 2}}, 1, kBody},
      {"http://127.0.0.1:9/p%20q/r?s=t&u", {.method = 3, .proxy = "p:3128", .timeoutSeconds = -3, .postBytes = bytes.view()},
       u"/p%20q/r?s=t&u", 9, 3, u"http=p:3128", 30000, 0, {{31, 0x3300}, {63, 1}}, 0, bytes.bytes()},
      {"HTTPS://127.0.0.1", {.postText = "x", .proxyUser = "pu", .proxyPassword = "pp", .timeoutSeconds = 3000000},
       u"/", 443, 1, u"", INT32_MAX, 0x800000, {{31, 0x3300}, {63, 1}}, 1, "x"},
  };
  for (const Row& r : rows) {
    RunUntilSending(r.url, r.arguments);
    const spy::Call open = spy::CallsNamed("WinHttpOpen")[0];
    EXPECT_EQ(open.words[1], r.access) << r.url;
    EXPECT_EQ(open.texts[1], r.proxyName) << r.url;
    EXPECT_EQ(spy::CallsNamed("WinHttpSetTimeouts")[0].words[3], r.timeout) << r.url;
    EXPECT_EQ(spy::CallsNamed("WinHttpConnect")[0].words[2], r.port) << r.url;
    const spy::Call request = spy::CallsNamed("WinHttpOpenRequest")[0];
    EXPECT_EQ(request.texts[1], r.object) << r.url;
    EXPECT_EQ(static_cast<uint32_t>(request.words[6]), r.secure) << r.url;
    EXPECT_EQ(Options(), r.options) << r.url;
    EXPECT_EQ(spy::CallsNamed("WinHttpSetCredentials").size(), r.credentials) << r.url;
    const spy::Call send = spy::CallsNamed("WinHttpSendRequest")[0];
    ASSERT_EQ(send.words[3] != 0, !r.body.empty()) << r.url;
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(send.words[3]), static_cast<size_t>(send.words[4])), r.body);
    EXPECT_EQ(send.words[5], send.words[4]);
  }
  // Credentials go with their targets and the basic scheme.
  RunUntilSending("http://127.0.0.1:9", {.serverUser = "su", .serverPassword = "sp", .proxyUser = "pu", .proxyPassword = "pp"});
  const auto credentials = spy::CallsNamed("WinHttpSetCredentials");
  ASSERT_EQ(credentials.size(), 2u);
  EXPECT_EQ(credentials[0].words[1], 0);
  EXPECT_EQ(credentials[0].words[2], 1);
  EXPECT_EQ(credentials[0].texts, (std::vector<std::u16string>{u"su", u"sp"}));
  EXPECT_EQ(credentials[0].words[5], 0);
  EXPECT_EQ(credentials[1].words[1], 1);
  EXPECT_EQ(credentials[1].texts, (std::vector<std::u16string>{u"pu", u"pp"}));
  // The cookie line goes at the end of the block.
  RunUntilSending("http://127.0.0.1:9", {.sendCookies = &cookies, .extraHeaders = "a: 1", .completeHeaders = false});
  const spy::Call headers = spy::CallsNamed("WinHttpAddRequestHeaders")[0];
  EXPECT_EQ(headers.texts[0], u"A: 1\r\nCookie: k=v\r\n");
  EXPECT_EQ(headers.words[2], 19);
}

TEST_F(WebRequestCalls, MethodTableAndEmptyHeaderBlock) {
  const char16_t* verbs[] = {u"GET", u"POST", u"HEAD", u"PUT", u"OPTIONS", u"DELETE", u"TRACE", u"CONNECT"};
  for (int32_t method = 0; method < 8; ++method) {
    RunUntilSending("http://127.0.0.1:9", {.method = method, .completeHeaders = false});
    EXPECT_EQ(spy::CallsNamed("WinHttpOpenRequest")[0].texts[0], verbs[method]);
    // Nothing to add: an empty NUL-terminated block.
    const spy::Call headers = spy::CallsNamed("WinHttpAddRequestHeaders")[0];
    EXPECT_EQ(headers.texts[0], u"");
    EXPECT_EQ(static_cast<uint32_t>(headers.words[2]), 0xFFFFFFFFu);
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
