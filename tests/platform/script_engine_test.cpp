#include "platform/com/script/script_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

namespace win::script {
namespace {

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

const char* KindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::Empty: return "Empty";
    case ValueKind::Null: return "Null";
    case ValueKind::Bool: return "Bool";
    case ValueKind::Int: return "Int";
    case ValueKind::Double: return "Double";
    case ValueKind::String: return "String";
    case ValueKind::Object: return "Object";
  }
  return "?";
}

// Evaluates and insists on success, so a failing row shows the script's own error.
ScriptValue EvalOk(ScriptEngine& engine, std::u16string_view text) {
  EvalResult r = engine.Eval(text);
  EXPECT_TRUE(r.Succeeded()) << Narrow(text) << " failed: " << Narrow(r.error.description);
  return std::move(r.value);
}

int32_t EvalInt(ScriptEngine& engine, std::u16string_view text) {
  ScriptValue v = EvalOk(engine, text);
  EXPECT_EQ(v.kind, ValueKind::Int) << Narrow(text) << " gave " << KindName(v.kind);
  return v.integer;
}

std::u16string EvalText(ScriptEngine& engine, std::u16string_view text) {
  ScriptValue v = EvalOk(engine, text);
  EXPECT_EQ(v.kind, ValueKind::String) << Narrow(text) << " gave " << KindName(v.kind);
  return v.text;
}

TEST(ScriptEngine, EvalStatementsAndAddCodeShareOneGlobalScope) {
  ScriptEngine engine;
  EXPECT_EQ(EvalOk(engine, u"var a = 1").kind, ValueKind::Empty);
  ASSERT_FALSE(engine.AddCode(u"function f() { return a + 1 } var b = f() * 10").Failed());
  EXPECT_EQ(EvalInt(engine, u"f()"), 2);
  EXPECT_EQ(EvalInt(engine, u"b"), 20);
  // Several declarations in one Eval, then read by a program and by later Evals.
  EvalOk(engine, u"var da = {}, str_Code = String.fromCharCode(9216), str_reg = new RegExp(str_Code, 'g')");
  ASSERT_FALSE(engine.AddCode(u"var viaProgram = typeof da + ':' + str_Code.charCodeAt(0)").Failed());
  EXPECT_EQ(EvalText(engine, u"viaProgram"), u"object:9216");
  // A statement sequence gives the value of its last statement.
  EXPECT_EQ(EvalInt(engine, u"if (Object.prototype.toString.call(da.list) != '[object Array]') "
                            u"{ da.list = new Array() } da.list.push('x')"),
            1);
  EXPECT_EQ(EvalInt(engine, u"da.list.length"), 1);
  // Functions declared through Eval are globals too.
  EvalOk(engine, u"function twice(x) { return 2 * x }");
  ASSERT_FALSE(engine.AddCode(u"var t = twice(21)").Failed());
  EXPECT_EQ(EvalInt(engine, u"t"), 42);
}

TEST(ScriptEngine, ContextsAreIndependent) {
  ScriptEngine one;
  ScriptEngine two;
  EvalOk(one, u"var da = 'one'");
  EvalOk(two, u"var da = 'two'");
  EXPECT_EQ(EvalText(one, u"da"), u"one");
  EXPECT_EQ(EvalText(two, u"da"), u"two");
  one.Reset();
  EXPECT_EQ(one.Eval(u"da").error.kind, ErrorKind::Runtime);  // fresh scope after Reset
  EXPECT_EQ(EvalText(two, u"da"), u"two");
}

