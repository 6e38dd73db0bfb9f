// Recording and playback on the virtual backend: the notification sequences, what lands in
// the chunks, and the faults that must stay mended (late blocks, no chunk to record into,
// a cursor past the end, descriptors nobody takes).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "audio/virtual_endpoints.h"
#include "captured_blocks.h"
#include "platform/known_folders.h"
#include "platform/utf.h"
#include "sound_track_test_access.h"
#include "test_env.h"
#include "test_files.h"
#include "tone_share.h"
#include "track_doubles.h"
#include "tracks/sound_track.h"

namespace vts {
namespace {

using namespace std::chrono_literals;
using Codes = std::vector<std::uint32_t>;
using test::ToneShare;

constexpr std::uint32_t kPeriodFrames = 1764;  // 40 ms at 44100 Hz
// At least n blocks' worth (blocks converted from a 48000 Hz endpoint vary by a few frames).
constexpr std::uint32_t MinFrames(std::uint32_t n) { return n * kPeriodFrames - 200; }

std::vector<std::int16_t> Tone(std::size_t frames, double hz, double amplitude = 12000) {
  std::vector<std::int16_t> s(frames);
  for (std::size_t i = 0; i < frames; ++i)
    s[i] = std::int16_t(amplitude * std::sin(2 * M_PI * hz * double(i) / 44100));
  return s;
}

class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    // Time moves only when a test moves it: no result depends on how busy the machine is.
    audio::VirtualEndpoints::Instance()->SetManualClock(true);
    for (test::NotifyLog* log : {&masterLog_, &studentLog_})
      log->SetClock([this] { Run(20); }, 20ms);
    RecordGain() = kUnityGain;
    master_ = std::make_unique<CSoundTrack>(core_.Id(), "Master", &state_, 0);
    student_ = std::make_unique<CSoundTrack>(core_.Id(), "Student", &state_, 1);
    for (CSoundTrack* t : {master_.get(), student_.get()}) {
      t->SetOutputDevice(u"virtual_speaker");
      t->SetInputDevice(u"virtual_mic");
    }
    master_->SetNotifyTarget(masterLog_.Target());
    student_->SetNotifyTarget(studentLog_.Target());
    core_.Attach(master_.get(), student_.get());
  }
  void TearDown() override {
    core_.Release();
    core_.Detach();
    master_.reset();
    student_.reset();
    audio::VirtualEndpoints::Instance()->SetManualClock(false);
  }
  // Moves the sound on by `ms` and lets the core thread handle what that brought.
  void Run(int ms) {
    Advance(ms);
    core_.Core().Apply([] {});
  }
  // Moves the sound on only (while the core thread is held, what it brings queues up).
  void Advance(int ms) {
    for (int t = 0; t < ms; t += 20) audio::VirtualEndpoints::Instance()->Advance(20);
  }
  CChunkInfo* MasterChunk(const std::vector<std::int16_t>& samples) {
    CChunkInfo* chunk = master_->AddChunk();
    master_->SelectChunk(master_->ChunkCount() - 1);
    test::FillChunk(chunk, samples);
    masterLog_.Clear();
    return chunk;
  }
  void StopRecording() {
    student_->ToggleRecord();
    ASSERT_TRUE(student_->WaitForRecordingEnd());
    EXPECT_EQ(student_->DroppedBlocks(), 0u) << "every recorded block reached its chunk";
  }

  EngineStateBlock state_;
  test::CoreThreadDouble core_;
  test::NotifyLog masterLog_, studentLog_;  // outlive the tracks
  std::unique_ptr<CSoundTrack> master_, student_;
};

// ------------------------------------------------------------------ notification sequences

struct SequenceCase {
  const char* what;
  std::function<void(Transport&, CSoundTrack&, test::NotifyLog&)> run;
  Codes expected;  // without the per-block codes 4 and 10
  int minData;     // code 10 at least this often
};

class Sequences : public Transport {
 public:
  using Transport::master_;
  using Transport::masterLog_;
  using Transport::student_;
  using Transport::studentLog_;
};

TEST_F(Sequences, RecordingCodes) {
  const SequenceCase cases[] = {
      {"record then stop",
       [](Transport&, CSoundTrack& t, test::NotifyLog& log) {
         t.ToggleRecord();
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_DATA, 3));
         t.ToggleRecord();
       },
       {7, 1, 7, 0},
       3},
      {"pause and resume during a recording",
       [](Transport&, CSoundTrack& t, test::NotifyLog& log) {
         t.ToggleRecord();
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_DATA, 2));
         t.TogglePause();
         EXPECT_TRUE(t.IsRecording() && t.IsPaused());
         t.TogglePause();
         EXPECT_TRUE(t.IsRecording() && !t.IsPaused());
         int before = log.Count(TRACK_NOTIFY_DATA);
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_DATA, before + 2));
         t.ToggleRecord();
       },
       {7, 1, 6, 7, 7, 0},
       4},
      {"stop while paused resumes first",
       [](Transport&, CSoundTrack& t, test::NotifyLog& log) {
         t.ToggleRecord();
         t.TogglePause();
         t.ToggleRecord();
       },
       {7, 1, 6, 7, 7, 0},
       0},
      {"play stops a recording",
       [](Transport&, CSoundTrack& t, test::NotifyLog& log) {
         t.ToggleRecord();
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_DATA, 2));
         t.Play();
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_PLAY_ENDED, 1));
       },
       {7, 1, 7, 0, 7, 5},
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    studentLog_.Clear();
    c.run(*this, *student_, studentLog_);
    ASSERT_TRUE(student_->WaitForRecordingEnd());
    student_->WaitForRecordingEnd();
    Run(100);  // a wrong late code would show up here
    EXPECT_EQ(studentLog_.CodesWithout({4, 10}), c.expected);
    EXPECT_GE(studentLog_.Count(TRACK_NOTIFY_DATA), c.minData);
    // Code 10 only while recording: never after the last 0.
    Codes all = studentLog_.Codes();
    auto lastIdle = std::find(all.rbegin(), all.rend(), 0u);
    EXPECT_TRUE(std::find(all.rbegin(), lastIdle, 10u) == lastIdle);
    student_->StopAll();
    student_->WaitForRecordingEnd();
  }
}

