#include "platform/com/script/script_control.h"

#include <gtest/gtest.h>

#include "common/late_bound_call.h"

#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/com/script/script_engine.h"

namespace win {
namespace {

std::u16string_view View(BSTR s) { return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view(); }

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

class ScriptControlTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(RegisterScriptControlClass(), S_OK);
    m_control = Create(u"MSScriptControl.ScriptControl");
    ASSERT_TRUE(m_control);
  }
  void TearDown() override {
    m_control.Reset();
    CoUninitialize();
  }

  static ComPtr<IDispatch> Create(std::u16string_view progId) {
    CLSID clsid{};
    const std::u16string name(progId);
    if (FAILED(CLSIDFromProgID(name.c_str(), &clsid))) return nullptr;
    ComPtr<IDispatch> out;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, out.ReceiveVoid()))) return nullptr;
    return out;
  }

  using Outcome = qvtest::CallOutcome;
  // A late-bound call by name. Arguments in natural order; texts become BSTRs.
  static Outcome Call(IDispatch* target, std::u16string_view member, WORD flags, std::vector<OwnedVariant> args = {}) {
    return qvtest::LateBoundCall(target, member, flags, std::move(args));
  }
  static OwnedVariant Text(std::u16string_view s) { return OwnedVariant::FromText(s); }

  HRESULT PutLanguage(std::u16string_view language) {
    std::vector<OwnedVariant> args;
    args.push_back(Text(language));
    return Call(m_control.get(), u"Language", DISPATCH_PROPERTYPUT, std::move(args)).hr;
  }
  Outcome Eval(std::u16string_view text) {
    std::vector<OwnedVariant> args;
    args.push_back(Text(text));
    return Call(m_control.get(), u"Eval", DISPATCH_METHOD, std::move(args));
  }
  Outcome AddCode(std::u16string_view text) {
    std::vector<OwnedVariant> args;
    args.push_back(Text(text));
    return Call(m_control.get(), u"AddCode", DISPATCH_METHOD, std::move(args));
  }
  std::u16string EvalText(std::u16string_view text) {
    Outcome out = Eval(text);
    EXPECT_EQ(out.hr, S_OK) << Narrow(text) << ": " << Narrow(out.description);
    OwnedVariant converted;
    if (FAILED(VariantChangeType(converted.get(), out.result.get(), 0, VT_BSTR))) return u"<no text>";
    return std::u16string(View(converted->bstrVal));
  }

  ComPtr<IDispatch> m_control;
};

TEST_F(ScriptControlTest, IsCreatedByProgIdOrClsid) {
  EXPECT_TRUE(Create(u"msscriptcontrol.scriptcontrol"));
  EXPECT_TRUE(Create(u"MSScriptControl.ScriptControl.1"));
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(u"{0E59F1D5-1FBE-11D0-8FF2-00A0D10038BC}", &clsid), S_OK);
  ComPtr<IDispatch> byClsid;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, byClsid.ReceiveVoid()), S_OK);
}

TEST_F(ScriptControlTest, LanguageNamesJavaScriptInAnyLetterCase) {
  // Before a language is chosen, code cannot run.
  EXPECT_EQ(Eval(u"1").hr, DISP_E_EXCEPTION);
  EXPECT_EQ(AddCode(u"var a = 1").hr, DISP_E_EXCEPTION);
  for (std::u16string_view name : {u"JScript", u"javascript", u"ECMAScript", u"JAVASCRIPT"}) {
    SCOPED_TRACE(Narrow(name));
    EXPECT_EQ(PutLanguage(name), S_OK);
    Outcome language = Call(m_control.get(), u"Language", DISPATCH_PROPERTYGET);
    ASSERT_EQ(language.result.vt(), VT_BSTR);
    EXPECT_EQ(View(language.result->bstrVal), name);
  }
  for (std::u16string_view name : {u"VBScript", u"Python", u"", u"Java Script"}) {
    SCOPED_TRACE(Narrow(name));
    EXPECT_EQ(PutLanguage(name), DISP_E_EXCEPTION);
  }
  // A failed change keeps the language that was set.
  EXPECT_EQ(View(Call(m_control.get(), u"Language", DISPATCH_PROPERTYGET).result->bstrVal), u"JAVASCRIPT");
  // Setting the language again starts a new engine.
  ASSERT_EQ(AddCode(u"var kept = 1").hr, S_OK);
  ASSERT_EQ(PutLanguage(u"JavaScript"), S_OK);
  EXPECT_EQ(Eval(u"kept").hr, DISP_E_EXCEPTION);
}

