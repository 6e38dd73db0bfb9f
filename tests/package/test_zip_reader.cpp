// ZIP reader: entry information, extraction, and bad input of every kind (truncated and
// bit-flipped archives, traversal names, bombs, damaged headers and extra fields).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "package/zip.h"
#include "test_env.h"
#include "zip_test_util.h"

namespace vts {
namespace {

using test::Bytes;
using test::Le16;
using test::Le32;

struct Entry {
  std::string name;
  Bytes data;
  bool folder = false;
};

Bytes MakeArchive(const std::string& path, const std::vector<Entry>& entries) {
  ZipHandle* h = CreateZipWriter(path);
  EXPECT_NE(h, nullptr);
  for (const Entry& e : entries) {
    const ZipSource src =
        e.folder ? ZipSource::Folder() : ZipSource::FromMemory(e.data.data(), e.data.size());
    EXPECT_EQ(AddZipEntryInternal(h->writer, e.name, src), ZR_OK) << e.name;
  }
  EXPECT_EQ(CloseZipWriter(h), ZR_OK);
  return test::ReadBytes(path);
}

// Opens the bytes through a file; null with *err when refused.
struct Opened {
  ZipHandle* h = nullptr;
  ZipResult err = 0;
  ~Opened() {
    if (h) CloseZipReader(h);
  }
};

void OpenBytes(Opened& o, const std::string& path, const Bytes& b) {
  test::WriteBytes(path, b);
  o.h = OpenZipReaderFile(path, &o.err);
}

ZipResult ReadData(ZipHandle* h, int i, Bytes& out) {
  out.clear();
  return ReadZipEntryData(h, i, [&](std::span<const std::uint8_t> p) {
    out.insert(out.end(), p.begin(), p.end());
    return true;
  });
}

struct ReaderFixture : ::testing::Test {
  std::string dir = test::MakeTempDir("zipr");
  std::vector<Entry> package = {
      {"a.txt", test::TextBytes(3000, 1)},
      {"a.mpa", test::RandomBytes(5000, 2)},
      {"a.cif", {0, 0, 0, 0, 0xE8, 3, 0, 0}},
  };
};

TEST_F(ReaderFixture, PackageEntriesByIndex) {
  const Bytes zip = MakeArchive(dir + "/p.vxb", package);
  Opened o;
  OpenBytes(o, dir + "/p.vxb", zip);
  ASSERT_NE(o.h, nullptr);
  ZipEntryInfo info;
  ASSERT_EQ(GetZipEntryInfo(o.h, -1, info), ZR_OK);
  EXPECT_EQ(info.index, 3);
  // Walk forwards, backwards (restarts at the first entry) and repeat (cached).
  for (int i : {0, 1, 2, 1, 0, 2, 2}) {
    ASSERT_EQ(GetZipEntryInfo(o.h, i, info), ZR_OK);
    EXPECT_EQ(info.index, i);
    EXPECT_EQ(info.name, std::u16string(package[i].name.begin(), package[i].name.end()));
    EXPECT_EQ(info.uncompressedSize, package[i].data.size());
    // Memory entries: no owner-write bit, so read-only.
    EXPECT_EQ(info.attributes, kFileAttrNormal | kFileAttrReadOnly);
    Bytes data;
    EXPECT_EQ(ReadData(o.h, i, data), ZR_OK);
    EXPECT_EQ(data, package[i].data);
  }
  EXPECT_EQ(GetZipEntryInfo(o.h, 3, info), ZR_ARGS);
  EXPECT_EQ(GetZipEntryInfo(o.h, -2, info), ZR_ARGS);
  EXPECT_EQ(GetZipReaderLastError(), ZR_ARGS);
  EXPECT_EQ(GetZipEntryInfo(nullptr, 0, info), ZR_ARGS);
  ZipHandle* w = CreateZipWriter(dir + "/w.zip");
  EXPECT_EQ(GetZipEntryInfo(w, 0, info), ZR_WRONG_KIND);
  EXPECT_EQ(CloseZipReader(w), ZR_WRONG_KIND);
  CloseZipWriter(w);
}

TEST_F(ReaderFixture, ExtractsReadOnlyMemoryEntryAndTimes) {
  const Bytes zip = MakeArchive(dir + "/p.vxb", package);
  Opened o;
  OpenBytes(o, dir + "/p.vxb", zip);
  ASSERT_NE(o.h, nullptr);
  const std::string target = dir + "/out.mpa";
  ASSERT_EQ(ExtractZipEntry(o.h, 1, target), ZR_OK);
  EXPECT_EQ(test::ReadBytes(target), package[1].data);
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  ZipEntryInfo info;
  ASSERT_EQ(GetZipEntryInfo(o.h, 1, info), ZR_OK);
  EXPECT_EQ(st.st_mtime, info.modificationTime);
  EXPECT_LT(std::llabs(info.modificationTime - static_cast<long long>(time(nullptr))), 3600 + 60);
}

TEST_F(ReaderFixture, RelativeAndAbsoluteTargets) {
  const Bytes zip = MakeArchive(dir + "/p.vxb", package);
  const std::string base = dir + "/base";
  ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(base.c_str()), 0);
  Opened o;
  OpenBytes(o, dir + "/p.vxb", zip);
  ASSERT_EQ(chdir(old), 0);
  ASSERT_NE(o.h, nullptr);
  EXPECT_EQ(ExtractZipEntry(o.h, 0, "sub/x.bin"), ZR_OK);
  EXPECT_EQ(test::ReadBytes(base + "/sub/x.bin"), package[0].data);
  // An absolute target in a missing folder: no folder is made, the file cannot be created.
  EXPECT_EQ(ExtractZipEntry(o.h, 0, dir + "/missing/x.bin"), ZR_NOFILE);
  struct stat st {};
  EXPECT_NE(stat((dir + "/missing").c_str(), &st), 0);
  // A relative target with ".." parts gets no folders either.
  EXPECT_EQ(ExtractZipEntry(o.h, 0, "../escape/x.bin"), ZR_NOFILE);
  EXPECT_NE(stat((dir + "/escape").c_str(), &st), 0);
}

TEST_F(ReaderFixture, PrependedDataShiftsEveryOffset) {
  Bytes zip = MakeArchive(dir + "/p.vxb", package);
  Bytes prefixed = test::RandomBytes(100, 9);
  prefixed.insert(prefixed.end(), zip.begin(), zip.end());
  Opened o;
  OpenBytes(o, dir + "/q.vxb", prefixed);
  ASSERT_NE(o.h, nullptr);
  for (int i = 0; i < 3; ++i) {
    Bytes data;
    EXPECT_EQ(ReadData(o.h, i, data), ZR_OK);
    EXPECT_EQ(data, package[i].data);
  }
}

TEST_F(ReaderFixture, OpeningRefusesWhatIsNoArchive) {
  const Bytes empty = MakeArchive(dir + "/e.zip", {});
  Bytes badDisk = MakeArchive(dir + "/d.zip", package);
  const auto l = test::ParseLayout(badDisk);
  test::SetLe16(badDisk, l.end + 4, 1);
  Bytes badCount = MakeArchive(dir + "/c.zip", package);
  test::SetLe16(badCount, l.end + 8, 2);
  Bytes badOffset = MakeArchive(dir + "/o.zip", package);
  test::SetLe32(badOffset, l.end + 16, static_cast<std::uint32_t>(l.end + 10));
  Bytes badCentral = MakeArchive(dir + "/b.zip", package);
  badCentral[l.central[0]] = 'X';
  struct Case {
    const char* what;
    Bytes bytes;
    ZipResult expected;
  };
  const Case cases[] = {
      {"nothing", {}, ZR_NO_END_RECORD},
      {"four bytes", {0x50, 0x4B, 0x05, 0x06}, ZR_NO_END_RECORD},
      {"empty archive at offset 0", empty, ZR_NO_END_RECORD},
      {"random", test::RandomBytes(70000, 3), ZR_NO_END_RECORD},
      {"second disk", badDisk, ZR_NOT_ZIP},
      {"counts differ", badCount, ZR_NOT_ZIP},
      {"directory past end record", badOffset, ZR_NOT_ZIP},
      {"no central signature", badCentral, ZR_NOT_ZIP},
  };
  for (const Case& c : cases) {
    Opened o;
    OpenBytes(o, dir + "/x.zip", c.bytes);
    EXPECT_EQ(o.h, nullptr) << c.what;
    EXPECT_EQ(o.err, c.expected) << c.what;
  }
  Opened missing;
  missing.h = OpenZipReaderFile(dir + "/none.zip", &missing.err);
  EXPECT_EQ(missing.err, ZR_NOFILE);
}

// Every prefix and every single-byte corruption: never a crash, and data is handed out as
// verified only when it is exactly what was stored.
TEST_F(ReaderFixture, TruncatedAndBitFlippedArchives) {
  const std::vector<Entry> small = {{"a.txt", test::TextBytes(300, 4)},
                                    {"b.zip", test::RandomBytes(200, 5)},
                                    {"c.cif", {1, 2, 3, 4, 5, 6, 7, 8}}};
  const Bytes zip = MakeArchive(dir + "/s.zip", small);
  // Damage may turn an entry into a folder entry, whose folders go below the current folder.
  const std::string base = dir + "/base";
  ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(base.c_str()), 0);
  auto check = [&](const Bytes& bytes, const std::string& what) {
    Opened o;
    OpenBytes(o, dir + "/m.zip", bytes);
    if (!o.h) return;
    ZipEntryInfo count;
    ASSERT_EQ(GetZipEntryInfo(o.h, -1, count), ZR_OK);
    for (int i = 0; i < count.index && i < 3; ++i) {
      Bytes data;
      if (ReadData(o.h, i, data) == ZR_OK) {
        EXPECT_EQ(data, small[i].data) << what << " entry " << i;
      }
      const std::string target = dir + "/t.bin";
      ZipEntryInfo info;
      const bool folder = GetZipEntryInfo(o.h, i, info) == ZR_OK &&
                          (info.attributes & kFileAttrDirectory ||
                           (!info.name.empty() && info.name.back() == u'/'));
      if (ExtractZipEntry(o.h, i, target) == ZR_OK) {
        if (folder) continue;
        EXPECT_EQ(test::ReadBytes(target), small[i].data) << what << " entry " << i;
      } else {
        struct stat st {};
        EXPECT_NE(stat(target.c_str(), &st), 0) << what << ": partial file left";
      }
      unlink(target.c_str());
    }
  };
  for (std::size_t n = 0; n < zip.size(); ++n) {
    check(Bytes(zip.begin(), zip.begin() + n), "prefix " + std::to_string(n));
  }
  for (std::size_t at = 0; at < zip.size(); ++at) {
    for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
      Bytes b = zip;
      b[at] ^= mask;
      check(b, "flip at " + std::to_string(at));
    }
  }
  ASSERT_EQ(chdir(old), 0);
}

