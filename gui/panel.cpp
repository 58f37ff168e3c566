// The shared window look: pixel-exact box drawing, click statics, status row and real prompts.
#include "gui/panel.h"

#include <QFileDialog>
#include <QFontInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <utility>

#include "gui/accessible.h"

namespace panel {

void FillArea(QPainter& painter, int left, int top, int right, int bottom, const QColor& colour) {
  painter.fillRect(QRect(left, top, right - left, bottom - top), colour);
}

// Four solid bands instead of a QPainter pen: a Qt pen straddles the geometric outline and would
// put the edges half a pixel (or a whole one) away from where the look wants them.
void OutlineRect(QPainter& painter, int left, int top, int right, int bottom, const QColor& pen,
                 int penWidth) {
  const int width = right - left;
  const int height = bottom - top;
  painter.fillRect(QRect(left, top, width, penWidth), pen);
  painter.fillRect(QRect(left, bottom - penWidth, width, penWidth), pen);
  painter.fillRect(QRect(left, top, penWidth, height), pen);
  painter.fillRect(QRect(right - penWidth, top, penWidth, height), pen);
}

void DrawLine(QPainter& painter, int x0, int y0, int x1, int y1, const QColor& pen) {
  if (y0 == y1) {
    const int from = x1 > x0 ? x0 : x1 + 1;
    painter.fillRect(QRect(from, y0, x1 > x0 ? x1 - x0 : x0 - x1, 1), pen);
  } else {
    const int from = y1 > y0 ? y0 : y1 + 1;
    painter.fillRect(QRect(x0, from, 1, y1 > y0 ? y1 - y0 : y0 - y1), pen);
  }
}

void DrawWorkFrame(QPainter& painter, int right, int bottom) {
  OutlineRect(painter, 1, 1, right, bottom, kLightEdge, 2);
  OutlineRect(painter, 0, 0, right - 1, bottom - 1, kDarkEdge, 1);
}

void DrawControlBoxes(QPainter& painter, std::span<const ControlBox> boxes) {
  for (const ControlBox& b : boxes) {
    FillArea(painter, b.left, b.top, b.left + b.width, b.top + kBoxHeight, kBoxColour);
    OutlineRect(painter, b.left, b.top, b.left + b.width, b.top + kBoxHeight, kDarkEdge, 1);
  }
  // The light inner edge then the dark outer edge: the dark pass lands one pixel up and left of
  // the light one, so each box shows dark-light on its top and left and dark-light again on its
  // bottom and right, an etched groove.
  for (const ControlBox& b : boxes) {
    OutlineRect(painter, b.left + 1, b.top + 1, b.left + b.width, b.top + kBoxHeight, kLightEdge,
                2);
    OutlineRect(painter, b.left, b.top, b.left + b.width - 1, b.top + kBoxHeight - 1, kDarkEdge, 1);
  }
}

void DrawStatusBoxes(QPainter& painter, std::span<const StatusBox> boxes) {
  for (const StatusBox& b : boxes) {
    FillArea(painter, b.left, b.top, b.right, b.bottom, kStatusBoxColour);
    OutlineRect(painter, b.left, b.top, b.right, b.bottom, kDarkEdge, 1);
  }
  for (const StatusBox& b : boxes) {
    DrawLine(painter, b.left, b.bottom - 1, b.right - 1, b.bottom - 1, kLightEdge);
    DrawLine(painter, b.right - 1, b.bottom - 1, b.right - 1, b.top - 1, kLightEdge);
  }
}

void CopyArea(QPixmap& pixmap, int left, int top, int width, int height, int toLeft, int toTop) {
  const QPixmap part = pixmap.copy(left, top, width, height);
  QPainter painter(&pixmap);
  painter.drawPixmap(toLeft, toTop, part);
}

// A font's height in these windows is its cell height (ascent plus descent, as a positive
// height asks of the system), while Qt sizes a font by its em: take the largest pixel size whose
// line still fits the cell, so the texts fit their 20-pixel boxes whatever face stands in.
QFont WithCellHeight(QFont font, int cellHeight) {
  for (int pixels = cellHeight; pixels > 6; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).height() <= cellHeight) break;
  }
  return font;
}

