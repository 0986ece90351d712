// The VBScript.RegExp automation object as a late-bound caller sees it: created by ProgID, members
// bound by name, values and errors in Windows' types and codes.
#include "platform/com/regexp/regexp_object.h"

#include <gtest/gtest.h>

#include "common/late_bound_call.h"

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/initialise.h"
#include "platform/com/registry.h"
#include "platform/com/typeinfo.h"
#include "platform/com/variant.h"

namespace win {
namespace {

using namespace std::string_view_literals;

constexpr HRESULT kSyntaxError = static_cast<HRESULT>(0x800A1399);
constexpr HRESULT kUnexpectedQuantifier = static_cast<HRESULT>(0x800A139A);
constexpr HRESULT kExpectedBracket = static_cast<HRESULT>(0x800A139B);
constexpr HRESULT kExpectedParen = static_cast<HRESULT>(0x800A139C);
constexpr HRESULT kInvalidRange = static_cast<HRESULT>(0x800A139D);
constexpr HRESULT kInvalidCall = static_cast<HRESULT>(0x800A0005);
constexpr HRESULT kOutOfStack = static_cast<HRESULT>(0x800A001C);

using Outcome = qvtest::CallOutcome;

// Binds name with GetIDsOfNames and invokes it, as a script host does. Arguments in call order.
Outcome Call(IDispatch* object, std::u16string name, WORD flags, std::vector<OwnedVariant> args = {}) {
  return qvtest::LateBoundCall(object, name, flags, std::move(args));
}

Outcome Get(IDispatch* object, std::u16string name, std::vector<OwnedVariant> args = {}) {
  return Call(object, std::move(name), DISPATCH_PROPERTYGET, std::move(args));
}
Outcome Put(IDispatch* object, std::u16string name, OwnedVariant value) {
  std::vector<OwnedVariant> args;
  args.push_back(std::move(value));
  return Call(object, std::move(name), DISPATCH_PROPERTYPUT, std::move(args));
}
Outcome Method(IDispatch* object, std::u16string name, std::vector<OwnedVariant> args) {
  return Call(object, std::move(name), DISPATCH_METHOD, std::move(args));
}

template <class... V>
std::vector<OwnedVariant> Args(V&&... values) {
  std::vector<OwnedVariant> args;
  (args.push_back(std::forward<V>(values)), ...);
  return args;
}

std::u16string TextOf(const Outcome& outcome) {
  EXPECT_EQ(outcome.result.vt(), VT_BSTR);
  if (outcome.result.vt() != VT_BSTR) return u"<not a string>";
  return std::u16string(outcome.result->bstrVal, SysStringLen(outcome.result->bstrVal));
}

LONG LongOf(const Outcome& outcome) {
  EXPECT_EQ(outcome.result.vt(), VT_I4);
  return outcome.result.vt() == VT_I4 ? outcome.result->lVal : -12345;
}

ComPtr<IDispatch> ObjectOf(Outcome& outcome) {
  EXPECT_EQ(outcome.hr, S_OK);
  EXPECT_EQ(outcome.result.vt(), VT_DISPATCH);
  if (outcome.result.vt() != VT_DISPATCH) return nullptr;
  return ComPtr<IDispatch>::Share(outcome.result->pdispVal);
}

class RegExpObjectTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(RegisterRegExpClass(), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_VBScriptRegExp, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               regexp_.ReceiveVoid()),
              S_OK);
  }
  void TearDown() override {
    regexp_.Reset();
    CoUninitialize();
  }

  // Sets the pattern and flags, then runs Execute and returns the collection.
  ComPtr<IDispatch> Execute(std::u16string_view pattern, std::u16string_view subject, bool global = true,
                            bool ignoreCase = false) {
    EXPECT_EQ(Put(regexp_.get(), u"Pattern", OwnedVariant::FromText(pattern)).hr, S_OK);
    EXPECT_EQ(Put(regexp_.get(), u"Global", OwnedVariant::FromBool(global)).hr, S_OK);
    EXPECT_EQ(Put(regexp_.get(), u"IgnoreCase", OwnedVariant::FromBool(ignoreCase)).hr, S_OK);
    Outcome outcome = Method(regexp_.get(), u"Execute", Args(OwnedVariant::FromText(subject)));
    return ObjectOf(outcome);
  }

  ComPtr<IDispatch> regexp_;
};

