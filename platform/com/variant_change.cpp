// VariantChangeType / VariantChangeTypeEx: conversions between the fundamental VARIANT types.
//
// Every numeric source is first read into a Number: an exact integer, a double, or an exact
// decimal (currency, DECIMAL and numbers read from text stay exact, so that large integers and
// ties such as "2.5" round correctly). Integer targets round half to even and check their range;
// text is read and written as described in internal.h.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com/dispatch.h"
#include "platform/com/internal.h"
#include "platform/com/safearray.h"

namespace win {
namespace {

using namespace com_internal;
using Int128 = __int128;
using UInt128 = unsigned __int128;

// Objects whose default value is again an object are followed this many times at most.
constexpr int kMaxValueDepth = 8;

struct Number {
  enum class Kind { Integer, Real, Exact };
  Kind kind = Kind::Integer;
  Int128 integer = 0;
  double real = 0;
  ExactNumber exact;
  // The bit pattern matters: a VT_BOOL true fills every bit of an unsigned target, and a
  // hexadecimal text that fits the target's width is read as that many bits.
  bool fromBool = false;
  int hexBits = 0;
};

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8:
      return true;
    default:
      return false;
  }
}

bool IsValidTarget(VARTYPE vt) {
  if (vt & (VT_BYREF | VT_VECTOR | VT_RESERVED)) return false;
  if (vt & VT_ARRAY) return ArrayElementSize(vt & VT_TYPEMASK) != 0;
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_RECORD:
      return true;
    default:
      return IsIntegerType(vt);
  }
}

struct IntRange {
  int bits;
  bool isSigned;
  Int128 min() const { return isSigned ? -(Int128{1} << (bits - 1)) : 0; }
  Int128 max() const { return isSigned ? (Int128{1} << (bits - 1)) - 1 : (Int128{1} << bits) - 1; }
};

IntRange RangeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1: return {8, true};
    case VT_UI1: return {8, false};
    case VT_I2: return {16, true};
    case VT_UI2: return {16, false};
    case VT_I4: case VT_INT: return {32, true};
    case VT_UI4: case VT_UINT: return {32, false};
    case VT_I8: return {64, true};
    default: return {64, false};
  }
}

