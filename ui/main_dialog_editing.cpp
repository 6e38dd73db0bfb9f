// The recorder window's editing commands: bookmarks, the whole-file switch, the chunk-number
// jump, erasing and clearing sound, the chunk-text edits and their refresh, zoom, and the
// volume-control button. GUI thread only.
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <algorithm>
#include <mutex>

#include "core/app_core.h"
#include "core/product_name.h"
#include "platform/message_box.h"
#include "tracks/side_files.h"
#include "tracks/sound_track.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"
#include "ui/track_ops.h"
#include "ui/transparent_button.h"
#include "video/master_video.h"

namespace vts::ui {
namespace {

constexpr std::uint32_t kMinFramesPerPixel = 32;
constexpr std::uint32_t kMaxFramesPerPixel = 8192;

// A chunk text as the track keeps it: one ".txt" line per chunk, so a line break becomes a
// blank (else the texts after it shift on reload), and at most 1023 characters.
std::u16string ChunkTextOf(const QPlainTextEdit& edit) {
  std::u16string text = edit.toPlainText().toStdU16String();
  if (text.size() > kMaxChunkTextUnits) {
    std::size_t keep = kMaxChunkTextUnits;
    if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;  // never half a character
    text.resize(keep);
  }
  for (char16_t& c : text)
    if (c == u'\n' || c == u'\r' || c == u'\u2029' || c == u'\u2028') c = u' ';
  return text;
}

// The current chunk's text, read under the track's lock (the core thread changes the list
// for received audio).
QString CurrentChunkText(CSoundTrack& track) {
  std::lock_guard lock(track.BufferLock());
  const CChunkInfo* c = track.CurrentChunk();
  return c ? QString::fromStdU16String(c->text) : QString();
}

}  // namespace

void CMainDlg::SetEditText(QPlainTextEdit* edit, const QString& text) {
  if (!edit) return;
  // Text set by the program is no user edit: it must not mark texts present or add chunks.
  const QSignalBlocker quiet(edit);
  if (edit->toPlainText() != text) edit->setPlainText(text);
}

void CMainDlg::RefreshTexts() {
  QString master;
  if (VideoOn()) {
    if (Video()->TextsLoaded()) master = QString::fromStdU16String(Video()->CurrentChunkText());
  } else if (CSoundTrack* m = MasterTrack(); m && !MasterLoading() && m->TextsPresent()) {
    // A load frees and rebuilds the chunks on its own thread: nothing to show meanwhile.
    master = CurrentChunkText(*m);
  }
  QString student;
  if (CSoundTrack* s = StudentTrack(); s && s->TextsPresent()) student = CurrentChunkText(*s);
  SetEditText(MasterTextEdit(), master);
  SetEditText(StudentTextEdit(), student);
}

// --- bookmarks ------------------------------------------------------------------------------

void CMainDlg::OnBnClickedInsertBm() {
  bool inserted = false;
  if (VideoOn()) {
    inserted = Video()->InsertBookmark();
  } else if (CSoundTrack* m = MasterTrack()) {
    inserted = Ops().SplitCurrentChunk(*m);
  }
  if (inserted) {
    Mirror(1020, 0);
  } else {
    plat::MessageBox(
        u"Empty region. Use Left Mouse Button to mark. \nCtrl + Left Mouse Button to insert "
        u"bookmark.",
        u"Attention", plat::MB_OK | plat::MB_ICONWARNING);
  }
  DrawTime();
}

void CMainDlg::OnRClickInsertBm() {
  Mirror(1020, 1);
  ChunkNumberJump();
  m_bookmarksOff = !m_bookmarksOff;
  if (CTransparentButton* b = Button(1020)) {
    b->SetSwapped(m_bookmarksOff);
    b->update();
  }
  if (VideoOn()) {
    Video()->SetWholeFile(m_bookmarksOff);
  } else if (CSoundTrack* m = MasterTrack()) {
    Ops().SetWholeFileMode(*m, m_bookmarksOff);
  }
}

void CMainDlg::OnDblClkChunkNumber() {
  Mirror(1026, 0);
  ChunkNumberJump();
}

void CMainDlg::ChunkNumberJump() {
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m) return;
  if (m->CurrentChunkIndex() != 0) {
    Ops().SelectChunk(*m, 0);
    if (s) Ops().SelectChunk(*s, 0);
  } else {
    const int last = m->ChunkCount() - 1;
    Ops().SelectChunk(*m, last);
    if (s) {
      if (s->ChunkCount() > last) {
        // A Student with as many chunks or more stands on the Master's last index.
        Ops().SelectChunk(*s, last);
      } else {
        if (s->ChunkCount() > 0) {
          Ops().SelectChunk(*s, s->ChunkCount() - 1);
        } else if (const int added = Ops().AddChunk(*s); added >= 0) {
          s->AdoptAsCurrentChunk(added);
        }
        // Stepping appends empty chunks until the Student matches the Master.
        while (s->CurrentChunkIndex() >= 0 && s->CurrentChunkIndex() < last) {
          const int before = s->CurrentChunkIndex();
          Transport().StepNext(*s);
          if (s->CurrentChunkIndex() == before) break;  // no chunk could be added
        }
      }
    }
  }
  DrawTime();
  RefreshTexts();
}

