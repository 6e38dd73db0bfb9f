// The transport without its window: what each mode starts on the Master and the Student,
// which presses leave a mode, and the window's own stops told from real ends by the tracks'
// playback generations (also when the notices come late or twice).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "audio/virtual_endpoints.h"
#include "sound_track_test_access.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"

namespace vts {
namespace {

using Calls = std::vector<std::string>;

// Moves the tracks' flags and generations as the tracks do, and logs the calls.
class LoggingOps : public TrackOps {
 public:
  CSoundTrack* master = nullptr;
  Calls calls;
  void Log(const char* what, const CSoundTrack& t) {
    calls.push_back(std::string(what) + (&t == master ? " M" : " S"));
  }
  void Play(CSoundTrack& t) override {
    Log("Play", t);
    t.BeginPlayGeneration();
    CSoundTrackTestAccess::SetPlaying(t, true);
    CSoundTrackTestAccess::SetPaused(t, false);
  }
  void StopPlayback(CSoundTrack& t) override {
    Log("StopPlayback", t);
    if (t.IsPlaying()) t.BeginPlayGeneration();
    CSoundTrackTestAccess::SetPlaying(t, false);
    CSoundTrackTestAccess::SetPaused(t, false);
    CSoundTrackTestAccess::SetRecording(t, false);
  }
  void ToggleRecord(CSoundTrack& t) override {
    Log("ToggleRecord", t);
    CSoundTrackTestAccess::SetRecording(t, !t.IsRecording());
  }
  void TogglePause(CSoundTrack& t) override {
    Log("TogglePause", t);
    if (!t.IsPlaying()) return;
    t.BeginPlayGeneration();
    CSoundTrackTestAccess::SetPaused(t, !t.IsPaused());
  }
};

class TransportModes : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::VirtualEndpoints::Instance()->Reset();
    master = std::make_unique<CSoundTrack>(0, "Master", &state);
    student = std::make_unique<CSoundTrack>(0, "Student", &state);
    ops = std::make_shared<LoggingOps>();
    ops->master = master.get();
    transport.SetOps(ops);
    transport.SetTracks(master.get(), student.get());
  }
  std::intptr_t Sender(const std::unique_ptr<CSoundTrack>& t) {
    return reinterpret_cast<std::intptr_t>(t.get());
  }
  // The chunk ran out: the track is no longer playing and its generation moved on.
  void RealEnd(CSoundTrack& t) {
    CSoundTrackTestAccess::SetPlaying(t, false);
    t.BeginPlayGeneration();
  }

  EngineStateBlock state;
  std::unique_ptr<CSoundTrack> master, student;
  std::shared_ptr<LoggingOps> ops;
  CTransport transport;
};

TEST_F(TransportModes, EachModeStartsWhatItsRowSaysAndAPressAgainLeavesIt) {
  struct Case {
    TransportMode mode;
    Calls start;  // after the stops of both sides
  };
  const Case cases[] = {
      {TransportMode::Comparison, {"Play M"}},
      {TransportMode::SimultaneousPlay, {"Play M", "Play S"}},
      {TransportMode::SimultaneousRecord, {"Play M", "ToggleRecord S"}},
      {TransportMode::SequentialPlay, {"Play M"}},
      {TransportMode::SequentialRecord, {"Play M"}},
  };
  ASSERT_EQ(ModeTable().size(), std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    ops->calls.clear();
    transport.PressMode(c.mode);
    Calls expected = {"StopPlayback M", "StopPlayback S"};
    expected.insert(expected.end(), c.start.begin(), c.start.end());
    EXPECT_EQ(ops->calls, expected);
    EXPECT_EQ(transport.Mode(), c.mode);
    transport.PressMode(c.mode);
    EXPECT_EQ(transport.Mode(), TransportMode::None);
  }
}

TEST_F(TransportModes, ComparisonLeavesAnyModeTheOthersStartFromAnyOther) {
  transport.PressMode(TransportMode::SequentialRecord);
  transport.PressMode(TransportMode::SimultaneousPlay);
  EXPECT_EQ(transport.Mode(), TransportMode::SimultaneousPlay);
  CSoundTrackTestAccess::SetRecording(*student, true);
  ops->calls.clear();
  transport.PressMode(TransportMode::Comparison);
  EXPECT_EQ(transport.Mode(), TransportMode::None);
  EXPECT_EQ(ops->calls.front(), "ToggleRecord S");  // the recording ends first
}

TEST_F(TransportModes, OwnStopsAreNoEndsButEveryRealEndCountsOnce) {
  // Sequential playback pressed over two playing tracks: both stops are the transport's own.
  CSoundTrackTestAccess::SetPlaying(*master, true);
  CSoundTrackTestAccess::SetPlaying(*student, true);
  transport.PressMode(TransportMode::SequentialPlay);
  ops->calls.clear();
  EXPECT_FALSE(transport.OnPlaybackEnded(Sender(master)));   // plays again
  EXPECT_FALSE(transport.OnPlaybackEnded(Sender(student)));  // the stop's notice
  EXPECT_TRUE(ops->calls.empty());
  // The Master's chunk ends: the Student plays; the notice delivered twice counts once.
  RealEnd(*master);
  EXPECT_TRUE(transport.OnPlaybackEnded(Sender(master)));
  EXPECT_FALSE(transport.OnPlaybackEnded(Sender(master)));
  EXPECT_EQ(ops->calls, (Calls{"Play S"}));
  RealEnd(*student);
  EXPECT_TRUE(transport.OnPlaybackEnded(Sender(student)));
  EXPECT_EQ(transport.Mode(), TransportMode::None);
}

TEST_F(TransportModes, AStopNoticeThatArrivesAfterTheRestartedTrackEndedStandsForThatEnd) {
  // Comparison: the Student is stopped and restarted by an end of the Master; it has nothing to
  // play and ends at once, before the stop's notice is handled. Two notices, one end.
  transport.PressMode(TransportMode::Comparison);
  CSoundTrackTestAccess::SetPlaying(*student, true);
  transport.StopTrack(*student);
  ops->calls.clear();
  RealEnd(*master);
  ASSERT_TRUE(transport.OnPlaybackEnded(Sender(master)));
  RealEnd(*student);  // the Student's Play ended at once
  int ends = 0;
  for (int notice = 0; notice < 2; ++notice) ends += transport.OnPlaybackEnded(Sender(student));
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(ops->calls, (Calls{"Play S", "Play M"}));
}

TEST_F(TransportModes, APausesNoticeIsNoEndAlsoWhenHandledAfterThePauseWasLeft) {
  transport.PressMode(TransportMode::Comparison);
  transport.PauseTrack(*master);  // playing and paused
  EXPECT_FALSE(transport.OnPlaybackEnded(Sender(master)));
  CSoundTrackTestAccess::SetPlaying(*master, false);
  CSoundTrackTestAccess::SetPaused(*master, false);  // no longer playing, nothing ended since
  EXPECT_FALSE(transport.OnPlaybackEnded(Sender(master)));
  EXPECT_EQ(transport.Mode(), TransportMode::Comparison);
}

}  // namespace
}  // namespace vts
