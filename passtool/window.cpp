// PassphraseWindow: controls built from the layout table, the painted background, colours, file
// choices, the passphrase match and the command dispatcher.
#include "passtool/window.h"

#include <string.h>

#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegion>
#include <QSignalBlocker>
#include <QValidator>

#include <algorithm>
#include <functional>
#include <utility>

#include "engine/aes.h"
#include "engine/status.h"
#include "engine/wipe.h"
#include "gui/job_session.h"
#include "gui/window_input.h"
#include "passtool/job_control.h"
#include "passtool/window_layout.h"

// Resources of a static library must be registered by name, outside any namespace.
static void RegisterPassphraseToolResources() {
  Q_INIT_RESOURCE(aespraxel);
}

namespace passtool {

namespace {

using layout::ControlClass;
using panel::PromptAnswer;
using panel::PromptButtons;
using panel::PromptIcon;

constexpr char kExitQuestion[] = "            Are You Sure?";
constexpr char kExitCaption[] = " Exit Confirmation";
constexpr char kPathTooLong[] = "The path is too long: at most 259 bytes";
constexpr char kPassphraseTooLong[] = "Error - The passphrase would be longer than 512 bytes";
constexpr char kFirstTitle[] = "First Passphrase";
constexpr char kSecondTitle[] = "Second Passphrase";

// The UTF-8 form of `text`, into `entry` (at most kMaxPassphrase bytes); the temporary copy is
// overwritten before it is freed.
void ReadEntry(const QString& text, PassphraseEntry& entry) {
  QByteArray bytes = text.toUtf8();
  const size_t length = std::min<size_t>(static_cast<size_t>(bytes.size()), engine::kMaxPassphrase);
  engine::WipeBytes(entry.bytes, sizeof entry.bytes);
  memcpy(entry.bytes, bytes.constData(), length);
  entry.length = static_cast<uint32_t>(length);
  engine::WipeBytes(bytes.data(), static_cast<size_t>(bytes.size()));
}

// A passphrase edit, its text limited to the UTF-8 bytes the key derivation takes: a passphrase
// is 1 to 512 bytes, whatever characters make it up. A key typed past the limit is refused
// quietly, as a full edit refuses one; text that comes in at once (a paste, a drop, an input
// method) and would not fit is refused whole and reported, so a passphrase is never cut short
// without the user knowing. No character limit is set: the edit would cut a paste to it first.
class PassphraseEdit : public QLineEdit {
 public:
  PassphraseEdit(std::function<void()> refusedInsert, QWidget* parent)
      : QLineEdit(parent), refusedInsert_(std::move(refusedInsert)) {
    setValidator(new ByteLimit(*this));
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    typing_ = !event->matches(QKeySequence::Paste);
    QLineEdit::keyPressEvent(event);
    typing_ = false;
  }

 private:
  class ByteLimit : public QValidator {
   public:
    explicit ByteLimit(PassphraseEdit& edit) : QValidator(&edit), edit_(edit) {}
    State validate(QString& input, int&) const override {
      QByteArray bytes = input.toUtf8();
      const bool fits = static_cast<size_t>(bytes.size()) <= engine::kMaxPassphrase;
      engine::WipeBytes(bytes.data(), static_cast<size_t>(bytes.size()));
      if (!fits && !edit_.typing_) edit_.refusedInsert_();
      return fits ? Acceptable : Invalid;
    }

   private:
    PassphraseEdit& edit_;
  };

  std::function<void()> refusedInsert_;
  bool typing_ = false;
};

QLineEdit* CreatePassphraseEdit(const layout::ControlEntry& c, std::function<void()> refusedInsert,
                                const QFont& font, QWidget* parent) {
  auto* edit = new PassphraseEdit(std::move(refusedInsert), parent);
  edit->setFrame(false);
  edit->setFocusPolicy(Qt::StrongFocus);  // the only tab stops
  edit->setFont(font);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, panel::kBoxColour);  // opaque, in the box's colour
  edit->setPalette(palette);
  edit->setObjectName(panel::ControlName(c.id));
  edit->setGeometry(c.left, c.top, c.width, c.height);
  // The box's edges above and below stay free of the edit's drawing.
  const int box = layout::kPassphraseBoxWidth;
  edit->setMask(
      QRegion(edit->rect()).subtracted(QRegion(0, 0, box, 2)).subtracted(QRegion(0, 18, box, 2)));
  return edit;
}

}  // namespace

