// GUIDs (IID, CLSID), the well-known interface ids, and their text form "{XXXXXXXX-XXXX-XXXX-XXXX-
// XXXXXXXXXXXX}" as CLSIDFromString, IIDFromString and StringFromGUID2 read and write it.
#pragma once

#include <cstdint>

#include "platform/com/hresult.h"
#include "platform/com/ole_types.h"

namespace win {

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPCLSID = CLSID*;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
constexpr bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

// The interfaces of this stand-in, with their Windows ids.
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IRecordInfo = {0x0000002F, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ITypeComp = {0x00020403, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Reads a CLSID. A text starting with "{" must be the exact 38-character braced form (hex digits
// in either case); any other text is looked up as a ProgID in the class registry (registry.h).
// Results: S_OK; CO_E_CLASSSTRING for a malformed braced text or an unknown ProgID;
// E_INVALIDARG for null pointers.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);

// Reads the braced form only. E_INVALIDARG when it is malformed or a pointer is null.
HRESULT IIDFromString(LPCOLESTR text, IID* iid);

// Writes the braced form with upper-case hex digits and a NUL: 39 characters. Returns the count
// written including the NUL, or 0 when the buffer is null or shorter than 39.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax);

// The braced form in a buffer from CoTaskMemAlloc; the caller frees it with CoTaskMemFree.
// E_INVALIDARG for a null pointer, E_OUTOFMEMORY.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);

}  // namespace win
