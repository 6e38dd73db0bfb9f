// The URL-list dialog driven by clicks: the list a text gives, adding, updating, removing,
// clearing and moving entries, the text written back when it is closed, and the URL menu's
// run of the dialog into "URLList.txt".
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "core/app_core.h"
#include "core/data_folder.h"
#include "core/settings_files.h"
#include "platform/message_box.h"
#include "ui/dialog_template.h"
#include "ui/main_dialog.h"
#include "ui/url_list_dialog.h"

namespace vts::ui {
namespace {

const std::u16string kTwo =
    u"News\r\nhttp://news.example/\r\nMail\r\nhttps://mail.example/inbox\r\n";

class UrlList : public ::testing::Test {
 protected:
  void Open(const std::u16string& text) {
    dlg = std::make_unique<CUrlListDlg>(text);
    dlg->show();
  }
  void Click(int id) {
    auto* b = qobject_cast<QPushButton*>(dlg->Control(id));
    ASSERT_NE(b, nullptr) << id;
    QTest::mouseClick(b, Qt::LeftButton);
  }
  void Type(const QString& name, const QString& url) {
    for (auto [id, text] : {std::pair{1031, name}, std::pair{1032, url}}) {
      auto* e = qobject_cast<QLineEdit*>(dlg->Control(id));
      e->clear();
      QTest::keyClicks(e, text);
    }
  }
  void Pick(int row) {
    auto* list = qobject_cast<QListWidget*>(dlg->Control(1033));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
  }
  std::u16string Close() {
    dlg->close();
    return dlg->Text();
  }
  std::unique_ptr<CUrlListDlg> dlg;
};

TEST_F(UrlList, TwoEntriesShowAndRoundTripUnchanged) {
  Open(kTwo);
  EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Manage URL List Dialog"));
  EXPECT_EQ(dlg->Entries(), (QStringList{QStringLiteral("News - http://news.example/"),
                                         QStringLiteral("Mail - https://mail.example/inbox")}));
  EXPECT_EQ(dlg->Control(1033)->geometry(), DuToPixels(6, 72, 336, 228));
  EXPECT_EQ(dlg->size(), DuToPixels(0, 0, 349, 310).size());
  EXPECT_EQ(Close(), kTwo);
}

TEST_F(UrlList, TextsReadAsTheirEntries) {
  struct Case {
    const char* what;
    std::u16string text;
    QStringList entries;
  };
  const Case cases[] = {
      {"empty", u"", {}},
      {"a last URL without CR LF is kept", u"A\r\nhttp://a/", {"A - http://a/"}},
      {"a name without its URL line ends the list", u"A\r\nhttp://a/\r\nB", {"A - http://a/"}},
      {"a name with an empty URL", u"A\r\n", {"A - "}},
      {"an entry over 2047 characters is cut",
       u"N\r\n" + std::u16string(3000, u'u') + u"\r\n",
       {"N - " + QString(2043, QLatin1Char('u'))}},
  };
  for (const Case& c : cases) EXPECT_EQ(CUrlListDlg::ParseEntries(c.text), c.entries) << c.what;
}

TEST_F(UrlList, AddSelectsAnExistingPrefixInsteadOfRepeatingIt) {
  Open(kTwo);
  Type(QStringLiteral("news"), QStringLiteral("HTTP://news"));  // a prefix, other case
  Click(1034);
  EXPECT_EQ(dlg->Entries().size(), 2);
  EXPECT_EQ(dlg->Selected(), 0);
  Type(QStringLiteral("Docs"), QStringLiteral("https://docs.example/"));
  Click(1034);
  EXPECT_EQ(dlg->Entries().size(), 3);
  EXPECT_EQ(dlg->Selected(), 2);
  EXPECT_EQ(Close(), kTwo + u"Docs\r\nhttps://docs.example/\r\n");
}

TEST_F(UrlList, UpdateRemoveMoveAndClear) {
  Open(kTwo + u"Docs\r\nhttps://docs.example/\r\n");
  Click(1035);  // no selection: nothing
  Click(1036);
  EXPECT_EQ(dlg->Entries().size(), 3);

  Pick(1);  // the selection fills the edits
  EXPECT_EQ(qobject_cast<QLineEdit*>(dlg->Control(1031))->text(), QStringLiteral("Mail"));
  EXPECT_EQ(qobject_cast<QLineEdit*>(dlg->Control(1032))->text(),
            QStringLiteral("https://mail.example/inbox"));
  Type(QStringLiteral("Post"), QStringLiteral("https://post.example/"));
  Click(1035);
  EXPECT_EQ(dlg->Entries()[1], QStringLiteral("Post - https://post.example/"));
  EXPECT_EQ(dlg->Selected(), 1);

  Click(1038);  // up
  EXPECT_EQ(dlg->Entries()[0], QStringLiteral("Post - https://post.example/"));
  Click(1038);  // up on the first: nothing
  EXPECT_EQ(dlg->Selected(), 0);
  Pick(2);
  Click(1039);  // down on the last: nothing
  EXPECT_EQ(dlg->Entries()[2], QStringLiteral("Docs - https://docs.example/"));

  Click(1036);  // remove Docs
  EXPECT_EQ(dlg->Entries().size(), 2);
  Click(1036);  // nothing selected any more
  EXPECT_EQ(dlg->Entries().size(), 2);

  // A name holding " - " is split there when the list is written.
  Type(QStringLiteral("A - B"), QStringLiteral("http://ab/"));
  Click(1034);
  EXPECT_EQ(Close(),
            u"Post\r\nhttps://post.example/\r\nNews\r\nhttp://news.example/\r\n"
            u"A\r\nB - http://ab/\r\n");

  Open(kTwo);
  Click(1037);
  EXPECT_EQ(Close(), u"");
}

TEST_F(UrlList, EnterAndEscapeDoNotCloseIt) {
  Open(kTwo);
  QTest::keyClick(dlg.get(), Qt::Key_Escape);
  QTest::keyClick(dlg.get(), Qt::Key_Return);
  EXPECT_TRUE(dlg->isVisible());
}

TEST(UrlMenu, OnlyWebAddressesAreOpened) {
  struct Case {
    QString text;
    bool opened;
  };
  const Case cases[] = {
      {"http://news.example/", true}, {"HTTPS://mail.example/x", true},
      {"www.example.org", true},      {"file:///etc/passwd", false},
      {"/etc/passwd", false},         {"javascript:alert(1)", false},
      {"smb://server/share", false},  {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CMainDlg::UrlToOpen(c.text).isValid(), c.opened) << c.text.toStdString();
}

TEST(UrlMenu, TheDialogsListIsKeptAndWrittenWholeWithItsMark) {
  plat::SetMessageBoxService(std::make_shared<plat::RecordingMessageBoxService>());
  g_pAppCore = new CAppCore();
  const std::string path = GetDataFolder() + "/URLList.txt";
  // A longer former file is replaced whole.
  ASSERT_TRUE(WriteUrlList(std::u16string(500, u'x'), path));
  g_pAppCore->settings.urlList = kTwo;
  {
    CMainDlg dlg;
    QTimer::singleShot(0, [] {
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    dlg.RunUrlListDialog();
  }
  EXPECT_EQ(g_pAppCore->settings.urlList, kTwo);
  QFile file(QString::fromStdString(path));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QByteArray expected("\xFF\xFE", 2);
  for (char16_t u : kTwo) {
    expected.append(static_cast<char>(u & 0xFF));
    expected.append(static_cast<char>(u >> 8));
  }
  EXPECT_EQ(file.readAll(), expected) << "no NUL, nothing of the former file";
  delete g_pAppCore;
  g_pAppCore = nullptr;
  plat::SetMessageBoxService(nullptr);
}

}  // namespace
}  // namespace vts::ui
