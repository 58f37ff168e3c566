// PassphraseWindow: the passphrase tool's fixed window, its controls, colours, file choices,
// passphrase entry and command dispatcher.
#pragma once

#include <stdint.h>

#include <QByteArray>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <memory>

#include "engine/backend.h"
#include "engine/job.h"
#include "gui/panel.h"

class QLabel;
class QLineEdit;

namespace panel {
class JobSession;
}

namespace passtool {

constexpr char kWindowClassName[] = "Encryption Software";
constexpr char kCaption[] = "AES Praxel";
constexpr char kStatusTitle[] = "AES Praxel V2.00";
// The first text of StatusLine2; restores show only the address before " - ".
constexpr char kInfoLine[] = "https://example.org/aes-suite - passphrase file encryption";
constexpr int kClientWidth = 574;
constexpr int kClientHeight = 230;
constexpr int kLookHeight = 260;  // the background is painted for the first window height

// Control ids, as the window's tables number them.
enum ControlId : int {
  kFocusSinkId = 1,
  kConfidentialId = 10,
  kDirectionId = 20,
  kStartId = 30,
  kOpenId = 40,
  kInputPathId = 41,
  kClearInputId = 42,
  kSaveAsId = 50,
  kOutputPathId = 51,
  kClearOutputId = 52,
  kPromptId = 60,
  kFirstLengthId = 70,
  kFirstPassphraseId = 71,
  kClearFirstId = 72,
  kSecondLengthId = 80,
  kSecondPassphraseId = 81,
  kClearSecondId = 82,
  kStatusLine1Id = 90,
  kStatusLine2Id = 91,
  kStaticIdLimit,  // every static's id is below this
};

// One passphrase entry as the bytes the key derivation gets: the edit's text in UTF-8, which is
// what a terminal hands the console for the same characters.
struct PassphraseEntry {
  uint8_t bytes[engine::kMaxPassphrase + 1] = {};
  uint32_t length = 0;
};

// A path as the file system names it, or empty; at most kPathCapacity - 1 bytes.
using PathBytes = QByteArray;

class PassphraseWindow : public QWidget {
 public:
  explicit PassphraseWindow(panel::Prompts& prompts, QWidget* parent = nullptr);
  ~PassphraseWindow() override;

  // WM_COMMAND: every click on a static button and every change of a passphrase edit arrives
  // here with the control's id.
  void OnCommand(int id);
  void ShowStatus(const QString& title, const QString& message);

  bool IdleFlag() const { return idle_; }
  bool MatchFlag() const { return match_; }
  bool ReadyFlag() const { return inputSet_ && outputSet_ && match_; }
  bool Confidential() const { return confidential_; }
  engine::Direction Direction() const { return direction_; }
  const PathBytes& InputPath() const { return inputPath_; }
  const PathBytes& OutputPath() const { return outputPath_; }
  const PassphraseEntry& FirstEntry() const { return first_; }
  const PassphraseEntry& SecondEntry() const { return second_; }

  // What job control changes. Running: IdleFlag 0, the passphrase edits read-only with their
  // undo history gone, Start reads "Abort"; stopping puts all of it back.
  void SetJobRunning(bool running);
  // The progress text in StatusLine2, without restarting the status timer.
  void ShowProgress(const QString& text);
  // Re-reads both edits into the entry buffers (the passphrase evaluation).
  void EvaluatePassphrases();
  // Overwrites both entry buffers; the edits keep their text, so the match stands.
  void WipeEntries();
  // A path from the command line or a drop, taken as if chosen with Open (while idle).
  void OpenPath(const QString& path);

  panel::StatusRow& Status() { return *status_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void CreateControls();
  void PaintPanelLook();
  void ParkFocus();
  void ToggleConfidential();
  void ChooseFile(bool input);
  // A path from the dialog (empty when it was cancelled) or from outside.
  void TakeFile(bool input, const QString& chosen);
  void RemoveFile(bool input);
  void ClearEntry(QLineEdit* edit, const char* title);
  void RefreshPaths();
  // The WM_CTLCOLOR* answers: text colours that follow the flags.
  void RefreshColours();

  panel::Prompts& prompts_;
  QPixmap look_;
  std::unique_ptr<panel::StatusRow> status_;
  std::unique_ptr<panel::JobSession> job_;
  QWidget* sink_ = nullptr;
  QLabel* labels_[kStaticIdLimit] = {};  // statics by id
  QLineEdit* inputEdit_ = nullptr;
  QLineEdit* outputEdit_ = nullptr;
  QLineEdit* firstEdit_ = nullptr;
  QLineEdit* secondEdit_ = nullptr;
  panel::DashEchoStyle* echoStyle_ = nullptr;
  PathBytes inputPath_;
  PathBytes outputPath_;
  PassphraseEntry first_;
  PassphraseEntry second_;
  engine::Direction direction_ = engine::Direction::Encrypt;
  bool confidential_ = false;
  bool inputSet_ = false;
  bool outputSet_ = false;
  bool match_ = false;
  bool idle_ = false;
  bool parked_ = false;  // a command has moved the focus to the sink
};

// Start-up steps: processor check (the refusal box, then nullptr), the encrypt routine, the AES
// tables, the window (not yet shown).
std::unique_ptr<PassphraseWindow> StartPassphraseTool(const engine::CpuFeatures& features,
                                                      panel::Prompts& prompts);

}  // namespace passtool
