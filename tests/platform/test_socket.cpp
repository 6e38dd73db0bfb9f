// Descriptor owner and Unix stream sockets: connecting and accepting with credentials, long
// paths, stale and foreign files at the socket path, exact reads, bounded writes, peers that
// go away.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fd.h"
#include "platform/socket.h"
#include "test_env.h"

using namespace std::chrono_literals;
namespace plat = vts::plat;
namespace test = vts::test;

namespace {

constexpr auto kLong = 30s;  // bound for anything that should happen at once

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

struct Pair {
  plat::UniqueFd listener, client, server;
  plat::PeerCredentials peer;
};

// A listener at path and one connection to it, from both ends.
Pair Connect(const std::string& path) {
  Pair p;
  std::string error;
  p.listener = plat::ListenUnixSocket(path, 8, &error);
  EXPECT_TRUE(p.listener) << error;
  p.client = plat::ConnectUnixSocket(path, plat::DeadlineIn(kLong));
  EXPECT_TRUE(p.client);
  EXPECT_TRUE(plat::WaitReadable(p.listener.get(), plat::DeadlineIn(kLong)));
  p.server = plat::AcceptUnixSocket(p.listener.get(), &p.peer);
  EXPECT_TRUE(p.server);
  return p;
}

TEST(UniqueFd, ClosesOnceOnResetDestructionAndMoveButNotAfterRelease) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    plat::UniqueFd a(fds[0]);
    plat::UniqueFd b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), fds[0]);
    a = std::move(b);  // moving back keeps it open
    EXPECT_TRUE(IsOpen(fds[0]));
  }
  EXPECT_FALSE(IsOpen(fds[0]));

  plat::UniqueFd w(fds[1]);
  int raw = w.release();
  w.reset();
  EXPECT_TRUE(IsOpen(raw));
  w.reset(raw);
  w.reset();
  EXPECT_FALSE(IsOpen(raw));
}

TEST(FdIo, ReadExactlyCollectsPiecesAndFailsAtEarlyEnd) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  plat::UniqueFd r(fds[0]), w(fds[1]);
  std::thread writer([&] {
    for (char c : std::string("abcdef")) {
      ASSERT_TRUE(plat::WriteAll(w.get(), &c, 1));
      std::this_thread::yield();
    }
    w.reset();
  });
  char buf[4];
  ASSERT_TRUE(plat::ReadExactly(r.get(), buf, 4));
  EXPECT_EQ(std::string(buf, 4), "abcd");
  // Two bytes are left, then the end: a read of four fails.
  EXPECT_FALSE(plat::ReadExactly(r.get(), buf, 4));
  writer.join();
}

TEST(FdIo, WriteAllFailsOnAClosedDescriptor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_FALSE(plat::WriteAll(fds[1], "x", 1));
}

TEST(UnixSocket, ConnectAndAcceptCarryDataAndThePeersCredentials) {
  std::string path = test::MakeTempDir("sock") + "/a.sock";
  Pair p = Connect(path);
  EXPECT_EQ(p.peer.pid, static_cast<std::uint32_t>(::getpid()));
  EXPECT_EQ(p.peer.uid, static_cast<std::uint32_t>(::geteuid()));
  EXPECT_TRUE(plat::IsSameUser(p.peer));

  plat::PeerCredentials fromClient;
  ASSERT_TRUE(plat::GetPeerCredentials(p.client.get(), &fromClient));
  EXPECT_EQ(fromClient.pid, static_cast<std::uint32_t>(::getpid()));

  ASSERT_TRUE(plat::SendAll(p.client.get(), "hello", 5, plat::DeadlineIn(kLong)));
  char buf[5];
  ASSERT_TRUE(plat::ReceiveExactly(p.server.get(), buf, 5, plat::DeadlineIn(kLong)));
  EXPECT_EQ(std::string(buf, 5), "hello");

  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing else is pending.
  EXPECT_FALSE(plat::AcceptUnixSocket(p.listener.get(), nullptr));
}

TEST(UnixSocket, PathsLongerThanASocketAddressWork) {
  std::string dir = test::MakeTempDir("long") + "/" + std::string(120, 'd');
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  Pair p = Connect(dir + "/w.sock");
  ASSERT_TRUE(plat::SendAll(p.server.get(), "ok", 2, plat::DeadlineIn(kLong)));
  char buf[2];
  EXPECT_TRUE(plat::ReceiveExactly(p.client.get(), buf, 2, plat::DeadlineIn(kLong)));
}

TEST(UnixSocket, ConnectFailsAtOnceWithoutAListener) {
  std::string dir = test::MakeTempDir("none");
  // No file at all, and a socket file whose listener has closed.
  EXPECT_FALSE(plat::ConnectUnixSocket(dir + "/missing.sock", plat::DeadlineIn(kLong)));
  std::string stale = dir + "/stale.sock";
  { plat::UniqueFd l = plat::ListenUnixSocket(stale, 1, nullptr); }
  EXPECT_FALSE(plat::ConnectUnixSocket(stale, plat::DeadlineIn(kLong)));
  // A new listener replaces the stale file.
  Pair p = Connect(stale);
  EXPECT_TRUE(p.server);
}

