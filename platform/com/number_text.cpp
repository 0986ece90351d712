// Numbers as text: reading them as OLE Automation's standard number parser does, and writing them
// the way VariantChangeType formats them for VT_BSTR.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/com/internal.h"

namespace win::com_internal {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
int HexDigit(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Keeps at most this many significant digits; a non-zero tail becomes one final digit 1, which
// keeps every rounding decision and every double conversion of the number unchanged.
constexpr size_t kMaxDigits = 64;
constexpr int kExponentLimit = 1000000;

}  // namespace

void NormaliseExact(ExactNumber* n) {
  size_t lead = 0;
  while (lead < n->digits.size() && n->digits[lead] == '0') ++lead;
  n->digits.erase(0, lead);
  while (!n->digits.empty() && n->digits.back() == '0') {
    n->digits.pop_back();
    ++n->exponent;
  }
  if (n->digits.size() > kMaxDigits) {
    const size_t cut = n->digits.size() - (kMaxDigits - 1);
    const bool tail = n->digits.find_first_not_of('0', kMaxDigits - 1) != std::string::npos;
    n->digits.resize(kMaxDigits - 1);
    n->exponent += static_cast<int>(cut);
    if (tail) {
      n->digits.push_back('1');
      --n->exponent;
    }
    while (!n->digits.empty() && n->digits.back() == '0') {
      n->digits.pop_back();
      ++n->exponent;
    }
  }
  if (n->digits.empty()) {
    n->negative = false;
    n->exponent = 0;
  }
}

namespace {

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

ParseResult ParseNumberText(std::u16string_view text, ParsedNumber* out) {
  *out = ParsedNumber();
  size_t i = 0;
  const size_t n = text.size();
  auto at = [&](size_t k) -> char16_t { return k < n ? text[k] : u'\0'; };
  while (i < n && IsBlank(text[i])) ++i;

  bool negative = false;
  bool signSeen = false;
  bool paren = false;
  if (at(i) == u'+' || at(i) == u'-') {
    negative = at(i) == u'-';
    signSeen = true;
    ++i;
  } else if (at(i) == u'(') {
    paren = true;
    negative = true;
    ++i;
  }

  if (at(i) == u'&') {
    // Hexadecimal (&H) or octal (&O) digits; no sign, fraction or exponent.
    if (signSeen || paren) return ParseResult::Mismatch;
    const char16_t kind = at(i + 1);
    int shift;
    if (kind == u'H' || kind == u'h') shift = 4;
    else if (kind == u'O' || kind == u'o') shift = 3;
    else return ParseResult::Mismatch;
    i += 2;
    uint64_t value = 0;
    int bits = 0;
    size_t count = 0;
    bool overflow = false;
    for (; i < n; ++i, ++count) {
      const int d = HexDigit(text[i]);
      if (d < 0 || d >= (1 << shift)) break;
      if (value == 0 && d == 0) continue;
      const int need = bits == 0 ? (64 - __builtin_clzll(static_cast<unsigned long long>(d))) : bits + shift;
      if (need > 64) overflow = true;
      value = (value << shift) | static_cast<uint64_t>(d);
      bits = need;
    }
    if (count == 0) return ParseResult::Mismatch;
    while (i < n && IsBlank(text[i])) ++i;
    if (i != n) return ParseResult::Mismatch;
    if (overflow) return ParseResult::Overflow;
    out->isHex = true;
    out->hexValue = value;
    out->hexBits = bits;
    return ParseResult::Ok;
  }

  ExactNumber& number = out->exact;
  size_t digitCount = 0;
  // Integer part, with thousands separators between or after digits.
  while (i < n && (IsDigit(text[i]) || (text[i] == u',' && digitCount > 0))) {
    if (text[i] != u',') {
      number.digits.push_back(static_cast<char>(text[i]));
      ++digitCount;
    }
    ++i;
  }
  if (at(i) == u'.') {
    ++i;
    while (i < n && IsDigit(text[i])) {
      number.digits.push_back(static_cast<char>(text[i]));
      if (number.exponent > -kExponentLimit) --number.exponent;
      ++digitCount;
      ++i;
    }
  }
  if (digitCount == 0) return ParseResult::Mismatch;

  const char16_t e = at(i);
  if (e == u'e' || e == u'E' || e == u'd' || e == u'D') {
    size_t k = i + 1;
    bool expNegative = false;
    if (at(k) == u'+' || at(k) == u'-') {
      expNegative = at(k) == u'-';
      ++k;
    }
    if (!IsDigit(at(k))) return ParseResult::Mismatch;
    long exponent = 0;
    while (IsDigit(at(k))) {
      if (exponent < kExponentLimit) exponent = exponent * 10 + (at(k) - u'0');
      ++k;
    }
    number.exponent += static_cast<int>(expNegative ? -exponent : exponent);
    i = k;
  }

  if (!signSeen && !paren && (at(i) == u'+' || at(i) == u'-')) {
    negative = at(i) == u'-';
    ++i;
  }
  if (paren) {
    if (at(i) != u')') return ParseResult::Mismatch;
    ++i;
  }
  while (i < n && IsBlank(text[i])) ++i;
  if (i != n) return ParseResult::Mismatch;

  number.negative = negative;
  NormaliseExact(&number);
  if (!number.digits.empty() && number.exponent + static_cast<int>(number.digits.size()) > 400)
    return ParseResult::Overflow;  // beyond every numeric type, doubles included
  return ParseResult::Ok;
}

std::u16string FormatReal(double value, int significantDigits) {
  if (std::isnan(value)) return u"NaN";
  if (std::isinf(value)) return value < 0 ? u"-Infinity" : u"Infinity";
  if (value == 0) return u"0";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", significantDigits - 1, value);
  // buffer: [-]d.ddddde[+-]xx. The character after the first digit is the decimal point of the
  // active C locale; it is skipped, never read, so the result does not depend on the locale.
  std::string s(buffer);
  const bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  const size_t ePos = s.find('e');
  std::string digits = s.substr(0, 1) + s.substr(2, ePos - 2);
  const int exponent = std::atoi(s.c_str() + ePos + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent >= significantDigits || exponent < -11) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    char exp[16];
    std::snprintf(exp, sizeof exp, "E%c%02d", exponent < 0 ? '-' : '+', exponent < 0 ? -exponent : exponent);
    out += exp;
  } else if (exponent >= 0) {
    const size_t intDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      out += digits + std::string(intDigits - digits.size(), '0');
    } else {
      out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
  } else {
    out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  return Widen(out);
}

std::u16string FormatExact(const ExactNumber& number) {
  if (number.digits.empty()) return u"0";
  std::string out = number.negative ? "-" : "";
  const int n = static_cast<int>(number.digits.size());
  if (number.exponent >= 0) {
    out += number.digits + std::string(static_cast<size_t>(number.exponent), '0');
  } else if (-number.exponent < n) {
    out += number.digits.substr(0, static_cast<size_t>(n + number.exponent)) + "." +
           number.digits.substr(static_cast<size_t>(n + number.exponent));
  } else {
    out += "0." + std::string(static_cast<size_t>(-number.exponent - n), '0') + number.digits;
  }
  return Widen(out);
}

std::u16string FormatInteger(int64_t value) {
  if (value >= 0) return FormatUnsigned(static_cast<uint64_t>(value));
  return u"-" + FormatUnsigned(0 - static_cast<uint64_t>(value));
}

std::u16string FormatUnsigned(uint64_t value) {
  char16_t buffer[24];
  size_t i = sizeof buffer / sizeof buffer[0];
  do {
    buffer[--i] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::u16string(buffer + i, buffer + sizeof buffer / sizeof buffer[0]);
}

}  // namespace win::com_internal
