// DispatchObject and its type information: binding names through GetTypeInfo -> GetTypeComp ->
// Bind in any letter case, the FUNCDESC / VARDESC it gives, and Invoke's handling of argument
// order, named and missing arguments, conversions, counts and failures.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/com/dispatch_object.h"
#include "platform/com/safearray.h"

namespace win {
namespace {

constexpr IID kSampleIid = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

class Sample : public DispatchObject {
 public:
  explicit Sample(TypeInfoAccess access = TypeInfoAccess::Provide, bool* destroyed = nullptr)
      : DispatchObject(Type(), access), m_destroyed(destroyed) {}
  ~Sample() override {
    if (m_destroyed) *m_destroyed = true;
  }

  static std::shared_ptr<const DispatchType> Type() {
    static const auto type =
        TypeBuilder<Sample>(u"ISample", kSampleIid)
            .Property(u"Name", 1, VT_BSTR, &Sample::GetName, &Sample::PutName)
            .Method(u"Join", 2, VT_BSTR, {In(u"first", VT_BSTR), In(u"second", VT_BSTR), Optional(u"separator", VT_BSTR)},
                    &Sample::Join)
            .Method(u"Sum", 3, VT_R8, {In(u"first", VT_R8)}, &Sample::Sum, ArgList::Variable)
            .PropertyGet(u"Item", 0, VT_VARIANT, {In(u"index", VT_I4)}, &Sample::GetItem)
            .PropertyPut(u"Item", 0, VT_VARIANT, {In(u"index", VT_I4)}, &Sample::PutItem)
            .Variable(u"Tag", 4, VT_I4, &Sample::Tag)
            .PropertyPutRef(u"Child", 5, VT_DISPATCH, &Sample::SetChild)
            .Method(u"Fail", 6, VT_EMPTY, {}, &Sample::Fail)
            .Method(u"Repeat", 7, VT_BSTR, {In(u"text", VT_BSTR), Optional(u"times", VT_I4, LONG{2})}, &Sample::Repeat)
            .Method(u"Swap", 8, VT_EMPTY, {InOut(u"value", VT_I4)}, &Sample::Swap)
            .Method(u"Throw", 9, VT_EMPTY, {}, &Sample::Throw)
            .Build();
    return type;
  }

  HRESULT GetName(Invocation& call) { return SetText(call, m_name); }
  HRESULT PutName(Invocation& call) {
    m_name.assign(call.Value().bstrVal, SysStringLen(call.Value().bstrVal));
    return S_OK;
  }
  HRESULT Join(Invocation& call) {
    std::u16string out = Text(call.Arg(0));
    if (call.Has(2)) out += Text(call.Arg(2));
    out += Text(call.Arg(1));
    return SetText(call, out);
  }
  HRESULT Sum(Invocation& call) {
    double total = call.Arg(0).dblVal;
    for (UINT i = 0; i < call.ExtraCount(); ++i) {
      OwnedVariant v;
      const HRESULT hr = VariantChangeType(v.get(), &call.Extra(i), 0, VT_R8);
      if (FAILED(hr)) return hr;
      total += v->dblVal;
    }
    call.Result()->vt = VT_R8;
    call.Result()->dblVal = total;
    return S_OK;
  }
  HRESULT GetItem(Invocation& call) { return VariantCopy(call.Result(), m_items[Slot(call)].get()); }
  HRESULT PutItem(Invocation& call) { return VariantCopy(m_items[Slot(call)].get(), &call.Value()); }
  HRESULT Tag(Invocation& call) {
    if (call.IsPut()) {
      m_tag = call.Value().lVal;
      return S_OK;
    }
    call.Result()->vt = VT_I4;
    call.Result()->lVal = m_tag;
    return S_OK;
  }
  HRESULT SetChild(Invocation&) {
    ++childSets;
    return S_OK;
  }
  HRESULT Fail(Invocation& call) { return call.Raise(E_FAIL, u"it failed", u"Sample"); }
  HRESULT Repeat(Invocation& call) {
    std::u16string out;
    for (LONG i = 0; i < call.Arg(1).lVal; ++i) out += Text(call.Arg(0));
    return SetText(call, out);
  }
  HRESULT Swap(Invocation& call) {
    *call.Arg(0).plVal = -*call.Arg(0).plVal;
    return S_OK;
  }
  HRESULT Throw(Invocation&) { throw std::bad_alloc(); }

