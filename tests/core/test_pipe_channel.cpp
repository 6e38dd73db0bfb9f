// The pipe channel on real sockets: events and framing as a peer sends them, the 16 MiB cap,
// reconnecting, writes through the connection (stale handles, a peer that stops reading),
// server mode's 16 connections, stopping with readers waiting or no peer at all, and the
// stream log's line for each way a connection fails.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "core/core_thread.h"
#include "core/log.h"
#include "core/pipe_channel.h"
#include "core/stream_protocol.h"
#include "platform/known_folders.h"
#include "platform/socket.h"
#include "log_lines.h"
#include "test_env.h"

using namespace vts;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kMsg = plat::WM_USER + 0x300;
constexpr auto kWait = 10s;

struct Event {
  plat::WPARAM handle = 0;
  enum Kind { kConnected, kBlock, kDisconnected } kind = kConnected;
  std::vector<std::uint8_t> body;
};

// The test thread's queue as the target of a channel.
Event NextEvent(std::chrono::milliseconds timeout = kWait) {
  plat::Msg m;
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (!plat::GetMessageTimeout(&m, 100ms) || m.message != kMsg) continue;
    Event e;
    e.handle = m.wParam;
    if (m.lParam == kPipeConnected) {
      e.kind = Event::kConnected;
    } else if (m.lParam == kPipeDisconnected) {
      e.kind = Event::kDisconnected;
    } else {
      e.kind = Event::kBlock;
      const auto* p = reinterpret_cast<const std::uint8_t*>(m.lParam);
      std::uint32_t n;
      std::memcpy(&n, p, 4);
      e.body.assign(p + 4, p + 4 + n);
      FreePipeBlock(m.lParam);
    }
    return e;
  }
  ADD_FAILURE() << "no pipe event";
  return {0, Event::kDisconnected, {}};
}

