// Window bus: finding windows, posting and sending across processes, order, time-outs,
// WM_COPYDATA, dead registrants and garbage on the socket.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <numeric>
#include <sstream>
#include <thread>

#include "classroom_double.h"
#include "platform/notice.h"
#include "platform/window_bus.h"
#include "process_helper.h"
#include "test_env.h"

using namespace std::chrono_literals;
using vts::plat::WindowId;
namespace plat = vts::plat;
namespace test = vts::test;

namespace {

constexpr auto kLong = 30s;  // bound for anything that should happen at once

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);) out.push_back(line);
  return out;
}

// A classroom-double window in a process of its own.
struct RemoteWindow {
  test::ChildProcess process;
  std::string log;
  WindowId id = 0;

  bool Start(std::vector<std::string> extra = {}) {
    std::string dir = test::MakeTempDir("remote");
    log = dir + "/messages.log";
    std::string ready = dir + "/ready";
    std::vector<std::string> args{"window", "--log", log, "--ready", ready};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!process.Start(CLASSROOM_DOUBLE, args)) return false;
    std::string text = test::WaitForFile(ready, kLong);
    id = std::strtoull(text.c_str(), nullptr, 16);
    return id != 0;
  }
  std::vector<std::string> Received() const { return Lines(test::ReadFile(log)); }
  bool WaitForLines(std::size_t n) const {
    return test::WaitUntil([&] { return Received().size() >= n; }, kLong);
  }
};

std::string Expected(bool sent, unsigned msg, long long wp, long long lp) {
  test::ReceivedMessage m;
  m.sent = sent;
  m.message = msg;
  m.wParam = static_cast<plat::WPARAM>(wp);
  m.lParam = lp;
  return test::DescribeMessage(m);
}

// A window in this process whose handler runs on a thread of its own.
struct LocalWindow {
  std::unique_ptr<plat::BusWindow> window;
  std::mutex mutex;
  std::vector<plat::WindowMessage> got;
  std::atomic<bool> stop{false};
  std::thread pump;
  plat::LRESULT reply = 0;

  bool Start(const std::string& cls, const std::u16string& text) {
    window = plat::BusWindow::Create(cls, text, [this](const plat::WindowMessage& m) {
      plat::WindowMessage copy = m;
      if (m.message == plat::WM_COPYDATA) {
        // Keep what the handler saw through lParam, the way a recorder reads it.
        const auto* cds = reinterpret_cast<const plat::COPYDATASTRUCT*>(m.lParam);
        const auto* p = static_cast<const std::uint8_t*>(cds->lpData);
        copy.copyData.dwData = cds->dwData;
        copy.payload.assign(p, p + cds->cbData);
      }
      std::lock_guard l(mutex);
      got.push_back(std::move(copy));
      return reply;
    });
    if (!window) return false;
    pump = std::thread([this] {
      while (!stop) window->WaitAndDispatch(20ms);
    });
    return true;
  }
  ~LocalWindow() {
    stop = true;
    if (pump.joinable()) pump.join();
  }
  std::size_t Count() {
    std::lock_guard l(mutex);
    return got.size();
  }
};

