#include "http/code_pages.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "http/dll_indices.h"
#include "runtime/commands/command_front.h"
#include "runtime/dll/dll_commands.h"

namespace quorvane {

using namespace qv;

namespace {

// The composite-check flag of WideCharToMultiByte.
constexpr uint32_t kCompositeCheck = 0x200;

int32_t MultiByteToWideChar(int32_t codePage, const char* text, char16_t* buffer, int32_t units) {
  return static_cast<int32_t>(
      CallDllCommand(http_dll::kMultiByteToWideChar, {codePage, 0, text, -1, buffer, units}));
}

int32_t WideCharToMultiByte(int32_t codePage, uint32_t flags, const char16_t* data, int32_t units, char* buffer,
                            int32_t size) {
  return static_cast<int32_t>(CallDllCommand(http_dll::kWideCharToMultiByte,
                                             {codePage, flags, data, units, buffer, size, nullptr, nullptr}));
}

char16_t* Units(OwnedByteSet& set) { return reinterpret_cast<char16_t*>(ByteSetData(const_cast<void*>(set.get()))); }
const char16_t* Units(ByteSetView set) { return reinterpret_cast<const char16_t*>(set.data()); }

}  // namespace

OwnedByteSet MultiByteToUtf16(const char* text, int32_t codePage) {
  if (text == nullptr) text = "";
  const int32_t units = MultiByteToWideChar(codePage, text, nullptr, 0);
  if (units <= 0) return {};
  OwnedByteSet buffer = cmd::ZeroByteSet(units * 2);
  MultiByteToWideChar(codePage, text, Units(buffer), units);
  return buffer;
}

OwnedByteSet GbkToUtf16(const char* text, bool dropTerminator) {
  if (text == nullptr || *text == '\0') return {};
  OwnedByteSet buffer = MultiByteToUtf16(text, kCodePageGbk);
  if (dropTerminator && !buffer.empty()) buffer = cmd::ByteSetLeft(buffer.view(), static_cast<int32_t>(buffer.size()) - 2);
  return buffer;
}

OwnedText Utf16ToGbk(ByteSetView bytes) {
  const int32_t units = static_cast<int32_t>(bytes.size() / 2);
  if (units == 0) return {};
  const int32_t size = WideCharToMultiByte(kCodePageGbk, kCompositeCheck, Units(bytes), units, nullptr, 0);
  if (size <= 0) return {};
  std::string buffer(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(kCodePageGbk, kCompositeCheck, Units(bytes), units, buffer.data(), size);
  return OwnedText::Copy(buffer.c_str());
}

OwnedText Utf16ToMultiByte(ByteSetView bytes, int32_t codePage) {
  // The conversion reads up to the NUL unit. A byte set that lacks one is copied with a NUL put
  // after its last unit, so that the platform never reads past the block.
  const char16_t* data = Units(bytes);
  const size_t units = bytes.size() / 2;
  std::u16string terminated;
  if (units == 0 || std::find(data, data + units, u'\0') == data + units) {
    terminated.assign(units == 0 ? u"" : data, units);
    data = terminated.c_str();
  }
  const int32_t size = WideCharToMultiByte(codePage, 0, data, -1, nullptr, 0);
  if (size <= 0) return {};
  std::string buffer(static_cast<size_t>(size) * 2, ' ');
  WideCharToMultiByte(codePage, 0, data, -1, buffer.data(), size * 2);
  return OwnedText::Copy(buffer.c_str());
}

OwnedText Utf8ToGbk(const char* text) {
  return Utf16ToMultiByte(MultiByteToUtf16(text).view(), kCodePageGbk);
}

OwnedText GbkToUtf8(const char* text) {
  return Utf16ToMultiByte(MultiByteToUtf16(text, kCodePageGbk).view(), kCodePageUtf8);
}

}  // namespace quorvane
