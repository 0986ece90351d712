// SAFEARRAY: dimensions and bounds, column-major layout, element copy semantics for strings,
// variants and interfaces, locking, copying and resizing.
#include <gtest/gtest.h>

#include <string_view>

#include "platform/com/safearray.h"

namespace win {
namespace {

class CountedUnknown : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

std::u16string_view TextOf(BSTR s) { return {s, SysStringLen(s)}; }

TEST(ComSafeArray, CreateRecordsBoundsPerDimension) {
  const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, -5}, {1, 100}};
  SAFEARRAY* a = SafeArrayCreate(VT_I4, 3, bounds);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(SafeArrayGetDim(a), 3u);
  EXPECT_EQ(SafeArrayGetElemsize(a), 4u);
  struct Expect {
    UINT dim;
    LONG lower, upper;
  };
  for (const Expect& e : {Expect{1, 1, 2}, Expect{2, -5, -3}, Expect{3, 100, 100}}) {
    LONG lower = 0xDEAD, upper = 0xDEAD;
    ASSERT_EQ(SafeArrayGetLBound(a, e.dim, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a, e.dim, &upper), S_OK);
    EXPECT_EQ(lower, e.lower) << e.dim;
    EXPECT_EQ(upper, e.upper) << e.dim;
  }
  // The descriptor keeps the bounds right-most dimension first, as Windows lays them out.
  EXPECT_EQ(a->rgsabound[0].cElements, 1u);
  EXPECT_EQ(a->rgsabound[2].cElements, 2u);
  LONG sentinel = 0xDEAD;
  EXPECT_EQ(SafeArrayGetLBound(a, 0, &sentinel), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(a, 4, &sentinel), DISP_E_BADINDEX);
  EXPECT_EQ(sentinel, 0xDEAD);
  EXPECT_EQ(SafeArrayGetLBound(a, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &sentinel), E_INVALIDARG);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(ComSafeArray, EmptyDimensionHasUpperBoundBelowLowerBound) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, 0);
  ASSERT_NE(a, nullptr);
  LONG upper = 0;
  ASSERT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  LONG index = 0;
  BYTE b;
  EXPECT_EQ(SafeArrayGetElement(a, &index, &b), DISP_E_BADINDEX);
  SafeArrayDestroy(a);
}

TEST(ComSafeArray, ElementTypesAndSizes) {
  struct Row {
    VARTYPE vt;
    UINT size;  // 0: not an element type
  };
  const Row rows[] = {{VT_I1, 1},  {VT_UI1, 1},      {VT_I2, 2},       {VT_BOOL, 2},    {VT_I4, 4},
                      {VT_R4, 4},  {VT_ERROR, 4},    {VT_INT, 4},      {VT_R8, 8},      {VT_CY, 8},
                      {VT_DATE, 8}, {VT_I8, 8},      {VT_BSTR, 8},     {VT_UNKNOWN, 8}, {VT_DISPATCH, 8},
                      {VT_VARIANT, 24}, {VT_DECIMAL, 16}, {VT_EMPTY, 0},  {VT_NULL, 0},    {VT_VOID, 0},
                      {VT_RECORD, 0}, {VT_BYREF | VT_I4, 0}, {VT_ARRAY | VT_I4, 0}, {VT_LPSTR, 0}};
  for (const Row& row : rows) {
    SAFEARRAY* a = SafeArrayCreateVector(row.vt, 0, 2);
    if (row.size == 0) {
      EXPECT_EQ(a, nullptr) << row.vt;
      continue;
    }
    ASSERT_NE(a, nullptr) << row.vt;
    EXPECT_EQ(SafeArrayGetElemsize(a), row.size) << row.vt;
    VARTYPE vt = 0xFFFF;
    ASSERT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
    EXPECT_EQ(vt, row.vt);
    SafeArrayDestroy(a);
  }
}

TEST(ComSafeArray, CreateRefusesBadShapes) {
  const SAFEARRAYBOUND one{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
  const SAFEARRAYBOUND huge[] = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr) << "a size that overflows is refused, not wrapped";
  EXPECT_EQ(SafeArrayCreateVector(VT_R8, 0, 0x40000000), nullptr);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(ComSafeArray, ElementsAreStoredColumnMajor) {
  const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, 0}};  // a(1 To 2, 0 To 2)
  SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(a, nullptr);
  for (LONG i = 1; i <= 2; ++i) {
    for (LONG j = 0; j <= 2; ++j) {
      LONG indices[] = {i, j};
      LONG value = i * 10 + j;
      ASSERT_EQ(SafeArrayPutElement(a, indices, &value), S_OK);
    }
  }
  LONG* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a, reinterpret_cast<void**>(&data)), S_OK);
  const LONG expected[] = {10, 20, 11, 21, 12, 22};  // the left-most index varies fastest
  for (int k = 0; k < 6; ++k) EXPECT_EQ(data[k], expected[k]) << k;
  ASSERT_EQ(SafeArrayUnaccessData(a), S_OK);
  LONG indices[] = {2, 1};
  LONG* element = nullptr;
  ASSERT_EQ(SafeArrayPtrOfIndex(a, indices, reinterpret_cast<void**>(&element)), S_OK);
  EXPECT_EQ(*element, 21);
  SafeArrayDestroy(a);
}

