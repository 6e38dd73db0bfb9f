// Settings files of the data folder: exact contents, broken files, atomic writes, round trips.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/command_line.h"
#include "core/settings_files.h"
#include "test_env.h"
#include "test_files.h"

namespace vts {
namespace {

using ::vts::test::ReadFile;

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// --- wave-device settings ---------------------------------------------------------------

TEST(WaveDeviceSettings, TextHasTheMemberOrderIndentAndFinalNewline) {
  const auto text = WaveDeviceSettingsText(u"alsa_output.pci.analog-stereo", u"vts_mic");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "{\n"
            "    \"Wave\": {\n"
            "        \"WaveDeviceOut\": \"alsa_output.pci.analog-stereo\",\n"
            "        \"WaveDeviceIn\": \"vts_mic\"\n"
            "    }\n"
            "}\n");
}

TEST(WaveDeviceSettings, IdsRoundTripExactlyWithoutTrailingNul) {
  const std::string path = test::MakeTempDir("wave") + "/Voxtrailstudy.ini";
  const std::vector<std::u16string> ids = {u"",
                                           u"vts_speaker",
                                           u"Mikrofon (Gerät) \"2\" \\ back",
                                           u"\u00e9\u4e2d\U0001F3A4",
                                           std::u16string(1, u'\x01'),
                                           u"tab\tnewline\n"};
  for (const auto& out : ids) {
    for (const auto& in : {ids[1], ids[3]}) {
      ASSERT_TRUE(WriteWaveDeviceSettings(out, in, path));
      EXPECT_EQ(ReadFile(path).find("\\u0000"), std::string::npos);
      std::u16string readOut = u"x", readIn = u"y";
      ASSERT_TRUE(ReadWaveDeviceSettings(readOut, readIn, path));
      EXPECT_EQ(readOut, out);
      EXPECT_EQ(readIn, in);
    }
  }
}

struct ReadCase {
  const char* what;
  std::string content;  // file content; "<none>" for no file, "<dir>" for a folder
  bool result;
  std::u16string out, in;  // names after reading, starting from "old-out"/"old-in"
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.what; }

class WaveReadTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(WaveReadTable, LoadsAsTheFileSaysOrAsNoFile) {
  const ReadCase& c = GetParam();
  const std::string path = test::MakeTempDir("waveread") + "/VoxtrailstudySt1.ini";
  if (c.content == "<dir>")
    ::mkdir(path.c_str(), 0755);
  else if (c.content != "<none>")
    WriteFile(path, c.content);
  std::u16string out = u"old-out", in = u"old-in";
  EXPECT_EQ(ReadWaveDeviceSettings(out, in, path), c.result);
  EXPECT_EQ(out, c.out);
  EXPECT_EQ(in, c.in);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(WaveDeviceSettings, WaveReadTable, ::testing::Values(
    ReadCase{"missing", "<none>", false, u"old-out", u"old-in"},
    ReadCase{"folder", "<dir>", false, u"old-out", u"old-in"},
    ReadCase{"empty", "", false, u"old-out", u"old-in"},
    ReadCase{"not json", "[Wave]\nWaveDeviceOut=spk\n", false, u"old-out", u"old-in"},
    ReadCase{"truncated", R"({"Wave":{"WaveDeviceOut":"spk","WaveDeviceIn":"m)", false, u"old-out", u"old-in"},
    ReadCase{"trailing garbage", R"({"Wave":{"WaveDeviceOut":"spk"}} x)", false, u"old-out", u"old-in"},
    ReadCase{"bad utf-8", "{\"Wave\":{\"WaveDeviceOut\":\"\xC3\x28\"}}", false, u"old-out", u"old-in"},
    ReadCase{"both", R"({"Wave":{"WaveDeviceOut":"spk","WaveDeviceIn":"mic"}})", true, u"spk", u"mic"},
    ReadCase{"members swapped", R"({"Wave":{"WaveDeviceIn":"mic","WaveDeviceOut":"spk"}})", true, u"spk", u"mic"},
    ReadCase{"only input", R"({"Wave":{"WaveDeviceIn":"mic"}})", true, u"old-out", u"mic"},
    ReadCase{"stored NUL dropped", R"({"Wave":{"WaveDeviceOut":"spk\u0000","WaveDeviceIn":"\u0000"}})", true, u"spk", u""},
    ReadCase{"empty strings", R"({"Wave":{"WaveDeviceOut":"","WaveDeviceIn":""}})", true, u"", u""},
    ReadCase{"null values", R"({"Wave":{"WaveDeviceOut":null,"WaveDeviceIn":null}})", true, u"old-out", u"old-in"},
    ReadCase{"wrong types", R"({"Wave":{"WaveDeviceOut":5,"WaveDeviceIn":["mic"]}})", true, u"old-out", u"old-in"},
    ReadCase{"mixed types", R"({"Wave":{"WaveDeviceOut":{"a":1},"WaveDeviceIn":"mic"}})", true, u"old-out", u"mic"},
    ReadCase{"Wave not an object", R"({"Wave":"spk"})", true, u"old-out", u"old-in"},
    ReadCase{"Wave an array", R"({"Wave":["WaveDeviceOut","spk"]})", true, u"old-out", u"old-in"},
    ReadCase{"top level array", R"([{"Wave":{"WaveDeviceOut":"spk"}}])", true, u"old-out", u"old-in"},
    ReadCase{"null document", "null", true, u"old-out", u"old-in"},
    ReadCase{"unicode", R"({"Wave":{"WaveDeviceOut":"Lautsprecher \u00e4 \ud83c\udfa4"}})", true,
             u"Lautsprecher \u00e4 \U0001F3A4", u"old-in"}));
// clang-format on

TEST(WaveDeviceSettings, UnencodableNameLeavesTheFormerFileWhole) {
  const std::string folder = test::MakeTempDir("wave");
  const std::string path = folder + "/Voxtrailstudy.ini";
  ASSERT_TRUE(WriteWaveDeviceSettings(u"spk", u"mic", path));
  const std::string before = ReadFile(path);
  const std::u16string loneSurrogate(1, static_cast<char16_t>(0xD800));
  EXPECT_FALSE(WaveDeviceSettingsText(loneSurrogate, u"mic"));
  EXPECT_FALSE(WriteWaveDeviceSettings(loneSurrogate, u"mic", path));
  EXPECT_FALSE(WriteWaveDeviceSettings(u"spk", u"a\xDC00", path));
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"Voxtrailstudy.ini"});
}