TEST(WindowBusFind, ByClassTextOrBothCaseInsensitively) {
  plat::LRESULT none = 0;
  auto daemon = plat::BusWindow::Create("QZ_Main_WKDaemon", u"",
                                        [&](const plat::WindowMessage&) { return none; });
  auto rec1 = plat::BusWindow::Create("RecorderDialog", u"_1VoxtrailstudyUser", nullptr);
  auto rec2 = plat::BusWindow::Create("RecorderDialog", u"_2VoxtrailstudyUser", nullptr);
  ASSERT_TRUE(daemon && rec1 && rec2);

  struct Case {
    std::string cls;
    std::u16string text;
    WindowId want;
  };
  const Case cases[] = {
      {"QZ_Main_WKDaemon", u"", daemon->Id()},
      {"qz_main_wkdaemon", u"", daemon->Id()},
      {"", u"_1VoxtrailstudyUser", rec1->Id()},
      {"", u"_2voxtrailstudyuser", rec2->Id()},
      {"RecorderDialog", u"_2VoxtrailstudyUser", rec2->Id()},
      {"QZ_Main_WKDaemon", u"_1VoxtrailstudyUser", 0},
      {"NoSuchClass", u"", 0},
      {"", u"_3VoxtrailstudyUser", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(plat::FindWindow(c.cls, c.text), c.want) << c.cls;

  // The newest registration wins when several match.
  EXPECT_EQ(plat::FindWindow("RecorderDialog", u""), rec2->Id());

  // A window found by its text after it changed it, and no longer by the old one.
  ASSERT_TRUE(rec1->SetText(u"Recorder"));
  EXPECT_EQ(plat::FindWindow("", u"_1VoxtrailstudyUser"), 0u);
  EXPECT_EQ(plat::FindWindow("", u"Recorder"), rec1->Id());

  plat::WindowInfo info;
  ASSERT_TRUE(plat::GetWindowInfo(rec2->Id(), &info));
  EXPECT_EQ(info.className, "RecorderDialog");
  EXPECT_EQ(info.text, u"_2VoxtrailstudyUser");
  EXPECT_EQ(info.processId, static_cast<std::uint32_t>(getpid()));

  WindowId gone = rec2->Id();
  rec2.reset();
  EXPECT_FALSE(plat::IsWindow(gone));
  EXPECT_EQ(plat::FindWindow("", u"_2VoxtrailstudyUser"), 0u);
  EXPECT_FALSE(plat::PostMessage(gone, 0x590, 9, 1));
}

TEST(WindowBusCrossProcess, PostsArriveInOrderWithTheirArguments) {
  RemoteWindow daemon;
  ASSERT_TRUE(daemon.Start());
  EXPECT_EQ(plat::FindWindow(test::kDaemonClassName, u""), daemon.id);

  ASSERT_TRUE(plat::PostMessage(daemon.id, test::WM_DAEMONNOTIFY, test::kDaemonNotifyPosition, 2));
  // Negative and full-width arguments survive the trip.
  ASSERT_TRUE(
      plat::PostMessage(daemon.id, test::WM_REMOTECONTROL, static_cast<plat::WPARAM>(-3), -1));
  ASSERT_TRUE(plat::PostMessage(daemon.id, test::WM_REMOTECONTROL, 1008, 0x7FFFFFFFFFFFll));
  const int kBurst = 300;
  for (int i = 0; i < kBurst; ++i)
    ASSERT_TRUE(plat::PostMessage(daemon.id, test::WM_SETSLIDERLEVEL, 1, i));
  ASSERT_TRUE(daemon.WaitForLines(3 + kBurst));

  auto lines = daemon.Received();
  EXPECT_EQ(lines[0], Expected(false, 0x590, 9, 2));
  EXPECT_EQ(lines[1], Expected(false, 0x592, -3, -1));
  EXPECT_EQ(lines[2], Expected(false, 0x592, 1008, 0x7FFFFFFFFFFFll));
  for (int i = 0; i < kBurst; ++i) ASSERT_EQ(lines[3 + i], Expected(false, 0x498, 1, i)) << i;
}

TEST(WindowBusCrossProcess, SendWaitsForTheResultAndKeepsOrderWithPosts) {
  RemoteWindow w;
  ASSERT_TRUE(w.Start({"--reply", "-42"}));
  plat::LRESULT result = 0;
  ASSERT_TRUE(plat::PostMessage(w.id, 0x52E, 11, 0));
  ASSERT_TRUE(plat::SendMessage(w.id, 0x52E, 4, 7, &result));
  EXPECT_EQ(result, -42);
  // The send has been handled when it returns, so both are in the log already.
  auto lines = w.Received();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], Expected(false, 0x52E, 11, 0));
  EXPECT_EQ(lines[1], Expected(true, 0x52E, 4, 7));
}

