// The text commands through the typed front: parts of texts, finding, replacing, splitting,
// trimming, case and comparison. GBK bytes are written as escapes where the exact bytes matter:
// B0 A1 is one double-byte character, C4 B0 one whose trail byte is B0.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "runtime/commands/command_front.h"

namespace qv {
namespace {

using qvtest::Gbk;
using Opt = std::optional<int32_t>;
using OptB = std::optional<bool>;

Gbk G(const OwnedText& t) { return Gbk(t.view()); }

std::vector<std::string> Parts(const OwnedArray& array) {
  std::vector<std::string> parts;
  for (int64_t i = 0; i < array.size(); ++i) parts.emplace_back(array.TextAt(i));
  return parts;
}

TEST(TextCommands, LeftRightMiddleCountBytesAndClampCounts) {
  struct Row {
    const char* text;
    int32_t start, n;  // start is used by TextMiddle only
    const char* left;
    const char* right;
    const char* middle;
  } rows[] = {
      {"abc", 4, 1, "a", "c", ""},
      {"abc", 2, 10, "abc", "abc", "bc"},
      {"abc", 0, 1, "a", "c", ""},
      {"abc", 1, 0, "", "", ""},
      {"abc", -1, -5, "", "", ""},
      {"abc", 3, INT_MAX, "abc", "abc", "c"},
      {"abc", INT_MIN, INT_MIN, "", "", ""},
      {"abc", INT_MAX, 1, "a", "c", ""},
      {"", 1, 1, "", "", ""},
      {"中文", 2, 2, "中", "文", "\xD0\xCE"},  // byte counts may cut a character
      {"中文", 1, 1, "\xD6", "\xC4", "\xD6"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << qvtest::GbkToUtf8ForDisplay(r.text) << " start " << r.start << " n " << r.n);
    EXPECT_EQ(G(cmd::TextLeft(r.text, r.n)), Gbk(r.left));
    EXPECT_EQ(G(cmd::TextRight(r.text, r.n)), Gbk(r.right));
    EXPECT_EQ(G(cmd::TextMiddle(r.text, r.start, r.n)), Gbk(r.middle));
  }
  // Empty results are the null pointer, not an empty block.
  EXPECT_EQ(cmd::TextLeft("abc", 0).get(), nullptr);
  EXPECT_EQ(cmd::TextMiddle("abc", 4, 1).get(), nullptr);
  EXPECT_EQ(cmd::TextLength("中文a"), 5);
  EXPECT_EQ(cmd::TextLength(nullptr), 0);
  EXPECT_TRUE(cmd::TextBeginsWith("abc", ""));
  EXPECT_TRUE(cmd::TextBeginsWith("中文", "中"));
  EXPECT_FALSE(cmd::TextBeginsWith("ab", "abc"));
  EXPECT_FALSE(cmd::TextBeginsWith("", "a"));
}

TEST(TextCommands, FindTextAndFindTextReverse) {
  struct Row {
    const char* text;
    const char* sought;
    Opt start;
    OptB ignoreCase;
    int32_t forward, reverse;
  } rows[] = {
      {"abcabc", "bc", {}, {}, 2, 5},
      {"abcabc", "bc", 3, {}, 5, -1},  // a reverse match must end by offset 2
      {"abcabc", "bc", 5, {}, 5, 2},   // the match at 5 does not end before offset 4
      {"abcabc", "bc", 4, {}, 5, 2},
      {"abcabc", "bc", 2, {}, 2, -1},  // range [0,1) holds no match
      {"abcabc", "bc", 1, {}, 2, -1},
      {"abcabc", "bc", 0, {}, 2, -1},
      {"abcabc", "bc", -7, {}, 2, -1},
      {"abcabc", "bc", INT_MIN, {}, 2, -1},
      {"abcabc", "bc", INT_MAX, {}, -1, 5},
      {"abcabc", "bc", 6, {}, -1, 2},
      {"aaa", "aa", {}, {}, 1, 2},  // reverse keeps the last, overlapping match
      {"abc", "", {}, {}, 1, 1},
      {"abc", "", 3, {}, 1, 1},
      {"abc", "", 4, {}, -1, 1},
      {"abc", "", 1, {}, 1, -1},
      {"", "", {}, {}, -1, -1},
      {"", "a", {}, {}, -1, -1},
      {"ab", "abc", {}, {}, -1, -1},
      {"\xC4\xB0", "\xB0", {}, {}, -1, -1},  // B0 as a trail byte never matches
      {"\xC4\xB0\xB0\xA1", "\xB0", {}, {}, 3, 3},
      {"ab\xB0", "\xB0", {}, {}, -1, -1},  // a lead byte before the NUL ends the scan
      {"中文中文", "文", {}, {}, 3, 7},
      {"中文中文", "文", 4, {}, 7, -1},  // a start inside a character resumes at the next one
      {"中文abc", "abc", 2, {}, 5, -1},
      {"中文中文", "文", 5, {}, 7, 3},
      {"ABCabc", "bc", {}, true, 2, 5},
      {"ABCabc", "bc", {}, false, 5, 5},
      {"xYz", "XyZ", {}, true, 1, 1},
      {"\x81\x61", "\x81\x41", {}, true, -1, -1},  // trail bytes compare exactly
      {"_a", "A", {}, true, 2, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << qvtest::GbkToUtf8ForDisplay(r.text) << " / "
                                    << qvtest::GbkToUtf8ForDisplay(r.sought) << " start "
                                    << (r.start ? std::to_string(*r.start) : "-"));
    EXPECT_EQ(cmd::FindText(r.text, r.sought, r.start, r.ignoreCase), r.forward);
    EXPECT_EQ(cmd::FindTextReverse(r.text, r.sought, r.start, r.ignoreCase), r.reverse);
  }
}

TEST(TextCommands, ReplaceSubtext) {
  struct Row {
    const char* text;
    const char* sought;
    std::optional<const char*> replacement;
    Opt start, count;
    bool caseSensitive;
    const char* expected;
  } rows[] = {
      {"aaa", "a", "b", 2, 1, true, "aba"},
      {"aaa", "a", "b", {}, {}, true, "bbb"},
      {"aaa", "a", {}, {}, {}, true, ""},
      {"aaa", "a", "b", {}, 0, true, "aaa"},
      {"aaa", "a", "b", {}, -1, true, "bbb"},
      {"aaa", "a", "b", {}, INT_MIN, true, "bbb"},
      {"aaa", "a", "b", 0, 2, true, "bba"},
      {"aaa", "a", "b", INT_MIN, {}, true, "bbb"},
      {"aaa", "a", "b", 3, {}, true, "aab"},
      {"aaa", "a", "b", 4, {}, true, "aaa"},
      {"aaa", "a", "b", INT_MAX, {}, true, "aaa"},
      {"", "a", "b", {}, {}, true, ""},
      {"abc", "", "x", {}, {}, true, "abc"},
      {"aAa", "a", "b", {}, {}, true, "bAb"},
      {"aAa", "a", "b", {}, {}, false, "bbb"},
      {"abab", "ab", "abab", {}, {}, true, "abababab"},
      {"中文中文", "文", "字", {}, {}, true, "中字中字"},
      {"\xC4\xB0\xB0\xA1", "\xB0", "X", {}, {}, true, "\xC4\xB0X\xA1"},
      {"a\xB0", "\xB0", "X", {}, {}, true, "a\xB0"},
      // After a match the scan reads characters anew from its end: A1 B0 then pair up.
      {"\xB0\xA1\xB0\xA1", "\xB0", "", {}, {}, true, "\xA1\xB0\xA1"},
      // The same when folding case: reading anew decides which letters are characters of their
      // own (folded) and which are trail bytes (compared exactly).
      {"a\xB0" "A\xB0" "b", "a\xB0", "", {}, {}, false, "b"},
      {"\xB0" "ba\xB0" "\xB0" "Ba\xB0", "\xB0" "ba\xB0", "", {}, {}, false, "\xB0" "Ba\xB0"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << qvtest::GbkToUtf8ForDisplay(r.text) << " / "
                                    << qvtest::GbkToUtf8ForDisplay(r.sought));
    EXPECT_EQ(G(cmd::ReplaceSubtext(r.text, r.sought, r.replacement, r.start, r.count, r.caseSensitive)),
              Gbk(r.expected));
  }
  EXPECT_EQ(cmd::ReplaceSubtext("ab", "ab", "", {}, {}, true).get(), nullptr);
}

TEST(TextCommands, SplitText) {
  struct Row {
    const char* text;
    std::optional<const char*> separator;
    Opt maxParts;
    std::vector<std::string> expected;
  } rows[] = {
      {"a,,b,", {}, {}, {"a", "", "b"}},
      {"a,,b,", ",", 2, {"a", ""}},
      {",a", {}, {}, {"", "a"}},
      {",,", {}, {}, {"", ""}},
      {"", {}, {}, {}},
      {"abc", "", {}, {"abc"}},
      {"a,b", {}, 0, {}},
      {"a,b", {}, -3, {}},
      {"a,b", {}, INT_MIN, {}},
      {"a,b", {}, INT_MAX, {"a", "b"}},
      {"a,b,c", {}, 2, {"a", "b"}},
      {"a,b", {}, 1, {"a"}},
      {"a::b::", "::", {}, {"a", "b"}},
      {"中，文，", "，", {}, {"中", "文"}},
      {"\xC4,\xB0,a", ",", {}, {"\xC4,\xB0,a"}},  // the commas are trail bytes here
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << qvtest::GbkToUtf8ForDisplay(r.text) << " max "
                                    << (r.maxParts ? std::to_string(*r.maxParts) : "-"));
    const OwnedArray parts = cmd::SplitText(r.text, r.separator, r.maxParts);
    ASSERT_NE(parts.get(), nullptr);
    EXPECT_EQ(ArrayDimensionCount(parts.get()), 1);
    EXPECT_EQ(Parts(parts), r.expected);
  }
  // An empty element is a null text pointer in the 8-byte element slots.
  const OwnedArray parts = cmd::SplitText(",x");
  EXPECT_EQ(parts.PointerAt<char>(0), nullptr);
  EXPECT_STREQ(parts.PointerAt<char>(1), "x");
}

TEST(TextCommands, TrimUpperCompareAndCharacterCodes) {
  const std::pair<const char*, const char*> trims[] = {
      {"\xA1\xA1" "a b\xA1\xA1", "a b"}, {"  ", ""},        {"", ""},          {" a ", "a"},
      {"a \xB0", "a "},                  {"  \xB0", ""},    {"\xA1\xA1\xA1", ""}, {"中 ", "中"},
      {"\xA1\xA1中\xA1\xA1", "中"},      {"\xA1\xA2", "\xA1\xA2"},
  };
  for (const auto& [text, expected] : trims)
    EXPECT_EQ(G(cmd::TrimSpaces(text)), Gbk(expected)) << qvtest::GbkToUtf8ForDisplay(text);

  const std::pair<const char*, const char*> uppers[] = {
      {"abcXYZ1{", "ABCXYZ1{"}, {"ａ", "ａ"}, {"\x81\x61z", "\x81\x61Z"}, {"a\xB0", "A\xB0"}, {"", ""}};
  for (const auto& [text, expected] : uppers)
    EXPECT_EQ(G(cmd::ToUpper(text)), Gbk(expected)) << qvtest::GbkToUtf8ForDisplay(text);

  struct Compare {
    const char* a;
    const char* b;
    bool caseSensitive;
    int sign;
  } compares[] = {
      {"abc", "abc", true, 0}, {"abc", "abd", true, -1}, {"b", "a", true, 1},     {"ABC", "abc", true, -1},
      {"ABC", "abc", false, 0}, {"a", "ab", true, -1},  {"", "", true, 0},       {"z", "中", true, -1},
      {"_", "A", false, -1},  // letters fold to lower case, which sorts after '_'
      {"中", "中文", true, -1},  {"\xB0", "\xB0\xA1", true, -1}, {"ＡＢ", "ａｂ", false, -1},
  };
  for (const Compare& c : compares) {
    const int32_t r = cmd::CompareText(c.a, c.b, c.caseSensitive);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << qvtest::GbkToUtf8ForDisplay(c.a) << " vs " << qvtest::GbkToUtf8ForDisplay(c.b);
  }

  EXPECT_EQ(cmd::CharCode("A"), 65);
  EXPECT_EQ(cmd::CharCode(""), 0);
  EXPECT_EQ(cmd::CharCode("\xB0\xA1"), -80);
  const std::pair<int32_t, int32_t> positions[] = {{3, 99}, {4, 0}, {0, 0}, {-1, 0}, {INT_MIN, 0}, {INT_MAX, 0}};
  for (const auto& [position, code] : positions) EXPECT_EQ(cmd::CharCode("abc", position), code) << position;

  const std::pair<int32_t, const char*> codes[] = {{65, "A"}, {0, ""}, {256 + 66, "B"}, {-1, "\xFF"}, {INT_MIN, ""}};
  for (const auto& [code, expected] : codes) EXPECT_EQ(G(cmd::CharFromCode(code)), Gbk(expected)) << code;

  EXPECT_EQ(G(cmd::SpaceText(3)), Gbk("   "));
  for (int32_t n : {0, -1, INT_MIN}) EXPECT_EQ(cmd::SpaceText(n).get(), nullptr) << n;
}

TEST(TextCommands, LongRepetitiveInputsStayLinear) {
  // Inputs on which a search that rescans from the text's start, or compares every near-match in
  // full, takes hours instead of milliseconds.
  const std::string as(1 << 20, 'a');
  const std::string highs(1 << 20, '\xB0');
  const std::string nearMatch = std::string(500, 'a') + "b";
  EXPECT_EQ(cmd::FindText(as.c_str(), nearMatch.c_str()), -1);
  EXPECT_EQ(cmd::FindText(as.c_str(), ("A" + nearMatch).c_str(), {}, true), -1);
  EXPECT_EQ(cmd::FindTextReverse(as.c_str(), "aa"), (1 << 20) - 1);
  EXPECT_EQ(cmd::ReplaceSubtext(highs.c_str(), "\xB0\xB0", "x", {}, {}, true).size(), size_t{1} << 19);
  EXPECT_EQ(cmd::SplitText(highs.c_str(), "\xB0").size(), int64_t{1} << 20);
  EXPECT_EQ(cmd::FindText(highs.c_str(), "\xB0", 2), 3);  // a start inside a character
  EXPECT_EQ(cmd::FindText(highs.c_str(), "\xB0", 1 << 19), (1 << 19) + 1);
}

// A plain model of the character-stepping scans, one position at a time, against which the
// memchr/memmem based commands are checked on random texts full of lead and trail bytes.
struct Model {
  static bool Lead(unsigned char c) { return c >= 0x80; }
  static unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
  static bool MatchAt(const std::string& t, size_t p, const std::string& s, bool fold) {
    if (p + s.size() > t.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
      const auto tc = static_cast<unsigned char>(t[p + i]);
      const auto sc = static_cast<unsigned char>(s[i]);
      if (fold && Lead(tc)) {
        if (tc != sc || (i + 1 < s.size() && t[p + i + 1] != s[i + 1])) return false;
        ++i;
      } else if ((fold ? Fold(tc) : tc) != (fold ? Fold(sc) : sc)) {
        return false;
      }
    }
    return true;
  }
  // Character starts visited from p; a lead byte before the end stops the walk.
  static size_t Step(const std::string& t, size_t p) { return p + (Lead(t[p]) ? 2 : 1); }
  static bool Stops(const std::string& t, size_t p) { return Lead(t[p]) && p + 1 == t.size(); }

