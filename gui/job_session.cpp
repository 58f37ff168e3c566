// JobSession: Start's checks on the window thread, the run on the worker, progress, Abort and the
// end-of-job boxes.
#include "gui/job_session.h"

#include <string.h>

#include <QWidget>

#include <algorithm>
#include <utility>

#include "engine/modes.h"

namespace panel {

namespace {

constexpr char kAbortedText[] =
    "             Operation Aborted\r\nWould you like the output file deleted?";
constexpr char kCompleteText[] = "   Operation Complete";
constexpr char kTagCorrectText[] = "      Operation Complete\r\nAuthentication Tag Correct";

// The job's buffers hold kPathCapacity - 1 bytes and a terminator; the windows refuse longer names.
void CopyPath(const QByteArray& path, char (&to)[engine::kPathCapacity]) {
  const size_t length = std::min<size_t>(static_cast<size_t>(path.size()), sizeof to - 1);
  memset(to, 0, sizeof to);
  memcpy(to, path.constData(), length);
}

}  // namespace

JobSession::JobSession(Prompts& prompts, JobSessionHost host)
    : prompts_(prompts), host_(std::move(host)) {
  job_.host = engine::JobHost::Window;
}

JobSession::~JobSession() {
  if (worker_.Started()) {
    job_.stopFlag.store(engine::kStopRequested, std::memory_order_relaxed);
    worker_.Join();
    engine::CloseJobFiles(job_);
  }
  WipeSecrets();
}

QString JobSession::Title() const {
  if (job_.kind == engine::JobKind::Prng) return QString::fromLatin1(kPrngTitle);
  return job_.direction == engine::Direction::Decrypt ? QStringLiteral("Decrypting")
                                                      : QStringLiteral("Encrypting");
}

void JobSession::SetRunning(bool running) {
  running_ = running;
  host_.runningChanged(running);
}

void JobSession::WipeSecrets() {
  engine::WipeJobSecrets(job_);
}

void JobSession::WipeJobAndEntries() {
  WipeSecrets();
  if (host_.wipeEntries) host_.wipeEntries();
}

PromptAnswer JobSession::Box(const QString& text, PromptIcon icon, PromptButtons buttons) {
  return prompts_.Message(host_.window,
                          {text, QString::fromLatin1(host_.caption), icon, buttons,
                           buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok});
}

void JobSession::Refuse(const QString& message, const QString& title) {
  const QString prefix = QStringLiteral("Error - ");
  Box(message.startsWith(prefix) ? message.mid(prefix.size()) : message, PromptIcon::Error,
      PromptButtons::Ok);
  host_.showStatus(title, message);
}

void JobSession::Start(const QByteArray& inputPath, const QByteArray& outputPath, JobBody body) {
  CopyPath(inputPath, job_.inputPath);
  CopyPath(outputPath, job_.outputPath);
  job_.disposition = engine::Disposition::CreateAlways;  // the Save dialog asked before
  if (!engine::PrepareJobFiles(job_)) {
    WipeJobAndEntries();
    const engine::JobStatus status = job_.status;
    QString title = QStringLiteral("Open File");
    if (status == engine::JobStatus::OutputUnwritable || status == engine::JobStatus::NoSpace)
      title = QStringLiteral("Save File As");
    if (status == engine::JobStatus::SameFile)  // as when the same file is chosen twice by name
      title = QStringLiteral("Error");
    return Refuse(QString::fromLatin1(host_.statusText(status)), title);
  }

  SetRunning(true);
  host_.showStatus(Title(), ProgressText(0));
  // From here an Abort at any moment reaches the worker.
  engine::ResetJobRunState(job_);
  if (worker_.Start(host_.window, job_, body)) return;

  // No thread: what the job created goes; an output it was to replace stays.
  engine::DeleteJobOutput(job_);
  WipeJobAndEntries();
  SetRunning(false);
  Refuse(QString::fromLatin1(kNoThreadText), Title());
}

void JobSession::Abort() {
  if (running_) worker_.Abort();
}

void JobSession::OnProgress() {
  if (!running_) return;
  const QString text = ProgressText(job_.percent.load(std::memory_order_relaxed));
  host_.showProgress(text);
  host_.window->setWindowTitle(text);
}

void JobSession::OfferDeletion(const QString& text, PromptIcon icon) {
  if (Box(text, icon, PromptButtons::YesNo) == PromptAnswer::Yes) {
    engine::DeleteJobOutput(job_);  // an output it was to replace stays
  } else {
    engine::CommitJobOutput(job_);  // the partial output takes the name, as the user chose
  }
}

void JobSession::Finish() {
  if (!running_) return;
  worker_.Join();
  // A finished run takes the output's name before its box, so that a failing close or rename
  // shows as the write failure it is.
  if (job_.stopFlag.load(std::memory_order_relaxed) == engine::kRunning)
    engine::CommitJobOutput(job_);
  // The run is over: nothing needs the key or the passphrase any more.
  WipeJobAndEntries();

  const auto stop = job_.stopFlag.load(std::memory_order_relaxed);
  QString result;
  if (stop == engine::kStopRequested) {
    result = QStringLiteral("Aborted");
    if (job_.ioError == engine::kNoIoError) {
      OfferDeletion(QString::fromLatin1(kAbortedText), PromptIcon::None);
    } else {  // a new output keeps its partial bytes; an output it was to replace stays
      const engine::JobStatus failure = job_.ioError == engine::kReadFailed
                                            ? engine::JobStatus::InputUnreadable
                                            : engine::JobStatus::OutputUnwritable;
      Box(QString::fromLatin1(host_.statusText(failure)), PromptIcon::Error, PromptButtons::Ok);
    }
  } else {
    // Shown at once rather than posted, so the box below opens over "Complete" whether or not
    // the box runs an event loop of its own.
    job_.percent.store(100, std::memory_order_relaxed);
    OnProgress();
    if (stop == engine::kWrongTag) {
      OfferDeletion(QString::fromLatin1(host_.wrongTagText), PromptIcon::Error);
      result = QString::fromLatin1(host_.statusText(engine::JobStatus::WrongTag));
    } else {
      // Only a key-and-IV GCM decryption names its tag check; a sealed file's box stays plain.
      const bool tagChecked = job_.kind == engine::JobKind::KeyIv &&
                              engine::Traits(job_.mode).tagged &&
                              job_.direction == engine::Direction::Decrypt;
      Box(QString::fromLatin1(tagChecked ? kTagCorrectText : kCompleteText), PromptIcon::None,
          PromptButtons::Ok);
      result = QStringLiteral("Complete");
    }
  }
  engine::CloseJobFiles(job_);  // after a failure: an output it was to replace stays
  SetRunning(false);
  host_.showStatus(Title(), result);
  host_.window->setWindowTitle(QString::fromLatin1(host_.caption));
}

}  // namespace panel
