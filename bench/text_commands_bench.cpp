// FindText, ReplaceSubtext and SplitText on a 16 MB GBK text of Chinese sentences, each measured
// next to the same work done with std::string / std::string_view in the same run. At the end the
// time of every command is printed as a ratio to its peer.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/commands/command_front.h"

namespace {

using namespace qv;

constexpr size_t kTextBytes = 16 << 20;
constexpr const char* kRareWord = "答案查询结束";  // appears once, at the very end

// Sentences of GB2312 level-1 characters (lead B0..D7, trail A2..FE) with Chinese and ASCII
// punctuation, some ASCII words and line breaks. Trail bytes avoid A1 so that no two characters
// together spell "。" (A1 A3) across their boundary: the std peers, which know nothing of
// characters, then find exactly what the commands find.
const std::string& SampleText() {
  static const std::string text = [] {
    std::mt19937 random(20240601);
    std::string s;
    s.reserve(kTextBytes + 64);
    while (s.size() < kTextBytes) {
      const int characters = 8 + static_cast<int>(random() % 30);
      for (int i = 0; i < characters; ++i) {
        s += static_cast<char>(0xB0 + random() % 0x28);
        s += static_cast<char>(0xA2 + random() % 0x5D);
        if (random() % 40 == 0) s += "Qv2024 ";
      }
      switch (random() % 4) {
        case 0: s += "，"; break;
        case 1: s += ","; break;
        case 2: s += "。"; break;
        default: s += "。\r\n"; break;
      }
    }
    s += kRareWord;
    return s;
  }();
  return text;
}

void FindRuntime(benchmark::State& state) {
  const std::string& text = SampleText();
  for (auto _ : state) benchmark::DoNotOptimize(cmd::FindText(text.c_str(), kRareWord));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
void FindPeer(benchmark::State& state) {
  const std::string_view text = SampleText();
  for (auto _ : state) benchmark::DoNotOptimize(text.find(kRareWord));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Every "，" becomes ", " (the text grows).
void ReplaceRuntime(benchmark::State& state) {
  const std::string& text = SampleText();
  for (auto _ : state) {
    OwnedText out = cmd::ReplaceSubtext(text.c_str(), "，", ", ", {}, {}, true);
    benchmark::DoNotOptimize(out.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
std::string ReplacePeerOnce(std::string_view text, std::string_view sought, std::string_view replacement) {
  std::string out;
  out.reserve(text.size());
  size_t copied = 0;
  for (size_t at = text.find(sought); at != std::string_view::npos; at = text.find(sought, copied)) {
    out.append(text.substr(copied, at - copied));
    out.append(replacement);
    copied = at + sought.size();
  }
  out.append(text.substr(copied));
  return out;
}
void ReplacePeer(benchmark::State& state) {
  const std::string_view text = SampleText();
  for (auto _ : state) {
    std::string out = ReplacePeerOnce(text, "，", ", ");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Split at "。" (Chinese full stop) and at "," (ASCII).
template <int Separator>
const char* SeparatorText() {
  return Separator == 0 ? "。" : ",";
}
template <int Separator>
void SplitRuntime(benchmark::State& state) {
  const std::string& text = SampleText();
  for (auto _ : state) {
    OwnedArray parts = cmd::SplitText(text.c_str(), SeparatorText<Separator>());
    benchmark::DoNotOptimize(parts.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
std::vector<std::string> SplitPeerOnce(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  size_t partStart = 0;
  for (size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, partStart)) {
    parts.emplace_back(text.substr(partStart, at - partStart));
    partStart = at + separator.size();
  }
  if (partStart < text.size()) parts.emplace_back(text.substr(partStart));
  return parts;
}
template <int Separator>
void SplitPeer(benchmark::State& state) {
  const std::string_view text = SampleText();
  for (auto _ : state) {
    std::vector<std::string> parts = SplitPeerOnce(text, SeparatorText<Separator>());
    benchmark::DoNotOptimize(parts.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Both sides must do the same work: same position, same output, same parts.
bool SameResults() {
  const std::string& text = SampleText();
  bool same = cmd::FindText(text.c_str(), kRareWord) == static_cast<int32_t>(std::string_view(text).find(kRareWord) + 1);
  same = same && cmd::ReplaceSubtext(text.c_str(), "，", ", ", {}, {}, true).view() == ReplacePeerOnce(text, "，", ", ");
  for (const char* separator : {"。", ","}) {
    const OwnedArray parts = cmd::SplitText(text.c_str(), separator);
    const std::vector<std::string> peer = SplitPeerOnce(text, separator);
    same = same && parts.size() == static_cast<int64_t>(peer.size());
    for (size_t i = 0; same && i < peer.size(); ++i) same = parts.TextAt(static_cast<int64_t>(i)) == peer[i];
  }
  return same;
}

BENCHMARK(FindRuntime)->Unit(benchmark::kMillisecond);
BENCHMARK(FindPeer)->Unit(benchmark::kMillisecond);
BENCHMARK(ReplaceRuntime)->Unit(benchmark::kMillisecond);
BENCHMARK(ReplacePeer)->Unit(benchmark::kMillisecond);
BENCHMARK(SplitRuntime<0>)->Name("SplitRuntime/FullStop")->Unit(benchmark::kMillisecond);
BENCHMARK(SplitPeer<0>)->Name("SplitPeer/FullStop")->Unit(benchmark::kMillisecond);
BENCHMARK(SplitRuntime<1>)->Name("SplitRuntime/Comma")->Unit(benchmark::kMillisecond);
BENCHMARK(SplitPeer<1>)->Name("SplitPeer/Comma")->Unit(benchmark::kMillisecond);


}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!SameResults()) {
    std::fprintf(stderr, "the commands and their std peers disagree on the sample text\n");
    return 1;
  }
  qvbench::RatioReporter reporter("runtime / std peer:");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
