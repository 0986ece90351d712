// VARIANT ownership: VariantInit, VariantClear, VariantCopy and VariantCopyInd with strings,
// interfaces (counted), arrays, records and references.
#include <gtest/gtest.h>

#include "common/counting_record_info.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/com/dispatch.h"
#include "platform/com/record_info.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"

namespace win {
namespace {

static_assert(sizeof(VARIANT) == 24, "the 64-bit Windows VARIANT is 24 bytes");
static_assert(offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, pRecInfo) == 16);

// An IUnknown that counts its references and never frees itself (it lives on the stack).
class CountedUnknown : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (!IsEqualGUID(riid, IID_IUnknown)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = this;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

using CountedRecordInfo = qvtest::CountingRecordInfo;

VARIANT Sentinel() {
  VARIANT v;
  v.vt = 0xBEEF;
  v.wReserved1 = v.wReserved2 = v.wReserved3 = 0xDEAD;
  v.llVal = 0x0123456789ABCDEF;
  return v;
}

std::u16string_view TextOf(const VARIANT& v) { return {v.bstrVal, SysStringLen(v.bstrVal)}; }

TEST(ComVariant, InitSetsEmptyWithoutReadingTheValue) {
  VARIANT v = Sentinel();
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(v.wReserved1, 0);
  EXPECT_EQ(v.llVal, 0x0123456789ABCDEF) << "VariantInit does not touch the value";
}

TEST(ComVariant, ClearRejectsNullAndInvalidTypesLeavingThemAlone) {
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  const VARTYPE invalid[] = {15, 0xBEEF, VT_VARIANT, VT_BYREF | VT_EMPTY, VT_BYREF | VT_NULL, VT_VECTOR | VT_I4,
                             VT_ARRAY | VT_EMPTY, VT_PTR, VT_LPSTR};
  for (VARTYPE vt : invalid) {
    VARIANT v = Sentinel();
    v.vt = vt;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << std::hex << vt;
    EXPECT_EQ(v.vt, vt);
  }
}

TEST(ComVariant, ClearReleasesInterfacesButNotReferencesToThem) {
  CountedUnknown object;
  object.AddRef();
  VARIANT v;
  v.vt = VT_UNKNOWN;
  v.punkVal = &object;
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(object.refs, 1u);

  IUnknown* slot = &object;
  v.vt = VT_BYREF | VT_UNKNOWN;
  v.ppunkVal = &slot;
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(object.refs, 1u) << "a reference owns nothing";

  v.vt = VT_DISPATCH;
  v.pdispVal = nullptr;
  EXPECT_EQ(VariantClear(&v), S_OK) << "a null object is fine";
}

TEST(ComVariant, ClearRefusesALockedArray) {
  VARIANT v;
  v.vt = VT_ARRAY | VT_I4;
  v.parray = SafeArrayCreateVector(VT_I4, 0, 2);
  ASSERT_EQ(SafeArrayLock(v.parray), S_OK);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_I4);
  ASSERT_EQ(SafeArrayUnlock(v.parray), S_OK);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(ComVariant, ClearDestroysARecordAndReleasesItsInformation) {
  CountedRecordInfo info;
  info.AddRef();
  VARIANT v;
  v.vt = VT_RECORD;
  v.pvRecord = new int(7);
  v.pRecInfo = &info;
  ASSERT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(info.destroyed, 1);
  EXPECT_EQ(info.refs, 1u);
}

TEST(ComVariant, CopyDuplicatesStringsExactly) {
  const char bytes[] = {'a', '\0', 'b'};  // odd byte length with an embedded NUL
  VARIANT src;
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocStringByteLen(bytes, 3);
  VARIANT dst;
  dst.vt = VT_BSTR;
  dst.bstrVal = SysAllocString(u"old");  // freed by the copy (the leak checker would notice)
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  ASSERT_EQ(dst.vt, VT_BSTR);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(SysStringByteLen(dst.bstrVal), 3u);
  EXPECT_EQ(std::memcmp(dst.bstrVal, bytes, 3), 0);
  VariantClear(&src);
  VariantClear(&dst);
}

TEST(ComVariant, CopyAddsAReferenceToObjectsButNotToReferencedObjects) {
  CountedUnknown object;
  VARIANT src;
  src.vt = VT_UNKNOWN;
  src.punkVal = &object;
  VARIANT dst;
  VariantInit(&dst);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&dst);
  EXPECT_EQ(object.refs, 1u);

  IUnknown* slot = &object;
  src.vt = VT_BYREF | VT_UNKNOWN;
  src.ppunkVal = &slot;
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(dst.vt, VT_BYREF | VT_UNKNOWN);
  EXPECT_EQ(dst.ppunkVal, &slot);
  EXPECT_EQ(object.refs, 1u);
}

TEST(ComVariant, CopyOfAnArrayIsDeep) {
  VARIANT src;
  src.vt = VT_ARRAY | VT_BSTR;
  src.parray = SafeArrayCreateVector(VT_BSTR, 1, 1);
  LONG index = 1;
  OwnedBstr x = OwnedBstr::Copy(u"x");
  ASSERT_EQ(SafeArrayPutElement(src.parray, &index, x.get()), S_OK);
  VARIANT dst;
  VariantInit(&dst);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  ASSERT_EQ(dst.vt, VT_ARRAY | VT_BSTR);
  EXPECT_NE(dst.parray, src.parray);
  BSTR a = nullptr, b = nullptr;
  ASSERT_EQ(SafeArrayGetElement(src.parray, &index, &a), S_OK);
  ASSERT_EQ(SafeArrayGetElement(dst.parray, &index, &b), S_OK);
  EXPECT_NE(a, b);
  EXPECT_EQ(std::u16string_view(b, SysStringLen(b)), u"x");
  SysFreeString(a);
  SysFreeString(b);
  VariantClear(&src);
  VariantClear(&dst);
}

TEST(ComVariant, CopyOfARecordUsesItsInformation) {
  CountedRecordInfo info;
  VARIANT src;
  src.vt = VT_RECORD;
  src.pvRecord = new int(42);
  src.pRecInfo = &info;
  info.AddRef();
  VARIANT dst;
  VariantInit(&dst);
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(info.copies, 1);
  EXPECT_EQ(info.refs, 3u);
  EXPECT_NE(dst.pvRecord, src.pvRecord);
  EXPECT_EQ(*static_cast<int*>(dst.pvRecord), 42);
  VariantClear(&dst);
  VariantClear(&src);
  EXPECT_EQ(info.destroyed, 2);
  EXPECT_EQ(info.refs, 1u);
}

TEST(ComVariant, CopyChecksItsArguments) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(VariantCopy(nullptr, &v), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(&v, nullptr), E_INVALIDARG);
  VARIANT bad = Sentinel();
  VARIANT dst;
  dst.vt = VT_I4;
  dst.lVal = 5;
  EXPECT_EQ(VariantCopy(&dst, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst.vt, VT_I4) << "the destination is untouched";
  EXPECT_EQ(dst.lVal, 5);
  VARIANT self;
  self.vt = VT_BSTR;
  self.bstrVal = SysAllocString(u"same");
  BSTR before = self.bstrVal;
  EXPECT_EQ(VariantCopy(&self, &self), S_OK);
  EXPECT_EQ(self.bstrVal, before);
  VariantClear(&self);
}

TEST(ComVariant, CopyIndFollowsReferences) {
  LONG number = 17;
  SHORT small = -3;
  BSTR text = SysAllocString(u"ref");
  VARIANT inner;
  inner.vt = VT_BYREF | VT_I2;
  inner.piVal = &small;

  VARIANT byLong;
  byLong.vt = VT_BYREF | VT_I4;
  byLong.plVal = &number;
  VARIANT byText;
  byText.vt = VT_BYREF | VT_BSTR;
  byText.pbstrVal = &text;
  VARIANT byVariant;
  byVariant.vt = VT_BYREF | VT_VARIANT;
  byVariant.pvarVal = &inner;

  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantCopyInd(&out, &byLong), S_OK);
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(out.lVal, 17);

