// The window's transport: the end-of-playback table by mode and sender, the window's own
// stops told apart from real ends, the right-click variants and the chunk stepping.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/window_bus.h"
#include "sound_track_test_access.h"
#include "transport_fixture.h"

namespace vts::ui::test {
namespace {

using Calls = std::vector<std::string>;

class Transport : public WindowTest {
 protected:
  // Puts the window into `mode` by its button (both tracks stopped before and after).
  void EnterMode(uint32_t mode) {
    static const int kButton[] = {0, 1024, 1039, 1040, 1037, 1038};
    if (mode != 0) dlg->Dispatch(kButton[mode], BN_CLICKED);
    ASSERT_EQ(dlg->TransportMode(), mode);
    for (CSoundTrack* t : {master, student}) {
      CSoundTrackTestAccess::SetPlaying(*t, false);
      CSoundTrackTestAccess::SetRecording(*t, false);
      CSoundTrackTestAccess::SetPaused(*t, false);
    }
    ops->calls.clear();
  }
};

struct EndCase {
  uint32_t mode;
  char sender;  // 'M' Master track, 'S' Student track, 'V' another sender (the video)
  Calls calls;
  uint32_t modeAfter;
};

TEST_F(Transport, EndOfPlaybackFollowsTheTableByModeAndSender) {
  const std::vector<EndCase> table = {
      {0, 'M', {}, 0},         {0, 'S', {}, 0}, {0, 'V', {}, 0}, {1, 'M', {"Play S"}, 1},
      {1, 'S', {"Play M"}, 1}, {1, 'V', {}, 1}, {2, 'M', {}, 0}, {2, 'S', {}, 0},
      {2, 'V', {}, 0},         {3, 'M', {}, 3}, {3, 'S', {}, 3}, {3, 'V', {}, 3},
      {4, 'M', {"Play S"}, 4}, {4, 'S', {}, 0}, {4, 'V', {}, 0}, {5, 'M', {"ToggleRecord S"}, 5},
      {5, 'S', {}, 0},         {5, 'V', {}, 0},
  };
  FakeVideo other;
  for (const EndCase& c : table) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " sender " << c.sender);
    EnterMode(c.mode);
    const intptr_t sender = c.sender == 'M'   ? Sender(master)
                            : c.sender == 'S' ? Sender(student)
                                              : other.SenderId();
    if (c.sender != 'V') EndPlayback(c.sender == 'M' ? master : student);
    Notify(5, sender);
    EXPECT_EQ(ops->calls, c.calls);
    EXPECT_EQ(dlg->TransportMode(), c.modeAfter);
    EXPECT_EQ(dlg->Button(1019)->text(), "BUTNEXTB");
    // Leave the mode for the next case.
    for (CSoundTrack* t : {master, student}) {
      CSoundTrackTestAccess::SetPlaying(*t, false);
      CSoundTrackTestAccess::SetRecording(*t, false);
    }
    dlg->Dispatch(1036, BN_CLICKED);
  }
}

TEST_F(Transport, TheWindowsOwnStopsAreNoEndButARealEndStillCounts) {
  // Sequential playback pressed while both tracks play: the Master restarts, the Student
  // plays only after the Master's chunk has really ended.
  CSoundTrackTestAccess::SetPlaying(*master, true);
  CSoundTrackTestAccess::SetPlaying(*student, true);
  dlg->Dispatch(1037, BN_CLICKED);
  ASSERT_EQ(dlg->TransportMode(), 4u);
  EXPECT_EQ(ops->calls, (Calls{"StopPlayback M", "StopPlayback S", "Play M"}));
  ops->calls.clear();
  // The two stop notices arrive late: the Student's is stale although it does not play.
  Notify(5, Sender(master));
  Notify(5, Sender(student));
  EXPECT_EQ(dlg->TransportMode(), 4u);
  EXPECT_TRUE(ops->calls.empty());
  // The Master's chunk ends: the Student plays; its end ends the mode.
  EndPlayback(master);
  Notify(5, Sender(master));
  EXPECT_EQ(ops->calls, (Calls{"Play S"}));
  EndPlayback(student);
  Notify(5, Sender(student));
  EXPECT_EQ(dlg->TransportMode(), 0u);
}

TEST_F(Transport, SimultaneousPlaybackOverARunningMasterKeepsItsMode) {
  CSoundTrackTestAccess::SetPlaying(*master, true);
  dlg->Dispatch(1039, BN_CLICKED);
  EXPECT_EQ(dlg->TransportMode(), 2u);
  Notify(5, Sender(master));  // the stop's notice
  EXPECT_EQ(dlg->TransportMode(), 2u);
  EndPlayback(master);
  Notify(5, Sender(master));  // a real end
  EXPECT_EQ(dlg->TransportMode(), 0u);
}

