// DispatchObject: reference counting, interface queries, type information and Invoke's argument
// handling over a member table.
#include "platform/com/dispatch_object.h"

#include <climits>

#include "platform/com/dispatch_type.h"

namespace win {
namespace {

constexpr UINT kNoPosition = UINT_MAX;

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// A declared parameter's type, for the conversion of its argument.
VARTYPE DeclaredType(const DispatchMember& m, size_t index) { return m.params[index].vt; }

bool IsOptional(const ParamSpec& p) { return (p.flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0; }

HRESULT AsArgumentError(HRESULT hr) {
  // Anything a conversion reports that is not an argument error of its own reads as a mismatch.
  if (hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY || hr == DISP_E_TYPEMISMATCH) return hr;
  return DISP_E_TYPEMISMATCH;
}

}  // namespace

bool Invocation::Has(UINT index) const {
  if (index >= m_args.size()) return false;
  return !IsMissing(*m_args[index]);
}

HRESULT Invocation::Raise(HRESULT scode, std::u16string_view description, std::u16string_view source) {
  if (m_exception != nullptr) {
    *m_exception = EXCEPINFO{};
    m_exception->scode = scode;
    m_exception->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    if (!source.empty()) m_exception->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
  }
  return DISP_E_EXCEPTION;
}

HRESULT Invocation::BadArgument(UINT index, HRESULT hr) {
  if (m_argError != nullptr && index < m_argPositions.size() && m_argPositions[index] != kNoPosition)
    *m_argError = m_argPositions[index];
  return hr;
}

DispatchObject::DispatchObject(std::shared_ptr<const DispatchType> type, TypeInfoAccess access)
    : m_type(std::move(type)), m_access(access) {}

DispatchObject::~DispatchObject() = default;

HRESULT DispatchObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) ||
      (m_type && !IsEqualGUID(m_type->iid, IID_NULL) && IsEqualGUID(riid, m_type->iid))) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  const HRESULT hr = QueryOtherInterface(riid, object);
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

HRESULT DispatchObject::QueryOtherInterface(REFIID, void** object) {
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG DispatchObject::AddRef() { return ++m_refs; }

ULONG DispatchObject::Release() {
  const ULONG n = --m_refs;
  if (n == 0) delete this;
  return n;
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_INVALIDARG;
  *count = (m_access == TypeInfoAccess::Provide && m_type) ? 1 : 0;
  return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (m_access == TypeInfoAccess::Withhold || !m_type) return E_NOTIMPL;
  if (index != 0) return DISP_E_BADINDEX;
  return CreateDispatchTypeInfo(m_type, info);
}

HRESULT DispatchObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!m_type) {
    if (ids != nullptr)
      for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return names == nullptr || ids == nullptr ? E_INVALIDARG : DISP_E_UNKNOWNNAME;
  }
  return LookUpIdsOfNames(*m_type, names, count, ids);
}