TEST(WindowBusCrossProcess, CopyDataPayloadRoundTrip) {
  RemoteWindow w;
  ASSERT_TRUE(w.Start());
  test::ClassroomFrameworkDouble framework;
  plat::LRESULT result = 0;
  const std::string text = "5|192.168.0.7|12|10.0.0.1|";
  ASSERT_TRUE(framework.SendCopyText(w.id, 1, text, &result));
  EXPECT_EQ(result, static_cast<plat::LRESULT>(text.size()));  // the double answers the byte count
  std::string hex;
  for (unsigned char c : text) {
    char b[3];
    std::snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  auto lines = w.Received();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "send msg=0x4a wParam=0 lParam=0 dwData=1 data=" + hex);

  // Only SendCopyData carries WM_COPYDATA: a bare lParam would reach a handler as a pointer.
  EXPECT_FALSE(plat::PostMessage(w.id, plat::WM_COPYDATA, 0, 0x1000));
  EXPECT_FALSE(plat::SendMessage(w.id, plat::WM_COPYDATA, 0, 0x1000, &result));

  // Empty and oversized payloads.
  ASSERT_TRUE(framework.SendCopyText(w.id, 2, "", &result));
  EXPECT_EQ(result, 0);
  std::vector<std::uint8_t> big(plat::kMaxCopyDataBytes + 1);
  EXPECT_FALSE(
      plat::SendCopyData(w.id, 0, 1, big.data(), static_cast<std::uint32_t>(big.size()), &result));
}

TEST(WindowBusCrossProcess, BinaryCopyDataFromAnotherProcessReachesTheHandler) {
  LocalWindow recorder;
  recorder.reply = 1;  // TRUE
  ASSERT_TRUE(recorder.Start("RecorderDialog", u"_1VoxtrailstudyUser"));

  // A payload with NULs and every byte value, large enough to need several socket reads.
  std::vector<std::uint8_t> payload(300 * 1024);
  for (std::size_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<std::uint8_t>(i * 7 + i / 256);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    WindowId target = plat::FindWindow("", u"_1VoxtrailstudyUser");
    plat::LRESULT r = 0;
    bool ok =
        target != 0 && plat::SendCopyData(target, 0x1234, 77, payload.data(),
                                          static_cast<std::uint32_t>(payload.size()), &r, 20s);
    _exit(ok && r == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::lock_guard l(recorder.mutex);
  ASSERT_EQ(recorder.got.size(), 1u);
  const auto& m = recorder.got[0];
  EXPECT_EQ(m.message, plat::WM_COPYDATA);
  EXPECT_TRUE(m.sent);
  EXPECT_TRUE(m.hasCopyData);
  EXPECT_EQ(m.wParam, 0x1234u);
  EXPECT_EQ(m.copyData.dwData, 77u);
  EXPECT_EQ(m.payload, payload);
  EXPECT_EQ(m.senderProcessId, static_cast<std::uint32_t>(child));
}

TEST(WindowBusCrossProcess, SendToAHungReceiverTimesOutAndPostsStillQueue) {
  RemoteWindow hung;
  ASSERT_TRUE(hung.Start({"--hang"}));
  plat::LRESULT result = 99;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(plat::SendMessage(hung.id, 0x52E, 4, 0, &result, 300ms));
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(result, 0);
  EXPECT_GE(waited, 250ms);
  EXPECT_LT(waited, 20s);
  // A post does not wait for the handler: the receiver's queue takes it.
  EXPECT_TRUE(plat::PostMessage(hung.id, 0x590, 9, 0));
  EXPECT_TRUE(hung.Received().empty());
}

TEST(WindowBusCrossProcess, SendFailsWhenTheReceiverEndsWhileWaiting) {
  RemoteWindow w;
  ASSERT_TRUE(w.Start({"--hang"}));
  std::thread killer([&] {
    std::this_thread::sleep_for(200ms);
    w.process.Kill();
  });
  plat::LRESULT result = 0;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(plat::SendMessage(w.id, 0x52E, 4, 0, &result, 25s));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 20s);  // ended by the hang-up, not the time-out
  killer.join();
}

TEST(WindowBusStale, ADeadRegistrantIsIgnoredAndCleanedUp) {
  std::string dir = test::MakeTempDir("dead");
  std::string out;
  ASSERT_EQ(test::RunProgram(CLASSROOM_DOUBLE,
                             {"register-and-die", "--text", "Ghost", "--ready", dir + "/id"}),
            0);
  WindowId ghost = std::strtoull(test::ReadFile(dir + "/id").c_str(), nullptr, 16);
  ASSERT_NE(ghost, 0u);
  std::string base = plat::WindowBusFolder() + "/" + [&] {
    char b[32];
    std::snprintf(b, sizeof b, "%016llx", static_cast<unsigned long long>(ghost));
    return std::string(b);
  }();
  ASSERT_EQ(access((base + ".win").c_str(), F_OK), 0) << "the dead program left its registration";

  EXPECT_EQ(plat::FindWindow(test::kDaemonClassName, u""), 0u);
  EXPECT_EQ(plat::FindWindow("", u"Ghost"), 0u);
  EXPECT_FALSE(plat::IsWindow(ghost));
  EXPECT_FALSE(plat::PostMessage(ghost, 0x590, 9, 0));
  EXPECT_NE(access((base + ".win").c_str(), F_OK), 0);
  EXPECT_NE(access((base + ".sock").c_str(), F_OK), 0);

  // A killed process (a zombie until reaped) does not count either.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto w = plat::BusWindow::Create("ZombieClass", u"", nullptr);
    if (w) std::fclose(std::fopen((dir + "/up").c_str(), "w"));
    pause();
    _exit(0);
  }
  ASSERT_TRUE(test::WaitUntil([&] { return access((dir + "/up").c_str(), F_OK) == 0; }, kLong));
  EXPECT_NE(plat::FindWindow("ZombieClass", u""), 0u);
  kill(child, SIGKILL);
  ASSERT_TRUE(test::WaitUntil([&] { return plat::FindWindow("ZombieClass", u"") == 0; }, kLong));
  waitpid(child, nullptr, 0);
}