  int childSets = 0;

 private:
  static std::u16string Text(const VARIANT& v) { return {v.bstrVal, SysStringLen(v.bstrVal)}; }
  static HRESULT SetText(Invocation& call, std::u16string_view text) {
    call.Result()->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (call.Result()->bstrVal == nullptr) return E_OUTOFMEMORY;
    call.Result()->vt = VT_BSTR;
    return S_OK;
  }
  static size_t Slot(Invocation& call) { return static_cast<size_t>(call.Arg(0).lVal) % 4; }

  std::u16string m_name = u"initial";
  OwnedVariant m_items[4];
  LONG m_tag = 0;
  bool* m_destroyed;
};

// Arguments in the order a caller writes them; Invoke receives them reversed.
struct Call {
  HRESULT hr = E_UNEXPECTED;
  OwnedVariant result;
  UINT argError = 0xDEAD;
};

Call Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<OwnedVariant> args,
            std::vector<DISPID> namedIds = {}, EXCEPINFO* exception = nullptr) {
  // Named arguments are the last ones written, and come first in rgvarg.
  std::vector<VARIANT> rgvarg;
  const size_t named = namedIds.size();
  for (size_t i = 0; i < named; ++i) rgvarg.push_back(*args[args.size() - named + i].get());
  for (size_t i = args.size() - named; i-- > 0;) rgvarg.push_back(*args[i].get());
  DISPPARAMS params{rgvarg.data(), namedIds.data(), static_cast<UINT>(rgvarg.size()), static_cast<UINT>(named)};
  Call call;
  call.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, call.result.get(), exception,
                           &call.argError);
  return call;
}

std::vector<OwnedVariant> Args() { return {}; }
template <class... Rest>
std::vector<OwnedVariant> Args(OwnedVariant first, Rest... rest) {
  std::vector<OwnedVariant> out;
  out.push_back(std::move(first));
  (out.push_back(std::move(rest)), ...);
  return out;
}
OwnedVariant T(std::u16string_view s) { return OwnedVariant::FromText(s); }
OwnedVariant N(LONG n) { return OwnedVariant::FromInt32(n); }
OwnedVariant Missing() {
  OwnedVariant v;
  v->vt = VT_ERROR;
  v->scode = DISP_E_PARAMNOTFOUND;
  return v;
}
std::u16string TextOf(const OwnedVariant& v) {
  return v.vt() == VT_BSTR ? std::u16string(v->bstrVal, SysStringLen(v->bstrVal)) : u"<not text>";
}

// The type comp of an object, reached the way a late-binding caller reaches it.
ComPtr<ITypeComp> TypeCompOf(IDispatch* object) {
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive()), S_OK);
  ComPtr<ITypeComp> comp;
  if (info) {
    EXPECT_EQ(info->GetTypeComp(comp.Receive()), S_OK);
  }
  return comp;
}

struct Bound {
  HRESULT hr;
  ComPtr<ITypeInfo> info;
  DESCKIND kind;
  BINDPTR ptr;
  ~Bound() {
    if (kind == DESCKIND_FUNCDESC) info->ReleaseFuncDesc(ptr.lpfuncdesc);
    if (kind == DESCKIND_VARDESC) info->ReleaseVarDesc(ptr.lpvardesc);
  }
};

std::unique_ptr<Bound> Bind(ITypeComp* comp, std::u16string name, WORD flags) {
  auto b = std::make_unique<Bound>();
  b->kind = static_cast<DESCKIND>(0x7777);
  b->ptr.lpfuncdesc = reinterpret_cast<FUNCDESC*>(0x1);
  b->hr = comp->Bind(name.data(), LHashValOfName(LOCALE_USER_DEFAULT, name.c_str()), flags, b->info.Receive(),
                     &b->kind, &b->ptr);
  return b;
}

