#include "widgets/customshapebutton.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "imaging/canvas.h"

namespace {

bool PressedLook(TButtonState state) {
  return state == TBaseGraphicButton::bsOptionSet || state == TBaseGraphicButton::bsDown ||
         state == TBaseGraphicButton::bsDropDownOpen || state == TBaseGraphicButton::bsDisabledDown;
}

// A rounded rectangle with its right and bottom edges exclusive, drawn as the
// canvas draws one; a pen width of 0 means no outline.
void RoundRect(QPainter& painter, QPoint from, QPoint to, QPoint corner, int penWidth,
               const QBrush& pen, const QBrush& brush) {
  QPainterPath outer, inner;
  RoundRectPaths(from.x(), from.y(), to.x(), to.y(), corner.x(), corner.y(), std::max(penWidth, 1),
                 outer, inner);
  painter.fillPath(outer, penWidth > 0 ? pen : brush);
  painter.fillPath(inner, brush);
}

}  // namespace

TCustomShapeButton::TCustomShapeButton(QWidget* parent) : TBaseGraphicButton(parent) {
  const QColor face = palette().color(QPalette::Button);
  FColors = {face, face, face, face, face};
  FShape.BrushColor = face;
  FShape.Shadow.Color = palette().color(QPalette::Dark);
  FShape.Bevel.LightColor = palette().color(QPalette::Light);
  FShape.Bevel.ShadowColor = palette().color(QPalette::Dark);
}

TCustomShapeButton::TShapePoints TCustomShapeButton::ShapePoints(int width, int height,
                                                                 const TButtonShape& shape) {
  const int d = shape.Shadow.Style == hssNone ? 0 : shape.Shadow.Depth;
  const int q = shape.Bevel.Width / 2;
  QPoint topLeft(d, d);
  QPoint bottomRight(width, height);
  if (shape.Square) {
    const int w = width - d;
    const int h = height - d;
    const int cut = (std::max(w, h) - std::min(w, h)) / 2;
    if (w > h) {
      topLeft.rx() += cut;
      bottomRight.rx() -= cut;
    } else {
      topLeft.ry() += cut;
      bottomRight.ry() -= cut;
    }
  }
  const int r = std::min(width - d, height - d) * shape.RoundPercent / 100;
  return {topLeft,     bottomRight,         QPoint(r, r), topLeft + QPoint(q, q),
          bottomRight, QPoint(r + d, r + d)};
}

const TCustomShapeButton::TShapePoints& TCustomShapeButton::Points() const {
  // The size is compared as well: a hidden widget gets its resize event
  // only when shown.
  if (FPointsValid && FPointsSize == size()) return FPoints;
  FPoints = ShapePoints(width(), height(), FShape);
  FPointsSize = size();
  // The hit region: the shape rectangle where the released body is drawn.
  // Without a shadow style the body is not moved, so neither is the region.
  const int d = FShape.Shadow.Style == hssNone ? 0 : FShape.Shadow.Depth;
  FHitMask = QImage(std::max(width(), 1), std::max(height(), 1), QImage::Format_Grayscale8);
  FHitMask.fill(0);
  QPainter painter(&FHitMask);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QPoint shift(d, d);
  RoundRect(painter, FPoints[0] - shift, FPoints[1] - shift, FPoints[2], 0, Qt::white, Qt::white);
  FPointsValid = true;
  return FPoints;
}

bool TCustomShapeButton::VerifyTransparency(QPoint point) const {
  Points();
  return FHitMask.valid(point) && qGray(FHitMask.pixel(point)) != 0;
}

bool TCustomShapeButton::ShapeButtonColorChange() const { return FColors.Up != FColors.MouseOver; }

QRect TCustomShapeButton::CaptionRect() const {
  const int bw = FShape.Bevel.Width;
  const int d = FShape.Shadow.Depth;
  QRect rect(QPoint(bw + 1, bw + 1), QPoint(width() - 2 * bw - d - 2, height() - 2 * bw - d - 2));
  const TButtonState state = State();
  if (state == bsOptionSet || state == bsDown || state == bsDropDownOpen) rect.translate(d, d);
  return rect;
}

void TCustomShapeButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, false);
  if (!Transparent()) painter.fillRect(rect(), Color());

  QBrush fill;
  switch (State()) {
    case bsUp:
      fill = FColors.Up;
      break;
    case bsDisabledUp:
    case bsDisabledDown:
      fill = FColors.Disabled;
      break;
    case bsMouseOver:
      fill = FColors.MouseOver;
      break;
    case bsOptionSet:
    case bsDropDownOpen:
      fill = FColors.OptionSet;
      break;
    case bsDown:
      fill = FColors.Down;
      break;
    case bsDragOver:
      fill = Qt::white;
      break;
  }

  // Pressed looks lose the shadow and the body takes its place.
  TShapeShadow shadow = FShape.Shadow;
  if (PressedLook(State())) shadow.Depth = 0;
  const int d = shadow.Style == hssNone ? 0 : shadow.Depth;
  TShapePoints points = Points();
  if (d != 0) {
    const QBrush brush(shadow.Color,
                       shadow.Style == hssTracing ? Qt::Dense4Pattern : Qt::SolidPattern);
    RoundRect(painter, points[0], points[1], points[2], 0, brush, brush);
  }
  for (QPoint& point : points) point -= QPoint(d, d);
  RoundRect(painter, points[3], points[4], points[5], FShape.Bevel.Width, FShape.Bevel.Color, fill);

  DrawCaption(painter, CaptionRect());

  // Where the keyboard is: drawn over the look only while focused, so the
  // look without focus keeps every pixel.
  if (hasFocus()) {
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void TCustomShapeButton::focusInEvent(QFocusEvent* event) {
  TBaseGraphicButton::focusInEvent(event);
  update();
}

void TCustomShapeButton::focusOutEvent(QFocusEvent* event) {
  TBaseGraphicButton::focusOutEvent(event);
  update();
}

void TCustomShapeButton::ShapeChanged() {
  FPointsValid = false;
  update();
}

void TCustomShapeButton::SetColors(const TShapeButtonColor& colours) { SetLook(FColors, colours); }

void TCustomShapeButton::SetColorsField(QColor TShapeButtonColor::*field, const QColor& colour) {
  SetLook(FColors.*field, colour);
}

void TCustomShapeButton::SetShape(const TButtonShape& shape) {
  if (shape == FShape) return;
  FShape = shape;
  FShape.RoundPercent = std::clamp(FShape.RoundPercent, 0, 100);
  FShape.Shadow.Depth = std::clamp(FShape.Shadow.Depth, 0, 40);
  FShape.Bevel.Width = std::clamp(FShape.Bevel.Width, 0, 50);
  ShapeChanged();
}

void TCustomShapeButton::SetMode(TShapeButtonMode mode) { SetLook(FMode, mode); }
void TCustomShapeButton::SetStyle(TShapeButtonStyle style) { SetLook(FStyle, style); }

#define SHAPE_SETTER(Name, Type, member)       \
  void TCustomShapeButton::Set##Name(Type v) { \
    TButtonShape shape = FShape;               \
    shape.member = v;                          \
    SetShape(shape);                           \
  }
SHAPE_SETTER(ShapeShape, TShapeType, Shape)
SHAPE_SETTER(ShapeRoundPercent, int, RoundPercent)
SHAPE_SETTER(ShapeSquare, bool, Square)
SHAPE_SETTER(ShapeBrushColor, const QColor&, BrushColor)
SHAPE_SETTER(ShapeShadowColor, const QColor&, Shadow.Color)
SHAPE_SETTER(ShapeShadowDepth, int, Shadow.Depth)
SHAPE_SETTER(ShapeShadowStyle, THintShadowStyle, Shadow.Style)
SHAPE_SETTER(ShapeBevelColor, const QColor&, Bevel.Color)
SHAPE_SETTER(ShapeBevelWidth, int, Bevel.Width)
SHAPE_SETTER(ShapeBevelStyle, TBevelStyle, Bevel.Style)
SHAPE_SETTER(ShapeBevelLightColor, const QColor&, Bevel.LightColor)
SHAPE_SETTER(ShapeBevelShadowColor, const QColor&, Bevel.ShadowColor)
#undef SHAPE_SETTER
