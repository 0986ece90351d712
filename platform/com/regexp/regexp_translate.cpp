// Translation of VBScript patterns into PCRE2 syntax.
//
// VBScript patterns follow the JavaScript grammar of its time, with the leniencies browsers kept
// (ECMA-262 Annex B): "]", "{" and "}" that do not form a quantifier are ordinary characters,
// "\8" is "8", "\c" without a control letter is a backslash, "\x" and "\u" without their hex
// digits are "x" and "u", numbers that are not back-references are octal escapes, and an escaped
// character with no meaning of its own stands for itself. Later additions are not part of it:
// lookbehind, named groups and "(?flags)" groups are syntax errors, and "\p" and "\k" are the
// letters p and k ("\p{L}" matches "p{L}"), as "\u{41}" is 41 times the letter u.
//
// PCRE2 follows Perl, which differs from this grammar in too many small places for options alone
// to bridge ("." and "$" see only "\n" as a line break, "^" in multiline mode does not match
// between "\r" and "\n" nor after a final line break, "\s" lacks most of the Unicode spaces, "[]"
// means something else, "\0" and "\8" are read differently, case folding joins "k" with the Kelvin
// sign). So the pattern is parsed here and rewritten into a form whose meaning does not depend on
// PCRE2's newline, case or escape conventions:
//
//   - every character outside ASCII letters and digits is written as \x{hhhh};
//   - every class, and "." and \d \D \w \W \s \S, becomes an explicit list of code-unit ranges,
//     closed under JavaScript's case equivalence when case is ignored, and already inverted when
//     the class is negated; "[]" matches nothing and "[^]" any unit;
//   - with case ignored, a character with case variants becomes the class of its variants;
//     back-references become (?i:\g{n}), compared by PCRE2's Unicode case folding (PCRE2_UCP);
//   - "^" and "$" become \A and \z, or in multiline mode lookarounds for the four JavaScript line
//     terminators (\n, \r, U+2028, U+2029), each of which ends a line on its own;
//   - \b and \B become lookarounds over [0-9A-Z_a-z];
//   - lookaheads are wrapped in (?:...) so that a quantifier after one, which the grammar allows,
//     applies to a group;
//   - a callout (?C) opens the pattern, so that the engine hears of every start position PCRE2
//     tries and can stop a search that has gone on too long (see regexp_engine.cpp).
//
// Capture groups stay capture groups in the same order, and nothing else captures, so group
// numbers are the pattern's own.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/regexp/regexp_private.h"

