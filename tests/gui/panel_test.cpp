// The real file dialogs both windows use, tested once.
#include "gui/panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDirIterator>
#include <QFileDialog>
#include <QSettings>
#include <QTimer>

#include "tests/support/test_files.h"

namespace {

// The real dialogs, answered as a user answers them: neither the chosen files nor their folder
// are left in the user's configuration, and the desktop's dialog (which adds to the desktop's
// recent list) is never asked for.
TEST(RealFileDialogs, LeaveNoTraceInTheUsersConfiguration) {
  testing_support::TempDir home, chosen;
  const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", home.path().c_str());
  qputenv("XDG_CONFIG_HOME", home.File(".config").c_str());
  // Where Qt keeps a user's settings unless told otherwise.
  ASSERT_EQ(QSettings(QSettings::UserScope, "QtProject").fileName().toStdString(),
            home.File(".config/QtProject.conf"));
  panel::DialogPrompts prompts;
  testing_support::WriteFileBytes(chosen.File("input-name"), {1});
  const QString input = QString::fromStdString(chosen.File("input-name"));
  const QString output = QString::fromStdString(chosen.File("output-name"));
  for (bool open : {true, false}) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
      if (!open) dialog->selectFile(output);    // the open dialog offers its initial file
      static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    EXPECT_EQ(open ? prompts.OpenFile(nullptr, input) : prompts.SaveFile(nullptr, QString()),
              open ? input : output);
  }
  const QByteArray folder = QString::fromStdString(chosen.path()).section('/', -1).toUtf8();
  for (QDirIterator file(QString::fromStdString(home.path()), QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
       file.hasNext();) {
    QFile text(file.next());
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QByteArray bytes = text.readAll();
    EXPECT_FALSE(bytes.contains(folder) || bytes.contains("-name"))
        << text.fileName().toStdString();
  }
  for (const auto& [name, value] : {std::pair{"HOME", oldHome}, {"XDG_CONFIG_HOME", oldConfig}})
    value.isNull() ? qunsetenv(name) : qputenv(name, value);
}

}  // namespace
