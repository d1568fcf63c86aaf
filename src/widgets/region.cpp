#include "widgets/region.h"

#include <QFile>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/errors.h"

namespace {

constexpr const char* SBitmapNotSet = "ﾋﾞｯﾄﾏｯﾌﾟが正しくｾｯﾄされていません";
constexpr const char* SZeroSize = "幅または高さが 0 です";
constexpr const char* SBadShape = "ﾋﾞｯﾄﾏｯﾌﾟの形状が不適です";
constexpr const char* SCannotExtract = "ﾘｰｼﾞｮﾝﾃﾞｰﾀが抽出できません";
constexpr const char* SNoMemory = "ﾒﾓﾘ獲得に失敗しました";
constexpr const char* SNoRgnInfo = " のﾘｰｼﾞｮﾝ情報がありません";
constexpr const char* SBadRgnBitmap = ":RgnBitmap のﾋﾞｯﾄﾏｯﾌﾟが正しくありません";
constexpr const char* SCannotCreate = "ｳｨﾝﾄﾞｳﾘｰｼﾞｮﾝが作成できません";
constexpr const char* SNoParent = "Parentが設定されていません";

using Run = RegionData::Run;

struct Band {
  int32_t top, bottom;
  std::vector<Run> runs;
};

bool SameRuns(const std::vector<Run>& a, const std::vector<Run>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Run& x, const Run& y) {
    return x.left == y.left && x.right == y.right;
  });
}

void Put32(std::vector<uint8_t>& out, size_t at, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t Get32(const std::vector<uint8_t>& in, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(in[at + i]) << (8 * i);
  return static_cast<int32_t>(v);
}

// Bands in order, top to bottom; touching bands with the same runs merge.
RegionData Encode(const std::vector<Band>& bands) {
  std::vector<Band> merged;
  for (const Band& band : bands) {
    if (band.runs.empty() || band.bottom <= band.top) continue;
    if (!merged.empty() && merged.back().bottom == band.top &&
        SameRuns(merged.back().runs, band.runs))
      merged.back().bottom = band.bottom;
    else
      merged.push_back(band);
  }
  size_t count = 0;
  RgnRect bounds;
  bool first = true;
  for (const Band& band : merged) {
    count += band.runs.size();
    for (const Run& run : band.runs) {
      const RgnRect r{run.left, band.top, run.right, band.bottom};
      if (first) {
        bounds = r;
        first = false;
      } else {
        bounds.left = std::min(bounds.left, r.left);
        bounds.top = std::min(bounds.top, r.top);
        bounds.right = std::max(bounds.right, r.right);
        bounds.bottom = std::max(bounds.bottom, r.bottom);
      }
    }
  }
  std::vector<uint8_t> out(RegionData::HeaderSize + 16 * count);
  Put32(out, 0, RegionData::HeaderSize);
  Put32(out, 4, 1);
  Put32(out, 8, static_cast<int32_t>(count));
  Put32(out, 12, static_cast<int32_t>(16 * count));
  Put32(out, 16, bounds.left);
  Put32(out, 20, bounds.top);
  Put32(out, 24, bounds.right);
  Put32(out, 28, bounds.bottom);
  size_t at = RegionData::HeaderSize;
  for (const Band& band : merged) {
    for (const Run& run : band.runs) {
      Put32(out, at, run.left);
      Put32(out, at + 4, band.top);
      Put32(out, at + 8, run.right);
      Put32(out, at + 12, band.bottom);
      at += 16;
    }
  }
  return RegionData(std::move(out));
}

// A 1- or 4-bit picture as 8 bits: the same palette, one index a byte.
Picture To8Bit(const Picture& source) {
  Picture result;
  result.Create(source.Width(), source.Height(), 8);
  result.SetPalette(source.Palette());
  const int bits = source.BitCount();
  const int perByte = 8 / bits;
  const int mask = (1 << bits) - 1;
  for (int y = 0; y < source.Height(); ++y) {
    const uint8_t* in = source.ScanLine(y);
    uint8_t* out = result.ScanLine(y);
    for (int x = 0; x < source.Width(); ++x) {
      const int shift = 8 - bits * (x % perByte + 1);
      out[x] = static_cast<uint8_t>((in[x / perByte] >> shift) & mask);
    }
  }
  return result;
}

QImage ToImage(const Picture& picture) {
  if (picture.Empty()) return {};
  Picture copy = picture;
  copy.ConvertTo24();
  return QImage(copy.Bits(), copy.Width(), copy.Height(), copy.Stride(), QImage::Format_BGR888)
      .convertToFormat(QImage::Format_RGB32);
}

}  // namespace

