// The core's stream pipe against a peer of ours on a real socket, with real tracks: the
// greeting on every connect, the mixer-input notice that came before the peer, the peer's
// messages (good, foreign, before the id, each malformed kind) seen through the tracks and
// the message-box service, the Student stream in blocks, a peer that dies mid-stream, and
// the stream log's lines for what the peer got wrong.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <numeric>
#include <vector>

#include "core/app_core.h"
#include "core/command_line.h"
#include "core/core_thread.h"
#include "core/log.h"
#include "core/pipe_channel.h"
#include "core/stream_protocol.h"
#include "platform/message_box.h"
#include "log_lines.h"
#include "platform/utf.h"
#include "sound_track_test_access.h"
#include "stream_messages.h"
#include "test_env.h"
#include "test_files.h"
#include "tracks/sound_track.h"

using namespace vts;
using namespace std::chrono_literals;

namespace {

using test::Bytes;
using test::Get32;
using test::Message;
using test::Put32;
constexpr std::uint32_t kPeerMsg = plat::WM_USER + 0x301;
constexpr auto kWait = 10s;

Bytes Audio(std::uint32_t chunk, std::uint32_t pos, const std::vector<std::int16_t>& pcm,
            const std::vector<std::uint32_t>& ids) {
  return test::AudioMessage(chunk, pos, pcm, ids);
}

// The stream peer: our own pipe channel in server mode, its events on the test thread.
class Peer {
 public:
  Peer() : channel_(CAppCore::kStreamPipeName, plat::CurrentThreadId(), kPeerMsg) {
    EXPECT_TRUE(channel_.Start(CPipeChannel::Mode::kServer));
  }
  // Waits for the next connect; its handle.
  plat::WPARAM WaitConnected() {
    for (;;) {
      plat::Msg m = Next();
      if (m.message == 0) return 0;
      if (m.lParam == kPipeConnected) return handle_ = m.wParam;
      FreePipeBlock(m.lParam);
    }
  }
  // The next message's N bytes (type first); empty on a disconnect or time-out.
  Bytes NextMessage() {
    for (;;) {
      plat::Msg m = Next();
      if (m.message == 0 || m.lParam == kPipeDisconnected) return {};
      if (m.lParam == kPipeConnected) continue;
      const auto* p = reinterpret_cast<const std::uint8_t*>(m.lParam);
      std::uint32_t n;
      std::memcpy(&n, p, 4);
      Bytes body(p + 4, p + 4 + n);
      FreePipeBlock(m.lParam);
      return body;
    }
  }
  bool Send(const Bytes& framed) { return channel_.Write(handle_, framed); }
  void Stop() { channel_.Stop(); }

 private:
  plat::Msg Next() {
    plat::Msg m;
    const auto end = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < end)
      if (plat::GetMessageTimeout(&m, 100ms) && m.message == kPeerMsg) return m;
    ADD_FAILURE() << "the peer heard nothing";
    return {};
  }
  CPipeChannel channel_;
  plat::WPARAM handle_ = 0;
};

// Runs f on the core thread and returns its result (the core's stream state is its own).
template <class F>
auto OnCore(CAppCore& core, F f) -> decltype(f()) {
  std::promise<decltype(f())> result;
  auto future = result.get_future();
  EXPECT_TRUE(core.coreThread.PostTask([&] { result.set_value(f()); }));
  return future.get();
}

