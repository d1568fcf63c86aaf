#include "imaging/bitmaputils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/errors.h"

namespace {

// The filter evaluated the plain way: cell by cell in two dimensions, each
// cell's bilinear patch integrated over its overlap with the footprint.
Picture DirectStretch(const Picture& source, int wt, int ht) {
  Picture work = source;
  work.ConvertTo24();
  const int ws = work.Width(), hs = work.Height();
  const double area = static_cast<double>(ws * hs) / wt / ht;
  const double sx = static_cast<double>(ws) / wt, sy = static_cast<double>(hs) / ht;
  Picture out;
  out.Create(wt, ht, 24);
  for (int y = 0; y < ht; ++y) {
    for (int x = 0; x < wt; ++x) {
      const double x0 = x * sx - 0.5, y0 = y * sy - 0.5;
      const double x1 = (x + 1) * sx - 0.500001, y1 = (y + 1) * sy - 0.500001;
      double acc[3] = {0, 0, 0};
      for (int i = static_cast<int>(std::floor(y0)); i <= static_cast<int>(std::floor(y1)); ++i) {
        for (int j = static_cast<int>(std::floor(x0)); j <= static_cast<int>(std::floor(x1)); ++j) {
          const int ra = std::max(i, 0), rb = std::min(i + 1, hs - 1);
          const int ca = std::max(j, 0), cb = std::min(j + 1, ws - 1);
          const double lx0 = std::max<double>(j, x0), lx1 = std::min<double>(j + 1, x1);
          const double ly0 = std::max<double>(i, y0), ly1 = std::min<double>(i + 1, y1);
          const double lx = lx1 - lx0, mx = (lx0 + lx1) / 2 - j;
          const double ly = ly1 - ly0, my = (ly0 + ly1) / 2 - i;
          const Rgb q00 = work.Pixel(ca, ra), q10 = work.Pixel(cb, ra);
          const Rgb q01 = work.Pixel(ca, rb), q11 = work.Pixel(cb, rb);
          const int p00[3] = {q00.b, q00.g, q00.r}, p10[3] = {q10.b, q10.g, q10.r};
          const int p01[3] = {q01.b, q01.g, q01.r}, p11[3] = {q11.b, q11.g, q11.r};
          for (int c = 0; c < 3; ++c) {
            const int a = p00[c], b = p10[c] - p00[c], cc = p01[c] - p00[c];
            const int d = p00[c] + p11[c] - p10[c] - p01[c];
            acc[c] += lx * ly * (b * mx + d * mx * my + cc * my + a);
          }
        }
      }
      uint8_t* p = out.ScanLine(y) + 3 * x;
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<uint8_t>(std::clamp(std::nearbyint(acc[c] / area), 0.0, 255.0));
    }
  }
  return out;
}

Picture RandomPicture(std::mt19937& rng, int w, int h, int low = 0) {
  Picture p;
  p.Create(w, h, 24);
  std::uniform_int_distribution<int> byte(low, 255);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < 3 * w; ++x) p.ScanLine(y)[x] = static_cast<uint8_t>(byte(rng));
  return p;
}

// First differing pixel, or "" when the pixels agree.
std::string Difference(const Picture& a, const Picture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
    return "size or depth differs";
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (!(a.Pixel(x, y) == b.Pixel(x, y)))
        return "at " + std::to_string(x) + "," + std::to_string(y);
  return "";
}

void ExpectMatchesDirect(const Picture& source, int wt, int ht) {
  EXPECT_EQ(Difference(Stretch(source, wt, ht), DirectStretch(source, wt, ht)), "")
      << source.Width() << "x" << source.Height() << " -> " << wt << "x" << ht;
}

TEST(Stretch, AgreesWithDirectEvaluationOnRandomPictures) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> side(1, 40), target(1, 60);
  for (int n = 0; n < 300; ++n) {
    const int ws = side(rng), hs = side(rng);
    const Picture source = RandomPicture(rng, ws, hs);
    ExpectMatchesDirect(source, target(rng), target(rng));
    ExpectMatchesDirect(source, ws, hs);
    ExpectMatchesDirect(source, 1, 1);
  }
  // Long runs of whole rows and columns, beyond what 16-bit partial sums hold.
  ExpectMatchesDirect(RandomPicture(rng, 7, 700, 240), 2, 1);
  ExpectMatchesDirect(RandomPicture(rng, 700, 3, 240), 1, 2);
  ExpectMatchesDirect(RandomPicture(rng, 613, 529), 3, 7);
  // Enlargements and odd ratios.
  ExpectMatchesDirect(RandomPicture(rng, 2, 3), 257, 101);
  ExpectMatchesDirect(RandomPicture(rng, 140, 105), 270, 210);
  ExpectMatchesDirect(RandomPicture(rng, 97, 89), 96, 90);
  // Footprints narrower than the hair the upper bound leaves out.
  ExpectMatchesDirect(RandomPicture(rng, 1, 2), 1050000, 1);
}

