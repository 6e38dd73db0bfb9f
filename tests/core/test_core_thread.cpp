// Core thread: routing of sound messages to the tracks, the barrier before the tracks go,
// release of payloads nobody takes, pipe events, streaming failure; and the core object's
// construction and destruction around it.
#include "core/core_thread.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/app_core.h"
#include "core/data_folder.h"
#include "core/product_name.h"
#include "platform/message_box.h"
#include "test_files.h"

using namespace vts;
using namespace std::chrono_literals;

namespace {

std::mutex g_releasedMutex;
std::vector<plat::WPARAM> g_released;
void RecordRelease(plat::WPARAM d) {
  std::lock_guard lock(g_releasedMutex);
  g_released.push_back(d);
}
std::vector<plat::WPARAM> Released() {
  std::lock_guard lock(g_releasedMutex);
  return g_released;
}

// A track that owns descriptors in [lo, hi).
class FakeTrack : public ITrackSoundHandlers {
 public:
  FakeTrack(plat::WPARAM lo, plat::WPARAM hi) : lo_(lo), hi_(hi) {}
  void OnBufferPlayed(plat::WPARAM* d) override {
    std::lock_guard lock(m_);
    offered.push_back(*d);
    if (*d >= lo_ && *d < hi_) {
      played.push_back(*d);
      *d = 0;
    }
  }
  void OnCapturedBlock(plat::WPARAM d) override {
    std::lock_guard lock(m_);
    captured.push_back(d);
    if (gate) gate();
  }
  void OnRecordingMoves(plat::WPARAM chunk, plat::LPARAM) override {
    std::lock_guard lock(m_);
    moves.push_back(chunk);
    events.push_back("move " + std::to_string(chunk));
  }
  std::vector<plat::WPARAM> offered, played, captured, moves;
  std::vector<std::string> events;  // what the stream and the step saw, in order
  std::function<void()> gate;
  std::mutex m_;

 private:
  plat::WPARAM lo_, hi_;
};

class CoreThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSoundPayloadReleaser(RecordRelease);
    std::lock_guard lock(g_releasedMutex);
    g_released.clear();
  }
};

}  // namespace

TEST_F(CoreThreadTest, PlayedBuffersGoToTheirOwnerAndCapturedBlocksToTheStudent) {
  CCoreThread core;
  ASSERT_TRUE(core.Start());
  FakeTrack master(100, 200), student(200, 300);
  core.SetTrackHandlers(&master, &student);
  for (plat::WPARAM d : {150u, 250u, 999u}) ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_OUT, d, 0));
  for (plat::WPARAM d : {7u, 0u}) ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, d, 0));
  core.SetTrackHandlers(nullptr, nullptr);  // returns after everything before it was handled

  EXPECT_EQ(master.offered, (std::vector<plat::WPARAM>{150, 250, 999}));
  EXPECT_EQ(master.played, (std::vector<plat::WPARAM>{150}));
  EXPECT_EQ(student.offered, (std::vector<plat::WPARAM>{250, 999}));  // the Master's buffer never
  EXPECT_EQ(student.played, (std::vector<plat::WPARAM>{250}));
  EXPECT_EQ(student.captured, (std::vector<plat::WPARAM>{7, 0}));  // the end mark too
  EXPECT_TRUE(master.captured.empty());
  EXPECT_EQ(Released(), (std::vector<plat::WPARAM>{999}));  // nobody's buffer is not leaked
  core.Stop();
}

TEST_F(CoreThreadTest, NoTrackHandlerRunsAfterTheBarrierAndLaterPayloadsAreReleased) {
  CCoreThread core;
  ASSERT_TRUE(core.Start());
  FakeTrack master(0, 0), student(0, 0);
  core.SetTrackHandlers(&master, &student);
  std::atomic<bool> stop{false};
  std::atomic<int> posted{0};
  std::thread engine([&] {
    for (plat::WPARAM d = 1; !stop; ++d) {
      if (plat::PostThreadMessage(core.Id(), WM_SOUND_IN, d, 0)) ++posted;
      if (d % 64 == 0) std::this_thread::yield();
    }
  });
  std::this_thread::sleep_for(20ms);
  core.SetTrackHandlers(nullptr, nullptr);
  size_t seenAtBarrier;
  {
    std::lock_guard lock(student.m_);
    seenAtBarrier = student.captured.size();
  }
  std::this_thread::sleep_for(20ms);
  stop = true;
  engine.join();
  core.Stop();
  {
    std::lock_guard lock(student.m_);
    EXPECT_EQ(student.captured.size(), seenAtBarrier);
  }
  EXPECT_EQ(student.captured.size() + Released().size(), static_cast<size_t>(posted.load()));
}

