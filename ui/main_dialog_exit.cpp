// The recorder window's exit path, the one routine every way of closing runs: stop, treat
// a linked window, save the student's work on its own when the classroom manages this
// copy, ask about unsaved data, and close now or once the saves it started have finished.
// The window closes after saving only when every one of those saves succeeded; a save
// dialog that was cancelled keeps it open. An end request (a stop signal, the classroom's
// close) asks nothing and closes the window however its saves end.
#include <QApplication>
#include <QDialog>
#include <QThread>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/app_core.h"
#include "core/log.h"
#include "main_dialog_state.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "tracks/sound_track.h"
#include "ui/main_dialog.h"
#include "ui/track_ops.h"
#include "video/master_video.h"

namespace vts::ui {
namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// The Master file's name: the text between its path's last "/" and the name's last ".";
// empty when the name has no ".".
std::string MasterFileStem(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  return name.substr(0, dot);
}

// How the track's last save ended: its own word, and the save cleared its modified flag
// (a failed save leaves it set).
bool LastSaveOk(const CSoundTrack& track) { return track.LastSaveOk() && !track.IsModified(); }

// `base` + ".vxb", or, when that is taken, the first free `base` + "[i].vxb": an automatic
// save never replaces earlier work. Empty when no name is free.
std::string FirstFreeWorkName(const std::string& base) {
  std::string name = base + ".vxb";
  for (unsigned i = 1; Exists(name); ++i) {
    if (i > 100000) return {};
    name = base + "[" + std::to_string(i) + "].vxb";
  }
  return name;
}

}  // namespace

bool EnsureFolderOf(const std::string& pathPrefix) {
  const std::size_t slash = pathPrefix.rfind('/');
  if (slash == std::string::npos) return true;
  const std::string folder = pathPrefix.substr(0, slash + 1);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

std::string CMainDlg::StudentWorkName(const LocalTime& now, bool* fromMaster) const {
  if (fromMaster) *fromMaster = false;
  CAppCore* core = Core();
  CSoundTrack* m = MasterTrack();
  const unsigned position = core ? core->position : 0;

  // With a Master file: in the student-work folder, after the time and the lesson's name.
  const std::string stem = m ? MasterFileStem(m->SourcePath()) : std::string();
  if (!stem.empty()) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02u%02u%02u_%02u%02u_", now.year % 100, now.month, now.day,
                  now.hour, now.minute);
    std::string base = StudentWorksFolder() + stamp + stem;
    if (position == 1 || position == 2) base += "_Stud" + std::to_string(position);
    if (EnsureFolderOf(base)) {
      // Two saves of the lesson in one minute (two students at this place) both stay.
      const std::string name = FirstFreeWorkName(base);
      if (!name.empty()) {
        if (fromMaster) *fromMaster = true;
        return name;
      }
    }
  }

  // Without one (or without a usable folder for it): numbered names after the classroom's
  // target path, used as given; without a target, in the student-work folder.
  std::string target = core ? core->studentWorkTarget : std::string();
  if (target.empty()) target = StudentWorksFolder();
  if (!EnsureFolderOf(target)) return {};
  const unsigned n = position == 0 ? 1 : position;
  return FirstFreeWorkName(target + std::to_string(n) + "StudentsWorks");
}

bool CMainDlg::EndRequested() const { return Tx().ending; }

void CMainDlg::RequestEnd(bool bySignal) {
  // Menus and mouse captures end first.
  while (QWidget* popup = QApplication::activePopupWidget()) {
    popup->close();
    if (QApplication::activePopupWidget() == popup) break;
  }
  CAppCore* core = Core();
  // A linked student cannot close its window; the classroom ends the link first.
  if (!bySignal && m_linkedPeer != 0 && core && core->studentFlag != 0 && core->teacherFlag == 0) {
    OnBnClickedExit();
    return;
  }
  if (Tx().ending) return;
  Tx().ending = true;
  WriteLog(LOG_MAIN,
           bySignal ? "A stop signal ends the recorder" : "The classroom ends the recorder");
  // Whatever waits for the user goes: boxes (also those other threads wait for) and dialogs.
  // Each one's loop returns once this handler is left, and its caller goes on with the answer
  // nobody gave (No, Cancel, OK).
  plat::EndMessageBoxes();
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(w);
    if (dialog && dialog != this && dialog->isVisible()) dialog->reject();
  }
  OnBnClickedExit();
}

