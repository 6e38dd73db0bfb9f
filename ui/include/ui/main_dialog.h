// CMainDlg: the recorder's one window. Holds every control of the window's template
// (skinned buttons, level sliders, LED chunk number, recording light, file-name and chunk-
// text edits), paints the background with logo, version, labels and time displays through
// a back buffer, takes dropped files, and sends every command through one command table.
// GUI thread only; other threads reach it by posted events.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ui/frame_clock.h"
#include "ui/skin.h"
#include "ui/track_ops.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QGroupBox;
class QTimer;

namespace vts {
struct SoundDeviceEntry;
class CSoundTrack;
class CTransport;
enum class TransportMode : std::uint32_t;
class CAppCore;
class CTrackWaveform;
class IMasterVideo;
}  // namespace vts
namespace vts::audio {
class EndpointVolume;
}  // namespace vts::audio
namespace vts::plat {
class RawInputLibrary;
class QtBusWindow;
}  // namespace vts::plat

namespace vts::ui {

class CTransparentButton;
class CStaticLedNumber;
class CGraphicSlider;
class CRecordingLight;
class WaitWindow;
class HintWindow;

// Takes out every entry whose friendly name holds "VB-Audio Virtual Cable" (case-sensitive),
// keeping the order of the rest; the number taken out.
std::size_t RemoveVirtualCableDevices(std::vector<SoundDeviceEntry>& list);

class CMainDlg : public QDialog, public ISkinHost {
  Q_OBJECT

 public:
  // One command of the window: control id and notification code → handler.
  struct CommandEntry {
    int id;
    int code;  // BN_CLICKED, NM_RCLICK, STN_DBLCLK or EN_CHANGE
    void (CMainDlg::*handler)();
    const char* name;
  };
  // One window message → handler taking (wParam, lParam).
  struct MessageEntry {
    unsigned message;
    intptr_t (CMainDlg::*handler)(uintptr_t, intptr_t);
    const char* name;
  };

  explicit CMainDlg(QWidget* parent = nullptr);
  ~CMainDlg() override;

  static std::span<const CommandEntry> CommandTable();
  static std::span<const MessageEntry> MessageTable();
  // Every skin base name the window may ask for (template texts and the switched-to looks).
  static QStringList SkinNames();

  // Runs the handler of (id, code) when the table has one; true when it ran. This is the
  // one road of clicks, right clicks, the remote control of a linked window and tests.
  bool Dispatch(int controlId, int code);
  // The remote control's click: works on a disabled or hidden control and on command 1033,
  // which has no control. One that comes while a load rebuilds the Master waits for the
  // load's end and then runs, in the order they came.
  bool ClickControl(int controlId, bool rightClick);
  // A window message by number (the classroom bus and the tracks' notices arrive here).
  intptr_t SendMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
  // Any thread: queues the message for the GUI thread, in order per sender (a posted
  // window message). Dropped when the window is gone before it runs.
  void PostMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
  // Sees every dispatched command (id, code) before its handler runs; for tests and logs.
  void SetDispatchObserver(std::function<void(int, int)> observer);
  // Sees every window message (number, wParam, lParam) before its handler runs.
  void SetMessageObserver(std::function<void(unsigned, uintptr_t, intptr_t)> observer);

  // ISkinHost.
  const QImage* GetScrollBarCtrl(uint32_t key) const override;
  bool OnCommand(int controlId, int notifyCode) override;
  void OnNotify(int controlId, int code) override;
  void OnVScroll(int code, int position, QWidget* slider) override;
  void OnContextMenu(QWidget* window, QPoint point) override;

  // Controls by id (nullptr when the template has none).
  QWidget* Control(int controlId) const;
  CTransparentButton* Button(int controlId) const;
  CStaticLedNumber* ChunkNumber() const { return m_chunkNumber; }
  CGraphicSlider* VolumeSlider() const { return m_volumeSlider; }
  CGraphicSlider* InputSlider() const { return m_inputSlider; }
  QLineEdit* FileNameEdit() const { return m_fileNameEdit; }
  QPlainTextEdit* MasterTextEdit() const { return m_masterText; }
  QPlainTextEdit* StudentTextEdit() const { return m_studentText; }
  QWidget* RecordingLight() const;

  // A skin change: the button's text becomes `name`, it is rebound and repainted.
  bool SetButtonSkin(int controlId, const QString& name);