template <class F>
bool WaitOnCore(CAppCore& core, F condition) {
  const auto end = std::chrono::steady_clock::now() + kWait;
  while (std::chrono::steady_clock::now() < end) {
    if (OnCore(core, condition)) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

class StreamLinkTest : public ::testing::Test {
 protected:
  // What the peers heard and nobody read is freed.
  static void DropPeerEvents() {
    plat::Msg m;
    while (plat::PeekMessage(&m, true))
      if (m.message == kPeerMsg) FreePipeBlock(m.lParam);
  }
  void SetUp() override {
    LogOptions logs;
    logs.folder = test::MakeTempDir("logs");
    streamLog = logs.folder + "/WavManager.log";
    InitLogging(logs);
    plat::EnsureQueue();
    DropPeerEvents();
    boxes = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes);
    core = std::make_unique<CAppCore>();
    core->masterTrack->GetTempSoundFolder("Master7");
    core->studentTrack->GetTempSoundFolder("Student7");
  }
  void TearDown() override {
    core.reset();
    plat::SetMessageBoxService(nullptr);
    DropPeerEvents();
    StopLogging();
  }
  // A marker the core handles after everything sent before it: mixer value `n`.
  void Sync(Peer& peer, std::uint32_t n) {
    Bytes v;
    Put32(v, n);
    Put32(v, 0);
    ASSERT_TRUE(peer.Send(Message(STREAM_MSG_MIXER_VALUES, v)));
    ASSERT_TRUE(WaitOnCore(*core, [&] { return core->mixerValue == n; }));
  }
  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  std::unique_ptr<CAppCore> core;
  std::string streamLog;  // the WaveManager log
};

}  // namespace

TEST_F(StreamLinkTest, EveryConnectGreetsAndANoticeFromBeforeThePeerFollowsOnce) {
  core->SendMixerInputNotice();  // no peer yet: lost on the wire, kept for the first connect
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    Peer peer;
    ASSERT_NE(peer.WaitConnected(), 0u);
    EXPECT_EQ(peer.NextMessage(),
              (Bytes{0x36, 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   'V',
                     'o',  'x', 't', 'r', 'a', 'i', 'l', 's', 't', 'u', 'd', 'y', 0}));
    EXPECT_EQ(peer.NextMessage(), (Bytes{0x34, 0, 0, 0}));
    if (round == 0) EXPECT_EQ(peer.NextMessage(), (Bytes{0x39, 0x04, 0, 0}));
    // While connected the notice goes out at once.
    core->SendMixerInputNotice();
    EXPECT_EQ(peer.NextMessage(), (Bytes{0x39, 0x04, 0, 0}));
    peer.Stop();
    ASSERT_TRUE(WaitOnCore(*core, [&] { return core->streamPipeHandle == 0; }));
  }
}

