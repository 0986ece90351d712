// The conversion commands: any value to text, to hexadecimal text, to an integer and to a byte set.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/commands/command_args.h"
#include "runtime/commands/text_scan.h"

namespace qv::core_commands {
namespace {

using command_detail::Arguments;
using command_detail::ReturnByteSet;
using command_detail::ReturnInt;
using command_detail::ReturnText;
using command_detail::TruncateToInt32;

// The data bytes behind a byte set or behind an array of a numeric type; nothing for other values.
struct DataBytes {
  const unsigned char* data = nullptr;
  size_t size = 0;
  bool valid = false;
};

DataBytes NumericArrayBytes(const RuntimeValue& value) {
  if (!HasAddressFlag(value.type) || !IsNumericType(value.type)) return {};
  const void* block = value.Pointer();
  if (block == nullptr) return {nullptr, 0, true};
  const size_t size = static_cast<size_t>(ArrayElementCount(block)) * ElementWidth(value.type);
  return {static_cast<const unsigned char*>(ArrayElements(block)), size, true};
}

// Powers of ten as doubles; every entry is the correctly rounded value of its literal.
double PowerOfTen(int n) {
  static const double kPowers[] = {
      1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31,
      1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47,
      1e48, 1e49, 1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59, 1e60};
  constexpr int kLast = static_cast<int>(std::size(kPowers)) - 1;
  return kPowers[n < 0 ? 0 : n > kLast ? kLast : n];
}

// A float is shown with six significant digits after rounding it in decimal, so that a value such
// as 0.1f, stored as 0.100000001490116, reads 0.1. The rounding keeps six digits of the scaled
// value (base-2 exponent times log10(2) gives the decimal exponent to within one) and rounds half
// up on the magnitude.
double RoundFloatForText(float f) {
  if (f == 0.0f) return 0.0;
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  const int e = static_cast<int>((bits >> 23) & 0xFF) - 127;
  int k = static_cast<int>(e * 0.30102999566398120);  // truncates toward zero
  const double magnitude = std::fabs(static_cast<double>(f));
  double scaled = k > 0 ? magnitude / PowerOfTen(k) : magnitude * PowerOfTen(-k);
  if (scaled >= 10.0) {
    scaled *= 10000.0;
    ++k;
  } else if (scaled < 1.0) {
    scaled *= 1000000.0;
    --k;
  } else {
    scaled *= 100000.0;
  }
  // The digits are kept as a double: infinities and NaN pass through instead of overflowing an
  // integer conversion.
  double digits = std::trunc(scaled);
  if (scaled - digits >= 0.5) digits += 1.0;
  const int back = k - 5;  // digits * 10^back is the rounded magnitude
  const double rounded = back < 0 ? digits / PowerOfTen(-back) : digits * PowerOfTen(back);
  return std::signbit(f) ? -rounded : rounded;
}

struct CivilDateTime {
  int year, month, day, hour, minute, second;
};

// Splits an automation DATE (days since 1899-12-30, the time of day as the fraction) into its
// calendar fields. For negative values the fraction still counts forward from the start of the
// day: -1.25 is 1899-12-29 06:00. The time is rounded to the nearest second. The day-to-date
// step is the proleptic Gregorian conversion over 400-year eras (days since 0000-03-01).
CivilDateTime SplitDate(double date) {
  if (std::isnan(date)) date = 0.0;
  date = std::fmax(kMinDateTime - 0.99999, std::fmin(date, kMaxDateTime + 0.99999));
  double wholeDays = std::trunc(date);
  int64_t seconds = std::llround(std::fabs(date - wholeDays) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    wholeDays += 1.0;
  }
  // 1899-12-30 is day 693899 after 0000-03-01.
  const int64_t z = static_cast<int64_t>(wholeDays) + 693899;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
  return {year, month, day, static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
          static_cast<int>(seconds % 60)};
}

std::string FormatDateTime(double date) {
  const CivilDateTime t = SplitDate(date);
  char buffer[96];
  int n = std::snprintf(buffer, sizeof buffer, "%d年%d月%d日", t.year, t.month, t.day);
  const size_t room = sizeof buffer - static_cast<size_t>(n);
  if (t.second != 0)
    std::snprintf(buffer + n, room, "%d时%d分%d秒", t.hour, t.minute, t.second);
  else if (t.minute != 0)
    std::snprintf(buffer + n, room, "%d时%d分", t.hour, t.minute);
  else if (t.hour != 0)
    std::snprintf(buffer + n, room, "%d时", t.hour);
  return buffer;
}

char* FormatText(const char* format, auto value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, format, value);
  return NewText(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

// Full-width forms of ASCII (GBK A3 A1 to A3 FE) and the full-width space (A1 A1) read as their
// half-width bytes; any other double-byte character reads as a byte that no number contains.
class HalfWidthReader {
 public:
  explicit HalfWidthReader(std::string_view text) : m_text(text) {}
  // The next character as a half-width byte, or 0 at the end of the text.
  unsigned char Next() {
    if (m_i >= m_text.size()) return 0;
    const auto b = static_cast<unsigned char>(m_text[m_i++]);
    if (!text_scan::IsLeadByte(b)) return b;
    if (m_i >= m_text.size()) return 0x80;  // a lead byte without its trail byte
    const auto trail = static_cast<unsigned char>(m_text[m_i++]);
    if (b == 0xA3 && trail >= 0xA1 && trail <= 0xFE) return static_cast<unsigned char>(trail - 0x80);
    if (b == 0xA1 && trail == 0xA1) return ' ';
    return 0x80;
  }

 private:
  std::string_view m_text;
  size_t m_i = 0;
};

// The leading decimal integer of a text after full-width folding, read as the C library's atoi
// reads it (white space, an optional sign, digits). A value beyond the int32 range gives the
// nearer limit.
int32_t ParseLeadingInteger(std::string_view text) {
  HalfWidthReader reader(text);
  unsigned char c = reader.Next();
  while (c == ' ' || (c >= '\t' && c <= '\r')) c = reader.Next();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = reader.Next();
  }
  int64_t value = 0;
  for (; c >= '0' && c <= '9'; c = reader.Next()) {
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) value = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

}  // namespace

void ToText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const RuntimeValue& v = args[0];
  if (HasAddressFlag(v.type) || BaseType(v.type) == type::ByteSet) {
    // A byte set or a numeric array: its bytes up to the first zero byte. Other arrays: empty.
    DataBytes bytes;
    if (BaseType(v.type) == type::ByteSet && !HasAddressFlag(v.type)) {
      const ByteSetView set = args.ByteSet(0);
      bytes = {set.data(), set.size(), true};
    } else {
      bytes = NumericArrayBytes(v);
    }
    if (!bytes.valid || bytes.size == 0) return;
    const void* nul = std::memchr(bytes.data, 0, bytes.size);
    const size_t n = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - bytes.data) : bytes.size;
    return ReturnText(result, NewText(reinterpret_cast<const char*>(bytes.data), n));
  }
  switch (BaseType(v.type)) {
    case type::Byte: return ReturnText(result, FormatText("%u", static_cast<unsigned>(v.low & 0xFF)));
    case type::Short: return ReturnText(result, FormatText("%d", static_cast<int>(static_cast<int16_t>(v.low))));
    case type::Int: return ReturnText(result, FormatText("%d", static_cast<int>(v.Int32())));
    case type::Int64: return ReturnText(result, FormatText("%lld", static_cast<long long>(v.Int64())));
    case type::Float: return ReturnText(result, FormatText("%.6g", RoundFloatForText(v.Float())));
    case type::Double: return ReturnText(result, FormatText("%.13g", v.Double()));
    case type::Text: return ReturnText(result, NewText(args.Text(0)));
    case type::Bool: return ReturnText(result, NewText(v.low != 0 ? "真" : "假"));
    case type::DateTime: return ReturnText(result, NewText(FormatDateTime(v.Double())));
    default: return;
  }
}

