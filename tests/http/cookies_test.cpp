// Cookie texts: collection from Set-Cookie lines, finishing and merging.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/gbk_print.h"
#include "http/cookies.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

qv::OwnedText T(const char* s) { return qv::OwnedText::Copy(s); }

// Collects the lines into receivedCookies (starting from `before`) and finishes them.
struct Outcome {
  std::string received;
  std::string sent;
};
Outcome Collect(std::vector<const char*> lines, const char* before, const char* sent, bool merge) {
  qv::OwnedText received = T(before);
  qv::OwnedText send = T(sent);
  for (const char* line : lines) CollectCookie(line, received);
  FinishReceivedCookies(received, send, merge);
  return {std::string(received.view()), std::string(send.view())};
}

TEST(Cookies, CollectEveryLineForm) {
  struct Row {
    std::vector<const char*> lines;
    const char* expected;
  };
  const Row rows[] = {
      {{"Set-Cookie: a=1; path=/", "Set-Cookie: b=2"}, "a=1; b=2"},
      {{"Set-Cookie:a=1;Secure", "Set-Cookie : b=2", "X: Set-Cookie: c=3"}, ""},  // the name must be exact
      {{"Set-Cookie: a=1;Secure"}, "a=1"},
      {{"Set-Cookie:   a=1   "}, "a=1"},
      {{"Set-Cookie: \xA1\xA1" "a=1\xA1\xA1; HttpOnly"}, "a=1"},  // full-width spaces trimmed too
      {{"Set-Cookie: flag"}, "flag"},
      {{"Set-Cookie: e="}, "e="},
      {{"Set-Cookie: ;path=/"}, ""},  // an empty item still takes its place
      {{"Set-Cookie: a=1", "Set-Cookie: a=1"}, "a=1; a=1"},
      {{"Set-Cookie: x=Set-Cookie:y"}, "x=y"},  // without ';' every "Set-Cookie:" goes, any case
      {{"Set-Cookie: q=\"v;w\"; Max-Age=3"}, "q=\"v"},
      {{}, ""},
  };
  for (const Row& r : rows) EXPECT_EQ(Gbk(Collect(r.lines, "", "", true).received), Gbk(r.expected)) << r.expected;
  // Appended directly after the caller's text; a caller's own trailing "; " is finished too.
  EXPECT_EQ(Gbk(Collect({"Set-Cookie: a=1"}, "z=0", "", true).received), Gbk("z=0a=1"));
  EXPECT_EQ(Gbk(Collect({}, "z=0; ", "", true).received), Gbk("z=0"));
}

TEST(Cookies, MergeWithSentCookies) {
  struct Row {
    const char* sent;
    std::vector<const char*> lines;
    bool merge;
    const char* received;
    const char* sentAfter;
  };
  const Row rows[] = {
      {"a=1; b=2", {"Set-Cookie: b=3", "Set-Cookie: c=4"}, true, "b=3; c=4; a=1", "b=3; c=4; a=1"},
      {"a=1", {"Set-Cookie: a=deleted; expires=Thu, 01 Jan 1970"}, true, "", ""},
      {"s=1", {"Set-Cookie: a=1", "Set-Cookie: a=1"}, true, "a=1; s=1", "a=1; s=1"},
      {"s=1", {"Set-Cookie: a=1", "Set-Cookie: a=1"}, false, "a=1; a=1", "s=1"},
      {"a=1;", {}, true, "a=1", "a=1"},
      {"  a=1; b=2  ", {"Set-Cookie: B=3"}, true, "B=3; a=1; b=2", "B=3; a=1; b=2"},  // names are case-sensitive
      {"a=1", {"set-cookie: a=2"}, true, "a=1", "a=1"},  // a line named in another case is not collected
      {"", {"Set-Cookie: a=1"}, true, "a=1", ""},  // nothing sent: no merge
      {"a = 1; c", {"Set-Cookie: a=2"}, true, "a=2; c", "a=2; c"},
  };
  for (const Row& r : rows) {
    const Outcome o = Collect(r.lines, "", r.sent, r.merge);
    EXPECT_EQ(Gbk(o.received), Gbk(r.received)) << r.sent;
    EXPECT_EQ(Gbk(o.sent), Gbk(r.sentAfter)) << r.sent;
  }
}

TEST(Cookies, ItemHelpers) {
  EXPECT_EQ(Gbk(CookieName(" a =1").c_str()), Gbk("a"));
  EXPECT_EQ(Gbk(CookieName(" flag ").c_str()), Gbk("flag"));
  EXPECT_TRUE(CookieName("=v").empty());
  EXPECT_TRUE(HasCookieName({"x=1", " a =2"}, "a"));
  EXPECT_FALSE(HasCookieName({"x=1"}, "X"));
  EXPECT_EQ(FindInTextArray({"a", "b", "b"}, "b"), 2);
  EXPECT_EQ(FindInTextArray({}, ""), -1);

  EXPECT_EQ(Gbk(RemoveDuplicateItems("a; b; a; c; b", "; ", true).c_str()), Gbk("a; b; c"));
  EXPECT_EQ(Gbk(RemoveDuplicateItems("答a答\r\n\r\nx", "", false).c_str()), Gbk("答a\r\nx"));
  EXPECT_EQ(Gbk(RemoveDuplicateItems("abca", ",", false).c_str()), Gbk("a,b,c"));
  EXPECT_TRUE(RemoveDuplicateItems("", "; ", true).empty());
  EXPECT_EQ(SplitCharacters("a\r\n答\r\xB4"), (TextItems{"a", "\r\n", "答", "\r", "\xB4"}));

  // MergeCookies rewrites both variables: the old one to the result, the new one trimmed.
  qv::OwnedText sent = T(" a=1; "), received = T(" b=2 ");
  const qv::OwnedText merged = MergeCookies(sent, received);
  EXPECT_EQ(Gbk(merged.c_str()), Gbk("b=2; a=1"));
  EXPECT_EQ(Gbk(sent.c_str()), Gbk("b=2; a=1"));
  EXPECT_EQ(Gbk(received.c_str()), Gbk("b=2"));
}

}  // namespace
}  // namespace quorvane
