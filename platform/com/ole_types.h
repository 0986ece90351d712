// The scalar types of OLE Automation: the VARTYPE codes, the value types a VARIANT can hold
// (VARIANT_BOOL, DATE, CY, DECIMAL), locale identifiers and member ids. Values match oaidl.h /
// wtypes.h so that type codes and flags can be compared with what Windows documents.
#pragma once

#include <cstdint>

#include "platform/windows_types.h"

namespace win {

using BYTE = uint8_t;
using CHAR = char;
using WORD = uint16_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using ULONG = uint32_t;
using INT = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using SCODE = LONG;
using ULONG_PTR = uintptr_t;
using PVOID = void*;

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// A BSTR points at the first character of a length-prefixed UTF-16 buffer (see bstr.h).
using BSTR = OLECHAR*;

using LCID = DWORD;
using DISPID = LONG;
using MEMBERID = DISPID;
using HREFTYPE = DWORD;

// Locale identifiers. The stand-in formats and parses every locale as the target machines'
// Chinese (PRC) locale: "." decimal point, "," thousands separator, dates as yyyy/M/d H:mm:ss.
inline constexpr LCID LOCALE_NEUTRAL = 0x0000;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_INVARIANT = 0x007F;
inline constexpr LCID LOCALE_ZH_CN = 0x0804;

// VARIANT_BOOL: true is all bits set.
using VARIANT_BOOL = int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// DATE: days since 1899-12-30 00:00; the fraction is the time of day (its absolute value for
// dates before that day).
using DATE = double;

// Currency: a 64-bit integer scaled by 10000 (four decimal places).
struct CY {
  LONGLONG int64;
};

// A 96-bit unsigned mantissa, a power-of-ten scale 0..28 and a sign byte.
struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;  // 0 or DECIMAL_NEG
  ULONG Hi32;
  ULONGLONG Lo64;
};
inline constexpr BYTE DECIMAL_NEG = 0x80;

// VARTYPE: the type tag of a VARIANT, a SAFEARRAY element or a TYPEDESC.
using VARTYPE = uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_CY = 6;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UNKNOWN = 13;
inline constexpr VARTYPE VT_DECIMAL = 14;
inline constexpr VARTYPE VT_I1 = 16;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI2 = 18;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_UI8 = 21;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_VOID = 24;
inline constexpr VARTYPE VT_HRESULT = 25;
inline constexpr VARTYPE VT_PTR = 26;
inline constexpr VARTYPE VT_SAFEARRAY = 27;
inline constexpr VARTYPE VT_CARRAY = 28;
inline constexpr VARTYPE VT_USERDEFINED = 29;
inline constexpr VARTYPE VT_LPSTR = 30;
inline constexpr VARTYPE VT_LPWSTR = 31;
inline constexpr VARTYPE VT_RECORD = 36;
inline constexpr VARTYPE VT_INT_PTR = 37;
inline constexpr VARTYPE VT_UINT_PTR = 38;
inline constexpr VARTYPE VT_VECTOR = 0x1000;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
inline constexpr VARTYPE VT_BYREF = 0x4000;
inline constexpr VARTYPE VT_RESERVED = 0x8000;
inline constexpr VARTYPE VT_ILLEGAL = 0xFFFF;
inline constexpr VARTYPE VT_ILLEGALMASKED = 0x0FFF;
inline constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

}  // namespace win
