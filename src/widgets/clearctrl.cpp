#include "widgets/clearctrl.h"

#include <QApplication>
#include <QChildEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWindow>
#include <algorithm>
#include <type_traits>
#include <vector>

#if defined(__SSE2__) && !defined(PUNCHLET_NO_SIMD)
#include <emmintrin.h>
#endif

#include "platform/errors.h"

namespace {

// Pixels are compared as RGB32 with the alpha byte always set.
QRgb Opaque(QRgb colour) { return colour | 0xFF000000u; }
QRgb Opaque(const QColor& colour) { return Opaque(colour.rgb()); }

QRgb PerChannel(QRgb colour, int delta) {
  const auto channel = [delta](int value) { return std::clamp(value + delta, 0, 255); };
  return qRgb(channel(qRed(colour)), channel(qGreen(colour)), channel(qBlue(colour)));
}
QRgb Brighten(QRgb colour, int n) { return PerChannel(colour, n); }
QRgb Darken(QRgb colour, int n) { return PerChannel(colour, -n); }
QRgb Grey(QRgb colour) {
  const int g = std::clamp((qRed(colour) + qGreen(colour) + qBlue(colour)) / 3, 128, 192);
  return qRgb(g, g, g);
}

// Sets field to value; false when it held that value already, so a setter
// can skip rebuilding the images.
template <typename T>
bool Store(T& field, const std::type_identity_t<T>& value) {
  if (field == value) return false;
  field = value;
  return true;
}

// Qt gives a null image, not an exception, where memory runs out.
void CheckAllocated(const QImage& image, int width, int height) {
  if (image.isNull() && width > 0 && height > 0) throw EOutOfMemory(SOutOfMemory);
}

QImage Filled(int width, int height, QRgb colour) {
  QImage image(width, height, QImage::Format_RGB32);
  CheckAllocated(image, width, height);
  image.fill(colour);
  return image;
}

// A shared image is copied here first, which may fail as above.
QRgb* Row(QImage& image, int y) {
  uchar* row = image.scanLine(y);
  if (row == nullptr) throw EOutOfMemory(SOutOfMemory);
  return reinterpret_cast<QRgb*>(row);
}
const QRgb* Row(const QImage& image, int y) {
  return reinterpret_cast<const QRgb*>(image.constScanLine(y));
}

// Copies the n pixels of from that are not the key onto to.
void CopyUnkeyed(const QRgb* from, QRgb* to, int n, QRgb key) {
  int x = 0;
#if defined(__SSE2__) && !defined(PUNCHLET_NO_SIMD)
  // Four pixels at a time: a button's images are rebuilt with dozens of these
  // copies whenever its caption changes.
  const __m128i k = _mm_set1_epi32(static_cast<int>(key));
  for (; x + 4 <= n; x += 4) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + x));
    const __m128i keyed = _mm_cmpeq_epi32(s, k);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x),
                     _mm_or_si128(_mm_and_si128(keyed, d), _mm_andnot_si128(keyed, s)));
  }
#endif
  for (; x < n; ++x)
    if (from[x] != key) to[x] = from[x];
}

// Copies the pixels of source that are not the key onto target at (dx, dy).
void DrawKeyed(QImage& target, const QImage& source, int dx, int dy, QRgb key) {
  const int y0 = std::max(0, dy), y1 = std::min(target.height(), dy + source.height());
  const int x0 = std::max(0, dx), x1 = std::min(target.width(), dx + source.width());
  if (x0 >= x1 || y0 >= y1) return;
  // Row addresses from the first row and the stride: each scanLine call
  // checks whether the image must be detached.
  const qsizetype fromStride = source.bytesPerLine(), toStride = target.bytesPerLine();
  const uchar* from = source.constBits() + (y0 - dy) * fromStride;
  uchar* to = target.bits() + y0 * toStride;
  for (int y = y0; y < y1; ++y, from += fromStride, to += toStride)
    CopyUnkeyed(reinterpret_cast<const QRgb*>(from) + (x0 - dx), reinterpret_cast<QRgb*>(to) + x0,
                x1 - x0, key);
}

// Applies f to every pixel that is not the key.
template <typename F>
QImage MapDrawn(QImage image, QRgb key, F f) {
  const int w = image.width(), h = image.height();
  for (int y = 0; y < h; ++y) {
    QRgb* row = Row(image, y);
    for (int x = 0; x < w; ++x)
      if (row[x] != key) row[x] = Opaque(f(row[x]));
  }
  return image;
}

