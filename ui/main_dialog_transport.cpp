// The recorder window's transport: play, record, pause, stop and chunk stepping of the two
// tracks (and of a video on the Master side), the five modes that chain them, and the modes'
// reaction to an ended playback. Every press is mirrored to a linked peer window first, so
// two linked windows run the same commands.
#include "core/app_core.h"
#include "core/product_name.h"
#include "main_dialog_state.h"
#include "platform/message_box.h"
#include "platform/utf.h"
#include "platform/window_bus.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"
#include "ui/track_ops.h"
#include "video/master_video.h"

namespace vts::ui {

// --- wiring -----------------------------------------------------------------------------

CMainDlg::TransportState& CMainDlg::Tx() const {
  if (!m_tx) m_tx = std::make_shared<TransportState>();
  return *m_tx;
}

CAppCore* CMainDlg::Core() const { return g_pAppCore; }

CSoundTrack* CMainDlg::MasterTrack() const {
  if (Tx().master) return Tx().master;
  return Core() ? Core()->masterTrack : nullptr;
}

CSoundTrack* CMainDlg::StudentTrack() const {
  if (Tx().student) return Tx().student;
  return Core() ? Core()->studentTrack : nullptr;
}

CTransport& CMainDlg::Transport() const {
  CTransport& t = Tx().transport;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (t.MasterTrack() != m || t.StudentTrack() != s) t.SetTracks(m, s);
  t.SetMasterSource(VideoOn() ? Video() : nullptr);
  return t;
}

uint32_t CMainDlg::TransportMode() const { return static_cast<uint32_t>(Tx().transport.Mode()); }
void CMainDlg::SetMode(vts::TransportMode mode) { Tx().transport.SetMode(mode); }

TrackOps& CMainDlg::Ops() const { return Tx().transport.Ops(); }
IMasterVideo* CMainDlg::Video() const { return Tx().video; }
bool CMainDlg::VideoOn() const { return m_videoMode != 0 && Tx().video != nullptr; }

void CMainDlg::SetTracks(CSoundTrack* master, CSoundTrack* student) {
  Tx().master = master;
  Tx().student = student;
}

void CMainDlg::SetTrackOps(std::shared_ptr<TrackOps> ops) { Tx().transport.SetOps(std::move(ops)); }

void CMainDlg::SetVideo(IMasterVideo* video) {
  Tx().video = video;
  if (!video) OnVideoWindowGone();
}

void CMainDlg::OnVideoWindowGone() { m_videoMode = 0; }

void CMainDlg::Mirror(int controlId, int flag) {
  if (m_linkedPeer != 0 && !m_mirrorMuted)
    plat::PostMessage(m_linkedPeer, WM_REMOTECONTROL, static_cast<plat::WPARAM>(controlId),
                      static_cast<plat::LPARAM>(flag));
}

// --- shared steps -----------------------------------------------------------------------

void CMainDlg::StopTrack(CSoundTrack& track) { Transport().StopTrack(track); }

void CMainDlg::Redraw(bool large) {
  if (!m_chunkLengthMs) UseTrackTimes();
  DrawTime();
  if (large) DrawLargeTime();
  RefreshTexts();
}

void CMainDlg::UpdateMasterPlayButton() {
  IMasterSource* master = Transport().Master();
  const bool pauseLook = master && master->Running();
  SetButtonSkin(kIdMasterPlay,
                pauseLook ? QStringLiteral("MBUTPAUSE") : QStringLiteral("MBUTPLAY"));
}

// --- plain transport buttons --------------------------------------------------------------

void CMainDlg::OnBnClickedRec() {
  Mirror(kIdRecord, 0);
  SetMode(vts::TransportMode::None);
  SetButtonSkin(kIdRecord, QStringLiteral("BUTRECORDSTOP"));
  CTransport& t = Transport();
  CSoundTrack* m = t.MasterTrack();
  CSoundTrack* s = t.StudentTrack();
  if (!m || !s) return;
  if (m->IsPlaying() && !m->IsPaused()) t.StopTrack(*m);
  Ops().ToggleRecord(*s);
}

void CMainDlg::OnBnClickedPlay() {
  Mirror(kIdPlay, 0);
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  CSoundTrack* m = t.MasterTrack();
  CSoundTrack* s = t.StudentTrack();
  if (!m || !s) return;
  if (m->IsPlaying()) t.StopTrack(*m);
  if (m->IsRecording()) Ops().ToggleRecord(*m);
  SetButtonSkin(kIdNextB, QStringLiteral("BUTNEXT"));
  Ops().Play(*s);
}

void CMainDlg::OnBnClickedMasterPlay() {
  CTransport& t = Transport();
  CSoundTrack* m = t.MasterTrack();
  CSoundTrack* s = t.StudentTrack();
  if (!m || !s) return;
  IMasterSource& master = *t.Master();
  if (master.HasMedia()) {
    if (!master.Running()) {
      master.Start();
      Mirror(kIdMasterPlay, 0);
    } else {
      // Pausing stops the playback, which posts code 5: no end.
      if (VideoOn()) {
        master.TogglePause();
      } else {
        t.PauseTrack(*m);
      }
      Mirror(kIdMasterPause, 0);
    }
  }
  UpdateMasterPlayButton();
  SetMode(vts::TransportMode::None);
  if (s->IsPlaying()) t.StopTrack(*s);
  if (s->IsRecording()) Ops().ToggleRecord(*s);
}

void CMainDlg::OnBnClickedMasterPause() {
  Mirror(kIdMasterPause, 0);
  CTransport& t = Transport();
  if (VideoOn()) {
    t.Master()->TogglePause();
    return;
  }
  CSoundTrack* m = t.MasterTrack();
  if (m && m->IsPlaying()) t.PauseTrack(*m);
}

void CMainDlg::OnBnClickedPause() {
  Mirror(kIdPause, 0);
  CTransport& t = Transport();
  if (CSoundTrack* s = t.StudentTrack()) t.PauseTrack(*s);
}

void CMainDlg::OnBnClickedMasterStop() {
  CTransport& t = Transport();
  IMasterSource* master = t.Master();
  if (master && master->Playing()) SetButtonSkin(kIdMasterPlay, QStringLiteral("MBUTPLAY"));
  Mirror(kIdMasterStop, 0);
  SetMode(vts::TransportMode::None);
  t.StopMaster();
  if (CSoundTrack* s = t.StudentTrack()) t.StopTrack(*s);
  UpdateMasterPlayButton();
}

void CMainDlg::OnBnClickedStop() {
  Mirror(kIdStop, 0);
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  t.StopMaster();
  if (CSoundTrack* s = t.StudentTrack()) t.StopTrack(*s);
}

void CMainDlg::OnBnClickedMasterNext() {
  Mirror(kIdMasterNext, 0);
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  CSoundTrack* s = t.StudentTrack();
  if (!t.MasterTrack() || !s) return;
  const int count = t.MasterCount();
  if (count > 0 && t.MasterPosition() < count - 1) {
    t.Master()->NextChunk();
    t.StepNext(*s);
    t.StartMaster();
  }
  Redraw(false);
  UpdateMasterPlayButton();
}

void CMainDlg::OnBnClickedMasterPrev() {
  Mirror(kIdMasterPrev, 0);
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  CSoundTrack* s = t.StudentTrack();
  if (!t.MasterTrack() || !s) return;
  if (t.MasterCount() > 0 && t.MasterPosition() > 0) {
    t.Master()->PrevChunk();
    t.StepPrev(*s);
    t.StartMaster();
  }
  Redraw(false);
  UpdateMasterPlayButton();
}

void CMainDlg::OnBnClickedNextB() {
  Mirror(kIdNextB, 0);
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  CSoundTrack* s = t.StudentTrack();
  if (!t.MasterTrack() || !s) return;
  const bool wasRecording = s->IsRecording();
  const int count = t.MasterCount();
  if (count > 0) {
    if (t.MasterPosition() >= count - 1) {
      Redraw(false);
      return;
    }
    t.Master()->NextChunk();
  }
  // A recording goes on in the new chunk.
  if (wasRecording) {
    t.StepNextRecording(*s);
  } else {
    t.StepNext(*s);
    Ops().Play(*s);
  }
  Redraw(false);
}

void CMainDlg::OnBnClickedPrev() {
  Mirror(kIdPrev, 0);
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  CSoundTrack* s = t.StudentTrack();
  if (!t.MasterTrack() || !s) return;
  const bool wasRecording = s->IsRecording();
  const int count = t.MasterCount();
  if (count >= 1) {
    if (t.MasterPosition() < 1) {
      Redraw(false);
      return;
    }
    t.Master()->PrevChunk();
  } else if (s->ChunkCount() < 1 || s->CurrentChunkIndex() < 1) {
    Redraw(false);
    return;
  }
  if (wasRecording) {
    t.StepPrevRecording(*s);
  } else {
    t.StepPrev(*s);
    Ops().Play(*s);
  }
  Redraw(false);
}

// Chunk stepping on the audio Master track (also in video mode).
void CMainDlg::NextChunkSteps() {
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  CSoundTrack* m = t.MasterTrack();
  CSoundTrack* s = t.StudentTrack();
  if (!m || !s) return;
  const int count = m->ChunkCount();
  if (count > 0 && m->CurrentChunkIndex() < count - 1) {
    t.StepNext(*m);
    t.StepNext(*s);
  }
  Redraw(true);
}

void CMainDlg::OnBnClickedNextChunk() {
  Mirror(kIdNextChunk, 0);
  NextChunkSteps();
}

void CMainDlg::OnBnClickedPrevChunk() {
  Mirror(kIdPrevChunk, 0);
  SetMode(vts::TransportMode::None);
  CTransport& t = Transport();
  CSoundTrack* m = t.MasterTrack();
  CSoundTrack* s = t.StudentTrack();
  if (!m || !s) return;
  const int position = m->CurrentChunkIndex();
  if (m->ChunkCount() > 0 && position > 0) {
    Ops().SelectChunk(*m, position - 1);
    t.StepPrev(*s);
  }
  Redraw(true);
}

// --- modes: one table (tracks/transport.h); the handlers mirror and press ------------------

void CMainDlg::PressMode(vts::TransportMode mode) { Transport().PressMode(mode); }

void CMainDlg::OnBnClickedRepeat() {
  Mirror(kIdRepeat, 0);
  PressMode(vts::TransportMode::Comparison);
}
void CMainDlg::OnBnClickedSimPlay() {
  Mirror(kIdSimPlay, 0);
  PressMode(vts::TransportMode::SimultaneousPlay);
}
void CMainDlg::OnBnClickedSimRec() {
  Mirror(kIdSimRecord, 0);
  PressMode(vts::TransportMode::SimultaneousRecord);
}
void CMainDlg::OnBnClickedSeqPlay() {
  Mirror(kIdSeqPlay, 0);
  PressMode(vts::TransportMode::SequentialPlay);
}
void CMainDlg::OnBnClickedSeqRec() {
  Mirror(kIdSeqRecord, 0);
  PressMode(vts::TransportMode::SequentialRecord);
}

// A right click on a mode button: one chunk on, then that mode starts there (the step set
// the mode to 0). The peer gets only the one right-click message and runs the same.
void CMainDlg::OnRClickSimPlay() {
  Mirror(kIdSimPlay, 1);
  NextChunkSteps();
  PressMode(vts::TransportMode::SimultaneousPlay);
}
void CMainDlg::OnRClickSimRec() {
  Mirror(kIdSimRecord, 1);
  NextChunkSteps();
  PressMode(vts::TransportMode::SimultaneousRecord);
}
void CMainDlg::OnRClickSeqPlay() {
  Mirror(kIdSeqPlay, 1);
  NextChunkSteps();
  PressMode(vts::TransportMode::SequentialPlay);
}
void CMainDlg::OnRClickSeqRec() {
  Mirror(kIdSeqRecord, 1);
  NextChunkSteps();
  PressMode(vts::TransportMode::SequentialRecord);
}

// --- a sound device lost, or missing at a start ------------------------------------------

void CMainDlg::OnSoundDeviceGone(const std::string& text) {
  CTransport& t = Transport();
  CSoundTrack* m = t.MasterTrack();
  CSoundTrack* s = t.StudentTrack();
  auto running = [](const CSoundTrack* track) {
    return track && (track->IsRecording() || (track->IsPlaying() && !track->IsPaused()));
  };
  if (!running(m) && !running(s)) return;
  // The Stop button's steps, not mirrored: a linked peer still has its own devices.
  SetMode(vts::TransportMode::None);
  t.StopMaster();
  if (s) t.StopTrack(*s);
  UpdateMasterPlayButton();
  plat::MessageBox(plat::Utf8ToUtf16(text), GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
}

// --- end of a playback --------------------------------------------------------------------

void CMainDlg::OnPlaybackEnded(std::intptr_t sender) {
  Transport().OnPlaybackEnded(sender);
  SetButtonSkin(kIdNextB, QStringLiteral("BUTNEXTB"));
  UpdateMasterPlayButton();
}

}  // namespace vts::ui