TEST_F(Sequences, PlaybackCodes) {
  struct PlayCase {
    const char* what;
    std::uint32_t frames;
    std::uint32_t cursor;
    std::function<void(CSoundTrack&, test::NotifyLog&)> run;
    Codes expected;  // every code, 4 included
  };
  auto playToEnd = [this](CSoundTrack& t, test::NotifyLog& log) {
    t.Play();
    ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_PLAY_ENDED, 1));
    Run(100);  // the REFRESH after the end, and nothing more
  };
  const PlayCase cases[] = {
      {"four and a half periods: 7, a 4 per buffer, one 5 before the last 4",
       kPeriodFrames * 9 / 2,
       0,
       playToEnd,
       {7, 4, 4, 4, 4, 5, 4}},
      {"shorter than a period: one buffer", 1000, 0, playToEnd, {7, 5, 4}},
      {"from the cursor: the rest only",
       kPeriodFrames * 4,
       kPeriodFrames * 2,
       playToEnd,
       {7, 4, 5, 4}},
      {"cursor right of the end: ends at once with its code", 1000, 50000, playToEnd, {7, 5}},
      {"empty chunk ends at once", 0, 0, playToEnd, {7, 5}},
      {"stopping a track that does not play posts nothing",
       kPeriodFrames,
       0,
       [](CSoundTrack& t, test::NotifyLog&) { t.StopPlayback(); },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CChunkInfo* chunk = MasterChunk(Tone(c.frames, 1000));
    CSoundTrackTestAccess::EditView(*master_,
                                    [&](WaveformViewState& v) { v.cursorFrame = c.cursor; });
    c.run(*master_, masterLog_);
    EXPECT_EQ(masterLog_.Codes(), c.expected);
    EXPECT_FALSE(master_->IsPlaying());
    if (c.expected.size() > 2) {
      EXPECT_EQ(master_->PlayFrame(), chunk->length);
    }
  }
}

TEST_F(Sequences, PauseAndResumePlayback) {
  MasterChunk(Tone(kPeriodFrames * 40, 1000));
  master_->Play();
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_REFRESH, 3));
  master_->TogglePause();
  EXPECT_TRUE(master_->IsPlaying());
  EXPECT_TRUE(master_->IsPaused());
  std::uint32_t pausedAt = master_->PlayFrame();
  EXPECT_GE(pausedAt, 3 * kPeriodFrames);
  Run(150);
  EXPECT_EQ(master_->PlayFrame(), pausedAt) << "nothing moves while paused";
  master_->TogglePause();
  EXPECT_FALSE(master_->IsPaused());
  EXPECT_GE(master_->PlayFrame(), pausedAt) << "resumes where it paused, not at the cursor";
  int refreshes = masterLog_.Count(TRACK_NOTIFY_REFRESH);
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_REFRESH, refreshes + 2));
  master_->StopPlayback();
  EXPECT_EQ(masterLog_.CodesWithout({4}), (Codes{7, 5, 7, 5}));
}

// ------------------------------------------------------------------ what is recorded

TEST_F(Transport, MicrophoneToneIsRecordedAsSixteenBitMonoWithGain) {
  student_->SetRecordSources(CSoundTrack::kRecordInput);
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 25));
  StopRecording();
  CChunkInfo* chunk = student_->CurrentChunk();
  ASSERT_NE(chunk, nullptr);
  ASSERT_TRUE(chunk->IsLoaded());
  EXPECT_EQ(chunk->dataSize, chunk->length * 2);
  EXPECT_GE(chunk->length, MinFrames(25));
  EXPECT_EQ(student_->PlayFrame(), chunk->length);
  const auto* s = reinterpret_cast<const std::int16_t*>(chunk->data);
  // The 0.25 tone comes up with the gain: the last half second peaks near 30719.
  int peak = 0;
  for (std::uint32_t i = chunk->length - 22050; i < chunk->length; ++i)
    peak = std::max(peak, std::abs(int(s[i])));
  EXPECT_GT(peak, 28000);
  EXPECT_LE(peak, 30719);
  EXPECT_GT(ToneShare(s + chunk->length - 22050, 22050, 440), 0.9);
  EXPECT_EQ(student_->DroppedBlocks(), 0u);
}

TEST_F(Transport, BothSourcesAreMixed) {
  // The Master plays 1000 Hz to the speaker; the Student hears it by loopback and the
  // microphone's 440 Hz at once.
  MasterChunk(Tone(44100 * 3, 1000, 8000));
  student_->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  master_->Play();
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 30));
  StopRecording();
  master_->StopPlayback();
  CChunkInfo* chunk = student_->CurrentChunk();
  ASSERT_NE(chunk, nullptr);
  const auto* s = reinterpret_cast<const std::int16_t*>(chunk->data);
  std::uint32_t n = 22050, from = chunk->length - n - kPeriodFrames * 2;
  double mic = ToneShare(s + from, n, 440), pc = ToneShare(s + from, n, 1000);
  EXPECT_GT(mic, 0.1) << "microphone part";
  EXPECT_GT(pc, 0.1) << "loopback part";
  EXPECT_GT(mic + pc, 0.8);
  // One block per period of the pair, not one per stream.
  EXPECT_LE(chunk->length, (studentLog_.Count(TRACK_NOTIFY_DATA) + 3) * kPeriodFrames);
}

TEST_F(Transport, ReplaceOnRecordEmptiesTheChunkFirst) {
  CChunkInfo* chunk = student_->AddChunk();
  student_->SelectChunk(0);
  test::FillChunk(chunk, std::vector<std::int16_t>(60000, 777));
  chunk->start = 5000;
  student_->SetReplaceOnRecord(true);
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 2))
      << "recording " << student_->IsRecording() << ", capture streams "
      << student_->Engine()->GetCaptureStreamCount();
  StopRecording();
  EXPECT_EQ(chunk->start, 0u);
  EXPECT_LT(chunk->length, 60000u) << "the old sound is gone";
  EXPECT_NE(reinterpret_cast<std::int16_t*>(chunk->data)[100], 777);
}

TEST_F(Transport, RecordingAppendsWithoutReplace) {
  CChunkInfo* chunk = student_->AddChunk();
  student_->SelectChunk(0);
  test::FillChunk(chunk, std::vector<std::int16_t>(10000, 777));
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 2));
  StopRecording();
  EXPECT_GE(chunk->length, 10000u + MinFrames(2));
  EXPECT_EQ(reinterpret_cast<std::int16_t*>(chunk->data)[9999], 777);
}

// ------------------------------------------------------------------ mended faults

