// The regular-expression engine against JavaScript's semantics for patterns without the "u" flag.
// The expected results of the tables were computed with a JavaScript engine (RegExp exec/matchAll
// and String.prototype.replace) and written down here; the few places where this engine differs
// on purpose have their own table below.
#include "platform/com/regexp/regexp_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <random>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace win::regexp {
namespace {

using namespace std::string_view_literals;

RegExpFlags ParseFlags(std::string_view letters) {
  RegExpFlags flags = RegExpFlags::None;
  for (char c : letters) {
    if (c == 'g') flags = flags | RegExpFlags::Global;
    if (c == 'i') flags = flags | RegExpFlags::IgnoreCase;
    if (c == 'm') flags = flags | RegExpFlags::Multiline;
  }
  return flags;
}

bool NeedsEscape(char16_t c) {
  return c < 0x20 || (c >= 0x7f && c <= 0xa0) || (c >= 0xd800 && c <= 0xdfff) || c == 0x1680 ||
         c == 0x180e || (c >= 0x2000 && c <= 0x200f) || (c >= 0x2028 && c <= 0x202f) ||
         c == 0x205f || c == 0x3000 || c == 0xfeff;
}

// UTF-8 for readable characters, \uXXXX for controls, spaces other than " ", and surrogates (so
// that a split pair shows).
std::string Render(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c == u'\\') {
      out += "\\\\";
    } else if (c == u'"') {
      out += "\\\"";
    } else if (NeedsEscape(c)) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// index:"value" for each match, then ("group",~,...) when the pattern has groups, ~ for a group
// that took no part.
std::string Render(const std::vector<RegExpMatch>& matches) {
  std::string out;
  for (const RegExpMatch& match : matches) {
    if (!out.empty()) out += ' ';
    out += std::to_string(match.firstIndex) + ":\"" + Render(match.value) + '"';
    if (match.length != match.value.size()) out += "<length mismatch>";
    if (match.subMatches.empty()) continue;
    out += '(';
    for (size_t k = 0; k < match.subMatches.size(); ++k) {
      if (k != 0) out += ',';
      out += match.subMatches[k] ? '"' + Render(*match.subMatches[k]) + '"' : std::string("~");
    }
    out += ')';
  }
  return out;
}

struct ExecuteRow {
  std::u16string_view pattern;
  const char* flags;
  std::u16string_view subject;
  const char* expected;
};

void CheckExecuteRows(const std::vector<ExecuteRow>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    const ExecuteRow& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": /" + Render(row.pattern) + "/" + row.flags +
                 " on \"" + Render(row.subject) + "\"");
    RegExpEngine engine;
    engine.SetPattern(row.pattern);
    engine.SetFlags(ParseFlags(row.flags));
    std::vector<RegExpMatch> matches(1);  // must be replaced, not appended to
    ASSERT_EQ(engine.Execute(row.subject, matches), RegExpError::None);
    EXPECT_EQ(Render(matches), row.expected);
    bool found = !matches.empty();
    ASSERT_EQ(engine.Test(row.subject, found), RegExpError::None);
    EXPECT_EQ(found, std::string_view(row.expected) != "");
  }
}

