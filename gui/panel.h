// The window look both windowed tools share: painting, click statics, the status row, prompts.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QProxyStyle>
#include <QRect>
#include <QString>
#include <QTimer>

#include <functional>
#include <span>

class QLineEdit;
class QMouseEvent;
class QPainter;
class QWidget;

namespace panel {

// Colours of the look.
inline const QColor kFieldColour{0xC9, 0xC9, 0xC9};
inline const QColor kBoxColour{0xCE, 0xCE, 0xCE};
inline const QColor kStatusBoxColour{0xD3, 0xD3, 0xD3};
inline const QColor kLightEdge{0xE9, 0xE9, 0xE9};
inline const QColor kDarkEdge{0x84, 0x84, 0x84};
inline const QColor kTrackColour{0xA0, 0xA0, 0xA0};
// Text colours.
inline const QColor kTextNormal{0x05, 0x05, 0x05};
inline const QColor kTextDecrypt{0xEF, 0xEF, 0xEF};
inline const QColor kTextLabel{0x5D, 0x5D, 0x5D};
inline const QColor kTextPath{0x64, 0x61, 0xC0};
inline const QColor kTextReady{0x00, 0x80, 0x00};
inline const QColor kTextNotReady{0xDD, 0x00, 0x00};
inline const QColor kTextFocus{0x00, 0x00, 0xFF};

constexpr int kBoxHeight = 20;

// One bevelled box under a control: left, top, width; always kBoxHeight high.
struct ControlBox {
  int left;
  int top;
  int width;
};

// A status box by its rectangle corners (right and bottom exclusive, as the drawing calls take).
struct StatusBox {
  int left;
  int top;
  int right;
  int bottom;
};

// Drawing with the pixel rules of the calls the look was designed with, so the tables' numbers
// can be used as they stand: a rectangle (l, t)-(r, b) covers columns l..r-1 and rows t..b-1,
// its pen of width w lies inside that area, and a fill excludes the right and bottom edges.
void FillArea(QPainter& painter, int left, int top, int right, int bottom, const QColor& colour);
void OutlineRect(QPainter& painter, int left, int top, int right, int bottom, const QColor& pen,
                 int penWidth);
// A line that draws its start point but not its end point; horizontal or vertical only.
void DrawLine(QPainter& painter, int x0, int y0, int x1, int y1, const QColor& pen);

// The frame of the work area above the status row: light 2-pixel edge, then dark 1-pixel edge.
void DrawWorkFrame(QPainter& painter, int right, int bottom);
// Fills and bevels every box, in two passes so a later box's fill never covers an earlier edge.
void DrawControlBoxes(QPainter& painter, std::span<const ControlBox> boxes);
// Status boxes with a dark outline whose bottom and right edges are then drawn light.
void DrawStatusBoxes(QPainter& painter, std::span<const StatusBox> boxes);
// Copies an area of the pixmap onto itself, as a bit block transfer would.
void CopyArea(QPixmap& pixmap, int left, int top, int width, int height, int toLeft, int toTop);

// The two faces of the look: "Segoe UI" 17, or "Tahoma" 16 when the face that was realised for
// it does not begin with "Sego" (the system lacks it); the digit face is always "Courier New" 17.
QFont ChooseLabelFont(const QString& realisedFamily);
QFont LabelFont();  // asks the font database which face "Segoe UI" realises as
QFont DigitFont();

// Sets the colour the widget draws its text with (its foreground role, in every state).
void SetTextColour(QWidget* widget, const QColor& colour);
QColor TextColour(const QWidget* widget);

// A static that reports left-button presses (a double click counts as a second press), so every
// click reaches the window's one command dispatcher with the control's id. One that does not
// report them leaves its presses to the window, yet acts as a button to assistive technology.
class StaticButton : public QLabel {
  Q_OBJECT

 public:
  StaticButton(int id, const QString& text, QWidget* parent, bool reportsClicks = true);
  int Id() const { return id_; }

 signals:
  void Clicked(int id);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  int id_;
  bool reportsClicks_;
};

// Password echo that shows '-' for every character, for the confidential mode of both tools.
class DashEchoStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override;
};

