#include "json/json_test_support.h"

#include <time.h>

#include <limits>

#include "runtime/automation/automation_front.h"
#include "runtime/dll/dll_commands.h"

namespace quorvane::jsontest {

namespace c = qv::cmd;

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::string Utf8ToGbkForTest(std::string_view utf8) {
  constexpr int kUtf8 = 65001;
  constexpr int kGbk = 936;
  if (utf8.empty()) return {};
  std::u16string wide(utf8.size(), u'\0');
  const intptr_t units = qv::CallDllCommand(json_dll::kMultiByteToWideChar,
                                            {kUtf8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                             static_cast<int>(wide.size())});
  if (units <= 0) return {};
  std::string gbk(static_cast<size_t>(units) * 2, '\0');
  const intptr_t bytes =
      qv::CallDllCommand(json_dll::kWideCharToMultiByte, {kGbk, 0, wide.data(), static_cast<int>(units), gbk.data(),
                                                          static_cast<int>(gbk.size()), nullptr, nullptr});
  gbk.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
  return gbk;
}

std::string EvalInContext(const JsonObject& json, const char* script) {
  qv::OwnedObject control = json.GetScriptControl();
  return std::string(c::ObjectCallText(control, "Eval", {c::TextValue(script)}).view());
}

}  // namespace quorvane::jsontest