TEST_F(StreamLinkTest, ReceivedMessagesReachTheTracksOrAreDropped) {
  core->mixerInput = 1;
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  std::vector<std::int16_t> pcm(100);
  std::iota(pcm.begin(), pcm.end(), std::int16_t(1));
  CSoundTrack& master = *core->masterTrack;
  CSoundTrack& student = *core->studentTrack;
  auto masterState = [&] {
    return OnCore(*core, [&] {
      std::lock_guard lock(master.BufferLock());
      CChunkInfo* c = master.CurrentChunk();
      return std::make_tuple(master.ChunkCount(), master.CurrentChunkIndex(), c ? c->length : 0u);
    });
  };
  Bytes malformedAudio = Audio(0, 0, pcm, {});
  malformedAudio[16] = 202;  // byte count: one past the 200 bytes there
  struct Row {
    const char* name;
    Bytes frame;
    int chunks, current;
    std::uint32_t length;
  } rows[] = {
      {"entry before the id is dropped", Audio(0, 0, pcm, {7}), 0, -1, 0},
      {"an entry 0 names nobody", Audio(0, 0, pcm, {0}), 0, -1, 0},
      {"no entries: taken", Audio(0, 0, pcm, {}), 1, 0, 100},
      {"client id", Message(STREAM_MSG_CLIENT_ID, {7, 0, 0, 0}), 1, 0, 100},
      {"own id, chunk 2 appears", Audio(2, 0, {pcm.begin(), pcm.begin() + 50}, {3, 7}), 3, 2, 50},
      {"foreign ids change nothing", Audio(0, 0, pcm, {3, 9}), 3, 2, 50},
      {"appended at a position", Audio(2, 50, pcm, {7}), 3, 2, 150},
      {"bytes past the end", malformedAudio, 3, 2, 150},
      {"chunk past the cap", Audio(kMaxReceivedChunkIndex + 1, 0, pcm, {}), 3, 2, 150},
      {"no type", Bytes{2, 0, 0, 0, 1, 0}, 3, 2, 150},
      {"id without an id", Message(STREAM_MSG_CLIENT_ID, {1}), 3, 2, 150},
      {"mixer values short", Message(STREAM_MSG_MIXER_VALUES, {1, 0, 0, 0}), 3, 2, 150},
      {"text without a unit", Message(STREAM_MSG_TEXT, {'x'}), 3, 2, 150},
      {"unknown type", Message(4242, {1, 2, 3}), 3, 2, 150},
  };
  std::uint32_t marker = 100;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(peer.Send(r.frame));
    Sync(peer, ++marker);
    EXPECT_EQ(masterState(), std::make_tuple(r.chunks, r.current, r.length));
  }
  EXPECT_EQ(OnCore(*core, [&] { return student.CurrentChunkIndex(); }), 2);
  EXPECT_EQ(OnCore(*core, [&] { return core->clientId; }), 7u);
  EXPECT_TRUE(boxes->Boxes().empty());

  // Mixer values follow the chosen input; texts are shown, the last unit forced to NUL.
  core->mixerInput = 2;
  Bytes values;
  Put32(values, 11);
  Put32(values, 22);
  ASSERT_TRUE(peer.Send(Message(STREAM_MSG_MIXER_VALUES, values)));
  ASSERT_TRUE(WaitOnCore(*core, [&] { return core->mixerValue == 22; }));
  ASSERT_TRUE(peer.Send(Message(STREAM_MSG_TEXT, {'H', 0, 'i', 0, '!', 0})));
  const auto end = std::chrono::steady_clock::now() + kWait;
  while (boxes->Boxes().empty() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(boxes->Boxes().size(), 1u);
  EXPECT_EQ(boxes->Boxes()[0].text, u"Hi");
  EXPECT_EQ(boxes->Boxes()[0].caption, u"Pipe Data");
  EXPECT_EQ(boxes->Boxes()[0].type, plat::MB_ICONINFORMATION);
}

TEST_F(StreamLinkTest, TheWindowReadsTheChunkListWhileReceivedAudioGrowsIt) {
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  CSoundTrack& master = *core->masterTrack;
  ASSERT_TRUE(peer.Send(Audio(200, 0, std::vector<std::int16_t>(10, 1), {})));
  // The window thread counts and looks at chunks as the core thread appends them.
  const auto until = std::chrono::steady_clock::now() + kWait;
  int seen = 0;
  while (seen < 201 && std::chrono::steady_clock::now() < until) {
    seen = master.ChunkCount();
    if (seen > 0) EXPECT_NE(master.Chunk(seen - 1), nullptr);
  }
  EXPECT_EQ(seen, 201);
}