QImage Recolour(const QImage& shape, QRgb key, QRgb colour) {
  return MapDrawn(shape, key, [colour](QRgb) { return colour; });
}

// Calls run(y, x1, x2) for every run x1 <= x < x2 of non-key pixels in area.
template <typename F>
void ForEachRun(const QImage& image, const QRect& area, QRgb key, F run) {
  const QRect clipped = area & image.rect();
  for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
    const QRgb* row = Row(image, y);
    int x = clipped.left();
    const int end = clipped.right() + 1;
    while (x < end) {
      while (x < end && row[x] == key) ++x;
      const int start = x;
      while (x < end && row[x] != key) ++x;
      if (x > start) run(y, start, x);
    }
  }
}

// One rectangle per run, rows top to bottom: already the banded order a
// region is stored in.
QRegion RunRegion(const QImage& image, const QRect& area, QRgb key) {
  std::vector<QRect> rects;
  ForEachRun(image, area, key,
             [&rects](int y, int x1, int x2) { rects.emplace_back(x1, y, x2 - x1, 1); });
  QRegion region;
  if (!rects.empty()) region.setRects(rects.data(), static_cast<int>(rects.size()));
  return region;
}

// The one-coloured shape drawn at every offset (x, y) with x and y from
// `from` to `to`: spread along the rows, then down the columns, which is the
// same as drawing it at each offset and much cheaper for wide spreads.
QImage Spread(const QImage& shape, int from, int to, QRgb key) {
  const int w = shape.width(), h = shape.height();
  QImage across = Filled(w, h, key);
  for (int y = 0; y < h; ++y) {
    const QRgb* row = Row(shape, y);
    QRgb* out = Row(across, y);
    for (int x = 0; x < w; ++x)
      if (row[x] != key)
        for (int t = std::max(0, x + from); t <= std::min(w - 1, x + to); ++t) out[t] = row[x];
  }
  QImage spread = Filled(w, h, key);
  for (int y = 0; y < h; ++y) {
    const QRgb* row = Row(std::as_const(across), y);
    for (int t = std::max(0, y + from); t <= std::min(h - 1, y + to); ++t) {
      QRgb* out = Row(spread, t);
      for (int x = 0; x < w; ++x)
        if (row[x] != key) out[x] = row[x];
    }
  }
  return spread;
}

// A length in the control's pixels as pixels of a screen of that ratio.
int Device(int length, qreal ratio) { return ratio == 1 ? length : qRound(length * ratio); }

// Stands in for "nothing": an empty mask would show the whole widget.
const QRect kNowhere(-3000, -3000, 1, 1);

}  // namespace

TClearControl::TClearControl(QWidget* parent)
    : QWidget(parent),
      FTransparentColor(Opaque(qRgb(255, 0, 255))),
      FShadowColor(Opaque(QApplication::palette().color(QPalette::Dark))),
      FLightColor(Opaque(QApplication::palette().color(QPalette::Light))),
      FColor(Opaque(QApplication::palette().color(QPalette::Button))) {
  setMaximumSize(320, 320);
  resize(260, 48);
  setMouseTracking(true);  // OnMouseMove reports moves without a button held too
}

TClearControl::~TClearControl() = default;

bool TClearControl::ExplicitlyHidden() const {
  return testAttribute(Qt::WA_WState_ExplicitShowHide) && testAttribute(Qt::WA_WState_Hidden);
}

bool TClearControl::MouseCaptured() {
  return QWidget::mouseGrabber() != nullptr || QGuiApplication::mouseButtons() != Qt::NoButton;
}

void TClearControl::Changed() {
  FStale = true;
  // A form sets a dozen properties before it is shown: only a shown control
  // builds at once.
  if (isVisible()) MakeBtnImageAndRgn();
  update();
}

bool TClearControl::EnsureBuilt() {
  if (!FStale || FLoading) return false;
  MakeBtnImageAndRgn();
  return !FStale;
}

void TClearControl::EndUpdate() {
  if (--FUpdateCount > 0) return;
  FUpdateCount = 0;
  Changed();
}

void TClearControl::SetAutoSize(bool value) {
  if (Store(FAutoSize, value)) AutoSizeArrange();
}

