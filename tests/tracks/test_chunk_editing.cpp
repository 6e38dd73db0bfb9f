// Chunk editing on fixture WAV files the tests write: bookmarks (split), merging, the$
// erase (sizes, tail bytes, later chunks, failures that must leave the file whole), the
// whole-file view, received audio, chunk switching that cannot save, the clamped cursor, and
// the track's link to its waveform strip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"
#include "test_env.h"
#include "test_files.h"
#include "track_doubles.h"
#include "tracks/media/wav_file.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#if VTS_WITH_TRACK_WAVEFORM  // Qt Gui: only in builds with the Qt targets
#include "tracks/track_waveform.h"
#endif
#include "sound_track_test_access.h"
#include "tracks/wav_cut.h"

namespace vts {
namespace {

using test::Bytes;
using Codes = std::vector<std::uint32_t>;

// Every sample different, so a moved byte in the wrong place shows.
std::int16_t SampleAt(std::size_t i) { return std::int16_t((i * 7919 + 13) % 65521 - 32760); }

// A 16-bit PCM WAV: 44-byte header, `frames` frames, then `trailer` bytes of a "LIST" chunk.
Bytes MakeWav(std::uint32_t frames, std::uint16_t channels, std::uint32_t trailer = 0) {
  test::WavSpec spec;
  spec.channels = channels;
  for (std::uint32_t i = 0; i < trailer; ++i) spec.trailer.push_back(std::uint8_t(0xA0 + i % 50));
  std::vector<std::int16_t> samples(std::size_t(frames) * channels);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = SampleAt(i);
  return test::MakeWav(spec, test::Pcm16(samples));
}

void WriteFile(const std::string& path, const Bytes& bytes) { test::WriteBytes(path, bytes); }
Bytes ReadFile(const std::string& path) { return test::ReadBytes(path); }

// The bytes of frames [first, first + frames) of a fixture's data.
Bytes FramesOf(const Bytes& wav, std::uint32_t align, std::uint64_t first, std::uint64_t frames) {
  return Bytes(wav.begin() + 44 + first * align, wav.begin() + 44 + (first + frames) * align);
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Bytes ChunkBytes(const CChunkInfo* chunk) {
  if (chunk == nullptr || chunk->data == nullptr) return {};
  return Bytes(chunk->data, chunk->data + chunk->dataSize);
}

struct ChunkSpec {
  std::uint32_t start;
  std::uint32_t length;
  const char16_t* text;
};

class ChunkEditing : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes_ = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes_);
    dir_ = test::MakeTempDir("edit");
    track_ = std::make_unique<CSoundTrack>(core_.Id(), "Master", &state_, 0);
    track_->SetNotifyTarget(log_.Target());
    core_.Attach(track_.get(), nullptr);
  }
  void TearDown() override {
    SetEditFileIo(nullptr);
    core_.Detach();
    track_.reset();
    plat::SetMessageBoxService(nullptr);
  }

  // Opens a fixture as the track's source, as a load would leave it.
  void OpenSource(const Bytes& wav) {
    path_ = dir_ + "/source.wav";
    WriteFile(path_, wav);
    const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    media::WavInfo info;
    ASSERT_EQ(media::ReadWavInfo(fd, info), media::WavStatus::Ok);
    CSoundTrackTestAccess::SetSourceFile(*track_, fd);
    CSoundTrackTestAccess::SetSourcePath(*track_, path_);
    CSoundTrackTestAccess::SetDataOffset(*track_, std::uint32_t(info.dataOffset));
    CSoundTrackTestAccess::SetDataBytes(*track_, info.dataBytes);
    CSoundTrackTestAccess::SetFormat(
        *track_,
        PcmFormat{1, info.format.channels, info.format.samplesPerSec, info.format.avgBytesPerSec,
                  info.format.blockAlign, info.format.bitsPerSample});
    ASSERT_EQ(::pread(fd, CSoundTrackTestAccess::WavHeader(*track_), 36, 0), 36);
  }

  // Chunks read from the source file (no temporary files), chunk 0 current.
  void SetChunks(const std::vector<ChunkSpec>& specs, int current = 0) {
    track_->FreeChunks();
    for (const ChunkSpec& s : specs) {
      auto chunk = std::make_unique<CChunkInfo>();
      chunk->start = s.start;
      chunk->length = s.length;
      chunk->text = s.text;
      CSoundTrackTestAccess::Chunks(*track_).push_back(std::move(chunk));
    }
    track_->SelectChunk(current);
    CSoundTrackTestAccess::SetModified(*track_, false);
    log_.Clear();
  }

  std::vector<std::pair<std::uint32_t, std::uint32_t>> Layout(
      const std::vector<std::unique_ptr<CChunkInfo>>& list) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const auto& c : list) out.emplace_back(c->start, c->length);
    return out;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Layout() {
    return Layout(CSoundTrackTestAccess::Chunks(*track_));
  }

  void Select(std::uint32_t anchor, std::uint32_t cursor) {
    CSoundTrackTestAccess::EditView(*track_, [&](WaveformViewState& v) {
      v.anchorFrame = anchor;
      v.cursorFrame = cursor;
    });
  }

  EngineStateBlock state_;
  test::CoreThreadDouble core_;
  test::NotifyLog log_;
  std::shared_ptr<plat::RecordingMessageBoxService> boxes_;
  std::unique_ptr<CSoundTrack> track_;
  std::string dir_;
  std::string path_;
};

using Layouts = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// ------------------------------------------------------------------ bookmarks

TEST_F(ChunkEditing, SplitAtTheCursorInsertsAChunkReadFromTheSource) {
  const Bytes wav = MakeWav(30000, 1);
  OpenSource(wav);
  SetChunks({{0, 10000, u"a"}, {10000, 10000, u"b"}, {20000, 10000, u"c"}}, 1);
  CSoundTrackTestAccess::EditView(*track_, [](WaveformViewState& v) { v.cursorFrame = 1000; });
  ASSERT_TRUE(track_->SplitCurrentChunk());

  EXPECT_EQ(Layout(), (Layouts{{0, 10000}, {10000, 1000}, {11000, 9000}, {20000, 10000}}));
  EXPECT_EQ(track_->Chunk(1)->text, u"b");
  EXPECT_EQ(track_->Chunk(2)->text, u"");
  EXPECT_TRUE(track_->Chunk(2)->fileName.empty());
  EXPECT_TRUE(track_->IsModified());
  EXPECT_EQ(track_->CurrentChunkIndex(), 1);
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 0u);
  EXPECT_EQ(track_->ViewSnapshot().progress.High(), 1000u);
  EXPECT_EQ(ChunkBytes(track_->Chunk(1)), FramesOf(wav, 2, 10000, 1000));
  EXPECT_FALSE(track_->Chunk(2)->IsLoaded());
  EXPECT_EQ(log_.Codes(), Codes{0});

  track_->SelectChunk(2);
  EXPECT_EQ(ChunkBytes(track_->Chunk(2)), FramesOf(wav, 2, 11000, 9000));
}