TEST_F(RegExpObjectTest, FoundByProgIdAndClassId) {
  CLSID clsid = CLSID_NULL;
  ASSERT_EQ(CLSIDFromProgID(u"vbscript.REGEXP", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_VBScriptRegExp));
  ComPtr<IDispatch> second;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, second.ReceiveVoid()), S_OK);
  EXPECT_NE(second.get(), regexp_.get());
  UINT count = 7;
  EXPECT_EQ(regexp_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
}

struct MemberRow {
  std::u16string_view name;
  WORD kind;       // INVOKE_ kind to bind
  VARTYPE result;  // type of the result (VT_VOID for a put)
  std::vector<VARTYPE> params;
};

// Binds each member through the type information and checks its declared types.
void CheckMembers(IDispatch* object, const std::vector<MemberRow>& rows) {
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive()), S_OK);
  ComPtr<ITypeComp> comp;
  ASSERT_EQ(info->GetTypeComp(comp.Receive()), S_OK);
  for (const MemberRow& row : rows) {
    std::u16string name(row.name);
    SCOPED_TRACE(std::string(name.begin(), name.end()) + " kind " + std::to_string(row.kind));
    ComPtr<ITypeInfo> owner;
    DESCKIND kind = DESCKIND_NONE;
    BINDPTR bound{};
    ASSERT_EQ(comp->Bind(name.data(), 0, row.kind, owner.Receive(), &kind, &bound), S_OK);
    ASSERT_EQ(kind, DESCKIND_FUNCDESC);
    const FUNCDESC& desc = *bound.lpfuncdesc;
    EXPECT_EQ(desc.invkind, row.kind);
    EXPECT_EQ(desc.elemdescFunc.tdesc.vt, row.result);
    ASSERT_EQ(static_cast<size_t>(desc.cParams), row.params.size());
    for (size_t i = 0; i < row.params.size(); ++i) EXPECT_EQ(desc.lprgelemdescParam[i].tdesc.vt, row.params[i]);
    owner->ReleaseFuncDesc(bound.lpfuncdesc);
  }
}

TEST_F(RegExpObjectTest, MembersCarryWindowsTypes) {
  CheckMembers(regexp_.get(), {
                                  {u"pattern", INVOKE_PROPERTYGET, VT_BSTR, {}},
                                  {u"Pattern", INVOKE_PROPERTYPUT, VT_VOID, {VT_BSTR}},
                                  {u"IgnoreCase", INVOKE_PROPERTYGET, VT_BOOL, {}},
                                  {u"GLOBAL", INVOKE_PROPERTYPUT, VT_VOID, {VT_BOOL}},
                                  {u"Multiline", INVOKE_PROPERTYGET, VT_BOOL, {}},
                                  {u"Execute", INVOKE_FUNC, VT_DISPATCH, {VT_BSTR}},
                                  {u"Test", INVOKE_FUNC, VT_BOOL, {VT_BSTR}},
                                  {u"Replace", INVOKE_FUNC, VT_BSTR, {VT_BSTR, VT_VARIANT}},
                              });
  ComPtr<IDispatch> matches = Execute(u"(a)"sv, u"a"sv);
  ASSERT_TRUE(matches);
  CheckMembers(matches.get(), {
                                  {u"Count", INVOKE_PROPERTYGET, VT_I4, {}},
                                  {u"Item", INVOKE_PROPERTYGET, VT_DISPATCH, {VT_I4}},
                              });
  Outcome item = Get(matches.get(), u"Item", Args(OwnedVariant::FromInt32(0)));
  ComPtr<IDispatch> match = ObjectOf(item);
  ASSERT_TRUE(match);
  CheckMembers(match.get(), {
                                {u"Value", INVOKE_PROPERTYGET, VT_BSTR, {}},
                                {u"FirstIndex", INVOKE_PROPERTYGET, VT_I4, {}},
                                {u"Length", INVOKE_PROPERTYGET, VT_I4, {}},
                                {u"SubMatches", INVOKE_PROPERTYGET, VT_DISPATCH, {}},
                            });
  Outcome subs = Get(match.get(), u"SubMatches");
  ComPtr<IDispatch> subMatches = ObjectOf(subs);
  ASSERT_TRUE(subMatches);
  CheckMembers(subMatches.get(), {
                                     {u"Count", INVOKE_PROPERTYGET, VT_I4, {}},
                                     {u"Item", INVOKE_PROPERTYGET, VT_VARIANT, {VT_I4}},
                                 });
}