void TClearControl::SetBorderStyle(TBorderStyle value) {
  if (!Store(FBorderStyle, value)) return;
  AutoSizeArrange();
  Changed();
}

void TClearControl::SetPicture(const QPixmap& picture) {
  FPicture = picture.toImage();
  PictureChanged();
}

void TClearControl::SetPicture2xFile(const QString& file) {
  if (!Store(FPicture2xFile, file)) return;
  FPicture2x = QImage();
  if (devicePixelRatioF() >= 1.5) Changed();
}

void TClearControl::PictureChanged() {
  if (FPicture.isNull()) {
    FTransparentColor = Opaque(qRgb(255, 0, 255));
    Changed();
    return;
  }
  BeginUpdate();
  AutoSizeArrange();
  FPicture = FPicture.convertToFormat(QImage::Format_RGB32);
  // A fresh picture's own key is its bottom-left pixel.
  FTransparentColor = Opaque(FPicture.pixel(0, FPicture.height() - 1));
  EndUpdate();
}

void TClearControl::SetCaption(const QString& caption) {
  if (!Store(FCaption, caption)) return;
  AutoSizeArrange();
  Changed();
}

void TClearControl::SetCaptionLeft(int value) {
  if (Store(FCaptionLeft, value)) Changed();
}

void TClearControl::SetCaptionTop(int value) {
  if (Store(FCaptionTop, value)) Changed();
}

void TClearControl::SetStyle(TTransBtnStyle value) {
  if (Store(FStyle, value)) Changed();
}

void TClearControl::SetTransColor(const QColor& colour) {
  // Stored as RGB, so comparisons with pixels are always like with like.
  if (Store(FTransparentColor, Opaque(colour))) Changed();
}

void TClearControl::SetHotTrack(bool value) {
  if (Store(FHotTrack, value)) update();
}

void TClearControl::SetHotLightDepth(int value) {
  if (Store(FHotLightDepth, std::clamp(value, 0, 255))) Changed();
}

void TClearControl::SetShadowColor(const QColor& colour) {
  if (Store(FShadowColor, Opaque(colour))) Changed();
}

void TClearControl::SetLightColor(const QColor& colour) {
  if (Store(FLightColor, Opaque(colour))) Changed();
}

void TClearControl::SetStretch(bool value) {
  if (Store(FStretch, value)) Changed();
}

void TClearControl::SetColor(const QColor& colour) {
  if (Store(FColor, Opaque(colour))) Changed();
}

QColor TClearControl::FontColor() const {
  return FFontColor.isValid() ? FFontColor : palette().color(QPalette::WindowText);
}

void TClearControl::SetFontColor(const QColor& colour) {
  if (Store(FFontColor, colour)) Changed();
}

void TClearControl::SetOptions(TTransImgOptions options) {
  if (Store(FOptions, options)) Changed();
}

void TClearControl::SetChildGraphicsTrans(bool value) {
  if (!Store(FChildGraphicsTrans, value)) return;
  UpdateRgn();
  update();
}

void TClearControl::SetFormTrans(bool value) {
  if (!Store(FFormTrans, value)) return;
  if (value)
    UpdateRgn();
  else if (window() != this)
    window()->clearMask();
}

void TClearControl::SetParentDrag(bool value) { FParentDrag = value; }

