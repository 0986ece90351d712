// Runtime error reports: the message table, the report text with its window details, and the box
// followed by exit code -1.
#include <gtest/gtest.h>

#include "common/gbk_print.h"
#include "common/message_box_capture.h"
#include "runtime/errors.h"
#include "runtime/windows/window_registry.h"

namespace qv {
namespace {

using qvtest::Gbk;

const std::string kDetailLead =
    "\r\n运行时错误相关信息值(在IDE中打开对应源程序后执行\"运行->到运行时错误相关位置\"菜单功能查看): ";

TEST(RuntimeErrorReport, NumberedErrorShowsCodeMessageAndLocation) {
  EXPECT_EQ(Gbk(BuildRuntimeErrorReport(RuntimeErrorMessage(4), 4, 67200197, 8694)),
            Gbk("运行时出错!\r\n"
                "\r\n错误代码：4\r\n"
                "\r\n错误信息：数组成员引用下标必须大于等于1\r\n" +
                kDetailLead + "67200197, 8694\r\n"));
}

TEST(RuntimeErrorReport, ErrorNumberZeroHasNoCodeLineAndEmptyTextNoMessageLine) {
  EXPECT_EQ(Gbk(BuildRuntimeErrorReport("载入启动窗口失败", 0, 0, 0)),
            Gbk("运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n" + kDetailLead + "0, 0\r\n"));
  EXPECT_EQ(Gbk(BuildRuntimeErrorReport("", 0, -5, 7)), Gbk("运行时出错!\r\n" + kDetailLead + "-5, 7\r\n"));
  EXPECT_EQ(Gbk(BuildRuntimeErrorReport(nullptr, 0, 1, 2)), Gbk("运行时出错!\r\n" + kDetailLead + "1, 2\r\n"));
}

TEST(RuntimeErrorReport, MessageTableCoversOneToEleven) {
  EXPECT_EQ(RuntimeErrorMessage(0), nullptr);
  EXPECT_EQ(RuntimeErrorMessage(12), nullptr);
  EXPECT_EQ(RuntimeErrorMessage(-1), nullptr);
  EXPECT_EQ(Gbk(RuntimeErrorMessage(1)), Gbk("数组成员引用下标超出定义范围"));
  EXPECT_EQ(Gbk(RuntimeErrorMessage(6)), Gbk("调用DLL命令后发现堆栈错误"));
  EXPECT_EQ(Gbk(RuntimeErrorMessage(11)), Gbk("所提供参数的数据类型不符合要求"));
}

class FakeWindow : public LoadedWindow {
 public:
  uint32_t WindowId() const override { return 0x52010001; }
  std::string Tag() const override { return "主窗口"; }
  std::optional<UnitInfo> FindUnit(uint32_t id) const override {
    for (const UnitInfo& u : units)
      if (id == 0 || u.id == id) return u;
    return std::nullopt;
  }
  std::vector<UnitInfo> units = {{0x16010002, "题目"}, {0x26000001, "隐藏"}};
};

TEST(RuntimeErrorReport, WindowDetailsNameTheLoadedWindowAndComponent) {
  FakeWindow window;
  RegisterLoadedWindow(&window);
  const std::string base = "运行时出错!\r\n" + kDetailLead;
  const std::string windowLine = "\r\n所访问窗口的\"标记\"属性值: \"主窗口\"";
  struct Row {
    int32_t location;
    int32_t position;
    std::string details;
  } rows[] = {
      {0x52010001, 0x16010002, windowLine + "\r\n所访问窗口组件的\"标记\"属性值: \"题目\""},
      {0x52010001, 0, windowLine + "\r\n所访问窗口组件的\"标记\"属性值: \"题目\""},  // first unit
      {0x52010001, 0x16019999, windowLine + "\r\n未找到所指定的窗口组件"},
      {0x52010001, 0x26000001, windowLine + "\r\n未找到所指定的窗口组件"},  // not a user component
      {0x52010002, 0, "\r\n未找到所指定的窗口"},
      {0x16010002, 0, ""},  // not a window id: no window lines
  };
  for (const Row& r : rows) {
    const std::string expected =
        base + std::to_string(r.location) + ", " + std::to_string(r.position) + r.details + "\r\n";
    EXPECT_EQ(Gbk(BuildRuntimeErrorReport("", 0, r.location, r.position)), Gbk(expected)) << r.location;
  }
  UnregisterLoadedWindow(&window);
  EXPECT_EQ(FindLoadedWindow(0x52010001), nullptr);
}

TEST(RuntimeErrorDeathTest, RaiseShowsTheErrorBoxThenExitsWithMinusOne) {
  EXPECT_EXIT(
      {
        qvtest::DismissBoxesAndReport();
        RaiseRuntimeError(4, 67200197, 8694);
      },
      testing::ExitedWithCode(255),
      qvtest::BoxMarker(qvtest::Utf8(u8"错误"), 0x10) +
          qvtest::Utf8(u8"\n运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n") +
          ".*67200197, 8694\r\n\nEND-BOX");
}

}  // namespace
}  // namespace qv
