// The conversion commands: ToText of every kind of value, ToHexText, ToInteger with full-width
// folding, ToByteSet.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "common/gbk_print.h"
#include "runtime/commands/command_front.h"

namespace qv {
namespace {

using qvtest::Gbk;

RuntimeValue Slot(TypeCode t, uint32_t low, uint32_t high = 0) {
  RuntimeValue v;
  v.low = low;
  v.high = high;
  v.type = t;
  return v;
}

// An array block of int32 elements, owned by the test: one dimension, or count x 1.
struct IntArray {
  explicit IntArray(std::initializer_list<int32_t> values, int32_t dimensions = 1) {
    const auto count = static_cast<int32_t>(values.size());
    block = RuntimeAlloc(4 + 4 * dimensions + 4 * count);
    WriteInt32(block, dimensions);
    WriteInt32(static_cast<char*>(block) + 4, count);
    if (dimensions == 2) WriteInt32(static_cast<char*>(block) + 8, 1);
    std::memcpy(ArrayElements(block), values.begin(), values.size() * 4);
  }
  ~IntArray() { RuntimeFree(block); }
  void* block;
};

TEST(ConversionCommands, ToTextOfEveryKindOfValue) {
  const OwnedByteSet withZero = OwnedByteSet::Copy(std::string_view("ab\0c", 4));
  const OwnedByteSet noZero = OwnedByteSet::Copy("xyz");
  const IntArray ints({0x00636261, 0x64});
  const IntArray noZeroInts({0x64636261});
  const char* texts[] = {"a", "b"};
  struct Row {
    const char* what;
    RuntimeValue value;
    const char* expected;
  } rows[] = {
      {"byte", Slot(type::Byte, 0x1FF), "255"},
      {"short", Slot(type::Short, 0xFFFE), "-2"},
      {"int min", cmd::IntValue(INT_MIN), "-2147483648"},
      {"int64 min", cmd::Int64Value(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {"float 0.1", cmd::FloatValue(0.1f), "0.1"},
      {"float 1/3", cmd::FloatValue(1.0f / 3), "0.333333"},
      {"float half up", cmd::FloatValue(1000005.0f), "1.00001e+06"},  // plain %.6g rounds to even: 1e+06
      {"float 100", cmd::FloatValue(100.0f), "100"},
      {"float -2.5", cmd::FloatValue(-2.5f), "-2.5"},
      {"float 0", cmd::FloatValue(0.0f), "0"},
      {"float max", cmd::FloatValue(std::numeric_limits<float>::max()), "3.40282e+38"},
      {"float inf", cmd::FloatValue(std::numeric_limits<float>::infinity()), "inf"},
      {"double 1/3", cmd::DoubleValue(1.0 / 3), "0.3333333333333"},
      {"double 0.1", cmd::DoubleValue(0.1), "0.1"},
      {"double 1e20", cmd::DoubleValue(1e20), "1e+20"},
      {"bool true", cmd::BoolValue(true), "真"},
      {"bool false", cmd::BoolValue(false), "假"},
      {"bool 2", Slot(type::Bool, 2), "真"},
      {"text", cmd::TextValue("中a"), "中a"},
      {"date", cmd::DateTimeValue(45000), "2023年3月15日"},
      {"date time", cmd::DateTimeValue(45000.545219907406), "2023年3月15日13时5分7秒"},
      {"date minutes", cmd::DateTimeValue(45000 + 61.0 / 1440), "2023年3月15日1时1分"},
      {"date hour", cmd::DateTimeValue(45000.25), "2023年3月15日6时"},
      {"date negative", cmd::DateTimeValue(-1.25), "1899年12月29日6时"},
      {"date leap", cmd::DateTimeValue(36585), "2000年2月29日"},
      {"date near midnight", cmd::DateTimeValue(45000.9999999), "2023年3月16日"},
      {"date min", cmd::DateTimeValue(kMinDateTime), "100年1月1日"},
      {"date max", cmd::DateTimeValue(kMaxDateTime), "9999年12月31日"},
      {"date nan", cmd::DateTimeValue(std::nan("")), "1899年12月30日"},
      {"date beyond", cmd::DateTimeValue(1e300), "9999年12月31日23时59分59秒"},
      {"byte set to zero", cmd::ByteSetValue(withZero.view()), "ab"},
      {"byte set", cmd::ByteSetValue(noZero.view()), "xyz"},
      {"empty byte set", cmd::ByteSetValue({}), ""},
      {"int array", cmd::ArrayValue(type::Int, ints.block), "abc"},
      {"int array no zero", cmd::ArrayValue(type::Int, noZeroInts.block), "abcd"},
      {"text array", RuntimeValue::OfPointer(type::Text | AddressFlag, texts), ""},
      {"subroutine", Slot(type::SubroutinePointer, 77), ""},
      {"object", Slot(type::Object, 0), ""},
      {"omitted", RuntimeValue{}, ""},
  };
  for (const Row& r : rows) EXPECT_EQ(Gbk(cmd::ToText(r.value).view()), Gbk(r.expected)) << r.what;
  EXPECT_EQ(cmd::ToText(static_cast<const char*>(nullptr)).get(), nullptr);
  EXPECT_EQ(Gbk(cmd::ToText(int64_t{1} << 40).view()), Gbk("1099511627776"));
}

TEST(ConversionCommands, ToHexText) {
  const std::pair<int32_t, const char*> rows[] = {
      {255, "FF"}, {0, "0"}, {-1, "FFFFFFFF"}, {INT_MIN, "80000000"}, {0xABC, "ABC"}, {INT_MAX, "7FFFFFFF"}};
  for (const auto& [v, expected] : rows) EXPECT_EQ(Gbk(cmd::ToHexText(v).view()), Gbk(expected)) << v;
}

TEST(ConversionCommands, ToIntegerFoldsFullWidthAndTruncates) {
  const std::pair<const char*, int32_t> texts[] = {
      {"１２３", 123},     {"－１２", -12},          {"＋５", 5},      {"\xA1\xA1１", 1},   {" 42abc", 42},
      {"abc", 0},          {"", 0},                  {"-", 0},         {"2147483647", INT_MAX},
      {"2147483648", INT_MAX}, {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN},
      {"99999999999999999999", INT_MAX}, {"1２3", 123}, {"１ａ", 1}, {"\xA3", 0}, {"12\xA3", 12},
      {" \t\n-7", -7},     {"1中2", 1},              {"+-1", 0},       {"００７", 7},
  };
  for (const auto& [text, expected] : texts)
    EXPECT_EQ(cmd::ToInteger(text), expected) << qvtest::GbkToUtf8ForDisplay(text);

  const IntArray ints({5});
  struct Row {
    const char* what;
    RuntimeValue value;
    int32_t expected;
  } rows[] = {
      {"-2.7", cmd::DoubleValue(-2.7), -2},
      {"2.7", cmd::DoubleValue(2.7), 2},
      {"1e20", cmd::DoubleValue(1e20), INT_MIN},  // no int32 holds it: the x86 indefinite value
      {"nan", cmd::DoubleValue(std::nan("")), INT_MIN},
      {"-2147483648.9", cmd::DoubleValue(-2147483648.9), INT_MIN},
      {"float 3.9", cmd::FloatValue(3.9f), 3},
      {"bool 5", Slot(type::Bool, 5), 1},
      {"bool 0", Slot(type::Bool, 0), 0},
      {"byte", Slot(type::Byte, 0x1FF), 255},
      {"short", Slot(type::Short, 0xFFFF), -1},
      {"int64", cmd::Int64Value((int64_t{1} << 32) + 5), 5},
      {"date", cmd::DateTimeValue(45000), 0},
      {"subroutine", Slot(type::SubroutinePointer, 77), 77},
      {"array", cmd::ArrayValue(type::Int, ints.block), 0},
      {"omitted", RuntimeValue{}, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(cmd::ToInteger(r.value), r.expected) << r.what;
}

TEST(ConversionCommands, ToByteSetGivesRawBytes) {
  const IntArray ints({1, 2});
  const IntArray matrix({1}, 2);
  const char* texts[] = {"a"};
  const OwnedByteSet set = OwnedByteSet::Copy(std::string_view("q\0r", 3));
  struct Row {
    const char* what;
    RuntimeValue value;
    std::string expected;
  } rows[] = {
      {"text", cmd::TextValue("abc"), "abc"},
      {"empty text", cmd::TextValue(""), ""},
      {"int", cmd::IntValue(0x01020304), std::string("\x04\x03\x02\x01", 4)},
      {"double", cmd::DoubleValue(1.0), std::string("\0\0\0\0\0\0\xF0\x3F", 8)},
      {"byte", Slot(type::Byte, 0x1FF), "\xFF"},
      {"short", Slot(type::Short, 0x4142), "BA"},
      {"bool", cmd::BoolValue(true), std::string("\x01\0\0\0", 4)},
      {"byte set", cmd::ByteSetValue(set.view()), std::string("q\0r", 3)},
      {"int array", cmd::ArrayValue(type::Int, ints.block), std::string("\x01\0\0\0\x02\0\0\0", 8)},
      {"two-dimensional array", cmd::ArrayValue(type::Int, matrix.block), ""},
      {"text array", RuntimeValue::OfPointer(type::Text | AddressFlag, texts), ""},
      {"object", Slot(type::Object, 0), ""},
      {"omitted", RuntimeValue{}, ""},
  };
  for (const Row& r : rows) {
    const OwnedByteSet bytes = cmd::ToByteSet(r.value);
    EXPECT_EQ(bytes.bytes(), r.expected) << r.what;
    if (r.expected.empty()) {
      EXPECT_EQ(bytes.get(), nullptr) << r.what;  // never a zero-length block
    }
  }
}

}  // namespace
}  // namespace qv
