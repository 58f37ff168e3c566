// PassphraseWindowTest: a window started as the program starts it, driven through its controls
// by id, with scripted prompts; shared by the window and job tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <ostream>
#include <string>

#include "passtool/window.h"
#include "tests/gui/scripted_prompts.h"

// Failure messages show the text, not its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace testing_gui {

constexpr char kGreen[] = "#008000";
constexpr char kRed[] = "#DD0000";

inline QString Hex(const QColor& c) {
  return c.name().toUpper();
}

class PassphraseWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = passtool::StartPassphraseTool(engine::ReadCpuFeatures(), prompts_);
    ASSERT_NE(window_, nullptr);
  }
  template <typename T = QWidget>
  T* Control(int id) {
    return window_->findChild<T*>(panel::ControlName(id));
  }
  QLineEdit* Edit(int id) { return Control<QLineEdit>(id); }
  QString Text(int id) { return Control<QLabel>(id)->text(); }
  QString Colour(int id) { return Hex(panel::TextColour(Control(id))); }
  void Click(int id) { QTest::mouseClick(Control(id), Qt::LeftButton); }
  // Key presses carrying each character, as a keyboard layout that has it sends them (QTest's
  // key clicks know ASCII only).
  void Type(int id, const QString& text) {
    for (const QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(Edit(id), &press);
    }
  }
  void Choose(int id, const QString& path) {
    prompts_.QueuePath(path);
    Click(id);
  }
  void Show() {
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  void SaveArtifact(const char* name) {
    QDir().mkpath(AESSUITE_ARTIFACT_DIR);
    EXPECT_TRUE(window_->grab().save(QStringLiteral(AESSUITE_ARTIFACT_DIR "/") + name));
  }

  ScriptedPrompts prompts_;
  std::unique_ptr<passtool::PassphraseWindow> window_;
};

}  // namespace testing_gui