TEST_F(Transport, LateBlocksLandInTheRecordedChunkNotInTheNextCurrentOne) {
  student_->AddChunk();
  student_->AddChunk();
  student_->SelectChunk(0);
  core_.Hold();  // a busy core thread: blocks and end marks queue up behind it
  student_->ToggleRecord();
  Advance(400);
  student_->ToggleRecord();
  auto switched = std::async(std::launch::async, [this] { student_->SelectChunk(1); });
  EXPECT_EQ(switched.wait_for(200ms), std::future_status::timeout)
      << "the switch waits for the end marks";
  core_.Release();
  switched.get();
  CChunkInfo* recorded = student_->Chunk(0);
  CChunkInfo* next = student_->Chunk(1);
  EXPECT_GE(recorded->length, MinFrames(5));
  EXPECT_EQ(next->length, 0u);
  EXPECT_FALSE(next->IsLoaded() && next->dataSize > 0);
  EXPECT_FALSE(recorded->IsLoaded()) << "saved and unloaded by the switch";
  struct stat st {};
  ASSERT_EQ(stat((student_->TempFolderPath() + recorded->fileName).c_str(), &st), 0);
  EXPECT_EQ(std::uint64_t(st.st_size), std::uint64_t(recorded->length) * 2);
}

// A stream write that fails or a box the core thread waits on keeps the blocks of both
// sources in its queue until after the stop: they are paired as they were captured, so the
// take lasts what was captured and no lone (silent) loopback block lies between the tone's.
TEST_F(Transport, BothSourcesBlocksHandledAfterTheStopKeepTheTakeAsCaptured) {
  student_->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  student_->ToggleRecord();
  Run(400);
  core_.Hold();
  Advance(1000);
  student_->ToggleRecord();
  core_.Release();
  ASSERT_TRUE(student_->WaitForRecordingEnd());
  CChunkInfo* chunk = student_->CurrentChunk();
  ASSERT_NE(chunk, nullptr);
  EXPECT_LE(chunk->length, 44100u * 14 / 10);
  EXPECT_GE(chunk->length, 44100u * 14 / 10 - 2 * kPeriodFrames);
  const auto* s = reinterpret_cast<const std::int16_t*>(chunk->data);
  EXPECT_EQ(test::QuietWindows(s, chunk->length, 882, 1000), 0u);
  EXPECT_EQ(student_->DroppedBlocks(), 0u);
}

TEST_F(Transport, FreeingChunksRightAfterAStopLosesNothingAndCrashesNothing) {
  student_->AddChunk();
  student_->SelectChunk(0);
  core_.Hold();
  student_->ToggleRecord();
  Advance(300);
  auto freed = std::async(std::launch::async, [this] { student_->FreeChunks(); });
  std::this_thread::sleep_for(100ms);
  core_.Release();
  freed.get();
  EXPECT_EQ(student_->ChunkCount(), 0);
  EXPECT_EQ(student_->CurrentChunkIndex(), -1);
  EXPECT_EQ(student_->DroppedBlocks(), 0u) << "every block reached its chunk before it was freed";
}

TEST_F(Transport, ClearEmptiesTheCurrentChunkAndTheTailOfAStoppedRecordingStaysOut) {
  CChunkInfo* first = student_->AddChunk();
  student_->SelectChunk(0);
  test::FillChunk(first, std::vector<std::int16_t>(1000, 777));
  student_->AddChunk();
  student_->SelectChunk(1);
  CChunkInfo* chunk = student_->CurrentChunk();
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 2));
  core_.Hold();  // the recording's last blocks and its end mark queue up
  Advance(200);
  student_->ToggleRecord();
  ASSERT_GT(chunk->length, 0u);
  studentLog_.Clear();
  student_->ClearCurrentChunk();
  core_.Release();
  ASSERT_TRUE(student_->WaitForRecordingEnd());
  Run(100);
  EXPECT_GT(student_->DroppedBlocks(), 0u) << "the tail arrived after the clear";
  EXPECT_EQ(student_->CurrentChunk(), chunk);
  test::ExpectClearedChunk(*student_, chunk);
  EXPECT_EQ(student_->ChunkCount(), 2) << "the chunk stays in the list";
  EXPECT_EQ(student_->Chunk(0)->length, 1000u) << "only the current chunk is emptied";
  EXPECT_EQ(studentLog_.Codes(), (Codes{TRACK_NOTIFY_IDLE}));
  // A new recording goes into the emptied chunk again.
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 2));
  student_->ToggleRecord();
  ASSERT_TRUE(student_->WaitForRecordingEnd());
  EXPECT_GE(chunk->length, MinFrames(2));
}

