// Loading and saving a track: WAV, MP3 and ".vxb" round trips, a table of bad inputs, safe
// saving (the old file survives every failure), and the load and save threads' codes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "captured_blocks.h"
#include "core/product_name.h"
#include "package/zip.h"
#include "platform/message_box.h"
#include "platform/utf.h"
#include "sound_track_test_access.h"
#include "test_env.h"
#include "test_files.h"
#include "track_doubles.h"
#include "zip_test_util.h"
#include "tracks/side_files.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

using test::Bytes;
using test::MakeWav;
using test::Pcm16;
using test::PutLe32;
using test::WavSpec;
// Deterministic noise-like samples (every bit pattern matters for "identical").
std::vector<std::int16_t> Noise(std::size_t count, std::uint32_t seed = 1) {
  std::vector<std::int16_t> s(count);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : s) {
    x = x * 1664525u + 1013904223u;
    v = std::int16_t(x >> 16);
  }
  return s;
}

std::vector<std::int16_t> Tone(std::size_t count, double amplitude) {
  std::vector<std::int16_t> s(count);
  for (std::size_t i = 0; i < count; ++i)
    s[i] = std::int16_t(amplitude * std::sin(2 * M_PI * 440.0 * double(i) / 44100.0));
  return s;
}

void WriteFile(const std::string& path, const Bytes& bytes) { test::WriteBytes(path, bytes); }
Bytes ReadFile(const std::string& path) { return test::ReadBytes(path); }
bool Exists(const std::string& path) { return test::PathExists(path); }

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names = test::FolderEntries(folder);
  std::sort(names.begin(), names.end());
  return names;
}

Bytes Cif(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> records) {
  Bytes b;
  for (auto [start, length] : records) {
    PutLe32(b, start);
    PutLe32(b, length);
  }
  return b;
}

std::vector<std::string> ZipEntryNames(const std::string& path) {
  std::vector<std::string> names;
  ZipHandle* h = OpenZipReaderFile(path);
  if (h == nullptr) return names;
  for (int i = 0;; ++i) {
    ZipEntryInfo info;
    if (GetZipEntryInfo(h, i, info) != ZR_OK) break;
    names.push_back(plat::Utf16ToUtf8(info.name));
  }
  CloseZipReader(h);
  return names;
}

// A sound of chunks, each silent but for a 1600 Hz burst from 100 ms into it to 100 ms
// before its end: where a burst begins shows where the chunk's sound stands.
std::vector<std::int16_t> MarkedChunks(const std::vector<std::uint32_t>& lengths,
                                       std::uint32_t rate, std::uint16_t channels) {
  std::vector<std::int16_t> s;
  for (std::uint32_t length : lengths) {
    const std::uint32_t edge = rate / 10;
    for (std::uint32_t i = 0; i < length; ++i) {
      const bool on = i >= edge && i + edge < length;
      const auto v = on ? std::int16_t(12000 * std::sin(2 * M_PI * 1600.0 * (i - edge) / rate)) : 0;
      s.insert(s.end(), channels, v);
    }
  }
  return s;
}

// The first frame from `from` on whose first channel reaches half the bursts' height; -1
// when none does before `to`.
long Onset(const std::int16_t* s, std::uint16_t channels, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (std::abs(s[i * channels]) >= 6000) return long(i);
  return -1;
}

double Rms(const std::int16_t* s, std::size_t n) {
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += double(s[i]) * s[i];
  return n ? std::sqrt(sum / double(n)) : 0;
}

class TrackLoadSave : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes_ = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes_);
    dir_ = test::MakeTempDir("files") + "/";
  }
  void TearDown() override {
    core_.Attach(nullptr, nullptr);
    plat::SetMessageBoxService(nullptr);
  }
  // Tracks named "Master" are routed as the Master, others as the Student (their capture
  // stops' end marks must arrive). A track is detached before it is destroyed.
  struct Detacher {
    TrackLoadSave* fixture;
    void operator()(CSoundTrack* t) const {
      if (fixture->master_ == t) fixture->master_ = nullptr;
      if (fixture->student_ == t) fixture->student_ = nullptr;
      fixture->core_.Attach(fixture->master_, fixture->student_);
      delete t;
    }
  };
  using TrackPtr = std::unique_ptr<CSoundTrack, Detacher>;
  TrackPtr MakeTrack(const std::string& name = "Master") {
    TrackPtr t(new CSoundTrack(core_.Id(), name, &state_), Detacher{this});
    t->SetNotifyTarget(log_.Target());
    (name == "Master" ? master_ : student_) = t.get();
    core_.Attach(master_, student_);
    return t;
  }
  // A track loaded from a mono 44100 Hz WAV of `samples`, with optional side files.
  TrackPtr Loaded(const std::string& name, const std::vector<std::int16_t>& samples,
                  const Bytes* cif = nullptr, const Bytes* txt = nullptr) {
    const std::string path = dir_ + name;
    WriteFile(path, MakeWav({}, Pcm16(samples)));
    std::string base = path.substr(0, path.rfind('.'));
    if (cif) WriteFile(base + ".cif", *cif);
    if (txt) WriteFile(base + ".txt", *txt);
    auto track = MakeTrack();
    EXPECT_TRUE(track->LoadTrack(path));
    return track;
  }
  std::vector<std::u16string> Texts(CSoundTrack& t) {
    std::vector<std::u16string> texts;
    for (int i = 0; i < t.ChunkCount(); ++i) texts.push_back(t.Chunk(i)->text);
    return texts;
  }
  std::vector<std::uint32_t> Lengths(CSoundTrack& t) {
    std::vector<std::uint32_t> v;
    for (int i = 0; i < t.ChunkCount(); ++i) v.push_back(t.Chunk(i)->length);
    return v;
  }

  EngineStateBlock state_;
  test::CoreThreadDouble core_;
  CSoundTrack* master_ = nullptr;
  CSoundTrack* student_ = nullptr;
  test::NotifyLog log_;
  std::shared_ptr<plat::RecordingMessageBoxService> boxes_;
  std::string dir_;
};

// ------------------------------------------------------------------ WAV round trips

TEST_F(TrackLoadSave, WavRoundTripKeepsEverySampleAndTheSideFiles) {
  // Stereo at 48 kHz with a LIST chunk on either side of the sound: the saved file is the
  // plain 44-byte header and exactly the same sample bytes.
  WavSpec spec;
  spec.channels = 2;
  spec.rate = 48000;
  spec.fmtSize = 18;
  spec.listBeforeData = true;
  spec.listAfterData = true;
  const Bytes pcm = Pcm16(Noise(2 * 72000));
  WriteFile(dir_ + "lesson.wav", MakeWav(spec, pcm));
  WriteFile(dir_ + "lesson.cif", Cif({{0, 500}, {500, 700}, {1200, 300}}));
  const std::vector<std::u16string> texts = {u"one", u"", u"dr\u00e9i"};
  WriteFile(dir_ + "lesson.txt", BuildTxtBody(texts));

  auto track = MakeTrack();
  ASSERT_TRUE(track->LoadTrack(dir_ + "lesson.wav"));
  EXPECT_EQ(track->Format().channels, 2);
  EXPECT_EQ(track->Format().samplesPerSec, 48000u);
  EXPECT_EQ(track->DataBytes(), pcm.size());
  EXPECT_EQ(Lengths(*track), (std::vector<std::uint32_t>{24000, 33600, 14400}));
  EXPECT_EQ(Texts(*track), texts);
  EXPECT_TRUE(track->TextsPresent());
  EXPECT_EQ(track->CurrentChunkIndex(), 0);
  EXPECT_EQ(track->SourcePath(), dir_ + "lesson.wav");

  track->Chunk(1)->text = u"two\r\nlines";
  CSoundTrackTestAccess::SetModified(*track, true);
  ASSERT_TRUE(track->SaveTrack(dir_ + "copy.wave"));  // the extension becomes "wav"
  EXPECT_FALSE(track->IsModified());
  EXPECT_FALSE(Exists(dir_ + "copy.wave"));
  EXPECT_EQ(ReadFile(dir_ + "copy.wav"), MakeWav({.channels = 2, .rate = 48000}, pcm));
  std::vector<std::u16string> saved;
  ASSERT_EQ(ReadTxtFile(dir_ + "copy.txt", saved), SideFileStatus::Ok);
  EXPECT_EQ(saved, (std::vector<std::u16string>{u"one", u"two lines", u"dr\u00e9i"}));
  EXPECT_FALSE(Exists(dir_ + "copy.cif")) << "a WAV save writes no chunk list";
  EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"copy.txt", "copy.wav", "lesson.cif",
                                                     "lesson.txt", "lesson.wav"}));
  EXPECT_TRUE(boxes_->Boxes().empty());
}

