#include "platform/com/script/script_text.h"

namespace win::script {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::string Utf16ToCesu8(std::u16string_view text) {
  size_t bytes = 0;
  for (char16_t unit : text) bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
  std::string out;
  out.resize(bytes);
  char* p = out.data();
  for (char16_t unit : text) {
    if (unit < 0x80) {
      *p++ = static_cast<char>(unit);
    } else if (unit < 0x800) {
      *p++ = static_cast<char>(0xC0 | (unit >> 6));
      *p++ = static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (unit >> 12));
      *p++ = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return out;
}

std::u16string Cesu8ToUtf16(const char* data, size_t length) {
  const auto* s = reinterpret_cast<const unsigned char*>(data);
  std::u16string out;
  out.reserve(length);  // never more units than bytes
  size_t i = 0;
  while (i < length) {
    const unsigned char b0 = s[i];
    if (b0 < 0x80) {
      out.push_back(b0);
      i += 1;
    } else if ((b0 & 0xE0) == 0xC0 && i + 1 < length && IsContinuation(s[i + 1])) {
      out.push_back(static_cast<char16_t>(((b0 & 0x1F) << 6) | (s[i + 1] & 0x3F)));
      i += 2;
    } else if ((b0 & 0xF0) == 0xE0 && i + 2 < length && IsContinuation(s[i + 1]) &&
               IsContinuation(s[i + 2])) {
      // Surrogates come through unchanged: that is how the engine stores both halves of a pair
      // and any lone half.
      out.push_back(static_cast<char16_t>(((b0 & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) |
                                          (s[i + 2] & 0x3F)));
      i += 3;
    } else if ((b0 & 0xF8) == 0xF0 && i + 3 < length && IsContinuation(s[i + 1]) &&
               IsContinuation(s[i + 2]) && IsContinuation(s[i + 3])) {
      const char32_t cp = (char32_t(b0 & 0x07) << 18) | (char32_t(s[i + 1] & 0x3F) << 12) |
                          (char32_t(s[i + 2] & 0x3F) << 6) | char32_t(s[i + 3] & 0x3F);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        out.push_back(kReplacement);
      }
      i += 4;
    } else {
      out.push_back(kReplacement);
      i += 1;
    }
  }
  return out;
}

}  // namespace win::script