  // The logo: the first "Logo*.bmp" (any letter case) in `folder`, or none.
  void LoadLogo(const QString& folder);
  QSize LogoSize() const { return m_logo.size(); }
  const QString& VersionText() const { return m_versionText; }
  QSize WindowSize() const { return m_windowSize; }
  // The transport's mode (0 none to 5, as the mode table numbers them).
  uint32_t TransportMode() const;

  // Time displays: "%02u:%02u.%01u" of a time in milliseconds. The sources give the
  // current Master chunk's length and the play position; without them both read 0.
  static QString FormatTime(uint32_t ms);
  void SetTimeSources(std::function<uint32_t()> chunkLengthMs,
                      std::function<uint32_t()> playPositionMs);
  void DrawTime();
  void DrawLargeTime();
  // The texts the two displays show now.
  const QString& ShownTime() const { return m_shownTime; }
  const QString& ShownLargeTime() const { return m_shownLargeTime; }

  // Paints the whole window through the back buffer onto `target`.
  void PaintBackground(QPainter& target);

  // The dropped files (only the first local file counts).
  void OnDropFiles(const QList<QUrl>& urls);

  // Enables or disables every button but BUTCLEAR, the file-name edit, the chunk number and
  // both chunk-text edits (the classroom's link and wait states).
  void EnableControls(bool enable);

  // The chunk-text edits show the current chunks' texts (empty where a track has none).
  void RefreshTexts();
  // Sets an edit's text as the program does: no EN_CHANGE follows.
  static void SetEditText(QPlainTextEdit* edit, const QString& text);

  // The level sliders' right-click menus. An item: id (devices from 1, sources 0xFFFF0001
  // to 0xFFFF0003), text, checked; or a separator.
  struct MenuItem {
    std::uint32_t id = 0;
    QString text;
    bool checked = false;
    bool separator = false;
  };
  // Shows the items at a screen point and returns the chosen id, 0 when dismissed.
  using PopupMenuFn = std::function<std::uint32_t(const std::vector<MenuItem>&, QPoint)>;
  // Replaces the real popup menu (tests); empty: the real one.
  void SetPopupMenu(PopupMenuFn menu);
  void BuildContextMenu(QWidget* clicked, std::vector<MenuItem>& menu,
                        const std::vector<SoundDeviceEntry>& outputs,
                        const std::vector<SoundDeviceEntry>& inputs);
  static void AddMenuItem(std::vector<MenuItem>& menu, std::uint32_t* position,
                          const std::u16string& current, const std::vector<SoundDeviceEntry>& list);
  // The slider's thumb from the endpoint's volume (0 without a volume control).
  static void ShowEndpointLevel(CGraphicSlider* slider, audio::EndpointVolume* volume);

  // The URL-list dialog, run modally on the core's list; the edited list is kept by the core
  // and written to "URLList.txt" in the data folder.
  void RunUrlListDialog();
  // What a URL menu entry opens: only http and https addresses (empty otherwise).
  static QUrl UrlToOpen(const QString& text);

  // The hover hints (made by the start-up; null before it).
  HintWindow* Hints() const { return m_hintWindow; }

  // The please-wait window (made by the start-up; null before it).
  WaitWindow* PleaseWait() const { return m_waitWindow; }
  // The busy flag: while set the window shows the wait cursor.
  void SetBusy(bool busy);
  bool Busy() const { return m_busy != 0; }

  // Closing.
  void OnOK();
  void OnCancel();
  // The program is asked to end (a stop signal, or the classroom's close request, which a
  // linked student ignores as its exit path does): the boxes, dialogs and menus that are up
  // close unanswered, and the exit path runs without asking. It saves the Student's unsaved
  // work as the classroom's automatic save does, and the window closes once that save has
  // ended, also when it failed (the main log tells what was not saved).
  void RequestEnd(bool bySignal);
  bool EndRequested() const;

