// The key tool's job control: file choices, the pseudo-random sizes and StartJob.
#include "keytool/job_control.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include "engine/modes.h"
#include "engine/status.h"
#include "keys/random.h"

namespace keytool {

namespace {

constexpr char kCaption[] = "AES Moltra";
constexpr char kSameFile[] = "Input and output can not be the same file";
constexpr char kPathTooLong[] = "Error - The path is longer than 259 bytes";
constexpr char kOpenTitle[] = "Open File";
constexpr char kSaveTitle[] = "Save File As";
constexpr char kWrongTagText[] =
    "GCM Authentication Failure\r\nIncorrect IV / Key or damaged file\r\n\r\n"
    "Would you like the output file deleted?";
constexpr uint8_t kPrngSizeCount = 9;

constexpr const char* kPrngSizeTexts[kPrngSizeCount] = {
    "64 Megabytes of Pseudo Random",  "128 Megabytes of Pseudo Random",
    "256 Megabytes of Pseudo Random", "512 Megabytes of Pseudo Random",
    "1 Gigabyte of Pseudo Random",    "2 Gigabytes of Pseudo Random",
    "4 Gigabytes of Pseudo Random",   "8 Gigabytes of Pseudo Random",
    "16 Gigabytes of Pseudo Random"};

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
    : settings_(settings),
      prompts_(prompts),
      host_(std::move(host)),
      session_(prompts, {host_.window, kCaption, engine::KeyToolStatusText, kWrongTagText,
                         [this](bool) { host_.stateChanged(); }, host_.showStatus,
                         host_.showProgress, nullptr}) {}

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
  session_.Refuse(QString::fromLatin1(kSameFile), QStringLiteral("Error"));
  return true;
}

void JobControl::ChooseInput() {
  if (settings_.locks & kLockInput) return;
  ChooseFile(true);
}

void JobControl::ChooseOutput() {
  ChooseFile(false);
}

// A path given on the command line or dropped: taken as the Open dialog's choice, unless the
// input is frozen or a job runs.
void JobControl::OpenPath(const QString& path) {
  if (!IdleFlag() || (settings_.locks & kLockInput)) return;
  TakeFile(true, path);
}

void JobControl::ChooseFile(bool input) {
  host_.parkFocus();
  const QString initial = QFile::decodeName(input ? inputPath_ : outputPath_);
  TakeFile(input, input ? prompts_.OpenFile(host_.window, initial)
                        : prompts_.SaveFile(host_.window, initial));
}

// A new input drops the pseudo-random choice; a new output keeps it and its size text.
void JobControl::TakeFile(bool input, const QString& chosen) {
  QByteArray& path = input ? inputPath_ : outputPath_;
  bool& set = input ? inputSet_ : outputSet_;
  const QString title = QString::fromLatin1(input ? kOpenTitle : kSaveTitle);
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
  host_.showStatus(QString::fromLatin1(panel::kPrngTitle), QStringLiteral("Set"));
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

// The job as the settings, the pseudo-random choice and the key cells make it.
void JobControl::StartJob() {
  if (!ReadyFlag()) return;
  host_.parkFocus();
  if (session_.Running()) return session_.Abort();  // Start reads "Abort" while a job runs
  engine::CipherJob& job = session_.Job();
  job.kind = settings_.prngSelected ? engine::JobKind::Prng : engine::JobKind::KeyIv;
  job.direction = settings_.direction;
  job.keySize = settings_.keySize;
  job.mode = settings_.mode;
  job.prngSizeIndex = prngIndex_;
  host_.fillKeyBytes(job);
  session_.Start(inputPath_, outputPath_, RunJobThread);
}

}  // namespace keytool
