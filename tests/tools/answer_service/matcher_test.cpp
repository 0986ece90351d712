// Matching: normalisation, narrowing by course, chapter and type, the fallback when narrowing
// leaves nothing, the 60% trigram threshold and "nothing found".
#include "tools/answer_service/matcher.h"

#include <gtest/gtest.h>

#include "tests/tools/answer_service/bank_fixture.h"
#include "tools/answer_service/normaliser.h"

namespace qv::answers {
namespace {

using testing::TempBank;

TEST(NormaliseForMatching, FoldsWidthCaseSpaceAndPunctuation) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {
      {"Ａｂｃ　１２３！", "abc123"},
      {"  What is TCP/IP?\t\r\n", "whatistcpip"},
      {"指令系统中，采用（ ）不同寻址方式的目的是____。", "指令系统中采用不同寻址方式的目的是"},
      {"“中学为体，西学为用”", "中学为体西学为用"},
      {"a+b=c ①", "a+b=c1"},  // symbols stay; circled digits fold to digits
      {"STRASSE straße", "strassestrasse"},
      {"\xE2\x80\x8B零宽\xC2\xAD字符", "零宽字符"},  // format characters go
      {"？！。、", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(NormaliseForMatching(row.in), row.out) << row.in;
}

TEST(GbkToUtf8, DecodesCodePage936AndRejectsBrokenSequences) {
  EXPECT_EQ(GbkToUtf8("\xB5\xDA\xCE\xE5\xD5\xC2"), "第五章");
  EXPECT_EQ(GbkToUtf8("\x80"), "€");
  EXPECT_EQ(GbkToUtf8(""), "");
  EXPECT_EQ(GbkToUtf8("\x81\x20"), std::nullopt);      // lead byte with an ASCII trail
  EXPECT_EQ(GbkToUtf8("ab\xB5"), std::nullopt);        // lead byte cut off at the end
  EXPECT_EQ(GbkToUtf8("\x81\x7F"), std::nullopt);      // 0x7F is no trail byte
}

TEST(Trigrams, ShareCountsDistinctTrigramsOfTheTypedText) {
  auto grams = [](std::u32string_view s) { return TrigramsOf(s); };
  EXPECT_EQ(grams(U"ab").size(), 0u);
  EXPECT_EQ(grams(U"aaaa").size(), 1u);  // "aaa" twice counts once
  EXPECT_EQ(SharedTrigrams(grams(U"abcdef"), grams(U"xbcdey")), 2u);  // bcd, cde
  EXPECT_EQ(SharedTrigrams(grams(U"abcdef"), grams(U"fedcba")), 0u);
}

class MatcherTest : public ::testing::Test {
 protected:
  Match Find(const std::string& text, const std::string& course = "", const std::string& chapter = "",
             std::optional<int> type = std::nullopt, Platform platform = Platform::kVelmora) {
    Store store(bank.path(), Store::Access::kRead);
    Matcher matcher(store);
    return matcher.Find(Question{platform, text, course, chapter, type});
  }
  TempBank bank;
};

TEST_F(MatcherTest, FindsQuestionsEqualAfterNormalisation) {
  ASSERT_TRUE(bank.Import("vm\t计算机组成原理\t第七章\t1\t指令系统中采用不同寻址方式的目的是\t缩短指令长度\n"
                          "vm\t计算机网络\t第五章\t3\tTCP/IP 模型中，IP 位于哪一层？\t网际层\n")
                  .imported);
  for (const char* typed : {"指令系统中采用不同寻址方式的目的是", " 指令系统中，采用不同寻址方式的目的是（　）。",
                            "指令系统中采用不同寻址方式的目的是____"}) {
    Match match = Find(typed);
    EXPECT_EQ(match.kind, Match::Kind::kExact) << typed;
    EXPECT_EQ(match.entry.answer, "缩短指令长度") << typed;
  }
  EXPECT_EQ(Find("ｔｃｐ／ｉｐ模型中ip位于哪一层").entry.answer, "网际层");
  // The other platform has its own table.
  EXPECT_EQ(Find("指令系统中采用不同寻址方式的目的是", "", "", std::nullopt, Platform::kTandrel).kind,
            Match::Kind::kNone);
}

TEST_F(MatcherTest, CourseChapterAndTypeNarrowAndAreIgnoredWhenTheyLeaveNothing) {
  ASSERT_TRUE(bank.Import("vm\t数据结构\t第三章 栈和队列\t1\t栈的特点是\t后进先出\n"
                          "vm\t操作系统\t第二章\t1\t栈的特点是\t操作系统的栈\n"
                          "vm\t数据结构\t第五章\t3\t栈的特点是\t填空的栈\n"
                          "vm\t\t\t4\t栈的特点是\t无课程的栈\n")
                  .imported);
  struct Row {
    const char* course;
    const char* chapter;
    std::optional<int> type;
    const char* answer;
  } rows[] = {
      {"", "", std::nullopt, "后进先出"},           // no narrowing: the first imported
      {"操作系统", "", std::nullopt, "操作系统的栈"},
      {" 数据结构 ", "", 3, "填空的栈"},
      {"数据结构", "第五章", std::nullopt, "填空的栈"},
      {"", "第三章", std::nullopt, "后进先出"},      // a chapter given in part fits
      {"", "", 4, "无课程的栈"},
      {"英语", "", 3, "填空的栈"},                   // unknown course ignored, type still narrows
      {"数据结构", "第九章", 14, "后进先出"},        // chapter and type ignored, course kept
      {"操作系统", "", 3, "操作系统的栈"},           // course first; type would leave nothing after it
  };
  for (const Row& row : rows) {
    Match match = Find("栈的特点是", row.course, row.chapter, row.type);
    EXPECT_EQ(match.entry.answer, row.answer) << row.course << "|" << row.chapter;
  }
}

TEST_F(MatcherTest, SimilarQuestionNeedsSixtyPercentOfTheTypedTrigrams) {
  // The typed question has 20 distinct trigrams; each row's bank question shares its first
  // `prefix` letters (prefix - 2 trigrams) and nothing else.
  const std::string typed = "abcdefghijklmnopqrstuv";
  struct Row {
    size_t prefix;
    bool found;
  } rows[] = {{15, true}, {14, true}, {13, false}, {3, false}};
  for (const Row& row : rows) {
    TempBank own;
    ASSERT_TRUE(own.Import("vm\t\t\t1\t" + typed.substr(0, row.prefix) + "0123456789\t答案\n").imported);
    Store store(own.path(), Store::Access::kRead);
    Match match = Matcher(store).Find(Question{Platform::kVelmora, typed, "", "", std::nullopt});
    EXPECT_EQ(match.kind, row.found ? Match::Kind::kSimilar : Match::Kind::kNone) << row.prefix;
    if (row.found) {
      EXPECT_DOUBLE_EQ(match.shared, static_cast<double>(row.prefix - 2) / 20.0);
    }
  }
}

TEST_F(MatcherTest, SimilarMatchPrefersMostSharedThenNarrows) {
  ASSERT_TRUE(bank.Import("vm\t计算机组成原理\t第七章\t1\t指令系统中采用不同寻址方式的目的是\t组成原理的答案\n"
                          "vm\t汇编语言\t第二章\t1\t指令系统中采用不同寻址方式的主要目的是\t汇编的答案\n"
                          "vm\t计算机组成原理\t第一章\t1\t冯诺依曼计算机工作方式的基本特点是\t存储程序\n")
                  .imported);
  Match plain = Find("指令系统采用不同寻址方式的目的是");
  EXPECT_EQ(plain.kind, Match::Kind::kSimilar);
  EXPECT_EQ(plain.entry.answer, "组成原理的答案");
  EXPECT_EQ(plain.entry.question, "指令系统中采用不同寻址方式的目的是");
  EXPECT_EQ(Find("指令系统采用不同寻址方式的目的是", "汇编语言").entry.answer, "汇编的答案");
}

TEST_F(MatcherTest, NothingFoundForUnknownShortOrEmptyQuestions) {
  ASSERT_TRUE(bank.Import("vm\t\t\t1\t中国近代史的开端是\t1840年鸦片战争\n").imported);
  for (const char* typed : {"量子力学的基本假设有哪些", "开端", "？？！", ""}) {
    EXPECT_EQ(Find(typed).kind, Match::Kind::kNone) << typed;
  }
}

}  // namespace
}  // namespace qv::answers