  // Command handlers (the table binds them).
  void OnBnClickedOpen();
  void OnBnClickedSaveWav();
  void OnBnClickedExit();
  void OnBnClickedCloseWav();
  void OnBnClickedSendWav();
  void OnBnClickedMinimize();
  void OnBnClickedMixer();
  void OnBnClickedSaveBm();
  void OnRClickSaveBm();
  void OnBnClickedInsertBm();
  void OnRClickInsertBm();
  void OnBnClickedRemoveBm();
  void OnDblClkChunkNumber();
  void OnBnClickedRec();
  void OnBnClickedPrev();
  void OnBnClickedPlay();
  void OnBnClickedNextB();
  void OnBnClickedStop();
  void OnBnClickedPause();
  void OnBnClickedRepeat();
  void OnBnClickedMasterNext();
  void OnBnClickedMasterPlay();
  void OnBnClickedMasterPrev();
  void OnBnClickedMasterStop();
  void OnBnClickedMasterPause();
  void OnBnClickedPlus();
  void OnBnClickedMinus();
  void OnBnClickedSimPlay();
  void OnBnClickedSimRec();
  void OnBnClickedSeqPlay();
  void OnBnClickedSeqRec();
  void OnBnClickedNextChunk();
  void OnBnClickedPrevChunk();
  void OnRClickSimPlay();
  void OnRClickSimRec();
  void OnRClickSeqPlay();
  void OnRClickSeqRec();
  void OnBnClickedClear();
  void OnEnChangeMasterText();
  void OnEnChangeStudentText();
  void OnBnClickedMasterErase();

  // Message handlers.
  intptr_t OnTrackNotify(uintptr_t code, intptr_t sender);
  intptr_t OnSetSliderLevel(uintptr_t wParam, intptr_t lParam);
  intptr_t OnFrameworkRequest(uintptr_t wParam, intptr_t lParam);
  intptr_t OnRemoteControl(uintptr_t wParam, intptr_t lParam);
  intptr_t OnCopyData(uintptr_t wParam, intptr_t lParam);
  // The process that sent the window message being handled (0: this process or unknown).
  void SetMessageSender(std::uint32_t processId);
  intptr_t OnSwallowMessage(uintptr_t wParam, intptr_t lParam);

 public slots:
  void accept() override;
  void reject() override;

 protected:
  // Asks whether unsaved Master data may be replaced; opens a path on the Master side.
  virtual bool ConfirmDiscard();
  virtual void OpenMedia(const QString& path);

  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

  // ---- [transport, files, exit] main_dialog_transport.cpp, main_dialog_files.cpp,
  // main_dialog_exit.cpp
 public:
  // What a file dialog is asked: open (filters of the open dialog) or save.
  struct FileDialogRequest {
    bool save = false;
    QString initialFolder;  // empty: none
    QString proposedName;   // save: the proposed full path
    QStringList filters;    // Qt filter texts, "name (patterns)"
    int filterIndex = 0;    // 0-based
    QString defaultSuffix;  // save: "vxb"
  };
  // Returns the chosen path, empty when cancelled.
  using FileDialogFn = std::function<QString(const FileDialogRequest&)>;
  struct LocalTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
  };
  void SetFileDialog(FileDialogFn fileDialog);
  // What hands an address of the URL menu to a browser; true when one took it (default:
  // the desktop's).
  void SetUrlOpener(std::function<bool(const QUrl&)> opener);
  void SetClock(std::function<LocalTime()> clock);
  void SetTrackOps(std::shared_ptr<TrackOps> ops);
  // The Master side's video (none: video files are refused).
  void SetVideo(IMasterVideo* video);
  // The tracks worked on (default: the core's).
  void SetTracks(CSoundTrack* master, CSoundTrack* student);
  // The linked peer window (0: none) that every press is mirrored to.
  void SetPeerWindow(std::uint64_t peer) { m_linkedPeer = peer; }
  std::uint64_t PeerWindow() const { return m_linkedPeer; }
  void SetLinkResult(std::uint32_t result) { m_linkResult = result; }
  bool VideoMode() const { return m_videoMode != 0; }
  bool CloseAfterSave() const { return m_closeAfterSave != 0; }

  static QStringList OpenFilters();
  static QStringList SaveFilters();
  // The proposed Save-As name: the track's path, or the student-work folder and the time;
  // with the extension "vxb".
  static std::string ProposedSaveName(const std::string& trackPath, const LocalTime& now);
  // The folder "StudentWorks" under drive c:'s root, with its trailing "/".
  static std::string StudentWorksFolder();
  // The automatic save's name of the student's work; empty when none can be made.
  // `fromMaster`: the name was made from the Master file's name.
  std::string StudentWorkName(const LocalTime& now, bool* fromMaster = nullptr) const;