void ToHexText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ReturnText(result, FormatText("%X", static_cast<unsigned>(args.Int(0))));
}

void ToInteger(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const RuntimeValue& v = args[0];
  if (HasAddressFlag(v.type)) return ReturnInt(result, 0);
  switch (BaseType(v.type)) {
    case type::Bool: return ReturnInt(result, v.low != 0 ? 1 : 0);
    case type::Text: return ReturnInt(result, ParseLeadingInteger(args.Text(0)));
    case type::Byte:
    case type::Short:
    case type::Int:
    case type::Int64:
    case type::Float:
    case type::Double: return ReturnInt(result, args.Int(0));
    case type::SubroutinePointer: return ReturnInt(result, v.Int32());
    default: return ReturnInt(result, 0);
  }
}

void ToByteSet(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const RuntimeValue& v = args[0];
  if (HasAddressFlag(v.type)) {
    // Only a one-dimensional array of a numeric type has bytes to give.
    if (ArrayDimensionCount(v.Pointer()) != 1) return;
    const DataBytes bytes = NumericArrayBytes(v);
    if (bytes.valid) ReturnByteSet(result, NewByteSet(bytes.data, bytes.size));
    return;
  }
  if (BaseType(v.type) == type::Text) {
    const std::string_view text = args.Text(0);
    return ReturnByteSet(result, NewByteSet(text.data(), text.size()));
  }
  const RawView raw = RawDataView(v);
  if (raw.valid) ReturnByteSet(result, NewByteSet(raw.data, raw.size));
}

}  // namespace qv::core_commands