TEST_F(ChunkEditing, SplitRefusals) {
  OpenSource(MakeWav(30000, 1));
  SetChunks({{0, 10000, u""}, {10000, 20000, u""}});
  CSoundTrackTestAccess::EditView(*track_, [](WaveformViewState& v) { v.cursorFrame = 0; });
  EXPECT_FALSE(track_->SplitCurrentChunk()) << "cursor at 0";
  EXPECT_FALSE(track_->SplitChunk(0, 10000)) << "frame at the length";
  EXPECT_FALSE(track_->SplitChunk(5, 10)) << "no such chunk";
  EXPECT_EQ(Layout(), (Layouts{{0, 10000}, {10000, 20000}}));
  EXPECT_FALSE(track_->IsModified());

  ASSERT_TRUE(track_->SetWholeFileMode(true));
  CSoundTrackTestAccess::EditView(*track_, [](WaveformViewState& v) { v.cursorFrame = 500; });
  EXPECT_FALSE(track_->SplitCurrentChunk()) << "whole-file view";
  EXPECT_EQ(track_->ChunkCount(), 1);
}

TEST_F(ChunkEditing, SplittingAnEarlierChunkKeepsTheCurrentChunkCurrent) {
  OpenSource(MakeWav(30000, 1));
  SetChunks({{0, 10000, u""}, {10000, 10000, u""}, {20000, 10000, u"c"}}, 2);
  ASSERT_TRUE(track_->SplitChunk(0, 4000));
  EXPECT_EQ(track_->CurrentChunkIndex(), 3);
  EXPECT_EQ(track_->CurrentChunk()->text, u"c");
  EXPECT_FALSE(track_->Chunk(0)->IsLoaded()) << "only the current chunk is in memory";
}

TEST_F(ChunkEditing, MergeJoinsTextsAndSoundAndPutsTheCursorAtTheJoin) {
  const Bytes wav = MakeWav(30000, 2);
  OpenSource(wav);
  SetChunks({{0, 12000, u"A"}, {12000, 18000, u"B"}});
  ASSERT_TRUE(track_->MergeChunkWithNext(0));
  EXPECT_EQ(Layout(), (Layouts{{0, 30000}}));
  EXPECT_EQ(track_->Chunk(0)->text, u"AB");
  EXPECT_EQ(track_->CurrentChunkIndex(), 0);
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 12000u);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 12000u);
  EXPECT_EQ(track_->ViewSnapshot().progress.Pos(), 12000u);
  EXPECT_TRUE(track_->IsModified());
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), FramesOf(wav, 4, 0, 30000));
  EXPECT_EQ(log_.Codes(), (Codes{0, 0}));

  EXPECT_FALSE(track_->MergeChunkWithNext(0)) << "a single chunk";
  SetChunks({{0, 100, u""}, {100, 100, u""}, {200, 100, u""}});
  EXPECT_FALSE(track_->MergeChunkWithNext(2)) << "the last chunk";
  EXPECT_FALSE(track_->MergeChunkWithNext(-1));
  EXPECT_EQ(track_->ChunkCount(), 3);
}

TEST_F(ChunkEditing, MergeBeforeTheCurrentChunkKeepsItsIndexRight) {
  OpenSource(MakeWav(30000, 1));
  SetChunks({{0, 100, u"x"}, {100, 100, u"y"}, {200, 100, u"z"}}, 2);
  ASSERT_TRUE(track_->MergeChunkWithNext(0));
  EXPECT_EQ(track_->ChunkCount(), 2);
  EXPECT_EQ(track_->CurrentChunkIndex(), 0) << "the merged chunk is selected";
  EXPECT_EQ(track_->Chunk(1)->text, u"z");
}

// A recording (chunks in temporary files) has no source to read a split or joined chunk from.
TEST_F(ChunkEditing, SplitAndMergeWithoutASourceFileAreRefused) {
  for (int i = 0; i < 2; ++i) {
    CChunkInfo* chunk = track_->AddChunk();
    ASSERT_NE(chunk, nullptr);
    track_->SelectChunk(i);
    test::FillChunk(chunk, std::vector<std::int16_t>(5000, std::int16_t(100 + i)));
  }
  track_->SelectChunk(0);
  const Bytes before = ChunkBytes(track_->Chunk(0));
  ASSERT_EQ(before.size(), 10000u);
  CSoundTrackTestAccess::EditView(*track_, [](WaveformViewState& v) { v.cursorFrame = 2000; });
  log_.Clear();

  EXPECT_FALSE(track_->SplitCurrentChunk());
  EXPECT_FALSE(track_->SplitChunk(0, 2000));
  EXPECT_FALSE(track_->MergeChunkWithNext(0));
  EXPECT_FALSE(track_->SetWholeFileMode(true));
  EXPECT_FALSE(track_->DeleteSelection());

  EXPECT_EQ(track_->ChunkCount(), 2);
  EXPECT_EQ(Layout(), (Layouts{{0, 5000}, {0, 5000}}));
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), before);
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 2000u);
  EXPECT_FALSE(track_->IsModified());
  EXPECT_TRUE(log_.Codes().empty());
  track_->SelectChunk(1);
  EXPECT_EQ(ChunkBytes(track_->Chunk(1)).size(), 10000u) << "the second recording is intact";
}

TEST_F(ChunkEditing, AChunkWithItsOwnFileOnASourceTrackIsNotSplit) {
  OpenSource(MakeWav(30000, 1));
  SetChunks({{0, 10000, u""}});
  track_->Chunk(0)->fileName = "Wav1234.tmp";
  EXPECT_FALSE(track_->SplitChunk(0, 10));
  EXPECT_EQ(track_->ChunkCount(), 1);
}

// ------------------------------------------------------------------ erase

struct EraseCase {
  std::uint16_t channels;
  std::uint32_t trailer;  // bytes of a chunk after "data", which must move along
  std::uint32_t anchor;
  std::uint32_t cursor;
  std::uint32_t cutFrames;  // what is taken out
};

class Erase : public ChunkEditing, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(Erase, ShrinksTheFileMovesTheTailAndShiftsLaterChunks) {
  const EraseCase c = GetParam();
  const std::uint32_t align = 2u * c.channels;
  const Bytes wav = MakeWav(30000, c.channels, c.trailer);
  OpenSource(wav);
  SetChunks({{0, 10000, u""}, {10000, 10000, u""}, {20000, 10000, u""}}, 1);
  Select(c.anchor, c.cursor);
  ASSERT_TRUE(track_->DeleteSelection());

