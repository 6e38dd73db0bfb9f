// Per-process test environment.
#include "test_env.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <sys/stat.h>

namespace vts::test {
namespace {
std::string g_root;
bool g_madeRoot = false;
}

void PrepareTestProcess(const char* label, const char* rootBase) {
  if (!std::getenv("VTS_TEST_KEEP_ROOT")) {
    std::string tmpl = std::string(rootBase) + "/run-" + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
      tmpl = "/tmp/vts-test-XXXXXX";
      if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create test root");
    }
    chmod(tmpl.c_str(), 0700);
    g_root = tmpl;
    g_madeRoot = true;
    setenv("VOXTRAILSTUDY_ROOT", g_root.c_str(), 1);
  } else if (const char* r = std::getenv("VOXTRAILSTUDY_ROOT")) {
    g_root = r;
  }
  if (std::strcmp(label, "pulse") == 0) {
    setenv("VTS_AUDIO_BACKEND", "pulse", 1);
  } else {
    setenv("VTS_AUDIO_BACKEND", "virtual", 1);
  }
  if (std::strcmp(label, "ui") == 0) setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

const std::string& TestRoot() { return g_root; }

int FinishTestProcess(int result) {
  // Hundreds of test processes each leave sound files behind: on a small disk they add up.
  if (result == 0 && g_madeRoot) {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
  }
  return result;
}

std::string MakeTempDir(const std::string& hint) {
  std::string base = g_root.empty() ? std::string("/tmp") : g_root;
  std::string tmpl = base + "/" + hint + "-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create temp dir");
  return tmpl;
}

}  // namespace vts::test
