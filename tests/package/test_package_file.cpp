// The ".vxb" package: unpacking into a temporary folder, writing through a temporary file,
// packing a folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/package_file.h"
#include "package/zip.h"
#include "test_env.h"
#include "zip_test_util.h"

namespace vts {
namespace {

using test::Bytes;

std::string Listing(const std::string& dir) {
  std::string out;
  test::Run("ls -A " + test::Q(dir), &out);
  return out;
}

std::vector<std::string> EntryNames(const std::string& zip) {
  std::vector<std::string> names;
  ZipHandle* h = OpenZipReaderFile(zip);
  EXPECT_NE(h, nullptr);
  if (!h) return names;
  for (int i = 0;; ++i) {
    ZipEntryInfo info;
    if (GetZipEntryInfo(h, i, info) != ZR_OK) break;
    names.emplace_back(info.name.begin(), info.name.end());
  }
  CloseZipReader(h);
  return names;
}

struct PackageFixture : ::testing::Test {
  std::string dir = test::MakeTempDir("pkg");
  std::string temp = dir + "/temp";
  Bytes texts = {0xFF, 0xFE, 'a', 0, '\r', 0, '\n', 0};
  Bytes cif = {0, 0, 0, 0, 0xE8, 3, 0, 0};
  Bytes sound = test::RandomBytes(20000, 1);
  void SetUp() override { ASSERT_EQ(mkdir(temp.c_str(), 0755), 0); }

