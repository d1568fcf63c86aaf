// Draws the program's icon for the desktop's hicolor theme into
// assets/icons/hicolor/<size>x<size>/apps/punchlet.png. Run by hand (target
// make_icon) when its look changes; the PNGs are committed and installed.
//
// The motif is what the program makes: a small landscape photo punched out
// with rounded corners, a white border and a pink frame. Each size is drawn
// from the same outline rather than scaled from the largest, so the small
// ones stay sharp.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kShadow(0, 0, 0, 60);
const QColor kPaper(255, 255, 255);
const QColor kFrame(255, 128, 192);  // the pink frame choice
const QColor kSkyTop(70, 140, 230);
const QColor kSkyLow(180, 220, 255);
const QColor kSun(255, 204, 0);
const QColor kHillFar(90, 170, 90);
const QColor kHillNear(40, 128, 60);

// Drawn in a 256 x 256 design space.
QImage Icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 256.0, size / 256.0);

  const QRectF card(20, 44, 216, 168);
  p.setPen(Qt::NoPen);
  p.setBrush(kShadow);
  p.drawRoundedRect(card.translated(4, 6), 34, 34);
  p.setBrush(kPaper);
  p.drawRoundedRect(card, 34, 34);

  // The photo inside the white border.
  const QRectF photo = card.adjusted(14, 14, -14, -14);
  QPainterPath clip;
  clip.addRoundedRect(photo, 24, 24);
  p.save();
  p.setClipPath(clip);
  QLinearGradient sky(photo.topLeft(), photo.bottomLeft());
  sky.setColorAt(0, kSkyTop);
  sky.setColorAt(1, kSkyLow);
  p.fillRect(photo, sky);
  p.setBrush(kSun);
  p.drawEllipse(QPointF(170, 96), 20, 20);
  QPainterPath far;
  far.moveTo(photo.left(), 160);
  far.cubicTo(70, 110, 120, 120, 160, 150);
  far.cubicTo(190, 135, 215, 135, photo.right(), 150);
  far.lineTo(photo.bottomRight());
  far.lineTo(photo.bottomLeft());
  p.setBrush(kHillFar);
  p.drawPath(far);
  QPainterPath near;
  near.moveTo(photo.left(), 185);
  near.cubicTo(100, 150, 160, 160, photo.right(), 180);
  near.lineTo(photo.bottomRight());
  near.lineTo(photo.bottomLeft());
  p.setBrush(kHillNear);
  p.drawPath(near);
  p.restore();

  // The frame, thicker where the icon is small so that it still shows.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kFrame, size <= 24 ? 12 : 7));
  p.drawRoundedRect(photo, 24, 24);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("assets");
  bool ok = true;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QString("%1/icons/hicolor/%2x%2/apps").arg(root).arg(size);
    ok = QDir().mkpath(folder) && Icon(size).save(folder + "/punchlet.png") && ok;
  }
  if (!ok) std::fprintf(stderr, "cannot write the icons into %s\n", qPrintable(root));
  return ok ? 0 : 1;
}