TEST(WaveDeviceSettings, WriteIntoAMissingFolderFailsQuietly) {
  const std::string folder = test::MakeTempDir("wave");
  EXPECT_FALSE(WriteWaveDeviceSettings(u"spk", u"mic", folder + "/missing/Voxtrailstudy.ini"));
  EXPECT_FALSE(WriteWaveDeviceSettings(u"spk", u"mic", ""));
}

// --- atomic writes --------------------------------------------------------------------------

TEST(AtomicWrite, ConcurrentWritersNeverLeaveATornFileOrTemporaries) {
  const std::string folder = test::MakeTempDir("atomic");
  const std::string path = folder + "/VoxtrailstudySt1.ini";
  // Two texts of different lengths: a torn or truncated file would match neither.
  const auto textA = *WaveDeviceSettingsText(std::u16string(3000, u'a'), u"mic-a");
  const auto textB = *WaveDeviceSettingsText(u"b", std::u16string(5000, u'b'));
  ASSERT_TRUE(WriteFileAtomically(path, textA));

  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  auto writer = [&](const std::u16string& out, const std::u16string& in) {
    for (int i = 0; i < 150; ++i)
      if (!WriteWaveDeviceSettings(out, in, path)) ++failures;
  };
  std::atomic<int> reads{0}, torn{0};
  std::thread reader([&] {
    while (!stop) {
      const std::string now = ReadFile(path);
      if (now != textA && now != textB) ++torn;
      std::u16string out, in;
      if (!ReadWaveDeviceSettings(out, in, path)) ++torn;
      ++reads;
    }
  });
  std::thread w1(writer, std::u16string(3000, u'a'), u"mic-a");
  std::thread w2(writer, u"b", std::u16string(5000, u'b'));
  w1.join();
  w2.join();
  stop = true;
  reader.join();

  EXPECT_EQ(failures, 0);
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"VoxtrailstudySt1.ini"});
}

