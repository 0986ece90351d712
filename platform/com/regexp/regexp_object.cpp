// The automation objects of VBScript.RegExp. The RegExp object owns an engine; Execute copies the
// matches into a list that the collection, its Match objects and their SubMatches share, so each of
// them lives as long as anyone holds it, independent of the RegExp object.
#include "platform/com/regexp/regexp_object.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch_object.h"
#include "platform/com/registry.h"
#include "platform/com/regexp/regexp_engine.h"
#include "platform/com/variant.h"

namespace win {
namespace {

using regexp::RegExpEngine;
using regexp::RegExpError;
using regexp::RegExpFlags;
using regexp::RegExpMatch;
using MatchList = std::shared_ptr<const std::vector<RegExpMatch>>;

// VBScript's run-time errors, as the HRESULTs (FACILITY_CONTROL) its objects report.
constexpr HRESULT VBScriptError(uint32_t number) { return MakeFailure(0xA, number); }
constexpr std::u16string_view kErrorSource = u"Microsoft VBScript runtime error";

// Fails the call with the VBScript error that stands for an engine failure. The engine's limits
// have no counterpart of their own; a search stopped by them reports what a runaway search on
// Windows ends with, running out of stack space.
HRESULT RaiseEngineError(Invocation& call, RegExpError error) {
  switch (error) {
    case RegExpError::None:
      return S_OK;
    case RegExpError::Syntax:
      return call.Raise(VBScriptError(5017), u"Syntax error in regular expression", kErrorSource);
    case RegExpError::UnexpectedQuantifier:
      return call.Raise(VBScriptError(5018), u"Unexpected quantifier", kErrorSource);
    case RegExpError::ExpectedBracket:
      return call.Raise(VBScriptError(5019), u"Expected ']' in regular expression", kErrorSource);
    case RegExpError::ExpectedParen:
      return call.Raise(VBScriptError(5020), u"Expected ')' in regular expression", kErrorSource);
    case RegExpError::InvalidRange:
      return call.Raise(VBScriptError(5021), u"Invalid range in character set", kErrorSource);
    case RegExpError::MatchLimit:
      return call.Raise(VBScriptError(28), u"Out of stack space", kErrorSource);
    case RegExpError::TooComplex:
    case RegExpError::OutOfMemory:
      return call.Raise(VBScriptError(7), u"Out of memory", kErrorSource);
    case RegExpError::Internal:
      break;
  }
  return E_UNEXPECTED;
}

HRESULT RaiseBadIndex(Invocation& call) {
  return call.Raise(VBScriptError(5), u"Invalid procedure call or argument", kErrorSource);
}

std::u16string_view ViewOf(BSTR text) { return std::u16string_view(text ? text : u"", SysStringLen(text)); }

HRESULT SetText(Invocation& call, std::u16string_view text) {
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (copy == nullptr) return E_OUTOFMEMORY;
  call.Result()->vt = VT_BSTR;
  call.Result()->bstrVal = copy;
  return S_OK;
}

HRESULT SetLong(Invocation& call, size_t value) {
  // Positions and counts of a subject that a BSTR can hold always fit.
  call.Result()->vt = VT_I4;
  call.Result()->lVal = static_cast<LONG>(value);
  return S_OK;
}

template <class T>
HRESULT SetObject(Invocation& call, ComPtr<T> object) {
  if (!object) return E_OUTOFMEMORY;
  call.Result()->vt = VT_DISPATCH;
  call.Result()->pdispVal = object.Detach();
  return S_OK;
}

class SubMatchesObject final : public DispatchObject {
 public:
  SubMatchesObject(MatchList matches, size_t index)
      : DispatchObject(Type()), m_matches(std::move(matches)), m_index(index) {}

  static std::shared_ptr<const DispatchType> Type() {
    static const auto type = TypeBuilder<SubMatchesObject>(u"ISubMatches")
                                 .PropertyGet(u"Item", DISPID_VALUE, VT_VARIANT, {In(u"index", VT_I4)},
                                              &SubMatchesObject::Item)
                                 .PropertyGet(u"Count", 1, VT_I4, &SubMatchesObject::Count)
                                 .Build();
    return type;
  }

