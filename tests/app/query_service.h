// A stand-in answer service for the end-to-end tests: it listens on 127.0.0.1 on an ephemeral
// port, keeps the bytes of every request it receives, and answers each with the reply it was
// given, late, or never.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// std::chrono comes with <thread>: <chrono> itself cannot be compiled with GBK as the execution
// character set (it holds a micro sign).

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
  ~QueryService();
  QueryService(const QueryService&) = delete;
  QueryService& operator=(const QueryService&) = delete;

  uint16_t Port() const { return m_port; }
  // The body of later replies (any bytes, NUL included); JSON in UTF-8 is what the program expects.
  void SetReply(std::string body) { SetReplies({std::move(body)}); }
  // One reply per request in turn; the last one answers every request after it.
  void SetReplies(std::vector<std::string> bodies);
  void SetMode(Mode mode);
  // How long the service waits before it answers.
  void SetDelay(std::chrono::milliseconds delay);

  // Runs on the service's thread as each request arrives, with its number from 0, before the
  // service answers it.
  void OnRequest(std::function<void(size_t)> callback);

  std::vector<CapturedRequest> Requests() const;
  // Waits until count requests have arrived; false when the time ran out first.
  bool WaitForRequests(size_t count, std::chrono::milliseconds limit) const;

 private:
  void Listen();
  void Serve(int connection);
  bool Stopping() const;
  // Sleeps for the delay in short steps; false when the service is stopping.
  bool Pause(std::chrono::milliseconds delay) const;

  int m_listener = -1;
  uint16_t m_port = 0;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_arrived;
  bool m_stopping = false;
  Mode m_mode = Mode::Reply;
  std::vector<std::string> m_replies{"{}"};
  std::chrono::milliseconds m_delay{0};
  std::vector<CapturedRequest> m_requests;
  std::function<void(size_t)> m_onRequest;
  std::vector<std::thread> m_workers;
  std::thread m_listenerThread;
};

}  // namespace qvtest