TEST(ComDispatch, BindFindsMembersInAnyLetterCase) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  ComPtr<ITypeComp> comp = TypeCompOf(object.get());
  ASSERT_TRUE(comp);
  for (const char16_t* name : {u"Join", u"join", u"JOIN", u"jOiN"}) {
    auto b = Bind(comp.get(), name, INVOKE_FUNC);
    ASSERT_EQ(b->hr, S_OK);
    ASSERT_EQ(b->kind, DESCKIND_FUNCDESC);
    ASSERT_TRUE(b->info);
    const FUNCDESC& f = *b->ptr.lpfuncdesc;
    EXPECT_EQ(f.memid, 2);
    EXPECT_EQ(f.invkind, INVOKE_FUNC);
    EXPECT_EQ(f.funckind, FUNC_DISPATCH);
    EXPECT_EQ(f.cParams, 3);
    EXPECT_EQ(f.cParamsOpt, 0);
    EXPECT_EQ(f.elemdescFunc.tdesc.vt, VT_BSTR);
    EXPECT_EQ(f.lprgelemdescParam[0].tdesc.vt, VT_BSTR);
    EXPECT_EQ(f.lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
    EXPECT_EQ(f.lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT);
  }
}

TEST(ComDispatch, BindMatchesTheInvokeKind) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  ComPtr<ITypeComp> comp = TypeCompOf(object.get());
  ASSERT_TRUE(comp);
  struct Row {
    const char16_t* name;
    WORD flags;
    HRESULT hr;
    DESCKIND kind;
    INVOKEKIND invkind;  // for functions
    SHORT params;
  };
  const Row rows[] = {
      {u"name", INVOKE_PROPERTYGET, S_OK, DESCKIND_FUNCDESC, INVOKE_PROPERTYGET, 0},
      {u"NAME", INVOKE_PROPERTYPUT, S_OK, DESCKIND_FUNCDESC, INVOKE_PROPERTYPUT, 1},
      {u"Name", INVOKE_FUNC, TYPE_E_TYPEMISMATCH, DESCKIND_NONE, INVOKE_FUNC, 0},
      {u"Name", INVOKE_PROPERTYPUTREF, TYPE_E_TYPEMISMATCH, DESCKIND_NONE, INVOKE_FUNC, 0},
      {u"Name", 0, S_OK, DESCKIND_FUNCDESC, INVOKE_PROPERTYGET, 0},
      {u"Join", INVOKE_PROPERTYGET, TYPE_E_TYPEMISMATCH, DESCKIND_NONE, INVOKE_FUNC, 0},
      {u"Join", INVOKE_PROPERTYGET | INVOKE_FUNC, S_OK, DESCKIND_FUNCDESC, INVOKE_FUNC, 3},
      {u"item", INVOKE_PROPERTYPUT, S_OK, DESCKIND_FUNCDESC, INVOKE_PROPERTYPUT, 2},
      {u"child", INVOKE_PROPERTYPUTREF, S_OK, DESCKIND_FUNCDESC, INVOKE_PROPERTYPUTREF, 1},
      {u"tag", INVOKE_PROPERTYGET, S_OK, DESCKIND_VARDESC, INVOKE_FUNC, 0},
      {u"Tag", INVOKE_PROPERTYPUT, S_OK, DESCKIND_VARDESC, INVOKE_FUNC, 0},
      {u"Tag", INVOKE_FUNC, TYPE_E_TYPEMISMATCH, DESCKIND_NONE, INVOKE_FUNC, 0},
      {u"Nothing", INVOKE_FUNC, S_OK, DESCKIND_NONE, INVOKE_FUNC, 0},
      {u"Joi", 0, S_OK, DESCKIND_NONE, INVOKE_FUNC, 0},
      {u"", 0, S_OK, DESCKIND_NONE, INVOKE_FUNC, 0},
  };
  for (const Row& row : rows) {
    const std::string label = std::to_string(row.flags) + " " + std::string(row.name, row.name + std::char_traits<char16_t>::length(row.name));
    auto b = Bind(comp.get(), row.name, row.flags);
    EXPECT_EQ(b->hr, row.hr) << label;
    EXPECT_EQ(b->kind, row.kind) << label;
    if (row.kind == DESCKIND_NONE) {
      EXPECT_FALSE(b->info) << label;
      EXPECT_EQ(b->ptr.lpfuncdesc, nullptr) << label;
    } else if (row.kind == DESCKIND_FUNCDESC) {
      EXPECT_EQ(b->ptr.lpfuncdesc->invkind, row.invkind) << label;
      EXPECT_EQ(b->ptr.lpfuncdesc->cParams, row.params) << label;
    } else {
      EXPECT_EQ(b->ptr.lpvardesc->memid, 4) << label;
      EXPECT_EQ(b->ptr.lpvardesc->varkind, VAR_DISPATCH);
      EXPECT_EQ(b->ptr.lpvardesc->elemdescVar.tdesc.vt, VT_I4);
    }
  }
  DESCKIND kind;
  BINDPTR ptr;
  ITypeInfo* info;
  EXPECT_EQ(comp->Bind(nullptr, 0, 0, &info, &kind, &ptr), E_INVALIDARG);
  char16_t name[] = u"Join";
  EXPECT_EQ(comp->Bind(name, 0, 0, nullptr, &kind, &ptr), E_INVALIDARG);
}