 private:
  const RegExpMatch& Match() const { return (*m_matches)[m_index]; }

  HRESULT Item(Invocation& call) {
    const LONG index = call.Arg(0).lVal;
    if (index < 0 || static_cast<size_t>(index) >= Match().subMatches.size()) return RaiseBadIndex(call);
    const auto& group = Match().subMatches[index];
    // A group that took no part stays VT_EMPTY, which is not the same as an empty string.
    return group ? SetText(call, *group) : S_OK;
  }
  HRESULT Count(Invocation& call) { return SetLong(call, Match().subMatches.size()); }

  MatchList m_matches;
  size_t m_index;
};

class MatchObject final : public DispatchObject {
 public:
  MatchObject(MatchList matches, size_t index)
      : DispatchObject(Type()), m_matches(std::move(matches)), m_index(index) {}

  static std::shared_ptr<const DispatchType> Type() {
    static const auto type = TypeBuilder<MatchObject>(u"IMatch2")
                                 .PropertyGet(u"Value", DISPID_VALUE, VT_BSTR, &MatchObject::Value)
                                 .PropertyGet(u"FirstIndex", 10001, VT_I4, &MatchObject::FirstIndex)
                                 .PropertyGet(u"Length", 10002, VT_I4, &MatchObject::Length)
                                 .PropertyGet(u"SubMatches", 10003, VT_DISPATCH, &MatchObject::SubMatches)
                                 .Build();
    return type;
  }

 private:
  const RegExpMatch& Match() const { return (*m_matches)[m_index]; }

  HRESULT Value(Invocation& call) { return SetText(call, Match().value); }
  HRESULT FirstIndex(Invocation& call) { return SetLong(call, Match().firstIndex); }
  HRESULT Length(Invocation& call) { return SetLong(call, Match().length); }
  HRESULT SubMatches(Invocation& call) {
    return SetObject(call, MakeDispatchObject<SubMatchesObject>(m_matches, m_index));
  }

  MatchList m_matches;
  size_t m_index;
};

class MatchCollectionObject final : public DispatchObject {
 public:
  explicit MatchCollectionObject(MatchList matches) : DispatchObject(Type()), m_matches(std::move(matches)) {}

  static std::shared_ptr<const DispatchType> Type() {
    static const auto type = TypeBuilder<MatchCollectionObject>(u"IMatchCollection2")
                                 .PropertyGet(u"Item", DISPID_VALUE, VT_DISPATCH, {In(u"index", VT_I4)},
                                              &MatchCollectionObject::Item)
                                 .PropertyGet(u"Count", 1, VT_I4, &MatchCollectionObject::Count)
                                 .Build();
    return type;
  }

 private:
  HRESULT Item(Invocation& call) {
    const LONG index = call.Arg(0).lVal;
    if (index < 0 || static_cast<size_t>(index) >= m_matches->size()) return RaiseBadIndex(call);
    return SetObject(call, MakeDispatchObject<MatchObject>(m_matches, static_cast<size_t>(index)));
  }
  HRESULT Count(Invocation& call) { return SetLong(call, m_matches->size()); }

  MatchList m_matches;
};

class RegExpObject final : public DispatchObject {
 public:
  RegExpObject() : DispatchObject(Type()) {}

