#include "platform/com/script/script_text.h"

#include <gtest/gtest.h>

#include <string>

namespace win::script {
namespace {

TEST(ScriptText, EncodesEachCodeUnitOnItsOwn) {
  struct Row {
    std::u16string utf16;
    std::string bytes;
  };
  const Row rows[] = {
      {u"", ""},
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {u"\u007f\u0080", "\x7f\xc2\x80"},
      {u"\u07ff\u0800", "\xdf\xbf\xe0\xa0\x80"},
      {u"答", "\xe7\xad\x94"},
      {u"\U0001F600", "\xed\xa0\xbd\xed\xb8\x80"},  // two 3-byte halves, not one 4-byte form
      {std::u16string(1, char16_t(0xDBFF)), "\xed\xaf\xbf"},
      {u"\uffff", "\xef\xbf\xbf"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(Utf16ToCesu8(row.utf16), row.bytes);
    EXPECT_EQ(Cesu8ToUtf16(row.bytes.data(), row.bytes.size()), row.utf16);
  }
}

TEST(ScriptText, DecodesAnyByteString) {
  struct Row {
    std::string bytes;
    std::u16string utf16;
  };
  const Row rows[] = {
      {"\xf0\x9f\x98\x80", u"\U0001F600"},          // 4-byte UTF-8 becomes a pair
      {"\xf4\x90\x80\x80", u"\ufffd"},              // beyond U+10FFFF
      {"\xf0\x80\x80\x80", u"\ufffd"},              // overlong 4-byte form
      {"\x80", u"\ufffd"},                          // a stray continuation byte
      {"\xff\xfe", u"\ufffd\ufffd"},                // bytes that start nothing
      {"\xe7\xad", u"\ufffd\ufffd"},                // cut short at the end
      {"\xe7" "a", u"\ufffda"},                     // broken by an ASCII byte
      {"\xc2", u"\ufffd"},
      {"x\xf0\x9f\x98", u"x\ufffd\ufffd\ufffd"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(Cesu8ToUtf16(row.bytes.data(), row.bytes.size()), row.utf16);
  }
}

}  // namespace
}  // namespace win::script
