// Value memory: the memory entries, the static data rules, texts, byte sets, arrays and raw views.
#include <gtest/gtest.h>

#include <cstring>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "platform/heap/heap.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/owned.h"

namespace qv {
namespace {

// A stand-in for a program's constant data: an empty byte set, an empty text and a constant text.
struct alignas(8) TestStaticData {
  int32_t emptyByteSet[2] = {1, 0};
  char emptyText[1] = "";
  char hello[6] = "hello";
  int32_t threeInts[5] = {1, 3, 10, 20, 30};
};
const TestStaticData kData;

class StaticDataTest : public testing::Test {
 protected:
  void SetUp() override { SetStaticDataRegion(&kData, sizeof kData); }
  void TearDown() override { ClearStaticDataRegion(); }
};

TEST_F(StaticDataTest, FreeLeavesStaticBlocksAlone) {
  RuntimeFree(const_cast<char*>(kData.hello));
  RuntimeFree(const_cast<int32_t*>(kData.emptyByteSet));
  RuntimeFree(nullptr);
  EXPECT_STREQ(kData.hello, "hello");
}

TEST_F(StaticDataTest, ReallocCopiesStaticBlocksOutAndLeavesThemUntouched) {
  // Asking for more than the region holds from that point copies only what is there.
  const size_t left = sizeof kData - offsetof(TestStaticData, hello);
  auto* big = static_cast<char*>(RuntimeRealloc(const_cast<char*>(kData.hello), static_cast<int32_t>(left + 16)));
  ASSERT_NE(big, kData.hello);
  EXPECT_FALSE(IsStaticData(big));
  EXPECT_EQ(std::memcmp(big, kData.hello, left), 0);
  big[0] = 'J';
  EXPECT_STREQ(kData.hello, "hello");
  RuntimeFree(big);

  auto* small = static_cast<char*>(RuntimeRealloc(const_cast<char*>(kData.hello), 3));
  EXPECT_EQ(std::memcmp(small, "hel", 3), 0);
  RuntimeFree(small);
}

TEST_F(StaticDataTest, RegionBoundsAreExact) {
  auto* start = reinterpret_cast<const unsigned char*>(&kData);
  EXPECT_TRUE(IsStaticData(start));
  EXPECT_TRUE(IsStaticData(start + sizeof kData - 1));
  EXPECT_FALSE(IsStaticData(start + sizeof kData));
  EXPECT_FALSE(IsStaticData(start - 1));
  ClearStaticDataRegion();
  EXPECT_FALSE(IsStaticData(start));
  SetStaticDataRegion(&kData, 0);  // a zero length records nothing
  EXPECT_FALSE(IsStaticData(start));
}

TEST_F(StaticDataTest, MakeArrayWritableCopiesOnlyStaticArrays) {
  void* variable = const_cast<int32_t*>(kData.threeInts);
  MakeArrayWritable(4, &variable);
  ASSERT_NE(variable, static_cast<const void*>(kData.threeInts));
  EXPECT_EQ(ArrayElementCount(variable), 3);
  EXPECT_EQ(std::memcmp(variable, kData.threeInts, sizeof kData.threeInts), 0);
  void* copy = variable;
  MakeArrayWritable(4, &variable);  // already writable: unchanged
  EXPECT_EQ(variable, copy);
  FreeArray(type::Int, variable);

  // The empty array template: one dimension of size 0.
  void* empty = const_cast<int32_t*>(kData.emptyByteSet);
  MakeArrayWritable(8, &empty);
  EXPECT_FALSE(IsStaticData(empty));
  EXPECT_EQ(ArrayElementCount(empty), 0);
  FreeArray(type::Text, empty);
  // Freeing a static array of texts frees nothing.
  FreeArray(type::Text, const_cast<int32_t*>(kData.emptyByteSet));
}

TEST(Memory, ReallocKeepsContentAndNullAllocates) {
  auto* p = static_cast<char*>(RuntimeRealloc(nullptr, 4));
  std::memcpy(p, "abc", 4);
  p = static_cast<char*>(RuntimeRealloc(p, 1 << 16));
  EXPECT_STREQ(p, "abc");
  RuntimeFree(p);
}

TEST(Memory, TextsAndByteSetsOfLengthZeroAreNull) {
  EXPECT_EQ(NewText("", 0), nullptr);
  EXPECT_EQ(NewText(std::string_view()), nullptr);
  EXPECT_EQ(NewText(static_cast<const char*>(nullptr)), nullptr);
  EXPECT_EQ(NewByteSet("x", 0), nullptr);
  OwnedByteSet set = OwnedByteSet::Copy(std::string_view("\0a\0", 3));
  EXPECT_EQ(set.size(), 3u);
  EXPECT_EQ(ReadInt32(set.get()), 1);
  EXPECT_EQ(set.bytes(), std::string_view("\0a\0", 3));
  EXPECT_EQ(ByteSetLengthOf(nullptr), 0u);
}

TEST(Memory, ConcatTextsAlwaysMakesABlock) {
  OwnedText empty = OwnedText::Adopt(ConcatTexts<char, char>(nullptr, ""));
  ASSERT_NE(empty.get(), nullptr);
  EXPECT_EQ(empty.get()[0], '\0');
  EXPECT_EQ(CompareTexts(empty.get(), nullptr), 0);

  OwnedText joined = OwnedText::Adopt(ConcatTexts<char, char, char>("答案", nullptr, "：x"));
  EXPECT_EQ(qvtest::Gbk(joined.c_str()), qvtest::Gbk("答案：x"));
}

TEST(Memory, CompareTextsIsUnsignedStrcmpOrderWithNullAsEmpty) {
  struct Row {
    const char* a;
    const char* b;
    int expected;
  } rows[] = {
      {nullptr, "", 0},      {"", nullptr, 0},     {nullptr, nullptr, 0}, {nullptr, "a", -1},
      {"a", nullptr, 1},     {"abc", "abd", -1},   {"abc", "ab", 1},      {"\xB0\xA1", "z", 1},
      {"答案", "答案", 0},
  };
  for (const Row& r : rows)
    EXPECT_EQ(CompareTexts(r.a, r.b), r.expected) << qvtest::GbkToUtf8ForDisplay(r.a ? r.a : "(null)") << " vs "
                                                  << qvtest::GbkToUtf8ForDisplay(r.b ? r.b : "(null)");
}

TEST(Memory, ArrayOfTextsIsFreedWithItsElements) {
  // One dimension of three texts: 8 header bytes then three pointers; the sanitizer build checks
  // that the elements are freed with the block and that null elements are skipped.
  void* block = NewArray(3, sizeof(char*));
  EXPECT_EQ(ArrayElementCount(block), 3);
  EXPECT_EQ(ArrayHeaderSize(block), 8u);
  char* texts[3] = {NewText("one"), nullptr, NewText("three")};
  std::memcpy(ArrayElements(block), texts, sizeof texts);
  OwnedArray owned = OwnedArray::Adopt(type::Text, block);
  EXPECT_STREQ(owned.TextAt(0), "one");
  EXPECT_STREQ(owned.TextAt(1), "");
  EXPECT_STREQ(owned.TextAt(2), "three");
}

TEST(Memory, ArrayGeometryRejectsNonsense) {
  int32_t twoByThree[3] = {2, 2, 3};
  EXPECT_EQ(ArrayElementCount(twoByThree), 6);
  EXPECT_EQ(ArrayHeaderSize(twoByThree), 12u);
  int32_t negative[2] = {1, -4};
  EXPECT_EQ(ArrayElementCount(negative), 0);
  int32_t noDimensions[1] = {0};
  EXPECT_EQ(ArrayElementCount(noDimensions), 0);
  EXPECT_EQ(ArrayElementCount(nullptr), 0);
}

TEST(RawData, ViewsGiveTheValuesBytes) {
  RuntimeValue i = RuntimeValue::Of(type::Int, 0x01020304);
  RawView v = RawDataView(i);
  ASSERT_TRUE(v.valid);
  ASSERT_EQ(v.size, 4u);
  EXPECT_EQ(std::memcmp(v.data, "\x04\x03\x02\x01", 4), 0);

  RuntimeValue d;
  d.SetDouble(1.5);
  d.type = type::Double;
  v = RawDataView(d);
  double back;
  ASSERT_EQ(v.size, 8u);
  std::memcpy(&back, v.data, 8);
  EXPECT_EQ(back, 1.5);

  OwnedText text = OwnedText::Copy("ab");
  v = RawDataView(RuntimeValue::OfPointer(type::Text, text.get()));
  EXPECT_EQ(v.size, 3u);  // the NUL is part of a text's raw bytes

  EXPECT_EQ(RawDataView(RuntimeValue::Of(type::Byte, 0x1FF)).size, 1u);
  EXPECT_EQ(RawDataView(RuntimeValue::Of(type::Short, 7)).size, 2u);
  EXPECT_FALSE(RawDataView(RuntimeValue::Of(type::Object, 0)).valid);
  EXPECT_FALSE(RawDataView(RuntimeValue::Of(type::Int | AddressFlag, 0)).valid);
}

TEST(RawData, StoreRawBytesBuildsEachType) {
  RuntimeValue out;
  const unsigned char two[] = {2, 0, 0, 0};
  EXPECT_EQ(StoreRawBytes(type::Bool, two, 4, &out), 4u);
  EXPECT_EQ(out.Int32(), 1);
  EXPECT_EQ(out.type, type::Bool);

  // Short reads are completed with zero bytes.
  const unsigned char partial[] = {0x34, 0x12};
  StoreRawBytes(type::Int, partial, 2, &out);
  EXPECT_EQ(out.Int32(), 0x1234);
  StoreRawBytes(type::Int64, partial, 0, &out);
  EXPECT_EQ(out.Int64(), 0);

  const unsigned char minusOne[] = {0xFF};
  StoreRawBytes(type::Byte, minusOne, 1, &out);
  EXPECT_EQ(out.low, 0xFFu);

  // DateTime is clamped into the valid range.
  for (double raw : {1e9, -1e9}) {
    StoreRawBytes(type::DateTime, &raw, 8, &out);
    EXPECT_EQ(out.Double(), raw > 0 ? kMaxDateTime : kMinDateTime);
  }

  // A text ends at its NUL (consumed with it) or takes everything there is.
  const char bytes[] = {'a', 'b', '\0', 'c'};
  EXPECT_EQ(StoreRawBytes(type::Text, bytes, 4, &out), 3u);
  EXPECT_STREQ(static_cast<char*>(out.Pointer()), "ab");
  RuntimeFree(out.Pointer());
  EXPECT_EQ(StoreRawBytes(type::Text, bytes + 3, 1, &out), 1u);
  EXPECT_STREQ(static_cast<char*>(out.Pointer()), "c");
  RuntimeFree(out.Pointer());
  EXPECT_EQ(StoreRawBytes(type::Text, bytes + 2, 1, &out), 1u);
  EXPECT_EQ(out.Pointer(), nullptr);
}

TEST(MemoryDeathTest, AllocationFailureReportsTheSizeAndExitsWithMinusOne) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        win::SetHeapAllocationLimitForTesting(1000);
        RuntimeAlloc(5000);
      },
      testing::ExitedWithCode(255),
      qvtest::BoxMarker(qvtest::Utf8(u8"错误"), 0x10) + qvtest::Utf8(u8"\n运行时出错!\r\n\r\n错误信息：分配 5000 字节内存失败!\r\n"));
}

TEST(MemoryDeathTest, NegativeSizesFailLikeExhaustion) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        RuntimeRealloc(RuntimeAlloc(8), -1);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"分配 -1 字节内存失败!"));
}

}  // namespace
}  // namespace qv
