// The IV and key panel: cell key handling, focus movement, visibility, the twelve buttons.
#include "keytool/key_panel.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "engine/wipe.h"
#include "gui/panel.h"
#include "keys/keytext.h"
#include "keys/random.h"

namespace keytool {

namespace {

using keys::KeyItem;

constexpr int kFirstButton = 100;
constexpr LockMask kFirstButtonLock = 0x0008;  // each further button the next bit
constexpr int kPasteLimit = 96;                // a longer clipboard text counts as 96 characters

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsHexDigit(char32_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

uint8_t DigitValue(char digit) {
  return static_cast<uint8_t>(digit <= '9' ? digit - '0' : digit - 'A' + 10);
}

int FirstCell(KeyItem item) {
  return item == KeyItem::Iv ? 0 : kFirstKeyCell;
}

int CellCount(KeyItem item) {
  return item == KeyItem::Iv ? kFirstKeyCell : kCellCount - kFirstKeyCell;
}

// Rand, Copy, Paste and Zero show the wait cursor while they work.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

DigitCell::DigitCell(int id, KeyPanel& keyPanel, QWidget* parent)
    : QLineEdit(QStringLiteral("0"), parent), id_(id), keyPanel_(keyPanel) {
  setMaxLength(1);
  setAlignment(Qt::AlignCenter);
  setFrame(false);
  setFocusPolicy(Qt::StrongFocus);  // a tab stop
  setAcceptDrops(false);
  setDragEnabled(false);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  panel::SetTextColour(this, panel::kTextNormal);
}

char DigitCell::Digit() const {
  const QString digit = text();
  return digit.isEmpty() ? '0' : digit.at(0).toLatin1();
}

void DigitCell::SetDigit(char digit) {
  setText(QString(QChar::fromLatin1(digit)));
}

void DigitCell::SetFocusLook(bool on) {
  if (focusLook_ == on) return;
  focusLook_ = on;
  panel::SetTextColour(this, on ? panel::kTextFocus : panel::kTextNormal);
  update();
}

void DigitCell::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(panel::TextColour(this));
  painter.drawText(rect(), Qt::AlignCenter, displayText());
  // The underline: a black 10 by 1 line on row 15 of the cell.
  if (focusLook_) painter.fillRect(QRect(0, 15, kCellWidth, 1), Qt::black);
}

void DigitCell::keyPressEvent(QKeyEvent* event) {
  event->accept();  // no key reaches the line edit's own editing
  if (!keyPanel_.Idle()) return;
  switch (event->key()) {
    case Qt::Key_Left:
      return keyPanel_.MoveFocus(Index(), FocusMove::Previous);
    case Qt::Key_Right:
      return keyPanel_.MoveFocus(Index(), FocusMove::Next);
    case Qt::Key_Up:
      return keyPanel_.MoveFocus(Index(), FocusMove::Up);
    case Qt::Key_Down:
      return keyPanel_.MoveFocus(Index(), FocusMove::Down);
    default:
      break;
  }
  // A typed character: lower case is folded by subtracting 0x20 from anything at or above 'a',
  // so only '0'-'9', 'a'-'f' and 'A'-'F' survive the test below.
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return;
  const QString typed = event->text();
  if (typed.size() != 1) return;
  char32_t c = typed.at(0).unicode();
  if (c >= 'a') c -= 0x20;
  if (!IsHexDigit(c)) return;
  SetDigit(static_cast<char>(c));
  keyPanel_.MoveFocus(Index(), FocusMove::Next);
}

void DigitCell::inputMethodEvent(QInputMethodEvent* event) {
  event->ignore();
}

// A click leaves the selection at the start of the cell; the middle button's selection paste of
// the line edit never runs.
void DigitCell::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  QLineEdit::mouseReleaseEvent(event);
  setSelection(0, 0);
  setCursorPosition(0);
}

void DigitCell::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
}

void DigitCell::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
}

KeyPanel::KeyPanel(const KeyToolSettings& settings, panel::Prompts& prompts, KeyPanelHost host)
    : settings_(settings), prompts_(prompts), host_(std::move(host)) {}

int KeyPanel::LastActiveCell(KeyItem item) const {
  return FirstCell(item) + 2 * static_cast<int>(ActiveBytes(item)) - 1;
}

