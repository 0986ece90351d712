#include "platform/com/stream/stream_charset.h"

#include <gtest/gtest.h>

#include <string>

namespace win::stream {
namespace {

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

Charset Must(std::u16string_view name) {
  std::optional<Charset> c = Charset::Find(name);
  EXPECT_TRUE(c.has_value()) << Narrow(name);
  return c ? *c : *Charset::Find(u"utf-8");
}

std::u16string DecodeAll(const Charset& c, std::string_view bytes) {
  return c.Decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()).text;
}

TEST(StreamCharset, DecodesTheCommonWebCharsets) {
  struct Row {
    std::u16string_view name;
    std::string_view bytes;
    std::u16string_view text;
  };
  const Row rows[] = {
      {u"utf-8", "\xe7\xad\x94\xe6\xa1\x88", u"答案"},
      {u"UTF-8", "\xf0\x9f\x98\x80", u"\U0001F600"},
      {u"gbk", "\xb4\xf0\xb0\xb8", u"答案"},
      {u"GB2312", "\xb4\xf0\xb0\xb8\x80", u"答案€"},  // read as code page 936: 0x80 is the euro sign
      {u"gb18030", "\x81\x30\x81\x30", u"\u0080"},
      {u"big5", "\xb5\xaa\xae\xd7", u"答案"},
      {u"Shift_JIS", "\x93\x9a\x82\xa6", u"答え"},
      {u"euc-kr", "\xb4\xe4", u"답"},
      {u"iso-8859-1", "caf\xe9 \x93q\x94", u"café “q”"},
      {u"windows-1251", "\xcf\xf0\xe8", u"При"},
      {u"Windows-1252", "\x80", u"€"},
      {u"koi8-r", "\xf0", u"П"},
      {u"unicode", std::string_view("A\0\x54\x7b", 4), u"A答"},
      {u"utf-16be", std::string_view("\0A\x7b\x54", 4), u"A答"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.name));
    EXPECT_EQ(DecodeAll(Must(row.name), row.bytes), row.text);
  }
}

TEST(StreamCharset, RefusesUnknownNames) {
  for (std::u16string_view name : {u"", u"no-such-charset", u"utf-8//IGNORE", u"UTF-8//TRANSLIT", u"gb 2312",
                                   u"\u7b54", u"_autodetect"}) {
    SCOPED_TRACE(Narrow(name));
    EXPECT_FALSE(Charset::Find(name).has_value());
  }
}

TEST(StreamCharset, BadBytesBecomeReplacementCharacters) {
  struct Row {
    std::u16string_view name;
    std::string_view bytes;
    std::u16string_view text;
  };
  const Row rows[] = {
      {u"utf-8", "a\xff" "b", u"a\ufffdb"},
      {u"utf-8", "a\xe7\xad", u"a\ufffd"},  // cut short at the end
      {u"gbk", "\xb4", u"\ufffd"},
      {u"unicode", std::string_view("A\0B", 3), u"A\ufffd"},  // an odd last byte
      {u"unicode", std::string_view("\x00\xd8", 2), u"\xd800"},  // a lone surrogate passes unchanged
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.name));
    EXPECT_EQ(DecodeAll(Must(row.name), row.bytes), row.text);
  }
}

TEST(StreamCharset, DecodesAtMostTheUnitsAskedFor) {
  const Charset utf8 = Must(u"utf-8");
  const std::string bytes = "\xe7\xad\x94\xf0\x9f\x98\x80x";  // 答, a pair, x
  struct Row {
    size_t maxUnits;
    std::u16string_view text;
    size_t bytesUsed;
  };
  const Row rows[] = {{0, u"", 0}, {1, u"答", 3}, {2, u"答", 3}, {3, u"答\U0001F600", 7}, {10, u"答\U0001F600x", 8}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.maxUnits);
    const Charset::Decoded d = utf8.Decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), row.maxUnits);
    EXPECT_EQ(d.text, row.text);
    EXPECT_EQ(d.bytesUsed, row.bytesUsed);
  }
  const std::string pairLe = std::string("\x3d\xd8\x00\xde", 4);
  const Charset::Decoded half = Must(u"unicode").Decode(reinterpret_cast<const uint8_t*>(pairLe.data()), 4, 1);
  EXPECT_EQ(half.text, u"");
  EXPECT_EQ(half.bytesUsed, 0u);
}

TEST(StreamCharset, EncodesWithQuestionMarksForWhatDoesNotFit) {
  struct Row {
    std::u16string_view name;
    std::u16string_view text;
    std::string_view bytes;
  };
  const Row rows[] = {
      {u"gbk", u"答案", "\xb4\xf0\xb0\xb8"},
      {u"gbk", u"a\U0001F600b", "a?b"},
      {u"iso-8859-1", u"é答", "\xe9?"},
      {u"utf-8", u"答", "\xe7\xad\x94"},
      {u"utf-8", u"\xd800", "?"},  // a lone surrogate
      {u"unicode", u"A", std::string_view("A\0", 2)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.name));
    const std::vector<uint8_t> out = Must(row.name).Encode(row.text);
    EXPECT_EQ(std::string(out.begin(), out.end()), row.bytes);
  }
}

}  // namespace
}  // namespace win::stream
