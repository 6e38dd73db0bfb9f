// The recorder window: construction, controls of the template, art, closing, keys, mouse.
#include "ui/main_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>

#include "platform/rawinput.h"
#include "platform/window_bus_qt.h"
#include "resources/art.h"
#include "tracks/track_waveform.h"
#include "tracks/transport.h"
#include "ui/dialog_messages.h"
#include "ui/dialog_template.h"
#include "ui/gdi_font.h"
#include "ui/graphic_slider.h"
#include "ui/led_number.h"
#include "ui/own_clipboard_edit.h"
#include "ui/recording_light.h"
#include "ui/transparent_button.h"

#ifndef VTS_VERSION_MAJOR
#define VTS_VERSION_MAJOR 0
#endif
#ifndef VTS_VERSION_MINOR
#define VTS_VERSION_MINOR 0
#endif

namespace vts::ui {
namespace {

// The order in which the skinned buttons are bound (1033 has no control and stays unbound).
constexpr int kBindOrder[] = {1049, 1042, 1025, 1014, 1019, 1018, 1017, 1034, 1024, 1036, 1044,
                              1011, 1013, 1012, 1033, 1035, 1050, 1037, 1038, 1039, 1040, 1027,
                              1023, 1041, 1043, 1015, 1016, 1032, 1020, 1021, 1022, 1029, 1030};

constexpr int kMasterPauseCommand = 1033;

const char* kEditStyle =
    "QLineEdit, QPlainTextEdit {"
    " background: #f4f7f9; color: #1c2630; border: 1px solid #0e1318;"
    " border-radius: 3px; selection-background-color: #2f7fd0; }"
    "QLineEdit:read-only { background: #dde4ea; }"
    "QLineEdit:disabled, QPlainTextEdit:disabled { background: #b9c2cb; color: #56616c; }";

}  // namespace

CMainDlg::CMainDlg(QWidget* parent) : QDialog(parent) {
  InstallFontSubstitutes();
  res::InitArt();
  // A frameless top-level window of its own with a taskbar entry.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setWindowTitle(QStringLiteral("Recorder"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  QFont dialogFont(QStringLiteral("MS Shell Dlg"));
  dialogFont.setPixelSize(11);
  setFont(dialogFont);
  setAcceptDrops(true);
  // Made first: a frame hands the waiting notices over before the displays they change
  // are painted, in the same frame.
  m_noticeFrame =
      std::make_unique<FrameClock::Client>(*m_frameClock, [this] { DeliverFramedNotices(); });
  m_timeFrame = std::make_unique<FrameClock::Client>(*m_frameClock, [this] {
    update(m_timeDirty);
    m_timeDirty = QRect();
  });

  for (int size : {16, 32, 48, 256}) m_icon.addFile(res::IconPath(size), QSize(size, size));
  setWindowIcon(m_icon);

  m_masterPauseButton = std::make_unique<CTransparentButton>();
  m_masterPauseButton->setText(QStringLiteral("MBUTPAUSE"));
  CreateControls();
  LoadArt();
  BindButtons();
  LoadLogo(QCoreApplication::applicationDirPath());
  m_dragAnchor = QPoint(-1, -1);
  SetMode(vts::TransportMode::None);
  m_videoMode = 0;
}

CMainDlg::~CMainDlg() { ReleaseStartResources(); }

void CMainDlg::CreateControls() {
  for (const ControlTemplate& t : DialogTemplate()) {
    const QRect r = DuToPixels(t.x, t.y, t.w, t.h);
    QWidget* w = nullptr;
    switch (t.kind) {
      case ControlKind::Button: {
        auto* b = new CTransparentButton(this);
        b->setText(QString::fromLatin1(t.text));
        b->setGeometry(r);
        const int id = t.id;
        connect(b, &QAbstractButton::clicked, this, [this, id] { OnCommand(id, BN_CLICKED); });
        m_buttons[t.id] = b;
        w = b;
        break;
      }
      case ControlKind::Edit: {
        auto* e = new QLineEdit(this);
        e->setReadOnly(true);
        e->setFrame(true);
        e->setStyleSheet(QString::fromLatin1(kEditStyle));
        e->setGeometry(r);
        m_fileNameEdit = e;
        w = e;
        break;
      }
      case ControlKind::MultiLineEdit: {
        auto* e = new COwnClipboardEdit(this);
        e->setStyleSheet(QString::fromLatin1(kEditStyle));
        e->setGeometry(r);
        e->setTabChangesFocus(true);
        e->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        const int id = t.id;
        connect(e, &QPlainTextEdit::textChanged, this, [this, id] { OnCommand(id, EN_CHANGE); });
        (t.id == 1031 ? m_masterText : m_studentText) = e;
        w = e;
        break;
      }
      case ControlKind::Static: {
        if (t.id == 1026) {
          m_chunkNumber = new CStaticLedNumber(this);
          m_chunkNumber->SetControlId(t.id);
          m_chunkNumber->SetDigitCount(2);
          m_chunkNumber->SetNumber(0);
          w = m_chunkNumber;
        } else if (t.id == 1046 || t.id == 1047) {
          auto* s = new CGraphicSlider(this);
          s->SetControlId(t.id);
          (t.id == 1046 ? m_volumeSlider : m_inputSlider) = s;
          w = s;
        } else {
          m_recordingLight = new CRecordingLight(this);
          w = m_recordingLight;
        }
        w->setGeometry(r);
        break;
      }
      case ControlKind::GroupBox: {
        auto* g = new QGroupBox(QString::fromLatin1(t.text), this);
        g->setGeometry(r);
        w = g;
        break;
      }
    }
    w->setObjectName(t.id > 0 ? QStringLiteral("%1_%2").arg(t.id).arg(QString::fromLatin1(t.text))
                              : QString::fromLatin1(t.text));
    w->setVisible(t.visible);
    if (t.id > 0) m_controls[t.id] = w;
  }
}

void CMainDlg::LoadArt() {
  m_background = QImage(res::ArtPath(QStringLiteral("BACKGROUND")), "PNG")
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied);
  m_windowSize = m_background.isNull() ? QSize(516, 470) : m_background.size();
  m_backBuffer = QImage(m_windowSize, QImage::Format_ARGB32_Premultiplied);
  setFixedSize(m_windowSize);

