// The recorder window's files: opening a lesson on the Master side (an audio file on the
// Master track or a video), closing it, Save-As of either track, the chunk list and texts
// beside the Master's media, the URL part of the open button, and the time sources.
// Loading and saving run on the tracks' own threads; the window stays disabled with
// "Please wait..." until their notice.

#include <QCursor>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <utility>

#include "core/app_core.h"
#include "core/data_folder.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/product_name.h"
#include "core/settings_files.h"
#include "main_dialog_state.h"
#include "platform/files.h"
#include "platform/known_folders.h"
#include "platform/message_box.h"
#include "tracks/chunk_info.h"
#include "tracks/sound_track.h"
#include "ui/dialog_messages.h"
#include "ui/main_dialog.h"
#include "ui/track_ops.h"
#include "ui/transparent_button.h"
#include "ui/url_list_dialog.h"
#include "video/master_video.h"

namespace vts::ui {
namespace {

// The right part of the open button (from this many pixels on) opens the URL menu.
constexpr int kUrlPartOffset = 68;
const char* const kStartPage = "about:blank";

bool IsVideoExtension(std::string ext) {
  if (ext.size() > 15) ext.resize(15);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext == "AVI" || ext == "MPG" || ext == "MPEG" || ext == "MP4" || ext == "MKV";
}

// How writing one side file went.
enum class SideWrite { Written, NotCreated, Failed };

// Writes the whole file or nothing: beside it first, renamed over it when complete.
SideWrite WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  plat::FileReplacement file;
  if (!file.Open(path, 0644)) return SideWrite::NotCreated;
  if (file.Write(bytes.data(), bytes.size()) && file.Commit()) return SideWrite::Written;
  return SideWrite::Failed;  // the old file stays, no part is left
}

// The path with everything from its file name's last "." replaced by `dotExt`.
std::string WithSideExtension(const std::string& path, const char* dotExt) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(0, dot) + dotExt;
}

QString DefaultFileDialog(QWidget* owner, const CMainDlg::FileDialogRequest& request) {
  QFileDialog dialog(owner);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setNameFilters(request.filters);
  if (request.filterIndex >= 0 && request.filterIndex < request.filters.size())
    dialog.selectNameFilter(request.filters[request.filterIndex]);
  if (!request.initialFolder.isEmpty()) dialog.setDirectory(request.initialFolder);
  if (request.save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    // Asking before replacing is not needed: an existing file is kept as " - Old".
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.proposedName.isEmpty()) dialog.selectFile(request.proposedName);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

}  // namespace

// --- injectable pieces --------------------------------------------------------------------

void CMainDlg::SetFileDialog(FileDialogFn fileDialog) { Tx().fileDialog = std::move(fileDialog); }
void CMainDlg::SetClock(std::function<LocalTime()> clock) { Tx().clock = std::move(clock); }
void CMainDlg::SetUrlOpener(std::function<bool(const QUrl&)> opener) {
  Tx().urlOpener = std::move(opener);
}

CMainDlg::LocalTime CMainDlg::Now() const {
  if (Tx().clock) return Tx().clock();
  const QDateTime now = QDateTime::currentDateTime();
  return LocalTime{
      static_cast<unsigned>(now.date().year()), static_cast<unsigned>(now.date().month()),
      static_cast<unsigned>(now.date().day()), static_cast<unsigned>(now.time().hour()),
      static_cast<unsigned>(now.time().minute())};
}

QStringList CMainDlg::OpenFilters() {
  return {QStringLiteral("All supported files (*.wav *.mp3 *.vxb *.avi *.mpg *.mpeg *.mp4 *.mkv)"),
          QStringLiteral("All sound files(WAV, MP3, VXB) (*.wav *.mp3 *.vxb)"),
          QStringLiteral("All video files (*.avi *.mpg *.mpeg *.mp4 *.mkv)")};
}

