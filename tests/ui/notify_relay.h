// Hands the tracks' notices to the window's queue, as the start-up does.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/app_core.h"
#include "core/product_name.h"
#include "platform/message_box.h"
#include "tracks/notify.h"
#include "tracks/sound_track.h"
#include "ui/main_dialog.h"

namespace vts::test {

// A Qt application on the offscreen platform for a window test under the plain test main
// (the pulse label); its boxes are recorded, not shown, while it lives.
class OffscreenApplication {
 public:
  OffscreenApplication() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc_, argv_);
    plat::SetMessageBoxService(boxes);
  }
  ~OffscreenApplication() { plat::SetMessageBoxService(nullptr); }
  OffscreenApplication(const OffscreenApplication&) = delete;
  OffscreenApplication& operator=(const OffscreenApplication&) = delete;

  const std::shared_ptr<plat::RecordingMessageBoxService> boxes =
      std::make_shared<plat::RecordingMessageBoxService>();

 private:
  int argc_ = 1;
  char name_[5] = "test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

class Relay : public INotifyWindow {
 public:
  explicit Relay(ui::CMainDlg* dlg) : dlg_(dlg) {}
  void PostNotify(std::uint32_t message, plat::WPARAM w, plat::LPARAM l) override {
    dlg_->PostMessage(message, w, l);
  }

 private:
  ui::CMainDlg* dlg_;
};

// Both tracks' notices go to the window while it lives. On every way out of its scope (a
// failed ASSERT too) the tracks stop and stop notifying before the relay and the window go.
class WindowNotices {
 public:
  WindowNotices(ui::CMainDlg* dlg, CSoundTrack* master, CSoundTrack* student)
      : relay_(dlg), master_(master), student_(student) {
    for (CSoundTrack* t : {master_, student_})
      t->SetNotifyTarget(NotifyTarget{0, &relay_, WM_TRACKNOTIFY});
  }
  ~WindowNotices() {
    if (student_->IsRecording()) student_->ToggleRecord();
    master_->StopAll();
    student_->StopAll();
    master_->SetNotifyTarget(NotifyTarget{});
    student_->SetNotifyTarget(NotifyTarget{});
  }
  WindowNotices(const WindowNotices&) = delete;
  WindowNotices& operator=(const WindowNotices&) = delete;

 private:
  Relay relay_;
  CSoundTrack* master_;
  CSoundTrack* student_;
};

// After the window stopped for a lost sound device: every notice of that loss is in (the
// engines posted theirs before the window's stop ended their streams, the core thread passed
// them on, the window took them), and the user was told in one box with the log's text.
inline void ExpectToldOnceOfALostDevice(CAppCore& core,
                                        const plat::RecordingMessageBoxService& boxes) {
  core.coreThread.Apply([] {});
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  const std::u16string text = boxes.Boxes()[0].text;
  EXPECT_TRUE(text == u"Capture device lost. Check that device is present." ||
              text == u"Playback device lost. Check that device is present.")
      << QString::fromStdU16String(text).toStdString();
  EXPECT_EQ(boxes.Boxes()[0].caption, std::u16string(GetProductName()));
}

}  // namespace vts::test