TEST_F(CoreThreadTest, MessagesQueuedBehindTheQuitAreReleased) {
  CCoreThread core;
  ASSERT_TRUE(core.Start());
  FakeTrack master(0, 0), student(0, 0);
  std::mutex gateMutex;
  std::condition_variable cv;
  bool open = false;
  student.gate = [&] {
    std::unique_lock lock(gateMutex);
    cv.wait(lock, [&] { return open; });
  };
  core.SetTrackHandlers(&master, &student);
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, 1, 0));  // holds the thread
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), plat::WM_QUIT, 0, 0));
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, 42, 0));
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_CORE_STREAM_PIPE, 9, AllocPipeBlock("ab", 2)));
  {
    std::lock_guard lock(gateMutex);
    open = true;
  }
  cv.notify_all();
  core.Stop();
  EXPECT_EQ(student.captured, (std::vector<plat::WPARAM>{1}));
  EXPECT_EQ(Released(), (std::vector<plat::WPARAM>{42}));  // the pipe block is freed too (ASan checks)
  EXPECT_FALSE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, 43, 0));
}

TEST_F(CoreThreadTest, InterfacePipeKeepsTheHandleAndFreesData) {
  CCoreThread core;
  ASSERT_TRUE(core.Start());
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_CORE_IFACE_PIPE, 77, kPipeConnected));
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_CORE_IFACE_PIPE, 77, AllocPipeBlock("hello", 5)));
  core.SetTrackHandlers(nullptr, nullptr);  // a barrier: everything above is handled
  EXPECT_EQ(core.InterfacePipeHandle(), 77u);
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_CORE_IFACE_PIPE, 77, kPipeDisconnected));
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_CORE_STREAM_PIPE, 78, AllocPipeBlock("x", 1)));
  core.SetTrackHandlers(nullptr, nullptr);
  EXPECT_EQ(core.InterfacePipeHandle(), 0u);
  core.Stop();
}

TEST_F(CoreThreadTest, FailedStreamWriteTurnsStreamingOffWithOneBox) {
  auto boxes = std::make_shared<plat::RecordingMessageBoxService>();
  plat::SetMessageBoxService(boxes);
  CCoreThread core;
  ASSERT_TRUE(core.Start());
  FakeTrack master(0, 0), student(0, 0);
  std::atomic<bool> streaming{true};
  std::vector<bool> finals;
  std::vector<plat::WPARAM> capturedAtFinal;
  CCoreThread::StreamHandlers h;
  h.isStreaming = [&] { return streaming.load(); };
  h.stopStreaming = [&] { streaming = false; };
  h.sendStreamBlock = [&](bool final) {
    finals.push_back(final);
    if (final) {
      std::lock_guard lock(student.m_);
      capturedAtFinal = student.captured;
    }
    return !final;  // the final write fails
  };
  core.SetStreamHandlers(h);
  core.SetTrackHandlers(&master, &student);
  for (plat::WPARAM d : {5u, 0u, 6u}) ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, d, 0));
  core.SetTrackHandlers(nullptr, nullptr);
  core.Stop();
  EXPECT_EQ(finals, (std::vector<bool>{false, true}));       // no block after streaming went off
  // The end mark reaches the track before the final block, so its last audio goes out too.
  EXPECT_EQ(capturedAtFinal, (std::vector<plat::WPARAM>{5, 0}));
  EXPECT_EQ(student.captured, (std::vector<plat::WPARAM>{5, 0, 6}));
  EXPECT_FALSE(streaming);
  auto shown = boxes->Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, u"StreamingMode will be disabled");
  EXPECT_EQ(shown[0].caption, u"Error streaming");
  EXPECT_EQ(shown[0].type, plat::MB_OK);
  plat::SetMessageBoxService(nullptr);
}

// A recording stepping on to another chunk: the chunk left ends its stream (a final block)
// before the step, in line with the captured blocks around it.
TEST_F(CoreThreadTest, ARecordingsStepEndsTheLeftChunksStreamFirst) {
  CCoreThread core;
  ASSERT_TRUE(core.Start());
  FakeTrack master(0, 0), student(0, 0);
  CCoreThread::StreamHandlers h;
  h.isStreaming = [] { return true; };
  h.stopStreaming = [] {};
  h.sendStreamBlock = [&](bool final) {
    std::lock_guard lock(student.m_);
    student.events.push_back(std::string(final ? "final" : "block") + " after " +
                             std::to_string(student.captured.size()));
    return true;
  };
  core.SetStreamHandlers(h);
  core.SetTrackHandlers(&master, &student);
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, 5, 0));
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_RECORDING_MOVES, 3, 0));
  ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, 6, 0));
  core.SetTrackHandlers(nullptr, nullptr);
  core.Stop();
  EXPECT_EQ(student.events,
            (std::vector<std::string>{"block after 1", "final after 1", "move 3", "block after 2"}));
  EXPECT_TRUE(master.moves.empty()) << "not the Master's engine";
}

