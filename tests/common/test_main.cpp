// The test executables' entry: GoogleTest with death tests that re-run the binary, so that a death
// test starts from a clean process even when the parent already set Qt up.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
