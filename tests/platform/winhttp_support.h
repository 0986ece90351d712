// Helpers of the WinHttp tests: one whole exchange as the web request routine makes it, with the
// step that failed and its error.
#pragma once

#include <string>

#include "platform/winhttp/winhttp.h"

namespace win::test {

struct Exchange {
  std::u16string url;
  std::u16string verb = u"GET";
  std::string body;
  std::u16string headers;  // added with WINHTTP_ADDREQ_FLAG_ADD when not empty
  std::u16string proxy;    // named proxy list; empty for none
  std::u16string serverUser, serverPassword, proxyUser, proxyPassword;
  DWORD securityFlags = 0;  // set when not 0
  bool disableCookies = false;
  bool disableRedirects = false;
  int timeout = 0;  // ms for all four phases when not 0
};

struct Outcome {
  std::string failedStep;  // empty when everything succeeded
  DWORD error = 0;
  std::string headers;  // the raw header block, UTF-8
  std::string body;
  int reads = 0;  // successful WinHttpReadData calls that returned bytes
};

// The steps of the routine: crack, open, time limits, connect, open request (secure flag from the
// scheme), credentials, options, headers, send, receive, read until 0 bytes, query raw headers;
// every handle is closed at the end.
Outcome Perform(const Exchange& exchange);

std::u16string Utf16(const std::string& ascii);
std::string Narrow(const std::u16string& text);  // UTF-16 to UTF-8

}  // namespace win::test