TEST(RegExpEngine, ExecuteMatchesJavaScript) {
  const std::vector<ExecuteRow> rows = {
    // First match, every match.
    {u"abc"sv, "", u"xxabcxxabc"sv, R"#(2:"abc")#"},
    {u"abc"sv, "g", u"xxabcxxabc"sv, R"#(2:"abc" 7:"abc")#"},
    // "." and the anchors against \n, \r, \r\n, U+2028 and U+2029.
    {u"a.c"sv, "g", u"abc a\nc a\rc a\x2028" u"c a\x2029" u"c a\tc a\x85" u"c"sv,
     R"#(0:"abc" 20:"a\u0009c" 24:"a\u0085c")#"},
    {u".+"sv, "g", u"ab\r\ncd\x2028" u"ef"sv, R"#(0:"ab" 4:"cd" 7:"ef")#"},
    {u"^\\w+"sv, "g", u"one\r\ntwo\rthree\nfour"sv, R"#(0:"one")#"},
    {u"^\\w+"sv, "gm", u"one\r\ntwo\rthree\nfour"sv, R"#(0:"one" 5:"two" 9:"three" 15:"four")#"},
    {u"\\w+$"sv, "gm", u"one\r\ntwo\rthree\nfour"sv, R"#(0:"one" 5:"two" 9:"three" 15:"four")#"},
    {u"\\w+$"sv, "g", u"one\ntwo\n"sv, R"#()#"},
    {u"x$"sv, "g", u"x\nx"sv, R"#(2:"x")#"},
    {u"^"sv, "gm", u"a\r\nb"sv, R"#(0:"" 2:"" 3:"")#"},
    {u"$"sv, "gm", u"a\r\nb\n"sv, R"#(1:"" 2:"" 4:"" 5:"")#"},
    {u"^$"sv, "gm", u"\r\n\n"sv, R"#(0:"" 1:"" 2:"" 3:"")#"},
    {u"^.*$"sv, "gm", u"line1\r\nline2"sv, R"#(0:"line1" 6:"" 7:"line2")#"},
    {u"^b"sv, "m", u"a\x2028" u"b"sv, R"#(2:"b")#"},
    // Case: equal upper-case forms, but nothing outside ASCII joins ASCII (ſ, the Kelvin sign).
    {u"ABC"sv, "gi", u"abc ABC aBc"sv, R"#(0:"abc" 4:"ABC" 8:"aBc")#"},
    {u"[a-z]+"sv, "gi", u"Hello WORLD"sv, R"#(0:"Hello" 6:"WORLD")#"},
    {u"[A-Z]"sv, "gi", u"aZ_"sv, R"#(0:"a" 1:"Z")#"},
    {u"é"sv, "gi", u"éÉ"sv, R"#(0:"é" 1:"É")#"},
    {u"σ"sv, "gi", u"σςΣ"sv, R"#(0:"σ" 1:"ς" 2:"Σ")#"},
    {u"k"sv, "gi", u"k\x212a" u"K"sv, R"#(0:"k" 2:"K")#"},
    {u"s"sv, "gi", u"s\x17f" u"S"sv, R"#(0:"s" 2:"S")#"},
    {u"[^a]"sv, "gi", u"aAb"sv, R"#(2:"b")#"},
    {u"ß"sv, "gi", u"ßẞSS"sv, R"#(0:"ß")#"},
    {u"\\x41"sv, "gi", u"aA"sv, R"#(0:"a" 1:"A")#"},
    {u"(a)\\1"sv, "gi", u"aA Aa ab"sv, R"#(0:"aA"("a") 3:"Aa"("A"))#"},
    {u"(é)\\1"sv, "i", u"éÉ"sv, R"#(0:"éÉ"("é"))#"},
    // Groups that take no part.
    {u"(a)|(b)"sv, "g", u"ab"sv, R"#(0:"a"("a",~) 1:"b"(~,"b"))#"},
    {u"(x)?y"sv, "", u"y"sv, R"#(0:"y"(~))#"},
    {u"(\\d+)-(\\d+)?"sv, "g", u"1-2 3-"sv, R"#(0:"1-2"("1","2") 4:"3-"("3",~))#"},
    // Empty matches: the next search starts one unit further on.
    {u""sv, "g", u"ab"sv, R"#(0:"" 1:"" 2:"")#"},
    {u""sv, "", u"ab"sv, R"#(0:"")#"},
    {u"x*"sv, "g", u"axxb"sv, R"#(0:"" 1:"xx" 3:"" 4:"")#"},
    {u"|a"sv, "g", u"ab"sv, R"#(0:"" 1:"" 2:"")#"},
    {u"a*"sv, "g", u"aab"sv, R"#(0:"aa" 2:"" 3:"")#"},
    // Word boundaries are ASCII.
    {u"\\b"sv, "g", u"ab cd"sv, R"#(0:"" 2:"" 3:"" 5:"")#"},
    {u"\\B"sv, "g", u"ab cd"sv, R"#(1:"" 4:"")#"},
    {u"\\bfoo\\b"sv, "g", u"foo foobar barfoo foo_ foo"sv, R"#(0:"foo" 23:"foo")#"},
    {u"\\b\\w+\\b"sv, "g", u"héllo wörld"sv, R"#(0:"h" 2:"llo" 6:"w" 8:"rld")#"},
    // Back-references, and numbers that are octal escapes because the group does not exist.
    {u"(a+)\\1"sv, "g", u"aaaa aaa"sv, R"#(0:"aaaa"("aa") 5:"aa"("a"))#"},
    {u"(['\"])(.*?)\\1"sv, "g", u"'x' \"y\" 'z\""sv, R"#(0:"'x'"("'","x") 4:"\"y\""("\"","y"))#"},
    {u"\\1(a)"sv, "", u"a"sv, R"#(0:"a"("a"))#"},
    {u"(a)\\12"sv, "", u"a\n"sv, R"#(0:"a\u000A"("a"))#"},
    {u"(a)\\18"sv, "", u"a\x1" u"8"sv, R"#(0:"a\u00018"("a"))#"},
    {u"(a)\\2"sv, "", u"a\x2"sv, R"#(0:"a\u0002"("a"))#"},
    {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)\\11"sv, "", u"abcdefghijkk"sv,
     R"#(0:"abcdefghijkk"("a","b","c","d","e","f","g","h","i","j","k"))#"},
    // Character escapes, with the old leniencies.
    {u"\\0"sv, "", u"a\x0" u"b"sv, R"#(1:"\u0000")#"},
    {u"\\012\\x41\\u0042\\cJ\\101"sv, "", u"\nAB\nA"sv, R"#(0:"\u000AAB\u000AA")#"},
    {u"\\x4\\u12\\u{2}"sv, "", u"x4u12uu"sv, R"#(0:"x4u12uu")#"},
    {u"\\8\\9\\400"sv, "", u"89 0"sv, R"#(0:"89 0")#"},
    {u"\\p{L}\\k<a>\\a\\/"sv, "", u"p{L}k<a>a/"sv, R"#(0:"p{L}k<a>a/")#"},
    {u"\\c1"sv, "", u"\\c1"sv, R"#(0:"\\c1")#"},
    {u"[\\c1\\c_\\cA]"sv, "g", u"\x11\x1f\x1" u"c"sv, R"#(0:"\u0011" 1:"\u001F" 2:"\u0001")#"},
    {u"[\\b]"sv, "", u"a\x8"sv, R"#(1:"\u0008")#"},
    // Lookahead, lazy and braced quantifiers, alternation order.
    {u"a(?=b)"sv, "g", u"ab ac ab"sv, R"#(0:"a" 6:"a")#"},
    {u"a(?!b)"sv, "g", u"ab ac ad"sv, R"#(3:"a" 6:"a")#"},
    {u"(?=(a+))a*b\\1"sv, "", u"baaabac"sv, R"#(3:"aba"("a"))#"},
    {u"(?=a)*b"sv, "", u"b"sv, R"#(0:"b")#"},
    {u"<.+?>"sv, "g", u"<a><b>"sv, R"#(0:"<a>" 3:"<b>")#"},
    {u"a{2,3}?"sv, "g", u"aaaaa"sv, R"#(0:"aa" 2:"aa")#"},
    {u"a{2,}"sv, "g", u"a aa aaaa"sv, R"#(2:"aa" 5:"aaaa")#"},
    {u"a{,2}}]"sv, "", u"a{,2}}]"sv, R"#(0:"a{,2}}]")#"},
    {u"a|ab|abc"sv, "g", u"abc"sv, R"#(0:"a")#"},
    {u"(a|ab)(c|bcd)(d*)"sv, "", u"abcd"sv, R"#(0:"abcd"("a","bcd",""))#"},
    // Classes and the JavaScript sets behind \d \w \s.
    {u"[\\d-z]"sv, "g", u"5-z"sv, R"#(0:"5" 1:"-" 2:"z")#"},
    {u"[\\w.-]+@[\\w-]+"sv, "", u"mail: a.b-c@host-x.org"sv, R"#(6:"a.b-c@host-x")#"},
    {u"[\\]\\\\\\-]"sv, "g", u"a]b\\c-d"sv, R"#(1:"]" 3:"\\" 5:"-")#"},
    {u"[^\\s]+"sv, "g", u"a\xa0" u"b\x3000" u"c\xfeff" u"d e"sv, R"#(0:"a" 2:"b" 4:"c" 6:"d" 8:"e")#"},
    {u"\\s"sv, "g", u"\t\n\xb\xc\r \xa0\x1680\x2000\x200a\x2028\x2029\x202f\x205f\x3000\xfeff\x180e\x200bx"sv,
     R"#(0:"\u0009" 1:"\u000A" 2:"\u000B" 3:"\u000C" 4:"\u000D" 5:" " 6:"\u00A0" 7:"\u1680" 8:"\u2000" 9:"\u200A" 10:"\u2028" 11:"\u2029" 12:"\u202F" 13:"\u205F" 14:"\u3000" 15:"\uFEFF")#"},
    {u"\\S+"sv, "g", u"a\x180e" u"b\x200b" u"c d"sv, R"#(0:"a\u180Eb\u200Bc" 6:"d")#"},
    {u"\\d+"sv, "g", u"12３４56"sv, R"#(0:"12" 4:"56")#"},
    {u"\\W+"sv, "g", u"a-é_b"sv, R"#(1:"-é")#"},
    {u"[]"sv, "", u"abc"sv, R"#()#"},
    {u"[^]"sv, "g", u"a\n"sv, R"#(0:"a" 1:"\u000A")#"},
    // Chinese text and surrogate pairs: positions count UTF-16 units; "." takes one unit.
    {u"中文"sv, "g", u"这是中文，还是中文"sv, R"#(2:"中文" 7:"中文")#"},
    {u"文(.)"sv, "g", u"中文字文章"sv, R"#(1:"文字"("字") 3:"文章"("章"))#"},
    {u"[一-龥]+"sv, "g", u"abc中文def汉字"sv, R"#(3:"中文" 8:"汉字")#"},
    {u"."sv, "g", u"\xd83d\xde00" u"a"sv, R"#(0:"\uD83D" 1:"\uDE00" 2:"a")#"},
    {u"\xd83d\xde00+"sv, "g", u"\xd83d\xde00\xd83d\xde00"sv, R"#(0:"\uD83D\uDE00" 2:"\uD83D\uDE00")#"},
    {u"[\xd83d\xde00]"sv, "g", u"\xd83d\xde00"sv, R"#(0:"\uD83D" 1:"\uDE00")#"},
    {u"x"sv, "g", u"a\xd83d\xde00x\xd83d\xde00x"sv, R"#(3:"x" 6:"x")#"},
    // The pattern the web request routine uses.
    {u"<meta.+?charset=[^\\w]?([-\\w]+)"sv, "gim", u"<html><META http-equiv=\"Content-Type\" content=\"text/html; charset=GBK\">"sv,
     R"#(6:"<META http-equiv=\"Content-Type\" content=\"text/html; charset=GBK"("GBK"))#"},
  };
  CheckExecuteRows(rows);
}

