// The recorder window's start-up: the command line into the core, the single copy at
// position 0, the window's place on one or two screens, the tracks' temporary folders, the
// window's bus registration and text, the raw-input library for positions 1 and 2,
// tooltips, the tracks' notices, the waveform windows, a file named at start and the
// classroom daemon's notice. GUI thread only.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "audio/endpoint.h"
#include "core/app_core.h"
#include "core/command_line.h"
#include "core/log.h"
#include "core/product_name.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/rawinput.h"
#include "platform/utf.h"
#include "platform/window_bus.h"
#include "platform/window_bus_qt.h"
#include "tracks/sound_track.h"
#include "tracks/track_waveform.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/graphic_slider.h"
#include "ui/hint_window.h"
#include "ui/main_dialog.h"
#include "ui/own_clipboard_edit.h"
#include "ui/transparent_button.h"
#include "ui/wait_window.h"
#include "ui/waveform_widget.h"
#include "video/video_manager.h"

namespace vts::ui {

// The tracks' notices reach the window through this relay. The tracks keep a plain pointer
// to it and post from their threads, so it outlives the window: the window's destructor
// only detaches it, under the relay's lock.
//
// The notices that only bring what the window shows up to date (a recorded block, a new
// play position: one per sound block) wait for the window's next frame, merged per sender,
// instead of waking the window one by one. Every other notice is posted at once, after the
// waiting ones, so the window sees them all in the order they were sent.
struct CMainDlg::NotifyRelay : public INotifyWindow {
  std::mutex lock;
  CMainDlg* dialog = nullptr;
  std::vector<std::pair<plat::WPARAM, plat::LPARAM>> framed;  // waiting for the frame

  static bool Framed(std::uint32_t message, plat::WPARAM code) {
    return message == WM_TRACKNOTIFY && (code == TRACK_NOTIFY_DATA || code == TRACK_NOTIFY_REFRESH);
  }

  void PostNotify(std::uint32_t message, plat::WPARAM wParam, plat::LPARAM lParam) override {
    std::lock_guard guard(lock);
    if (!dialog) return;
    if (Framed(message, wParam)) {
      const std::pair<plat::WPARAM, plat::LPARAM> notice(wParam, lParam);
      if (std::find(framed.begin(), framed.end(), notice) == framed.end()) framed.push_back(notice);
      dialog->m_noticeFrame->Request();
      return;
    }
    for (const auto& [code, sender] : framed) dialog->PostMessage(WM_TRACKNOTIFY, code, sender);
    framed.clear();
    dialog->PostMessage(message, wParam, lParam);
  }

