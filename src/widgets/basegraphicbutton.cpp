#include "widgets/basegraphicbutton.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimerEvent>
#include <QToolTip>
#include <algorithm>

#include "platform/errors.h"

namespace {
constexpr const char* SNoTimers = "タイマーを取得できません";

bool Disabled(TButtonState state) {
  return state == TBaseGraphicButton::bsDisabledUp || state == TBaseGraphicButton::bsDisabledDown;
}
}  // namespace

TBaseGraphicButton::TBaseGraphicButton(QWidget* parent) : TBaseControl(parent) {
  resize(25, 25);
  // Hovering is decided by the shape, so every move must arrive.
  setMouseTracking(true);
  FEnterColor = palette().color(QPalette::ButtonText);
  FFontColor = palette().color(QPalette::ButtonText);
  // The window colour of the platform is the one of edit fields and lists.
  FColor = palette().color(QPalette::Base);
}

TBaseGraphicButton::~TBaseGraphicButton() {
  StopHoverCheck();
  StopRepeat();
}

int TBaseGraphicButton::StartTimer(QObject* owner, int ms) {
  // Precise: a repetition never comes before its time.
  const int id = owner->startTimer(ms, Qt::PreciseTimer);
  if (id == 0) throw EOutOfResources(SNoTimers);
  return id;
}

void TBaseGraphicButton::StartHoverCheck() {
  if (!FHoverTimer) FHoverTimer = StartTimer(this, 100);
}

void TBaseGraphicButton::StopHoverCheck() {
  if (FHoverTimer) killTimer(FHoverTimer);
  FHoverTimer = 0;
}

void TBaseGraphicButton::StopRepeat() {
  if (FRepeatTimer) killTimer(FRepeatTimer);
  FRepeatTimer = 0;
}

void TBaseGraphicButton::timerEvent(QTimerEvent* event) {
  if (event->timerId() == FRepeatTimer && FRepeatTimer) {
    DoRepeatedClick();
  } else if (event->timerId() == FHoverTimer && FHoverTimer) {
    VerifyMouseOver();
  } else {
    TBaseControl::timerEvent(event);
  }
}

bool TBaseGraphicButton::IsCustom() const { return false; }
bool TBaseGraphicButton::ActionChangeable() const { return true; }

void TBaseGraphicButton::DoRepeatedClick() {
  if (!FMouseOver) return;
  StopRepeat();
  FRepeatTimer = StartTimer(this, FRepeatingInterval);
  Click();
}

bool TBaseGraphicButton::ShapeButtonColorChange() const { return false; }

bool TBaseGraphicButton::VerifyTransparency(QPoint point) const {
  return point.x() >= 0 && point.y() >= 0 && point.x() <= width() && point.y() <= height();
}

void TBaseGraphicButton::VerifyMouseOver() {
  // The hover check uses the release's bounds.
  if (!HitForRelease(mapFromGlobal(QCursor::pos())) && isEnabled()) StateChange(bsUp);
}

bool TBaseGraphicButton::InClientForMove(QPoint p) const {
  return TBaseGraphicButton::VerifyTransparency(p);
}

bool TBaseGraphicButton::InClientForRelease(QPoint p) const {
  return p.x() >= 0 && p.x() < width() && p.y() >= 0 && p.y() <= height();
}

bool TBaseGraphicButton::HitForRelease(QPoint p) const {
  return FAllowTransparency ? VerifyTransparency(p) : InClientForRelease(p);
}

void TBaseGraphicButton::Click() { emit OnClick(); }

void TBaseGraphicButton::StateChange(TButtonState state) {
  if (state == FState) return;
  const auto between = [&](TButtonState a, TButtonState b) {
    return (FState == a && state == b) || (FState == b && state == a);
  };
  bool repaintNow = true;
  if (between(bsMouseOver, bsOptionSet)) repaintNow = false;
  if (between(bsUp, bsMouseOver) && !ShapeButtonColorChange() &&
      !(FAllowMouseOver && FEnterColorChange))
    repaintNow = false;
  FPreviousState = (state == bsMouseOver && FState != bsOptionSet) ? bsUp : FState;
  FState = state;
  if (repaintNow && isVisible()) {
    if (FTransparent)
      update();
    else
      repaint();
  }
  if (FAllowMouseOver) {
    if (FState == bsMouseOver && !FPressed)
      StartHoverCheck();
    else
      StopHoverCheck();
  }
}

void TBaseGraphicButton::SetPressed(bool pressed) {
  if (FGroupIndex == 0) pressed = false;
  if (pressed == FPressed || (FPressed && !FAllowAllUp)) return;
  FPressed = pressed;
  FPreviousState = FState;
  // A disabled toggle keeps the disabled look of its new position.
  if (pressed)
    FState = isEnabled() ? bsOptionSet : bsDisabledDown;
  else
    FState = isEnabled() ? bsUp : bsDisabledUp;
  if (FState != bsMouseOver) StopHoverCheck();
  update();
  if (pressed) InformOptionSet();
}

void TBaseGraphicButton::SetGroupIndex(int index) {
  FGroupIndex = index;
  InformOptionSet();
}

