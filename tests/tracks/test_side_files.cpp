// Chunk-list (".cif") and chunk-text (".txt") side files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_env.h"
#include "tracks/side_files.h"
#include "zip_test_util.h"

namespace vts {
namespace {

using test::Bytes;

Bytes Utf16Body(const std::u16string& s, bool bom = true) {
  Bytes b;
  if (bom) b = {0xFF, 0xFE};
  for (char16_t u : s) {
    b.push_back(static_cast<std::uint8_t>(u));
    b.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return b;
}

Bytes Cif(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> recs) {
  Bytes b;
  for (auto [s, l] : recs) {
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(s >> (8 * k)));
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<std::uint8_t>(l >> (8 * k)));
  }
  return b;
}

TEST(SideFileUnits, MillisecondFrameConversions) {
  struct Case {
    std::uint32_t ms, rate, frames;
  };
  const Case toFrames[] = {{1000, 44100, 44100},
                           {500, 44100, 22050},
                           {1, 44100, 44},
                           {0xFFFFFFFF, 1000, 0xFFFFFFFF},
                           {0xFFFFFFFF, 44100, 0xFFFFFFFF},
                           {1000, 0, 0}};
  for (const Case& c : toFrames)
    EXPECT_EQ(MsToFrames(c.ms, c.rate), c.frames) << c.ms << "@" << c.rate;
  EXPECT_EQ(FramesToMs(1, 44100), 0u);
  EXPECT_EQ(FramesToMs(44100, 44100), 1000u);
  EXPECT_EQ(FramesToMs(0xFFFFFFFFull, 44100), 97391548u);  // needs 64-bit products
  EXPECT_EQ(FramesToMs(0xFFFFFFFFull * 1000, 8000), 0xFFFFFFFFu);
  EXPECT_EQ(FramesToMs(~0ull, 44100), 0xFFFFFFFFu);
  EXPECT_EQ(FramesToMs(44100, 0), 0u);
  // Chunk boundaries are read at the first frame of their millisecond: written back, every
  // one gives its millisecond again.
  EXPECT_EQ(MsToFrameAtOrAfter(1, 44100), 45u);
  EXPECT_EQ(MsToFrameAtOrAfter(1000, 44100), 44100u);
  EXPECT_EQ(MsToFrameAtOrAfter(1000, 0), 0u);
  EXPECT_EQ(MsToFrameAtOrAfter(~0ull, 44100), 0xFFFFFFFFu);
  for (std::uint32_t rate : {8000u, 11025u, 22050u, 44100u, 48000u}) {
    for (std::uint32_t ms = 0; ms < 20000; ++ms)
      ASSERT_EQ(FramesToMs(MsToFrameAtOrAfter(ms, rate), rate), ms) << ms << "@" << rate;
  }
}

TEST(SideFileCif, ParseRefusesBadSizes) {
  std::vector<CifRecord> recs;
  for (std::size_t n : {0u, 7u, 12u, 17u}) {
    EXPECT_FALSE(ParseCif(Bytes(n, 1), recs)) << n;
    EXPECT_TRUE(recs.empty());
  }
  ASSERT_TRUE(ParseCif(Cif({{0, 1000}, {1000, 500}}), recs));
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(MsToFrames(recs[0].startMs, 44100), 0u);
  EXPECT_EQ(MsToFrames(recs[0].lengthMs, 44100), 44100u);
  EXPECT_EQ(MsToFrames(recs[1].startMs, 44100), 44100u);
  EXPECT_EQ(MsToFrames(recs[1].lengthMs, 44100), 22050u);
  // Records are taken as they stand: unsorted, overlapping, zero lengths.
  ASSERT_TRUE(ParseCif(Cif({{5000, 0}, {0, 0xFFFFFFFF}}), recs));
  EXPECT_EQ(recs[0].startMs, 5000u);
  EXPECT_EQ(recs[1].lengthMs, 0xFFFFFFFFu);
}

TEST(SideFileCif, ReadFileCases) {
  const std::string dir = test::MakeTempDir("cif");
  std::vector<CifRecord> recs;
  EXPECT_EQ(ReadCifFile(dir + "/missing.cif", recs), SideFileStatus::OpenFailed);
  EXPECT_EQ(ReadCifFile(dir, recs), SideFileStatus::OpenFailed);
  test::WriteBytes(dir + "/empty.cif", {});
  EXPECT_EQ(ReadCifFile(dir + "/empty.cif", recs), SideFileStatus::Empty);
  test::WriteBytes(dir + "/twelve.cif", Bytes(12, 0));
  EXPECT_EQ(ReadCifFile(dir + "/twelve.cif", recs), SideFileStatus::BadSize);
  test::WriteBytes(dir + "/ok.cif", Cif({{0, 1000}, {1000, 500}}));
  EXPECT_EQ(ReadCifFile(dir + "/ok.cif", recs), SideFileStatus::Ok);
  EXPECT_EQ(recs.size(), 2u);
  // A huge chunk list is refused from its size, never allocated.
  const std::string huge = dir + "/huge.cif";
  const int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(ftruncate(fd, 1ll << 40), 0);
  close(fd);
  EXPECT_EQ(ReadCifFile(huge, recs), SideFileStatus::TooLarge);
  EXPECT_TRUE(recs.empty());
  test::WriteBytes(dir + "/max.cif", Bytes(kMaxCifBytes, 0));
  bool cut = false;
  EXPECT_EQ(ReadCifFile(dir + "/max.cif", recs, &cut), SideFileStatus::Ok);
  EXPECT_EQ(recs.size(), kMaxSideFileChunks);  // read whole, but no more chunks than a track takes
  EXPECT_TRUE(cut);
  test::WriteBytes(dir + "/over.cif", Bytes(kMaxCifBytes + 8, 0));
  EXPECT_EQ(ReadCifFile(dir + "/over.cif", recs), SideFileStatus::TooLarge);
}

TEST(SideFileCif, BuildWritesContiguousStarts) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> lengths;
    std::uint32_t rate;
    Bytes expected;
  };
  const Case cases[] = {
      {"gap closed", {44100, 44100}, 44100, Cif({{0, 1000}, {1000, 1000}})},
      {"one frame is 0 ms", {1, 44100}, 44100, Cif({{0, 0}, {0, 1000}})},
      // Each record ends where the next begins: the lengths are the distances between the
      // truncated boundaries 0, 44099, 88198 and 88200 frames.
      {"boundaries truncated", {44099, 44099, 2}, 44100, Cif({{0, 999}, {999, 1000}, {1999, 1}})},
      {"all zero lengths", {0, 0, 0}, 44100, {}},
      {"no chunks", {}, 44100, {}},
      {"rate 0", {100}, 0, {}},
      {"beyond u32 ms saturates",
       {0xFFFFFFFF, 0xFFFFFFFF, 5},
       1000,
       Cif({{0, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}, {0xFFFFFFFF, 5}})},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildCifBody(c.lengths, c.rate), c.expected) << c.what;
}