// The two-line status row: ShowStatus replaces both lines and (re)starts a repeating timer;
// the first tick while the window is idle puts the resting texts back and stops the timer.
// A tick during a job is ignored, so job texts stay until a period after the job has ended.
class StatusRow {
 public:
  static constexpr int kRestoreMilliseconds = 10000;

  // `infoLine` is the first text of line 2; later restores show only its part before " - ".
  StatusRow(QLabel* line1, QLabel* line2, const QString& title, const QString& infoLine,
            std::function<bool()> idle);
  void ShowStatus(const QString& title, const QString& message);
  void SetInterval(int milliseconds) { timer_.setInterval(milliseconds); }  // tests shorten it
  const QTimer& Timer() const { return timer_; }

 private:
  void OnTick();

  QLabel* line1_;
  QLabel* line2_;
  QString title_;
  QString restingInfo_;
  std::function<bool()> idle_;
  QTimer timer_;
};

// Caption, minimise and close, no resizing: the frame of both windows.
constexpr Qt::WindowFlags kFixedWindowFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

// Class name, caption, icon and fixed client size of a window, centred across the screen's free
// area with its top `lift` pixels above the middle (half the height it is first created with).
void SetUpFixedWindow(QWidget& window, const char* className, const char* caption,
                      const QString& icon, int width, int height, int lift);

// Before a command acts the focus goes to the sink; the remembered control is redrawn so the
// look it has while focused goes away.
void ParkFocus(QWidget* sink, QWidget* remembered);

// The object name every control carries, so it can be found by its id: "id40".
QString ControlName(int id);

// Controls as both windows build them from their tables. Each gets its object name, place and
// font here; the caller connects a StaticButton's clicks.
//
// The FocusSink: Qt gives the focus only to shown widgets, so it stays shown but draws nothing
// and lets every mouse event through to the window.
QWidget* CreateFocusSink(int id, const QRect& place, QWidget* parent);
// A static (a StaticButton when it reports clicks, or is a `button` that leaves its presses to
// the window), drawing its text from the top of its rectangle, centred or left-aligned, in the
// normal text colour.
QLabel* CreateStatic(int id, const QString& text, bool notify, bool centred, const QRect& place,
                     const QFont& font, QWidget* parent, bool button = false);
// A path box: read-only, frameless and transparent so its painted box shows through, no tab
// stop, in the path colour; the top two pixel rows of its `boxWidth`-wide box stay free of the
// edit's drawing.
QLineEdit* CreatePathEdit(int id, const QRect& place, int boxWidth, const QFont& font,
                          QWidget* parent);

// Message boxes and file dialogs, behind one seam so tests can answer them in advance.
enum class PromptIcon { None, Error, Question, Warning, Information };
enum class PromptButtons { Ok, YesNo };
enum class PromptAnswer { Ok, Yes, No, Cancel };

struct MessageRequest {
  QString text;
  QString caption;
  PromptIcon icon = PromptIcon::None;
  PromptButtons buttons = PromptButtons::Ok;
  PromptAnswer defaultButton = PromptAnswer::Ok;  // for YesNo: Yes or No
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  virtual PromptAnswer Message(QWidget* owner, const MessageRequest& request) = 0;
  // The chosen path, or an empty string when the dialog was cancelled.
  virtual QString OpenFile(QWidget* owner, const QString& initialPath) = 0;
  // Asks before overwriting an existing file.
  virtual QString SaveFile(QWidget* owner, const QString& initialPath) = 0;
};

// The real dialogs: QMessageBox and Qt's own QFileDialog, which keep no history anywhere.
class DialogPrompts : public Prompts {
 public:
  // Points Qt's per-user settings at a place where nothing can be read or written (these
  // programs keep none there), for the whole process.
  DialogPrompts();
  PromptAnswer Message(QWidget* owner, const MessageRequest& request) override;
  QString OpenFile(QWidget* owner, const QString& initialPath) override;
  QString SaveFile(QWidget* owner, const QString& initialPath) override;
};

}  // namespace panel
