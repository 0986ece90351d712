// Small automation objects for the automation tests: a probe whose members exercise the binding and
// argument paths and which records the DISPPARAMS of its last call, an object without IDispatch,
// and a record description that counts what is done to its records.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/counting_record_info.h"
#include "platform/com/com.h"

namespace qvtest {

using namespace win;

// What the last Invoke received: flags, named ids, and the arguments in DISPPARAMS order (last
// argument first) as their type tags and as copies with references followed.
struct SeenCall {
  WORD flags = 0;
  std::vector<DISPID> named;
  std::vector<VARTYPE> types;
  std::vector<std::shared_ptr<OwnedVariant>> values;
};

class Probe final : public DispatchObject {
 public:
  explicit Probe(TypeInfoAccess access = TypeInfoAccess::Provide) : DispatchObject(Type(), access) {
    ++alive;
    value->vt = VT_I4;
    value->lVal = 3;
  }
  ~Probe() override { --alive; }

  static inline int alive = 0;
  SeenCall seen;
  OwnedVariant value;
  ComPtr<IDispatch> target;

  static std::shared_ptr<const DispatchType> Type() {
    static const auto type =
        TypeBuilder<Probe>(u"IProbe")
            .Property(u"Value", 1, VT_VARIANT, &Probe::GetValue, &Probe::PutValue)
            .Method(u"Take", 2, VT_I4, {Optional(u"a"), Optional(u"b"), Optional(u"c")}, &Probe::Take)
            .Method(u"Rename", 3, VT_EMPTY, {InOut(u"text", VT_BSTR)}, &Probe::Rename)
            .Method(u"Increment", 4, VT_EMPTY, {InOut(u"n", VT_I4)}, &Probe::Increment)
            .Method(u"Replace", 5, VT_EMPTY, {InOut(u"object", VT_DISPATCH)}, &Probe::Replace)
            .Method(u"Fill", 6, VT_EMPTY, {InOut(u"v", VT_VARIANT)}, &Probe::Fill)
            .Method(u"Sum", 7, VT_R8, {In(u"first", VT_R8)}, &Probe::Sum, ArgList::Variable)
            .Method(u"Fail", 8, VT_EMPTY, {}, &Probe::Fail)
            .Variable(u"Plain", 9, VT_BSTR, &Probe::Plain)
            .PropertyGet(u"Grid", 10, VT_VARIANT, &Probe::Grid)
            .PropertyPutRef(u"Target", 11, VT_DISPATCH, &Probe::PutTarget)
            // By reference but not an output: a change made by the server must not come back.
            .Method(u"Peek", 12, VT_EMPTY, {ParamSpec{u"n", VT_BYREF | VT_I4, PARAMFLAG_FIN, std::nullopt}},
                    &Probe::Increment)
            .Build();
    return type;
  }

  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override {
    seen = SeenCall{};
    seen.flags = flags;
    for (UINT i = 0; params != nullptr && i < params->cArgs; ++i) {
      if (i < params->cNamedArgs) seen.named.push_back(params->rgdispidNamedArgs[i]);
      seen.types.push_back(params->rgvarg[i].vt);
      seen.values.push_back(std::make_shared<OwnedVariant>());
      VariantCopyInd(seen.values.back()->get(), &params->rgvarg[i]);
    }
    return DispatchObject::Invoke(member, riid, lcid, flags, params, result, exception, argError);
  }

 private:
  HRESULT GetValue(Invocation& call) { return VariantCopy(call.Result(), value.get()); }
  HRESULT PutValue(Invocation& call) { return VariantCopy(value.get(), &call.Value()); }
  HRESULT Take(Invocation& call) {  // how many arguments were given
    call.Result()->vt = VT_I4;
    call.Result()->lVal = static_cast<LONG>(call.Has(0)) + call.Has(1) + call.Has(2);
    return S_OK;
  }
  HRESULT Rename(Invocation& call) {  // appends "!"
    BSTR* text = call.Arg(0).pbstrVal;
    const std::u16string renamed = std::u16string(*text, SysStringLen(*text)) + u"!";
    SysReAllocStringLen(text, renamed.data(), static_cast<UINT>(renamed.size()));
    return S_OK;
  }
  HRESULT Increment(Invocation& call) {
    ++*call.Arg(0).plVal;
    return S_OK;
  }
  HRESULT Replace(Invocation& call) {  // with a new probe
    IDispatch** object = call.Arg(0).ppdispVal;
    if (*object != nullptr) (*object)->Release();
    *object = MakeDispatchObject<Probe>().Detach();
    return S_OK;
  }
  HRESULT Fill(Invocation& call) {
    VariantClear(call.Arg(0).pvarVal);
    *call.Arg(0).pvarVal = OwnedVariant::FromText(u"filled").Release();
    return S_OK;
  }
  HRESULT Sum(Invocation& call) {
    double sum = call.Arg(0).dblVal;
    for (UINT i = 0; i < call.ExtraCount(); ++i) {
      OwnedVariant x;
      if (FAILED(VariantChangeType(x.get(), &call.Extra(i), 0, VT_R8))) return DISP_E_TYPEMISMATCH;
      sum += x->dblVal;
    }
    *call.Result() = OwnedVariant::FromDouble(sum).Release();
    return S_OK;
  }
  HRESULT Fail(Invocation& call) { return call.Raise(E_FAIL, u"failed on purpose"); }
  HRESULT Plain(Invocation& call) {
    if (call.IsPut()) return VariantCopy(value.get(), &call.Value());
    *call.Result() = OwnedVariant::FromText(u"plain").Release();
    return S_OK;
  }
  // A 3 x 2 array of VT_I4 with lower bounds 0 and 5; element (i, j) holds 10 * i + j.
  HRESULT Grid(Invocation& call) {
    const SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 5}};
    SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
    for (LONG i = 0; i < 3; ++i) {
      for (LONG j = 5; j < 7; ++j) {
        const LONG at[2] = {i, j};
        LONG element = 10 * i + j;
        SafeArrayPutElement(array, at, &element);
      }
    }
    call.Result()->vt = VT_ARRAY | VT_I4;
    call.Result()->parray = array;
    return S_OK;
  }
  HRESULT PutTarget(Invocation& call) {
    target = ComPtr<IDispatch>::Share(call.Value().pdispVal);
    return S_OK;
  }
};

// An object with IUnknown only; it lives on the test's stack.
class PlainUnknown final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    *object = IsEqualGUID(riid, IID_IUnknown) ? this : nullptr;
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};


}  // namespace qvtest
