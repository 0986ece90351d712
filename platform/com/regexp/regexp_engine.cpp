// The engine's use of PCRE2: compiling translated patterns, searching, and turning PCRE2's error
// codes into RegExpError. This is the one file that calls PCRE2.
//
// Subjects are searched as sequences of 16-bit code units, without PCRE2_UTF. JavaScript patterns
// without the "u" flag work on code units too: "." and classes match one unit, so a character
// outside the Basic Multilingual Plane is two units that a pattern can match separately, and
// positions count units. Without UTF there is also no validity check to fail, so a subject with
// an unpaired surrogate (which a BSTR may hold) is searched like any other.
//
// Each compiled pattern is JIT-compiled when PCRE2 can, and falls back to the interpreter. Three
// bounds stop a search that would run away: the match limit (backtracking steps at one start
// position, for both matchers), the depth and heap limits of the interpreter, and a time budget
// for the whole call. PCRE2 resets the match limit at every start position, so a pattern that
// costs a little at each of a million positions escapes it; the translation therefore opens every
// pattern with a callout, which PCRE2 calls at each start position it tries, and the callout
// checks the clock. Within one start position the match limit keeps the work to a few
// milliseconds, so checking there is enough. A search stopped by any bound fails with
// RegExpError::MatchLimit.
#define PCRE2_CODE_UNIT_WIDTH 16
#include "platform/com/regexp/regexp_engine.h"

#include <pcre2.h>

#include <new>
#include <span>

#include "platform/com/regexp/regexp_private.h"

