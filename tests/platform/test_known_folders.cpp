// Known folders: the root relocates everything; XDG defaults without it; private folders.
#include "platform/known_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include "test_env.h"

using namespace vts::plat;

namespace {

// Sets environment variables for one test and restores them after.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

mode_t ModeOf(const std::string& p) {
  struct stat st{};
  lstat(p.c_str(), &st);
  return st.st_mode & 07777;
}

}  // namespace

TEST(KnownFolders, RootRelocatesEveryFolder) {
  std::string root = vts::test::MakeTempDir("root");
  EnvGuard env;
  env.Set("VOXTRAILSTUDY_ROOT", (root + "/").c_str());  // trailing slash is tolerated
  EXPECT_EQ(CommonAppDataFolder(), root + "/data");
  EXPECT_EQ(DocumentsFolder(), root + "/documents");
  EXPECT_EQ(TempFolder(), root + "/tmp");
  EXPECT_EQ(DriveCRoot(), root + "/c");
  EXPECT_EQ(RegistryFolder(), root + "/registry");
  EXPECT_EQ(XdgDataHome(), root + "/xdg-data");
  EXPECT_EQ(RuntimeFolder(), root + "/run");
  EXPECT_EQ(ModeOf(root + "/run"), 0700u);
}

TEST(KnownFolders, XdgDefaultsWithoutRoot) {
  std::string home = vts::test::MakeTempDir("home");
  EnvGuard env;
  env.Set("VOXTRAILSTUDY_ROOT", nullptr);
  env.Set("HOME", home.c_str());
  env.Set("XDG_DATA_HOME", nullptr);
  env.Set("XDG_STATE_HOME", nullptr);
  env.Set("XDG_CONFIG_HOME", nullptr);
  env.Set("XDG_DOCUMENTS_DIR", nullptr);
  env.Set("XDG_RUNTIME_DIR", (home + "/rt").c_str());
  env.Set("TMPDIR", (home + "/tmpdir").c_str());
  EXPECT_EQ(CommonAppDataFolder(), home + "/.local/share");
  EXPECT_EQ(XdgDataHome(), home + "/.local/share");
  EXPECT_EQ(DocumentsFolder(), home + "/Documents");
  EXPECT_EQ(DriveCRoot(), home);
  EXPECT_EQ(TempFolder(), home + "/tmpdir");
  EXPECT_EQ(RegistryFolder(), home + "/.local/state/voxtrailstudy/registry");
  EXPECT_EQ(RuntimeFolder(), home + "/rt/voxtrailstudy");

  // The documents dir from user-dirs.dirs, and XDG variables that are set.
  ASSERT_TRUE(CreateFolderChain(home + "/.config"));
  std::ofstream(home + "/.config/user-dirs.dirs") << "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
  EXPECT_EQ(DocumentsFolder(), home + "/Dokumente");
  env.Set("XDG_DATA_HOME", (home + "/data-home").c_str());
  EXPECT_EQ(CommonAppDataFolder(), home + "/data-home");
  env.Set("XDG_DATA_HOME", "relative/is/ignored");
  EXPECT_EQ(CommonAppDataFolder(), home + "/.local/share");
}

TEST(KnownFolders, TempFolderWithoutTmpdirIsPrivateToTheUser) {
  EnvGuard env;
  env.Set("VOXTRAILSTUDY_ROOT", nullptr);
  env.Set("TMPDIR", nullptr);
  std::string t = TempFolder();
  ASSERT_EQ(t.rfind("/tmp/vts-", 0), 0u) << t;
  struct stat st{};
  ASSERT_EQ(lstat(t.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(KnownFolders, PrivateFolderRefusesSymlinksAndTightensMode) {
  std::string base = vts::test::MakeTempDir("priv");
  std::string target = base + "/target";
  ASSERT_TRUE(CreateFolderChain(target, 0777));
  ASSERT_EQ(symlink(target.c_str(), (base + "/link").c_str()), 0);
  EXPECT_FALSE(EnsurePrivateFolder(base + "/link"));

  chmod(target.c_str(), 0777);
  EXPECT_TRUE(EnsurePrivateFolder(target));
  EXPECT_EQ(ModeOf(target), 0700u);

  EXPECT_TRUE(EnsurePrivateFolder(base + "/new/deep"));
  EXPECT_EQ(ModeOf(base + "/new/deep"), 0700u);

  std::ofstream(base + "/file") << "x";
  EXPECT_FALSE(EnsurePrivateFolder(base + "/file"));
}

TEST(KnownFolders, CreateFolderChainMakesEveryLevel) {
  std::string base = vts::test::MakeTempDir("chain");
  EXPECT_TRUE(CreateFolderChain(base + "/a/b/c/d"));
  EXPECT_TRUE(CreateFolderChain(base + "/a/b/c/d"));  // existing: fine
  std::ofstream(base + "/plain") << "x";
  EXPECT_FALSE(CreateFolderChain(base + "/plain/sub"));
  EXPECT_FALSE(CreateFolderChain(""));
}

TEST(KnownFolders, ProgramPathIsThisTestProgram) {
  std::string p = ProgramPath();
  EXPECT_EQ(p.substr(p.find_last_of('/') + 1), "test_known_folders");
  EXPECT_EQ(ProgramFolder(), p.substr(0, p.find_last_of('/')));
}