namespace {
// Boxes as the window shows them: one the caller waits for stays up until the test answers
// it; one nobody waits for is only noted (the window shows it when its loop runs).
class UnansweredBoxes : public plat::IMessageBoxService {
 public:
  int Show(const std::u16string& text, const std::u16string&, unsigned) override {
    std::unique_lock lock(m_);
    shown_.push_back(text);
    cv_.wait(lock, [this] { return answered_; });
    return plat::IDOK;
  }
  void ShowWithoutWaiting(const std::u16string& text, const std::u16string&, unsigned) override {
    std::lock_guard lock(m_);
    shown_.push_back(text);
  }
  void Answer() {
    std::lock_guard lock(m_);
    answered_ = true;
    cv_.notify_all();
  }
  std::vector<std::u16string> Shown() {
    std::lock_guard lock(m_);
    return shown_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool answered_ = false;
  std::vector<std::u16string> shown_;
};
}  // namespace

// While nobody has answered "Error streaming", the recording goes on: the blocks captured
// after the failure, the stop's end mark among them, reach the track at once.
TEST_F(CoreThreadTest, TheBoxOfAFailedStreamHoldsUpNoCapturedBlock) {
  auto boxes = std::make_shared<UnansweredBoxes>();
  plat::SetMessageBoxService(boxes);
  CCoreThread core;
  ASSERT_TRUE(core.Start());
  FakeTrack master(0, 0), student(0, 0);
  std::atomic<bool> streaming{true};
  CCoreThread::StreamHandlers h;
  h.isStreaming = [&] { return streaming.load(); };
  h.stopStreaming = [&] { streaming = false; };
  h.sendStreamBlock = [](bool) { return false; };  // the peer is gone
  core.SetStreamHandlers(h);
  core.SetTrackHandlers(&master, &student);
  for (plat::WPARAM d : {5u, 6u, 7u, 0u})
    ASSERT_TRUE(plat::PostThreadMessage(core.Id(), WM_SOUND_IN, d, 0));
  const bool allArrived = test::WaitUntil(
      [&] {
        std::lock_guard lock(student.m_);
        return student.captured.size() == 4;
      },
      10s);
  boxes->Answer();  // a thread still waiting on it goes on now
  EXPECT_TRUE(allArrived) << "the core thread waits for the box";
  EXPECT_FALSE(streaming);
  EXPECT_EQ(boxes->Shown(), (std::vector<std::u16string>{u"StreamingMode will be disabled"}));
  core.SetTrackHandlers(nullptr, nullptr);
  core.Stop();
  plat::SetMessageBoxService(nullptr);
}

TEST(AppCore, ConstructionStartsTheCoreThreadAndMakesTheDataFolder) {
  {
    CAppCore core;
    EXPECT_NE(core.CoreThreadId(), 0u);
    EXPECT_TRUE(core.coreThread.Running());
    EXPECT_EQ(core.outputDeviceName, std::u16string(1, u'\uFFFF'));
    EXPECT_EQ(core.inputDeviceName, std::u16string(1, u'\uFFFF'));
    EXPECT_EQ(core.mixerValue, 0xFFFFFFFFu);
    EXPECT_EQ(core.mixerInput, 0u);
    EXPECT_EQ(core.programFolder.back(), '/');
    EXPECT_EQ(core.dataFolder, GetDataFolder());
    struct stat st{};
    EXPECT_EQ(stat(core.dataFolder.c_str(), &st), 0);

    std::vector<StreamDestination> many(300);
    for (size_t i = 0; i < many.size(); ++i) many[i].number = static_cast<std::uint32_t>(i);
    core.SetStreamDestinations(many);
    EXPECT_EQ(core.destinationCount, kMaxStreamDestinations);
    EXPECT_EQ(core.streamDestinations[255].number, 255u);
    core.SetStreamDestinations({});
    EXPECT_EQ(core.destinationCount, 0u);
  }
  // Destroyed: its thread is joined, posts fail.
}