TEST(WindowBusRobustness, BadRegistrationFilesAreIgnored) {
  auto real = plat::BusWindow::Create("Real", u"", nullptr);
  ASSERT_TRUE(real);
  const std::string folder = plat::WindowBusFolder();
  auto write = [&](const std::string& name, const std::string& body) {
    FILE* f = std::fopen((folder + "/" + name).c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
  };
  char self[32];
  std::snprintf(self, sizeof self, "%016llx",
                static_cast<unsigned long long>(std::uint64_t(getpid()) << 32 | 0xFFFF));
  const std::string pid = std::to_string(getpid());
  // Our own pid with another start time: a process that died and whose pid came back.
  const std::string reused = "VTSWIN 1\nid " + std::string(self) + "\npid " + pid +
                             "\nstart 1\ncreated 1\nclass 5265616c\ntext \n";
  write(std::string(self) + ".win", reused);
  write("0000000000000001.win", std::string("\x00\xff garbage \n\n", 14));
  write("0000000000000002.win",
        "VTSWIN 1\nid 0000000000000002\npid " + pid + "\nstart 5\nclass zz\ntext 41\n");
  write("0000000000000003.win", "VTSWIN 1\n" + std::string(20000, 'x') + "\n");
  write("0000000000000004.win",
        "VTSWIN 1\nid 0000000000000009\npid " + pid + "\nstart 0\ncreated 0\nclass 52\ntext \n");
  ASSERT_EQ(symlink("/etc/hostname", (folder + "/0000000000000005.win").c_str()), 0);
  write("notes.txt", "hello");

  std::vector<std::string> notices;
  plat::SetNoticeSink([&](const std::string& line) { notices.push_back(line); });
  auto all = plat::ListWindows();
  plat::SetNoticeSink({});
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].id, real->Id());
  EXPECT_EQ(plat::FindWindow("Real", u""), real->Id());
  EXPECT_NE(access((folder + "/" + self + ".win").c_str(), F_OK), 0)
      << "the dead registration was removed";
  // What no window of ours wrote is kept aside for a look, each said in one line.
  EXPECT_EQ(notices.size(), 5u);
  for (int n = 1; n <= 5; ++n) {
    const std::string name = "000000000000000" + std::to_string(n) + ".win";
    EXPECT_NE(access((folder + "/" + name).c_str(), F_OK), 0) << name;
    bool aside = false;
    if (DIR* d = opendir(folder.c_str())) {
      while (dirent* e = readdir(d))
        aside |= std::string(e->d_name).rfind(name + ".unreadable-", 0) == 0;
      closedir(d);
    }
    EXPECT_TRUE(aside) << name;
  }
  EXPECT_EQ(plat::ListWindows().size(), 1u);
}