struct ReplaceRow {
  std::u16string_view pattern;
  const char* flags;
  std::u16string_view subject;
  std::u16string_view replacement;
  std::u16string_view expected;
};

void CheckReplaceRows(const std::vector<ReplaceRow>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    const ReplaceRow& row = rows[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": /" + Render(row.pattern) + "/" + row.flags +
                 " on \"" + Render(row.subject) + "\" with \"" + Render(row.replacement) + "\"");
    RegExpEngine engine;
    engine.SetPattern(row.pattern);
    engine.SetFlags(ParseFlags(row.flags));
    std::u16string result = u"sentinel";
    ASSERT_EQ(engine.Replace(row.subject, row.replacement, result), RegExpError::None);
    EXPECT_EQ(Render(result), Render(row.expected));
  }
}

TEST(RegExpEngine, ReplaceMatchesJavaScript) {
  const std::vector<ReplaceRow> rows = {
    {u"b"sv, "", u"abcb"sv, u"[$&]"sv, u"a[b]cb"sv},
    {u"b"sv, "g", u"abcb"sv, u"[$&]"sv, u"a[b]c[b]"sv},
    {u"(b)"sv, "", u"abc"sv, u"[$0|$00|$01|$010|$1|$2|$10|$11|$9|$99|$<x>|$|$$|$&|$`|$'|$x]"sv,
     u"a[$0|$00|b|b0|b|$2|b0|b1|$9|$99|$<x>|$|$|b|a|c|$x]c"sv},
    {u"b"sv, "", u"abc"sv, u"[$0|$00|$01|$1|$10|$99|$$1]"sv, u"a[$0|$00|$01|$1|$10|$99|$1]c"sv},
    {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"sv, "", u"abcdefghijk"sv, u"[$10|$11|$100|$01|$010|$1$2]"sv,
     u"[j|a1|j0|a|a0|ab]k"sv},
    {u"(x)?b"sv, "", u"abc"sv, u"[$1|$01]"sv, u"a[|]c"sv},
    {u"b"sv, "", u"abc"sv, u"$"sv, u"a$c"sv},
    {u"b"sv, "", u"abc"sv, u"x$"sv, u"ax$c"sv},
    {u"$"sv, "g", u"ab"sv, u"$"sv, u"ab$"sv},
    {u""sv, "g", u"ab"sv, u"-"sv, u"-a-b-"sv},
    {u"x*"sv, "g", u"abc"sv, u"-"sv, u"-a-b-c-"sv},
    {u"a*"sv, "g", u"aab"sv, u"-"sv, u"--b-"sv},
    {u"(\\w+)\\s(\\w+)"sv, "", u"John Smith"sv, u"$2, $1"sv, u"Smith, John"sv},
    {u"o"sv, "g", u"foo"sv, u"[$`|$']"sv, u"f[f|o][fo|]"sv},
    {u"\\d"sv, "g", u"a1b2"sv, u"<$&$&>"sv, u"a<11>b<22>"sv},
    {u"中"sv, "g", u"中文中"sv, u"[$&]"sv, u"[中]文[中]"sv},
    {u"^"sv, "gm", u"a\r\nb\rc"sv, u"> "sv, u"> a\r> \n> b\r> c"sv},
    {u"$"sv, "gm", u"a\r\nb"sv, u"<"sv, u"a<\r<\nb<"sv},
    {u"(a)|(b)"sv, "g", u"ab"sv, u"[$1|$2]"sv, u"[a|][|b]"sv},
    {u"a"sv, "gi", u"AaA"sv, u"$$"sv, u"$$$"sv},
    {u"x"sv, "g", u"abc"sv, u"-"sv, u"abc"sv},
    {u"(a)(b)?"sv, "g", u"aab"sv, u"$2$1"sv, u"aba"sv},
    {u"."sv, "g", u"a\r\nb"sv, u"*"sv, u"*\r\n*"sv},
    {u"\\s+"sv, "g", u" a \x3000" u"b\xa0"sv, u"_"sv, u"_a_b_"sv},
  };
  CheckReplaceRows(rows);
}

