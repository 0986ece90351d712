#include "tests/app/query_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace qvtest {
namespace {

constexpr auto kStep = std::chrono::milliseconds(20);

// Splits the head of a request (up to its empty line) into lines.
std::vector<std::string> HeadLines(const std::string& head) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(head.substr(start, end - start));
  return lines;
}

size_t ContentLength(const std::vector<std::string>& headers) {
  for (const std::string& line : headers) {
    if (line.size() > 15 && strncasecmp(line.c_str(), "Content-Length:", 15) == 0)
      return std::strtoul(line.c_str() + 15, nullptr, 10);
  }
  return 0;
}

}  // namespace

QueryService::QueryService() {
  m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(m_listener, 16) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    throw std::runtime_error("the test service cannot listen on 127.0.0.1");
  m_port = ntohs(address.sin_port);
  m_listenerThread = std::thread(&QueryService::Listen, this);
}

QueryService::~QueryService() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_listenerThread.join();
  for (std::thread& worker : m_workers) worker.join();
  close(m_listener);
}

void QueryService::SetReplies(std::vector<std::string> bodies) {
  std::lock_guard lock(m_mutex);
  m_replies = bodies.empty() ? std::vector<std::string>{""} : std::move(bodies);
}

void QueryService::SetMode(Mode mode) {
  std::lock_guard lock(m_mutex);
  m_mode = mode;
}

void QueryService::SetDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(m_mutex);
  m_delay = delay;
}

void QueryService::OnRequest(std::function<void(size_t)> callback) {
  std::lock_guard lock(m_mutex);
  m_onRequest = std::move(callback);
}

std::vector<CapturedRequest> QueryService::Requests() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

bool QueryService::WaitForRequests(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(m_mutex);
  return m_arrived.wait_for(lock, limit, [&] { return m_requests.size() >= count; });
}

bool QueryService::Stopping() const {
  std::lock_guard lock(m_mutex);
  return m_stopping;
}

bool QueryService::Pause(std::chrono::milliseconds delay) const {
  const auto end = std::chrono::steady_clock::now() + delay;
  for (;;) {
    if (Stopping()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kStep, end - now));
  }
}

void QueryService::Listen() {
  for (;;) {
    if (Stopping()) return;
    pollfd ready{m_listener, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(kStep.count())) <= 0) continue;
    const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    std::lock_guard lock(m_mutex);
    m_workers.emplace_back(&QueryService::Serve, this, connection);
  }
}

void QueryService::Serve(int connection) {
  // Read the head, then as many body bytes as it announces.
  std::string received;
  size_t headEnd = std::string::npos;
  size_t wanted = 0;
  while (headEnd == std::string::npos || received.size() < wanted) {
    pollfd ready{connection, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(kStep.count())) <= 0) {
      if (Stopping()) break;
      continue;
    }
    char buffer[4096];
    const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<size_t>(n));
    if (headEnd == std::string::npos && (headEnd = received.find("\r\n\r\n")) != std::string::npos)
      wanted = headEnd + 4 + ContentLength(HeadLines(received.substr(0, headEnd + 2)));
  }
  if (headEnd == std::string::npos) {
    close(connection);
    return;
  }

  CapturedRequest request;
  std::vector<std::string> lines = HeadLines(received.substr(0, headEnd + 2));
  request.requestLine = lines.empty() ? "" : lines.front();
  request.headers.assign(lines.begin() + (lines.empty() ? 0 : 1), lines.end());
  request.body = received.substr(headEnd + 4);
  request.arrived = std::chrono::steady_clock::now();
  Mode mode;
  std::string reply;
  std::chrono::milliseconds delay;
  std::function<void(size_t)> onRequest;
  size_t index;
  {
    std::lock_guard lock(m_mutex);
    index = m_requests.size();
    onRequest = m_onRequest;
    reply = m_replies[std::min(m_requests.size(), m_replies.size() - 1)];
    m_requests.push_back(std::move(request));
    mode = m_mode;
    delay = m_delay;
  }
  m_arrived.notify_all();
  if (onRequest) onRequest(index);

  if (mode == Mode::Hang) {
    // Until the client gives up and closes, or the service stops.
    while (!Stopping()) {
      pollfd ready{connection, POLLIN, 0};
      char byte;
      if (poll(&ready, 1, static_cast<int>(kStep.count())) > 0 && recv(connection, &byte, 1, 0) <= 0) break;
    }
  } else if (Pause(delay)) {
    const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
                                 "Content-Length: " + std::to_string(reply.size()) +
                                 "\r\nConnection: close\r\n\r\n" + reply;
    for (size_t sent = 0; sent < response.size();) {
      const ssize_t n = send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }
  close(connection);
}

}  // namespace qvtest