TEST(ComSafeArray, IndicesOutsideTheBoundsAreRefused) {
  const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, -1}};
  SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(a, nullptr);
  const LONG bad[][2] = {{0, 0}, {3, 0}, {1, -2}, {1, 2}, {-2147483647 - 1, 0}, {2147483647, 1}};
  for (const auto& indices : bad) {
    LONG value = 0x5EED;
    EXPECT_EQ(SafeArrayPutElement(a, indices, &value), DISP_E_BADINDEX) << indices[0] << "," << indices[1];
    EXPECT_EQ(SafeArrayGetElement(a, indices, &value), DISP_E_BADINDEX);
    EXPECT_EQ(value, 0x5EED);
    void* p = &value;
    EXPECT_EQ(SafeArrayPtrOfIndex(a, indices, &p), DISP_E_BADINDEX);
  }
  LONG value = 0;
  const LONG good[] = {2, 1};
  EXPECT_EQ(SafeArrayGetElement(a, nullptr, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(a, good, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(nullptr, good, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(a, good, nullptr), E_INVALIDARG);
  SafeArrayDestroy(a);
}

TEST(ComSafeArray, StringElementsAreCopiedInAndOut) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 2);
  ASSERT_NE(a, nullptr);
  LONG index = 0;
  BSTR mine = SysAllocString(u"first");
  ASSERT_EQ(SafeArrayPutElement(a, &index, mine), S_OK);
  BSTR stored = static_cast<BSTR*>(a->pvData)[0];
  EXPECT_NE(stored, mine);
  SysFreeString(mine);  // the array keeps its own copy
  ASSERT_EQ(SafeArrayPutElement(a, &index, SysAllocString(nullptr)), S_OK) << "null is a valid BSTR";
  EXPECT_EQ(static_cast<BSTR*>(a->pvData)[0], nullptr) << "the old element was freed and replaced";
  OwnedBstr second = OwnedBstr::Copy(u"second");
  index = 1;
  ASSERT_EQ(SafeArrayPutElement(a, &index, second.get()), S_OK);
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a, &index, &out), S_OK);
  EXPECT_NE(out, static_cast<BSTR*>(a->pvData)[1]);
  EXPECT_EQ(TextOf(out), u"second");
  SysFreeString(out);
  SafeArrayDestroy(a);
}

TEST(ComSafeArray, VariantElementsAreCopiedInAndOut) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 1, 1);
  ASSERT_NE(a, nullptr);
  LONG index = 1;
  OwnedVariant value = OwnedVariant::FromText(u"v");
  ASSERT_EQ(SafeArrayPutElement(a, &index, value.get()), S_OK);
  VARIANT* stored = static_cast<VARIANT*>(a->pvData);
  EXPECT_EQ(stored->vt, VT_BSTR);
  EXPECT_NE(stored->bstrVal, value->bstrVal);
  VARIANT out;
  out.vt = 0xBEEF;  // treated as uninitialised
  ASSERT_EQ(SafeArrayGetElement(a, &index, &out), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_NE(out.bstrVal, stored->bstrVal);
  EXPECT_EQ(TextOf(out.bstrVal), u"v");
  VariantClear(&out);
  OwnedVariant number = OwnedVariant::FromInt32(4);
  ASSERT_EQ(SafeArrayPutElement(a, &index, number.get()), S_OK) << "replacing clears the old string";
  EXPECT_EQ(stored->vt, VT_I4);
  SafeArrayDestroy(a);
}

TEST(ComSafeArray, InterfaceElementsHoldReferences) {
  CountedUnknown first, second;
  SAFEARRAY* a = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  ASSERT_NE(a, nullptr);
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(a, &index, static_cast<IUnknown*>(&first)), S_OK);
  EXPECT_EQ(first.refs, 2u);
  ASSERT_EQ(SafeArrayPutElement(a, &index, static_cast<IUnknown*>(&second)), S_OK);
  EXPECT_EQ(first.refs, 1u) << "the replaced element is released";
  EXPECT_EQ(second.refs, 2u);
  IUnknown* out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a, &index, &out), S_OK);
  EXPECT_EQ(out, &second);
  EXPECT_EQ(second.refs, 3u);
  out->Release();

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
  EXPECT_EQ(second.refs, 3u);
  ASSERT_EQ(SafeArrayDestroy(copy), S_OK);
  ASSERT_EQ(SafeArrayDestroy(a), S_OK);
  EXPECT_EQ(second.refs, 1u);
}