// Where this engine departs from the JavaScript results on purpose or by PCRE2's nature:
//  - after an empty match the next search skips a whole surrogate pair instead of one unit, so no
//    match is reported between the two halves of a character;
//  - a capture group inside a repeated group keeps its text from an earlier repetition when a
//    later one does not set it (Perl's rule; JavaScript clears it at each repetition).
TEST(RegExpEngine, DeliberateDifferencesFromJavaScript) {
  CheckExecuteRows({
      {u""sv, "g", u"\xd83d\xde00"sv, R"#(0:"" 2:"")#"},
      {u"x*"sv, "g", u"\xd83d\xde00x"sv, R"#(0:"" 2:"x" 3:"")#"},
      {u"(?:(a)|b)+"sv, "", u"ab"sv, R"#(0:"ab"("a"))#"},
  });
  CheckReplaceRows({
      {u""sv, "g", u"a\xd83d\xde00"sv, u"-"sv, u"-a-\xd83d\xde00-"sv},
  });
}

struct ErrorRow {
  std::u16string_view pattern;
  RegExpError expected;
};

// A faulty pattern is accepted by SetPattern and fails every operation that needs it, with the
// kind of fault, leaving each output empty.
TEST(RegExpEngine, InvalidPatternsFailEveryOperation) {
  const std::u16string deep(300, u'(');
  const std::u16string deepPattern = deep + u"a" + std::u16string(300, u')');
  const std::vector<ErrorRow> rows = {
      {u"(?<=a)b"sv, RegExpError::Syntax},
      {u"(?<!a)b"sv, RegExpError::Syntax},
      {u"(?<name>a)"sv, RegExpError::Syntax},
      {u"(?i)a"sv, RegExpError::Syntax},
      {u"(?>a)"sv, RegExpError::Syntax},
      {u"a(?"sv, RegExpError::Syntax},
      {u")"sv, RegExpError::Syntax},
      {u"\\"sv, RegExpError::Syntax},
      {u"[a\\"sv, RegExpError::Syntax},
      {u"a{2,1}"sv, RegExpError::Syntax},
      {u"("sv, RegExpError::ExpectedParen},
      {u"(a(b)"sv, RegExpError::ExpectedParen},
      {u"(?:a|(?=b)"sv, RegExpError::ExpectedParen},
      {u"["sv, RegExpError::ExpectedBracket},
      {u"[a"sv, RegExpError::ExpectedBracket},
      {u"[\\]"sv, RegExpError::ExpectedBracket},
      {u"[a-"sv, RegExpError::ExpectedBracket},
      {u"[z-a]"sv, RegExpError::InvalidRange},
      {u"[\\x41-\\x40]"sv, RegExpError::InvalidRange},
      {u"*a"sv, RegExpError::UnexpectedQuantifier},
      {u"a**"sv, RegExpError::UnexpectedQuantifier},
      {u"a+?+"sv, RegExpError::UnexpectedQuantifier},
      {u"{1}"sv, RegExpError::UnexpectedQuantifier},
      {u"x{1}{2}"sv, RegExpError::UnexpectedQuantifier},
      {u"^*"sv, RegExpError::UnexpectedQuantifier},
      {u"\\b+"sv, RegExpError::UnexpectedQuantifier},
      {u"(|*)"sv, RegExpError::UnexpectedQuantifier},
      // Valid, but beyond what PCRE2 can hold.
      {u"a{65536}"sv, RegExpError::TooComplex},
      {u"(?:abcdefgh){9000}"sv, RegExpError::TooComplex},
      {deepPattern, RegExpError::TooComplex},
  };
  for (const ErrorRow& row : rows) {
    SCOPED_TRACE("/" + Render(row.pattern) + "/");
    for (const char* flags : {"", "gim"}) {
      RegExpEngine engine;
      engine.SetPattern(row.pattern);
      engine.SetFlags(ParseFlags(flags));
      EXPECT_EQ(engine.Pattern(), row.pattern);
      std::vector<RegExpMatch> matches(2);
      EXPECT_EQ(engine.Execute(u"ab"sv, matches), row.expected);
      EXPECT_TRUE(matches.empty());
      bool found = true;
      EXPECT_EQ(engine.Test(u"ab"sv, found), row.expected);
      EXPECT_FALSE(found);
      std::u16string replaced = u"sentinel";
      EXPECT_EQ(engine.Replace(u"ab"sv, u"x"sv, replaced), row.expected);
      EXPECT_TRUE(replaced.empty());
      EXPECT_EQ(engine.CaptureCount(), 0u);
    }
  }
}

