// The Qt bus window: messages from another process are handled on the GUI thread, in order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "classroom_double.h"
#include "platform/window_bus_qt.h"
#include "process_helper.h"

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
  QElapsedTimer timer;
  timer.start();
  while (seen.size() < 11 && timer.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(sender.Wait(), 0);
  ASSERT_EQ(seen.size(), 11u);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(seen[i], i + 1);
  EXPECT_FALSE(offGuiThread);
}