TEST_F(ScriptControlTest, EvalResultsHaveTheWindowsVariantTypes) {
  ASSERT_EQ(PutLanguage(u"JavaScript"), S_OK);
  struct Row {
    std::u16string_view text;
    VARTYPE vt;
    std::u16string_view asText;  // the result converted with VariantChangeType to VT_BSTR
  };
  const Row rows[] = {
      {u"3", VT_I4, u"3"},
      {u"2147483648", VT_R8, u"2147483648"},
      {u"3.5", VT_R8, u"3.5"},
      {u"'\u7b54\u6848'", VT_BSTR, u"答案"},
      {u"''", VT_BSTR, u""},
      {u"true", VT_BOOL, u""},
      {u"null", VT_NULL, u""},
      {u"undefined", VT_EMPTY, u""},
      {u"var declared = 1", VT_EMPTY, u""},
      {u"[1, 2, 3]", VT_DISPATCH, u"1,2,3"},
      {u"({a: 1})", VT_DISPATCH, u"[object Object]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    Outcome out = Eval(row.text);
    ASSERT_EQ(out.hr, S_OK) << Narrow(out.description);
    EXPECT_EQ(out.result.vt(), row.vt);
    if (row.vt == VT_NULL || row.vt == VT_BOOL) continue;  // checked by value below
    OwnedVariant converted;
    ASSERT_EQ(VariantChangeType(converted.get(), out.result.get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(View(converted->bstrVal), row.asText);
  }
  EXPECT_EQ(Eval(u"1 < 2").result->boolVal, VARIANT_TRUE);
  EXPECT_EQ(Eval(u"1 > 2").result->boolVal, VARIANT_FALSE);
}

TEST_F(ScriptControlTest, ScriptErrorsRaiseExceptionsAndKeepTheContext) {
  ASSERT_EQ(PutLanguage(u"JavaScript"), S_OK);
  ASSERT_EQ(AddCode(u"var da = {msg: 'ok'}").hr, S_OK);
  struct Row {
    std::u16string_view text;
    std::u16string_view description;
    SCODE scode;
  };
  const Row rows[] = {
      {u"throw new Error('boom')", u"boom", MakeFailure(0xA, 5022)},
      {u"var = 1", u"", MakeFailure(0xA, 1002)},
      {u"da.missing.member", u"", MakeFailure(0xA, 5022)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.text));
    for (bool viaAddCode : {false, true}) {
      Outcome out = viaAddCode ? AddCode(row.text) : Eval(row.text);
      EXPECT_EQ(out.hr, DISP_E_EXCEPTION);
      EXPECT_EQ(out.scode, row.scode);
      EXPECT_EQ(out.result.vt(), VT_EMPTY);
      if (row.description.empty()) {
        EXPECT_FALSE(out.description.empty());
      } else {
        EXPECT_EQ(out.description, row.description);
      }
    }
    EXPECT_EQ(EvalText(u"da.msg"), u"ok");
  }
}

// The conversation a JSON document holder has with its control: a prelude by AddCode, globals
// declared through Eval, a document pasted into an AddCode, reads and changes through Eval.
TEST_F(ScriptControlTest, CarriesAJsonDocumentConversation) {
  ASSERT_EQ(PutLanguage(u"JavaScript"), S_OK);
  ASSERT_EQ(AddCode(u"function get__count(c) { return Object.prototype.toString.call(c) == '[object Array]' ? "
                    u"c.length : 0 }")
                .hr,
            S_OK);
  ASSERT_EQ(Eval(u"var da = {}, str_Code = String.fromCharCode(9216), str_reg = new RegExp(str_Code, 'g')").hr, S_OK);
  ASSERT_EQ(Eval(u"var da = null").hr, S_OK);
  ASSERT_EQ(AddCode(u"var da = eval({\"msg\":\"ok\",\"data\":\"\u7b54\u6848\\\\u4e00\",\"list\":[1,2,{\"x\":null}]})").hr,
            S_OK);
  Outcome present = Eval(u"da != null");
  ASSERT_EQ(present.result.vt(), VT_BOOL);
  EXPECT_EQ(present.result->boolVal, VARIANT_TRUE);
  EXPECT_EQ(EvalText(u"da.data.toString().replace(str_reg, '\\\\')"), u"答案\\u4e00");
  EXPECT_EQ(EvalText(u"JSON.stringify(da.list).replace(str_reg, '\\\\')"), u"[1,2,{\"x\":null}]");
  EXPECT_EQ(EvalText(u"get__count(da.list)"), u"3");
  EXPECT_EQ(EvalText(u"Object.prototype.toString.call(da.msg)"), u"[object String]");
  ASSERT_EQ(Eval(u"da.note = 'a\\\\b'.replace(/\\\\/g, str_Code)").hr, S_OK);
  EXPECT_EQ(EvalText(u"JSON.stringify(da.note).replace(str_reg, '\\\\')"), u"\"a\\b\"");
  // "data" starts with the document's name: as a bare global it does not exist and fails.
  EXPECT_EQ(Eval(u"data != null").hr, DISP_E_EXCEPTION);
}

TEST_F(ScriptControlTest, MembersBindByNameThroughTypeInformation) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(m_control->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive()), S_OK);
  ComPtr<ITypeComp> comp;
  ASSERT_EQ(info->GetTypeComp(comp.Receive()), S_OK);
  struct Row {
    std::u16string_view name;
    WORD kind;
    DESCKIND expected;
  };
  const Row rows[] = {
      {u"eval", INVOKE_FUNC, DESCKIND_FUNCDESC},
      {u"ADDCODE", INVOKE_FUNC, DESCKIND_FUNCDESC},
      {u"Language", INVOKE_PROPERTYPUT, DESCKIND_FUNCDESC},
      {u"timeout", INVOKE_PROPERTYGET, DESCKIND_FUNCDESC},
      {u"NoSuchMember", INVOKE_FUNC, DESCKIND_NONE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.name));
    std::u16string name(row.name);
    ComPtr<ITypeInfo> owner;
    DESCKIND kind = DESCKIND_NONE;
    BINDPTR bound{};
    comp->Bind(name.data(), 0, row.kind, owner.Receive(), &kind, &bound);
    EXPECT_EQ(kind, row.expected);
    if (kind == DESCKIND_FUNCDESC) {
      EXPECT_EQ(bound.lpfuncdesc->invkind, row.kind);
      owner->ReleaseFuncDesc(bound.lpfuncdesc);
    }
  }
}

