// A stand-in answer service for the end-to-end tests and the benchmark: the shared raw test server
// on 127.0.0.1, answering each request with the JSON reply a test gives it, late, or never.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/test_servers.h"

namespace qvtest {

// One request as it reached the service.
struct CapturedRequest {
  std::string requestLine;           // without its CR LF
  std::vector<std::string> headers;  // each line without its CR LF, in the order received
  std::string body;
  std::chrono::steady_clock::time_point arrived;
};

class QueryService {
 public:
  enum class Mode {
    Reply,  // a 200 response carrying the reply body
    Hang,   // reads the request and never answers
  };

  QueryService();
  uint16_t Port() const { return static_cast<uint16_t>(m_server.Port()); }
  // The body of later replies (any bytes, NUL included); JSON in UTF-8 is what the program expects.
  void SetReply(std::string body) { SetReplies({std::move(body)}); }
  // One reply per request in turn; the last one answers every request after it.
  void SetReplies(std::vector<std::string> bodies);
  void SetMode(Mode mode);
  // How long the service waits before it answers.
  void SetDelayMs(int delayMs);
  // Runs on the service's thread as each request arrives, with its number from 0, before the
  // service answers it.
  void OnRequest(std::function<void(size_t)> callback);

  std::vector<CapturedRequest> Requests() const;
  // Waits until count requests have arrived; false when limitMs ran out first.
  bool WaitForRequests(size_t count, int limitMs) const;

 private:
  qv::test::RawReply Answer(size_t index);

  mutable std::mutex m_mutex;
  Mode m_mode = Mode::Reply;
  std::vector<std::string> m_replies{"{}"};
  int m_delayMs = 0;
  std::function<void(size_t)> m_onRequest;
  std::vector<std::chrono::steady_clock::time_point> m_arrivals;
  qv::test::RawServer m_server;  // last: it stops before the state its handler uses goes
};

// A port on 127.0.0.1 where nothing listens.
uint16_t ClosedPort();

}  // namespace qvtest