TEST(Stretch, AgreesWithDirectEvaluationAtPipelineSizes) {
  const int sizes[][2] = {{270, 210}, {210, 270}, {270, 270}, {210, 158}, {158, 210},
                          {210, 210}, {140, 105}, {105, 140}, {140, 140}};
  std::mt19937 rng(7);
  const Picture landscape = RandomPicture(rng, 1013, 677);
  const Picture portrait = RandomPicture(rng, 480, 719);
  for (const auto& s : sizes) {
    ExpectMatchesDirect(landscape, s[0], s[1]);
    ExpectMatchesDirect(portrait, s[0], s[1]);
  }
}

// One row (or column) of values in one channel; the other channels hold
// constants, which must come through unchanged.
Picture Line(const std::vector<int>& values, bool vertical, int channel) {
  const int n = static_cast<int>(values.size());
  Picture p;
  p.Create(vertical ? 1 : n, vertical ? n : 1, 24);
  for (int i = 0; i < n; ++i) {
    uint8_t* px = p.ScanLine(vertical ? i : 0) + 3 * (vertical ? 0 : i);
    for (int c = 0; c < 3; ++c)
      px[c] = static_cast<uint8_t>(c == channel ? values[i] : 40 + 80 * c);
  }
  return p;
}

TEST(Stretch, KnownRowsAndColumns) {
  struct Case {
    std::vector<int> source;
    int length;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {{0, 255, 0}, 3, {32, 191, 32}},
      {{10, 20, 30, 40, 50}, 5, {11, 20, 30, 40, 49}},
      {{0, 200}, 4, {0, 50, 150, 200}},
      {{100, 200}, 3, {102, 150, 198}},
      {{0, 0, 160, 160}, 2, {10, 150}},
      {{0, 160, 0, 160}, 2, {70, 90}},
      {{0, 255}, 1, {127}},
      {{0, 255}, 2, {32, 223}},
  };
  for (const Case& c : cases) {
    for (bool vertical : {false, true}) {
      for (int channel = 0; channel < 3; ++channel) {
        const Picture out = Stretch(Line(c.source, vertical, channel), vertical ? 1 : c.length,
                                    vertical ? c.length : 1);
        for (int i = 0; i < c.length; ++i) {
          const uint8_t* px = out.ScanLine(vertical ? i : 0) + 3 * (vertical ? 0 : i);
          for (int k = 0; k < 3; ++k)
            EXPECT_EQ(px[k], k == channel ? c.expected[i] : 40 + 80 * k)
                << "value " << i << " channel " << k << (vertical ? " column" : " row");
        }
      }
    }
  }
  Picture diagonal;
  diagonal.Create(2, 2, 24);
  diagonal.SetPixel(0, 0, {255, 255, 255});
  diagonal.SetPixel(1, 1, {255, 255, 255});
  EXPECT_EQ(Stretch(diagonal, 1, 1).Pixel(0, 0), (Rgb{127, 127, 127}));
}

TEST(Stretch, UniformPicturesAndSinglePixelTargets) {
  Picture white;
  white.Create(1, 1, 24);
  white.SetPixel(0, 0, {255, 255, 255});
  auto uniform = [](const Picture& p, uint8_t value) {
    for (int y = 0; y < p.Height(); ++y)
      for (int x = 0; x < 3 * p.Width(); ++x)
        if (p.ScanLine(y)[x] != value) return false;
    return true;
  };
  for (auto [w, h] : {std::pair{270, 210},
                      {210, 270},
                      {270, 270},
                      {210, 158},
                      {158, 210},
                      {210, 210},
                      {140, 105},
                      {105, 140},
                      {140, 140}})
    EXPECT_TRUE(uniform(Stretch(white, w, h), 255)) << w << "x" << h;
  // The divisor outgrows the integrated area at this magnification.
  const Picture big = Stretch(white, 1000, 1000);
  ASSERT_EQ(big.Width(), 1000);
  ASSERT_EQ(big.Height(), 1000);
  EXPECT_TRUE(uniform(big, 254));

  // A single target pixel is the rounded mean of the whole picture.
  std::mt19937 rng(99);
  for (auto [w, h] : {std::pair{13, 1}, {1, 29}, {31, 17}, {300, 41}}) {
    const Picture p = RandomPicture(rng, w, h);
    long sum[3] = {0, 0, 0};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) sum[c] += p.ScanLine(y)[3 * x + c];
    const Picture one = Stretch(p, 1, 1);
    const uint8_t* out = one.ScanLine(0);
    for (int c = 0; c < 3; ++c) {
      const double mean = static_cast<double>(sum[c]) / (w * h);
      if (std::abs(mean - std::floor(mean) - 0.5) > 0.01) {
        EXPECT_EQ(out[c], std::lround(mean)) << w << "x" << h << " channel " << c;
      }
    }
  }
}