QStringList CMainDlg::SaveFilters() {
  return {QStringLiteral("Standard MP3 files (*.mp3)"), QStringLiteral("Windows WAV files (*.wav)"),
          QStringLiteral("Voxtrailstudy Package VXB File (*.vxb)"),
          QStringLiteral("All sound files (*.mp3 *.wav *.vxb)"), QStringLiteral("All files (*)")};
}

std::string CMainDlg::StudentWorksFolder() { return plat::DriveCRoot() + "/StudentWorks/"; }

std::string CMainDlg::ProposedSaveName(const std::string& trackPath, const LocalTime& now) {
  std::string name = trackPath;
  if (name.empty()) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02u%02u%02u_%02u%02u_", now.year % 100, now.month, now.day,
                  now.hour, now.minute);
    name = StudentWorksFolder() + stamp;
  }
  ReplaceExtension(name, "vxb");
  return name;
}

// --- time displays ------------------------------------------------------------------------

void CMainDlg::UseTrackTimes() {
  SetTimeSources(
      [this]() -> uint32_t {
        if (VideoOn()) return Video()->CurrentChunkLengthMs();
        CSoundTrack* m = MasterTrack();
        // A load rebuilds the format and the chunk list on its own thread: nothing to show.
        if (!m || m->LoadPending()) return 0;
        std::lock_guard lock(m->BufferLock());
        const CChunkInfo* chunk = m->CurrentChunk();
        const std::uint32_t rate = m->Format().samplesPerSec;
        if (!chunk || rate == 0) return 0;
        return static_cast<uint32_t>(std::uint64_t(chunk->length) * 1000u / rate);
      },
      [this]() -> uint32_t {
        if (VideoOn()) return Video()->PlayOffsetMs();
        CSoundTrack* m = MasterTrack();
        if (!m || m->LoadPending() || m->Format().samplesPerSec == 0) return 0;
        return static_cast<uint32_t>(std::uint64_t(m->PlayFrame()) * 10u /
                                     m->Format().samplesPerSec * 100u);
      });
}

// --- opening ------------------------------------------------------------------------------

void CMainDlg::ShowBusy() {
  setEnabled(false);
  SetEditText(MasterTextEdit(), QString());
  if (FileNameEdit()) FileNameEdit()->setText(QStringLiteral("Please wait..."));
}

bool CMainDlg::ConfirmDiscard() {
  CSoundTrack* m = MasterTrack();
  if (!m) return true;
  if (m->AudioModified() != 0 &&
      plat::MessageBox(u"Do you want to save updated audio data?", u"Unsaved data",
                       plat::MB_YESNO | plat::MB_ICONQUESTION) == plat::IDYES) {
    SaveTrackAs(m);
  }
  if (!m->IsModified()) return true;
  return plat::MessageBox(u"All unsaved data will be lost. Continue?", u"Unsaved data",
                          plat::MB_YESNO | plat::MB_ICONQUESTION) == plat::IDYES;
}

void CMainDlg::OnBnClickedOpen() {
  OnCommand(1035, BN_CLICKED);
  OnCommand(1036, BN_CLICKED);
  if (CTransparentButton* button = Button(1027)) {
    const QPoint at = button->mapFromGlobal(QCursor::pos());
    if (button->rect().contains(at) && at.x() >= kUrlPartOffset) {
      ShowUrlMenu();
      return;
    }
  }
  if (!ConfirmDiscard()) return;

  FileDialogRequest request;
  request.filters = OpenFilters();
  request.filterIndex = 0;
  if (CAppCore* core = Core()) {
    if (auto last = GetLastOpenPath(core->settings.pathsDocument)) {
      const QString lastPath = QString::fromStdU16String(*last);
      const QFileInfo info(lastPath);
      request.initialFolder = info.isDir() ? lastPath : info.absolutePath();
    }
  }
  // Nobody picks a file once the program is ending.
  if (Tx().ending) return;
  const QString chosen =
      Tx().fileDialog ? Tx().fileDialog(request) : DefaultFileDialog(this, request);
  if (chosen.isEmpty()) return;
  ReplaceMaster(chosen);
}