void TBaseGraphicButton::SetAllowAllUp(bool allow) {
  FAllowAllUp = allow;
  InformOptionSet();
}

void TBaseGraphicButton::InformOptionSet() {
  QWidget* parent = parentWidget();
  if (FGroupIndex == 0 || !parent) return;
  const auto siblings = parent->findChildren<TBaseGraphicButton*>(Qt::FindDirectChildrenOnly);
  for (TBaseGraphicButton* sibling : siblings) sibling->CMButtonPressed(FGroupIndex, this);
}

void TBaseGraphicButton::CMButtonPressed(int groupIndex, TBaseGraphicButton* sender) {
  if (groupIndex != FGroupIndex || sender == this) return;
  if (FPressed && sender->FPressed) {
    // Directly, not through the setter: no notification goes back.
    FPressed = false;
    FPreviousState = FState;
    FState = isEnabled() ? bsUp : bsDisabledUp;
    update();
  }
  FAllowAllUp = sender->FAllowAllUp;
}

void TBaseGraphicButton::SetAllowMouseOver(bool allow) {
  FAllowMouseOver = allow;
  if (!allow) StopHoverCheck();
}

void TBaseGraphicButton::SetRepeatingDelay(int ms) { FRepeatingDelay = std::clamp(ms, 0, 65535); }
void TBaseGraphicButton::SetRepeatingInterval(int ms) {
  FRepeatingInterval = std::clamp(ms, 0, 65535);
}

void TBaseGraphicButton::SetEnterColor(const QColor& colour) { SetLook(FEnterColor, colour); }
void TBaseGraphicButton::SetEnterColorChange(bool change) { SetLook(FEnterColorChange, change); }
void TBaseGraphicButton::SetColor(const QColor& colour) { SetLook(FColor, colour); }
void TBaseGraphicButton::SetTransparent(bool transparent) { SetLook(FTransparent, transparent); }
void TBaseGraphicButton::SetFontColor(const QColor& colour) { SetLook(FFontColor, colour); }
void TBaseGraphicButton::SetUseCaption(bool use) { SetLook(FUseCaption, use); }
void TBaseGraphicButton::SetMultiLine(bool multiLine) { SetLook(FMultiLine, multiLine); }
void TBaseGraphicButton::SetButtonLayout(const TButtonLayout& layout) {
  SetLook(FButtonLayout, layout);
}
void TBaseGraphicButton::SetButtonLayoutAlignment(TLayoutAlignment v) {
  SetLook(FButtonLayout.Alignment, v);
}
void TBaseGraphicButton::SetButtonLayoutAlignText2Glyph(TTextArrange v) {
  SetLook(FButtonLayout.AlignText2Glyph, v);
}
void TBaseGraphicButton::SetButtonLayoutOffsetX(int v) { SetLook(FButtonLayout.OffsetX, v); }
void TBaseGraphicButton::SetButtonLayoutOffsetY(int v) { SetLook(FButtonLayout.OffsetY, v); }
void TBaseGraphicButton::SetButtonLayoutSpacing(int v) { SetLook(FButtonLayout.Spacing, v); }

void TBaseGraphicButton::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift,
                                   QPoint point) {
  // Every handler called from here may close and delete the window with
  // this button; nothing of it is touched afterwards.
  const QPointer<TBaseGraphicButton> alive(this);
  emit OnMouseDown(button, shift, point.x(), point.y());
  if (!alive) return;
  if (FAllowTransparency && !VerifyTransparency(point)) return;
  if (!isEnabled() || button != Qt::LeftButton) return;
  FTracking = true;
  TButtonState state = FState;
  if (FPreviousState == bsOptionSet && FState == bsMouseOver && FGroupIndex != 0) {
    state = bsOptionSet;
  } else if (!FPressed) {
    state = bsDown;
    if (FRepeatedClick) {
      Click();
      if (!alive) return;
      StopRepeat();
      FRepeatTimer = StartTimer(this, FRepeatingDelay);
    }
  }
  StateChange(state);
}

void TBaseGraphicButton::mousePressEvent(QMouseEvent* event) {
  MouseDown(event->button(), event->modifiers(), event->position().toPoint());
}

void TBaseGraphicButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click is a press as well; its click may
  // delete the button.
  const QPointer<TBaseGraphicButton> alive(this);
  MouseDown(event->button(), event->modifiers(), event->position().toPoint());
  if (alive && FPressed) emit OnDblClick();
}

void TBaseGraphicButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  const QPointer<TBaseGraphicButton> alive(this);
  emit OnMouseMove(event->modifiers(), point.x(), point.y());
  if (!alive || FState == bsDropDownOpen || !isEnabled()) return;
  TButtonState state = FState;
  bool inside;
  if (FAllowTransparency) {
    inside = VerifyTransparency(point);
    if (inside && FAllowMouseOver) {
      if (!(FGroupIndex != 0 && FState == bsOptionSet)) state = bsMouseOver;
    } else if (FState == bsMouseOver) {
      state = FPreviousState;
    }
  } else {
    inside = InClientForMove(point);
  }
  if (FTracking) {
    if (inside)
      state = FPressed ? bsOptionSet : bsDown;
    else if (FGroupIndex == 0 || FState == bsDown)
      state = bsUp;
  }
  StateChange(state);
  if (inside && !FMouseOver) {
    emit OnMouseEnter();
    if (!alive) return;
    if (FState == bsUp && FAllowMouseOver) StateChange(bsMouseOver);
  }
  FMouseOver = inside;
}

