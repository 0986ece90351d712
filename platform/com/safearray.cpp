// SAFEARRAY descriptors and data. Every descriptor made here is preceded by a small header that
// records the element type (the place where Windows keeps it too), so SafeArrayGetVartype can
// answer for arrays of any type.
#include "platform/com/safearray.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/com/dispatch.h"
#include "platform/com/internal.h"

namespace win {
namespace {

using com_internal::ArrayElementSize;

struct alignas(16) Header {
  VARTYPE vt = VT_EMPTY;
};

// The data of one array may not exceed 2 GiB, as the 32-bit sizes of the descriptor imply.
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFFu;
constexpr ULONG kMaxLocks = 0xFFFF;
constexpr USHORT kCallerOwned = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;

size_t DescriptorBytes(UINT cDims) { return offsetof(SAFEARRAY, rgsabound) + cDims * sizeof(SAFEARRAYBOUND); }

Header* HeaderOf(SAFEARRAY* array) { return reinterpret_cast<Header*>(array) - 1; }

// Dimension d in declaration order (0 = left-most) lives at rgsabound[cDims - 1 - d].
SAFEARRAYBOUND& Bound(SAFEARRAY* array, UINT d) { return array->rgsabound[array->cDims - 1 - d]; }

bool ElementCount(SAFEARRAY* array, uint64_t* count) {
  uint64_t n = 1;
  for (UINT d = 0; d < array->cDims; ++d) {
    n *= array->rgsabound[d].cElements;
    if (array->cbElements != 0 && n * array->cbElements > kMaxDataBytes) return false;
    if (n > kMaxDataBytes) return false;
  }
  *count = n;
  return true;
}

USHORT FeaturesFor(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR: return FADF_BSTR;
    case VT_UNKNOWN: return FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_DISPATCH;
    case VT_VARIANT: return FADF_VARIANT;
    default: return 0;
  }
}

// How elements are released and copied, decided by the features as Windows does, so that an array
// can be freed without knowing the variant that held it.
enum class ElementKind { Plain, Bstr, Interface, Variant };
ElementKind KindOf(const SAFEARRAY* array) {
  if (array->fFeatures & FADF_BSTR) return ElementKind::Bstr;
  if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) return ElementKind::Interface;
  if (array->fFeatures & FADF_VARIANT) return ElementKind::Variant;
  return ElementKind::Plain;
}

unsigned char* ElementAt(SAFEARRAY* array, uint64_t flat) {
  return static_cast<unsigned char*>(array->pvData) + flat * array->cbElements;
}

void ReleaseElements(SAFEARRAY* array, uint64_t first, uint64_t end) {
  if (array->pvData == nullptr) return;
  const ElementKind kind = KindOf(array);
  for (uint64_t i = first; i < end; ++i) {
    unsigned char* e = ElementAt(array, i);
    switch (kind) {
      case ElementKind::Bstr: {
        BSTR s;
        std::memcpy(&s, e, sizeof s);
        SysFreeString(s);
        break;
      }
      case ElementKind::Interface: {
        IUnknown* p;
        std::memcpy(&p, e, sizeof p);
        if (p != nullptr) p->Release();
        break;
      }
      case ElementKind::Variant: VariantClear(reinterpret_cast<VARIANT*>(e)); break;
      case ElementKind::Plain: break;
    }
    std::memset(e, 0, array->cbElements);
  }
}

// Copies one element into zeroed storage at dest.
HRESULT CopyElement(ElementKind kind, const unsigned char* source, unsigned char* dest, ULONG size) {
  switch (kind) {
    case ElementKind::Bstr: {
      BSTR s;
      std::memcpy(&s, source, sizeof s);
      bool ok = true;
      BSTR copy = com_internal::CopyBstr(s, &ok);
      if (!ok) return E_OUTOFMEMORY;
      std::memcpy(dest, &copy, sizeof copy);
      return S_OK;
    }
    case ElementKind::Interface: {
      IUnknown* p;
      std::memcpy(&p, source, sizeof p);
      if (p != nullptr) p->AddRef();
      std::memcpy(dest, &p, sizeof p);
      return S_OK;
    }
    case ElementKind::Variant: {
      auto* d = reinterpret_cast<VARIANT*>(dest);
      VariantInit(d);
      return VariantCopy(d, reinterpret_cast<const VARIANT*>(source));
    }
    case ElementKind::Plain: std::memcpy(dest, source, size); return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT FlatIndex(SAFEARRAY* array, const LONG* indices, uint64_t* flat) {
  uint64_t offset = 0;
  uint64_t stride = 1;
  for (UINT d = 0; d < array->cDims; ++d) {
    const SAFEARRAYBOUND& b = Bound(array, d);
    const int64_t rel = int64_t{indices[d]} - int64_t{b.lLbound};
    if (rel < 0 || rel >= int64_t{b.cElements}) return DISP_E_BADINDEX;
    offset += static_cast<uint64_t>(rel) * stride;
    stride *= b.cElements;
  }
  *flat = offset;
  return S_OK;
}

SAFEARRAY* NewDescriptor(UINT cDims) {
  if (cDims == 0 || cDims > 0xFFFF) return nullptr;
  auto* block = static_cast<unsigned char*>(std::calloc(1, sizeof(Header) + DescriptorBytes(cDims)));
  if (block == nullptr) return nullptr;
  new (block) Header();
  auto* array = reinterpret_cast<SAFEARRAY*>(block + sizeof(Header));
  array->cDims = static_cast<USHORT>(cDims);
  return array;
}

}  // namespace

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** array) {
  if (array == nullptr || cDims == 0 || cDims > 0xFFFF) return E_INVALIDARG;
  *array = NewDescriptor(cDims);
  return *array != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** array) {
  if (array == nullptr) return E_INVALIDARG;
  *array = nullptr;
  const ULONG size = ArrayElementSize(vt);
  if (size == 0) return E_INVALIDARG;
  const HRESULT hr = SafeArrayAllocDescriptor(cDims, array);
  if (FAILED(hr)) return hr;
  (*array)->cbElements = size;
  (*array)->fFeatures = FeaturesFor(vt) | FADF_HAVEVARTYPE;
  HeaderOf(*array)->vt = vt;
  return S_OK;
}

