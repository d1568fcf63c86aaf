// Draws the Enter and Esc key-cap pictures of the preview window's buttons
// into assets/, each also at twice the size for screens with more pixels
// (name@2x.png). Run by hand (target make_keycaps) when their look changes;
// the PNGs are committed and compiled in as resources.
//
// Black is the buttons' see-through colour, so the caps are drawn without
// antialiasing: a blended edge pixel would show as a dark fringe.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {
const QColor kAmber(255, 204, 0);
const QColor kAmberEdge(204, 153, 0);
const QColor kBrown(128, 64, 0);

QImage Cap(int width, int height, const QPainterPath& outline, const char* word, int scale) {
  QImage image(width * scale, height * scale, QImage::Format_RGB32);
  image.fill(Qt::black);
  // Drawn in the 1x picture's pixels, rasterised at the scale.
  image.setDevicePixelRatio(scale);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setPen(QPen(kAmberEdge, 1));
  painter.setBrush(kAmber);
  painter.drawPath(outline);
  QFont font("IPAPGothic");
  font.setPixelSize(10);
  font.setBold(true);
  font.setStyleStrategy(QFont::NoAntialias);
  painter.setFont(font);
  painter.setPen(kBrown);
  painter.drawText(QRect(4, 2, width - 6, 12), Qt::AlignLeft | Qt::AlignTop, word);
  return image;
}

// An ISO Enter key: full width at the top, narrower below.
QPainterPath EnterOutline() {
  QPainterPath top;
  top.addRoundedRect(QRectF(0.5, 0.5, 46, 17), 4, 4);
  QPainterPath stem;
  stem.addRoundedRect(QRectF(10.5, 0.5, 36, 34), 4, 4);
  return top.united(stem);
}

QPainterPath EscOutline() {
  QPainterPath path;
  path.addRoundedRect(QRectF(0.5, 0.5, 34, 34), 4, 4);
  return path;
}
}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("assets");
  bool ok = true;
  for (const int scale : {1, 2}) {
    const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png");
    ok = ok && Cap(48, 36, EnterOutline(), "Enter", scale).save(folder + "/enterkey" + suffix) &&
         Cap(36, 36, EscOutline(), "Esc", scale).save(folder + "/esckey" + suffix);
  }
  if (!ok) std::fprintf(stderr, "cannot write the key caps into %s\n", qPrintable(folder));
  return ok ? 0 : 1;
}