  // Characters are always read from the start of the text; b only bounds where matches may start.
  static int32_t Find(const std::string& t, const std::string& s, size_t b, bool fold) {
    for (size_t p = 0; p < t.size() && !Stops(t, p); p = Step(t, p))
      if (p >= b && MatchAt(t, p, s, fold)) return static_cast<int32_t>(p + 1);
    return -1;
  }
  static int32_t FindReverse(const std::string& t, const std::string& s, size_t e, bool fold) {
    int32_t last = -1;
    for (size_t p = 0; p < t.size() && !Stops(t, p); p = Step(t, p))
      if (p + s.size() <= e && MatchAt(t, p, s, fold)) last = static_cast<int32_t>(p + 1);
    return last;
  }
  static std::string Replace(const std::string& t, const std::string& s, const std::string& r, size_t b, bool fold) {
    size_t p = 0;
    while (p < b && p < t.size() && !Stops(t, p)) p = Step(t, p);
    std::string out = t.substr(0, p);
    while (p < t.size() && !Stops(t, p)) {
      if (MatchAt(t, p, s, fold)) {
        out += r;
        p += s.size();
      } else {
        const size_t next = Step(t, p);
        out += t.substr(p, next - p);
        p = next;
      }
    }
    return out + t.substr(std::min(p, t.size()));
  }
  static std::vector<std::string> Split(const std::string& t, const std::string& sep) {
    std::vector<std::string> parts;
    size_t p = 0, partStart = 0;
    while (p < t.size() && !Stops(t, p)) {
      if (MatchAt(t, p, sep, false)) {
        parts.push_back(t.substr(partStart, p - partStart));
        p = partStart = p + sep.size();
      } else {
        p = Step(t, p);
      }
    }
    if (partStart < t.size()) parts.push_back(t.substr(partStart));
    return parts;
  }
};

TEST(TextCommands, ScansAgreeWithCharacterByCharacterModelOnRandomTexts) {
  // Long runs of high bytes exercise the word-at-a-time character start test.
  const unsigned char alphabet[] = {'a', 'A', 'b', ',', 0xB0, 0xA1, 0xC4, 0x81, 0xB0, 0xA1};
  std::mt19937 random(1234);
  auto randomText = [&](size_t maxLength, bool highRuns) {
    std::string s(random() % (maxLength + 1), ' ');
    for (char& c : s)
      c = static_cast<char>(highRuns && random() % 3 ? 0xB0 + random() % 4 : alphabet[random() % std::size(alphabet)]);
    return s;
  };
  // Exact-size copies, so that the sanitizer build sees any read past a NUL.
  auto exact = [](const std::string& s) {
    auto copy = std::make_unique<char[]>(s.size() + 1);
    std::memcpy(copy.get(), s.c_str(), s.size() + 1);
    return copy;
  };
  for (int round = 0; round < 4000; ++round) {
    const std::string text = randomText(60, round % 2 == 0);
    std::string sought = randomText(3, false);
    if (sought.empty()) sought = ",";
    const auto textCopy = exact(text);
    const auto soughtCopy = exact(sought);
    const int32_t start = static_cast<int32_t>(random() % 70) - 3;
    const bool fold = random() % 2;
    const size_t b = start > 1 ? static_cast<size_t>(start - 1) : 0;
    const auto show = [&] {
      return qvtest::GbkToUtf8ForDisplay(text) + " | " + qvtest::GbkToUtf8ForDisplay(sought) + " | start " +
             std::to_string(start) + (fold ? " fold" : "");
    };
    ASSERT_EQ(cmd::FindText(textCopy.get(), soughtCopy.get(), start, fold), b < text.size() ? Model::Find(text, sought, b, fold) : -1)
        << show();
    ASSERT_EQ(cmd::FindTextReverse(textCopy.get(), soughtCopy.get(), start, fold),
              Model::FindReverse(text, sought, std::min(b, text.size()), fold))
        << show();
    ASSERT_EQ(Gbk(cmd::ReplaceSubtext(textCopy.get(), soughtCopy.get(), "<>", start, {}, !fold).view()),
              Gbk(text.empty() || b >= text.size() ? text : Model::Replace(text, sought, "<>", b, fold)))
        << show();
    ASSERT_EQ(Parts(cmd::SplitText(textCopy.get(), soughtCopy.get())), Model::Split(text, sought)) << show();
  }
}

}  // namespace
}  // namespace qv
