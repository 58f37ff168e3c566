// DigitCell: one hexadecimal digit of the IV or key field (its key handling comes with the panel).
#pragma once

#include <QLineEdit>

namespace keytool {

constexpr int kFirstCellId = 1000;
constexpr int kCellCount = 96;  // 32 IV cells, then 64 key cells
constexpr int kCellWidth = 10;
constexpr int kCellHeight = 20;

// The cell draws its one character itself, centred: a 10-pixel line edit keeps margins that
// would clip the glyph. The caret is never drawn; the focused cell shows blue text and a black
// underline instead.
class DigitCell : public QLineEdit {
 public:
  DigitCell(int id, QWidget* parent);
  int Id() const { return id_; }
  // The look of the cell that has the focus while the window is idle.
  void SetFocusLook(bool on);
  bool FocusLook() const { return focusLook_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int id_;
  bool focusLook_ = false;
};

}  // namespace keytool
