// The launcher's dialog, laid out from its template in dialog units.
#include "launcher/launcher_dialog.h"

#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/dialog_units.h"

namespace vts::launcher {
namespace {

// 245 x 142 dialog units.
constexpr int kWidthDu = 245;
constexpr int kHeightDu = 142;

}  // namespace

QString PickFolderWithDialog(QWidget* parent, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, QString(), start, QFileDialog::ShowDirsOnly);
}

LauncherDialog::LauncherDialog(const DefaultFolders& folders, FolderPicker picker, QWidget* parent)
    // A modal frame: title and close box only.
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_picker(picker ? std::move(picker) : FolderPicker(PickFolderWithDialog)) {
  setWindowTitle(QStringLiteral("Voxtrailstudy Launcher"));
  QFont font(QStringLiteral("MS Shell Dlg"));
  font.setPointSize(8);
  setFont(font);
  setFixedSize(ui::DuToPixelsX(kWidthDu), ui::DuToPixelsY(kHeightDu));

  auto place = [](QWidget* w, int x, int y, int width, int height) {
    w->setGeometry(ui::DuToPixels(x, y, width, height));
  };
  auto edit = [&](int id, const std::string& text, int y) {
    auto* e = new QLineEdit(QString::fromStdString(text), this);
    e->setMaxLength(kMaxEditChars);
    place(e, 12, y, 168, 14);
    m_controls[id] = e;
    return e;
  };
  auto button = [&](int id, const QString& text, int x, int y) {
    auto* b = new QPushButton(text, this);
    b->setAutoDefault(false);
    place(b, x, y, 50, 14);
    m_controls[id] = b;
    return b;
  };

  place(new QLabel(QStringLiteral("Default path to open files"), this), 12, 12, 93, 8);
  m_open = edit(kIdPathOpen, folders.open, 24);
  QPushButton* selectOpen = button(kIdSelectOpen, QStringLiteral("Select"), 186, 24);
  place(new QLabel(QStringLiteral("Default path to save exercises"), this), 12, 48, 167, 8);
  m_save = edit(kIdPathSave, folders.save, 60);
  QPushButton* selectSave = button(kIdSelectSave, QStringLiteral("Select"), 186, 60);
  QPushButton* ok = button(kIdOk, QStringLiteral("OK"), 60, 114);
  ok->setDefault(true);
  QPushButton* cancel = button(kIdCancel, QStringLiteral("Cancel"), 126, 114);

  connect(selectOpen, &QPushButton::clicked, this, [this] { Select(m_open); });
  connect(selectSave, &QPushButton::clicked, this, [this] { Select(m_save); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QWidget* LauncherDialog::Control(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

DefaultFolders LauncherDialog::Folders() const {
  return {m_save->text().toStdString(), m_open->text().toStdString()};
}

void LauncherDialog::Select(QLineEdit* edit) {
  // Opened at the folder the edit names now; the choice goes into the edit at once. A path
  // the edit cannot hold whole is not taken, since a cut one would name another folder.
  const QString chosen = m_picker(this, edit->text());
  if (!chosen.isEmpty() && chosen.size() <= kMaxEditChars) edit->setText(chosen);
}

}  // namespace vts::launcher