  const std::uint64_t removed = std::uint64_t(c.cutFrames) * align;
  Bytes expected = wav;
  const std::size_t cutAt = 44 + std::size_t(10000 + c.anchor) * align;
  expected.erase(expected.begin() + cutAt, expected.begin() + cutAt + removed);
  test::SetLe32(expected, 4, test::Le32(wav, 4) - std::uint32_t(removed));
  test::SetLe32(expected, 40, test::Le32(wav, 40) - std::uint32_t(removed));
  const Bytes after = ReadFile(path_);
  ASSERT_EQ(after.size(), wav.size() - removed);
  EXPECT_EQ(test::Le32(after, 4), after.size() - 8);
  EXPECT_EQ(after, expected) << "head, sizes and tail byte for byte";

  EXPECT_EQ(Layout(),
            (Layouts{{0, 10000}, {10000, 10000 - c.cutFrames}, {20000 - c.cutFrames, 10000}}));
  EXPECT_EQ(track_->DataBytes(), 30000u * align - removed);
  EXPECT_EQ(track_->AudioModified(), 1u);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, track_->ViewSnapshot().cursorFrame);
  EXPECT_EQ(track_->ViewSnapshot().progress.High(), 10000 - c.cutFrames);
  EXPECT_EQ(ChunkBytes(track_->Chunk(1)), FramesOf(expected, align, 10000, 10000 - c.cutFrames));
  track_->SelectChunk(2);
  EXPECT_EQ(ChunkBytes(track_->Chunk(2)), FramesOf(wav, align, 20000, 10000)) << "later sound";
  EXPECT_TRUE(boxes_->Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Erase,
                         ::testing::Values(EraseCase{1, 0, 2000, 5000, 3000},
                                           EraseCase{2, 0, 2000, 5000, 3000},
                                           EraseCase{1, 37, 0, 1, 1},
                                           // cursor at or past the end: up to the last frame
                                           EraseCase{2, 26, 4000, 10000, 5999},
                                           EraseCase{1, 0, 4000, 60000, 5999}));

TEST_F(ChunkEditing, EraseRefusalsLeaveTheFileAlone) {
  const Bytes wav = MakeWav(30000, 1);
  OpenSource(wav);
  SetChunks({{0, 10000, u""}, {10000, 20000, u""}});
  Select(10000, 300);
  EXPECT_FALSE(track_->DeleteSelection()) << "anchor at the length";
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 300u) << "the anchor comes back to the cursor";
  Select(5000, 5000);
  EXPECT_FALSE(track_->DeleteSelection()) << "empty selection";
  Select(6000, 5000);
  EXPECT_FALSE(track_->DeleteSelection()) << "anchor after the cursor";
  EXPECT_EQ(ReadFile(path_), wav);
  EXPECT_EQ(track_->AudioModified(), 0u);
}

// The real chunk list behind the whole-file view follows the cut too.
TEST_F(ChunkEditing, EraseInTheWholeFileViewShiftsTheKeptChunks) {
  OpenSource(MakeWav(30000, 1));
  SetChunks({{0, 10000, u""}, {10000, 10000, u""}, {20000, 10000, u""}});
  ASSERT_TRUE(track_->SetWholeFileMode(true));
  Select(15000, 18000);
  ASSERT_TRUE(track_->DeleteSelection());
  EXPECT_EQ(Layout(), (Layouts{{0, 27000}}));
  ASSERT_TRUE(track_->SetWholeFileMode(false));
  EXPECT_EQ(Layout(), (Layouts{{0, 10000}, {10000, 7000}, {17000, 10000}}));
}

// Fails the n-th call of one file operation.
struct Failing {
  static inline int readsLeft = -1, writesLeft = -1;
  static inline bool failSync = false;
  // When set, every read and write first checks that the file at the path still holds
  // these bytes (counted in `changedWhileWorking`).
  static inline std::string watchPath;
  static inline Bytes watchBytes;
  static inline int watched = 0, changedWhileWorking = 0;
  static void Reset() {
    readsLeft = writesLeft = -1;
    failSync = false;
    watchPath.clear();
    watchBytes.clear();
    watched = changedWhileWorking = 0;
  }
  static void Watch() {
    if (watchPath.empty()) return;
    ++watched;
    if (test::ReadBytes(watchPath) != watchBytes) ++changedWhileWorking;
  }
  static int Sync(int fd) {
    Watch();
    if (failSync) return errno = EIO, -1;
    return ::fdatasync(fd);
  }
  static ssize_t Read(int fd, void* b, size_t n, off_t o) {
    Watch();
    if (readsLeft == 0) return errno = EIO, -1;
    if (readsLeft > 0) --readsLeft;
    return ::pread(fd, b, n, o);
  }
  static ssize_t Write(int fd, const void* b, size_t n, off_t o) {
    Watch();
    if (writesLeft == 0) return errno = ENOSPC, -1;
    if (writesLeft > 0) --writesLeft;
    return ::pwrite(fd, b, n, o);
  }
  static FileIo Io() {
    FileIo io = SystemFileIo();
    io.pread = Read;
    io.pwrite = Write;
    io.fdatasync = Sync;
    return io;
  }
};

struct CutFailure {
  int readsBefore;   // reads that succeed before one fails (-1: none fails)
  int writesBefore;  // writes likewise
  WavCutResult expected;
};

class CutFailures : public ::testing::TestWithParam<CutFailure> {};

