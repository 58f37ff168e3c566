// Accessibility of the click statics: a factory that gives every StaticButton a button interface.
#include "gui/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include "gui/panel.h"

namespace panel {

namespace {

class LabelButton : public QAccessibleWidget {
 public:
  explicit LabelButton(QLabel* label) : QAccessibleWidget(label, QAccessible::Button) {}

  QString text(QAccessible::Text kind) const override {
    const auto* label = static_cast<const QLabel*>(widget());
    const bool named = !label->accessibleName().isEmpty();
    if (kind == QAccessible::Name && !named) return label->text();
    if (kind == QAccessible::Value && named) return label->text();
    return QAccessibleWidget::text(kind);
  }
  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& action) override {
    if (action == pressAction())
      ClickControl(widget());
    else
      QAccessibleWidget::doAction(action);
  }
};

// Asked for every class of an object's hierarchy, the most derived first: a StaticButton is
// answered before the interface of QLabel is.
QAccessibleInterface* StaticButtonFactory(const QString&, QObject* object) {
  auto* button = qobject_cast<StaticButton*>(object);
  return button != nullptr ? new LabelButton(button) : nullptr;
}

}  // namespace

void InstallButtonAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(StaticButtonFactory);
    return true;
  }();
  (void)installed;
}

void ClickControl(QWidget* control) {
  const QPointF middle = QRectF(control->rect()).center();
  const QPointF global = control->mapToGlobal(middle);
  QMouseEvent press(QEvent::MouseButtonPress, middle, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(control, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, middle, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(control, &release);
}

}  // namespace panel