void CMainDlg::OnBnClickedExit() {
  const bool ending = Tx().ending;
  // While the saves of an earlier exit run, closing again would start them once more; at an
  // end request the window closes when they are done, however they end.
  if (!Tx().pendingSaves.empty()) {
    if (ending) m_closeAfterSave = 1;
    return;
  }

  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  CAppCore* core = Core();
  // Everything below reads the Master: a load still rebuilding it (a close from the classroom
  // comes at any time) ends first. Its notice then finds the thread collected.
  if (m) m->WaitForLoad();
  const bool student = core && core->studentFlag != 0;
  const bool teacher = core && core->teacherFlag != 0;

  // 1. Everything stops.
  if (IMasterVideo* v = Video()) v->Stop();
  if (m) StopTrack(*m);
  if (s) StopTrack(*s);
  QThread::msleep(50);

  // 2. A linked teacher closes at once; a linked student cannot close (the system's stop
  //    signal ends it all the same).
  if (m_linkedPeer != 0) {
    if (teacher) {
      OnOK();
      return;
    }
    if (student && !ending) return;
  }

  // 3. A student whose lesson came over the link: the received lesson file goes.
  if (m_linkResult != 0 && student) {
    if (m && !m->SourcePath().empty()) {
      const std::string path = m->SourcePath();
      Ops().Close(*m);
      plat::RemoveFile(path);
    }
    OnOK();
    return;
  }

  Tx().saveFailed = false;
  bool saveStarted = false;
  bool saveMissed = false;  // a save was wanted but did not start (cancelled or refused)
  auto started = [&](CSoundTrack* track, bool ok) {
    if (!ok) {
      saveMissed = true;
      return;
    }
    saveStarted = true;
    Tx().pendingSaves[track] = TransportState::PendingSave{};
  };

  // 4. Under the classroom, the student's work is saved on its own; at an end request,
  //    whoever runs this copy, unsaved work is saved the same way rather than asked about.
  const bool managed = core && core->classroomManaged != 0;
  const bool classroomSave = managed && student;
  // A Student track without any chunk holds no work (its save could only fail).
  if (s && s->ChunkCount() > 0 && (classroomSave || (ending && s->IsModified()))) {
    bool fromMaster = false;
    const std::string name = StudentWorkName(Now(), &fromMaster);
    if (name.empty()) {
      if (s->IsModified()) saveMissed = true;
    } else {
      if (fromMaster && m) {
        // A save of the Master still reads its file (an Open or a Save As before the end).
        Ops().WaitForSave(*m);
        Ops().Close(*m);
      }
      const bool atStake = s->IsModified();
      const bool ok = StartSave(s, name);
      if (ok) {
        saveStarted = true;
        Tx().pendingSaves[s] = TransportState::PendingSave{name, atStake};
      } else if (s->IsModified()) {
        saveMissed = true;
      }
    }
  }

  // 5./6. Without the classroom, the user is asked; nobody is at an end request.
  if (ending && !managed) {
    const bool masterChanged = m && (m->AudioModified() != 0 || m->IsModified());
    IMasterVideo* v = Video();
    if (masterChanged || (v && v->ChunkDataModified()))
      WriteLog(LOG_MAIN,
               "End request: the Master's unsaved bookmarks and texts are not saved (nobody "
               "could be asked)");
  }
  if (!managed && !ending) {
    bool mayClose = true;
    // Yes to keeping the bookmarks: the window stays until they are saved, unless the user
    // then declines; told to save the Student first, they still need saving afterwards.
    auto keepBookmarks = [&](MasterSave result) {
      if (result == MasterSave::Started) started(m, true);
      if (result == MasterSave::Kept) mayClose = false;
    };
    if (m && m->AudioModified() != 0) {
      const int answer =
          plat::MessageBox(u"Do you want to save updated audio data?", u"Master track unsaved data",
                           plat::MB_YESNOCANCEL | plat::MB_ICONQUESTION);
      if (answer == plat::IDYES) started(m, SaveTrackAs(m));
      if (answer == plat::IDCANCEL) mayClose = false;
    }
    if (m && m->IsModified() && !saveStarted) {
      const int answer = plat::MessageBox(u"Do you want to save bookmark and text information?",
                                          u"Master track unsaved data",
                                          plat::MB_YESNOCANCEL | plat::MB_ICONQUESTION);
      if (answer == plat::IDYES) keepBookmarks(MasterConfirmation());
      if (answer == plat::IDCANCEL) mayClose = false;
    }
    if (IMasterVideo* v = Video(); v && v->ChunkDataModified()) {
      const int answer =
          plat::MessageBox(u"Do you want to save bookmark and text information?", u"Unsaved data",
                           plat::MB_YESNOCANCEL | plat::MB_ICONQUESTION);
      if (answer == plat::IDYES) keepBookmarks(MasterConfirmation());
      if (answer == plat::IDCANCEL) mayClose = false;
    }
    if (s && s->IsModified()) {
      const int answer =
          plat::MessageBox(u"Do you want to save student track?", u"Student track unsaved data",
                           plat::MB_YESNOCANCEL | plat::MB_ICONQUESTION);
      if (answer == plat::IDYES) started(s, SaveTrackAs(s));
      if (answer == plat::IDCANCEL) return;
    }
    if (!mayClose) return;
  }

  // 7. Close now, or when the saves are done; never when a wanted save did not start,
  //    unless the program must end.
  if (saveMissed && !ending) {
    m_closeAfterSave = 0;
    return;
  }
  if (saveMissed)
    WriteLog(LOG_MAIN, "End request: the Student's work could not be saved; it is lost");
  if (saveStarted) {
    m_closeAfterSave = 1;
    return;
  }
  OnOK();
}

