// The key tool window under test: built with scripted prompts, controls found by their id.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QString>
#include <QTest>
#include <QWidget>

#include <memory>
#include <ostream>

#include "keytool/window.h"
#include "tests/gui/scripted_prompts.h"
#include "tests/support/job_runner.h"

// Failure messages show the text, not its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace testing_gui {

inline constexpr char kRestingTitle[] = "AES Moltra V2.00";

inline QString Hex(const QColor& c) {
  return c.name().toUpper();
}

inline QString Label(const QWidget& window, int id) {
  return window.findChild<QLabel*>(keytool::ControlName(id))->text();
}

inline void SaveArtifact(QWidget& window, const char* name) {
  QDir().mkpath(AESSUITE_ARTIFACT_DIR);
  EXPECT_TRUE(window.grab().save(QStringLiteral(AESSUITE_ARTIFACT_DIR "/") + name));
}

inline void ShowActive(QWidget& window) {
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

class KeyToolWindowTest : public ::testing::Test {
 protected:
  // As the program starts it, minus the settings file: the AES tables are built first.
  keytool::KeyToolWindow& Make() {
    testing_support::BuildTablesOnce();
    window_ =
        std::make_unique<keytool::KeyToolWindow>(settings_, acceleration_, features_, prompts_);
    return *window_;
  }
  template <typename T = QWidget>
  T* Control(int id) {
    return window_->findChild<T*>(keytool::ControlName(id));
  }
  QString Text(int id) { return Label(*window_, id); }
  QString Colour(int id) { return Hex(panel::TextColour(Control(id))); }
  void Click(int id) { QTest::mouseClick(Control(id), Qt::LeftButton); }

  keytool::KeyToolSettings settings_;
  engine::AccelerationSetting acceleration_;
  engine::CpuFeatures features_ = engine::CpuFeaturesFromWords(engine::kMmxSse2Bits, 0);
  ScriptedPrompts prompts_;
  std::unique_ptr<keytool::KeyToolWindow> window_;
};

}  // namespace testing_gui
