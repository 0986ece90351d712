// The JSON object over the script control: documents, copies, the backslash scheme, changes,
// reads, and which texts Parse accepts.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/gbk_print.h"
#include "json/json_object.h"
#include "json/json_test_support.h"
#include "platform/com/initialise.h"
#include "platform/com/registry.h"
#include "platform/com/script/script_control.h"
#include "runtime/automation/automation_front.h"

namespace quorvane {
namespace {

using qvtest::Gbk;
namespace c = qv::cmd;
using jsontest::EvalInContext;

Gbk Text(const qv::OwnedText& t) { return Gbk(t.c_str()); }

TEST(JsonObject, NewObjectIsAnEmptyDocumentAndObjectsAreIndependent) {
  JsonObject a, b;
  EXPECT_EQ(Text(a.ToJson()), Gbk("{}"));
  ASSERT_TRUE(a.Parse(R"({"x":"first"})"));
  ASSERT_TRUE(b.Parse(R"({"x":"second"})"));
  EXPECT_EQ(Text(a.GetText("x")), Gbk("first"));
  EXPECT_EQ(Text(b.GetText("x")), Gbk("second"));
  a.Clear();  // the result is the object assigned, which converts to no truth value
  EXPECT_EQ(Text(a.ToJson()), Gbk("{}"));
  EXPECT_EQ(Text(b.ToJson()), Gbk(R"({"x":"second"})"));
}

TEST(JsonObject, CopiesShareTheDocumentAndOutliveEachOther) {
  const int comBefore = win::CoInitializeCount();
  {
    auto original = std::make_unique<JsonObject>();
    JsonObject copy(*original);
    copy.SetText("k", "from copy");
    EXPECT_EQ(Text(original->GetText("k")), Gbk("from copy"));
    EXPECT_TRUE(original->SetNumber("n", 3));
    EXPECT_EQ(copy.GetNumber("n"), 3);
    {
      JsonObject second(copy);
    }
    original.reset();
    EXPECT_EQ(Text(copy.ToJson()), Gbk(R"({"k":"from copy","n":3})"));
    // A parse gives the parsing object a fresh context of its own.
    ASSERT_TRUE(copy.Parse("[1]"));
    EXPECT_EQ(Text(copy.ToJson()), Gbk("[1]"));
  }
  EXPECT_EQ(win::CoInitializeCount(), comBefore);
}

TEST(JsonObject, StoredTextsRoundTripWithTheirBackslashesOnce) {
  struct Row {
    const char* value;
    const char* json;  // ToJson of {"v": value}
  };
  const Row rows[] = {
      {"plain", R"({"v":"plain"})"},
      {"say \"hi\"", R"({"v":"say \"hi\""})"},
      {"it's", R"({"v":"it's"})"},
      {"C:\\dir\\file", R"({"v":"C:\dir\file"})"},
      {"a\r\nb\nc\rd", R"({"v":"a\r\nb\nc\rd"})"},
      {"escape \\u0041 kept", R"({"v":"escape \u0041 kept"})"},
      {"q\"a'b\\c\r\n中文\\", R"({"v":"q\"a'b\c\r\n中文\"})"},
      {"", R"({"v":""})"},
  };
  for (const Row& row : rows) {
    JsonObject json;
    json.SetText("v", row.value);
    EXPECT_EQ(Text(json.GetText("v")), Gbk(row.value)) << row.json;
    EXPECT_EQ(Text(json.ToJson()), Gbk(row.json));
    EXPECT_EQ(Text(json.GetText("v", true)), Gbk(std::string(row.json).substr(5, strlen(row.json) - 6)));
  }
  // Values parsed from JSON hold decoded characters, not substitutes.
  JsonObject json;
  ASSERT_TRUE(json.Parse(R"({"s":"a\"b\\c\u4e2d\/"})"));
  EXPECT_EQ(Text(json.GetText("s")), Gbk("a\"b\\c中/"));
  EXPECT_EQ(Text(json.ToJson()), Gbk(R"({"s":"a\"b\\c中/"})"));
}

TEST(JsonObject, SetTextAsJsonMergesIntoWhatIsThere) {
  JsonObject json;
  ASSERT_TRUE(json.Parse(R"({"o":{"a":"1","keep":true,"sub":{"x":"1"}},"list":[1],"n":{"a":"x","num":1}})"));
  json.SetText("o", R"({"a":"2","b":"3","sub":{"y":"2"}})", true);
  EXPECT_EQ(Text(json.PathToJson("o")), Gbk(R"({"a":"2","keep":true,"sub":{"x":"1","y":"2"},"b":"3"})"));
  // Into an array: the new elements are appended; an object adds nothing.
  json.SetText("list", "[2, 3]", true);
  json.SetText("list", R"({"z":1})", true);
  EXPECT_EQ(Text(json.PathToJson("list")), Gbk("[1,2,3]"));
  // A member holding a number stops the merge with a script error after the members before it.
  EXPECT_FALSE(json.SetText("n", R"({"a":"y","num":2,"after":"no"})", true));
  EXPECT_EQ(Text(json.PathToJson("n")), Gbk(R"({"a":"y","num":1})"));
  // A missing member is replaced; the empty value stands for an empty object.
  json.SetText("fresh", "", true);
  EXPECT_EQ(json.GetType("fresh"), JsonValueType::Object);
  EXPECT_EQ(Text(json.PathToJson("fresh")), Gbk("{}"));
  json.SetText("arr", "[1, 'two']", true);
  EXPECT_EQ(Text(json.PathToJson("arr")), Gbk(R"([1,"two"])"));
  EXPECT_TRUE(json.SetExpression("sum", "1 + 2"));
  EXPECT_EQ(json.GetNumber("sum"), 3);
}

TEST(JsonObject, ArrayChangesAndRemovals) {
  JsonObject json;
  ASSERT_TRUE(json.Parse(R"({"s":"text","three":["a","b","c"],"o":{"k":1}})"));
  EXPECT_TRUE(json.AddElement("x", "missing"));
  EXPECT_EQ(Text(json.PathToJson("missing")), Gbk(R"(["x"])"));
  EXPECT_TRUE(json.AddElement("y", "s"));
  EXPECT_EQ(Text(json.PathToJson("s")), Gbk(R"(["y"])"));
  EXPECT_FALSE(json.AddElement("it's", "s"));
  EXPECT_TRUE(json.AddElement("5", "s", true));
  EXPECT_TRUE(json.AddElement("\"quoted\"", "s", true));
  EXPECT_EQ(Text(json.PathToJson("s")), Gbk(R"(["y",5,"quoted"])"));
  EXPECT_EQ(json.GetCount("s"), 3);

  json.RemoveElement(0, "three");
  EXPECT_EQ(Text(json.PathToJson("three")), Gbk(R"(["b","c"])"));
  json.SetElement(3, "three", "d");
  EXPECT_EQ(Text(json.PathToJson("three")), Gbk(R"(["b","c",null,"d"])"));
  EXPECT_EQ(Text(json.GetElementText(1, "three")), Gbk("c"));
  EXPECT_EQ(Text(json.GetElementText(1, "three", true)), Gbk(R"("c")"));
  EXPECT_TRUE(json.GetElementText(2, "three").empty());  // null: no text of its own

  EXPECT_TRUE(json.RemoveMember("o.k"));
  const qv::OwnedText before = json.ToJson();
  json.RemoveMember("nothing.here");
  EXPECT_EQ(Text(json.ToJson()), Text(before));
  // The assignment's value is the result: zero reads as false although it was stored.
  EXPECT_FALSE(json.SetNumber("zero", 0));
  EXPECT_EQ(Text(json.PathToJson("zero")), Gbk("0"));
  EXPECT_TRUE(json.SetNumber("half", 0.5));
  EXPECT_EQ(json.GetNumber("half"), 0.5);
}

TEST(JsonObject, TypesCountsAndMemberNames) {
  JsonObject json;
  ASSERT_TRUE(json.Parse(
      R"({"arr":[],"obj":{},"s":"","zero":0,"f":false,"nul":null,"list":[1,2,3],"num":"12.5","o":{"b":1,"a":2}})"));
  const struct {
    const char* path;
    JsonValueType type;
  } rows[] = {
      {"arr", JsonValueType::Array},      {"obj", JsonValueType::Object},  {"s", JsonValueType::String},
      {"zero", JsonValueType::Number},    {"f", JsonValueType::Boolean},   {"nul", JsonValueType::Missing},
      {"missing", JsonValueType::Missing}, {"missing.deeper", JsonValueType::Other},
      {"", JsonValueType::Object},        {"da", JsonValueType::Object},   {"list[1]", JsonValueType::Number},
      {"[\"o\"].a", JsonValueType::Number}, {"o.toJSONString", JsonValueType::Other},
  };
  for (const auto& row : rows) EXPECT_EQ(json.GetType(row.path), row.type) << row.path;

  EXPECT_EQ(json.GetCount("list"), 3);
  EXPECT_EQ(json.GetCount("s"), 0);
  EXPECT_EQ(json.GetCount("obj"), 0);
  EXPECT_EQ(json.GetNumber("num"), 12.5);
  EXPECT_EQ(json.GetNumber("o"), 0);
  EXPECT_EQ(Text(json.GetText("list")), Gbk("1,2,3"));
  EXPECT_EQ(Text(json.GetText("o")), Gbk("[object Object]"));
  EXPECT_TRUE(json.GetText("nul").empty());
  EXPECT_EQ(Text(json.GetText("nul", true)), Gbk("null"));
  EXPECT_TRUE(json.GetText("missing", true).empty());

  qv::OwnedArray names = c::SplitText("stale,entries");
  EXPECT_EQ(json.GetMemberNames(names, "o"), 2);
  ASSERT_EQ(names.size(), 2);
  EXPECT_EQ(Gbk(names.TextAt(0)), Gbk("b"));
  EXPECT_EQ(Gbk(names.TextAt(1)), Gbk("a"));
  EXPECT_EQ(json.GetMemberNames(names), 9);  // never the prelude's methods on Object.prototype
  for (const char* notPlain : {"list", "s", "zero", "missing", "obj"}) {
    EXPECT_EQ(json.GetMemberNames(names, notPlain), 0) << notPlain;
    EXPECT_EQ(names.size(), 0);
  }
}

TEST(JsonObject, DeepCopiesAreIndependentDocuments) {
  JsonObject json;
  ASSERT_TRUE(json.Parse(R"({"o":{"k":"v"},"list":[{"i":1},{"i":2}],"n":5})"));
  // A stored backslash comes out of the serialisation bare and is read back as a JSON escape.
  json.SetText("o.escape", "\\u0041");
  JsonObject o = json.GetObject("o");
  o.SetText("k", "changed");
  EXPECT_EQ(Text(json.GetText("o.k")), Gbk("v"));
  EXPECT_EQ(Text(o.GetText("k")), Gbk("changed"));
  EXPECT_EQ(Text(o.GetText("escape")), Gbk("A"));
  // One that makes no escape leaves the copy without a document.
  json.SetText("o.path", "C:\\x");
  EXPECT_EQ(json.GetObject("o").GetType(), JsonValueType::Missing);
  EXPECT_EQ(Text(json.GetElementObject(1, "list").ToJson()), Gbk(R"({"i":2})"));
  EXPECT_EQ(Text(json.GetObject("n").ToJson()), Gbk("5"));
  JsonObject missing = json.GetObject("absent");
  EXPECT_TRUE(missing.ToJson().empty());
  EXPECT_EQ(missing.GetType(), JsonValueType::Missing);
}

TEST(JsonObject, ParseRejectsEverythingThatIsNotJsonWithoutRunningIt) {
  const char* const notJson[] = {
      "ran = 1",
      "[ran = 1]",
      R"({"a": ran = 1})",
      "(function () { ran = 1; return {}; })()",
      "(function () { while (true) {} })()",
      "{a: 1}",
      "['single']",
      "[1,]",
      "0x10",
      "NaN",
      "[undefined]",
      "/re/",
      "1 // comment",
      R"({"a":1} ran = 1)",
      "{} ; ran = 1",
      "[] ') ; ran = 1 ; ('",
  };
  for (const char* text : notJson) {
    JsonObject json;
    const double start = jsontest::Now();
    EXPECT_FALSE(json.Parse(text)) << text;
    EXPECT_LT(jsontest::Now() - start, 1.0) << text;
    EXPECT_EQ(jsontest::EvalInContext(json, "typeof ran"), "undefined") << text;
    EXPECT_EQ(json.GetType(), JsonValueType::Missing);
    EXPECT_EQ(Text(json.ToJson()), Gbk("null"));
  }
  JsonObject json;
  EXPECT_FALSE(json.Parse(""));
  EXPECT_TRUE(json.ToJson().empty());  // the empty text leaves the document undefined
  EXPECT_FALSE(json.Parse("null"));
  // A JSON string is data however much it looks like script.
  EXPECT_TRUE(json.Parse("\"'); ran = 1; ('\""));
  EXPECT_EQ(Text(json.GetText()), Gbk("'); ran = 1; ('"));
  EXPECT_EQ(jsontest::EvalInContext(json, "typeof ran"), "undefined");
}

TEST(JsonObject, JsonThatIsNotScriptStillLoads) {
  JsonObject json;
  // Line and paragraph separators end a script string literal but are plain characters in JSON.
  ASSERT_TRUE(json.Parse("[\"a\\u2028b\\u2029c\"]"));
  EXPECT_EQ(jsontest::EvalInContext(json, "da[0].length + ':' + da[0].charCodeAt(1) + ':' + da[0].charCodeAt(3)"),
            "5:8232:8233");
  // "__proto__" is an own member, as JSON.parse makes it, not the prototype.
  ASSERT_TRUE(json.Parse(R"({"__proto__":{"x":1},"y":2})"));
  EXPECT_EQ(json.GetType("x"), JsonValueType::Missing);
  EXPECT_EQ(Text(json.PathToJson("['__proto__']")), Gbk(R"({"x":1})"));
  EXPECT_EQ(Text(json.ToJson()), Gbk(R"({"__proto__":{"x":1},"y":2})"));

  const std::string nested = std::string(500, '[') + std::string(500, ']');
  ASSERT_TRUE(json.Parse(nested.c_str()));
  EXPECT_EQ(Text(json.ToJson()), Gbk(nested));
}

TEST(JsonObject, GbkSecondBytesAreNeverTakenForAscii) {
  // 0x5C ('\') and 0x7B ('{') as the second byte of a character, a lead byte before a quote or at
  // the end: the text is checked and loaded as the script control decodes it.
  struct Row {
    const char* text;
    bool parses;
    const char* value;
  };
  const Row rows[] = {
      {"[\"\x95\x5C\"]", true, "\x95\x5C"},
      {"[\"\x81\x7B\x95\x5C\\\\\"]", true, "\x81\x7B\x95\x5C\\"},
      {"[\"\x81\"]", false, nullptr},          // the lead byte takes the closing quote
      {"[\"a\"]\x81", false, nullptr},          // a lead byte at the end reads as '?'
      {"[\"\x81\"')]; ran = 1; ('\"]", true, "?')]; ran = 1; ('"},
      {"[\"\x80\xFF\"]", true, "\x80\xFF"},
  };
  for (const Row& row : rows) {
    JsonObject json;
    EXPECT_EQ(json.Parse(row.text), row.parses) << row.text;
    EXPECT_EQ(jsontest::EvalInContext(json, "typeof ran"), "undefined");
    if (row.value) {
      EXPECT_EQ(Text(json.GetElementText(0)), Gbk(row.value)) << row.text;
    }
  }
}

TEST(JsonObject, WithoutTheScriptControlEverythingIsEmpty) {
  ASSERT_EQ(win::RevokeBuiltinClass(win::CLSID_ScriptControl), win::S_OK);
  {
    JsonObject json;
    EXPECT_TRUE(c::ObjectIsEmpty(json.GetScriptControl()));
    EXPECT_FALSE(json.Parse("{}"));
    EXPECT_TRUE(json.ToJson().empty());
    EXPECT_EQ(json.GetType(), JsonValueType::Other);
    EXPECT_EQ(json.GetType("a"), JsonValueType::Other);
    EXPECT_TRUE(json.GetText("a").empty());
    EXPECT_EQ(json.GetNumber("a"), 0);
    EXPECT_EQ(json.GetCount("a"), 0);
    EXPECT_FALSE(json.AddElement("1", "a", true));
    qv::OwnedArray names;
    EXPECT_EQ(json.GetMemberNames(names), 0);
    EXPECT_TRUE(json.GetObject("a").ToJson().empty());
    qv::OwnedText reply = qv::OwnedText::Copy(R"({"data":"x"})");
    EXPECT_EQ(Text(ReadJsonValue(reply, "data")), Gbk(kJsonParseFailed));
  }
  ASSERT_EQ(win::RegisterScriptControlClass(), win::S_OK);
  JsonObject json;
  EXPECT_TRUE(json.Parse("{}"));
}

}  // namespace
}  // namespace quorvane