// The calls the program makes to find a page's character set: options written one by one (the
// write of the non-existent "Singleline" fails and changes nothing), Execute over text with
// Chinese before the match, then the first group of the first match. Item numbers arrive as
// doubles; the default members answer DISPID 0.
TEST_F(RegExpObjectTest, CharsetLookupAsTheProgramDoesIt) {
  EXPECT_EQ(Put(regexp_.get(), u"IgnoreCase", OwnedVariant::FromBool(true)).hr, S_OK);
  EXPECT_EQ(Put(regexp_.get(), u"Multiline", OwnedVariant::FromBool(true)).hr, S_OK);
  EXPECT_EQ(Put(regexp_.get(), u"Singleline", OwnedVariant::FromBool(true)).hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Put(regexp_.get(), u"Global", OwnedVariant::FromBool(true)).hr, S_OK);
  EXPECT_EQ(Put(regexp_.get(), u"Pattern", OwnedVariant::FromText(u"<meta.+?charset=[^\\w]?([-\\w]+)")).hr, S_OK);
  Outcome pattern = Get(regexp_.get(), u"Pattern");
  EXPECT_EQ(TextOf(pattern), u"<meta.+?charset=[^\\w]?([-\\w]+)");
  for (std::u16string_view flag : {u"IgnoreCase"sv, u"Multiline"sv, u"Global"sv}) {
    Outcome value = Get(regexp_.get(), std::u16string(flag));
    ASSERT_EQ(value.result.vt(), VT_BOOL);
    EXPECT_EQ(value.result->boolVal, VARIANT_TRUE);
  }

  const std::u16string_view subject = u"<title>标题</title>\r\n<META content=\"text/html; charset=gb2312\">"sv;
  Outcome executed = Method(regexp_.get(), u"Execute", Args(OwnedVariant::FromText(subject)));
  ComPtr<IDispatch> matches = ObjectOf(executed);
  ASSERT_TRUE(matches);
  EXPECT_EQ(LongOf(Get(matches.get(), u"Count")), 1);

  Outcome item = Get(matches.get(), u"Item", Args(OwnedVariant::FromDouble(0.0)));
  ComPtr<IDispatch> match = ObjectOf(item);
  ASSERT_TRUE(match);
  EXPECT_EQ(TextOf(Get(match.get(), u"Value")), u"<META content=\"text/html; charset=gb2312");
  EXPECT_EQ(LongOf(Get(match.get(), u"FirstIndex")), 19);  // 标题 are two units, not four bytes
  EXPECT_EQ(LongOf(Get(match.get(), u"Length")), 40);

  // The default member: DISPID_VALUE with no name.
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  OwnedVariant value;
  ASSERT_EQ(match->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, value.get(), nullptr, nullptr), S_OK);
  ASSERT_EQ(value.vt(), VT_BSTR);
  EXPECT_EQ(std::u16string_view(value->bstrVal), u"<META content=\"text/html; charset=gb2312"sv);

  Outcome subs = Get(match.get(), u"SubMatches");
  ComPtr<IDispatch> subMatches = ObjectOf(subs);
  ASSERT_TRUE(subMatches);
  EXPECT_EQ(LongOf(Get(subMatches.get(), u"Count")), 1);
  EXPECT_EQ(TextOf(Get(subMatches.get(), u"Item", Args(OwnedVariant::FromDouble(0.0)))), u"gb2312");
}

