// The Qt bus window: messages from another process are handled on the GUI thread, in order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <thread>
#include <vector>

#include "classroom_double.h"
#include "platform/window_bus_qt.h"
#include "process_helper.h"
#include "qt_wait.h"

namespace plat = vts::plat;
namespace test = vts::test;

TEST(QtBusWindow, HandlesMessagesOnTheGuiThreadInOrder) {
  std::vector<plat::LPARAM> seen;
  bool offGuiThread = false;
  plat::QtBusWindow window("RecorderDialog", u"_2VoxtrailstudyUser",
                           [&](const plat::WindowMessage& m) {
                             if (QThread::currentThread() != QCoreApplication::instance()->thread())
                               offGuiThread = true;
                             seen.push_back(m.lParam);
                             return plat::LRESULT{m.sent ? 7 : 0};
                           });
  ASSERT_TRUE(window.IsOpen()) << window.Error();
  ASSERT_EQ(test::ClassroomFrameworkDouble::FindRecorder(2), window.Id());

  // Another process posts a burst and then sends; the send is answered from the GUI thread.
  test::ChildProcess sender;
  ASSERT_TRUE(sender.Start(
      "/bin/sh",
      {"-c",
       "for i in 1 2 3 4 5 6 7 8 9 10; do \"$0\" post --position 2 0x592 1008 $i || exit 1; done; "
       "\"$0\" send --position 2 0x592 1009 11",
       CLASSROOM_DOUBLE}));
  test::PumpEventsUntil([&] { return seen.size() >= 11; });
  EXPECT_EQ(sender.Wait(), 0);
  ASSERT_EQ(seen.size(), 11u);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(seen[i], i + 1);
  EXPECT_FALSE(offGuiThread);
}

TEST(QtBusWindow, PostsFromThreadsOfThisProcessArriveOnTheGuiThreadPerSenderInOrder) {
  struct Seen {
    int sender;
    int serial;
  };
  std::vector<Seen> seen;
  bool offGuiThread = false;
  plat::QtBusWindow window("RecorderDialog", u"", [&](const plat::WindowMessage& m) {
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) offGuiThread = true;
    const int* payload = reinterpret_cast<const int*>(m.lParam);  // pointers stay valid in-process
    seen.push_back({static_cast<int>(m.wParam), *payload});
    delete payload;
    return plat::LRESULT{0};
  });
  ASSERT_TRUE(window.IsOpen()) << window.Error();
  constexpr int kPerSender = 200;
  std::vector<std::thread> senders;
  for (int s = 0; s < 3; ++s) {
    senders.emplace_back([&, s] {
      for (int i = 0; i < kPerSender; ++i) {
        int* payload = new int(i);
        if (!plat::PostMessage(window.Id(), plat::WM_USER + 500, static_cast<plat::WPARAM>(s),
                               reinterpret_cast<plat::LPARAM>(payload)))
          delete payload;
      }
    });
  }
  for (auto& t : senders) t.join();
  test::PumpEventsUntil([&] { return seen.size() >= 3 * kPerSender; });
  ASSERT_EQ(seen.size(), 3u * kPerSender);
  int next[3] = {0, 0, 0};
  for (const auto& s : seen) ASSERT_EQ(s.serial, next[s.sender]++) << "sender " << s.sender;
  EXPECT_FALSE(offGuiThread);
}