TEST_F(Transport, PauseInComparisonModePausesTheStudentOnly) {
  EnterMode(1);
  CSoundTrackTestAccess::SetPlaying(*student, true);
  dlg->Dispatch(1034, BN_CLICKED);
  EXPECT_EQ(ops->calls, (Calls{"TogglePause S"}));
  Notify(5, Sender(student));  // the pause's stop
  EXPECT_EQ(ops->calls, (Calls{"TogglePause S"}));
  EXPECT_EQ(dlg->TransportMode(), 1u);
}

TEST_F(Transport, ModeButtonsToggleTheirOwnModeAndRepeatLeavesAny) {
  dlg->Dispatch(1038, BN_CLICKED);
  EXPECT_EQ(dlg->TransportMode(), 5u);
  dlg->Dispatch(1040, BN_CLICKED);
  EXPECT_EQ(dlg->TransportMode(), 3u);
  dlg->Dispatch(1040, BN_CLICKED);
  EXPECT_EQ(dlg->TransportMode(), 0u);
  dlg->Dispatch(1037, BN_CLICKED);
  dlg->Dispatch(1024, BN_CLICKED);
  EXPECT_EQ(dlg->TransportMode(), 0u);
  dlg->Dispatch(1024, BN_CLICKED);
  EXPECT_EQ(dlg->TransportMode(), 1u);
}

TEST_F(Transport, RightClickOnAModeButtonStartsItsModeOneChunkOn) {
  struct Case {
    int id;
    uint32_t startMode;
    uint32_t mode;
  };
  const Case cases[] = {{1037, 0, 4}, {1038, 5, 5}, {1039, 4, 2}, {1040, 3, 3}};
  MakeChunks(master, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    CSoundTrackTestAccess::SetCurrentChunk(*master, 0);
    student->FreeChunks();
    CSoundTrackTestAccess::SetCurrentChunk(*student, -1);
    EnterMode(c.startMode);
    dlg->Dispatch(c.id, NM_RCLICK);
    EXPECT_EQ(master->CurrentChunkIndex(), 1);
    // The Student follows with empty chunks.
    EXPECT_EQ(student->CurrentChunkIndex(), 1);
    EXPECT_EQ(student->ChunkCount(), 2);
    EXPECT_EQ(dlg->TransportMode(), c.mode);
    for (CSoundTrack* t : {master, student}) {
      CSoundTrackTestAccess::SetPlaying(*t, false);
      CSoundTrackTestAccess::SetRecording(*t, false);
    }
    dlg->Dispatch(1036, BN_CLICKED);
  }
}

TEST_F(Transport, EveryPressIsMirroredToTheLinkedPeerOnceAndARightClickAsOneMessage) {
  std::vector<std::pair<plat::WPARAM, plat::LPARAM>> got;
  auto peer = plat::BusWindow::Create("VtsPeerTest", u"peer", [&](const plat::WindowMessage& m) {
    if (m.message == WM_REMOTECONTROL) got.emplace_back(m.wParam, m.lParam);
    return plat::LRESULT(0);
  });
  ASSERT_NE(peer, nullptr);
  dlg->SetPeerWindow(peer->Id());
  MakeChunks(master, 3);
  dlg->Dispatch(1038, NM_RCLICK);  // the chunk step and the mode start inside: no own mirror
  dlg->Dispatch(1018, BN_CLICKED);
  dlg->Dispatch(1034, BN_CLICKED);
  for (int i = 0; i < 50 && got.size() < 3; ++i)
    peer->WaitAndDispatch(std::chrono::milliseconds(100));
  peer->WaitAndDispatch(std::chrono::milliseconds(200));
  const std::vector<std::pair<plat::WPARAM, plat::LPARAM>> expected = {
      {1038, 1}, {1018, 0}, {1034, 0}};
  EXPECT_EQ(got, expected);
}

TEST_F(Transport, NextBWithoutAMasterStepsTheStudentAloneAndGoesOnRecording) {
  CSoundTrackTestAccess::SetRecording(*student, true);
  dlg->Dispatch(1019, BN_CLICKED);
  EXPECT_EQ(student->CurrentChunkIndex(), 1);
  EXPECT_EQ(student->ChunkCount(), 2);
  EXPECT_TRUE(student->IsRecording());
  EXPECT_EQ(ops->calls.back(), "ContinueRecordingIn S 1");
}

