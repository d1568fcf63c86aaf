#include "imaging/canvas.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/errors.h"

namespace {

QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

// A read-only view of a 24-bit picture, for Qt calls that take a source image.
QImage View(const Picture& picture) {
  return QImage(picture.Bits(), picture.Width(), picture.Height(), picture.Stride(),
                QImage::Format_BGR888);
}

// Qt's raster engine hands a fill of more than about 96 spans to the global
// thread pool and waits for it; where no thread can be started (a tight
// address-space limit) it would wait for ever. So every drawing is clipped
// to bands of rows few enough that Qt fills them inline, each row giving at
// most two spans. Clipping a band changes no pixel.
constexpr int kBandRows = 32;

template <typename Paint>
void Banded(QPainter& painter, const QRect& bounds, const QRect& area, Paint paint) {
  const QRect target = bounds & area;
  if (target.isEmpty()) return;
  for (int y = target.top(); y <= target.bottom(); y += kBandRows) {
    painter.setClipRect(QRect(target.left(), y, target.width(), kBandRows));
    paint();
  }
  painter.setClipping(false);
}

}  // namespace

struct TCanvas::Impl {
  uint8_t* bits = nullptr;
  int stride = 0;
  int width = 0;
  int height = 0;
  // The painter is declared after the image so that it ends first.
  QImage image;
  std::optional<QPainter> painter;
  QRect Area() const { return QRect(0, 0, width, height); }

  QColor brush = Qt::white;
  bool brushClear = false;
  QColor pen = Qt::black;
  int penWidth = 1;
  QFont font;
  bool fontFamilySet = false;
  QColor fontColor = Qt::black;
  // The family is looked up at the first text: finding it loads the font
  // configuration, which a picture without text never needs.
  const QFont& Font() {
    if (!fontFamilySet) {
      font.setFamily(QString::fromStdString(DefaultFontFamily()));
      fontFamilySet = true;
    }
    return font;
  }
};

TCanvas::TCanvas(Picture& picture) : FImpl(std::make_unique<Impl>()) {
  if (picture.BitCount() != 24) throw EInvalidGraphicOperation("drawing needs a 24-bit picture");
  Impl& d = *FImpl;
  d.font.setPixelSize(11);
  // Grey-level edges only: colour fringes from the desktop's subpixel setting
  // would end up in the saved picture.
  d.font.setStyleStrategy(QFont::NoSubpixelAntialias);
  if (picture.Empty()) return;
  // The writable accessor makes the rows private to this picture before Qt
  // draws into them.
  d.bits = picture.Bits();
  d.stride = picture.Stride();
  d.width = picture.Width();
  d.height = picture.Height();
  d.image = QImage(d.bits, d.width, d.height, d.stride, QImage::Format_BGR888);
  d.painter.emplace(&d.image);
  d.painter->setRenderHint(QPainter::Antialiasing, false);
  d.painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  d.painter->setRenderHint(QPainter::TextAntialiasing, true);
}

TCanvas::~TCanvas() = default;

int TCanvas::Width() const { return FImpl->width; }
int TCanvas::Height() const { return FImpl->height; }

void TCanvas::SetBrushColor(Rgb colour) {
  FImpl->brush = ToQColor(colour);
  FImpl->brushClear = false;
}
void TCanvas::SetBrushClear(bool clear) { FImpl->brushClear = clear; }
void TCanvas::SetPenColor(Rgb colour) { FImpl->pen = ToQColor(colour); }
void TCanvas::SetPenWidth(int width) { FImpl->penWidth = std::max(width, 1); }
void TCanvas::SetFontPixelSize(int pixels) { FImpl->font.setPixelSize(std::max(pixels, 1)); }
void TCanvas::SetFontBold(bool bold) { FImpl->font.setBold(bold); }
void TCanvas::SetFontColor(Rgb colour) { FImpl->fontColor = ToQColor(colour); }
void TCanvas::SetTextAntialiasing(bool on) {
  // The render hint alone does not switch antialiasing off; the font must ask.
  FImpl->font.setStyleStrategy(on ? QFont::NoSubpixelAntialias : QFont::NoAntialias);
  if (FImpl->painter) FImpl->painter->setRenderHint(QPainter::TextAntialiasing, on);
}