QSize TClearControl::CaptionCell() const {
  QFont captionFont = font();
  captionFont.setStyleStrategy(QFont::NoAntialias);
  const QRect measured =
      QFontMetrics(captionFont)
          .boundingRect(QRect(0, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, FCaption);
  return {measured.width() + 1, measured.height() + 1};
}

QImage TClearControl::CaptionImage(QSize cell, qreal ratio) const {
  QFont captionFont = font();
  captionFont.setStyleStrategy(QFont::NoAntialias);
  const int w = Device(cell.width(), ratio);
  const int h = Device(cell.height(), ratio);
  QImage mask = Filled(w, h, qRgb(255, 255, 255));
  // Laid out in pixels of the control, rasterised in the screen's.
  mask.setDevicePixelRatio(ratio);
  {
    QPainter painter(&mask);
    painter.setFont(captionFont);
    painter.setPen(Qt::black);
    painter.drawText(QRect(QPoint(0, 0), cell), Qt::AlignLeft | Qt::AlignTop, FCaption);
  }
  // Two colours only: a pixel the rasteriser blended is ink or background,
  // never a mix, so the caption's edge cannot meet the key colour softly.
  const QRgb key = FTransparentColor;
  const QRgb ink = Opaque(FontColor());
  QImage text = Filled(w, h, key);
  for (int y = 0; y < h; ++y) {
    const QRgb* from = Row(std::as_const(mask), y);
    QRgb* to = Row(text, y);
    for (int x = 0; x < w; ++x)
      if (qGray(from[x]) < 128) to[x] = ink;
  }
  return text;
}

QImage TClearControl::PictureAt(qreal ratio) {
  if (FPicture.isNull() || ratio == 1) return FPicture;
  const QSize size(Device(FPicture.width(), ratio), Device(FPicture.height(), ratio));
  if (ratio >= 1.5 && !FPicture2xFile.isEmpty()) {
    // Read only when a screen needs it.
    if (FPicture2x.isNull())
      FPicture2x = QImage(FPicture2xFile).convertToFormat(QImage::Format_RGB32);
    if (FPicture2x.size() == FPicture.size() * 2)
      return FPicture2x.size() == size ? FPicture2x : FPicture2x.scaled(size);
  }
  // Nearest pixels: a blended edge pixel would meet the key colour.
  return FPicture.scaled(size);
}

TClearControl::TStateImages TClearControl::BuildImages(qreal ratio) {
  // Every length is given in the control's pixels and drawn in the screen's.
  const auto px = [ratio](int length) { return Device(length, ratio); };
  const int b = B();
  const int w = px(width());
  const int h = px(height());
  const QRgb key = FTransparentColor;
  const bool edged = Edged();
  const int e = edged ? 1 : 0;

  // The face: picture and caption on the key colour. The picture's own key
  // is always the key: a new picture hands its corner colour to
  // TransparentColor, and setting TransparentColor fixes the picture's.
  const QSize faceSize = edged ? size() - QSize(2 * b + 2, 2 * b + 2) : size();
  QImage face = Filled(px(faceSize.width()), px(faceSize.height()), key);
  if (const QImage picture = PictureAt(ratio); !picture.isNull()) {
    if (FStretch)
      DrawKeyed(face, picture.scaled(face.size(), Qt::IgnoreAspectRatio), 0, 0, key);
    else
      DrawKeyed(face, picture, px((faceSize.width() - FPicture.width()) / 2),
                px((faceSize.height() - FPicture.height()) / 2), key);
  }
  if (!FCaption.isEmpty()) {
    const QSize cell = CaptionCell();
    const int x = FCaptionLeft == -1 ? (width() - cell.width()) / 2 - (b + 1) : FCaptionLeft;
    const int y = FCaptionTop == -1 ? (height() - cell.height()) / 2 - (b + 1) : FCaptionTop;
    DrawKeyed(face, CaptionImage(cell, ratio), px(x), px(y), key);
  }

  // The face's silhouette, one pixel wider on the right of every run, in the
  // light colour; shadow and ring are the same shape recoloured.
  QImage light;
  if (edged) {
    QRgb lightColour = FLightColor;
    if (lightColour == key) lightColour = Opaque(Brighten(lightColour, 8));
    if (lightColour == key) lightColour = Opaque(Darken(lightColour, 8));
    light = Filled(w, h, key);
    const int shift = px(b + 1);
    const int grow = px(1);
    ForEachRun(face, face.rect(), key, [&](int y, int x1, int x2) {
      const int ty = y + shift;
      if (ty >= h) return;
      QRgb* row = Row(light, ty);
      for (int x = x1 + shift; x < x2 + shift + grow && x < w; ++x) row[x] = lightColour;
    });
  }
  QImage shadow = edged ? Recolour(light, key, FShadowColor) : QImage();
  QImage ring = edged ? Recolour(light, key, FColor) : QImage();

  // Draws shape at every offset (x, y) with x and y from `from` to `to`.
  const auto spread = [key](QImage& image, const QImage& shape, int from, int to) {
    DrawKeyed(image, Spread(shape, from, to, key), 0, 0, key);
  };
  const auto compose = [&](int s, const QImage& faceImage) {
    QImage image = Filled(w, h, key);
    if (edged) {
      switch (FStyle) {
        case sbsPushBtn:
          if (s == 0) {
            spread(image, shadow, px(b), px(b + 1));
            spread(image, light, -px(b + 1), px(b));
          } else if (b == 1) {
            // Up, left and up-left of the face: all of the square but its corner.
            for (int x = -px(1); x <= 0; ++x)
              for (int y = -px(1); y <= 0; ++y)
                if (x != 0 || y != 0) DrawKeyed(image, shadow, x, y, key);
          } else {
            DrawKeyed(image, shadow, 0, 0, key);
          }
          break;
        case sbsFloatBtn:
          if (s == 0) DrawKeyed(image, shadow, px(2 * b + 1), px(2 * b + 1), key);
          break;
        case sbsImage:
          break;
      }
      if (b == 1) spread(image, ring, px(s) - px(1), px(s) + px(1));
    }
    DrawKeyed(image, faceImage, px(s + e + b), px(s + e + b), key);
    return image;
  };

  TStateImages images;
  images.normal = compose(0, face);
  if (edged && b == 1 && (FStyle == sbsPushBtn || FStyle == sbsImage)) {
    ring = Recolour(light, key, Darken(FColor, 32));
    shadow = Recolour(light, key, Darken(FShadowColor, 64));
  }
  if (edged) images.pressed = compose(FStyle == sbsImage ? 0 : 1, face);
  if (FOptions.testFlag(sioHotTrackImage)) {
    if (edged) {
      ring = Recolour(light, key, Brighten(FColor, FHotLightDepth / 2));
      shadow = Recolour(light, key, Brighten(FShadowColor, FHotLightDepth / 4));
    }
    const int depth = FHotLightDepth;
    images.hot = compose(0, MapDrawn(face, key, [depth](QRgb c) { return Brighten(c, depth); }));
  }
  if (FOptions.testFlag(sioDisableImage)) images.disabled = MapDrawn(images.normal, key, Grey);
  return images;
}

void TClearControl::MakeBtnImageAndRgn() {
  const int b = B();
  if (FUpdateCount > 0 || FLoading || width() < 2 * b + 3 || height() < 2 * b + 3) return;
  FStale = false;
  ++FBuildCount;
  const QRgb key = FTransparentColor;
  // Shape and hit testing always come from the images in the control's own
  // pixels, so they are the same at any screen ratio.
  TStateImages images = BuildImages(1);
  FNormal = images.normal;
  FPressed = images.pressed;
  FHot = images.hot;
  FDisabled = images.disabled;
  FNormalRgn = RunRegion(FNormal, FNormal.rect(), key);
  FPressedRgn = FPressed.isNull() ? QRegion() : RunRegion(FPressed, FPressed.rect(), key);
  // On a screen with more pixels, what is painted is drawn at its
  // resolution; the key is see-through there, as the mask cannot cut
  // finer than the control's pixels.
  FDeviceRatio = devicePixelRatioF();
  FDevice = {};
  if (FDeviceRatio != 1) {
    FDevice = BuildImages(FDeviceRatio);
    for (QImage* image : {&FDevice.normal, &FDevice.pressed, &FDevice.hot, &FDevice.disabled}) {
      if (image->isNull()) continue;
      QImage painted = image->convertToFormat(QImage::Format_ARGB32_Premultiplied);
      for (int y = 0; y < painted.height(); ++y) {
        QRgb* row = Row(painted, y);
        const QRgb* from = Row(std::as_const(*image), y);
        for (int x = 0; x < painted.width(); ++x)
          if (from[x] == key) row[x] = 0;
      }
      painted.setDevicePixelRatio(FDeviceRatio);
      *image = painted;
    }
  }

  FApplyingRgn = true;
  UpdateRgn();
  FApplyingRgn = false;
  update();
}

void TClearControl::UpdateRgn() {
  if (!FApplyingRgn) {
    ++FPendingRgnEvents;
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(UpdateRgnEvent)));
    return;
  }
  if (const auto* parent = qobject_cast<TClearControl*>(parentWidget());
      parent != nullptr && parent->FUpdateCount > 0)
    return;
  WinRgnSet(FTracking && FPointerInside);
}