// The cut is written into a new file: the source is only read, so a failure part way leaves
// it byte for byte as it was; a cut that succeeds gives the file without the range, with
// its sizes told.
TEST_P(CutFailures, NeverTouchTheSource) {
  const CutFailure f = GetParam();
  const std::string dir = test::MakeTempDir("cut");
  const std::string path = dir + "/f.wav";
  const Bytes wav = MakeWav(20000, 1, 10);  // 40062 bytes
  WriteFile(path, wav);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const int out = ::open((dir + "/cut.wav").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(out, 0);
  WavCut cut;
  cut.cutStart = 44 + 2000;
  cut.cutEnd = 44 + 5000;  // 3000 bytes out; the tail is 35018 bytes, 9 pieces of 4000
  cut.dataSizeOffset = 40;
  cut.newDataBytes = 40000 - 3000;
  cut.newRiffSize = test::Le32(wav, 4) - 3000;
  Failing::Reset();
  Failing::readsLeft = f.readsBefore;
  Failing::writesLeft = f.writesBefore;
  const FileIo io = Failing::Io();
  EXPECT_EQ(WriteCutWav(fd, cut, out, io, 4000), f.expected);
  Failing::Reset();
  ::close(fd);
  ::close(out);
  EXPECT_EQ(ReadFile(path), wav);
  if (f.expected == WavCutResult::Ok) {
    Bytes expected = wav;
    expected.erase(expected.begin() + 2044, expected.begin() + 5044);
    test::SetLe32(expected, 4, cut.newRiffSize);
    test::SetLe32(expected, 40, cut.newDataBytes);
    EXPECT_EQ(ReadFile(dir + "/cut.wav"), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CutFailures,
                         ::testing::Values(CutFailure{-1, -1, WavCutResult::Ok},
                                           CutFailure{0, -1, WavCutResult::MoveFailed},
                                           CutFailure{4, -1, WavCutResult::MoveFailed},
                                           CutFailure{-1, 0, WavCutResult::MoveFailed},
                                           CutFailure{-1, 5, WavCutResult::MoveFailed},
                                           // everything copied; the first size write fails
                                           CutFailure{-1, 10, WavCutResult::HeaderFailed}));

// A lesson on a read-only medium (a CD, a locked stick, a read-only share; as root a
// read-only mount): opening it for writing fails, reading does not.
int g_writeRefusal = EROFS;
plat::UniqueFd RefuseWriting(const std::string& path, unsigned flags, unsigned mode) {
  if (flags & plat::kOpenWrite) {
    errno = g_writeRefusal;
    return plat::UniqueFd();
  }
  return plat::OpenFile(path, flags, mode);
}

TEST_F(ChunkEditing, AWavThatCannotBeWrittenLoadsAndItsEraseIsRefusedWithABox) {
  const Bytes wav = MakeWav(30000, 1);
  path_ = dir_ + "/lesson.wav";
  WriteFile(path_, wav);
  for (int refusal : {EROFS, EACCES, EPERM}) {
    SCOPED_TRACE(std::strerror(refusal));
    g_writeRefusal = refusal;
    boxes_->Clear();
    CSoundTrackTestAccess::SetSourceOpener(*track_, &RefuseWriting);
    ASSERT_TRUE(track_->LoadTrack(path_)) << track_->LoadError();
    ASSERT_EQ(Layout(), (Layouts{{0, 30000}}));
    EXPECT_EQ(ChunkBytes(track_->Chunk(0)), FramesOf(wav, 2, 0, 30000)) << "there to play";
    Select(1000, 3000);
    EXPECT_FALSE(track_->DeleteSelection());
    ASSERT_EQ(boxes_->Boxes().size(), 1u);
    EXPECT_EQ(boxes_->Boxes()[0].text,
              u"The sound file cannot be changed (it is read-only): nothing was erased.");
    EXPECT_EQ(ReadFile(path_), wav);
    EXPECT_EQ(Layout(), (Layouts{{0, 30000}}));
    EXPECT_EQ(track_->AudioModified(), 0u);
    EXPECT_EQ(ChunkBytes(track_->Chunk(0)), FramesOf(wav, 2, 0, 30000)) << "nothing else lost";
  }
  // The same file where it can be written is cut as before.
  boxes_->Clear();
  CSoundTrackTestAccess::SetSourceOpener(*track_, &plat::OpenFile);
  ASSERT_TRUE(track_->LoadTrack(path_));
  Select(1000, 3000);
  EXPECT_TRUE(track_->DeleteSelection());
  EXPECT_TRUE(boxes_->Boxes().empty());
  EXPECT_EQ(ReadFile(path_).size(), wav.size() - 4000);
}

TEST_F(ChunkEditing, AFailedEraseIsReportedAndKeepsTheChunks) {
  const Bytes wav = MakeWav(30000, 1);
  OpenSource(wav);
  SetChunks({{0, 10000, u""}, {10000, 20000, u""}});
  Failing::Reset();
  Failing::writesLeft = 0;
  static FileIo io = Failing::Io();
  SetEditFileIo(&io);
  Select(1000, 3000);
  EXPECT_FALSE(track_->DeleteSelection());
  SetEditFileIo(nullptr);

  EXPECT_EQ(ReadFile(path_), wav);
  EXPECT_EQ(Layout(), (Layouts{{0, 10000}, {10000, 20000}}));
  EXPECT_EQ(track_->DataBytes(), 60000u);
  EXPECT_EQ(track_->AudioModified(), 0u);
  ASSERT_EQ(boxes_->Boxes().size(), 1u);
  EXPECT_EQ(boxes_->Boxes()[0].text.rfind(u"Could not erase the selection in the sound file.", 0),
            0u);
  EXPECT_NE(boxes_->Boxes()[0].text.find(u"No space left on device"), std::u16string::npos);
  EXPECT_TRUE(track_->Chunk(0)->IsLoaded()) << "the chunk is back in memory";
}

// An erase is all or nothing: whatever fails, and wherever a kill would stop it, the file
// at the lesson's path is the old one, byte for byte, until the cut one takes its place
// whole; the chunks change only with it, and the box tells why.
struct EraseFailure {
  const char* what;
  int readsBefore;
  int writesBefore;
  bool failSync;
};

class EraseFailures : public ChunkEditing, public ::testing::WithParamInterface<EraseFailure> {};

TEST_P(EraseFailures, LeaveTheFileAndTheChunksAsTheyWere) {
  const EraseFailure f = GetParam();
  const Bytes wav = MakeWav(30000, 1, 12);
  OpenSource(wav);
  SetChunks({{0, 10000, u""}, {10000, 20000, u""}}, 1);
  Failing::Reset();
  Failing::readsLeft = f.readsBefore;
  Failing::writesLeft = f.writesBefore;
  Failing::failSync = f.failSync;
  Failing::watchPath = path_;
  Failing::watchBytes = wav;
  static FileIo io = Failing::Io();
  SetEditFileIo(&io);
  Select(1000, 3000);
  EXPECT_FALSE(track_->DeleteSelection());
  SetEditFileIo(nullptr);
  EXPECT_GT(Failing::watched, 0);
  EXPECT_EQ(Failing::changedWhileWorking, 0) << "the file was half cut while the erase ran";
  Failing::Reset();

  EXPECT_EQ(ReadFile(path_), wav);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"source.wav"}) << "nothing left beside";
  EXPECT_EQ(Layout(), (Layouts{{0, 10000}, {10000, 20000}}));
  EXPECT_EQ(track_->DataBytes(), 60000u);
  EXPECT_EQ(track_->AudioModified(), 0u);
  ASSERT_EQ(boxes_->Boxes().size(), 1u);
  const std::u16string text = boxes_->Boxes()[0].text;
  EXPECT_EQ(text.rfind(u"Could not erase the selection in the sound file.", 0), 0u);
  EXPECT_GT(text.size(), std::u16string(u"Could not erase the selection in the sound file.").size())
      << "the reason is told";
  EXPECT_EQ(ChunkBytes(track_->Chunk(1)), FramesOf(wav, 2, 10000, 20000)) << "the sound is read";
}

INSTANTIATE_TEST_SUITE_P(Cases, EraseFailures,
                         ::testing::Values(EraseFailure{"first read", 0, -1, false},
                                           EraseFailure{"a later read", 1, -1, false},
                                           EraseFailure{"first write", -1, 0, false},
                                           EraseFailure{"second write", -1, 1, false},
                                           EraseFailure{"a later write", -1, 3, false},
                                           EraseFailure{"the sync", -1, -1, true}),
                         [](const auto& info) {
                           std::string name = info.param.what;
                           for (char& c : name)
                             if (c == ' ') c = '_';
                           return name;
                         });

// A successful erase is watched too: until the cut file is in place, the old one stands.
TEST_F(ChunkEditing, AnEraseNeverLeavesAHalfCutFileAtThePath) {
  const Bytes wav = MakeWav(30000, 2, 12);
  OpenSource(wav);
  SetChunks({{0, 10000, u""}, {10000, 20000, u""}});
  Failing::Reset();
  Failing::watchPath = path_;
  Failing::watchBytes = wav;
  static FileIo io = Failing::Io();
  SetEditFileIo(&io);
  Select(1000, 3000);
  EXPECT_TRUE(track_->DeleteSelection());
  SetEditFileIo(nullptr);
  EXPECT_GT(Failing::watched, 0);
  EXPECT_EQ(Failing::changedWhileWorking, 0);
  Failing::Reset();
  EXPECT_EQ(ReadFile(path_).size(), wav.size() - 8000);
  EXPECT_EQ(FilesIn(dir_), std::vector<std::string>{"source.wav"});
}

// The erase cuts the WAV in place, so the chunk list on disk beside it is cut with it: its
// borders after the cut move back, a chunk the cut covers goes with its line of the texts,
// and every other byte stays. Bookmarks and texts not saved yet stay unsaved.
TEST_F(ChunkEditing, EraseCutsTheChunkListBesideTheSoundFile) {
  constexpr std::uint32_t kMs = 441;  // frames of 10 ms
  const auto cif = [](std::vector<std::pair<std::uint32_t, std::uint32_t>> records) {
    Bytes b;
    for (auto [start, length] : records) {
      test::PutLe32(b, start);
      test::PutLe32(b, length);
    }
    return b;
  };
  const Bytes utf16 = test::ToBytes(std::string("\xFF\xFEo\0n\0e\0\r\0\n\0t\0w\0o\0\r\0\n\0t\0h\0r\0e\0e\0\r\0\n\0", 36));
  const Bytes eightBit = test::ToBytes("one\r\ntwo\r\nthree\r\n");
  struct Case {
    const char* what;
    bool wholeFile, mp3;
    Bytes txt;
    std::uint32_t anchor, cursor;  // in the current chunk (chunk 0, or the whole file)
    Bytes cifAfter, txtAfter;
  } cases[] = {
      {"a cut inside the first chunk", false, false, utf16, 20 * kMs, 40 * kMs,
       cif({{0, 800}, {800, 500}, {1300, 1500}}), utf16},
      {"a cut over a whole chunk", true, false, eightBit, 90 * kMs, 160 * kMs,
       cif({{0, 900}, {900, 1400}}), test::ToBytes("one\r\nthree\r\n")},
      {"an MP3 itself is not cut", false, true, utf16, 20 * kMs, 40 * kMs,
       cif({{0, 1000}, {1000, 500}, {1500, 1500}}), utf16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    track_->Close();
    OpenSource(MakeWav(300 * kMs, 1));
    WriteFile(dir_ + "/source.cif", cif({{0, 1000}, {1000, 500}, {1500, 1500}}));
    WriteFile(dir_ + "/source.txt", c.txt);
    CSoundTrackTestAccess::SetIsMp3(*track_, c.mp3);
    ASSERT_TRUE(track_->ReadChunkList(dir_ + "/source.cif"));
    ASSERT_TRUE(track_->ReadChunkTexts(dir_ + "/source.txt"));
    ASSERT_TRUE(track_->SetChunkText(u"typed, not saved"));
    if (c.wholeFile) {
      ASSERT_TRUE(track_->SetWholeFileMode(true));
    }
    Select(c.anchor, c.cursor);
    ASSERT_TRUE(track_->DeleteSelection());
    EXPECT_EQ(ReadFile(dir_ + "/source.cif"), c.cifAfter);
    EXPECT_EQ(ReadFile(dir_ + "/source.txt"), c.txtAfter);
    if (c.wholeFile) {
      ASSERT_TRUE(track_->SetWholeFileMode(false));
    }
    EXPECT_EQ(track_->Chunk(0)->text, u"typed, not saved");
    EXPECT_TRUE(track_->IsModified());
    if (c.mp3) continue;
    // Started again on the cut file, the chunks stand where they stood after the cut.
    Layouts afterCut;
    for (auto [start, length] : Layout())
      if (length > 0) afterCut.emplace_back(start, length);
    track_->Close();
    ASSERT_TRUE(track_->LoadTrack(path_));
    EXPECT_EQ(Layout(), afterCut);
  }
}

// ------------------------------------------------------------------ whole-file view

TEST_F(ChunkEditing, WholeFileModeRoundTrip) {
  const Bytes wav = MakeWav(30000, 2);
  OpenSource(wav);
  SetChunks({{0, 10000, u"one"}, {10000, 5000, u"two"}, {15000, 15000, u"three"}}, 2);
  CSoundTrackTestAccess::SetModified(*track_,
                                     true);  // unsaved bookmarks stay unsaved across the view

  ASSERT_TRUE(track_->SetWholeFileMode(true));
  EXPECT_TRUE(track_->WholeFileMode());
  EXPECT_EQ(Layout(), (Layouts{{0, 30000}}));
  EXPECT_EQ(Layout(CSoundTrackTestAccess::KeptChunks(*track_)),
            (Layouts{{0, 10000}, {10000, 5000}, {15000, 15000}}));
  EXPECT_EQ(track_->CurrentChunkIndex(), 0);
  EXPECT_EQ(track_->ViewSnapshot().framesPerPixel, 64u);
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), FramesOf(wav, 4, 0, 30000));
  for (const auto& kept : CSoundTrackTestAccess::KeptChunks(*track_))
    EXPECT_FALSE(kept->IsLoaded());
  EXPECT_EQ(log_.Codes().back(), 2u);
  EXPECT_FALSE(track_->SetWholeFileMode(true)) << "already on: the kept list must survive";
  EXPECT_EQ(track_->KeptChunkCount(), 3);

  log_.Clear();
  ASSERT_TRUE(track_->SetWholeFileMode(false));
  EXPECT_FALSE(track_->WholeFileMode());
  EXPECT_EQ(Layout(), (Layouts{{0, 10000}, {10000, 5000}, {15000, 15000}}));
  EXPECT_EQ(track_->KeptChunkCount(), 0);
  EXPECT_EQ(track_->Chunk(2)->text, u"three");
  EXPECT_EQ(track_->CurrentChunkIndex(), 0);
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), FramesOf(wav, 4, 0, 10000));
  EXPECT_EQ(log_.Codes().back(), 2u);
  EXPECT_TRUE(track_->IsModified());
  EXPECT_FALSE(track_->SetWholeFileMode(false)) << "already off: the chunks must survive";
  EXPECT_EQ(track_->ChunkCount(), 3);
}

