// The matching engine behind the VBScript.RegExp stand-in: VBScript patterns (the JavaScript
// regular-expression syntax of the late 1990s, without the later additions) run by PCRE2's 16-bit
// library over UTF-16 subjects.
//
// Subjects, patterns and results are UTF-16 code units, and positions count code units, as the
// automation object reports them (FirstIndex, Length). A pattern is translated into PCRE2 syntax
// and compiled the first time it is used; the compiled form is kept until the pattern or a flag
// that changes the compiled form (IgnoreCase, Multiline) changes.
//
// Nothing here throws: every operation returns a RegExpError, and on failure its output is empty.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win::regexp {

enum class RegExpFlags : unsigned {
  None = 0,
  IgnoreCase = 1,
  Global = 2,
  Multiline = 4,
};

constexpr RegExpFlags operator|(RegExpFlags a, RegExpFlags b) {
  return static_cast<RegExpFlags>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr RegExpFlags operator&(RegExpFlags a, RegExpFlags b) {
  return static_cast<RegExpFlags>(static_cast<unsigned>(a) & static_cast<unsigned>(b));
}
constexpr RegExpFlags operator~(RegExpFlags a) {
  return static_cast<RegExpFlags>(~static_cast<unsigned>(a) & 7u);
}
constexpr bool HasFlag(RegExpFlags set, RegExpFlags flag) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(flag)) != 0;
}

// Why an operation failed. The first group are faults of the pattern, in the kinds VBScript's
// own run-time errors distinguish; the automation object turns each into its error code.
enum class RegExpError {
  None,
  Syntax,                // anything else the syntax rejects: ")" without "(", "(?<", "\" at the end
  UnexpectedQuantifier,  // a quantifier with nothing to repeat, or after another quantifier
  ExpectedBracket,       // "[" without its "]"
  ExpectedParen,         // "(" without its ")"
  InvalidRange,          // a class range whose end comes before its start, such as [z-a]
  TooComplex,            // valid, but beyond PCRE2's size, nesting or repetition limits
  MatchLimit,            // the match took too many steps, too much memory or too long
  OutOfMemory,           // allocation failed, or the result would exceed its size cap
  Internal,              // PCRE2 reported something it should not (a bug on our side)
};

// Bounds that keep one call from freezing the thread or exhausting memory. The defaults suit
// interactive use; tests lower them to reach the failure paths quickly.
struct RegExpLimits {
  // Backtracking steps per start position (pcre2_set_match_limit).
  uint32_t matchLimit = 1'000'000;
  // Nested backtracking depth of the interpreter (pcre2_set_depth_limit).
  uint32_t depthLimit = 1'000'000;
  // Heap the interpreter may use for backtracking, in KiB (pcre2_set_heap_limit).
  uint32_t heapLimitKiB = 64 * 1024;
  // Largest stack the JIT-compiled matcher may grow; when it is not enough the same search is
  // repeated by the interpreter, which is bounded by the heap limit instead.
  size_t jitStackBytes = 4 * 1024 * 1024;
  // Wall-clock time for a whole Execute, Test or Replace call. The match limit counts steps per
  // start position only, so a pattern that costs a little at each of a million positions would
  // otherwise run for minutes.
  std::chrono::milliseconds timeBudget{2000};
  // Largest result, in bytes: the matches of Execute, the text of Replace.
  size_t maxResultBytes = 256u * 1024 * 1024;
};

struct RegExpMatch {
  size_t firstIndex = 0;  // code units before the match
  size_t length = 0;      // code units in the match
  std::u16string value;
  // One entry per capture group of the pattern; empty when the group took no part in the match.
  std::vector<std::optional<std::u16string>> subMatches;
};

class RegExpEngine {
 public:
  explicit RegExpEngine(RegExpLimits limits = {});
  ~RegExpEngine();
  RegExpEngine(RegExpEngine&&) noexcept;
  RegExpEngine& operator=(RegExpEngine&&) noexcept;
  RegExpEngine(const RegExpEngine&) = delete;
  RegExpEngine& operator=(const RegExpEngine&) = delete;

  // Setting the pattern never fails: a faulty pattern is reported by the next operation.
  void SetPattern(std::u16string_view pattern);
  const std::u16string& Pattern() const { return m_pattern; }
  void SetFlags(RegExpFlags flags);
  RegExpFlags Flags() const { return m_flags; }

  // Translates and compiles the pattern unless the current one is already compiled.
  RegExpError Compile();
  // The pattern's number of capture groups; 0 until Compile succeeds.
  size_t CaptureCount() const;

  // Every match (Global) or the first one. No match is success with an empty list.
  RegExpError Execute(std::u16string_view subject, std::vector<RegExpMatch>& matches);
  // Whether the pattern matches anywhere in the subject; Global plays no part.
  RegExpError Test(std::u16string_view subject, bool& found);
  // The subject with every match (Global) or the first one replaced by the expanded template:
  // "$1".."$99", "$&", "$`", "$'" and "$$" as in JavaScript, anything else literally.
  RegExpError Replace(std::u16string_view subject, std::u16string_view replacement,
                      std::u16string& result);

 private:
  struct Compiled;
  class Search;

  std::u16string m_pattern;
  RegExpFlags m_flags = RegExpFlags::None;
  RegExpLimits m_limits;
  // The compiled form of m_pattern with the flags it was compiled for, or the error it gave.
  std::unique_ptr<Compiled> m_compiled;
  RegExpError m_compileError = RegExpError::None;
  bool m_compileDone = false;
};

}  // namespace win::regexp
