// DigitCell: created with "0", one character at most, centred, drawn without its caret.
#include "keytool/key_panel.h"

#include <QPainter>

#include "keytool/panel.h"

namespace keytool {

DigitCell::DigitCell(int id, QWidget* parent) : QLineEdit(QStringLiteral("0"), parent), id_(id) {
  setMaxLength(1);
  setAlignment(Qt::AlignCenter);
  setFrame(false);
  setFocusPolicy(Qt::StrongFocus);  // a tab stop
  panel::SetTextColour(this, panel::kTextNormal);
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

}  // namespace keytool