TEST(SideFileTxt, BuildBody) {
  const std::vector<std::u16string> texts = {u"a", u"", u"b"};
  const Bytes expected = {0xFF, 0xFE, 0x61, 0,    0x0D, 0,    0x0A, 0,    0x0D,
                          0,    0x0A, 0,    0x62, 0,    0x0D, 0,    0x0A, 0};
  EXPECT_EQ(BuildTxtBody(texts), expected);
  EXPECT_EQ(BuildTxtBody({}), (Bytes{0xFF, 0xFE}));
  // Line breaks inside a text are written as one space each.
  struct Case {
    std::u16string text, written;
  };
  const Case cases[] = {{u"a\r\nb", u"a b"},
                        {u"a\nb", u"a b"},
                        {u"a\rb", u"a b"},
                        {u"a\r\n\r\nb", u"a  b"},
                        {u"\n", u" "},
                        {u"x\r", u"x "},
                        {u"\u00e9\U0001F3A4", u"\u00e9\U0001F3A4"}};
  for (const Case& c : cases) {
    const std::vector<std::u16string> one = {c.text};
    EXPECT_EQ(BuildTxtBody(one), Utf16Body(c.written + u"\r\n"));
    EXPECT_EQ(ParseTxt(BuildTxtBody(one)), std::vector<std::u16string>{c.written});
  }
}