TEST_F(ReaderFixture, DamagedEntriesAreRefused) {
  const Bytes zip = MakeArchive(
      dir + "/p.zip", {{"s.zip", test::TextBytes(4000, 6)}, {"d.txt", test::TextBytes(4000, 7)}});
  const auto l = test::ParseLayout(zip);
  auto dataOf = [&](int i) { return l.local[i] + 30 + Le16(zip, l.local[i] + 26) + 17; };
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    int entry;
    ZipResult infoResult;
    ZipResult readResult;
  };
  const Case cases[] = {
      {"local method differs", [&](Bytes& b) { test::SetLe16(b, l.local[1] + 8, 0); }, 1,
       ZR_CORRUPT, ZR_CORRUPT},
      {"unknown method",
       [&](Bytes& b) {
         test::SetLe16(b, l.local[1] + 8, 12);
         test::SetLe16(b, l.central[1] + 10, 12);
       },
       1, ZR_CORRUPT, ZR_CORRUPT},
      {"local CRC differs", [&](Bytes& b) { b[l.local[0] + 14] ^= 1; }, 0, ZR_CORRUPT, ZR_CORRUPT},
      {"local name length differs", [&](Bytes& b) { test::SetLe16(b, l.local[0] + 26, 4); }, 0,
       ZR_CORRUPT, ZR_CORRUPT},
      {"no local signature", [&](Bytes& b) { b[l.local[1]] = 0; }, 1, ZR_CORRUPT, ZR_CORRUPT},
      {"stored data damaged", [&](Bytes& b) { b[dataOf(0) + 100] ^= 0x20; }, 0, ZR_OK, ZR_CORRUPT},
      {"deflated data damaged", [&](Bytes& b) { b[dataOf(1) + 20] ^= 0x55; }, 1, ZR_OK, -2},
      {"central CRC wrong",
       [&](Bytes& b) {
         b[l.central[1] + 16] ^= 1;
         b[l.local[1] + 14] ^= 1;
       },
       1, ZR_OK, ZR_CORRUPT},
      {"stored sizes disagree",
       [&](Bytes& b) {
         test::SetLe32(b, l.central[0] + 24, 3999);
         test::SetLe32(b, l.local[0] + 22, 3999);
       },
       0, ZR_OK, ZR_CORRUPT},
      {"compressed size past the end",
       [&](Bytes& b) {
         test::SetLe32(b, l.central[1] + 20, 0x7FFFFFFF);
         test::SetLe32(b, l.local[1] + 18, 0x7FFFFFFF);
       },
       1, ZR_CORRUPT, ZR_CORRUPT},
      {"encrypted flag",
       [&](Bytes& b) {
         b[l.central[1] + 8] |= 1;
         b[l.local[1] + 6] |= 1;
       },
       1, ZR_OK, ZR_CORRUPT},
      {"local header offset past the end",
       [&](Bytes& b) { test::SetLe32(b, l.central[1] + 42, 0xFFFFFF00); }, 1, ZR_CORRUPT,
       ZR_CORRUPT},
      {"name length runs out of the directory",
       [&](Bytes& b) { test::SetLe16(b, l.central[1] + 28, 0xFFFF); }, 1, ZR_CORRUPT, ZR_CORRUPT},
  };
  for (const Case& c : cases) {
    Bytes b = zip;
    c.damage(b);
    Opened o;
    OpenBytes(o, dir + "/x.zip", b);
    ASSERT_NE(o.h, nullptr) << c.what;
    ZipEntryInfo info;
    EXPECT_EQ(GetZipEntryInfo(o.h, c.entry, info), c.infoResult) << c.what;
    Bytes data;
    const ZipResult rc = ReadData(o.h, c.entry, data);
    if (c.readResult == -2) {
      EXPECT_NE(rc, ZR_OK) << c.what;
    } else {
      EXPECT_EQ(rc, c.readResult) << c.what;
    }
    const std::string target = dir + "/damaged.bin";
    EXPECT_NE(ExtractZipEntry(o.h, c.entry, target), ZR_OK) << c.what;
    struct stat st {};
    EXPECT_NE(stat(target.c_str(), &st), 0) << c.what << ": damaged file left behind";
    // The other entry still reads.
    const int other = 1 - c.entry;
    if (c.infoResult == ZR_OK || other < c.entry) {
      EXPECT_EQ(ReadData(o.h, other, data), ZR_OK) << c.what;
    }
  }
}

