// Replacement templates, read as JavaScript's String.prototype.replace reads them (ECMA-262,
// GetSubstitution): "$$" is "$", "$&" the match, "$`" the text before it, "$'" the text after it,
// and "$n" / "$nn" a capture group. Two digits name a group when the pattern has that group;
// otherwise the first digit alone does when the pattern has that one, and the second digit is
// copied; a "$" that names nothing ("$0", "$7" without seven groups, "$x", a final "$") is copied
// as it stands. A group that took no part in the match contributes nothing.
#include "platform/com/regexp/regexp_private.h"

namespace win::regexp {
namespace {

bool IsDecimal(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string_view CaptureText(const CaptureSpan& span, std::u16string_view subject) {
  return span.matched ? subject.substr(span.start, span.end - span.start) : std::u16string_view();
}

}  // namespace

bool ExpandReplacement(std::u16string_view replacement, std::u16string_view subject,
                       std::span<const CaptureSpan> captures, size_t maxUnits,
                       std::u16string& out) {
  const CaptureSpan& match = captures[0];
  const size_t groupCount = captures.size() - 1;
  auto append = [&](std::u16string_view text) {
    if (text.size() > maxUnits || out.size() > maxUnits - text.size()) return false;
    out.append(text);
    return true;
  };
  size_t i = 0;
  while (i < replacement.size()) {
    // Plain text up to the next "$" goes in as one piece.
    const size_t dollar = replacement.find(u'$', i);
    if (dollar != i) {
      const size_t end = dollar == std::u16string_view::npos ? replacement.size() : dollar;
      if (!append(replacement.substr(i, end - i))) return false;
      i = end;
      continue;
    }
    if (i + 1 == replacement.size()) {
      if (!append(u"$")) return false;
      ++i;
      continue;
    }
    const char16_t next = replacement[i + 1];
    switch (next) {
      case u'$':
        if (!append(u"$")) return false;
        i += 2;
        continue;
      case u'&':
        if (!append(CaptureText(match, subject))) return false;
        i += 2;
        continue;
      case u'`':
        if (!append(subject.substr(0, match.start))) return false;
        i += 2;
        continue;
      case u'\'':
        if (!append(subject.substr(match.end))) return false;
        i += 2;
        continue;
      default:
        break;
    }
    if (IsDecimal(next)) {
      const size_t one = next - u'0';
      if (i + 2 < replacement.size() && IsDecimal(replacement[i + 2])) {
        const size_t two = one * 10 + (replacement[i + 2] - u'0');
        if (two >= 1 && two <= groupCount) {
          if (!append(CaptureText(captures[two], subject))) return false;
          i += 3;
          continue;
        }
      }
      if (one >= 1 && one <= groupCount) {
        if (!append(CaptureText(captures[one], subject))) return false;
        i += 2;
        continue;
      }
    }
    if (!append(u"$")) return false;
    ++i;
  }
  return true;
}

}  // namespace win::regexp