  // The time displays read the Master track (or the video).
  void UseTrackTimes();
  void UpdateMasterPlayButton();
  // A playback-ended notice (code 5) from `sender`; a save-finished notice (code 3).
  void OnPlaybackEnded(std::intptr_t sender);
  void OnSaveFinished(std::intptr_t sender);
  // A track's recording or playback lost its sound device (codes 11, 12) or could not
  // start on it (code 13): the transport stops as Stop stops it and the user is told once,
  // in `text` (the sound log's words); the notices of the other streams of the same loss or
  // press find nothing running and say nothing more.
  void OnSoundDeviceGone(const std::string& text);
  // The video window went away (closed, replaced or failed).
  void OnVideoWindowGone();
  // Save-As of one track; true when a save was started.
  bool SaveTrackAs(CSoundTrack* track);

 private:
  struct TransportState;
  CSoundTrack* MasterTrack() const;
  CSoundTrack* StudentTrack() const;
  CAppCore* Core() const;
  TransportState& Tx() const;
  TrackOps& Ops() const;
  IMasterVideo* Video() const;
  bool VideoOn() const;
  void Mirror(int controlId, int flag);
  // ---- [classroom] main_dialog_classroom.cpp
  void LinkStart(std::uint64_t peer, bool teacher, bool student);
  void LinkEnd(std::uint32_t result, bool teacher, bool student);
  void PlaceTrackCursor(CSoundTrack* track, std::intptr_t position);
  std::uint32_t m_messageSenderPid = 0;
  bool m_mirrorMuted = false;  // a press from the peer is not mirrored back to it
  QTimer* m_peerWatch = nullptr;
  // ---- [classroom] end
  // The transport over the tracks worked on and, in video mode, the video as Master side.
  vts::CTransport& Transport() const;
  void SetMode(vts::TransportMode mode);
  // The dialog's own stop of a playing track: its code 5 is not an end.
  void StopTrack(CSoundTrack& track);
  void Redraw(bool large);
  void ChunkNumberJump();
  void Zoom(bool in);
  void NextChunkSteps();
  // A mode button (mirrored by the caller).
  void PressMode(vts::TransportMode mode);
  // How the Master's bookmark save went: started, declined by the user, or kept for later
  // (the Student must be saved first, or the Save As did not start).
  enum class MasterSave { Started, Declined, Kept };
  MasterSave MasterConfirmation();
  void ShowUrlMenu();
  // Opens `path` in place of the Master side's lesson (Open and a dropped file, once the
  // discard question allowed it): closes the old one, keeps the path as the last opened.
  void ReplaceMaster(const QString& path);
  // The lesson an Open chose while the Master's save ran, once that save reported back:
  // opened when the save succeeded, dropped (the old lesson stays) when it failed.
  void OpenWaitingLesson();
  void ShowBusy();
  // `keepOldVersion`: a file the save replaces stays as its " - Old" name.
  bool StartSave(CSoundTrack* track, const std::string& path, bool keepOldVersion = false);
  LocalTime Now() const;
  mutable std::shared_ptr<TransportState> m_tx;  // made on first use
                                                 // ---- [transport, files, exit] end

  // ---- [init, notify] main_dialog_init.cpp, main_dialog_notify.cpp
 public:
  struct ScreenRect {
    int left = 0, top = 0, right = 0, bottom = 0;
  };
  // What the start-up reads of the machine; every part may be replaced (tests).
  struct StartEnvironment {
    std::vector<std::string> arguments;     // the command line after the program name
    bool argumentsGiven = false;            // false: QCoreApplication's arguments
    std::vector<ScreenRect> screens;        // empty: Qt's screen list (first = primary)
    std::function<bool()> anotherCopyRuns;  // empty: a scan of the running processes
    std::string rawInputLibraryPath;        // empty: the library beside the program
  };
  void SetStartEnvironment(StartEnvironment environment);
  // The start-up of the window, once, before it is run (DoModal calls it).
  bool OnInitDialog();
  // A quit asked for during the start-up (exit status 255 for -1); the modal run then ends
  // at once. -1 / 0 when none.
  bool QuitRequested() const { return m_quitRequested; }
  int QuitCode() const { return m_quitCode; }
  // Where the window goes: centred on the screen, or for a student at position 1 or 2 on
  // its half of one screen or on its own screen of two.
  static QPoint PlaceWindow(const std::vector<ScreenRect>& screens, QSize window, bool student,
                            uint32_t position);
  // The raw-input library's screen area of position 1 or 2.
  static ScreenRect RawInputArea(const std::vector<ScreenRect>& screens, uint32_t position);
  // The file named at start, resolved (wildcards, letter case) to an existing file; empty
  // when none.
  static QString ResolveStartFile(const std::vector<std::string>& arguments);
  // Shown tooltips (control id -> text) as registered at start.
  const std::map<int, QString>& Tooltips() const { return m_tooltips; }
  QWidget* WaveformWindow(int track) const;

