// Creating objects, the typed front, and the three built-in objects driven through the automation
// commands the way the application drives them: VBScript.RegExp, MSScriptControl.ScriptControl and
// Adodb.Stream.
#include <gtest/gtest.h>

#include <thread>

#include "common/gbk_print.h"
#include "platform/com/com.h"
#include "runtime/automation/automation.h"
#include "runtime/automation/automation_front.h"
#include "runtime/commands/dispatch.h"
#include "tests/runtime/automation/automation_test_objects.h"

namespace qv {
namespace {

using qvtest::Gbk;
using qvtest::Probe;
using namespace win;

class AutomationObjects : public testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    RegisterAutomationClasses();
  }
  void TearDown() override {
    CoUninitialize();
    EXPECT_EQ(Probe::alive, 0) << "an object reference was leaked";
    SetObjectHolderReleaser(nullptr);  // the front installed it; other tests expect no hook
  }
};

TEST_F(AutomationObjects, CreateReplacesWhatTheVariableHeldAndFailsWithoutTouchingIt) {
  OwnedObject object = OwnedObject::Share(MakeDispatchObject<Probe>().get());
  constexpr CLSID kFailing = {0x51C0AB1E, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
  BuiltinClass failing{kFailing, {u"Quorvane.Test.Failing"}, CLSCTX_INPROC_SERVER,
                       [](IUnknown*, REFIID, void** out) { return *out = nullptr, E_OUTOFMEMORY; }};
  ASSERT_EQ(RegisterBuiltinClass(failing), S_OK);
  IUnknown* const held = object.object();
  for (const char* name : {"No.Such.Class", "", "{not a clsid}", "{00000000-0000-0000-0000-000000000001}",
                           "Quorvane.Test.Failing", "{51C0AB1E-0001-4000-8000-000000000001}"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(cmd::ObjectCreate(object, name));
    EXPECT_EQ(object.object(), held);
  }
  RevokeBuiltinClass(kFailing);

  // By CLSID; the probe held before is released.
  ASSERT_TRUE(cmd::ObjectCreate(object, "{3F4DACA4-160D-11D2-A8E9-00104B365C9F}"));
  EXPECT_EQ(Probe::alive, 0);
  EXPECT_TRUE(cmd::ObjectSetProperty(object, "Pattern", cmd::TextValue("b")));
  // A type library that cannot be loaded leaves the ProgID to decide.
  EXPECT_TRUE(cmd::ObjectCreate(object, "ADODB.Stream", "C:\\Windows\\no such.tlb"));
  EXPECT_FALSE(cmd::ObjectIsEmpty(object));

  // A thread that has not initialised COM cannot create anything.
  bool created = true;
  std::thread([&] {
    OwnedObject regex;
    created = cmd::ObjectCreate(regex, "VBScript.RegExp");
  }).join();
  EXPECT_FALSE(created);
}

TEST_F(AutomationObjects, FrontLendsVariablesAndReleasesWhatItReplaces) {
  const OwnedObject probe = OwnedObject::Share(MakeDispatchObject<Probe>().get());
  OwnedText text = OwnedText::Copy("名");
  int32_t n = 1;
  OwnedObject made;  // no holder yet: one is made for the call
  OwnedVariantHolder variant;
  cmd::ObjectCall(probe, "Rename", {cmd::ByAddress(text)});
  cmd::ObjectCall(probe, "Increment", {cmd::ByAddress(n)});
  cmd::ObjectCall(probe, "Replace", {cmd::ByAddress(made)});
  cmd::ObjectCall(probe, "Fill", {cmd::ByAddress(variant)});
  EXPECT_EQ(Gbk(text.c_str()), Gbk("名!"));
  EXPECT_EQ(n, 2);
  EXPECT_EQ(Gbk(cmd::ObjectGetText(made, "Plain").c_str()), Gbk("plain"));
  EXPECT_EQ(Gbk(cmd::VariantToText(variant).c_str()), Gbk("filled"));
  // A call refused before it is made still gives the lent text back.
  cmd::ObjectCall(probe, "Rename", {cmd::ByAddress(text), cmd::IntValue(1)});
  EXPECT_EQ(AutomationError(), automation_error::TooManyArguments);
  EXPECT_EQ(Gbk(text.c_str()), Gbk("名!"));

  // Assignment releases the target's object first; the commands alone would not.
  cmd::ObjectAssign(made, probe);
  EXPECT_EQ(Probe::alive, 1);
  EXPECT_EQ(made.object(), probe.object());
  cmd::ObjectRelease(made);
  EXPECT_TRUE(cmd::ObjectIsEmpty(made));
  EXPECT_TRUE(cmd::ObjectGetText(made, "Plain").empty());
  EXPECT_EQ(AutomationError(), automation_error::EmptyObject);
  OwnedVariantHolder copy;
  cmd::VariantSetValue(copy, cmd::TextValue("old"));
  cmd::VariantAssign(copy, variant);
  cmd::VariantReset(variant);
  EXPECT_EQ(Gbk(cmd::VariantToText(copy).c_str()), Gbk("filled"));
  EXPECT_EQ(variant.vt(), VT_EMPTY);
}

TEST_F(AutomationObjects, RegExpExecuteAndTheMatchCollection) {
  OwnedObject regex;
  ASSERT_TRUE(cmd::ObjectCreate(regex, "VBScript.RegExp"));
  ASSERT_TRUE(cmd::ObjectSetProperty(regex, "Pattern", cmd::TextValue("(\\d+)-(\\w+|答)")));
  ASSERT_TRUE(cmd::ObjectSetProperty(regex, "Global", cmd::BoolValue(true)));
  const OwnedObject matches = cmd::ObjectCallObject(regex, "Execute", {cmd::TextValue("问 12-ab, 7-答 x")});
  EXPECT_EQ(cmd::ObjectGetNumber(matches, "Count"), 2.0);
  const struct {
    const char* value;
    double firstIndex;  // UTF-16 units before the match
    const char* group;
  } kMatches[] = {{"12-ab", 2, "12"}, {"7-答", 9, "7"}};
  for (int i = 0; i < 2; ++i) {
    const OwnedObject match = cmd::ObjectGetObject(matches, "Item", {cmd::IntValue(i)});
    EXPECT_EQ(Gbk(cmd::ObjectGetText(match, "Value").c_str()), Gbk(kMatches[i].value));
    EXPECT_EQ(cmd::ObjectGetNumber(match, "FirstIndex"), kMatches[i].firstIndex);
    const OwnedObject groups = cmd::ObjectGetObject(match, "SubMatches");
    EXPECT_EQ(Gbk(cmd::ObjectGetText(groups, "Item", {cmd::IntValue(0)}).c_str()), Gbk(kMatches[i].group));
  }
  EXPECT_TRUE(cmd::ObjectGetObject(matches, "Item", {cmd::IntValue(2)}).empty());
  EXPECT_EQ(AutomationError(), automation_error::Exception);  // the index is out of range
  EXPECT_EQ(Gbk(cmd::ObjectCallText(regex, "Replace", {cmd::TextValue("1-a 2-b"), cmd::TextValue("<$2>")}).c_str()),
            Gbk("<a> <b>"));
  ASSERT_TRUE(cmd::ObjectSetProperty(regex, "Pattern", cmd::TextValue("(")));
  EXPECT_FALSE(cmd::ObjectCallBool(regex, "Test", {cmd::TextValue("x")}));
  EXPECT_EQ(AutomationError(), automation_error::Exception);
}

TEST_F(AutomationObjects, ScriptControlEvaluatesStatementsThenExpressionsInOneScope) {
  OwnedObject script;
  ASSERT_TRUE(cmd::ObjectCreate(script, "MSScriptControl.ScriptControl"));
  ASSERT_TRUE(cmd::ObjectSetProperty(script, "Language", cmd::TextValue("JScript")));
  cmd::ObjectCall(script, "AddCode", {cmd::TextValue("function twice(s) { return s + s; }")});
  cmd::ObjectCallText(script, "Eval", {cmd::TextValue("var o = {msg: '答案', n: 40}; o.n += 2;")});
  EXPECT_EQ(AutomationError(), 0);
  EXPECT_EQ(Gbk(cmd::ObjectCallText(script, "Eval", {cmd::TextValue("twice(o.msg)")}).c_str()), Gbk("答案答案"));
  EXPECT_EQ(cmd::ObjectCallNumber(script, "Eval", {cmd::TextValue("o.n")}), 42.0);
  EXPECT_TRUE(cmd::ObjectCallText(script, "Eval", {cmd::TextValue("no_such_name.x")}).empty());
  EXPECT_EQ(AutomationError(), automation_error::Exception);
  EXPECT_TRUE(cmd::ObjectCallBool(script, "Eval", {cmd::TextValue("o.n > 41")})) << "the scope survives an error";
}

TEST_F(AutomationObjects, AdodbStreamDecodesUtf8BytesWrittenFromAByteSet) {
  OwnedObject stream;
  ASSERT_TRUE(cmd::ObjectCreate(stream, "Adodb.Stream"));
  ASSERT_TRUE(cmd::ObjectSetProperty(stream, "Type", cmd::IntValue(1)));
  cmd::ObjectCall(stream, "Open");
  const OwnedByteSet bytes = OwnedByteSet::Copy("\xE7\xAD\x94\xE6\xA1\x88 ok");  // "答案 ok" in UTF-8
  OwnedVariantHolder buffer;
  ASSERT_TRUE(cmd::VariantSetValue(buffer, cmd::ByteSetValue(bytes.view())));
  cmd::ObjectCall(stream, "Write", {cmd::VariantValue(buffer)});
  ASSERT_EQ(AutomationError(), 0);
  ASSERT_TRUE(cmd::ObjectSetProperty(stream, "Position", cmd::IntValue(0)));
  ASSERT_TRUE(cmd::ObjectSetProperty(stream, "Type", cmd::IntValue(2)));
  ASSERT_TRUE(cmd::ObjectSetProperty(stream, "Charset", cmd::TextValue("utf-8")));
  EXPECT_EQ(Gbk(cmd::ObjectCallText(stream, "ReadText").c_str()), Gbk("答案 ok"));
  cmd::ObjectCall(stream, "Close");
  cmd::ObjectCall(stream, "Write", {cmd::VariantValue(buffer)});
  EXPECT_EQ(AutomationError(), automation_error::Exception) << "a closed stream refuses, silently";
}

}  // namespace
}  // namespace qv
