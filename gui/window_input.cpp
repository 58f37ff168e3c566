// The path argument, the file drop filter and the shortcuts of both windows.
#include "gui/window_input.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeySequence>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>
#include <QWidget>

#include <utility>

#include "gui/accessible.h"
#include "gui/panel.h"

namespace panel {

QString PathArgument(const QStringList& arguments) {
  if (arguments.size() < 2 || arguments.at(1).isEmpty()) return QString();
  return QFileInfo(arguments.at(1)).absoluteFilePath();
}

QString DroppedFile(const QMimeData* data) {
  const QList<QUrl> urls = data != nullptr ? data->urls() : QList<QUrl>();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return QString();
  QUrl url = urls.front();
  // Qt gives another host's file as //host/path, which here names a local file.
  if (url.host() == QStringLiteral("localhost")) url.setHost(QString());
  const QString path = url.toLocalFile();
  // A %00 would cut the name short, and a relative name would be looked up wherever the window
  // was started.
  if (!url.host().isEmpty() || path.contains(QChar(0)) || !QDir::isAbsolutePath(path))
    return QString();
  return path;
}

FileDrop::FileDrop(QWidget& window, std::function<bool()> accepting,
                   std::function<void(const QString&)> take)
    : QObject(&window), accepting_(std::move(accepting)), take_(std::move(take)) {
  window.setAcceptDrops(true);
  window.installEventFilter(this);
  // Drag events reach a control that accepts drops first, and its parents only if it refuses.
  for (QWidget* control : window.findChildren<QWidget*>())
    if (control->acceptDrops()) control->installEventFilter(this);
}

bool FileDrop::eventFilter(QObject*, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  const QString path = DroppedFile(drop->mimeData());
  if (path.isEmpty()) return false;
  // Only ever a copy: a source told its file was moved may delete it.
  if (!accepting_() || !(drop->possibleActions() & Qt::CopyAction)) {
    drop->ignore();
    return true;
  }
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (type == QEvent::Drop) take_(path);
  return true;
}

void AddShortcuts(QWidget& window, std::span<const Shortcut> shortcuts) {
  for (const Shortcut& s : shortcuts) {
    auto* shortcut = new QShortcut(QKeySequence(s.keys), &window);
    QObject::connect(shortcut, &QShortcut::activated, &window, [&window, id = s.id] {
      if (auto* control = window.findChild<QWidget*>(ControlName(id))) ClickControl(control);
    });
  }
}

}  // namespace panel