void TCanvas::FillRect(int x1, int y1, int x2, int y2) {
  Impl& d = *FImpl;
  if (!d.painter || d.brushClear || x2 <= x1 || y2 <= y1) return;
  const QRect rect(x1, y1, x2 - x1, y2 - y1);
  Banded(*d.painter, rect, d.Area(), [&] { d.painter->fillRect(rect, d.brush); });
}

void RoundRectPaths(int x1, int y1, int x2, int y2, int ellipseWidth, int ellipseHeight,
                    int penWidth, QPainterPath& outer, QPainterPath& inner) {
  if (x2 < x1) std::swap(x1, x2);
  if (y2 < y1) std::swap(y1, y2);
  penWidth = std::max(penWidth, 1);
  // Aliased shapes are sampled at pixel centres. An odd pen is centred on the
  // middle of the outline's pixels (x + 0.5) and an even one on their left
  // edge (x), so every straight band is exactly the pen's width in whole
  // pixels, an even one reaching one pixel further up and left, as GDI does.
  const double shift = penWidth % 2 ? 0.5 : 0.0;
  const QRectF outline(x1 + shift, y1 + shift, x2 - 1 - x1, y2 - 1 - y1);
  const double rx = ellipseWidth / 2.0;
  const double ry = ellipseHeight / 2.0;
  const double half = penWidth / 2.0;
  // The pen's band is the outline grown and shrunk by half the pen, with
  // round joins: built as two rounded rectangles and filled, which keeps the
  // corners symmetric where Qt's stroker rounds them unevenly.
  outer = QPainterPath();
  outer.addRoundedRect(outline.adjusted(-half, -half, half, half), rx + half, ry + half);
  inner = QPainterPath();
  const QRectF inside = outline.adjusted(half, half, -half, -half);
  if (inside.width() > 0 && inside.height() > 0)
    inner.addRoundedRect(inside, std::max(rx - half, 0.0), std::max(ry - half, 0.0));
}

void TCanvas::RoundRect(int x1, int y1, int x2, int y2, int ellipseWidth, int ellipseHeight) {
  Impl& d = *FImpl;
  if (!d.painter) return;
  QPainterPath outer, inner;
  RoundRectPaths(x1, y1, x2, y2, ellipseWidth, ellipseHeight, d.penWidth, outer, inner);
  d.painter->setPen(Qt::NoPen);
  const QRect bounds = outer.boundingRect().toAlignedRect().adjusted(-1, -1, 1, 1);
  if (d.brushClear) {
    QPainterPath band = outer;
    band.addPath(inner);
    band.setFillRule(Qt::OddEvenFill);
    Banded(*d.painter, bounds, d.Area(), [&] { d.painter->fillPath(band, d.pen); });
  } else {
    // Brush over pen: no pixel on the seam between the two is left unpainted.
    Banded(*d.painter, bounds, d.Area(), [&] {
      d.painter->fillPath(outer, d.pen);
      d.painter->fillPath(inner, d.brush);
    });
  }
}

int TCanvas::TextWidth(const std::string& text) const {
  return QFontMetrics(FImpl->Font()).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string&) const {
  // The height of the font's line, whatever the text: a line takes the same
  // room with or without descenders.
  return QFontMetrics(FImpl->Font()).height();
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  Impl& d = *FImpl;
  if (!d.painter || text.empty()) return;
  d.painter->setFont(d.Font());
  d.painter->setPen(d.fontColor);
  d.painter->setBrush(Qt::NoBrush);
  const QFontMetrics metrics(d.font);
  const QString line = QString::fromStdString(text);
  const QPointF origin(x, y + metrics.ascent());
  // Generous bounds: glyphs may reach past their advance.
  const QRect bounds =
      metrics.boundingRect(line)
          .translated(origin.toPoint())
          .adjusted(-metrics.height(), -metrics.height(), metrics.height(), metrics.height());
  Banded(*d.painter, bounds, d.Area(), [&] { d.painter->drawText(origin, line); });
}