void TBaseGraphicButton::mouseReleaseEvent(QMouseEvent* event) {
  if (FState == bsDropDownOpen) return;
  const QPoint point = event->position().toPoint();
  const QPointer<TBaseGraphicButton> alive(this);
  emit OnMouseUp(event->button(), event->modifiers(), point.x(), point.y());
  if (!alive || !FTracking) return;
  FTracking = false;
  StopRepeat();
  const bool inside = HitForRelease(point);
  TButtonState state = Disabled(FState) ? FState : bsUp;
  if (FGroupIndex != 0) {
    if (inside) {
      if (FState == bsOptionSet && !FAllowAllUp) return;
      SetPressed(!FPressed);
      if (FAllowMouseOver)
        state = FPressed ? bsOptionSet : bsUp;
      else
        state = FState;
    } else if (FPressed) {
      state = bsOptionSet;
    }
  } else if (inside && FAllowMouseOver && isEnabled()) {
    state = bsMouseOver;
  }
  StateChange(state);
  if (!inside) return;
  if (!FRepeatedClick) Click();
}

void TBaseGraphicButton::CMMouseEnter() {
  if (FAllowTransparency) return;
  const QPointer<TBaseGraphicButton> alive(this);
  TBaseControl::CMMouseEnter();
  if (!alive) return;
  if (FState == bsUp && FAllowMouseOver && isEnabled()) {
    StateChange(bsMouseOver);
    FMouseOver = true;
  }
}

void TBaseGraphicButton::CMMouseLeave() {
  const QPointer<TBaseGraphicButton> alive(this);
  TBaseControl::CMMouseLeave();
  if (!alive) return;
  if (FState == bsMouseOver) StateChange(FPreviousState);
  FMouseOver = false;
  if (FHideHint) QToolTip::hideText();
}

void TBaseGraphicButton::CMEnabledChanged() {
  if (!isEnabled()) {
    // A disabled widget gets no release: the press ends here.
    FTracking = false;
    StopRepeat();
  }
  FPreviousState = FState;
  if (isEnabled())
    FState = FPressed ? bsOptionSet : bsUp;
  else
    FState = FPressed ? bsDisabledDown : bsDisabledUp;
  StopHoverCheck();
  TBaseControl::CMEnabledChanged();
}

bool TBaseGraphicButton::CMDialogChar() {
  if (!isEnabled() || !isVisible() || (parentWidget() && !parentWidget()->isEnabled()))
    return false;
  if (FGroupIndex != 0) {
    if (FPressed && !FAllowAllUp) return true;
    SetPressed(!FPressed);
    if (FAllowMouseOver) {
      StateChange(FPressed ? bsOptionSet : bsUp);
      if (FPressed) Click();
    }
    return true;
  }
  StateChange(bsMouseOver);
  const QPointer<TBaseGraphicButton> alive(this);
  Click();
  if (!alive) return true;
  // The hover check puts the look back when the pointer is elsewhere.
  if (!underMouse()) FMouseOver = false;
  return true;
}

void TBaseGraphicButton::DrawCaption(QPainter& painter, const QRect& rect) {
  const QString text = Caption();
  if (!FUseCaption || text.isEmpty()) return;
  painter.setFont(font());
  QColor colour = FFontColor;
  if (FAllowMouseOver && FEnterColorChange && FState >= bsMouseOver && FState <= bsDropDownOpen)
    colour = FEnterColor;
  const int flags = Qt::TextShowMnemonic | (FMultiLine ? Qt::TextWordWrap : Qt::TextSingleLine);
  const QRect measured = painter.fontMetrics().boundingRect(
      QRect(0, 0, std::max(rect.width(), 1), 100000), flags | Qt::AlignLeft | Qt::AlignTop, text);
  const int w = measured.width();
  const int h = measured.height();
  const int column = FButtonLayout.Alignment % 3;
  const int row = FButtonLayout.Alignment / 3;
  // Edges are exclusive: the rectangle runs from left() to left() + width().
  int x = rect.left();
  if (column == 1) x += (rect.width() - w) / 2;
  if (column == 2) x += rect.width() - w;
  int y = rect.top();
  if (row == 1) y += (rect.height() - h) / 2;
  if (row == 2) y += rect.height() - h;
  x += 1 + FButtonLayout.OffsetX;
  y += 1 + FButtonLayout.OffsetY;
  const QRect box(x, y, w, h);
  const int align = flags | Qt::AlignLeft | Qt::AlignTop;
  if (!isEnabled()) {
    // Embossed: a light copy one pixel down and right under a grey one.
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(box.translated(1, 1), align, text);
    colour = palette().color(QPalette::Disabled, QPalette::ButtonText);
  }
  painter.setPen(colour);
  painter.drawText(box, align, text);
}
