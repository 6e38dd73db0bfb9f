// The launcher's settings file, arguments, recorder command lines and desktop entry.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/product_name.h"
#include "launcher/launcher_settings.h"
#include "launcher_test_util.h"
#include "test_env.h"
#include "test_files.h"

namespace vts::launcher {

void PrintTo(const DefaultFolders& f, std::ostream* os) {
  *os << "{save \"" << f.save << "\", open \"" << f.open << "\"}";
}

namespace {

using namespace std::string_literals;
using test::ReadFile;

struct IniCase {
  const char* name;
  std::string text;
  std::string save;  // expected, starting from "old-save"
  std::string open;  // expected, starting from "old-open"
};

TEST(LauncherPathIni, ParsesByTheKeyRules) {
  const std::string v259(259, 'a');
  const std::string v260(260, 'b');
  const IniCase cases[] = {
      {"as written", "[Main]\r\nPathSave=/s\r\nPathOpen=/o\r\n\r\n", "/s", "/o"},
      {"keys in either order", "[Main]\r\nPathOpen=/o\r\nPathSave=/s\r\n", "/s", "/o"},
      {"blanks round the equals sign", "[Main]\r\nPathSave = /s\r\nPathOpen=/o\r\n", "old-save",
       "/o"},
      {"blank after the equals sign is kept", "[Main]\r\nPathSave= /s\r\n", " /s", "old-open"},
      {"empty values", "[Main]\r\nPathSave=\r\nPathOpen=\r\n", "", ""},
      {"259 bytes", "[Main]\r\nPathSave=" + v259 + "\r\nPathOpen=/o\r\n", v259, "/o"},
      {"260 bytes", "[Main]\r\nPathSave=" + v260 + "\r\nPathOpen=/o\r\n", "old-save", "/o"},
      {"last line without CR LF", "[Main]\r\nPathSave=/s\r\nPathOpen=/o", "/s", "old-open"},
      {"lines ending in LF only", "[Main]\nPathSave=/s\nPathOpen=/o\n", "old-save", "old-open"},
      {"no section", "PathSave=/s\r\nPathOpen=/o\r\n", "old-save", "old-open"},
      {"section name in another case", "[main]\r\nPathSave=/s\r\n", "old-save", "old-open"},
      {"key after another section", "[Main]\r\nPathSave=/s\r\n[Other]\r\nPathOpen=/o\r\n", "/s",
       "old-open"},
      {"another section first", "[Other]\r\nPathSave=/x\r\n[Main]\r\nPathSave=/s\r\n", "/s",
       "old-open"},
      {"[MainX] counts as Main", "[MainX]\r\nPathSave=/s\r\nPathOpen=/o\r\n", "/s", "/o"},
      {"key not at a line start", "[Main]\r\nXPathSave=/s\r\n  PathOpen=/o\r\n", "old-save",
       "old-open"},
      {"longer key name", "[Main]\r\nPathSaveOld=/s\r\n", "old-save", "old-open"},
      {"text after a NUL is not read", "[Main]\r\nPathSave=/s\r\n\0PathOpen=/o\r\n"s, "/s",
       "old-open"},
      {"UTF-8 value", "[Main]\r\nPathSave=/home/\xc3\xbc/\xe6\x96\x87\r\n",
       "/home/\xc3\xbc/\xe6\x96\x87", "old-open"},
      // A save folder holding the other key's name does not hide the open folder.
      {"save folder holds PathOpen", "[Main]\r\nPathSave=/d/PathOpen=x\r\nPathOpen=/o\r\n",
       "/d/PathOpen=x", "/o"},
      {"save folder holds PathOpen without =",
       "[Main]\r\nPathSave=/d/PathOpen/x\r\nPathOpen=/o\r\n", "/d/PathOpen/x", "/o"},
      // A "[" inside a value does not end the section.
      {"save folder holds [", "[Main]\r\nPathSave=/a/[b]\r\nPathOpen=/o\r\n", "/a/[b]", "/o"},
  };
  for (const IniCase& c : cases) {
    DefaultFolders folders{"old-save", "old-open"};
    ParsePathIni(c.text, folders);
    EXPECT_EQ(folders.save, c.save) << c.name;
    EXPECT_EQ(folders.open, c.open) << c.name;
  }
}

TEST(LauncherPathIni, FindsTheMainSectionByItsFourLetters) {
  EXPECT_EQ(FindMainSection("[Main]\r\n"), 1u);
  EXPECT_EQ(FindMainSection("x[Other]\r\n[Mainly]"), 11u);
  EXPECT_EQ(FindMainSection("[Mai]\r\n[ Main]"), std::nullopt);
  EXPECT_EQ(FindMainSection(""), std::nullopt);
}

TEST(LauncherPathIni, ReadsAFileThatOpensAsReadEvenWithoutKeys) {
  const std::string folder = test::MakeTempDir("ini");
  struct Case {
    const char* name;
    std::string bytes;  // empty name: no file
    bool make;
    bool ok;
    std::string save;
  };
  const std::string head = "[Main]\r\nPathSave=/s\r\n";
  const std::string atLimit = head + std::string(kMaxPathIniBytes - head.size(), ' ');  // 64 KiB
  const Case cases[] = {
      {"missing", "", false, false, "old"},
      {"empty file", "", true, true, "old"},
      {"no keys", "[Other]\r\nA=b\r\n", true, true, "old"},
      {"64 KiB", atLimit, true, true, "/s"},
      {"one byte over 64 KiB", atLimit + " ", true, false, "old"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = folder + "/" + std::to_string(n++) + ".ini";
    if (c.make) test::WriteText(path, c.bytes);
    DefaultFolders folders{"old", "old"};
    EXPECT_EQ(ReadPathIni(path, folders), c.ok) << c.name;
    EXPECT_EQ(folders.save, c.save) << c.name;
  }
  // A folder in the file's place cannot be read.
  DefaultFolders folders;
  EXPECT_FALSE(ReadPathIni(folder, folders));
}

TEST(LauncherPathIni, WritesExactBytesThatReadBackTheSame) {
  const std::string path = PathIniPath();
  EXPECT_EQ(path, test::TestRoot() + "/data/" + GetProductNameUtf8() + "/VoxtrailstudyPath.ini");
  struct stat st {};
  EXPECT_EQ(::stat((test::TestRoot() + "/data/" + GetProductNameUtf8()).c_str(), &st), 0)
      << "the folder is made first";

  ASSERT_TRUE(WritePathIni(path, {"/home/u/save me", "/home/u/open"}));
  EXPECT_EQ(ReadFile(path), "[Main]\r\nPathSave=/home/u/save me\r\nPathOpen=/home/u/open\r\n\r\n");

  const DefaultFolders roundTrips[] = {
      {"", ""},
      {"/a/[b]", "/c [d"},
      {"/x/PathOpen=/y", "/z/PathSave=w"},
      {"/home/\xc3\xbc", "/home/\xe6\x96\x87"},
      {"/" + std::string(258, 's'), "/" + std::string(258, 'o')},
  };
  for (const DefaultFolders& f : roundTrips) {
    ASSERT_TRUE(WritePathIni(path, f));
    DefaultFolders back{"old", "old"};
    ASSERT_TRUE(ReadPathIni(path, back));
    EXPECT_EQ(back, f) << f.save;
  }
}

TEST(LauncherPathIni, WritesEmptyWhatCouldNotBeReadBack) {
  const std::string v259 = "/" + std::string(258, 'x');
  const std::string v260 = "/" + std::string(259, 'x');
  EXPECT_EQ(PathIniText({v259, v260}), "[Main]\r\nPathSave=" + v259 + "\r\nPathOpen=\r\n\r\n");
  // 130 two-byte characters: 260 bytes.
  std::string wide = "/";
  for (int i = 0; i < 129; ++i) wide += "\xc3\xbc";
  wide += "x";
  ASSERT_EQ(wide.size(), 260u);
  EXPECT_EQ(PathIniText({wide, "/o"}), "[Main]\r\nPathSave=\r\nPathOpen=/o\r\n\r\n");
  EXPECT_EQ(PathIniText({"/a\r\nPathOpen=/evil", "/b\nc"}),
            "[Main]\r\nPathSave=\r\nPathOpen=\r\n\r\n");
}

TEST(LauncherPathIni, ReportsAFileThatCannotBeWritten) {
  const std::string folder = test::MakeTempDir("blocked");
  test::WriteText(folder + "/file", "x");
  EXPECT_FALSE(WritePathIni(folder + "/file/VoxtrailstudyPath.ini", {"/s", "/o"}));
  // The former file stays whole when a write fails.
  const std::string path = folder + "/keep.ini";
  ASSERT_TRUE(WritePathIni(path, {"/s", "/o"}));
  ::chmod(folder.c_str(), 0500);
  if (::access(folder.c_str(), W_OK) != 0) {  // root may write anyway
    EXPECT_FALSE(WritePathIni(path, {"/t", "/p"}));
    EXPECT_EQ(ReadFile(path), "[Main]\r\nPathSave=/s\r\nPathOpen=/o\r\n\r\n");
  }
  ::chmod(folder.c_str(), 0700);
}

TEST(LauncherArgumentsTest, DecideSetupPxnAndTheFile) {
  const std::string p1019(1019, 'p');
  const std::string p1020(1020, 'p');
  std::string wide1019;  // 1019 characters, 2038 bytes
  for (int i = 0; i < 1019; ++i) wide1019 += "\xc3\xa9";
  struct Case {
    std::vector<std::string> args;
    bool setup;
    bool pxn;
    std::optional<std::string> file;
    std::vector<std::vector<std::string>> lists;
  };
  const std::string f = "/home/u/my lesson.wav";
  const Case cases[] = {
      {{}, false, false, std::nullopt, {{"/Pos:1"}, {"/Pos:2"}}},
      {{f}, false, false, f, {{"/Pos:1", f}, {"/Pos:2", f}}},
      {{"/home/u/*.wav"},
       false,
       false,
       "/home/u/*.wav",
       {{"/Pos:1", "/home/u/*.wav"}, {"/Pos:2", "/home/u/*.wav"}}},
      {{"setup"}, true, false, std::nullopt, {{"/Pos:1"}, {"/Pos:2"}}},
      {{f, "setup"}, true, false, f, {{"/Pos:1", f}, {"/Pos:2", f}}},
      {{"/home/u/setups/a.wav"},
       true,
       false,
       "/home/u/setups/a.wav",
       {{"/Pos:1", "/home/u/setups/a.wav"}, {"/Pos:2", "/home/u/setups/a.wav"}}},
      {{"Setup"}, false, false, "Setup", {{"/Pos:1", "Setup"}, {"/Pos:2", "Setup"}}},
      {{"/PXN"}, false, true, std::nullopt, {{"/_p"}, {"/_s"}}},
      {{"/PXN", f}, false, true, f, {{"/_p", f}, {"/_s", f}}},
      {{f, "/PXN"}, false, true, f, {{"/_p", f}, {"/_s", f}}},
      {{"/x/PXNy.wav"},
       false,
       true,
       "/x/PXNy.wav",
       {{"/_p", "/x/PXNy.wav"}, {"/_s", "/x/PXNy.wav"}}},
      {{"/pxn"}, false, false, "/pxn", {{"/Pos:1", "/pxn"}, {"/Pos:2", "/pxn"}}},
      {{"a.wav", "b.wav"}, false, false, "b.wav", {{"/Pos:1", "b.wav"}, {"/Pos:2", "b.wav"}}},
      {{"a.wav", ""}, false, false, std::nullopt, {{"/Pos:1"}, {"/Pos:2"}}},
      {{p1019}, false, false, p1019, {{"/Pos:1", p1019}, {"/Pos:2", p1019}}},
      {{p1020}, false, false, std::nullopt, {{"/Pos:1"}, {"/Pos:2"}}},
      {{"a.wav", p1020}, false, false, std::nullopt, {{"/Pos:1"}, {"/Pos:2"}}},
      {{wide1019}, false, false, wide1019, {{"/Pos:1", wide1019}, {"/Pos:2", wide1019}}},
  };
  for (const Case& c : cases) {
    const std::string label = c.args.empty() ? "(none)" : c.args.back().substr(0, 40);
    const LauncherArguments a = ParseLauncherArguments(c.args);
    EXPECT_EQ(a.setup, c.setup) << label;
    EXPECT_EQ(a.pxn, c.pxn) << label;
    EXPECT_EQ(a.file, c.file) << label;
    EXPECT_EQ(RecorderArgumentLists(a), c.lists) << label;
  }
}

TEST(LauncherNames, RecorderDocumentsAndDesktopEntryFollowTheVariant) {
  const std::string n = GetProductNameUtf8();
  EXPECT_EQ(RecorderPath("/opt/x y"), "/opt/x y/" + n);

  const std::string docs = DocumentsDefaultFolder();
  EXPECT_EQ(docs, test::TestRoot() + "/documents/" + n);
  EXPECT_TRUE(std::filesystem::is_directory(docs));

  std::string lower = n;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(LauncherDesktopEntryFileName(), lower + "-start.desktop");
  // Group -> key -> value, as a desktop reads the entry.
  std::map<std::string, std::map<std::string, std::string>> entry;
  std::istringstream in(LauncherDesktopEntryText("/opt/my $apps/VoxtrailStart"));
  std::string group, line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.front() == '[') {
      group = line.substr(1, line.size() - 2);
    } else {
      const std::size_t eq = line.find('=');
      ASSERT_NE(eq, std::string::npos) << line;
      entry[group][line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  const std::string quoted = "\"/opt/my \\\\$apps/VoxtrailStart\"";
  EXPECT_EQ(entry["Desktop Entry"]["Type"], "Application");
  EXPECT_EQ(entry["Desktop Entry"]["Name"], n + " (two positions)");
  EXPECT_EQ(entry["Desktop Entry"]["Exec"], quoted + " %f");
  EXPECT_EQ(entry["Desktop Entry"]["Actions"], "DefaultFolders;");
  EXPECT_EQ(entry["Desktop Action DefaultFolders"]["Name"], "Default folders");
  EXPECT_EQ(entry["Desktop Action DefaultFolders"]["Exec"], quoted + " setup");
}

}  // namespace
}  // namespace vts::launcher
