// Script values as automation values, and script objects as IDispatch objects.
#include "platform/com/script/script_dispatch.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"

namespace win {
namespace {

using script::ErrorKind;
using script::ScriptObject;
using script::ScriptValue;
using script::ValueKind;

// Exception codes in the facility that script engines report their errors in (FACILITY_CONTROL):
// 1002 is the JScript "Syntax error" number, 5022 "Exception thrown and not caught".
constexpr HRESULT kScriptSyntaxError = MakeFailure(0xA, 1002);
constexpr HRESULT kScriptRuntimeError = MakeFailure(0xA, 5022);

// Members of a script object beyond its default value get ids from here up, one per name asked for.
constexpr DISPID kFirstMemberId = 1000;

// A script object seen through IDispatch. Its default value (DISPID_VALUE, what VariantChangeType
// reads) is the object's string form; other names are looked up among the script object's own and
// inherited members and can be read as properties.
class ScriptObjectDispatch final : public DispatchObject {
 public:
  explicit ScriptObjectDispatch(std::shared_ptr<ScriptObject> object)
      : DispatchObject(Type()), m_object(std::move(object)) {}

  static std::shared_ptr<const DispatchType> Type() {
    static const auto type = TypeBuilder<ScriptObjectDispatch>(u"JScriptTypeInfo")
                                 .PropertyGet(u"_Default", DISPID_VALUE, VT_BSTR, &ScriptObjectDispatch::GetDefault)
                                 .Build();
    return type;
  }

  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;

 private:
  HRESULT GetDefault(Invocation& call) {
    script::EvalResult form = m_object->StringForm();
    if (!form.Succeeded()) return RaiseScriptError(call, form.error);
    return StoreScriptValue(std::move(form.value), call.Result());
  }

  std::shared_ptr<ScriptObject> m_object;
  std::vector<std::u16string> m_memberNames;  // index + kFirstMemberId is the member's id
};

HRESULT ScriptObjectDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr || count == 0 || names[0] == nullptr) return E_INVALIDARG;
  // Script members have no named parameters: a name with parameter names is looked up in the
  // fixed table only.
  if (count == 1) {
    try {
      const std::u16string name(names[0]);
      for (size_t i = 0; i < m_memberNames.size(); ++i) {
        if (m_memberNames[i] == name) {
          ids[0] = kFirstMemberId + static_cast<DISPID>(i);
          return S_OK;
        }
      }
      const script::EvalResult has = m_object->HasMember(name);
      if (has.Succeeded() && has.value.boolean) {
        m_memberNames.push_back(name);
        ids[0] = kFirstMemberId + static_cast<DISPID>(m_memberNames.size() - 1);
        return S_OK;
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  return DispatchObject::GetIDsOfNames(riid, names, count, lcid, ids);
}

HRESULT ScriptObjectDispatch::Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (member < kFirstMemberId)
    return DispatchObject::Invoke(member, riid, lcid, flags, params, result, exception, argError);
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr) return E_INVALIDARG;
  const size_t index = static_cast<size_t>(member - kFirstMemberId);
  // Members are readable properties; calling script functions through IDispatch is not offered.
  if (index >= m_memberNames.size() || (flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
  script::EvalResult value = m_object->GetMember(m_memberNames[index]);
  if (!value.Succeeded()) {
    if (exception != nullptr) {
      *exception = EXCEPINFO{};
      exception->scode = kScriptRuntimeError;
      exception->bstrDescription = OwnedBstr::Copy(value.error.description).Release();
    }
    return DISP_E_EXCEPTION;
  }
  if (result == nullptr) return S_OK;
  VariantInit(result);
  return StoreScriptValue(std::move(value.value), result);
}

}  // namespace

HRESULT StoreScriptValue(ScriptValue&& value, VARIANT* out) {
  VariantInit(out);
  switch (value.kind) {
    case ValueKind::Empty:
      return S_OK;
    case ValueKind::Null:
      out->vt = VT_NULL;
      return S_OK;
    case ValueKind::Bool:
      out->vt = VT_BOOL;
      out->boolVal = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case ValueKind::Int:
      out->vt = VT_I4;
      out->lVal = value.integer;
      return S_OK;
    case ValueKind::Double:
      out->vt = VT_R8;
      out->dblVal = value.number;
      return S_OK;
    case ValueKind::String: {
      // A BSTR's byte length has to fit 32 bits.
      if (value.text.size() > 0x7FFFFFFEu / sizeof(OLECHAR)) return E_OUTOFMEMORY;
      OwnedBstr text = OwnedBstr::Copy(value.text);
      if (text.get() == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      out->bstrVal = text.Release();
      return S_OK;
    }
    case ValueKind::Object: {
      ComPtr<ScriptObjectDispatch> wrapper = MakeDispatchObject<ScriptObjectDispatch>(std::move(value.object));
      if (!wrapper) return E_OUTOFMEMORY;
      out->vt = VT_DISPATCH;
      out->pdispVal = wrapper.Detach();
      return S_OK;
    }
  }
  return E_UNEXPECTED;
}

HRESULT RaiseScriptError(Invocation& call, const script::ScriptError& error) {
  switch (error.kind) {
    case ErrorKind::None:
      return S_OK;
    case ErrorKind::Compile:
      return call.Raise(kScriptSyntaxError, error.description, u"JavaScript compilation error");
    case ErrorKind::Runtime:
      return call.Raise(kScriptRuntimeError, error.description, u"JavaScript runtime error");
    case ErrorKind::OutOfMemory:
      return call.Raise(E_OUTOFMEMORY, error.description, u"JavaScript runtime error");
    case ErrorKind::Timeout:
      return call.Raise(E_ABORT, error.description, u"ScriptControl");
    case ErrorKind::EngineFailure:
      return call.Raise(E_UNEXPECTED, error.description, u"ScriptControl");
  }
  return E_UNEXPECTED;
}

}  // namespace win
