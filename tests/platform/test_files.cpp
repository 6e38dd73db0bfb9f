// Whole-file reads (limits, odd file kinds), atomic replacement (the old file stays on every
// failure, no temporary file is left) and renaming without overwriting.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <string>

#include "platform/fd.h"
#include "platform/files.h"
#include "test_env.h"

namespace plat = vts::plat;
namespace test = vts::test;

namespace {

void Put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Get(const std::string& path) {
  std::string out;
  EXPECT_EQ(plat::ReadWholeFile(path, &out), plat::ReadFileStatus::kOk) << path;
  return out;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    ::closedir(d);
  }
  return names;
}

TEST(ReadWholeFile, AnswersEachKindOfFile) {
  const std::string dir = test::MakeTempDir("read");
  Put(dir + "/ten", "0123456789");
  Put(dir + "/empty", "");
  ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);  // opening must not block
  ASSERT_EQ(::symlink("ten", (dir + "/link").c_str()), 0);
  ASSERT_EQ(::mkdir((dir + "/folder").c_str(), 0700), 0);

  struct Case {
    const char* name;
    plat::ReadFileOptions options;
    plat::ReadFileStatus status;
    std::string text;
  } cases[] = {
      {"ten", {}, plat::ReadFileStatus::kOk, "0123456789"},
      {"ten", {10, true}, plat::ReadFileStatus::kOk, "0123456789"},
      {"ten", {9, true}, plat::ReadFileStatus::kTooLarge, ""},
      {"empty", {0, true}, plat::ReadFileStatus::kOk, ""},
      {"missing", {}, plat::ReadFileStatus::kOpenFailed, ""},
      {"folder", {}, plat::ReadFileStatus::kNotRegular, ""},
      {"fifo", {}, plat::ReadFileStatus::kNotRegular, ""},
      {"link", {}, plat::ReadFileStatus::kOk, "0123456789"},
      {"link", {SIZE_MAX, false}, plat::ReadFileStatus::kOpenFailed, ""},
  };
  for (const auto& c : cases) {
    std::string text = "stale";
    std::vector<std::uint8_t> bytes{1, 2};
    EXPECT_EQ(plat::ReadWholeFile(dir + "/" + c.name, &text, c.options), c.status) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
    EXPECT_EQ(plat::ReadWholeFile(dir + "/" + c.name, &bytes, c.options), c.status) << c.name;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.text) << c.name;
  }
}

TEST(WriteFileAtomically, CreatesAndReplacesLeavingNoTemporaryFile) {
  const std::string dir = test::MakeTempDir("write");
  const std::string path = dir + "/a.ini";
  std::string error;
  ASSERT_TRUE(plat::WriteFileAtomically(path, std::string_view("first"), 0644, &error)) << error;
  EXPECT_EQ(Get(path), "first");
  ASSERT_TRUE(plat::WriteFileAtomically(path, std::string_view(""), 0644, &error)) << error;
  EXPECT_EQ(Get(path), "");
  const std::vector<std::uint8_t> bytes{0, 1, 2, 0xFF};
  ASSERT_TRUE(plat::WriteFileAtomically(path, bytes));
  EXPECT_EQ(Get(path), std::string("\0\1\2\xFF", 4));
  EXPECT_EQ(Names(dir), std::set<std::string>{"a.ini"});
}