// A deflated entry that inflates to far more than it declares: inflation stops at the
// declared size and the entry is refused.
TEST_F(ReaderFixture, BombIsBoundedByDeclaredSize) {
  const Bytes zeros(20 * 1024 * 1024, 0);
  Bytes zip = MakeArchive(dir + "/bomb.zip", {{"bomb.txt", zeros}});
  ASSERT_LT(zip.size(), 100000u);
  const auto l = test::ParseLayout(zip);
  test::SetLe32(zip, l.central[0] + 24, 1000);
  test::SetLe32(zip, l.local[0] + 22, 1000);
  Opened o;
  OpenBytes(o, dir + "/bomb.zip", zip);
  ASSERT_NE(o.h, nullptr);
  std::size_t handedOut = 0;
  EXPECT_EQ(ReadZipEntryData(o.h, 0,
                             [&](std::span<const std::uint8_t> p) {
                               handedOut += p.size();
                               return true;
                             }),
            ZR_CORRUPT);
  EXPECT_LE(handedOut, 1000u);
  EXPECT_EQ(ExtractZipEntry(o.h, 0, dir + "/bomb.out"), ZR_CORRUPT);
  struct stat st {};
  EXPECT_NE(stat((dir + "/bomb.out").c_str(), &st), 0);

  // Declared larger than the data: a size mismatch, not success.
  Bytes zip2 = MakeArchive(dir + "/short.zip", {{"s.txt", test::TextBytes(5000, 1)}});
  const auto l2 = test::ParseLayout(zip2);
  test::SetLe32(zip2, l2.central[0] + 24, 6000);
  test::SetLe32(zip2, l2.local[0] + 22, 6000);
  Opened o2;
  OpenBytes(o2, dir + "/short.zip", zip2);
  Bytes data;
  EXPECT_EQ(ReadData(o2.h, 0, data), ZR_CORRUPT);
}

