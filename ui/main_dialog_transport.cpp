// The recorder window's transport: play, record, pause, stop and chunk stepping of the two
// tracks (and of a video on the Master side), the five modes that chain them, and the modes'
// reaction to an ended playback. Every press is mirrored to a linked peer window first, so
// two linked windows run the same commands.
#include "core/app_core.h"
#include "platform/window_bus.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"
#include "main_dialog_state.h"
#include "ui/master_video.h"
#include "ui/track_ops.h"

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

TrackOps& CMainDlg::Ops() const { return *Tx().ops; }
IMasterVideo* CMainDlg::Video() const { return Tx().video; }
bool CMainDlg::VideoOn() const { return m_videoMode != 0 && Tx().video != nullptr; }

void CMainDlg::SetTracks(CSoundTrack* master, CSoundTrack* student) {
  Tx().master = master;
  Tx().student = student;
}

void CMainDlg::SetTrackOps(std::shared_ptr<TrackOps> ops) {
  Tx().ops = ops ? std::move(ops) : std::make_shared<TrackOps>();
}

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

void CMainDlg::StopTrack(CSoundTrack& track) {
  // A playing (or paused) track posts code 5 for this stop; that notice is no end.
  if (track.playing) ++Tx().ownStops[reinterpret_cast<std::intptr_t>(&track)];
  Ops().StopPlayback(track);
}

void CMainDlg::PauseTrack(CSoundTrack& track) {
  // Pausing stops the playback, which posts code 5.
  if (track.playing && !track.paused) ++Tx().ownStops[reinterpret_cast<std::intptr_t>(&track)];
  Ops().TogglePause(track);
}

void CMainDlg::StepNext(CSoundTrack& track) {
  int current = track.currentChunk;
  if (current == -1) {
    current = Ops().AddChunk(track);
    if (current < 0) return;
    track.currentChunk = current;
  }
  if (current + 1 >= track.ChunkCount() && Ops().AddChunk(track) < 0) return;
  Ops().SelectChunk(track, current + 1);
}

void CMainDlg::StepPrev(CSoundTrack& track) {
  const int current = track.currentChunk;
  if (current >= 1) Ops().SelectChunk(track, current - 1);
}

int CMainDlg::MasterCount() const {
  if (VideoOn()) return Video()->ChunkCount();
  CSoundTrack* m = MasterTrack();
  return m ? m->ChunkCount() : 0;
}

int CMainDlg::MasterPosition() const {
  if (VideoOn()) return Video()->CurrentChunk();
  CSoundTrack* m = MasterTrack();
  return m ? m->currentChunk.load() : -1;
}

void CMainDlg::StartVideo() {
  if (IMasterVideo* v = Video()) v->Start();
}

void CMainDlg::StopMaster() {
  if (VideoOn()) {
    if (Video()->Playing()) ++Tx().ownStops[Video()->SenderId()];
    Video()->Stop();
  } else if (CSoundTrack* m = MasterTrack()) {
    StopTrack(*m);
  }
}

void CMainDlg::PlayMaster() {
  if (VideoOn()) {
    StartVideo();
  } else if (CSoundTrack* m = MasterTrack()) {
    Ops().Play(*m);
  }
}

void CMainDlg::Redraw(bool large) {
  if (!m_chunkLengthMs) UseTrackTimes();
  DrawTime();
  if (large) DrawLargeTime();
}

void CMainDlg::UpdateMasterPlayButton() {
  bool pauseLook = false;
  if (VideoOn()) {
    pauseLook = !Video()->FramesHalted();
  } else if (CSoundTrack* m = MasterTrack()) {
    pauseLook = m->playing && !m->paused;
  }
  SetButtonSkin(1012, pauseLook ? QStringLiteral("MBUTPAUSE") : QStringLiteral("MBUTPLAY"));
}

// --- plain transport buttons --------------------------------------------------------------

void CMainDlg::OnBnClickedRec() {
  Mirror(1017, 0);
  m_transportMode = 0;
  SetButtonSkin(1017, QStringLiteral("BUTRECORDSTOP"));
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  if (m->playing && !m->paused) StopTrack(*m);
  Ops().ToggleRecord(*s);
}

void CMainDlg::OnBnClickedPlay() {
  Mirror(1018, 0);
  m_transportMode = 0;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  if (m->playing) StopTrack(*m);
  if (m->recording) Ops().ToggleRecord(*m);
  SetButtonSkin(1019, QStringLiteral("BUTNEXT"));
  Ops().Play(*s);
}

