// Per-process test environment: isolated folders and the backend a test label implies.
#pragma once

#include <string>

namespace vts::test {

// Creates a fresh folder under rootBase and points VOXTRAILSTUDY_ROOT at it (unless the
// caller already set VTS_TEST_KEEP_ROOT). Label "unit"/"ui" select the virtual audio
// backend, "pulse" the PulseAudio one; "ui" also selects the offscreen Qt platform.
void PrepareTestProcess(const char* label, const char* rootBase);

// The folder PrepareTestProcess made (empty before it ran).
const std::string& TestRoot();

// A fresh empty folder below TestRoot(), for one test's files.
std::string MakeTempDir(const std::string& hint = "t");

}  // namespace vts::test