// Heaps made ahead on the helper thread are as fresh as any: nothing of an earlier context shows,
// and they work on the thread that takes them, also in a forked child.
TEST(ScriptEngine, HeapsMadeAheadAreFresh) {
  const uint64_t before = ScriptEngine::HeapsMadeAheadForTesting();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ScriptEngine::HeapsMadeAheadForTesting() == before && std::chrono::steady_clock::now() < deadline) {
    ScriptEngine engine;
    EvalOk(engine, u"var leftOver = 1; Object.prototype.leaked = 2; JSON.parse = null");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_GT(ScriptEngine::HeapsMadeAheadForTesting(), before);
  for (int i = 0; i < 3; ++i) {
    ScriptEngine engine;
    EXPECT_EQ(EvalText(engine, u"typeof leftOver + ({}).leaked + typeof JSON.parse"), u"undefinedundefinedfunction");
    EvalOk(engine, u"var leftOver = 1; Object.prototype.leaked = 2; JSON.parse = null");
  }
  EXPECT_EXIT(
      {
        alarm(5);
        for (int i = 0; i < 20; ++i) {
          ScriptEngine engine;
          if (engine.Eval(u"typeof leftOver").value.text != u"undefined") std::_Exit(1);
          engine.Eval(u"var leftOver = 1");
        }
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ScriptEngine, ResultKindsFollowTheWindowsControl) {
  struct Row {
    std::u16string_view text;
    ValueKind kind;
    double number;  // the expected value for Bool (0/1), Int and Double rows
  };
  const double inf = HUGE_VAL;
  const Row rows[] = {
      {u"3", ValueKind::Int, 3},
      {u"1 + 2", ValueKind::Int, 3},
      {u"6 / 2", ValueKind::Int, 3},
      {u"3.5", ValueKind::Double, 3.5},
      {u"2147483647", ValueKind::Int, 2147483647.0},
      {u"2147483648", ValueKind::Double, 2147483648.0},
      {u"-2147483648", ValueKind::Int, -2147483648.0},
      {u"-2147483649", ValueKind::Double, -2147483649.0},
      {u"0", ValueKind::Int, 0},
      {u"1e21", ValueKind::Double, 1e21},
      {u"1/0", ValueKind::Double, inf},
      {u"-1/0", ValueKind::Double, -inf},
      {u"true", ValueKind::Bool, 1},
      {u"1 > 2", ValueKind::Bool, 0},
      {u"null", ValueKind::Null, 0},
      {u"undefined", ValueKind::Empty, 0},
      {u"var unused = 5", ValueKind::Empty, 0},
      {u"", ValueKind::Empty, 0},
      {u"({})", ValueKind::Object, 0},
      {u"[1, 2, 3]", ValueKind::Object, 0},
      {u"(function () {})", ValueKind::Object, 0},
      {u"new Date(0)", ValueKind::Object, 0},
      {u"/re/g", ValueKind::Object, 0},
  };
  ScriptEngine engine;
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    const ScriptValue v = EvalOk(engine, row.text);
    ASSERT_EQ(v.kind, row.kind) << KindName(v.kind);
    if (row.kind == ValueKind::Int) {
      EXPECT_EQ(v.integer, row.number);
    } else if (row.kind == ValueKind::Double) {
      EXPECT_EQ(v.number, row.number);
    } else if (row.kind == ValueKind::Bool) {
      EXPECT_EQ(v.boolean, row.number != 0);
    }
    EXPECT_EQ(v.object != nullptr, row.kind == ValueKind::Object);
  }
  // Values that compare equal to an integer but are not one.
  const ScriptValue negativeZero = EvalOk(engine, u"-0");
  ASSERT_EQ(negativeZero.kind, ValueKind::Double);
  EXPECT_TRUE(std::signbit(negativeZero.number));
  const ScriptValue nan = EvalOk(engine, u"0/0");
  ASSERT_EQ(nan.kind, ValueKind::Double);
  EXPECT_TRUE(std::isnan(nan.number));
  // An empty string is a string, not nothing; a symbol comes back as its string form.
  EXPECT_EQ(EvalOk(engine, u"''").kind, ValueKind::String);
  EXPECT_EQ(EvalText(engine, u"Symbol('tag')"), u"Symbol(tag)");
}

TEST(ScriptEngine, StringsCrossInUtf16) {
  const std::u16string rows[] = {
      u"答案：正确",
      u"\U0001F600 smile",                  // a surrogate pair
      std::u16string(u"a\0b", 3),          // an embedded NUL
      std::u16string(1, char16_t(0xD800)),  // a lone high surrogate
      std::u16string(1, char16_t(0xDC00)),  // a lone low surrogate
      std::u16string{char16_t(0xDC00), char16_t(0xD800)},  // halves in the wrong order
      u"\u00e9\u07ff\u0800\uffff",          // the 2- and 3-byte boundaries
  };
  ScriptEngine engine;
  for (const std::u16string& s : rows) {
    SCOPED_TRACE(Narrow(s));
    // The raw characters inside a script literal come back unchanged and with their UTF-16 length.
    EXPECT_EQ(EvalText(engine, u"'" + s + u"'"), s);
    EXPECT_EQ(EvalInt(engine, u"'" + s + u"'.length"), static_cast<int32_t>(s.size()));
    // And through a variable set by AddCode.
    ASSERT_FALSE(engine.AddCode(u"var kept = '" + s + u"'").Failed());
    EXPECT_EQ(EvalText(engine, u"kept"), s);
  }
  EXPECT_EQ(EvalText(engine, u"String.fromCharCode(0xD83D, 0xDE00)"), u"\U0001F600");
  EXPECT_EQ(EvalInt(engine, u"'\U0001F600'.charCodeAt(1)"), 0xDE00);
  EXPECT_EQ(EvalText(engine, u"'\\u7b54\\u6848'"), u"答案");
  EXPECT_EQ(EvalInt(engine, u"'a\\u0000b'.length"), 3);
}

TEST(ScriptEngine, ObjectResultsGiveTheirStringFormAndMembers) {
  struct Row {
    std::u16string_view text;
    std::u16string_view stringForm;
  };
  const Row rows[] = {
      {u"({a: 1})", u"[object Object]"},
      {u"[1, 2, 3]", u"1,2,3"},
      {u"[]", u""},
      {u"[1, [2, 'x'], null, undefined]", u"1,2,x,,"},
      {u"({toString: function () { return '\u7b54' }})", u"答"},
      {u"(function () { return arguments })()", u"[object Arguments]"},
  };
  ScriptEngine engine;
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    const ScriptValue v = EvalOk(engine, row.text);
    ASSERT_EQ(v.kind, ValueKind::Object);
    const EvalResult form = v.object->StringForm();
    ASSERT_TRUE(form.Succeeded()) << Narrow(form.error.description);
    EXPECT_EQ(form.value.kind, ValueKind::String);
    EXPECT_EQ(form.value.text, row.stringForm);
  }

  const ScriptValue doc = EvalOk(engine, u"({n: 5, s: 'x', inner: {d: 1.5}, list: [7, 8]})");
  ASSERT_EQ(doc.kind, ValueKind::Object);
  EXPECT_EQ(doc.object->GetMember(u"n").value.integer, 5);
  EXPECT_EQ(doc.object->GetMember(u"s").value.text, u"x");
  EXPECT_EQ(doc.object->GetMember(u"missing").value.kind, ValueKind::Empty);
  const EvalResult inner = doc.object->GetMember(u"inner");
  ASSERT_EQ(inner.value.kind, ValueKind::Object);
  EXPECT_EQ(inner.value.object->GetMember(u"d").value.number, 1.5);
  const EvalResult list = doc.object->GetMember(u"list");
  ASSERT_EQ(list.value.kind, ValueKind::Object);
  EXPECT_EQ(list.value.object->GetMember(u"length").value.integer, 2);
  EXPECT_EQ(list.value.object->GetMember(u"1").value.integer, 8);

  // A toString that throws fails the string form, and the object stays usable.
  const ScriptValue bad = EvalOk(engine, u"({toString: function () { throw new Error('no text') }, v: 1})");
  const EvalResult failed = bad.object->StringForm();
  EXPECT_EQ(failed.error.kind, ErrorKind::Runtime);
  EXPECT_EQ(failed.error.description, u"no text");
  EXPECT_EQ(bad.object->GetMember(u"v").value.integer, 1);
}

