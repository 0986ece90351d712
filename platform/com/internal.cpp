#include "platform/com/internal.h"

#include "platform/com/bstr.h"

namespace win::com_internal {

char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);  // Latin-1
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);  // Cyrillic а..я
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);  // Cyrillic ѐ..џ
  return c;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

std::u16string_view ViewOf(LPCOLESTR text) { return text == nullptr ? std::u16string_view() : std::u16string_view(text); }

BSTR CopyBstr(BSTR source, bool* ok) {
  *ok = true;
  if (source == nullptr) return nullptr;
  BSTR copy = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
  if (copy == nullptr) *ok = false;
  return copy;
}

namespace {

// Types a VARIANT may hold by value besides VT_EMPTY and VT_NULL, and by reference besides
// VT_VARIANT.
bool IsScalarType(VARTYPE base) {
  switch (base) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
    case VT_RECORD:
      return true;
    default:
      return false;
  }
}

}  // namespace

ULONG ArrayElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: case VT_INT_PTR: case VT_UINT_PTR: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

bool IsValidVariantType(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE flags = vt & ~VT_TYPEMASK;
  if (flags & (VT_VECTOR | VT_RESERVED)) return false;
  if (flags & VT_ARRAY) return ArrayElementSize(base) != 0 || base == VT_RECORD;
  if (flags & VT_BYREF) return IsScalarType(base) || base == VT_VARIANT;
  return IsScalarType(base) || base == VT_EMPTY || base == VT_NULL;
}

}  // namespace win::com_internal
