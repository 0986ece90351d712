// The regex object over the platform's RegExp automation object, driven through the runtime's
// automation commands and declared DLL commands as the program runs it.
#include <gtest/gtest.h>

#include "app/program.h"
#include "common/gbk_print.h"
#include "platform/com/initialise.h"
#include "regex/regex_object.h"
#include "runtime/startup.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

class RuntimeEnvironment : public testing::Environment {
 public:
  void SetUp() override { qv::InitialiseRuntime(Description()); }
  void TearDown() override { qv::ShutdownRuntime(0); }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

TEST(RegexObject, FindsMatchesAndCounts) {
  RegexObject re;
  EXPECT_TRUE(re.ExecutePattern("a(b)?c", "ac abc xyz"));
  EXPECT_EQ(re.GetMatchCount(), 2);
  EXPECT_EQ(Gbk(re.GetMatchText(1).c_str()), Gbk("ac"));
  EXPECT_EQ(Gbk(re.GetMatchText(2).c_str()), Gbk("abc"));
  EXPECT_EQ(re.GetSubMatchCount(), 1);
  EXPECT_TRUE(re.GetSubMatchText(1, 1).empty());  // the group took no part
  EXPECT_EQ(Gbk(re.GetSubMatchText(2, 1).c_str()), Gbk("b"));
  for (int32_t n : {0, -1, 3, 1 << 30}) EXPECT_TRUE(re.GetMatchText(n).empty()) << n;
  EXPECT_TRUE(re.GetSubMatchText(1, 2).empty());
  EXPECT_TRUE(re.GetSubMatchText(1, 0).empty());
}

TEST(RegexObject, PatternThatDoesNotOccurStillSucceeds) {
  RegexObject re;
  EXPECT_TRUE(re.ExecutePattern("zzz", "abc"));
  EXPECT_EQ(re.GetMatchCount(), 0);
  EXPECT_EQ(re.GetSubMatchCount(), 0);
  EXPECT_TRUE(re.GetMatchText(1).empty());
}

TEST(RegexObject, InvalidPatternFailsAndDropsThePreviousMatches) {
  RegexObject re;
  ASSERT_TRUE(re.ExecutePattern("b", "abc"));
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_FALSE(re.ExecutePattern("a(b", "abc"));
  EXPECT_EQ(re.GetMatchCount(), 0);
  EXPECT_TRUE(re.GetMatchText(1).empty());
  EXPECT_TRUE(re.ReplaceMatches("x").empty());
  EXPECT_EQ(Gbk(re.GetPattern().c_str()), Gbk("a(b"));
}

TEST(RegexObject, CaseOptionsAndLineBreaks) {
  RegexObject re;
  EXPECT_TRUE(re.ExecutePattern("hello", "Say HELLO"));
  EXPECT_EQ(re.GetMatchCount(), 1);  // case is ignored unless asked for
  EXPECT_TRUE(re.ExecutePattern("hello", "Say HELLO", true));
  EXPECT_EQ(re.GetMatchCount(), 0);
  EXPECT_TRUE(re.ExecutePattern("hello", "Say HELLO", false));
  EXPECT_EQ(re.GetMatchCount(), 1);

  // A dot never crosses a line break, whatever the options.
  for (bool multiline : {true, false}) {
    EXPECT_TRUE(re.ExecutePattern("a.b", "a\nb a\rb a\r\nb", {}, multiline));
    EXPECT_EQ(re.GetMatchCount(), 0) << multiline;
  }
  // Multiline anchors at each line; without it only at the ends of the subject.
  EXPECT_TRUE(re.ExecutePattern("^x", "x\r\nx\nx"));
  EXPECT_EQ(re.GetMatchCount(), 3);
  EXPECT_TRUE(re.ExecutePattern("^x", "x\r\nx\nx", {}, false));
  EXPECT_EQ(re.GetMatchCount(), 1);
}

TEST(RegexObject, QuoteMarkPlaceholderBecomesADoubleQuote) {
  RegexObject re;
  EXPECT_TRUE(re.ExecutePattern("id=#引号(\\d+)#引号", "<a id=\"42\">", {}, {}, {}, true));
  EXPECT_EQ(Gbk(re.GetSubMatchText(1, 1).c_str()), Gbk("42"));
  EXPECT_EQ(Gbk(re.GetPattern().c_str()), Gbk("id=\"(\\d+)\""));
  // Without the option the placeholder is plain pattern text.
  EXPECT_TRUE(re.ExecutePattern("#引号", "#引号 \""));
  EXPECT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(Gbk(re.GetMatchText(1).c_str()), Gbk("#引号"));
}

TEST(RegexObject, PositionsAreByteOffsetsInTheSubject) {
  RegexObject re;
  int32_t position = 12345;
  ASSERT_TRUE(re.ExecutePattern("abc", "xxabc"));
  re.GetMatchText(1, &position);
  EXPECT_EQ(position, 2);

  // Two Chinese characters before the match: FirstIndex 2, byte offset 4.
  ASSERT_TRUE(re.ExecutePattern("abc", "中文abc"));
  EXPECT_EQ(Gbk(re.GetMatchText(1, &position).c_str()), Gbk("abc"));
  EXPECT_EQ(position, 4);
  // FirstIndex 4 falls inside the second character; the search resumes at the next character.
  ASSERT_TRUE(re.ExecutePattern("文(b)", "中文ab文b"));
  re.GetMatchText(1, &position);
  EXPECT_EQ(position, 6);
  // A group is looked for from its match's FirstIndex too, so an equal text before the group is
  // found first: the "b" at offset 5 rather than the group's own at 8.
  EXPECT_EQ(Gbk(re.GetSubMatchText(1, 1, &position).c_str()), Gbk("b"));
  EXPECT_EQ(position, 5);

  // The search starts one byte before FirstIndex, so a match text that also begins there is
  // reported there: the second "a" of "aa" is found at offset 0.
  ASSERT_TRUE(re.ExecutePattern("a", "aa"));
  re.GetMatchText(2, &position);
  EXPECT_EQ(position, 0);

  // No such match: its empty text is found at once, at the start of the subject.
  position = 12345;
  EXPECT_TRUE(re.GetMatchText(3, &position).empty());
  EXPECT_EQ(position, 0);
}

// A case-sensitive match is located by its own spelling: the "Abc" before it, which a case-blind
// search from FirstIndex would meet first, is passed over.
TEST(RegexObject, CaseSensitiveMatchIsLocatedByItsOwnSpelling) {
  RegexObject re;
  int32_t position = 12345;
  ASSERT_TRUE(re.ExecutePattern("abc", "中中Abcabc", true));
  ASSERT_EQ(re.GetMatchCount(), 1);
  EXPECT_EQ(Gbk(re.GetMatchText(1, &position).c_str()), Gbk("abc"));
  EXPECT_EQ(position, 7);
}

TEST(RegexObject, FindsTheCharsetOfAPage) {
  RegexObject re;
  const char* page = "<html><head><META http-equiv=\"Content-Type\" content=\"text/html; charset=GB2312\">";
  ASSERT_TRUE(re.ExecutePattern("<meta.+?charset=[^\\w]?([-\\w]+)", page));
  EXPECT_EQ(re.GetSubMatchCount(), 1);
  EXPECT_EQ(Gbk(re.GetSubMatchText(1, 1).c_str()), Gbk("GB2312"));
  ASSERT_TRUE(re.ExecutePattern("<meta.+?charset=[^\\w]?([-\\w]+)", "<meta charset=\"utf-8\">"));
  EXPECT_EQ(Gbk(re.GetSubMatchText(1, 1).c_str()), Gbk("utf-8"));
}

TEST(RegexObject, ReplacesEveryMatchOrTheFirst) {
  RegexObject re;
  EXPECT_TRUE(re.ReplaceMatches("x").empty());  // nothing executed yet
  ASSERT_TRUE(re.ExecutePattern("(\\d)", "a1b2"));
  EXPECT_EQ(Gbk(re.ReplaceMatches("<$1$1>").c_str()), Gbk("a<11>b<22>"));
  EXPECT_EQ(Gbk(re.ReplaceMatches().c_str()), Gbk("ab"));
  EXPECT_EQ(Gbk(re.ReplaceMatches("[$&|$$|$2]").c_str()), Gbk("a[1|$|$2]b[2|$|$2]"));
  ASSERT_TRUE(re.ExecutePattern("(\\d)", "a1b2", {}, {}, false));
  EXPECT_EQ(Gbk(re.ReplaceMatches("#").c_str()), Gbk("a#b2"));
  ASSERT_TRUE(re.ExecutePattern("文", "中文中文"));
  EXPECT_EQ(Gbk(re.ReplaceMatches("字").c_str()), Gbk("中字中字"));
}

TEST(RegexObject, CopiesShareTheMatchesAndBalanceComInitialisation) {
  const int before = win::CoInitializeCount();
  {
    auto original = std::make_unique<RegexObject>();
    EXPECT_EQ(win::CoInitializeCount(), before + 1);
    ASSERT_TRUE(original->ExecutePattern("b+", "abbbc"));
    RegexObject copy(*original);
    EXPECT_EQ(win::CoInitializeCount(), before + 2);
    original.reset();
    EXPECT_EQ(copy.GetMatchCount(), 1);
    EXPECT_EQ(Gbk(copy.GetMatchText(1).c_str()), Gbk("bbb"));
    EXPECT_EQ(Gbk(copy.ReplaceMatches("-").c_str()), Gbk("a-c"));
  }
  EXPECT_EQ(win::CoInitializeCount(), before);
}

TEST(RegexObject, CatastrophicPatternFailsInsteadOfFreezing) {
  RegexObject re;
  EXPECT_FALSE(re.ExecutePattern("(a+)+$", std::string(40, 'a').append("b").c_str()));
  EXPECT_EQ(re.GetMatchCount(), 0);
}

}  // namespace
}  // namespace quorvane