TEST(ComDispatch, DescriptionsOfSpecialParameters) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  ComPtr<ITypeComp> comp = TypeCompOf(object.get());
  ASSERT_TRUE(comp);
  auto sum = Bind(comp.get(), u"Sum", INVOKE_FUNC);
  ASSERT_EQ(sum->kind, DESCKIND_FUNCDESC);
  EXPECT_EQ(sum->ptr.lpfuncdesc->cParamsOpt, -1) << "a variable argument list";
  ASSERT_EQ(sum->ptr.lpfuncdesc->cParams, 2);
  const TYPEDESC& rest = sum->ptr.lpfuncdesc->lprgelemdescParam[1].tdesc;
  EXPECT_EQ(rest.vt, VT_SAFEARRAY);
  EXPECT_EQ(rest.lptdesc->vt, VT_VARIANT);

  auto swap = Bind(comp.get(), u"Swap", INVOKE_FUNC);
  ASSERT_EQ(swap->kind, DESCKIND_FUNCDESC);
  const ELEMDESC& byRef = swap->ptr.lpfuncdesc->lprgelemdescParam[0];
  EXPECT_EQ(byRef.tdesc.vt, VT_PTR);
  EXPECT_EQ(byRef.tdesc.lptdesc->vt, VT_I4);
  EXPECT_EQ(byRef.paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
  EXPECT_EQ(swap->ptr.lpfuncdesc->elemdescFunc.tdesc.vt, VT_VOID);

  auto repeat = Bind(comp.get(), u"Repeat", INVOKE_FUNC);
  ASSERT_EQ(repeat->kind, DESCKIND_FUNCDESC);
  const PARAMDESC& times = repeat->ptr.lpfuncdesc->lprgelemdescParam[1].paramdesc;
  EXPECT_EQ(times.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
  ASSERT_NE(times.pparamdescex, nullptr);
  EXPECT_EQ(times.pparamdescex->varDefaultValue.vt, VT_I4);
  EXPECT_EQ(times.pparamdescex->varDefaultValue.lVal, 2);
}

TEST(ComDispatch, TypeInformationDescribesADispinterface) {
  bool destroyed = false;
  ComPtr<Sample> object = MakeDispatchObject<Sample>(TypeInfoAccess::Provide, &destroyed);
  UINT count = 7;
  ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(1, 0, info.Receive()), DISP_E_BADINDEX);
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.Receive()), S_OK);
  object.Reset();
  EXPECT_TRUE(destroyed) << "the type information does not keep the object alive";

  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_TRUE(IsEqualGUID(attr->guid, kSampleIid));
  EXPECT_EQ(attr->cFuncs, 11);
  EXPECT_EQ(attr->cVars, 1);
  info->ReleaseTypeAttr(attr);

  FUNCDESC* f = nullptr;
  EXPECT_EQ(info->GetFuncDesc(11, &f), TYPE_E_ELEMENTNOTFOUND);
  ASSERT_EQ(info->GetFuncDesc(0, &f), S_OK);
  EXPECT_EQ(f->memid, 1);
  info->ReleaseFuncDesc(f);
  VARDESC* v = nullptr;
  EXPECT_EQ(info->GetVarDesc(1, &v), TYPE_E_ELEMENTNOTFOUND);

  BSTR names[4] = {};
  UINT got = 0;
  ASSERT_EQ(info->GetNames(2, names, 2, &got), S_OK);
  ASSERT_EQ(got, 2u);
  EXPECT_EQ(std::u16string_view(names[0]), u"Join");
  EXPECT_EQ(std::u16string_view(names[1]), u"first");
  for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);
  EXPECT_EQ(info->GetNames(99, names, 4, &got), TYPE_E_ELEMENTNOTFOUND);

  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(std::u16string_view(name), u"ISample");
  SysFreeString(name);
  EXPECT_EQ(info->GetDocumentation(99, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
  void* instance = nullptr;
  EXPECT_EQ(info->CreateInstance(nullptr, IID_IUnknown, &instance), TYPE_E_BADMODULEKIND);
}

TEST(ComDispatch, GetIDsOfNamesMapsMembersAndParameters) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  char16_t member[] = u"JOIN", p1[] = u"Second", p2[] = u"nope";
  LPOLESTR names[] = {member, p1, p2};
  DISPID ids[3] = {0x77, 0x77, 0x77};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
  char16_t unknown[] = u"Unknown";
  LPOLESTR one[] = {unknown};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, one, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(object->GetIDsOfNames(kSampleIid, one, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST(ComDispatch, ArgumentsArriveInDeclarationOrder) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  Call two = Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"b")));
  ASSERT_EQ(two.hr, S_OK);
  EXPECT_EQ(TextOf(two.result), u"ab");
  Call three = Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"b"), T(u"-")));
  ASSERT_EQ(three.hr, S_OK);
  EXPECT_EQ(TextOf(three.result), u"a-b");
  // Named arguments, in any order: ids are parameter positions.
  Call named = Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"b"), T(u"a")), {1, 0});
  ASSERT_EQ(named.hr, S_OK);
  EXPECT_EQ(TextOf(named.result), u"ab");
  Call mixed = Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"+"), T(u"b")), {2, 1});
  ASSERT_EQ(mixed.hr, S_OK);
  EXPECT_EQ(TextOf(mixed.result), u"a+b");
}

