// BSTR allocation. Layout of one allocation: a 32-bit byte count, the characters, then two zero
// bytes (plus one more when the byte count is odd, so that the terminating NUL character is
// complete however the string is read). The BSTR points just past the count.
#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>

namespace win {
namespace {

constexpr size_t kHeader = sizeof(uint32_t);
// Byte lengths must fit the 32-bit prefix; the cap leaves room for the header and terminator.
constexpr size_t kMaxBytes = 0x7FFFFFF0u;

BSTR AllocateBytes(const void* source, size_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kHeader + bytes + 3));
  if (block == nullptr) return nullptr;
  const uint32_t count = static_cast<uint32_t>(bytes);
  std::memcpy(block, &count, sizeof count);
  if (source != nullptr)
    std::memcpy(block + kHeader, source, bytes);
  else
    std::memset(block + kHeader, 0, bytes);
  std::memset(block + kHeader + bytes, 0, 3);
  return reinterpret_cast<BSTR>(block + kHeader);
}

uint32_t ByteCount(BSTR text) {
  uint32_t count;
  std::memcpy(&count, reinterpret_cast<const unsigned char*>(text) - kHeader, sizeof count);
  return count;
}

size_t Length(LPCOLESTR text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

BSTR SysAllocString(LPCOLESTR text) {
  if (text == nullptr) return nullptr;
  const size_t n = Length(text);
  if (n > kMaxBytes / 2) return nullptr;
  return AllocateBytes(text, n * 2);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxBytes / 2) return nullptr;
  return AllocateBytes(text, size_t{length} * 2);
}

BSTR SysAllocStringByteLen(const char* bytes, UINT length) { return AllocateBytes(bytes, length); }

INT SysReAllocString(BSTR* target, LPCOLESTR text) {
  if (target == nullptr) return FALSE;
  BSTR copy = nullptr;
  if (text != nullptr) {
    copy = SysAllocString(text);
    if (copy == nullptr) return FALSE;
  }
  SysFreeString(*target);
  *target = copy;
  return TRUE;
}

INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length) {
  if (target == nullptr) return FALSE;
  BSTR copy = SysAllocStringLen(text, length);
  if (copy == nullptr) return FALSE;
  SysFreeString(*target);
  *target = copy;
  return TRUE;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - kHeader);
}

UINT SysStringLen(BSTR text) { return text == nullptr ? 0 : ByteCount(text) / 2; }

UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : ByteCount(text); }

}  // namespace win
