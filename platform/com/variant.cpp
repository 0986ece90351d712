// VariantInit, VariantClear, VariantCopy and VariantCopyInd.
#include "platform/com/variant.h"

#include <cstring>

#include "platform/com/dispatch.h"
#include "platform/com/internal.h"
#include "platform/com/record_info.h"
#include "platform/com/safearray.h"

namespace win {

using com_internal::IsValidVariantType;

void VariantInit(VARIANT* v) {
  if (v == nullptr) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(v->vt)) return DISP_E_BADVARTYPE;
  if (!(v->vt & VT_BYREF)) {
    if (v->vt & VT_ARRAY) {
      if (v->parray != nullptr) {
        const HRESULT hr = SafeArrayDestroy(v->parray);
        if (FAILED(hr)) return hr;
      }
    } else {
      switch (v->vt) {
        case VT_BSTR: SysFreeString(v->bstrVal); break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
          if (v->punkVal != nullptr) v->punkVal->Release();
          break;
        case VT_RECORD:
          if (v->pRecInfo != nullptr) {
            if (v->pvRecord != nullptr) v->pRecInfo->RecordDestroy(v->pvRecord);
            v->pRecInfo->Release();
          }
          break;
        default: break;
      }
    }
  }
  v->vt = VT_EMPTY;
  v->llVal = 0;
  return S_OK;
}

namespace com_internal {

HRESULT DeepCopy(VARIANT* dest, const VARIANT& source) {
  std::memcpy(static_cast<void*>(dest), &source, sizeof(VARIANT));
  if (source.vt & VT_BYREF) return S_OK;
  if (source.vt & VT_ARRAY) {
    dest->parray = nullptr;
    const HRESULT hr = SafeArrayCopy(source.parray, &dest->parray);
    if (FAILED(hr)) VariantInit(dest);
    return hr;
  }
  switch (source.vt) {
    case VT_BSTR: {
      bool ok = true;
      dest->bstrVal = CopyBstr(source.bstrVal, &ok);
      if (!ok) {
        VariantInit(dest);
        return E_OUTOFMEMORY;
      }
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (dest->punkVal != nullptr) dest->punkVal->AddRef();
      return S_OK;
    case VT_RECORD: {
      if (source.pRecInfo == nullptr) return S_OK;
      dest->pvRecord = nullptr;
      if (source.pvRecord != nullptr) {
        const HRESULT hr = source.pRecInfo->RecordCreateCopy(source.pvRecord, &dest->pvRecord);
        if (FAILED(hr)) {
          VariantInit(dest);
          return hr;
        }
      }
      dest->pRecInfo->AddRef();
      return S_OK;
    }
    default: return S_OK;
  }
}

HRESULT Dereference(const VARIANT& source, VARIANT* shallow) {
  if (!IsValidVariantType(source.vt)) return DISP_E_BADVARTYPE;
  if (!(source.vt & VT_BYREF)) {
    std::memcpy(static_cast<void*>(shallow), &source, sizeof(VARIANT));
    return S_OK;
  }
  if (source.byref == nullptr) return E_INVALIDARG;
  const VARTYPE vt = source.vt & ~VT_BYREF;
  if (vt == VT_VARIANT) {
    const VARIANT& inner = *source.pvarVal;
    // A reference to a variant may hold one more reference, but not to another variant.
    if (inner.vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    return Dereference(inner, shallow);
  }
  VARIANT out{};
  out.vt = vt;
  if (vt & VT_ARRAY) {
    out.parray = *source.pparray;
  } else {
    switch (vt) {
      case VT_I1: case VT_UI1: std::memcpy(&out.bVal, source.byref, 1); break;
      case VT_I2: case VT_UI2: case VT_BOOL: std::memcpy(&out.iVal, source.byref, 2); break;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
        std::memcpy(&out.lVal, source.byref, 4);
        break;
      case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: std::memcpy(&out.llVal, source.byref, 8); break;
      case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: std::memcpy(&out.punkVal, source.byref, sizeof(void*)); break;
      case VT_DECIMAL:
        out.decVal = *source.pdecVal;
        out.vt = VT_DECIMAL;
        break;
      case VT_RECORD:
        // A record by reference carries the same pair of record data and record information.
        out.pvRecord = source.pvRecord;
        out.pRecInfo = source.pRecInfo;
        break;
      default: return DISP_E_BADVARTYPE;
    }
  }
  *shallow = out;
  return S_OK;
}

}  // namespace com_internal

namespace {

// Copies into a temporary first, so that dest may alias what source refers to, then replaces dest.
HRESULT CopyThenReplace(VARIANT* dest, const VARIANT& source) {
  VARIANT copy;
  HRESULT hr = com_internal::DeepCopy(&copy, source);
  if (FAILED(hr)) {
    // dest still has to be emptied, as VariantCopy promises.
    const HRESULT cleared = VariantClear(dest);
    return FAILED(cleared) ? cleared : hr;
  }
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

}  // namespace

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  if (!IsValidVariantType(source->vt)) return DISP_E_BADVARTYPE;
  if (dest == source) return S_OK;
  return CopyThenReplace(dest, *source);
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* source) {
  if (dest == nullptr || source == nullptr) return E_INVALIDARG;
  VARIANT shallow;
  const HRESULT hr = com_internal::Dereference(*source, &shallow);
  if (FAILED(hr)) return hr;
  if (dest == source && !(source->vt & VT_BYREF)) return S_OK;
  return CopyThenReplace(dest, shallow);
}

OwnedVariant OwnedVariant::FromInt32(LONG value) {
  OwnedVariant v;
  v.m_value.vt = VT_I4;
  v.m_value.lVal = value;
  return v;
}

OwnedVariant OwnedVariant::FromDouble(double value) {
  OwnedVariant v;
  v.m_value.vt = VT_R8;
  v.m_value.dblVal = value;
  return v;
}

OwnedVariant OwnedVariant::FromBool(bool value) {
  OwnedVariant v;
  v.m_value.vt = VT_BOOL;
  v.m_value.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

OwnedVariant OwnedVariant::FromText(std::u16string_view text) {
  OwnedVariant v;
  BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (s != nullptr) {
    v.m_value.vt = VT_BSTR;
    v.m_value.bstrVal = s;
  }
  return v;
}

OwnedVariant OwnedVariant::Adopt(VARIANT* value) {
  OwnedVariant v;
  if (value != nullptr) {
    v.m_value = *value;
    VariantInit(value);
  }
  return v;
}

}  // namespace win
