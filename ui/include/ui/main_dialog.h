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
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>

#include "ui/skin.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QGroupBox;

namespace vts::ui {

class CTransparentButton;
class CStaticLedNumber;
class CGraphicSlider;
class CRecordingLight;

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
  // which has no control.
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
  uint32_t TransportMode() const { return m_transportMode; }

  // Time displays: "%02u:%02u.%01u" of a time in milliseconds. The sources give the
  // current Master chunk's length and the play position; without them both read 0.
  static QString FormatTime(uint32_t ms);
  void SetTimeSources(std::function<uint32_t()> chunkLengthMs,
                      std::function<uint32_t()> playPositionMs);
  void DrawTime();
  void DrawLargeTime();

  // Paints the whole window through the back buffer onto `target`.
  void PaintBackground(QPainter& target);

  // The dropped files (only the first local file counts).
  void OnDropFiles(const QList<QUrl>& urls);

  // Closing.
  void OnOK();
  void OnCancel();

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
  QIcon m_icon;
  std::function<uint32_t()> m_chunkLengthMs;
  std::function<uint32_t()> m_playPositionMs;

  // State.
  QPoint m_dragAnchor{-1, -1};
  uint32_t m_transportMode = 0;
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
};

}  // namespace vts::ui
