// Registry store: persistence, case-insensitive names, order, views, unwritable hive, and
// concurrent writers from several processes losing nothing.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/known_folders.h"
#include "test_env.h"

using namespace vts::plat;

TEST(Registry, ValuesPersistKeepOrderAndCompareWithoutCase) {
  const Hive cu = Hive::HKEY_CURRENT_USER;
  const std::string key = "Software\\Test\\Order";
  EXPECT_FALSE(RegKeyExists(cu, key));
  EXPECT_FALSE(RegGetString(cu, key, "x").has_value());
  ASSERT_TRUE(RegSetString(cu, key, "b", "two"));
  ASSERT_TRUE(RegSetString(cu, key, "a", "one"));
  ASSERT_TRUE(RegSetString(cu, key, "", "default"));
  ASSERT_TRUE(RegSetString(cu, key, "B", "TWO"));  // same value, keeps its place and first spelling

  EXPECT_TRUE(RegKeyExists(cu, "software\\test"));  // parents exist, key names fold case too
  EXPECT_EQ(RegGetString(cu, "SOFTWARE\\TEST\\ORDER", "b"), "TWO");
  RegValue v;
  ASSERT_TRUE(RegEnumValue(cu, key, 0, &v));
  EXPECT_EQ(v.name, "b");
  EXPECT_EQ(v.data, "TWO");
  EXPECT_EQ(v.type, REG_SZ);
  EXPECT_EQ(v.SizeBytes(), 8u);  // three UTF-16 units and the NUL
  ASSERT_TRUE(RegEnumValue(cu, key, 1, &v));
  EXPECT_EQ(v.name, "a");
  ASSERT_TRUE(RegEnumValue(cu, key, 2, &v));
  EXPECT_EQ(v.name, "");
  EXPECT_FALSE(RegEnumValue(cu, key, 3, &v));
  EXPECT_EQ(RegListKeys(cu), (std::vector<std::string>{"Software", "Software\\Test", "Software\\Test\\Order"}));

  RegValue u{"n", REG_SZ, "\xC3\xA9t\xC3\xA9"};
  EXPECT_EQ(u.SizeBytes(), 8u);
}

TEST(Registry, ViewsAreSeparateExceptForTheCurrentUser) {
  ASSERT_TRUE(RegSetString(Hive::HKEY_CLASSES_ROOT, ".vxb", "", "default-view"));
  EXPECT_FALSE(RegGetString(Hive::HKEY_CLASSES_ROOT, ".vxb", "", KEY_WOW64_64KEY).has_value());
  ASSERT_TRUE(RegSetString(Hive::HKEY_CLASSES_ROOT, ".vxb", "", "64-view", KEY_WOW64_64KEY));
  EXPECT_EQ(RegGetString(Hive::HKEY_CLASSES_ROOT, ".vxb", ""), "default-view");
  EXPECT_EQ(RegGetString(Hive::HKEY_CLASSES_ROOT, ".vxb", "", KEY_WOW64_64KEY), "64-view");
  ASSERT_TRUE(RegSetString(Hive::HKEY_CURRENT_USER, "K", "v", "same"));
  EXPECT_EQ(RegGetString(Hive::HKEY_CURRENT_USER, "K", "v", KEY_WOW64_64KEY), "same");
}

TEST(Registry, UnwritableMachineHiveFailsWithoutHarm) {
  std::string file = RegistryFile(Hive::HKEY_LOCAL_MACHINE);
  std::string folder = file.substr(0, file.find_last_of('/'));
  ASSERT_TRUE(CreateFolderChain(folder.substr(0, folder.find_last_of('/'))));
  std::ofstream(folder) << "not a folder";  // stands for a folder the user may not write
  EXPECT_FALSE(RegSetString(Hive::HKEY_LOCAL_MACHINE, "Software\\RegisteredApplications", "n", "v"));
  EXPECT_FALSE(RegKeyExists(Hive::HKEY_LOCAL_MACHINE, "Software"));
  EXPECT_TRUE(RegSetString(Hive::HKEY_CURRENT_USER, "Software", "n", "v"));
  unlink(folder.c_str());
}

TEST(Registry, ConcurrentWritersInSeveralProcessesLoseNothing) {
  const int kProcs = 4, kEach = 25;
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kEach; ++i)
        ok &= RegSetString(Hive::HKEY_CURRENT_USER, "Shared", "p" + std::to_string(p) + "_" + std::to_string(i), "x");
      _exit(ok ? 0 : 1);
    }
    kids.push_back(pid);
  }
  for (pid_t k : kids) {
    int status = 0;
    waitpid(k, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(RegListValues(Hive::HKEY_CURRENT_USER, "Shared").size(), static_cast<size_t>(kProcs * kEach));
  // The file is valid JSON after atomic replacement; no temp file is left.
  std::string folder = RegistryFolder();
  EXPECT_EQ(access((RegistryFile(Hive::HKEY_CURRENT_USER) + ".tmp" + std::to_string(getpid())).c_str(), F_OK), -1);
}
