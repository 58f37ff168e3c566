// KeyToolWindow: controls built from the layout tables, the painted background, colours, commands.
#include "keytool/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>

#include "engine/aes.h"
#include "gui/window_input.h"
#include "keytool/key_panel.h"
#include "keytool/window_layout.h"

// Resources of a static library must be registered by name, outside any namespace.
static void RegisterKeyToolResources() {
  Q_INIT_RESOURCE(aesmoltra);
}

namespace keytool {

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::KeySize;
using layout::ControlClass;
using layout::kCentre;
using layout::kControlBoxes;
using layout::kControls;
using layout::kKeyBits;
using layout::kModeTrackRow;
using layout::kNotify;
using layout::kStatusBoxes;
using layout::kVisible;
using layout::ModeGroupLeft;

}  // namespace

KeyToolWindow::KeyToolWindow(KeyToolSettings& settings, engine::AccelerationSetting& acceleration,
                             const engine::CpuFeatures& features, panel::Prompts& prompts,
                             QWidget* parent)
    : QWidget(parent, panel::kFixedWindowFlags),
      settings_(settings),
      acceleration_(acceleration),
      features_(features),
      prompts_(prompts),
      keyPanel_(
          settings, prompts,
          {this, [this] { return IdleFlag(); }, [this] { ParkFocus(); },
           [this](const QString& title, const QString& message) { ShowStatus(title, message); }}),
      jobs_(settings, prompts,
            {this, [this] { ParkFocus(); },
             [this](const QString& title, const QString& message) { ShowStatus(title, message); },
             [this](const QString& text) { labels_[kStatusLine2Id]->setText(text); },
             [this](const QString& input, const QString& output) {
               inputPath_->setText(input);
               outputPath_->setText(output);
             },
             [this] { OnJobStateChanged(); },
             [this](engine::CipherJob& job) { keyPanel_.ReadJobBytes(job.iv, job.key); }}) {
  RegisterKeyToolResources();
  panel::SetUpFixedWindow(*this, kWindowClassName, kCaption, QStringLiteral(":/aesmoltra.png"),
                          kClientWidth, kClientHeight, kLookHeight / 2);

  CreateControls();
  PaintPanelLook();
  status_ = std::make_unique<panel::StatusRow>(
      labels_[kStatusLine1Id], labels_[kStatusLine2Id], QString::fromLatin1(kStatusTitle),
      QString::fromLatin1(kInfoLine), [this] { return IdleFlag(); });
  focusConnection_ = connect(qApp, &QApplication::focusChanged, this,
                             [this](QWidget* old, QWidget* now) { OnFocusChanged(old, now); });

  keyPanel_.ApplyVisibility();
  keyPanel_.Cell(0)->setFocus(Qt::OtherFocusReason);
  remembered_ = keyPanel_.Cell(0);
  RefreshSettingTexts();
  jobs_.ApplyPresetPrng();
  RefreshColours();
  new panel::FileDrop(
      *this, [this] { return IdleFlag() && !(settings_.locks & kLockInput); },
      [this](const QString& path) { OpenPath(path); });
  panel::AddShortcuts(*this, layout::kShortcuts);
}

// The controls are deleted by the QWidget destructor, after this object stopped being a
// KeyToolWindow; the focus moves they cause must not reach OnFocusChanged any more.
KeyToolWindow::~KeyToolWindow() {
  disconnect(focusConnection_);
}

