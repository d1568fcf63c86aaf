// TWidgetControl: a windowless control, that is a plain (non-native) QWidget
// drawn on its parent's surface, that reports the pointer entering and
// leaving it and its enabled state changing as overridable notifications.
#pragma once

#include <QWidget>

class TWidgetControl : public QWidget {
  Q_OBJECT

 public:
  explicit TWidgetControl(QWidget* parent = nullptr);

 signals:
  void OnMouseEnter();
  void OnMouseLeave();

 protected:
  // The pointer came over or left the control; the defaults fire the events.
  virtual void CMMouseEnter();
  virtual void CMMouseLeave();
  // Enabled or disabled; the default schedules a repaint.
  virtual void CMEnabledChanged();

  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
};