HRESULT SafeArrayAllocData(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  uint64_t count = 0;
  if (!ElementCount(array, &count)) return E_OUTOFMEMORY;
  const uint64_t bytes = count * array->cbElements;
  void* data = std::calloc(1, bytes == 0 ? 1 : static_cast<size_t>(bytes));
  if (data == nullptr) return E_OUTOFMEMORY;
  array->pvData = data;
  return S_OK;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
  if (bounds == nullptr) return nullptr;
  SAFEARRAY* array = nullptr;
  if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &array))) return nullptr;
  for (UINT d = 0; d < cDims; ++d) Bound(array, d) = bounds[d];
  if (FAILED(SafeArrayAllocData(array))) {
    SafeArrayDestroyDescriptor(array);
    return nullptr;
  }
  return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  const SAFEARRAYBOUND bound{elements, lowerBound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  uint64_t count = 0;
  if (array->pvData != nullptr && ElementCount(array, &count)) ReleaseElements(array, 0, count);
  if (!(array->fFeatures & kCallerOwned)) {
    std::free(array->pvData);
    array->pvData = nullptr;
  }
  return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  if (!(array->fFeatures & kCallerOwned)) std::free(HeaderOf(array));
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (array == nullptr) return S_OK;
  if (array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  const HRESULT hr = SafeArrayDestroyData(array);
  if (FAILED(hr)) return hr;
  return SafeArrayDestroyDescriptor(array);
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array == nullptr ? 0 : array->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array == nullptr ? 0 : array->cbElements; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound) {
  if (array == nullptr || lowerBound == nullptr) return E_INVALIDARG;
  if (dimension == 0 || dimension > array->cDims) return DISP_E_BADINDEX;
  *lowerBound = Bound(array, dimension - 1).lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound) {
  if (array == nullptr || upperBound == nullptr) return E_INVALIDARG;
  if (dimension == 0 || dimension > array->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = Bound(array, dimension - 1);
  // The arithmetic wraps as the 32-bit LONG of Windows does for extreme bounds.
  *upperBound = static_cast<LONG>(static_cast<uint32_t>(b.lLbound) + b.cElements - 1u);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (array == nullptr || vt == nullptr) return E_INVALIDARG;
  if (array->fFeatures & FADF_HAVEVARTYPE) {
    *vt = HeaderOf(array)->vt;
    return S_OK;
  }
  if (array->fFeatures & FADF_BSTR) *vt = VT_BSTR;
  else if (array->fFeatures & FADF_UNKNOWN) *vt = VT_UNKNOWN;
  else if (array->fFeatures & FADF_DISPATCH) *vt = VT_DISPATCH;
  else if (array->fFeatures & FADF_VARIANT) *vt = VT_VARIANT;
  else return E_INVALIDARG;
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks >= kMaxLocks) return E_UNEXPECTED;
  ++array->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
  if (array == nullptr) return E_INVALIDARG;
  if (array->cLocks == 0) return E_UNEXPECTED;
  --array->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (array == nullptr || data == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(array);
  *data = SUCCEEDED(hr) ? array->pvData : nullptr;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indices, void** element) {
  if (array == nullptr || indices == nullptr || element == nullptr || array->pvData == nullptr)
    return E_INVALIDARG;
  uint64_t flat = 0;
  const HRESULT hr = FlatIndex(array, indices, &flat);
  if (FAILED(hr)) return hr;
  *element = ElementAt(array, flat);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value) {
  if (array == nullptr || indices == nullptr || value == nullptr || array->pvData == nullptr)
    return E_INVALIDARG;
  uint64_t flat = 0;
  HRESULT hr = FlatIndex(array, indices, &flat);
  if (FAILED(hr)) return hr;
  SafeArrayLock(array);
  hr = CopyElement(KindOf(array), ElementAt(array, flat), static_cast<unsigned char*>(value), array->cbElements);
  SafeArrayUnlock(array);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, void* value) {
  if (array == nullptr || indices == nullptr || array->pvData == nullptr) return E_INVALIDARG;
  const ElementKind kind = KindOf(array);
  if (value == nullptr && (kind == ElementKind::Plain || kind == ElementKind::Variant)) return E_INVALIDARG;
  uint64_t flat = 0;
  HRESULT hr = FlatIndex(array, indices, &flat);
  if (FAILED(hr)) return hr;
  unsigned char* element = ElementAt(array, flat);
  switch (kind) {
    case ElementKind::Bstr: {
      bool ok = true;
      BSTR copy = com_internal::CopyBstr(static_cast<BSTR>(value), &ok);
      if (!ok) return E_OUTOFMEMORY;
      BSTR old;
      std::memcpy(&old, element, sizeof old);
      std::memcpy(element, &copy, sizeof copy);
      SysFreeString(old);
      return S_OK;
    }
    case ElementKind::Interface: {
      auto* p = static_cast<IUnknown*>(value);
      if (p != nullptr) p->AddRef();
      IUnknown* old;
      std::memcpy(&old, element, sizeof old);
      std::memcpy(element, &p, sizeof p);
      if (old != nullptr) old->Release();
      return S_OK;
    }
    case ElementKind::Variant:
      return VariantCopy(reinterpret_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
    case ElementKind::Plain: std::memcpy(element, value, array->cbElements); return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
  if (copy == nullptr) return E_INVALIDARG;
  *copy = nullptr;
  if (array == nullptr) return S_OK;
  uint64_t count = 0;
  if (!ElementCount(array, &count)) return E_INVALIDARG;
  SAFEARRAY* out = NewDescriptor(array->cDims);
  if (out == nullptr) return E_OUTOFMEMORY;
  out->fFeatures = array->fFeatures & ~kCallerOwned;
  out->cbElements = array->cbElements;
  HeaderOf(out)->vt = (array->fFeatures & FADF_HAVEVARTYPE) ? HeaderOf(array)->vt : VT_EMPTY;
  std::memcpy(out->rgsabound, array->rgsabound, array->cDims * sizeof(SAFEARRAYBOUND));
  HRESULT hr = SafeArrayAllocData(out);
  if (FAILED(hr)) {
    SafeArrayDestroyDescriptor(out);
    return hr;
  }
  if (array->pvData != nullptr) {
    const ElementKind kind = KindOf(array);
    for (uint64_t i = 0; i < count; ++i) {
      hr = CopyElement(kind, ElementAt(array, i), ElementAt(out, i), array->cbElements);
      if (FAILED(hr)) {
        SafeArrayDestroy(out);
        return hr;
      }
    }
  }
  *copy = out;
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* array, const SAFEARRAYBOUND* newBound) {
  if (array == nullptr || newBound == nullptr || array->pvData == nullptr) return E_INVALIDARG;
  if (array->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  if (array->fFeatures & (FADF_FIXEDSIZE | kCallerOwned)) return E_INVALIDARG;
  uint64_t oldCount = 0;
  if (!ElementCount(array, &oldCount)) return E_INVALIDARG;
  // The right-most dimension varies slowest, so the elements it keeps stay where they are.
  SAFEARRAYBOUND& last = array->rgsabound[0];
  uint64_t innerSlab = 1;
  for (UINT d = 1; d < array->cDims; ++d) innerSlab *= array->rgsabound[d].cElements;
  const uint64_t newCount = innerSlab * newBound->cElements;
  if (newCount * array->cbElements > kMaxDataBytes) return E_OUTOFMEMORY;
  const size_t newBytes = static_cast<size_t>(newCount * array->cbElements);
  if (newCount < oldCount) {
    ReleaseElements(array, newCount, oldCount);
    // A shrinking realloc that fails leaves the larger block, which still holds every element.
    if (void* data = std::realloc(array->pvData, newBytes == 0 ? 1 : newBytes)) array->pvData = data;
  } else if (newCount > oldCount) {
    void* data = std::realloc(array->pvData, newBytes);
    if (data == nullptr) return E_OUTOFMEMORY;
    array->pvData = data;
    std::memset(ElementAt(array, oldCount), 0, static_cast<size_t>((newCount - oldCount) * array->cbElements));
  }
  last = *newBound;
  return S_OK;
}

}  // namespace win
