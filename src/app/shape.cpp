#include "app/shape.h"

#include <QPainter>
#include <algorithm>

TShape::TShape(QWidget* parent) : QWidget(parent) {}

void TShape::SetBrushColor(const QColor& colour) {
  FBrushColor = colour;
  update();
}

void TShape::SetPenColor(const QColor& colour) {
  FPenColor = colour;
  update();
}

int TShape::CornerEllipse() const { return std::min(width(), height()) / 4; }

void TShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(FPenColor, 0));
  painter.setBrush(FBrushColor);
  // An outline over pixels 0 .. size - 1, and an ellipse covering
  // CornerEllipse() pixels: its radius counts from pixel centres.
  const qreal radius = (CornerEllipse() - 1) / 2.0;
  painter.drawRoundedRect(QRectF(0, 0, width() - 1, height() - 1), radius, radius);
}
