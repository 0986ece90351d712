// Requests on the wire, byte for byte, and responses as the caller reads them: headers, bodies in
// the chunks that are ready, and the failures of misbehaving servers.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/test_servers.h"
#include "platform/winhttp/winhttp.h"
#include "winhttp_support.h"

namespace win {
namespace {

using qv::test::HttpResponse;
using qv::test::RawReply;
using qv::test::RawServer;
using test::Exchange;
using test::Outcome;
using test::Perform;
using test::Utf16;

std::u16string UrlOf(const RawServer& server, const std::string& rest = "/") {
  return Utf16("http://127.0.0.1:" + std::to_string(server.Port()) + rest);
}

const std::string kOk = HttpResponse("HTTP/1.1 200 OK", {"Content-Type: text/plain"}, "hello");

struct WireRow {
  const char* name;
  std::u16string verb;
  std::string target;  // path and query as given to the address
  std::u16string headers;
  std::string body;
  std::string expected;  // the request as the server must see it; %PORT% stands for the port
};

TEST(WinHttpWire, RequestsCarryExactlyTheCallersLinesAndTheServicesOwn) {
  const WireRow rows[] = {
      {"get", u"GET", "/", u"", "", "GET / HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\n\r\n"},
      {"post form", u"POST", "/vm/0/q?a=1", u"Content-Type: application/x-www-form-urlencoded\r\nUser-Agent: UA\r\n",
       "a=1&b=2",
       "POST /vm/0/q?a=1 HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\nUser-Agent: UA\r\nContent-Length: 7\r\n\r\na=1&b=2"},
      {"post without body", u"POST", "/", u"", "",
       "POST / HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n"},
      {"put without body", u"PUT", "/", u"", "",
       "PUT / HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n"},
      {"delete", u"DELETE", "/x", u"", "",
       "DELETE /x HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\n\r\n"},
      {"get with body", u"GET", "/", u"", "xy",
       "GET / HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nxy"},
      {"large post has no Expect", u"POST", "/", u"", std::string(5000, 'z'),
       "POST / HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\nContent-Length: 5000\r\n\r\n" +
           std::string(5000, 'z')},
      {"block lines: empty skipped, repeats kept, CR or LF alone ends a line", u"GET", "/",
       u"\r\nX-A: 1\r\n\r\nX-A: 2\nX-B:3\rAccept:  */*  \r\n", "",
       "GET / HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\nX-A: 1\r\nX-A: 2\r\nX-B: 3\r\n"
       "Accept: */*\r\n\r\n"},
      {"caller's Content-Length is replaced, Connection kept", u"POST", "/",
       u"Content-Length: 99\r\nConnection: close\r\n", "abc",
       "POST / HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: close\r\nContent-Length: 3\r\n\r\nabc"},
      {"object name escaping", u"GET", "/a b/\"#<>[\\]^`{|}%~\x7F?q=\x01 \xE4\xB8\xAD", u"", "",
       "GET /a%20b/%22%23%3C%3E%5B%5C%5D%5E%60%7B%7C%7D%~%7F?q=%01%20%E4%B8%AD HTTP/1.1\r\n"
       "Host: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\n\r\n"},
      {"CR LF in the address cannot split the request", u"GET", "/a\r\nX-Injected: 1\r\n", u"", "",
       "GET /a%0D%0AX-Injected:%201%0D%0A HTTP/1.1\r\nHost: 127.0.0.1:%PORT%\r\nConnection: Keep-Alive\r\n\r\n"},
  };
  for (const WireRow& row : rows) {
    SCOPED_TRACE(row.name);
    RawServer server(kOk);
    Exchange x;
    // The target may hold UTF-8: widen it code point by code point.
    std::u16string target;
    for (size_t i = 0; i < row.target.size();) {
      const auto c = static_cast<unsigned char>(row.target[i]);
      if (c == 0xE4) {  // the one three-byte character used here
        target += u'\u4E2D';
        i += 3;
      } else {
        target += static_cast<char16_t>(c);
        ++i;
      }
    }
    x.url = UrlOf(server, "") + target;
    x.verb = row.verb;
    x.headers = row.headers;
    x.body = row.body;
    const Outcome out = Perform(x);
    ASSERT_EQ(out.failedStep, "") << out.error;
    EXPECT_EQ(out.body, "hello");
    std::string expected = row.expected;
    expected.replace(expected.find("%PORT%"), 6, std::to_string(server.Port()));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], expected);
  }
}