std::vector<std::uint8_t> Framed(std::vector<std::uint8_t> body) {
  std::vector<std::uint8_t> out(4);
  const auto n = static_cast<std::uint32_t>(body.size());
  std::memcpy(out.data(), &n, 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A peer's server socket at the pipe's path.
struct Listener {
  explicit Listener(const std::string& name) {
    plat::EnsurePrivateFolder(plat::RuntimeFolder() + "/pipes");
    std::string error;
    fd = plat::ListenUnixSocket(CPipeChannel::PipePath(name), 4, &error);
    EXPECT_TRUE(fd) << error;
  }
  plat::UniqueFd Accept() {
    const auto deadline = plat::DeadlineIn(kWait);
    while (plat::WaitReadable(fd.get(), deadline)) {
      plat::UniqueFd c = plat::AcceptUnixSocket(fd.get(), nullptr);
      if (c) return c;
    }
    ADD_FAILURE() << "nobody connected";
    return {};
  }
  plat::UniqueFd fd;
};

class PipeChannelTest : public ::testing::Test {
 protected:
  static void DropEvents() {
    plat::Msg m;
    while (plat::PeekMessage(&m, true))
      if (m.message == kMsg) FreePipeBlock(m.lParam);
  }
  void TearDown() override {
    DropEvents();
    StopLogging();
  }
  void SetUp() override {
    LogOptions logs;
    logs.folder = test::MakeTempDir("logs");
    streamLog = logs.folder + "/WavManager.log";
    InitLogging(logs);
    plat::EnsureQueue();
    // Events of the channels of earlier tests (all ended by now) are not this test's.
    DropEvents();
    name = std::string("test-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  std::string name;
  std::string streamLog;  // the WaveManager log, where the channels write
};

}  // namespace

TEST_F(PipeChannelTest, ClientGetsMessagesSentInPiecesOnceWhole) {
  Listener peer(name);
  CPipeChannel channel(name, plat::CurrentThreadId(), kMsg);
  ASSERT_TRUE(channel.Start());
  plat::UniqueFd conn = peer.Accept();
  Event connected = NextEvent();
  ASSERT_EQ(connected.kind, Event::kConnected);
  EXPECT_NE(connected.handle, 0u);

  // A length in two pieces, a body in three, an empty message, two messages in one write.
  std::vector<std::uint8_t> big(100000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> a = Framed(big), z = Framed({}), b = Framed({1, 2, 3});
  const auto d = plat::DeadlineIn(kWait);
  ASSERT_TRUE(plat::SendAll(conn.get(), a.data(), 2, d));
  std::this_thread::yield();
  ASSERT_TRUE(plat::SendAll(conn.get(), a.data() + 2, 5000, d));
  ASSERT_TRUE(plat::SendAll(conn.get(), a.data() + 5002, a.size() - 5002, d));
  std::vector<std::uint8_t> both = z;
  both.insert(both.end(), b.begin(), b.end());
  ASSERT_TRUE(plat::SendAll(conn.get(), both.data(), both.size(), d));

  for (const auto& want : {big, std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{1, 2, 3}}) {
    Event e = NextEvent();
    ASSERT_EQ(e.kind, Event::kBlock);
    EXPECT_EQ(e.handle, connected.handle);
    EXPECT_EQ(e.body, want);
  }

  // The channel's writes reach the peer whole.
  std::vector<std::uint8_t> out = Framed({9, 8, 7});
  ASSERT_TRUE(channel.Write(connected.handle, out));
  std::vector<std::uint8_t> got(out.size());
  ASSERT_TRUE(plat::ReceiveExactly(conn.get(), got.data(), got.size(), plat::DeadlineIn(kWait)));
  EXPECT_EQ(got, out);
  channel.Stop();
  EXPECT_EQ(NextEvent().kind, Event::kDisconnected);
}

TEST_F(PipeChannelTest, LengthOverTheCapEndsTheConnectionAndTheClientComesBack) {
  Listener peer(name);
  CPipeChannel channel(name, plat::CurrentThreadId(), kMsg);
  ASSERT_TRUE(channel.Start());
  plat::UniqueFd first = peer.Accept();
  const Event connected = NextEvent();
  ASSERT_EQ(connected.kind, Event::kConnected);
  const std::uint32_t tooLong = kMaxPipeMessageBytes + 1;
  ASSERT_TRUE(plat::SendAll(first.get(), &tooLong, 4, plat::DeadlineIn(kWait)));
  const Event gone = NextEvent();
  EXPECT_EQ(gone.kind, Event::kDisconnected);
  EXPECT_EQ(gone.handle, connected.handle);
  // The old handle writes nowhere, even once a new connection exists.
  plat::UniqueFd second = peer.Accept();
  const Event again = NextEvent();
  ASSERT_EQ(again.kind, Event::kConnected);
  EXPECT_NE(again.handle, connected.handle);
  const std::vector<std::uint8_t> msg = Framed({1});
  EXPECT_FALSE(channel.Write(connected.handle, msg));
  EXPECT_TRUE(channel.Write(again.handle, msg));
}

TEST_F(PipeChannelTest, PeerThatStopsReadingFailsTheWriteAndLosesTheConnection) {
  Listener peer(name);
  CPipeChannel channel(name, plat::CurrentThreadId(), kMsg);
  ASSERT_TRUE(channel.Start());
  plat::UniqueFd conn = peer.Accept();  // never read
  const Event connected = NextEvent();
  ASSERT_EQ(connected.kind, Event::kConnected);
  std::vector<std::uint8_t> block(1 << 20, 0x5A);
  bool failed = false;
  for (int i = 0; i < 64 && !failed; ++i) failed = !channel.Write(connected.handle, block);
  EXPECT_TRUE(failed);
  const Event gone = NextEvent();
  EXPECT_EQ(gone.kind, Event::kDisconnected);
  EXPECT_FALSE(channel.Write(connected.handle, Framed({1})));
  EXPECT_EQ(test::LogLinesWith(streamLog, name + ": "),
            std::vector<std::string>{name + ": a write to the peer failed or took over 2000 ms; "
                                            "the connection is dropped"});
}

TEST_F(PipeChannelTest, EachWayAPeerBreaksTheLinkLeavesOneLineInTheStreamLog) {
  const std::uint32_t tooLong = kMaxPipeMessageBytes + 1;
  const std::vector<std::uint8_t> message = Framed({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  struct Row {
    const char* what;
    std::vector<std::uint8_t> sent;  // then the peer closes its end
    std::string line;
  } rows[] = {
      {"length over the cap",
       {static_cast<std::uint8_t>(tooLong), static_cast<std::uint8_t>(tooLong >> 8),
        static_cast<std::uint8_t>(tooLong >> 16), static_cast<std::uint8_t>(tooLong >> 24)},
       "length 16777217 is over the limit of 16777216 bytes; the connection is dropped"},
      {"body cut short", {message.begin(), message.begin() + 6},
       "the connection ended in the middle of a message (6 of 14 bytes came)"},
      {"length cut short", {message.begin(), message.begin() + 2},
       "the connection ended in the middle of a message (2 of its 4 length bytes came)"},
      {"closed between messages", message, "the peer closed the connection"},
  };
  int round = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    DropEvents();  // the last row's channel reconnected before it stopped
    // A channel of its own per row: its log lines are limited per pipe.
    const std::string pipe = name + std::to_string(++round);
    Listener peer(pipe);
    CPipeChannel channel(pipe, plat::CurrentThreadId(), kMsg);
    ASSERT_TRUE(channel.Start());
    plat::UniqueFd conn = peer.Accept();
    ASSERT_EQ(NextEvent().kind, Event::kConnected);
    ASSERT_TRUE(plat::SendAll(conn.get(), r.sent.data(), r.sent.size(), plat::DeadlineIn(kWait)));
    conn.reset();
    Event e = NextEvent();
    if (e.kind == Event::kBlock) e = NextEvent();  // the whole message before the close
    EXPECT_EQ(e.kind, Event::kDisconnected);
    channel.Stop();
    EXPECT_EQ(test::LogLinesWith(streamLog, pipe + ": "),
              std::vector<std::string>{pipe + ": " + r.line});
  }
}

TEST_F(PipeChannelTest, ServerTakesSixteenConnections) {
  CPipeChannel server(name, plat::CurrentThreadId(), kMsg);
  ASSERT_TRUE(server.Start(CPipeChannel::Mode::kServer));
  std::vector<plat::UniqueFd> clients;
  const auto until = std::chrono::steady_clock::now() + kWait;
  while (clients.size() < 17 && std::chrono::steady_clock::now() < until) {
    plat::UniqueFd c = plat::ConnectUnixSocket(server.Path(), plat::DeadlineIn(1s));
    if (c) {
      clients.push_back(std::move(c));
    } else {
      std::this_thread::sleep_for(20ms);  // the listener is not there yet
    }
  }
  ASSERT_EQ(clients.size(), 17u);
  int connected = 0;
  while (connected < 16 && NextEvent().kind == Event::kConnected) ++connected;
  EXPECT_EQ(connected, 16);
  // The seventeenth was closed: it reads the end at once.
  char byte;
  std::size_t got = 0;
  ASSERT_TRUE(plat::WaitReadable(clients[16].get(), plat::DeadlineIn(kWait)));
  EXPECT_EQ(plat::ReceiveSome(clients[16].get(), &byte, 1, &got), plat::ReceiveStatus::kClosed);
  EXPECT_EQ(server.ConnectionCount(), 16u);
  server.Stop();
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST_F(PipeChannelTest, StopReturnsWithReadersWaitingOrNoPeerEver) {
  {
    CPipeChannel lonely(name + "-none", plat::CurrentThreadId(), kMsg);
    ASSERT_TRUE(lonely.Start());
    lonely.Stop();
    lonely.Stop();  // idempotent
  }
  Listener peer(name);
  auto channel = std::make_unique<CPipeChannel>(name, plat::CurrentThreadId(), kMsg);
  ASSERT_TRUE(channel->Start());
  plat::UniqueFd conn = peer.Accept();
  ASSERT_EQ(NextEvent().kind, Event::kConnected);
  channel.reset();  // the reader waits for data: Stop wakes it and joins it
  EXPECT_EQ(NextEvent().kind, Event::kDisconnected);
}