// A group that took no part is VT_EMPTY; one that matched nothing is an empty BSTR.
TEST_F(RegExpObjectTest, SubMatchesTellUnmatchedFromEmpty) {
  ComPtr<IDispatch> matches = Execute(u"(a)|(b)(x?)"sv, u"b"sv);
  ASSERT_TRUE(matches);
  Outcome item = Get(matches.get(), u"Item", Args(OwnedVariant::FromInt32(0)));
  ComPtr<IDispatch> match = ObjectOf(item);
  ASSERT_TRUE(match);
  Outcome subs = Get(match.get(), u"SubMatches");
  ComPtr<IDispatch> subMatches = ObjectOf(subs);
  ASSERT_TRUE(subMatches);
  ASSERT_EQ(LongOf(Get(subMatches.get(), u"Count")), 3);
  Outcome unmatched = Get(subMatches.get(), u"Item", Args(OwnedVariant::FromInt32(0)));
  EXPECT_EQ(unmatched.hr, S_OK);
  EXPECT_EQ(unmatched.result.vt(), VT_EMPTY);
  EXPECT_EQ(TextOf(Get(subMatches.get(), u"Item", Args(OwnedVariant::FromInt32(1)))), u"b");
  Outcome empty = Get(subMatches.get(), u"Item", Args(OwnedVariant::FromInt32(2)));
  ASSERT_EQ(empty.result.vt(), VT_BSTR);
  ASSERT_NE(empty.result->bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(empty.result->bstrVal), 0u);
}

TEST_F(RegExpObjectTest, ItemsOutsideTheCollectionFail) {
  ComPtr<IDispatch> matches = Execute(u"(a)"sv, u"aa"sv);
  ASSERT_TRUE(matches);
  ASSERT_EQ(LongOf(Get(matches.get(), u"Count")), 2);
  for (LONG index : {-1, 2, 1000}) {
    Outcome item = Get(matches.get(), u"Item", Args(OwnedVariant::FromInt32(index)));
    EXPECT_EQ(item.hr, DISP_E_EXCEPTION) << index;
    EXPECT_EQ(item.scode, kInvalidCall) << index;
    EXPECT_EQ(item.result.vt(), VT_EMPTY);
  }
  Outcome item = Get(matches.get(), u"Item", Args(OwnedVariant::FromInt32(1)));
  ComPtr<IDispatch> match = ObjectOf(item);
  ASSERT_TRUE(match);
  EXPECT_EQ(LongOf(Get(match.get(), u"FirstIndex")), 1);
  Outcome subs = Get(match.get(), u"SubMatches");
  ComPtr<IDispatch> subMatches = ObjectOf(subs);
  ASSERT_TRUE(subMatches);
  EXPECT_EQ(Get(subMatches.get(), u"Item", Args(OwnedVariant::FromInt32(1))).scode, kInvalidCall);
  EXPECT_EQ(Get(subMatches.get(), u"Item", Args(OwnedVariant::FromInt32(-1))).scode, kInvalidCall);
}

// Writing a faulty pattern succeeds and reads back; Execute, Test and Replace then fail with
// VBScript's error for the fault, and a good pattern afterwards works again.
TEST_F(RegExpObjectTest, FaultyPatternsFailTheCallsNotTheAssignment) {
  const struct {
    std::u16string_view pattern;
    HRESULT scode;
  } rows[] = {
      {u"(?<=a)b", kSyntaxError},       {u")", kSyntaxError},          {u"*a", kUnexpectedQuantifier},
      {u"[a", kExpectedBracket},        {u"(a", kExpectedParen},       {u"[z-a]", kInvalidRange},
      {u"(a+)+$", kOutOfStack},  // valid, but stopped by the match limit on this subject
  };
  const std::u16string subject = std::u16string(30, u'a') + u"b";
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.pattern.begin(), row.pattern.end()));
    ASSERT_EQ(Put(regexp_.get(), u"Pattern", OwnedVariant::FromText(row.pattern)).hr, S_OK);
    EXPECT_EQ(TextOf(Get(regexp_.get(), u"Pattern")), row.pattern);
    for (std::u16string method : {u"Execute", u"Test"}) {
      Outcome outcome = Method(regexp_.get(), method, Args(OwnedVariant::FromText(subject)));
      EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION);
      EXPECT_EQ(outcome.scode, row.scode);
      EXPECT_EQ(outcome.result.vt(), VT_EMPTY);
    }
    Outcome replaced =
        Method(regexp_.get(), u"Replace", Args(OwnedVariant::FromText(subject), OwnedVariant::FromText(u"x")));
    EXPECT_EQ(replaced.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(replaced.scode, row.scode);
  }
  ComPtr<IDispatch> matches = Execute(u"a+"sv, u"baab"sv);
  ASSERT_TRUE(matches);
  EXPECT_EQ(LongOf(Get(matches.get(), u"Count")), 1);
}

