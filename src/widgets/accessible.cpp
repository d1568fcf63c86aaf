#include "widgets/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include "widgets/basegraphicbutton.h"
#include "widgets/clearctrl.h"

namespace {

class TButtonAccessible : public QAccessibleWidget {
 public:
  TButtonAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    if (const auto* button = qobject_cast<const TBaseGraphicButton*>(widget());
        button != nullptr && button->GroupIndex() != 0) {
      state.checkable = true;
      state.checked = button->Pressed();
    }
    return state;
  }

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) return Caption();
    return QAccessibleWidget::text(kind);
  }

  QStringList actionNames() const override { return {pressAction()}; }

  void doAction(const QString& action) override {
    if (action != pressAction() || !widget()->isEnabled()) return;
    if (auto* button = qobject_cast<TBaseGraphicButton*>(widget())) {
      button->SetPressed(true);  // only a group button stays down
      button->Click();
    } else if (auto* control = qobject_cast<TClearControl*>(widget())) {
      emit control->OnClick();
    }
  }

 private:
  // The caption as it is now: a batch changes the OK button's.
  QString Caption() const {
    if (const auto* button = qobject_cast<const TBaseGraphicButton*>(widget()))
      return button->Caption();
    if (const auto* control = qobject_cast<const TClearControl*>(widget()))
      return control->Caption();
    return {};
  }
};

QAccessibleInterface* ButtonFactory(const QString& className, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return nullptr;
  if (className == QLatin1String("TBaseGraphicButton")) {
    const auto* button = static_cast<TBaseGraphicButton*>(widget);
    return new TButtonAccessible(
        widget, button->GroupIndex() != 0 ? QAccessible::RadioButton : QAccessible::Button);
  }
  if (className == QLatin1String("TClearControl"))
    return new TButtonAccessible(widget, QAccessible::Button);
  return nullptr;
}

}  // namespace

void InstallButtonAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(ButtonFactory);
    return true;
  }();
  (void)installed;
}
