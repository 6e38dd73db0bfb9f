// Test entry point: a private VOXTRAILSTUDY_ROOT per process and the audio backend of the label.
#include <gtest/gtest.h>

#include "test_env.h"

int main(int argc, char** argv) {
  vts::test::PrepareTestProcess(VTS_TEST_LABEL, VTS_TEST_ROOT_BASE);
  ::testing::InitGoogleTest(&argc, argv);
  return vts::test::FinishTestProcess(RUN_ALL_TESTS());
}