  m_versionText = QStringLiteral("Ver %1.%2").arg(VTS_VERSION_MAJOR).arg(VTS_VERSION_MINOR);
  m_timeFont = MakeGdiFont(QStringLiteral("Arial"), 20, 8);
  m_largeTimeFont = MakeGdiFont(QStringLiteral("Arial"), 30, 12, 400);
  m_labelFont = MakeGdiFont(QStringLiteral("Arial"), 12, 6);
  // Crisp white: the level labels are small enough that smoothing would grey them.
  m_labelFont.setStyleStrategy(QFont::NoAntialias);
  m_versionFont = MakeGdiFont(QStringLiteral("Arial"), 18, 7);

  const QImage strip(res::ArtPath(QStringLiteral("LEDIMAGES")), "PNG");
  if (!strip.isNull()) {
    m_chunkNumber->SetStrip(strip);
    // Sized to its digits so that no digit is cut.
    m_chunkNumber->resize(m_chunkNumber->DigitWidth() * m_chunkNumber->DigitCount(),
                          m_chunkNumber->DigitHeight());
  }
  m_chunkNumber->SetBackground(&m_background);

  for (CGraphicSlider* s : {m_volumeSlider, m_inputSlider}) {
    s->LoadBitmaps();
    s->SetBackground(&m_background);
  }
  m_recordingLight->LoadBitmap(QStringLiteral("LEDLIGHT"));
}

void CMainDlg::BindButtons() {
  for (int id : kBindOrder) {
    CTransparentButton* b = id == kMasterPauseCommand ? m_masterPauseButton.get() : Button(id);
    if (b) b->LoadBitmaps(id, this);
  }
}

void CMainDlg::LoadLogo(const QString& folder) {
  m_logo = QImage();
  const QDir dir(folder);
  static const QRegularExpression pattern(QStringLiteral("^logo.*\\.bmp$"),
                                          QRegularExpression::CaseInsensitiveOption);
  const QStringList files = dir.entryList(QDir::Files | QDir::Readable, QDir::Name);
  for (const QString& name : files) {
    if (!pattern.match(name).hasMatch()) continue;
    QImage logo(dir.filePath(name));
    if (logo.isNull()) continue;
    if (BitmapHasAlpha(logo)) {
      PremultiplyBitmapAlpha(logo);
    } else {
      logo = logo.convertToFormat(QImage::Format_RGB32);
    }
    m_logo = logo;
    break;
  }
  update();
}

QWidget* CMainDlg::Control(int controlId) const {
  auto it = m_controls.find(controlId);
  return it == m_controls.end() ? nullptr : it->second;
}

CTransparentButton* CMainDlg::Button(int controlId) const {
  if (controlId == kMasterPauseCommand) return m_masterPauseButton.get();
  auto it = m_buttons.find(controlId);
  return it == m_buttons.end() ? nullptr : it->second;
}

QWidget* CMainDlg::RecordingLight() const { return m_recordingLight; }

bool CMainDlg::SetButtonSkin(int controlId, const QString& name) {
  CTransparentButton* b = Button(controlId);
  if (!b) return false;
  b->setText(name);
  const bool ok = b->LoadBitmaps(controlId, this);
  b->update();
  return ok;
}

const QImage* CMainDlg::GetScrollBarCtrl(uint32_t key) const {
  return key == kBackgroundKey && !m_background.isNull() ? &m_background : nullptr;
}

void CMainDlg::OnOK() {
  QDialog::done(QDialog::Accepted);
  // Windows the dialog owns (hint, please-wait) close with it.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != this && w->parentWidget() == this) w->close();
}

void CMainDlg::OnCancel() { OnBnClickedExit(); }

// Enter never closes the window: IDOK is swallowed.
void CMainDlg::accept() { OnCommand(IDOK, BN_CLICKED); }
void CMainDlg::reject() { OnCancel(); }

void CMainDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      OnCommand(IDOK, BN_CLICKED);
      event->accept();
      return;
    case Qt::Key_Escape:
      event->accept();
      OnCancel();
      return;
    default:
      event->ignore();
  }
}

void CMainDlg::OnSysCommandClose() { OnBnClickedExit(); }

void CMainDlg::closeEvent(QCloseEvent* event) {
  // The window manager's close runs the exit path, which decides whether to close.
  event->ignore();
  OnSysCommandClose();
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  OnContextMenu(this, event->globalPos());
}

// Dragging the caption-less window.
void CMainDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QDialog::mousePressEvent(event);
  m_dragAnchor = event->position().toPoint();
  grabMouse();
}

void CMainDlg::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() != Qt::NoButton && m_dragAnchor != QPoint(-1, -1)) {
    const QPoint at = event->position().toPoint();
    move(x() + at.x() - m_dragAnchor.x(), y() + at.y() - m_dragAnchor.y());
  }
}

void CMainDlg::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QDialog::mouseReleaseEvent(event);
  m_dragAnchor = QPoint(-1, -1);
  releaseMouse();
}

}  // namespace vts::ui
