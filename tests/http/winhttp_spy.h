// Test helper: a built-in module with WinHttp's fifteen exports that records every call the HTTP
// client makes (argument words, the wide texts they point to, the value an option points to) and
// passes it on to the WinHttp service, unless a test asked for that call to fail. The HTTP tests
// run the program's description with its WinHttp declarations pointing at this module.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest::winhttp_spy {

inline constexpr const char* kModuleName = "qvtest_winhttp.dll";

struct Call {
  std::string name;
  std::vector<intptr_t> words;
  std::vector<std::u16string> texts;  // the wide-text arguments, in argument order
  uint32_t optionValue = 0;           // what WinHttpSetOption's buffer held
  intptr_t result = 0;                // what the call returned
};

// Registers the module; call once, after the service has registered its own exports.
void Install();
// Forgets the calls and the failures asked for.
void Reset();
// The occurrence-th call of the export (1-based, counted from the last Reset) returns value without
// reaching the service.
void ReturnInstead(std::string_view name, int occurrence, intptr_t value);
// The same with 0: FALSE, or a null handle.
inline void FailCall(std::string_view name, int occurrence = 1) { ReturnInstead(name, occurrence, 0); }
const std::vector<Call>& Calls();
std::vector<Call> CallsNamed(std::string_view name);
// The names of the calls in order.
std::vector<std::string> CallNames();
// While off, calls are counted but not recorded (for long runs).
void SetRecording(bool on);
// How many calls of the export were made since the last Reset, recorded or not.
int CallCount(std::string_view name);
// The result of the last call of the export, 0 when there was none.
intptr_t LastResult(std::string_view name);

}  // namespace qvtest::winhttp_spy