TEST_F(Transport, StepsAtTheMastersLastChunkChangeNothing) {
  MakeChunks(master, 2);
  CSoundTrackTestAccess::SetCurrentChunk(*master, 1);
  for (int id : {1019, 1013, 1025}) {
    SCOPED_TRACE(id);
    ops->calls.clear();
    dlg->Dispatch(id, BN_CLICKED);
    EXPECT_EQ(master->CurrentChunkIndex(), 1);
    EXPECT_EQ(student->ChunkCount(), 0);
    EXPECT_TRUE(ops->calls.empty());
  }
}

TEST_F(Transport, MasterNextStepsBothAndPlaysTheMaster) {
  MakeChunks(master, 3);
  dlg->Dispatch(1013, BN_CLICKED);
  EXPECT_EQ(master->CurrentChunkIndex(), 1);
  EXPECT_EQ(student->CurrentChunkIndex(), 1);
  EXPECT_EQ(ops->calls.back(), "Play M");
  EXPECT_EQ(dlg->Button(1012)->text(), "MBUTPAUSE");
  dlg->Dispatch(1011, BN_CLICKED);
  EXPECT_EQ(master->CurrentChunkIndex(), 0);
  EXPECT_EQ(student->CurrentChunkIndex(), 0);
}

TEST_F(Transport, WithAVideoModesFourAndFiveEndAtTheVideosEndAndNeverStartTheStudent) {
  FakeVideo video;
  video.chunkCount = 2;
  video.current = 0;
  dlg->SetVideo(&video);
  answers = {QStringLiteral("/lessons/film.MKV")};
  dlg->Dispatch(1027, BN_CLICKED);
  ASSERT_TRUE(dlg->VideoMode());
  for (int id : {1037, 1038}) {
    dlg->Dispatch(id, BN_CLICKED);
    EXPECT_TRUE(video.playing);
    ops->calls.clear();
    video.EndPlayback();
    Notify(5, video.SenderId());
    EXPECT_EQ(dlg->TransportMode(), 0u);
    EXPECT_TRUE(ops->calls.empty());
  }
}

// The window over the real track operations, with time moved by the test.
class RecordingAcrossChunks : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    audio::VirtualEndpoints::Instance()->SetManualClock(true);
    dlg->SetTrackOps(std::make_shared<TrackOps>());
  }
  void TearDown() override {
    if (student->IsRecording()) dlg->Dispatch(1017, BN_CLICKED);
    student->WaitForRecordingEnd();
    audio::VirtualEndpoints::Instance()->SetManualClock(false);
    WindowTest::TearDown();
  }
  // Moves the sound on and lets the core thread handle what that brought.
  void Run(int ms) {
    for (int t = 0; t < ms; t += 20) audio::VirtualEndpoints::Instance()->Advance(20);
    core->coreThread.Apply([] {});
  }
};

// Next and Previous while recording: the recording goes on in the chunk stepped to, and every
// frame captured (but the last, unfinished block) is in one chunk or the next. Each step
// comes with half a block captured.
TEST_F(RecordingAcrossChunks, EveryCapturedFrameIsInOneChunkOrTheNext) {
  dlg->Dispatch(1017, BN_CLICKED);  // BUTREC
  ASSERT_TRUE(student->IsRecording());
  const int steps[] = {1019, 1019, 1019, 1014, 1019};  // BUTNEXTB, BUTPREV
  const int expectedChunk[] = {1, 2, 3, 2, 3};
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    Run(1020);
    dlg->Dispatch(steps[i], BN_CLICKED);
    EXPECT_TRUE(student->IsRecording());
    EXPECT_EQ(student->CurrentChunkIndex(), expectedChunk[i]);
  }
  Run(1020);
  dlg->Dispatch(1017, BN_CLICKED);
  ASSERT_TRUE(student->WaitForRecordingEnd());
  EXPECT_EQ(student->DroppedBlocks(), 0u);

  std::uint64_t total = 0;
  for (int c = 0; c < student->ChunkCount(); ++c) {
    ASSERT_NE(student->Chunk(c), nullptr);
    total += student->Chunk(c)->length;
  }
  // 6 × 1.02 s captured; the stop drops the last half block, the endpoint's resampler a few
  // frames at the start.
  const std::uint64_t captured = 6 * 1020 * 441 / 10;
  EXPECT_LE(total, captured);
  EXPECT_GE(total, captured - 1764 / 2 - 64) << "frames lost at the steps";
}

}  // namespace
}  // namespace vts::ui::test
