#include "imaging/orientation.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Where the stored picture's pixel for upright (x, y) lies: origin plus x
// times one step plus y times the other, in stored coordinates.
struct Mapping {
  int originX, originY;
  int acrossX, acrossY;  // per upright column
  int downX, downY;      // per upright row
};

Mapping MappingFor(TExifOrientation o, int w, int h) {
  switch (o) {
    case TExifOrientation::Upright:
      break;
    case TExifOrientation::MirrorHorizontal:
      return {w - 1, 0, -1, 0, 0, 1};
    case TExifOrientation::Rotate180:
      return {w - 1, h - 1, -1, 0, 0, -1};
    case TExifOrientation::MirrorVertical:
      return {0, h - 1, 1, 0, 0, -1};
    case TExifOrientation::Transpose:
      return {0, 0, 0, 1, 1, 0};
    case TExifOrientation::Rotate90CW:
      return {0, h - 1, 0, -1, 1, 0};
    case TExifOrientation::Transverse:
      return {w - 1, h - 1, 0, -1, -1, 0};
    case TExifOrientation::Rotate270CW:
      return {w - 1, 0, 0, 1, -1, 0};
  }
  return {0, 0, 1, 0, 0, 1};
}

// Square tiles keep both the rows read and the rows written in the cache
// when a turn reads the source column by column.
constexpr int kTile = 64;

// Fills `out` with the source pixels at origin + x * across + y * down (byte
// offsets into `bits`).
template <int Pixel>
void Turn(const uint8_t* bits, ptrdiff_t origin, ptrdiff_t across, ptrdiff_t down, Picture& out) {
  const int w = out.Width(), h = out.Height();
  for (int ty = 0; ty < h; ty += kTile) {
    const int yEnd = std::min(h, ty + kTile);
    for (int tx = 0; tx < w; tx += kTile) {
      const int xEnd = std::min(w, tx + kTile);
      for (int y = ty; y < yEnd; ++y) {
        uint8_t* row = out.ScanLine(y) + ptrdiff_t{tx} * Pixel;
        ptrdiff_t at = origin + y * down + tx * across;
        for (int x = tx; x < xEnd; ++x, row += Pixel, at += across)
          std::memcpy(row, bits + at, Pixel);
      }
    }
  }
}

}  // namespace

TExifOrientation ExifOrientation(const TJPEGImage& jpeg) {
  const std::vector<uint8_t>& bytes = jpeg.Data()->Data;
  return ExifOrientation(bytes.data(), bytes.size());
}

Picture Oriented(const Picture& stored, TExifOrientation orientation) {
  if (orientation == TExifOrientation::Upright || stored.Empty()) return stored;
  Picture source = stored;  // shares the pixels
  if (source.BitCount() % 8 != 0) source.ConvertTo24();
  const int w = source.Width(), h = source.Height();
  const bool swap = SwapsAxes(orientation);
  const int uw = swap ? h : w, uh = swap ? w : h;

  Picture upright;
  upright.CreateUninitialised(uw, uh, source.BitCount());
  upright.SetPalette(source.Palette());
  upright.SetMasks(source.Masks());

  const Mapping m = MappingFor(orientation, w, h);
  const int pixel = source.BitCount() / 8;
  const ptrdiff_t stride = source.Stride();
  const ptrdiff_t across = m.acrossX * pixel + m.acrossY * stride;
  const ptrdiff_t down = m.downX * pixel + m.downY * stride;
  const ptrdiff_t origin = m.originY * stride + m.originX * pixel;
  const uint8_t* bits = std::as_const(source).Bits();  // reading must not unshare the pixels
  switch (pixel) {
    case 1:
      Turn<1>(bits, origin, across, down, upright);
      break;
    case 2:
      Turn<2>(bits, origin, across, down, upright);
      break;
    case 3:
      Turn<3>(bits, origin, across, down, upright);
      break;
    default:
      Turn<4>(bits, origin, across, down, upright);
      break;
  }
  return upright;
}

Picture DecodeUpright(TJPEGImage& jpeg) {
  Picture picture;
  picture.Assign(jpeg);
  return Oriented(picture, ExifOrientation(jpeg));
}

Picture DecodeScaledUpright(TJPEGImage& jpeg, const TStretcher::TTargetSize& target) {
  const TExifOrientation orientation = ExifOrientation(jpeg);
  TStretcher stretcher([&](int width, int height) {
    if (!SwapsAxes(orientation)) return target(width, height);
    const auto [w, h] = target(height, width);
    return std::pair{h, w};
  });
  jpeg.DecodeTo(stretcher);
  return Oriented(stretcher.Finish(), orientation);
}
