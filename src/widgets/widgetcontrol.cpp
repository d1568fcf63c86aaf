#include "widgets/widgetcontrol.h"

#include <QEvent>

TWidgetControl::TWidgetControl(QWidget* parent) : QWidget(parent) {}

void TWidgetControl::CMMouseEnter() { emit OnMouseEnter(); }
void TWidgetControl::CMMouseLeave() { emit OnMouseLeave(); }
void TWidgetControl::CMEnabledChanged() { update(); }

void TWidgetControl::enterEvent(QEnterEvent*) { CMMouseEnter(); }
void TWidgetControl::leaveEvent(QEvent*) { CMMouseLeave(); }

void TWidgetControl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) CMEnabledChanged();
  QWidget::changeEvent(event);
}
