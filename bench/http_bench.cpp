// WebRequest against plain libcurl doing the same exchange with the same loopback server, in the
// same run:
//  - SmallPost: a form POST of about 60 bytes with the header block WebRequest sends, answered by
//    a 40-byte JSON reply; a fresh connection each time on both sides (WebRequest opens its own
//    session per call).
//  - Body64M: a GET answered by a 64 MB body, read whole into memory. Bytes per second count the
//    body; after the run the peak resident growth of one exchange is printed for both sides as a
//    multiple of the body size.
// The server runs on its own thread in this process and sends from one prepared buffer.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "bench/ratio_reporter.h"
#include "http/web_request.h"
#include "runtime/startup.h"

namespace {

constexpr size_t kBigBody = size_t{64} << 20;
constexpr const char* kForm = "chapter=3&course=%CA%FD%D1%A7&type=1&question=what+is+it";
constexpr const char* kReply = "{\"code\":1,\"data\":\"answer\",\"msg\":\"ok\"}";

// A loopback HTTP/1.1 server: one connection at a time, the request read up to its body's end, a
// fixed reply, the connection closed.
class LoopbackServer {
 public:
  LoopbackServer() : m_big(kBigBody, 'x') {
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(m_listener, 64);
    socklen_t length = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() {
    m_stop = true;
    shutdown(m_listener, SHUT_RDWR);
    close(m_listener);
    m_thread.join();
  }
  std::string Url(const char* path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }

 private:
  void Serve() {
    while (!m_stop) {
      const int connection = accept(m_listener, nullptr, nullptr);
      if (connection < 0) continue;
      std::string request;
      char buffer[16384];
      size_t headerEnd = std::string::npos;
      size_t needed = 0;
      for (;;) {
        const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
        if (headerEnd == std::string::npos && (headerEnd = request.find("\r\n\r\n")) != std::string::npos) {
          const size_t at = request.find("Content-Length: ");
          needed = headerEnd + 4 + (at < headerEnd ? std::strtoul(request.c_str() + at + 16, nullptr, 10) : 0);
        }
        if (headerEnd != std::string::npos && request.size() >= needed) break;
      }
      const bool big = request.starts_with("GET /big");
      const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                               std::to_string(big ? m_big.size() : std::strlen(kReply)) + "\r\nConnection: close\r\n\r\n";
      SendAll(connection, head.data(), head.size());
      if (big) SendAll(connection, m_big.data(), m_big.size());
      else SendAll(connection, kReply, std::strlen(kReply));
      shutdown(connection, SHUT_WR);
      while (recv(connection, buffer, sizeof buffer, 0) > 0) {
      }
      close(connection);
    }
  }
  static void SendAll(int socket, const char* data, size_t size) {
    while (size > 0) {
      const ssize_t n = send(socket, data, size, MSG_NOSIGNAL);
      if (n <= 0) return;
      data += n;
      size -= static_cast<size_t>(n);
    }
  }

  std::string m_big;
  int m_listener = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

LoopbackServer& Server() {
  static LoopbackServer server;
  return server;
}

// The exchange as WebRequest makes it for the query action.
size_t RuntimeExchange(const std::string& url, int32_t method, const char* form) {
  qv::OwnedByteSet bytes;
  quorvane::WebRequest(url.c_str(), {.method = method, .postText = form,
                                     .extraHeaders = "Content-Type: application/x-www-form-urlencoded",
                                     .responseBytes = &bytes});
  return bytes.size();
}

size_t AppendBody(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// The same exchange through libcurl: the header lines WebRequest sends, a fresh handle and
// connection each time, the body collected in memory.
size_t PeerExchange(const std::string& url, bool post, const char* form) {
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  for (const char* line :
       {"Content-Type: application/x-www-form-urlencoded",
        "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
        "Accept: text/html, application/xhtml+xml, */*", "Accept-Encoding: gbk, GB2312", "Accept-Language: zh-cn",
        "Cache-Control: no-cache", "Expect:"})
    headers = curl_slist_append(headers, line);
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (post) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return body.size();
}

void SmallPostRuntime(benchmark::State& state) {
  const std::string url = Server().Url("/vm/0/question");
  for (auto _ : state)
    if (RuntimeExchange(url, 1, kForm) != std::strlen(kReply)) state.SkipWithError("wrong reply");
}
void SmallPostPeer(benchmark::State& state) {
  const std::string url = Server().Url("/vm/0/question");
  for (auto _ : state)
    if (PeerExchange(url, true, kForm) != std::strlen(kReply)) state.SkipWithError("wrong reply");
}
BENCHMARK(SmallPostRuntime)->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(SmallPostPeer)->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly(true);

void Body64MRuntime(benchmark::State& state) {
  const std::string url = Server().Url("/big");
  for (auto _ : state)
    if (RuntimeExchange(url, 0, nullptr) != kBigBody) state.SkipWithError("wrong body");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBody));
}
void Body64MPeer(benchmark::State& state) {
  const std::string url = Server().Url("/big");
  for (auto _ : state)
    if (PeerExchange(url, false, nullptr) != kBigBody) state.SkipWithError("wrong body");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBigBody));
}
BENCHMARK(Body64MRuntime)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(Body64MPeer)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

// Resident set size and its peak, in bytes, from /proc/self/status.
size_t StatusField(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with(field)) return std::strtoull(line.c_str() + std::strlen(field), nullptr, 10) * 1024;
  return 0;
}

// The peak resident growth of one exchange: the peak is reset to the current size first
// (clear_refs 5), then read after the exchange, its results still held.
template <typename Exchange>
double PeakGrowth(Exchange exchange) {
  std::ofstream("/proc/self/clear_refs") << "5";
  const size_t before = StatusField("VmRSS:");
  exchange();
  return static_cast<double>(StatusField("VmHWM:") - before) / static_cast<double>(kBigBody);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The repetitions of the two sides are interleaved at random, so that a change in the machine's
  // load during the run falls on both alike (a flag on the command line still decides).
  std::vector<char*> arguments(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  arguments.insert(arguments.begin() + 1, interleave);
  int count = static_cast<int>(arguments.size());
  benchmark::Initialize(&count, arguments.data());
  argc = count;
  argv = arguments.data();
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  qv::InitialiseRuntime(quorvane::Description());
  Server();

  qvbench::RatioReporter reporter("WebRequest / libcurl:");
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const std::string url = Server().Url("/big");
  const double peer = PeakGrowth([&] { PeerExchange(url, false, nullptr); });
  const double runtime = PeakGrowth([&] {
    qv::OwnedByteSet bytes;
    qv::OwnedText text = quorvane::WebRequest(url.c_str(), {.responseBytes = &bytes});
  });
  std::printf("\npeak resident growth of one 64 MB exchange, in body sizes: WebRequest %.2f, libcurl %.2f\n", runtime,
              peer);
  benchmark::Shutdown();
  qv::ShutdownRuntime(0);
  curl_global_cleanup();
  return 0;
}
