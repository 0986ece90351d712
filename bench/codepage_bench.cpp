// MultiByteToWideChar / WideCharToMultiByte on code page 936: 1 MB of text like a Chinese web page
// (markup and ASCII words around GBK sentences) and 1 MB of plain ASCII, decoded, measured and
// encoded. Bytes per second count the GBK side in both directions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/codepage/codepage.h"

namespace {

constexpr size_t kTextBytes = 1 << 20;

// Markup and ASCII words around runs of GB2312 and GBK characters and full-width punctuation, with
// the odd ASCII letter among them. Non-ASCII bytes are written as numbers: this file is compiled
// with a GBK execution character set.
const std::string& MixedText() {
  static const std::string text = [] {
    std::mt19937 random(936);
    std::string s;
    s.reserve(kTextBytes + 256);
    static const char* const kMarkup[] = {"<div class=\"post\">", "</div>\r\n", "<p>", "</p>",
                                          "<a href=\"/thread/20240601.html\">", "</a>", " Qv2024 ", "2024-06-01 "};
    while (s.size() < kTextBytes) {
      s += kMarkup[random() % std::size(kMarkup)];
      const int characters = 6 + static_cast<int>(random() % 40);
      for (int i = 0; i < characters; ++i) {
        const unsigned kind = random() % 100;
        if (kind < 80) {  // GB2312 level 1 and 2
          s += static_cast<char>(0xB0 + random() % 0x48);
          s += static_cast<char>(0xA1 + random() % 0x5E);
        } else if (kind < 88) {  // GBK extension rows (trail 40-7E, 80-FE)
          s += static_cast<char>(0x81 + random() % 0x20);
          const unsigned trail = 0x40 + random() % 0xBE;
          s += static_cast<char>(trail >= 0x7F ? trail + 1 : trail);
        } else if (kind < 94) {  // full-width punctuation: ，。：
          static const unsigned kPunctuation[] = {0xA3AC, 0xA1A3, 0xA3BA};
          const unsigned cell = kPunctuation[random() % 3];
          s += static_cast<char>(cell >> 8);
          s += static_cast<char>(cell & 0xFF);
        } else {
          s += static_cast<char>('a' + random() % 26);
        }
      }
    }
    return s;
  }();
  return text;
}

const std::string& AsciiText() {
  static const std::string text = [] {
    std::mt19937 random(65);
    std::string s;
    s.reserve(kTextBytes + 64);
    while (s.size() < kTextBytes) {
      const int letters = 2 + static_cast<int>(random() % 10);
      for (int i = 0; i < letters; ++i) s += static_cast<char>('a' + random() % 26);
      s += random() % 12 == 0 ? "\r\n" : " ";
    }
    return s;
  }();
  return text;
}

const std::string& Text(int which) { return which == 0 ? MixedText() : AsciiText(); }

std::u16string Decode(const std::string& bytes) {
  const int size = static_cast<int>(bytes.size());
  const int needed = win::MultiByteToWideChar(win::CP_GBK, 0, bytes.data(), size, nullptr, 0);
  std::u16string units(static_cast<size_t>(needed), u'\0');
  win::MultiByteToWideChar(win::CP_GBK, 0, bytes.data(), size, units.data(), needed);
  return units;
}

void DecodeGbk(benchmark::State& state) {
  const std::string& bytes = Text(static_cast<int>(state.range(0)));
  std::u16string units(bytes.size(), u'\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(win::MultiByteToWideChar(win::CP_GBK, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                      units.data(), static_cast<int>(units.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void MeasureGbk(benchmark::State& state) {
  const std::string& bytes = Text(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        win::MultiByteToWideChar(win::CP_GBK, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void EncodeGbk(benchmark::State& state) {
  const std::string& bytes = Text(static_cast<int>(state.range(0)));
  const std::u16string units = Decode(bytes);
  std::string out(bytes.size(), '\0');
  for (auto _ : state) {
    win::BOOL used = win::FALSE;
    benchmark::DoNotOptimize(win::WideCharToMultiByte(win::CP_GBK, 0, units.data(), static_cast<int>(units.size()),
                                                      out.data(), static_cast<int>(out.size()), nullptr, &used));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void MeasureEncodeGbk(benchmark::State& state) {
  const std::string& bytes = Text(static_cast<int>(state.range(0)));
  const std::u16string units = Decode(bytes);
  for (auto _ : state) {
    benchmark::DoNotOptimize(win::WideCharToMultiByte(win::CP_GBK, 0, units.data(), static_cast<int>(units.size()),
                                                      nullptr, 0, nullptr, nullptr));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

// Both texts must survive the round trip, or the numbers measure something else.
bool RoundTrips() {
  for (int which : {0, 1}) {
    const std::string& bytes = Text(which);
    const std::u16string units = Decode(bytes);
    std::string back(bytes.size() + 1, '\0');
    const int written = win::WideCharToMultiByte(win::CP_GBK, 0, units.data(), static_cast<int>(units.size()),
                                                 back.data(), static_cast<int>(back.size()), nullptr, nullptr);
    back.resize(written > 0 ? static_cast<size_t>(written) : 0);
    if (back != bytes) return false;
  }
  return true;
}

}  // namespace

BENCHMARK(DecodeGbk)->Arg(0)->Arg(1)->ArgName("ascii")->Unit(benchmark::kMicrosecond);
BENCHMARK(MeasureGbk)->Arg(0)->Arg(1)->ArgName("ascii")->Unit(benchmark::kMicrosecond);
BENCHMARK(EncodeGbk)->Arg(0)->Arg(1)->ArgName("ascii")->Unit(benchmark::kMicrosecond);
BENCHMARK(MeasureEncodeGbk)->Arg(0)->Arg(1)->ArgName("ascii")->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  if (!RoundTrips()) {
    std::fprintf(stderr, "codepage_bench: a sample text does not survive GBK -> UTF-16 -> GBK\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