size_t KeyPanel::ActiveBytes(KeyItem item) const {
  return keys::ItemBytes(item, settings_.mode, settings_.keySize);
}

void KeyPanel::ApplyVisibility() {
  for (int i = 0; i < kCellCount; ++i) {
    const KeyItem item = i < kFirstKeyCell ? KeyItem::Iv : KeyItem::Key;
    cells_[i]->setVisible(i <= LastActiveCell(item));
  }
}

void KeyPanel::MoveFocus(int index, FocusMove move) {
  const KeyItem item = index < kFirstKeyCell ? KeyItem::Iv : KeyItem::Key;
  const int first = FirstCell(item);
  const int last = LastActiveCell(item);
  int to = index;
  switch (move) {
    case FocusMove::Next:  // typing and Right wrap inside the field
      to = index >= last ? first : index + 1;
      break;
    case FocusMove::Previous:
      to = index <= first ? last : index - 1;
      break;
    case FocusMove::Up:  // only from the second key row to the first
      if (index >= kFirstKeyCell + 32) to = index - 32;
      break;
    case FocusMove::Down:  // only from the first key row, and only onto a shown cell
      if (item == KeyItem::Key && index < kFirstKeyCell + 32 && index + 32 <= last) to = index + 32;
      break;
  }
  if (to != index) cells_[to]->setFocus(Qt::OtherFocusReason);
}

void KeyPanel::ReadJobBytes(uint8_t (&iv)[16], uint8_t (&key)[32]) const {
  ReadFieldBytes(KeyItem::Iv, iv, sizeof iv);
  ReadFieldBytes(KeyItem::Key, key, sizeof key);
}

// The characters of each pair are wiped once their byte is made.
void KeyPanel::ReadFieldBytes(KeyItem item, uint8_t* bytes, size_t n) const {
  const int first = FirstCell(item);
  char pair[2];
  for (size_t k = 0; k < n; ++k) {
    const int cell = first + 2 * static_cast<int>(k);
    pair[0] = cells_[cell]->Digit();
    pair[1] = cells_[cell + 1]->Digit();
    bytes[k] = static_cast<uint8_t>(DigitValue(pair[0]) << 4 | DigitValue(pair[1]));
    engine::WipeBytes(pair, sizeof pair);
  }
}

void KeyPanel::SetFieldBytes(KeyItem item, const uint8_t* bytes, size_t n) {
  const int first = FirstCell(item);
  for (int i = 0; i < CellCount(item); ++i) {
    const size_t k = static_cast<size_t>(i / 2);
    const uint8_t byte = k < n ? bytes[k] : 0;
    cells_[first + i]->SetDigit(kHexDigits[i % 2 == 0 ? byte >> 4 : byte & 15]);
  }
}

void KeyPanel::OnButton(int id) {
  const int button = id - kFirstButton;
  if (button < 0 || button >= 12) return;
  if (settings_.locks & (kFirstButtonLock << button)) return;  // frozen
  const KeyItem item = button < 6 ? KeyItem::Iv : KeyItem::Key;
  if (item == KeyItem::Iv && settings_.mode == engine::CipherMode::Ecb) return;  // no IV in ECB
  host_.parkFocus();
  const bool iv = item == KeyItem::Iv;
  switch (static_cast<Operation>(button % 6)) {
    case kLoad:
      if (const char* message = Load(item))
        host_.showStatus(keys::KeyToolTitle(keys::KeyToolOperation::Load, item), message);
      break;
    case kSave:
      if (const char* message = Save(item))
        host_.showStatus(keys::KeyToolTitle(keys::KeyToolOperation::Save, item), message);
      break;
    case kRand:
      host_.showStatus(iv ? "Pseudo Random IV" : "Pseudo Random Key", Rand(item));
      break;
    case kCopy:
      host_.showStatus(keys::KeyToolTitle(keys::KeyToolOperation::Copy, item), Copy(item));
      break;
    case kPaste:
      host_.showStatus(keys::KeyToolTitle(keys::KeyToolOperation::Paste, item), Paste(item));
      break;
    case kZero:
      host_.showStatus(iv ? "Zero IV" : "Zero Key", Zero(item));
      break;
  }
}

