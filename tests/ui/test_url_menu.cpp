// The URL part of the open button: a chosen address that no browser could take is told in a
// box naming it; one that was handed on says nothing.
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "core/product_name.h"
#include "transport_fixture.h"

namespace vts::ui {
namespace {

using test::WindowTest;

class UrlMenu : public WindowTest {
 protected:
  // Presses the open button's right part and chooses the menu item `text`.
  void Choose(const QString& text) {
    std::function<void()> answer = [&, text] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) {
        QTimer::singleShot(20, answer);
        return;
      }
      for (QAction* a : menu->actions())
        if (a->text() == text) menu->setActiveAction(a);
      QTest::keyClick(menu, Qt::Key_Return);
    };
    QTimer::singleShot(0, answer);
    QCursor::setPos(dlg->Button(1027)->mapToGlobal(QPoint(80, 7)));
    dlg->Dispatch(1027, BN_CLICKED);
  }
};

TEST_F(UrlMenu, AnAddressNoBrowserTookIsToldInABoxNamingIt) {
  core->settings.urlList = u"News\r\nhttps://news.example.org/today\r\n";
  struct Case {
    const char* item;
    bool browserStarts;
    const char* opened;
    std::u16string told;  // empty: no box
  };
  const Case cases[] = {
      {"News", false, "https://news.example.org/today",
       u"No web browser could be started to open https://news.example.org/today."},
      {"Blank page", false, "about:blank", u"No web browser could be started to open about:blank."},
      {"News", true, "https://news.example.org/today", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    boxes->Clear();
    std::vector<std::string> opened;
    dlg->SetUrlOpener([&](const QUrl& url) {
      opened.push_back(url.toString().toStdString());
      return c.browserStarts;
    });
    Choose(QString::fromUtf8(c.item));
    EXPECT_EQ(opened, std::vector<std::string>{c.opened});
    const auto told = boxes->Boxes();
    if (c.told.empty()) {
      EXPECT_TRUE(told.empty());
    } else {
      ASSERT_EQ(told.size(), 1u);
      EXPECT_EQ(told[0].text, c.told);
      EXPECT_EQ(told[0].caption, GetProductName());
      EXPECT_EQ(told[0].type, plat::MB_OK | plat::MB_ICONWARNING);
    }
  }
}

}  // namespace
}  // namespace vts::ui