PassphraseWindow::PassphraseWindow(panel::Prompts& prompts, QWidget* parent)
    : QWidget(parent, panel::kFixedWindowFlags), prompts_(prompts) {
  RegisterPassphraseToolResources();
  panel::SetUpFixedWindow(*this, kWindowClassName, kCaption, QStringLiteral(":/aespraxel.png"),
                          kClientWidth, kClientHeight, kLookHeight / 2);

  CreateControls();
  PaintPanelLook();
  status_ = std::make_unique<panel::StatusRow>(
      labels_[kStatusLine1Id], labels_[kStatusLine2Id], QString::fromLatin1(kStatusTitle),
      QString::fromLatin1(kInfoLine), [this] { return idle_; });
  job_ = std::make_unique<panel::JobSession>(prompts_, SealedJobHost(*this));
  firstEdit_->setFocus(Qt::OtherFocusReason);
  idle_ = true;
  EvaluatePassphrases();
  new panel::FileDrop(
      *this, [this] { return idle_; }, [this](const QString& path) { OpenPath(path); });
  panel::AddShortcuts(*this, layout::kShortcuts);
}

PassphraseWindow::~PassphraseWindow() {
  job_.reset();  // a running job ends before the controls it reports to
  WipeEntries();
}

void PassphraseWindow::CreateControls() {
  const QFont labelFont = panel::LabelFont();
  const QFont digitFont = panel::DigitFont();
  for (const layout::ControlEntry& c : layout::kControls) {
    const QRect place(c.left, c.top, c.width, c.height);
    QWidget* made = nullptr;
    switch (c.kind) {
      case ControlClass::Sink:
        sink_ = panel::CreateFocusSink(c.id, place, this);
        break;
      case ControlClass::Static: {
        const bool digits = c.id == kFirstLengthId || c.id == kSecondLengthId;
        QLabel* label = panel::CreateStatic(c.id, QString::fromLatin1(c.text),
                                            c.style & layout::kNotify, c.style & layout::kCentre,
                                            place, digits ? digitFont : labelFont, this);
        if (auto* button = qobject_cast<panel::StaticButton*>(label))
          connect(button, &panel::StaticButton::Clicked, this, [this](int id) { OnCommand(id); });
        made = labels_[c.id] = label;
        break;
      }
      case ControlClass::PathEdit:
        made = (c.id == kInputPathId ? inputEdit_ : outputEdit_) =
            panel::CreatePathEdit(c.id, place, layout::kPathBoxWidth, labelFont, this);
        break;
      case ControlClass::PassphraseEdit: {
        const QString title =
            QString::fromLatin1(c.id == kFirstPassphraseId ? kFirstTitle : kSecondTitle);
        QLineEdit* edit = CreatePassphraseEdit(
            c, [this, title] { ShowStatus(title, QString::fromLatin1(kPassphraseTooLong)); },
            labelFont, this);
        connect(edit, &QLineEdit::textChanged, this, [this, id = c.id] { OnCommand(id); });
        made = (c.id == kFirstPassphraseId ? firstEdit_ : secondEdit_) = edit;
        break;
      }
    }
    if (made != nullptr && c.name != nullptr) made->setAccessibleName(QString::fromLatin1(c.name));
  }
  // Created after the controls, so it is destroyed after them too.
  echoStyle_ = new panel::DashEchoStyle;
  echoStyle_->setParent(this);
  for (QLineEdit* edit : {inputEdit_, outputEdit_, firstEdit_, secondEdit_})
    edit->setStyle(echoStyle_);
}

void PassphraseWindow::PaintPanelLook() {
  look_ = QPixmap(kClientWidth, kLookHeight);
  {
    QPainter painter(&look_);
    panel::FillArea(painter, 0, 0, kClientWidth, kLookHeight, panel::kFieldColour);
    panel::DrawWorkFrame(painter, layout::kFrameRight, layout::kFrameBottom);
    panel::DrawControlBoxes(painter, layout::kControlBoxes);
  }
  // The output row and the second passphrase row get the boxes of the rows above them.
  panel::CopyArea(look_, 14, 55, 540, 20, 14, 83);
  panel::CopyArea(look_, 14, 131, 540, 20, 14, 158);
  QPainter painter(&look_);
  panel::DrawStatusBoxes(painter, layout::kStatusBoxes);
}

void PassphraseWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, look_);
}