TEST(ComDispatch, ArgumentsAreConvertedToTheDeclaredTypes) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  Call join = Invoke(object.get(), 2, DISPATCH_METHOD, Args(N(1), OwnedVariant::FromDouble(2.5)));
  ASSERT_EQ(join.hr, S_OK);
  EXPECT_EQ(TextOf(join.result), u"12.5");

  Call bad = Invoke(object.get(), 3, DISPATCH_METHOD, Args(T(u"abc")));
  EXPECT_EQ(bad.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bad.argError, 0u);
  Call overflow = Invoke(object.get(), 7, DISPATCH_METHOD, Args(T(u"x"), OwnedVariant::FromDouble(1e20)));
  EXPECT_EQ(overflow.hr, DISP_E_OVERFLOW);
  EXPECT_EQ(overflow.argError, 0u) << "rgvarg index of the second argument";
  Call nullText = Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), [] {
                           OwnedVariant v;
                           v->vt = VT_NULL;
                           return v;
                         }()));
  EXPECT_EQ(nullText.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(nullText.argError, 0u);
}

TEST(ComDispatch, MissingArgumentsAndCounts) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  struct Row {
    std::vector<OwnedVariant> args;
    HRESULT hr;
    std::u16string text;
    UINT argError;
  };
  std::vector<Row> rows;
  rows.push_back({Args(T(u"x")), S_OK, u"xx", 0xDEAD});                 // the default applies
  rows.push_back({Args(T(u"x"), Missing()), S_OK, u"xx", 0xDEAD});      // explicitly missing: default
  rows.push_back({Args(T(u"x"), N(3)), S_OK, u"xxx", 0xDEAD});
  rows.push_back({Args(Missing(), N(3)), DISP_E_PARAMNOTOPTIONAL, u"", 1});
  rows.push_back({Args(), DISP_E_BADPARAMCOUNT, u"", 0xDEAD});
  rows.push_back({Args(T(u"x"), N(1), N(2)), DISP_E_BADPARAMCOUNT, u"", 0xDEAD});
  for (size_t k = 0; k < rows.size(); ++k) {
    Call c = Invoke(object.get(), 7, DISPATCH_METHOD, std::move(rows[k].args));
    EXPECT_EQ(c.hr, rows[k].hr) << "row " << k;
    if (SUCCEEDED(c.hr)) {
      EXPECT_EQ(TextOf(c.result), rows[k].text) << "row " << k;
    }
    EXPECT_EQ(c.argError, rows[k].argError) << "row " << k;
  }
  // An optional parameter without a default arrives as VT_ERROR / DISP_E_PARAMNOTFOUND.
  Call join = Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"b"), Missing()));
  ASSERT_EQ(join.hr, S_OK);
  EXPECT_EQ(TextOf(join.result), u"ab");
  EXPECT_EQ(Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"))).hr, DISP_E_BADPARAMCOUNT);
  Call unknownName = Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"b")), {5});
  EXPECT_EQ(unknownName.hr, DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(unknownName.argError, 0u);
  EXPECT_EQ(Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"b")), {0}).hr, DISP_E_PARAMNOTFOUND)
      << "a parameter given both by position and by name";
}