TEST(WindowBusRobustness, GarbageOnTheSocketLeavesTheWindowWorking) {
  LocalWindow w;
  ASSERT_TRUE(w.Start("Sturdy", u""));
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.sock", static_cast<unsigned long long>(w.window->Id()));

  // Through the folder's descriptor, so a test root of any depth gives a short address.
  const int folderFd = open(plat::WindowBusFolder().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folderFd, 0);
  const std::string shortPath = "/proc/self/fd/" + std::to_string(folderFd) + "/" + name;
  ASSERT_LT(shortPath.size(), sizeof(sockaddr_un::sun_path));
  auto connectRaw = [&]() {
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, shortPath.c_str(), shortPath.size() + 1);
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(s);
      return -1;
    }
    return s;
  };

  // Each request is well-formed but for the one fault it names (it is addressed to the window).
  const WindowId target = w.window->Id();
  auto header = [target](std::uint32_t magic, std::uint16_t kind, std::uint16_t flags,
                         std::uint32_t cb, std::uint32_t message = 0x400) {
    std::vector<std::uint8_t> h(56, 0);
    std::uint64_t pointer = 0xDEADBEEF;
    std::memcpy(h.data() + 8, &target, 8);
    std::memcpy(h.data(), &magic, 4);
    std::memcpy(h.data() + 4, &kind, 2);
    std::memcpy(h.data() + 6, &flags, 2);
    std::memcpy(h.data() + 16, &message, 4);
    std::memcpy(h.data() + 32, &pointer, 8);
    std::memcpy(h.data() + 48, &cb, 4);
    return h;
  };
  auto withPayload = [](std::vector<std::uint8_t> h, std::size_t n) {
    h.resize(h.size() + n, 0x5A);
    return h;
  };
  const std::uint32_t kCopy = plat::WM_COPYDATA;
  std::vector<std::vector<std::uint8_t>> garbage = {
      {},                                                    // connect and hang up
      {1, 2, 3},                                             // a truncated header
      std::vector<std::uint8_t>(56, 0xFF),                   // a header of noise
      header(0x31575456, 9, 0, 0),                           // unknown kind
      withPayload(header(0x31575456, 1, 1, 10, kCopy), 10),  // copy data on a post
      withPayload(header(0x31575456, 2, 1, plat::kMaxCopyDataBytes + 1, kCopy),
                  plat::kMaxCopyDataBytes + 1),            // one byte over the limit, all sent
      header(0x31575456, 2, 1, 0xFFFFFFFF, kCopy),         // a payload far over the limit
      withPayload(header(0x31575456, 2, 0, 5), 5),         // payload bytes without the flag
      header(0x31575456, 2, 1, 100, kCopy),                // a payload announced but never sent
      header(0x31575456, 2, 0, 0, kCopy),                  // WM_COPYDATA with a bare lParam
      header(0x31575456, 1, 0, 0, kCopy),                  // ... posted
      withPayload(header(0x31575456, 2, 1, 4, 0x400), 4),  // a payload on another message
      std::vector<std::uint8_t>(100000, 0x41),             // a flood
  };
  for (const auto& g : garbage) {
    int s = connectRaw();
    ASSERT_GE(s, 0);
    if (!g.empty()) (void)!send(s, g.data(), g.size(), MSG_NOSIGNAL);
    close(s);
  }
  // A request for another window on this socket is refused.
  {
    int s = connectRaw();
    ASSERT_GE(s, 0);
    auto h = header(0x31575456, 1, 0, 0);
    WindowId other = w.window->Id() + 1;
    std::memcpy(h.data() + 8, &other, 8);
    ASSERT_EQ(send(s, h.data(), h.size(), MSG_NOSIGNAL), 56);
    std::uint8_t reply[16] = {};
    ASSERT_EQ(recv(s, reply, sizeof reply, MSG_WAITALL), 16);
    std::uint32_t status;
    std::memcpy(&status, reply + 4, 4);
    EXPECT_NE(status, 0u);
    close(s);
  }
  EXPECT_TRUE(plat::PostMessage(w.window->Id(), 0x590, 9, 1));
  // Posted from another process so the socket path is used, not the in-process queue.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(plat::PostMessage(plat::FindWindow("Sturdy", u""), 0x591, 1, 2) ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(test::WaitUntil([&] { return w.Count() == 2; }, kLong));
  close(folderFd);
  std::lock_guard l(w.mutex);
  EXPECT_EQ(w.got[0].message, 0x590u);
  EXPECT_EQ(w.got[1].message, 0x591u);
}

