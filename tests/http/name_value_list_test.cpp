// The name-value list and the percent-encoder.
#include <gtest/gtest.h>

#include "common/gbk_print.h"
#include "http/name_value_list.h"

namespace quorvane {
namespace {

using qvtest::Gbk;

TEST(NameValueList, RendersFormHeaderAndJsonText) {
  NameValueList empty;
  EXPECT_TRUE(empty.ToFormText().empty());
  EXPECT_TRUE(empty.ToHeaderText(true).empty());
  EXPECT_EQ(Gbk(empty.ToJsonText().c_str()), Gbk("{}"));

  NameValueList form;
  form.Add("chapter", "3");
  form.Add("course", "数学");
  EXPECT_EQ(Gbk(form.ToFormText().c_str()), Gbk("chapter=3&course=数学"));
  EXPECT_EQ(Gbk(form.ToFormText(true).c_str()), Gbk("chapter=3&course=%CA%FD%D1%A7"));

  NameValueList headers;
  headers.Add("Content-type", "application/x-www-form-urlencoded");
  headers.Add("User-Agent", "a b");
  EXPECT_EQ(Gbk(headers.ToHeaderText().c_str()),
            Gbk("Content-type: application/x-www-form-urlencoded\r\nUser-Agent: a b"));
  EXPECT_EQ(Gbk(headers.ToHeaderText(true).c_str()),
            Gbk("Content-type: application%2Fx-www-form-urlencoded\r\nUser-Agent: a%20b"));

  NameValueList json;
  json.Add("a", "1");
  json.Add("q", "say \"hi\"\\");
  EXPECT_EQ(Gbk(json.ToJsonText().c_str()), Gbk("{\"a\":\"1\",\"q\":\"say \\\"hi\\\"\\\"}"));
  // Without encoding, '&' and '=' in a value go out unchanged.
  json.Add("x", "1&y=2");
  EXPECT_EQ(Gbk(json.ToFormText().c_str()), Gbk("a=1&q=say \"hi\"\\&x=1&y=2"));
}

TEST(NameValueList, ParseLookUpReplaceRemove) {
  NameValueList list;
  list.ParseFormText("a=1&b=2");
  EXPECT_EQ(Gbk(list.GetValue("b").c_str()), Gbk("2"));
  EXPECT_TRUE(list.GetValue("B").empty());
  list.SetValue("a", "9");
  EXPECT_EQ(Gbk(list.ToFormText().c_str()), Gbk("a=9&b=2"));
  list.SetValue("c", "3");
  list.RemoveEntry("a");
  list.RemoveEntry("zz");
  EXPECT_EQ(Gbk(list.ToFormText().c_str()), Gbk("b=2&c=3"));

  NameValueList odd;
  odd.ParseFormText("a=b=c&&plain&k=&=v&");
  EXPECT_EQ(Gbk(odd.ToFormText().c_str()), Gbk("a=c&=&=&k=&=v"));
  EXPECT_EQ(odd.Count(), 5u);

  NameValueList repeated;
  repeated.Add("n", "1");
  repeated.Add("n", "2");
  EXPECT_EQ(Gbk(repeated.GetValue("n").c_str()), Gbk("1"));
  repeated.SetValue("n", "3");
  repeated.RemoveEntry("n");
  EXPECT_EQ(Gbk(repeated.ToFormText().c_str()), Gbk("n=2"));
  repeated.RemoveAll();
  EXPECT_EQ(repeated.Count(), 0u);

  NameValueList utf8;
  utf8.ParseFormText("名=值", true);
  EXPECT_EQ(utf8.ToFormText().view(), qvtest::Utf8(u8"名=值"));
}

TEST(NameValueList, CopiesAndArraysShareNothing) {
  auto original = std::make_unique<NameValueList>();
  original->Add("a", "1");
  original->Add("b", "2");
  const NameValueList copy(*original);
  original->SetValue("a", "x");
  original.reset();
  EXPECT_EQ(Gbk(copy.ToFormText().c_str()), Gbk("a=1&b=2"));

  qv::OwnedArray names = qv::OwnedArray::Adopt(qv::type::Text, qv::NewArray(1, sizeof(char*)));
  qv::OwnedArray values;
  copy.GetNames(names);
  copy.GetValues(values);
  ASSERT_EQ(names.size(), 2);
  ASSERT_EQ(values.size(), 2);
  EXPECT_STREQ(names.TextAt(1), "b");
  EXPECT_STREQ(values.TextAt(0), "1");
  EXPECT_NE(static_cast<const void*>(names.TextAt(0)), static_cast<const void*>(values.TextAt(0)));
}

TEST(NameValueList, TrimMarkerAndEscapeQuotes) {
  qv::OwnedText text = qv::OwnedText::Copy(",a,,");
  EXPECT_EQ(Gbk(NameValueList::TrimMarker(text, ",").c_str()), Gbk("a,"));
  EXPECT_EQ(Gbk(text.c_str()), Gbk("a,"));
  text = qv::OwnedText::Copy(",");
  EXPECT_TRUE(NameValueList::TrimMarker(text, ",").empty());
  EXPECT_EQ(Gbk(NameValueList::EscapeQuotes("\"\"").c_str()), Gbk("\\\"\\\""));
}

TEST(UrlEncode, SafeCharactersAndCodePages) {
  struct Row {
    const char* text;
    bool keepSafe;
    bool toUtf8;
    const char* expected;
  };
  const Row rows[] = {
      {"a b/c", true, false, "a%20b%2Fc"},
      {"a b/c", false, false, "%61%20%62%2F%63"},
      {"Az09-._~", true, false, "Az09-.%5F%7E"},
      {"答", true, false, "%B4%F0"},
      {"答", true, true, "%E7%AD%94"},
      {"\x01\xFF", false, false, "%01%FF"},
      {"", true, true, ""},
  };
  for (const Row& r : rows) EXPECT_EQ(Gbk(UrlEncode(r.text, r.keepSafe, r.toUtf8).c_str()), Gbk(r.expected)) << r.expected;
}

}  // namespace
}  // namespace quorvane