TEST(Stretch, LeavesTheSourceUnchanged) {
  std::mt19937 rng(5);
  const Picture photo = RandomPicture(rng, 37, 23);
  Picture before = photo;
  before.Bits();  // a private copy of the bytes
  const Picture out = Stretch(photo, 11, 9);
  EXPECT_EQ(photo.BitCount(), 24);
  EXPECT_EQ(std::memcmp(photo.Bits(), before.Bits(), 23 * photo.Stride()), 0);
  EXPECT_NE(out.Bits(), photo.Bits());

  Picture indexed;
  indexed.Create(19, 13, 8);
  std::vector<Rgb> palette;
  for (int i = 0; i < 256; ++i)
    palette.push_back(
        {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)});
  indexed.SetPalette(palette);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 19; ++x) indexed.ScanLine(y)[x] = static_cast<uint8_t>(rng());
  Picture indexedBefore = indexed;
  indexedBefore.Bits();
  const Picture scaled = Stretch(indexed, 7, 30);
  EXPECT_EQ(scaled.BitCount(), 24);
  EXPECT_EQ(Difference(scaled, DirectStretch(indexed, 7, 30)), "");
  EXPECT_EQ(indexed.BitCount(), 8);
  EXPECT_EQ(indexed.Palette(), palette);
  EXPECT_EQ(std::memcmp(indexed.Bits(), indexedBefore.Bits(), 13 * indexed.Stride()), 0);
}

TEST(Stretch, RefusesBadSizesBeforeCreatingAnything) {
  Picture empty;
  Picture flat;
  flat.Create(5, 0, 24);
  Picture one;
  one.Create(1, 1, 24);
  for (const Picture* bad : {&empty, &flat}) {
    try {
      Stretch(*bad, 0, 10);  // the source is checked first
      ADD_FAILURE() << "no failure";
    } catch (const EAssertionFailed& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Assertion failure", 0), 0u) << e.what();
    }
  }
  // A picture this size could not be made, so these fail before any is.
  EXPECT_THROW(Stretch(one, 0, 1 << 30), EZeroDivide);
  EXPECT_THROW(Stretch(one, 1 << 30, 0), EZeroDivide);
  EXPECT_THROW(Stretch(one, -1, 1 << 30), EAssertionFailed);
  EXPECT_THROW(Stretch(one, 5, -5), EAssertionFailed);
}

// Feeds the rows of a 24-bit source to a stretcher in chunks of `chunk` rows,
// from a copy whose rows lie `gap` bytes apart, bottom-up when `upward`.
Picture FeedInChunks(TStretcher& stretcher, const Picture& source, int chunk, int gap = 0,
                     bool upward = false) {
  const int w = source.Width(), h = source.Height();
  const ptrdiff_t pitch = 3 * w + gap, stride = upward ? -pitch : pitch;
  std::vector<uint8_t> copy(static_cast<size_t>(pitch * h), 0xA5);
  uint8_t* top = copy.data() + (upward ? pitch * (h - 1) : 0);
  for (int y = 0; y < h; ++y) std::memcpy(top + y * stride, source.ScanLine(y), 3 * w);
  stretcher.Begin(w, h);
  for (int y = 0; y < h; y += chunk)
    stretcher.Rows(y, std::min(chunk, h - y), top + y * stride, stride);
  return stretcher.Finish();
}