TEST(WinHttpWire, HostCarriesThePortOnlyWhenItIsNotTheDefault) {
  // Port 80 cannot be bound here; the Host line is checked through a named proxy instead, which
  // receives the request for http://example.test/ in absolute form.
  RawServer proxy(kOk);
  Exchange x;
  x.url = u"http://example.test/p";
  x.proxy = Utf16("http=127.0.0.1:" + std::to_string(proxy.Port()));
  x.serverUser = u"user";
  x.serverPassword = u"pass";
  ASSERT_EQ(Perform(x).failedStep, "");
  x.url = u"http://example.test:8080/p";
  x.serverUser.clear();
  ASSERT_EQ(Perform(x).failedStep, "");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            "GET http://example.test/p HTTP/1.1\r\nHost: example.test\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"
            "Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(requests[1], "GET http://example.test:8080/p HTTP/1.1\r\nHost: example.test:8080\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST(WinHttpHeaders, BadLinesFailTheWholeBlock) {
  RawServer server(kOk);
  const std::u16string bad[] = {u"NoColon\r\n", u"X-A: 1\r\n folded", u"\tX-B: 2", u": empty name",
                                u"Bad Name: x", u"X-A: 1\r\nX-C"};
  for (const std::u16string& block : bad) {
    SCOPED_TRACE(test::Narrow(block));
    Exchange x;
    x.url = UrlOf(server);
    x.headers = block;
    const Outcome out = Perform(x);
    EXPECT_EQ(out.failedStep, "headers");
    EXPECT_EQ(out.error, ERROR_WINHTTP_INVALID_HEADER);
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST(WinHttpResponse, RawHeadersKeepTheStatusLineAndEndWithAnEmptyLine) {
  RawServer server("HTTP/1.1 201 Created Here\r\nX-One: 1\nSet-Cookie: a=b\r\nContent-Length: 3\r\n\r\nabc");
  Exchange x;
  x.url = UrlOf(server);
  const Outcome out = Perform(x);
  ASSERT_EQ(out.failedStep, "") << out.error;
  EXPECT_EQ(out.headers, "HTTP/1.1 201 Created Here\r\nX-One: 1\r\nSet-Cookie: a=b\r\nContent-Length: 3\r\n\r\n");
  EXPECT_EQ(out.body, "abc");
}

TEST(WinHttpResponse, QueryHeadersSizesBuffersInBytesWithTheTerminatingNul) {
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {"X-A: 1", "X-A: 2"}, ""));
  const std::u16string url = UrlOf(server);
  HINTERNET session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, u"", nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), 0);
  HINTERNET request = WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(request, nullptr);
  DWORD size = 0;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr, &size, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  ASSERT_TRUE(WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(WinHttpReceiveResponse(request, nullptr));
  const std::u16string expected = u"HTTP/1.1 200 OK\r\nX-A: 1\r\nX-A: 2\r\nContent-Length: 0\r\n\r\n";
  EXPECT_FALSE(WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr, &size, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, (expected.size() + 1) * 2);
  std::u16string buffer(expected.size() + 1, u'#');
  size = static_cast<DWORD>(buffer.size() * 2 - 2);  // one character short
  EXPECT_FALSE(WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, buffer.data(), &size, nullptr));
  EXPECT_EQ(buffer[0], u'#');
  size = static_cast<DWORD>(buffer.size() * 2);
  ASSERT_TRUE(WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, buffer.data(), &size, nullptr));
  EXPECT_EQ(size, expected.size() * 2);
  EXPECT_EQ(buffer, expected + u'\0');
  // Single values: status as a number, a custom header by index, a missing one.
  DWORD status = 0, length = sizeof status;
  ASSERT_TRUE(WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr, &status,
                                  &length, nullptr));
  EXPECT_EQ(status, 200u);
  char16_t value[8];
  DWORD index = 1;
  length = sizeof value;
  ASSERT_TRUE(WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, u"x-a", value, &length, &index));
  EXPECT_EQ(std::u16string(value), u"2");
  EXPECT_EQ(index, 2u);
  length = sizeof value;
  EXPECT_FALSE(WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, u"x-a", value, &length, &index));
  EXPECT_EQ(GetLastError(), ERROR_WINHTTP_HEADER_NOT_FOUND);
  DWORD available = 1;
  ASSERT_TRUE(WinHttpQueryDataAvailable(request, &available));
  EXPECT_EQ(available, 0u);
  EXPECT_TRUE(WinHttpCloseHandle(session));  // any order
  EXPECT_TRUE(WinHttpCloseHandle(request));
  EXPECT_TRUE(WinHttpCloseHandle(connection));
}