QFont ChooseLabelFont(const QString& realisedFamily) {
  // Where Tahoma is missing too, a condensed face keeps the texts inside their boxes; the
  // common wide stand-ins would clip the longer status titles.
  static const bool substituted = [] {
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans Condensed"),
                                                          QStringLiteral("Liberation Sans Narrow"),
                                                          QStringLiteral("Liberation Sans")});
    return true;
  }();
  (void)substituted;
  const bool segoe = realisedFamily.startsWith(QStringLiteral("Sego"));
  QFont font(segoe ? QStringLiteral("Segoe UI") : QStringLiteral("Tahoma"));
  font.setWeight(QFont::Normal);
  return WithCellHeight(font, segoe ? 17 : 16);
}

QFont LabelFont() {
  QFont wanted(QStringLiteral("Segoe UI"));
  wanted.setPixelSize(17);
  wanted.setWeight(QFont::Normal);
  return ChooseLabelFont(QFontInfo(wanted).family());
}

QFont DigitFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setWeight(QFont::Normal);
  font.setStyleHint(QFont::TypeWriter);  // where the face is missing, stay fixed-pitch
  return WithCellHeight(font, 17);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  if (TextColour(widget) == colour) return;
  QPalette palette = widget->palette();
  palette.setColor(widget->foregroundRole(), colour);
  widget->setPalette(palette);
}

QColor TextColour(const QWidget* widget) {
  return widget->palette().color(widget->foregroundRole());
}

// The text is set once the object is a StaticButton: a screen reader asks for the interface as
// soon as a label's text changes, and the one it got would stay a plain label's.
StaticButton::StaticButton(int id, const QString& text, QWidget* parent, bool reportsClicks)
    : QLabel(parent), id_(id), reportsClicks_(reportsClicks) {
  InstallButtonAccessibility();
  setText(text);
}

void StaticButton::mousePressEvent(QMouseEvent* event) {
  if (!reportsClicks_ || event->button() != Qt::LeftButton) return QLabel::mousePressEvent(event);
  event->accept();
  emit Clicked(id_);
}

void StaticButton::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
}

int DashEchoStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
  if (hint == SH_LineEdit_PasswordCharacter) return '-';
  return QProxyStyle::styleHint(hint, option, widget, returnData);
}

StatusRow::StatusRow(QLabel* line1, QLabel* line2, const QString& title, const QString& infoLine,
                     std::function<bool()> idle)
    : line1_(line1), line2_(line2), title_(title), idle_(std::move(idle)) {
  const qsizetype cut = infoLine.indexOf(QStringLiteral(" - "));
  restingInfo_ = cut < 0 ? infoLine : infoLine.left(cut);
  line1_->setText(title_);
  line2_->setText(infoLine);
  timer_.setInterval(kRestoreMilliseconds);
  timer_.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire half a second early
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { OnTick(); });
}

void StatusRow::ShowStatus(const QString& title, const QString& message) {
  line1_->setText(title);
  line2_->setText(message);
  timer_.start();
}

void StatusRow::OnTick() {
  if (!idle_()) return;  // the timer keeps repeating; the first idle tick restores
  line1_->setText(title_);
  line2_->setText(restingInfo_);
  timer_.stop();
}

void SetUpFixedWindow(QWidget& window, const char* className, const char* caption,
                      const QString& icon, int width, int height, int lift) {
  window.setObjectName(QString::fromLatin1(className));
  window.setWindowTitle(QString::fromLatin1(caption));
  window.setWindowIcon(QIcon(icon));
  window.setFixedSize(width, height);
  window.setAttribute(Qt::WA_OpaquePaintEvent);  // the background pixmap covers it all
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window.move(area.x() + area.width() / 2 - width / 2, area.y() + area.height() / 2 - lift);
  }
}