void TCanvas::Draw(int x, int y, const Picture& source) { CopyPicture(x, y, source, nullptr); }

void TCanvas::Draw(int x, int y, const Picture& source, Rgb seeThrough) {
  CopyPicture(x, y, source, &seeThrough);
}

void TCanvas::CopyPicture(int x, int y, const Picture& source, const Rgb* seeThrough) {
  Impl& d = *FImpl;
  if (!d.bits || source.Empty()) return;
  if (source.Bits() == d.bits) {
    // Drawing the picture onto itself: copy it first so that rows and pixels
    // that overlap are read before they are overwritten.
    Picture copy = source;
    copy.Bits();
    CopyPicture(x, y, copy, seeThrough);
    return;
  }
  // Clip in 64 bits: offsets far outside must not overflow.
  const int64_t sx0 = std::max<int64_t>(0, -int64_t{x});
  const int64_t sy0 = std::max<int64_t>(0, -int64_t{y});
  const int64_t sx1 = std::min<int64_t>(source.Width(), int64_t{d.width} - x);
  const int64_t sy1 = std::min<int64_t>(source.Height(), int64_t{d.height} - y);
  if (sx0 >= sx1 || sy0 >= sy1) return;
  const bool plain24 = source.BitCount() == 24;
  for (int64_t sy = sy0; sy < sy1; ++sy) {
    uint8_t* out = d.bits + (sy + y) * d.stride + (sx0 + x) * 3;
    if (plain24 && !seeThrough) {
      std::memcpy(out, source.ScanLine(static_cast<int>(sy)) + sx0 * 3,
                  static_cast<size_t>(sx1 - sx0) * 3);
      continue;
    }
    if (plain24) {
      // The overlay of every punched picture comes this way.
      const uint8_t* in = source.ScanLine(static_cast<int>(sy)) + sx0 * 3;
      const Rgb key = *seeThrough;
      for (int64_t sx = sx0; sx < sx1; ++sx, out += 3, in += 3) {
        if (in[0] == key.b && in[1] == key.g && in[2] == key.r) continue;
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
      continue;
    }
    for (int64_t sx = sx0; sx < sx1; ++sx, out += 3) {
      const Rgb c = source.Pixel(static_cast<int>(sx), static_cast<int>(sy));
      if (seeThrough && c == *seeThrough) continue;
      out[0] = c.b;
      out[1] = c.g;
      out[2] = c.r;
    }
  }
}

void TCanvas::StretchDraw(int x1, int y1, int x2, int y2, const Picture& source) {
  Impl& d = *FImpl;
  if (!d.painter || source.Empty() || x2 <= x1 || y2 <= y1) return;
  Picture copy = source;
  // Qt reads the source while writing here, so it must not be our own rows;
  // and it reads only 24-bit pixels.
  if (source.Bits() == d.bits) copy.Bits();
  copy.ConvertTo24();
  const QRect rect(x1, y1, x2 - x1, y2 - y1);
  const QImage view = View(copy);
  Banded(*d.painter, rect, d.Area(), [&] { d.painter->drawImage(rect, view); });
}

std::string TCanvas::DefaultFontFamily() {
  static const std::string family = [] {
    const QStringList installed = QFontDatabase::families();
    for (const char* name : {"ＭＳ Ｐゴシック", "MS PGothic", "IPAPGothic", "IPA Pゴシック"}) {
      if (installed.contains(QString::fromUtf8(name), Qt::CaseInsensitive))
        return std::string(name);
    }
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    if (!japanese.isEmpty()) return japanese.first().toStdString();
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family().toStdString();
  }();
  return family;
}