TEST(ComDispatch, VariableArgumentLists) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  Call sum = Invoke(object.get(), 3, DISPATCH_METHOD, Args(N(1), T(u"2"), OwnedVariant::FromDouble(3.5)));
  ASSERT_EQ(sum.hr, S_OK);
  EXPECT_EQ(sum.result->vt, VT_R8);
  EXPECT_EQ(sum.result->dblVal, 6.5);
  Call one = Invoke(object.get(), 3, DISPATCH_METHOD, Args(N(4)));
  ASSERT_EQ(one.hr, S_OK);
  EXPECT_EQ(one.result->dblVal, 4.0);
}

TEST(ComDispatch, PropertiesGetAndPut) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  Call get = Invoke(object.get(), 1, DISPATCH_PROPERTYGET, Args());
  ASSERT_EQ(get.hr, S_OK);
  EXPECT_EQ(TextOf(get.result), u"initial");
  ASSERT_EQ(Invoke(object.get(), 1, DISPATCH_PROPERTYPUT, Args(N(5)), {DISPID_PROPERTYPUT}).hr, S_OK);
  Call asMethod = Invoke(object.get(), 1, DISPATCH_METHOD | DISPATCH_PROPERTYGET, Args());
  ASSERT_EQ(asMethod.hr, S_OK);
  EXPECT_EQ(TextOf(asMethod.result), u"5") << "the value was converted to the property's type";
  ASSERT_EQ(Invoke(object.get(), 1, DISPATCH_PROPERTYPUT, Args(T(u"unnamed"))).hr, S_OK)
      << "a put whose value is not named takes the last argument";
  EXPECT_EQ(TextOf(Invoke(object.get(), 1, DISPATCH_PROPERTYGET, Args()).result), u"unnamed");
  EXPECT_EQ(Invoke(object.get(), 1, DISPATCH_PROPERTYPUT, Args()).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Invoke(object.get(), 1, DISPATCH_PROPERTYGET, Args(N(1))).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Invoke(object.get(), 1, DISPATCH_METHOD, Args()).hr, DISP_E_MEMBERNOTFOUND);

  // An indexed property: the index first, the value as the named argument.
  ASSERT_EQ(Invoke(object.get(), 0, DISPATCH_PROPERTYPUT, Args(N(3), T(u"three")), {DISPID_PROPERTYPUT}).hr, S_OK);
  Call item = Invoke(object.get(), 0, DISPATCH_PROPERTYGET, Args(N(3)));
  ASSERT_EQ(item.hr, S_OK);
  EXPECT_EQ(TextOf(item.result), u"three");

  // A plain variable.
  ASSERT_EQ(Invoke(object.get(), 4, DISPATCH_PROPERTYPUT, Args(T(u"41")), {DISPID_PROPERTYPUT}).hr, S_OK);
  Call tag = Invoke(object.get(), 4, DISPATCH_PROPERTYGET, Args());
  ASSERT_EQ(tag.hr, S_OK);
  EXPECT_EQ(tag.result->vt, VT_I4);
  EXPECT_EQ(tag.result->lVal, 41);
  EXPECT_EQ(Invoke(object.get(), 4, DISPATCH_METHOD, Args()).hr, DISP_E_MEMBERNOTFOUND);

  // Put by reference only where declared.
  OwnedVariant child;
  child->vt = VT_DISPATCH;
  child->pdispVal = nullptr;
  EXPECT_EQ(Invoke(object.get(), 5, DISPATCH_PROPERTYPUTREF, Args(std::move(child)), {DISPID_PROPERTYPUT}).hr, S_OK);
  EXPECT_EQ(object->childSets, 1);
  EXPECT_EQ(Invoke(object.get(), 5, DISPATCH_PROPERTYPUT, Args(N(1)), {DISPID_PROPERTYPUT}).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"b")), {DISPID_PROPERTYPUT}).hr,
            DISP_E_PARAMNOTFOUND)
      << "DISPID_PROPERTYPUT names nothing in a method call";
}