// ------------------------------------------------------------------ chunk switching

// A chunk whose sound cannot be written to its file is left all the same (the other track
// moves on too), but keeps its sound in memory, where it is the only copy; the user is told
// once; when the folder takes files again, leaving it writes it.
TEST_F(ChunkEditing, AChunkThatCannotBeSavedIsLeftButStaysInMemory) {
  for (int i = 0; i < 2; ++i) ASSERT_NE(track_->AddChunk(), nullptr);
  track_->SelectChunk(0);
  const std::vector<std::int16_t> recording(8000, 4321);
  test::FillChunk(track_->Chunk(0), recording);
  const std::string folder = track_->TempFolderPath();
  CSoundTrackTestAccess::SetTempFolder(*track_, dir_ + "/gone/");  // writes fail
  log_.Clear();
  track_->SelectChunk(1);
  EXPECT_EQ(track_->CurrentChunkIndex(), 1) << "switched";
  ASSERT_TRUE(track_->Chunk(0)->IsLoaded()) << "the only copy stays";
  EXPECT_EQ(track_->Chunk(0)->dataSize, 16000u);
  ASSERT_EQ(boxes_->Boxes().size(), 1u) << "told";
  track_->SelectChunk(0);
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), test::Pcm16(recording));
  EXPECT_EQ(track_->ViewSnapshot().progress.High(), 8000u);
  track_->SelectChunk(1);
  EXPECT_EQ(boxes_->Boxes().size(), 1u) << "told once";

  CSoundTrackTestAccess::SetTempFolder(*track_, folder);
  track_->SelectChunk(-7);
  track_->SelectChunk(2);
  EXPECT_EQ(track_->CurrentChunkIndex(), 1) << "indices outside the list change nothing";
  track_->SelectChunk(0);
  track_->SelectChunk(1);
  EXPECT_FALSE(track_->Chunk(0)->IsLoaded()) << "written when it was left";
  track_->SelectChunk(0);
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), test::Pcm16(recording));
}

