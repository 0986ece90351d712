#include "platform/com/script/script_control.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/dispatch_object.h"
#include "platform/com/registry.h"
#include "platform/com/script/script_dispatch.h"
#include "platform/com/script/script_engine.h"

namespace win {
namespace {

using script::ScriptEngine;

// Member ids of the control's interface.
enum : DISPID {
  kIdLanguage = 1500,
  kIdState,
  kIdSitehWnd,
  kIdTimeout,
  kIdAllowUI,
  kIdUseSafeSubset,
  kIdAddCode = 2000,
  kIdEval,
  kIdExecuteStatement,
  kIdReset = 2501,
};

// The Windows control looks the language up as the ProgID of a script engine, so its letter case
// does not matter; these are the names registered for the JavaScript engine.
constexpr std::u16string_view kJavaScriptNames[] = {
    u"JScript", u"JavaScript", u"ECMAScript", u"LiveScript", u"JavaScript1.1", u"JavaScript1.2", u"JavaScript1.3",
};

char16_t FoldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool NamesJavaScript(std::u16string_view language) {
  return std::any_of(std::begin(kJavaScriptNames), std::end(kJavaScriptNames), [&](std::u16string_view name) {
    return name.size() == language.size() &&
           std::equal(name.begin(), name.end(), language.begin(),
                      [](char16_t a, char16_t b) { return FoldCase(a) == FoldCase(b); });
  });
}

std::u16string_view BstrView(const VARIANT& v) {
  return v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)) : std::u16string_view();
}

// The control's own failures, reported like script errors.
constexpr HRESULT kLanguageNotSet = E_UNEXPECTED;
constexpr HRESULT kUnknownLanguage = CO_E_CLASSSTRING;

class ScriptControl final : public DispatchObject {
 public:
  ScriptControl() : DispatchObject(Type()) {}

  static std::shared_ptr<const DispatchType> Type() {
    using C = ScriptControl;
    static const auto type =
        TypeBuilder<C>(u"IScriptControl")
            .Property(u"Language", kIdLanguage, VT_BSTR, &C::GetLanguage, &C::PutLanguage)
            .Property(u"State", kIdState, VT_I4, &C::GetState, &C::PutState)
            .Property(u"SitehWnd", kIdSitehWnd, VT_I4, &C::GetSitehWnd, &C::PutSitehWnd)
            .Property(u"Timeout", kIdTimeout, VT_I4, &C::GetTimeout, &C::PutTimeout)
            .Property(u"AllowUI", kIdAllowUI, VT_BOOL, &C::GetAllowUI, &C::PutAllowUI)
            .Property(u"UseSafeSubset", kIdUseSafeSubset, VT_BOOL, &C::GetUseSafeSubset, &C::PutUseSafeSubset)
            .Method(u"AddCode", kIdAddCode, VT_EMPTY, {In(u"Code", VT_BSTR)}, &C::AddCode)
            .Method(u"Eval", kIdEval, VT_VARIANT, {In(u"Expression", VT_BSTR)}, &C::Eval)
            .Method(u"ExecuteStatement", kIdExecuteStatement, VT_EMPTY, {In(u"Statement", VT_BSTR)},
                    &C::ExecuteStatement)
            .Method(u"Reset", kIdReset, VT_EMPTY, {}, &C::Reset)
            .Build();
    return type;
  }

 private:
  HRESULT GetLanguage(Invocation& call) { return StoreText(call, m_language); }
  HRESULT PutLanguage(Invocation& call) {
    const std::u16string_view language = BstrView(call.Value());
    if (!NamesJavaScript(language)) {
      return call.Raise(kUnknownLanguage, u"The script language is not supported: " + std::u16string(language),
                        u"ScriptControl");
    }
    // Choosing a language starts a new engine, as on Windows: earlier code is dropped.
    m_language = language;
    m_engine.Reset();
    return S_OK;
  }

