// Registry store: persistence, case-insensitive names, order, views, unwritable hive, and
// concurrent writers from several processes losing nothing.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "platform/known_folders.h"
#include "platform/registry.h"
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
  EXPECT_EQ(RegListKeys(cu),
            (std::vector<std::string>{"Software", "Software\\Test", "Software\\Test\\Order"}));

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
  EXPECT_FALSE(
      RegSetString(Hive::HKEY_LOCAL_MACHINE, "Software\\RegisteredApplications", "n", "v"));
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
        ok &= RegSetString(Hive::HKEY_CURRENT_USER, "Shared",
                           "p" + std::to_string(p) + "_" + std::to_string(i), "x");
      _exit(ok ? 0 : 1);
    }
    kids.push_back(pid);
  }
  for (pid_t k : kids) {
    int status = 0;
    waitpid(k, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(RegListValues(Hive::HKEY_CURRENT_USER, "Shared").size(),
            static_cast<size_t>(kProcs * kEach));
  // The file is valid JSON after atomic replacement; no temp file is left.
  std::string folder = RegistryFolder();
  EXPECT_EQ(
      access((RegistryFile(Hive::HKEY_CURRENT_USER) + ".tmp" + std::to_string(getpid())).c_str(),
             F_OK),
      -1);
}

namespace {

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The names beside `file` that begin with its own name plus ".unreadable-".
std::vector<std::string> MovedAside(const std::string& file) {
  std::vector<std::string> out;
  const std::string folder = file.substr(0, file.find_last_of('/'));
  const std::string prefix = file.substr(file.find_last_of('/') + 1) + ".unreadable-";
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      if (std::string(e->d_name).rfind(prefix, 0) == 0) out.push_back(folder + "/" + e->d_name);
    }
    closedir(d);
  }
  return out;
}

}  // namespace

// A store that is not one this program wrote never stops a caller: it moves aside, intact,
// and the caller goes on with an empty store that takes new values.
TEST(Registry, UnreadableStoreMovesAsideAndAnEmptyOneTakesItsPlace) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"path of a wrong type", R"({"keys":[{"path":5,"values":[]}]})"},
      {"keys that are not objects", R"({"keys":[1,2,3]})"},
      {"value type that is text",
       R"({"keys":[{"path":"K","values":[{"name":"v","type":"x","data":"d"}]}]})"},
      {"value data that is a number",
       R"({"keys":[{"path":"K","values":[{"name":"v","data":7}]}]})"},
      {"values that is an object", R"({"keys":[{"path":"K","values":{}}]})"},
      {"not JSON", "garbage {"},
      {"empty file", ""},
      {"an array", "[]"},
      {"30,000 nested arrays", std::string(30000, '[')},
      {"200,000 nested arrays", std::string(200000, '[') + std::string(200000, ']')},
      {"67 levels deep", R"({"keys":[{"path":"K","values":[],"x":)" + std::string(64, '[') +
                             std::string(64, ']') + "}]}"},
  };
  const Hive cu = Hive::HKEY_CURRENT_USER;
  const std::string file = RegistryFile(cu);
  ASSERT_TRUE(RegSetString(cu, "Seed", "v", "x"));  // makes the folder
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string& old : MovedAside(file)) unlink(old.c_str());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << c.bytes;

    EXPECT_TRUE(RegListKeys(cu).empty());
    const auto aside = MovedAside(file);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFileBytes(aside[0]), c.bytes);  // kept as it was, for a person to look at
    EXPECT_FALSE(RegGetString(cu, "K", "v").has_value());
    ASSERT_TRUE(RegSetString(cu, "Software\\After", "v", "fresh"));
    EXPECT_EQ(RegGetString(cu, "Software\\After", "v"), "fresh");
    EXPECT_LT(ReadFileBytes(file).size(), 4096u);
  }
  for (const std::string& old : MovedAside(file)) unlink(old.c_str());
}

TEST(Registry, StoreWithinTheLimitsIsKeptAsItIs) {
  const Hive cu = Hive::HKEY_CURRENT_USER;
  const std::string file = RegistryFile(cu);
  ASSERT_TRUE(RegSetString(cu, "Seed", "v", "x"));
  // Unknown members and 64 levels of nesting belong to a store that still reads.
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      << R"({"keys":[{"path":"K","values":[{"name":"v","data":"d"}],"note":)"
      << std::string(61, '[') << std::string(61, ']') << "}]}";
  EXPECT_EQ(RegGetString(cu, "K", "v"), "d");
  EXPECT_TRUE(MovedAside(file).empty());
}
