// Test helper: GBK texts shown as UTF-8 in failure messages.
#pragma once

#include <string>
#include <string_view>

namespace qvtest {

// Converts GBK bytes to UTF-8 for display; bytes that do not convert are shown as \xNN.
std::string GbkToUtf8ForDisplay(std::string_view gbk);

// A GBK text with printing that GoogleTest uses in messages: EXPECT_EQ(Gbk(a), Gbk(b)).
struct Gbk {
  std::string bytes;
  Gbk(std::string_view b) : bytes(b) {}
  Gbk(const char* b) : bytes(b ? b : "") {}
  bool operator==(const Gbk& other) const = default;
};
void PrintTo(const Gbk& text, std::ostream* os);

}  // namespace qvtest

namespace qvtest {
// A u8"" literal as a plain std::string of UTF-8 bytes (for matching what the helpers print).
inline std::string Utf8(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }
}  // namespace qvtest