TEST(UnixSocket, ConnectRetriesWhileTheBacklogIsFullButOnlyUntilTheDeadline) {
  std::string path = test::MakeTempDir("backlog") + "/b.sock";
  plat::UniqueFd listener = plat::ListenUnixSocket(path, 1, nullptr);
  ASSERT_TRUE(listener);
  // Nobody accepts: connections pile up until the kernel refuses more.
  std::vector<plat::UniqueFd> queued;
  for (int i = 0; i < 64; ++i) {
    plat::UniqueFd c = plat::ConnectUnixSocket(path, plat::DeadlineIn(20ms));
    if (!c) break;
    queued.push_back(std::move(c));
  }
  ASSERT_LT(queued.size(), 64u) << "the backlog never filled";
  // A connect that waits longer succeeds once a place frees up.
  std::thread acceptor([&] {
    std::this_thread::sleep_for(50ms);  // lets the connect below find the backlog full
    EXPECT_TRUE(plat::AcceptUnixSocket(listener.get(), nullptr));
  });
  EXPECT_TRUE(plat::ConnectUnixSocket(path, plat::DeadlineIn(kLong)));
  acceptor.join();
}

TEST(UnixSocket, ListenLeavesAnOrdinaryFileAtThePathAlone) {
  std::string path = test::MakeTempDir("file") + "/data.sock";
  { std::ofstream(path) << "keep"; }
  std::string error;
  EXPECT_FALSE(plat::ListenUnixSocket(path, 1, &error));
  EXPECT_NE(error.find("bind"), std::string::npos) << error;
  std::ifstream in(path);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "keep");
}

TEST(UnixSocket, ReceiveExactlyFailsWhenThePeerClosesEarlyOrTheDeadlinePasses) {
  std::string path = test::MakeTempDir("recv") + "/r.sock";
  Pair p = Connect(path);
  char buf[8];
  EXPECT_FALSE(plat::ReceiveExactly(p.server.get(), buf, 8, plat::DeadlineIn(20ms)));
  ASSERT_TRUE(plat::SendAll(p.client.get(), "abc", 3, plat::DeadlineIn(kLong)));
  p.client.reset();
  EXPECT_FALSE(plat::ReceiveExactly(p.server.get(), buf, 8, plat::DeadlineIn(kLong)));
}

TEST(UnixSocket, ReceiveExactlyWaitsForDataSentInPieces) {
  std::string path = test::MakeTempDir("pieces") + "/p.sock";
  Pair p = Connect(path);
  std::string sent(100000, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7);
  std::thread writer([&] {
    for (std::size_t at = 0; at < sent.size(); at += 4096)
      ASSERT_TRUE(plat::SendAll(p.client.get(), sent.data() + at,
                                std::min<std::size_t>(4096, sent.size() - at),
                                plat::DeadlineIn(kLong)));
  });
  std::string got(sent.size(), '\0');
  EXPECT_TRUE(
      plat::ReceiveExactly(p.server.get(), got.data(), got.size(), plat::DeadlineIn(kLong)));
  writer.join();
  EXPECT_EQ(got, sent);
}

TEST(UnixSocket, SendAllGivesUpAtTheDeadlineWhenThePeerDoesNotRead) {
  std::string path = test::MakeTempDir("full") + "/f.sock";
  Pair p = Connect(path);
  std::vector<char> big(64 << 20);  // far more than the socket buffers hold
  EXPECT_FALSE(plat::SendAll(p.client.get(), big.data(), big.size(), plat::DeadlineIn(50ms)));
}

TEST(UnixSocket, WritingToAPeerThatWentAwayFailsWithoutSignal) {
  // With the default action a SIGPIPE would end this test program.
  struct sigaction old {};
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ASSERT_EQ(::sigaction(SIGPIPE, &dfl, &old), 0);
  std::string path = test::MakeTempDir("gone") + "/g.sock";
  Pair p = Connect(path);
  p.server.reset();
  bool sent = true;
  for (int i = 0; i < 10 && sent; ++i)
    sent = plat::SendAll(p.client.get(), "xxxx", 4, plat::DeadlineIn(kLong));
  EXPECT_FALSE(sent);
  EXPECT_FALSE(plat::SendNow(p.client.get(), "x", 1));
  ::sigaction(SIGPIPE, &old, nullptr);
}

TEST(UnixSocket, ShutdownWakesABlockedReader) {
  std::string path = test::MakeTempDir("wake") + "/w.sock";
  Pair p = Connect(path);
  std::atomic<bool> done{false};
  bool result = true;
  std::thread reader([&] {
    char c;
    result = plat::ReceiveExactly(p.server.get(), &c, 1, plat::DeadlineIn(600s));
    done = true;
  });
  plat::ShutdownSocket(p.server.get());
  reader.join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(result);
}

}  // namespace