TEST(WinHttpResponse, BodiesArriveInTheChunksThatAreReady) {
  // A chunked body sent in three pieces with pauses: each read returns what has arrived.
  RawServer server([](const std::string&, size_t) {
    RawReply reply;
    reply.parts = {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nfirst\r\n", "6\r\nsecond\r\n",
                   "1\r\n\0\r\n0\r\n\r\n"};
    reply.parts[2] = std::string("1\r\n\0\r\n0\r\n\r\n", 11);
    reply.pauseMs = 150;
    return reply;
  });
  Exchange x;
  x.url = UrlOf(server);
  const Outcome out = Perform(x);
  ASSERT_EQ(out.failedStep, "") << out.error;
  EXPECT_EQ(out.body, std::string("firstsecond\0", 12));
  EXPECT_EQ(out.reads, 3);
}

struct FailureRow {
  const char* name;
  RawReply reply;
  const char* failedStep;
  DWORD error;
  std::string body;  // what was read before the end or the failure
};

TEST(WinHttpResponse, MisbehavingServersGiveTheServicesErrors) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
  const FailureRow rows[] = {
      {"not HTTP", {{"SSH-2.0-OpenSSH\r\n\r\n"}}, "receive", ERROR_WINHTTP_INVALID_SERVER_RESPONSE, ""},
      {"nothing at all", {{}}, "receive", ERROR_WINHTTP_INVALID_SERVER_RESPONSE, ""},
      {"short body then close", {{head + "12345"}}, "", 0, "12345"},
      {"reset mid-body", {{head + "12345"}, RawReply::Then::Reset, 0, 0}, "available", ERROR_WINHTTP_CONNECTION_ERROR,
       "12345"},
      {"reset before answering", {{}, RawReply::Then::Reset}, "receive", ERROR_WINHTTP_CONNECTION_ERROR, ""},
      {"1 MB of headers", {{"HTTP/1.1 200 OK\r\n" + std::string(1 << 20, 'X')}}, "receive",
       ERROR_WINHTTP_HEADER_SIZE_OVERFLOW, ""},
      {"64 KB of header lines", {{"HTTP/1.1 200 OK\r\n" + [] {
                                    std::string lines;
                                    for (int i = 0; i < 7000; ++i) lines += "X-" + std::to_string(i) + ": v\r\n";
                                    return lines + "\r\n";
                                  }()}},
       "receive", ERROR_WINHTTP_HEADER_SIZE_OVERFLOW, ""},
      {"NUL bytes in the body", {{HttpResponse("HTTP/1.1 200 OK", {}, std::string("a\0b\0", 4))}}, "", 0,
       std::string("a\0b\0", 4)},
      {"204 has no body", {{"HTTP/1.1 204 No Content\r\n\r\n"}, RawReply::Then::Hang}, "", 0, ""},
      {"304 has no body", {{"HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\n"}, RawReply::Then::Hang}, "", 0, ""},
      {"gzip is delivered as it came", {{HttpResponse("HTTP/1.1 200 OK", {"Content-Encoding: gzip"}, "\x1f\x8b\x08raw")}},
       "", 0, "\x1f\x8b\x08raw"},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.name);
    RawServer server([&](const std::string&, size_t) { return row.reply; });
    Exchange x;
    x.url = UrlOf(server);
    x.timeout = 3000;
    const auto start = std::chrono::steady_clock::now();
    const Outcome out = Perform(x);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(out.failedStep, row.failedStep);
    EXPECT_EQ(out.error, row.error);
    EXPECT_EQ(out.body, row.body);
  }
}