void KeyToolWindow::CreateControls() {
  const QFont labelFont = panel::LabelFont();
  const QFont digitFont = panel::DigitFont();
  for (const layout::ControlEntry& c : kControls) {
    const QRect place(c.left, c.top, c.width, c.height);
    QWidget* made = nullptr;
    if (c.kind == ControlClass::Sedit) {
      DigitCell* cell = new DigitCell(c.id, keyPanel_, this);
      cell->setFont(digitFont);
      cell->setObjectName(ControlName(c.id));
      cell->setGeometry(place);
      keyPanel_.AttachCell(cell);
      const int index = cell->Index();  // counted from 1 within its field
      cell->setAccessibleName(index < kFirstKeyCell
                                  ? QStringLiteral("IV digit %1").arg(index + 1)
                                  : QStringLiteral("Key digit %1").arg(index - kFirstKeyCell + 1));
    } else if (c.kind == ControlClass::Edit) {
      made = (c.id == kInputPathId ? inputPath_ : outputPath_) =
          panel::CreatePathEdit(c.id, place, layout::kPathBoxWidth, labelFont, this);
    } else if (!(c.style & kVisible)) {
      sink_ = panel::CreateFocusSink(c.id, place, this);
    } else {
      // "Open" reports no clicks, its presses reach the window; it still acts as a button.
      QLabel* label =
          panel::CreateStatic(c.id, QString::fromLatin1(c.text), c.style & kNotify,
                              c.style & kCentre, place, labelFont, this, c.id == kOpenId);
      if (auto* button = qobject_cast<panel::StaticButton*>(label))
        connect(button, &panel::StaticButton::Clicked, this, [this](int id) { OnCommand(id); });
      made = labels_[c.id] = label;
    }
    if (made != nullptr && c.name != nullptr) made->setAccessibleName(QString::fromLatin1(c.name));
  }
  // Created after the controls, so it is destroyed after them too.
  echoStyle_ = new panel::DashEchoStyle;
  echoStyle_->setParent(this);
  for (int i = 0; i < kCellCount; ++i)
    keyPanel_.Cell(i)->setStyle(echoStyle_);
  inputPath_->setStyle(echoStyle_);
  outputPath_->setStyle(echoStyle_);
}

void KeyToolWindow::PaintPanelLook() {
  look_ = QPixmap(kClientWidth, kLookHeight);
  {
    QPainter painter(&look_);
    panel::FillArea(painter, 0, 0, kClientWidth, kLookHeight, panel::kFieldColour);
    panel::DrawWorkFrame(painter, layout::kFrameRight, layout::kFrameBottom);
    panel::DrawControlBoxes(painter, kControlBoxes);
  }
  // The key panel: the button boxes and IV byte row, then the first key byte row.
  panel::CopyArea(look_, 14, 111, 541, 40, 14, 179);
  panel::CopyArea(look_, 138, 131, 421, 20, 138, 179);
  QPainter painter(&look_);
  panel::DrawStatusBoxes(painter, kStatusBoxes);
  for (int g = 0; g < engine::kModeCount; ++g) {
    const int left = ModeGroupLeft(static_cast<CipherMode>(g));
    panel::FillArea(painter, left, kModeTrackRow, left + 5, kModeTrackRow + 1, panel::kTrackColour);
  }
}

void KeyToolWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, look_);
  painter.fillRect(QRect(ModeGroupLeft(settings_.mode), kModeTrackRow, 5, 1), Qt::black);
}

void KeyToolWindow::RefreshSettingTexts() {
  const int mode = static_cast<int>(settings_.mode);
  const int bits = kKeyBits[static_cast<int>(settings_.keySize)];
  labels_[kConfidentialId]->setText(settings_.confidential ? QStringLiteral("Show")
                                                           : QStringLiteral("Hide"));
  labels_[kDirectionId]->setText(settings_.direction == Direction::Decrypt
                                     ? QStringLiteral("Decrypt")
                                     : QStringLiteral("Encrypt"));
  labels_[kKeySizeId]->setText(QStringLiteral("%1 Bits").arg(bits));
  labels_[kKeyLabelId]->setText(QStringLiteral("%1 Bit Key").arg(bits));
  labels_[kModeId]->setText(QString::fromLatin1(engine::kModeTable[mode].name));
  labels_[kAccelIndicatorId]->setText(QString::fromLatin1(acceleration_.text));
  const QLineEdit::EchoMode echo = settings_.confidential ? QLineEdit::Password : QLineEdit::Normal;
  for (int i = 0; i < kCellCount; ++i)
    keyPanel_.Cell(i)->setEchoMode(echo);
  inputPath_->setEchoMode(echo);
  outputPath_->setEchoMode(echo);
  RefreshColours();
  update(ModeGroupLeft(CipherMode::Ctr), kModeTrackRow, 6 * engine::kModeCount,
         1);  // the mode dash
}

