// The character sets of the stream object's text mode, by the names web pages and Windows use
// ("utf-8", "gb2312", "Shift_JIS", "Unicode"...), over iconv.
//
// A name is first looked up among the Windows names whose meaning differs from iconv's reading of
// the same name (Windows decodes "gb2312" as code page 936, that is GBK, and "Unicode" is UTF-16LE);
// any other name is handed to iconv as it stands, so every character set iconv knows is accepted
// under its iconv names. Letter case never matters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win::stream {

class Charset {
 public:
  // Empty when neither the table nor iconv knows the name.
  static std::optional<Charset> Find(std::u16string_view name);

  // The iconv name the text is converted with ("CP936", "UTF-8"...).
  const std::string& IconvName() const { return m_iconvName; }
  // The byte-order mark that starts text of this character set, or none.
  std::string_view ByteOrderMark() const;

  struct Decoded {
    std::u16string text;
    size_t bytesUsed = 0;
  };
  // Decodes up to maxUnits UTF-16 code units from the start of bytes (a pair is never split).
  // Bytes that are not valid in the character set, and an incomplete sequence at the end, become
  // U+FFFD, as the Windows conversion does.
  Decoded Decode(const uint8_t* bytes, size_t size, size_t maxUnits = SIZE_MAX) const;
  // Characters the character set cannot hold become "?". Throws std::bad_alloc.
  std::vector<uint8_t> Encode(std::u16string_view text) const;

 private:
  enum class Family { Utf16Le, Utf16Be, Utf8, Other };
  Charset(std::string iconvName, Family family) : m_iconvName(std::move(iconvName)), m_family(family) {}

  std::string m_iconvName;
  Family m_family;
};

}  // namespace win::stream
