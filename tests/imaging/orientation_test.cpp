#include "imaging/orientation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

#include "support/codedpicture.h"
#include "support/exifsegment.h"

using namespace exiftest;

namespace {

struct Pos {
  int x, y;
};

// Where stored pixel p of a w x h picture shows, by the tag's definition:
// an optional left-right mirror, then quarter turns clockwise.
Pos Place(int orientation, Pos p, int w, int h) {
  static constexpr std::pair<bool, int> kSteps[9] = {{},         {false, 0}, {true, 0},
                                                     {false, 2}, {true, 2},  {true, 3},
                                                     {false, 1}, {true, 1},  {false, 3}};
  const auto [mirror, turns] = kSteps[orientation];
  if (mirror) p.x = w - 1 - p.x;
  for (int i = 0; i < turns; ++i) {
    p = {h - 1 - p.y, p.x};
    std::swap(w, h);
  }
  return p;
}

// Every pixel different: red across, green down; paletted, index x + 16y.
const Coding kCoded{.red = {.to = 255}, .blue = 77};
const Coding kPaletted{.green = {.step = 16}, .bitCount = 8};

// Checks that every stored pixel shows where the tag says.
void ExpectPlaced(const Picture& stored, const Picture& upright, int orientation) {
  const int w = stored.Width(), h = stored.Height();
  const bool swap = orientation >= 5;
  ASSERT_EQ(upright.Width(), swap ? h : w) << orientation;
  ASSERT_EQ(upright.Height(), swap ? w : h) << orientation;
  int wrong = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Pos q = Place(orientation, {x, y}, w, h);
      wrong += !(upright.Pixel(q.x, q.y) == stored.Pixel(x, y));
    }
  EXPECT_EQ(wrong, 0) << "orientation " << orientation;
}

int WorstDifference(const Picture& a, const Picture& b) {
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const Rgb p = a.Pixel(x, y), q = b.Pixel(x, y);
      worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
    }
  return worst;
}

}  // namespace

TEST(Orientation, EveryValueMovesEveryPixelWhereTheTagSays) {
  // Sides past one tile of the turning loop, and a paletted picture.
  const Picture wide = CodedPicture(70, 67, kCoded);
  const Picture paletted = CodedPicture(13, 9, kPaletted);
  for (int o = 1; o <= 8; ++o) {
    const auto orientation = static_cast<TExifOrientation>(o);
    ExpectPlaced(wide, Oriented(wide, orientation), o);
    const Picture turned = Oriented(paletted, orientation);
    EXPECT_EQ(turned.BitCount(), 8);
    EXPECT_EQ(turned.Palette(), paletted.Palette());
    ExpectPlaced(paletted, turned, o);
  }
  // The stored picture is not changed through shared pixels.
  EXPECT_EQ(WorstDifference(wide, CodedPicture(70, 67, kCoded)), 0);
  // A picture of less than a byte per pixel comes out as 24 bits.
  Picture mono;
  mono.Create(9, 3, 1);
  mono.SetPalette({{0, 0, 0}, {255, 255, 255}});
  mono.ScanLine(0)[0] = 0x80;  // top-left white
  const Picture turned = Oriented(mono, TExifOrientation::Rotate90CW);
  EXPECT_EQ(turned.BitCount(), 24);
  ExpectPlaced(mono, turned, 6);
}

TEST(Orientation, TaggedPhotosDecodeUprightWholeOrStreamed) {
  TJPEGImage encoder;
  encoder.Assign(CodedPicture(48, 32, kCoded));
  encoder.Quality = 100;
  const Bytes plain = encoder.SaveToMemory();
  TJPEGImage greyEncoder;
  greyEncoder.Assign(CodedPicture(31, 20, kCoded));
  greyEncoder.Grayscale = true;
  const Bytes grey = greyEncoder.SaveToMemory();

  for (const Bytes& source : {plain, grey})
    for (int o = 1; o <= 8; ++o) {
      const Bytes file = WithOrientation(source, unsigned(o), o % 2 == 0);
      TJPEGImage jpeg;
      jpeg.LoadFromMemory(file.data(), file.size());
      EXPECT_EQ(static_cast<int>(ExifOrientation(jpeg)), o);
      // The codec's own decode knows nothing of the tag: the reference.
      TJPEGImage raw;
      raw.LoadFromMemory(source.data(), source.size());
      const Picture stored = raw.Bitmap();
      const Picture upright = DecodeUpright(jpeg);
      ExpectPlaced(stored, upright, o);

      // Streamed: the target is chosen for the upright size, and the result
      // is within 1 of scaling the upright picture.
      int askedW = 0, askedH = 0;
      const Picture scaled = DecodeScaledUpright(jpeg, [&](int w, int h) {
        askedW = w;
        askedH = h;
        return w > h ? std::pair{23, 14} : std::pair{14, 23};
      });
      EXPECT_EQ(askedW, upright.Width());
      EXPECT_EQ(askedH, upright.Height());
      ASSERT_EQ(scaled.Width(), upright.Width() > upright.Height() ? 23 : 14) << o;
      ASSERT_EQ(scaled.Height(), upright.Width() > upright.Height() ? 14 : 23) << o;
      const Picture reference = Stretch(upright, scaled.Width(), scaled.Height());
      EXPECT_LE(WorstDifference(scaled, reference), 1) << "orientation " << o;
    }
}