RegionData RegionData::FromRows(int first, const std::vector<std::vector<Run>>& rows) {
  std::vector<Band> bands;
  bands.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const int32_t y = first + static_cast<int32_t>(i);
    bands.push_back({y, y + 1, rows[i]});
  }
  return Encode(bands);
}

RegionData RegionData::FromRegion(const QRegion& region) {
  // Qt keeps a region as bands of rectangles sorted by top, then left.
  std::vector<Band> bands;
  for (const QRect& r : region) {
    const Run run{r.left(), r.left() + r.width()};
    if (bands.empty() || bands.back().top != r.top()) {
      bands.push_back({r.top(), r.top() + r.height(), {run}});
    } else if (bands.back().runs.back().right == run.left) {
      bands.back().runs.back().right = run.right;
    } else {
      bands.back().runs.push_back(run);
    }
  }
  return Encode(bands);
}

std::optional<std::vector<RgnRect>> RegionData::Rects() const {
  if (FBytes.size() < HeaderSize) return std::nullopt;
  const int32_t header = Get32(FBytes, 0);
  const int32_t kind = Get32(FBytes, 4);
  const int64_t count = Get32(FBytes, 8);
  const int64_t listSize = Get32(FBytes, 12);
  if (header != static_cast<int32_t>(HeaderSize) || kind != 1 || count < 0 ||
      listSize != 16 * count || FBytes.size() != HeaderSize + static_cast<size_t>(listSize))
    return std::nullopt;
  const RgnRect bounds{Get32(FBytes, 16), Get32(FBytes, 20), Get32(FBytes, 24), Get32(FBytes, 28)};
  std::vector<RgnRect> rects(static_cast<size_t>(count));
  for (size_t i = 0; i < rects.size(); ++i) {
    const size_t at = HeaderSize + 16 * i;
    RgnRect& r = rects[i];
    r = {Get32(FBytes, at), Get32(FBytes, at + 4), Get32(FBytes, at + 8), Get32(FBytes, at + 12)};
    if (r.left >= r.right || r.top >= r.bottom || r.left < bounds.left || r.top < bounds.top ||
        r.right > bounds.right || r.bottom > bounds.bottom)
      return std::nullopt;
    if (i == 0) continue;
    // Banded: the same band left to right without touching, or a band below.
    const RgnRect& p = rects[i - 1];
    const bool sameBand = r.top == p.top && r.bottom == p.bottom && r.left > p.right;
    if (!sameBand && r.top < p.bottom) return std::nullopt;
  }
  return rects;
}

std::optional<QRegion> RegionData::ToRegion(double scaleX, double scaleY, QPoint offset) const {
  const auto rects = Rects();
  if (!rects) return std::nullopt;
  std::vector<QRect> scaled;
  scaled.reserve(rects->size());
  // Far beyond any screen, yet QRect's sums stay in range.
  constexpr double kLimit = 1 << 28;
  bool placeable = true;
  const auto at = [&](int32_t v, double scale, int shift) {
    const double placed = std::round(v * scale) + shift;
    if (!(std::abs(placed) <= kLimit)) placeable = false;
    return placeable ? static_cast<int>(placed) : 0;
  };
  for (const RgnRect& r : *rects) {
    const int left = at(r.left, scaleX, offset.x());
    const int top = at(r.top, scaleY, offset.y());
    const int right = at(r.right, scaleX, offset.x());
    const int bottom = at(r.bottom, scaleY, offset.y());
    if (!placeable) return std::nullopt;
    if (right <= left || bottom <= top) continue;
    // Shrinking may close the gap between two runs of a band: they become
    // one rectangle, as the banded form wants.
    if (!scaled.empty()) {
      QRect& last = scaled.back();
      if (last.top() == top && last.bottom() == bottom - 1 && last.right() + 1 == left) {
        last.setRight(right - 1);
        continue;
      }
    }
    scaled.emplace_back(left, top, right - left, bottom - top);
  }
  QRegion region;
  // Positive scales keep the bands and their order, and runs never overlap,
  // so the list stays a valid banding.
  if (scaleX > 0 && scaleY > 0) {
    region.setRects(scaled.data(), static_cast<int>(scaled.size()));
  } else {
    for (const QRect& r : scaled) region += r;
  }
  return region;
}

TRgn::TRgn(QWidget* parent) : QWidget(parent) { resize(105, 105); }

TRgn::~TRgn() = default;

