// Test entry point for Qt tests: offscreen platform, one QApplication for the process.
#include <gtest/gtest.h>

#include <QApplication>

#include "test_env.h"

int main(int argc, char** argv) {
  vts::test::PrepareTestProcess(VTS_TEST_LABEL, VTS_TEST_ROOT_BASE);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  const int result = RUN_ALL_TESTS();
  return vts::test::FinishTestProcess(result);
}
