// TBaseControl: a windowless control with a caption whose '&' marks an
// accelerator letter (Alt+letter), delivered as a dialog character.
#pragma once

#include <QString>

#include "widgets/widgetcontrol.h"

class TBaseControl : public TWidgetControl {
  Q_OBJECT

 public:
  explicit TBaseControl(QWidget* parent = nullptr);

  QString Caption() const { return FCaption; }
  void SetCaption(const QString& caption);

 protected:
  // The accelerator of the caption was typed. Answers whether it was used.
  virtual bool CMDialogChar();
  // The caption changed; the default repaints.
  virtual void CMTextChanged();

  bool event(QEvent* event) override;

 private:
  QString FCaption;
  int FShortcutId = 0;
};