namespace win::regexp {
namespace {

struct CodeFree {
  void operator()(pcre2_code_16* p) const { pcre2_code_free_16(p); }
};
struct CompileContextFree {
  void operator()(pcre2_compile_context_16* p) const { pcre2_compile_context_free_16(p); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context_16* p) const { pcre2_match_context_free_16(p); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data_16* p) const { pcre2_match_data_free_16(p); }
};
struct JitStackFree {
  void operator()(pcre2_jit_stack_16* p) const { pcre2_jit_stack_free_16(p); }
};

// The JIT stack starts small and grows on demand up to RegExpLimits::jitStackBytes.
constexpr size_t kJitStackStart = 32 * 1024;

// PCRE2 refusing a translated pattern means the pattern is too big or too deeply nested for it;
// any other compile error would be a fault of the translation.
RegExpError FromCompileError(int code) {
  switch (code) {
    case PCRE2_ERROR_QUANTIFIER_TOO_BIG:
    case PCRE2_ERROR_PARENTHESES_NEST_TOO_DEEP:
    case PCRE2_ERROR_PATTERN_TOO_LARGE:
    case PCRE2_ERROR_INTERNAL_CODE_OVERFLOW:
    case PCRE2_ERROR_LOOKBEHIND_TOO_COMPLICATED:
    case PCRE2_ERROR_SUBPATTERN_NUMBER_TOO_BIG:
    case PCRE2_ERROR_INTERNAL_PARSED_OVERFLOW:
    case PCRE2_ERROR_PATTERN_TOO_COMPLICATED:
    case PCRE2_ERROR_PATTERN_STRING_TOO_LONG:
    case PCRE2_ERROR_TOO_MANY_CAPTURES:
      return RegExpError::TooComplex;
    case PCRE2_ERROR_HEAP_FAILED:
      return RegExpError::OutOfMemory;
    default:
      return RegExpError::Internal;
  }
}

RegExpError FromMatchError(int code) {
  switch (code) {
    case PCRE2_ERROR_MATCHLIMIT:
    case PCRE2_ERROR_DEPTHLIMIT:
    case PCRE2_ERROR_HEAPLIMIT:
    case PCRE2_ERROR_JIT_STACKLIMIT:
    case PCRE2_ERROR_CALLOUT:
      return RegExpError::MatchLimit;
    case PCRE2_ERROR_NOMEMORY:
      return RegExpError::OutOfMemory;
    default:
      return RegExpError::Internal;
  }
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Where the search for the next match begins. After an empty match it moves on by one unit, or by
// both units of a surrogate pair so that the next search does not begin between them.
size_t NextStart(std::u16string_view subject, const CaptureSpan& match) {
  if (match.end > match.start) return match.end;
  const size_t at = match.end;
  if (at + 1 < subject.size() && IsHighSurrogate(subject[at]) && IsLowSurrogate(subject[at + 1])) {
    return at + 2;
  }
  return at + 1;
}

}  // namespace

// A compiled pattern with everything a search needs; each PCRE2 object is freed by its owner.
struct RegExpEngine::Compiled {
  std::unique_ptr<pcre2_code_16, CodeFree> code;
  std::unique_ptr<pcre2_match_context_16, MatchContextFree> matchContext;
  std::unique_ptr<pcre2_match_data_16, MatchDataFree> matchData;
  std::unique_ptr<pcre2_jit_stack_16, JitStackFree> jitStack;
  bool jit = false;
  uint32_t captureCount = 0;
};

// One call's searches over one subject: they share the time budget, and the callout that checks
// it points at this object while it lives.
class RegExpEngine::Search {
 public:
  Search(Compiled& compiled, const RegExpLimits& limits, std::u16string_view subject)
      : m_compiled(compiled), m_subject(subject),
        m_deadline(std::chrono::steady_clock::now() + limits.timeBudget),
        m_captures(compiled.captureCount + 1) {
    pcre2_set_callout_16(m_compiled.matchContext.get(), &Search::OnCallout, this);
  }
  ~Search() { pcre2_set_callout_16(m_compiled.matchContext.get(), nullptr, nullptr); }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  // Looks for the first match that starts at or after start.
  RegExpError Next(size_t start, bool& found) {
    found = false;
    if (std::chrono::steady_clock::now() > m_deadline) return RegExpError::MatchLimit;
    // PCRE2 takes a null subject as an error even when its length is 0.
    static constexpr char16_t kEmpty[1] = {0};
    const auto* units =
        reinterpret_cast<PCRE2_SPTR16>(m_subject.empty() ? kEmpty : m_subject.data());
    const uint32_t options = m_compiled.jit ? 0 : PCRE2_NO_JIT;
    int rc = pcre2_match_16(m_compiled.code.get(), units, m_subject.size(), start, options,
                            m_compiled.matchData.get(), m_compiled.matchContext.get());
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
      // The JIT's stack is smaller than the interpreter's heap allowance: try again there.
      rc = pcre2_match_16(m_compiled.code.get(), units, m_subject.size(), start, PCRE2_NO_JIT,
                          m_compiled.matchData.get(), m_compiled.matchContext.get());
    }
    if (rc == PCRE2_ERROR_NOMATCH) return RegExpError::None;
    if (rc <= 0) return rc == 0 ? RegExpError::Internal : FromMatchError(rc);
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer_16(m_compiled.matchData.get());
    const uint32_t pairs = pcre2_get_ovector_count_16(m_compiled.matchData.get());
    for (size_t group = 0; group < m_captures.size(); ++group) {
      CaptureSpan& span = m_captures[group];
      span = {};
      if (group < pairs && ovector[2 * group] != PCRE2_UNSET) {
        span = {ovector[2 * group], ovector[2 * group + 1], true};
      }
    }
    found = true;
    return RegExpError::None;
  }

  std::span<const CaptureSpan> Captures() const { return m_captures; }

 private:
  // Called at each start position. A simple pattern tries a start position in a few nanoseconds,
  // less than reading the clock, so the clock is read at every 32nd one; the match limit keeps each
  // attempt short, so the budget is still kept to within a few milliseconds.
  static int OnCallout(pcre2_callout_block_16*, void* data) {
    auto* self = static_cast<Search*>(data);
    if (++self->m_callouts % kCalloutsPerClockRead != 0) return 0;
    return std::chrono::steady_clock::now() > self->m_deadline ? PCRE2_ERROR_CALLOUT : 0;
  }

  static constexpr uint32_t kCalloutsPerClockRead = 32;
  uint32_t m_callouts = 0;

