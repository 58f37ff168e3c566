// The key tool's side of a file job: choosing the input (or pseudo-random bytes) and the output,
// and a job from the settings and the key cells; the shared job session runs it.
#pragma once

#include <stdint.h>

#include <QByteArray>
#include <QString>

#include <functional>

#include "engine/job.h"
#include "gui/job_session.h"
#include "keytool/settings.h"

class QWidget;

namespace keytool {

// "64 Megabytes of Pseudo Random" ... "16 Gigabytes of Pseudo Random", padded with spaces to 30
// characters as the size texts stand in their fixed slots.
QString PrngSizeText(uint8_t index);

// The worker's body: the pseudo-random run or the cipher run of the prepared job.
void RunJobThread(engine::CipherJob& job);

// What job control needs from its window.
struct JobControlHost {
  QWidget* window;                                                 // owner, caption, events
  std::function<void()> parkFocus;                                 // before every command
  std::function<void(const QString&, const QString&)> showStatus;  // title, message
  std::function<void(const QString&)> showProgress;                // StatusLine2 only
  std::function<void(const QString&, const QString&)> showPaths;   // input box, output box
  std::function<void()> stateChanged;  // ReadyFlag or IdleFlag changed: colours, Start label
  std::function<void(engine::CipherJob&)> fillKeyBytes;  // the cells' IV and key
};

class JobControl {
 public:
  JobControl(KeyToolSettings& settings, panel::Prompts& prompts, JobControlHost host);

  bool IdleFlag() const { return !session_.Running(); }
  bool ReadyFlag() const { return inputSet_ && outputSet_; }
  const engine::CipherJob& Job() const { return session_.Job(); }

  // At window creation: a pseudo-random size preset by the settings takes the input's place.
  void ApplyPresetPrng();
  void ChooseInput();  // plain click on "Open"
  // A path from the command line or a drop, through the checks a chosen input meets.
  void OpenPath(const QString& path);
  void SelectPrng();    // Shift+click on "Open"
  void ChooseOutput();  // "Save As"
  void ClearInput();
  void ClearOutput();
  // Start: a job, or while one runs, the abort request.
  void StartJob();
  // The posted messages of the worker.
  void OnJobProgress() { session_.OnProgress(); }
  void FinishJob() { session_.Finish(); }

  // The choices as the dialogs make them, without the dialogs (the window's test seam).
  void SetInputChoice(const QString& path);
  void SetOutputChoice(const QString& path);
  // A job's state without a job (the window's test seam for colours and commands).
  void SetIdleFlag(bool idle) { session_.SetRunning(!idle); }

 private:
  void ChooseFile(bool input);
  // A path from the dialog (empty when it was cancelled) or from outside.
  void TakeFile(bool input, const QString& chosen);
  // A chosen path, or why it cannot be used; false when the dialog was cancelled.
  bool AcceptPath(const QString& chosen, const QString& title, QByteArray& path);
  bool SameAsOtherPath(const QByteArray& path, const QByteArray& other);
  void DropPrng();
  void RefreshPaths();

  KeyToolSettings& settings_;
  panel::Prompts& prompts_;
  JobControlHost host_;
  QByteArray inputPath_;  // file names as the file system has them (bytes)
  QByteArray outputPath_;
  bool inputSet_ = false;
  bool outputSet_ = false;
  uint8_t prngIndex_ = 0;  // the size chosen by the last Shift+click
  panel::JobSession session_;
};

}  // namespace keytool