TEST_F(StreamLinkTest, StudentStreamGoesOutInBlocksWithTheDestinationList) {
  core->SetStreamDestinations({{5, 192, 168, 0, 7}, {12, 10, 0, 0, 1}, {7, 1, 2, 3, 4}});
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  peer.NextMessage();
  peer.NextMessage();
  CSoundTrack& student = *core->studentTrack;
  std::vector<std::int16_t> pcm(20000);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::int16_t>(i);
  ASSERT_TRUE(OnCore(*core, [&] {
    student.AddChunk();
    student.SelectChunk(0);
    return student.WriteSamplesAt(0, 40000, reinterpret_cast<const std::uint8_t*>(pcm.data()));
  }));
  ASSERT_TRUE(OnCore(*core, [&] { return core->SendStreamBlock(false); }));
  ASSERT_TRUE(
      OnCore(*core, [&] { return core->SendStreamBlock(false); }));  // not a full block more
  ASSERT_TRUE(OnCore(*core, [&] { return core->SendStreamBlock(true); }));
  ASSERT_TRUE(OnCore(*core, [&] { return core->SendStreamBlock(true); }));  // nothing left

  struct Want {
    std::uint32_t position, samples;
  } blocks[] = {{0, 16384}, {16384, 3616}};
  for (const Want& w : blocks) {
    SCOPED_TRACE(w.position);
    Bytes m = peer.NextMessage();
    ASSERT_EQ(m.size(), 2 * w.samples + 24 + 50);
    EXPECT_EQ(Get32(m, 0), 55u);
    EXPECT_EQ(Get32(m, 26), 2 * w.samples + 24 + 20);
    EXPECT_EQ(Get32(m, 30), 2u);
    EXPECT_EQ(Get32(m, 34), 0u);  // chunk
    EXPECT_EQ(Get32(m, 38), w.position);
    EXPECT_EQ(Get32(m, 42), 2 * w.samples);
    EXPECT_EQ(Get32(m, 46), 3u);
    EXPECT_EQ(Get32(m, 50), 5u);
    std::int16_t first;
    std::memcpy(&first, m.data() + 74, 2);
    EXPECT_EQ(first, pcm[w.position]);
  }
  // The next recording of the chunk starts at its beginning again.
  core->SetStreamDestinations({});
  ASSERT_TRUE(OnCore(*core, [&] {
    return student.WriteSamplesAt(20000, 40000, reinterpret_cast<const std::uint8_t*>(pcm.data()));
  }));
  ASSERT_TRUE(OnCore(*core, [&] { return core->SendStreamBlock(false); }));
  Bytes m = peer.NextMessage();
  EXPECT_EQ(Get32(m, 38), 0u);  // a fresh recording's first block: the end reset the position
  EXPECT_EQ(Get32(m, 46), 0u);  // the list as it stands now
}

// A chunk switch on the window's thread while the core thread makes a relay block: the block
// is labelled with the chunk its samples come from. The switch is made while the core thread
// waits for the Student's lock.
TEST_F(StreamLinkTest, ARelayBlockIsLabelledWithTheChunkItsSamplesComeFrom) {
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  peer.NextMessage();
  peer.NextMessage();
  CSoundTrack& student = *core->studentTrack;
  ASSERT_TRUE(OnCore(*core, [&] {
    bool ok = student.AddChunk() && student.AddChunk();
    for (int chunk : {1, 0}) {
      const std::vector<std::int16_t> pcm(20000, static_cast<std::int16_t>(chunk + 1));
      student.SelectChunk(chunk);
      ok = ok && student.WriteSamplesAt(0, 40000, reinterpret_cast<const std::uint8_t*>(pcm.data()));
    }
    return ok;
  }));
  const long coreTid = OnCore(*core, [] { return test::CurrentThreadOsId(); });
  std::atomic<bool> started{false};
  std::promise<bool> sent;
  {
    std::lock_guard hold(student.BufferLock());
    ASSERT_TRUE(core->coreThread.PostTask([&] {
      started = true;
      sent.set_value(core->SendStreamBlock(false));
    }));
    while (!started) std::this_thread::yield();
    ASSERT_TRUE(test::WaitUntil([&] { return test::ThreadSleeps(coreTid); }, kWait));
    // The window steps on to chunk 1 (its own switch waits for the lock; here the switch
    // is made under the lock held).
    ASSERT_TRUE(student.LoadChunk(1));
    CSoundTrackTestAccess::SetCurrentChunk(student, 1);
  }
  ASSERT_TRUE(sent.get_future().get());
  const Bytes m = peer.NextMessage();
  ASSERT_EQ(m.size(), 2u * 16384 + 50);
  std::int16_t first;
  std::memcpy(&first, m.data() + 50, 2);
  EXPECT_EQ(first, 2) << "the samples are chunk 1's";
  EXPECT_EQ(Get32(m, 34), 1u) << "and so is the label";
}

