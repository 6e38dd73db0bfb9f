// Path functions: the edge cases as tables, and the wildcard lookup against real files.
#include "core/paths.h"

#include <gtest/gtest.h>

#include <fstream>

#include "test_env.h"

using namespace vts;

TEST(Paths, ReplaceExtension) {
  struct Case {
    const char* path;
    const char* ext;
    const char* expected;
  } cases[] = {
      {"/a/take.wav", "cif", "/a/take.cif"},
      {"/a/take", "cif", "/a/take.cif"},
      {"/a.b/take", "txt", "/a.b/take.txt"},
      {"/a/take.", "mp3", "/a/take.mp3"},
      {"/a/take.tar.gz", "vxb", "/a/take.tar.vxb"},
      {"take.wav", "mp3", "take.mp3"},
      {"take", "mp3", "take.mp3"},
      {"/a/.hidden", "txt", "/a/.txt"},
      {"", "wav", ".wav"},
      {"/a/", "wav", "/a/.wav"},
  };
  for (const Case& c : cases) {
    std::string p = c.path;
    ReplaceExtension(p, c.ext);
    EXPECT_EQ(p, c.expected) << c.path;
  }
}

TEST(Paths, FileNameAndExtension) {
  struct Case {
    const char* path;
    const char* name;
    const char* ext;
  } cases[] = {
      {"/a/take.wav", "take.wav", "wav"},
      {"/a/Take.WAV", "Take.WAV", "WAV"},
      {"/a.b/take", "take", ""},            // the only full stop is in a folder name
      {"take.wav", "take.wav", "wav"},      // a bare name has its extension too
      {"/a/take.", "take.", ""},
      {"/a/take.tar.gz", "take.tar.gz", "gz"},
      {"/a/", "", ""},
      {"", "", ""},
      {"C:\\x\\take.wav", "C:\\x\\take.wav", "wav"},  // a backslash is an ordinary character
      {"/a/l\xC3\xA9\xC3\xA7on.mp3", "l\xC3\xA9\xC3\xA7on.mp3", "mp3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetFileNameOfPath(c.path), c.name) << c.path;
    EXPECT_EQ(GetExtensionOfPath(c.path), c.ext) << c.path;
  }
}

TEST(Paths, OldVersionPath) {
  struct Case {
    const char* path;
    const char* expected;
  } cases[] = {
      {"/w/lesson.vxb", "/w/lesson - Old.vxb"},
      {"/w/a.b.mp3", "/w/a.b - Old.mp3"},  // before the last full stop
      {"/w/plain", "/w/plain - Old"},      // at the end without one
      {"/w.x/plain", "/w.x/plain - Old"},  // a folder's full stop does not count
      {"lesson.wav", "lesson - Old.wav"},
  };
  for (const Case& c : cases) EXPECT_EQ(OldVersionPath(c.path), c.expected) << c.path;
}

TEST(Paths, ExtensionEquals) {
  struct Case {
    const char* path;
    const char* upper;
    bool expected;
  } cases[] = {
      {"/a/take.mp3", "MP3", true},
      {"/a/take.Mp3", "MP3", true},
      {"/a/take.mp3", "mp3", false},  // the caller gives upper case
      {"/a/take.wav", "MP3", false},
      {"/a.b/take", "B/TAKE", false},  // folder names never give an extension
      {"/a.mp3/take", "MP3", false},
      {"/a/take", "", false},
      {"/a/take.", "", true},
      {"take.wav", "WAV", true},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtensionEquals(c.path, c.upper), c.expected) << c.path << " " << c.upper;

  std::string longExt = "/a/take." + std::string(64, 'x');
  EXPECT_FALSE(ExtensionEquals(longExt, std::string(64, 'X')));
  std::string okExt = "/a/take." + std::string(63, 'x');
  EXPECT_TRUE(ExtensionEquals(okExt, std::string(63, 'X')));
}

TEST(Paths, ResolveWildcardPath) {
  std::string dir = test::MakeTempDir("wild");
  std::ofstream(dir + "/take1.WAV") << "x";
  std::ofstream(dir + "/take[2].wav") << "x";
  std::ofstream(dir + "/other.mp3") << "x";

  struct Case {
    std::string pattern;
    bool found;
    std::string result;
  } cases[] = {
      {dir + "/take*.wav", true, dir + "/take1.WAV"},  // names compare without regard to case
      {dir + "/TAKE1.wav", true, dir + "/take1.WAV"},  // a plain path takes the file's case
      {dir + "/take1.WAV", true, dir + "/take1.WAV"},
      {dir + "/take[2].wav", true, dir + "/take[2].wav"},  // "[" is no wildcard
      {dir + "/?ther.*", true, dir + "/other.mp3"},
      {dir + "/missing*.wav", false, dir + "/missing*.wav"},
      {dir + "/take2.wav", false, dir + "/take2.wav"},
      {dir + "/nofolder/take*.wav", false, dir + "/nofolder/take*.wav"},
      {dir + "/", false, dir + "/"},
  };
  for (Case& c : cases) {
    std::string p = c.pattern;
    EXPECT_EQ(ResolveWildcardPath(p), c.found) << c.pattern;
    EXPECT_EQ(p, c.result) << c.pattern;
  }

  // An exact-case file wins over a case-folded one.
  std::ofstream(dir + "/take1.wav") << "x";
  std::string p = dir + "/take1.wav";
  EXPECT_TRUE(ResolveWildcardPath(p));
  EXPECT_EQ(p, dir + "/take1.wav");
}
