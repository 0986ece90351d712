// The automation commands against the libraries behind the objects they drive, in the same run:
//  - Script: create a script control, add a 4 KB script and evaluate one expression, through the
//    commands, next to the same on a fresh Duktape heap.
//  - RegExp: Execute a pattern over a 1 MB GBK subject and read Count and the first match, through
//    the commands, next to a pcre2_match_16 loop over the same subject in UTF-16 collecting the same
//    matches.
// At the end each Runtime time is printed as a ratio to its Peer. RegExpSubjectConversion shows how
// much of RegExpRuntime is the code-page conversion of the subject, which the peer is spared.
#include <benchmark/benchmark.h>

#include "bench/ratio_reporter.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <duktape.h>
#include <pcre2.h>

#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/com/com.h"
#include "runtime/automation/automation.h"
#include "runtime/automation/automation_front.h"

namespace {

using namespace qv;

// ---- Script ----------------------------------------------------------------------------------------

// Forty-odd small functions and a lookup table, 4 KB of plain ASCII, so that neither side pays for
// character conversion beyond its own needs.
const std::string& Script() {
  static const std::string script = [] {
    std::string s = "var table = {};\n";
    for (int i = 0; s.size() < 4096 - 160; ++i) {
      const std::string n = std::to_string(i);
      s += "function f" + n + "(x) { var s = 0; for (var i = 0; i < x; i++) { s += (i % 3) + " + n +
           "; } table['k" + n + "'] = s; return s; }\n";
    }
    s.resize(4096 - 32, ' ');
    s += "\nvar ready = true;\n";
    return s;
  }();
  return script;
}
constexpr const char* kExpression = "f3(10) + f17(20) + (ready ? 1 : 0)";

std::string EvalThroughCommands() {
  OwnedObject script;
  if (!cmd::ObjectCreate(script, "MSScriptControl.ScriptControl")) return {};
  cmd::ObjectSetProperty(script, "Language", cmd::TextValue("JScript"));
  cmd::ObjectCall(script, "AddCode", {cmd::TextValue(Script().c_str())});
  return std::string(cmd::ObjectCallText(script, "Eval", {cmd::TextValue(kExpression)}).view());
}

std::string EvalOnDuktape() {
  duk_context* ctx = duk_create_heap_default();
  if (ctx == nullptr) return {};
  std::string result;
  if (duk_peval_string(ctx, Script().c_str()) == 0) {
    duk_pop(ctx);
    if (duk_peval_string(ctx, kExpression) == 0) result = duk_safe_to_string(ctx, -1);
  }
  duk_destroy_heap(ctx);
  return result;
}

void ScriptRuntime(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EvalThroughCommands());
}
void ScriptPeer(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EvalOnDuktape());
}

// ---- RegExp ----------------------------------------------------------------------------------------

constexpr size_t kSubjectBytes = 1 << 20;
constexpr const char* kPattern = "(\\d+)-([a-z]+)";

// GB2312 characters with a "number-word" token every few dozen characters.
const std::string& Subject() {
  static const std::string subject = [] {
    std::mt19937 random(20240611);
    std::string s;
    s.reserve(kSubjectBytes + 64);
    while (s.size() < kSubjectBytes) {
      const int characters = 20 + static_cast<int>(random() % 80);
      for (int i = 0; i < characters; ++i) {
        s += static_cast<char>(0xB0 + random() % 0x28);
        s += static_cast<char>(0xA1 + random() % 0x5E);
      }
      s += " " + std::to_string(random() % 100000) + "-";
      for (int i = 0, n = 1 + static_cast<int>(random() % 8); i < n; ++i) s += static_cast<char>('a' + random() % 26);
      s += random() % 2 ? "，" : ". ";
    }
    return s;
  }();
  return subject;
}

const std::u16string& WideSubject() {
  static const std::u16string wide = [] {
    const std::string& s = Subject();
    std::u16string w(s.size(), u'\0');
    const int n = win::MultiByteToWideChar(win::CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(),
                                           static_cast<int>(w.size()));
    w.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return w;
  }();
  return wide;
}

struct MatchSummary {
  double count = 0;
  std::string first;  // GBK
  bool operator==(const MatchSummary&) const = default;
};

// The object is made once, as the application's regex object keeps its RegExp between searches.
class RegExpThroughCommands {
 public:
  RegExpThroughCommands() {
    cmd::ObjectCreate(m_regex, "VBScript.RegExp");
    cmd::ObjectSetProperty(m_regex, "Pattern", cmd::TextValue(kPattern));
    cmd::ObjectSetProperty(m_regex, "Global", cmd::BoolValue(true));
  }
  MatchSummary Execute() const {
    MatchSummary summary;
    const OwnedObject matches = cmd::ObjectCallObject(m_regex, "Execute", {cmd::TextValue(Subject().c_str())});
    summary.count = cmd::ObjectGetNumber(matches, "Count");
    const OwnedObject first = cmd::ObjectGetObject(matches, "Item", {cmd::IntValue(0)});
    summary.first = std::string(cmd::ObjectGetText(first, "Value").view());
    return summary;
  }

 private:
  OwnedObject m_regex;
};