TEST(WindowBusInProcess, SendFromTheOwnerThreadCallsTheHandlerAtOnce) {
  int calls = 0;
  std::unique_ptr<plat::BusWindow> w =
      plat::BusWindow::Create("Self", u"", [&](const plat::WindowMessage& m) {
        ++calls;
        return static_cast<plat::LRESULT>(m.wParam * 2);
      });
  ASSERT_TRUE(w);
  plat::LRESULT r = 0;
  ASSERT_TRUE(plat::SendMessage(w->Id(), 0x400, 21, 0, &r, 1s));  // nobody dispatches: no deadlock
  EXPECT_EQ(r, 42);
  EXPECT_EQ(calls, 1);
  // From another thread of this process it waits for the owner's dispatch.
  std::thread other([&] {
    plat::LRESULT r2 = 0;
    EXPECT_TRUE(plat::SendMessage(w->Id(), 0x400, 5, 0, &r2, 20s));
    EXPECT_EQ(r2, 10);
  });
  ASSERT_TRUE(test::WaitUntil([&] { return w->PendingCount() == 1; }, kLong));
  EXPECT_EQ(w->DispatchPending(), 1u);
  other.join();
  EXPECT_EQ(calls, 2);
}

TEST(WindowBusInProcess, QueueIsBoundedAndClosingFailsWaitingSenders) {
  auto w = plat::BusWindow::Create("Full", u"",
                                   [](const plat::WindowMessage&) { return plat::LRESULT{0}; });
  ASSERT_TRUE(w);
  std::thread sender;
  std::atomic<int> sendOutcome{-1};
  sender = std::thread([&] {
    plat::LRESULT r;
    sendOutcome = plat::SendMessage(w->Id(), 0x400, 0, 0, &r, 25s) ? 1 : 0;
  });
  ASSERT_TRUE(test::WaitUntil([&] { return w->PendingCount() == 1; }, kLong));
  std::size_t accepted = 1;
  while (plat::PostMessage(w->Id(), 0x401, 0, 0)) {
    if (++accepted > plat::kMaxQueuedMessages + 10) break;
  }
  EXPECT_EQ(accepted, plat::kMaxQueuedMessages);
  auto t0 = std::chrono::steady_clock::now();
  w.reset();
  sender.join();
  EXPECT_EQ(sendOutcome, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 20s);
}

TEST(WindowBusInProcess, AHandlerMayEndItsOwnWindow) {
  std::unique_ptr<plat::BusWindow> w;
  int handled = 0;
  w = plat::BusWindow::Create("Closing", u"", [&](const plat::WindowMessage& m) {
    ++handled;
    if (m.message == plat::WM_CLOSE) w.reset();
    return plat::LRESULT{0};
  });
  ASSERT_TRUE(w);
  plat::BusWindow* raw = w.get();
  ASSERT_TRUE(plat::PostMessage(w->Id(), plat::WM_CLOSE, 0, 0));
  std::atomic<int> late{-1};
  std::thread sender([&, id = w->Id()] {
    plat::LRESULT r;
    late = plat::SendMessage(id, 0x400, 0, 0, &r, 25s) ? 1 : 0;
  });
  ASSERT_TRUE(test::WaitUntil([&] { return raw->PendingCount() == 2; }, kLong));
  EXPECT_EQ(raw->DispatchPending(), 1u);
  sender.join();
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(late, 0);
  EXPECT_EQ(plat::FindWindow("Closing", u""), 0u);
}

