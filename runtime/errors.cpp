#include "runtime/errors.h"

#include <atomic>
#include <string>

#include "platform/ui/ui.h"
#include "runtime/startup.h"
#include "runtime/windows/window_registry.h"

namespace qv {
namespace {

constexpr const char* kNumberedMessages[] = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

constexpr uint32_t kWindowKindMask = 0x0F000000;
constexpr uint32_t kWindowKind = 0x02000000;

// Units whose id has this shape are not components a user can identify by tag.
bool IsHiddenUnitId(uint32_t id) { return (id & 0xF0000000) == 0x20000000 && (id & 0x0F000000) == 0x06000000; }

std::string QuotedTagLine(const char* lead, const std::string& tag) {
  return std::string(lead) + "\"标记\"属性值: \"" + tag + "\"";
}

void AppendWindowDetails(std::string& detail, int32_t location, int32_t position) {
  const uint32_t windowId = static_cast<uint32_t>(location);
  if (location == 0 || (windowId & kWindowKindMask) != kWindowKind) return;
  LoadedWindow* window = FindLoadedWindow(windowId);
  if (window == nullptr) {
    detail += "\r\n未找到所指定的窗口";
    return;
  }
  detail += QuotedTagLine("\r\n所访问窗口的", window->Tag());
  auto unit = window->FindUnit(static_cast<uint32_t>(position));
  if (unit && !IsHiddenUnitId(unit->id))
    detail += QuotedTagLine("\r\n所访问窗口组件的", unit->tag);
  else
    detail += "\r\n未找到所指定的窗口组件";
}

std::atomic<bool> g_reporting{false};

}  // namespace

const char* RuntimeErrorMessage(int32_t number) {
  constexpr int32_t count = static_cast<int32_t>(std::size(kNumberedMessages));
  return number >= 1 && number <= count ? kNumberedMessages[number - 1] : nullptr;
}

void RaiseRuntimeError(int32_t number, int32_t location, int32_t position) {
  ReportRuntimeError(RuntimeErrorMessage(number), number, location, position);
}

std::string BuildRuntimeErrorReport(const char* message, int32_t number, int32_t location, int32_t position) {
  std::string detail =
      "\r\n运行时错误相关信息值(在IDE中打开对应源程序后执行\"运行->到运行时错误相关位置\"菜单功能查看): " +
      std::to_string(location) + ", " + std::to_string(position);
  AppendWindowDetails(detail, location, position);
  detail += "\r\n";

  std::string report = "运行时出错!\r\n";
  if (number != 0) report += "\r\n错误代码：" + std::to_string(number) + "\r\n";
  if (message != nullptr && *message != '\0') report += std::string("\r\n错误信息：") + message + "\r\n";
  return report + detail;
}

void ReportRuntimeError(const char* message, int32_t number, int32_t location, int32_t position) {
  // An error raised while a report is already on its way (for instance from a clean-up routine run
  // by the shutdown) must not open a second box or run the shutdown again.
  if (g_reporting.exchange(true)) win::ExitProcess(static_cast<win::UINT>(-1));
  const std::string report = BuildRuntimeErrorReport(message, number, location, position);
  win::MessageBoxA(nullptr, report.c_str(), "错误", win::MB_ICONERROR | win::MB_OK);
  EndProgram(-1);
}

}  // namespace qv