void CMainDlg::OnBnClickedMasterPlay() {
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  if (VideoOn()) {
    if (!Video()->FramesHalted()) {
      Video()->TogglePause();
      Mirror(1033, 0);
    } else {
      StartVideo();
      Mirror(1012, 0);
    }
  } else if (m->ChunkCount() > 0 || !m->keptChunks.empty()) {
    if (m->paused || !m->playing) {
      Ops().Play(*m);
      Mirror(1012, 0);
    } else {
      PauseTrack(*m);
      Mirror(1033, 0);
    }
  }
  UpdateMasterPlayButton();
  m_transportMode = 0;
  if (s->playing) StopTrack(*s);
  if (s->recording) Ops().ToggleRecord(*s);
}

void CMainDlg::OnBnClickedMasterPause() {
  Mirror(1033, 0);
  if (VideoOn()) {
    Video()->TogglePause();
    return;
  }
  CSoundTrack* m = MasterTrack();
  if (m && m->playing) PauseTrack(*m);
}

void CMainDlg::OnBnClickedPause() {
  Mirror(1034, 0);
  if (CSoundTrack* s = StudentTrack()) PauseTrack(*s);
}

void CMainDlg::OnBnClickedMasterStop() {
  CSoundTrack* m = MasterTrack();
  const bool masterPlays = VideoOn() ? Video()->Playing() : (m && m->playing);
  if (masterPlays) SetButtonSkin(1012, QStringLiteral("MBUTPLAY"));
  Mirror(1035, 0);
  m_transportMode = 0;
  StopMaster();
  if (CSoundTrack* s = StudentTrack()) StopTrack(*s);
  UpdateMasterPlayButton();
}

void CMainDlg::OnBnClickedStop() {
  Mirror(1036, 0);
  m_transportMode = 0;
  StopMaster();
  if (CSoundTrack* s = StudentTrack()) StopTrack(*s);
}

void CMainDlg::OnBnClickedMasterNext() {
  Mirror(1013, 0);
  m_transportMode = 0;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  const int count = MasterCount();
  if (count > 0 && MasterPosition() < count - 1) {
    if (VideoOn()) {
      Video()->NextChunk();
      StepNext(*s);
      StartVideo();
    } else {
      StepNext(*m);
      StepNext(*s);
      Ops().Play(*m);
    }
  }
  Redraw(false);
  UpdateMasterPlayButton();
}

void CMainDlg::OnBnClickedMasterPrev() {
  Mirror(1011, 0);
  m_transportMode = 0;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  if (MasterCount() > 0 && MasterPosition() > 0) {
    if (VideoOn()) {
      Video()->PrevChunk();
      StepPrev(*s);
      StartVideo();
    } else {
      StepPrev(*m);
      StepPrev(*s);
      Ops().Play(*m);
    }
  }
  Redraw(false);
  UpdateMasterPlayButton();
}

void CMainDlg::OnBnClickedNextB() {
  Mirror(1019, 0);
  m_transportMode = 0;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  const bool wasRecording = s->recording;
  const int count = MasterCount();
  if (count > 0) {
    if (MasterPosition() >= count - 1) {
      Redraw(false);
      return;
    }
    if (VideoOn()) {
      Video()->NextChunk();
    } else {
      StepNext(*m);
    }
  }
  StepNext(*s);
  // The chunk switch stopped the recording silently; it goes on in the new chunk.
  if (wasRecording) {
    Ops().ToggleRecord(*s);
  } else {
    Ops().Play(*s);
  }
  Redraw(false);
}

void CMainDlg::OnBnClickedPrev() {
  Mirror(1014, 0);
  m_transportMode = 0;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  const bool wasRecording = s->recording;
  const int count = MasterCount();
  if (count >= 1) {
    if (MasterPosition() < 1) {
      Redraw(false);
      return;
    }
    if (VideoOn()) {
      Video()->PrevChunk();
    } else {
      StepPrev(*m);
    }
    StepPrev(*s);
  } else {
    if (s->ChunkCount() < 1 || s->currentChunk < 1) {
      Redraw(false);
      return;
    }
    StepPrev(*s);
  }
  if (wasRecording) {
    Ops().ToggleRecord(*s);
  } else {
    Ops().Play(*s);
  }
  Redraw(false);
}

// Chunk stepping on the audio Master track (also in video mode).
void CMainDlg::NextChunkSteps() {
  m_transportMode = 0;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  const int count = m->ChunkCount();
  if (count > 0 && m->currentChunk < count - 1) {
    StepNext(*m);
    StepNext(*s);
  }
  Redraw(true);
}

void CMainDlg::OnBnClickedNextChunk() {
  Mirror(1025, 0);
  NextChunkSteps();
}

void CMainDlg::OnBnClickedPrevChunk() {
  Mirror(1042, 0);
  m_transportMode = 0;
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  const int position = m->currentChunk;
  if (m->ChunkCount() > 0 && position > 0) {
    Ops().SelectChunk(*m, position - 1);
    StepPrev(*s);
  }
  Redraw(true);
}

