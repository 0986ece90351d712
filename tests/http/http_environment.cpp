// The HTTP client's tests run inside an initialised runtime with the program's own description,
// except that its WinHttp declarations name the recording module of winhttp_spy.h, which passes
// every call on to the service.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "app/program.h"
#include "runtime/startup.h"
#include "winhttp_spy.h"

namespace {

const qv::ProgramDescription& TestDescription() {
  static std::array<const char*, 19> libraries;
  static qv::ProgramDescription description = [] {
    qv::ProgramDescription d = quorvane::Description();
    for (int32_t i = 0; i < d.dllCommandCount; ++i) {
      const bool winHttp = std::strcmp(d.dllLibraryNames[i], "Winhttp.dll") == 0;
      libraries[static_cast<size_t>(i)] = winHttp ? qvtest::winhttp_spy::kModuleName : d.dllLibraryNames[i];
    }
    d.dllLibraryNames = libraries.data();
    return d;
  }();
  return description;
}

class RuntimeEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    qv::InitialiseRuntime(TestDescription());
    qvtest::winhttp_spy::Install();
  }
  void TearDown() override { qv::ShutdownRuntime(0); }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

}  // namespace
