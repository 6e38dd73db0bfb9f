// The recorder window's reaction to the tracks' notices (WM_TRACKNOTIFY): button looks, the
// chunk number, the recording light, the file name, the end of a load or a save, and the
// waveform position for a linked window. GUI thread only; the notices are posted, so each
// reaction runs after the handler that caused it and may see a state that moved on. While a
// load rebuilds the Master on its own thread (LoadPending until its notice is handled), the
// Master is not read here.
#include <QLineEdit>
#include <QTimer>

#include "audio/sound_works.h"
#include "core/app_core.h"
#include "core/log.h"
#include "core/product_name.h"
#include "platform/message_box.h"
#include "platform/window_bus.h"
#include "tracks/notify.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/led_number.h"
#include "ui/main_dialog.h"
#include "ui/recording_light.h"
#include "ui/transparent_button.h"
#include "video/master_video.h"

namespace vts::ui {

void CMainDlg::UpdateChunkNumber() {
  CSoundTrack* student = StudentTrack();
  const int current = student ? student->CurrentChunkIndex() : -1;
  m_chunkNumber->SetNumber((current == -1 ? 0 : current) + 1);
  m_chunkNumber->update();
}

void CMainDlg::SetRecordLookSkins(bool recording) {
  SetButtonSkin(1017, recording ? QStringLiteral("BUTRECORDSTOP") : QStringLiteral("BUTREC"));
  SetButtonSkin(1038,
                recording ? QStringLiteral("HBUTPLAYRECSTOP") : QStringLiteral("HBUTPLAYREC"));
  SetButtonSkin(1040,
                recording ? QStringLiteral("VBUTPLAYRECSTOP") : QStringLiteral("VBUTPLAYREC"));
}

void CMainDlg::DrawChunkTimes() {
  // Codes 0 and 1 come with every chunk switch, split and merge, also those that the window
  // did not ask for (a Ctrl+click in the strip): the chunk's length and its play position,
  // which a switch rewinds, are shown anew.
  DrawTime();
  DrawLargeTime();
}

bool CMainDlg::MasterLoading() const {
  CSoundTrack* master = MasterTrack();
  return master && master->LoadPending();
}

void CMainDlg::ShowFileName(bool videoMode) {
  CSoundTrack* master = MasterTrack();
  IMasterVideo* video = Video();
  if (videoMode ? !video : !master) return;
  // The load thread sets the path: its own notice shows it.
  if (!videoMode && MasterLoading()) return;
  const std::string path = videoMode ? video->MediaPath() : master->SourcePath();
  if (path.empty()) {
    m_fileNameEdit->clear();
    return;
  }
  const std::size_t slash = path.rfind('/');
  // A name without a folder leaves the edit as it was.
  if (slash == std::string::npos) return;
  m_fileNameEdit->setText(QString::fromStdString(path.substr(slash + 1)));
}

intptr_t CMainDlg::OnTrackNotify(uintptr_t code, intptr_t sender) {
  CSoundTrack* master = MasterTrack();
  CSoundTrack* student = StudentTrack();
  const bool fromMaster = master && sender == reinterpret_cast<intptr_t>(master);
  const bool fromStudent = student && sender == reinterpret_cast<intptr_t>(student);

  switch (code) {
    case TRACK_NOTIFY_IDLE:
      UpdateChunkNumber();
      SetRecordLookSkins(false);
      m_recordingLight->hide();
      DrawChunkTimes();
      break;
    case TRACK_NOTIFY_RECORDING:
      UpdateChunkNumber();
      SetRecordLookSkins(true);
      DrawChunkTimes();
      break;
    case TRACK_NOTIFY_LOADED:
      if (m_videoMode && Video() && sender == Video()->SenderId() && !Video()->MediaOpened()) {
        // The video could not be opened: the Master side is no video, and the user is told.
        const std::string why = Video()->OpenError();
        Video()->CloseWindow();
        OnVideoWindowGone();
        m_fileNameEdit->clear();
        setEnabled(true);
        plat::MessageBox(QString::fromStdString(why).toStdU16String(), GetProductName(),
                         plat::MB_OK | plat::MB_ICONWARNING);
        break;
      }
      if (!m_videoMode && master) {
        // The load thread has posted its last word: it ends at once.
        if (fromMaster) master->WaitForLoad();
        master->RedrawWaveform(0, 256);
      }
      ShowFileName(m_videoMode != 0);
      setEnabled(true);
      DrawTime();
      RefreshTexts();
      if (student) student->SetReplaceOnRecord(master && master->ChunkCount() > 0);
      raise();
      if (fromMaster && !m_videoMode) ReportFailedLoad();
      // The remote presses that came during the load, after this notice.
      if (!m_heldPresses.empty()) QTimer::singleShot(0, this, [this] { RunHeldPresses(); });
      break;
    case TRACK_NOTIFY_SAVED: {
      // Only the thread that reported is collected: another track's save may still run,
      // and its track must still be able to wait for it.
      CSoundTrack* saved = fromMaster ? master : fromStudent ? student : nullptr;
      if (saved) saved->WaitForSave();
      // An Open that chose a lesson while the Master's save ran goes on now.
      if (fromMaster) OpenWaitingLesson();
      // Open saves the old lesson on the way and starts the new load before this notice is
      // handled: while that load runs, its own notice shows the lesson and enables the window.
      if (!MasterLoading()) {
        ShowFileName(m_videoMode != 0);
        setEnabled(true);
      }
      // Closes the window when the exit path waits for this save and every one succeeded.
      OnSaveFinished(sender);
      RefreshTexts();
      break;
    }
    case TRACK_NOTIFY_REFRESH:
      DrawTime();
      DrawLargeTime();
      break;
    case TRACK_NOTIFY_PLAY_ENDED:
      // The transport's reaction to an ended playback, then the looks it leaves.
      OnPlaybackEnded(sender);
      break;
    case TRACK_NOTIFY_PAUSED:
      if (student && student->IsRecording())
        SetButtonSkin(1034, QStringLiteral("BUTPAUSEREC"));
      else
        SetButtonSkin(1034, Button(1034) ? Button(1034)->text() : QString());
      UpdateMasterPlayButton();
      break;
    case TRACK_NOTIFY_RUNNING:
      SetButtonSkin(1034, QStringLiteral("BUTPAUSE"));
      UpdateMasterPlayButton();
      break;
    case TRACK_NOTIFY_POSITION:
      if (m_linkedPeer) {
        if (fromMaster)
          plat::PostMessage(m_linkedPeer, WM_REMOTECONTROL, 1008, master->CursorFrame());
        else if (fromStudent)
          plat::PostMessage(m_linkedPeer, WM_REMOTECONTROL, 1009, student->CursorFrame());
        else if (Video() && sender == Video()->SenderId())
          plat::PostMessage(m_linkedPeer, WM_REMOTECONTROL, 1010, 0);
        // A sender that is none of the three is ignored.
      }
      break;
    case TRACK_NOTIFY_DATA:
      // Once a frame while recording: showing a shown light would ask the platform again.
      if (m_recordingLight->isHidden()) m_recordingLight->show();
      break;
    case TRACK_NOTIFY_CAPTURE_LOST:
      OnSoundDeviceGone(kCaptureDeviceLostText);
      break;
    case TRACK_NOTIFY_PLAYBACK_LOST:
      OnSoundDeviceGone(kPlaybackDeviceLostText);
      break;
    case TRACK_NOTIFY_START_FAILED:
      if (fromMaster || fromStudent)
        OnSoundDeviceGone((fromMaster ? master : student)->StartFailure());
      break;
    default:
      break;
  }
  return 0;
}

}  // namespace vts::ui