ExactNumber ExactFromMagnitude(bool negative, UInt128 magnitude, int exponent) {
  ExactNumber n;
  n.negative = negative;
  n.exponent = exponent;
  std::string reversed;
  while (magnitude != 0) {
    reversed.push_back(static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  }
  n.digits.assign(reversed.rbegin(), reversed.rend());
  NormaliseExact(&n);
  return n;
}

ExactNumber ExactFromInteger(Int128 v) {
  return ExactFromMagnitude(v < 0, v < 0 ? UInt128(0) - static_cast<UInt128>(v) : static_cast<UInt128>(v), 0);
}

// A double as an exact decimal of 15 significant digits, as Automation converts doubles to
// currency and DECIMAL.
bool ExactFromReal(double value, ExactNumber* out) {
  if (!std::isfinite(value)) return false;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.14e", value);
  std::string s(buffer);
  ExactNumber n;
  n.negative = s[0] == '-';
  if (n.negative) s.erase(0, 1);
  const size_t e = s.find('e');
  n.digits = s.substr(0, 1) + s.substr(2, e - 2);
  n.exponent = std::atoi(s.c_str() + e + 1) - 14;
  NormaliseExact(&n);
  *out = n;
  return true;
}

// value * 10^shift rounded half to even. False when the magnitude reaches 10^38.
bool RoundExact(const ExactNumber& n, int shift, Int128* out) {
  if (n.digits.empty()) {
    *out = 0;
    return true;
  }
  const long len = static_cast<long>(n.digits.size());
  const long intLen = len + n.exponent + shift;  // digits before the decimal point
  if (intLen > 38) return false;
  UInt128 value = 0;
  for (long i = 0; i < std::min(intLen, len); ++i) value = value * 10 + static_cast<unsigned>(n.digits[i] - '0');
  for (long i = len; i < intLen; ++i) value *= 10;
  if (intLen < len && intLen >= 0) {
    // The first dropped digit decides; the digits are normalised, so any further digit is non-zero.
    const int first = n.digits[intLen] - '0';
    const bool more = len - intLen > 1;
    if (first > 5 || (first == 5 && (more || (value & 1)))) ++value;
  }
  *out = n.negative ? -static_cast<Int128>(value) : static_cast<Int128>(value);
  return true;
}

HRESULT ExactToDouble(const ExactNumber& n, double* out) {
  if (n.digits.empty()) {
    *out = 0;
    return S_OK;
  }
  const std::string text = (n.negative ? "-" : "") + n.digits + "e" + std::to_string(n.exponent);
  const double v = std::strtod(text.c_str(), nullptr);
  if (std::isinf(v)) return DISP_E_OVERFLOW;
  *out = v;
  return S_OK;
}

HRESULT ToInteger(const Number& n, VARTYPE vt, Int128* out) {
  const IntRange range = RangeOf(vt);
  Int128 v = 0;
  switch (n.kind) {
    case Number::Kind::Integer:
      v = n.integer;
      if (n.fromBool && !range.isSigned) {
        v &= range.max();  // true becomes all ones
      } else if (range.isSigned && n.hexBits == range.bits) {
        v -= Int128{1} << range.bits;  // the hex digits fill the target's width: the top bit is its sign
      }
      break;
    case Number::Kind::Real: {
      if (!std::isfinite(n.real)) return DISP_E_OVERFLOW;
      const double r = std::nearbyint(n.real);  // the default rounding mode: half to even
      if (std::fabs(r) > 1.9e19) return DISP_E_OVERFLOW;
      v = static_cast<Int128>(r);
      break;
    }
    case Number::Kind::Exact:
      if (!RoundExact(n.exact, 0, &v)) return DISP_E_OVERFLOW;
      break;
  }
  if (v < range.min() || v > range.max()) return DISP_E_OVERFLOW;
  *out = v;
  return S_OK;
}

HRESULT ToDouble(const Number& n, double* out) {
  switch (n.kind) {
    case Number::Kind::Integer: *out = static_cast<double>(n.integer); return S_OK;
    case Number::Kind::Real: *out = n.real; return S_OK;
    case Number::Kind::Exact: return ExactToDouble(n.exact, out);
  }
  return E_UNEXPECTED;
}

HRESULT ToExact(const Number& n, ExactNumber* out) {
  switch (n.kind) {
    case Number::Kind::Integer: *out = ExactFromInteger(n.integer); return S_OK;
    case Number::Kind::Real: return ExactFromReal(n.real, out) ? S_OK : DISP_E_OVERFLOW;
    case Number::Kind::Exact: *out = n.exact; return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT ToCurrency(const Number& n, CY* out) {
  Int128 v = 0;
  if (n.kind == Number::Kind::Real) {
    if (!std::isfinite(n.real)) return DISP_E_OVERFLOW;
    const double r = std::nearbyint(n.real * 10000.0);
    if (std::fabs(r) > 9.3e18) return DISP_E_OVERFLOW;
    v = static_cast<Int128>(r);
  } else {
    ExactNumber exact;
    const HRESULT hr = ToExact(n, &exact);
    if (FAILED(hr)) return hr;
    if (!RoundExact(exact, 4, &v)) return DISP_E_OVERFLOW;
  }
  if (v < INT64_MIN || v > INT64_MAX) return DISP_E_OVERFLOW;
  out->int64 = static_cast<LONGLONG>(v);
  return S_OK;
}

HRESULT ToDecimal(const Number& n, DECIMAL* out) {
  ExactNumber exact;
  const HRESULT hr = ToExact(n, &exact);
  if (FAILED(hr)) return hr;
  const UInt128 limit = UInt128{1} << 96;
  // The largest scale that keeps every digit (at most 28), reduced until the mantissa fits.
  int scale = std::min(28, std::max(0, -exact.exponent));
  for (; scale >= 0; --scale) {
    Int128 v;
    if (!RoundExact(exact, scale, &v)) continue;
    const UInt128 magnitude = v < 0 ? UInt128(0) - static_cast<UInt128>(v) : static_cast<UInt128>(v);
    if (magnitude >= limit) continue;
    *out = DECIMAL{};
    out->scale = static_cast<BYTE>(scale);
    out->sign = (v < 0) ? DECIMAL_NEG : 0;
    out->Hi32 = static_cast<ULONG>(magnitude >> 64);
    out->Lo64 = static_cast<ULONGLONG>(magnitude);
    return S_OK;
  }
  return DISP_E_OVERFLOW;
}

// Reads a numeric (or empty) source. DISP_E_TYPEMISMATCH for types that hold no number.
HRESULT ReadNumber(const VARIANT& v, Number* n) {
  *n = Number();
  switch (v.vt) {
    case VT_EMPTY: n->integer = 0; return S_OK;
    case VT_BOOL:
      n->integer = v.boolVal;
      n->fromBool = true;
      return S_OK;
    case VT_I1: n->integer = static_cast<signed char>(v.cVal); return S_OK;
    case VT_UI1: n->integer = v.bVal; return S_OK;
    case VT_I2: n->integer = v.iVal; return S_OK;
    case VT_UI2: n->integer = v.uiVal; return S_OK;
    case VT_I4: n->integer = v.lVal; return S_OK;
    case VT_UI4: n->integer = v.ulVal; return S_OK;
    case VT_INT: n->integer = v.intVal; return S_OK;
    case VT_UINT: n->integer = v.uintVal; return S_OK;
    case VT_I8: n->integer = v.llVal; return S_OK;
    case VT_UI8: n->integer = v.ullVal; return S_OK;
    case VT_R4:
      n->kind = Number::Kind::Real;
      n->real = v.fltVal;
      return S_OK;
    case VT_R8:
    case VT_DATE:
      n->kind = Number::Kind::Real;
      n->real = v.dblVal;
      return S_OK;
    case VT_CY:
      n->kind = Number::Kind::Exact;
      n->exact = ExactFromInteger(v.cyVal.int64);
      n->exact.exponent -= 4;
      NormaliseExact(&n->exact);
      return S_OK;
    case VT_DECIMAL: {
      if (v.decVal.scale > 28) return E_INVALIDARG;
      const UInt128 magnitude = (static_cast<UInt128>(v.decVal.Hi32) << 64) | v.decVal.Lo64;
      n->kind = Number::Kind::Exact;
      n->exact = ExactFromMagnitude((v.decVal.sign & DECIMAL_NEG) != 0, magnitude, -static_cast<int>(v.decVal.scale));
      return S_OK;
    }
    case VT_BSTR: {
      ParsedNumber parsed;
      switch (ParseNumberText(ViewOf(v.bstrVal), &parsed)) {
        case ParseResult::Mismatch: return DISP_E_TYPEMISMATCH;
        case ParseResult::Overflow: return DISP_E_OVERFLOW;
        case ParseResult::Ok: break;
      }
      if (parsed.isHex) {
        n->integer = parsed.hexValue;
        n->hexBits = parsed.hexBits;
      } else {
        n->kind = Number::Kind::Exact;
        n->exact = parsed.exact;
      }
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

bool IsNonZero(const Number& n) {
  switch (n.kind) {
    case Number::Kind::Integer: return n.integer != 0;
    case Number::Kind::Real: return n.real != 0;  // NaN counts as true
    case Number::Kind::Exact: return !n.exact.digits.empty();
  }
  return false;
}

void StoreInteger(VARIANT* out, VARTYPE vt, Int128 v) {
  out->vt = vt;
  switch (vt) {
    case VT_I1: out->cVal = static_cast<CHAR>(static_cast<int8_t>(v)); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(v); break;
    case VT_I2: out->iVal = static_cast<SHORT>(v); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(v); break;
    case VT_I4: out->lVal = static_cast<LONG>(v); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(v); break;
    case VT_INT: out->intVal = static_cast<INT>(v); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(v); break;
    case VT_I8: out->llVal = static_cast<LONGLONG>(v); break;
    default: out->ullVal = static_cast<ULONGLONG>(v); break;
  }
}

HRESULT StoreText(VARIANT* out, const std::u16string& text) {
  BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (s == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = s;
  return S_OK;
}

HRESULT ToText(const VARIANT& v, USHORT flags, VARIANT* out) {
  switch (v.vt) {
    case VT_EMPTY: return StoreText(out, u"");
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) return StoreText(out, v.boolVal ? u"True" : u"False");
      return StoreText(out, v.boolVal ? u"-1" : u"0");
    case VT_R4: return StoreText(out, FormatReal(v.fltVal, 7));
    case VT_R8: return StoreText(out, FormatReal(v.dblVal, 15));
    case VT_DATE: {
      const auto text = FormatDate(v.date);
      if (!text) return E_INVALIDARG;
      return StoreText(out, *text);
    }
    case VT_UI8: return StoreText(out, FormatUnsigned(v.ullVal));
    default: {
      Number n;
      const HRESULT hr = ReadNumber(v, &n);
      if (FAILED(hr)) return hr;
      if (n.kind == Number::Kind::Exact) return StoreText(out, FormatExact(n.exact));
      return StoreText(out, FormatInteger(static_cast<int64_t>(n.integer)));
    }
  }
}

HRESULT ToBool(const VARIANT& v, VARIANT* out) {
  out->vt = VT_BOOL;
  if (v.vt == VT_BSTR) {
    const std::u16string_view text = ViewOf(v.bstrVal);
    // The English names in any letter case; the "#TRUE#" forms that Write # produces, exactly.
    if (EqualsIgnoreCase(text, u"True") || text == u"#TRUE#") {
      out->boolVal = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsIgnoreCase(text, u"False") || text == u"#FALSE#") {
      out->boolVal = VARIANT_FALSE;
      return S_OK;
    }
  }
  Number n;
  const HRESULT hr = ReadNumber(v, &n);
  if (FAILED(hr)) return hr;
  out->boolVal = IsNonZero(n) ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToNumeric(const VARIANT& v, VARTYPE vt, VARIANT* out) {
  if (vt == VT_DATE && v.vt == VT_BSTR) {
    const auto date = ParseDateText(ViewOf(v.bstrVal));
    if (!date) return DISP_E_TYPEMISMATCH;
    out->vt = VT_DATE;
    out->date = *date;
    return S_OK;
  }
  Number n;
  HRESULT hr = ReadNumber(v, &n);
  if (FAILED(hr)) return hr;
  if (IsIntegerType(vt)) {
    Int128 value;
    hr = ToInteger(n, vt, &value);
    if (SUCCEEDED(hr)) StoreInteger(out, vt, value);
    return hr;
  }
  switch (vt) {
    case VT_R8:
    case VT_DATE: {
      double d;
      hr = ToDouble(n, &d);
      if (FAILED(hr)) return hr;
      if (vt == VT_DATE && !IsValidDate(d)) return DISP_E_OVERFLOW;
      out->vt = vt;
      out->dblVal = d;
      return S_OK;
    }
    case VT_R4: {
      double d;
      hr = ToDouble(n, &d);
      if (FAILED(hr)) return hr;
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      out->vt = VT_R4;
      out->fltVal = static_cast<float>(d);
      return S_OK;
    }
    case VT_CY:
      hr = ToCurrency(n, &out->cyVal);
      if (SUCCEEDED(hr)) out->vt = VT_CY;
      return hr;
    case VT_DECIMAL: {
      DECIMAL d;
      hr = ToDecimal(n, &d);
      if (FAILED(hr)) return hr;
      out->decVal = d;
      out->vt = VT_DECIMAL;
      return S_OK;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT Convert(const VARIANT& source, LCID lcid, USHORT flags, VARTYPE vt, int depth, VARIANT* out);

// An object's value: its default member, read as a property or called as a method.
HRESULT ConvertDefaultValue(IDispatch* object, LCID lcid, USHORT flags, VARTYPE vt, int depth, VARIANT* out) {
  if (object == nullptr || (flags & VARIANT_NOVALUEPROP) || depth >= kMaxValueDepth) return DISP_E_TYPEMISMATCH;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  OwnedVariant value;
  HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none,
                              value.get(), nullptr, nullptr);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  VARIANT shallow;
  hr = Dereference(*value.get(), &shallow);
  if (FAILED(hr)) return hr;
  return Convert(shallow, lcid, flags, vt, depth + 1, out);
}

HRESULT ToObject(const VARIANT& v, VARTYPE vt, VARIANT* out) {
  out->vt = vt;
  out->punkVal = nullptr;
  if (v.vt == VT_EMPTY) return S_OK;
  if (v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  if (v.punkVal == nullptr) return S_OK;
  const HRESULT hr = v.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                               reinterpret_cast<void**>(&out->punkVal));
  if (FAILED(hr)) out->punkVal = nullptr;
  return hr;
}

// source is by value. out is written only on success, apart from its type tag.
HRESULT Convert(const VARIANT& source, LCID lcid, USHORT flags, VARTYPE vt, int depth, VARIANT* out) {
  VariantInit(out);
  if (source.vt == vt) return DeepCopy(out, source);
  // Arrays convert only to themselves, and NULL, ERROR and records only to their own type.
  if ((vt & VT_ARRAY) || (source.vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  if (source.vt == VT_NULL || source.vt == VT_ERROR || source.vt == VT_RECORD) return DISP_E_TYPEMISMATCH;
  switch (vt) {
    case VT_NULL:
    case VT_ERROR:
    case VT_RECORD:
      return DISP_E_TYPEMISMATCH;
    case VT_EMPTY:
      return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return ToObject(source, vt, out);
    default:
      break;
  }
  if (source.vt == VT_DISPATCH) return ConvertDefaultValue(source.pdispVal, lcid, flags, vt, depth, out);
  if (source.vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  HRESULT hr;
  if (vt == VT_BSTR) hr = ToText(source, flags, out);
  else if (vt == VT_BOOL) hr = ToBool(source, out);
  else hr = ToNumeric(source, vt, out);
  if (FAILED(hr)) VariantInit(out);
  return hr;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* source, LCID lcid, USHORT flags, VARTYPE vt) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(source->vt) || !IsValidTarget(vt)) return DISP_E_BADVARTYPE;
  VARIANT shallow;
  HRESULT hr = Dereference(*source, &shallow);
  if (FAILED(hr)) return hr;
  if (dest == source && source->vt == vt) return S_OK;
  VARIANT result;
  hr = Convert(shallow, lcid, flags, vt, 0, &result);
  if (FAILED(hr)) return hr;
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, source, LOCALE_USER_DEFAULT, flags, vt);
}

}  // namespace win