TEST(AtomicWrite, ReplacesContentAndKeepsOrdinaryPermissions) {
  const std::string folder = test::MakeTempDir("atomic");
  const std::string path = folder + "/x";
  ASSERT_TRUE(WriteFileAtomically(path, "a much longer first content"));
  ASSERT_TRUE(WriteFileAtomically(path, "short"));
  EXPECT_EQ(ReadFile(path), "short");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

// --- RecorderPaths.json ---------------------------------------------------------------------

TEST(RecorderPaths, MissingOrBrokenFileGivesANullDocumentWrittenAsNull) {
  const std::string folder = test::MakeTempDir("paths");
  const std::string path = folder + "/RecorderPaths.json";
  EXPECT_TRUE(LoadRecorderPaths(path).is_null());
  ASSERT_TRUE(WriteRecorderPaths(LoadRecorderPaths(path), path));
  EXPECT_EQ(ReadFile(path), "null\n");

  for (const std::string& broken :
       {std::string(""), std::string("{\"Main\":"), std::string("\xFF\xFE{}"),
        std::string("{\"Main\":{}}{}"), std::string(100000, '['),
        std::string(70, '[') + std::string(70, ']')}) {
    WriteFile(path, broken);
    EXPECT_TRUE(LoadRecorderPaths(path).is_null()) << broken.substr(0, 20);
  }
  // Nesting that a hand-edited file may reasonably hold still loads.
  WriteFile(path, std::string(20, '[') + std::string(20, ']'));
  EXPECT_TRUE(LoadRecorderPaths(path).is_array());
}

TEST(RecorderPaths, LastOpenPathIsStoredAs1024UnitsAndComesBack) {
  const std::string folder = test::MakeTempDir("paths");
  const std::string path = folder + "/RecorderPaths.json";
  SettingsJson document = LoadRecorderPaths(path);
  const std::u16string chosen = u"/home/u/Übungen/\U0001F3B5 lesson 1.mp3";
  SetLastOpenPath(document, chosen);
  ASSERT_TRUE(WriteRecorderPaths(document, path));

  const SettingsJson written = SettingsJson::parse(ReadFile(path));
  const auto& units = written.at("Main").at("LastOpenPath");
  ASSERT_EQ(units.size(), kLastOpenPathUnits);
  for (std::size_t i = 0; i < kLastOpenPathUnits; ++i) {
    ASSERT_TRUE(units[i].is_number_unsigned());
    EXPECT_EQ(units[i].get<unsigned>(), i < chosen.size() ? chosen[i] : 0u) << i;
  }
  EXPECT_EQ(ReadFile(path).back(), '\n');
  EXPECT_EQ(ReadFile(path), document.dump(4) + "\n");
  EXPECT_EQ(GetLastOpenPath(LoadRecorderPaths(path)), chosen);
}

TEST(RecorderPaths, OverlongPathIsCutSoThatAZeroEndsIt) {
  SettingsJson document;
  SetLastOpenPath(document, std::u16string(2048, u'p'));
  const auto& units = document["Main"]["LastOpenPath"];
  ASSERT_EQ(units.size(), kLastOpenPathUnits);
  EXPECT_EQ(units[1022].get<unsigned>(), unsigned(u'p'));
  EXPECT_EQ(units[1023].get<unsigned>(), 0u);
  EXPECT_EQ(GetLastOpenPath(document), std::u16string(1023, u'p'));
}

TEST(RecorderPaths, OtherMembersKeepTheirPlaceAndWrongShapesAreReplaced) {
  SettingsJson document = SettingsJson::parse(R"({"Zeta":1,"Main":{"Other":true},"Alpha":2})");
  SetLastOpenPath(document, u"/a");
  EXPECT_EQ(document.dump().substr(0, 45), R"({"Zeta":1,"Main":{"Other":true,"LastOpenPath")");
  EXPECT_EQ(document.dump().substr(document.dump().size() - 13), R"(]},"Alpha":2})");
  EXPECT_EQ(GetLastOpenPath(document), u"/a");

  for (const char* shape : {"5", "[1,2]", R"({"Main":"x"})", R"({"Main":[1]})"}) {
    SettingsJson odd = SettingsJson::parse(shape);
    SetLastOpenPath(odd, u"/b");
    EXPECT_EQ(GetLastOpenPath(odd), u"/b") << shape;
  }
}

TEST(RecorderPaths, LastOpenPathOfHandEditedDocuments) {
  struct Case {
    const char* json;
    std::optional<std::u16string> path;
  };
  const Case cases[] = {
      {"null", std::nullopt},
      {"{}", std::nullopt},
      {R"({"Main":5})", std::nullopt},
      {R"({"Main":{"LastOpenPath":"/home/u/x.wav"}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[]}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[0,47]}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[47,"a",0]}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[47,-1,0]}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[47,65536,0]}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[47,97.5,0]}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[47,null]}})", std::nullopt},
      {R"({"Main":{"LastOpenPath":[47,97]}})", u"/a"},
      {R"({"Main":{"LastOpenPath":[47,97,0,"junk after the end"]}})", u"/a"},
      {R"({"Main":{"LastOpenPath":[47,65535,0]}})", u"/\xFFFF"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetLastOpenPath(SettingsJson::parse(c.json)), c.path) << c.json;
}

TEST(RecorderPaths, DocumentThatCannotBeDumpedLeavesTheFileAlone) {
  const std::string path = test::MakeTempDir("paths") + "/RecorderPaths.json";
  ASSERT_TRUE(WriteRecorderPaths(SettingsJson::parse(R"({"Main":{}})"), path));
  const std::string before = ReadFile(path);
  SettingsJson bad = SettingsJson::object();
  bad["Main"] = std::string("\xC3\x28 not utf-8");
  EXPECT_FALSE(WriteRecorderPaths(bad, path));
  EXPECT_EQ(ReadFile(path), before);
}

// --- URLList.txt ----------------------------------------------------------------------------

std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

const std::string kBom = "\xFF\xFE";

struct UrlCase {
  const char* what;
  std::string content;  // "<none>": no file; "<dir>": a folder of that name
  std::optional<std::u16string> text;
};

void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.what; }

class UrlListTable : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlListTable, LoadsAsTheFileSaysOrAsNoList) {
  const UrlCase& c = GetParam();
  const std::string path = test::MakeTempDir("url") + "/URLList.txt";
  if (c.content == "<dir>")
    ::mkdir(path.c_str(), 0755);
  else if (c.content != "<none>")
    WriteFile(path, c.content);
  const auto text = LoadUrlList(path);
  EXPECT_EQ(text.has_value(), c.text.has_value());
  if (text && c.text) {
    EXPECT_EQ(text->size(), c.text->size());
    EXPECT_TRUE(*text == *c.text);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(UrlList, UrlListTable, ::testing::Values(
    UrlCase{"missing", "<none>", std::nullopt},
    UrlCase{"folder", "<dir>", std::nullopt},
    UrlCase{"empty", "", std::nullopt},
    UrlCase{"one byte", "\xFF", std::nullopt},
    UrlCase{"only the mark", kBom, u""},
    UrlCase{"mark and odd byte", kBom + "a", u""},
    UrlCase{"two entries", kBom + Utf16Le(u"News\r\nhttps://example.org/\r\nWiki\r\nhttps://w.example/\r\n"),
            u"News\r\nhttps://example.org/\r\nWiki\r\nhttps://w.example/\r\n"},
    UrlCase{"odd size drops the last byte", kBom + Utf16Le(u"ab") + "c", u"ab"},
    UrlCase{"inner zero unit kept", kBom + Utf16Le(std::u16string(u"a\0b", 3)), std::u16string(u"a\0b", 3)},
    UrlCase{"utf-8 without a mark", "News\r\nhttps://example.org/\r\n", std::nullopt},
    UrlCase{"utf-8 with its mark", "\xEF\xBB\xBFNews\r\n", std::nullopt},
    UrlCase{"big-endian mark", "\xFE\xFF" + std::string("\0a", 2), std::nullopt},
    UrlCase{"exactly 1 MiB", kBom + std::string(0x100000 - 2, 'x'),
            std::u16string((0x100000 - 2) / 2, u'\x7878')},
    UrlCase{"one byte over 1 MiB", kBom + std::string(0x100000 - 1, 'x'), std::nullopt}));
// clang-format on

// A missing list is created as an empty list in the file's own form: the mark alone.
TEST(UrlList, MissingFileIsCreatedAsAnEmptyList) {
  const std::string path = test::MakeTempDir("url") + "/URLList.txt";
  EXPECT_FALSE(LoadUrlList(path));
  ASSERT_TRUE(Exists(path));
  EXPECT_EQ(ReadFile(path), kBom);
  EXPECT_EQ(LoadUrlList(path), u"");
  EXPECT_EQ(ReadFile(path), kBom);
  EXPECT_FALSE(LoadUrlList(path + "-in-missing-folder/x/URLList.txt"));
}

TEST(UrlList, WrittenListHasTheMarkAndReadsBack) {
  const std::string path = test::MakeTempDir("url") + "/URLList.txt";
  WriteFile(path, kBom + Utf16Le(u"an older and much longer list\r\n"));
  const std::u16string text = u"Radio \u00e9t\u00e9\r\nhttps://r.example/\u4e2d\r\n";
  ASSERT_TRUE(WriteUrlList(text, path));
  EXPECT_EQ(ReadFile(path), kBom + Utf16Le(text));
  EXPECT_EQ(LoadUrlList(path), text);
  ASSERT_TRUE(WriteUrlList(u"", path));
  EXPECT_EQ(ReadFile(path), kBom);
  EXPECT_EQ(LoadUrlList(path), u"");
}

// --- a whole start, end and start again ------------------------------------------------------

TEST(DataFolder, EmptyFolderEndStartAgain) {
  const std::string folder = test::MakeTempDir("data");
  const auto devicesCheck = [](std::u16string& name, bool input) {
    const std::u16string listed = input ? u"vts_mic" : u"vts_speaker";
    const std::u16string other = input ? u"usb_mic" : u"usb_speaker";
    if (name != listed && name != other) name = listed;
  };

  // First start on an empty data folder.
  DataFolderSettings settings = LoadDataFolderSettings(folder);
  EXPECT_EQ(settings.pathsFilePath, folder + "/RecorderPaths.json");
  EXPECT_TRUE(settings.pathsDocument.is_null());
  EXPECT_FALSE(settings.urlList);
  EXPECT_EQ(settings.UrlListLength(), 0u);
  auto devices = DecideStartDeviceNames(ParseSwitches({"/Pos:1"}), folder, devicesCheck);
  EXPECT_EQ(devices.outputName, u"vts_speaker");
  EXPECT_EQ(devices.inputName, u"vts_mic");

  // End without having opened a file.
  ASSERT_TRUE(SaveDataFolderSettings(settings, devices.settingsPath, devices.outputName,
                                     devices.inputName));
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"RecorderPaths.json", "URLList.txt",
                                                             "VoxtrailstudySt1.ini"}));
  EXPECT_EQ(ReadFile(folder + "/RecorderPaths.json"), "null\n");
  EXPECT_EQ(ReadFile(folder + "/URLList.txt"), kBom);
  EXPECT_EQ(ReadFile(folder + "/VoxtrailstudySt1.ini"),
            "{\n    \"Wave\": {\n        \"WaveDeviceOut\": \"vts_speaker\",\n"
            "        \"WaveDeviceIn\": \"vts_mic\"\n    }\n}\n");

  // Second start: the user picks other devices, opens a file and keeps a URL list.
  settings = LoadDataFolderSettings(folder);
  devices = DecideStartDeviceNames(ParseSwitches({"/Pos:1"}), folder, devicesCheck);
  EXPECT_EQ(devices.outputName, u"vts_speaker");
  SetLastOpenPath(settings.pathsDocument, u"/home/u/lesson.mp3");
  settings.urlList = u"Name\r\nhttps://x.example/\r\n";
  ASSERT_TRUE(WriteUrlList(*settings.urlList, folder + "/" + kUrlListFileName));
  ASSERT_TRUE(SaveDataFolderSettings(settings, devices.settingsPath, u"usb_speaker", u"usb_mic"));

  // Third start: everything comes back.
  settings = LoadDataFolderSettings(folder);
  EXPECT_EQ(GetLastOpenPath(settings.pathsDocument), u"/home/u/lesson.mp3");
  EXPECT_EQ(settings.urlList, u"Name\r\nhttps://x.example/\r\n");
  EXPECT_EQ(settings.UrlListLength(), 26u);
  devices = DecideStartDeviceNames(ParseSwitches({"/Pos:1"}), folder, devicesCheck);
  EXPECT_EQ(devices.outputName, u"usb_speaker");
  EXPECT_EQ(devices.inputName, u"usb_mic");
  // Another position keeps its own file and so its own devices.
  EXPECT_EQ(DecideStartDeviceNames(ParseSwitches({"/Pos:2"}), folder, devicesCheck).outputName,
            u"vts_speaker");
}