TEST_F(ReaderFixture, TraversalNamesCreateNothingOutside) {
  const std::string base = dir + "/base";
  ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
  struct Case {
    std::string name;
    bool folder;
    bool safe;
  };
  const Case cases[] = {
      {"../evil.txt", false, false},   {"a/../../evil.txt", false, false},
      {"/abs/evil.txt", false, false}, {"..\\evil.txt", false, false},
      {"C:evil.txt", false, false},    {"../up/", true, false},
      {"in/../../up2/", true, false},  {"sub\\..\\..\\up3", true, false},
      {"/rooted/", true, false},       {"ok/../fine.txt", false, false},
      {"a..b.txt", false, true},       {"...", false, true},
      {"dir/./inner/", true, true},    {"deep/er/", true, true},
  };
  std::vector<Entry> entries;
  for (const Case& c : cases) entries.push_back({c.name, test::ToBytes("x"), c.folder});
  const Bytes zip = MakeArchive(dir + "/t.zip", entries);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(base.c_str()), 0);
  Opened o;
  OpenBytes(o, dir + "/t.zip", zip);
  ASSERT_EQ(chdir(old), 0);
  ASSERT_NE(o.h, nullptr);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::string stored = c.name;
    for (char& ch : stored) ch = ch == '\\' ? '/' : ch;
    EXPECT_EQ(IsSafeZipEntryName(c.name), c.safe) << c.name;
    ZipEntryInfo info;
    EXPECT_EQ(GetZipEntryInfo(o.h, static_cast<int>(i), info), ZR_OK) << c.name;
    const ZipResult rc = ExtractZipEntry(o.h, static_cast<int>(i), base + "/target.bin");
    EXPECT_EQ(rc, c.safe ? ZR_OK : ZR_UNSAFE_NAME) << c.name;
  }
  // Nothing beside the base folder but what the test made.
  std::string listing;
  test::Run("ls -A " + test::Q(dir), &listing);
  EXPECT_EQ(listing, "base\nt.zip\n");
  struct stat st {};
  EXPECT_EQ(stat((base + "/dir/inner").c_str(), &st), 0);
  EXPECT_EQ(stat((base + "/deep/er").c_str(), &st), 0);
  EXPECT_NE(stat("/abs", &st), 0);
  EXPECT_NE(stat("/rooted", &st), 0);
}