// The compiled pattern is reused until the pattern or a flag that shapes it changes; each change
// must be seen by the next search.
TEST(RegExpEngine, ChangesToPatternAndFlagsTakeEffect) {
  RegExpEngine engine;
  std::vector<RegExpMatch> matches;
  engine.SetPattern(u"(a"sv);
  ASSERT_EQ(engine.Execute(u"Aa\na"sv, matches), RegExpError::ExpectedParen);

  engine.SetPattern(u"^(a)"sv);
  ASSERT_EQ(engine.Execute(u"Aa\na"sv, matches), RegExpError::None);
  EXPECT_EQ(Render(matches), "");
  EXPECT_EQ(engine.CaptureCount(), 1u);

  engine.SetFlags(RegExpFlags::IgnoreCase);
  ASSERT_EQ(engine.Execute(u"Aa\na"sv, matches), RegExpError::None);
  EXPECT_EQ(Render(matches), R"(0:"A"("A"))");

  engine.SetFlags(RegExpFlags::IgnoreCase | RegExpFlags::Global | RegExpFlags::Multiline);
  ASSERT_EQ(engine.Execute(u"Aa\na"sv, matches), RegExpError::None);
  EXPECT_EQ(Render(matches), R"(0:"A"("A") 3:"a"("a"))");

  engine.SetFlags(RegExpFlags::Global | RegExpFlags::Multiline);
  ASSERT_EQ(engine.Execute(u"Aa\na"sv, matches), RegExpError::None);
  EXPECT_EQ(Render(matches), R"(3:"a"("a"))");

  engine.SetFlags(RegExpFlags::Global);
  ASSERT_EQ(engine.Execute(u"Aa\na"sv, matches), RegExpError::None);
  EXPECT_EQ(Render(matches), "");

  engine.SetPattern(u"a|(b)(c)"sv);
  ASSERT_EQ(engine.Compile(), RegExpError::None);
  EXPECT_EQ(engine.CaptureCount(), 2u);
  engine.SetPattern(u"["sv);
  EXPECT_EQ(engine.Compile(), RegExpError::ExpectedBracket);
  EXPECT_EQ(engine.CaptureCount(), 0u);
}