TEST(ComDispatch, ByReferenceParametersTakeExactlyTheirType) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  LONG value = 5;
  OwnedVariant byRef;
  byRef->vt = VT_BYREF | VT_I4;
  byRef->plVal = &value;
  ASSERT_EQ(Invoke(object.get(), 8, DISPATCH_METHOD, Args(std::move(byRef))).hr, S_OK);
  EXPECT_EQ(value, -5) << "the handler wrote through the reference";
  EXPECT_EQ(Invoke(object.get(), 8, DISPATCH_METHOD, Args(N(5))).hr, DISP_E_TYPEMISMATCH);
}

TEST(ComDispatch, FailuresAndBadCalls) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  EXCEPINFO info;
  std::memset(&info, 0xCD, sizeof info);
  Call failed = Invoke(object.get(), 6, DISPATCH_METHOD, Args(), {}, &info);
  EXPECT_EQ(failed.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, E_FAIL);
  EXPECT_EQ(std::u16string_view(info.bstrDescription), u"it failed");
  EXPECT_EQ(std::u16string_view(info.bstrSource), u"Sample");
  EXPECT_EQ(info.bstrHelpFile, nullptr);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  EXPECT_EQ(Invoke(object.get(), 6, DISPATCH_METHOD, Args()).hr, DISP_E_EXCEPTION) << "without EXCEPINFO";
  EXPECT_EQ(Invoke(object.get(), 9, DISPATCH_METHOD, Args()).hr, E_OUTOFMEMORY) << "no exception escapes";
  EXPECT_EQ(Invoke(object.get(), 99, DISPATCH_METHOD, Args()).hr, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Invoke(object.get(), 2, 0, Args(T(u"a"), T(u"b"))).hr, E_INVALIDARG);

  OwnedVariant result;
  EXPECT_EQ(object->Invoke(2, kSampleIid, 0, DISPATCH_METHOD, nullptr, result.get(), nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, nullptr, result.get(), nullptr, nullptr), E_INVALIDARG);
  DISPPARAMS bad{nullptr, nullptr, 2, 0};
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &bad, result.get(), nullptr, nullptr), E_INVALIDARG);
  VARIANT args[2];
  DISPPARAMS tooManyNamed{args, nullptr, 1, 2};
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &tooManyNamed, result.get(), nullptr, nullptr),
            E_INVALIDARG);
  // No result wanted: the string the handler made is freed (the leak checker would notice).
  VARIANT two[2];
  OwnedVariant b = T(u"b");
  OwnedVariant a = T(u"a");
  two[1] = *a.get();
  two[0] = *b.get();
  DISPPARAMS params{two, nullptr, 2, 0};
  EXPECT_EQ(object->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
}