  Compiled& m_compiled;
  std::u16string_view m_subject;
  std::chrono::steady_clock::time_point m_deadline;
  std::vector<CaptureSpan> m_captures;
};

RegExpEngine::RegExpEngine(RegExpLimits limits) : m_limits(limits) {}
RegExpEngine::~RegExpEngine() = default;
RegExpEngine::RegExpEngine(RegExpEngine&&) noexcept = default;
RegExpEngine& RegExpEngine::operator=(RegExpEngine&&) noexcept = default;

void RegExpEngine::SetPattern(std::u16string_view pattern) {
  if (m_compileDone && pattern == m_pattern) return;
  m_pattern.assign(pattern);
  m_compiled.reset();
  m_compileDone = false;
}

void RegExpEngine::SetFlags(RegExpFlags flags) {
  // Global decides only how often a search is repeated; the other two change the translation.
  const RegExpFlags compiledFlags = RegExpFlags::IgnoreCase | RegExpFlags::Multiline;
  if ((flags & compiledFlags) != (m_flags & compiledFlags)) {
    m_compiled.reset();
    m_compileDone = false;
  }
  m_flags = flags;
}

size_t RegExpEngine::CaptureCount() const { return m_compiled ? m_compiled->captureCount : 0; }

RegExpError RegExpEngine::Compile() {
  if (m_compileDone) return m_compileError;
  m_compiled.reset();
  m_compileDone = true;
  m_compileError = RegExpError::None;
  try {
    TranslatedPattern translated;
    size_t errorOffset = 0;
    m_compileError = TranslatePattern(
        m_pattern,
        HasFlag(m_flags, RegExpFlags::IgnoreCase) ? CaseMode::Insensitive : CaseMode::Sensitive,
        HasFlag(m_flags, RegExpFlags::Multiline) ? LineMode::Multi : LineMode::Single, translated,
        errorOffset);
    if (m_compileError != RegExpError::None) return m_compileError;

    // MATCH_UNSET_BACKREF: a reference to a group that has not matched matches the empty string,
    // as in JavaScript. NEVER_UTF and NEVER_BACKSLASH_C keep the unit-by-unit reading certain.
    uint32_t options = PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_UTF | PCRE2_NEVER_BACKSLASH_C;
    if (translated.caselessBackReference) options |= PCRE2_UCP;
    std::unique_ptr<pcre2_compile_context_16, CompileContextFree> context(
        pcre2_compile_context_create_16(nullptr));
    if (!context) return m_compileError = RegExpError::OutOfMemory;

    auto compiled = std::make_unique<Compiled>();
    int errorCode = 0;
    PCRE2_SIZE pcreOffset = 0;
    compiled->code.reset(pcre2_compile_16(
        reinterpret_cast<PCRE2_SPTR16>(translated.source.data()), translated.source.size(),
        options, &errorCode, &pcreOffset, context.get()));
    if (!compiled->code) return m_compileError = FromCompileError(errorCode);
    if (pcre2_pattern_info_16(compiled->code.get(), PCRE2_INFO_CAPTURECOUNT,
                              &compiled->captureCount) != 0 ||
        compiled->captureCount != translated.captureCount) {
      return m_compileError = RegExpError::Internal;
    }

    compiled->matchContext.reset(pcre2_match_context_create_16(nullptr));
    compiled->matchData.reset(pcre2_match_data_create_from_pattern_16(compiled->code.get(), nullptr));
    if (!compiled->matchContext || !compiled->matchData) {
      return m_compileError = RegExpError::OutOfMemory;
    }
    pcre2_set_match_limit_16(compiled->matchContext.get(), m_limits.matchLimit);
    pcre2_set_depth_limit_16(compiled->matchContext.get(), m_limits.depthLimit);
    pcre2_set_heap_limit_16(compiled->matchContext.get(), m_limits.heapLimitKiB);

    if (!translated.caselessBackReference &&
        pcre2_jit_compile_16(compiled->code.get(), PCRE2_JIT_COMPLETE) == 0) {
      compiled->jitStack.reset(pcre2_jit_stack_create_16(
          std::min(kJitStackStart, m_limits.jitStackBytes), m_limits.jitStackBytes, nullptr));
      if (compiled->jitStack) {
        pcre2_jit_stack_assign_16(compiled->matchContext.get(), nullptr, compiled->jitStack.get());
        compiled->jit = true;
      }
    }
    m_compiled = std::move(compiled);
    return RegExpError::None;
  } catch (const std::bad_alloc&) {
    m_compiled.reset();
    return m_compileError = RegExpError::OutOfMemory;
  }
}

RegExpError RegExpEngine::Execute(std::u16string_view subject, std::vector<RegExpMatch>& matches) {
  matches.clear();
  if (RegExpError e = Compile(); e != RegExpError::None) return e;
  RegExpError error = RegExpError::None;
  try {
    Search search(*m_compiled, m_limits, subject);
    const bool global = HasFlag(m_flags, RegExpFlags::Global);
    size_t resultBytes = 0;
    size_t start = 0;
    while (start <= subject.size()) {
      bool found = false;
      error = search.Next(start, found);
      if (error != RegExpError::None || !found) break;
      const std::span<const CaptureSpan> captures = search.Captures();
      const CaptureSpan& whole = captures[0];
      resultBytes += sizeof(RegExpMatch) + (whole.end - whole.start) * sizeof(char16_t);
      for (const CaptureSpan& group : captures.subspan(1)) {
        resultBytes += sizeof(std::optional<std::u16string>) +
                       (group.matched ? (group.end - group.start) * sizeof(char16_t) : 0);
      }
      if (resultBytes > m_limits.maxResultBytes) {
        error = RegExpError::OutOfMemory;
        break;
      }
      RegExpMatch& match = matches.emplace_back();
      match.firstIndex = whole.start;
      match.length = whole.end - whole.start;
      match.value.assign(subject.substr(whole.start, match.length));
      match.subMatches.reserve(captures.size() - 1);
      for (const CaptureSpan& group : captures.subspan(1)) {
        if (group.matched) {
          match.subMatches.emplace_back(subject.substr(group.start, group.end - group.start));
        } else {
          match.subMatches.emplace_back(std::nullopt);
        }
      }
      if (!global) break;
      start = NextStart(subject, whole);
    }
  } catch (const std::bad_alloc&) {
    error = RegExpError::OutOfMemory;
  }
  if (error != RegExpError::None) {
    matches.clear();
    matches.shrink_to_fit();
  }
  return error;
}

RegExpError RegExpEngine::Test(std::u16string_view subject, bool& found) {
  found = false;
  if (RegExpError e = Compile(); e != RegExpError::None) return e;
  try {
    Search search(*m_compiled, m_limits, subject);
    return search.Next(0, found);
  } catch (const std::bad_alloc&) {
    found = false;
    return RegExpError::OutOfMemory;
  }
}

RegExpError RegExpEngine::Replace(std::u16string_view subject, std::u16string_view replacement,
                                  std::u16string& result) {
  result.clear();
  if (RegExpError e = Compile(); e != RegExpError::None) return e;
  RegExpError error = RegExpError::None;
  try {
    Search search(*m_compiled, m_limits, subject);
    const bool global = HasFlag(m_flags, RegExpFlags::Global);
    const size_t maxUnits = m_limits.maxResultBytes / sizeof(char16_t);
    size_t copied = 0;  // subject units already in the result
    size_t start = 0;
    while (start <= subject.size()) {
      bool found = false;
      error = search.Next(start, found);
      if (error != RegExpError::None || !found) break;
      const std::span<const CaptureSpan> captures = search.Captures();
      const std::u16string_view between = subject.substr(copied, captures[0].start - copied);
      if (result.size() + between.size() > maxUnits) {
        error = RegExpError::OutOfMemory;
        break;
      }
      result.append(between);
      if (!ExpandReplacement(replacement, subject, captures, maxUnits, result)) {
        error = RegExpError::OutOfMemory;
        break;
      }
      copied = captures[0].end;
      if (!global) break;
      start = NextStart(subject, captures[0]);
    }
    if (error == RegExpError::None) {
      result.append(subject.substr(copied));
      if (result.size() > maxUnits) error = RegExpError::OutOfMemory;
    }
  } catch (const std::bad_alloc&) {
    error = RegExpError::OutOfMemory;
  }
  if (error != RegExpError::None) {
    result.clear();
    result.shrink_to_fit();
  }
  return error;
}

}  // namespace win::regexp