TEST(ScriptEngine, ObjectsLiveAsLongAsTheirHolder) {
  auto engine = std::make_unique<ScriptEngine>();
  EvalOk(*engine, u"var finalized = false");
  ScriptValue held = EvalOk(*engine, u"var o = {v: 42}; Duktape.fin(o, function () { finalized = true }); o");
  ASSERT_EQ(held.kind, ValueKind::Object);
  // The script drops its own reference; the holder still keeps the object.
  EvalOk(*engine, u"o = null; Duktape.gc(); Duktape.gc()");
  EXPECT_FALSE(EvalOk(*engine, u"finalized").boolean);
  EXPECT_EQ(held.object->GetMember(u"v").value.integer, 42);
  // Dropping the holder lets the engine collect it.
  held.object.reset();
  EvalOk(*engine, u"Duktape.gc(); Duktape.gc()");
  EXPECT_TRUE(EvalOk(*engine, u"finalized").boolean);

  // An object may outlive the engine that returned it.
  ScriptValue survivor = EvalOk(*engine, u"[4, 5]");
  engine.reset();
  ASSERT_TRUE(survivor.object->IsAlive());
  EXPECT_EQ(survivor.object->StringForm().value.text, u"4,5");
}

TEST(ScriptEngine, ScriptErrorsFailTheCallAndKeepTheContext) {
  struct Row {
    std::u16string_view text;
    ErrorKind kind;
    std::u16string_view description;  // empty: any non-empty description
  };
  const Row rows[] = {
      {u"var = 1", ErrorKind::Compile, u""},
      {u"'unterminated", ErrorKind::Compile, u""},
      {u"{", ErrorKind::Compile, u""},
      {u"throw new Error('boom')", ErrorKind::Runtime, u"boom"},
      {u"throw 'plain text'", ErrorKind::Runtime, u"plain text"},
      {u"throw 42", ErrorKind::Runtime, u"42"},
      {u"throw {toString: function () { throw 1 }}", ErrorKind::Runtime, u"Script error"},
      {u"throw Symbol('s')", ErrorKind::Runtime, u"Symbol(s)"},
      {u"notDeclared", ErrorKind::Runtime, u""},
      {u"null.member", ErrorKind::Runtime, u""},
      {u"da.missing.deeper", ErrorKind::Runtime, u""},
      {u"JSON.parse('{bad')", ErrorKind::Runtime, u""},
      {u"function f() { f() } f()", ErrorKind::Runtime, u""},
      {u"var c = {}; c.c = c; JSON.stringify(c)", ErrorKind::Runtime, u""},
  };
  ScriptEngine engine;
  EvalOk(engine, u"var da = {keep: 'me'}");
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    for (bool viaAddCode : {false, true}) {
      const ScriptError error = viaAddCode ? engine.AddCode(row.text) : engine.Eval(row.text).error;
      EXPECT_EQ(error.kind, row.kind);
      if (row.description.empty()) {
        EXPECT_FALSE(error.description.empty());
      } else {
        EXPECT_EQ(error.description, row.description);
      }
    }
    EXPECT_EQ(EvalText(engine, u"da.keep"), u"me");
  }
  // What a statement sequence did before its error stays done.
  EXPECT_EQ(engine.Eval(u"da.partial = 1; notDeclared()").error.kind, ErrorKind::Runtime);
  EXPECT_EQ(EvalInt(engine, u"da.partial"), 1);
  // The line of the failing statement is reported.
  EXPECT_EQ(engine.AddCode(u"var x = 1;\n\nthrow new Error('third line')").line, 3);
}