TEST_F(Transport, NoChunkToRecordIntoDoesNotStart) {
  struct Case {
    const char* what;
    std::function<void(CSoundTrack&)> prepare;
  } cases[] = {
      {"the folder cannot take a chunk file",
       [](CSoundTrack& t) { CSoundTrackTestAccess::SetTempFolder(t, {}); }},
      {"chunks but none current", [](CSoundTrack& t) { t.AddChunk(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto track = std::make_unique<CSoundTrack>(core_.Id(), "Student", &state_);
    test::NotifyLog log;
    track->SetNotifyTarget(log.Target());
    track->SetInputDevice(u"virtual_mic");
    c.prepare(*track);
    int chunksBefore = track->ChunkCount();
    core_.Attach(master_.get(), track.get());
    track->ToggleRecord();
    EXPECT_FALSE(track->IsRecording());
    EXPECT_EQ(track->ChunkCount(), chunksBefore);
    EXPECT_EQ(track->Engine()->GetCaptureStreamCount(), 0u);
    EXPECT_EQ(log.Codes(), (Codes{7, 0}));
    track->WaitForRecordingEnd();
    core_.Attach(master_.get(), student_.get());
    track.reset();
  }
}

TEST_F(Transport, DescriptorThatNeitherTrackTakesIsReleased) {
  MasterChunk(Tone(1000, 1000));
  struct Case {
    const char* what;
    std::uint32_t ownerId;
    bool studentHasChunk;
  } cases[] = {
      {"owner id of neither track", 999, true},
      {"the Student's buffer while it has no current chunk", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CBufferDescr* descr = MakeBufferDescr(100 + kSoundHeaderBytes);
    descr->ownerId = c.ownerId ? c.ownerId : student_->OwnerId();
    std::weak_ptr<CBufferData> data = descr->data;
    ASSERT_TRUE(plat::PostThreadMessage(core_.Id(), WM_SOUND_OUT,
                                        reinterpret_cast<plat::WPARAM>(descr), 0));
    core_.Core().Apply([] {});  // everything posted before has been handled
    EXPECT_TRUE(data.expired());
  }
  EXPECT_TRUE(masterLog_.Codes().empty()) << "the Master did not act on it";
}

TEST_F(Transport, ChunkSwitchAfterRecordingReleasesItsMemory) {
  student_->AddChunk();
  student_->AddChunk();
  student_->SelectChunk(0);
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 5));
  StopRecording();
  EXPECT_GE(student_->Chunk(0)->dataCapacity, kChunkGrowStep);
  student_->SelectChunk(1);
  EXPECT_FALSE(student_->Chunk(0)->IsLoaded());
  EXPECT_EQ(student_->Chunk(0)->dataCapacity, 0u);
}

// The classroom link's received audio switches chunks on the core thread; the switch stops
// the recording on the track's devices while the window may be setting them.
TEST_F(Transport, DevicesSetWhileTheCoreThreadSwitchesChunks) {
  student_->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 2));
  std::atomic<bool> switched{false};
  ASSERT_TRUE(core_.Core().PostTask([&] {
    student_->SelectChunk(0);
    switched = true;
  }));
  for (long i = 0; !switched && i < 100'000'000; ++i) {
    student_->SetInputDevice(u"virtual_mic");
    student_->SetOutputDevice(u"virtual_speaker");
  }
  ASSERT_TRUE(switched);
  EXPECT_FALSE(student_->IsRecording());
  ASSERT_TRUE(student_->WaitForRecordingEnd());
  EXPECT_EQ(student_->Engine()->GetCaptureStreamCount(), 0u) << "both captures stopped";
  EXPECT_EQ(student_->OutputDevice(), u"virtual_speaker");
}

// The window chooses an output device between two plays (a playback that ran to its end
// leaves its stream open): the next play sounds on the chosen device, at each choice.
TEST_F(Transport, EachOutputChoiceSoundsAtTheNextPlay) {
  audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
  sound.AddDevice({"second_speaker", "Second Speaker", DataFlow::Render, 2, 48000, {}, "", ""});
  const std::string devices[] = {"virtual_speaker", "second_speaker"};
  auto heard = [&sound](const std::string& id) {
    const std::vector<float> played = sound.Played(id);
    return std::any_of(played.begin(), played.end(), [](float v) { return std::fabs(v) > 0.1f; });
  };
  MasterChunk(Tone(kPeriodFrames * 3, 1000));
  const char* choices[] = {"second_speaker", "virtual_speaker", "second_speaker",
                           "virtual_speaker"};
  int ended = 0;
  for (const char* choice : choices) {
    SCOPED_TRACE(choice);
    master_->SetOutputDevice(plat::Utf8ToUtf16(choice));
    for (const std::string& id : devices) sound.ClearPlayed(id);
    master_->Play();
    ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_PLAY_ENDED, ++ended));
    Run(200);  // what was written to the device plays out
    for (const std::string& id : devices)
      EXPECT_EQ(heard(id), id == choice) << id << (id == choice ? " is silent" : " sounds");
  }
}

// A sound server that does not answer (a connect may wait up to 2 s) must not hold the
// track's buffer lock, which the window's time tick and the core thread take: the play's
// connect, and the stop of a playback that a record start makes.
TEST_F(Transport, AStartWaitingOnTheSoundServerHoldsNoBufferLock) {
  audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
  struct Case {
    const char* what;
    audio::VirtualFailure held;
    std::function<void(CSoundTrack&)> before, run;
  };
  const Case cases[] = {
      {"play: the connect", audio::VirtualFailure::Activate, [](CSoundTrack&) {},
       [](CSoundTrack& t) { t.Play(); }},
      {"record while playing: the playback's stop", audio::VirtualFailure::Stop,
       [](CSoundTrack& t) { t.Play(); }, [](CSoundTrack& t) { t.ToggleRecord(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CChunkInfo* chunk = MasterChunk(Tone(kPeriodFrames * 6, 1000));
    c.before(*master_);
    sound.HoldStep("virtual_speaker", c.held);
    std::thread start([&] { c.run(*master_); });
    ASSERT_TRUE(test::WaitUntil([&] { return sound.HeldCount() == 1; }));
    std::unique_lock lock(master_->BufferLock(), std::try_to_lock);
    EXPECT_TRUE(lock.owns_lock()) << "held while the sound server is waited for";
    if (lock.owns_lock()) lock.unlock();
    sound.ReleaseHeld();
    start.join();
    master_->StopAll();
    EXPECT_GT(chunk->length, 0u);
  }
  // A play whose connect was slow still plays its whole chunk.
  CChunkInfo* chunk = MasterChunk(Tone(kPeriodFrames * 6, 1000));
  master_->StopAll();
  sound.HoldStep("virtual_speaker", audio::VirtualFailure::Activate);
  std::thread start([&] { master_->Play(); });
  ASSERT_TRUE(test::WaitUntil([&] { return sound.HeldCount() == 1; }));
  sound.ReleaseHeld();
  start.join();
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_PLAY_ENDED, 1));
  EXPECT_EQ(master_->PlayFrame(), chunk->length);
}

TEST_F(Transport, MicrophoneGoneMidRecordingKeepsWhatWasRecorded) {
  student_->SetRecordSources(CSoundTrack::kRecordInput);
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 5));
  audio::VirtualEndpoints::Instance()->RemoveDevice("virtual_mic");
  Run(200);
  // The window learns of it (it stops the recording and tells the user); the Master, whose
  // engine lost nothing, says nothing.
  EXPECT_EQ(studentLog_.Count(TRACK_NOTIFY_CAPTURE_LOST), 1);
  EXPECT_EQ(masterLog_.Count(TRACK_NOTIFY_CAPTURE_LOST), 0);
  std::uint32_t kept = 0;
  {
    std::lock_guard lock(student_->BufferLock());  // the core thread may still append
    kept = student_->CurrentChunk()->length;
  }
  EXPECT_GE(kept, MinFrames(5));
  StopRecording();
  EXPECT_FALSE(student_->IsRecording());
  EXPECT_GE(student_->CurrentChunk()->length, kept);
  EXPECT_EQ(student_->CurrentChunk()->dataSize, student_->CurrentChunk()->length * 2);
}