void KeyToolWindow::RefreshColours() {
  panel::SetTextColour(labels_[kDirectionId], settings_.direction == Direction::Decrypt
                                                  ? panel::kTextDecrypt
                                                  : panel::kTextNormal);
  panel::SetTextColour(labels_[kStartId],
                       ReadyFlag() && IdleFlag() ? panel::kTextReady : panel::kTextNotReady);
  // In ECB the IV buttons take the box colour and vanish without moving.
  const QColor ivButtons =
      settings_.mode == CipherMode::Ecb ? panel::kBoxColour : panel::kTextNormal;
  for (int id = kFirstButtonId; id < kFirstButtonId + 6; ++id)
    panel::SetTextColour(labels_[id], ivButtons);
  panel::SetTextColour(labels_[kIvLabelId], panel::kTextLabel);
  panel::SetTextColour(labels_[kKeyLabelId], panel::kTextLabel);
}

void KeyToolWindow::ShowStatus(const QString& title, const QString& message) {
  status_->ShowStatus(title, message);
}

void KeyToolWindow::ParkFocus() {
  panel::ParkFocus(sink_, remembered_);
}

void KeyToolWindow::OnCommand(int id) {
  if (!IdleFlag() && id != kStartId) return;  // during a job only Start (then Abort) counts
  if (id >= kFirstButtonId && id < kFirstButtonId + 12) return keyPanel_.OnButton(id);
  switch (id) {
    case kConfidentialId:
      ParkFocus();
      settings_.confidential = !settings_.confidential;
      RefreshSettingTexts();
      ShowStatus(QStringLiteral("Confidential Mode"),
                 settings_.confidential ? QStringLiteral("On") : QStringLiteral("Off"));
      break;
    case kDirectionId:
      ParkFocus();
      settings_.direction =
          settings_.direction == Direction::Encrypt ? Direction::Decrypt : Direction::Encrypt;
      RefreshSettingTexts();
      ShowStatus(QStringLiteral("Command"), labels_[kDirectionId]->text());
      break;
    case kKeySizeId:
      if (settings_.locks & kLockKeySize) return;  // frozen: keeps its look, ignores the click
      ParkFocus();
      settings_.keySize = static_cast<KeySize>((static_cast<int>(settings_.keySize) + 1) % 3);
      keyPanel_.ApplyVisibility();
      RefreshSettingTexts();
      ShowStatus(QStringLiteral("Key Size"), labels_[kKeySizeId]->text());
      break;
    case kModeId:
      if (settings_.locks & kLockMode) return;
      ParkFocus();
      settings_.mode =
          static_cast<CipherMode>((static_cast<int>(settings_.mode) + 1) % engine::kModeCount);
      keyPanel_.ApplyVisibility();
      RefreshSettingTexts();
      ShowStatus(QStringLiteral("Mode of Operation"),
                 QString::fromLatin1(engine::Traits(settings_.mode).longName));
      break;
    case kStartId:
      jobs_.StartJob();
      break;
    case kSaveAsId:
      jobs_.ChooseOutput();
      break;
    case kClearInputId:
      jobs_.ClearInput();
      break;
    case kClearOutputId:
      jobs_.ClearOutput();
      break;
    case kAccelIndicatorId:
      ToggleAcceleration();
      break;
    default:
      break;
  }
}

