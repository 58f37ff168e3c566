// Ways into a window besides clicking its controls: a file named on the command line or dropped
// on the window, and keyboard shortcuts that click a control.
#pragma once

#include <QKeyCombination>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <span>

class QMimeData;
class QWidget;

namespace panel {

// The first argument after the program's name, absolute as a file dialog gives a path; empty
// when there is none.
QString PathArgument(const QStringList& arguments);

// The absolute path of the one file on this host that `data` carries; empty for anything else.
QString DroppedFile(const QMimeData* data);

// Takes a single local file dropped anywhere on `window`, over its controls too (a passphrase
// edit would otherwise take the file's name as text), and hands its path to `take`. Other drops
// are left to the control under them. While `accepting` says no, a file is refused.
class FileDrop : public QObject {
 public:
  // Install once the window's controls exist.
  FileDrop(QWidget& window, std::function<bool()> accepting,
           std::function<void(const QString&)> take);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<bool()> accepting_;
  std::function<void(const QString&)> take_;
};

// A key combination that clicks the control with this id, wherever the focus is in the window.
struct Shortcut {
  QKeyCombination keys;
  int id;
};
void AddShortcuts(QWidget& window, std::span<const Shortcut> shortcuts);

}  // namespace panel