TEST_F(ReaderFixture, ExtendedTimestampFieldIsBoundsChecked) {
  Bytes zip = MakeArchive(dir + "/ut.zip", {{"a.txt", test::ToBytes("abc")}});
  const auto l = test::ParseLayout(zip);
  const std::size_t ut = l.local[0] + 30 + 5;  // "UT", size, flags, 3 times
  ASSERT_EQ(zip[ut], 'U');
  Opened ref;
  OpenBytes(ref, dir + "/ref.zip", zip);
  ZipEntryInfo refInfo;
  ASSERT_EQ(GetZipEntryInfo(ref.h, 0, refInfo), ZR_OK);
  const std::int64_t dosTime = [&] {
    Bytes noUt = zip;
    noUt[ut] = 'X';  // another id: the walk skips it
    Opened o;
    OpenBytes(o, dir + "/noUt.zip", noUt);
    ZipEntryInfo i;
    EXPECT_EQ(GetZipEntryInfo(o.h, 0, i), ZR_OK);
    EXPECT_EQ(i.accessTime, i.modificationTime);
    return i.modificationTime;
  }();
  const std::int64_t mtime = Le32(zip, ut + 5);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> patch;
    std::int64_t modification, access, creation;
  };
  const Case cases[] = {
      {"all three", [](Bytes&) {}, mtime, mtime, mtime},
      {"flags 1, one time",
       [&](Bytes& b) {
         b[ut + 4] = 1;
         test::SetLe16(b, ut + 2, 5);
         b[ut + 9] = 'Z';  // the rest of the 17 bytes becomes a 4-byte sub-field stub
         b[ut + 10] = 'Z';
         test::SetLe16(b, ut + 11, 4);
       },
       mtime, dosTime, dosTime},
      {"size larger than the extra data", [&](Bytes& b) { test::SetLe16(b, ut + 2, 200); }, dosTime,
       dosTime, dosTime},
      {"flags promise more than the size holds",
       [&](Bytes& b) {
         b[ut + 4] = 7;
         test::SetLe16(b, ut + 2, 5);
         b[ut + 9] = 'Z';
         b[ut + 10] = 'Z';
         test::SetLe16(b, ut + 11, 4);
       },
       mtime, dosTime, dosTime},
      {"empty UT",
       [&](Bytes& b) {
         test::SetLe16(b, ut + 2, 0);
         b[ut + 4] = 'Z';
         b[ut + 5] = 'Z';
         test::SetLe16(b, ut + 6, 9);
       },
       dosTime, dosTime, dosTime},
  };
  for (const Case& c : cases) {
    Bytes b = zip;
    c.patch(b);
    Opened o;
    OpenBytes(o, dir + "/p.zip", b);
    ASSERT_NE(o.h, nullptr) << c.what;
    ZipEntryInfo info;
    ASSERT_EQ(GetZipEntryInfo(o.h, 0, info), ZR_OK) << c.what;
    EXPECT_EQ(info.modificationTime, c.modification) << c.what;
    EXPECT_EQ(info.accessTime, c.access) << c.what;
    EXPECT_EQ(info.creationTime, c.creation) << c.what;
    Bytes data;
    EXPECT_EQ(ReadData(o.h, 0, data), ZR_OK) << c.what;
  }
}

