// The recorder window's small commands without a core: enabling and disabling the controls
// and the busy cursor.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>

#include "platform/message_box.h"
#include "ui/dialog_template.h"
#include "ui/led_number.h"
#include "ui/main_dialog.h"
#include "ui/transparent_button.h"

namespace vts::ui {
namespace {

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes = std::make_shared<plat::RecordingMessageBoxService>();
    plat::SetMessageBoxService(boxes);
    dlg = std::make_unique<CMainDlg>();
  }
  void TearDown() override {
    dlg.reset();
    plat::SetMessageBoxService(nullptr);
  }
  std::shared_ptr<plat::RecordingMessageBoxService> boxes;
  std::unique_ptr<CMainDlg> dlg;
};

TEST_F(CommandsTest, EnableControlsCoversEveryButtonButClearAndTheEditsAndChunkNumber) {
  int buttons = 0;
  for (bool enable : {false, true, false}) {
    dlg->EnableControls(enable);
    for (const ControlTemplate& t : DialogTemplate()) {
      if (t.id <= 0) continue;
      QWidget* w = dlg->Control(t.id);
      ASSERT_NE(w, nullptr) << t.id;
      const bool switched = (t.kind == ControlKind::Button && t.id != 1044) || t.id == 1028 ||
                            t.id == 1026 || t.id == 1031 || t.id == 1045;
      if (!enable && t.kind == ControlKind::Button) ++buttons;
      EXPECT_EQ(w->isEnabled(), switched ? enable : true) << t.id << " " << t.text;
    }
  }
  EXPECT_GT(buttons, 60);  // both passes saw the template's buttons
  EXPECT_TRUE(dlg->isEnabled()) << "the window itself stays enabled";
}

TEST_F(CommandsTest, BusyShowsTheWaitCursorUntilCleared) {
  dlg->SetBusy(true);
  EXPECT_TRUE(dlg->Busy());
  EXPECT_EQ(dlg->cursor().shape(), Qt::WaitCursor);
  dlg->SetBusy(false);
  EXPECT_FALSE(dlg->Busy());
  EXPECT_EQ(dlg->cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
}  // namespace vts::ui