  ASSERT_EQ(VariantCopyInd(&out, &byText), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_NE(out.bstrVal, text) << "the string is copied, not shared";
  EXPECT_EQ(TextOf(out), u"ref");

  ASSERT_EQ(VariantCopyInd(&out, &byVariant), S_OK) << "a reference inside a variant reference is followed too";
  EXPECT_EQ(out.vt, VT_I2);
  EXPECT_EQ(out.iVal, -3);

  VariantClear(&out);
  SysFreeString(text);
}

TEST(ComVariant, CopyIndInPlaceAndBadReferences) {
  LONG number = 9;
  VARIANT v;
  v.vt = VT_BYREF | VT_I4;
  v.plVal = &number;
  ASSERT_EQ(VariantCopyInd(&v, &v), S_OK);
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 9);

  VARIANT null;
  null.vt = VT_BYREF | VT_I4;
  null.plVal = nullptr;
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(VariantCopyInd(&out, &null), E_INVALIDARG);

  VARIANT deepest;
  VariantInit(&deepest);
  VARIANT middle;
  middle.vt = VT_BYREF | VT_VARIANT;
  middle.pvarVal = &deepest;
  VARIANT outer;
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &middle;
  EXPECT_EQ(VariantCopyInd(&out, &outer), E_INVALIDARG) << "a variant reference may not hold another one";
  EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST(ComVariant, CopyIndAddsAReferenceToAReferencedObject) {
  CountedUnknown object;
  IUnknown* slot = &object;
  VARIANT src;
  src.vt = VT_BYREF | VT_UNKNOWN;
  src.ppunkVal = &slot;
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(VariantCopyInd(&out, &src), S_OK);
  EXPECT_EQ(out.vt, VT_UNKNOWN);
  EXPECT_EQ(object.refs, 2u);
  VariantClear(&out);
  EXPECT_EQ(object.refs, 1u);
}

TEST(ComVariant, OwnedVariantClearsAndMoves) {
  CountedUnknown object;
  {
    OwnedVariant v;
    v->vt = VT_UNKNOWN;
    v->punkVal = &object;
    object.AddRef();
    OwnedVariant moved = std::move(v);
    EXPECT_EQ(v.vt(), VT_EMPTY);
    EXPECT_EQ(moved.vt(), VT_UNKNOWN);
  }
  EXPECT_EQ(object.refs, 1u);
  OwnedVariant text = OwnedVariant::FromText(u"t");
  EXPECT_EQ(text.vt(), VT_BSTR);
  VARIANT raw = text.Release();
  EXPECT_EQ(text.vt(), VT_EMPTY);
  VariantClear(&raw);
}

}  // namespace
}  // namespace win