// Both sources gone at once (the sound server went): one notice per lost stream, the
// window takes the first.
TEST_F(Transport, BothSourcesGoneEachTellTheWindow) {
  student_->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 3));
  audio::VirtualEndpoints::Instance()->RemoveDevice("virtual_mic");
  audio::VirtualEndpoints::Instance()->RemoveDevice("virtual_speaker");
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_CAPTURE_LOST, 2));
  EXPECT_EQ(student_->Engine()->GetCaptureStreamCount(), 0u);
  StopRecording();
  EXPECT_FALSE(student_->IsRecording());
}

TEST_F(Transport, SpeakerGoneMidPlaybackTellsTheWindowOnce) {
  MasterChunk(Tone(kPeriodFrames * 100, 1000));
  master_->Play();
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_REFRESH, 3));
  audio::VirtualEndpoints::Instance()->RemoveDevice("virtual_speaker");
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_PLAYBACK_LOST, 1));
  const std::uint32_t at = master_->PlayFrame();
  Run(200);
  EXPECT_EQ(masterLog_.Count(TRACK_NOTIFY_PLAYBACK_LOST), 1);
  EXPECT_EQ(master_->PlayFrame(), at) << "no buffer comes back from a lost device";
  EXPECT_EQ(studentLog_.Count(TRACK_NOTIFY_PLAYBACK_LOST), 0);
  master_->StopPlayback();
  EXPECT_EQ(masterLog_.Count(TRACK_NOTIFY_PLAY_ENDED), 1);

  // A device that goes while the track is paused or stopped concerns nobody.
  audio::VirtualEndpoints::Instance()->AddDevice(
      {"virtual_speaker", "Virtual Speaker", DataFlow::Render, 2, 48000, {}, "", ""});
  master_->Play();
  ASSERT_TRUE(masterLog_.WaitForCount(TRACK_NOTIFY_REFRESH, masterLog_.Count(4) + 2));
  master_->TogglePause();
  audio::VirtualEndpoints::Instance()->RemoveDevice("virtual_speaker");
  Run(200);
  EXPECT_EQ(masterLog_.Count(TRACK_NOTIFY_PLAYBACK_LOST), 1);
}

// A start whose stream cannot open (its device went before, or none was chosen): after its
// state codes the track tells the window once (code 13) with the sound log's words, and
// keeps the state the transport set until the window stops it. A stream that opens, also
// only at its second buffer, says nothing.
TEST_F(Transport, AStartWhoseStreamCannotOpenTellsTheWindowWhy) {
  const std::string kCapture = "Could not create capture Device. Check that device is present.";
  const std::string kPlayback =
      "Could not create playback AudioClient. Check that device is present.";
  audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
  auto gone = [&sound](const char* id) { sound.RemoveDevice(id); };
  struct Case {
    const char* what;
    bool student;  // else the Master
    std::function<void(CSoundTrack&, test::NotifyLog&)> run;
    Codes expected;       // without 4 and 10
    std::string failure;  // what code 13 tells, if expected
  };
  const Case cases[] = {
      {"Record, the microphone gone",
       true,
       [&](CSoundTrack& t, test::NotifyLog&) {
         gone("virtual_mic");
         t.ToggleRecord();
       },
       {7, 1, 13},
       kCapture},
      {"Record from both sources, only the microphone gone",
       true,
       [&](CSoundTrack& t, test::NotifyLog&) {
         t.SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
         gone("virtual_mic");
         t.ToggleRecord();
         EXPECT_EQ(t.Engine()->GetCaptureStreamCount(), 1u) << "the loopback runs";
       },
       {7, 1, 13},
       kCapture},
      {"a paused recording resumed after the microphone went",
       true,
       [&](CSoundTrack& t, test::NotifyLog& log) {
         t.ToggleRecord();
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_DATA, 2));
         t.TogglePause();
         gone("virtual_mic");
         t.TogglePause();
       },
       {7, 1, 6, 7, 13},
       kCapture},
      {"Play, the speaker gone",
       false,
       [&](CSoundTrack& t, test::NotifyLog&) {
         gone("virtual_speaker");
         t.Play();
       },
       {7, 13},
       kPlayback},
      {"Record with no device chosen (none was there at start-up)",
       true,
       [&](CSoundTrack& t, test::NotifyLog&) {
         t.SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
         t.SetInputDevice(u"");
         t.SetOutputDevice(u"");
         t.ToggleRecord();
       },
       {7, 1, 13},
       kCapture},
      {"Play with no device chosen",
       false,
       [&](CSoundTrack& t, test::NotifyLog&) {
         t.SetOutputDevice(u"");
         t.Play();
       },
       {7, 13},
       kPlayback},
      {"a paused playback resumed after the speaker went",
       false,
       [&](CSoundTrack& t, test::NotifyLog& log) {
         t.Play();
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_REFRESH, 2));
         t.TogglePause();
         gone("virtual_speaker");
         t.TogglePause();
       },
       {7, 5, 7, 13},
       kPlayback},
      {"Play whose first client fails a late set-up step: the next buffer opens one",
       false,
       [&](CSoundTrack& t, test::NotifyLog& log) {
         sound.InjectFailure("virtual_speaker", audio::VirtualFailure::SetEventHandle, 1);
         t.Play();
         ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_REFRESH, 4));
       },
       {7},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CSoundTrack& track = c.student ? *student_ : *master_;
    test::NotifyLog& log = c.student ? studentLog_ : masterLog_;
    MasterChunk(Tone(kPeriodFrames * 100, 1000));
    log.Clear();
    c.run(track, log);
    Run(100);
    EXPECT_EQ(log.CodesWithout({4, 10}), c.expected);
    if (!c.failure.empty()) {
      EXPECT_EQ(track.StartFailure(), c.failure);
    }
    EXPECT_TRUE(track.IsRecording() || track.IsPlaying()) << "the window stops it";
    EXPECT_EQ((c.student ? masterLog_ : studentLog_).Count(TRACK_NOTIFY_START_FAILED), 0);

    // As the window stops it; with the devices back the next start works.
    if (track.IsRecording()) track.ToggleRecord();
    track.StopPlayback();
    ASSERT_TRUE(track.WaitForRecordingEnd());
    EXPECT_EQ(track.Engine()->GetCaptureStreamCount(), 0u);
    sound.ClearFailures();
    sound.AddDevice({"virtual_speaker", "Virtual Speaker", DataFlow::Render, 2, 48000, {}, "", ""});
    sound.AddDevice({"virtual_mic", "Virtual Microphone", DataFlow::Capture, 1, 48000,
                     audio::VirtualSource::Sine(440.0, 0.25f), "", ""});
    track.SetRecordSources(CSoundTrack::kRecordInput);
    track.SetInputDevice(u"virtual_mic");
    track.SetOutputDevice(u"virtual_speaker");
    log.Clear();
    if (c.student) {
      track.ToggleRecord();
      ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_DATA, 2));
      track.ToggleRecord();
      ASSERT_TRUE(track.WaitForRecordingEnd());
    } else {
      track.Play();
      ASSERT_TRUE(log.WaitForCount(TRACK_NOTIFY_REFRESH, 2));
      track.StopPlayback();
    }
    EXPECT_EQ(log.Count(TRACK_NOTIFY_START_FAILED), 0);
  }
}

