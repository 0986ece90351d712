// Name hashing and the type library entry points.
#include "platform/com/typeinfo.h"

#include "platform/com/internal.h"

namespace win {

ULONG LHashValOfNameSys(SYSKIND syskind, LCID lcid, LPCOLESTR name) {
  if (name == nullptr) return 0;
  // FNV-1a over the case-folded UTF-16 units, folded to 16 bits.
  uint32_t h = 2166136261u;
  for (LPCOLESTR p = name; *p != 0; ++p) {
    const char16_t c = com_internal::FoldCase(*p);
    h = (h ^ (c & 0xFF)) * 16777619u;
    h = (h ^ (c >> 8)) * 16777619u;
  }
  const ULONG low = (h ^ (h >> 16)) & 0xFFFF;
  return (static_cast<ULONG>(syskind & 0xFF) << 16) | low;
}

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** lib) {
  if (lib != nullptr) *lib = nullptr;
  if (file == nullptr || lib == nullptr) return E_INVALIDARG;
  return TYPE_E_CANTLOADLIBRARY;
}

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR) {
  if (lib == nullptr || fullPath == nullptr) return E_INVALIDARG;
  return TYPE_E_REGISTRYACCESS;
}

}  // namespace win