std::u16string Repeat(std::u16string_view unit, size_t count) {
  std::u16string text;
  for (size_t i = 0; i < count; ++i) text += unit;
  return text;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Exponential backtracking is cut off by the match limit within milliseconds, for each operation
// and with either matcher (a case-insensitive back-reference sends the pattern to the
// interpreter).
TEST(RegExpEngine, CatastrophicBacktrackingFailsFast) {
  const std::u16string subject = Repeat(u"a", 30) + u"b";
  for (std::u16string_view pattern : {u"(a+)+$"sv, u"(a|aa)+$"sv, u"(a*)*(?:\\1)+$"sv}) {
    for (RegExpFlags flags : {RegExpFlags::None, RegExpFlags::IgnoreCase | RegExpFlags::Global}) {
      SCOPED_TRACE("/" + Render(pattern) + "/ flags " + std::to_string(static_cast<int>(flags)));
      RegExpEngine engine;
      engine.SetPattern(pattern);
      engine.SetFlags(flags);
      const auto start = std::chrono::steady_clock::now();
      std::vector<RegExpMatch> matches;
      EXPECT_EQ(engine.Execute(subject, matches), RegExpError::MatchLimit);
      EXPECT_TRUE(matches.empty());
      bool found = true;
      EXPECT_EQ(engine.Test(subject, found), RegExpError::MatchLimit);
      std::u16string replaced = u"sentinel";
      EXPECT_EQ(engine.Replace(subject, u"x"sv, replaced), RegExpError::MatchLimit);
      EXPECT_TRUE(replaced.empty());
      const double elapsed = MillisecondsSince(start);
      std::printf("  /%s/ flags %d: three failed calls in %.1f ms\n", Render(pattern).c_str(),
                  static_cast<int>(flags), elapsed);
      EXPECT_LT(elapsed, 1500.0);
      // The engine stays usable: a subject that matches quickly still matches.
      ASSERT_EQ(engine.Execute(u"aaa"sv, matches), RegExpError::None);
      ASSERT_FALSE(matches.empty());
      EXPECT_EQ(matches[0].value, u"aaa");
    }
  }
}

// Work that is small at each start position but repeated over a long subject is not caught by
// the match limit; the time budget stops it. The rows run in the JIT with a flat stack, in the JIT
// with a growing stack, and in the interpreter (a case-insensitive back-reference sends it there).
TEST(RegExpEngine, TimeBudgetStopsLongSearches) {
  RegExpLimits limits;
  limits.timeBudget = std::chrono::milliseconds(100);
  const std::u16string subject = Repeat(u"a", 100000);
  const struct {
    std::u16string_view pattern;
    RegExpFlags flags;
  } rows[] = {
      {u"[ab]*[ab](?:c|d)"sv, RegExpFlags::None},
      {u"(?:a|b)*(?=c)"sv, RegExpFlags::None},
      {u"(x)|[ab]*[ab](?:c|d)\\1"sv, RegExpFlags::IgnoreCase},
  };
  for (const auto& row : rows) {
    RegExpEngine engine(limits);
    engine.SetPattern(row.pattern);
    engine.SetFlags(row.flags);
    const auto start = std::chrono::steady_clock::now();
    bool found = true;
    EXPECT_EQ(engine.Test(subject, found), RegExpError::MatchLimit) << Render(row.pattern);
    const double elapsed = MillisecondsSince(start);
    std::printf("  /%s/ over 100000 units stopped after %.1f ms\n", Render(row.pattern).c_str(), elapsed);
    EXPECT_GE(elapsed, 100.0);
    EXPECT_LT(elapsed, 1500.0);
  }
}

// Patterns too long for PCRE2 are refused within moments, however costly their pieces are to
// translate; a long pattern that PCRE2 can hold still compiles.
TEST(RegExpEngine, OverlongPatternsFailQuickly) {
  const struct {
    std::u16string_view piece;
    size_t count;
    RegExpError expected;
  } rows[] = {
      {u"[a]"sv, 87000, RegExpError::TooComplex},        {u"[^\\s]"sv, 50000, RegExpError::TooComplex},
      {u"\u00e9"sv, 300000, RegExpError::TooComplex},  {u"a{1}"sv, 10000, RegExpError::None},
  };
  for (const auto& row : rows) {
    RegExpEngine engine;
    engine.SetPattern(Repeat(row.piece, row.count));
    engine.SetFlags(RegExpFlags::IgnoreCase);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.Compile(), row.expected) << Render(row.piece);
    EXPECT_LT(MillisecondsSince(start), 1500.0) << Render(row.piece);
  }
}