void ParkFocus(QWidget* sink, QWidget* remembered) {
  sink->setFocus(Qt::OtherFocusReason);
  if (remembered != nullptr) remembered->update();
}

QString ControlName(int id) {
  return QStringLiteral("id%1").arg(id);
}

QWidget* CreateFocusSink(int id, const QRect& place, QWidget* parent) {
  auto* sink = new QWidget(parent);
  sink->setFocusPolicy(Qt::NoFocus);
  sink->setAttribute(Qt::WA_TransparentForMouseEvents);
  sink->setObjectName(ControlName(id));
  sink->setGeometry(place);
  return sink;
}

QLabel* CreateStatic(int id, const QString& text, bool notify, bool centred, const QRect& place,
                     const QFont& font, QWidget* parent, bool button) {
  QLabel* label =
      notify || button ? new StaticButton(id, text, parent, notify) : new QLabel(text, parent);
  label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
  label->setFont(font);
  SetTextColour(label, kTextNormal);
  label->setObjectName(ControlName(id));
  label->setGeometry(place);
  return label;
}

QLineEdit* CreatePathEdit(int id, const QRect& place, int boxWidth, const QFont& font,
                          QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setReadOnly(true);
  edit->setFrame(false);
  edit->setFocusPolicy(Qt::ClickFocus);  // no tab stop
  edit->setFont(font);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, Qt::transparent);
  edit->setPalette(palette);
  SetTextColour(edit, kTextPath);
  edit->setObjectName(ControlName(id));
  edit->setGeometry(place);
  edit->setMask(QRegion(edit->rect()).subtracted(QRegion(0, 0, boxWidth, 2)));
  return edit;
}

namespace {

QMessageBox::Icon BoxIcon(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::Error:
      return QMessageBox::Critical;
    case PromptIcon::Question:
      return QMessageBox::Question;
    case PromptIcon::Warning:
      return QMessageBox::Warning;
    case PromptIcon::Information:
      return QMessageBox::Information;
    case PromptIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

PromptAnswer DialogPrompts::Message(QWidget* owner, const MessageRequest& request) {
  const bool yesNo = request.buttons == PromptButtons::YesNo;
  // The texts keep their CR LF line ends; the box wants bare line feeds.
  QString text = request.text;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(BoxIcon(request.icon), request.caption, text,
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, owner);
  if (yesNo)
    box.setDefaultButton(request.defaultButton == PromptAnswer::No ? QMessageBox::No
                                                                   : QMessageBox::Yes);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return PromptAnswer::Yes;
    case QMessageBox::No:
      return PromptAnswer::No;
    case QMessageBox::Ok:
      return PromptAnswer::Ok;
    default:
      return yesNo ? PromptAnswer::No : PromptAnswer::Ok;  // closed with Escape or the frame
  }
}

namespace {

// Qt's own dialog, never the desktop's: a desktop dialog adds every chosen file to the desktop's
// recent list.
QString ChooseFile(QWidget* owner, const QString& initialPath, QFileDialog::AcceptMode mode) {
  QFileDialog dialog(owner);
  dialog.setOption(QFileDialog::DontUseNativeDialog);  // first, before anything it would forward
  dialog.setAcceptMode(mode);                          // Save asks before overwriting
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  if (!initialPath.isEmpty()) dialog.selectFile(initialPath);  // its folder and its name
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.selectedFiles().value(0);
}

}  // namespace

// Qt's dialog writes its history and last folder to the user's "QtProject" settings file as it
// closes, whatever its options, and opens with what any Qt program left there. No file can be
// created or read under /dev/null.
DialogPrompts::DialogPrompts() {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
}

QString DialogPrompts::OpenFile(QWidget* owner, const QString& initialPath) {
  return ChooseFile(owner, initialPath, QFileDialog::AcceptOpen);
}

QString DialogPrompts::SaveFile(QWidget* owner, const QString& initialPath) {
  return ChooseFile(owner, initialPath, QFileDialog::AcceptSave);
}

}  // namespace panel