TEST_F(ScriptControlTest, ObjectResultsExposeTheirMembers) {
  ASSERT_EQ(PutLanguage(u"JavaScript"), S_OK);
  Outcome object = Eval(u"({n: 5, s: 'x', inner: [1, 2]})");
  ASSERT_EQ(object.result.vt(), VT_DISPATCH);
  IDispatch* doc = object.result->pdispVal;
  Outcome n = Call(doc, u"n", DISPATCH_PROPERTYGET);
  EXPECT_EQ(n.result.vt(), VT_I4);
  EXPECT_EQ(n.result->lVal, 5);
  EXPECT_EQ(View(Call(doc, u"s", DISPATCH_PROPERTYGET).result->bstrVal), u"x");
  Outcome inner = Call(doc, u"inner", DISPATCH_PROPERTYGET);
  ASSERT_EQ(inner.result.vt(), VT_DISPATCH);
  EXPECT_EQ(Call(inner.result->pdispVal, u"length", DISPATCH_PROPERTYGET).result->lVal, 2);
  EXPECT_EQ(Call(doc, u"missing", DISPATCH_PROPERTYGET).hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Call(doc, u"N", DISPATCH_PROPERTYGET).hr, DISP_E_UNKNOWNNAME);  // script names keep their case
  // The default value is the string form.
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  OwnedVariant value;
  ASSERT_EQ(doc->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, value.get(), nullptr, nullptr), S_OK);
  EXPECT_EQ(View(value->bstrVal), u"[object Object]");
  // The object outlives the control that made it.
  OwnedVariant keep;
  ASSERT_EQ(VariantCopy(keep.get(), object.result.get()), S_OK);
  m_control.Reset();
  object.result.Receive();
  OwnedVariant text;
  ASSERT_EQ(VariantChangeType(text.get(), keep.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(View(text->bstrVal), u"[object Object]");
}

TEST_F(ScriptControlTest, TimeoutCutsOffEndlessScripts) {
  ASSERT_EQ(PutLanguage(u"JavaScript"), S_OK);
  EXPECT_EQ(Call(m_control.get(), u"Timeout", DISPATCH_PROPERTYGET).result->lVal, 10000);
  std::vector<OwnedVariant> args;
  args.push_back(OwnedVariant::FromInt32(-2));
  EXPECT_EQ(Call(m_control.get(), u"Timeout", DISPATCH_PROPERTYPUT, std::move(args)).hr, E_INVALIDARG);
  if (!script::ScriptEngine::TimeoutsAvailable()) GTEST_SKIP() << "time limits are not available here";
  args.clear();
  args.push_back(OwnedVariant::FromInt32(100));
  ASSERT_EQ(Call(m_control.get(), u"Timeout", DISPATCH_PROPERTYPUT, std::move(args)).hr, S_OK);
  EXPECT_EQ(Call(m_control.get(), u"Timeout", DISPATCH_PROPERTYGET).result->lVal, 100);
  Outcome endless = Eval(u"for (;;) {}");
  EXPECT_EQ(endless.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(endless.scode, E_ABORT);
  EXPECT_EQ(EvalText(u"6 * 7"), u"42");
}

}  // namespace
}  // namespace win