void TClearControl::WinRgnSet(bool pressed) {
  if (ExplicitlyHidden()) return;
  // A build applies the region itself.
  if (EnsureBuilt()) return;
  // Without a pressed image (no edge) the pressed state looks normal.
  QRegion region = pressed && !FPressed.isNull() ? FPressedRgn : FNormalRgn;
  QImage captured;
  for (QObject* object : children()) {
    auto* child = qobject_cast<QWidget*>(object);
    if (child == nullptr || child->isWindow() || child->isHidden()) continue;
    if (!child->mask().isEmpty()) {
      region += child->mask().translated(child->pos());
    } else if (FChildGraphicsTrans) {
      // The child's own drawing on the key colour: only what it paints counts.
      if (captured.isNull()) captured = Filled(width(), height(), FTransparentColor);
      child->render(&captured, child->pos(), QRegion(), QWidget::DrawChildren);
      region += RunRegion(captured, child->geometry(), FTransparentColor);
    } else {
      region += child->geometry();
    }
  }
  if (region.isEmpty()) region = kNowhere;
  setMask(region);
  QWidget* form = window();
  if (FFormTrans) {
    if (form != this) form->setMask(region.translated(mapTo(form, QPoint(0, 0))));
  } else if (auto* parent = qobject_cast<TClearControl*>(parentWidget())) {
    parent->UpdateRgn();
  }
}

