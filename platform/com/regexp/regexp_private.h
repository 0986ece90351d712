// What the files of the regular-expression engine share: the set of UTF-16 code units that
// classes are built from, JavaScript's case equivalence, the translation of a pattern into PCRE2
// syntax, and the expansion of replacement templates.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/regexp/regexp_engine.h"

namespace win::regexp {

// A set of 16-bit code units: 65536 bits, whole-word operations. The words that may hold members
// are tracked, so that the many small classes of a pattern cost little to build and to walk.
class UnitSet {
 public:
  void Add(char16_t unit) {
    Touch(unit >> 6, (unit >> 6) + 1);
    m_words[unit >> 6] |= uint64_t{1} << (unit & 63);
  }
  void AddRange(char16_t first, char16_t last);
  void AddSet(const UnitSet& other);
  void Invert();
  bool Contains(char16_t unit) const { return (m_words[unit >> 6] >> (unit & 63)) & 1; }
  bool Empty() const;
  size_t Count() const;
  // Calls onRun(first, last) for each run of consecutive members, in ascending order. (Not
  // "emit": Qt defines that name as a macro.)
  template <class OnRun>
  void ForEachRun(OnRun onRun) const;

 private:
  static constexpr size_t kWords = 1024;
  void Touch(size_t first, size_t end) {
    m_first = std::min(m_first, first);
    m_end = std::max(m_end, end);
  }

  std::array<uint64_t, kWords> m_words{};
  // Words outside [m_first, m_end) are zero.
  size_t m_first = kWords;
  size_t m_end = 0;
};

// JavaScript's Canonicalize for patterns without the "u" flag: the unit's upper-case form when
// that is one unit, except that nothing outside ASCII becomes ASCII (so "ſ" stays apart from "s").
char16_t CanonicalCase(char16_t unit);
// Adds to the set every unit whose canonical form is the canonical form of a member.
void CloseUnderCase(UnitSet& set);
// The units that match `unit` when case is ignored, in ascending order: the unit itself and the
// other members of its equivalence class (at most a handful).
std::vector<char16_t> CaseVariants(char16_t unit);

struct TranslatedPattern {
  std::u16string source;  // PCRE2 syntax
  uint32_t captureCount = 0;
  // A back-reference compared without regard to case. It needs PCRE2_UCP for case beyond ASCII,
  // which PCRE2 10.42's interpreter applies to references in non-UTF mode and its JIT does not
  // ("(\u03b1)(?i:\1)" fails on "\u03b1\u0391" there), so these patterns run in the interpreter.
  bool caselessBackReference = false;
};

enum class CaseMode { Sensitive, Insensitive };
enum class LineMode { Single, Multi };

// Translates a VBScript pattern into PCRE2 syntax that matches the same things. On failure returns
// the kind of fault and sets errorOffset to the code unit where it was found.
RegExpError TranslatePattern(std::u16string_view pattern, CaseMode caseMode, LineMode lineMode,
                             TranslatedPattern& out, size_t& errorOffset);

// One capture of a match: the code units [start, end) of the subject, or no part in the match.
struct CaptureSpan {
  size_t start = 0;
  size_t end = 0;
  bool matched = false;
};

// Appends the replacement template, expanded for one match, to out. captures[0] is the whole
// match, captures[n] group n. Returns false, with out partly extended, as soon as out would grow
// beyond maxUnits ("$`" and "$'" can copy the whole subject for every match).
bool ExpandReplacement(std::u16string_view replacement, std::u16string_view subject,
                       std::span<const CaptureSpan> captures, size_t maxUnits,
                       std::u16string& out);

template <class OnRun>
void UnitSet::ForEachRun(OnRun onRun) const {
  const uint32_t end = static_cast<uint32_t>(m_end * 64);
  uint32_t unit = static_cast<uint32_t>(std::min(m_first, m_end) * 64);
  while (unit < end) {
    // Skip to the next member, a word at a time.
    uint64_t word = m_words[unit >> 6] >> (unit & 63);
    if (word == 0) {
      unit = (unit | 63) + 1;
      continue;
    }
    unit += std::countr_zero(word);
    const uint32_t first = unit;
    // Then to the next non-member.
    while (unit < end) {
      // Shifting brings in zeros, so the units past this word never count as gaps here.
      const uint64_t gaps = ~m_words[unit >> 6] >> (unit & 63);
      if (gaps == 0) {
        unit = (unit | 63) + 1;
        continue;
      }
      unit += std::countr_zero(gaps);
      break;
    }
    onRun(static_cast<char16_t>(first), static_cast<char16_t>(unit - 1));
  }
}

}  // namespace win::regexp
