// The HTTP client's tests run inside an initialised runtime with the program's own description, so
// that its declared DLL commands resolve as they do in the program.
#include <gtest/gtest.h>

#include "app/program.h"
#include "runtime/startup.h"

namespace {

class RuntimeEnvironment : public testing::Environment {
 public:
  void SetUp() override { qv::InitialiseRuntime(quorvane::Description()); }
  void TearDown() override { qv::ShutdownRuntime(0); }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

}  // namespace