HRESULT DispatchObject::Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params == nullptr || params->cNamedArgs > params->cArgs || (params->cArgs != 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs != 0 && params->rgdispidNamedArgs == nullptr))
    return E_INVALIDARG;
  constexpr WORD kKnownFlags = DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  if ((flags & kKnownFlags) == 0) return E_INVALIDARG;
  if (!m_type) return DISP_E_MEMBERNOTFOUND;
  INVOKEKIND kind = INVOKE_FUNC;
  const DispatchMember* m = m_type->FindForInvoke(member, flags, &kind);
  if (m == nullptr) return DISP_E_MEMBERNOTFOUND;

  // The object stays alive while a handler runs, even if the handler drops the caller's reference.
  AddRef();
  HRESULT hr;
  try {
    Invocation call;
    call.m_member = member;
    call.m_lcid = lcid;
    call.m_kind = kind;
    call.m_exception = exception;
    call.m_argError = argError;

    const bool isPut = kind == INVOKE_PROPERTYPUT || kind == INVOKE_PROPERTYPUTREF;
    // A variable's get takes no parameters; its put takes the value.
    const size_t declared = (m->isVariable && !isPut) ? 0 : m->params.size();
    const UINT total = params->cArgs;
    const UINT named = params->cNamedArgs;
    UINT positional = total - named;
    // rgvarg index of each declared parameter, or kNoPosition.
    std::vector<UINT> slot(declared, kNoPosition);
    hr = S_OK;

    if (isPut) {
      // The value is the named argument DISPID_PROPERTYPUT; a caller that names nothing passes it
      // as the last positional argument.
      UINT valueAt = kNoPosition;
      for (UINT k = 0; k < named; ++k)
        if (params->rgdispidNamedArgs[k] == DISPID_PROPERTYPUT) valueAt = k;
      if (valueAt == kNoPosition && named == 0 && positional > 0) {
        valueAt = 0;
        --positional;
      }
      if (valueAt == kNoPosition || declared == 0) hr = DISP_E_BADPARAMCOUNT;
      else slot[declared - 1] = valueAt;
    }
    const size_t indexCount = isPut ? (declared == 0 ? 0 : declared - 1) : declared;

    // Positional arguments: rgvarg[total - 1] is the first.
    if (SUCCEEDED(hr)) {
      for (UINT i = 0; i < positional; ++i) {
        const UINT at = total - 1 - i;
        if (i < indexCount) slot[i] = at;
        else if (m->varargs && !isPut) call.m_extra.push_back(&params->rgvarg[at]);
        else hr = DISP_E_BADPARAMCOUNT;
      }
    }
    // Named arguments: a parameter's id is its position.
    for (UINT k = 0; SUCCEEDED(hr) && k < named; ++k) {
      const DISPID id = params->rgdispidNamedArgs[k];
      if (id == DISPID_PROPERTYPUT && isPut) continue;
      if (id < 0 || static_cast<size_t>(id) >= indexCount || slot[static_cast<size_t>(id)] != kNoPosition) {
        if (argError != nullptr) *argError = k;
        hr = DISP_E_PARAMNOTFOUND;
      } else {
        slot[static_cast<size_t>(id)] = k;
      }
    }

    // Each declared parameter: its argument converted to the declared type, its default, or
    // VT_ERROR / DISP_E_PARAMNOTFOUND.
    call.m_argPositions = slot;
    for (size_t i = 0; SUCCEEDED(hr) && i < declared; ++i) {
      const ParamSpec& p = m->params[i];
      VARIANT* given = slot[i] == kNoPosition ? nullptr : &params->rgvarg[slot[i]];
      if (given == nullptr || IsMissing(*given)) {
        if (!IsOptional(p)) {
          hr = given == nullptr ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
          if (given != nullptr && argError != nullptr) *argError = slot[i];
          break;
        }
        call.m_storage.emplace_back();
        VARIANT* stored = call.m_storage.back().get();
        if (const VARIANT* def = m->DefaultOf(i)) {
          hr = VariantCopy(stored, def);
        } else {
          stored->vt = VT_ERROR;
          stored->scode = DISP_E_PARAMNOTFOUND;
        }
        call.m_args.push_back(stored);
        continue;
      }
      const VARTYPE want = DeclaredType(*m, i);
      if (want == VT_VARIANT || given->vt == want) {
        call.m_args.push_back(given);
        continue;
      }
      if (want & VT_BYREF) {
        hr = DISP_E_TYPEMISMATCH;  // a by-reference parameter takes exactly its own type
      } else {
        call.m_storage.emplace_back();
        hr = VariantChangeTypeEx(call.m_storage.back().get(), given, lcid, 0, want);
        if (FAILED(hr)) hr = AsArgumentError(hr);
        call.m_args.push_back(call.m_storage.back().get());
      }
      if (FAILED(hr) && argError != nullptr) *argError = slot[i];
    }

    if (SUCCEEDED(hr)) hr = m->handler(*this, call);
    if (SUCCEEDED(hr) && result != nullptr) *result = call.m_result.Release();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  Release();
  return hr;
}

}  // namespace win