TEST_F(RegExpObjectTest, ReplaceAndTestFollowTheFlags) {
  ASSERT_EQ(Put(regexp_.get(), u"Pattern", OwnedVariant::FromText(u"(\\d)")).hr, S_OK);
  auto replace = [&](OwnedVariant replacement) {
    Outcome outcome = Method(regexp_.get(), u"Replace", Args(OwnedVariant::FromText(u"a1b2"), std::move(replacement)));
    EXPECT_EQ(outcome.hr, S_OK);
    return outcome.hr == S_OK ? TextOf(outcome) : u"<failed>";
  };
  // Global starts false: only the first match is replaced.
  EXPECT_EQ(replace(OwnedVariant::FromText(u"<$1$&$$>")), u"a<11$>b2");
  ASSERT_EQ(Put(regexp_.get(), u"Global", OwnedVariant::FromBool(true)).hr, S_OK);
  EXPECT_EQ(replace(OwnedVariant::FromText(u"[$`]")), u"a[a]b[a1b]");
  EXPECT_EQ(replace(OwnedVariant::FromInt32(7)), u"a7b7");  // any value that converts to text
  OwnedVariant null;
  null->vt = VT_NULL;
  EXPECT_EQ(Method(regexp_.get(), u"Replace", Args(OwnedVariant::FromText(u"a1"), std::move(null))).hr,
            DISP_E_TYPEMISMATCH);

  ASSERT_EQ(Put(regexp_.get(), u"Pattern", OwnedVariant::FromText(u"B")).hr, S_OK);
  Outcome found = Method(regexp_.get(), u"Test", Args(OwnedVariant::FromText(u"abc")));
  ASSERT_EQ(found.result.vt(), VT_BOOL);
  EXPECT_EQ(found.result->boolVal, VARIANT_FALSE);
  ASSERT_EQ(Put(regexp_.get(), u"IgnoreCase", OwnedVariant::FromBool(true)).hr, S_OK);
  found = Method(regexp_.get(), u"Test", Args(OwnedVariant::FromText(u"abc")));
  ASSERT_EQ(found.result.vt(), VT_BOOL);
  EXPECT_EQ(found.result->boolVal, VARIANT_TRUE);
}

// A collection keeps its own matches: a later Execute, a new pattern or the release of the RegExp
// object does not change it.
TEST_F(RegExpObjectTest, CollectionsOutliveTheirRegExp) {
  ComPtr<IDispatch> first = Execute(u"\\d+"sv, u"12 345"sv);
  ASSERT_TRUE(first);
  ComPtr<IDispatch> second = Execute(u"[a-z]"sv, u"xyz"sv);
  ASSERT_TRUE(second);
  Outcome item = Get(first.get(), u"Item", Args(OwnedVariant::FromInt32(1)));
  ComPtr<IDispatch> match = ObjectOf(item);
  ASSERT_TRUE(match);
  regexp_.Reset();
  second.Reset();
  EXPECT_EQ(LongOf(Get(first.get(), u"Count")), 2);
  first.Reset();
  EXPECT_EQ(TextOf(Get(match.get(), u"Value")), u"345");
  EXPECT_EQ(LongOf(Get(match.get(), u"FirstIndex")), 3);
}

}  // namespace
}  // namespace win
