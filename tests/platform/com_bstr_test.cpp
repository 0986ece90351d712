// BSTR allocation: lengths, embedded NULs, byte strings, reallocation and the null BSTR.
#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "platform/com/bstr.h"

namespace win {
namespace {

uint32_t PrefixOf(BSTR s) {
  uint32_t n;
  std::memcpy(&n, reinterpret_cast<const char*>(s) - 4, 4);
  return n;
}

TEST(ComBstr, NullIsAnEmptyString) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);  // must be harmless
}

TEST(ComBstr, LengthsCountCharactersAndBytesWithoutTheTerminator) {
  struct Row {
    std::u16string_view text;
    UINT chars;
  };
  const Row rows[] = {{u"", 0}, {u"a", 1}, {u"答案", 2}, {std::u16string_view(u"a\0b", 3), 3}, {u"\U0001F600", 2}};
  for (const Row& row : rows) {
    BSTR s = SysAllocStringLen(row.text.data(), static_cast<UINT>(row.text.size()));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), row.chars) << row.chars;
    EXPECT_EQ(SysStringByteLen(s), row.chars * 2);
    EXPECT_EQ(PrefixOf(s), row.chars * 2) << "the prefix holds the byte count";
    EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), row.text);
    EXPECT_EQ(s[row.chars], u'\0') << "terminated after the counted characters";
    SysFreeString(s);
  }
}

TEST(ComBstr, SysAllocStringStopsAtTheFirstNul) {
  const char16_t text[] = u"ab\0cd";
  BSTR s = SysAllocString(text);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 2u);
  SysFreeString(s);
}

TEST(ComBstr, LenWithNullSourceGivesZeroedCharacters) {
  BSTR s = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(s[i], u'\0');
  SysFreeString(s);
}

TEST(ComBstr, ImpossibleLengthsFailInsteadOfOverflowing) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(ComBstr, ByteLenKeepsOddLengthsAndIsTerminated) {
  const char bytes[] = {'\x01', '\0', '\xFF'};
  BSTR s = SysAllocStringByteLen(bytes, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringByteLen(s), 3u);
  EXPECT_EQ(SysStringLen(s), 1u) << "characters are whole pairs of bytes";
  const char* raw = reinterpret_cast<const char*>(s);
  EXPECT_EQ(std::memcmp(raw, bytes, 3), 0);
  EXPECT_EQ(raw[3], '\0');
  EXPECT_EQ(raw[4], '\0');
  SysFreeString(s);
}

TEST(ComBstr, ReAllocReplacesAndMayReadFromTheOldString) {
  BSTR s = SysAllocString(u"hello world");
  ASSERT_EQ(SysReAllocString(&s, s + 6), TRUE);
  EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), u"world");
  ASSERT_EQ(SysReAllocStringLen(&s, s, 3), TRUE);
  EXPECT_EQ(std::u16string_view(s, SysStringLen(s)), u"wor");
  ASSERT_EQ(SysReAllocString(&s, nullptr), TRUE);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(SysReAllocString(nullptr, u"x"), FALSE);
  EXPECT_EQ(SysReAllocStringLen(nullptr, u"x", 1), FALSE);
}

TEST(ComBstr, ReAllocFailureLeavesTheOldString) {
  BSTR s = SysAllocString(u"keep");
  BSTR before = s;
  EXPECT_EQ(SysReAllocStringLen(&s, nullptr, 0xFFFFFFFFu), FALSE);
  EXPECT_EQ(s, before);
  SysFreeString(s);
}

TEST(ComBstr, OwnedBstrFreesAndHandsOver) {
  OwnedBstr a = OwnedBstr::Copy(u"abc");
  EXPECT_EQ(a.view(), u"abc");
  OwnedBstr b = std::move(a);
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(b.size(), 3u);
  BSTR raw = b.Release();
  EXPECT_EQ(b.get(), nullptr);
  SysFreeString(raw);
  OwnedBstr empty = OwnedBstr::Copy(u"");
  EXPECT_NE(empty.get(), nullptr) << "an empty copy is a real zero-length string";
  EXPECT_EQ(empty.size(), 0u);
}

}  // namespace
}  // namespace win