TEST(ComDispatch, ObjectsWithoutTypeInformation) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>(TypeInfoAccess::Withhold);
  UINT count = 7;
  ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
  EXPECT_EQ(object->GetTypeInfo(0, 0, &info), E_NOTIMPL);
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(Invoke(object.get(), 2, DISPATCH_METHOD, Args(T(u"a"), T(u"b"))).hr, S_OK) << "still callable by DISPID";
}

TEST(ComDispatch, QueryInterfaceAndLifetime) {
  bool destroyed = false;
  ComPtr<Sample> object = MakeDispatchObject<Sample>(TypeInfoAccess::Provide, &destroyed);
  void* unknown = nullptr;
  void* dispatch = nullptr;
  void* own = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, &unknown), S_OK);
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, &dispatch), S_OK);
  ASSERT_EQ(object->QueryInterface(kSampleIid, &own), S_OK);
  EXPECT_EQ(unknown, dispatch);
  EXPECT_EQ(own, dispatch);
  void* other = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(object->QueryInterface(IID_ITypeInfo, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(object->AddRef(), 5u);
  for (int i = 0; i < 4; ++i) object->Release();
  EXPECT_FALSE(destroyed);
  object.Reset();
  EXPECT_TRUE(destroyed);
}

TEST(ComDispatch, TypeInfoInvokeCallsTheInstance) {
  ComPtr<Sample> object = MakeDispatchObject<Sample>();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, 0, info.Receive()), S_OK);
  OwnedVariant a = T(u"x");
  DISPPARAMS params{a.get(), nullptr, 1, 0};
  OwnedVariant result;
  ASSERT_EQ(info->Invoke(static_cast<IDispatch*>(object.get()), 7, DISPATCH_METHOD, &params, result.get(), nullptr,
                         nullptr),
            S_OK);
  EXPECT_EQ(TextOf(result), u"xx");
  EXPECT_EQ(info->Invoke(nullptr, 7, DISPATCH_METHOD, &params, result.get(), nullptr, nullptr), E_INVALIDARG);
}

class Clashing : public DispatchObject {
 public:
  HRESULT Handle(Invocation&) { return S_OK; }
};

TEST(ComDispatch, BuilderRefusesClashingMembers) {
  using B = TypeBuilder<Clashing>;
  EXPECT_EQ(B(u"I").Method(u"A", 1, VT_EMPTY, {}, &Clashing::Handle).Method(u"a", 2, VT_EMPTY, {}, &Clashing::Handle).Build(),
            nullptr)
      << "one name, two ids";
  EXPECT_EQ(B(u"I").Method(u"A", 1, VT_EMPTY, {}, &Clashing::Handle).Method(u"B", 1, VT_EMPTY, {}, &Clashing::Handle).Build(),
            nullptr)
      << "one id, two names";
  EXPECT_EQ(B(u"I").Variable(u"A", 1, VT_I4, &Clashing::Handle).PropertyGet(u"A", 1, VT_I4, &Clashing::Handle).Build(),
            nullptr)
      << "a variable shares its id";
  EXPECT_NE(B(u"I").Property(u"A", 1, VT_I4, &Clashing::Handle, &Clashing::Handle).Build(), nullptr);
}

TEST(ComDispatch, LHashValOfNameIgnoresLetterCase) {
  EXPECT_EQ(LHashValOfName(LOCALE_USER_DEFAULT, u"ReadText"), LHashValOfName(LOCALE_USER_DEFAULT, u"READTEXT"));
  EXPECT_NE(LHashValOfName(LOCALE_USER_DEFAULT, u"ReadText"), LHashValOfName(LOCALE_USER_DEFAULT, u"WriteText"));
  EXPECT_EQ(LHashValOfNameSys(SYS_WIN32, 0, nullptr), 0u);
}

}  // namespace
}  // namespace win
