// WindowTest: a tool's window under test, driven through its controls by id with scripted
// prompts, with a folder for its files; both tools' tests derive from it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <memory>
#include <ostream>
#include <string>
#include <tuple>

#include "gui/panel.h"
#include "tests/gui/scripted_prompts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_files.h"

// Failure messages show the text, not its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace testing_gui {

using namespace testing_support;
using panel::PromptAnswer;
using panel::PromptButtons;
using panel::PromptIcon;

constexpr char kGreen[] = "#008000";
constexpr char kRed[] = "#DD0000";

// `kStatusId` is the status row's first line; the second line is the next id.
template <typename Window, int kStatusId>
class WindowTest : public ::testing::Test {
 protected:
  template <typename T = QWidget>
  T* Control(int id) {
    return window_->template findChild<T*>(panel::ControlName(id));
  }
  QString Text(int id) { return Control<QLabel>(id)->text(); }
  QString Colour(int id) { return panel::TextColour(Control(id)).name().toUpper(); }
  void Click(int id, Qt::KeyboardModifiers keys = Qt::NoModifier) {
    QTest::mouseClick(Control(id), Qt::LeftButton, keys);
  }
  std::string File(const char* name) { return dir_.File(name); }
  void Choose(int id, const std::string& path) {
    prompts_.QueuePath(QString::fromStdString(path));
    Click(id);
  }
  QString Status() { return Text(kStatusId) + " | " + Text(kStatusId + 1); }
  void SaveArtifact(const char* name) {
    QDir().mkpath(AESSUITE_ARTIFACT_DIR);
    EXPECT_TRUE(window_->grab().save(QStringLiteral(AESSUITE_ARTIFACT_DIR "/") + name));
  }
  // Start with the end-of-job box answered `answer`, then wait for the end to have been handled.
  const panel::MessageRequest& RunJob(int start, panel::PromptAnswer answer) {
    prompts_.QueueAnswer(answer);
    Click(start);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->IdleFlag(); }, 600000));
    return LastBox();
  }
  const panel::MessageRequest& LastBox() { return prompts_.Records().back().request; }
  // The caption is the window's, back after every job.
  void ExpectBox(const panel::MessageRequest& box, const QString& text, PromptIcon icon,
                 PromptButtons buttons) {
    EXPECT_EQ(std::tuple(box.text, box.caption, box.icon, box.buttons),
              std::tuple(text, window_->windowTitle(), icon, buttons));
  }

  TempDir dir_;
  ScriptedPrompts prompts_;
  std::unique_ptr<Window> window_;
};

}  // namespace testing_gui