bool TClearControl::event(QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(UpdateRgnEvent)) {
    // Only the last of a burst of requests does the work.
    if (--FPendingRgnEvents > 0) return true;
    FPendingRgnEvents = 0;
    FApplyingRgn = true;
    UpdateRgn();
    FApplyingRgn = false;
    return true;
  }
  return QWidget::event(event);
}

const QImage& TClearControl::ShownImage() const {
  const bool device = FDeviceRatio != 1;
  if (!isEnabled() && FOptions.testFlag(sioDisableImage) && !FDisabled.isNull())
    return device ? FDevice.disabled : FDisabled;
  if (FTracking && FPointerInside && !FPressed.isNull()) return device ? FDevice.pressed : FPressed;
  if (!FHot.isNull() && HotTrackShown() && underMouse() && !MouseCaptured())
    return device ? FDevice.hot : FHot;
  return device ? FDevice.normal : FNormal;
}

void TClearControl::paintEvent(QPaintEvent*) {
  // Only a control rendered while hidden (grab) can find its look stale here.
  EnsureBuilt();
  const QImage& image = ShownImage();
  if (image.isNull()) return;
  QPainter(this).drawImage(QRectF(0, 0, width(), height()), image);
}

void TClearControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Changed();
}

void TClearControl::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  WatchScreen();
  if (devicePixelRatioF() != FDeviceRatio) FStale = true;
  // The first build, before the first paint; it applies the region at once.
  if (!EnsureBuilt()) UpdateRgn();
}

void TClearControl::WatchScreen() {
  // A window moved to a screen of another ratio sends no event of its own.
  QWindow* handle = window()->windowHandle();
  if (handle == nullptr || handle == FWatchedWindow) return;
  if (FWatchedWindow) disconnect(FWatchedWindow, &QWindow::screenChanged, this, nullptr);
  FWatchedWindow = handle;
  connect(handle, &QWindow::screenChanged, this, [this] {
    if (devicePixelRatioF() != FDeviceRatio) Changed();
  });
}

void TClearControl::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::FontChange:
      AutoSizeArrange();
      Changed();
      break;
    case QEvent::PaletteChange:
      if (!FFontColor.isValid()) Changed();
      break;
    case QEvent::EnabledChange:
      update();
      break;
    default:
      break;
  }
}

void TClearControl::childEvent(QChildEvent* event) {
  QWidget::childEvent(event);
  // A removed child is no longer among children(), so it drops out of the shape.
  if ((event->added() || event->removed()) && event->child()->isWidgetType()) UpdateRgn();
}

void TClearControl::AutoSizeArrange() {
  if (!FAutoSize || FLoading || parentWidget() == nullptr) return;
  try {
    QSize size(16, 8);
    QSize caption;
    if (!FCaption.isEmpty()) {
      QFont captionFont = font();
      captionFont.setStyleStrategy(QFont::NoAntialias);
      caption = QFontMetrics(captionFont)
                    .boundingRect(QRect(0, 0, 1000, 1000),
                                  Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, FCaption)
                    .size();
    }
    if (!FPicture.isNull()) size = FPicture.size();
    const int grow = 4 * B() + 4;
    const QSize wanted(std::max(size.width(), caption.width()) + grow,
                       std::max(size.height(), caption.height()) + grow);
    if (wanted != this->size()) DoAutoSizeArrange(wanted.width(), wanted.height());
  } catch (const std::exception& error) {
    throw Exception(std::string(error.what()) + " at AutoSizeArrange");
  }
}