TEST(DataFolder, HandBrokenFilesDoNotStopTheStartOrTheEnd) {
  const std::string folder = test::MakeTempDir("data");
  WriteFile(folder + "/RecorderPaths.json", "{\"Main\":{\"LastOpenPath\":[47,");
  WriteFile(folder + "/URLList.txt", "\xFF");
  WriteFile(folder + "/Voxtrailstudy.ini", "{\"Wave\":{\"WaveDeviceOut\":[],\"WaveDeviceIn\":7}}");
  DataFolderSettings settings = LoadDataFolderSettings(folder);
  EXPECT_TRUE(settings.pathsDocument.is_null());
  EXPECT_FALSE(settings.urlList);
  const auto devices = DecideStartDeviceNames(ParseSwitches({"/_t"}), folder, nullptr);
  EXPECT_TRUE(devices.settingsRead);
  EXPECT_EQ(devices.outputName, std::u16string(1, u'\0'));
  EXPECT_TRUE(SaveDataFolderSettings(settings, devices.settingsPath, u"spk", u"mic"));
  EXPECT_EQ(ReadFile(folder + "/RecorderPaths.json"), "null\n");
}

// --- mutated files --------------------------------------------------------------------------

// Seeded byte mutations of good files: every load ends without a crash and with a sane value.
TEST(SettingsFuzz, MutatedFilesLoadOrAreRefusedWithoutCrashing) {
  const std::string folder = test::MakeTempDir("fuzz");
  const std::string ini = folder + "/Voxtrailstudy.ini";
  const std::string paths = folder + "/RecorderPaths.json";
  const std::string urls = folder + "/URLList.txt";
  SettingsJson document;
  SetLastOpenPath(document, u"/home/u/x.wav");
  const std::string seeds[] = {*WaveDeviceSettingsText(u"vts_speaker", u"vts_mic"),
                               document.dump(4) + "\n",
                               kBom + Utf16Le(u"A\r\nhttps://a.example/\r\n")};
  const char tokens[] =
      "{}[]\":,\\u0 \xFF\xFE\x00\xC3\xED\xA0\x80"
      "0123456789eE.-+nulltruefalse";
  std::mt19937 random(20261209);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = seeds[round % 3];
    const int edits = 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      const std::size_t at = random() % bytes.size();
      switch (random() % 4) {
        case 0:
          bytes[at] = tokens[random() % (sizeof tokens - 1)];
          break;
        case 1:
          bytes.erase(at, 1 + random() % 16);
          break;
        case 2:
          bytes.insert(at, 1 + random() % 4, tokens[random() % (sizeof tokens - 1)]);
          break;
        case 3:
          bytes.resize(at);
          break;
      }
    }
    WriteFile(ini, bytes);
    WriteFile(paths, bytes);
    WriteFile(urls, bytes);
    std::u16string out = u"o", in = u"i";
    ReadWaveDeviceSettings(out, in, ini);
    const SettingsJson loaded = LoadRecorderPaths(paths);
    GetLastOpenPath(loaded);
    EXPECT_TRUE(WriteRecorderPaths(loaded, paths));
    const auto list = LoadUrlList(urls);
    if (list) {
      EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
      EXPECT_EQ(list->size(), (bytes.size() - 2) / 2);
    }
  }
}

}  // namespace
}  // namespace vts