// A long legitimate match that overflows the JIT's stack is finished by the interpreter; when the
// interpreter's heap is too small as well, the call fails instead of crashing.
TEST(RegExpEngine, DeepMatchesFallBackToTheInterpreter) {
  const std::u16string subject = Repeat(u"ab", 20000) + u"c";
  RegExpLimits limits;
  limits.jitStackBytes = 64 * 1024;
  {
    RegExpEngine engine(limits);
    engine.SetPattern(u"^(?:a|b)*c"sv);
    std::vector<RegExpMatch> matches;
    ASSERT_EQ(engine.Execute(subject, matches), RegExpError::None);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].length, subject.size());
  }
  limits.heapLimitKiB = 64;
  {
    RegExpEngine engine(limits);
    engine.SetPattern(u"^(?:a|b)*c"sv);
    std::vector<RegExpMatch> matches;
    EXPECT_EQ(engine.Execute(subject, matches), RegExpError::MatchLimit);
    EXPECT_TRUE(matches.empty());
  }
}

// Results are capped: a subject of a million units gives a million empty matches or a result
// text far larger than the subject, and those fail cleanly while ordinary searches over the same
// subject succeed.
TEST(RegExpEngine, LargeSubjectsAndResultCaps) {
  const std::u16string subject = Repeat(u"a", 1000000) + u"b";
  RegExpLimits limits;
  limits.maxResultBytes = 4 * 1024 * 1024;
  RegExpEngine engine(limits);
  std::vector<RegExpMatch> matches;
  engine.SetPattern(u"b"sv);
  engine.SetFlags(RegExpFlags::Global);
  ASSERT_EQ(engine.Execute(subject, matches), RegExpError::None);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0].firstIndex, 1000000u);

  engine.SetPattern(u""sv);
  EXPECT_EQ(engine.Execute(subject, matches), RegExpError::OutOfMemory);
  EXPECT_TRUE(matches.empty());

  std::u16string replaced;
  engine.SetPattern(u"b"sv);
  ASSERT_EQ(engine.Replace(subject, u"[$`]"sv, replaced), RegExpError::None);
  EXPECT_EQ(replaced.size(), 2000002u);
  engine.SetPattern(u"a{1000}"sv);
  EXPECT_EQ(engine.Replace(subject, u"$`"sv, replaced), RegExpError::OutOfMemory);
  EXPECT_TRUE(replaced.empty());
}