namespace win::regexp {

void UnitSet::AddRange(char16_t first, char16_t last) {
  Touch(first >> 6, (last >> 6) + 1);
  for (uint32_t unit = first; unit <= last;) {
    const uint32_t bit = unit & 63;
    const uint32_t count = std::min<uint32_t>(64 - bit, last - unit + 1);
    const uint64_t mask = count == 64 ? ~uint64_t{0} : ((uint64_t{1} << count) - 1) << bit;
    m_words[unit >> 6] |= mask;
    unit += count;
  }
}

void UnitSet::AddSet(const UnitSet& other) {
  if (other.m_first >= other.m_end) return;
  Touch(other.m_first, other.m_end);
  for (size_t i = other.m_first; i < other.m_end; ++i) m_words[i] |= other.m_words[i];
}

void UnitSet::Invert() {
  for (uint64_t& word : m_words) word = ~word;
  m_first = 0;
  m_end = kWords;
}

size_t UnitSet::Count() const {
  size_t count = 0;
  for (size_t i = m_first; i < m_end; ++i) count += std::popcount(m_words[i]);
  return count;
}

bool UnitSet::Empty() const {
  for (size_t i = m_first; i < m_end; ++i) {
    if (m_words[i] != 0) return false;
  }
  return true;
}

namespace {

// Patterns, and translations, longer than these are refused as too complex. PCRE2 could not hold
// them anyway: the library is built with 16-bit internal links, which limits a compiled pattern
// to 64K code units, and no construct compiles to less than one unit per four of its source. The
// limits keep a hostile pattern from costing more than a moment to translate.
constexpr size_t kMaxPatternUnits = 1u << 18;
constexpr size_t kMaxTranslatedUnits = 1u << 19;
// PCRE2's largest repetition count.
constexpr uint64_t kMaxRepeat = 65535;

bool IsDecimal(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsOctal(char16_t c) { return c >= u'0' && c <= u'7'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void AppendNumber(std::u16string& out, uint64_t number) {
  for (char digit : std::to_string(number)) out.push_back(static_cast<char16_t>(digit));
}

bool IsSetEscape(char16_t c) {
  return c == u'd' || c == u'D' || c == u'w' || c == u'W' || c == u's' || c == u'S';
}

// The members of \d, \w, \s and their complements.
UnitSet SetForEscape(char16_t letter) {
  UnitSet set;
  switch (letter) {
    case u'd':
    case u'D':
      set.AddRange(u'0', u'9');
      break;
    case u'w':
    case u'W':
      set.AddRange(u'0', u'9');
      set.AddRange(u'A', u'Z');
      set.AddRange(u'a', u'z');
      set.Add(u'_');
      break;
    default:
      // JavaScript's WhiteSpace and LineTerminator: tab, vertical tab, form feed, space,
      // no-break space, the byte order mark, the Unicode space separators, LF, CR, U+2028, U+2029.
      set.AddRange(u'\t', u'\r');
      set.Add(u' ');
      set.Add(u'\u00a0');
      set.Add(u'\u1680');
      set.AddRange(u'\u2000', u'\u200a');
      set.Add(u'\u2028');
      set.Add(u'\u2029');
      set.Add(u'\u202f');
      set.Add(u'\u205f');
      set.Add(u'\u3000');
      set.Add(u'\ufeff');
      break;
  }
  if (letter == u'D' || letter == u'W' || letter == u'S') set.Invert();
  return set;
}

// Counts the capture groups of the whole pattern, which decides whether "\12" is a
// back-reference or an octal escape wherever it stands.
uint32_t CountCaptureGroups(std::u16string_view p) {
  uint32_t count = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const char16_t c = p[i];
    if (c == u'\\') {
      ++i;
    } else if (c == u'[') {
      // A class ends at its first unescaped "]", even right after "[" or "[^".
      ++i;
      if (i < p.size() && p[i] == u'^') ++i;
      while (i < p.size() && p[i] != u']') i += p[i] == u'\\' ? 2 : 1;
    } else if (c == u'(' && (i + 1 >= p.size() || p[i + 1] != u'?')) {
      ++count;
    }
  }
  return count;
}

enum class GroupKind { Capture, NonCapture, LookAhead };

struct OpenGroup {
  GroupKind kind;
  size_t offset;
};

// One member of a class: a single unit, or one of \d \D \w \W \s \S.
struct ClassAtom {
  char16_t unit = 0;
  char16_t setLetter = 0;  // 0 for a single unit
};

class Translator {
 public:
  Translator(std::u16string_view pattern, CaseMode caseMode, LineMode lineMode)
      : m_p(pattern), m_ignoreCase(caseMode == CaseMode::Insensitive),
        m_multiline(lineMode == LineMode::Multi) {}

  RegExpError Run(TranslatedPattern& out, size_t& errorOffset);

 private:
  enum class Previous { Nothing, Atom };

  RegExpError Fail(RegExpError error, size_t offset) {
    m_errorOffset = offset;
    return error;
  }
  bool AtEnd(size_t pos) const { return pos >= m_p.size(); }

  RegExpError TranslateEscape();
  RegExpError TranslateClass();
  RegExpError ParseClassAtom(ClassAtom& atom);
  char16_t ParseCharacterEscape(size_t& pos) const;
  char16_t ParseLegacyOctal(size_t& pos) const;
  bool ParseBraces(size_t& pos, uint64_t& min, std::optional<uint64_t>& max) const;
  RegExpError TranslateQuantifier();

  void Emit(std::u16string_view text) { m_out.append(text); }
  void EmitHex(char16_t unit);
  void EmitUnit(char16_t unit);
  void EmitLiteral(char16_t unit);
  void EmitSet(const UnitSet& set);

  std::u16string_view m_p;
  bool m_ignoreCase;
  bool m_multiline;
  size_t m_i = 0;
  std::u16string m_out;
  uint32_t m_captureCount = 0;
  bool m_caselessBackReference = false;
  Previous m_previous = Previous::Nothing;
  size_t m_errorOffset = 0;
};

void Translator::EmitHex(char16_t unit) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  Emit(u"\\x{");
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const unsigned digit = (unit >> shift) & 15;
    if (digit != 0 || started || shift == 0) {
      m_out.push_back(kDigits[digit]);
      started = true;
    }
  }
  m_out.push_back(u'}');
}

void Translator::EmitUnit(char16_t unit) {
  if (IsAsciiLetter(unit) || IsDecimal(unit)) {
    m_out.push_back(unit);
  } else {
    EmitHex(unit);
  }
}

void Translator::EmitLiteral(char16_t unit) {
  if (m_ignoreCase) {
    const std::vector<char16_t> variants = CaseVariants(unit);
    if (variants.size() > 1) {
      m_out.push_back(u'[');
      for (char16_t variant : variants) EmitUnit(variant);
      m_out.push_back(u']');
      return;
    }
  }
  EmitUnit(unit);
}

void Translator::EmitSet(const UnitSet& set) {
  if (set.Empty()) {
    Emit(u"[^\\x{0}-\\x{ffff}]");
    return;
  }
  m_out.push_back(u'[');
  set.ForEachRun([&](char16_t first, char16_t last) {
    EmitHex(first);
    if (last != first) {
      m_out.push_back(u'-');
      EmitHex(last);
    }
  });
  m_out.push_back(u']');
}

// "\0" to "\377": one octal digit, two, or three when the first is 0 to 3.
char16_t Translator::ParseLegacyOctal(size_t& pos) const {
  unsigned value = m_p[pos++] - u'0';
  if (!AtEnd(pos) && IsOctal(m_p[pos])) {
    value = value * 8 + (m_p[pos++] - u'0');
    if (value < 32 && !AtEnd(pos) && IsOctal(m_p[pos])) value = value * 8 + (m_p[pos++] - u'0');
  }
  return static_cast<char16_t>(value);
}

// The escapes that mean one character both inside and outside classes. pos is at the character
// after the backslash and is moved past the escape.
char16_t Translator::ParseCharacterEscape(size_t& pos) const {
  const char16_t c = m_p[pos];
  if (IsOctal(c)) return ParseLegacyOctal(pos);
  ++pos;
  switch (c) {
    case u'f':
      return u'\f';
    case u'n':
      return u'\n';
    case u'r':
      return u'\r';
    case u't':
      return u'\t';
    case u'v':
      return u'\v';
    case u'x':
    case u'u': {
      const size_t digits = c == u'x' ? 2 : 4;
      if (m_p.size() - pos < digits) return c;
      unsigned value = 0;
      for (size_t k = 0; k < digits; ++k) {
        const int v = HexValue(m_p[pos + k]);
        if (v < 0) return c;
        value = value * 16 + v;
      }
      pos += digits;
      return static_cast<char16_t>(value);
    }
    default:
      // Identity escapes, "\8" and "\9" among them.
      return c;
  }
}

// "{n}", "{n,}" or "{n,m}" at pos. Anything else is not a quantifier, and its "{" is an ordinary
// character. Numbers saturate far above anything PCRE2 accepts.
bool Translator::ParseBraces(size_t& pos, uint64_t& min, std::optional<uint64_t>& max) const {
  constexpr uint64_t kSaturated = uint64_t{1} << 40;
  auto number = [&](size_t& at, uint64_t& value) {
    if (AtEnd(at) || !IsDecimal(m_p[at])) return false;
    value = 0;
    while (!AtEnd(at) && IsDecimal(m_p[at])) {
      value = std::min(kSaturated, value * 10 + (m_p[at] - u'0'));
      ++at;
    }
    return true;
  };
  size_t at = pos + 1;
  if (!number(at, min)) return false;
  max = min;
  if (!AtEnd(at) && m_p[at] == u',') {
    ++at;
    uint64_t upper = 0;
    max = number(at, upper) ? std::optional<uint64_t>(upper) : std::nullopt;
  }
  if (AtEnd(at) || m_p[at] != u'}') return false;
  pos = at + 1;
  return true;
}

RegExpError Translator::TranslateQuantifier() {
  const size_t at = m_i;
  const char16_t c = m_p[m_i];
  if (c == u'{') {
    uint64_t min = 0;
    std::optional<uint64_t> max;
    size_t end = m_i;
    if (!ParseBraces(end, min, max)) {
      EmitLiteral(u'{');
      ++m_i;
      m_previous = Previous::Atom;
      return RegExpError::None;
    }
    if (m_previous != Previous::Atom) return Fail(RegExpError::UnexpectedQuantifier, at);
    if (max && *max < min) return Fail(RegExpError::Syntax, at);
    if (min > kMaxRepeat) return Fail(RegExpError::TooComplex, at);
    // Beyond PCRE2's largest count an upper bound is dropped; it could only matter for a run of
    // more than 65535 repetitions.
    m_out.push_back(u'{');
    AppendNumber(m_out, min);
    if (!max || *max > kMaxRepeat) {
      m_out.push_back(u',');
    } else if (*max != min) {
      m_out.push_back(u',');
      AppendNumber(m_out, *max);
    }
    m_out.push_back(u'}');
    m_i = end;
  } else {
    if (m_previous != Previous::Atom) return Fail(RegExpError::UnexpectedQuantifier, at);
    m_out.push_back(c);
    ++m_i;
  }
  if (!AtEnd(m_i) && m_p[m_i] == u'?') {
    m_out.push_back(u'?');
    ++m_i;
  }
  m_previous = Previous::Nothing;
  return RegExpError::None;
}

RegExpError Translator::TranslateEscape() {
  const size_t at = m_i;
  if (AtEnd(m_i + 1)) return Fail(RegExpError::Syntax, at);
  const char16_t c = m_p[m_i + 1];
  if (c == u'b' || c == u'B') {
    Emit(c == u'b' ? u"(?:(?<=[0-9A-Z_a-z])(?![0-9A-Z_a-z])|(?<![0-9A-Z_a-z])(?=[0-9A-Z_a-z]))"
                   : u"(?:(?<=[0-9A-Z_a-z])(?=[0-9A-Z_a-z])|(?<![0-9A-Z_a-z])(?![0-9A-Z_a-z]))");
    m_i += 2;
    m_previous = Previous::Nothing;
    return RegExpError::None;
  }
  m_previous = Previous::Atom;
  if (IsSetEscape(c)) {
    // Case plays no part: no unit outside these sets has a case variant inside them.
    EmitSet(SetForEscape(c));
    m_i += 2;
    return RegExpError::None;
  }
  if (c >= u'1' && c <= u'9') {
    // The longest run of digits is a back-reference when the pattern has that many groups;
    // otherwise "\8" and "\9" are digits and the rest an octal escape.
    size_t end = m_i + 1;
    uint64_t number = 0;
    while (!AtEnd(end) && IsDecimal(m_p[end])) {
      number = std::min<uint64_t>(uint64_t{1} << 40, number * 10 + (m_p[end] - u'0'));
      ++end;
    }
    if (number <= m_captureCount) {
      Emit(m_ignoreCase ? u"(?i:\\g{" : u"\\g{");
      AppendNumber(m_out, number);
      Emit(m_ignoreCase ? u"})" : u"}");
      m_caselessBackReference = m_caselessBackReference || m_ignoreCase;
      m_i = end;
      return RegExpError::None;
    }
  }
  if (c == u'c') {
    if (!AtEnd(m_i + 2) && IsAsciiLetter(m_p[m_i + 2])) {
      EmitLiteral(m_p[m_i + 2] % 32);
      m_i += 3;
    } else {
      // Not a control escape: the backslash stands for itself and "c" is read next.
      EmitLiteral(u'\\');
      m_i += 1;
    }
    return RegExpError::None;
  }
  size_t pos = m_i + 1;
  EmitLiteral(ParseCharacterEscape(pos));
  m_i = pos;
  return RegExpError::None;
}

RegExpError Translator::ParseClassAtom(ClassAtom& atom) {
  const char16_t c = m_p[m_i];
  if (c != u'\\') {
    atom.unit = c;
    ++m_i;
    return RegExpError::None;
  }
  if (AtEnd(m_i + 1)) return Fail(RegExpError::Syntax, m_i);
  const char16_t e = m_p[m_i + 1];
  if (e == u'b') {
    atom.unit = u'\b';
    m_i += 2;
  } else if (IsSetEscape(e)) {
    atom.setLetter = e;
    m_i += 2;
  } else if (e == u'c') {
    // Inside a class, digits and "_" also follow "\c".
    const bool control = !AtEnd(m_i + 2) && (IsAsciiLetter(m_p[m_i + 2]) || IsDecimal(m_p[m_i + 2]) ||
                                            m_p[m_i + 2] == u'_');
    if (control) {
      atom.unit = m_p[m_i + 2] % 32;
      m_i += 3;
    } else {
      atom.unit = u'\\';
      m_i += 1;
    }
  } else {
    // Back-references have no meaning in a class: "\1" to "\7" are octal there.
    size_t pos = m_i + 1;
    atom.unit = ParseCharacterEscape(pos);
    m_i = pos;
  }
  return RegExpError::None;
}

RegExpError Translator::TranslateClass() {
  const size_t open = m_i;
  ++m_i;
  bool negated = false;
  if (!AtEnd(m_i) && m_p[m_i] == u'^') {
    negated = true;
    ++m_i;
  }
  UnitSet set;
  auto add = [&set](const ClassAtom& atom) {
    if (atom.setLetter != 0) {
      set.AddSet(SetForEscape(atom.setLetter));
    } else {
      set.Add(atom.unit);
    }
  };
  for (;;) {
    if (AtEnd(m_i)) return Fail(RegExpError::ExpectedBracket, open);
    if (m_p[m_i] == u']') {
      ++m_i;
      break;
    }
    ClassAtom first;
    if (RegExpError e = ParseClassAtom(first); e != RegExpError::None) return e;
    if (!AtEnd(m_i + 1) && m_p[m_i] == u'-' && m_p[m_i + 1] != u']') {
      ++m_i;
      const size_t secondAt = m_i;
      ClassAtom second;
      if (RegExpError e = ParseClassAtom(second); e != RegExpError::None) return e;
      if (first.setLetter == 0 && second.setLetter == 0) {
        if (first.unit > second.unit) return Fail(RegExpError::InvalidRange, secondAt);
        set.AddRange(first.unit, second.unit);
      } else {
        // A range with a set at either end is no range: both ends and the "-" are members.
        add(first);
        set.Add(u'-');
        add(second);
      }
    } else {
      add(first);
    }
  }
  if (m_ignoreCase) CloseUnderCase(set);
  if (negated) set.Invert();
  EmitSet(set);
  m_previous = Previous::Atom;
  return RegExpError::None;
}

RegExpError Translator::Run(TranslatedPattern& out, size_t& errorOffset) {
  if (m_p.size() > kMaxPatternUnits) {
    errorOffset = kMaxPatternUnits;
    return RegExpError::TooComplex;
  }
  m_captureCount = CountCaptureGroups(m_p);
  std::vector<OpenGroup> groups;
  RegExpError error = RegExpError::None;
  Emit(u"(?C)");
  while (error == RegExpError::None && !AtEnd(m_i)) {
    const size_t at = m_i;
    const char16_t c = m_p[m_i];
    switch (c) {
      case u'^':
        Emit(m_multiline ? u"(?<![^\\n\\r\\x{2028}\\x{2029}])" : u"\\A");
        ++m_i;
        m_previous = Previous::Nothing;
        break;
      case u'$':
        Emit(m_multiline ? u"(?![^\\n\\r\\x{2028}\\x{2029}])" : u"\\z");
        ++m_i;
        m_previous = Previous::Nothing;
        break;
      case u'.':
        Emit(u"[^\\n\\r\\x{2028}\\x{2029}]");
        ++m_i;
        m_previous = Previous::Atom;
        break;
      case u'\\':
        error = TranslateEscape();
        break;
      case u'[':
        error = TranslateClass();
        break;
      case u'(': {
        GroupKind kind = GroupKind::Capture;
        if (!AtEnd(m_i + 1) && m_p[m_i + 1] == u'?') {
          const char16_t type = AtEnd(m_i + 2) ? u'\0' : m_p[m_i + 2];
          if (type == u':') {
            kind = GroupKind::NonCapture;
            Emit(u"(?:");
          } else if (type == u'=' || type == u'!') {
            kind = GroupKind::LookAhead;
            Emit(type == u'=' ? u"(?:(?=" : u"(?:(?!");
          } else {
            // Lookbehind, named groups, inline options and the other Perl groups.
            error = Fail(RegExpError::Syntax, at);
            break;
          }
          m_i += 3;
        } else {
          Emit(u"(");
          ++m_i;
        }
        groups.push_back({kind, at});
        m_previous = Previous::Nothing;
        break;
      }
      case u')':
        if (groups.empty()) {
          error = Fail(RegExpError::Syntax, at);
          break;
        }
        Emit(groups.back().kind == GroupKind::LookAhead ? u"))" : u")");
        groups.pop_back();
        ++m_i;
        m_previous = Previous::Atom;
        break;
      case u'|':
        Emit(u"|");
        ++m_i;
        m_previous = Previous::Nothing;
        break;
      case u'*':
      case u'+':
      case u'?':
      case u'{':
        error = TranslateQuantifier();
        break;
      default:
        // Including "]" and "}", which stand for themselves.
        EmitLiteral(c);
        ++m_i;
        m_previous = Previous::Atom;
        break;
    }
    if (error == RegExpError::None && m_out.size() > kMaxTranslatedUnits) {
      error = Fail(RegExpError::TooComplex, at);
    }
  }
  if (error == RegExpError::None && !groups.empty()) {
    error = Fail(RegExpError::ExpectedParen, groups.back().offset);
  }
  if (error != RegExpError::None) {
    errorOffset = m_errorOffset;
    return error;
  }
  out.source = std::move(m_out);
  out.captureCount = m_captureCount;
  out.caselessBackReference = m_caselessBackReference;
  return RegExpError::None;
}

}  // namespace

RegExpError TranslatePattern(std::u16string_view pattern, CaseMode caseMode, LineMode lineMode,
                             TranslatedPattern& out, size_t& errorOffset) {
  out = {};
  errorOffset = 0;
  Translator translator(pattern, caseMode, lineMode);
  return translator.Run(out, errorOffset);
}

}  // namespace win::regexp