  static std::shared_ptr<const DispatchType> Type() {
    static const auto type =
        TypeBuilder<RegExpObject>(u"IRegExp2")
            .Property(u"Pattern", 10001, VT_BSTR, &RegExpObject::GetPattern, &RegExpObject::PutPattern)
            .Property(u"IgnoreCase", 10002, VT_BOOL, &RegExpObject::GetIgnoreCase, &RegExpObject::PutIgnoreCase)
            .Property(u"Global", 10003, VT_BOOL, &RegExpObject::GetGlobal, &RegExpObject::PutGlobal)
            .Property(u"Multiline", 10004, VT_BOOL, &RegExpObject::GetMultiline, &RegExpObject::PutMultiline)
            .Method(u"Execute", 10005, VT_DISPATCH, {In(u"sourceString", VT_BSTR)}, &RegExpObject::Execute)
            .Method(u"Test", 10006, VT_BOOL, {In(u"sourceString", VT_BSTR)}, &RegExpObject::Test)
            .Method(u"Replace", 10007, VT_BSTR, {In(u"sourceString", VT_BSTR), In(u"replaceVar", VT_VARIANT)},
                    &RegExpObject::Replace)
            .Build();
    return type;
  }

 private:
  HRESULT GetPattern(Invocation& call) { return SetText(call, m_engine.Pattern()); }
  HRESULT PutPattern(Invocation& call) {
    m_engine.SetPattern(ViewOf(call.Value().bstrVal));
    return S_OK;
  }

  HRESULT GetFlag(Invocation& call, RegExpFlags flag) const {
    call.Result()->vt = VT_BOOL;
    call.Result()->boolVal = HasFlag(m_engine.Flags(), flag) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT PutFlag(Invocation& call, RegExpFlags flag) {
    const RegExpFlags others = m_engine.Flags() & ~flag;
    m_engine.SetFlags(call.Value().boolVal != VARIANT_FALSE ? others | flag : others);
    return S_OK;
  }
  HRESULT GetIgnoreCase(Invocation& call) { return GetFlag(call, RegExpFlags::IgnoreCase); }
  HRESULT PutIgnoreCase(Invocation& call) { return PutFlag(call, RegExpFlags::IgnoreCase); }
  HRESULT GetGlobal(Invocation& call) { return GetFlag(call, RegExpFlags::Global); }
  HRESULT PutGlobal(Invocation& call) { return PutFlag(call, RegExpFlags::Global); }
  HRESULT GetMultiline(Invocation& call) { return GetFlag(call, RegExpFlags::Multiline); }
  HRESULT PutMultiline(Invocation& call) { return PutFlag(call, RegExpFlags::Multiline); }

  HRESULT Execute(Invocation& call) {
    auto matches = std::make_shared<std::vector<RegExpMatch>>();
    if (RegExpError error = m_engine.Execute(ViewOf(call.Arg(0).bstrVal), *matches); error != RegExpError::None) {
      return RaiseEngineError(call, error);
    }
    return SetObject(call, MakeDispatchObject<MatchCollectionObject>(MatchList(std::move(matches))));
  }

  HRESULT Test(Invocation& call) {
    bool found = false;
    if (RegExpError error = m_engine.Test(ViewOf(call.Arg(0).bstrVal), found); error != RegExpError::None) {
      return RaiseEngineError(call, error);
    }
    call.Result()->vt = VT_BOOL;
    call.Result()->boolVal = found ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HRESULT Replace(Invocation& call) {
    // The replacement may be any value that converts to text.
    OwnedVariant replacement;
    if (HRESULT hr = VariantChangeTypeEx(replacement.get(), &call.Arg(1), call.Locale(), 0, VT_BSTR); FAILED(hr)) {
      return call.BadArgument(1, hr);
    }
    std::u16string result;
    if (RegExpError error = m_engine.Replace(ViewOf(call.Arg(0).bstrVal), ViewOf(replacement->bstrVal), result);
        error != RegExpError::None) {
      return RaiseEngineError(call, error);
    }
    return SetText(call, result);
  }

  RegExpEngine m_engine;
};

}  // namespace

HRESULT RegisterRegExpClass() {
  BuiltinClass cls;
  cls.clsid = CLSID_VBScriptRegExp;
  cls.progIds = {u"VBScript.RegExp"};
  cls.create = &CreateDispatchInstance<RegExpObject>;
  return RegisterBuiltinClass(cls);
}

}  // namespace win