TEST(SideFileTxt, ParseCases) {
  using Texts = std::vector<std::u16string>;
  const std::u16string long1500(1500, u'x');
  std::u16string pairAtCut(1022, u'y');
  pairAtCut += u"\U0001F3A4z";  // the pair straddles unit 1023
  std::string bytes1500(1022, 'b');
  bytes1500 += "\xC3\xA9";  // a two-byte character straddles byte 1023
  bytes1500 += std::string(476, 'c');
  struct Case {
    const char* what;
    Bytes body;
    Texts texts;
  };
  const Case cases[] = {
      {"BOM only", {0xFF, 0xFE}, {u""}},
      {"three lines", Utf16Body(u"a\r\n\r\nb\r\n"), {u"a", u"", u"b"}},
      {"last line without CR LF", Utf16Body(u"a\r\nlast"), {u"a", u"last"}},
      {"ends with a lone CR", Utf16Body(u"a\r\nb\r"), {u"a", u"b"}},
      {"ends with a lone LF", Utf16Body(u"a\r\nb\n"), {u"a", u"b"}},
      {"CR inside then text", Utf16Body(u"a\rb"), {u"a", u"b"}},
      {"odd size: last byte ignored",
       [] {
         Bytes b = Utf16Body(u"ab\r\n");
         b.push_back(0x41);
         return b;
       }(),
       {u"ab"}},
      {"odd size: BOM and one byte", {0xFF, 0xFE, 0x41}, {u""}},
      {"line of 1500 units cut", Utf16Body(long1500 + u"\r\n"), {std::u16string(1023, u'x')}},
      {"surrogate pair not split", Utf16Body(pairAtCut + u"\r\n"), {std::u16string(1022, u'y')}},
      {"zero bytes", {}, {u""}},
      {"one byte", {0x41}, {u"A"}},
      {"8-bit UTF-8 text",
       test::ToBytes("caf\xC3\xA9\r\nna\xC3\xAFve\r\n"),
       {u"caf\u00e9", u"na\u00efve"}},
      {"8-bit last line without break", test::ToBytes("one\r\ntwo"), {u"one", u"two"}},
      {"8-bit LF before CR dropped", test::ToBytes("a\n\r\nb\r\n"), {u"a", u"b"}},
      {"8-bit invalid bytes", test::ToBytes("\xFF\xC3(\r\n"), {u"\uFFFD\uFFFD("}},
      {"8-bit cut at a character", test::ToBytes(bytes1500 + "\r\n"), {std::u16string(1022, u'b')}},
      {"8-bit text that starts FE FF", {0xFE, 0xFF, 'a', '\r', '\n'}, {u"\uFFFD\uFFFDa"}},
      {"text behind last CR kept", Utf16Body(u"a\r\n\r\n"), {u"a", u""}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseTxt(c.body), c.texts) << c.what;
}

// A cut out of the sound: starts after it move back, a chunk it reaches into shrinks, one it
// covers goes (and is named), one it does not touch keeps its record as it was.
TEST(SideFileCut, CifRecordsFollowTheCut) {
  using Records = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
  const std::vector<CifRecord> list = {{0, 1000}, {1000, 500}, {1500, 1500}, {5000, 0}};
  struct Case {
    const char* what;
    std::uint32_t from, to;
    Records after;
    std::vector<std::size_t> gone;
  } cases[] = {
      {"inside the first", 200, 400, {{0, 800}, {800, 500}, {1300, 1500}, {4800, 0}}, {}},
      {"over the second", 900, 1600, {{0, 900}, {900, 1400}, {4300, 0}}, {1}},
      {"exactly the second", 1000, 1500, {{0, 1000}, {1000, 1500}, {4500, 0}}, {1}},
      {"past every chunk", 3500, 4000, {{0, 1000}, {1000, 500}, {1500, 1500}, {4500, 0}}, {}},
      {"nothing", 700, 700, {{0, 1000}, {1000, 500}, {1500, 1500}, {5000, 0}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::size_t> gone = {99};
    Records after;
    for (const CifRecord& r : CutCifRecords(list, c.from, c.to, &gone))
      after.emplace_back(r.startMs, r.lengthMs);
    EXPECT_EQ(after, c.after);
    EXPECT_EQ(gone, c.gone);
  }
}

// Lines leave a ".txt" as its reader counts them; every other byte stays, in its encoding.
TEST(SideFileCut, TxtLinesGoInTheFilesOwnEncoding) {
  struct Case {
    const char* what;
    Bytes body;
    std::vector<std::size_t> lines;
    Bytes after;
  } cases[] = {
      {"UTF-16, the middle line", Utf16Body(u"a\r\nbb\r\nc\r\n"), {1}, Utf16Body(u"a\r\nc\r\n")},
      {"UTF-16, first and last without a break", Utf16Body(u"a\r\nb\r\nlast"), {0, 2},
       Utf16Body(u"b\r\n")},
      {"8-bit, lone CR and LF before CR", test::ToBytes("one\rtwo\n\r\nthree\r\n"), {1},
       test::ToBytes("one\rthree\r\n")},
      {"past the last line", test::ToBytes("x\r\n"), {3}, test::ToBytes("x\r\n")},
      {"UTF-16 with an odd last byte", [] {
         Bytes b = Utf16Body(u"a\r\nb\r\n");
         b.push_back(0x41);
         return b;
       }(), {0}, [] {
         Bytes b = Utf16Body(u"b\r\n");
         b.push_back(0x41);
         return b;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes after = RemoveTxtLines(c.body, c.lines);
    EXPECT_EQ(after, c.after);
    std::vector<std::u16string> kept = ParseTxt(c.body);
    for (auto it = c.lines.rbegin(); it != c.lines.rend(); ++it)
      if (*it < kept.size()) kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(*it));
    if (!kept.empty()) {
      EXPECT_EQ(ParseTxt(after), kept) << "as the reader sees it";
    }
  }
}

// A side file cannot make more chunks than a track can show: the rest is dropped and said.
TEST(SideFileLimits, AtMost65535ChunksFromEitherFile) {
  const std::size_t kMax = kMaxSideFileChunks;
  ASSERT_EQ(kMax, 65535u);
  for (const std::size_t count : {kMax, kMax + 1, std::size_t{1000000}}) {
    SCOPED_TRACE(count);
    Bytes cif(count * 8, 0);
    std::vector<CifRecord> records;
    bool cut = true;
    ASSERT_TRUE(ParseCif(cif, records, &cut));
    EXPECT_EQ(records.size(), std::min(count, kMax));
    EXPECT_EQ(cut, count > kMax);
  }
  struct Case {
    const char* what;
    Bytes body;
    std::size_t lines;
    bool cut;
  };
  Bytes wideLines = {0xFF, 0xFE};
  for (int i = 0; i < 2'470'000; ++i) wideLines.insert(wideLines.end(), {'\r', 0, '\n', 0});
  const Case cases[] = {
      {"UTF-16, exactly the limit", Utf16Body(std::u16string(kMax, u'\r')), kMax, false},
      {"UTF-16, 9.9 MB of empty lines", wideLines, kMax, true},
      {"8-bit, one line too many", test::ToBytes(std::string(kMax + 1, '\r')), kMax, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool cut = false;
    EXPECT_EQ(ParseTxt(c.body, &cut).size(), c.lines);
    EXPECT_EQ(cut, c.cut);
  }
}

TEST(SideFileTxt, ReadFileSizeLimit) {
  const std::string dir = test::MakeTempDir("txt");
  std::vector<std::u16string> texts;
  EXPECT_EQ(ReadTxtFile(dir + "/missing.txt", texts), SideFileStatus::OpenFailed);
  Bytes exact = Utf16Body(u"first\r\nsecond\r\n");
  exact.resize(kMaxTxtBytes, 0x20);
  test::WriteBytes(dir + "/exact.txt", exact);
  ASSERT_EQ(ReadTxtFile(dir + "/exact.txt", texts), SideFileStatus::Ok);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1], u"second");
  EXPECT_EQ(texts[2].size(), kMaxChunkTextUnits);
  exact.push_back(0x20);
  test::WriteBytes(dir + "/over.txt", exact);
  EXPECT_EQ(ReadTxtFile(dir + "/over.txt", texts), SideFileStatus::TooLarge);
  EXPECT_TRUE(texts.empty());
}

TEST(SideFileWrite, ReplaceFileContentsIsAllOrNothing) {
  const std::string dir = test::MakeTempDir("repl");
  const std::string path = dir + "/lesson.cif";
  test::WriteBytes(path, test::ToBytes("old"));
  ASSERT_TRUE(ReplaceFileContents(path, Cif({{0, 1000}})));
  EXPECT_EQ(test::ReadBytes(path), Cif({{0, 1000}}));
  std::string listing;
  test::Run("ls -A " + test::Q(dir), &listing);
  EXPECT_EQ(listing, "lesson.cif\n");
  EXPECT_FALSE(ReplaceFileContents(dir + "/no/such/x.cif", Cif({{0, 1}})));
  // A target that is a folder cannot be replaced; the temporary file goes again.
  ASSERT_EQ(mkdir((dir + "/folder.txt").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir + "/folder.txt/inside").c_str(), 0755), 0);
  EXPECT_FALSE(ReplaceFileContents(dir + "/folder.txt", Cif({{0, 1}})));
  listing.clear();
  test::Run("ls -A " + test::Q(dir), &listing);
  EXPECT_EQ(listing, "folder.txt\nlesson.cif\n");
}

}  // namespace
}  // namespace vts
