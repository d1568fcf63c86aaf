// TBaseGraphicButton: states, toggling, groups of mutually exclusive toggles
// (per parent), mouse handling, repeated click and caption drawing of a
// windowless button. The look comes from the class derived from it.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>

#include "widgets/basecontrol.h"

class QPainter;

class TBaseGraphicButton : public TBaseControl {
  Q_OBJECT

 public:
  enum TButtonState {
    bsUp,
    bsDisabledUp,
    bsMouseOver,
    bsOptionSet,  // the look of a pressed toggle
    bsDown,
    bsDragOver,
    bsDropDownOpen,
    bsDisabledDown
  };
  Q_ENUM(TButtonState)

  enum TLayoutAlignment {
    agTopLeft,
    agTopCenter,
    agTopRight,
    agCenterLeft,
    agCenter,
    agCenterRight,
    agBottomLeft,
    agBottomCenter,
    agBottomRight
  };
  Q_ENUM(TLayoutAlignment)

  // Arranges the text against a glyph; without a glyph it has no effect.
  enum TTextArrange { taLeft, taRight, taTop, taBottom };
  Q_ENUM(TTextArrange)

  struct TButtonLayout {
    TLayoutAlignment Alignment = agCenter;
    TTextArrange AlignText2Glyph = taLeft;
    int OffsetX = 0;
    int OffsetY = 0;
    int Spacing = 2;
    friend bool operator==(const TButtonLayout&, const TButtonLayout&) = default;
  };

  explicit TBaseGraphicButton(QWidget* parent = nullptr);
  ~TBaseGraphicButton() override;

  TButtonState State() const { return FState; }
  TButtonState PreviousState() const { return FPreviousState; }
  bool Tracking() const { return FTracking; }

  bool Pressed() const { return FPressed; }
  void SetPressed(bool pressed);
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int index);
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool allow);
  bool AllowMouseOver() const { return FAllowMouseOver; }
  void SetAllowMouseOver(bool allow);
  bool AllowTransparency() const { return FAllowTransparency; }
  void SetAllowTransparency(bool allow) { FAllowTransparency = allow; }
  bool MouseOver() const { return FMouseOver; }
  void SetMouseOver(bool over) { FMouseOver = over; }
  bool RepeatedClick() const { return FRepeatedClick; }
  void SetRepeatedClick(bool repeated) { FRepeatedClick = repeated; }
  // Milliseconds; 16-bit unsigned values.
  int RepeatingDelay() const { return FRepeatingDelay; }
  void SetRepeatingDelay(int ms);
  int RepeatingInterval() const { return FRepeatingInterval; }
  void SetRepeatingInterval(int ms);
  QColor EnterColor() const { return FEnterColor; }
  void SetEnterColor(const QColor& colour);
  bool EnterColorChange() const { return FEnterColorChange; }
  void SetEnterColorChange(bool change);
  bool HideHint() const { return FHideHint; }
  void SetHideHint(bool hide) { FHideHint = hide; }
  // Background of the control's rectangle, filled unless Transparent.
  QColor Color() const { return FColor; }
  void SetColor(const QColor& colour);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool transparent);
  // Colour of the caption's font.
  QColor FontColor() const { return FFontColor; }
  void SetFontColor(const QColor& colour);
  bool UseCaption() const { return FUseCaption; }
  void SetUseCaption(bool use);
  bool MultiLine() const { return FMultiLine; }
  void SetMultiLine(bool multiLine);
  const TButtonLayout& ButtonLayout() const { return FButtonLayout; }
  void SetButtonLayout(const TButtonLayout& layout);
  // Field-by-field access, so a form description can set each one.
  TLayoutAlignment ButtonLayoutAlignment() const { return FButtonLayout.Alignment; }
  void SetButtonLayoutAlignment(TLayoutAlignment v);
  TTextArrange ButtonLayoutAlignText2Glyph() const { return FButtonLayout.AlignText2Glyph; }
  void SetButtonLayoutAlignText2Glyph(TTextArrange v);
  int ButtonLayoutOffsetX() const { return FButtonLayout.OffsetX; }
  void SetButtonLayoutOffsetX(int v);
  int ButtonLayoutOffsetY() const { return FButtonLayout.OffsetY; }
  void SetButtonLayoutOffsetY(int v);
  int ButtonLayoutSpacing() const { return FButtonLayout.Spacing; }
  void SetButtonLayoutSpacing(int v);

  // Fires OnClick.
  virtual void Click();

 signals:
  void OnClick();
  void OnDblClick();
  void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
  void OnMouseMove(Qt::KeyboardModifiers shift, int x, int y);
  void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

 protected:
  // A value that only changes the look: stored, then repainted when it
  // differs.
  template <typename T>
  void SetLook(T& field, const T& value) {
    if (field == value) return;
    field = value;
    update();
  }

  virtual bool IsCustom() const;
  virtual bool ActionChangeable() const;
  // One tick of the repeat timer.
  virtual void DoRepeatedClick();
  // Whether hovering changes the fill colour.
  virtual bool ShapeButtonColorChange() const;
  // Whether a point counts as on the button (the shape's hit test).
  virtual bool VerifyTransparency(QPoint point) const;
  // One tick of the hover check.
  virtual void VerifyMouseOver();

  // Moves to a new state and repaints as needed.
  void StateChange(TButtonState state);
  // Sends the group notification to every control of the same parent.
  void InformOptionSet();
  // Receives it from a sibling.
  void CMButtonPressed(int groupIndex, TBaseGraphicButton* sender);

  // The caption in the button's font, aligned in the rectangle by
  // ButtonLayout, moved one pixel right and down and by the offsets.
  void DrawCaption(QPainter& painter, const QRect& rect);

  void CMMouseEnter() override;
  void CMMouseLeave() override;
  void CMEnabledChanged() override;
  bool CMDialogChar() override;

  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, QPoint point);
  // Client-rectangle tests without the shape; the bounds differ by use.
  bool InClientForMove(QPoint point) const;
  bool InClientForRelease(QPoint point) const;
  bool HitForRelease(QPoint point) const;
  void StartHoverCheck();
  void StopHoverCheck();
  void StopRepeat();
  static int StartTimer(QObject* owner, int ms);

  TButtonState FState = bsUp;
  TButtonState FPreviousState = bsUp;
  bool FPressed = false;
  bool FTracking = false;
  bool FMouseOver = false;
  int FGroupIndex = 0;
  bool FAllowAllUp = false;
  bool FAllowMouseOver = true;
  bool FAllowTransparency = true;
  bool FRepeatedClick = false;
  int FRepeatingDelay = 500;
  int FRepeatingInterval = 100;
  QColor FEnterColor;
  bool FEnterColorChange = false;
  bool FHideHint = true;
  QColor FColor;
  bool FTransparent = false;
  QColor FFontColor;
  bool FUseCaption = true;
  bool FMultiLine = false;
  TButtonLayout FButtonLayout;
  int FHoverTimer = 0;
  int FRepeatTimer = 0;
};

using TButtonState = TBaseGraphicButton::TButtonState;
using TLayoutAlignment = TBaseGraphicButton::TLayoutAlignment;
using TTextArrange = TBaseGraphicButton::TTextArrange;
using TButtonLayout = TBaseGraphicButton::TButtonLayout;