// The Student's takes with a temporary folder that takes no more sound (full, deleted, or a
// file in its place): Next still moves on to a new chunk, the next take goes there, the
// earlier one stays, and a save writes both.
TEST_F(ChunkEditing, TakesSurviveATemporaryFolderThatTakesNoFile) {
  const std::vector<std::int16_t> first(12 * 4410, 1200), second(5 * 4410, -500);
  for (const char* how : {"full", "deleted", "a file"}) {
    SCOPED_TRACE(how);
    const bool full = std::string(how) == "full";
    track_->FreeChunks();
    boxes_->Clear();
    CTransport transport;
    ASSERT_NE(track_->AddChunk(), nullptr);
    track_->SelectChunk(0);
    test::FillChunk(track_->Chunk(0), first);
    const std::string folder = track_->TempFolderPath();
    std::string broken = dir_ + "/broken-" + how;
    if (std::string(how) == "a file") WriteFile(broken, Bytes{1});
    if (!full) CSoundTrackTestAccess::SetTempFolder(*track_, broken + "/");

    {
      std::optional<test::FileSizeLimit> disk;
      if (full) disk.emplace(0);
      transport.StepNext(*track_);
    }
    EXPECT_EQ(track_->CurrentChunkIndex(), 1) << "Next moved on";
    ASSERT_EQ(track_->ChunkCount(), 2);
    test::FillChunk(track_->Chunk(1), second);
    EXPECT_EQ(boxes_->Boxes().size(), 1u) << "told once";
    const std::string saved = dir_ + "/student-" + std::string(how) + ".wav";
    ASSERT_TRUE(track_->SaveTrack(saved));
    const Bytes file = ReadFile(saved);
    Bytes expected = test::Pcm16(first);
    const Bytes tail = test::Pcm16(second);
    expected.insert(expected.end(), tail.begin(), tail.end());
    ASSERT_EQ(file.size(), 44 + expected.size());
    EXPECT_EQ(Bytes(file.begin() + 44, file.end()), expected) << "both takes";
    EXPECT_TRUE(track_->Chunk(0)->IsLoaded());
    // The folder takes files again: leaving the take writes it, under its kept name.
    CSoundTrackTestAccess::SetTempFolder(*track_, folder);
    track_->SelectChunk(0);
    EXPECT_FALSE(track_->Chunk(1)->IsLoaded());
    track_->SelectChunk(1);
    EXPECT_EQ(ChunkBytes(track_->Chunk(1)), tail);
  }
}

TEST_F(ChunkEditing, ReadSourceDataStopsAtTheEndOfTheSound) {
  const Bytes wav = MakeWav(30000, 1, 100);
  OpenSource(wav);
  SetChunks({{25000, 10000, u""}, {40000, 500, u""}});
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), FramesOf(wav, 2, 25000, 5000)) << "no LIST bytes";
  track_->SelectChunk(1);
  EXPECT_FALSE(track_->Chunk(1)->IsLoaded());
}

// A chunk list may reach past the sound: the cut stops at the end of the "data" chunk and
// what follows it (another chunk of the file) is kept.
TEST_F(ChunkEditing, EraseStopsAtTheEndOfTheSound) {
  const Bytes wav = MakeWav(30000, 1, 20);
  OpenSource(wav);
  SetChunks({{0, 25000, u""}, {25000, 10000, u""}}, 1);
  Select(3000, 8000);
  ASSERT_TRUE(track_->DeleteSelection());
  Bytes expected = wav;
  expected.erase(expected.begin() + 44 + 2 * 28000, expected.begin() + 44 + 2 * 30000);
  test::SetLe32(expected, 4, test::Le32(wav, 4) - 4000);
  test::SetLe32(expected, 40, 56000);
  EXPECT_EQ(ReadFile(path_), expected);
  EXPECT_EQ(Layout(), (Layouts{{0, 25000}, {25000, 8000}}));
}

