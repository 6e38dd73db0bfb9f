// The chunk-text edits' private clipboard on a real core: what a cut or copy stores, what a
// paste takes with and without the private-clipboard flag, and the drops refused with it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>

#include "core/app_core.h"
#include "platform/message_box.h"
#include "ui/main_dialog.h"
#include "ui/own_clipboard_edit.h"

namespace vts::ui {
namespace {

class ClipboardEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetMessageBoxService(std::make_shared<plat::RecordingMessageBoxService>());
    g_pAppCore = new CAppCore();
    dlg = std::make_unique<CMainDlg>();
    master = qobject_cast<COwnClipboardEdit*>(dlg->MasterTextEdit());
    student = qobject_cast<COwnClipboardEdit*>(dlg->StudentTextEdit());
    ASSERT_NE(master, nullptr);
    ASSERT_NE(student, nullptr);
    dlg->show();
  }
  void TearDown() override {
    dlg.reset();
    delete g_pAppCore;
    g_pAppCore = nullptr;
    plat::SetMessageBoxService(nullptr);
  }
  static void Select(QPlainTextEdit* e, int from, int to) {
    QTextCursor c = e->textCursor();
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    e->setTextCursor(c);
  }
  static void EndOf(QPlainTextEdit* e) {
    QTextCursor c = e->textCursor();
    c.movePosition(QTextCursor::End);
    e->setTextCursor(c);
  }
  std::unique_ptr<CMainDlg> dlg;
  COwnClipboardEdit* master = nullptr;
  COwnClipboardEdit* student = nullptr;
};

TEST_F(ClipboardEdit, AMasterCutPastesInTheStudentWhileOtherProgramsTextIsRefused) {
  for (COwnClipboardEdit* e : {master, student}) e->SetPrivateClipboard(true);
  master->setPlainText(QStringLiteral("hello world"));
  Select(master, 6, 11);
  QTest::keyClick(master, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(master->toPlainText(), QStringLiteral("hello "));
  EXPECT_EQ(COwnClipboardEdit::StoredClipboardText(), u"world");

  QApplication::clipboard()->setText(QStringLiteral("from another program"));
  student->setPlainText(QStringLiteral("> "));
  EndOf(student);
  QTest::keyClick(student, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(student->toPlainText(), QStringLiteral("> world"));

  // The context menu's copy stores as well.
  Select(student, 0, 1);
  student->copy();
  EXPECT_EQ(COwnClipboardEdit::StoredClipboardText(), u">");

  // A copy of nothing stores nothing; the next paste pastes nothing.
  Select(master, 2, 2);
  QTest::keyClick(master, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(COwnClipboardEdit::StoredClipboardText(), u"");
  QApplication::clipboard()->setText(QStringLiteral("from another program"));
  EndOf(student);
  QTest::keyClick(student, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(student->toPlainText(), QStringLiteral("> world"));
}

TEST_F(ClipboardEdit, WithoutTheFlagPasteTakesTheSystemClipboard) {
  master->setPlainText(QStringLiteral("inside"));
  Select(master, 0, 6);
  QTest::keyClick(master, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(COwnClipboardEdit::StoredClipboardText(), u"inside");
  QApplication::clipboard()->setText(QStringLiteral("outside"));
  student->clear();
  QTest::keyClick(student, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(student->toPlainText(), QStringLiteral("outside"));
}

TEST_F(ClipboardEdit, WithTheFlagDropsAreRefused) {
  for (bool flag : {true, false}) {
    student->SetPrivateClipboard(flag);
    student->clear();
    QMimeData data;
    data.setText(QStringLiteral("dropped"));
    const QPoint at = student->viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(student->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(student->viewport(), &drop);
    EXPECT_EQ(student->toPlainText().isEmpty(), flag) << "flag " << flag;
  }
}

// A clipboard nobody owns (the state after a fresh login) and an owner that offers no
// formats (what X11 hands out then): no way of pasting or dropping may crash or change the
// text, in either edit, with or without the private flag (whose buffer is empty here).
TEST_F(ClipboardEdit, AnEmptyClipboardPastesNothingAndNeverCrashes) {
  enum class Clipboard { NoOwner, NoFormats };
  enum class Way { CtrlV, ShiftInsert, CtrlShiftInsert, PasteSlot, Drop };
  COwnClipboardEdit::StoreClipboardText(u"");
  for (Clipboard state : {Clipboard::NoOwner, Clipboard::NoFormats}) {
    for (Way way :
         {Way::CtrlV, Way::ShiftInsert, Way::CtrlShiftInsert, Way::PasteSlot, Way::Drop}) {
      for (COwnClipboardEdit* e : {master, student}) {
        for (bool flag : {false, true}) {
          const std::string what = std::string(e == master ? "master" : "student") + " flag " +
                                   std::to_string(flag) + " clipboard " +
                                   std::to_string(static_cast<int>(state)) + " way " +
                                   std::to_string(static_cast<int>(way));
          QApplication::clipboard()->clear();
          if (state == Clipboard::NoFormats) QApplication::clipboard()->setMimeData(new QMimeData);
          e->SetPrivateClipboard(flag);
          e->setPlainText(QStringLiteral("abc"));
          EndOf(e);
          e->setFocus();
          switch (way) {
            case Way::CtrlV:
              QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
              break;
            case Way::ShiftInsert:
              QTest::keyClick(e, Qt::Key_Insert, Qt::ShiftModifier);
              break;
            case Way::CtrlShiftInsert:
              QTest::keyClick(e, Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier);
              break;
            case Way::PasteSlot:  // the context menu's Paste
              e->paste();
              break;
            case Way::Drop: {
              QMimeData data;
              const QPoint at = e->viewport()->rect().center();
              QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
              QApplication::sendEvent(e->viewport(), &enter);
              QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
              QApplication::sendEvent(e->viewport(), &drop);
              break;
            }
          }
          EXPECT_EQ(e->toPlainText(), QStringLiteral("abc")) << what;
        }
      }
    }
  }
  QApplication::clipboard()->clear();
}

}  // namespace
}  // namespace vts::ui