TEST(ScriptEngine, DeepNestingFailsCleanly) {
  ScriptEngine engine;
  const std::u16string parens = std::u16string(100000, u'(') + u"1" + std::u16string(100000, u')');
  EXPECT_TRUE(engine.Eval(parens).error.Failed());
  const std::u16string arrays = std::u16string(100000, u'[') + std::u16string(100000, u']');
  EXPECT_TRUE(engine.Eval(u"JSON.parse('" + arrays + u"')").error.Failed());
  EXPECT_TRUE(engine.Eval(u"var o = {}; for (var i = 0; i < 100000; ++i) o = {n: o}; JSON.stringify(o)")
                  .error.Failed());
  EXPECT_EQ(EvalInt(engine, u"1 + 1"), 2);
}

TEST(ScriptEngine, JsonIsBuiltIn) {
  ScriptEngine engine;
  EXPECT_EQ(EvalText(engine, u"JSON.stringify({a: [1, 'x', null, true], b: '\u7b54\\n\"'})"),
            u"{\"a\":[1,\"x\",null,true],\"b\":\"答\\n\\\"\"}");
  EXPECT_EQ(EvalInt(engine, u"JSON.parse('{\"b\": [1, 2]}').b[1]"), 2);
  EXPECT_EQ(EvalText(engine, u"typeof JSON.parse + typeof JSON.stringify"), u"functionfunction");
}

TEST(ScriptEngine, MemoryCapFailsTheCallNotTheProcess) {
  ScriptEngine engine;
  engine.SetMemoryLimit(size_t{8} << 20);
  EvalOk(engine, u"var before = 'still here'");
  const EvalResult huge = engine.Eval(u"var s = 'x'.repeat(50 * 1024 * 1024); s.length");
  EXPECT_EQ(huge.error.kind, ErrorKind::OutOfMemory) << Narrow(huge.error.description);
  EXPECT_EQ(EvalText(engine, u"before"), u"still here");
  // A source text far beyond the cap.
  const std::u16string bigSource = u"var big = '" + std::u16string(size_t{12} << 20, u'y') + u"'";
  EXPECT_EQ(engine.AddCode(bigSource).kind, ErrorKind::OutOfMemory);
  // Within the cap, a string of a few megabytes is fine and crosses back whole.
  const ScriptValue big = EvalOk(engine, u"'\u7b54'.repeat(1 << 20)");
  EXPECT_EQ(big.text.size(), size_t{1} << 20);

  // The default cap stops a string doubled without end.
  ScriptEngine unlimited;
  const EvalResult doubling = unlimited.Eval(u"var t = 'x'; while (true) t += t");
  EXPECT_EQ(doubling.error.kind, ErrorKind::OutOfMemory);
  EXPECT_EQ(EvalInt(unlimited, u"t.length > 1000000 ? 1 : 0"), 1);

  // A cap too small for the engine itself fails creation; a larger one works again.
  ScriptEngine tiny;
  tiny.SetMemoryLimit(4096);
  EXPECT_EQ(tiny.Eval(u"1").error.kind, ErrorKind::OutOfMemory);
  tiny.SetMemoryLimit(ScriptEngine::kDefaultMemoryLimit);
  EXPECT_EQ(EvalInt(tiny, u"1"), 1);
}