// ------------------------------------------------------------------ received audio

TEST_F(ChunkEditing, ReceivedAudioReplacesAtZeroAndLeavesSilenceInGaps) {
  ASSERT_NE(track_->AddChunk(), nullptr);
  track_->SelectChunk(0);
  test::FillChunk(track_->Chunk(0), std::vector<std::int16_t>(3000, 99));
  log_.Clear();
  const std::vector<std::int16_t> block(1000, 500);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
  ASSERT_TRUE(track_->WriteSamplesAt(0, 2000, bytes));
  CChunkInfo* chunk = track_->Chunk(0);
  EXPECT_EQ(chunk->length, 1000u) << "frame 0 starts the chunk afresh";
  ASSERT_TRUE(track_->WriteSamplesAt(5000, 2000, bytes));
  EXPECT_EQ(chunk->length, 6000u);
  EXPECT_EQ(chunk->dataSize, 12000u);
  EXPECT_EQ(chunk->dataCapacity, kChunkGrowStep);
  const auto* s = reinterpret_cast<const std::int16_t*>(chunk->data);
  EXPECT_EQ(s[999], 500);
  EXPECT_EQ(s[1000], 0);
  EXPECT_EQ(s[4999], 0);
  EXPECT_EQ(s[5000], 500);
  EXPECT_EQ(track_->ViewSnapshot().framesPerPixel, 128u);
  EXPECT_TRUE(log_.Codes().empty()) << "no notification";
}

// Master audio received from the classroom replaces the current chunk's sound, also of a
// chunk read from the source file: it stays the chunk's sound when the whole-file view is
// switched on and off or the chunk is left and taken again, and a save (Send) writes it, not
// the source's sound under it.
TEST_F(ChunkEditing, ReceivedAudioOutlivesTheWholeFileViewAndAChunkSwitch) {
  const Bytes wav = MakeWav(30000, 1);
  const std::vector<std::int16_t> received(4000, 1234);
  const Bytes receivedBytes = test::Pcm16(received);
  struct Case {
    const char* what;
    std::function<void()> step;
  } cases[] = {
      {"the whole-file view on and off",
       [&] {
         EXPECT_TRUE(track_->SetWholeFileMode(true));
         EXPECT_TRUE(track_->SetWholeFileMode(false));
       }},
      {"to chunk 1 and back",
       [&] {
         track_->SelectChunk(1);
         track_->SelectChunk(0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    track_->Close();
    OpenSource(wav);
    SetChunks({{0, 10000, u"a"}, {10000, 20000, u"b"}});
    ASSERT_TRUE(track_->WriteSamplesAt(0, 8000, receivedBytes.data()));
    c.step();
    ASSERT_EQ(track_->CurrentChunkIndex(), 0);
    EXPECT_EQ(ChunkBytes(track_->Chunk(0)), receivedBytes);
    ASSERT_TRUE(track_->SaveTrack(dir_ + "/sent.wav"));
    const Bytes sent = ReadFile(dir_ + "/sent.wav");
    ASSERT_EQ(sent.size(), 44u + 8000 + 40000);
    EXPECT_EQ(Bytes(sent.begin() + 44, sent.begin() + 44 + 8000), receivedBytes);
    EXPECT_EQ(Bytes(sent.begin() + 44 + 8000, sent.end()), FramesOf(wav, 2, 10000, 20000));
  }
}

// A save runs on its own thread while the core thread goes on taking classroom audio: the
// chunk being written is switched away from (unloaded), taken again (reloaded) and
// replaced by received blocks. The save writes each chunk's sound whole, as it stood at
// one moment, and never reads memory that was let go.
struct SaveDuringAudio {
  const char* file;
  std::uint32_t frames;  // of the received sound in chunk 0
};

class SavesDuringReceivedAudio : public ChunkEditing,
                                 public ::testing::WithParamInterface<SaveDuringAudio> {};

TEST_P(SavesDuringReceivedAudio, WriteEachChunkWhole) {
  const SaveDuringAudio c = GetParam();
  const Bytes wav = MakeWav(30000, 1);
  OpenSource(wav);
  SetChunks({{0, 10000, u"a"}, {10000, 20000, u"b"}});
  const Bytes soundA = test::Pcm16(std::vector<std::int16_t>(c.frames, 1111));
  const Bytes soundB = test::Pcm16(std::vector<std::int16_t>(c.frames, -2222));
  ASSERT_TRUE(track_->WriteSamplesAt(0, std::uint32_t(soundA.size()), soundA.data()));
  const std::string saved = dir_ + "/" + c.file;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::atomic<bool> done{false};
    bool ok = false;
    std::thread save([&] {
      ok = track_->SaveTrack(saved);
      done = true;
    });
    for (int step = 0; !done; ++step) {
      // What the stream pipe does on the core thread: other chunk, back, new sound.
      track_->SelectChunk(1);
      track_->SelectChunk(0);
      const Bytes& next = step % 2 ? soundA : soundB;
      track_->WriteSamplesAt(0, std::uint32_t(next.size()), next.data());
    }
    save.join();
    ASSERT_TRUE(ok);
    if (std::string(c.file).ends_with(".wav")) {
      const Bytes file = ReadFile(saved);
      ASSERT_EQ(file.size(), 44u + soundA.size() + 40000);
      EXPECT_EQ(test::Le32(file, 40), file.size() - 44);
      const Bytes first(file.begin() + 44, file.begin() + 44 + soundA.size());
      EXPECT_TRUE(first == soundA || first == soundB) << "chunk 0 is one sound, whole";
      EXPECT_EQ(Bytes(file.begin() + 44 + soundA.size(), file.end()),
                FramesOf(wav, 2, 10000, 20000));
    }
  }
  EXPECT_TRUE(boxes_->Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, SavesDuringReceivedAudio,
                         ::testing::Values(SaveDuringAudio{"sent.wav", 8u << 20},
                                           SaveDuringAudio{"sent.mp3", 1u << 20}),
                         [](const auto& info) {
                           return std::string(info.param.file).ends_with(".wav") ? "Wav" : "Mp3";
                         });

// A chunk with a sound of its own is not in the source file: a cut there leaves it whole.
TEST_F(ChunkEditing, AnEraseLeavesAChunkWithItsOwnSoundAlone) {
  OpenSource(MakeWav(30000, 1));
  SetChunks({{0, 10000, u""}, {10000, 20000, u""}});
  const Bytes received = test::Pcm16(std::vector<std::int16_t>(12000, 77));
  ASSERT_TRUE(track_->WriteSamplesAt(0, std::uint32_t(received.size()), received.data()));
  track_->SelectChunk(1);
  Select(1000, 3000);  // source frames 11000 to 13000
  ASSERT_TRUE(track_->DeleteSelection());
  EXPECT_EQ(Layout(), (Layouts{{0, 12000}, {10000, 18000}}));
  track_->SelectChunk(0);
  EXPECT_EQ(ChunkBytes(track_->Chunk(0)), received);
}

TEST_F(ChunkEditing, ReceivedBlocksThatCannotBeTakenAreDropped) {
  const std::vector<std::uint8_t> block(64, 1);
  EXPECT_FALSE(track_->WriteSamplesAt(0, 64, block.data())) << "no current chunk";
  ASSERT_NE(track_->AddChunk(), nullptr);
  track_->SelectChunk(0);
  ASSERT_TRUE(track_->WriteSamplesAt(0, 64, block.data()));
  struct Case {
    std::uint32_t firstFrame, bytes;
    const char* why;
  } cases[] = {
      {32, 63, "not whole frames"},
      {0xFFFFFFFFu, 2, "wraps in 32 bits"},
      {0x7FFFFFFFu, 64, "past the cap"},
      {std::uint32_t(CSoundTrack::kMaxReceivedBytes / 2), 2, "just past the cap"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(track_->WriteSamplesAt(c.firstFrame, c.bytes, block.data())) << c.why;
  }
  EXPECT_FALSE(track_->WriteSamplesAt(32, 2, nullptr)) << "no samples";
  CChunkInfo* chunk = track_->Chunk(0);
  EXPECT_EQ(chunk->length, 32u) << "unchanged";
  EXPECT_EQ(chunk->dataSize, 64u);

  PcmFormat stereo = track_->Format();
  stereo.channels = 2;
  stereo.blockAlign = 4;
  CSoundTrackTestAccess::SetFormat(*track_, stereo);
  EXPECT_FALSE(track_->WriteSamplesAt(16, 6, block.data())) << "half a stereo frame";
  ASSERT_TRUE(track_->WriteSamplesAt(16, 8, block.data()));
  EXPECT_EQ(chunk->length, 18u) << "frames, not samples";
}

// ------------------------------------------------------------------ the waveform

TEST_F(ChunkEditing, ClicksKeepTheCursorInTheChunk) {
  ASSERT_NE(track_->AddChunk(), nullptr);
  test::FillChunk(track_->Chunk(0), std::vector<std::int16_t>(5000, 1));
  track_->SelectChunk(0);  // the position bar's range is the chunk's length
  CSoundTrackTestAccess::EditView(*track_, [](WaveformViewState& v) {
    v.framesPerPixel = 256;
    v.viewStartFrame = 0;
  });
  log_.Clear();
  track_->OnWaveformMouse(true, 10);
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 2560u);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 2560u);
  EXPECT_EQ(track_->ViewSnapshot().progress.Pos(), 2560u);
  track_->OnWaveformMouse(true, 100);  // right of the short waveform
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 5000u);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 5000u);
  track_->OnWaveformMouse(true, -3);
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 0u);
  EXPECT_EQ(log_.Codes(), (Codes{8, 8, 8}));
  CSoundTrackTestAccess::EditView(*track_, [](WaveformViewState& v) { v.anchorFrame = 3000; });
  track_->OnWaveformMouse(false, 0);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 0u) << "the anchor comes to a cursor left of it";
}

