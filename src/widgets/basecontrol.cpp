#include "widgets/basecontrol.h"

#include <QKeySequence>
#include <QShortcutEvent>

TBaseControl::TBaseControl(QWidget* parent) : TWidgetControl(parent) {}

void TBaseControl::SetCaption(const QString& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  if (FShortcutId) releaseShortcut(FShortcutId);
  FShortcutId = 0;
  const QKeySequence key = QKeySequence::mnemonic(caption);
  if (!key.isEmpty()) FShortcutId = grabShortcut(key, Qt::WindowShortcut);
  CMTextChanged();
}

bool TBaseControl::CMDialogChar() { return false; }
void TBaseControl::CMTextChanged() { update(); }

bool TBaseControl::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut &&
      static_cast<QShortcutEvent*>(event)->shortcutId() == FShortcutId && FShortcutId) {
    return CMDialogChar() || TWidgetControl::event(event);
  }
  return TWidgetControl::event(event);
}
