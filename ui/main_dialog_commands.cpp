// The recorder window's command table and message table, the one road every command takes
// (clicks, right clicks, the remote control), and the handlers whose work is the window's
// own. The transport, file, exit, classroom, editing and device handlers live in their own
// files.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QMetaObject>
#include <array>
#include <string>

#include "core/log.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"
#include "ui/transparent_button.h"

namespace vts::ui {

std::span<const CMainDlg::CommandEntry> CMainDlg::CommandTable() {
  using D = CMainDlg;
  static const std::array<CommandEntry, 41> table = {{
      {1027, BN_CLICKED, &D::OnBnClickedOpen, "OnBnClickedOpen"},
      {1023, BN_CLICKED, &D::OnBnClickedSaveWav, "OnBnClickedSaveWav"},
      {1049, BN_CLICKED, &D::OnBnClickedExit, "OnBnClickedExit"},
      {1041, BN_CLICKED, &D::OnBnClickedCloseWav, "OnBnClickedCloseWav"},
      {1043, BN_CLICKED, &D::OnBnClickedSendWav, "OnBnClickedSendWav"},
      {1030, BN_CLICKED, &D::OnBnClickedMinimize, "OnBnClickedMinimize"},
      {1029, BN_CLICKED, &D::OnBnClickedMixer, "OnBnClickedMixer"},
      {1021, BN_CLICKED, &D::OnBnClickedSaveBm, "OnBnClickedSaveBm"},
      {1021, NM_RCLICK, &D::OnRClickSaveBm, "OnRClickSaveBm"},
      {1020, BN_CLICKED, &D::OnBnClickedInsertBm, "OnBnClickedInsertBm"},
      {1020, NM_RCLICK, &D::OnRClickInsertBm, "OnRClickInsertBm"},
      {1022, BN_CLICKED, &D::OnBnClickedRemoveBm, "OnBnClickedRemoveBm"},
      {1026, STN_DBLCLK, &D::OnDblClkChunkNumber, "OnDblClkChunkNumber"},
      {1017, BN_CLICKED, &D::OnBnClickedRec, "OnBnClickedRec"},
      {1014, BN_CLICKED, &D::OnBnClickedPrev, "OnBnClickedPrev"},
      {1018, BN_CLICKED, &D::OnBnClickedPlay, "OnBnClickedPlay"},
      {1019, BN_CLICKED, &D::OnBnClickedNextB, "OnBnClickedNextB"},
      {1036, BN_CLICKED, &D::OnBnClickedStop, "OnBnClickedStop"},
      {1034, BN_CLICKED, &D::OnBnClickedPause, "OnBnClickedPause"},
      {1024, BN_CLICKED, &D::OnBnClickedRepeat, "OnBnClickedRepeat"},
      {1013, BN_CLICKED, &D::OnBnClickedMasterNext, "OnBnClickedMasterNext"},
      {1012, BN_CLICKED, &D::OnBnClickedMasterPlay, "OnBnClickedMasterPlay"},
      {1011, BN_CLICKED, &D::OnBnClickedMasterPrev, "OnBnClickedMasterPrev"},
      {1035, BN_CLICKED, &D::OnBnClickedMasterStop, "OnBnClickedMasterStop"},
      {1033, BN_CLICKED, &D::OnBnClickedMasterPause, "OnBnClickedMasterPause"},
      {1016, BN_CLICKED, &D::OnBnClickedPlus, "OnBnClickedPlus"},
      {1015, BN_CLICKED, &D::OnBnClickedMinus, "OnBnClickedMinus"},
      {1039, BN_CLICKED, &D::OnBnClickedSimPlay, "OnBnClickedSimPlay"},
      {1040, BN_CLICKED, &D::OnBnClickedSimRec, "OnBnClickedSimRec"},
      {1037, BN_CLICKED, &D::OnBnClickedSeqPlay, "OnBnClickedSeqPlay"},
      {1038, BN_CLICKED, &D::OnBnClickedSeqRec, "OnBnClickedSeqRec"},
      {1025, BN_CLICKED, &D::OnBnClickedNextChunk, "OnBnClickedNextChunk"},
      {1042, BN_CLICKED, &D::OnBnClickedPrevChunk, "OnBnClickedPrevChunk"},
      {1039, NM_RCLICK, &D::OnRClickSimPlay, "OnRClickSimPlay"},
      {1040, NM_RCLICK, &D::OnRClickSimRec, "OnRClickSimRec"},
      {1037, NM_RCLICK, &D::OnRClickSeqPlay, "OnRClickSeqPlay"},
      {1038, NM_RCLICK, &D::OnRClickSeqRec, "OnRClickSeqRec"},
      {1044, BN_CLICKED, &D::OnBnClickedClear, "OnBnClickedClear"},
      {1031, EN_CHANGE, &D::OnEnChangeMasterText, "OnEnChangeMasterText"},
      {1045, EN_CHANGE, &D::OnEnChangeStudentText, "OnEnChangeStudentText"},
      {1050, BN_CLICKED, &D::OnBnClickedMasterErase, "OnBnClickedMasterErase"},
  }};
  return table;
}

std::span<const CMainDlg::MessageEntry> CMainDlg::MessageTable() {
  using D = CMainDlg;
  static const std::array<MessageEntry, 6> table = {{
      {WM_SETSLIDERLEVEL, &D::OnSetSliderLevel, "OnSetSliderLevel"},
      {WM_TRACKNOTIFY, &D::OnTrackNotify, "OnTrackNotify"},
      {WM_FRAMEWORKREQUEST, &D::OnFrameworkRequest, "OnFrameworkRequest"},
      {WM_REMOTECONTROL, &D::OnRemoteControl, "OnRemoteControl"},
      {WM_COPYDATA, &D::OnCopyData, "OnCopyData"},
      {0x0318 /* WM_PRINTCLIENT */, &D::OnSwallowMessage, "OnSwallowMessage"},
  }};
  return table;
}

QStringList CMainDlg::SkinNames() {
  // The template's buttons, the paused look of MBUTPLAY (command 1033's pair) and every
  // look a handler switches a button to.
  return {QStringLiteral("BUTOPENWAV"),    QStringLiteral("BUTSAVEWAV"),
          QStringLiteral("BUTSENDWAV"),    QStringLiteral("BUTEXIT"),
          QStringLiteral("BUTMINIMIZE"),   QStringLiteral("BUTPREVCHUNK"),
          QStringLiteral("BUTNEXTCHUNK"),  QStringLiteral("BUTCUT"),
          QStringLiteral("BUTMINUS"),      QStringLiteral("BUTPLUS"),
          QStringLiteral("VBUTPLAYREC"),   QStringLiteral("VBUTPLAYPLAY"),
          QStringLiteral("HBUTPLAYREC"),   QStringLiteral("HBUTPLAYPLAY"),
          QStringLiteral("MBUTPREV"),      QStringLiteral("MBUTPLAY"),
          QStringLiteral("MBUTSTOP"),      QStringLiteral("MBUTNEXT"),
          QStringLiteral("MBUTERASE"),     QStringLiteral("BUTREMOVEBM"),
          QStringLiteral("BUTINSERTBM"),   QStringLiteral("BUTSAVEBM"),
          QStringLiteral("BUTCLOSEWAV"),   QStringLiteral("BUTMIXER"),
          QStringLiteral("BUTPREV"),       QStringLiteral("BUTPAUSE"),
          QStringLiteral("BUTPLAY"),       QStringLiteral("BUTSTOP"),
          QStringLiteral("BUTNEXTB"),      QStringLiteral("BUTREC"),
          QStringLiteral("BUTREPEAT"),     QStringLiteral("BUTCLEAR"),
          QStringLiteral("MBUTPAUSE"),     QStringLiteral("BUTRECORDSTOP"),
          QStringLiteral("HBUTPLAYRECSTOP"), QStringLiteral("VBUTPLAYRECSTOP"),
          QStringLiteral("BUTPAUSEREC"),   QStringLiteral("BUTNEXT")};
}

bool CMainDlg::Dispatch(int controlId, int code) {
  for (const CommandEntry& e : CommandTable()) {
    if (e.id == controlId && e.code == code) {
      if (m_dispatchObserver) m_dispatchObserver(controlId, code);
      (this->*e.handler)();
      return true;
    }
  }
  return false;
}

void CMainDlg::RunHeldPresses() {
  if (MasterLoading()) return;  // a press of theirs loads again: the rest wait for that
  std::vector<HeldPress> presses;
  presses.swap(m_heldPresses);
  for (std::size_t i = 0; i < presses.size(); ++i) {
    if (MasterLoading()) {
      m_heldPresses.insert(m_heldPresses.begin(), presses.begin() + i, presses.end());
      return;
    }
    const bool wasMuted = m_mirrorMuted;
    m_mirrorMuted = presses[i].mirrorMuted;
    ClickControl(presses[i].controlId, presses[i].rightClick);
    m_mirrorMuted = wasMuted;
  }
}

bool CMainDlg::ClickControl(int controlId, bool rightClick) {
  // A load rebuilds the Master on its own thread (the window is disabled meanwhile): a press
  // from the peer or the classroom would reach the track in the middle of it.
  // It waits for the load's end: the classroom presses Record right after the window of a
  // recorder started with a lesson is on the bus, while that lesson still loads.
  if (MasterLoading()) {
    constexpr std::size_t kMaxHeldPresses = 64;
    if (m_heldPresses.size() >= kMaxHeldPresses) {
      WriteLog(LOG_MAIN, "A remote press of control " + std::to_string(controlId) +
                             " came during a load and was ignored: too many wait already");
      return false;
    }
    m_heldPresses.push_back({controlId, rightClick, m_mirrorMuted});
    WriteLog(LOG_MAIN, "A remote press of control " + std::to_string(controlId) +
                           " came during a load and waits for its end");
    return true;
  }
  if (rightClick) {
    // Only the right clicks that a window mirrors to its peer are taken from one.
    const bool mirrored = controlId == 1020 || (controlId >= 1037 && controlId <= 1040);
    return mirrored && Dispatch(controlId, NM_RCLICK);
  }
  if (controlId == 1026) return Dispatch(controlId, STN_DBLCLK);
  return Dispatch(controlId, BN_CLICKED);
}

intptr_t CMainDlg::SendMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (m_messageObserver) m_messageObserver(message, wParam, lParam);
  for (const MessageEntry& e : MessageTable())
    if (e.message == message) return (this->*e.handler)(wParam, lParam);
  return 0;
}