TEST_F(TrackLoadSave, WavWithoutSideFilesIsOneChunkAndCanBeSavedOverItself) {
  const auto samples = Noise(30000, 7);
  auto track = Loaded("solo.wav", samples);
  EXPECT_EQ(Lengths(*track), std::vector<std::uint32_t>{30000});
  EXPECT_FALSE(track->TextsPresent());
  // The source stays readable while its file is replaced.
  ASSERT_TRUE(track->SaveTrack(dir_ + "solo.wav"));
  EXPECT_EQ(ReadFile(dir_ + "solo.wav"), MakeWav({}, Pcm16(samples)));
  ASSERT_TRUE(track->SaveTrack(dir_ + "solo.wav"));
  EXPECT_EQ(ReadFile(dir_ + "solo.wav"), MakeWav({}, Pcm16(samples)));
}

TEST_F(TrackLoadSave, RecordedChunksAreSavedInOrderFromTheirTemporaryFiles) {
  auto track = MakeTrack("Student");
  const auto a = Noise(5000, 1), b = Noise(7001, 2);
  for (const auto* s : {&a, &b}) {
    CChunkInfo* chunk = track->AddChunk();
    ASSERT_NE(chunk, nullptr);
    test::FillChunk(chunk, *s);
    ASSERT_TRUE(track->SaveChunk(track->ChunkCount() - 1));
    chunk->Unload();
  }
  track->SelectChunk(1);
  std::vector<std::int16_t> all = a;
  all.insert(all.end(), b.begin(), b.end());
  ASSERT_TRUE(track->SaveTrack(dir_ + "take.wav"));
  EXPECT_EQ(ReadFile(dir_ + "take.wav"), MakeWav({}, Pcm16(all)));
  EXPECT_TRUE(track->CurrentChunk()->IsLoaded()) << "the current chunk is in memory again";
  EXPECT_FALSE(track->Chunk(0)->IsLoaded()) << "other chunks are unloaded after the save";
}

TEST_F(TrackLoadSave, ChunksOfLengthZeroSaveAnEmptyWavAndNoChunkList) {
  auto track = MakeTrack("Student");
  ASSERT_NE(track->AddChunk(), nullptr);
  ASSERT_NE(track->AddChunk(), nullptr);
  ASSERT_TRUE(track->SaveTrack(dir_ + "empty.wav"));
  EXPECT_EQ(ReadFile(dir_ + "empty.wav"), MakeWav({}, {}));
  EXPECT_TRUE(track->BuildChunkList().empty());
  EXPECT_EQ(track->ChunksToSave(), 0);
  CSoundTrackTestAccess::SetModified(*track, true);
  EXPECT_TRUE(track->WriteChunkList(dir_ + "empty.cif"));
  EXPECT_FALSE(Exists(dir_ + "empty.cif"));
  EXPECT_FALSE(track->IsModified());
}

// ------------------------------------------------------------------ side files on load

TEST_F(TrackLoadSave, ChunkListReadingOnLoad) {
  struct Case {
    const char* name;
    Bytes cif;
    std::vector<std::uint32_t> lengths;
  };
  // 2 s of sound at 44100 Hz.
  const std::vector<Case> cases = {
      {"two records", Cif({{0, 1000}, {1000, 500}}), {44100, 22050}},
      {"12 bytes: refused, one chunk", Bytes(12, 0), {88200}},
      {"0 bytes: refused, one chunk", Bytes{}, {88200}},
      {"past the end: clamped", Cif({{1500, 1000}, {3000, 10}}), {22050, 0}},
      {"huge length", Cif({{0, 0xFFFFFFFFu}}), {88200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto track = Loaded("c.wav", Noise(88200), &c.cif);
    EXPECT_EQ(Lengths(*track), c.lengths);
    EXPECT_FALSE(track->IsModified());
  }
}

// ------------------------------------------------------------------ reading the lesson once

// Counts, per byte of a file, how often the track's source reads went over it.
struct ReadCounter {
  static inline std::vector<std::uint8_t> counts;
  static ssize_t Pread(int fd, void* buffer, size_t bytes, off_t offset) {
    const ssize_t r = plat::SystemFileIo().pread(fd, buffer, bytes, offset);
    for (ssize_t i = 0; i < r; ++i) {
      const std::size_t at = std::size_t(offset) + std::size_t(i);
      if (at >= counts.size()) counts.resize(at + 1, 0);
      if (counts[at] < 255) ++counts[at];
    }
    return r;
  }
  static plat::FileIo Io() {
    plat::FileIo io = plat::SystemFileIo();
    io.pread = &Pread;
    return io;
  }
};

// What the last waveform draw was handed, with a digest of the samples it saw.
struct DrawRecorder : IWaveformDrawer {
  struct Seen {
    bool hasChunk = false;
    std::uint32_t lengthFrames = 0, frames = 0, firstColumn = 0, columns = 0, fpp = 0;
    std::uint64_t digest = 0;
    bool operator==(const Seen&) const = default;
  };
  Seen last;
  int draws = 0;
  void DrawWaveform(CSoundTrack&, const WaveformView& v) override {
    Seen s{v.hasChunk, v.lengthFrames, v.frames, v.firstColumn, v.columns, v.framesPerPixel, 0};
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < v.sampleCount; ++i) h = (h ^ std::uint16_t(v.samples[i])) * 1099511628211ull;
    s.digest = h;
    last = s;
    ++draws;
  }
  void RepaintWaveform(CSoundTrack&) override {}
};

TEST_F(TrackLoadSave, ALoadReadsEachByteOfTheLessonOnceAndShowsWhatItShowedBefore) {
  struct Case {
    const char* what;
    std::optional<Bytes> cif;
    std::vector<std::uint32_t> lengths;
  };
  // 3 s of stereo sound at 44100 Hz.
  const Case cases[] = {
      {"no chunk list", std::nullopt, {132300}},
      {"a chunk list", Cif({{0, 1000}, {1000, 1500}, {2500, 500}}), {44100, 66150, 22050}},
      {"a chunk list starting later", Cif({{500, 2500}}), {110250}},
  };
  const Bytes pcm = Pcm16(Noise(2 * 132300, 5));
  const Bytes wav = MakeWav({.channels = 2}, pcm);
  const std::size_t dataOffset = wav.size() - pcm.size();
  static const plat::FileIo counting = ReadCounter::Io();
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base = dir_ + "lesson" + std::to_string(++n);
    WriteFile(base + ".wav", wav);
    if (c.cif) WriteFile(base + ".cif", *c.cif);
    auto track = MakeTrack();
    DrawRecorder drawer;
    track->SetWaveformDrawer(&drawer);
    CSoundTrackTestAccess::SetSourceFileIo(*track, &counting);
    ReadCounter::counts.assign(wav.size(), 0);
    ASSERT_TRUE(track->LoadTrack(base + ".wav")) << track->LoadError();

    EXPECT_EQ(Lengths(*track), c.lengths);
    EXPECT_EQ(track->CurrentChunkIndex(), 0);
    EXPECT_FALSE(track->IsModified());
    // Chunk 0's sound is in memory, read once; nothing else of the file was read.
    const CChunkInfo* first = track->Chunk(0);
    ASSERT_TRUE(first->IsLoaded());
    const std::size_t from = dataOffset + std::size_t(first->start) * 4;
    const std::size_t bytes = std::size_t(first->length) * 4;
    ASSERT_EQ(first->dataSize, bytes);
    EXPECT_TRUE(std::equal(first->data, first->data + bytes, pcm.begin() + (from - dataOffset)));
    std::size_t once = 0, more = 0, outside = 0;
    int most = 0;
    for (std::size_t i = 0; i < ReadCounter::counts.size(); ++i) {
      const bool inChunk = i >= from && i < from + bytes;
      const int reads = ReadCounter::counts[i];
      most = std::max(most, reads);
      if (inChunk && reads == 1) ++once;
      if (reads > 1) ++more;
      if (!inChunk && reads > 0) ++outside;
    }
    EXPECT_EQ(once, bytes) << "bytes of chunk 0 read exactly once";
    EXPECT_EQ(more, 0u) << "bytes read more than once (up to " << most << " times)";
    EXPECT_EQ(outside, 0u) << "bytes read outside chunk 0";

    // The waveform shows what a select of chunk 0 read afresh from the file shows.
    ASSERT_GT(drawer.draws, 0);
    const DrawRecorder::Seen loaded = drawer.last;
    EXPECT_TRUE(loaded.hasChunk);
    EXPECT_EQ(loaded.frames, first->length);
    // A select of the chunk that is loaded reads nothing more.
    const std::vector<std::uint8_t> readBefore = ReadCounter::counts;
    track->SelectChunk(0);
    EXPECT_TRUE(ReadCounter::counts == readBefore) << "the select of the loaded chunk read again";
    EXPECT_EQ(drawer.last, loaded);
    EXPECT_EQ(track->ViewSnapshot().progress.High(), track->Chunk(0)->length);
    CSoundTrackTestAccess::SetSourceFileIo(*track, nullptr);
    track->SetWaveformDrawer(nullptr);
  }
}

