// The runtime as the program sets it up (its declared DLL commands included) for every JSON test.
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
