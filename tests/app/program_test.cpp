// The program from its process entry: with no window template the start-up window cannot be
// loaded, which shows the runtime error box and ends the process with exit code -1.
#include <gtest/gtest.h>

#include "app/program.h"
#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "runtime/memory.h"

namespace quorvane {
namespace {

TEST(ProgramDeathTest, StartsAndReportsTheMissingStartWindow) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        static char name[] = "quorvane";
        static char* argv[2] = {name};
        ProgramMain(1, argv);
      },
      testing::ExitedWithCode(255),
      qvtest::BoxMarker(qvtest::Utf8(u8"错误"), 0x10) +
          qvtest::Utf8(u8"\n运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n\r\n运行时错误相关信息值") +
          ".*: 0, 0\r\n\nEND-BOX");
}

TEST(Program, DescriptionMatchesTheProgram) {
  const qv::ProgramDescription& d = Description();
  EXPECT_EQ(d.formatValue, 3);
  EXPECT_EQ(d.buildValue, 112204);
  EXPECT_EQ(d.dllCommandCount, 19);
  EXPECT_STREQ(d.dllLibraryNames[17], "Kernel32.dll");
  EXPECT_STREQ(d.dllFunctionNames[18], "WideCharToMultiByte");
  EXPECT_EQ(d.staticData, &kStaticData);
  EXPECT_EQ(Routines().startWindowId, 0x52010001u);
}

TEST(Program, StaticDataHoldsTheEmptyConstants) {
  qv::SetStaticDataRegion(Description().staticData, static_cast<size_t>(Description().staticDataLength));
  EXPECT_TRUE(qv::IsStaticData(kStaticData.emptyText));
  EXPECT_EQ(qv::ByteSetLengthOf(kStaticData.emptyByteSet), 0u);
  EXPECT_EQ(qv::ReadInt32(kStaticData.emptyByteSet), 1);
  qv::RuntimeFree(const_cast<char*>(kStaticData.emptyText));  // ignored
  qv::ClearStaticDataRegion();
}

}  // namespace
}  // namespace quorvane
