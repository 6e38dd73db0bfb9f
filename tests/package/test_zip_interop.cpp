// Interop: archives we write pass Info-ZIP's and Python's checks; archives Info-ZIP zip and
// Python zipfile write are read by our reader byte-equal to `unzip -p`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "package/package_file.h"
#include "package/zip.h"
#include "platform/utf.h"
#include "test_env.h"
#include "zip_test_util.h"

namespace vts {
namespace {

using test::Bytes;
using test::Q;

std::string ToUtf8(const std::u16string& s) { return vts::plat::Utf16ToUtf8(s); }

// Every entry through our reader: name -> data (folders -> empty, marked by a trailing "/").
std::map<std::string, Bytes> ReadAll(const std::string& zipPath) {
  std::map<std::string, Bytes> out;
  ZipResult err = 0;
  ZipHandle* h = OpenZipReaderFile(zipPath, &err);
  EXPECT_NE(h, nullptr) << "open failed: " << err;
  if (!h) return out;
  ZipEntryInfo count;
  EXPECT_EQ(GetZipEntryInfo(h, -1, count), ZR_OK);
  for (int i = 0; i < count.index; ++i) {
    ZipEntryInfo info;
    EXPECT_EQ(GetZipEntryInfo(h, i, info), ZR_OK) << i;
    const std::string name = ToUtf8(info.name);
    if (info.attributes & kFileAttrDirectory) {
      out[name] = {};
      continue;
    }
    Bytes data;
    const ZipResult rc = ReadZipEntryData(h, i, [&](std::span<const std::uint8_t> p) {
      data.insert(data.end(), p.begin(), p.end());
      return true;
    });
    EXPECT_EQ(rc, ZR_OK) << name;
    EXPECT_EQ(data.size(), info.uncompressedSize) << name;
    out[name] = std::move(data);
  }
  ZipEntryInfo past;
  EXPECT_EQ(GetZipEntryInfo(h, count.index, past), ZR_ARGS);
  EXPECT_EQ(CloseZipReader(h), ZR_OK);
  return out;
}

// Names (files only) from `unzip -Z1`.
// unzip exits with 1 for warnings (such as data in front of the archive) and reads on.
void ExpectUnzipOk(int status, bool warningsAllowed) {
  if (warningsAllowed) {
    EXPECT_LE(status, 1);
    EXPECT_GE(status, 0);
  } else {
    EXPECT_EQ(status, 0);
  }
}

std::vector<std::string> UnzipNames(const std::string& zipPath, bool warningsAllowed) {
  std::string list;
  ExpectUnzipOk(test::Run("unzip -Z1 " + Q(zipPath) + " 2>/dev/null", &list), warningsAllowed);
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t nl = list.find('\n', start);
    if (nl == std::string::npos) nl = list.size();
    if (nl > start) names.push_back(list.substr(start, nl - start));
    start = nl + 1;
  }
  return names;
}

void ExpectEqualToUnzip(const std::string& zipPath, std::size_t expectedEntries,
                        bool warningsAllowed = false) {
  const auto ours = ReadAll(zipPath);
  const auto names = UnzipNames(zipPath, warningsAllowed);
  EXPECT_EQ(ours.size(), expectedEntries);
  EXPECT_EQ(names.size(), expectedEntries);
  for (const std::string& n : names) {
    auto it = ours.find(n);
    ASSERT_NE(it, ours.end()) << n;
    if (!n.empty() && n.back() == '/') continue;
    std::string data;
    ExpectUnzipOk(test::Run("unzip -p " + Q(zipPath) + " " + Q(n) + " 2>/dev/null", &data),
                  warningsAllowed);
    EXPECT_TRUE(it->second == test::ToBytes(data))
        << n << ": " << it->second.size() << " vs " << data.size();
  }
}

struct InteropFixture : ::testing::Test {
  std::string dir = test::MakeTempDir("zipio");
  Bytes text = test::TextBytes(200000, 11);
  Bytes noise = test::RandomBytes(300000, 12);
  void SetUp() override {
    ASSERT_EQ(test::Run("command -v zip unzip python3 >/dev/null"), 0)
        << "zip, unzip and python3 are needed";
    ASSERT_EQ(mkdir((dir + "/src").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/src/sub").c_str(), 0755), 0);
    test::WriteBytes(dir + "/src/talk.txt", text);
    test::WriteBytes(dir + "/src/talk.mpa", noise);
    test::WriteBytes(dir + "/src/sub/empty.cif", {});
    test::WriteBytes(dir + "/src/sub/one.bin", {0x42});
  }
};

TEST_F(InteropFixture, OurArchivePassesUnzipAndPython) {
  const std::string zip = dir + "/ours.vxb";
  const Bytes cif = {0, 0, 0, 0, 0xE8, 3, 0, 0, 0xE8, 3, 0, 0, 0xF4, 1, 0, 0};
  ZipHandle* h = CreateZipWriter(zip);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(AddZipEntry(h, u"talk.txt", ZipSource::FromMemory(text.data(), text.size())), ZR_OK);
  ASSERT_EQ(AddZipEntry(h, u"talk.mpa", ZipSource::FromFile(dir + "/src/talk.mpa")), ZR_OK);
  ASSERT_EQ(AddZipEntry(h, u"talk.cif", ZipSource::FromMemory(cif.data(), cif.size())), ZR_OK);
  ASSERT_EQ(AddZipEntry(h, u"sub", ZipSource::Folder()), ZR_OK);
  ASSERT_EQ(AddZipEntry(h, u"sub\\empty.cif", ZipSource::FromFile(dir + "/src/sub/empty.cif")),
            ZR_OK);
  ASSERT_EQ(AddZipEntry(h, u"sub/inner.zip", ZipSource::FromFile(dir + "/src/talk.mpa")), ZR_OK);
  ASSERT_EQ(AddZipEntry(h, u"le\u00e7on.txt", ZipSource::FromMemory("x", 1)), ZR_OK);
  ASSERT_EQ(CloseZipWriter(h), ZR_OK);

  std::string out;
  EXPECT_EQ(test::Run("unzip -t " + Q(zip) + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
  EXPECT_EQ(out.find("warning"), std::string::npos) << out;

  const std::string py =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "bad = z.testzip()\n"
      "assert bad is None, bad\n"
      "names = [i.filename for i in z.infolist()]\n"
      "assert names == ['talk.txt', 'talk.mpa', 'talk.cif', 'sub/', 'sub/empty.cif', "
      "'sub/inner.zip', 'le\\xe7on.txt'], names\n"
      "# the UTF-8 flag on the one name that is not plain ASCII\n"
      "flags = [i.flag_bits & 0x800 for i in z.infolist()]\n"
      "assert flags == [0, 0, 0, 0, 0, 0, 0x800], flags\n"
      "assert z.read('talk.mpa') == open(sys.argv[2] + '/talk.mpa', 'rb').read()\n"
      "assert z.read('talk.txt') == open(sys.argv[2] + '/talk.txt', 'rb').read()\n"
      "assert z.getinfo('sub/').is_dir()\n"
      "assert z.getinfo('sub/inner.zip').compress_type == zipfile.ZIP_STORED\n"
      "print('ok')\n";
  test::WriteBytes(dir + "/check.py", test::ToBytes(py));
  out.clear();
  EXPECT_EQ(
      test::Run("python3 " + Q(dir + "/check.py") + " " + Q(zip) + " " + Q(dir + "/src") + " 2>&1",
                &out),
      0)
      << out;
  ExpectEqualToUnzip(zip, 7);
}

// A lesson saved under a name in another script: other tools list its entries by that name.
TEST_F(InteropFixture, ANonAsciiPackageListsItsNamesElsewhere) {
  const std::string mpa = dir + "/src/lesson.mpa";
  test::WriteBytes(mpa, noise);
  const Bytes texts = {0xFF, 0xFE, 'a', 0, '\r', 0, '\n', 0};
  const Bytes cif = {0, 0, 0, 0, 0xE8, 3, 0, 0};
  const std::string title = "\xD1\x83\xD1\x80\xD0\xBE\xD0\xBA";  // "урок"
  const std::string zip = dir + "/" + title + ".vxb";
  std::string error;
  ASSERT_TRUE(WritePackage(zip, PackageParts{title, true, texts, mpa, cif, {}}, &error)) << error;
  const std::vector<std::string> names = {title + ".txt", title + ".mpa", title + ".cif"};

  std::string out;
  ASSERT_EQ(test::Run("python3 -c " +
                          Q("import sys, zipfile\n"
                            "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename)") +
                          " " + Q(zip) + " 2>&1",
                      &out),
            0)
      << out;
  EXPECT_EQ(out, names[0] + "\n" + names[1] + "\n" + names[2] + "\n");
  out.clear();
  EXPECT_EQ(test::Run("LC_ALL=C.UTF-8 unzip -Z1 " + Q(zip), &out), 0);
  EXPECT_EQ(out, names[0] + "\n" + names[1] + "\n" + names[2] + "\n");
  const auto ours = ReadAll(zip);
  ASSERT_EQ(ours.size(), 3u);
  for (const std::string& n : names) EXPECT_EQ(ours.count(n), 1u) << n;
}

TEST_F(InteropFixture, ReadsInfoZipArchives) {
  const std::string src = Q(dir + "/src");
  struct Case {
    const char* name;
    std::string command;  // run in src, writes the archive to $OUT
    std::size_t entries;
  };
  const Case cases[] = {
      {"deflated", "zip -q -8 -r \"$OUT\" .", 5},
      {"stored", "zip -q -0 -r \"$OUT\" .", 5},
      {"no folders", "zip -q -D -r \"$OUT\" .", 4},
      {"with comment", "zip -q -r \"$OUT\" . && echo 'a lesson comment' | zip -q -z \"$OUT\"", 5},
      // Written to a pipe, zip cannot seek back: local headers carry data descriptors.
      {"data descriptors", "zip -q -fz- -r - . | cat > \"$OUT\"", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string zip = dir + "/infozip.zip";
    unlink(zip.c_str());
    ASSERT_EQ(test::Run("cd " + src + " && OUT=" + Q(zip) + " && " + c.command), 0);
    ExpectEqualToUnzip(zip, c.entries);
  }
  // The data-descriptor case really has them.
  const std::string zip = dir + "/dd.zip";
  ASSERT_EQ(test::Run("cd " + src + " && zip -q -fz- - talk.txt | cat > " + Q(zip)), 0);
  const Bytes b = test::ReadBytes(zip);
  EXPECT_NE(test::Le16(b, 6) & 8, 0);
}

TEST_F(InteropFixture, ReadsPythonArchives) {
  const std::string py =
      "import sys, zipfile, io\n"
      "src, out, mode = sys.argv[1], sys.argv[2], sys.argv[3]\n"
      "def fill(z):\n"
      "    z.write(src + '/talk.txt', 'talk.txt')\n"
      "    z.write(src + '/talk.mpa', 'talk.mpa', compress_type=zipfile.ZIP_STORED)\n"
      "    z.writestr('sub/', b'')\n"
      "    z.writestr('sub/one.bin', b'B')\n"
      "    z.writestr('big.cif', bytes(range(256)) * 4000)\n"
      "if mode == 'stream':\n"
      "    class Sink(io.RawIOBase):\n"
      "        def __init__(s, f): s.f = f\n"
      "        def writable(s): return True\n"
      "        def write(s, b): return s.f.write(b)\n"
      "        def seekable(s): return False\n"
      "    with open(out, 'wb') as f:\n"
      "        with zipfile.ZipFile(Sink(f), 'w', zipfile.ZIP_DEFLATED, compresslevel=8) as z: "
      "fill(z)\n"
      "else:\n"
      "    with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z: fill(z)\n"
      "if mode == 'prefixed':\n"
      "    data = open(out, 'rb').read()\n"
      "    open(out, 'wb').write(b'#!/bin/sh\\nexit 0\\n' * 6 + data)\n";
  test::WriteBytes(dir + "/make.py", test::ToBytes(py));
  for (const char* mode : {"plain", "stream", "prefixed"}) {
    SCOPED_TRACE(mode);
    const std::string zip = dir + "/py-" + mode + ".zip";
    std::string out;
    ASSERT_EQ(test::Run("python3 " + Q(dir + "/make.py") + " " + Q(dir + "/src") + " " + Q(zip) +
                            " " + mode + " 2>&1",
                        &out),
              0)
        << out;
    ExpectEqualToUnzip(zip, 5, std::string(mode) == "prefixed");
  }
}

// Extraction to disk: folders of folder entries and of relative targets are made below the
// base folder (the current directory at opening); the data lands intact.
TEST_F(InteropFixture, ExtractsInfoZipArchiveToDisk) {
  const std::string zip = dir + "/x.zip";
  ASSERT_EQ(test::Run("cd " + Q(dir + "/src") + " && zip -q -r " + Q(zip) + " ."), 0);
  const std::string base = dir + "/base";
  ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
  char oldCwd[4096];
  ASSERT_NE(getcwd(oldCwd, sizeof oldCwd), nullptr);
  ASSERT_EQ(chdir(base.c_str()), 0);
  ZipHandle* h = OpenZipReaderFile(zip);
  ASSERT_EQ(chdir(oldCwd), 0);
  ASSERT_NE(h, nullptr);
  ZipEntryInfo count;
  ASSERT_EQ(GetZipEntryInfo(h, -1, count), ZR_OK);
  int files = 0;
  for (int i = 0; i < count.index; ++i) {
    ZipEntryInfo info;
    ASSERT_EQ(GetZipEntryInfo(h, i, info), ZR_OK);
    const std::string name = ToUtf8(info.name);
    if (info.attributes & kFileAttrDirectory) {
      EXPECT_EQ(ExtractZipEntry(h, i, "ignored"), ZR_OK);
      struct stat st {};
      EXPECT_EQ(stat((base + "/" + name).c_str(), &st), 0) << name;
      continue;
    }
    EXPECT_EQ(ExtractZipEntry(h, i, "out/" + name), ZR_OK) << name;
    EXPECT_EQ(test::ReadBytes(base + "/out/" + name), test::ReadBytes(dir + "/src/" + name))
        << name;
    ++files;
  }
  EXPECT_EQ(files, 4);
  EXPECT_EQ(CloseZipReader(h), ZR_OK);
}

}  // namespace
}  // namespace vts
