// The owner of one glibc iconv conversion descriptor, private to the code-page stand-in.
#pragma once

#include <iconv.h>

#include <optional>
#include <utility>

namespace win::codepage_detail {

// Owns an iconv_t: opened only through Open, never copied, closed in the destructor.
class IconvOwner {
 public:
  // Empty when the C library cannot convert between the two encodings.
  static std::optional<IconvOwner> Open(const char* toCode, const char* fromCode) {
    iconv_t cd = iconv_open(toCode, fromCode);
    if (cd == Invalid()) return std::nullopt;
    return IconvOwner(cd);
  }

  IconvOwner(IconvOwner&& other) noexcept : m_cd(std::exchange(other.m_cd, Invalid())) {}
  IconvOwner(const IconvOwner&) = delete;
  IconvOwner& operator=(const IconvOwner&) = delete;
  IconvOwner& operator=(IconvOwner&&) = delete;
  ~IconvOwner() {
    if (m_cd != Invalid()) iconv_close(m_cd);
  }

  iconv_t Get() const { return m_cd; }

  // Puts the descriptor back in its initial state, so that a new text starts clean whatever the
  // last conversion on this descriptor left behind.
  void Reset() const { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }

 private:
  explicit IconvOwner(iconv_t cd) : m_cd(cd) {}
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

  iconv_t m_cd;
};

}  // namespace win::codepage_detail