// A select reads from the lesson only the chunk's sound that is not in memory, and never
// reads over a sound that was changed in memory.
TEST_F(TrackLoadSave, ASelectReadsOnlyWhatIsNotInMemoryAndKeepsWhatWasChanged) {
  enum Step { kSelect0, kSelect1, kTake, kReceive, kWholeFile };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    int chunk0Reads, chunk1Reads, restReads = 0;  // per byte, since the load
  };
  const Case cases[] = {
      {"the loaded chunk again", {kSelect0, kSelect0}, 0, 0},
      {"another chunk, then back", {kSelect1, kSelect0}, 1, 1},
      {"another chunk, back, then again", {kSelect1, kSelect0, kSelect0}, 1, 1},
      {"a take in memory, then the chunk again", {kTake, kSelect0}, 0, 0},
      {"received sound, then the chunk again", {kReceive, kSelect0}, 0, 0},
      {"received sound, another chunk, then back", {kReceive, kSelect1, kSelect0}, 0, 1},
      {"the whole-file view", {kWholeFile}, 1, 1, 1},
  };
  // 3 s of mono sound at 44100 Hz in chunks of 1 s and 1.5 s.
  const Bytes pcm = Pcm16(Noise(132300, 9));
  const Bytes wav = MakeWav({}, pcm);
  const std::size_t dataOffset = wav.size() - pcm.size();
  const std::vector<std::int16_t> take = Noise(30000, 3);
  const Bytes received = Pcm16(Noise(20000, 4));
  static const plat::FileIo counting = ReadCounter::Io();
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string base = dir_ + "selected" + std::to_string(++n);
    WriteFile(base + ".wav", wav);
    WriteFile(base + ".cif", Cif({{0, 1000}, {1000, 1500}}));
    auto track = MakeTrack();
    track->GetTempSoundFolder("MasterSelects");
    CSoundTrackTestAccess::SetSourceFileIo(*track, &counting);
    ASSERT_TRUE(track->LoadTrack(base + ".wav")) << track->LoadError();
    ReadCounter::counts.assign(wav.size(), 0);
    std::optional<Bytes> changed;
    for (Step step : c.steps) {
      if (step == kSelect0) track->SelectChunk(0);
      if (step == kSelect1) track->SelectChunk(1);
      if (step == kTake) {
        test::FillChunk(track->Chunk(0), take);
        changed = Pcm16(take);
      }
      if (step == kReceive) {
        ASSERT_TRUE(track->WriteSamplesAt(0, std::uint32_t(received.size()), received.data()));
        changed = received;
      }
      if (step == kWholeFile) ASSERT_TRUE(track->SetWholeFileMode(true));
    }
    ASSERT_EQ(track->CurrentChunkIndex(), 0);
    const CChunkInfo* chunk = track->Chunk(0);
    ASSERT_TRUE(chunk->IsLoaded());
    const Bytes sound(chunk->data, chunk->data + chunk->dataSize);
    const Bytes source(pcm.begin(), track->WholeFileMode() ? pcm.end() : pcm.begin() + 44100 * 2);
    EXPECT_TRUE(sound == (changed ? *changed : source)) << "chunk 0 holds what it held";
    EXPECT_EQ(chunk->length, sound.size() / 2);
    EXPECT_EQ(track->ViewSnapshot().progress.High(), chunk->length);
    if (!chunk->fileName.empty())
      EXPECT_TRUE(ReadFile(track->TempFolderPath() + chunk->fileName) == sound)
          << "the changed chunk is written to its file";
    std::vector<int> wrong(3, 0);  // bytes of chunk 0, chunk 1, elsewhere read a wrong count
    for (std::size_t i = 0; i < ReadCounter::counts.size(); ++i) {
      const std::size_t frame = i < dataOffset ? SIZE_MAX : (i - dataOffset) / 2;
      const int where = frame < 44100 ? 0 : frame < 110250 ? 1 : 2;
      const int expected = where == 0   ? c.chunk0Reads
                           : where == 1 ? c.chunk1Reads
                           : frame < 132300 ? c.restReads
                                            : 0;
      if (ReadCounter::counts[i] != expected) ++wrong[where];
    }
    EXPECT_EQ(wrong, (std::vector<int>{0, 0, 0})) << "bytes read too often or too seldom";
    CSoundTrackTestAccess::SetSourceFileIo(*track, nullptr);
  }
}

TEST_F(TrackLoadSave, TextsWithMoreLinesThanChunksAddChunks) {
  const Bytes cif = Cif({{0, 100}});
  const Bytes txt = BuildTxtBody(std::vector<std::u16string>{u"a", u"b", u"c"});
  auto track = Loaded("t.wav", Noise(44100), &cif, &txt);
  EXPECT_EQ(Lengths(*track), (std::vector<std::uint32_t>{4410, 0, 0}));
  EXPECT_EQ(Texts(*track), (std::vector<std::u16string>{u"a", u"b", u"c"}));
}