  Bytes MakeZip(const std::vector<std::pair<std::string, Bytes>>& entries,
                bool withFolder = false) {
    const std::string path = dir + "/made.zip";
    ZipHandle* h = CreateZipWriter(path);
    if (withFolder) AddZipEntryInternal(h->writer, "x.folder", ZipSource::Folder());
    for (const auto& [name, data] : entries) {
      EXPECT_EQ(
          AddZipEntryInternal(h->writer, name, ZipSource::FromMemory(data.data(), data.size())),
          ZR_OK);
    }
    EXPECT_EQ(CloseZipWriter(h), ZR_OK);
    return test::ReadBytes(path);
  }
};

TEST_F(PackageFixture, UnpackNamesEntriesAfterTheTitle) {
  test::WriteBytes(
      dir + "/lesson.vxb",
      MakeZip({{"x.mpa", sound}, {"x.cif", cif}, {"x.txt", texts}, {"README", {1}}}, true));
  test::WriteBytes(temp + "/lesson.cif", {9, 9, 9});  // a stale file is replaced
  ASSERT_EQ(chmod((temp + "/lesson.cif").c_str(), 0444), 0);
  std::string error;
  EXPECT_EQ(UnpackPackage(dir + "/lesson.vxb", temp, "lesson", &error), temp + "/lesson.mp3")
      << error;
  EXPECT_EQ(Listing(temp), "lesson.cif\nlesson.mp3\nlesson.txt\n");
  EXPECT_EQ(test::ReadBytes(temp + "/lesson.mp3"), sound);
  EXPECT_EQ(test::ReadBytes(temp + "/lesson.cif"), cif);
  struct stat st {};
  ASSERT_EQ(stat((temp + "/lesson.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0200, 0200u);  // written from memory as read-only, made normal again
}

TEST_F(PackageFixture, UnpackTakesOnlyTheFileNamesExtension) {
  test::WriteBytes(dir + "/odd.vxb", MakeZip({{"up/x.MPA", sound},
                                              {"dir.d/plain", {1}},
                                              {"x./../../evil", {2}},
                                              {"../evil.txt", {3}},  // refused by the reader
                                              {"a/b.CIF", cif}}));
  EXPECT_EQ(UnpackPackage(dir + "/odd.vxb", temp, "t"), temp + "/t.mp3");
  EXPECT_EQ(Listing(temp), "t.cif\nt.mp3\n");
  EXPECT_EQ(Listing(dir), "made.zip\nodd.vxb\ntemp\n");
}

TEST_F(PackageFixture, UnpackFailures) {
  std::string error;
  EXPECT_EQ(UnpackPackage(dir + "/missing.vxb", temp, "t", &error), "");
  EXPECT_NE(error.find("cannot be opened"), std::string::npos);
  test::WriteBytes(dir + "/nosound.vxb", MakeZip({{"x.cif", cif}}));
  EXPECT_EQ(UnpackPackage(dir + "/nosound.vxb", temp, "t", &error), "");
  EXPECT_EQ(error, "the package holds no sound");
  Bytes damaged = MakeZip({{"x.mpa", sound}});
  damaged[200] ^= 1;  // inside the stored data: the CRC check refuses it
  test::WriteBytes(dir + "/damaged.vxb", damaged);
  EXPECT_EQ(UnpackPackage(dir + "/damaged.vxb", temp, "d"), "");
  EXPECT_EQ(access((temp + "/d.mpa").c_str(), F_OK), -1);
}

// An entry that would inflate far beyond what it holds is a bomb, not sound: refused before a
// byte of it is written. Below the size bound any ratio passes (texts compress well).
TEST_F(PackageFixture, UnpackRefusesAnEntryThatInflatesBeyondItsBound) {
  const struct {
    const char* what;
    std::size_t zeros;
    bool refused;
  } cases[] = {
      {"1 MiB of zeros", std::size_t{1} << 20, false},
      {"64 MiB of zeros", kMaxPackageEntryBytes, false},
      {"64 MiB and a byte of zeros", kMaxPackageEntryBytes + 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteBytes(dir + "/bomb.vxb", MakeZip({{"x.cif", cif}, {"x.mpa", Bytes(c.zeros, 0)}}));
    std::string error;
    const std::string mp3 = UnpackPackage(dir + "/bomb.vxb", temp, "b", &error);
    if (c.refused) {
      EXPECT_EQ(mp3, "");
      EXPECT_NE(error.find("\"x.mpa\" would unpack to 64 MiB"), std::string::npos) << error;
      EXPECT_EQ(Listing(temp), "") << "nothing of the package stays";
    } else {
      EXPECT_EQ(mp3, temp + "/b.mp3") << error;
      ::unlink(mp3.c_str());
      ::unlink((temp + "/b.cif").c_str());
    }
  }
}

// A disk that fills while unpacking fails the whole package and leaves no part of a file.
TEST_F(PackageFixture, UnpackOnAFullDiskFailsAndLeavesNothing) {
  test::WriteBytes(dir + "/big.vxb", MakeZip({{"x.cif", cif}, {"x.mpa", sound}, {"x.txt", texts}}));
  std::string error;
  {
    test::FileSizeLimit limit(sound.size() / 2);
    ASSERT_TRUE(limit.ok());
    EXPECT_EQ(UnpackPackage(dir + "/big.vxb", temp, "f", &error), "");
  }
  EXPECT_NE(error.find("\"x.mpa\" could not be written"), std::string::npos) << error;
  EXPECT_EQ(Listing(temp), "");
}

TEST_F(PackageFixture, WriteHasTextsSoundChunkListInOrder) {
  const std::string mpa = dir + "/work.mpa";
  test::WriteBytes(mpa, sound);
  PackageParts parts{"work", true, texts, mpa, cif};
  std::string error;
  ASSERT_TRUE(WritePackage(dir + "/work.vxb", parts, &error)) << error;
  EXPECT_EQ(EntryNames(dir + "/work.vxb"),
            (std::vector<std::string>{"work.txt", "work.mpa", "work.cif"}));
  EXPECT_EQ(Listing(dir), "temp\nwork.vxb\n");  // no work.mpa left beside it
  EXPECT_EQ(test::Run("unzip -t " + test::Q(dir + "/work.vxb") + " >/dev/null"), 0);

  test::WriteBytes(mpa, sound);
  PackageParts noTexts{"work", false, {}, mpa, {}};
  ASSERT_TRUE(WritePackage(dir + "/two.vxb", noTexts, &error)) << error;
  EXPECT_EQ(EntryNames(dir + "/two.vxb"), (std::vector<std::string>{"work.mpa"}));
}

TEST_F(PackageFixture, FailedWriteKeepsThePreviousPackage) {
  const Bytes previous = test::ToBytes("the previous package");
  test::WriteBytes(dir + "/work.vxb", previous);
  PackageParts parts{"work", true, texts, dir + "/missing.mpa", cif};
  std::string error;
  EXPECT_FALSE(WritePackage(dir + "/work.vxb", parts, &error));
  EXPECT_NE(error.find("sound"), std::string::npos) << error;
  EXPECT_EQ(test::ReadBytes(dir + "/work.vxb"), previous);
  EXPECT_EQ(Listing(dir), "temp\nwork.vxb\n");
  // A folder that cannot be written.
  EXPECT_FALSE(WritePackage(dir + "/no/such/x.vxb", parts, &error));
}

TEST_F(PackageFixture, BuildFromFolder) {
  test::WriteBytes(temp + "/b.mp3", sound);
  test::WriteBytes(temp + "/b.wav", {1, 2});
  test::WriteBytes(temp + "/b.WAV", {1, 2});
  test::WriteBytes(temp + "/b.cif", cif);
  test::WriteBytes(temp + "/a.txt", texts);
  ASSERT_EQ(mkdir((temp + "/sub").c_str(), 0755), 0);
  std::string error;
  ASSERT_TRUE(BuildPackageFromFolder(temp, dir + "/b.vxb", &error)) << error;
  EXPECT_EQ(EntryNames(dir + "/b.vxb"), (std::vector<std::string>{"a.txt", "b.cif", "b.mpa"}));
  EXPECT_FALSE(BuildPackageFromFolder(dir + "/none", dir + "/c.vxb", &error));
  EXPECT_EQ(access((dir + "/c.vxb").c_str(), F_OK), -1);
}

}  // namespace
}  // namespace vts
