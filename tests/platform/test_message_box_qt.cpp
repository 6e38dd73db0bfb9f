// Qt message boxes: a background thread's box appears on the GUI thread and its answer comes
// back; after BeginShutdown nobody waits and the text is logged.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box_qt.h"
#include "qt_wait.h"

using namespace vts::plat;
using namespace std::chrono_literals;

namespace {

QMessageBox* VisibleBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

// Runs the GUI loop until `done` or about 30 s passed.
bool PumpUntil(const std::function<bool()>& done) { return vts::test::PumpEventsUntil(done); }

}  // namespace

TEST(QtMessageBox, BackgroundAskerWaitsForTheAnswerGivenOnTheGuiThread) {
  QtMessageBoxService service;
  std::atomic<int> answer{0};
  std::thread asker([&] {
    answer = service.Show(u"Save the recording?", u"Lectorine", MB_YESNOCANCEL | MB_ICONQUESTION);
  });

  QString title, text;
  int buttons = 0;
  // The box runs its own loop; click from inside it.
  QTimer clicker;
  QObject::connect(&clicker, &QTimer::timeout, [&] {
    if (QMessageBox* box = VisibleBox()) {
      title = box->windowTitle();
      text = box->text();
      buttons = static_cast<int>(box->buttons().size());
      box->button(QMessageBox::No)->click();
    }
  });
  clicker.start(10);
  EXPECT_TRUE(PumpUntil([&] { return answer.load() != 0; }));
  asker.join();
  EXPECT_EQ(answer.load(), IDNO);
  EXPECT_EQ(title, "Lectorine");
  EXPECT_EQ(text, "Save the recording?");
  EXPECT_EQ(buttons, 3);
}

TEST(QtMessageBox, ShutdownReleasesWaitersAndLogsLaterBoxes) {
  std::vector<std::string> logged;
  std::mutex m;
  QtMessageBoxService service([&](const std::string& s) {
    std::lock_guard lock(m);
    logged.push_back(s);
  });
  // The GUI loop is not pumped: the asker waits until shutdown releases it.
  auto waiting = std::async(std::launch::async,
                            [&] { return service.Show(u"Pipe Data", u"Recorder", MB_YESNO); });
  EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
  service.BeginShutdown();
  ASSERT_EQ(waiting.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(waiting.get(), IDNO);
  EXPECT_EQ(service.Show(u"late", u"Attention", MB_OK), IDOK);
  QApplication::processEvents();  // the queued request finds the shutdown and shows nothing
  EXPECT_EQ(VisibleBox(), nullptr);
  std::lock_guard lock(m);
  EXPECT_EQ(logged, (std::vector<std::string>{"Recorder: Pipe Data", "Attention: late"}));
}

// A box nobody waits for returns at once, also on the GUI thread, and shows when the GUI
// loop runs again.
TEST(QtMessageBox, ABoxNobodyWaitsForShowsWhenTheLoopRunsAgain) {
  std::vector<std::string> shown;  // GUI thread only
  QtMessageBoxService service({}, [&](const std::string& s) { shown.push_back(s); });
  service.ShowWithoutWaiting(u"Could not open file in LoadChunk", u"Lectorine", MB_OK);
  std::thread([&] { service.ShowWithoutWaiting(u"from a thread", u"Lectorine", MB_OK); }).join();
  EXPECT_TRUE(shown.empty()) << "nothing shown while the caller runs";
  QTimer clicker;
  QObject::connect(&clicker, &QTimer::timeout, [&] {
    if (QMessageBox* box = VisibleBox()) box->button(QMessageBox::Ok)->click();
  });
  clicker.start(10);
  EXPECT_TRUE(PumpUntil([&] { return shown.size() == 2 && VisibleBox() == nullptr; }));
  EXPECT_EQ(shown, (std::vector<std::string>{"Lectorine: Could not open file in LoadChunk",
                                             "Lectorine: from a thread"}));
}

// The program's end closes the boxes that are up, one the GUI thread waits in and one a
// background thread waits for, each answered as by default; later boxes are not shown.
TEST(QtMessageBox, EndBoxesClosesTheBoxesUpAndReleasesTheirCallers) {
  std::vector<std::string> logged;
  std::mutex m;
  QtMessageBoxService service([&](const std::string& s) {
    std::lock_guard lock(m);
    logged.push_back(s);
  });
  auto asker = std::async(std::launch::async,
                          [&] { return service.Show(u"Hello class", u"Pipe Data", MB_YESNO); });
  int guiAnswer = 0;
  QTimer::singleShot(0, [&] { guiAnswer = service.Show(u"Empty region", u"Attention", MB_OK); });
  QTimer ender;
  QObject::connect(&ender, &QTimer::timeout, [&] {
    int up = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QMessageBox*>(w) && w->isVisible()) ++up;
    if (up == 2) service.EndBoxes();
  });
  ender.start(10);
  EXPECT_TRUE(PumpUntil(
      [&] { return guiAnswer != 0 && asker.wait_for(0ms) == std::future_status::ready; }));
  ender.stop();
  EXPECT_EQ(guiAnswer, IDOK);
  EXPECT_EQ(asker.get(), IDNO);
  EXPECT_EQ(VisibleBox(), nullptr);
  EXPECT_EQ(service.Show(u"later", u"Error streaming", MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(VisibleBox(), nullptr);
  std::lock_guard lock(m);
  // (The waiting caller's box may be logged too, as answered by nobody.)
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged.back(), "Error streaming: later");
  EXPECT_EQ(std::count(logged.begin(), logged.end(), "Attention: Empty region"), 0);
}
