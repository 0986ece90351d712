// BSTR: a UTF-16 string whose byte length is stored in the 4 bytes before its first character and
// which is followed by a NUL character that the length does not count. It may hold embedded NULs.
// The null BSTR is a valid empty string for every function here.
#pragma once

#include <string_view>
#include <utility>

#include "platform/com/ole_types.h"

namespace win {

// Copies a NUL-terminated string. Null gives null.
BSTR SysAllocString(LPCOLESTR text);
// Allocates length characters plus the NUL and copies length characters from text when it is not
// null (zeroed otherwise). Null when out of memory or when the byte length would not fit 32 bits.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// Allocates length bytes followed by a NUL character and copies them from bytes when it is not
// null (zeroed otherwise). No character conversion; SysStringByteLen gives back length.
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
// *target becomes a copy of text (null text gives null), the old string is freed after the copy is
// made, so text may point into it. FALSE, with *target unchanged, when out of memory or target is
// null.
INT SysReAllocString(BSTR* target, LPCOLESTR text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
// Characters and bytes, not counting the NUL; 0 for null.
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// Owns one BSTR and frees it when it goes.
class OwnedBstr {
 public:
  OwnedBstr() = default;
  static OwnedBstr Adopt(BSTR text) { return OwnedBstr(text); }
  // Null on allocation failure; the empty view gives a zero-length, non-null string.
  static OwnedBstr Copy(std::u16string_view text) {
    return OwnedBstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
  OwnedBstr(OwnedBstr&& o) noexcept : m_text(std::exchange(o.m_text, nullptr)) {}
  OwnedBstr& operator=(OwnedBstr&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ~OwnedBstr() { SysFreeString(m_text); }

  BSTR get() const { return m_text; }
  UINT size() const { return SysStringLen(m_text); }
  std::u16string_view view() const { return m_text ? std::u16string_view(m_text, size()) : std::u16string_view(); }
  BSTR Release() { return std::exchange(m_text, nullptr); }
  void Reset(BSTR text = nullptr) {
    if (text != m_text) SysFreeString(m_text);
    m_text = text;
  }
  // Frees what is held and returns the slot for an out parameter.
  BSTR* Receive() {
    Reset();
    return &m_text;
  }

 private:
  explicit OwnedBstr(BSTR text) : m_text(text) {}
  BSTR m_text = nullptr;
};

}  // namespace win