// The command line names the mixer input on the window's thread at start, while the core
// thread may already take the peer's mixer values. The core thread takes them first; the
// test sees that from outside (the thread woke and sleeps again), so nothing orders the two.
TEST_F(StreamLinkTest, TheMixerInputIsNamedWhileThePeerSendsItsValues) {
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  Bytes values;
  Put32(values, 11);
  Put32(values, 22);
  const long coreTid = OnCore(*core, [] { return test::CurrentThreadOsId(); });
  ASSERT_TRUE(test::WaitUntil([&] { return test::ThreadSleeps(coreTid); }, kWait));
  const std::uint64_t asleep = test::TimesAsleep(coreTid);
  ASSERT_TRUE(peer.Send(Message(STREAM_MSG_MIXER_VALUES, values)));
  test::WaitUntil(
      [&] { return test::TimesAsleep(coreTid) > asleep && test::ThreadSleeps(coreTid); }, kWait);
  ParseCommandLine(*core, {"/MixerInput:Mix"});
  ASSERT_TRUE(peer.Send(Message(STREAM_MSG_MIXER_VALUES, values)));
  EXPECT_TRUE(WaitOnCore(*core, [&] { return core->mixerValue == 22; }));
}

TEST_F(StreamLinkTest, PeerKilledMidStreamGivesOneBoxAndARestartedPeerIsGreeted) {
  auto peer = std::make_unique<Peer>();
  ASSERT_NE(peer->WaitConnected(), 0u);
  peer->NextMessage();
  peer->NextMessage();
  CSoundTrack& student = *core->studentTrack;
  std::vector<std::int16_t> pcm(20000, 100);
  ASSERT_TRUE(OnCore(*core, [&] {
    student.AddChunk();
    student.SelectChunk(0);  // its stop's end mark is handled before the next task
    return student.WriteSamplesAt(0, 40000, reinterpret_cast<const std::uint8_t*>(pcm.data()));
  }));
  core->streamingFlag = 1;
  ASSERT_TRUE(OnCore(*core, [&] { return core->SendStreamBlock(false); }));
  EXPECT_EQ(peer->NextMessage().size(), 2u * 16384 + 50);
  peer.reset();  // the peer dies
  ASSERT_TRUE(WaitOnCore(*core, [&] { return core->streamPipeHandle == 0; }));
  // Capture ends: the final block cannot go out.
  ASSERT_TRUE(plat::PostThreadMessage(core->CoreThreadId(), WM_SOUND_IN, 0, 0));
  ASSERT_TRUE(WaitOnCore(*core, [&] { return core->streamingFlag.load() == 0; }));
  ASSERT_TRUE(plat::PostThreadMessage(core->CoreThreadId(), WM_SOUND_IN, 0, 0));
  OnCore(*core, [] { return 0; });
  auto shown = boxes->Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, u"StreamingMode will be disabled");
  EXPECT_EQ(shown[0].caption, u"Error streaming");

  Peer again;
  ASSERT_NE(again.WaitConnected(), 0u);
  EXPECT_EQ(Get32(again.NextMessage(), 0), 54u);
  EXPECT_EQ(Get32(again.NextMessage(), 0), 52u);
}

namespace {
// A box that stays open until the test lets it go.
class OpenBox : public plat::IMessageBoxService {
 public:
  int Show(const std::u16string& text, const std::u16string&, unsigned) override {
    std::unique_lock lock(m);
    shown.push_back(text);
    open = true;
    cv.notify_all();
    cv.wait(lock, [this] { return released; });
    return plat::IDOK;
  }
  void Release() {
    std::lock_guard lock(m);
    released = true;
    cv.notify_all();
  }
  bool WaitOpen() {
    std::unique_lock lock(m);
    return cv.wait_for(lock, kWait, [this] { return open; });
  }
  std::vector<std::u16string> Shown() {
    std::lock_guard lock(m);
    return shown;
  }
  std::mutex m;
  std::condition_variable cv;
  bool open = false, released = false;
  std::vector<std::u16string> shown;
};
}  // namespace

