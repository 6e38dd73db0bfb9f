// The window's side of the classroom link: remote control by the framework and a linked peer
// window, the framework's requests, slider levels, the destination list and the Send button.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <string>

#include "core/app_core.h"
#include "core/classroom_memory.h"
#include "core/log.h"
#include "core/product_name.h"
#include "core/stream_protocol.h"
#include "platform/known_folders.h"
#include "platform/message_box.h"
#include "platform/utf.h"
#include "platform/window_bus.h"
#include "platform/window_bus_qt.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/graphic_slider.h"
#include "ui/main_dialog.h"
#include "ui/track_ops.h"
#include "ui/transparent_button.h"
#include "ui/wait_window.h"

namespace vts::ui {

namespace {

constexpr int kOpenWav = 1027, kSaveWav = 1023, kSendWav = 1043, kExit = 1049;
constexpr int kMasterTextEdit = 1031, kStudentTextEdit = 1045;
// How often a linked window looks whether its peer is still on the bus.
constexpr std::chrono::milliseconds kPeerWatchInterval{1000};

bool IsMirroredRightClick(std::intptr_t id) { return id == 1020 || (id >= 1037 && id <= 1040); }

}  // namespace

void CMainDlg::SetMessageSender(std::uint32_t processId) { m_messageSenderPid = processId; }

intptr_t CMainDlg::OnRemoteControl(uintptr_t wParam, intptr_t lParam) {
  const auto command = static_cast<std::intptr_t>(wParam);
  CAppCore* core = Core();
  const bool teacher = core && core->teacherFlag != 0;
  const bool student = core && core->studentFlag != 0;
  switch (command) {
    case -1:
    case 1010:
      return 0;
    case -3:
      LinkStart(static_cast<std::uint64_t>(lParam), teacher, student);
      return 0;
    case -2:
      LinkEnd(static_cast<std::uint32_t>(lParam), teacher, student);
      return 0;
    case -4:
      SetBusy(true);
      setEnabled(false);
      return 0;
    case -5:
      setEnabled(true);
      SetBusy(false);
      return 0;
    case -6:
      if (m_waitWindow) {
        m_waitWindow->SetText(QStringLiteral("Wait for all the selected students to login..."));
        m_waitWindow->ShowWait();
      }
      EnableControls(false);
      if (QWidget* exit = Control(kExit)) exit->setEnabled(true);
      SetBusy(true);
      return 0;
    case -7:
      EnableControls(true);
      SetBusy(false);
      if (m_waitWindow) m_waitWindow->HideWait();
      return 0;
    case 1008:
    case 1009:
      PlaceTrackCursor(command == 1008 ? MasterTrack() : StudentTrack(), lParam);
      return 0;
    case 1046:
      return OnSetSliderLevel(1, lParam);
    case 1047:
      return OnSetSliderLevel(0, lParam);
    default:
      break;
  }
  if (command <= 0) return 0;
  if (lParam != 0 && !(lParam == 1 && IsMirroredRightClick(command))) return 0;
  // A press that came from the peer is not sent back to it (the two would echo forever); one
  // from the framework goes on to the peer like a press of our own.
  bool fromPeer = false;
  plat::WindowInfo peer;
  if (m_linkedPeer != 0 && m_messageSenderPid != 0 && plat::GetWindowInfo(m_linkedPeer, &peer))
    fromPeer = peer.processId == m_messageSenderPid;
  const bool wasMuted = m_mirrorMuted;
  m_mirrorMuted = wasMuted || fromPeer;
  ClickControl(static_cast<int>(command), lParam == 1);
  m_mirrorMuted = wasMuted;
  return 0;
}

void CMainDlg::LinkStart(std::uint64_t peer, bool teacher, bool student) {
  const std::uint64_t self = m_busWindow ? m_busWindow->Id() : 0;
  if (peer == 0 || peer == self) {
    WriteLog(LOG_MAIN, "A link to no window or to this window itself was refused");
    return;
  }
  // Stored first: a link end that arrives while the box below is open must hold.
  m_linkedPeer = peer;
  if (!m_peerWatch) {
    m_peerWatch = new QTimer(this);
    connect(m_peerWatch, &QTimer::timeout, this, [this] {
      if (m_linkedPeer != 0 && !plat::IsWindow(m_linkedPeer)) {
        WriteLog(LOG_MAIN, "The linked window is gone; the link ends");
        CAppCore* c = Core();
        LinkEnd(0, c && c->teacherFlag != 0, c && c->studentFlag != 0);
      }
    });
  }
  m_peerWatch->start(static_cast<int>(kPeerWatchInterval.count()));
  if (teacher) {
    for (int id : {kOpenWav, kSaveWav, kSendWav})
      if (QWidget* w = Control(id)) w->hide();
  } else if (student) {
    EnableControls(false);
    for (int id : {kStudentTextEdit, kMasterTextEdit})
      if (QWidget* w = Control(id)) w->setEnabled(true);
    plat::MessageBox(u"VXT for student", GetProductName(), plat::MB_OK);
  }
  raise();
  activateWindow();
}

void CMainDlg::LinkEnd(std::uint32_t result, bool teacher, bool student) {
  if (teacher) {
    for (int id : {kOpenWav, kSaveWav, kSendWav})
      if (QWidget* w = Control(id)) w->show();
  } else if (student) {
    EnableControls(true);
  }
  m_linkResult = result;
  m_linkedPeer = 0;
  if (m_peerWatch) m_peerWatch->stop();
}

void CMainDlg::PlaceTrackCursor(CSoundTrack* track, std::intptr_t position) {
  if (!track) return;
  track->PlaceCursor(
      position < 0 ? 0 : static_cast<std::uint32_t>(std::min<std::intptr_t>(position, UINT32_MAX)));
}

intptr_t CMainDlg::OnFrameworkRequest(uintptr_t wParam, intptr_t lParam) {
  switch (wParam) {
    case 4:
      // Menus, boxes and mouse captures end before the exit path runs.
      RequestEnd(false);
      break;
    case 11:
      if (CAppCore* core = Core()) {
        std::string path;
        if (TakeStudentWorkTarget(core->position, &path)) core->studentWorkTarget = path;
      }
      break;
    default:
      break;
  }
  return 0;
}

intptr_t CMainDlg::OnSetSliderLevel(uintptr_t wParam, intptr_t lParam) {
  CGraphicSlider* slider = wParam == 0 ? m_inputSlider : wParam == 1 ? m_volumeSlider : nullptr;
  if (!slider) return 0;
  // Any level of 1 or more is the top; below 0 is the bottom. The picture only.
  const float level = std::clamp(static_cast<float>(static_cast<int>(lParam)), 0.0f, 1.0f);
  slider->SetThumbOffset(static_cast<int>(static_cast<float>(slider->Travel()) * level));
  return 0;
}

intptr_t CMainDlg::OnCopyData(uintptr_t wParam, intptr_t lParam) {
  const auto* data = reinterpret_cast<const plat::COPYDATASTRUCT*>(lParam);
  if (!data || data->dwData != 1) return 0;
  std::span<const std::uint8_t> text;
  if (data->lpData && data->cbData)
    text = {static_cast<const std::uint8_t*>(data->lpData), data->cbData};
  const std::vector<StreamDestination> list = ParseDestinationText(text);
  if (CAppCore* core = Core()) core->SetStreamDestinations(list);
  return 1;
}

void CMainDlg::OnBnClickedSendWav() {
  OnBnClickedMasterStop();
  OnBnClickedStop();
  CSoundTrack* master = MasterTrack();
  if (!master) return;
  const auto tick =
      static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  // A fresh account may have no documents folder yet; the lesson must not fail for that.
  const std::string folder = plat::DocumentsFolder();
  plat::CreateFolderChain(folder, 0700);
  const std::string path = folder + "/QOR" + std::to_string(tick) + ".vxb";
  // Only a saved lesson is announced; a failed save has shown its own message.
  if (!Ops().SaveTrack(*master, path)) {
    WriteLog(LOG_MAIN, "Send: the lesson could not be saved as " + path);
    return;
  }
  const std::u16string text = plat::Utf8ToUtf16(path);
  plat::MessageBox(text, u"File saved in My Documents", plat::MB_ICONWARNING);
  switch (WriteSentWorkPath(text)) {
    case SentWorkResult::kWritten:
      break;
    case SentWorkResult::kNoMapping:
      plat::MessageBox(u"Error communicating to QOR framework", u"Communication problem",
                       plat::MB_ICONWARNING);
      break;
    case SentWorkResult::kTooSmall:
      WriteLog(LOG_MAIN, "Send: the path does not fit VOXTRAILSTUDY_SHAREDMEM; not written");
      break;
  }
}

}  // namespace vts::ui
