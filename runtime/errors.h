// Runtime errors: conditions the program cannot continue from end in one report box and exit code -1.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// The numbered errors that application code raises (1..11).
enum class RuntimeErrorNumber : int32_t {
  IndexAboveRange = 1,
  NotNumeric = 2,
  DimensionMismatch = 3,
  IndexBelowOne = 4,
  TypeMismatch = 5,
  DllStackMismatch = 6,
  NoSubExpressionValue = 7,
  OnlyEqualityComparable = 8,
  ChoiceIndexOutOfRange = 9,
  BadRedimension = 10,
  BadArgumentType = 11,
};

// The table message of a numbered error, or null for a number outside the table.
const char* RuntimeErrorMessage(int32_t number);

// Reports the table message of number with the caller's location and position values.
[[noreturn]] void RaiseRuntimeError(int32_t number, int32_t location, int32_t position);
// Shows the report box, shuts the runtime down and ends the process with exit code -1.
[[noreturn]] void ReportRuntimeError(const char* message, int32_t number, int32_t location, int32_t position);
// The report's text as ReportRuntimeError shows it.
std::string BuildRuntimeErrorReport(const char* message, int32_t number, int32_t location, int32_t position);

// Runtime texts of errors that the runtime raises itself (error number 0).
namespace error_text {
inline constexpr const char* kAllocationFailed = "分配 %d 字节内存失败!";
inline constexpr const char* kDllExportNotFound = "无法找到指定DLL库文件中的输出命令“%s”";
inline constexpr const char* kDllLibraryExportNotFound = "无法找到指定DLL库文件“%s”中的输出命令“%s”";
inline constexpr const char* kBadDataType = "“欲取出数据的类型”参数值无效";
inline constexpr const char* kStartWindowFailed = "载入启动窗口失败";
inline constexpr const char* kTemplateDataBad = "载入窗口模板数据段出错!";
inline constexpr const char* kComponentWindowNotLoaded = "未载入欲访问窗口组件所在的窗口";
inline constexpr const char* kReadPropertyWindowNotLoaded = "读取组件属性时发现指定窗口尚未载入";
inline constexpr const char* kWritePropertyWindowNotLoaded = "修改组件属性时发现指定窗口尚未载入";
inline constexpr const char* kWindowOrComponentMissing = "指定窗口或窗口组件不存在或尚未载入";
inline constexpr const char* kEventComponentInvalid = "引发事件的窗口组件无效";
inline constexpr const char* kEventComponentNotFound = "未找到引发事件的窗口组件";
inline constexpr const char* kEventWindowNotFound = "未找到引发事件的窗口";
}  // namespace error_text

}  // namespace qv