#if VTS_WITH_TRACK_WAVEFORM
TEST_F(ChunkEditing, TheStripDrawsTheTracksChunkAndItsClicksReachTheTrack) {
  CTrackWaveform link(*track_);
  link.SetStripRect(12, 125, 200);
  const Bytes wav = MakeWav(60000, 1);
  OpenSource(wav);
  SetChunks({{0, 60000, u""}});
  track_->RedrawWaveform(0, 256);
  CWaveformStrip& strip = link.WaveformStrip();
  {
    std::lock_guard lock(strip.Lock());
    ASSERT_EQ(strip.DrawingImage().width(), 200);
    EXPECT_EQ(strip.View().viewFrames, 200u * 256u);
    EXPECT_EQ(strip.Bar().High(), 60000);
    int strokes = 0;  // column pixels off the centre line
    for (int x = 0; x < 200; ++x)
      for (int y = 0; y < 52; ++y)
        if (y != 26 && strip.DrawingImage().pixel(x, y) == kWaveformLineColour) ++strokes;
    EXPECT_GT(strokes, 200);
  }

  log_.Clear();
  strip.OnLeftButtonDown(link, 100, false);
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 25600u);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 25600u);
  EXPECT_EQ(track_->ViewSnapshot().progress.Pos(), 25600u);
  EXPECT_EQ(log_.Codes(), Codes{8});
  strip.OnLeftDrag(link, -40);  // dragged left of the strip while held
  EXPECT_EQ(track_->ViewSnapshot().cursorFrame, 0u);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 25600u);
  strip.OnWaveformMouse(link, false, -40);
  EXPECT_EQ(track_->ViewSnapshot().anchorFrame, 0u);

  // The track's own changes reach the strip: Ctrl+click splits and the cursor goes home.
  strip.OnLeftButtonDown(link, 50, true);
  EXPECT_EQ(Layout(), (Layouts{{0, 12800}, {12800, 47200}}));
  std::lock_guard lock(strip.Lock());
  EXPECT_EQ(strip.View().cursorFrame, 0u);
  EXPECT_EQ(strip.Bar().High(), 12800);
}

// Run under the address sanitizer this shows reads past the loaded sound.
TEST_F(ChunkEditing, RedrawsOfAChunkLongerThanItsSoundStayInItsData) {
  CTrackWaveform link(*track_);
  link.SetStripRect(0, 0, 300);
  OpenSource(MakeWav(30000, 1));
  SetChunks({{29000, 5000, u""}});  // 1000 frames of sound behind a length of 5000
  ASSERT_EQ(track_->CurrentChunk()->dataSize, 2000u);
  for (std::uint32_t first : {0u, 960u, 999u, 1000u, 4999u, 5000u, 90000u}) {
    for (std::uint32_t fpp : {0u, 1u, 3u, 256u}) track_->RedrawWaveform(first, fpp);
  }
  std::lock_guard lock(link.Strip().Lock());
  EXPECT_EQ(link.Strip().View().viewFrames, 0u) << "a first frame past the end shows nothing";
}

TEST_F(ChunkEditing, TheStripLetsGoOfTheTrack) {
  {
    CTrackWaveform link(*track_);
    link.SetStripRect(0, 0, 100);
    EXPECT_EQ(track_->WaveformDrawer(), &link);
  }
  EXPECT_EQ(track_->WaveformDrawer(), nullptr);
  track_->RedrawWaveform(0, 64);  // no window: nothing to draw into, no crash
}
#endif

}  // namespace
}  // namespace vts