TEST_F(TrackLoadSave, SideFilesOfMillionsOfRecordsMakeAtMost65535Chunks) {
  Bytes cif;
  for (std::uint32_t i = 0; i < 1'000'000; ++i) {
    PutLe32(cif, 0);
    PutLe32(cif, 1);
  }
  Bytes txt = {0xFF, 0xFE};
  for (int i = 0; i < 2'470'000; ++i) txt.insert(txt.end(), {'\r', 0, '\n', 0});
  const struct {
    const char* what;
    const Bytes* cif;
    const Bytes* txt;
  } cases[] = {{"chunk list", &cif, nullptr}, {"texts", nullptr, &txt}, {"both", &cif, &txt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto track = Loaded("many.wav", Noise(4410), c.cif, c.txt);
    EXPECT_EQ(track->ChunkCount(), 65535);
  }
}

TEST_F(TrackLoadSave, ChunkTextGoesToTheCurrentChunkAndAddsOneWhenThereIsNone) {
  auto track = MakeTrack("Student");
  track->GetTempSoundFolder("StudentTexts");
  ASSERT_EQ(track->ChunkCount(), 0);
  ASSERT_TRUE(track->SetChunkText(u"first"));
  ASSERT_EQ(track->ChunkCount(), 1);
  EXPECT_EQ(track->CurrentChunkIndex(), 0);
  EXPECT_TRUE(track->IsModified());
  ASSERT_TRUE(track->SetChunkText(std::u16string(u"second\0tail", 11)));
  EXPECT_EQ(Texts(*track), (std::vector<std::u16string>{u"second"})) << "replaced, cut at NUL";
}

// ------------------------------------------------------------------ bad input

TEST_F(TrackLoadSave, BadInputFailsCleanlyOrLoadsWhatCanBePlayed) {
  const Bytes pcm = Pcm16(Noise(4410));
  Bytes truncatedPackage;
  {
    // A real package cut in half.
    auto track = Loaded("whole.wav", Noise(44100));
    ASSERT_TRUE(track->SaveTrack(dir_ + "whole.vxb"));
    truncatedPackage = ReadFile(dir_ + "whole.vxb");
    truncatedPackage.resize(truncatedPackage.size() / 2);
  }
  Bytes flippedPackage = ReadFile(dir_ + "whole.vxb");
  for (std::size_t i = 40; i < flippedPackage.size(); i += 97) flippedPackage[i] ^= 0x5A;

  struct Case {
    const char* name;
    std::string file;
    Bytes bytes;
    bool loads;
    std::uint32_t frames;  // when it loads
  };
  const std::vector<Case> cases = {
      {"18-byte fmt", "a.wav", MakeWav({.fmtSize = 18}, pcm), true, 4410},
      {"LIST before fmt", "b.wav", MakeWav({.listBeforeFmt = true}, pcm), true, 4410},
      {"LIST before data", "c.wav", MakeWav({.listBeforeData = true}, pcm), true, 4410},
      {"data size past the end: clamped", "d.wav", MakeWav({.declaredDataBytes = 1000000}, pcm),
       true, 4410},
      {"data size of odd bytes: whole frames", "e.wav",
       [&] {
         Bytes b = MakeWav({}, pcm);
         b.pop_back();
         return b;
       }(),
       true, 4409},
      {"8-bit", "f.wav", MakeWav({.bits = 8}, pcm), false, 0},
      {"24-bit", "g.wav", MakeWav({.bits = 24}, Bytes(4410 * 3, 1)), false, 0},
      {"32-bit float", "h.wav", MakeWav({.tag = 3, .bits = 32}, pcm), false, 0},
      {"3 channels", "i.wav", MakeWav({.channels = 3}, Bytes(6 * 100, 0)), false, 0},
      {"block align not channels x 2", "j.wav", MakeWav({.channels = 2, .blockAlign = 2}, pcm),
       false, 0},
      {"zero rate", "k.wav", MakeWav({.rate = 0}, pcm), false, 0},
      {"no data chunk", "l.wav", MakeWav({.noData = true}, pcm), false, 0},
      {"empty data", "m.wav", MakeWav({}, {}), false, 0},
      {"not RIFF", "n.wav", Bytes(100, 'x'), false, 0},
      {"truncated header", "o.wav",
       [&] {
         Bytes b = MakeWav({}, pcm);
         b.resize(30);
         return b;
       }(),
       false, 0},
      {"empty file", "p.wav", Bytes{}, false, 0},
      {"truncated package", "q.vxb", truncatedPackage, false, 0},
      {"bit-flipped package", "r.vxb", flippedPackage, false, 0},
      {"package that is no archive", "s.vxb", Bytes(300, 0x50), false, 0},
      {"MP3 that is noise", "t.mp3", Bytes(5000, 0x33), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir_ + c.file, c.bytes);
    // Each load follows a good one: nothing of the earlier file may be left behind.
    auto track = Loaded("good.wav", Noise(2000));
    ASSERT_EQ(track->ChunkCount(), 1);
    const bool loaded = track->LoadTrack(dir_ + c.file);
    EXPECT_EQ(loaded, c.loads);
    if (loaded) {
      EXPECT_EQ(Lengths(*track), std::vector<std::uint32_t>{c.frames});
      EXPECT_EQ(track->DataBytes(), c.frames * 2);
      ASSERT_TRUE(track->CurrentChunk()->IsLoaded());
      EXPECT_EQ(0, std::memcmp(track->CurrentChunk()->data, pcm.data(), c.frames * 2));
    } else {
      EXPECT_EQ(track->ChunkCount(), 0);
      EXPECT_EQ(track->CurrentChunkIndex(), -1);
      EXPECT_FALSE(track->HasSourceFile());
      EXPECT_TRUE(track->SourcePath().empty());
      EXPECT_EQ(track->Format().channels, 0);
      EXPECT_TRUE(Entries(track->TempFolderPath()).empty()) << "nothing unpacked is kept";
    }
  }
  EXPECT_TRUE(boxes_->Boxes().empty()) << "a load shows no message box";
}

TEST_F(TrackLoadSave, ShortOrMissingPathsFail) {
  auto track = MakeTrack();
  for (const std::string& path : {std::string("a.b"), std::string(""), dir_ + "missing.wav",
                                  dir_ + "missing.mp3", dir_ + "missing.vxb"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(track->LoadTrack(path));
    EXPECT_EQ(track->ChunkCount(), 0);
  }
}

TEST_F(TrackLoadSave, FailedLoadAlsoDropsTheWholeFileView) {
  const Bytes cif = Cif({{0, 100}, {100, 100}});
  auto track = Loaded("v.wav", Noise(44100), &cif);
  ASSERT_TRUE(track->SetWholeFileMode(true));
  ASSERT_EQ(track->KeptChunkCount(), 2);
  EXPECT_FALSE(track->LoadTrack(dir_ + "nothing.wav"));
  EXPECT_FALSE(track->WholeFileMode());
  EXPECT_EQ(track->KeptChunkCount(), 0);
  EXPECT_EQ(track->ChunkCount(), 0);
}

// ------------------------------------------------------------------ MP3 and package

TEST_F(TrackLoadSave, PackageRoundTripKeepsChunksTextsAndWhereTheSoundIs) {
  // Silence, a tone, silence: one second each, as three chunks with texts.
  std::vector<std::int16_t> samples(44100, 0);
  const auto tone = Tone(44100, 12000);
  samples.insert(samples.end(), tone.begin(), tone.end());
  samples.insert(samples.end(), 44100, 0);
  const Bytes cif = Cif({{0, 1000}, {1000, 1000}, {2000, 1000}});
  const std::vector<std::u16string> texts = {u"quiet", u"tone \u00fc", u""};
  const Bytes txt = BuildTxtBody(texts);
  auto track = Loaded("src.wav", samples, &cif, &txt);
  ASSERT_EQ(track->ChunkCount(), 3);

  ASSERT_TRUE(track->SaveTrack(dir_ + "work.vxb"));
  EXPECT_EQ(ZipEntryNames(dir_ + "work.vxb"),
            (std::vector<std::string>{"work.txt", "work.mpa", "work.cif"}));
  EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"src.cif", "src.txt", "src.wav", "work.vxb"}))
      << "no MP3 or temporary file is left beside the package";

  auto again = MakeTrack("Student");
  ASSERT_TRUE(again->LoadTrack(dir_ + "work.vxb"));
  EXPECT_TRUE(again->IsPackage());
  EXPECT_EQ(again->Format().samplesPerSec, 44100u);
  EXPECT_EQ(again->Format().channels, 1);
  EXPECT_EQ(Texts(*again), texts);
  EXPECT_EQ(Entries(again->TempFolderPath()),
            (std::vector<std::string>{"work.cif", "work.mp3", "work.txt", "work.wav"}));
  // The decoded sound may be longer by the encoder's delay and padding, never shorter.
  const std::uint32_t total = again->DataBytes() / 2;
  EXPECT_GE(total, samples.size());
  EXPECT_LE(total, samples.size() + 3 * 1152);
  ASSERT_EQ(again->ChunkCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(again->Chunk(i)->start, std::uint32_t(44100 * i));
    EXPECT_EQ(again->Chunk(i)->length, 44100u);
  }
  // Each chunk still holds its part of the sound: the delay shifts it by far less than the
  // 100 ms left out at the chunks' edges.
  std::vector<double> rms;
  for (int i = 0; i < 3; ++i) {
    again->SelectChunk(i);
    CChunkInfo* c = again->CurrentChunk();
    ASSERT_TRUE(c->IsLoaded());
    const auto* s = reinterpret_cast<const std::int16_t*>(c->data);
    rms.push_back(Rms(s + 4410, c->dataSize / 2 - 2 * 4410));
  }
  EXPECT_LT(rms[0], 200);
  EXPECT_GT(rms[1], 6000);
  EXPECT_LT(rms[2], 200);
}

