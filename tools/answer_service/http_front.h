// The HTTP front of the answer service (cpp-httplib): POST /vm/0/<question> and /tdl/0/<question>
// with the form fields "chapter", "course" and "type" in a GBK body, answered with UTF-8 JSON
// {"code": n, "data": "...", "msg": "..."}. Every reply, bad requests included, carries that JSON,
// so that a client which shows "data" or "msg" always has words to show.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qv::answers {

inline constexpr int kDefaultPort = 17380;
inline constexpr const char* kDefaultHost = "127.0.0.1";
inline constexpr size_t kMaxBodyBytes = 1 << 20;

// The "code" member of a reply.
enum class ReplyCode { kAnswered = 0, kNotFound = 1, kBadRequest = 2, kServiceError = 3 };

class AnswerService {
 public:
  // Opens the bank once to check it; throws StoreError when it cannot be read.
  explicit AnswerService(std::string bankPath);
  AnswerService(const AnswerService&) = delete;
  AnswerService& operator=(const AnswerService&) = delete;
  ~AnswerService();

  // Binds to host:port, or to a free port when `port` is 0. Returns the port, or -1.
  int Bind(const std::string& host, int port);
  // Answers requests until Stop(); false when the service was not bound.
  bool Serve();
  // Callable from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace qv::answers