// A Record that could not start leaves the chunk's take as it was: the sound a replacing
// recording would have discarded, its start and length, the view; also in what a chunk
// switch and a save write. So too when one of two sources did start: what it brings until
// the window stops the recording is not kept.
TEST_F(Transport, ARecordThatCannotStartKeepsTheChunksTake) {
  audio::VirtualEndpoints& sound = *audio::VirtualEndpoints::Instance();
  const std::vector<std::int16_t> take = Tone(30000, 300);
  const std::string dir = test::MakeTempDir("take");
  const std::uint32_t both = CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback;
  struct Case {
    const char* what;
    bool replace;
    std::uint32_t sources;
    const char* gone;  // the device removed before the press; null: none chosen at all
  };
  const Case cases[] = {
      {"replacing, the microphone gone", true, CSoundTrack::kRecordInput, "virtual_mic"},
      {"replacing from both sources, the microphone gone: the loopback runs", true, both,
       "virtual_mic"},
      {"replacing from both sources, the speaker gone: the microphone runs", true, both,
       "virtual_speaker"},
      {"replacing, no device chosen", true, both, nullptr},
      {"appending from both sources, the speaker gone: the microphone runs", false, both,
       "virtual_speaker"},
  };
  CChunkInfo* chunk = nullptr;
  auto expectTake = [&] {
    std::lock_guard lock(student_->BufferLock());
    ASSERT_EQ(student_->CurrentChunk(), chunk);
    EXPECT_EQ(chunk->start, 5000u);
    EXPECT_EQ(chunk->length, take.size());
    ASSERT_TRUE(chunk->IsLoaded());
    ASSERT_EQ(chunk->dataSize, take.size() * 2);
    EXPECT_EQ(std::memcmp(chunk->data, take.data(), chunk->dataSize), 0);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The take in its temporary file, loaded by the switch to its chunk; a second chunk.
    student_->FreeChunks();
    ASSERT_NE(chunk = student_->AddChunk(), nullptr);
    ASSERT_NE(student_->AddChunk(), nullptr);
    test::FillChunk(chunk, take);
    chunk->start = 5000;
    ASSERT_TRUE(student_->SaveChunk(0));
    chunk->Unload();
    student_->SelectChunk(0);
    student_->RedrawWaveform(8192, 32);
    student_->PlaceCursor(12000);
    const WaveformViewState view = student_->ViewSnapshot();

    student_->SetReplaceOnRecord(c.replace);
    student_->SetRecordSources(c.sources);
    if (c.gone != nullptr) {
      sound.RemoveDevice(c.gone);
    } else {
      student_->SetInputDevice(u"");
      student_->SetOutputDevice(u"");
    }
    studentLog_.Clear();
    student_->ToggleRecord();
    Run(400);  // a source that did start brings its sound meanwhile
    ASSERT_EQ(studentLog_.Count(TRACK_NOTIFY_START_FAILED), 1);
    // As the window stops it.
    student_->ToggleRecord();
    ASSERT_TRUE(student_->WaitForRecordingEnd());
    Run(100);
    expectTake();
    const WaveformViewState now = student_->ViewSnapshot();
    EXPECT_EQ(now.framesPerPixel, view.framesPerPixel);
    EXPECT_EQ(now.viewStartFrame, view.viewStartFrame);
    EXPECT_EQ(now.cursorFrame, view.cursorFrame);
    EXPECT_EQ(now.playFrame.load(), view.playFrame.load());
    EXPECT_EQ(now.progress.High(), view.progress.High());
    EXPECT_EQ(now.progress.Pos(), view.progress.Pos());

    student_->SelectChunk(1);
    student_->SelectChunk(0);
    expectTake();
    ASSERT_TRUE(student_->SaveTrack(dir + "/take.wav"));
    EXPECT_EQ(test::ReadBytes(dir + "/take.wav"), test::MakeWav({}, test::Pcm16(take)));

    sound.AddDevice({"virtual_speaker", "Virtual Speaker", DataFlow::Render, 2, 48000, {}, "", ""});
    sound.AddDevice({"virtual_mic", "Virtual Microphone", DataFlow::Capture, 1, 48000,
                     audio::VirtualSource::Sine(440.0, 0.25f), "", ""});
    student_->SetInputDevice(u"virtual_mic");
    student_->SetOutputDevice(u"virtual_speaker");
  }

  // A Record that starts replaces the take as ever; the one set aside by a failed start
  // does not come back at its stop.
  student_->SetReplaceOnRecord(true);
  student_->SetRecordSources(CSoundTrack::kRecordInput);
  studentLog_.Clear();
  student_->ToggleRecord();
  ASSERT_TRUE(studentLog_.WaitForCount(TRACK_NOTIFY_DATA, 2));
  StopRecording();
  std::lock_guard lock(student_->BufferLock());
  EXPECT_EQ(chunk->start, 0u);
  EXPECT_GE(chunk->length, MinFrames(2));
  EXPECT_LT(chunk->length, take.size());
  ASSERT_TRUE(chunk->IsLoaded());
  EXPECT_NE(std::memcmp(chunk->data, take.data(), chunk->dataSize), 0);
}

}  // namespace
}  // namespace vts

// ------------------------------------------------------------------ mixing of two streams