// What Execute gathers for each match: its position, its text and its groups.
struct PeerMatch {
  size_t firstIndex;
  std::u16string value;
  std::vector<std::optional<std::u16string>> groups;
};

class RegExpOnPcre2 {
 public:
  RegExpOnPcre2() {
    const std::u16string pattern(kPattern, kPattern + std::char_traits<char>::length(kPattern));
    int error = 0;
    PCRE2_SIZE offset = 0;
    m_code = pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(pattern.c_str()), pattern.size(), 0, &error, &offset,
                              nullptr);
    if (m_code != nullptr) pcre2_jit_compile_16(m_code, PCRE2_JIT_COMPLETE);
    m_data = pcre2_match_data_create_from_pattern_16(m_code, nullptr);
  }
  ~RegExpOnPcre2() {
    pcre2_match_data_free_16(m_data);
    pcre2_code_free_16(m_code);
  }
  RegExpOnPcre2(const RegExpOnPcre2&) = delete;
  RegExpOnPcre2& operator=(const RegExpOnPcre2&) = delete;

  MatchSummary Execute() const {
    const std::u16string& subject = WideSubject();
    const auto* units = reinterpret_cast<PCRE2_SPTR16>(subject.data());
    std::vector<PeerMatch> matches;
    PCRE2_SIZE start = 0;
    while (start <= subject.size()) {
      const int rc = pcre2_match_16(m_code, units, subject.size(), start, 0, m_data, nullptr);
      if (rc < 0) break;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer_16(m_data);
      PeerMatch m{ov[0], std::u16string(subject, ov[0], ov[1] - ov[0]), {}};
      for (int g = 1; g < rc; ++g) {
        if (ov[2 * g] == PCRE2_UNSET) m.groups.emplace_back();
        else m.groups.emplace_back(std::u16string(subject, ov[2 * g], ov[2 * g + 1] - ov[2 * g]));
      }
      matches.push_back(std::move(m));
      start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    MatchSummary summary;
    summary.count = static_cast<double>(matches.size());
    if (!matches.empty()) {
      const std::u16string& v = matches.front().value;
      std::string gbk(v.size() * 2, '\0');
      const int n = win::WideCharToMultiByte(win::CP_ACP, 0, v.data(), static_cast<int>(v.size()), gbk.data(),
                                             static_cast<int>(gbk.size()), nullptr, nullptr);
      gbk.resize(n > 0 ? static_cast<size_t>(n) : 0);
      summary.first = gbk;
    }
    return summary;
  }

 private:
  pcre2_code_16* m_code = nullptr;
  pcre2_match_data_16* m_data = nullptr;
};

void RegExpRuntime(benchmark::State& state) {
  const RegExpThroughCommands regex;
  for (auto _ : state) benchmark::DoNotOptimize(regex.Execute());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Subject().size()));
}
void RegExpPeer(benchmark::State& state) {
  const RegExpOnPcre2 regex;
  for (auto _ : state) benchmark::DoNotOptimize(regex.Execute());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Subject().size()));
}

// The part of RegExpRuntime that the peer does not do: the commands hand the GBK subject to the
// object as a BSTR, converted with the ANSI code page on every call.
void RegExpSubjectConversion(benchmark::State& state) {
  const std::string& subject = Subject();
  std::u16string wide(subject.size(), u'\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(win::MultiByteToWideChar(win::CP_ACP, 0, subject.data(), static_cast<int>(subject.size()),
                                                      wide.data(), static_cast<int>(wide.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * subject.size()));
}

// Both sides must do the same work and reach the same answers.
bool SameResults() {
  const std::string viaCommands = EvalThroughCommands();
  const std::string viaDuktape = EvalOnDuktape();
  if (viaCommands.empty() || viaCommands != viaDuktape) {
    std::fprintf(stderr, "script: commands gave \"%s\", Duktape \"%s\"\n", viaCommands.c_str(), viaDuktape.c_str());
    return false;
  }
  const MatchSummary a = RegExpThroughCommands().Execute();
  const MatchSummary b = RegExpOnPcre2().Execute();
  if (a.count == 0 || !(a == b)) {
    std::fprintf(stderr, "regexp: commands found %.0f (\"%s\"), PCRE2 %.0f (\"%s\")\n", a.count, a.first.c_str(),
                 b.count, b.first.c_str());
    return false;
  }
  return true;
}

BENCHMARK(ScriptRuntime)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScriptPeer)->Unit(benchmark::kMicrosecond);
BENCHMARK(RegExpRuntime)->Unit(benchmark::kMillisecond);
BENCHMARK(RegExpPeer)->Unit(benchmark::kMillisecond);
BENCHMARK(RegExpSubjectConversion)->Unit(benchmark::kMillisecond);


}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // What start-up does for the program: COM on this thread, the built-in classes, the commands.
  win::CoInitialize(nullptr);
  RegisterAutomationClasses();
  RegisterAutomationCommands();
  if (!SameResults()) {
    std::fprintf(stderr, "the commands and their library peers disagree\n");
    return 1;
  }
  qvbench::RatioReporter reporter("commands / library peer:");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  win::CoUninitialize();
  return 0;
}
