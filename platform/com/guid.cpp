// The braced text form of GUIDs.
#include "platform/com/guid.h"

#include <cstring>

#include "platform/com/registry.h"
#include "platform/com/task_memory.h"

namespace win {
namespace {

constexpr int kGuidTextLength = 38;  // {8-4-4-4-12}

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads count hex digits at text[at].
bool ReadHex(LPCOLESTR text, int at, int count, uint64_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) {
    const int d = HexValue(text[at + i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

bool ParseBraced(LPCOLESTR text, GUID* out) {
  for (int i = 0; i < kGuidTextLength; ++i)
    if (text[i] == 0) return false;
  if (text[kGuidTextLength] != 0 || text[0] != u'{' || text[37] != u'}') return false;
  if (text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-') return false;
  uint64_t v;
  GUID g{};
  if (!ReadHex(text, 1, 8, &v)) return false;
  g.Data1 = static_cast<uint32_t>(v);
  if (!ReadHex(text, 10, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 15, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  static const int kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kByteAt[i], 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *out = g;
  return true;
}

HRESULT AllocateText(REFGUID guid, LPOLESTR* text) {
  if (text == nullptr) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidTextLength + 1) * sizeof(OLECHAR)));
  if (*text == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(guid, *text, kGuidTextLength + 1);
  return S_OK;
}

}  // namespace

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
  if (text[0] == u'{') {
    if (!ParseBraced(text, clsid)) return CO_E_CLASSSTRING;
    return S_OK;
  }
  return CLSIDFromProgID(text, clsid) == S_OK ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (text == nullptr || iid == nullptr) return E_INVALIDARG;
  return ParseBraced(text, iid) ? S_OK : E_INVALIDARG;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  if (buffer == nullptr || cchMax < kGuidTextLength + 1) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  int at = 0;
  auto put = [&](uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) buffer[at++] = static_cast<OLECHAR>(kHex[(value >> (4 * i)) & 0xF]);
  };
  buffer[at++] = u'{';
  put(guid.Data1, 8);
  buffer[at++] = u'-';
  put(guid.Data2, 4);
  buffer[at++] = u'-';
  put(guid.Data3, 4);
  buffer[at++] = u'-';
  put(guid.Data4[0], 2);
  put(guid.Data4[1], 2);
  buffer[at++] = u'-';
  for (int i = 2; i < 8; ++i) put(guid.Data4[i], 2);
  buffer[at++] = u'}';
  buffer[at++] = 0;
  return at;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) { return AllocateText(clsid, text); }

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return AllocateText(iid, text); }

}  // namespace win