// Load and Save return nullptr when their dialog was cancelled: nothing is shown then.
// Both dialogs offer the last name chosen in either; empty when cancelled.
QByteArray KeyPanel::AskKeyFilePath(bool save) {
  const QString path = save ? prompts_.SaveFile(host_.owner, keyFilePath_)
                            : prompts_.OpenFile(host_.owner, keyFilePath_);
  if (path.isEmpty()) return QByteArray();
  keyFilePath_ = path;
  return QFile::encodeName(path);
}

const char* KeyPanel::Load(KeyItem item) {
  const QByteArray path = AskKeyFilePath(false);
  if (path.isEmpty()) return nullptr;
  const size_t n = ActiveBytes(item);
  uint8_t bytes[32];
  const keys::KeyFileResult result = keys::LoadKeyFile(path.constData(), bytes, n);
  if (result == keys::KeyFileResult::Ok) SetFieldBytes(item, bytes, n);
  engine::WipeBytes(bytes, sizeof bytes);
  return keys::LoadResultText(result);
}

const char* KeyPanel::Save(KeyItem item) {
  const QByteArray path = AskKeyFilePath(true);
  if (path.isEmpty()) return nullptr;
  const size_t n = ActiveBytes(item);
  uint8_t bytes[32];
  ReadFieldBytes(item, bytes, n);
  const keys::KeyFileResult result = keys::SaveKeyFile(path.constData(), bytes, n);
  engine::WipeBytes(bytes, sizeof bytes);
  return keys::SaveResultText(result);
}

// The whole field takes random digits, hidden cells included, so a later change of the key size
// or mode shows random bytes there too. The whitening uses the key size selected.
const char* KeyPanel::Rand(KeyItem item) {
  WaitCursor wait;
  uint8_t random[32];
  keys::GenerateRandom(settings_.keySize, random);
  SetFieldBytes(item, random, static_cast<size_t>(CellCount(item) / 2));
  engine::WipeBytes(random, sizeof random);
  return keys::KeyToolMessageText(keys::KeyToolMessage::Successful);
}

// The digits themselves, whatever confidential mode shows. Setting the clipboard reports nothing,
// so the text is read back: the system may have refused it or another program taken it over.
const char* KeyPanel::Copy(KeyItem item) const {
  WaitCursor wait;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard == nullptr) return keys::KeyToolMessageText(keys::KeyToolMessage::CopyFailed);
  const size_t n = ActiveBytes(item);
  char digits[64];
  for (size_t i = 0; i < 2 * n; ++i)
    digits[i] = cells_[FirstCell(item) + static_cast<int>(i)]->Digit();
  const QString text = QString::fromLatin1(digits, static_cast<qsizetype>(2 * n));
  engine::WipeBytes(digits, sizeof digits);
  clipboard->setText(text);
  return keys::KeyToolMessageText(clipboard->text() == text ? keys::KeyToolMessage::Successful
                                                            : keys::KeyToolMessage::CopyFailed);
}

// The clipboard's text is taken as 8-bit characters: a character no 8-bit code can hold becomes
// '?', so it fails as a character, not as a length.
const char* KeyPanel::Paste(KeyItem item) {
  WaitCursor wait;
  const QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
  if (data == nullptr || !data->hasText())
    return keys::KeyToolMessageText(keys::KeyToolMessage::NoClipboardText);
  char text[kPasteLimit];
  size_t length = 0;
  const QString clip = data->text();
  for (const char32_t c : clip.toUcs4()) {
    if (c == 0 || length == kPasteLimit) break;
    text[length++] = c < 256 ? static_cast<char>(c) : '?';
  }
  const size_t n = ActiveBytes(item);
  uint8_t bytes[32];
  const keys::HexResult result = keys::ParseHexText(text, length, bytes, n);
  if (result == keys::HexResult::Ok) SetFieldBytes(item, bytes, n);
  engine::WipeBytes(text, sizeof text);
  engine::WipeBytes(bytes, sizeof bytes);
  return keys::PasteResultText(result, n);
}

const char* KeyPanel::Zero(KeyItem item) {
  WaitCursor wait;
  SetFieldBytes(item, nullptr, 0);
  return keys::KeyToolMessageText(keys::KeyToolMessage::Successful);
}

}  // namespace keytool