void CMainDlg::ReplaceMaster(const QString& path) {
  if (CSoundTrack* m = MasterTrack()) {
    // The old lesson's save finishes before it is closed. The window's thread does not wait
    // for it: the save's notice opens the new lesson.
    if (Ops().SaveRunning(*m)) {
      Tx().openAfterSave = path.toStdString();
      ShowBusy();
      return;
    }
    Ops().Close(*m);
  }
  if (IMasterVideo* v = Video()) v->CloseWindow();
  OnVideoWindowGone();
  if (CAppCore* core = Core()) SetLastOpenPath(core->settings.pathsDocument, path.toStdU16String());
  OpenMedia(path);
  // The Student's texts belonged to the old lesson: they are not saved with the new one.
  if (CSoundTrack* s = StudentTrack()) s->SetTextsPresent(false);
}

void CMainDlg::OpenWaitingLesson() {
  if (Tx().openAfterSave.empty()) return;
  const QString path = QString::fromStdString(std::exchange(Tx().openAfterSave, std::string()));
  CSoundTrack* m = MasterTrack();
  if (!m || Tx().ending) return;
  if (!m->LastSaveOk()) {
    // Its own box told why; the lesson and its changes stay.
    WriteLog(LOG_MAIN, "Open: the lesson's save failed, so " + path.toStdString() +
                           " is not opened and the lesson stays");
    return;
  }
  ReplaceMaster(path);
}