TEST_F(TrackLoadSave, PackageChunkListIsContiguousWhateverTheStartsSay) {
  const Bytes cif = Cif({{0, 1000}, {2000, 1000}});  // a gap
  auto track = Loaded("gap.wav", Noise(3 * 44100), &cif);
  ASSERT_TRUE(track->SaveTrack(dir_ + "gap.vxb"));
  auto again = MakeTrack("Student");
  ASSERT_TRUE(again->LoadTrack(dir_ + "gap.vxb"));
  std::vector<CifRecord> records;
  ASSERT_EQ(ReadCifFile(again->TempFolderPath() + "gap.cif", records), SideFileStatus::Ok);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].startMs, 0u);
  EXPECT_EQ(records[1].startMs, 1000u);
  EXPECT_EQ(records[1].lengthMs, 1000u);
  EXPECT_FALSE(again->TextsPresent()) << "no texts, no texts entry";
  EXPECT_EQ(ZipEntryNames(dir_ + "gap.vxb"), (std::vector<std::string>{"gap.mpa", "gap.cif"}));
}

TEST_F(TrackLoadSave, Mp3SaveAndLoadInBothChannelModes) {
  for (std::uint16_t channels : {1, 2}) {
    SCOPED_TRACE(channels);
    const std::uint32_t frames = 2 * 22050;
    WriteFile(dir_ + "in.wav",
              MakeWav({.channels = channels, .rate = 22050}, Pcm16(Tone(frames * channels, 8000))));
    auto track = MakeTrack();
    ASSERT_TRUE(track->LoadTrack(dir_ + "in.wav"));
    ASSERT_TRUE(track->SaveTrack(dir_ + "out.MP3"));
    const Bytes mp3 = ReadFile(dir_ + "out.mp3");  // the extension is replaced
    ASSERT_EQ(::rename((dir_ + "out.mp3").c_str(), (dir_ + "out.MP3").c_str()), 0);
    ASSERT_GT(mp3.size(), 4u);
    // 2 s at 64 kbit/s per channel, give or take the first and last frames.
    EXPECT_NEAR(double(mp3.size()), 2 * 8000.0 * channels, 2500.0 * channels);

    auto again = MakeTrack("Student");
    ASSERT_TRUE(again->LoadTrack(dir_ + "out.MP3")) << "upper-case extension is an MP3 too";
    EXPECT_TRUE(again->IsMp3());
    EXPECT_EQ(again->Format().channels, channels);
    EXPECT_EQ(again->Format().samplesPerSec, 22050u);
    EXPECT_GE(again->DataBytes() / again->Format().blockAlign, frames);
  }
}

// An MP3 saved here tells other decoders its encoder's delay and padding: ours and ffmpeg
// give back the sound exactly as long as it was, the bursts where they were. One without
// that information (LAME's "-t") decodes whole, delay and padding included, as ever.
TEST_F(TrackLoadSave, SavedMp3DecodesToItsOwnLengthHereAndElsewhere) {
  ASSERT_EQ(test::Run("command -v ffmpeg lame >/dev/null"), 0) << "ffmpeg and lame are needed";
  struct Case {
    std::uint32_t rate;
    std::uint16_t channels;
  };
  for (const Case& c : {Case{44100, 1}, Case{48000, 2}, Case{22050, 1}}) {
    SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.channels));
    const std::uint32_t frames = c.rate * 3 / 2 + 37;
    const auto samples = MarkedChunks({frames}, c.rate, c.channels);
    const long onset = Onset(samples.data(), c.channels, 0, frames);
    WriteFile(dir_ + "in.wav", MakeWav({.channels = c.channels, .rate = c.rate}, Pcm16(samples)));
    auto track = MakeTrack();
    ASSERT_TRUE(track->LoadTrack(dir_ + "in.wav"));
    ASSERT_TRUE(track->SaveTrack(dir_ + "out.mp3"));

    auto again = MakeTrack("Student");
    ASSERT_TRUE(again->LoadTrack(dir_ + "out.mp3"));
    const std::uint32_t ours = again->DataBytes() / again->Format().blockAlign;
    EXPECT_EQ(ours, frames);
    ASSERT_TRUE(again->CurrentChunk() && again->CurrentChunk()->IsLoaded());
    const auto* pcm = reinterpret_cast<const std::int16_t*>(again->CurrentChunk()->data);
    EXPECT_NEAR(Onset(pcm, c.channels, 0, ours), onset, 4);

    ASSERT_EQ(test::Run("ffmpeg -v error -y -i " + test::Q(dir_ + "out.mp3") + " " +
                        test::Q(dir_ + "ffmpeg.wav")),
              0);
    const Bytes theirs = ReadFile(dir_ + "ffmpeg.wav");
    // ffmpeg writes a LIST chunk before the sound: the data chunk is found by its tag.
    const std::string tag = "data";
    const auto at = std::search(theirs.begin(), theirs.end(), tag.begin(), tag.end());
    ASSERT_NE(at, theirs.end());
    const std::size_t dataAt = std::size_t(at - theirs.begin()) + 8;
    const std::size_t theirFrames = (theirs.size() - dataAt) / (2u * c.channels);
    EXPECT_NEAR(double(theirFrames), frames, 2);
    const auto* ff = reinterpret_cast<const std::int16_t*>(theirs.data() + dataAt);
    EXPECT_NEAR(Onset(ff, c.channels, 0, theirFrames), onset, 4);

    ASSERT_EQ(test::Run("lame --quiet -t -b " + std::to_string(64 * c.channels) + " " +
                        test::Q(dir_ + "in.wav") + " " +
                        test::Q(dir_ + "bare.mp3")),
              0);
    auto bare = MakeTrack("Student");
    ASSERT_TRUE(bare->LoadTrack(dir_ + "bare.mp3"));
    const std::uint32_t spf = c.rate >= 32000 ? 1152 : 576;
    const std::uint32_t whole = bare->DataBytes() / bare->Format().blockAlign;
    EXPECT_EQ(whole % spf, 0u) << "every frame decoded";
    EXPECT_GE(whole, frames + 1105);
  }
}