namespace vts {
namespace {

// A captured block as the engine makes one, frames of a two-value pattern.
CBufferDescr* PatternBlock(std::uint32_t streamIndex, float even, float odd) {
  CBufferDescr* b = test::CapturedFloatBlock(streamIndex, kPeriodFrames,
                                             [&](std::uint32_t i) { return (i % 2) ? odd : even; });
  b->origin = 0;
  return b;
}

TEST(TwoStreams, PairsAreMixedAndAStreamDeliveringTwiceWaitsForItsPartner) {
  audio::VirtualEndpoints::Instance()->Reset();
  RecordGain() = kUnityGain;
  plat::EnsureQueue();
  EngineStateBlock state;
  // This thread owns the track but takes no engine message: the blocks come from the test.
  auto track = std::make_unique<CSoundTrack>(plat::CurrentThreadId(), "Student", &state);
  track->SetInputDevice(u"virtual_mic");
  track->SetOutputDevice(u"virtual_speaker");
  track->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
  track->ToggleRecord();
  ASSERT_EQ(track->Engine()->GetCaptureStreamCount(), 2u);

  track->OnCapturedBlock(PatternBlock(0, 0.10f, 0.20f));  // waits for its partner
  EXPECT_EQ(track->CurrentChunk()->length, 0u);
  track->OnCapturedBlock(PatternBlock(0, 0.10f, 0.20f));  // stream 0 again: both wait
  EXPECT_EQ(track->CurrentChunk()->length, 0u);
  track->OnCapturedBlock(PatternBlock(1, 0.30f, 0.00f));  // completes the first pair: mixed
  EXPECT_EQ(track->CurrentChunk()->length, kPeriodFrames);
  track->OnCapturedBlock(PatternBlock(1, 0.30f, 0.00f));  // and the second
  ASSERT_EQ(track->CurrentChunk()->length, 2 * kPeriodFrames);
  track->OnCapturedBlock(PatternBlock(0, 0.10f, 0.20f));
  track->OnCapturedBlock(nullptr);  // an end mark takes what is pending, alone
  ASSERT_EQ(track->CurrentChunk()->length, 3 * kPeriodFrames);
  const auto* s = reinterpret_cast<const std::int16_t*>(track->CurrentChunk()->data);
  // Mixed: 0.4 and 0.2 (ratio 2:1); alone: 0.1 and 0.2 (ratio 1:2), whatever the gain.
  for (std::uint32_t at : {0u, kPeriodFrames})
    EXPECT_NEAR(double(s[at]) / s[at + 1], 2.0, 0.01) << at;
  EXPECT_NEAR(double(s[2 * kPeriodFrames + 1]) / s[2 * kPeriodFrames], 2.0, 0.01);

  track->StopAll();
  plat::Msg msg;
  while (plat::PeekMessage(&msg, true))
    if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT)
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
  track.reset();
  while (plat::PeekMessage(&msg, true))
    if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT)
      ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
}

// Two capture streams whose blocks differ in length (a 44100 Hz microphone gathers a little
// more than a period per block, the loopback exactly one) and come in the order of their
// ends, or one stream late: the take lasts what the streams captured, every frame of the
// microphone's tone once and in order, and no block of the silent loopback alone.
TEST(TwoStreams, ATakeHoldsEveryCapturedFrameOnceAndNoSilenceThatWasNotHeard) {
  struct Case {
    const char* what;
    std::uint32_t micBlock, loopBlock;
    // Blocks of the loopback missing at its start (it starts late), and bursts: every
    // `burstEvery` blocks of the microphone the loopback's come `burst` at once.
    int loopLateBlocks, burstEvery, burst;
  } cases[] = {
      {"blocks of unequal lengths, in the order of their ends", 1800, 1764, 0, 0, 0},
      {"the loopback late by a block now and then", 1764, 1764, 0, 7, 3},
      {"the loopback starting half a second late", 1764, 1764, 12, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    audio::VirtualEndpoints::Instance()->Reset();
    RecordGain() = kUnityGain;
    plat::EnsureQueue();
    EngineStateBlock state;
    auto track = std::make_unique<CSoundTrack>(plat::CurrentThreadId(), "Student", &state);
    track->SetInputDevice(u"virtual_mic");
    track->SetOutputDevice(u"virtual_speaker");
    track->SetRecordSources(CSoundTrack::kRecordInput | CSoundTrack::kRecordLoopback);
    track->ToggleRecord();
    ASSERT_EQ(track->Engine()->GetCaptureStreamCount(), 2u);
    track->StopAll();  // the blocks come from the test alone

    // Three seconds of each stream: the microphone a continuous 440 Hz tone, the loopback
    // silence.
    const std::uint64_t total = 3 * 44100;
    std::uint64_t micAt = 0, loopAt = 0;
    std::vector<CBufferDescr*> heldLoop;
    int micBlocks = 0;
    auto mic = [&] {
      const std::uint64_t first = micAt;
      track->OnCapturedBlock(test::CapturedFloatBlock(0, c.micBlock, [&](std::uint32_t i) {
        return float(0.25 * std::sin(2 * M_PI * 440 * double(first + i) / 44100));
      }));
      micAt += c.micBlock;
      ++micBlocks;
    };
    auto loop = [&] {
      loopAt += c.loopBlock;
      if (micBlocks <= c.loopLateBlocks) return;  // not started yet
      heldLoop.push_back(test::CapturedFloatBlock(1, c.loopBlock, [](std::uint32_t) { return 0.0f; }));
      const bool late = c.burstEvery > 0 && micBlocks % c.burstEvery != 0 &&
                        heldLoop.size() < std::size_t(c.burst);
      if (late) return;
      for (CBufferDescr* b : heldLoop) track->OnCapturedBlock(b);
      heldLoop.clear();
    };
    while (micAt < total || loopAt < total) {
      if (micAt + c.micBlock <= loopAt + c.loopBlock ? micAt < total : loopAt >= total)
        mic();
      else
        loop();
    }
    for (CBufferDescr* b : heldLoop) track->OnCapturedBlock(b);
    track->OnCapturedBlock(nullptr);  // the captures' end marks
    track->OnCapturedBlock(nullptr);

    CChunkInfo* chunk = track->CurrentChunk();
    ASSERT_NE(chunk, nullptr);
    EXPECT_GE(chunk->length, micAt);
    EXPECT_LE(chunk->length, std::max(micAt, loopAt));
    const auto* s = reinterpret_cast<const std::int16_t*>(chunk->data);
    EXPECT_EQ(test::QuietWindows(s, chunk->length, 441, 1000), 0u);
    EXPECT_GT(ToneShare(s, std::min<std::uint64_t>(chunk->length, micAt), 440), 0.99)
        << "the tone runs on without a break";

    plat::Msg msg;
    while (plat::PeekMessage(&msg, true))
      if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT)
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
    track.reset();
    while (plat::PeekMessage(&msg, true))
      if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT)
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
  }
}

