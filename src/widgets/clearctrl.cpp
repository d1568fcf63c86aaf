#include "widgets/clearctrl.h"

#include <QPainter>

TClearButton::TClearButton(QWidget* parent) : QPushButton(parent) {
  setFlat(true);
  setFocusPolicy(Qt::NoFocus);
}

void TClearButton::SetPicture(const QImage& picture) {
  FPicture = picture;
  update();
}

void TClearButton::SetTransparentColor(const QColor& colour) {
  if (colour == FTransparentColor) return;
  FTransparentColor = colour;
  update();
}

void TClearButton::SetCaptionTop(int top) {
  if (top == FCaptionTop) return;
  FCaptionTop = top;
  update();
}

void TClearButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!FPicture.isNull()) {
    // The key colour becomes see-through, as on the shaped button.
    QImage picture = FPicture.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = FTransparentColor.rgb() & 0xFFFFFF;
    for (int y = 0; y < picture.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
      for (int x = 0; x < picture.width(); ++x)
        if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
    }
    const int offset = isDown() ? 1 : 0;
    painter.drawImage((width() - picture.width()) / 2 + offset, offset, picture);
  }
  // White caption over a silver drop shadow, as on the floating button style.
  painter.setFont(font());
  const QRect captionRect(0, FCaptionTop, width(), height() - FCaptionTop);
  painter.setPen(QColor(192, 192, 192));
  painter.drawText(captionRect.translated(1, 1), Qt::AlignHCenter | Qt::AlignTop, text());
  painter.setPen(Qt::white);
  painter.drawText(captionRect, Qt::AlignHCenter | Qt::AlignTop, text());
}