void CMainDlg::OpenMedia(const QString& pathText) {
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return;
  if (!m_chunkLengthMs) UseTrackTimes();
  Ops().SelectChunk(*s, 0);
  const std::string path = pathText.toStdString();
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return;

  if (IsVideoExtension(path.substr(dot + 1))) {
    // The Master track's lesson is gone: its chunks and its strip must not stay under the
    // video, as closing the lesson leaves none.
    Ops().WaitForSave(*m);
    Ops().FreeChunks(*m);
    Ops().RedrawWaveform(*m, 0, 0);
    IMasterVideo* v = Video();
    if (!v) {
      OnVideoWindowGone();
      plat::MessageBox(u"Video files cannot be played by this version of the program.",
                       GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
      return;
    }
    m_videoMode = 1;
    if (!v->Open(path, this)) OnVideoWindowGone();
    return;
  }
  m_videoMode = 0;
  Ops().WaitForSave(*m);
  m_lastLoadPath = path;
  if (!Ops().StartLoad(*m, path)) {
    plat::MessageBox(u"Files cannot be loaded by this version of the program.", GetProductName(),
                     plat::MB_OK | plat::MB_ICONERROR);
    return;
  }
  ShowBusy();
}

void CMainDlg::ShowUrlMenu() {
  QMenu menu(this);
  menu.addAction(QStringLiteral("Blank page"))->setData(1);
  std::vector<QString> urls;
  if (CAppCore* core = Core(); core && core->settings.urlList && !core->settings.urlList->empty()) {
    menu.addSeparator();
    const QStringList lines =
        QString::fromStdU16String(*core->settings.urlList).split(QStringLiteral("\r\n"));
    for (int i = 0; i + 1 < lines.size(); i += 2) {
      menu.addAction(lines[i])->setData(static_cast<int>(urls.size()) + 2);
      urls.push_back(lines[i + 1]);
    }
  }
  menu.addSeparator();
  QAction* manage = menu.addAction(QStringLiteral("Manage URL List..."));
  manage->setData(65535);
  QAction* chosen = menu.exec(QCursor::pos());
  if (!chosen) return;
  const int id = chosen->data().toInt();
  // Without a browser (none installed, none set as the desktop's) nothing would happen at
  // all: the user is told.
  auto open = [this](const QUrl& url) {
    if (Tx().urlOpener ? Tx().urlOpener(url) : QDesktopServices::openUrl(url)) return;
    const QString address = url.toString();
    WriteLog(LOG_MAIN, "URL list: no web browser took " + address.toStdString());
    plat::MessageBox(
        QStringLiteral("No web browser could be started to open %1.").arg(address).toStdU16String(),
        GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
  };
  if (id == 1) {
    open(QUrl(QString::fromLatin1(kStartPage)));
  } else if (id >= 2 && id - 2 < static_cast<int>(urls.size())) {
    const QUrl url = UrlToOpen(urls[id - 2]);
    if (url.isValid()) {
      open(url);
    } else {
      WriteLog(LOG_MAIN, "URL list: not a web address, not opened: " + urls[id - 2].toStdString());
    }
  } else if (id == 65535) {
    RunUrlListDialog();
  }
}

QUrl CMainDlg::UrlToOpen(const QString& text) {
  // The list is plain text anyone may edit: only web addresses are handed on.
  const QUrl url = QUrl::fromUserInput(text.trimmed());
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
    return {};
  return url;
}

void CMainDlg::RunUrlListDialog() {
  CAppCore* core = Core();
  const std::u16string text = core && core->settings.urlList ? *core->settings.urlList : u"";
  CUrlListDlg dialog(text, this);
  dialog.exec();
  if (!core) return;
  core->settings.urlList = dialog.Text();
  const std::string path = GetDataFolder() + "/" + kUrlListFileName;
  if (!WriteUrlList(dialog.Text(), path))
    WriteLog(LOG_MAIN, "URL list: " + path + " could not be written");
}

// --- saving -------------------------------------------------------------------------------

bool CMainDlg::StartSave(CSoundTrack* track, const std::string& path, bool keepOldVersion) {
  if (!Ops().CanLoadAndSave()) {
    plat::MessageBox(u"Files cannot be saved by this version of the program.", GetProductName(),
                     plat::MB_OK | plat::MB_ICONERROR);
    return false;
  }
  if (!Ops().SaveAsync(*track, path, keepOldVersion)) return false;
  ShowBusy();
  return true;
}

bool CMainDlg::SaveTrackAs(CSoundTrack* track) {
  if (!track || Tx().ending) return false;
  FileDialogRequest request;
  request.save = true;
  // The folder is made first, so that the name proposed in it can be taken as it stands.
  EnsureFolderOf(StudentWorksFolder());
  request.proposedName =
      QFileInfo(QString::fromStdString(ProposedSaveName(track->SourcePath(), Now())))
          .absoluteFilePath();
  request.initialFolder = QString::fromStdString(StudentWorksFolder());
  request.filters = SaveFilters();
  request.filterIndex = 2;
  request.defaultSuffix = QStringLiteral("vxb");
  const QString chosenText =
      Tx().fileDialog ? Tx().fileDialog(request) : DefaultFileDialog(this, request);
  if (chosenText.isEmpty()) return false;
  std::string chosen = chosenText.toStdString();
  if (GetExtensionOfPath(chosen).empty()) chosen += ".vxb";
  // A file already there becomes " - Old" only once the new one is complete, so a kill
  // half-way leaves a whole file under the chosen name.
  return StartSave(track, chosen, true);
}

void CMainDlg::OnBnClickedSaveWav() { SaveTrackAs(StudentTrack()); }

CMainDlg::MasterSave CMainDlg::MasterConfirmation() {
  CSoundTrack* m = MasterTrack();
  CSoundTrack* s = StudentTrack();
  if (!m || !s) return MasterSave::Declined;
  if (s->IsModified()) {
    plat::MessageBox(u"Use blue save button to save student track first", u"Attention",
                     plat::MB_OK | plat::MB_ICONWARNING);
    return MasterSave::Kept;
  }
  if (plat::MessageBox(u"Do you want to save all changes of the master track?", u"Confirm",
                       plat::MB_YESNOCANCEL | plat::MB_ICONQUESTION) != plat::IDYES)
    return MasterSave::Declined;
  return SaveTrackAs(m) ? MasterSave::Started : MasterSave::Kept;
}

void CMainDlg::OnBnClickedSaveBm() { MasterConfirmation(); }

void CMainDlg::OnRClickSaveBm() {
  if (plat::MessageBox(u"Are you sure to save bookmarks and text in external files cif and txt?",
                       GetProductName(), plat::MB_YESNO | plat::MB_ICONQUESTION) != plat::IDYES)
    return;
  // What could not be written is told at the end; a text file that cannot even be created
  // is skipped without a word.
  std::vector<std::string> failed;
  auto writeText = [&failed](const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (WriteWholeFile(path, bytes) == SideWrite::Failed) failed.push_back(path);
  };
  if (VideoOn()) {
    IMasterVideo* v = Video();
    v->WriteChunkFile();
    if (v->TextsLoaded()) {
      const std::string txt = WithSideExtension(v->MediaPath(), ".txt");
      if (!txt.empty()) writeText(txt, v->BuildChunkTexts());
    }
  } else {
    CSoundTrack* m = MasterTrack();
    if (!m || !m->HasSourceFile()) return;
    const std::string& path = m->SourcePath();
    const std::string cif = WithSideExtension(path, ".cif");
    if (cif.empty()) return;
    std::string txt = path;
    ReplaceExtension(txt, "txt");
    if (m->IsPackage()) {
      // A package's side files live in it: written into its folder, then packed again.
      if (m->TempFolderPath().empty()) return;
      const std::string innerCif = m->TempFolderPath() + GetFileNameOfPath(cif);
      if (!Ops().WriteChunkList(*m, innerCif)) failed.push_back(innerCif);
      if (m->TextsPresent())
        writeText(m->TempFolderPath() + GetFileNameOfPath(txt), Ops().BuildChunkTexts(*m));
      std::string package = path;
      ReplaceExtension(package, "vxb");
      if (!Ops().BuildPackage(*m, package)) failed.push_back(package);
    } else if (!Ops().WriteChunkList(*m, cif)) {
      failed.push_back(cif);
    }
    if (m->TextsPresent()) writeText(txt, Ops().BuildChunkTexts(*m));
  }
  if (failed.empty()) return;
  QString text = QStringLiteral("Could not write:");
  for (const std::string& f : failed) text += QStringLiteral("\n") + QString::fromStdString(f);
  plat::MessageBox(text.toStdU16String(), GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
}

void CMainDlg::ReportFailedLoad() {
  CSoundTrack* m = MasterTrack();
  if (!m || m->HasSourceFile() || m->LoadError().empty()) return;
  if (FileNameEdit()) FileNameEdit()->clear();
  const std::string& path = m_lastLoadPath;
  const QString name = QString::fromStdString(path.substr(path.rfind('/') + 1));
  const QString why = QString::fromStdString(m->LoadError());
  const QString text = name.isEmpty()
                           ? QStringLiteral("The file could not be opened: %1.").arg(why)
                           : QStringLiteral("\"%1\" could not be opened: %2.").arg(name, why);
  plat::MessageBox(text.toStdU16String(), GetProductName(), plat::MB_OK | plat::MB_ICONWARNING);
}

void CMainDlg::OnBnClickedCloseWav() {
  SetEditText(MasterTextEdit(), QString());
  if (VideoOn()) {
    Video()->CloseWindow();
    OnVideoWindowGone();
  } else if (CSoundTrack* m = MasterTrack()) {
    Ops().WaitForSave(*m);
    Ops().FreeChunks(*m);
    Ops().Close(*m);
    Ops().RedrawWaveform(*m, 0, 0);
  }
  if (FileNameEdit()) FileNameEdit()->clear();
}

}  // namespace vts::ui
