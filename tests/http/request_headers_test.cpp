// Header assembly and the marker helpers it cuts lines with.
#include <gtest/gtest.h>

#include <string>

#include "common/gbk_print.h"
#include "http/request_headers.h"
#include "http/text_markers.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

constexpr const char* kAgent = "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
constexpr const char* kAccept = "Accept: text/html, application/xhtml+xml, */*";
constexpr const char* kEncoding = "Accept-Encoding: gbk, GB2312";
constexpr const char* kLanguage = "Accept-Language: zh-cn";
constexpr const char* kFormType = "Content-Type: application/x-www-form-urlencoded";
constexpr const char* kCache = "Cache-Control: no-cache";

std::string Lines(std::initializer_list<std::string> lines, bool trailing) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  if (!trailing && !out.empty()) out.resize(out.size() - 2);
  return out;
}

TEST(TextMarkers, BeforeAfterBetween) {
  struct Row {
    const char* text;
    const char* marker;
    int32_t start;
    bool ignoreCase;
    const char* before;
    const char* after;
  };
  const Row rows[] = {
      {"Set-Cookie: a=1", ": ", 0, false, "Set-Cookie", "a=1"},
      {"a: b: c", ": ", 0, false, "a", "c"},
      {"a=b=c", "=", 0, false, "a", "c"},
      {"abc", "=", 0, false, "", ""},
      {"", "=", 0, false, "", ""},
      {"xAyaz", "a", 0, true, "x", "z"},
      {"xAyaz", "a", 0, false, "xAy", "z"},
      // A negative start searches backwards for TextBefore and forwards from -start for TextAfter.
      {"a=b=c", "=", -1, false, "a=b", "b=c"},
      {"a=b=c=d", "=", -3, false, "a=b", "c=d"},
      // A positive start: forward from start for TextBefore, the last occurrence in all but the
      // last start bytes for TextAfter.
      {"a=b=c", "=", 3, false, "a=b", "b=c"},
      {"答=案=好", "=", 0, false, "答", "好"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Gbk(TextBefore(r.text, r.marker, r.start, r.ignoreCase).c_str()), Gbk(r.before)) << r.text << r.start;
    EXPECT_EQ(Gbk(TextAfter(r.text, r.marker, r.start, r.ignoreCase).c_str()), Gbk(r.after)) << r.text << r.start;
  }
  EXPECT_EQ(Gbk(TextBetween("x=[1];y", "=[", "]").c_str()), Gbk("1"));
  EXPECT_EQ(Gbk(TextBetween("a=\"q\" b", "=#引号", "#引号").c_str()), Gbk("q"));
  EXPECT_EQ(Gbk(TextBetween("[1][2]", "[", "]", 2).c_str()), Gbk("2"));
  EXPECT_EQ(Gbk(TextBetween("<A>x</a>", "<a>", "</A>", 0, true).c_str()), Gbk("x"));
  EXPECT_TRUE(TextBetween("x=[1", "=[", "]").empty());
  EXPECT_TRUE(TextBetween("x1]", "=[", "]").empty());
  EXPECT_TRUE(TextBetween("x=[]", "=[", "]").empty());
}

TEST(RequestHeaders, NamesAndValues) {
  EXPECT_EQ(Gbk(CapitaliseFirst("content-TYPE").c_str()), Gbk("Content-TYPE"));
  EXPECT_EQ(Gbk(CapitaliseFirst("答").c_str()), Gbk("答"));
  EXPECT_TRUE(CapitaliseFirst("").empty());
  EXPECT_EQ(Gbk(NormaliseHeaderNames("content-type: a-b\r\nuser-agent:x\r\nno colon\r\n\r\nx-: v\r\n-a--b: c\r\n").c_str()),
            Gbk("Content-Type: a-b\r\nUser-Agent:x\r\nX-: v\r\n-A--B: c"));
  EXPECT_TRUE(NormaliseHeaderNames("\r\n\r\n").empty());

  const char* block = "Connection-Extra: q\r\nConnection: close\r\nHost: h";
  EXPECT_EQ(Gbk(GetHeaderValue(block, "Connection").c_str()), Gbk(""));  // the first line that begins so
  EXPECT_EQ(Gbk(GetHeaderValue(block, "Host").c_str()), Gbk("h"));
  EXPECT_EQ(Gbk(GetHeaderValue("Connection: a: b", "Connection").c_str()), Gbk("a: b"));
  EXPECT_TRUE(GetHeaderValue(block, "host").empty());
}

TEST(RequestHeaders, BuildTable) {
  struct Row {
    const char* name;
    const char* extra;
    int32_t method;
    const char* cookies;
    bool complete;
    bool normalise;
    std::string expected;
  };
  const Row rows[] = {
      {"caller lines first, no Content-Type default", "Content-type: a\r\nUser-Agent: b", 1, "", true, true,
       Lines({"Content-Type: a", "User-Agent: b", kAccept, kEncoding, kLanguage, kCache}, false)},
      {"GET defaults before normalising", "", 0, "", true, false,
       Lines({kAgent, kAccept, kEncoding, kLanguage, kCache}, true)},
      {"POST adds Content-Type", "", 1, "", true, true,
       Lines({kAgent, kAccept, kEncoding, kLanguage, kFormType, kCache}, false)},
      {"accept inside a value suppresses Accept", "X-Note: my ACCEPT: all", 0, "", true, true,
       Lines({"X-Note: my ACCEPT: all", kAgent, kEncoding, kLanguage, kCache}, false)},
      {"Content-Type:x counts as a type", "Content-Type:x", 1, "", true, true,
       Lines({"Content-Type:x", kAgent, kAccept, kEncoding, kLanguage, kCache}, false)},
      {"User-Agent: without space is no agent", "User-Agent:me", 0, "", true, true,
       Lines({"User-Agent:me", kAgent, kAccept, kEncoding, kLanguage, kCache}, false)},
      {"names unchanged without normalising", "x-one: 1", 0, "", false, false, "x-one: 1\r\n"},
      {"nothing at all", "", 0, "", false, true, ""},
      {"cookie line", "A: 1", 0, "a=1", false, true, "A: 1\r\nCookie: a=1\r\n"},
      {"cookie line given whole", "A: 1", 0, "cookie: a=1", false, true, "A: 1\r\ncookie: a=1\r\n"},
      {"cookie after a trailing CR LF", "A: 1", 0, "a=1", false, false, "A: 1\r\n\r\nCookie: a=1\r\n"},
      {"caller's Set-Cookie text stops the cookie line", "X: Set-Cookie: z", 0, "a=1", false, true, "X: Set-Cookie: z"},
      {"keep-alive removed", "Connection: keep-alive\r\nA: 1", 0, "", false, true, "A: 1"},
      {"keep-alive as the last line stays", "A: 1\r\nConnection: keep-alive", 0, "", false, true,
       "A: 1\r\nConnection: keep-alive"},
      {"close stays", "Connection: close\r\nA: 1", 0, "", false, true, "Connection: close\r\nA: 1"},
      {"lower-case connection stays unnormalised", "connection: keep-alive", 0, "", false, false,
       "connection: keep-alive\r\n"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(Gbk(BuildRequestHeaders(r.extra, r.method, r.cookies, r.complete, r.normalise).c_str()), Gbk(r.expected))
        << r.name;
}

}  // namespace
}  // namespace quorvane
