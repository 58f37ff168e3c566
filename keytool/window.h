// KeyToolWindow: the key tool's fixed window, its controls, colours and command dispatcher.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <memory>

#include "engine/backend.h"
#include "gui/panel.h"
#include "keytool/job_control.h"
#include "keytool/key_panel.h"
#include "keytool/settings.h"

class QLabel;
class QLineEdit;

namespace keytool {

constexpr char kWindowClassName[] = "Encryption Software";
constexpr char kCaption[] = "AES Moltra";
constexpr char kStatusTitle[] = "AES Moltra V2.00";
// The first text of StatusLine2; restores show only the address before " - ".
constexpr char kInfoLine[] = "https://example.org/aes-suite - AES file encryption";
constexpr int kClientWidth = 574;
constexpr int kClientHeight = 271;
constexpr int kLookHeight = 301;  // the background is painted for the first window height

// Control ids, as the window's tables number them.
enum ControlId : int {
  kFocusSinkId = 1,
  kConfidentialId = 10,
  kDirectionId = 20,
  kKeySizeId = 30,
  kStartId = 40,
  kModeId = 50,
  kOpenId = 60,
  kInputPathId = 61,
  kClearInputId = 62,
  kSaveAsId = 70,
  kOutputPathId = 71,
  kClearOutputId = 72,
  kFirstButtonId = 100,  // 100-105 IV Load..Zero, 106-111 key Load..Zero
  kIvLabelId = 120,
  kKeyLabelId = 130,
  kStatusLine1Id = 140,
  kStatusLine2Id = 141,
  kAccelIndicatorId = 142,
  kStaticIdLimit,  // every static's id is below this
};

// Controls carry their id as object name ("id40"), as in the other window.
using panel::ControlName;

class KeyToolWindow : public QWidget {
 public:
  // Builds every control from `settings`, which the window's controls change from then on.
  KeyToolWindow(KeyToolSettings& settings, engine::AccelerationSetting& acceleration,
                const engine::CpuFeatures& features, panel::Prompts& prompts,
                QWidget* parent = nullptr);
  ~KeyToolWindow() override;

  // WM_COMMAND: every click on a static button arrives here with the control's id.
  void OnCommand(int id);
  void ShowStatus(const QString& title, const QString& message);

  bool IdleFlag() const { return jobs_.IdleFlag(); }
  bool ReadyFlag() const { return jobs_.ReadyFlag(); }
  const JobControl& Jobs() const { return jobs_; }
  // Test seams: a job's IdleFlag without a job, and the files as the dialogs would choose them
  // (an empty path clears the choice).
  void SetIdleFlag(bool idle) { jobs_.SetIdleFlag(idle); }
  void SetInputPath(const QString& path) { jobs_.SetInputChoice(path); }
  void SetOutputPath(const QString& path) { jobs_.SetOutputChoice(path); }
  // A path from the command line or a drop, taken as if chosen with Open.
  void OpenPath(const QString& path) { jobs_.OpenPath(path); }

  panel::StatusRow& Status() { return *status_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  // The "Open" label reports no clicks: a press on it reaches the window.
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void CreateControls();
  void PaintPanelLook();
  void ParkFocus();
  void OnFocusChanged(QWidget* old, QWidget* now);
  // Texts and colours that follow the settings and flags (the WM_CTLCOLOR* answers).
  void RefreshSettingTexts();
  void RefreshColours();
  // The IdleFlag or the ReadyFlag changed: the Start label and the focus look follow.
  void OnJobStateChanged();
  void ToggleAcceleration();

  KeyToolSettings& settings_;
  engine::AccelerationSetting& acceleration_;
  engine::CpuFeatures features_;
  panel::Prompts& prompts_;
  QPixmap look_;
  std::unique_ptr<panel::StatusRow> status_;
  QWidget* sink_ = nullptr;
  QWidget* remembered_ = nullptr;        // the digit cell that last showed the focus look
  QLabel* labels_[kStaticIdLimit] = {};  // statics by id
  QLineEdit* inputPath_ = nullptr;
  QLineEdit* outputPath_ = nullptr;
  panel::DashEchoStyle* echoStyle_ = nullptr;
  QMetaObject::Connection focusConnection_;
  KeyPanel keyPanel_;
  JobControl jobs_;
};

// Start-up steps: processor check (the refusal box, then nullptr), backend, "config.ini" in the
// current directory, AES tables, the window (not yet shown).
std::unique_ptr<KeyToolWindow> StartKeyTool(const engine::CpuFeatures& features,
                                            KeyToolSettings& settings,
                                            engine::AccelerationSetting& acceleration,
                                            panel::Prompts& prompts);

}  // namespace keytool
