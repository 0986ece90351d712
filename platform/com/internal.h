// What the files of the COM stand-in share and do not publish: name comparison, BSTR duplication,
// VARIANT type checks, and the text forms of numbers and dates used by VariantChangeType.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/ole_types.h"
#include "platform/com/variant.h"

namespace win::com_internal {

// Letter case folding for member names and ProgIDs: ASCII and the Latin-1, Greek and Cyrillic
// letters that have a simple upper-case partner. Enough for every automation name in use.
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
std::u16string_view ViewOf(LPCOLESTR text);  // empty for null

// Duplicates a BSTR byte for byte (null stays null). *ok is false when out of memory.
BSTR CopyBstr(BSTR source, bool* ok);

// A type tag that may appear in a VARIANT (by value, VT_BYREF or VT_ARRAY forms).
bool IsValidVariantType(VARTYPE vt);
// An element type that SafeArrayCreate accepts; its size in bytes (0 when not accepted).
ULONG ArrayElementSize(VARTYPE vt);

// An exact decimal number: value = (negative ? -1 : 1) * digits * 10^exponent, where digits is a
// string of decimal digits without leading zeros ("" for zero).
struct ExactNumber {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

// A number read from text the way VarParseNumFromStr reads it with all standard flags: leading and
// trailing blanks, a leading or trailing sign or parentheses, "," thousands separators in the
// integer part, "." decimal point, an exponent (E or D), and "&H" / "&O" hexadecimal and octal
// forms. Hexadecimal and octal values come back as unsigned 64-bit integers in hexValue.
struct ParsedNumber {
  bool isHex = false;
  uint64_t hexValue = 0;
  int hexBits = 0;  // significant bits of a hexadecimal or octal value
  ExactNumber exact;
};
enum class ParseResult { Ok, Mismatch, Overflow };
// Strips leading and trailing zeros (and the sign of zero), keeping the value.
void NormaliseExact(ExactNumber* number);
ParseResult ParseNumberText(std::u16string_view text, ParsedNumber* out);

// Text forms of numbers. Doubles use 15 significant digits and floats 7; both switch to E notation
// from 1E+15 (1E+7 for floats) upwards and below 1E-11.
std::u16string FormatReal(double value, int significantDigits);
std::u16string FormatExact(const ExactNumber& number);  // plain decimal notation
std::u16string FormatInteger(int64_t value);
std::u16string FormatUnsigned(uint64_t value);

// Dates: parse the short date and time forms of the Chinese (PRC) locale, format as
// yyyy/M/d H:mm:ss (date only at midnight, time only on day 0).
bool IsValidDate(double date);
std::optional<double> ParseDateText(std::u16string_view text);
std::optional<std::u16string> FormatDate(double date);

// Copies source into dest without clearing dest first (dest is treated as uninitialised):
// strings, arrays and records duplicated, interfaces referenced, VT_BYREF copied as the reference.
// On failure dest is VT_EMPTY.
HRESULT DeepCopy(VARIANT* dest, const VARIANT& source);
// For a VT_BYREF source, a by-value VARIANT that shares the referenced value (nothing is copied or
// referenced); a by-value source is returned as it is. Follows VT_BYREF | VT_VARIANT and one
// further VT_BYREF inside it. E_INVALIDARG for a null reference, DISP_E_BADVARTYPE for an
// invalid type.
HRESULT Dereference(const VARIANT& source, VARIANT* shallow);

}  // namespace win::com_internal
