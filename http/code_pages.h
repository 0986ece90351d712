// Conversions between the program's GBK texts, UTF-16 byte sets and other code pages, made by the
// platform's MultiByteToWideChar / WideCharToMultiByte called as declared DLL commands. Each
// conversion sizes its buffer with a measuring call on the same code page first. A failing
// conversion reports nothing: the result is what the buffer then holds.
#pragma once

#include <cstdint>

#include "runtime/memory/owned.h"

namespace quorvane {

inline constexpr int32_t kCodePageAnsi = 0;
inline constexpr int32_t kCodePageGbk = 936;
inline constexpr int32_t kCodePageUtf8 = 65001;

// UTF-16LE code units of text, ending with one NUL unit unless dropTerminator; the empty text gives
// the empty byte set.
qv::OwnedByteSet GbkToUtf16(const char* text, bool dropTerminator = false);
// GBK text of the UTF-16 units in bytes (an odd last byte is ignored), up to the first NUL.
qv::OwnedText Utf16ToGbk(qv::ByteSetView bytes);
// UTF-16 units of text read in codePage, ending with the NUL unit.
qv::OwnedByteSet MultiByteToUtf16(const char* text, int32_t codePage = kCodePageUtf8);
// The UTF-16 text in bytes, up to its NUL unit, converted to codePage. A byte set without a NUL unit
// is read to its end.
qv::OwnedText Utf16ToMultiByte(qv::ByteSetView bytes, int32_t codePage = kCodePageAnsi);
qv::OwnedText Utf8ToGbk(const char* text);
qv::OwnedText GbkToUtf8(const char* text);

}  // namespace quorvane
