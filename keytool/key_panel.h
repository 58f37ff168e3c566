// The IV and key panel: 96 DigitCells (32 IV digits, 64 key digits), their typing and focus rules,
// which cells the mode and key size show, the twelve field buttons, and the job's key bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <QByteArray>
#include <QLineEdit>
#include <QString>

#include <functional>

#include "keys/key_messages.h"
#include "keytool/settings.h"

namespace panel {
class Prompts;
}

namespace keytool {

constexpr int kFirstCellId = 1000;
constexpr int kCellCount = 96;  // 32 IV cells, then 64 key cells
constexpr int kFirstKeyCell = 32;
constexpr int kCellWidth = 10;
constexpr int kCellHeight = 20;

class KeyPanel;

// DigitCell: one hexadecimal digit. Typing a digit replaces it and moves on; arrows move the
// focus; nothing else edits it: no deleting, no clipboard, no undo, no drag, no input method.
// The cell draws its one character itself, centred: a 10-pixel line edit keeps margins that would
// clip the glyph. The caret is never drawn; the focused cell shows blue text and an underline.
class DigitCell : public QLineEdit {
  Q_OBJECT

 public:
  DigitCell(int id, KeyPanel& keyPanel, QWidget* parent);
  int Id() const { return id_; }
  int Index() const { return id_ - kFirstCellId; }
  // The look of the cell that has the focus while the window is idle.
  void SetFocusLook(bool on);
  bool FocusLook() const { return focusLook_; }
  // The digit, '0'-'9' or 'A'-'F'.
  char Digit() const;
  void SetDigit(char digit);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  int id_;
  KeyPanel& keyPanel_;
  bool focusLook_ = false;
};

enum class FocusMove : uint8_t { Next, Previous, Up, Down };

// What the panel needs from its window.
struct KeyPanelHost {
  QWidget* owner;                                                  // of the dialogs
  std::function<bool()> idle;                                      // the IdleFlag
  std::function<void()> parkFocus;                                 // before every command
  std::function<void(const QString&, const QString&)> showStatus;  // title, message
};

class KeyPanel {
 public:
  KeyPanel(const KeyToolSettings& settings, panel::Prompts& prompts, KeyPanelHost host);

  void AttachCell(DigitCell* cell) { cells_[cell->Index()] = cell; }
  DigitCell* Cell(int index) const { return cells_[index]; }
  bool Idle() const { return host_.idle(); }

  // Shows the cells the mode and key size make active and hides the rest; digits stay.
  void ApplyVisibility();
  // Moves the focus from cell `index` within its field, as the arrows and typing do.
  void MoveFocus(int index, FocusMove move);

  // One of the twelve buttons (ids 100 to 111), already known to come while idle.
  void OnButton(int id);

  // All 96 cells as 16 IV bytes and 32 key bytes; the characters read are wiped as they go.
  void ReadJobBytes(uint8_t (&iv)[16], uint8_t (&key)[32]) const;

 private:
  enum Operation { kLoad, kSave, kRand, kCopy, kPaste, kZero };

  int LastActiveCell(keys::KeyItem item) const;
  size_t ActiveBytes(keys::KeyItem item) const;
  // The first `n` bytes of a field from its cells, and back; SetFieldBytes zeroes the rest.
  void ReadFieldBytes(keys::KeyItem item, uint8_t* bytes, size_t n) const;
  void SetFieldBytes(keys::KeyItem item, const uint8_t* bytes, size_t n);
  QByteArray AskKeyFilePath(bool save);
  const char* Load(keys::KeyItem item);
  const char* Save(keys::KeyItem item);
  const char* Rand(keys::KeyItem item);
  const char* Copy(keys::KeyItem item) const;
  const char* Paste(keys::KeyItem item);
  const char* Zero(keys::KeyItem item);

  const KeyToolSettings& settings_;
  panel::Prompts& prompts_;
  KeyPanelHost host_;
  DigitCell* cells_[kCellCount] = {};
  QString keyFilePath_;  // the Load and Save dialogs of both fields offer the last file chosen
};

}  // namespace keytool