TEST(WindowBusPaths, WorksWhenTheRuntimeFolderPathIsLong) {
  // Deeper than a socket address can hold: the bus must still bind and connect.
  std::string root = test::MakeTempDir("long");
  while (root.size() < 150) root += "/deeper-folder-name";
  std::string env = "VOXTRAILSTUDY_ROOT=" + root;
  std::string dir = test::MakeTempDir("longlog");
  test::ChildProcess daemon;
  ASSERT_TRUE(daemon.Start(CLASSROOM_DOUBLE,
                           {"window", "--log", dir + "/log", "--ready", dir + "/ready"}, {env}));
  ASSERT_FALSE(test::WaitForFile(dir + "/ready", kLong).empty());
  std::string out;
  ASSERT_EQ(
      test::RunProgram(CLASSROOM_DOUBLE,
                       {"send", "--class", test::kDaemonClassName, "0x590", "9", "1"}, &out, {env}),
      0);
  auto lines = Lines(test::ReadFile(dir + "/log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], Expected(true, 0x590, 9, 1));
  // Not visible from this process's own runtime folder.
  EXPECT_EQ(plat::FindWindow(test::kDaemonClassName, u""), 0u);
}

TEST(ClassroomDouble, DaemonRecordsTheNoticeAndFrameworkReachesARecorderWindow) {
  test::ClassroomWindowDouble daemon;
  ASSERT_TRUE(daemon.Start());
  // A "recorder" in another process tells the daemon its position.
  ASSERT_EQ(test::RunProgram(CLASSROOM_DOUBLE,
                             {"post", "--class", test::kDaemonClassName, "0x590", "9", "2"}),
            0);
  test::ReceivedMessage m;
  ASSERT_TRUE(daemon.WaitFor(test::WM_DAEMONNOTIFY, kLong, &m));
  EXPECT_EQ(m.wParam, test::kDaemonNotifyPosition);
  EXPECT_EQ(m.lParam, 2);
  EXPECT_FALSE(m.sent);

  // The framework finds the position-1 recorder window by its text.
  RemoteWindow recorder;
  ASSERT_TRUE(recorder.Start(
      {"--class", "RecorderDialog", "--text", "_1VoxtrailstudyUser", "--reply", "1"}));
  EXPECT_EQ(test::ClassroomFrameworkDouble::FindRecorder(1), recorder.id);
  EXPECT_EQ(test::ClassroomFrameworkDouble::FindRecorder(2), 0u);
  WindowId target = test::ClassroomFrameworkDouble::FindRecorder(1);
  ASSERT_TRUE(
      test::ClassroomFrameworkDouble::PostFrameworkRequest(target, test::kFrameworkTakeTargetPath));
  ASSERT_TRUE(test::ClassroomFrameworkDouble::PostRemoteControl(target, -6, 0));
  ASSERT_TRUE(test::ClassroomFrameworkDouble::PostSliderLevel(target, 0, 1));
  plat::LRESULT r = 0;
  ASSERT_TRUE(test::ClassroomFrameworkDouble::SendDestinations(
      target, {{5, {192, 168, 0, 7}}, {12, {10, 0, 0, 1}}}, &r));
  ASSERT_TRUE(test::ClassroomFrameworkDouble::PostFrameworkRequest(target, test::kFrameworkClose));
  ASSERT_TRUE(recorder.WaitForLines(5));
  auto lines = recorder.Received();
  EXPECT_EQ(lines[0], Expected(false, 0x52E, 11, 0));
  EXPECT_EQ(lines[1], Expected(false, 0x592, -6, 0));
  EXPECT_EQ(lines[2], Expected(false, 0x498, 0, 1));
  EXPECT_EQ(lines[3].rfind("send msg=0x4a wParam=0 lParam=0 dwData=1 data=", 0), 0u);
  EXPECT_EQ(lines[4], Expected(false, 0x52E, 4, 0));
  EXPECT_EQ(test::DestinationText({{5, {192, 168, 0, 7}}, {12, {10, 0, 0, 1}}}),
            "5|192.168.0.7|12|10.0.0.1|");
}

}  // namespace
