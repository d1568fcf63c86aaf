#include "imaging/canvas.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QList>
#include <set>

#include "platform/errors.h"
#include "support/codedpicture.h"

namespace {

constexpr Rgb kRed{255, 0, 0}, kBlue{0, 0, 255}, kGrey{50, 60, 70};

Picture Filled(int w, int h, Rgb c = kGrey) {
  Picture p;
  p.Create(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.SetPixel(x, y, c);
  return p;
}

// Consecutive pixels of colour c from (x, y) on in direction (dx, dy).
int RunOf(const Picture& p, int x, int y, int dx, int dy, Rgb c) {
  int n = 0;
  for (; x < p.Width() && y < p.Height() && p.Pixel(x, y) == c; x += dx, y += dy) ++n;
  return n;
}

}  // namespace

TEST(Canvas, FillsTheWrappedRowsOnly) {
  Picture p = Filled(9, 7);
  const Picture before = p;  // shares the pixels until the canvas writes
  {
    TCanvas canvas(p);
    canvas.SetBrushColor({10, 20, 30});
    canvas.FillRect(2, 1, 5, 4);
    canvas.FillRect(6, 6, 6, 7);  // empty
  }
  EXPECT_EQ(p.ScanLine(1)[6], 30);  // blue, green, red in memory
  EXPECT_EQ(p.ScanLine(1)[8], 10);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
      EXPECT_EQ(p.Pixel(x, y), (inside ? Rgb{10, 20, 30} : kGrey)) << x << "," << y;
      EXPECT_EQ(before.Pixel(x, y), kGrey);
    }
  Picture indexed, empty;
  indexed.Create(4, 4, 8);
  EXPECT_THROW(TCanvas{indexed}, EInvalidGraphicOperation);
  TCanvas nothing(empty);
  nothing.FillRect(0, 0, 10, 10);
  nothing.Draw(0, 0, p);
}

TEST(Canvas, RoundRectPenStraddlesTheOutlineWithoutBlending) {
  // (p, p, W - p + 1, H - p + 1) with p = pen div 2 puts the pen's outer edge
  // on the border. The far outline runs through W - p: an odd pen reaches
  // column W, an even one stops at W - 1.
  for (int pen : {3, 4, 5, 7}) {
    SCOPED_TRACE(pen);
    const int W = 60, H = 44, p = pen / 2, odd = pen % 2;
    Picture pic = Filled(W + 4, H + 4);
    {
      TCanvas canvas(pic);
      canvas.SetBrushColor(kBlue);
      canvas.SetPenColor(kRed);
      canvas.SetPenWidth(pen);
      canvas.RoundRect(p, p, W - p + 1, H - p + 1, H / 5, H / 5);
    }
    const int insideW = W - 2 * pen + odd, insideH = H - 2 * pen + odd;
    EXPECT_EQ(RunOf(pic, W / 2, 0, 0, 1, kRed), pen);
    EXPECT_EQ(RunOf(pic, W / 2, pen, 0, 1, kBlue), insideH);
    EXPECT_EQ(RunOf(pic, W / 2, pen + insideH, 0, 1, kRed), pen);
    EXPECT_EQ(RunOf(pic, 0, H / 2, 1, 0, kRed), pen);
    EXPECT_EQ(RunOf(pic, pen, H / 2, 1, 0, kBlue), insideW);
    EXPECT_EQ(RunOf(pic, pen + insideW, H / 2, 1, 0, kRed), pen);
    for (auto [x, y] :
         {std::pair{0, 0}, {W - 1 + odd, 0}, {0, H - 1 + odd}, {W - 1 + odd, H - 1 + odd}})
      EXPECT_EQ(pic.Pixel(x, y), kGrey);  // outside the rounded corners
    std::set<uint32_t> colours;
    for (int y = 0; y < pic.Height(); ++y)
      for (int x = 0; x < pic.Width(); ++x)
        colours.insert(pic.Pixel(x, y).r << 16 | pic.Pixel(x, y).b);
    EXPECT_EQ(colours.size(), 3u);
  }
}

TEST(Canvas, DrawClipsLeavesOutTheKeyAndHandlesOverlap) {
  Picture overlay = CodedPicture(5, 4);
  overlay.SetPixel(1, 1, {255, 0, 128});
  overlay.SetPixel(2, 1, {128, 0, 255});  // the key with red and blue swapped is drawn
  Picture pic = Filled(6, 6);
  TCanvas(pic).Draw(-1, 3, overlay, {255, 0, 128});
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool covered = y >= 3 && x < 4 && !(x == 0 && y == 4);
      EXPECT_EQ(pic.Pixel(x, y), covered ? overlay.Pixel(x + 1, y - 3) : kGrey) << x << "," << y;
    }

  // Shifted over itself, every pixel is read before it is overwritten.
  Picture self = CodedPicture(8, 6);  // pixel (x, y) is {x, y, 7}
  {
    TCanvas canvas(self);
    canvas.Draw(-3, 0, self);
    canvas.Draw(0, 2, self);
  }
  EXPECT_EQ(self.Pixel(0, 2), (Rgb{3, 0, 7}));
  EXPECT_EQ(self.Pixel(4, 5), (Rgb{7, 3, 7}));

  // Palette pictures are drawn by colour; stretching takes the nearest pixel.
  Picture mono;
  mono.Create(3, 1, 1);
  mono.SetPalette({{0, 0, 0}, {255, 255, 255}});
  mono.Bits()[0] = 0xA0;  // 1 0 1
  Picture target = Filled(3, 3);
  {
    TCanvas canvas(target);
    canvas.Draw(0, 0, mono, {0, 0, 0});
    canvas.StretchDraw(0, 1, 3, 3, mono);
  }
  EXPECT_EQ(target.Pixel(0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(target.Pixel(1, 0), kGrey);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(target.Pixel(x, 2), mono.Pixel(x, 0));
}

TEST(Canvas, TextIsMeasuredAndDrawnInsideItsBox) {
  const std::string family = TCanvas::DefaultFontFamily();
  EXPECT_TRUE(QFontDatabase::writingSystems(QString::fromStdString(family))
                  .contains(QFontDatabase::Japanese))
      << family;

  Picture pic = Filled(200, 40);
  TCanvas canvas(pic);
  canvas.SetFontPixelSize(11);
  const std::string text = "文字あり Ag";
  const int small = canvas.TextWidth(text);
  canvas.SetFontPixelSize(16);
  canvas.SetFontBold(true);
  const int tw = canvas.TextWidth(text), th = canvas.TextHeight(text);
  EXPECT_GT(tw, small);
  EXPECT_GT(tw, canvas.TextWidth("文字"));
  EXPECT_GE(th, 16);
  EXPECT_LE(th, 24);

  canvas.SetFontColor({255, 255, 255});
  canvas.TextOut(10, 5, "");
  canvas.TextOut(10, 5, text);
  int changed = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) {
      if (pic.Pixel(x, y) == kGrey) continue;
      ++changed;
      EXPECT_TRUE(x >= 10 && x <= 10 + tw && y >= 5 && y < 5 + th) << x << "," << y;
    }
  EXPECT_GT(changed, 50);
}