RegionData TRgn::BuildRgnData(Picture& bitmap) {
  if (bitmap.Bits() == nullptr && bitmap.Width() == 0 && bitmap.Height() == 0)
    throw EInvalidGraphic(SBitmapNotSet);
  if (bitmap.Width() == 0 || bitmap.Height() == 0) throw EInvalidGraphic(SZeroSize);
  try {
    if (bitmap.BitCount() == 1 || bitmap.BitCount() == 4) bitmap = To8Bit(bitmap);
    if (bitmap.BitCount() != 8) bitmap.ConvertTo24();
    const int width = bitmap.Width();
    const int bytes = bitmap.BitCount() / 8;
    const uint8_t* keyPixel = bitmap.ScanLine(bitmap.Height() - 1);
    uint8_t key[3] = {};
    std::memcpy(key, keyPixel, static_cast<size_t>(bytes));
    const auto isKey = [&](const uint8_t* row, int x) {
      return std::memcmp(row + static_cast<size_t>(x) * bytes, key, static_cast<size_t>(bytes)) ==
             0;
    };
    std::vector<std::vector<Run>> rows(static_cast<size_t>(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y) {
      const uint8_t* row = static_cast<const Picture&>(bitmap).ScanLine(y);
      int k = 0;
      int x = 0;
      while (x < width) {
        // Checked before each run: a row may end with one run beyond the limit.
        if (k > MaxRunsPerRow) throw EInvalidGraphic(SBadShape);
        while (x < width && isKey(row, x)) ++x;
        if (x >= width) break;
        const int start = x;
        while (x < width && !isKey(row, x)) ++x;
        rows[static_cast<size_t>(y)].push_back({start, x});
        ++k;
        ++x;
      }
    }
    RegionData data = RegionData::FromRows(0, rows);
    if (!data.Rects()) throw EConvertError(SCannotExtract);
    return data;
  } catch (const std::bad_alloc&) {
    throw Exception(SNoMemory);
  }
}

void TRgn::BitmapChanged() {
  FBitmapImage = ToImage(FRgnBitmap);
  // Masks of the old bitmap would paint the old picture.
  FMaskBmp = QImage();
  FColorBmp = QImage();
  update();
}

void TRgn::SetRgnBmp(const Picture& bitmap) {
  if (&bitmap == &FRgnBitmap) return;
  FRgnBitmap = bitmap;
  DestoryRgn();
  try {
    FRgnData = BuildRgnData(FRgnBitmap);
  } catch (...) {
    FRgnData = RegionData();
    FRgnBitmap = Picture();
    BitmapChanged();
    throw;
  }
  BitmapChanged();
  if (FTransparent || FDesigning) MakeMask();
  if (FDesigning) resize(FRgnBitmap.Width(), FRgnBitmap.Height());
}

void TRgn::SetAutoSize(bool autoSize) {
  if (autoSize == FAutoSize) return;
  FAutoSize = autoSize;
  if (autoSize && FRgnBitmap.Width() >= 1 && FRgnBitmap.Height() >= 1 && !FLoading) {
    resize(FRgnBitmap.Width(), FRgnBitmap.Height());
    update();
  }
}

void TRgn::SetTransparent(bool transparent) {
  if (transparent == FTransparent) return;
  FTransparent = transparent;
  if (transparent && FMaskBmp.isNull()) MakeMask();
  update();
}

void TRgn::SetBitmap2xFile(const QString& file) {
  if (file == FBitmap2xFile) return;
  FBitmap2xFile = file;
  FBitmap2x = QImage();
  FBitmap2xRead = false;
  update();
}

const QImage& TRgn::Bitmap2x() {
  if (!FBitmap2xRead && !FBitmap2xFile.isEmpty()) {
    FBitmap2xRead = true;
    FBitmap2x = QImage(FBitmap2xFile).convertToFormat(QImage::Format_ARGB32);
    // The key is the bottom-left pixel, as in the bitmap.
    if (!FBitmap2x.isNull()) {
      const QRgb key = FBitmap2x.pixel(0, FBitmap2x.height() - 1);
      for (int y = 0; y < FBitmap2x.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(FBitmap2x.scanLine(y));
        for (int x = 0; x < FBitmap2x.width(); ++x)
          if (row[x] == key) row[x] = 0;
      }
    }
  }
  static const QImage none;
  return FBitmap2x.size() == FBitmapImage.size() * 2 ? FBitmap2x : none;
}

void TRgn::SetBounds(int left, int top, int width, int height) {
  if (FAutoSize && FRgnBitmap.Width() > 0 && FRgnBitmap.Height() > 0) {
    width = FRgnBitmap.Width();
    height = FRgnBitmap.Height();
  }
  setGeometry(left, top, width, height);
}

void TRgn::ReadRgnBitmap(const Picture& bitmap) {
  FRgnBitmap = bitmap;
  BitmapChanged();
}

void TRgn::ReadRgnData(const QByteArray& bytes) {
  FRgnData = RegionData(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

QByteArray TRgn::WriteRgnData() const {
  return QByteArray(reinterpret_cast<const char*>(FRgnData.Bytes().data()),
                    static_cast<qsizetype>(FRgnData.Size()));
}

void TRgn::LoadStored(const QString& bitmapPath, const QString& dataPath) {
  const auto read = [](const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      const std::string name = path.toStdString();
      throw EFOpenError(FileMessage(SFOpenError, name), name, file.errorString().toStdString());
    }
    return file.readAll();
  };
  const QByteArray bitmapBytes = read(bitmapPath);
  const QByteArray dataBytes = read(dataPath);
  Picture bitmap;
  try {
    bitmap.LoadFromMemory(reinterpret_cast<const uint8_t*>(bitmapBytes.constData()),
                          static_cast<size_t>(bitmapBytes.size()));
  } catch (Exception& e) {
    e.SetFileName(bitmapPath.toStdString());
    throw;
  }
  FLoading = true;
  ReadRgnBitmap(bitmap);
  ReadRgnData(dataBytes);
  FLoading = false;
  Loaded();
}

void TRgn::Loaded() {
  if (FTransparent || FDesigning) MakeMask();
  if (!FDesigning) UpdateRgn();
}

void TRgn::UpdateRgn() {
  if (FRgnData.Empty()) throw Exception(objectName().toStdString() + SNoRgnInfo);
  if (FRgnBitmap.Empty()) throw Exception(objectName().toStdString() + SBadRgnBitmap);
  FRgn.reset();
  double scaleX = 1;
  double scaleY = 1;
  if (!FAutoSize) {
    // Single-precision factors, as a region transform (XFORM) holds them: a
    // double ratio would round some halfway edges the other way.
    scaleX = static_cast<float>(width()) / static_cast<float>(FRgnBitmap.Width());
    scaleY = static_cast<float>(height()) / static_cast<float>(FRgnBitmap.Height());
  }
  const auto region = FRgnData.ToRegion(scaleX, scaleY, pos());
  if (!region) throw Exception(SCannotCreate);
  FRgn = std::make_unique<QRegion>(*region);
}

void TRgn::SetWndRgn() {
  QWidget* parent = parentWidget();
  if (!parent) throw Exception(SNoParent);
  bool showAgain = false;
  if (parent->isWindow()) {
    if (!(parent->windowFlags() & Qt::FramelessWindowHint)) {
      // New window flags hide a shown window.
      showAgain = parent->isVisible();
      parent->setWindowFlag(Qt::FramelessWindowHint, true);
    }
    // Only the bitmap and the controls are drawn: no background of its own.
    parent->setAutoFillBackground(false);
    parent->setAttribute(Qt::WA_NoSystemBackground, true);
  }
  SetTransparent(false);
  if (FRgn) {
    parent->setMask(*FRgn);
    FRgn.reset();
  } else {
    parent->clearMask();
  }
  if (showAgain) parent->show();
}

void TRgn::MakeMask() {
  if (FRgnBitmap.Empty()) return;
  const QImage image = FBitmapImage.isNull() ? ToImage(FRgnBitmap) : FBitmapImage;
  const QRgb key = image.pixel(0, image.height() - 1);
  FMaskBmp = QImage(image.size(), QImage::Format_Mono);
  FMaskBmp.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  FColorBmp = image.copy();
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const bool isKey = image.pixel(x, y) == key;
      FMaskBmp.setPixel(x, y, isKey ? 1 : 0);
      if (isKey) FColorBmp.setPixel(x, y, qRgb(0, 0, 0));
    }
  }
}

void TRgn::DestoryRgn() {
  FRgn.reset();
  FRgnData = RegionData();
}

void TRgn::paintEvent(QPaintEvent*) {
  if (FRgnBitmap.Empty()) return;
  QPainter painter(this);
  if (devicePixelRatioF() >= 1.5 && window()->testAttribute(Qt::WA_TranslucentBackground) &&
      !FDesigning) {
    const QImage& twice = Bitmap2x();
    if (!twice.isNull()) {
      painter.drawImage(rect(), twice);
      return;
    }
  }
  if (!FTransparent && !FDesigning) {
    painter.drawImage(rect(), FBitmapImage);
    return;
  }
  if (FMaskBmp.isNull() || FColorBmp.isNull()) return;
  // The colour copy with its key pixels see-through: what lies beneath
  // shows there.
  FWorkBmp = FColorBmp.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < FWorkBmp.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(FWorkBmp.scanLine(y));
    for (int x = 0; x < FWorkBmp.width(); ++x)
      if (FMaskBmp.pixelIndex(x, y) == 1) row[x] = 0;
  }
  painter.drawImage(rect(), FWorkBmp);
}
