// VARIANT, the tagged value of OLE Automation, and the functions that initialise, clear, copy and
// convert it. The layout is the Windows one for a 64-bit process: a 2-byte type tag, three reserved
// words and an 8- or 16-byte value (24 bytes in all); a DECIMAL overlays the whole VARIANT.
//
// Ownership: a VARIANT owns its BSTR, its interface reference, its SAFEARRAY and its record, and
// VariantClear frees them. A VT_BYREF variant owns nothing: it points at a value owned elsewhere.
#pragma once

#include <string_view>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/hresult.h"
#include "platform/com/ole_types.h"
#include "platform/com/unknown.h"

namespace win {

class IDispatch;
class IRecordInfo;
struct SAFEARRAY;

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;         // VT_I8
        LONG lVal;              // VT_I4
        BYTE bVal;              // VT_UI1
        SHORT iVal;             // VT_I2
        FLOAT fltVal;           // VT_R4
        DOUBLE dblVal;          // VT_R8
        VARIANT_BOOL boolVal;   // VT_BOOL
        SCODE scode;            // VT_ERROR
        CY cyVal;               // VT_CY
        DATE date;              // VT_DATE
        BSTR bstrVal;           // VT_BSTR
        IUnknown* punkVal;      // VT_UNKNOWN
        IDispatch* pdispVal;    // VT_DISPATCH
        SAFEARRAY* parray;      // VT_ARRAY | *
        CHAR cVal;              // VT_I1
        USHORT uiVal;           // VT_UI2
        ULONG ulVal;            // VT_UI4
        ULONGLONG ullVal;       // VT_UI8
        INT intVal;             // VT_INT
        UINT uintVal;           // VT_UINT
        BYTE* pbVal;            // VT_BYREF | VT_UI1
        SHORT* piVal;           // VT_BYREF | VT_I2
        LONG* plVal;            // VT_BYREF | VT_I4
        LONGLONG* pllVal;       // VT_BYREF | VT_I8
        FLOAT* pfltVal;         // VT_BYREF | VT_R4
        DOUBLE* pdblVal;        // VT_BYREF | VT_R8
        VARIANT_BOOL* pboolVal; // VT_BYREF | VT_BOOL
        SCODE* pscode;          // VT_BYREF | VT_ERROR
        CY* pcyVal;             // VT_BYREF | VT_CY
        DATE* pdate;            // VT_BYREF | VT_DATE
        BSTR* pbstrVal;         // VT_BYREF | VT_BSTR
        IUnknown** ppunkVal;    // VT_BYREF | VT_UNKNOWN
        IDispatch** ppdispVal;  // VT_BYREF | VT_DISPATCH
        SAFEARRAY** pparray;    // VT_BYREF | VT_ARRAY | *
        VARIANT* pvarVal;       // VT_BYREF | VT_VARIANT
        PVOID byref;            // any VT_BYREF
        CHAR* pcVal;            // VT_BYREF | VT_I1
        USHORT* puiVal;         // VT_BYREF | VT_UI2
        ULONG* pulVal;          // VT_BYREF | VT_UI4
        ULONGLONG* pullVal;     // VT_BYREF | VT_UI8
        INT* pintVal;           // VT_BYREF | VT_INT
        UINT* puintVal;         // VT_BYREF | VT_UINT
        DECIMAL* pdecVal;       // VT_BYREF | VT_DECIMAL
        struct {                // VT_RECORD
          PVOID pvRecord;
          IRecordInfo* pRecInfo;
        };
      };
    };
    DECIMAL decVal;  // VT_DECIMAL: its wReserved is the vt above
  };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

// Flags of VariantChangeType(Ex).
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;    // do not read an object's default value
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;      // VT_BOOL to text as "True" / "False"
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04; // accepted; there are no user overrides
inline constexpr USHORT VARIANT_CALENDAR_HIJRI = 0x08;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;      // as VARIANT_ALPHABOOL here

// Sets vt to VT_EMPTY and the reserved words to 0; the value is not touched.
void VariantInit(VARIANT* v);

// Frees what the variant owns (see above) and sets vt to VT_EMPTY. E_INVALIDARG for null,
// DISP_E_BADVARTYPE (variant unchanged) for a type tag that is not a valid VARIANT type,
// DISP_E_ARRAYISLOCKED (unchanged) for an owned array that is locked.
HRESULT VariantClear(VARIANT* v);

// Clears dest, then makes it an exact copy of source: strings, arrays and records are duplicated,
// interfaces get a reference; a VT_BYREF source is copied as the same reference. dest == source is
// allowed and does nothing. On failure dest is left VT_EMPTY (or unchanged when it cannot be
// cleared). E_INVALIDARG, DISP_E_BADVARTYPE, DISP_E_ARRAYISLOCKED, E_OUTOFMEMORY.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* source);

// As VariantCopy, but a VT_BYREF source is followed: dest receives a copy of the value it points at
// (through one VT_VARIANT level and the variant it holds).
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* source);

// Converts source to type vt into dest (dest == source converts in place). On success the old
// content of dest is cleared and dest->vt == vt; on failure dest is left as it was. Follows
// VT_BYREF, reads an object's default value (DISPID_VALUE) unless VARIANT_NOVALUEPROP is given,
// and formats and parses texts as the Chinese (PRC) locale does whatever the locale id (a text is
// read up to its first NUL character, as the Windows parsers read it). Results:
// S_OK, DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE, E_INVALIDARG, E_OUTOFMEMORY, and
// E_NOINTERFACE when an IUnknown does not offer IDispatch.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* source, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* source, LCID lcid, USHORT flags, VARTYPE vt);

// Owns one VARIANT (initialised empty) and clears it when it goes.
class OwnedVariant {
 public:
  OwnedVariant() { VariantInit(&m_value); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
  OwnedVariant(OwnedVariant&& o) noexcept : m_value(o.m_value) { VariantInit(&o.m_value); }
  OwnedVariant& operator=(OwnedVariant&& o) noexcept {
    if (this != &o) {
      VariantClear(&m_value);
      m_value = o.m_value;
      VariantInit(&o.m_value);
    }
    return *this;
  }
  ~OwnedVariant() { VariantClear(&m_value); }

  // Typed constructors. FromText gives VT_EMPTY when the string cannot be allocated.
  static OwnedVariant FromInt32(LONG value);
  static OwnedVariant FromDouble(double value);
  static OwnedVariant FromBool(bool value);
  static OwnedVariant FromText(std::u16string_view text);
  // Takes over the content of value, which is left VT_EMPTY.
  static OwnedVariant Adopt(VARIANT* value);

  VARIANT* get() { return &m_value; }
  const VARIANT* get() const { return &m_value; }
  VARIANT* operator->() { return &m_value; }
  const VARIANT* operator->() const { return &m_value; }
  VARTYPE vt() const { return m_value.vt; }
  // Clears what is held and returns the variant for an out parameter.
  VARIANT* Receive() {
    VariantClear(&m_value);
    return &m_value;
  }
  // Hands the content to the caller, leaving this VT_EMPTY.
  VARIANT Release() {
    VARIANT out = m_value;
    VariantInit(&m_value);
    return out;
  }

 private:
  VARIANT m_value{};
};

}  // namespace win