// What a take holds, to the byte, for blocks fed in a fixed order: the mix of the streams,
// its conversion to 16 bits (rounding, clipping) and the automatic gain. The sums were taken
// of the path as it first stood; a change in how the work is done must leave them.
TEST(RecordedSound, EachSampleOfATakeStaysAsItWas) {
  struct Step {
    std::uint32_t stream, frames;
  };
  struct Case {
    const char* what;
    std::uint32_t sources;
    std::vector<Step> steps;  // then every stream's end mark
    std::uint32_t frames;
    std::uint64_t sum;
  };
  const std::uint32_t mic = CSoundTrack::kRecordInput, pc = CSoundTrack::kRecordLoopback;
  const Case cases[] = {
      {"microphone only",
       mic,
       {{0, 1764}, {0, 1764}, {0, 1764}, {0, 1764}},
       7056,
       0xd7a9b1dbdaed6348ull},
      {"PC only", pc, {{0, 1764}, {0, 1764}, {0, 1764}}, 5292, 0x1386239f91f97765ull},
      {"microphone only, odd lengths",
       mic,
       {{0, 1}, {0, 1763}, {0, 17}, {0, 2001}, {0, 3}},
       3785,
       0x9ec148496d910c6dull},
      {"both, a pair at a time",
       mic | pc,
       {{0, 1764}, {1, 1764}, {1, 1764}, {0, 1764}, {0, 1764}, {1, 1764}},
       5292,
       0x7e52cce601a69845ull},
      {"both, odd lengths in the order of their ends",
       mic | pc,
       {{0, 1801}, {1, 1764}, {0, 1801}, {1, 1764}, {1, 1764}, {0, 999}, {1, 1}, {0, 1803}},
       6404,
       0xb3bd272cfd845881ull},
      {"both, one late by three blocks",
       mic | pc,
       {{0, 1764}, {0, 1764}, {0, 1764}, {1, 1764}, {1, 1764}, {1, 1764}, {0, 1764}, {1, 1764}},
       7056,
       0xbcf5f27a88d96b27ull},
  };
  // A tone per stream, loud enough that their mix clips, with values on the rounding's
  // halves and past full scale now and then.
  auto sample = [](std::uint32_t stream, std::uint64_t at) {
    if (at % 101 == 7) return float((std::int64_t(at % 9) - 4) + 0.5) / 32768.0f;
    if (at % 997 == 3) return stream ? -1.75f : 1.25f;
    const double hz = stream ? 1000 : 440, amplitude = stream ? 0.55 : 0.6;
    return float(amplitude * std::sin(2 * M_PI * hz * double(at) / 44100));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    audio::VirtualEndpoints::Instance()->Reset();
    RecordGain() = kUnityGain;
    plat::EnsureQueue();
    EngineStateBlock state;
    auto track = std::make_unique<CSoundTrack>(plat::CurrentThreadId(), "Student", &state);
    track->SetInputDevice(u"virtual_mic");
    track->SetOutputDevice(u"virtual_speaker");
    track->SetRecordSources(c.sources);
    track->ToggleRecord();
    const std::uint32_t streams = std::popcount(c.sources);
    ASSERT_EQ(track->Engine()->GetCaptureStreamCount(), streams);
    track->StopAll();  // the blocks come from the test alone
    std::uint64_t at[2] = {0, 0};
    for (const Step& step : c.steps) {
      const std::uint64_t first = at[step.stream];
      track->OnCapturedBlock(test::CapturedFloatBlock(
          step.stream, step.frames,
          [&](std::uint32_t i) { return sample(step.stream, first + i); }));
      at[step.stream] += step.frames;
    }
    for (std::uint32_t i = 0; i < streams; ++i) track->OnCapturedBlock(nullptr);

    CChunkInfo* chunk = track->CurrentChunk();
    ASSERT_NE(chunk, nullptr);
    ASSERT_EQ(chunk->dataSize, chunk->length * 2);
    std::uint64_t sum = 14695981039346656037ull;  // FNV-1a of the take's bytes
    for (std::uint32_t i = 0; i < chunk->dataSize; ++i)
      sum = (sum ^ chunk->data[i]) * 1099511628211ull;
    EXPECT_EQ(chunk->length, c.frames);
    EXPECT_EQ(sum, c.sum) << std::hex << "0x" << sum;

    plat::Msg msg;
    while (plat::PeekMessage(&msg, true))
      if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT)
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
    track.reset();
    while (plat::PeekMessage(&msg, true))
      if (msg.message == WM_SOUND_IN || msg.message == WM_SOUND_OUT)
        ReleaseBufferDescr(reinterpret_cast<CBufferDescr*>(msg.wParam));
  }
}

}  // namespace
}  // namespace vts

namespace vts {
namespace {

// The window sets the notice target on its thread while the core thread posts: once
// SetNotifyTarget has returned, the old target gets nothing more (its window may go).
TEST(NotifyTargetChange, ANewTargetTakesOverWhileAnotherThreadPosts) {
  audio::VirtualEndpoints::Instance()->Reset();
  EngineStateBlock state;
  CSoundTrack track(0, "Student", &state);
  test::NotifyLog first, second, last;
  track.SetNotifyTarget(first.Target());
  std::atomic<bool> run{true};
  std::thread poster([&] {
    while (run) track.NotifyPosition();
  });
  for (int i = 0; i < 2000; ++i) track.SetNotifyTarget((i % 2 ? first : second).Target());
  track.SetNotifyTarget(last.Target());
  const int firstSeen = first.Count(TRACK_NOTIFY_POSITION);
  const int secondSeen = second.Count(TRACK_NOTIFY_POSITION);
  ASSERT_TRUE(last.WaitForCount(TRACK_NOTIFY_POSITION, 100));
  run = false;
  poster.join();
  EXPECT_EQ(first.Count(TRACK_NOTIFY_POSITION), firstSeen);
  EXPECT_EQ(second.Count(TRACK_NOTIFY_POSITION), secondSeen);
  track.SetNotifyTarget({});
}

}  // namespace
}  // namespace vts
