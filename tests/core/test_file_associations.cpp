// File associations: the exact registry content, the open-with MRU rules, and the desktop files.
#include "core/file_associations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/product_name.h"
#include "platform/registry.h"

using namespace vts;
using plat::Hive;

namespace {

const std::string kOpenWith = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.mp3\\OpenWithList";

std::vector<std::pair<std::string, std::string>> Values(Hive h, const std::string& key, unsigned flags = 0) {
  std::vector<std::pair<std::string, std::string>> out;
  for (auto& v : plat::RegListValues(h, key, flags)) out.emplace_back(v.name, v.data);
  return out;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

TEST(FileAssociations, FreshStoreGetsExactlyTheKeysAndValues) {
  const std::string n = GetProductNameUtf8();
  const std::string e = "/opt/app dir/" + n;
  const std::string d = n + ".Document";
  const std::string c = "\"" + e + "\" \"%1\"";
  const std::string i = "\"" + e + "\", 0";
  RegisterFileTypes(e);

  for (const char* x : {".vxb", ".mp3", ".wav"}) {
    std::string key = std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\") + x + "\\OpenWithList";
    EXPECT_EQ(Values(Hive::HKEY_CURRENT_USER, key), (std::vector<std::pair<std::string, std::string>>{{"a", n + ".exe"}, {"MRUList", "a"}})) << x;
    for (unsigned view : {0u, plat::KEY_WOW64_64KEY}) {
      EXPECT_EQ(plat::RegGetString(Hive::HKEY_CLASSES_ROOT, x, "", view), d);
    }
  }
  EXPECT_EQ(plat::RegGetString(Hive::HKEY_CURRENT_USER, "Software\\Classes\\Applications\\" + n + ".exe\\shell\\open\\command", ""), c);
  for (unsigned view : {0u, plat::KEY_WOW64_64KEY}) {
    EXPECT_EQ(plat::RegGetString(Hive::HKEY_CLASSES_ROOT, d + "\\shell\\open\\command", "", view), c);
    EXPECT_EQ(plat::RegGetString(Hive::HKEY_CLASSES_ROOT, d + "\\DefaultIcon", "", view), i);
  }
  const std::string caps = "Software\\Norvath\\" + n + "\\Capabilities";
  EXPECT_EQ(Values(Hive::HKEY_LOCAL_MACHINE, caps),
            (std::vector<std::pair<std::string, std::string>>{{"ApplicationDescription", n + " language training tool"},
                                                               {"ApplicationName", n}}));
  EXPECT_EQ(Values(Hive::HKEY_LOCAL_MACHINE, caps + "\\FileAssociations"),
            (std::vector<std::pair<std::string, std::string>>{{".mp3", d}, {".wav", d}, {".vxb", d}}));
  EXPECT_EQ(Values(Hive::HKEY_LOCAL_MACHINE, "Software\\RegisteredApplications"),
            (std::vector<std::pair<std::string, std::string>>{{n, caps}}));
  EXPECT_EQ(plat::RegGetString(Hive::HKEY_LOCAL_MACHINE, "Software\\Classes\\" + d + "\\Shell\\open\\command", ""), c);
  EXPECT_EQ(plat::RegGetString(Hive::HKEY_LOCAL_MACHINE, "Software\\Classes\\" + d + "\\DefaultIcon", ""), i);
  EXPECT_TRUE(plat::RegListKeys(Hive::HKEY_LOCAL_MACHINE, plat::KEY_WOW64_64KEY).empty());

  // The registry value sizes are the texts' UTF-16 length with the NUL.
  plat::RegValue v;
  ASSERT_TRUE(plat::RegEnumValue(Hive::HKEY_CURRENT_USER, kOpenWith, 0, &v));
  EXPECT_EQ(v.SizeBytes(), (n.size() + 5) * 2);

  // A second start adds nothing.
  RegisterFileTypes(e);
  EXPECT_EQ(Values(Hive::HKEY_CURRENT_USER, kOpenWith).size(), 2u);
}

TEST(FileAssociations, OpenWithMruRules) {
  const std::string exe = GetProductNameUtf8() + ".exe";
  struct Case {
    std::vector<std::pair<std::string, std::string>> before;
    std::vector<std::pair<std::string, std::string>> after;
  };
  std::string upper = exe;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  std::vector<std::pair<std::string, std::string>> twentyFive;
  std::string mru;
  for (char l = 'a'; l <= 'y'; ++l) {
    twentyFive.emplace_back(std::string(1, l), std::string("app") + l + ".exe");
    mru += l;
  }
  twentyFive.emplace_back("MRUList", mru);
  auto twentyFiveWithUs = twentyFive;
  twentyFiveWithUs[22].second = upper;  // found although it is past the first 20 values
  auto twentyFiveAfter = twentyFive;
  twentyFiveAfter.emplace_back("z", exe);
  twentyFiveAfter[25].second = mru + "z";
  std::vector<std::pair<std::string, std::string>> withZ = {{"z", "last.exe"}, {"MRUList", "z"}};

  Case cases[] = {
      {{}, {{"a", exe}, {"MRUList", "a"}}},
      {{{"a", "other.exe"}, {"b", "x.exe"}, {"MRUList", "BA"}},
       {{"a", "other.exe"}, {"b", "x.exe"}, {"MRUList", "bac"}, {"c", exe}}},
      {{{"a", "other.exe"}, {"q", upper}, {"MRUList", "qa"}}, {{"a", "other.exe"}, {"q", upper}, {"MRUList", "qa"}}},
      {{{"B", "x.exe"}}, {{"B", "x.exe"}, {"c", exe}, {"MRUList", "c"}}},
      {twentyFiveWithUs, twentyFiveWithUs},
      {twentyFive, twentyFiveAfter},
      {withZ, withZ},  // no letter after "z": nothing is added
  };
  int k = 0;
  for (const Case& c : cases) {
    std::string ext = ".t" + std::to_string(k++);
    std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + ext + "\\OpenWithList";
    for (auto& [name, data] : c.before) ASSERT_TRUE(plat::RegSetString(Hive::HKEY_CURRENT_USER, key, name, data));
    RegisterOpenWithMru(ext);
    EXPECT_EQ(Values(Hive::HKEY_CURRENT_USER, key), c.after) << "case " << (k - 1);
  }
}

TEST(FileAssociations, DesktopEntryAndMimeTypeWrittenOnlyWhenChanged) {
  RegisterDesktopIntegration("/opt/my apps/Lector$ine");
  std::string entry = ReadText(DesktopEntryPath());
  EXPECT_NE(entry.find("Exec=\"/opt/my apps/Lector\\\\$ine\" %f\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("MimeType=application/x-"), std::string::npos);
  EXPECT_NE(entry.find("audio/mpeg;"), std::string::npos);
  EXPECT_NE(entry.find("audio/x-wav;"), std::string::npos);
  std::string mime = ReadText(MimePackagePath());
  EXPECT_NE(mime.find("<glob pattern=\"*.vxb\"/>"), std::string::npos);

  struct stat before{}, after{};
  ASSERT_EQ(stat(DesktopEntryPath().c_str(), &before), 0);
  RegisterDesktopIntegration("/opt/my apps/Lector$ine");
  ASSERT_EQ(stat(DesktopEntryPath().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // not replaced
  RegisterDesktopIntegration("/opt/other/Lectorine");
  ASSERT_EQ(stat(DesktopEntryPath().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
}

// Every start registers the file types: a store is written only where a value changed, and
// a first start writes each store file once, not once per value.
TEST(FileAssociations, AStartWritesEachStoreOnceAndAnUnchangedStartWritesNone) {
  const std::string e = "/opt/once/" + GetProductNameUtf8();
  for (Hive h : {Hive::HKEY_CURRENT_USER, Hive::HKEY_CLASSES_ROOT, Hive::HKEY_LOCAL_MACHINE}) {
    for (unsigned view : {0u, plat::KEY_WOW64_64KEY}) std::remove(plat::RegistryFile(h, view).c_str());
  }
  const std::uint64_t before = plat::RegStoreWrites();
  RegisterFileTypes(e);
  const std::uint64_t first = plat::RegStoreWrites() - before;
  // HKEY_CURRENT_USER, both views of HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE.
  EXPECT_GE(first, 1u);
  EXPECT_LE(first, 4u);
  EXPECT_EQ(plat::RegGetString(Hive::HKEY_CLASSES_ROOT, ".wav", ""), GetProductNameUtf8() + ".Document");

  RegisterFileTypes(e);
  EXPECT_EQ(plat::RegStoreWrites() - before - first, 0u) << "a start with nothing changed rewrote the store";

  // A changed program path is written again, still once per store at most.
  RegisterFileTypes("/opt/moved/" + GetProductNameUtf8());
  const std::uint64_t moved = plat::RegStoreWrites() - before - first;
  EXPECT_GE(moved, 1u);
  EXPECT_LE(moved, 4u);
  EXPECT_EQ(plat::RegGetString(Hive::HKEY_CLASSES_ROOT, GetProductNameUtf8() + ".Document\\DefaultIcon", ""),
            "\"/opt/moved/" + GetProductNameUtf8() + "\", 0");
}