void TClearControl::DoAutoSizeArrange(int width, int height) { resize(width, height); }

bool TClearControl::UnderPointer(QPoint position) const {
  const QWidget* form = window();
  if (form == this) return rect().contains(position) && mask().contains(position);
  return form->childAt(mapTo(form, position)) == this;
}

QWidget* TClearControl::DraggedParent() {
  // The grab point is kept as an offset from the pointer, so only the
  // pointer's moves matter, in whatever coordinates the parent is placed.
  return parentWidget() != nullptr ? parentWidget() : this;
}

void TClearControl::mousePressEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    FClicked = true;
    if (FParentDrag) {
      FDraggingParent = true;
      FGrabPoint = event->globalPosition().toPoint() - DraggedParent()->pos();
    } else if (FStyle != sbsImage) {
      FTracking = true;
      FPointerInside = true;
      FLastPos = position;
      UpdateRgn();
      update();
    }
  }
  emit OnMouseDown(event->button(), position);
}

void TClearControl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  if (FDraggingParent) {
    DraggedParent()->move(event->globalPosition().toPoint() - FGrabPoint);
  } else if (FTracking && position != FLastPos) {
    FLastPos = position;
    // Tested against the image now shown, so the boundary is the one seen.
    const QImage& shown = FPointerInside && !FPressed.isNull() ? FPressed : FNormal;
    const bool inside =
        rect().contains(position) && !shown.isNull() && shown.pixel(position) != FTransparentColor;
    if (inside != FPointerInside) {
      FPointerInside = inside;
      UpdateRgn();
      update();
    }
  }
  emit OnMouseMove(position);
}

void TClearControl::Click(QPoint position) {
  FTracking = false;
  if (FStyle != sbsImage) UpdateRgn();
  // The handler may close and delete the window with this control.
  const QPointer<TClearControl> alive(this);
  if (UnderPointer(position)) emit OnClick();
  if (alive) update();
}

void TClearControl::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  if (event->button() == Qt::LeftButton && FDraggingParent) {
    FDraggingParent = false;
    FClicked = false;
    return;
  }
  const QPointer<TClearControl> alive(this);
  if (event->button() == Qt::LeftButton && FClicked) {
    FClicked = false;
    if (rect().contains(position)) Click(position);
    if (!alive) return;
  }
  if (FParentDrag) return;
  FTracking = false;
  if (FStyle != sbsImage) UpdateRgn();
  if (!Edged() || UnderPointer(position)) emit OnMouseUp(event->button(), position);
  if (alive) update();
}

void TClearControl::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (!FTracking && HotTrackShown() && !MouseCaptured() &&
      (isEnabled() || !FOptions.testFlag(sioDisableImage)))
    update();
  emit OnMouseEnter();
}

void TClearControl::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (!FTracking && HotTrackShown() && (isEnabled() || !FOptions.testFlag(sioDisableImage)))
    update();
  emit OnMouseLeave();
}

TClearButton::TClearButton(QWidget* parent) : TClearControl(parent) {
  FLoading = true;
  BeginUpdate();
  SetOptions(sioDisableImage | sioHotTrackImage | sioTransAtDesigning | sioBorderAndShadow);
  QFont buttonFont = font();
  buttonFont.setPointSize(20);
  buttonFont.setBold(true);
  setFont(buttonFont);
  SetFontColor(QColor(0, 128, 0));
  FLoading = false;
  EndUpdate();
}

TClearPanel::TClearPanel(QWidget* parent) : TClearControl(parent) {
  FLoading = true;
  BeginUpdate();
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  SetStyle(sbsImage);
  SetOptions(sioHotTrackImage);
  SetBorderStyle(bsNone);
  FLoading = false;
  EndUpdate();
}

void TClearPanel::DoAutoSizeArrange(int width, int height) {
  for (QObject* object : children())
    if (auto* child = qobject_cast<QWidget*>(object); child != nullptr && !child->isWindow()) {
      width = std::max(width, child->geometry().right() + 1);
      height = std::max(height, child->geometry().bottom() + 1);
    }
  TClearControl::DoAutoSizeArrange(width, height);
}
