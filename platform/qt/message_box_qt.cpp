// Qt front end of the message-box service.
#include "platform/message_box_qt.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/utf.h"

namespace vts::plat {

struct QtMessageBoxService::State {
  std::mutex mutex;
  std::condition_variable cv;
  bool shuttingDown = false;
  std::function<void(const std::string&)> log;
  std::function<void(const std::string&)> shown;
  std::vector<QPointer<QMessageBox>> open;  // the boxes up now; GUI thread only
};

namespace {

struct Request {
  bool done = false;
  int answer = 0;
};

bool Ended(QtMessageBoxService::State& s) {
  std::lock_guard lock(s.mutex);
  return s.shuttingDown;
}

int RunBox(QtMessageBoxService::State& s, const std::u16string& text, const std::u16string& caption,
           unsigned type) {
  QMessageBox box;
  box.setWindowTitle(QString::fromStdU16String(caption));
  box.setText(QString::fromStdU16String(text));
  switch (type & 0xF0) {
    case MB_ICONERROR:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONWARNING:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  switch (type & 0xF) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Ok);
      break;
    case MB_YESNOCANCEL:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  s.open.emplace_back(&box);
  box.exec();
  std::erase_if(s.open, [&](const QPointer<QMessageBox>& b) { return b == &box || b.isNull(); });
  // Closed by the program's end, not by the user: nobody chose.
  if (Ended(s)) return DefaultAnswer(type);
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return IDOK;
    case QMessageBox::Cancel:
      return IDCANCEL;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    default:
      return DefaultAnswer(type);
  }
}

// Shows the box on the GUI thread, telling `shown` first.
int ShowBox(QtMessageBoxService::State& s, const std::u16string& text,
            const std::u16string& caption, unsigned type) {
  if (s.shown) s.shown(Utf16ToUtf8(caption) + ": " + Utf16ToUtf8(text));
  return RunBox(s, text, caption, type);
}

int AnswerUnshown(QtMessageBoxService::State& s, const std::u16string& text,
                  const std::u16string& caption, unsigned type) {
  if (s.log) s.log(Utf16ToUtf8(caption) + ": " + Utf16ToUtf8(text));
  return DefaultAnswer(type);
}

}  // namespace

QtMessageBoxService::QtMessageBoxService(std::function<void(const std::string&)> log,
                                         std::function<void(const std::string&)> shown)
    : state_(std::make_shared<State>()) {
  state_->log = std::move(log);
  state_->shown = std::move(shown);
}

QtMessageBoxService::~QtMessageBoxService() { BeginShutdown(); }

void QtMessageBoxService::BeginShutdown() {
  {
    std::lock_guard lock(state_->mutex);
    state_->shuttingDown = true;
  }
  state_->cv.notify_all();
}

void QtMessageBoxService::EndBoxes() {
  BeginShutdown();
  // Each box's own loop returns once this handler is left; its caller gets the default answer.
  const std::vector<QPointer<QMessageBox>> open = state_->open;
  for (const QPointer<QMessageBox>& box : open)
    if (box) box->done(0);
}

int QtMessageBoxService::Show(const std::u16string& text, const std::u16string& caption,
                              unsigned type) {
  std::shared_ptr<State> s = state_;
  QCoreApplication* app = QCoreApplication::instance();
  {
    std::lock_guard lock(s->mutex);
    if (s->shuttingDown || !app) return AnswerUnshown(*s, text, caption, type);
  }
  if (QThread::currentThread() == app->thread()) return ShowBox(*s, text, caption, type);

  auto req = std::make_shared<Request>();
  QMetaObject::invokeMethod(
      app,
      [s, req, text, caption, type] {
        {
          std::lock_guard lock(s->mutex);
          if (s->shuttingDown) return;  // the asker was released already
        }
        int answer = ShowBox(*s, text, caption, type);
        {
          std::lock_guard lock(s->mutex);
          req->answer = answer;
          req->done = true;
        }
        s->cv.notify_all();
      },
      Qt::QueuedConnection);

  std::unique_lock lock(s->mutex);
  s->cv.wait(lock, [&] { return req->done || s->shuttingDown; });
  if (req->done) return req->answer;
  lock.unlock();
  return AnswerUnshown(*s, text, caption, type);
}

void QtMessageBoxService::ShowWithoutWaiting(const std::u16string& text,
                                             const std::u16string& caption, unsigned type) {
  std::shared_ptr<State> s = state_;
  QCoreApplication* app = QCoreApplication::instance();
  {
    std::lock_guard lock(s->mutex);
    if (s->shuttingDown || !app) {
      AnswerUnshown(*s, text, caption, type);
      return;
    }
  }
  // Queued even on the GUI thread: the caller may hold a lock that the loop's work takes.
  QMetaObject::invokeMethod(
      app,
      [s, text, caption, type] {
        {
          std::lock_guard lock(s->mutex);
          if (s->shuttingDown) {
            AnswerUnshown(*s, text, caption, type);
            return;
          }
        }
        ShowBox(*s, text, caption, type);
      },
      Qt::QueuedConnection);
}

}  // namespace vts::plat
