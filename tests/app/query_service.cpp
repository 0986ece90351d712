#include "tests/app/query_service.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace qvtest {

QueryService::QueryService() : m_server([this](const std::string&, size_t index) { return Answer(index); }) {}

void QueryService::SetReplies(std::vector<std::string> bodies) {
  std::lock_guard lock(m_mutex);
  m_replies = bodies.empty() ? std::vector<std::string>{""} : std::move(bodies);
}

void QueryService::SetMode(Mode mode) {
  std::lock_guard lock(m_mutex);
  m_mode = mode;
}

void QueryService::SetDelayMs(int delayMs) {
  std::lock_guard lock(m_mutex);
  m_delayMs = delayMs;
}

void QueryService::OnRequest(std::function<void(size_t)> callback) {
  std::lock_guard lock(m_mutex);
  m_onRequest = std::move(callback);
}

qv::test::RawReply QueryService::Answer(size_t index) {
  qv::test::RawReply reply;
  std::function<void(size_t)> onRequest;
  {
    std::lock_guard lock(m_mutex);
    m_arrivals.push_back(std::chrono::steady_clock::now());
    onRequest = m_onRequest;
    const std::string& body = m_replies[std::min(index, m_replies.size() - 1)];
    if (m_mode == Mode::Hang) {
      reply.then = qv::test::RawReply::Then::Hang;
    } else {
      reply.parts.push_back("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
      reply.delayMs = m_delayMs;
    }
  }
  if (onRequest) onRequest(index);
  return reply;
}

std::vector<CapturedRequest> QueryService::Requests() const {
  std::vector<CapturedRequest> result;
  const std::vector<std::string> raw = m_server.Requests();
  std::lock_guard lock(m_mutex);
  for (size_t i = 0; i < raw.size(); ++i) {
    CapturedRequest request;
    const size_t headEnd = raw[i].find("\r\n\r\n");
    const std::string head = raw[i].substr(0, headEnd + 2);
    for (size_t start = 0, end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2)
      (start == 0 ? request.requestLine : request.headers.emplace_back()) = head.substr(start, end - start);
    request.body = raw[i].substr(headEnd + 4);
    if (i < m_arrivals.size()) request.arrived = m_arrivals[i];
    result.push_back(std::move(request));
  }
  return result;
}

bool QueryService::WaitForRequests(size_t count, int limitMs) const {
  for (int waited = 0; m_server.Requests().size() < count; waited += 10) {
    if (waited >= limitMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

uint16_t ClosedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  close(s);
  return ntohs(address.sin_port);
}

}  // namespace qvtest
