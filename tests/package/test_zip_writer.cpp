// ZIP writer: the bytes it writes, its store-or-deflate rule, attributes and its failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <thread>

#include "package/zip.h"
#include "test_env.h"
#include "zip_test_util.h"

namespace vts {
namespace {

using test::Bytes;
using test::Le16;
using test::Le32;

struct WriterFixture : ::testing::Test {
  std::string dir = test::MakeTempDir("zipw");
  std::string zipPath = dir + "/out.zip";

  Bytes WriteArchive(const std::function<void(ZipHandle*)>& add) {
    ZipHandle* h = CreateZipWriter(zipPath);
    EXPECT_NE(h, nullptr);
    add(h);
    EXPECT_EQ(CloseZipWriter(h), ZR_OK);
    return test::ReadBytes(zipPath);
  }
};

TEST_F(WriterFixture, MemoryEntryIsWrittenFieldByField) {
  const Bytes zip = WriteArchive([](ZipHandle* h) {
    ASSERT_EQ(AddZipEntry(h, u"abc.txt", ZipSource::FromMemory("abc", 3)), ZR_OK);
  });
  const std::uint32_t crc =
      static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("abc"), 3));
  ASSERT_EQ(crc, 0x352441C2u);

  // Local header.
  EXPECT_EQ(Le32(zip, 0), 0x04034B50u);
  EXPECT_EQ(Le16(zip, 4), 20);
  EXPECT_EQ(Le16(zip, 6), 2);  // deflated, "maximum", no data descriptor
  EXPECT_EQ(Le16(zip, 8), 8);
  EXPECT_EQ(Le32(zip, 14), crc);
  const std::uint32_t csize = Le32(zip, 18);
  EXPECT_EQ(Le32(zip, 22), 3u);
  EXPECT_EQ(Le16(zip, 26), 7);
  EXPECT_EQ(Le16(zip, 28), 17);
  EXPECT_EQ(std::string(zip.begin() + 30, zip.begin() + 37), "abc.txt");
  const std::size_t ut = 37;
  EXPECT_EQ(zip[ut], 'U');
  EXPECT_EQ(zip[ut + 1], 'T');
  EXPECT_EQ(Le16(zip, ut + 2), 13);
  EXPECT_EQ(zip[ut + 4], 7);
  const std::uint32_t mtime = Le32(zip, ut + 5);
  const auto now = static_cast<std::uint32_t>(time(nullptr));
  EXPECT_LE(mtime, now + 3600 + 5);  // daylight saving may add an hour
  EXPECT_GE(mtime + 5, now - 5);
  EXPECT_EQ(Le32(zip, ut + 9), mtime);
  EXPECT_EQ(Le32(zip, ut + 13), mtime);

  // Data inflates back.
  const std::size_t data = ut + 17;
  Bytes out(3);
  z_stream zs{};
  inflateInit2(&zs, -MAX_WBITS);
  zs.next_in = const_cast<Bytef*>(zip.data() + data);
  zs.avail_in = csize;
  zs.next_out = out.data();
  zs.avail_out = 3;
  EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
  inflateEnd(&zs);
  EXPECT_EQ(out, test::ToBytes("abc"));

  // Central record.
  const std::size_t c = data + csize;
  EXPECT_EQ(Le32(zip, c), 0x02014B50u);
  EXPECT_EQ(Le16(zip, c + 4), 0x0B17);
  EXPECT_EQ(Le16(zip, c + 6), 20);
  EXPECT_EQ(Le16(zip, c + 8), 2);
  EXPECT_EQ(Le16(zip, c + 10), 8);
  EXPECT_EQ(Le16(zip, c + 12), Le16(zip, 10));
  EXPECT_EQ(Le16(zip, c + 14), Le16(zip, 12));
  EXPECT_EQ(Le32(zip, c + 16), crc);
  EXPECT_EQ(Le32(zip, c + 20), csize);
  EXPECT_EQ(Le32(zip, c + 24), 3u);
  EXPECT_EQ(Le16(zip, c + 28), 7);
  EXPECT_EQ(Le16(zip, c + 30), 9);
  EXPECT_EQ(Le16(zip, c + 32), 0);
  EXPECT_EQ(Le16(zip, c + 34), 0);
  EXPECT_EQ(Le16(zip, c + 36), 0);
  EXPECT_EQ(Le32(zip, c + 38), 0x80000000u);
  EXPECT_EQ(Le32(zip, c + 42), 0u);
  const std::size_t cx = c + 46 + 7;
  EXPECT_EQ(zip[cx], 'U');
  EXPECT_EQ(Le16(zip, cx + 2), 5);
  EXPECT_EQ(zip[cx + 4], 7);
  EXPECT_EQ(Le32(zip, cx + 5), mtime);