  HRESULT GetState(Invocation& call) { return StoreLong(call, m_state); }
  HRESULT PutState(Invocation& call) {
    const LONG state = call.Value().lVal;
    if (state != 0 && state != 1) return E_INVALIDARG;  // Initialized, Connected
    m_state = state;
    return S_OK;
  }
  HRESULT GetSitehWnd(Invocation& call) { return StoreLong(call, m_siteWindow); }
  HRESULT PutSitehWnd(Invocation& call) {
    m_siteWindow = call.Value().lVal;
    return S_OK;
  }

  // Milliseconds; -1 lets scripts run without limit (0 does too).
  HRESULT GetTimeout(Invocation& call) { return StoreLong(call, m_engine.Timeout()); }
  HRESULT PutTimeout(Invocation& call) {
    const LONG timeout = call.Value().lVal;
    if (timeout < ScriptEngine::kNoTimeout) return E_INVALIDARG;
    m_engine.SetTimeout(timeout == 0 ? ScriptEngine::kNoTimeout : timeout);
    return S_OK;
  }

  // There is no user interface for scripts to show and no safe subset to choose here: both are
  // kept and read back, and change nothing.
  HRESULT GetAllowUI(Invocation& call) { return StoreBool(call, m_allowUI); }
  HRESULT PutAllowUI(Invocation& call) {
    m_allowUI = call.Value().boolVal != VARIANT_FALSE;
    return S_OK;
  }
  HRESULT GetUseSafeSubset(Invocation& call) { return StoreBool(call, m_useSafeSubset); }
  HRESULT PutUseSafeSubset(Invocation& call) {
    m_useSafeSubset = call.Value().boolVal != VARIANT_FALSE;
    return S_OK;
  }

  HRESULT AddCode(Invocation& call) { return RunProgram(call); }
  HRESULT ExecuteStatement(Invocation& call) { return RunProgram(call); }

  HRESULT Eval(Invocation& call) {
    if (m_language.empty()) return RaiseNoLanguage(call);
    script::EvalResult result = m_engine.Eval(BstrView(call.Arg(0)));
    if (!result.Succeeded()) return RaiseScriptError(call, result.error);
    return StoreScriptValue(std::move(result.value), call.Result());
  }

  HRESULT Reset(Invocation&) {
    m_engine.Reset();
    return S_OK;
  }

  HRESULT RunProgram(Invocation& call) {
    if (m_language.empty()) return RaiseNoLanguage(call);
    const script::ScriptError error = m_engine.AddCode(BstrView(call.Arg(0)));
    return error.Failed() ? RaiseScriptError(call, error) : S_OK;
  }

  static HRESULT RaiseNoLanguage(Invocation& call) {
    return call.Raise(kLanguageNotSet, u"The Language property is not set", u"ScriptControl");
  }
  static HRESULT StoreText(Invocation& call, std::u16string_view text) {
    OwnedBstr copy = OwnedBstr::Copy(text);
    if (copy.get() == nullptr) return E_OUTOFMEMORY;
    call.Result()->vt = VT_BSTR;
    call.Result()->bstrVal = copy.Release();
    return S_OK;
  }
  static HRESULT StoreLong(Invocation& call, LONG value) {
    call.Result()->vt = VT_I4;
    call.Result()->lVal = value;
    return S_OK;
  }
  static HRESULT StoreBool(Invocation& call, bool value) {
    call.Result()->vt = VT_BOOL;
    call.Result()->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  ScriptEngine m_engine;
  std::u16string m_language;  // empty until set: code cannot run before
  LONG m_state = 0;
  LONG m_siteWindow = 0;
  bool m_allowUI = true;
  bool m_useSafeSubset = false;
};

}  // namespace

HRESULT RegisterScriptControlClass() {
  BuiltinClass cls;
  cls.clsid = CLSID_ScriptControl;
  cls.progIds = {u"MSScriptControl.ScriptControl", u"MSScriptControl.ScriptControl.1"};
  cls.create = &CreateDispatchInstance<ScriptControl>;
  return RegisterBuiltinClass(cls);
}

}  // namespace win