TEST(ScriptEngine, FatalErrorRestartsTheContext) {
  ScriptEngine engine;
  EvalOk(engine, u"var g = 1");
  const ScriptValue held = EvalOk(engine, u"[1]");
  const ScriptError fatal = engine.RaiseFatalErrorForTesting();
  EXPECT_EQ(fatal.kind, ErrorKind::EngineFailure);
  EXPECT_FALSE(held.object->IsAlive());
  EXPECT_EQ(held.object->StringForm().error.kind, ErrorKind::EngineFailure);
  EXPECT_EQ(engine.Eval(u"g").error.kind, ErrorKind::Runtime);  // the new context is empty
  EXPECT_EQ(EvalInt(engine, u"2 + 2"), 4);
}

// Dropping a context runs no more script: a finalizer that never returns cannot hang the release.
TEST(ScriptEngineDeathTest, DroppingAContextRunsNoFinalizer) {
  ScriptEngine probe;
  ASSERT_EQ(EvalText(probe, u"typeof Duktape.fin"), u"function");
  EXPECT_EXIT(
      {
        alarm(5);
        {
          ScriptEngine engine;
          engine.Eval(u"var kept = {}; Duktape.fin(kept, function () { while (true) {} })");
          engine.Reset();
          engine.Eval(u"var again = {}; Duktape.fin(again, function () { while (true) {} })");
        }
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

class ScriptTimeout : public testing::Test {
 protected:
  void SetUp() override {
    if (!ScriptEngine::TimeoutsAvailable()) GTEST_SKIP() << "time limits are not available here";
  }
};

TEST_F(ScriptTimeout, EndlessRunsAreCutOff) {
  const std::u16string_view loops[] = {
      u"while (true) {}",
      u"for (;;) { var d = new Date(); d.toString(); }",  // time spent in the C library
      u"var a = []; while (true) { a.push({}); if (a.length > 10000) a = [] }",  // in the allocator
      u"/(a+)+b/.test('aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa')",  // exponential backtracking
      u"function r() { try { r() } finally { r() } } r()",
  };
  ScriptEngine engine;
  engine.SetTimeout(150);
  for (std::u16string_view loop : loops) {
    SCOPED_TRACE(Narrow(loop));
    EvalOk(engine, u"var marker = 1");
    const auto start = std::chrono::steady_clock::now();
    const EvalResult r = engine.Eval(loop);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.error.kind, ErrorKind::Timeout);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    // The context starts over: the marker is gone, the engine works.
    EXPECT_EQ(engine.Eval(u"marker").error.kind, ErrorKind::Runtime);
    EXPECT_EQ(EvalInt(engine, u"3 * 3"), 9);
  }
  ASSERT_EQ(engine.AddCode(u"while (true) {}").kind, ErrorKind::Timeout);
}

TEST_F(ScriptTimeout, LimitAppliesToObjectConversions) {
  ScriptEngine engine;
  engine.SetTimeout(150);
  const ScriptValue v = EvalOk(engine, u"({toString: function () { for (;;) {} }})");
  EXPECT_EQ(v.object->StringForm().error.kind, ErrorKind::Timeout);
  EXPECT_FALSE(v.object->IsAlive());
  EXPECT_EQ(v.object->GetMember(u"x").error.kind, ErrorKind::EngineFailure);
}

TEST_F(ScriptTimeout, QuickScriptsAreNotDisturbed) {
  ScriptEngine engine;
  engine.SetTimeout(1000);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(EvalInt(engine, u"var n = 0; for (var k = 0; k < 1000; ++k) n += k; n"), 499500);
  engine.SetTimeout(ScriptEngine::kNoTimeout);
  EXPECT_EQ(EvalInt(engine, u"var m = 0; for (var k = 0; k < 3000000; ++k) m++; m"), 3000000);
}

}  // namespace
}  // namespace win::script