void CMainDlg::OnSaveFinished(std::intptr_t sender) {
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  CSoundTrack* track = nullptr;
  if (m && sender == reinterpret_cast<std::intptr_t>(m)) track = m;
  if (s && sender == reinterpret_cast<std::intptr_t>(s)) track = s;
  if (!track) return;
  // The thread posts this notice as its last act: it ends at once.
  Ops().WaitForSave(*track);

  auto it = Tx().pendingSaves.find(track);
  if (it == Tx().pendingSaves.end()) {
    // A save the exit path did not start, with the flag set from elsewhere: it decides.
    if (m_closeAfterSave != 0 && Tx().pendingSaves.empty()) {
      m_closeAfterSave = 0;
      if (LastSaveOk(*track) || Tx().ending) OnOK();
    }
    return;
  }
  // A failed save leaves the track modified (and the old file in place). Only a failure
  // that loses work keeps the window open.
  const bool saved = LastSaveOk(*track) && (it->second.path.empty() || Exists(it->second.path));
  const bool ok = saved || !it->second.workAtStake;
  const std::string path = it->second.path;
  Tx().pendingSaves.erase(it);
  if (!ok && Tx().ending) {
    WriteLog(LOG_MAIN, "End request: the save of the " +
                           std::string(track == s ? "Student's work" : "Master") +
                           (path.empty() ? "" : " as " + path) +
                           " failed; the recorder ends all the same");
  } else if (!ok) {
    Tx().saveFailed = true;
    m_closeAfterSave = 0;
  }
  if (!Tx().pendingSaves.empty()) return;
  const bool close = m_closeAfterSave != 0 && (!Tx().saveFailed || Tx().ending);
  m_closeAfterSave = 0;
  Tx().saveFailed = false;
  if (close) OnOK();
}

}  // namespace vts::ui