TEST(ComSafeArray, LockedArraysCannotBeDestroyed) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 1);
  ASSERT_NE(a, nullptr);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
  EXPECT_EQ(data, a->pvData);
  EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
  const SAFEARRAYBOUND bigger{4, 0};
  EXPECT_EQ(SafeArrayRedim(a, &bigger), DISP_E_ARRAYISLOCKED);
  LONG index = 0;
  OwnedBstr s = OwnedBstr::Copy(u"still writable");
  EXPECT_EQ(SafeArrayPutElement(a, &index, s.get()), S_OK) << "elements can be stored while locked";
  ASSERT_EQ(SafeArrayUnaccessData(a), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(a), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayUnlock(a), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(ComSafeArray, CopyIsDeepAndKeepsTheShape) {
  const SAFEARRAYBOUND bounds[] = {{2, -1}, {2, 5}};
  SAFEARRAY* a = SafeArrayCreate(VT_BSTR, 2, bounds);
  ASSERT_NE(a, nullptr);
  LONG indices[] = {0, 6};
  OwnedBstr s = OwnedBstr::Copy(u"x");
  ASSERT_EQ(SafeArrayPutElement(a, indices, s.get()), S_OK);
  SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(0x1);
  ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(SafeArrayGetDim(copy), 2u);
  LONG lower = 0;
  ASSERT_EQ(SafeArrayGetLBound(copy, 2, &lower), S_OK);
  EXPECT_EQ(lower, 5);
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);
  BSTR original = nullptr, copied = nullptr;
  ASSERT_EQ(SafeArrayPtrOfIndex(a, indices, reinterpret_cast<void**>(&original)), S_OK);
  ASSERT_EQ(SafeArrayPtrOfIndex(copy, indices, reinterpret_cast<void**>(&copied)), S_OK);
  EXPECT_NE(*reinterpret_cast<BSTR*>(original), *reinterpret_cast<BSTR*>(copied));
  EXPECT_EQ(TextOf(*reinterpret_cast<BSTR*>(copied)), u"x");
  SafeArrayDestroy(a);
  SafeArrayDestroy(copy);

  SAFEARRAY* none = reinterpret_cast<SAFEARRAY*>(0x1);
  EXPECT_EQ(SafeArrayCopy(nullptr, &none), S_OK);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(SafeArrayCopy(nullptr, nullptr), E_INVALIDARG);
}

TEST(ComSafeArray, RedimChangesTheLastDimensionAndKeepsWhatFits) {
  CountedUnknown object;
  const SAFEARRAYBOUND bounds[] = {{2, 0}, {2, 0}};
  SAFEARRAY* a = SafeArrayCreate(VT_UNKNOWN, 2, bounds);
  ASSERT_NE(a, nullptr);
  LONG last[] = {1, 1};
  LONG first[] = {1, 0};
  ASSERT_EQ(SafeArrayPutElement(a, first, static_cast<IUnknown*>(&object)), S_OK);
  ASSERT_EQ(SafeArrayPutElement(a, last, static_cast<IUnknown*>(&object)), S_OK);
  EXPECT_EQ(object.refs, 3u);
  const SAFEARRAYBOUND grown{3, 0};
  ASSERT_EQ(SafeArrayRedim(a, &grown), S_OK);
  LONG upper = 0;
  ASSERT_EQ(SafeArrayGetUBound(a, 2, &upper), S_OK);
  EXPECT_EQ(upper, 2);
  IUnknown* out = reinterpret_cast<IUnknown*>(0x1);
  LONG added[] = {0, 2};
  ASSERT_EQ(SafeArrayGetElement(a, added, &out), S_OK);
  EXPECT_EQ(out, nullptr) << "new elements start empty";
  const SAFEARRAYBOUND shrunk{1, 0};
  ASSERT_EQ(SafeArrayRedim(a, &shrunk), S_OK);
  EXPECT_EQ(object.refs, 2u) << "the element that no longer fits is released";
  ASSERT_EQ(SafeArrayGetElement(a, first, &out), S_OK);
  EXPECT_EQ(out, &object);
  out->Release();
  EXPECT_EQ(SafeArrayGetElement(a, last, &out), DISP_E_BADINDEX);
  SafeArrayDestroy(a);
  EXPECT_EQ(object.refs, 1u);
}

TEST(ComSafeArray, DescriptorsBuiltByHand) {
  SAFEARRAY* a = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptor(1, &a), S_OK);
  a->cbElements = 2;
  a->rgsabound[0] = SAFEARRAYBOUND{5, 0};
  VARTYPE vt = 0xFFFF;
  EXPECT_EQ(SafeArrayGetVartype(a, &vt), E_INVALIDARG) << "no element type was recorded";
  ASSERT_EQ(SafeArrayAllocData(a), S_OK);
  ASSERT_NE(a->pvData, nullptr);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
  EXPECT_EQ(SafeArrayAllocDescriptor(0, &a), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAllocDescriptorEx(VT_EMPTY, 1, &a), E_INVALIDARG);
  EXPECT_EQ(a, nullptr);
}

}  // namespace
}  // namespace win