  // End record.
  const std::size_t e = cx + 9;
  ASSERT_EQ(zip.size(), e + 22);
  EXPECT_EQ(Le32(zip, e), 0x06054B50u);
  EXPECT_EQ(Le16(zip, e + 4), 0);
  EXPECT_EQ(Le16(zip, e + 6), 0);
  EXPECT_EQ(Le16(zip, e + 8), 1);
  EXPECT_EQ(Le16(zip, e + 10), 1);
  EXPECT_EQ(Le32(zip, e + 12), 46u + 7 + 9);
  EXPECT_EQ(Le32(zip, e + 16), c);
  EXPECT_EQ(Le16(zip, e + 20), 0);
}

TEST_F(WriterFixture, EmptyArchiveIsTheEndRecordAlone) {
  const Bytes zip = WriteArchive([](ZipHandle*) {});
  const Bytes expected = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0,
                          0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(zip, expected);
}

TEST_F(WriterFixture, NamesAndStoreOrDeflateRule) {
  struct Case {
    std::u16string given;
    std::string stored;
    std::uint16_t method;
  };
  const Case cases[] = {
      {u"sub\\dir\\a.txt", "sub/dir/a.txt", 8},
      {u"x.ZIP", "x.ZIP", 0},
      {u"y.Gz", "y.Gz", 0},
      {u"t.tgz", "t.tgz", 0},
      {u"v.Z", "v.Z", 0},
      {u"x.zipx", "x.zipx", 8},
      {u"name", "name", 8},
      {u"a.b/c", "a.b/c", 8},
      {u"le\u00e7on.mpa", "le\xc3\xa7on.mpa", 8},
  };
  const Bytes payload = test::TextBytes(1000, 1);
  const Bytes zip = WriteArchive([&](ZipHandle* h) {
    for (const Case& c : cases) {
      ASSERT_EQ(AddZipEntry(h, c.given, ZipSource::FromMemory(payload.data(), payload.size())),
                ZR_OK);
    }
  });
  const auto layout = test::ParseLayout(zip);
  ASSERT_EQ(layout.central.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::size_t c = layout.central[i];
    const std::size_t n = Le16(zip, c + 28);
    EXPECT_EQ(std::string(zip.begin() + c + 46, zip.begin() + c + 46 + n), cases[i].stored);
    EXPECT_EQ(Le16(zip, c + 10), cases[i].method) << cases[i].stored;
    const bool ascii = std::all_of(cases[i].stored.begin(), cases[i].stored.end(),
                                   [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    EXPECT_EQ(Le16(zip, c + 8), (cases[i].method == 8 ? 2 : 0) | (ascii ? 0 : 0x800))
        << cases[i].stored;
    if (cases[i].method == 0) {
      EXPECT_EQ(Le32(zip, c + 20), payload.size());
    }
  }
}

// A name that is not plain ASCII carries the UTF-8 flag (bit 11) in both headers; plain
// ASCII names, and bytes that are no UTF-8 (a folder's file names), do not.
TEST_F(WriterFixture, NonAsciiNamesCarryTheUtf8Flag) {
  struct Case {
    std::string name;
    bool folder;
    std::uint16_t flags;
  };
  const Case cases[] = {
      {"a.mpa", false, 2},
      {"\xD1\x83\xD1\x80\xD0\xBE\xD0\xBA.mpa", false, 0x802},
      {"le\xC3\xA7on.zip", false, 0x800},
      {"\xD1\x83\xD1\x80\xD0\xBE\xD0\xBA", true, 0x800},
      {"x\x87.mpa", false, 2},
  };
  const Bytes payload = test::TextBytes(100, 3);
  const Bytes zip = WriteArchive([&](ZipHandle* h) {
    for (const Case& c : cases) {
      const ZipSource src =
          c.folder ? ZipSource::Folder() : ZipSource::FromMemory(payload.data(), payload.size());
      ASSERT_EQ(AddZipEntryInternal(h->writer, c.name, src), ZR_OK) << c.name;
    }
  });
  const auto layout = test::ParseLayout(zip);
  ASSERT_EQ(layout.central.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(Le16(zip, layout.local[i] + 6), cases[i].flags) << cases[i].name;
    EXPECT_EQ(Le16(zip, layout.central[i] + 8), cases[i].flags) << cases[i].name;
    EXPECT_EQ(Le16(zip, layout.central[i] + 6), 20) << "version needed stays";
  }
}

TEST_F(WriterFixture, FolderEntry) {
  const Bytes zip = WriteArchive([](ZipHandle* h) {
    ASSERT_EQ(AddZipEntry(h, u"dir", ZipSource::Folder()), ZR_OK);
    ASSERT_EQ(AddZipEntry(h, u"two/", ZipSource::Folder()), ZR_OK);
  });
  const auto layout = test::ParseLayout(zip);
  ASSERT_EQ(layout.central.size(), 2u);
  const std::size_t c = layout.central[0];
  EXPECT_EQ(Le16(zip, c + 28), 4);
  EXPECT_EQ(std::string(zip.begin() + c + 46, zip.begin() + c + 50), "dir/");
  EXPECT_EQ(Le16(zip, c + 10), 0);
  EXPECT_EQ(Le32(zip, c + 20), 0u);
  EXPECT_EQ(Le32(zip, c + 24), 0u);
  EXPECT_EQ(Le32(zip, c + 38), 0x41C00010u);
  EXPECT_EQ(Le16(zip, layout.central[1] + 28), 4);  // "two/" gets no second slash
}

TEST_F(WriterFixture, LocalHeadersMatchCentralRecordsAfterClose) {
  const Bytes text = test::TextBytes(50000, 2);
  const Bytes noise = test::RandomBytes(70000, 3);
  test::WriteBytes(dir + "/noise.bin", noise);
  const Bytes zip = WriteArchive([&](ZipHandle* h) {
    ASSERT_EQ(AddZipEntry(h, u"a.txt", ZipSource::FromMemory(text.data(), text.size())), ZR_OK);
    ASSERT_EQ(AddZipEntry(h, u"a.mpa", ZipSource::FromFile(dir + "/noise.bin")), ZR_OK);
    ASSERT_EQ(AddZipEntry(h, u"a.zip", ZipSource::FromFile(dir + "/noise.bin")), ZR_OK);
    ASSERT_EQ(AddZipEntry(h, u"f", ZipSource::Folder()), ZR_OK);
  });
  const auto l = test::ParseLayout(zip);
  ASSERT_EQ(l.local.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t lo = l.local[i], c = l.central[i];
    EXPECT_EQ(Le32(zip, lo), 0x04034B50u);
    EXPECT_EQ(Le16(zip, lo + 6) & 8, 0) << i;
    EXPECT_EQ(Le16(zip, lo + 6), Le16(zip, c + 8));
    EXPECT_EQ(Le16(zip, lo + 8), Le16(zip, c + 10));
    EXPECT_EQ(Le32(zip, lo + 14), Le32(zip, c + 16));
    EXPECT_EQ(Le32(zip, lo + 18), Le32(zip, c + 20));
    EXPECT_EQ(Le32(zip, lo + 22), Le32(zip, c + 24));
  }
  EXPECT_EQ(Le32(zip, l.central[1] + 24), noise.size());
  EXPECT_EQ(Le32(zip, l.central[1] + 16),
            static_cast<std::uint32_t>(crc32(0, noise.data(), static_cast<uInt>(noise.size()))));
  EXPECT_EQ(Le32(zip, l.central[2] + 20), noise.size());  // stored
}

TEST_F(WriterFixture, DiskFileAttributesAndTimes) {
  const std::string rw = dir + "/rw.bin", ro = dir + "/ro.bin";
  test::WriteBytes(rw, test::ToBytes("writable"));
  test::WriteBytes(ro, test::ToBytes("read-only"));
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  struct timespec times[2] = {{1500000000, 0}, {1600000000, 0}};  // atime, mtime
  ASSERT_EQ(utimensat(AT_FDCWD, rw.c_str(), times, 0), 0);
  const int fd = open(rw.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  lseek(fd, 3, SEEK_SET);  // the writer reads a handle from its start
  const Bytes zip = WriteArchive([&](ZipHandle* h) {
    ASSERT_EQ(AddZipEntry(h, u"rw", ZipSource::FromHandle(fd)), ZR_OK);
    ASSERT_EQ(AddZipEntry(h, u"ro", ZipSource::FromFile(ro)), ZR_OK);
  });
  close(fd);
  const auto l = test::ParseLayout(zip);
  EXPECT_EQ(Le32(zip, l.central[0] + 38), 0x81800000u);
  EXPECT_EQ(Le32(zip, l.central[1] + 38), 0x81000001u);
  EXPECT_EQ(Le32(zip, l.central[0] + 24), 8u);
  // "UT" times: the clock's own seconds whenever daylight saving is not in force.
  std::tm m{}, a{};
  const time_t mt = 1600000000, at = 1500000000;
  localtime_r(&mt, &m);
  localtime_r(&at, &a);
  const std::size_t ut = l.local[0] + 30 + 2;
  if (!m.tm_isdst) {
    EXPECT_EQ(Le32(zip, ut + 5), 1600000000u);
  }
  if (!a.tm_isdst) {
    EXPECT_EQ(Le32(zip, ut + 9), 1500000000u);
  }
  const std::uint16_t dosDate = Le16(zip, l.local[0] + 12);
  EXPECT_EQ((dosDate >> 9) + 1980, m.tm_year + 1900);
  EXPECT_EQ((dosDate >> 5) & 15, m.tm_mon + 1);
}

TEST_F(WriterFixture, ArgumentAndStateErrors) {
  ZipHandle* h = CreateZipWriter(zipPath);
  ASSERT_NE(h, nullptr);
  const std::u16string unpaired(1, static_cast<char16_t>(0xD800));
  EXPECT_EQ(AddZipEntry(nullptr, u"a", ZipSource::FromMemory("a", 1)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, u"", ZipSource::FromMemory("a", 1)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, unpaired, ZipSource::FromMemory("a", 1)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, std::u16string(519, u'n'), ZipSource::FromMemory("a", 1)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, std::u16string(518, u'n'), ZipSource::FromMemory("a", 1)), ZR_OK);
  EXPECT_EQ(AddZipEntry(h, u"a", ZipSource::FromMemory(nullptr, 1)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, u"a", ZipSource::FromMemory("a", 0)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, u"a", ZipSource::FromHandle(-1)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, u"a", ZipSource::FromHandle(987654)), ZR_ARGS);
  EXPECT_EQ(AddZipEntry(h, u"a", ZipSource::FromFile(dir + "/missing")), ZR_NOFILE);
  ZipSource odd = ZipSource::Folder();
  odd.kind = static_cast<ZipSourceKind>(9);
  EXPECT_EQ(AddZipEntry(h, u"a", odd), ZR_ARGS);
  EXPECT_EQ(GetZipWriterLastError(), ZR_ARGS);
  // A file too large for the container's 32-bit sizes is refused before anything is written.
  const std::string huge = dir + "/huge.bin";
  const int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(ftruncate(fd, 0x100000000ll), 0);
  close(fd);
  EXPECT_EQ(AddZipEntry(h, u"huge", ZipSource::FromFile(huge)), ZR_ARGS);
  unlink(huge.c_str());
  // Refused arguments are not sticky.
  EXPECT_EQ(AddZipEntry(h, u"b", ZipSource::FromMemory("b", 1)), ZR_OK);
  EXPECT_EQ(CloseZipWriter(h), ZR_OK);

  EXPECT_EQ(CreateZipWriter(dir + "/no/such/dir/x.zip"), nullptr);
  EXPECT_EQ(GetZipWriterLastError(), ZR_NOFILE);

  test::WriteBytes(dir + "/r.zip", test::ReadBytes(zipPath));
  ZipHandle* reader = OpenZipReaderFile(dir + "/r.zip");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(AddZipEntry(reader, u"a", ZipSource::FromMemory("a", 1)), ZR_WRONG_KIND);
  EXPECT_EQ(CloseZipWriter(reader), ZR_WRONG_KIND);
  EXPECT_EQ(CloseZipReader(reader), ZR_OK);
}

TEST_F(WriterFixture, FailedWriteIsStickyAndReportedAtClose) {
  ZipHandle* h = CreateZipWriter("/dev/full");
  ASSERT_NE(h, nullptr);
  const Bytes text = test::TextBytes(100000, 4);
  EXPECT_EQ(AddZipEntry(h, u"a.txt", ZipSource::FromMemory(text.data(), text.size())), ZR_WRITE);
  EXPECT_EQ(AddZipEntry(h, u"b.txt", ZipSource::FromMemory("b", 1)), ZR_FAILED);
  EXPECT_EQ(CloseZipWriter(h), ZR_WRITE);
}

TEST_F(WriterFixture, UnreadableSourceFailsTheEntry) {
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dfd, 0);
  ZipHandle* h = CreateZipWriter(zipPath);
  EXPECT_EQ(AddZipEntry(h, u"d.bin", ZipSource::FromHandle(dfd)), ZR_READ);
  EXPECT_EQ(AddZipEntry(h, u"b.txt", ZipSource::FromMemory("b", 1)), ZR_FAILED);
  EXPECT_NE(CloseZipWriter(h), ZR_OK);
  close(dfd);
}

// On an output that cannot seek (a pipe) entries end with data descriptors, which unzip takes;
// a stored entry of unknown size cannot be completed there.
TEST_F(WriterFixture, NonSeekableOutputUsesDataDescriptors) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  Bytes received;
  std::thread drain([&] {
    std::uint8_t buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) received.insert(received.end(), buf, buf + n);
  });
  ZipHandle* h = CreateZipWriter("/dev/fd/" + std::to_string(out[1]));
  close(out[1]);
  ASSERT_NE(h, nullptr);
  const Bytes text = test::TextBytes(30000, 5);
  EXPECT_EQ(AddZipEntry(h, u"a.txt", ZipSource::FromMemory(text.data(), text.size())), ZR_OK);
  EXPECT_EQ(AddZipEntry(h, u"b.zip", ZipSource::FromMemory(text.data(), 100)), ZR_OK);
  EXPECT_EQ(CloseZipWriter(h), ZR_OK);
  drain.join();
  close(out[0]);
  test::WriteBytes(zipPath, received);
  std::string listing;
  EXPECT_EQ(test::Run("unzip -t " + test::Q(zipPath) + " 2>&1", &listing), 0) << listing;
  std::string data;
  EXPECT_EQ(test::Run("unzip -p " + test::Q(zipPath) + " a.txt", &data), 0);
  EXPECT_EQ(test::ToBytes(data), text);
  const auto l = test::ParseLayout(received);
  EXPECT_EQ(Le16(received, l.local[0] + 6), 8 | 2);

  int in[2], out2[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out2), 0);
  std::thread drain2([&] {
    std::uint8_t buf[4096];
    while (read(out2[0], buf, sizeof buf) > 0) {
    }
  });
  ASSERT_EQ(write(in[1], "xyz", 3), 3);
  close(in[1]);
  h = CreateZipWriter("/dev/fd/" + std::to_string(out2[1]));
  close(out2[1]);
  EXPECT_EQ(AddZipEntry(h, u"p.zip", ZipSource::FromHandle(in[0])), ZR_NOT_SEEKABLE);
  CloseZipWriter(h);
  drain2.join();
  close(in[0]);
  close(out2[0]);
}

}  // namespace
}  // namespace vts
