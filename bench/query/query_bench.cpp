// Click to answer. Runtime: a click on the main window's query button until the answer box holds
// the answer (the whole action: property reads, the two lists, WebRequest over the WinHttp
// stand-in, the UTF-8 to GBK step and ReadJsonValue in a script context). Peer: the same exchange
// done in-process with plain libcurl (a fresh handle per query, as the action opens a fresh session,
// the same request line, header lines and body) and a native JSON parse with nlohmann-json. Both
// query one stand-in service on 127.0.0.1 that answers at once.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <nlohmann/json.hpp>
#include <string>

#include "app/main_window.h"
#include "app/program.h"
#include "common/qt_driver.h"
#include "http/code_pages.h"
#include "http/web_request.h"
#include "json/json_object.h"
#include "platform/ui/window.h"
#include "ratio_reporter.h"
#include "runtime/startup.h"
#include "runtime/windows/components.h"
#include "runtime/windows/property_front.h"
#include "runtime/windows/window_loader.h"
#include "tests/app/query_service.h"
#include "tests/app/query_test_host.h"

namespace {

using namespace quorvane;

qvtest::QueryService* g_service = nullptr;

// A reply of the size the answer service gives for one question (UTF-8, written as bytes: this
// file's literals are GBK).
std::string Reply() {
  const std::string answer = "\xE7\xBC\xA9\xE7\x9F\xAD\xE6\x8C\x87\xE4\xBB\xA4\xE9\x95\xBF\xE5\xBA\xA6";
  return R"({"code":1,"data":")" + answer + R"(","msg":"ok","question":")" + answer + "\"}";
}

win::HWND Control(uint32_t unit) {
  qv::Component* c = qv::FindLiveComponent(kMainWindowId, unit);
  return c != nullptr ? c->Handle() : nullptr;
}

void BM_ClickToAnswerRuntime(benchmark::State& state) {
  const win::HWND button = Control(kQueryButtonId);
  qv::WriteTextProperty(kMainWindowId, kQuestionBoxId, 8, "q");
  qv::WriteTextProperty(kMainWindowId, kTypeBoxId, 8, "1");
  for (auto _ : state) {
    qvtest::ClickControl(button);
    state.PauseTiming();
    if (qv::ReadTextProperty(kMainWindowId, kAnswerBoxId, 8).size() < 10) state.SkipWithError("no answer");
    qv::WriteTextProperty(kMainWindowId, kAnswerBoxId, 8, "");
    state.ResumeTiming();
  }
}

// The two stages that make most of a click, alone: the exchange through WebRequest, and reading the
// reply through ReadJsonValue.
void BM_StageWebRequest(benchmark::State& state) {
  const std::string url = "http://127.0.0.1:" + std::to_string(g_service->Port()) + "/vm/0/q";
  WebRequestArguments arguments;
  arguments.method = 1;
  arguments.postText = "course=0&type=1";
  arguments.extraHeaders = "Content-type: application/x-www-form-urlencoded";
  for (auto _ : state) {
    qv::OwnedByteSet body;
    arguments.responseBytes = &body;
    WebRequest(url.c_str(), arguments);
    if (body.empty()) state.SkipWithError("no reply");
  }
}

void BM_StageReadJsonValue(benchmark::State& state) {
  const std::string reply = Reply();
  for (auto _ : state) {
    qv::OwnedText text = Utf8ToGbk(reply.c_str());
    benchmark::DoNotOptimize(ReadJsonValue(text, "data"));
  }
}

// Of which: one script context with its prelude, made and dropped.
void BM_StageScriptContext(benchmark::State& state) {
  for (auto _ : state) JsonObject context;
}

size_t Append(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

void BM_ClickToAnswerPeer(benchmark::State& state) {
  const std::string url = "http://127.0.0.1:" + std::to_string(g_service->Port()) + "/vm/0/q";
  const char* const lines[] = {
      "Content-Type: application/x-www-form-urlencoded",
      "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:46.0) Gecko/20100101 Firefox/46.0",
      "Accept: text/html, application/xhtml+xml, */*",
      "Accept-Encoding: gbk, GB2312",
      "Accept-Language: zh-cn",
      "Cache-Control: no-cache",
      "Connection: Keep-Alive",
      "Expect:",
  };
  for (auto _ : state) {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const char* line : lines) headers = curl_slist_append(headers, line);
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, "course=0&type=1");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    const nlohmann::json reply = nlohmann::json::parse(body, nullptr, false);
    std::string answer = "answer: ";
    if (result == CURLE_OK && reply.is_object() && reply.contains("data") && reply["data"].is_string())
      answer += reply["data"].get<std::string>();
    else
      state.SkipWithError("no answer");
    benchmark::DoNotOptimize(answer);
  }
}

BENCHMARK(BM_StageWebRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StageReadJsonValue)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StageScriptContext)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClickToAnswerRuntime)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(false);
BENCHMARK(BM_ClickToAnswerPeer)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(false);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  qvtest::QueryService service;
  service.SetReply(Reply());
  g_service = &service;
  qvtest::SetAnswerServicePort(service.Port());
  qv::InitialiseRuntime(Description());
  qv::LoadWindow(kMainWindowId);

  benchmark::Initialize(&argc, argv);
  qvbench::RatioReporter reporter("click to answer / libcurl + nlohmann-json");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  qv::ShutdownRuntime(0);
  curl_global_cleanup();
  return 0;
}