// A lesson saved as ".vxb", opened and saved again and again keeps its sound on its chunks
// and its length: each burst begins where it began, no chunk takes its neighbour's sound.
// The chunk lengths are not whole tens of milliseconds (a ".cif" from elsewhere).
TEST_F(TrackLoadSave, PackageRoundsKeepTheSoundOnItsChunks) {
  const Bytes cif = Cif({{0, 1234}, {1234, 1517}, {2751, 987}});
  std::vector<std::uint32_t> lengths;
  for (std::uint32_t ms : {1234u, 1517u, 987u}) lengths.push_back(44100u * ms / 1000);
  const auto samples = MarkedChunks(lengths, 44100, 1);
  const long onset = Onset(samples.data(), 1, 0, lengths[0]);
  auto track = Loaded("lesson.wav", samples, &cif);
  ASSERT_EQ(track->ChunkCount(), 3);
  const std::uint32_t total = std::uint32_t(samples.size());
  std::vector<TrackPtr> rounds;
  std::vector<std::uint32_t> first;  // start and length of each chunk
  for (int round = 1; round <= 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string name = "round" + std::to_string(round) + ".vxb";
    CSoundTrack& last = rounds.empty() ? *track : *rounds.back();
    ASSERT_TRUE(last.SaveTrack(dir_ + name));
    rounds.push_back(MakeTrack(round % 2 ? "Student" : "Master"));
    CSoundTrack& t = *rounds.back();
    ASSERT_TRUE(t.LoadTrack(dir_ + name));
    ASSERT_EQ(t.ChunkCount(), 3);
    // The list keeps whole milliseconds: the first save may lose the last one's fraction
    // (under 45 frames), later rounds nothing at all.
    std::vector<std::uint32_t> now;
    for (int i = 0; i < 3; ++i) now.insert(now.end(), {t.Chunk(i)->start, t.Chunk(i)->length});
    if (first.empty()) first = now;
    EXPECT_EQ(now, first);
    EXPECT_NEAR(double(t.DataBytes() / 2), total, 44) << "the length is kept";
    std::uint32_t sum = 0;
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE("chunk " + std::to_string(i + 1));
      CChunkInfo* c = t.Chunk(i);
      EXPECT_NEAR(double(c->start), sum, 2);
      EXPECT_NEAR(double(c->length), lengths[i], i == 2 ? 44 : 2);
      sum += lengths[i];
      t.SelectChunk(i);
      ASSERT_TRUE(c->IsLoaded());
      const auto* s = reinterpret_cast<const std::int16_t*>(c->data);
      const std::size_t n = c->dataSize / 2;
      EXPECT_NEAR(Onset(s, 1, 0, n), onset, 4) << "the burst begins 100 ms in";
      // The chunk's last 50 ms are as silent as they were: none of the next burst.
      EXPECT_LT(Rms(s + n - 2205, 2205), 300);
    }
    if (rounds.size() > 2) rounds.erase(rounds.begin());
  }
}

// A disk that fills while a package is unpacked or its MP3 decoded fails the load, says why
// and leaves nothing in the temporary folder.
TEST_F(TrackLoadSave, FullDiskDuringUnpackingOrDecodingFailsTheLoadAndLeavesNoFile) {
  {
    auto track = Loaded("src.wav", Tone(5 * 44100, 8000));
    ASSERT_TRUE(track->SaveTrack(dir_ + "lesson.vxb"));
    ASSERT_TRUE(track->SaveTrack(dir_ + "lesson.mp3"));
  }
  const std::size_t mp3Bytes = ReadFile(dir_ + "lesson.mp3").size();
  ASSERT_GT(mp3Bytes, 20000u);
  const struct {
    const char* file;
    rlim_t limit;
    const char* why;
  } cases[] = {
      {"lesson.vxb", mp3Bytes / 2, "could not be written"},  // the ".mpa" does not fit
      {"lesson.mp3", mp3Bytes * 2, "could not be decoded"},  // the WAV (ten times larger) does not
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto track = MakeTrack();
    {
      test::FileSizeLimit limit(c.limit);
      ASSERT_TRUE(limit.ok());
      EXPECT_FALSE(track->LoadTrack(dir_ + c.file));
    }
    EXPECT_NE(track->LoadError().find(c.why), std::string::npos) << track->LoadError();
    EXPECT_TRUE(boxes_->Boxes().empty()) << "the load tells the window, never the user itself";
    EXPECT_EQ(Entries(track->TempFolderPath()), std::vector<std::string>{});
    EXPECT_TRUE(track->LoadTrack(dir_ + c.file)) << "with room, the same file loads";
    EXPECT_TRUE(track->LoadError().empty());
  }
}

TEST_F(TrackLoadSave, BuildPackagePacksTheTemporaryFolder) {
  auto track = Loaded("p.wav", Noise(44100));
  ASSERT_TRUE(track->SaveTrack(dir_ + "p.vxb"));
  ASSERT_TRUE(track->LoadTrack(dir_ + "p.vxb"));
  ASSERT_TRUE(track->WriteChunkList(track->TempFolderPath() + "p.cif"));
  ASSERT_TRUE(track->BuildPackage(dir_ + "p.vxb"));
  EXPECT_EQ(ZipEntryNames(dir_ + "p.vxb"), (std::vector<std::string>{"p.cif", "p.mpa"}));
  ASSERT_TRUE(track->LoadTrack(dir_ + "p.vxb"));
  EXPECT_EQ(track->ChunkCount(), 1);
}

// ------------------------------------------------------------------ safe saving

TEST_F(TrackLoadSave, FullDiskKeepsTheOldFileAndTheModifiedFlag) {
  // Ten seconds of noise; the texts are big and varied so that the package is clearly
  // larger than its MP3.
  const auto samples = Noise(10 * 44100, 3);
  Bytes cif;
  for (std::uint32_t i = 0; i < 10; ++i) {
    PutLe32(cif, i * 1000);
    PutLe32(cif, 1000);
  }
  std::vector<std::u16string> texts;
  std::uint32_t x = 5;
  for (int i = 0; i < 10; ++i) {
    std::u16string t;
    for (int k = 0; k < 1000; ++k) {
      x = x * 1664525u + 1013904223u;
      t.push_back(char16_t(0x4E00 + (x >> 16) % 0x5000));
    }
    texts.push_back(t);
  }
  const Bytes txt = BuildTxtBody(texts);
  auto track = Loaded("big.wav", samples, &cif, &txt);
  ASSERT_TRUE(track->SaveTrack(dir_ + "probe.vxb"));
  const std::size_t packageBytes = ReadFile(dir_ + "probe.vxb").size();
  ASSERT_TRUE(track->SaveTrack(dir_ + "probe.mp3"));
  const std::size_t mp3Bytes = ReadFile(dir_ + "probe.mp3").size();
  ASSERT_GT(packageBytes, mp3Bytes + 4096);

  struct Case {
    const char* name;
    std::string target;
    rlim_t limit;
    std::u16string text;
    std::u16string caption;
  };
  const std::u16string product = GetProductName();
  // The file that is too large is named with the system's reason (EFBIG).
  auto tooLarge = [&](const char* name) {
    return plat::Utf8ToUtf16("Unable to save to requested destination \"" + dir_ + name +
                             "\": File too large.");
  };
  const std::vector<Case> cases = {
      {"WAV", "old.wav", 100000, tooLarge("old.wav"), product},
      {"MP3", "old.mp3", 20000, tooLarge("old.mp3"), product},
      {"package: the sound", "old.vxb", 20000, tooLarge("old.vxb"), product},
      {"package: the archive", "old.vxb", (packageBytes + mp3Bytes) / 2,
       u"Unable to save to requested destination", product},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes old(5000, 0xAB);
    WriteFile(dir_ + c.target, old);
    WriteFile(dir_ + "old.txt", old);
    boxes_->Clear();
    log_.Clear();
    CSoundTrackTestAccess::SetModified(*track, true);
    bool saved;
    {
      test::FileSizeLimit limit(c.limit);
      ASSERT_TRUE(limit.ok());
      saved = track->SaveTrack(dir_ + c.target);
    }
    EXPECT_FALSE(saved);
    EXPECT_TRUE(track->IsModified()) << "unsaved work stays marked";
    EXPECT_EQ(ReadFile(dir_ + c.target), old) << "the old file is untouched";
    EXPECT_EQ(ReadFile(dir_ + "old.txt"), old);
    std::vector<std::string> expected = {"big.cif",   "big.txt",   "big.wav",  "old.txt",
                                         "probe.mp3", "probe.txt", "probe.vxb"};
    expected.push_back(c.target);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(Entries(dir_), expected) << "no partial file is left";
    const auto boxes = boxes_->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, c.caption);
    EXPECT_EQ(boxes[0].type, plat::MB_OK | plat::MB_ICONWARNING);
    // The track goes on working: with room again the same save succeeds.
    ASSERT_TRUE(track->SaveTrack(dir_ + c.target));
    EXPECT_FALSE(track->IsModified());
    ::unlink((dir_ + c.target).c_str());
  }
}

