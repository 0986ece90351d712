// ReadJsonValue against Duktape used directly, in the same run: for replies of 1 KB, 100 KB and
// 5 MB, ReadJsonValue on the GBK reply (two script contexts, the JSON check, the load and the
// reads of the "data" member) next to a fresh Duktape heap that runs JSON.parse on the UTF-8 reply
// and reads the same member. At the end each Runtime time is printed as a ratio to its Peer.
#include <benchmark/benchmark.h>

#include <duktape.h>

#include <cstdio>
#include <map>
#include <string>

#include "app/program.h"
#include "bench/ratio_reporter.h"
#include "json/json_object.h"
#include "platform/codepage/codepage.h"
#include "runtime/memory/owned.h"
#include "runtime/startup.h"

namespace {

using namespace qv;

// An answer service's reply of about `bytes` bytes of UTF-8: a message, a list of question
// records in Chinese and English, and the "data" member last.
std::string ReplyUtf8(size_t bytes) {
  const std::string record = reinterpret_cast<const char*>(
      u8R"({"id":10234,"q":"下列关于数据结构的说法，哪一项是正确的？ Which statement is true?","a":"答案：C. 栈是后进先出的线性表","score":1.5,"ok":true},)");
  std::string reply = R"({"code":1,"msg":"ok","list":[)";
  while (reply.size() + record.size() + 64 < bytes) reply += record;
  if (reply.back() == ',') reply.pop_back();
  reply += reinterpret_cast<const char*>(u8R"(],"data":"答案：C. 栈是后进先出的线性表"})");
  return reply;
}

std::string ToGbk(const std::string& utf8) {
  std::u16string wide(utf8.size(), u'\0');
  const int units = win::MultiByteToWideChar(win::CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                             wide.data(), static_cast<int>(wide.size()));
  std::string gbk(static_cast<size_t>(units) * 2, '\0');
  const int n = win::WideCharToMultiByte(win::CP_GBK, 0, wide.data(), units, gbk.data(), static_cast<int>(gbk.size()),
                                         nullptr, nullptr);
  gbk.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return gbk;
}

struct Reply {
  std::string utf8;
  std::string gbk;
};

const Reply& ReplyOfSize(size_t bytes) {
  static std::map<size_t, Reply> replies;
  auto found = replies.find(bytes);
  if (found == replies.end()) {
    Reply r;
    r.utf8 = ReplyUtf8(bytes);
    r.gbk = ToGbk(r.utf8);
    found = replies.emplace(bytes, std::move(r)).first;
  }
  return found->second;
}

// The runtime side gets a fresh copy of the reply each time, since ReadJsonValue strips it in place.
std::string ReadThroughRuntime(const Reply& reply) {
  OwnedText text = OwnedText::Copy(reply.gbk);
  return std::string(quorvane::ReadJsonValue(text, "data").view());
}

std::string ReadOnDuktape(const Reply& reply) {
  duk_context* ctx = duk_create_heap_default();
  if (ctx == nullptr) return {};
  std::string result;
  duk_push_lstring(ctx, reply.utf8.data(), reply.utf8.size());
  if (duk_safe_call(
          ctx, [](duk_context* c, void*) -> duk_ret_t {
            duk_json_decode(c, -1);
            duk_get_prop_string(c, -1, "data");
            return 1;
          },
          nullptr, 1, 1) == DUK_EXEC_SUCCESS &&
      duk_is_string(ctx, -1)) {
    result = duk_get_string(ctx, -1);
  }
  duk_destroy_heap(ctx);
  return result;
}

void ReadJsonValueRuntime(benchmark::State& state) {
  const Reply& reply = ReplyOfSize(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadThroughRuntime(reply));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.utf8.size()));
}
void ReadJsonValuePeer(benchmark::State& state) {
  const Reply& reply = ReplyOfSize(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadOnDuktape(reply));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.utf8.size()));
}

constexpr int64_t kSizes[] = {1 << 10, 100 << 10, 5 << 20};

// Both sides must find the same answer in every reply.
bool SameResults() {
  for (int64_t size : kSizes) {
    const Reply& reply = ReplyOfSize(static_cast<size_t>(size));
    const std::string viaRuntime = ReadThroughRuntime(reply);
    const std::string viaDuktape = ReadOnDuktape(reply);
    if (viaRuntime.empty() || viaRuntime != ToGbk(viaDuktape)) {
      std::fprintf(stderr, "%lld bytes: ReadJsonValue and Duktape disagree\n", static_cast<long long>(size));
      return false;
    }
  }
  return true;
}

BENCHMARK(ReadJsonValueRuntime)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2])->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadJsonValuePeer)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2])->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The runtime as the program sets it up, with its declared DLL commands.
  qv::InitialiseRuntime(quorvane::Description());
  if (!SameResults()) return 1;
  qvbench::RatioReporter reporter("ReadJsonValue / Duktape JSON.parse:");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  qv::ShutdownRuntime(0);
  return 0;
}