void CMainDlg::OnBnClickedRemoveBm() {
  Mirror(1022, 0);
  if (VideoOn()) {
    Video()->RemoveBookmark();
  } else if (CSoundTrack* m = MasterTrack()) {
    Ops().MergeChunkWithNext(*m, m->CurrentChunkIndex());
  }
  DrawTime();
  RefreshTexts();
}

// --- erasing and clearing -------------------------------------------------------------------

void CMainDlg::OnBnClickedMasterErase() {
  if (CSoundTrack* m = MasterTrack()) {
    Ops().StopAll(*m);
    Ops().DeleteSelection(*m);
  }
  DrawTime();
  RefreshTexts();
}

void CMainDlg::OnBnClickedClear() {
  CSoundTrack* s = StudentTrack();
  if (!s || !s->IsModified()) return;
  if (s->IsPlaying() || s->IsRecording()) StopTrack(*s);
  Ops().ClearCurrentChunk(*s);
  Ops().RedrawWaveform(*s, 0, s->FramesPerPixel());
  Mirror(1044, 0);
}

// --- chunk texts ----------------------------------------------------------------------------

void CMainDlg::OnEnChangeMasterText() {
  QPlainTextEdit* edit = MasterTextEdit();
  if (!edit) return;
  const std::u16string text = ChunkTextOf(*edit);
  if (VideoOn()) {
    // Without a current video chunk the text belongs nowhere: nothing changes.
    const int current = Video()->CurrentChunk();
    if (current >= 0 && current < Video()->ChunkCount()) Video()->SetCurrentChunkText(text);
  } else if (CSoundTrack* m = MasterTrack()) {
    m->SetTextsPresent(true);
    Ops().SetChunkText(*m, text);
  }
}

void CMainDlg::OnEnChangeStudentText() {
  QPlainTextEdit* edit = StudentTextEdit();
  CSoundTrack* s = StudentTrack();
  if (!edit || !s) return;
  s->SetTextsPresent(true);
  Ops().SetChunkText(*s, ChunkTextOf(*edit));
}

// --- zoom -----------------------------------------------------------------------------------

void CMainDlg::Zoom(bool in) {
  CSoundTrack* m = MasterTrack();
  if (!m) return;
  const WaveformViewState view = m->ViewSnapshot();
  const std::uint32_t current = view.framesPerPixel;
  const std::uint32_t fpp =
      in ? std::max(current / 2, kMinFramesPerPixel) : std::min(current * 2, kMaxFramesPerPixel);
  const std::uint32_t start = view.viewStartFrame;
  Ops().RedrawWaveform(*m, start, fpp);
  if (CSoundTrack* s = StudentTrack()) Ops().RedrawWaveform(*s, start, fpp);
}

void CMainDlg::OnBnClickedPlus() {
  Mirror(1016, 0);
  Zoom(true);
}

void CMainDlg::OnBnClickedMinus() {
  Mirror(1015, 0);
  Zoom(false);
}

// --- the desktop's volume control -----------------------------------------------------------

void CMainDlg::OnBnClickedMixer() {
  // The desktop's volume control on its recording tab (tab 2 of pavucontrol).
  const QString program = QStandardPaths::findExecutable(QStringLiteral("pavucontrol"));
  if (program.isEmpty() || !QProcess::startDetached(program, {QStringLiteral("--tab=2")})) {
    plat::MessageBox(u"No volume control program is installed (pavucontrol).", GetProductName(),
                     plat::MB_OK | plat::MB_ICONWARNING);
  }
}

}  // namespace vts::ui