TEST(Stretcher, AnyChunkingAgreesWithDirectEvaluation) {
  std::mt19937 rng(31337);
  // The target follows the source's orientation, as the composition does.
  TStretcher oriented([](int w, int h) { return w >= h ? std::pair{27, 21} : std::pair{21, 27}; });
  std::uniform_int_distribution<int> side(1, 90);
  for (int n = 0; n < 40; ++n) {
    const Picture source = RandomPicture(rng, side(rng), side(rng));
    const bool landscape = source.Width() >= source.Height();
    const Picture expected = DirectStretch(source, landscape ? 27 : 21, landscape ? 21 : 27);
    for (int chunk : {1, 7, 13, source.Height()})
      EXPECT_EQ(Difference(FeedInChunks(oriented, source, chunk), expected), "")
          << source.Width() << "x" << source.Height() << " in chunks of " << chunk;
  }
  // Runs of whole rows beyond what 16-bit sums hold, enlargements, near-unit
  // ratios; rows apart in memory or bottom-up; a picture dropped half-fed.
  const int cases[][4] = {{7, 700, 2, 1}, {613, 529, 3, 7}, {9, 1100, 4, 3},     {2, 3, 257, 101},
                          {1, 1, 5, 300}, {97, 89, 96, 90}, {140, 105, 270, 210}};
  for (const auto [ws, hs, wt, ht] : cases) {
    const Picture source = RandomPicture(rng, ws, hs, hs > 600 ? 240 : 0);
    const Picture expected = DirectStretch(source, wt, ht);
    TStretcher fixed(wt, ht);
    fixed.Begin(ws, hs);
    fixed.Rows(0, hs / 2, source.ScanLine(0), source.Stride());
    for (auto [chunk, gap, upward] : {std::tuple{1, 0, false},
                                      {5, 0, false},
                                      {16, 0, false},
                                      {hs, 0, false},
                                      {3, 29, false},
                                      {8, 1, true}})
      EXPECT_EQ(Difference(FeedInChunks(fixed, source, chunk, gap, upward), expected), "")
          << ws << "x" << hs << " -> " << wt << "x" << ht << " in chunks of " << chunk;
  }
  // Other depths go through Stretch converted a slice of rows at a time.
  Picture indexed;
  indexed.Create(23, 45, 8);
  std::vector<Rgb> palette(256);
  for (Rgb& c : palette) c = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), 9};
  indexed.SetPalette(palette);
  for (int y = 0; y < 45; ++y)
    for (int x = 0; x < 23; ++x) indexed.ScanLine(y)[x] = static_cast<uint8_t>(rng());
  EXPECT_EQ(Difference(Stretch(indexed, 10, 6), DirectStretch(indexed, 10, 6)), "");
}

TEST(Stretcher, RefusesBadSizesAndRowsOutOfTurn) {
  auto begin = [](int ws, int hs, int wt, int ht) {
    TStretcher([wt, ht](int, int) { return std::pair{wt, ht}; }).Begin(ws, hs);
  };
  // The source is checked first; no picture this size could be made.
  EXPECT_THROW(begin(0, 1, 0, 1 << 30), EAssertionFailed);
  EXPECT_THROW(begin(5, -1, 3, 3), EAssertionFailed);
  EXPECT_THROW(begin(1, 1, 0, 1 << 30), EZeroDivide);
  EXPECT_THROW(begin(1, 1, 1 << 30, 0), EZeroDivide);
  EXPECT_THROW(begin(1, 1, -1, 1 << 30), EAssertionFailed);
  EXPECT_THROW(begin(1, 1, 5, -5), EAssertionFailed);

  std::mt19937 rng(8);
  const Picture source = RandomPicture(rng, 6, 10);
  const ptrdiff_t stride = source.Stride();
  auto row = [&](int y) { return source.ScanLine(y); };
  TStretcher stretcher(3, 2);
  EXPECT_THROW(stretcher.Rows(0, 1, row(0), stride), EAssertionFailed);  // before Begin
  EXPECT_THROW(stretcher.Finish(), EAssertionFailed);
  // Each misuse fails, and the picture must then be begun again.
  for (const auto& misuse : std::initializer_list<std::function<void()>>{
           [&] { stretcher.Rows(5, 1, row(5), stride); },   // a row skipped
           [&] { stretcher.Rows(3, 2, row(3), stride); },   // rows again
           [&] { stretcher.Rows(4, 7, row(4), stride); },   // beyond the height
           [&] { stretcher.Rows(4, -1, row(4), stride); },  // a negative count
           [&] { stretcher.Finish(); }}) {                  // rows missing
    stretcher.Begin(6, 10);
    stretcher.Rows(0, 4, row(0), stride);
    EXPECT_THROW(misuse(), EAssertionFailed);
    EXPECT_THROW(stretcher.Rows(4, 6, row(4), stride), EAssertionFailed);
    EXPECT_THROW(stretcher.Finish(), EAssertionFailed);
  }
  stretcher.Begin(6, 10);
  stretcher.Rows(0, 4, row(0), stride);
  stretcher.Rows(4, 6, row(4), stride);
  EXPECT_EQ(Difference(stretcher.Finish(), DirectStretch(source, 3, 2)), "");
  EXPECT_THROW(stretcher.Finish(), EAssertionFailed);  // the result was handed over
}

}  // namespace