TEST_F(StreamLinkTest, AnOpenPipeDataBoxHoldsUpNeitherAudioNorTheStream) {
  auto box = std::make_shared<OpenBox>();
  plat::SetMessageBoxService(box);
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  peer.NextMessage();
  peer.NextMessage();
  ASSERT_TRUE(peer.Send(Message(STREAM_MSG_TEXT, {'W', 0, 0, 0})));
  ASSERT_TRUE(box->WaitOpen());
  // While the box is open, received audio still lands and a stream block still goes out.
  ASSERT_TRUE(peer.Send(Audio(0, 0, std::vector<std::int16_t>(20000, 5), {})));
  ASSERT_TRUE(WaitOnCore(*core, [&] {
    std::lock_guard lock(core->masterTrack->BufferLock());
    CChunkInfo* c = core->masterTrack->CurrentChunk();
    return c && c->length == 20000;
  }));
  CSoundTrack& student = *core->studentTrack;
  ASSERT_TRUE(OnCore(*core, [&] {
    std::vector<std::int16_t> pcm(20000, 9);
    return student.WriteSamplesAt(0, 40000, reinterpret_cast<const std::uint8_t*>(pcm.data())) &&
           core->SendStreamBlock(false);
  }));
  EXPECT_EQ(Get32(peer.NextMessage(), 0), 55u);
  box->Release();
}

namespace {
// A text message (1): the UTF-16LE units of `text` and a NUL.
Bytes Text(const std::u16string& text) {
  Bytes units;
  for (char16_t c : text + u'\0') {
    units.push_back(static_cast<std::uint8_t>(c));
    units.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return Message(STREAM_MSG_TEXT, units);
}
const std::string kStreamPipeLine = std::string(CAppCore::kStreamPipeName) + ": ";
}  // namespace

TEST_F(StreamLinkTest, TextsBeyondSixteenWaitingBoxesAreDroppedWithALine) {
  auto box = std::make_shared<OpenBox>();
  plat::SetMessageBoxService(box);
  core->mixerInput = 1;
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  ASSERT_TRUE(peer.Send(Text(u"T1")));
  ASSERT_TRUE(box->WaitOpen());
  for (int i = 2; i <= 18; ++i)
    ASSERT_TRUE(peer.Send(Text(u"T" + plat::Utf8ToUtf16(std::to_string(i)))));
  Sync(peer, 1);
  EXPECT_EQ(test::LogLinesWith(streamLog, kStreamPipeLine),
            std::vector<std::string>{kStreamPipeLine +
                                     "a text was not shown, 16 texts wait for their boxes: T18"});
  box->Release();
  ASSERT_TRUE(test::WaitUntil([&] { return box->Shown().size() == 17; }, kWait));
  EXPECT_EQ(box->Shown().back(), u"T17");
}

TEST_F(StreamLinkTest, WhatThePeerGetsWrongIsLoggedAtMostOnceASecond) {
  core->mixerInput = 1;
  Peer peer;
  ASSERT_NE(peer.WaitConnected(), 0u);
  struct Row {
    const char* what;
    Bytes frame;
    std::string line;
  } rows[] = {
      {"an id without its 4 bytes", Message(STREAM_MSG_CLIENT_ID, {1}),
       "a message of type 52 (5 bytes) is too short for its 4-byte id; dropped"},
      {"no type", Bytes{2, 0, 0, 0, 1, 0}, "a message of 2 bytes has no type; dropped"},
      {"unknown type", Message(4242, {1, 2, 3}), "a message of unknown type 4242 (7 bytes); ignored"},
  };
  // One kind after another, each past the quiet time of the line before it.
  std::uint32_t marker = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_TRUE(peer.Send(r.frame));
    Sync(peer, ++marker);
    const auto lines = test::LogLinesWith(streamLog, kStreamPipeLine);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), kStreamPipeLine + r.line);
    std::this_thread::sleep_for(1100ms);  // past the quiet time, so the next kind is written
  }
  // A flood of them: at most one line a second.
  const std::size_t before = test::LogLinesWith(streamLog, kStreamPipeLine).size();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(peer.Send(Message(4242, {1})));
  Sync(peer, ++marker);
  const std::size_t written =
      test::LogLinesWith(streamLog, kStreamPipeLine).size() - before;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  EXPECT_GE(written, 1u);
  EXPECT_LE(written, static_cast<std::size_t>(seconds) + 1);
}