  // GUI thread, on the window's frame. A notice posted meanwhile is handled after these.
  void DeliverFramed() {
    std::vector<std::pair<plat::WPARAM, plat::LPARAM>> due;
    CMainDlg* target = nullptr;
    {
      std::lock_guard guard(lock);
      due.swap(framed);
      target = dialog;
    }
    if (!target) return;
    for (const auto& [code, sender] : due) target->SendMessage(WM_TRACKNOTIFY, code, sender);
  }
};

void CMainDlg::DeliverFramedNotices() {
  if (m_notifyRelay) m_notifyRelay->DeliverFramed();
}

namespace {

constexpr const char* kDialogClassName = "#32770";
constexpr const char* kDaemonClassName = "QZ_Main_WKDaemon";
constexpr plat::WPARAM kDaemonNotifyPosition = 9;

struct Tip {
  int id;
  const char* text;
};
// In the order they are registered.
constexpr Tip kTips[] = {
    {1027, "Load file on Master track\nRight side - Load a file on Master track from Internet"},
    {1023, "Save Student track"},
    {1040, "Simultaneous recording\nRight click to next"},
    {1039, "Simultaneous playback\nRight click to next"},
    {1038, "Sequential recording\nRight click to next"},
    {1037, "Sequential playback\nRight click to next"},
    {1022, "Remove the bookmark you stopped in"},
    {1050, "Delete audio of selected range"},
    {1020, "Insert bookmark in clicked position\nRight click to toggle all bookmarks ON/OFF"},
    {1021, "Save all changes of master track"},
    {1041, "Close master file"},
    {1024, "Continuous comparison"},
    {1029, "Recording level"},
    {1047, "Input level"},
    {1046, "Volume level"},
    {1019, "During recording, insert a bookmark on the fly"},
    {1031, "Master text"},
    {1045, "Student text"},
};

std::vector<CMainDlg::ScreenRect> QtScreens() {
  std::vector<CMainDlg::ScreenRect> list;
  QList<QScreen*> screens = QGuiApplication::screens();
  // The primary screen first, as the monitor enumeration gives it.
  if (QScreen* primary = QGuiApplication::primaryScreen()) {
    screens.removeAll(primary);
    screens.prepend(primary);
  }
  for (QScreen* s : screens) {
    const QRect g = s->geometry();
    list.push_back({g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
  }
  return list;
}

// The VOXTRAILSTUDY_ROOT a process runs with (empty when none or unreadable).
std::string RootOfProcess(pid_t pid) {
  return plat::ProcessEnvironmentValue(pid, "VOXTRAILSTUDY_ROOT");
}

// Running copies of the recorder program (named after the variant), this one included. A
// relocated root is a machine of its own: only copies with the same root count, so that
// separate roots (tests, parallel set-ups) never end each other.
std::size_t RecorderCopies() {
  const std::string name = GetProductNameUtf8();
  const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  if (self.toStdString() != name) return 1;  // a host of the window that is no copy
  const char* rootValue = std::getenv("VOXTRAILSTUDY_ROOT");
  const std::string root = rootValue ? rootValue : "";
  std::size_t count = 1;
  for (pid_t pid : plat::FindProcessesByExeName(name))
    if (RootOfProcess(pid) == root) ++count;
  return count;
}

}  // namespace

void CMainDlg::SetStartEnvironment(StartEnvironment environment) {
  m_startEnvironment = std::move(environment);
}

QPoint CMainDlg::PlaceWindow(const std::vector<ScreenRect>& screens, QSize window, bool student,
                             uint32_t position) {
  const ScreenRect screen =
      screens.empty() ? ScreenRect{0, 0, window.width(), window.height()} : screens.front();
  const int screenWidth = screen.right - screen.left;
  const int screenHeight = screen.bottom - screen.top;
  int x = (screenWidth - window.width()) / 2;
  int y = (screenHeight - window.height()) / 2;
  if (student && (position == 1 || position == 2)) {
    if (screens.size() >= 2) {
      const ScreenRect& m = screens[2 - position];
      x = m.left + (m.right - m.left - window.width()) / 2;
      y = m.top + (m.bottom - m.top - window.height()) / 2;
    } else {
      const int half = screenWidth / 2;
      x = position == 1 ? half + (half - window.width()) / 2 : (half - window.width()) / 2;
    }
  }
  return {x, y};
}

CMainDlg::ScreenRect CMainDlg::RawInputArea(const std::vector<ScreenRect>& screens,
                                            uint32_t position) {
  if (screens.size() >= 2 && (position == 1 || position == 2)) return screens[2 - position];
  const ScreenRect screen = screens.empty() ? ScreenRect{} : screens.front();
  const int width = screen.right - screen.left;
  const int half = width / 2;
  const int p = static_cast<int>(position);
  return {(2 - p) * half, 0, (3 - p) * half, screen.bottom - screen.top};
}

QString CMainDlg::ResolveStartFile(const std::vector<std::string>& arguments) {
  const std::optional<std::string> named = FileNamedAtStart(arguments);
  if (!named) return {};
  const QString path = QString::fromStdString(*named);
  const QFileInfo info(path);
  // The name part may hold wildcards and another letter case; the folder is taken as given.
  const QDir folder = info.dir();
  const QStringList found =
      folder.entryList({info.fileName()}, QDir::Files | QDir::Readable, QDir::Name);
  if (found.isEmpty()) return {};
  const QString resolved = folder.filePath(found.front());
  if (plat::Utf8ToUtf16(resolved.toStdString()).size() >= kMaxStartFilePathUnits) return {};
  return resolved;
}

void CMainDlg::PostQuit(int code) {
  m_quitRequested = true;
  m_quitCode = code;
  WriteLog(LOG_MAIN, "Start-up ends the program (" + std::to_string(code) + ")");
  // Ends the modal run as soon as its loop reads it; DoModal does not start one then.
  QTimer::singleShot(0, this, [this] { QDialog::done(QDialog::Rejected); });
}

void CMainDlg::AddToolTip(int controlId, const QString& text) {
  QWidget* w = Control(controlId);
  // Hints only for controls that are shown.
  if (!w || w->isHidden() || !m_hintWindow) return;
  // The control's window rectangle relative to the window's top-left corner.
  const QRect area(w->mapTo(this, QPoint(0, 0)), w->size());
  m_hintWindow->AddEntry(area, text, w);
  m_tooltips[controlId] = text;
}

QWidget* CMainDlg::WaveformWindow(int track) const {
  return track == 0 || track == 1 ? m_waveformWindow[track] : nullptr;
}

void CMainDlg::CreateWaveformWindows() {
  CAppCore* core = g_pAppCore;
  if (!core) return;
  struct Place {
    CSoundTrack* track;
    int x, y, width;
  };
  const Place places[2] = {{MasterTrack(), 12, 125, 490}, {StudentTrack(), 88, 279, 342}};
  for (int i = 0; i < 2; ++i) {
    const Place& p = places[i];
    if (!p.track) continue;
    if (!m_trackWaveform[i]) {
      m_trackWaveform[i] = std::make_unique<CTrackWaveform>(*p.track);
      m_trackWaveform[i]->SetStripRect(p.x, p.y, static_cast<uint32_t>(p.width));
      if (!m_background.isNull()) m_trackWaveform[i]->Strip().SetBackground(m_background);
      auto* widget = new WaveformWidget(*m_trackWaveform[i], this, m_frameClock.get());
      widget->move(p.x, p.y);
      m_waveformWindow[i] = widget;
    }
    m_waveformWindow[i]->show();
  }
  for (int i = 0; i < 2; ++i)
    if (places[i].track) places[i].track->RedrawWaveform(0, 0);
}

bool CMainDlg::OnInitDialog() {
  if (m_initDone) return true;
  m_initDone = true;
  CAppCore* core = g_pAppCore;
  setWindowTitle(QStringLiteral("Recorder"));
  m_dragAnchor = QPoint(-1, -1);
  m_videoMode = 0;
  SetMode(vts::TransportMode::None);

  const std::vector<ScreenRect> screens =
      m_startEnvironment.screens.empty() ? QtScreens() : m_startEnvironment.screens;
  std::vector<std::string> arguments = m_startEnvironment.arguments;
  if (!m_startEnvironment.argumentsGiven) {
    const QStringList args = QCoreApplication::arguments();
    std::vector<std::string> utf8;
    for (const QString& a : args) utf8.push_back(a.toStdString());
    std::vector<const char*> argv;
    for (const std::string& a : utf8) argv.push_back(a.c_str());
    arguments = CommandLineArguments(static_cast<int>(argv.size()), argv.data());
  }

  // The command line decides role, position and devices; stored device names are checked
  // against the Master engine's endpoints (an unknown one becomes the default endpoint).
  if (core) ParseCommandLine(*core, arguments);
  const uint32_t position = core ? core->position : 0;
  const bool student = core && core->studentFlag;

  // The level sliders show the endpoints' own volumes (0 without a volume control).
  if (CSoundTrack* m = core ? MasterTrack() : nullptr) {
    ShowEndpointLevel(m_volumeSlider, m->OutputVolume());
    ShowEndpointLevel(m_inputSlider, m->InputVolume());
  }

  // A second copy at position 0 ends at once, before it is shown.
  const bool otherCopy = m_startEnvironment.anotherCopyRuns ? m_startEnvironment.anotherCopyRuns()
                                                            : RecorderCopies() > 1;
  if (otherCopy && position == 0) {
    PostQuit(-1);
    return true;
  }

  if (QWidget* send = Control(1043)) send->setVisible(core && core->teacherFlag);

  m_monitors.assign(screens.begin(), screens.begin() + std::min<std::size_t>(2, screens.size()));
  const QPoint at = PlaceWindow(m_monitors, m_windowSize, student, position);

  if (core) {
    const std::string n = std::to_string(position);
    // The position's folders are emptied too: a killed run of this position left its files there.
    if (core->masterTrack) {
      core->masterTrack->ClearTempSoundFolder();
      core->masterTrack->GetTempSoundFolder("Master" + n);
      core->masterTrack->ClearTempSoundFolder();
    }
    if (core->studentTrack) {
      core->studentTrack->ClearTempSoundFolder();
      core->studentTrack->GetTempSoundFolder("Student" + n);
      core->studentTrack->ClearTempSoundFolder();
    }
  }

  // Reachable by the classroom and a peer: messages arrive on this thread, in order.
  m_busWindow = std::make_unique<plat::QtBusWindow>(
      kDialogClassName, u"Recorder", [this](const plat::WindowMessage& m) -> plat::LRESULT {
        SetMessageSender(m.senderProcessId);
        const plat::LRESULT result = SendMessage(m.message, m.wParam, m.lParam);
        SetMessageSender(0);
        return result;
      });
  if (!m_busWindow->IsOpen())
    WriteLog(LOG_MAIN, "The window is not reachable by the classroom: " + m_busWindow->Error());

  if (position != 0) {
    const std::u16string text =
        u"_" + plat::Utf8ToUtf16(std::to_string(position)) + u"VoxtrailstudyUser";
    setWindowTitle(QString::fromStdU16String(text));
    if (m_busWindow->Window()) m_busWindow->Window()->SetText(text);

    const ScreenRect area = RawInputArea(m_monitors, position);
    m_rawInput = std::make_unique<plat::RawInputLibrary>();
    const std::string libraryPath = m_startEnvironment.rawInputLibraryPath.empty()
                                        ? plat::DefaultRawInputLibraryPath()
                                        : m_startEnvironment.rawInputLibraryPath;
    std::string detail;
    switch (m_rawInput->Load(libraryPath, &detail)) {
      case plat::RawInputLibrary::Status::Loaded:
        m_rawInput->Select(m_busWindow->Id(), static_cast<uint32_t>(plat::CurrentThreadId()),
                           plat::CurrentProcessId(), position,
                           plat::RawInputRect{area.left, area.top, area.right, area.bottom});
        break;
      case plat::RawInputLibrary::Status::SelectMissing:
        WriteLog(LOG_MAIN, "Raw-input library: " + detail);
        plat::MessageBox(u"Error initializing RawInput.dll", GetProductName(),
                         plat::MB_OK | plat::MB_ICONERROR);
        PostQuit(-1);
        break;
      default:
        WriteLog(LOG_MAIN, "Raw-input library: " + detail);
        plat::MessageBox(u"Error loading RawInput.dll", GetProductName(),
                         plat::MB_OK | plat::MB_ICONERROR);
        PostQuit(-1);
        break;
    }
  }

  // In a classroom position only text cut or copied inside the program is pasted.
  if (position == 1 || position == 2) {
    for (QPlainTextEdit* e : {m_masterText, m_studentText})
      if (auto* own = qobject_cast<COwnClipboardEdit*>(e)) own->SetPrivateClipboard(true);
  }

  // Caption-less, at its place.
  setGeometry(at.x(), at.y(), m_windowSize.width(), m_windowSize.height());

  // The please-wait window: made centred on the screen, then kept 300 x 80 on the window.
  if (!m_waitWindow) {
    const ScreenRect s = screens.empty() ? ScreenRect{} : screens.front();
    m_waitWindow = new WaitWindow(this, QRect(s.left, s.top, s.right - s.left, s.bottom - s.top));
    QFont waitFont;
    waitFont.setPixelSize(11);
    waitFont.setStyleStrategy(QFont::PreferAntialias);
    m_waitWindow->SetTextFont(waitFont);
    m_waitWindow->SetPlace(QRect(at.x() + (m_windowSize.width() - 300) / 2,
                                 at.y() + (m_windowSize.height() - 80) / 2, 300, 80));
  }

  if (!m_hintWindow) m_hintWindow = new HintWindow(this);
  for (const Tip& t : kTips) AddToolTip(t.id, QString::fromUtf8(t.text));

  // The tracks' notices come to this window.
  if (core) {
    m_notifyRelay = new NotifyRelay;
    m_notifyRelay->dialog = this;
    for (CSoundTrack* track : {MasterTrack(), StudentTrack()})
      if (track) track->SetNotifyTarget(NotifyTarget{0, m_notifyRelay, WM_TRACKNOTIFY});
    if (core->videoManager) {
      core->videoManager->notifyTarget = NotifyTarget{0, m_notifyRelay, WM_TRACKNOTIFY};
      SetVideo(core->videoManager);
    }
  }

  bool fileOpened = false;
  const QString startFile = ResolveStartFile(arguments);
  if (!startFile.isEmpty()) {
    if (core && student) core->classroomManaged = 1;
    OpenMedia(startFile);
    fileOpened = true;
  }

  if (!fileOpened && core && student && !core->positionGiven) {
    if (plat::WindowId daemon = plat::FindWindow(kDaemonClassName, u"")) {
      core->classroomManaged = 1;
      if (!plat::PostMessage(daemon, WM_DAEMONNOTIFY, kDaemonNotifyPosition,
                             static_cast<plat::LPARAM>(position)))
        WriteLog(LOG_MAIN, "The classroom daemon did not take the position notice");
    }
  }

  const bool managed = core && student && core->classroomManaged;
  for (int id : {1023, 1021, 1027, 1049})
    if (QWidget* w = Control(id)) w->setVisible(!managed);

  CreateWaveformWindows();
  update();
  return true;
}

void CMainDlg::ReleaseStartResources() {
  if (m_rawInput && m_rawInput->GetStatus() == plat::RawInputLibrary::Status::Loaded) {
    const uint32_t position = g_pAppCore ? g_pAppCore->position : 0;
    m_rawInput->Unsubscribe(position);
    m_rawInput->Deinitialize();
  }
  if (m_notifyRelay) {
    std::lock_guard guard(m_notifyRelay->lock);
    m_notifyRelay->dialog = nullptr;
  }
  if (g_pAppCore) {
    for (CSoundTrack* track : {MasterTrack(), StudentTrack()}) {
      if (track && track->GetNotifyTarget().window == m_notifyRelay) track->SetNotifyTarget({});
    }
  }
  // The widgets go before the strips they show; the strips' drawers before the tracks.
  for (QWidget*& w : m_waveformWindow) {
    delete w;
    w = nullptr;
  }
  for (auto& w : m_trackWaveform) w.reset();
}

}  // namespace vts::ui