// A destination that refuses the file (a read-only or a missing folder, a file in the way)
// is told with its path and the system's reason, under the program's caption, in every
// format: nothing about it is an MP3 encoding error.
TEST_F(TrackLoadSave, ADestinationThatRefusesTheSaveIsNamedWithItsReason) {
  auto track = Loaded("src.wav", Noise(44100));
  WriteFile(dir_ + "plain", Bytes(10, 1));
  struct Case {
    std::string target;
    const char* reason;
  };
  const Case cases[] = {
      {dir_ + "gone/take.wav", "No such file or directory"},
      {dir_ + "gone/take.mp3", "No such file or directory"},
      {dir_ + "gone/take.vxb", "No such file or directory"},
      {dir_ + "plain/take.mp3", "Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    boxes_->Clear();
    EXPECT_FALSE(track->SaveTrack(c.target));
    const auto boxes = boxes_->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, plat::Utf8ToUtf16("Unable to save to requested destination \"" +
                                               c.target + "\": " + c.reason + "."));
    EXPECT_EQ(boxes[0].caption, GetProductName());
    EXPECT_EQ(boxes[0].type, plat::MB_OK | plat::MB_ICONWARNING);
  }
}

// A Save-As over a file keeps that file as " - Old", given its second name only once the new
// file is complete; a file already under the " - Old" name is never replaced (the next old
// version is numbered). A save that
// keeps nothing (the student's work) leaves no " - Old"; a failed one touches neither name.
TEST_F(TrackLoadSave, SavingOverAFileKeepsItAsOld) {
  auto track = Loaded("src.wav", Noise(44100));
  const Bytes first(3000, 0x11), second(3000, 0x22);
  for (const char* ext : {"wav", "mp3", "vxb"}) {
    SCOPED_TRACE(ext);
    const std::string target = dir_ + "a." + ext, old = dir_ + "a - Old." + ext;
    WriteFile(target, first);
    ASSERT_TRUE(track->SaveTrack(target, true));
    EXPECT_EQ(ReadFile(old), first);
    const Bytes saved = ReadFile(target);
    EXPECT_GT(saved.size(), 1000u);
    EXPECT_NE(saved, first);
    WriteFile(target, second);
    ASSERT_TRUE(track->SaveTrack(target, true));
    EXPECT_EQ(ReadFile(old), first) << "an old one is never replaced";
    EXPECT_EQ(ReadFile(target).size(), saved.size());

    const std::string plain = dir_ + "b." + ext;
    WriteFile(plain, first);
    ASSERT_TRUE(track->SaveTrack(plain));
    EXPECT_FALSE(Exists(dir_ + "b - Old." + ext));
  }
  {
    WriteFile(dir_ + "c.wav", first);
    test::FileSizeLimit limit(2000);
    ASSERT_TRUE(limit.ok());
    EXPECT_FALSE(track->SaveTrack(dir_ + "c.wav", true));
  }
  EXPECT_EQ(ReadFile(dir_ + "c.wav"), first);
  EXPECT_EQ(Entries(dir_),
            (std::vector<std::string>{"a - Old.mp3", "a - Old.vxb", "a - Old.wav", "a - Old[1].mp3",
                                      "a - Old[1].vxb", "a - Old[1].wav", "a.mp3", "a.vxb", "a.wav",
                                      "b.mp3", "b.vxb", "b.wav", "c.wav", "src.wav"}));
}

// Save-As over one name again and again: every version that stood there is kept, the
// first under " - Old", each later one under the first free " - Old[i]".
TEST_F(TrackLoadSave, SavingOverOneNameAgainKeepsEveryOldVersion) {
  auto track = Loaded("src.wav", Noise(44100));
  const Bytes first(3000, 0x11), second(3000, 0x22);
  for (const char* ext : {"wav", "mp3", "vxb"}) {
    SCOPED_TRACE(ext);
    const std::string target = dir_ + "a." + ext;
    WriteFile(target, first);
    ASSERT_TRUE(track->SaveTrack(target, true));
    const Bytes saved = ReadFile(target);
    WriteFile(target, second);
    ASSERT_TRUE(track->SaveTrack(target, true));
    ASSERT_TRUE(track->SaveTrack(target, true));
    EXPECT_EQ(ReadFile(dir_ + "a - Old." + ext), first);
    EXPECT_EQ(ReadFile(dir_ + "a - Old[1]." + ext), second);
    // A package's entries carry the second they were written in: saves a second apart differ
    // there only.
    const auto sameSave = [&](const Bytes& a) {
      return std::string(ext) == "vxb" ? a.size() == saved.size() : a == saved;
    };
    EXPECT_TRUE(sameSave(ReadFile(dir_ + "a - Old[2]." + ext)));
    EXPECT_TRUE(sameSave(ReadFile(target)));
  }
  EXPECT_EQ(Entries(dir_).size(), 13u);
}

TEST_F(TrackLoadSave, TextsThatCannotBeWrittenKeepBothOldFiles) {
  std::vector<std::u16string> texts;
  for (int i = 0; i < 20; ++i) texts.push_back(std::u16string(1000, char16_t(u'a' + i)));
  const Bytes txt = BuildTxtBody(texts);
  auto track = Loaded("short.wav", Noise(2000), nullptr, &txt);
  ASSERT_TRUE(track->TextsPresent());
  const Bytes old(3000, 0xCD);
  WriteFile(dir_ + "out.wav", old);
  WriteFile(dir_ + "out.txt", old);
  CSoundTrackTestAccess::SetModified(*track, true);
  {
    test::FileSizeLimit limit(10000);  // the sound fits, the texts do not
    ASSERT_TRUE(limit.ok());
    EXPECT_FALSE(track->SaveTrack(dir_ + "out.wav"));
  }
  EXPECT_TRUE(track->IsModified());
  EXPECT_EQ(ReadFile(dir_ + "out.wav"), old);
  EXPECT_EQ(ReadFile(dir_ + "out.txt"), old);
  EXPECT_EQ(Entries(dir_),
            (std::vector<std::string>{"out.txt", "out.wav", "short.txt", "short.wav"}));
  ASSERT_EQ(boxes_->Boxes().size(), 1u);
  EXPECT_EQ(boxes_->Boxes()[0].text,
            plat::Utf8ToUtf16("Unable to save to requested destination \"" + dir_ +
                              "out.txt\": File too large."));
}

TEST_F(TrackLoadSave, ChunkWhoseSoundIsGoneFailsTheSaveMidway) {
  auto track = MakeTrack("Student");
  for (int i = 0; i < 3; ++i) {
    CChunkInfo* chunk = track->AddChunk();
    ASSERT_NE(chunk, nullptr);
    test::FillChunk(chunk, Noise(20000, i));
    ASSERT_TRUE(track->SaveChunk(i));
    chunk->Unload();
  }
  track->SelectChunk(0);
  // The third chunk's file vanished: the first two are written before the save notices.
  ASSERT_EQ(::unlink((track->TempFolderPath() + track->Chunk(2)->fileName).c_str()), 0);
  const Bytes old(100, 1);
  for (const char* name : {"s.wav", "s.mp3"}) {
    SCOPED_TRACE(name);
    WriteFile(dir_ + name, old);
    CSoundTrackTestAccess::SetModified(*track, true);
    EXPECT_FALSE(track->SaveTrack(dir_ + name));
    EXPECT_TRUE(track->IsModified());
    EXPECT_EQ(ReadFile(dir_ + name), old);
  }
  EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"s.mp3", "s.wav"}));
}

// Its sound exists only in memory: the save writes it from there, and the user is told
// (once) that the temporary folder did not take it.
TEST_F(TrackLoadSave, CurrentChunkThatCannotBeWrittenIsSavedFromMemory) {
  auto track = MakeTrack("Student");
  CChunkInfo* chunk = track->AddChunk();
  ASSERT_NE(chunk, nullptr);
  track->SelectChunk(0);
  const std::vector<std::int16_t> sound = Noise(1000);
  test::FillChunk(chunk, sound);
  // A folder where the chunk's file should be: it cannot be written, even by root.
  const std::string file = track->TempFolderPath() + chunk->fileName;
  ASSERT_EQ(::unlink(file.c_str()), 0);
  ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
  CSoundTrackTestAccess::SetModified(*track, true);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(track->SaveTrack(dir_ + "x.wav"));
    const test::Bytes saved = test::ReadBytes(dir_ + "x.wav");
    ASSERT_EQ(saved.size(), 44u + 2000);
    EXPECT_EQ(test::Bytes(saved.begin() + 44, saved.end()), test::Pcm16(sound));
    EXPECT_FALSE(track->IsModified());
    EXPECT_TRUE(chunk->IsLoaded()) << "its sound is still in memory";
  }
  const auto boxes = boxes_->Boxes();
  ASSERT_EQ(boxes.size(), 1u) << "told once";
  EXPECT_EQ(boxes[0].caption, std::u16string(GetProductName()));
  ::rmdir(file.c_str());
}

