// The URL-list dialog.
#include "ui/url_list_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "ui/dialog_template.h"

namespace vts::ui {
namespace {

const QString kSeparator = QStringLiteral(" - ");

struct ButtonPlace {
  int id;
  const char* text;
  int x, y, w, h;
};
constexpr ButtonPlace kButtons[] = {
    {1034, "Add new", 6, 54, 50, 14},  {1035, "Update selected", 66, 54, 72, 14},
    {1036, "Remove", 150, 54, 50, 14}, {1037, "Clear list", 210, 54, 50, 14},
    {1038, "Up", 270, 54, 30, 14},     {1039, "Down", 312, 54, 30, 14},
};

QString Cut(QString entry) {
  if (entry.size() > CUrlListDlg::kMaxEntryChars) {
    int keep = CUrlListDlg::kMaxEntryChars;
    if (entry.at(keep - 1).isHighSurrogate()) --keep;  // never half a character
    entry.truncate(keep);
  }
  return entry;
}

}  // namespace

CUrlListDlg::CUrlListDlg(const std::u16string& text, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("UrlListDialog"));
  setWindowTitle(QStringLiteral("Manage URL List Dialog"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  QFont font(QStringLiteral("MS Shell Dlg"));
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(DuToPixels(0, 0, 349, 310).size());

  (new QLabel(QStringLiteral("Name"), this))->setGeometry(DuToPixels(6, 18, 19, 8));
  (new QLabel(QStringLiteral("URL"), this))->setGeometry(DuToPixels(126, 18, 14, 8));
  m_name = new QLineEdit(this);
  m_name->setObjectName(QStringLiteral("1031"));
  m_name->setGeometry(DuToPixels(6, 30, 96, 14));
  m_url = new QLineEdit(this);
  m_url->setObjectName(QStringLiteral("1032"));
  m_url->setGeometry(DuToPixels(120, 30, 222, 14));
  for (QLineEdit* e : {m_name, m_url}) e->setMaxLength(kMaxEntryChars);
  for (const ButtonPlace& b : kButtons) {
    auto* button = new QPushButton(QString::fromLatin1(b.text), this);
    button->setObjectName(QString::number(b.id));
    button->setGeometry(DuToPixels(b.x, b.y, b.w, b.h));
    button->setAutoDefault(false);
    const int id = b.id;
    connect(button, &QPushButton::clicked, this, [this, id] {
      switch (id) {
        case 1034:
          OnAdd();
          break;
        case 1035:
          OnUpdate();
          break;
        case 1036:
          OnRemove();
          break;
        case 1037:
          OnClear();
          break;
        case 1038:
          OnMove(-1);
          break;
        case 1039:
          OnMove(1);
          break;
      }
    });
  }
  m_list = new QListWidget(this);
  m_list->setObjectName(QStringLiteral("1033"));
  m_list->setGeometry(DuToPixels(6, 72, 336, 228));
  m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_list->addItems(ParseEntries(text));
  connect(m_list, &QListWidget::currentRowChanged, this,
          [this](int row) { OnSelectionChanged(row); });
  m_text = text;
}

QStringList CUrlListDlg::ParseEntries(const std::u16string& text) {
  QStringList entries;
  const QString all = QString::fromStdU16String(text);
  qsizetype at = 0;
  while (at < all.size()) {
    const qsizetype nameEnd = all.indexOf(QLatin1Char('\r'), at);
    if (nameEnd < 0) break;  // a name without its URL line ends the list
    const QString name = all.mid(at, nameEnd - at);
    at = nameEnd + 2;  // past CR LF
    const qsizetype urlEnd = all.indexOf(QLatin1Char('\r'), at);
    const QString url = at >= all.size() ? QString() : all.mid(at, urlEnd < 0 ? -1 : urlEnd - at);
    entries.append(Cut(name + kSeparator + url));
    if (urlEnd < 0) break;
    at = urlEnd + 2;
  }
  return entries;
}

std::u16string CUrlListDlg::BuildText(const QStringList& entries) {
  QString text;
  for (const QString& entry : entries) {
    const qsizetype split = entry.indexOf(kSeparator);
    const QString name = split < 0 ? entry : entry.left(split);
    const QString url = split < 0 ? QString() : entry.mid(split + kSeparator.size());
    text += name + QStringLiteral("\r\n") + url + QStringLiteral("\r\n");
  }
  return text.toStdU16String();
}

QWidget* CUrlListDlg::Control(int id) const { return findChild<QWidget*>(QString::number(id)); }

QStringList CUrlListDlg::Entries() const {
  QStringList entries;
  for (int i = 0; i < m_list->count(); ++i) entries.append(m_list->item(i)->text());
  return entries;
}

int CUrlListDlg::Selected() const {
  QListWidgetItem* item = m_list->currentItem();
  return item && item->isSelected() ? m_list->row(item) : -1;
}

QString CUrlListDlg::EntryFromEdits() const {
  return Cut(m_name->text() + kSeparator + m_url->text());
}

void CUrlListDlg::SelectRow(int row) {
  m_list->setCurrentRow(row);
  if (QListWidgetItem* item = m_list->item(row)) item->setSelected(true);
}

void CUrlListDlg::OnAdd() {
  const QString entry = EntryFromEdits();
  // An entry that begins with the new text (any letter case) is selected, not repeated.
  for (int i = 0; i < m_list->count(); ++i) {
    if (m_list->item(i)->text().startsWith(entry, Qt::CaseInsensitive)) {
      SelectRow(i);
      return;
    }
  }
  m_list->addItem(entry);
  SelectRow(m_list->count() - 1);
}

void CUrlListDlg::OnUpdate() {
  const int row = Selected();
  if (row < 0) return;
  const QString entry = EntryFromEdits();
  const QSignalBlocker quiet(m_list);  // the edits keep what was typed
  delete m_list->takeItem(row);
  m_list->insertItem(row, entry);
  SelectRow(row);
}

void CUrlListDlg::OnRemove() {
  const int row = Selected();
  if (row < 0) return;
  const QSignalBlocker quiet(m_list);
  delete m_list->takeItem(row);
  // Nothing is selected afterwards: a second Remove removes nothing.
  m_list->setCurrentRow(-1);
  m_list->clearSelection();
}

void CUrlListDlg::OnClear() { m_list->clear(); }

void CUrlListDlg::OnMove(int by) {
  const int row = Selected();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= m_list->count()) return;
  const QSignalBlocker quiet(m_list);
  QListWidgetItem* item = m_list->takeItem(row);
  m_list->insertItem(to, item);
  SelectRow(to);
}

void CUrlListDlg::OnSelectionChanged(int row) {
  if (row < 0 || row >= m_list->count()) return;
  const QString entry = m_list->item(row)->text();
  const qsizetype split = entry.indexOf(kSeparator);
  m_name->setText(split < 0 ? entry : entry.left(split));
  m_url->setText(split < 0 ? QString() : entry.mid(split + kSeparator.size()));
}

void CUrlListDlg::closeEvent(QCloseEvent* event) {
  m_text = BuildText(Entries());
  event->accept();
  done(0);
}

}  // namespace vts::ui
