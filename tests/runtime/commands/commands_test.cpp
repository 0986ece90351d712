// The dispatcher, the runtime service entry, the core library record, the byte-set commands and
// ReadByteSetData, and commands called with missing or odd argument slots.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "platform/heap/heap.h"
#include "platform/ui/ui.h"
#include "runtime/commands/command_front.h"
#include "runtime/commands/commands.h"
#include "runtime/commands/dispatch.h"

namespace qv {
namespace {

using qvtest::Gbk;

RuntimeValue g_seenResult;
int32_t g_seenCount = -1;
RuntimeValue* g_seenArguments = nullptr;

void RecordingCommand(RuntimeValue* result, int32_t count, RuntimeValue* arguments) {
  g_seenResult = *result;
  g_seenCount = count;
  g_seenArguments = arguments;
  result->low = 0x11111111;
  result->high = 0x22222222;
  result->type = 0x33333333;
}

TEST(CommandDispatch, CallCommandHandsAZeroedSlotAndReturnsIt) {
  RuntimeValue arguments[2] = {cmd::IntValue(5), cmd::IntValue(6)};
  const RuntimeValue r = CallCommand(&RecordingCommand, 2, arguments);
  EXPECT_EQ(g_seenResult.low | g_seenResult.high | g_seenResult.type, 0u);
  EXPECT_EQ(g_seenCount, 2);
  EXPECT_EQ(g_seenArguments, arguments);
  EXPECT_EQ(r.low, 0x11111111u);
  EXPECT_EQ(r.high, 0x22222222u);
  EXPECT_EQ(r.type, 0x33333333u);

  const RuntimeValue none = CallCommand(static_cast<CommandEntry>(nullptr), 2, arguments);
  EXPECT_EQ(none.low | none.high | none.type, 0u);
  const RuntimeValue outside = CallCommand(static_cast<Command>(kCommandCount), 0, nullptr);
  EXPECT_EQ(outside.low | outside.high | outside.type, 0u);
}

TEST(CommandDispatch, EveryCoreCommandSurvivesMissingArguments) {
  // Called with no argument slots at all, each command reads empty values. ReadByteSetData is left
  // out: type number 0 is a runtime error, tested below; ProcessEvents needs no arguments.
  for (int i = 0; i < static_cast<int>(Command::ProcessEvents); ++i) {
    const Command c = static_cast<Command>(i);
    ASSERT_NE(CommandEntryOf(c), nullptr) << i;
    if (c == Command::ReadByteSetData) continue;
    const RuntimeValue r = CallCommand(c, 0, nullptr);
    if (c == Command::SplitText) {
      EXPECT_EQ(ArrayElementCount(r.Pointer()), 0);
      FreeArray(type::Text, r.Pointer());
    } else if (c == Command::FindText || c == Command::FindTextReverse) {
      EXPECT_EQ(r.Int32(), -1);
    } else if (c == Command::ToHexText) {
      EXPECT_STREQ(static_cast<char*>(r.Pointer()), "0");  // the value 0
      RuntimeFree(r.Pointer());
    } else if (c == Command::TextBeginsWith) {
      EXPECT_EQ(r.Int32(), 1);  // "" begins with ""
    } else {
      EXPECT_EQ(r.low | r.high, 0u) << i;
    }
  }
  // A null text slot reads as the empty text.
  RuntimeValue nullText[2] = {RuntimeValue::OfPointer(type::Text, nullptr), cmd::TextValue("a")};
  EXPECT_EQ(CallCommand(Command::TextLength, 1, nullText).Int32(), 0);
  EXPECT_EQ(CallCommand(Command::FindText, 2, nullText).Int32(), -1);
  // Only the flag value 1 folds case in FindText.
  RuntimeValue flagTwo[4] = {cmd::TextValue("A"), cmd::TextValue("a"), RuntimeValue{}, RuntimeValue::Of(type::Bool, 2)};
  EXPECT_EQ(CallCommand(Command::FindText, 4, flagTwo).Int32(), -1);
  flagTwo[3].low = 1;
  EXPECT_EQ(CallCommand(Command::FindText, 4, flagTwo).Int32(), 1);
  // Integer arguments given as other numeric types are converted.
  RuntimeValue doubleCount[2] = {cmd::TextValue("abc"), cmd::DoubleValue(2.9)};
  const OwnedText left = OwnedText::Adopt(static_cast<char*>(CallCommand(Command::TextLeft, 2, doubleCount).Pointer()));
  EXPECT_EQ(Gbk(left.view()), Gbk("ab"));
}

intptr_t FakeService(int32_t, intptr_t, intptr_t) { return 42; }

void* g_released = nullptr;
void RecordRelease(void* holder) { g_released = holder; }

TEST(CommandDispatch, CoreLibraryRecordAndNotification) {
  const CommandLibraryDescriptor& library = CoreCommandLibrary();
  EXPECT_EQ(std::strlen(library.identifier), 32u);
  EXPECT_EQ(std::strspn(library.identifier, "0123456789ABCDEFabcdef"), 32u);
  EXPECT_EQ(library.majorVersion, 1);
  EXPECT_EQ(library.minorVersion, 0);
  EXPECT_EQ(Gbk(library.displayName), Gbk("系统核心支持库"));
  EXPECT_EQ(library.commandCount, 44);
  EXPECT_EQ(library.commands, CoreCommandTable);
  ASSERT_EQ(library.dataTypeCount, 2);
  EXPECT_EQ(library.dataTypes[0], type::Object);
  EXPECT_EQ(library.dataTypes[1], type::Variant);

  const ServiceEntry before = CoreLibraryServiceEntry();
  library.notification(notify::Initialise, reinterpret_cast<intptr_t>(&FakeService), 0);
  ASSERT_EQ(CoreLibraryServiceEntry(), &FakeService);
  EXPECT_EQ(CoreLibraryServiceEntry()(0, 0, 0), 42);
  library.notification(notify::ShutDown, 0, 0);
  EXPECT_EQ(CoreLibraryServiceEntry(), nullptr);
  library.notification(notify::Initialise, reinterpret_cast<intptr_t>(before), 0);
}

TEST(CommandDispatch, RuntimeServiceCodes) {
  EXPECT_NE(RuntimeService(service::DescribeType, type::Object, 0), 0);
  EXPECT_NE(RuntimeService(service::DescribeType, type::Variant | AddressFlag, 0), 0);
  EXPECT_EQ(RuntimeService(service::DescribeType, type::Int, 0), 0);
  EXPECT_EQ(RuntimeService(service::DescribeType, 0x00010032, 0), 0);
  EXPECT_EQ(RuntimeService(9999, 1, 2), 0);
  EXPECT_EQ(RuntimeService(-1, 1, 2), 0);

  // Allocate, resize, free: the sanitizer build checks the blocks are real and returned.
  auto* block = reinterpret_cast<char*>(RuntimeService(service::Allocate, 16, 0));
  ASSERT_NE(block, nullptr);
  std::memset(block, 'x', 16);
  block = reinterpret_cast<char*>(RuntimeService(service::Reallocate, reinterpret_cast<intptr_t>(block), 4096));
  EXPECT_EQ(std::string(block, 16), std::string(16, 'x'));
  EXPECT_EQ(RuntimeService(service::Free, reinterpret_cast<intptr_t>(block), 0), 0);
  // Freeing a text array frees its texts too (a leak here fails the sanitizer build).
  OwnedArray parts = cmd::SplitText("a,b");
  RuntimeService(service::FreeArray, type::Text, reinterpret_cast<intptr_t>(parts.Release()));

  // The release service hands the holder to whichever release the automation support installed.
  int holder = 0;
  SetObjectHolderReleaser(&RecordRelease);
  EXPECT_EQ(RuntimeService(service::ReleaseObjectHolder, reinterpret_cast<intptr_t>(&holder), 0), 0);
  EXPECT_EQ(g_released, &holder);
  SetObjectHolderReleaser(nullptr);
}

TEST(CommandDispatchDeathTest, ServiceErrorTextAndEndProcess) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        RuntimeService(service::RaiseErrorText, reinterpret_cast<intptr_t>("服务出错"), 0);
      },
      testing::ExitedWithCode(255), qvtest::Utf8(u8"错误信息：服务出错"));
  EXPECT_EXIT(RuntimeService(service::EndProcess, 7, 0), testing::ExitedWithCode(7), "");
  // Messages are processed and a queued quit message stays queued.
  EXPECT_EXIT(
      {
        win::PostQuitMessage(3);
        RuntimeService(service::ProcessMessages, 0, 0);
        cmd::ProcessEvents();
        std::exit(win::IsQuitMessagePending() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ByteSetCommands, LengthLeftMiddleZeroAndPointer) {
  const int32_t emptyConstant[2] = {1, 0};
  EXPECT_EQ(cmd::ByteSetLength({emptyConstant}), 0);
  EXPECT_EQ(cmd::ByteSetLength({}), 0);
  const OwnedByteSet abc = OwnedByteSet::Copy("abc");
  EXPECT_EQ(cmd::ByteSetLength(abc.view()), 3);

  const std::pair<int32_t, const char*> lefts[] = {{-1, ""}, {0, ""}, {2, "ab"}, {INT_MAX, "abc"}, {INT_MIN, ""}};
  for (const auto& [n, expected] : lefts) EXPECT_EQ(cmd::ByteSetLeft(abc.view(), n).bytes(), expected) << n;
  EXPECT_EQ(cmd::ByteSetLeft({emptyConstant}, 5).get(), nullptr);

  struct Middle {
    int32_t start, n;
    const char* expected;
  } middles[] = {{0, 2, "ab"},  {2, 10, "bc"},        {4, 1, ""},  {5, 1, ""},          {INT_MIN, INT_MAX, "abc"},
                 {INT_MAX, INT_MAX, ""}, {2, -1, ""}, {3, 1, "c"}, {-5, INT_MIN, ""}};
  for (const Middle& m : middles) {
    const OwnedByteSet part = cmd::ByteSetMiddle(abc.view(), m.start, m.n);
    EXPECT_EQ(part.bytes(), m.expected) << m.start << "," << m.n;
    if (*m.expected == '\0') {
      EXPECT_EQ(part.get(), nullptr);
    }
  }

  EXPECT_EQ(cmd::ZeroByteSet(3).bytes(), std::string(3, '\0'));
  for (int32_t n : {0, -1, INT_MIN}) EXPECT_EQ(cmd::ZeroByteSet(n).get(), nullptr) << n;

  const char memory[] = "xyz";
  EXPECT_EQ(cmd::PointerToByteSet(memory, 3).bytes(), "xyz");
  for (int32_t n : {0, -1, INT_MIN}) EXPECT_EQ(cmd::PointerToByteSet(memory, n).get(), nullptr) << n;
  EXPECT_EQ(cmd::PointerToByteSet(nullptr, 5).get(), nullptr);
}

TEST(ByteSetCommandsDeathTest, HugeCountsEndInTheAllocationError) {
  // INT_MAX plus a terminator or header cannot be allocated: the runtime's allocation error, not an
  // overflowed size.
  for (auto call : {+[] { cmd::SpaceText(INT_MAX); }, +[] { cmd::ZeroByteSet(INT_MAX); },
                    +[] { cmd::ZeroByteSet(INT_MAX - 7); }}) {
    EXPECT_EXIT(
        {
          qvtest::DismissBoxesAndReport();
          call();
        },
        testing::ExitedWithCode(255), qvtest::Utf8(u8"字节内存失败"));
  }
}

// 01..08, "hi", NUL, "x"
const unsigned char kData[] = {1, 2, 3, 4, 5, 6, 7, 8, 'h', 'i', 0, 'x'};

TEST(ReadByteSetData, ReadsEachTypeAndZeroPadsShortReads) {
  const OwnedByteSet set = OwnedByteSet::Copy(std::string_view(reinterpret_cast<const char*>(kData), sizeof kData));
  struct Row {
    int32_t typeNumber;
    std::optional<int32_t> position;
    TypeCode type;
    uint64_t bits;
  } rows[] = {
      {1, {}, type::Byte, 1},
      {2, 2, type::Short, 0x0302},
      {3, 2, type::Int, 0x05040302},
      {4, 1, type::Int64, 0x0807060504030201},
      {3, 11, type::Int, 0x7800},  // two bytes left: zero padded
      {3, 12, type::Int, 'x'},
      {3, 13, type::Int, 0},  // past the end
      {3, 0, type::Int, 0},   // below 1: nothing to read
      {3, INT_MIN, type::Int, 0},
      {3, INT_MAX, type::Int, 0},
      {7, 1, type::Bool, 1},
      {7, 11, type::Bool, 1},  // 00 78 is not zero
      {9, 5, type::SubroutinePointer, 0x08070605},
      {5, 1, type::Float, 0x04030201},
  };
  for (const Row& r : rows) {
    const RuntimeValue v = cmd::ReadByteSetData(set.view(), r.typeNumber, r.position);
    EXPECT_EQ(v.type, r.type) << r.typeNumber;
    EXPECT_EQ((uint64_t{v.high} << 32) | v.low, r.bits) << r.typeNumber << " at " << r.position.value_or(1);
  }
  // A DateTime is clamped into its valid range.
  const OwnedByteSet huge = cmd::ToByteSet(1e300);
  EXPECT_EQ(cmd::ReadByteSetData(huge.view(), 8).Double(), kMaxDateTime);
  // Texts end at the NUL or at the end of the data; an empty read is the null text.
  const std::pair<int32_t, const char*> texts[] = {{9, "hi"}, {12, "x"}, {11, ""}, {13, ""}, {0, ""}};
  for (const auto& [position, expected] : texts) {
    const RuntimeValue v = cmd::ReadByteSetData(set.view(), 10, position);
    EXPECT_EQ(v.type, type::Text);
    const OwnedText text = OwnedText::Adopt(static_cast<char*>(v.Pointer()));
    EXPECT_EQ(Gbk(text.view()), Gbk(expected)) << position;
  }
  EXPECT_EQ(cmd::ReadByteSetData({}, 3).Int32(), 0);
}

TEST(ReadByteSetData, PositionVariableMovesPastTheDataAndEndsAtMinusOne) {
  const OwnedByteSet set = OwnedByteSet::Copy(std::string_view(reinterpret_cast<const char*>(kData), sizeof kData));
  struct Row {
    int32_t typeNumber, before, after;
  } rows[] = {
      {3, 1, 5},     {10, 9, 12}, {10, 12, -1}, {3, 11, -1}, {4, 5, -1},       {1, 11, 12},
      {1, 12, -1},   {3, 0, -1},  {3, -1, -1},  {3, 13, -1}, {3, INT_MAX, -1}, {3, INT_MIN, -1},
  };
  for (const Row& r : rows) {
    int32_t position = r.before;
    const RuntimeValue v = cmd::ReadByteSetData(set.view(), r.typeNumber, &position);
    if (v.type == type::Text) RuntimeFree(v.Pointer());
    EXPECT_EQ(position, r.after) << "type " << r.typeNumber << " from " << r.before;
  }
  // The usual loop over a byte set ends.
  int32_t position = 1, reads = 0;
  while (position != -1 && reads < 10) {
    cmd::ReadByteSetData(set.view(), 3, &position);
    ++reads;
  }
  EXPECT_EQ(reads, 3);
}

TEST(ReadByteSetDataDeathTest, BadTypeNumberIsARuntimeError) {
  for (int32_t typeNumber : {0, 11, -1, INT_MIN, INT_MAX}) {
    EXPECT_EXIT(
        {
          qvtest::DismissBoxesAndReport();
          cmd::ReadByteSetData({}, typeNumber);
        },
        testing::ExitedWithCode(255),
        qvtest::BoxMarker(qvtest::Utf8(u8"错误"), 0x10) + ".*" + qvtest::Utf8(u8"“欲取出数据的类型”参数值无效"))
        << typeNumber;
  }
}

}  // namespace
}  // namespace qv