TEST_F(TrackLoadSave, Mp3ErrorsShowTheirTexts) {
  struct Case {
    const char* name;
    std::uint16_t channels;
    std::uint32_t rate;
    std::string target;
    std::u16string text;  // empty: no box
    std::u16string caption = u"MP3 encoding error";
  };
  const std::vector<Case> cases = {
      {"no channels", 0, 44100, dir_ + "a.mp3", u"Incorrect number of channels in the file"},
      {"rate MP3 does not have", 1, 3000, dir_ + "b.mp3",
       u"Bad format reported during encoder initialization"},
      // Not the encoder's: the destination's own reason, under the program's caption.
      {"folder that does not exist", 1, 44100, dir_ + "none/c.mp3",
       plat::Utf8ToUtf16("Unable to save to requested destination \"" + dir_ +
                         "none/c.mp3\": No such file or directory."),
       GetProductName()},
      {"more than two channels", 3, 44100, dir_ + "d.mp3", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto track = MakeTrack("Student");
    CChunkInfo* chunk = track->AddChunk();
    ASSERT_NE(chunk, nullptr);
    test::FillChunk(chunk, Noise(6000));
    PcmFormat format = track->Format();
    format.channels = c.channels;
    format.samplesPerSec = c.rate;
    format.blockAlign = std::uint16_t(2 * std::max<int>(c.channels, 1));
    CSoundTrackTestAccess::SetFormat(*track, format);
    chunk->length = chunk->dataSize / track->Format().blockAlign;
    boxes_->Clear();
    EXPECT_FALSE(track->SaveTrack(c.target));
    const auto boxes = boxes_->Boxes();
    if (c.text.empty()) {
      EXPECT_TRUE(boxes.empty());
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.text);
      EXPECT_EQ(boxes[0].caption, c.caption);
    }
    EXPECT_FALSE(Exists(c.target));
  }
  EXPECT_EQ(Entries(dir_), std::vector<std::string>{});
}

TEST_F(TrackLoadSave, WriteChunkListCountsChunksAddedAfterASave) {
  const Bytes cif = Cif({{0, 500}, {500, 500}});
  auto track = Loaded("w.wav", Noise(44100), &cif);
  ASSERT_TRUE(track->SaveTrack(dir_ + "w2.wav"));
  EXPECT_EQ(track->ChunksToSave(), 2);
  {
    std::lock_guard lock(track->BufferLock());
    auto extra = std::make_unique<CChunkInfo>();
    extra->start = 44100;
    extra->length = 4410;
    CSoundTrackTestAccess::Chunks(*track).push_back(std::move(extra));
  }
  CSoundTrackTestAccess::SetModified(*track, true);
  ASSERT_TRUE(track->WriteChunkList(dir_ + "w2.cif"));
  EXPECT_FALSE(track->IsModified());
  EXPECT_EQ(ReadFile(dir_ + "w2.cif"), Cif({{0, 500}, {500, 500}, {1000, 100}}));
}

// ------------------------------------------------------------------ the threads' codes

TEST_F(TrackLoadSave, LoadAndSaveThreadsPostTheirCodeWhateverTheOutcome) {
  WriteFile(dir_ + "ok.wav", MakeWav({}, Pcm16(Noise(4410))));
  WriteFile(dir_ + "bad.wav", Bytes(64, 7));
  auto track = MakeTrack();
  int disabled = 0;
  track->SetWindowDisabledWhileSaving([&](bool enabled) { disabled += enabled ? 0 : 1; });

  struct Step {
    const char* name;
    bool save;
    std::string path;
  };
  const std::vector<Step> steps = {
      {"good load", false, dir_ + "ok.wav"},      {"good save", true, dir_ + "copy.wav"},
      {"failed load", false, dir_ + "bad.wav"},   {"failed save", true, dir_ + "no/where.wav"},
      {"missing file", false, dir_ + "gone.mp3"}, {"good load again", false, dir_ + "copy.wav"},
  };
  int loads = 0, saves = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    if (s.save) {
      EXPECT_TRUE(track->SaveAsync(s.path));
      ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_SAVED, ++saves));
      track->WaitForSave();
    } else {
      track->StartLoad(s.path);
      ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_LOADED, ++loads));
      track->WaitForLoad();
    }
  }
  EXPECT_EQ(disabled, 2);
  EXPECT_EQ(log_.Count(TRACK_NOTIFY_LOADED), 4);
  EXPECT_EQ(log_.Count(TRACK_NOTIFY_SAVED), 2);
  EXPECT_EQ(track->ChunkCount(), 1);
  EXPECT_EQ(ReadFile(dir_ + "copy.wav"), ReadFile(dir_ + "ok.wav"));
  // A good load ends with idle then loaded; its first notice is the refresh of the close.
  log_.Clear();
  track->StartLoad(dir_ + "ok.wav");
  ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_LOADED, 1));
  track->WaitForLoad();
  const auto codes = log_.Codes();
  ASSERT_GE(codes.size(), 3u);
  EXPECT_EQ(codes.front(), TRACK_NOTIFY_REFRESH);
  EXPECT_EQ(codes[codes.size() - 2], TRACK_NOTIFY_IDLE);
  EXPECT_EQ(codes.back(), TRACK_NOTIFY_LOADED);
}

TEST_F(TrackLoadSave, StartingAnotherLoadWaitsForTheRunningOne) {
  WriteFile(dir_ + "a.wav", MakeWav({}, Pcm16(Noise(44100, 1))));
  WriteFile(dir_ + "b.wav", MakeWav({}, Pcm16(Noise(22050, 2))));
  auto track = MakeTrack();
  track->StartLoad(dir_ + "a.wav");
  track->StartLoad(dir_ + "b.wav");  // never two load threads on one track
  ASSERT_TRUE(log_.WaitForCount(TRACK_NOTIFY_LOADED, 2));
  track->WaitForLoad();
  EXPECT_EQ(Lengths(*track), std::vector<std::uint32_t>{22050});
}

// A load replaces the track's engine while the core thread may still be handing it blocks
// of the recording stopped before (they trail the stop until its end marks are in).
TEST_F(TrackLoadSave, ALoadReplacesTheEngineWhileTheCoreThreadTakesBlocks) {
  WriteFile(dir_ + "a.wav", MakeWav({}, Pcm16(Noise(4410, 1))));
  auto track = MakeTrack("Student");
  std::atomic<bool> stop{false};
  std::atomic<int> posted{0};
  std::thread blocks([&] {
    while (!stop) {
      CBufferDescr* b = test::CapturedFloatBlock(0, 441, [](std::uint32_t) { return 0.1f; });
      if (!plat::PostThreadMessage(core_.Id(), WM_SOUND_IN, plat::WPARAM(b), 0)) {
        ReleaseBufferDescr(b);
        break;
      }
      ++posted;
    }
  });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (posted < 10 && std::chrono::steady_clock::now() < limit) {
  }
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(track->LoadTrack(dir_ + "a.wav"));
  stop = true;
  blocks.join();
  core_.Core().Apply([] {});  // every posted block has been taken
  EXPECT_EQ(track->DroppedBlocks(), std::uint64_t(posted)) << "no recording took them";
  EXPECT_EQ(Lengths(*track), std::vector<std::uint32_t>{4410});
}

}  // namespace
}  // namespace vts
