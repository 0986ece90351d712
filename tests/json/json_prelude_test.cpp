// The prelude's script interface, and its JSON serialiser and parser, which the engine's own JSON
// keeps dormant: here they run in a context from which the built-in JSON was removed, and are
// held against the built-in on ordinary documents.
#include <gtest/gtest.h>

#include <string>

#include "common/gbk_print.h"
#include "json/json_object.h"
#include "json/json_prelude.h"
#include "runtime/automation/automation_front.h"

namespace quorvane {
namespace {

using qvtest::Gbk;
namespace c = qv::cmd;

class PolyfillContext : public testing::Test {
 protected:
  void SetUp() override {
    m_control = m_json.GetScriptControl();
    ASSERT_FALSE(c::ObjectIsEmpty(m_control));
    Run("var builtIn = JSON; delete JSON; delete Date.prototype.toJSON;");
    AddPrelude(m_control);
    ASSERT_EQ(Eval("(typeof JSON.stringify) + (typeof JSON.parse) + (JSON !== builtIn)"), "functionfunctiontrue");
  }
  void Run(const char* code) { c::ObjectCall(m_control, "AddCode", {c::TextValue(code)}); }
  std::string Eval(const std::string& expression) {
    return std::string(c::ObjectCallText(m_control, "Eval", {c::TextValue(expression.c_str())}).view());
  }

  JsonObject m_json;
  qv::OwnedObject m_control;
};

TEST_F(PolyfillContext, StringifyWritesWhatTheBuiltInWrites) {
  const char* const documents[] = {
      R"({"a":1,"b":[true,false,null],"c":"中文 \n\t\r\"\\ /\b\f\u0001","d":{"e":-1.5e-7,"f":[],"g":{}}})",
      R"([1,"two",[3,[4,[]]],{"k":[{}]}])",
      R"("plain")", "42", "-0", "null", "true", "1e21", "0.1",
      R"({"skipped":undefined,"fn":function(){},"nan":NaN,"inf":-Infinity,"kept":0})",
      "[undefined, function () {}, NaN]",
      R"({"n":new Number(3),"s":new String("x"),"b":new Boolean(false)})",
      R"(Object.create({"inherited":1}))",
  };
  const char* const arguments[] = {"", ", null, 2", ", null, '\\t'", ", null, 20", ", ['a', 'c']",
                                   ", function (k, v) { return typeof v == 'number' ? v + 1 : v; }"};
  for (const char* doc : documents) {
    for (const char* args : arguments) {
      const std::string call = std::string("(") + doc + ")" + args + ")";
      EXPECT_EQ(Gbk(Eval("JSON.stringify(" + call)), Gbk(Eval("builtIn.stringify(" + call))) << doc << args;
    }
  }
}

TEST_F(PolyfillContext, StringifyEscapesInvisibleCharactersAndWritesDatesWithoutMilliseconds) {
  EXPECT_EQ(Eval(R"(JSON.stringify('\u007f\u009f\u00ad\u0600\u200c\u2028\u2029\u2060\ufeff\ufff0 \u4e2d'))"),
            R"("\u007f\u009f\u00ad\u0600\u200c\u2028\u2029\u2060\ufeff\ufff0 )" + std::string("中\""));
  EXPECT_EQ(Eval("JSON.stringify([new Date(Date.UTC(2024, 0, 2, 3, 4, 5, 678)), new Date(NaN)])"),
            R"(["2024-01-02T03:04:05Z",null])");
  // A replacer that is neither a function nor a list is refused.
  EXPECT_EQ(Eval("(function () { try { JSON.stringify(1, {}); return 'no'; } catch (e) { return 'refused'; } })()"),
            "refused");
}

TEST_F(PolyfillContext, ParseReadsWhatTheBuiltInReadsAndRefusesScript) {
  const char* const texts[] = {
      R"({"a":1,"b":[true,false,null],"c":"\u4e2d\n\"\\\/","d":{"e":-1.5e-7,"f":[],"g":{}}})",
      R"( [ 1 , "two" , [ 3 , [ ] ] , { } ] )", R"("s")", "0", "-12.5E+3", "null",
  };
  for (const char* text : texts) {
    std::string quoted;  // the text as a script string literal's content
    for (const char ch : std::string(text)) quoted += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    EXPECT_EQ(Gbk(Eval("builtIn.stringify(JSON.parse('" + quoted + "'))")),
              Gbk(Eval("builtIn.stringify(builtIn.parse('" + quoted + "'))")))
        << text;
  }
  // A line separator inside a string is escaped before the text is evaluated.
  EXPECT_EQ(Eval("JSON.parse('\"a' + String.fromCharCode(0x2028) + 'b\"').charCodeAt(1)"), "8232");
  EXPECT_EQ(Eval(R"(builtIn.stringify(JSON.parse('{"a":1,"b":{"c":2,"d":3}}', function (k, v) {
                      return k == 'd' ? undefined : typeof v == 'number' ? v * 10 : v; })))"),
            R"({"a":10,"b":{"c":20}})");
  for (const char* script : {"{a: 1}", "ran = 1", "[1] + ran", "(function () { ran = 1; })()", "'single'", ""}) {
    EXPECT_EQ(Eval(std::string("(function () { try { JSON.parse(\"") + script +
                   "\"); return 'parsed'; } catch (e) { return e.name; } })()"),
              "SyntaxError")
        << script;
  }
  EXPECT_EQ(Eval("typeof ran"), "undefined");
}

TEST_F(PolyfillContext, HelpersAndObjectMethods) {
  const struct {
    const char* expression;
    const char* expected;
  } rows[] = {
      {"get__count([1, 2, 3])", "3"},
      {"get__count('abc')", "0"},
      {"get__count({length: 2})", "0"},
      {"get__name_All({b: 1, a: {}, f: function () {}})", "b\r\na"},
      {"get__name_All([1])", ""},
      {"get__name_All(Object.create({inherited: 1}))", "inherited"},
      {"builtIn.stringify(get__extend([1], [2, 3]))", "[1,2,3]"},
      {"builtIn.stringify(get__extend({s: 'a', o: {x: 1}}, {s: 'b', o: {y: 2}, n: true}))",
       R"({"s":"b","o":{"x":1,"y":2},"n":true})"},
      {"(function () { try { get__extend({n: 1}, {n: 2}); return 'merged'; } catch (e) { return e.name; } })()",
       "TypeError"},
      {"({a: [1, 'x']}).toJSONString()", R"({"a":[1,"x"]})"},
      {"'{\"x\": 2}'.parseJSON().x", "2"},
  };
  for (const auto& row : rows) EXPECT_EQ(Eval(row.expression), row.expected) << row.expression;
}

}  // namespace
}  // namespace quorvane
