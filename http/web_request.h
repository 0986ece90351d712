// WebRequest: one complete, blocking HTTP exchange over the platform's WinHttp service. It opens
// its own session, connection and request, sends the body with the assembled header block, reads
// the whole response and hands back the body as bytes and as text, the raw response headers, the
// status text, the cookies the server set and the redirect target. Failures never raise: a 7xx
// message goes into the status text and the result is the empty text.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/memory/owned.h"

namespace quorvane {

// The routine's parameters after the address, in their order. A text or byte set left null is
// empty; an output left null is written to a variable of the routine's own. Outputs that the
// routine does not reach keep the caller's values.
struct WebRequestArguments {
  // Index into GET, POST, HEAD, PUT, OPTIONS, DELETE, TRACE, CONNECT. Any other index is a caller
  // error: runtime error 9 ends the program when the request is about to be opened.
  int32_t method = 0;
  const char* postText = nullptr;            // the body, when postBytes is empty
  qv::OwnedText* sendCookies = nullptr;      // in/out: after a merge, the merged cookies
  qv::OwnedText* receivedCookies = nullptr;  // appended to, never cleared
  const char* extraHeaders = nullptr;        // the caller's header lines, CR LF separated
  qv::OwnedText* responseHeaders = nullptr;  // out: the raw response header block
  bool disableRedirect = false;
  const char* serverUser = nullptr;
  const char* serverPassword = nullptr;
  const char* proxy = nullptr;  // host:port; empty means no proxy
  const char* proxyUser = nullptr;
  const char* proxyPassword = nullptr;
  int32_t timeoutSeconds = 0;               // per phase; 0 or less means 30 s
  qv::OwnedText* location = nullptr;        // out: the value of the response's Location line
  qv::OwnedText* statusText = nullptr;      // out: "200 OK" and the like, or a 7xx message
  qv::OwnedByteSet* responseBytes = nullptr;  // out: the body exactly as received
  std::optional<bool> mergeCookies = {};      // true when left out
  std::optional<bool> completeHeaders = {};   // true when left out
  qv::ByteSetView postBytes = {};             // the body; wins over postText when not empty
  std::optional<bool> normaliseHeaderNames = {};  // true when left out
};

// The failure messages of the status text.
namespace web_status {
inline constexpr const char* kNoPlatform = "700 当前系统不支持WinHttp服务!";
inline constexpr const char* kBadUrl = "701 解析URL地址失败!";
inline constexpr const char* kSessionFailed = "702 创建WinHttp会话失败!";
inline constexpr const char* kConnectFailed = "703 创建WinHttp连接失败!";
inline constexpr const char* kRequestFailed = "704 创建WinHttp请求失败!";
inline constexpr const char* kTimeoutsFailed = "705 设置超时时间失败!";
inline constexpr const char* kCredentialsFailed = "707 设置代理凭证失败!";
inline constexpr const char* kSecurityFlagsFailed = "忽略错误/证书错误  失败！";
inline constexpr const char* kCookieOptionFailed = "708 禁止自动设置Cookies失败!";
inline constexpr const char* kRedirectOptionFailed = "709 重定向设置失败!";
inline constexpr const char* kHeadersFailed = "710 设置协议头失败!";
inline constexpr const char* kSendFailed = "711 发送请求失败!";
inline constexpr const char* kNoResponse = "712 服务器未响应!";
inline constexpr const char* kReadFailed = "713 读取数据失败!";
}  // namespace web_status

// Fetches url (an absolute http or https address). The result is the body as text: its bytes up
// to the first NUL as GBK, or decoded in the character set the page declares; empty when the
// routine gave up.
qv::OwnedText WebRequest(const char* url, const WebRequestArguments& arguments = {});

}  // namespace quorvane