// Random strings over the pattern syntax never crash, and every one is either a pattern fault or
// a pattern that PCRE2 accepts: a translation PCRE2 rejects would show up as Internal.
TEST(RegExpEngine, RandomPatternsNeverReachInternalErrors) {
  static constexpr char16_t kAlphabet[] = u"ab()[]{}|*+?.^$\\-,:=!<0123789dDwWsSbBcxuk\xe9\x4e2d";
  std::mt19937 random(20240611);
  std::uniform_int_distribution<size_t> pick(0, std::size(kAlphabet) - 2);
  std::uniform_int_distribution<size_t> length(1, 14);
  const std::u16string subject = u"ab\u00c9(a)[b]{1},2\\c-\n\r\u4e2dAB 09_\xd83d\xde00 ba";
  size_t valid = 0;
  for (int n = 0; n < 4000; ++n) {
    std::u16string pattern;
    for (size_t k = length(random); k > 0; --k) pattern += kAlphabet[pick(random)];
    RegExpEngine engine;
    engine.SetPattern(pattern);
    engine.SetFlags(static_cast<RegExpFlags>(n % 8));
    std::vector<RegExpMatch> matches;
    const RegExpError error = engine.Execute(subject, matches);
    ASSERT_NE(error, RegExpError::Internal) << "/" << Render(pattern) << "/";
    ASSERT_NE(error, RegExpError::MatchLimit) << "/" << Render(pattern) << "/";
    if (error != RegExpError::None) continue;
    ++valid;
    std::u16string replaced;
    ASSERT_EQ(engine.Replace(subject, u"<$1$&$'>"sv, replaced), RegExpError::None);
    for (const RegExpMatch& match : matches) {
      ASSERT_LE(match.firstIndex + match.length, subject.size());
      ASSERT_EQ(match.value, subject.substr(match.firstIndex, match.length));
      ASSERT_EQ(match.subMatches.size(), engine.CaptureCount());
    }
  }
  // The alphabet is meant to produce both kinds; if nearly everything failed the test would
  // prove little.
  EXPECT_GT(valid, 800u);
}

}  // namespace
}  // namespace win::regexp