TEST(WinHttpResponse, HeadEndsTheBodyAtOnce) {
  RawServer server([](const std::string&, size_t) {
    return RawReply{{"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"}, RawReply::Then::Hang};
  });
  Exchange x;
  x.url = UrlOf(server);
  x.verb = u"HEAD";
  const auto start = std::chrono::steady_clock::now();
  const Outcome out = Perform(x);
  EXPECT_EQ(out.failedStep, "");
  EXPECT_EQ(out.body, "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(server.Requests().at(0), "HEAD / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                                         "\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST(WinHttpErrors, SendFailuresCarryTheServicesCodes) {
  Exchange x;
  x.timeout = 5000;
  x.url = Utf16("http://127.0.0.1:" + std::to_string(qv::test::UnusedPort()) + "/");
  Outcome out = Perform(x);
  EXPECT_EQ(out.failedStep, "send");
  EXPECT_EQ(out.error, ERROR_WINHTTP_CANNOT_CONNECT);
  // A label longer than 63 characters is refused by the resolver itself, so no query leaves the
  // machine.
  x.url = Utf16("http://" + std::string(64, 'a') + ".invalid/");
  out = Perform(x);
  EXPECT_EQ(out.failedStep, "send");
  EXPECT_EQ(out.error, ERROR_WINHTTP_NAME_NOT_RESOLVED);
}

TEST(WinHttpErrors, AServerThatNeverAnswersTimesOut) {
  RawServer server([](const std::string&, size_t) { return RawReply{{}, RawReply::Then::Hang}; });
  Exchange x;
  x.url = UrlOf(server);
  x.timeout = 1000;
  const auto start = std::chrono::steady_clock::now();
  const Outcome out = Perform(x);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(out.failedStep, "receive");
  EXPECT_EQ(out.error, ERROR_WINHTTP_TIMEOUT);
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

}  // namespace
}  // namespace win

namespace win {
namespace {

TEST(WinHttpResponse, ALargeBodyWaitingUnreadArrivesWhole) {
  std::string body(3 << 20, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 4096);
  RawServer server(HttpResponse("HTTP/1.1 200 OK", {}, body));
  HINTERNET session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", static_cast<INTERNET_PORT>(server.Port()), 0);
  HINTERNET request = WinHttpOpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(WinHttpReceiveResponse(request, nullptr));
  // Let the whole body reach the socket before reading: the service holds back what it cannot
  // buffer and takes it up again as the reader catches up.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::string received;
  DWORD available = 0;
  while (WinHttpQueryDataAvailable(request, &available) && available > 0) {
    std::string chunk(available + 100, '\0');  // a larger buffer takes only what is ready
    DWORD read = 0;
    ASSERT_TRUE(WinHttpReadData(request, chunk.data(), static_cast<DWORD>(chunk.size()), &read));
    ASSERT_LE(read, available);
    received.append(chunk.data(), read);
  }
  EXPECT_EQ(received.size(), body.size());
  EXPECT_TRUE(received == body);
  DWORD read = 7;
  char byte;
  EXPECT_TRUE(WinHttpReadData(request, &byte, 1, &read));  // after the end: 0 bytes
  EXPECT_EQ(read, 0u);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
}

}  // namespace
}  // namespace win