// --- modes --------------------------------------------------------------------------------

void CMainDlg::OnBnClickedRepeat() {
  Mirror(1024, 0);
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  if (s->recording) Ops().ToggleRecord(*s);
  StopTrack(*m);
  StopTrack(*s);
  if (m_transportMode == 0) {
    Ops().Play(*m);
    m_transportMode = 1;
  } else {
    m_transportMode = 0;
  }
}

void CMainDlg::SimPlay() {
  CSoundTrack* s = StudentTrack();
  if (!s) return;
  StopMaster();
  StopTrack(*s);
  if (m_transportMode == 2) {
    m_transportMode = 0;
    return;
  }
  PlayMaster();
  Ops().Play(*s);
  m_transportMode = 2;
}

void CMainDlg::SimRec() {
  CSoundTrack* s = StudentTrack();
  if (!s) return;
  StopMaster();
  StopTrack(*s);
  if (m_transportMode == 3) {
    m_transportMode = 0;
    return;
  }
  PlayMaster();
  Ops().ToggleRecord(*s);
  m_transportMode = 3;
}

void CMainDlg::SeqPlay() {
  CSoundTrack* s = StudentTrack();
  if (!s) return;
  StopMaster();
  StopTrack(*s);
  if (m_transportMode == 4) {
    m_transportMode = 0;
    return;
  }
  PlayMaster();
  m_transportMode = 4;
}

void CMainDlg::SeqRec() {
  CSoundTrack* s = StudentTrack();
  if (!s) return;
  StopMaster();
  StopTrack(*s);
  if (m_transportMode == 5) {
    m_transportMode = 0;
    return;
  }
  PlayMaster();
  m_transportMode = 5;
}

void CMainDlg::OnBnClickedSimPlay() {
  Mirror(1039, 0);
  SimPlay();
}
void CMainDlg::OnBnClickedSimRec() {
  Mirror(1040, 0);
  SimRec();
}
void CMainDlg::OnBnClickedSeqPlay() {
  Mirror(1037, 0);
  SeqPlay();
}
void CMainDlg::OnBnClickedSeqRec() {
  Mirror(1038, 0);
  SeqRec();
}

// A right click on a mode button: one chunk on, then that mode starts there (the step set
// the mode to 0). The peer gets only the one right-click message and runs the same.
void CMainDlg::OnRClickSimPlay() {
  Mirror(1039, 1);
  NextChunkSteps();
  SimPlay();
}
void CMainDlg::OnRClickSimRec() {
  Mirror(1040, 1);
  NextChunkSteps();
  SimRec();
}
void CMainDlg::OnRClickSeqPlay() {
  Mirror(1037, 1);
  NextChunkSteps();
  SeqPlay();
}
void CMainDlg::OnRClickSeqRec() {
  Mirror(1038, 1);
  NextChunkSteps();
  SeqRec();
}

// --- end of a playback --------------------------------------------------------------------

void CMainDlg::OnPlaybackEnded(std::intptr_t sender) {
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  const bool fromMaster = m && sender == reinterpret_cast<std::intptr_t>(m);
  const bool fromStudent = s && sender == reinterpret_cast<std::intptr_t>(s);

  // A notice of a stop the window made itself, or one whose sender plays again by now, is
  // no end of a playback.
  bool ownStop = false;
  auto it = Tx().ownStops.find(sender);
  if (it != Tx().ownStops.end() && it->second > 0) {
    ownStop = true;
    if (--it->second == 0) Tx().ownStops.erase(it);
  }
  bool senderPlaying = false;
  if (fromMaster) {
    senderPlaying = m->playing;
  } else if (fromStudent) {
    senderPlaying = s->playing;
  } else if (IMasterVideo* v = Video()) {
    senderPlaying = v->SenderId() == sender && v->Playing();
  }

  if (!ownStop && !senderPlaying && m && s) {
    switch (m_transportMode) {
      case 1:  // continuous comparison: the tracks take turns
        if (fromMaster) {
          Ops().Play(*s);
        } else if (fromStudent) {
          Ops().Play(*m);
        }
        break;
      case 2:
        m_transportMode = 0;
        break;
      case 4:
        if (fromMaster) {
          Ops().Play(*s);
        } else {
          m_transportMode = 0;
        }
        break;
      case 5:
        if (fromMaster) {
          Ops().ToggleRecord(*s);
        } else {
          m_transportMode = 0;
        }
        break;
      default:  // 0 none, 3 simultaneous recording: only a button ends it
        break;
    }
  }
  SetButtonSkin(1019, QStringLiteral("BUTNEXTB"));
  UpdateMasterPlayButton();
}

}  // namespace vts::ui