// Names are UTF-8 with the UTF-8 flag, and without it too: our own packages carried UTF-8
// names without the flag before, and Unix tools write them so. Bytes that are no UTF-8 show
// as replacement characters, flag or not.
TEST_F(ReaderFixture, NamesReadAsUtf8WithAndWithoutTheUtf8Flag) {
  struct Case {
    const char* what;
    std::string name;
    bool flag;
    std::u16string read;
  };
  const Case cases[] = {
      {"ascii", "a.mpa", false, u"a.mpa"},
      {"flagged", "\xD1\x83\xD1\x80\xD0\xBE\xD0\xBA.mpa", true, u"\u0443\u0440\u043e\u043a.mpa"},
      {"older package", "\xD1\x83\xD1\x80\xD0\xBE\xD0\xBA.mpa", false,
       u"\u0443\u0440\u043e\u043a.mpa"},
      {"flagged, no UTF-8", "x\x87.mpa", true, u"x\uFFFD.mpa"},
      {"no UTF-8", "x\x87.mpa", false, u"x\uFFFD.mpa"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes data = test::ToBytes("sound");
    Bytes zip = MakeArchive(dir + "/u.zip", {{c.name, data}});
    // The flag as the case has it, in both headers.
    const auto l = test::ParseLayout(zip);
    for (std::size_t at : {l.local[0] + 6, l.central[0] + 8}) {
      test::SetLe16(zip, at,
                    static_cast<std::uint16_t>((Le16(zip, at) & ~0x800) | (c.flag ? 0x800 : 0)));
    }
    Opened o;
    OpenBytes(o, dir + "/u.zip", zip);
    ASSERT_NE(o.h, nullptr);
    ZipEntryInfo info;
    ASSERT_EQ(GetZipEntryInfo(o.h, 0, info), ZR_OK);
    EXPECT_EQ(info.name, c.read);
    Bytes got;
    EXPECT_EQ(ReadData(o.h, 0, got), ZR_OK);
    EXPECT_EQ(got, data);
  }
}

TEST_F(ReaderFixture, LongNamesAreCutWithoutSplittingCharacters) {
  const std::string emoji = "\xF0\x9F\x8E\xA4";  // U+1F3A4, two UTF-16 units
  std::string pairAtCut = "ab";
  for (int i = 0; i < 129; ++i) pairAtCut += emoji;  // 518 bytes, 260 units
  std::string accents;
  for (int i = 0; i < 259; ++i) accents += "\xC3\xA9";  // 518 bytes, 259 units
  const std::vector<Entry> entries = {{std::string(518, 'n'), test::ToBytes("1")},
                                      {pairAtCut, test::ToBytes("2")},
                                      {accents, test::ToBytes("3")},
                                      {"bad\xFF\xFE.txt", test::ToBytes("4")}};
  const Bytes zip = MakeArchive(dir + "/n.zip", entries);
  Opened o;
  OpenBytes(o, dir + "/n.zip", zip);
  ASSERT_NE(o.h, nullptr);
  ZipEntryInfo info;
  ASSERT_EQ(GetZipEntryInfo(o.h, 0, info), ZR_OK);
  EXPECT_EQ(info.name, std::u16string(259, u'n'));
  ASSERT_EQ(GetZipEntryInfo(o.h, 1, info), ZR_OK);
  EXPECT_EQ(info.name.size(), 258u);  // the pair that would be split is dropped whole
  EXPECT_EQ(info.name.back(), 0xDFA4);
  ASSERT_EQ(GetZipEntryInfo(o.h, 2, info), ZR_OK);
  EXPECT_EQ(info.name, std::u16string(259, u'\u00e9'));
  ASSERT_EQ(GetZipEntryInfo(o.h, 3, info), ZR_OK);
  EXPECT_EQ(info.name, u"bad\uFFFD\uFFFD.txt");
  for (int i = 0; i < 4; ++i) {
    Bytes data;
    EXPECT_EQ(ReadData(o.h, i, data), ZR_OK);
    EXPECT_EQ(data, entries[i].data);
  }
}

}  // namespace
}  // namespace vts