void PassphraseWindow::RefreshColours() {
  panel::SetTextColour(labels_[kDirectionId], direction_ == engine::Direction::Decrypt
                                                  ? panel::kTextDecrypt
                                                  : panel::kTextNormal);
  panel::SetTextColour(labels_[kStartId],
                       ReadyFlag() && idle_ ? panel::kTextReady : panel::kTextNotReady);
  panel::SetTextColour(labels_[kPromptId], panel::kTextLabel);
  // During a job the read-only entries are green; Start only began with them matching.
  const QColor entries = match_ || !idle_ ? panel::kTextReady : panel::kTextNotReady;
  panel::SetTextColour(firstEdit_, entries);
  panel::SetTextColour(secondEdit_, entries);
}

void PassphraseWindow::ShowStatus(const QString& title, const QString& message) {
  status_->ShowStatus(title, message);
}

void PassphraseWindow::ShowProgress(const QString& text) {
  labels_[kStatusLine2Id]->setText(text);
}

void PassphraseWindow::ParkFocus() {
  panel::ParkFocus(sink_, nullptr);
  parked_ = true;
}

void PassphraseWindow::OnCommand(int id) {
  if (!idle_ && id != kStartId) return;  // during a job only Start (then Abort) counts
  switch (id) {
    case kConfidentialId:
      ToggleConfidential();
      break;
    case kDirectionId:
      ParkFocus();
      direction_ = direction_ == engine::Direction::Encrypt ? engine::Direction::Decrypt
                                                            : engine::Direction::Encrypt;
      labels_[kDirectionId]->setText(direction_ == engine::Direction::Decrypt
                                         ? QStringLiteral("Decrypt")
                                         : QStringLiteral("Encrypt"));
      RefreshColours();
      ShowStatus(QStringLiteral("Command"), labels_[kDirectionId]->text());
      break;
    case kOpenId:
    case kSaveAsId:
      ChooseFile(id == kOpenId);
      break;
    case kClearInputId:
    case kClearOutputId:
      RemoveFile(id == kClearInputId);
      break;
    case kClearFirstId:
      ClearEntry(firstEdit_, kFirstTitle);
      break;
    case kClearSecondId:
      ClearEntry(secondEdit_, kSecondTitle);
      break;
    case kFirstPassphraseId:
    case kSecondPassphraseId:
      EvaluatePassphrases();
      break;
    case kStartId:
      if (!ReadyFlag()) return;
      ParkFocus();
      if (job_->Running()) {
        job_->Abort();
      } else {
        EvaluatePassphrases();  // the buffers were wiped when the last job ended
        StartSealedJob(*job_, direction_, inputPath_, outputPath_, first_);
      }
      break;
    default:
      break;
  }
}

void PassphraseWindow::ToggleConfidential() {
  confidential_ = !confidential_;
  ParkFocus();
  const QLineEdit::EchoMode echo = confidential_ ? QLineEdit::Password : QLineEdit::Normal;
  for (QLineEdit* edit : {inputEdit_, outputEdit_, firstEdit_, secondEdit_})
    edit->setEchoMode(echo);
  labels_[kConfidentialId]->setText(confidential_ ? QStringLiteral("Show")
                                                  : QStringLiteral("Hide"));
  ShowStatus(QStringLiteral("Confidential Mode"),
             confidential_ ? QStringLiteral("On") : QStringLiteral("Off"));
  EvaluatePassphrases();
}

void PassphraseWindow::OpenPath(const QString& path) {
  if (idle_) TakeFile(true, path);
}

void PassphraseWindow::ChooseFile(bool input) {
  ParkFocus();
  const QString initial = QFile::decodeName(input ? inputPath_ : outputPath_);
  TakeFile(input, input ? prompts_.OpenFile(this, initial) : prompts_.SaveFile(this, initial));
}

void PassphraseWindow::TakeFile(bool input, const QString& chosen) {
  if (chosen.isEmpty()) return;  // cancelled
  PathBytes& path = input ? inputPath_ : outputPath_;
  const QByteArray bytes = QFile::encodeName(chosen);
  if (bytes.size() >= static_cast<qsizetype>(engine::kPathCapacity)) {
    // The job holds 259 bytes; a shortened path would name another file. Like a cancel, the
    // earlier choice stays.
    prompts_.Message(this, {QString::fromLatin1(kPathTooLong), QString::fromLatin1(kCaption),
                            PromptIcon::Error, PromptButtons::Ok, PromptAnswer::Ok});
    ShowStatus(QStringLiteral("Error"), QString::fromLatin1(kPathTooLong));
    return;
  }
  bool& set = input ? inputSet_ : outputSet_;
  if (bytes == (input ? outputPath_ : inputPath_)) {  // byte for byte: the last choice goes
    path.clear();
    set = false;
    const QString sameFile =
        QString::fromLatin1(engine::PassphraseToolStatusText(engine::JobStatus::SameFile));
    prompts_.Message(this, {sameFile, QString::fromLatin1(kCaption), PromptIcon::Error,
                            PromptButtons::Ok, PromptAnswer::Ok});
    ShowStatus(QStringLiteral("Error"), sameFile);
  } else {
    path = bytes;
    set = true;
    ShowStatus(input ? QStringLiteral("Open File") : QStringLiteral("Save File As"),
               QStringLiteral("Set"));
  }
  RefreshPaths();
  RefreshColours();
}