TEST(WriteFileAtomically, SetsTheExactModeOrTheUmasksMode) {
  const std::string dir = test::MakeTempDir("mode");
  const mode_t mask = ::umask(022);  // single-threaded here
  struct stat st;
  ASSERT_TRUE(plat::WriteFileAtomically(dir + "/private", std::string_view("x"), 0600));
  ASSERT_EQ(::stat((dir + "/private").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(plat::WriteFileAtomically(dir + "/wide", std::string_view("x"), 0666));
  ASSERT_EQ(::stat((dir + "/wide").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);  // exact: not narrowed by the umask
  ASSERT_TRUE(
      plat::WriteFileAtomically(dir + "/plain", std::string_view("x"), plat::kModeUnderUmask));
  ASSERT_EQ(::stat((dir + "/plain").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ::umask(mask);
}

TEST(WriteFileAtomically, AFailureKeepsTheOldContentAndRemovesTheTemporaryFile) {
  const std::string dir = test::MakeTempDir("fail");
  // The target is a folder with content: the final rename fails.
  ASSERT_EQ(::mkdir((dir + "/busy").c_str(), 0700), 0);
  Put(dir + "/busy/inside", "kept");
  std::string error;
  EXPECT_FALSE(plat::WriteFileAtomically(dir + "/busy", std::string_view("new"), 0644, &error));
  EXPECT_NE(error.find("busy"), std::string::npos) << error;
  EXPECT_EQ(Get(dir + "/busy/inside"), "kept");
  EXPECT_EQ(Names(dir), std::set<std::string>{"busy"});
  // A missing folder fails before anything is written.
  EXPECT_FALSE(plat::WriteFileAtomically(dir + "/none/x", std::string_view("new"), 0644, &error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_FALSE(plat::WriteFileAtomically("", std::string_view("new")));
}

TEST(FileReplacement, ReadersSeeTheOldFileUntilCommitAndDiscardKeepsIt) {
  const std::string dir = test::MakeTempDir("replace");
  const std::string path = dir + "/track.wav";
  Put(path, "old");
  {
    plat::FileReplacement file;
    ASSERT_TRUE(file.Open(path, 0644));
    ASSERT_TRUE(file.Write("new content", 11));
    EXPECT_EQ(Get(path), "old");
    EXPECT_EQ(Names(dir).size(), 2u);
  }  // not committed
  EXPECT_EQ(Get(path), "old");
  EXPECT_EQ(Names(dir), std::set<std::string>{"track.wav"});

  plat::FileReplacement file;
  ASSERT_TRUE(file.Open(path, 0644));
  // Writers that take the temporary path (an archive writer) fill it themselves.
  Put(file.TempPath(), "by path");
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Get(path), "by path");
  EXPECT_EQ(Names(dir), std::set<std::string>{"track.wav"});
  EXPECT_FALSE(file.Commit());  // once only
}

TEST(FileReplacement, HeaderAfterBodyKeptDescriptorAndHandedOverTemporaryFile) {
  const std::string dir = test::MakeTempDir("modes");
  // A header completed after the body, as a decoder writes a WAV file.
  plat::FileReplacement wav;
  ASSERT_TRUE(wav.Open(dir + "/a.wav", 0644));
  ASSERT_TRUE(wav.Write("....body", 8));
  ASSERT_TRUE(wav.WriteAt(0, "HEAD", 4));
  ASSERT_TRUE(wav.Commit());
  EXPECT_EQ(Get(dir + "/a.wav"), "HEADbody");

  // Renamed with its descriptor still open (a shared mapping keeps its lock on it).
  plat::FileReplacement shared;
  ASSERT_TRUE(shared.Open(dir + "/shm", 0600));
  ASSERT_TRUE(shared.Write("ab", 2));
  plat::UniqueFd kept;
  ASSERT_TRUE(shared.CommitKeepingOpen(&kept));
  ASSERT_TRUE(kept);
  ASSERT_EQ(::pwrite(kept.get(), "c", 1, 2), 1);
  EXPECT_EQ(Get(dir + "/shm"), "abc");

  // Finished and handed over: the caller owns the temporary file, nothing is renamed.
  std::string temp;
  {
    plat::FileReplacement part;
    ASSERT_TRUE(part.Open(dir + "/b.vxb", 0644));
    ASSERT_TRUE(part.Write("mpa", 3));
    ASSERT_TRUE(part.Finish());
    temp = part.ReleaseTemp();
  }
  EXPECT_EQ(Get(temp), "mpa");
  EXPECT_FALSE(plat::PathExists(dir + "/b.vxb"));
  EXPECT_TRUE(plat::CanOpenForReading(temp));
}

// The old version keeps a second name from the commit on, never over a file of that name:
// a later one takes the first free number.
TEST(FileReplacement, KeepsTheOldVersionUnderASecondName) {
  const std::string dir = test::MakeTempDir("keep-old");
  Put(dir + "/a.vxb", "first");
  {
    plat::FileReplacement file;
    ASSERT_TRUE(file.Open(dir + "/a.vxb", 0644));
    file.KeepOldVersionAs(dir + "/a - Old.vxb");
    ASSERT_TRUE(file.Write("second", 6));
    EXPECT_FALSE(plat::PathExists(dir + "/a - Old.vxb")) << "not before the commit";
    ASSERT_TRUE(file.Commit());
  }
  EXPECT_EQ(Get(dir + "/a - Old.vxb"), "first");
  EXPECT_EQ(Get(dir + "/a.vxb"), "second");
  // The second name is taken: it stays, the version replaced now is numbered.
  plat::FileReplacement again;
  ASSERT_TRUE(again.Open(dir + "/a.vxb", 0644));
  again.KeepOldVersionAs(dir + "/a - Old.vxb");
  ASSERT_TRUE(again.Write("third", 5));
  ASSERT_TRUE(again.Commit());
  EXPECT_EQ(Get(dir + "/a - Old.vxb"), "first");
  EXPECT_EQ(Get(dir + "/a - Old[1].vxb"), "second");
  EXPECT_EQ(Get(dir + "/a.vxb"), "third");
  // Nothing to keep: a new file.
  EXPECT_FALSE(plat::KeepOldVersion(dir + "/new.vxb", dir + "/new - Old.vxb"));
  EXPECT_EQ(Names(dir), (std::set<std::string>{"a - Old.vxb", "a - Old[1].vxb", "a.vxb"}));
}

// Only temporary files of processes that no longer run go; a folder, another name, a file of
// this process or of a running one stays.
TEST(RemoveStaleReplacements, RemovesOnlyWhatEndedProcessesLeft) {
  const std::string dir = test::MakeTempDir("stale");
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string dead = std::to_string(gone), self = std::to_string(::getpid());
  const std::string removed[] = {"lesson.vxb.tmp-" + dead + "-0-0123abcd",
                                 "a b.wav.tmp-" + dead + "-17-ffffffff"};
  const std::string kept[] = {"lesson.vxb.tmp-" + self + "-1-0123abcd",  // this process's
                              "lesson.vxb.tmp-1-1-0123abcd",             // a running one's
                              "lesson.vxb.tmp-" + dead + "-1-0123ABCD",  // not our name
                              "lesson.vxb.tmp-" + dead + "-1-0123abc",
                              "lesson.vxb.tmp-" + dead + "-x-0123abcd",
                              "lesson.vxb.tmp-" + dead + "-1-0123abcd.more",
                              "lesson.vxb"};
  for (const std::string& n : removed) Put(dir + "/" + n, "x");
  for (const std::string& n : kept) Put(dir + "/" + n, "x");
  const std::string folderLike = "sub.tmp-" + dead + "-2-0123abcd";
  ASSERT_EQ(::mkdir((dir + "/" + folderLike).c_str(), 0755), 0);
  EXPECT_EQ(plat::RemoveStaleReplacements(dir), 2);
  std::set<std::string> expected(std::begin(kept), std::end(kept));
  expected.insert(folderLike);
  EXPECT_EQ(Names(dir), expected);
  EXPECT_EQ(plat::RemoveStaleReplacements(dir + "/missing"), 0);
}

TEST(RenameNoReplace, RenamesOnlyOntoAFreeName) {
  const std::string dir = test::MakeTempDir("rename");
  Put(dir + "/a", "A");
  Put(dir + "/b", "B");
  errno = 0;
  EXPECT_FALSE(plat::RenameNoReplace(dir + "/a", dir + "/b"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(Get(dir + "/a"), "A");
  EXPECT_EQ(Get(dir + "/b"), "B");
  EXPECT_TRUE(plat::RenameNoReplace(dir + "/a", dir + "/c"));
  EXPECT_EQ(Get(dir + "/c"), "A");
  EXPECT_EQ(Names(dir), (std::set<std::string>{"b", "c"}));
  EXPECT_FALSE(plat::RenameNoReplace(dir + "/missing", dir + "/d"));
}

}  // namespace

// The name an open file stands under now: it follows a rename, and a file that lost its
// name (removed, or another file put in its place) has none.
TEST(PathOfOpenFile, FollowsRenamesAndLosesARemovedOrReplacedName) {
  const std::string dir = vts::test::MakeTempDir("pathof");
  const std::string a = dir + "/a.wav", b = dir + "/b.wav";
  std::ofstream(a) << "sound";
  vts::plat::UniqueFd fd = vts::plat::OpenFile(a, vts::plat::kOpenRead);
  ASSERT_TRUE(fd);
  EXPECT_EQ(vts::plat::PathOfOpenFile(fd.get()), a);
  ASSERT_EQ(::rename(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(vts::plat::PathOfOpenFile(fd.get()), b);
  std::ofstream(a) << "other";
  ASSERT_EQ(::rename(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(vts::plat::PathOfOpenFile(fd.get()), "") << "another file took its name";
  ASSERT_EQ(::unlink(b.c_str()), 0);
  EXPECT_EQ(vts::plat::PathOfOpenFile(fd.get()), "");
  EXPECT_EQ(vts::plat::PathOfOpenFile(-1), "");
}