// Only a processor with AES instructions can switch; the letter shows the pair in use.
void KeyToolWindow::ToggleAcceleration() {
  ParkFocus();
  const engine::ToggleResult result = engine::ToggleAesBackend(features_, acceleration_);
  settings_.acceleration = acceleration_.text[0];
  labels_[kAccelIndicatorId]->setText(QString::fromLatin1(acceleration_.text));
  ShowStatus(QString::fromLatin1(result.title), QString::fromLatin1(result.message));
}

void KeyToolWindow::OnJobStateChanged() {
  labels_[kStartId]->setText(IdleFlag() ? QStringLiteral("Start") : QStringLiteral("Abort"));
  RefreshColours();
  if (auto* cell = qobject_cast<DigitCell*>(QApplication::focusWidget()))
    cell->SetFocusLook(IdleFlag() && cell->parentWidget() == this);
}

void KeyToolWindow::mousePressEvent(QMouseEvent* event) {
  constexpr QRect kOpenBox(14, 55, 55, 20);
  if (!IdleFlag() || !kOpenBox.contains(event->position().toPoint())) return;
  if (event->buttons() != Qt::LeftButton) return;  // no other button held
  const Qt::KeyboardModifiers keys = event->modifiers() & ~Qt::KeypadModifier;
  if (keys == Qt::NoModifier)
    jobs_.ChooseInput();
  else if (keys == Qt::ShiftModifier)
    jobs_.SelectPrng();
}

void KeyToolWindow::OnFocusChanged(QWidget* old, QWidget* now) {
  if (auto* cell = qobject_cast<DigitCell*>(old); cell && cell->parentWidget() == this)
    cell->SetFocusLook(false);
  if (auto* cell = qobject_cast<DigitCell*>(now);
      cell && cell->parentWidget() == this && IdleFlag()) {
    cell->SetFocusLook(true);
    remembered_ = cell;
  }
}

bool KeyToolWindow::event(QEvent* event) {
  // WM_SETFOCUS on the window while idle: the focus returns to the remembered cell, not to the
  // sink that a command last parked it on.
  if (event->type() == panel::kJobProgressMessage) {
    jobs_.OnJobProgress();
    return true;
  }
  if (event->type() == panel::kJobFinishedMessage) {
    jobs_.FinishJob();
    return true;
  }
  if (event->type() == QEvent::WindowActivate && IdleFlag() && remembered_ != nullptr)
    remembered_->setFocus(Qt::ActiveWindowFocusReason);
  return QWidget::event(event);
}

void KeyToolWindow::closeEvent(QCloseEvent* event) {
  if (!IdleFlag()) {  // a running job keeps the window open
    event->ignore();
    return;
  }
  const panel::PromptAnswer answer = prompts_.Message(
      this, {QStringLiteral("Are You Sure?"), QStringLiteral(" Exit Confirmation"),
             panel::PromptIcon::None, panel::PromptButtons::YesNo, panel::PromptAnswer::No});
  if (answer == panel::PromptAnswer::Yes)
    event->accept();
  else
    event->ignore();
}

std::unique_ptr<KeyToolWindow> StartKeyTool(const engine::CpuFeatures& features,
                                            KeyToolSettings& settings,
                                            engine::AccelerationSetting& acceleration,
                                            panel::Prompts& prompts) {
  if (!engine::PassesProcessorCheck(features)) {
    prompts.Message(nullptr,
                    {QString::fromLatin1(engine::kProcessorRefusal), QStringLiteral("Error"),
                     panel::PromptIcon::Error, panel::PromptButtons::Ok, panel::PromptAnswer::Ok});
    return nullptr;
  }
  engine::SelectAesBackend(features, acceleration);
  ReadSettingsFile(settings);
  settings.acceleration = acceleration.text[0];
  engine::BuildAesTables();
  return std::make_unique<KeyToolWindow>(settings, acceleration, features, prompts);
}

}  // namespace keytool
