// The data folder: its name, its creation, and the rights of a shared one.
#include "core/data_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "core/product_name.h"
#include "platform/known_folders.h"
#include "test_env.h"

using namespace vts;

TEST(DataFolder, IsCreatedWithItsParentsBelowCommonAppData) {
  std::string folder = GetDataFolder();
  EXPECT_EQ(folder, plat::CommonAppDataFolder() + "/" + GetProductNameUtf8());
  struct stat st{};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(GetDataFilePath("RecorderPaths.json"), folder + "/RecorderPaths.json");
}

TEST(DataFolder, SharedFolderOutsideHomeIsOpenedToAll) {
  std::string home = test::MakeTempDir("home");
  std::string shared = test::MakeTempDir("shared");
  std::string old = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.c_str(), 1);

  std::string inside = home + "/data";
  ASSERT_TRUE(plat::CreateFolderChain(inside, 0755));
  EXPECT_TRUE(IsInsideHome(inside));
  EXPECT_FALSE(IsInsideHome(shared));
  EXPECT_FALSE(IsInsideHome(home + "-other"));

  GrantDataFolderAccess(inside);
  GrantDataFolderAccess(shared);
  struct stat st{};
  ASSERT_EQ(stat(inside.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  ASSERT_EQ(stat(shared.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);

  setenv("HOME", old.c_str(), 1);
}
