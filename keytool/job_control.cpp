// The key tool's job control: file choices, StartJob, the worker, progress and FinishJob.
#include "keytool/job_control.h"

#include <string.h>

#include <QApplication>
#include <QFile>
#include <QWidget>

#include "engine/file.h"
#include "engine/modes.h"
#include "keys/random.h"
#include "gui/panel.h"

namespace keytool {

namespace {

using engine::JobStatus;

constexpr char kCaption[] = "AES Moltra";
constexpr char kSameFile[] = "Input and output can not be the same file";
constexpr char kPathTooLong[] = "Error - The path is longer than 259 bytes";
constexpr char kOpenTitle[] = "Open File";
constexpr char kSaveTitle[] = "Save File As";
constexpr uint8_t kPrngSizeCount = 9;

constexpr const char* kPrngSizeTexts[kPrngSizeCount] = {
    "64 Megabytes of Pseudo Random",  "128 Megabytes of Pseudo Random",
    "256 Megabytes of Pseudo Random", "512 Megabytes of Pseudo Random",
    "1 Gigabyte of Pseudo Random",    "2 Gigabytes of Pseudo Random",
    "4 Gigabytes of Pseudo Random",   "8 Gigabytes of Pseudo Random",
    "16 Gigabytes of Pseudo Random"};

bool IsOutputSideFailure(JobStatus status) {
  return status == JobStatus::OutputUnwritable || status == JobStatus::NoSpace;
}

}  // namespace

QString PrngSizeText(uint8_t index) {
  return QString::fromLatin1(kPrngSizeTexts[index % kPrngSizeCount]).leftJustified(30);
}

void RunJobThread(engine::CipherJob& job) {
  if (job.kind == engine::JobKind::Prng) {
    keys::PrngFileRun(job);
  } else {
    engine::RunCipherJob(job);
  }
}

JobControl::JobControl(KeyToolSettings& settings, panel::Prompts& prompts, JobControlHost host)
    : settings_(settings), prompts_(prompts), host_(std::move(host)) {
  job_.host = engine::JobHost::Window;
}

JobControl::~JobControl() {
  if (!worker_.Started()) return;
  job_.stopFlag.store(engine::kStopRequested, std::memory_order_relaxed);
  worker_.Join();
  engine::CloseJobFiles(job_);
  engine::WipeJobSecrets(job_);
}

void JobControl::ApplyPresetPrng() {
  if (!settings_.prngSelected) return;
  inputSet_ = true;
  inputPath_.clear();
  prngIndex_ = settings_.prngSize % kPrngSizeCount;
  settings_.prngSize = static_cast<uint8_t>((prngIndex_ + 1) % kPrngSizeCount);
  RefreshPaths();
}

void JobControl::DropPrng() {
  settings_.prngSelected = false;
  settings_.prngSize = 0;
}

void JobControl::RefreshPaths() {
  host_.showPaths(settings_.prngSelected ? PrngSizeText(prngIndex_) : QFile::decodeName(inputPath_),
                  QFile::decodeName(outputPath_));
}

// The job's path buffers hold 259 bytes; a longer name is refused rather than cut.
bool JobControl::AcceptPath(const QString& chosen, const QString& title, QByteArray& path) {
  if (chosen.isEmpty()) return false;  // cancelled: nothing changes
  path = QFile::encodeName(chosen);
  if (path.size() < static_cast<qsizetype>(engine::kPathCapacity)) return true;
  host_.showStatus(title, QString::fromLatin1(kPathTooLong));
  return false;
}

// The names are compared as they stand, byte by byte; the same file under another name is caught
// when the job opens its files.
bool JobControl::SameAsOtherPath(const QByteArray& path, const QByteArray& other) {
  if (path != other) return false;
  prompts_.Message(host_.window,
                   {QString::fromLatin1(kSameFile), QString::fromLatin1(kCaption),
                    panel::PromptIcon::Error, panel::PromptButtons::Ok, panel::PromptAnswer::Ok});
  host_.showStatus(QStringLiteral("Error"), QString::fromLatin1(kSameFile));
  return true;
}

void JobControl::ChooseInput() {
  if (settings_.locks & kLockInput) return;
  ChooseFile(true);
}

void JobControl::ChooseOutput() {
  ChooseFile(false);
}

// A new input drops the pseudo-random choice; a new output keeps it and its size text.
void JobControl::ChooseFile(bool input) {
  host_.parkFocus();
  QByteArray& path = input ? inputPath_ : outputPath_;
  bool& set = input ? inputSet_ : outputSet_;
  const QString title = QString::fromLatin1(input ? kOpenTitle : kSaveTitle);
  const QString chosen = input ? prompts_.OpenFile(host_.window, QFile::decodeName(path))
                               : prompts_.SaveFile(host_.window, QFile::decodeName(path));
  QByteArray newPath;
  if (!AcceptPath(chosen, title, newPath)) return;
  if (input) DropPrng();
  if (SameAsOtherPath(newPath, input ? outputPath_ : inputPath_)) {
    path.clear();
    set = false;
  } else {
    path = newPath;
    set = true;
    host_.showStatus(title, QStringLiteral("Set"));
  }
  RefreshPaths();
  host_.stateChanged();
}

// Each Shift+click offers the next size, from 16 GB round to 64 MB again.
void JobControl::SelectPrng() {
  if (settings_.locks & kLockInput) return;
  host_.parkFocus();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  settings_.prngSelected = true;
  ApplyPresetPrng();
  host_.stateChanged();
  host_.showStatus(QString::fromLatin1(kPrngStatusTitle), QStringLiteral("Set"));
  QApplication::restoreOverrideCursor();
}

void JobControl::ClearInput() {
  if ((settings_.locks & kLockInput) || !inputSet_) return;
  host_.parkFocus();
  DropPrng();
  inputPath_.clear();
  inputSet_ = false;
  RefreshPaths();
  host_.stateChanged();
  host_.showStatus(QString::fromLatin1(kOpenTitle), QStringLiteral("Removed"));
}

void JobControl::ClearOutput() {
  if (!outputSet_) return;
  host_.parkFocus();
  outputPath_.clear();
  outputSet_ = false;
  RefreshPaths();
  host_.stateChanged();
  host_.showStatus(QString::fromLatin1(kSaveTitle), QStringLiteral("Removed"));
}

void JobControl::SetInputChoice(const QString& path) {
  DropPrng();
  inputPath_ = QFile::encodeName(path);
  inputSet_ = !path.isEmpty();
  RefreshPaths();
  host_.stateChanged();
}

void JobControl::SetOutputChoice(const QString& path) {
  outputPath_ = QFile::encodeName(path);
  outputSet_ = !path.isEmpty();
  RefreshPaths();
  host_.stateChanged();
}

void JobControl::SetIdleFlag(bool idle) {
  idle_ = idle;
  host_.stateChanged();
}

QString JobControl::JobTitle() const {
  if (job_.kind == engine::JobKind::Prng) return QString::fromLatin1(kPrngStatusTitle);
  return job_.direction == engine::Direction::Encrypt ? QStringLiteral("Encrypting")
                                                      : QStringLiteral("Decrypting");
}

void JobControl::StartJob() {
  if (!ReadyFlag()) return;
  host_.parkFocus();
  if (!idle_) {  // Start reads "Abort" while a job runs: the worker stops at its next block
    worker_.Abort();
    return;
  }
  job_.host = engine::JobHost::Window;
  job_.kind = settings_.prngSelected ? engine::JobKind::Prng : engine::JobKind::KeyIv;
  job_.direction = settings_.direction;
  job_.keySize = settings_.keySize;
  job_.mode = settings_.mode;
  job_.prngSizeIndex = prngIndex_;
  memset(job_.inputPath, 0, sizeof job_.inputPath);
  memset(job_.outputPath, 0, sizeof job_.outputPath);
  memcpy(job_.inputPath, inputPath_.constData(), static_cast<size_t>(inputPath_.size()));
  memcpy(job_.outputPath, outputPath_.constData(), static_cast<size_t>(outputPath_.size()));
  job_.disposition = engine::Disposition::CreateAlways;  // the Save dialog asked before
  if (!engine::PrepareJobFiles(job_)) return RefuseStart(job_.status);

  host_.fillKeyBytes(job_);
  idle_ = false;
  host_.stateChanged();
  host_.showStatus(JobTitle(), panel::ProgressText(0));
  engine::ResetJobRunState(job_);
  if (worker_.Start(host_.window, job_, RunJobThread)) return;

  // No thread: what the job created goes; an output it was to replace stays.
  engine::DeleteJobOutput(job_);
  engine::WipeJobSecrets(job_);
  idle_ = true;
  host_.stateChanged();
  Refuse(QString::fromLatin1(panel::kNoThreadText), JobTitle());
}

void JobControl::RefuseStart(JobStatus status) {
  QString title = QString::fromLatin1(IsOutputSideFailure(status) ? kSaveTitle : kOpenTitle);
  if (status == JobStatus::SameFile) title = QStringLiteral("Error");
  Refuse(QString::fromLatin1(engine::KeyToolStatusText(status)), title);
}

// The box shows the message without its "Error - "; the status line shows all of it.
void JobControl::Refuse(const QString& message, const QString& title) {
  QString boxText = message;
  if (boxText.startsWith(QStringLiteral("Error - "))) boxText.remove(0, 8);
  prompts_.Message(host_.window, {boxText, QString::fromLatin1(kCaption), panel::PromptIcon::Error,
                                  panel::PromptButtons::Ok, panel::PromptAnswer::Ok});
  host_.showStatus(title, message);
}

void JobControl::OnJobProgress() {
  if (idle_) return;
  const QString text = panel::ProgressText(job_.percent.load(std::memory_order_relaxed));
  host_.showProgress(text);
  host_.window->setWindowTitle(text);
}

bool JobControl::AskToDelete(const QString& text, bool errorIcon) {
  const panel::PromptAnswer answer = prompts_.Message(
      host_.window, {text, QString::fromLatin1(kCaption),
                     errorIcon ? panel::PromptIcon::Error : panel::PromptIcon::None,
                     panel::PromptButtons::YesNo, panel::PromptAnswer::Yes});
  if (answer != panel::PromptAnswer::Yes) {
    engine::CommitJobOutput(job_);  // the partial output takes the name, as the user chose
    return false;
  }
  engine::DeleteJobOutput(job_);  // an output it was to replace stays
  return true;
}

void JobControl::FinishJob() {
  if (idle_) return;
  worker_.Join();
  // A finished run takes the output's name before its box, so that a failing close or rename
  // shows as the write failure it is.
  if (job_.stopFlag.load(std::memory_order_relaxed) == engine::kRunning)
    engine::CommitJobOutput(job_);
  const uint8_t stop = job_.stopFlag.load(std::memory_order_relaxed);
  QString message;
  if (stop == engine::kStopRequested) {
    if (job_.ioError == engine::kNoIoError) {
      AskToDelete(QStringLiteral("             Operation Aborted\r\n"
                                 "Would you like the output file deleted?"),
                  false);
    } else {
      prompts_.Message(host_.window,
                       {QString::fromLatin1(engine::KeyToolStatusText(
                            job_.ioError == engine::kReadFailed ? JobStatus::InputUnreadable
                                                                : JobStatus::OutputUnwritable)),
                        QString::fromLatin1(kCaption), panel::PromptIcon::Error,
                        panel::PromptButtons::Ok, panel::PromptAnswer::Ok});
    }
    message = QStringLiteral("Aborted");
  } else {
    // The caption and status read "Complete" while the box is open.
    job_.percent.store(100, std::memory_order_relaxed);
    OnJobProgress();
    if (stop == engine::kRunning) {
      const bool tagChecked = job_.kind == engine::JobKind::KeyIv &&
                              job_.mode == engine::CipherMode::Gcm &&
                              job_.direction == engine::Direction::Decrypt;
      prompts_.Message(host_.window, {tagChecked ? QStringLiteral("      Operation Complete\r\n"
                                                                  "Authentication Tag Correct")
                                                 : QStringLiteral("   Operation Complete"),
                                      QString::fromLatin1(kCaption), panel::PromptIcon::None,
                                      panel::PromptButtons::Ok, panel::PromptAnswer::Ok});
      message = QStringLiteral("Complete");
    } else {
      AskToDelete(QStringLiteral("GCM Authentication Failure\r\n"
                                 "Incorrect IV / Key or damaged file\r\n\r\n"
                                 "Would you like the output file deleted?"),
                  true);
      message = QStringLiteral("Error - Authentication Failure");
    }
  }
  engine::CloseJobFiles(job_);  // after a failure: an output it was to replace stays
  engine::WipeJobSecrets(job_);
  idle_ = true;
  host_.stateChanged();
  host_.showStatus(JobTitle(), message);
  host_.window->setWindowTitle(QString::fromLatin1(kCaption));
}

}  // namespace keytool