void CMainDlg::PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
  QMetaObject::invokeMethod(
      this, [this, message, wParam, lParam] { SendMessage(message, wParam, lParam); },
      Qt::QueuedConnection);
}

void CMainDlg::SetMessageObserver(std::function<void(unsigned, uintptr_t, intptr_t)> observer) {
  m_messageObserver = std::move(observer);
}

void CMainDlg::SetDispatchObserver(std::function<void(int, int)> observer) {
  m_dispatchObserver = std::move(observer);
}

bool CMainDlg::OnCommand(int controlId, int notifyCode) {
  // IDOK (Enter) is swallowed: only the exit path closes the window.
  if (controlId == IDOK) return false;
  return Dispatch(controlId, notifyCode);
}

void CMainDlg::OnNotify(int controlId, int code) { Dispatch(controlId, code); }

void CMainDlg::EnableControls(bool enable) {
  constexpr int kClear = 1044;
  for (const auto& [id, button] : m_buttons)
    if (id != kClear) button->setEnabled(enable);
  for (int id : {1028, 1026, 1031, 1045})
    if (QWidget* w = Control(id)) w->setEnabled(enable);
}

void CMainDlg::SetBusy(bool busy) {
  m_busy = busy ? 1 : 0;
  if (busy) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}


// The exit path: main_dialog_exit.cpp.
void CMainDlg::OnBnClickedMinimize() { showMinimized(); }

// Opening and saving: main_dialog_files.cpp.
// Classroom: main_dialog_classroom.cpp.
// Editing, levels and devices: main_dialog_editing.cpp, main_dialog_devices.cpp.
// Transport: main_dialog_transport.cpp.

// Messages.
intptr_t CMainDlg::OnSwallowMessage(uintptr_t wParam, intptr_t lParam) { return 0; }

}  // namespace vts::ui
