// PassphraseJob: Start's checks on the window thread, the sealed run on the worker, progress, and
// the end-of-job boxes.
#include "passtool/job_control.h"

#include <string.h>

#include <algorithm>

#include "engine/modes.h"
#include "engine/status.h"
#include "keys/sealed.h"
#include "passtool/window.h"

namespace passtool {

namespace {

using panel::PromptAnswer;
using panel::PromptButtons;
using panel::PromptIcon;

constexpr char kAbortedText[] =
    "             Operation Aborted\r\nWould you like the output file deleted?";
constexpr char kWrongTagText[] =
    "Decryption Failure\r\nIncorrect passphrase or damaged file\r\n\r\n"
    "Would you like the output file deleted?";
constexpr char kCompleteText[] = "   Operation Complete";

void CopyPath(const QByteArray& path, char (&to)[engine::kPathCapacity]) {
  const size_t length = std::min<size_t>(static_cast<size_t>(path.size()), sizeof to - 1);
  memcpy(to, path.constData(), length);
  to[length] = '\0';
}

QString Text(engine::JobStatus status) {
  return QString::fromLatin1(engine::PassphraseToolStatusText(status));
}

// The box shows the text without its "Error - ", the status line the whole of it.
Refusal MakeRefusal(const QString& text, const QString& title) {
  const QString prefix = QStringLiteral("Error - ");
  return {text.startsWith(prefix) ? text.mid(prefix.size()) : text, title, text};
}

}  // namespace

Refusal RefusalFor(engine::JobStatus status) {
  switch (status) {
    case engine::JobStatus::SameFile:  // as when the same file is chosen twice by name
      return MakeRefusal(Text(status), QStringLiteral("Error"));
    case engine::JobStatus::OutputUnwritable:
    case engine::JobStatus::NoSpace:
      return MakeRefusal(Text(status), QStringLiteral("Save File As"));
    default:
      return MakeRefusal(Text(status), QStringLiteral("Open File"));
  }
}

PassphraseJob::PassphraseJob(PassphraseWindow& window, panel::Prompts& prompts)
    : window_(window), prompts_(prompts) {}

PassphraseJob::~PassphraseJob() {
  if (running_) {
    job_.stopFlag.store(engine::kStopRequested, std::memory_order_relaxed);
    worker_.Join();
    engine::CloseJobFiles(job_);
  }
  WipeSecrets();
}

QString PassphraseJob::Title() const {
  return job_.direction == engine::Direction::Decrypt ? QStringLiteral("Decrypting")
                                                      : QStringLiteral("Encrypting");
}

void PassphraseJob::Refuse(const Refusal& refusal) {
  prompts_.Message(&window_, {refusal.boxText, QString::fromLatin1(kCaption), PromptIcon::Error,
                              PromptButtons::Ok, PromptAnswer::Ok});
  window_.ShowStatus(refusal.statusTitle, refusal.statusText);
}

void PassphraseJob::Start(engine::Direction direction, const QByteArray& inputPath,
                          const QByteArray& outputPath, const PassphraseEntry& passphrase) {
  job_.host = engine::JobHost::Window;
  keys::SetUpSealedJob(job_);
  job_.direction = direction;
  job_.disposition = engine::Disposition::CreateAlways;  // the save dialog has asked
  CopyPath(inputPath, job_.inputPath);
  CopyPath(outputPath, job_.outputPath);
  memcpy(job_.passphrase, passphrase.bytes, passphrase.length);
  job_.passphraseLength = passphrase.length;
  if (!engine::PrepareJobFiles(job_)) {
    WipeSecrets();
    window_.WipeEntries();
    Refuse(RefusalFor(job_.status));
    return;
  }

  running_ = true;
  window_.SetJobRunning(true);
  window_.ShowStatus(Title(), panel::ProgressText(0));
  // From here an Abort at any moment reaches the worker.
  engine::ResetJobRunState(job_);
  const panel::JobBody body =
      direction == engine::Direction::Decrypt ? keys::DecryptV1File : keys::EncryptV1File;
  if (worker_.Start(&window_, job_, body)) return;

  // No thread: what the job created goes; an output it was to replace stays.
  engine::DeleteJobOutput(job_);
  WipeSecrets();
  window_.WipeEntries();
  running_ = false;
  window_.SetJobRunning(false);
  Refuse(MakeRefusal(QString::fromLatin1(panel::kNoThreadText), Title()));
}

void PassphraseJob::Abort() {
  if (running_) worker_.Abort();
}

void PassphraseJob::OnProgress() {
  if (running_) window_.ShowProgress(panel::ProgressText(job_.percent.load()));
}

void PassphraseJob::Finish() {
  if (!running_) return;
  worker_.Join();
  // A finished run takes the output's name before its box, so that a failing close or rename
  // shows as the write failure it is.
  if (job_.stopFlag.load(std::memory_order_relaxed) == engine::kRunning)
    engine::CommitJobOutput(job_);
  // The run is over: nothing needs the key or the passphrase any more.
  WipeSecrets();
  window_.WipeEntries();

  const uint8_t stop = job_.stopFlag.load(std::memory_order_relaxed);
  const QString caption = QString::fromLatin1(kCaption);
  PromptAnswer answer = PromptAnswer::Ok;  // Yes or No once the deletion has been offered
  QString result;
  if (stop == engine::kStopRequested) {
    result = QStringLiteral("Aborted");
    if (job_.ioError == engine::kNoIoError) {
      answer =
          prompts_.Message(&window_, {QString::fromLatin1(kAbortedText), caption, PromptIcon::None,
                                      PromptButtons::YesNo, PromptAnswer::Yes});
    } else {  // a new output keeps its partial bytes; an output it was to replace stays
      const engine::JobStatus failure = job_.ioError == engine::kReadFailed
                                            ? engine::JobStatus::InputUnreadable
                                            : engine::JobStatus::OutputUnwritable;
      prompts_.Message(&window_, {Text(failure), caption, PromptIcon::Error, PromptButtons::Ok,
                                  PromptAnswer::Ok});
    }
  } else {
    // Shown at once rather than posted, so the box below opens over "Complete" whether or not
    // the box runs an event loop of its own.
    job_.percent.store(100);
    OnProgress();
    if (stop == engine::kWrongTag) {
      answer =
          prompts_.Message(&window_, {QString::fromLatin1(kWrongTagText), caption,
                                      PromptIcon::Error, PromptButtons::YesNo, PromptAnswer::Yes});
      result = Text(engine::JobStatus::WrongTag);
    } else {
      prompts_.Message(&window_, {QString::fromLatin1(kCompleteText), caption, PromptIcon::None,
                                  PromptButtons::Ok, PromptAnswer::Ok});
      result = QStringLiteral("Complete");
    }
  }
  if (answer == PromptAnswer::Yes) {
    engine::DeleteJobOutput(job_);  // an output it was to replace stays
  } else if (answer == PromptAnswer::No) {
    engine::CommitJobOutput(job_);  // the partial output takes the name, as the user chose
  }
  engine::CloseJobFiles(job_);  // after a failure: an output it was to replace stays

  running_ = false;
  window_.SetJobRunning(false);
  window_.ShowStatus(Title(), result);
  window_.setWindowTitle(caption);
}

void PassphraseJob::WipeSecrets() {
  engine::WipeJobSecrets(job_);
}

}  // namespace passtool
