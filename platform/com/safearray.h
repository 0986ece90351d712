// SAFEARRAY: a self-describing array of OLE Automation values with any number of dimensions, each
// with its own lower bound.
//
// Dimension order. Functions that take bounds or indices (SafeArrayCreate's bounds, rgIndices,
// the nDim of SafeArrayGetLBound/UBound) list dimensions in declaration order: entry 0 / nDim 1 is
// the left-most dimension. Elements are stored in column-major order, the left-most dimension
// varying fastest. The descriptor's own rgsabound stores the bounds in reverse order, the
// right-most dimension first, as on Windows.
//
// Element ownership: arrays of VT_BSTR own their strings, VT_VARIANT their variants, VT_UNKNOWN and
// VT_DISPATCH one reference per element. New elements start zeroed (null, VT_EMPTY, 0).
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/ole_types.h"
#include "platform/com/variant.h"

namespace win {

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];  // cDims entries, right-most dimension first
};
using LPSAFEARRAY = SAFEARRAY*;

// fFeatures bits.
inline constexpr USHORT FADF_AUTO = 0x0001;
inline constexpr USHORT FADF_STATIC = 0x0002;
inline constexpr USHORT FADF_EMBEDDED = 0x0004;
inline constexpr USHORT FADF_FIXEDSIZE = 0x0010;
inline constexpr USHORT FADF_RECORD = 0x0020;
inline constexpr USHORT FADF_HAVEIID = 0x0040;
inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
inline constexpr USHORT FADF_BSTR = 0x0100;
inline constexpr USHORT FADF_UNKNOWN = 0x0200;
inline constexpr USHORT FADF_DISPATCH = 0x0400;
inline constexpr USHORT FADF_VARIANT = 0x0800;

// Element types accepted: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_INT,
// VT_UINT, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT,
// VT_UNKNOWN, VT_DECIMAL, VT_INT_PTR, VT_UINT_PTR. Null for any other type, for cDims 0, null
// bounds, a total size that does not fit memory, or when out of memory. A dimension may have 0
// elements.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
// Frees the elements (see above), the data and the descriptor. Null is S_OK.
// DISP_E_ARRAYISLOCKED while the array is locked (nothing is freed).
HRESULT SafeArrayDestroy(SAFEARRAY* array);

// Descriptor and data separately, for callers that build an array by hand. AllocDescriptor makes a
// descriptor without an element type (the caller fills cbElements and fFeatures); AllocDescriptorEx
// records vt and fills both.
HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** array);
HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** array);
HRESULT SafeArrayAllocData(SAFEARRAY* array);
HRESULT SafeArrayDestroyData(SAFEARRAY* array);
HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* array);

UINT SafeArrayGetDim(SAFEARRAY* array);          // 0 for null
UINT SafeArrayGetElemsize(SAFEARRAY* array);     // 0 for null
// DISP_E_BADINDEX when dimension is 0 or above the dimension count; E_INVALIDARG for null.
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound);
// The element type: the recorded one, or the one implied by FADF_BSTR / _UNKNOWN / _DISPATCH /
// _VARIANT. E_INVALIDARG when neither is known or for null.
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);

// Locks keep the data in place: a locked array cannot be destroyed or redimensioned.
// SafeArrayUnlock of an unlocked array gives E_UNEXPECTED.
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
// Locks the array and gives its data; balanced by SafeArrayUnaccessData.
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
// The address of one element, without locking.
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indices, void** element);

// Copies one element out: a BSTR is duplicated into *(BSTR*)value, a VARIANT copied with
// VariantCopy into the VARIANT at value (which is treated as uninitialised and overwritten), an
// interface stored with a new reference, anything else copied byte for byte. DISP_E_BADINDEX when
// an index lies outside its dimension; E_INVALIDARG for null pointers; E_OUTOFMEMORY.
HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* value);
// Stores one element, freeing the previous one. For VT_BSTR, VT_UNKNOWN and VT_DISPATCH value is
// the BSTR or interface pointer itself (copied or given a reference); for VT_VARIANT it points at
// the VARIANT to copy; otherwise at the value. Null value is allowed for BSTR and interfaces.
HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, void* value);

// A deep copy (strings and variants duplicated, interfaces referenced). Null gives null and S_OK.
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);
// Changes the right-most dimension, keeping the elements that still fit; new ones are zeroed.
HRESULT SafeArrayRedim(SAFEARRAY* array, const SAFEARRAYBOUND* newBound);

}  // namespace win
