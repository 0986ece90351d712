#include "platform/com/script/script_code_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com/script/script_engine.h"

namespace win::script {
namespace {

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// A text loaded from its compiled form must behave as the text compiled afresh. Each row runs in
// three new contexts: compiled, compiled and kept, loaded.
TEST(CompiledCode, LoadedTextsBehaveAsCompiledOnes) {
  struct Row {
    std::u16string_view program;  // run first through AddCode; may be empty
    std::u16string_view probe;    // an Eval whose string result is compared
    std::u16string_view expected;
  };
  const Row rows[] = {
      // Eval code declares deletable globals, program code undeletable ones; both see `this` as the
      // global object, and declared functions find themselves by name.
      {u"", u"var q = 1; String(delete q)", u"true"},
      {u"var p = 1; function g(n) { return n ? g(n - 1) + 1 : 0 } var r = g(3)",
       u"[delete p, r, typeof g, this === Function('return this')()].join()", u"false,3,function,true"},
      {u"'use strict'; var s = typeof (function () { return this })()", u"s", u"undefined"},
      {u"", u"String((function h(n) { return n ? h(n - 1) * 2 : 1 })(4))", u"16"},
      {u"var o = {a: [1, {b: 'x'}]}; function F() { this.k = 2 } F.prototype.m = function () { return this.k }",
       u"JSON.stringify(o) + new F().m() + (F.prototype.constructor === F)", u"{\"a\":[1,{\"b\":\"x\"}]}2true"},
      // The same text as a program and as eval code compiles to different functions.
      {u"var k = 1", u"var k2 = 1; String(delete k) + String(delete k2)", u"falsetrue"},
  };
  CompiledCodeCache& cache = CompiledCodeCache::Process();
  cache.Clear();
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.probe));
    const CompiledCodeCache::Counts before = cache.GetCounts();
    for (int run = 0; run < 3; ++run) {
      ScriptEngine engine;
      if (!row.program.empty()) {
        ASSERT_FALSE(engine.AddCode(row.program).Failed());
      }
      const EvalResult result = engine.Eval(row.probe);
      ASSERT_TRUE(result.Succeeded()) << Narrow(result.error.description);
      EXPECT_EQ(Narrow(result.value.text), Narrow(row.expected)) << "run " << run;
    }
    const CompiledCodeCache::Counts after = cache.GetCounts();
    const uint64_t texts = row.program.empty() ? 1 : 2;
    EXPECT_EQ(after.stores - before.stores, texts);
    EXPECT_EQ(after.loads - before.loads, texts);
  }
}

TEST(CompiledCode, ErrorsAreTheSameFromALoadedText) {
  CompiledCodeCache& cache = CompiledCodeCache::Process();
  cache.Clear();
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    ScriptEngine engine;
    // A runtime error keeps its message and line.
    const ScriptError thrown = engine.AddCode(u"var x = 1;\n\nthrow new Error('third line')");
    EXPECT_EQ(thrown.kind, ErrorKind::Runtime);
    EXPECT_EQ(thrown.line, 3);
    EXPECT_EQ(Narrow(thrown.description), "third line");
    EXPECT_EQ(engine.Eval(u"notDeclared != null").error.kind, ErrorKind::Runtime);
    // A text that does not compile is never kept: the compiler reports it every time.
    EXPECT_EQ(engine.Eval(u"1 +").error.kind, ErrorKind::Compile);
    EXPECT_EQ(engine.AddCode(u"var = 1").kind, ErrorKind::Compile);
  }
  EXPECT_EQ(cache.GetCounts().stores, 2u);
  EXPECT_EQ(cache.GetCounts().loads, 2u);
}

TEST(CompiledCode, StoreIsBounded) {
  CompiledCodeCache cache;
  auto text = [](int i) { return "var v" + std::to_string(i); };
  auto keep = [&](const std::string& t, std::string form) {
    EXPECT_FALSE(cache.WantsCompiledForm(CodeKind::Program, t));  // seen once: not yet
    EXPECT_TRUE(cache.WantsCompiledForm(CodeKind::Program, t));
    cache.Store(CodeKind::Program, t, std::move(form));
  };
  for (int i = 0; i <= static_cast<int>(CompiledCodeCache::kMaxEntries); ++i) {
    keep(text(i), "form" + std::to_string(i));
    // Just before the store is full, the first text becomes the most recently used one.
    if (i + 1 == static_cast<int>(CompiledCodeCache::kMaxEntries)) {
      ASSERT_NE(cache.Find(CodeKind::Program, text(0)), nullptr);
    }
  }
  // One entry too many dropped the least recently used one, which was text 1.
  EXPECT_EQ(cache.Find(CodeKind::Program, text(1)), nullptr);
  ASSERT_NE(cache.Find(CodeKind::Program, text(0)), nullptr);
  EXPECT_EQ(*cache.Find(CodeKind::Program, text(0)), "form0");
  EXPECT_EQ(cache.Find(CodeKind::Eval, text(0)), nullptr);
  // Texts beyond the size limit are neither looked for nor kept; a form beyond the byte limit
  // is not kept either.
  const std::string large(CompiledCodeCache::kLargestText + 1, ' ');
  EXPECT_FALSE(cache.WantsCompiledForm(CodeKind::Eval, large));
  EXPECT_FALSE(cache.WantsCompiledForm(CodeKind::Eval, large));
  keep("huge", std::string(CompiledCodeCache::kMaxBytes, 'x'));
  EXPECT_EQ(cache.Find(CodeKind::Program, "huge"), nullptr);
  // Many mid-sized forms stay within the byte limit by dropping old ones.
  for (int i = 0; i < 8; ++i) keep("mid" + std::to_string(i), std::string(CompiledCodeCache::kMaxBytes / 3, 'm'));
  EXPECT_EQ(cache.Find(CodeKind::Program, "mid4"), nullptr);
  EXPECT_NE(cache.Find(CodeKind::Program, "mid7"), nullptr);
  EXPECT_NE(cache.Find(CodeKind::Program, "mid6"), nullptr);
}

}  // namespace
}  // namespace win::script
