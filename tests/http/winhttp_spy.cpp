#include "winhttp_spy.h"

#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <span>

#include "platform/loader/loader.h"

namespace qvtest::winhttp_spy {
namespace {

struct ExportShape {
  const char* name;
  int argumentCount;
  std::vector<int> wideTexts;  // argument indices that are NUL-terminated UTF-16 texts
  int optionPointer = -1;      // argument index of a pointer to a 32-bit option value
};

// The functions' published argument lists.
const std::array<ExportShape, 15> kShapes = {{
    {"WinHttpCheckPlatform", 0, {}},
    {"WinHttpCrackUrl", 4, {0}},
    {"WinHttpOpen", 5, {0, 2}},
    {"WinHttpSetTimeouts", 5, {}},
    {"WinHttpConnect", 4, {1}},
    {"WinHttpOpenRequest", 7, {1, 2, 3, 4}},
    {"WinHttpSetCredentials", 6, {3, 4}},
    {"WinHttpCloseHandle", 1, {}},
    {"WinHttpSetOption", 4, {}, 2},
    {"WinHttpAddRequestHeaders", 4, {1}},
    {"WinHttpSendRequest", 7, {}},
    {"WinHttpReceiveResponse", 2, {}},
    {"WinHttpQueryDataAvailable", 2, {}},
    {"WinHttpReadData", 4, {}},
    {"WinHttpQueryHeaders", 6, {}},
}};

struct SpyState {
  std::array<std::optional<win::Procedure>, 15> service;
  std::vector<Call> calls;
  std::map<std::string, std::map<int, intptr_t>, std::less<>> substitutes;
  std::map<std::string, int, std::less<>> counts;
  bool recording = true;
};

SpyState& State() {
  static SpyState state;
  return state;
}

intptr_t Forward(size_t index, const intptr_t* words) {
  SpyState& s = State();
  const ExportShape& shape = kShapes[index];
  Call call{shape.name, std::vector<intptr_t>(words, words + shape.argumentCount), {}, 0};
  for (int i : shape.wideTexts) {
    const auto* text = reinterpret_cast<const char16_t*>(words[i]);
    call.texts.emplace_back(text ? text : u"");
  }
  if (shape.optionPointer >= 0 && words[shape.optionPointer] != 0)
    std::memcpy(&call.optionValue, reinterpret_cast<const void*>(words[shape.optionPointer]), 4);
  const size_t at = s.calls.size();
  if (s.recording) s.calls.push_back(std::move(call));

  const int occurrence = ++s.counts[shape.name];
  std::optional<intptr_t> substitute;
  if (const auto named = s.substitutes.find(shape.name); named != s.substitutes.end())
    if (const auto value = named->second.find(occurrence); value != named->second.end()) substitute = value->second;
  if (!substitute && !s.service[index]) substitute = 0;
  const intptr_t result =
      substitute ? *substitute
                 : win::CallProcedure(*s.service[index], std::span(words, static_cast<size_t>(shape.argumentCount)))
                       .value_or(0);
  if (s.recording) s.calls[at].result = result;  // the service may have been re-entered, so the record is found by index
  return result;
}

template <size_t I>
intptr_t Thunk(const intptr_t* words) {
  return Forward(I, words);
}

template <size_t... I>
std::array<win::BuiltinExport, 15> Exports(std::index_sequence<I...>) {
  return {win::BuiltinExport{kShapes[I].name, &Thunk<I>, kShapes[I].argumentCount}...};
}

}  // namespace

void Install() {
  const win::HMODULE service = win::LoadLibraryA("winhttp.dll");
  for (size_t i = 0; i < kShapes.size(); ++i) State().service[i] = win::LookupProcedure(service, kShapes[i].name);
  static const std::array<win::BuiltinExport, 15> exports = Exports(std::make_index_sequence<15>());
  win::RegisterBuiltinModule(kModuleName, exports);
}

void Reset() {
  State().calls.clear();
  State().substitutes.clear();
  State().counts.clear();
  State().recording = true;
}

void SetRecording(bool on) { State().recording = on; }

int CallCount(std::string_view name) {
  const auto found = State().counts.find(name);
  return found == State().counts.end() ? 0 : found->second;
}

void ReturnInstead(std::string_view name, int occurrence, intptr_t value) {
  State().substitutes[std::string(name)][occurrence] = value;
}

const std::vector<Call>& Calls() { return State().calls; }

std::vector<Call> CallsNamed(std::string_view name) {
  std::vector<Call> out;
  for (const Call& call : State().calls)
    if (call.name == name) out.push_back(call);
  return out;
}

std::vector<std::string> CallNames() {
  std::vector<std::string> out;
  for (const Call& call : State().calls) out.push_back(call.name);
  return out;
}

}  // namespace qvtest::winhttp_spy

namespace qvtest::winhttp_spy {

intptr_t LastResult(std::string_view name) {
  const auto calls = CallsNamed(name);
  return calls.empty() ? 0 : calls.back().result;
}

}  // namespace qvtest::winhttp_spy
