// Qt's own user settings (what a file dialog remembers) lie below VOXTRAILSTUDY_ROOT, not in
// the user's configuration folder.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <cstdlib>
#include <string>

#include "platform/qt_settings.h"
#include "test_env.h"
#include "test_files.h"

namespace vts {
namespace {

TEST(QtSettings, AFileDialogRemembersBelowTheRoot) {
  const std::string home = test::MakeTempDir("home");
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  plat::KeepQtSettingsBelowRoot();
  {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setDirectory(QString::fromStdString(home));
  }
  EXPECT_TRUE(test::PathExists(test::TestRoot() + "/config/QtProject.conf"));
  EXPECT_FALSE(test::PathExists(home + "/.config/QtProject.conf"));
}

}  // namespace
}  // namespace vts