 private:
  struct NotifyRelay;
  void DeliverFramedNotices();  // the relay's notices that waited for the frame
  void PostQuit(int code);
  // The destructor's part: the raw-input library's unsubscription, the notices' relay.
  void ReleaseStartResources();
  void CreateWaveformWindows();
  void ShowFileName(bool videoMode);
  // A load of the Master runs on its thread or its notice has not been handled yet: the
  // window's thread leaves the Master alone meanwhile.
  bool MasterLoading() const;
  // After the Master's load ended: when it failed, one box naming the file and why, and an
  // empty file-name edit.
  void ReportFailedLoad();
  std::string m_lastLoadPath;  // the file the Master's last load was started for
  void UpdateChunkNumber();
  void DrawChunkTimes();
  // Remote presses held while the Master loaded, with whether each was to be mirrored.
  struct HeldPress {
    int controlId;
    bool rightClick;
    bool mirrorMuted;
  };
  std::vector<HeldPress> m_heldPresses;
  void RunHeldPresses();
  void SetRecordLookSkins(bool recording);
  void AddToolTip(int controlId, const QString& text);
  StartEnvironment m_startEnvironment;
  bool m_initDone = false;
  bool m_quitRequested = false;
  int m_quitCode = 0;
  std::map<int, QString> m_tooltips;
  std::vector<ScreenRect> m_monitors;  // at most 2
  std::unique_ptr<plat::RawInputLibrary> m_rawInput;
  std::unique_ptr<plat::QtBusWindow> m_busWindow;
  std::unique_ptr<CTrackWaveform> m_trackWaveform[2];
  QWidget* m_waveformWindow[2] = {nullptr, nullptr};
  NotifyRelay* m_notifyRelay = nullptr;  // handed to the tracks; outlives the window
  // The linked peer window that waveform positions go to (0: none).
  uint64_t m_linkedPeer = 0;
  // ---- [init, notify] end

 private:
  void CreateControls();
  void LoadArt();
  void BindButtons();
  void OnSysCommandClose();

  // Art and painting.
  QImage m_background;
  QImage m_backBuffer;
  QImage m_logo;
  QSize m_windowSize;
  QString m_versionText;
  QFont m_versionFont;
  QFont m_labelFont;
  QFont m_timeFont;
  QFont m_largeTimeFont;
  QIcon m_icon;
  std::function<uint32_t()> m_chunkLengthMs;
  std::function<uint32_t()> m_playPositionMs;
  QString m_shownTime, m_shownLargeTime;  // the texts the time displays show now
  std::optional<uint32_t> m_shownTimeTenths, m_shownLargeTimeTenths;  // what they were made of
  // The window's changing pictures (the strips, the time displays) are shown together, a
  // frame at a time; the clock goes after everything that uses it.
  std::unique_ptr<FrameClock> m_frameClock = std::make_unique<FrameClock>();
  std::unique_ptr<FrameClock::Client> m_noticeFrame;  // the notices that wait for a frame
  std::unique_ptr<FrameClock::Client> m_timeFrame;
  QRect m_timeDirty;  // the time displays' part still to repaint

  // State.
  QPoint m_dragAnchor{-1, -1};
  uint32_t m_videoMode = 0;
  bool m_bookmarksOff = false;
  uint32_t m_closeAfterSave = 0;
  uint32_t m_busy = 0;
  uint32_t m_linkResult = 0;
  std::function<void(int, int)> m_dispatchObserver;
  std::function<void(unsigned, uintptr_t, intptr_t)> m_messageObserver;

  // Controls.
  std::map<int, QWidget*> m_controls;
  std::map<int, CTransparentButton*> m_buttons;
  std::unique_ptr<CTransparentButton> m_masterPauseButton;  // command 1033, no control
  CStaticLedNumber* m_chunkNumber = nullptr;
  CGraphicSlider* m_volumeSlider = nullptr;
  CGraphicSlider* m_inputSlider = nullptr;
  QLineEdit* m_fileNameEdit = nullptr;
  QPlainTextEdit* m_masterText = nullptr;
  QPlainTextEdit* m_studentText = nullptr;
  CRecordingLight* m_recordingLight = nullptr;
  WaitWindow* m_waitWindow = nullptr;
  HintWindow* m_hintWindow = nullptr;
  PopupMenuFn m_popupMenu;
};

}  // namespace vts::ui
