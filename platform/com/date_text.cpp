// OLE dates as text in the Chinese (PRC) locale: short date yyyy/M/d, long time H:mm:ss.
// A DATE counts days from 1899-12-30; the fraction is the time of day. For days before that the
// integer part counts backwards while the fraction still counts forwards from midnight, so -1.25
// is 1899-12-29 06:00.
#include <cmath>
#include <cstdio>

#include "platform/com/internal.h"

namespace win::com_internal {
namespace {

constexpr double kFirstDay = -657434.0;   // 0100-01-01
constexpr double kLastDayEnd = 2958466.0;  // the day after 9999-12-31
constexpr long kEpochShift = 25569;       // days from 1899-12-30 to 1970-01-01

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the era-based method described
// by Howard Hinnant in "chrono-Compatible Low-Level Date Algorithms").
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, long* y, unsigned* m, unsigned* d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<long>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(long y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0x3000; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A small cursor over the text.
struct Reader {
  std::u16string_view text;
  size_t pos = 0;
  bool AtEnd() const { return pos >= text.size(); }
  char16_t Peek() const { return AtEnd() ? u'\0' : text[pos]; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(text[pos])) ++pos;
  }
  // Reads 1 to maxDigits decimal digits.
  bool Number(long* value, size_t* digits, size_t maxDigits) {
    *value = 0;
    *digits = 0;
    while (!AtEnd() && IsDigit(text[pos]) && *digits < maxDigits) {
      *value = *value * 10 + (text[pos] - u'0');
      ++*digits;
      ++pos;
    }
    return *digits > 0 && (AtEnd() || !IsDigit(text[pos]));
  }
  bool Accept(char16_t c) {
    if (Peek() != c) return false;
    ++pos;
    return true;
  }
  bool AcceptWord(std::u16string_view word) {
    if (text.size() - pos < word.size()) return false;
    if (!EqualsIgnoreCase(text.substr(pos, word.size()), word)) return false;
    pos += word.size();
    return true;
  }
};

bool IsDateSeparator(char16_t c) { return c == u'/' || c == u'-' || c == u'.'; }

// yyyy/M/d, yyyy-M-d, yyyy.M.d or yyyy年M月d日. On failure the reader is left where it was.
bool ReadDate(Reader& r, long* serialDay) {
  const size_t start = r.pos;
  auto fail = [&] {
    r.pos = start;
    return false;
  };
  long y, m, d;
  size_t n;
  if (!r.Number(&y, &n, 4) || n < 3) return fail();
  const bool chinese = r.Peek() == u'年';
  const char16_t sep = r.Peek();
  if (!chinese && !IsDateSeparator(sep)) return fail();
  ++r.pos;
  if (!r.Number(&m, &n, 2)) return fail();
  if (chinese ? !r.Accept(u'月') : !r.Accept(sep)) return fail();
  if (!r.Number(&d, &n, 2)) return fail();
  if (chinese) r.Accept(u'日');
  if (y < 100 || m < 1 || m > 12 || d < 1 || d > static_cast<long>(DaysInMonth(y, static_cast<unsigned>(m))))
    return fail();
  *serialDay = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + kEpochShift;
  return true;
}

// H:mm[:ss], with an optional AM/PM after it or 上午/下午 before it.
bool ReadTime(Reader& r, long* seconds) {
  int meridiem = 0;  // 0 none, 1 morning, 2 afternoon
  if (r.AcceptWord(u"上午")) meridiem = 1;
  else if (r.AcceptWord(u"下午")) meridiem = 2;
  r.SkipBlanks();
  long h, m, s = 0;
  size_t n;
  if (!r.Number(&h, &n, 2) || !r.Accept(u':') || !r.Number(&m, &n, 2)) return false;
  if (r.Accept(u':') && !r.Number(&s, &n, 2)) return false;
  if (meridiem == 0) {
    const size_t before = r.pos;
    r.SkipBlanks();
    if (r.AcceptWord(u"AM")) meridiem = 1;
    else if (r.AcceptWord(u"PM")) meridiem = 2;
    else r.pos = before;
  }
  if (meridiem != 0) {
    if (h < 1 || h > 12) return false;
    h = (h % 12) + (meridiem == 2 ? 12 : 0);
  }
  if (h > 23 || m > 59 || s > 59) return false;
  *seconds = h * 3600 + m * 60 + s;
  return true;
}

}  // namespace

bool IsValidDate(double date) { return std::isfinite(date) && date >= kFirstDay && date < kLastDayEnd; }

std::optional<double> ParseDateText(std::u16string_view text) {
  Reader r{text};
  r.SkipBlanks();
  long day = 0;
  long seconds = 0;
  const bool hasDate = ReadDate(r, &day);
  if (hasDate) r.SkipBlanks();
  // Whatever follows a date must be a time.
  bool hasTime = false;
  if (!r.AtEnd()) {
    if (!ReadTime(r, &seconds)) return std::nullopt;
    hasTime = true;
  }
  r.SkipBlanks();
  if (!r.AtEnd() || (!hasDate && !hasTime)) return std::nullopt;
  const double fraction = seconds / 86400.0;
  const double serial = day < 0 ? day - fraction : day + fraction;
  if (!IsValidDate(serial)) return std::nullopt;
  return serial;
}

std::optional<std::u16string> FormatDate(double date) {
  if (!IsValidDate(date)) return std::nullopt;
  long day = static_cast<long>(std::trunc(date));
  long seconds = std::lround(std::fabs(date - static_cast<double>(day)) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  char buffer[48];
  const long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  if (day == 0) {
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", h, m, s);
  } else {
    long y;
    unsigned mo, d;
    CivilFromDays(day - kEpochShift, &y, &mo, &d);
    if (seconds == 0)
      std::snprintf(buffer, sizeof buffer, "%04ld/%u/%u", y, mo, d);
    else
      std::snprintf(buffer, sizeof buffer, "%04ld/%u/%u %ld:%02ld:%02ld", y, mo, d, h, m, s);
  }
  std::u16string out;
  for (const char* p = buffer; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

}  // namespace win::com_internal