void PassphraseWindow::RemoveFile(bool input) {
  bool& set = input ? inputSet_ : outputSet_;
  if (!set) return;
  (input ? inputPath_ : outputPath_).clear();
  set = false;
  RefreshPaths();
  ParkFocus();
  ShowStatus(input ? QStringLiteral("Open File") : QStringLiteral("Save File As"),
             QStringLiteral("Removed"));
  RefreshColours();
}

void PassphraseWindow::RefreshPaths() {
  inputEdit_->setText(QFile::decodeName(inputPath_));
  outputEdit_->setText(QFile::decodeName(outputPath_));
}

void PassphraseWindow::ClearEntry(QLineEdit* edit, const char* title) {
  if (edit->text().isEmpty()) return;
  edit->setText(QString());  // unlike clear(), leaves nothing to undo
  ParkFocus();
  ShowStatus(QString::fromLatin1(title), QStringLiteral("Removed"));
  EvaluatePassphrases();
}

void PassphraseWindow::EvaluatePassphrases() {
  const auto lengthText = [this](uint32_t length) {
    return confidential_ ? QStringLiteral("---")
                         : QStringLiteral("%1").arg(length, 3, 10, QChar(u'0'));
  };
  ReadEntry(firstEdit_->text(), first_);
  labels_[kFirstLengthId]->setText(lengthText(first_.length));
  ReadEntry(secondEdit_->text(), second_);
  labels_[kSecondLengthId]->setText(lengthText(second_.length));
  match_ = first_.length != 0 && first_.length == second_.length &&
           memcmp(first_.bytes, second_.bytes, first_.length) == 0;
  RefreshColours();
}

void PassphraseWindow::WipeEntries() {
  engine::WipeBytes(&first_, sizeof first_);
  engine::WipeBytes(&second_, sizeof second_);
}

void PassphraseWindow::SetJobRunning(bool running) {
  idle_ = !running;
  for (QLineEdit* edit : {firstEdit_, secondEdit_}) {
    if (running) {
      const QSignalBlocker quiet(edit);
      edit->setText(edit->text());  // empties the undo history
    }
    edit->setReadOnly(running);
  }
  labels_[kStartId]->setText(running ? QStringLiteral("Abort") : QStringLiteral("Start"));
  RefreshColours();
}

bool PassphraseWindow::event(QEvent* event) {
  if (event->type() == panel::kJobProgressMessage) {
    job_->OnProgress();
    return true;
  }
  if (event->type() == panel::kJobFinishedMessage) {
    job_->Finish();
    return true;
  }
  // WM_SETFOCUS while idle: once a command has parked the focus on the sink, coming back to
  // the window puts it there again.
  if (event->type() == QEvent::WindowActivate && idle_ && parked_)
    sink_->setFocus(Qt::ActiveWindowFocusReason);
  return QWidget::event(event);
}

void PassphraseWindow::closeEvent(QCloseEvent* event) {
  if (!idle_) {  // a running job keeps the window open
    event->ignore();
    return;
  }
  const PromptAnswer answer =
      prompts_.Message(this, {QString::fromLatin1(kExitQuestion), QString::fromLatin1(kExitCaption),
                              PromptIcon::None, PromptButtons::YesNo, PromptAnswer::No});
  if (answer != PromptAnswer::Yes) {
    event->ignore();
    return;
  }
  WipeEntries();
  job_->WipeSecrets();
  event->accept();
}

std::unique_ptr<PassphraseWindow> StartPassphraseTool(const engine::CpuFeatures& features,
                                                      panel::Prompts& prompts) {
  if (!engine::PassesProcessorCheck(features)) {
    prompts.Message(nullptr,
                    {QString::fromLatin1(engine::kProcessorRefusal), QStringLiteral("Error"),
                     PromptIcon::Error, PromptButtons::Ok, PromptAnswer::Ok});
    return nullptr;
  }
  engine::SelectAesEncryptOnly(features);  // a sealed file only ever runs AES forward
  engine::BuildAesTables();
  return std::make_unique<PassphraseWindow>(prompts);
}

}  // namespace passtool
