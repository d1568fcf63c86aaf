#include "widgets/region.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <sstream>
#include <string>
#include <tuple>

#include "platform/errors.h"
#include "support/files.h"
#include "support/tempfolder.h"

namespace {

// The settings window's outline as "top-bottom: left-right, ..." bands.
const char* const kBubbleBands =
    "0-1: 26-261; 1-2: 24-263; 2-3: 23-264; 3-4: 22-265; 4-5: 21-266; 5-6: 21-267; "
    "6-7: 20-268; 7-9: 20-269; 9-24: 20-270; 24-26: 19-270; 26-27: 18-270; 27-29: 17-270; "
    "29-31: 16-270; 31-32: 15-270; 32-34: 14-270; 34-35: 13-270; 35-37: 12-270; "
    "37-38: 11-270; 38-40: 10-270; 40-41: 9-270; 41-43: 8-270; 43-45: 7-270; 45-46: 6-270; "
    "46-48: 5-270; 48-49: 4-19, 20-270; 49-50: 3-17, 20-270; 50-51: 3-15, 20-270; "
    "51-52: 2-13, 20-270; 52-53: 1-11, 20-270; 53-54: 1-9, 20-270; 54-55: 0-7, 20-270; "
    "55-56: 0-5, 20-270; 56-57: 1-3, 20-270; 57-311: 20-270; 311-313: 21-270; "
    "313-314: 22-270; 314-315: 23-269; 315-316: 24-269; 316-317: 25-268; 317-318: 26-267; "
    "318-319: 27-266; 319-320: 29-264";

void Le32(std::vector<uint8_t>& out, int32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

// The block written out by hand from a band list.
std::vector<uint8_t> BlockOf(const std::string& bands, int* bandCount) {
  std::vector<int32_t> rects;
  std::stringstream in(bands);
  std::string band;
  *bandCount = 0;
  while (std::getline(in, band, ';')) {
    int top = 0, bottom = 0, used = 0;
    std::sscanf(band.c_str(), " %d-%d:%n", &top, &bottom, &used);
    std::stringstream runs(band.substr(static_cast<size_t>(used)));
    std::string run;
    while (std::getline(runs, run, ',')) {
      int left = 0, right = 0;
      std::sscanf(run.c_str(), " %d-%d", &left, &right);
      rects.insert(rects.end(), {left, top, right, bottom});
    }
    ++*bandCount;
  }
  const int32_t n = static_cast<int32_t>(rects.size() / 4);
  std::vector<uint8_t> out;
  for (int32_t v : {32, 1, n, 16 * n, 0, 0, 270, 320}) Le32(out, v);
  for (int32_t v : rects) Le32(out, v);
  return out;
}

// A 24-bit picture from rows of characters: '.' is the key (the bottom-left
// pixel must be '.'), any other character a shape pixel.
Picture FromRows(const std::vector<std::string>& rows) {
  Picture picture;
  picture.Create(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 24);
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x)
      picture.SetPixel(static_cast<int>(x), static_cast<int>(y),
                       rows[y][x] == '.' ? Rgb{0, 255, 255} : Rgb{255, 255, 128});
  return picture;
}

template <typename E, typename F>
std::string MessageOf(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

}  // namespace

TEST(RegionData, TheCommittedBubbleScansToTheListedBlockByteForByte) {
  Picture bubble;
  bubble.LoadFromFile(PUNCHLET_ASSETS "/bubble.bmp");
  ASSERT_EQ(bubble.Width(), 270);
  ASSERT_EQ(bubble.Height(), 320);
  EXPECT_EQ(QFile(PUNCHLET_ASSETS "/bubble.bmp").size(), 259894);

  int bands = 0;
  const std::vector<uint8_t> expected = BlockOf(kBubbleBands, &bands);
  EXPECT_EQ(bands, 42);
  ASSERT_EQ(expected.size(), 848u);

  const RegionData scanned = TRgn::BuildRgnData(bubble);
  EXPECT_EQ(scanned.Bytes(), expected);
  EXPECT_EQ(ReadBytes<std::vector<uint8_t>>(PUNCHLET_ASSETS "/bubble.rgn"), expected);

  // The look: aqua surround, black outline, pale yellow inside, and the
  // shadow on the right two grey pixels then one silver.
  const Rgb aqua{0, 255, 255}, black{0, 0, 0}, pale{255, 255, 128}, grey{128, 128, 128},
      silver{192, 192, 192};
  const std::tuple<int, int, Rgb> looks[] = {
      {0, 0, aqua},     {20, 150, black},   {266, 150, black}, {135, 150, pale},  {267, 150, grey},
      {268, 150, grey}, {269, 150, silver}, {135, 316, black}, {135, 319, silver}};
  for (const auto& [x, y, colour] : looks) EXPECT_EQ(bubble.Pixel(x, y), colour) << x << "," << y;
}

TEST(RegionData, StoredPairLoadsWithoutScanningAndShapesTheWindow) {
  QWidget window;
  window.resize(270, 320);
  TRgn* rgn = new TRgn(&window);
  rgn->setObjectName("Rgn1");
  rgn->setGeometry(0, 0, 270, 320);
  rgn->LoadStored(PUNCHLET_ASSETS "/bubble.bmp", PUNCHLET_ASSETS "/bubble.rgn");
  ASSERT_NE(rgn->Rgn(), nullptr);
  EXPECT_EQ(rgn->RgnSize(), 848);
  const QRegion region = *rgn->Rgn();
  // The tail's tip reaches the left edge in rows 54 and 55 only.
  for (const QPoint in : {QPoint(26, 0), QPoint(0, 54), QPoint(0, 55), QPoint(269, 100)})
    EXPECT_TRUE(region.contains(in)) << in.x() << "," << in.y();
  for (const QPoint out : {QPoint(25, 0), QPoint(0, 53), QPoint(0, 56), QPoint(19, 50)})
    EXPECT_FALSE(region.contains(out)) << out.x() << "," << out.y();
  EXPECT_EQ(region.boundingRect(), QRect(0, 0, 270, 320));

  // Shaping a shown window keeps it shown.
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  rgn->SetWndRgn();
  EXPECT_EQ(window.mask(), region);
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(rgn->Rgn(), nullptr);  // the window owns it now
  // Handed over once: a second call finds no region and removes the shape.
  rgn->SetWndRgn();
  EXPECT_TRUE(window.mask().isEmpty());

  // Painted plainly over the whole control.
  const QImage shot = rgn->grab().toImage();
  EXPECT_EQ(shot.pixelColor(135, 150), QColor(255, 255, 128));
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(0, 255, 255));
}

TEST(RegionData, BubbleDrawnAtTheScreensPixelRatio) {
  QWidget window;
  window.setAttribute(Qt::WA_TranslucentBackground);
  window.resize(270, 320);
  TRgn* rgn = new TRgn(&window);
  rgn->setGeometry(0, 0, 270, 320);
  rgn->LoadStored(PUNCHLET_ASSETS "/bubble.bmp", PUNCHLET_ASSETS "/bubble.rgn");
  rgn->SetBitmap2xFile(PUNCHLET_ASSETS "/bubble@2x.png");
  const QRegion shape = *rgn->Rgn();
  rgn->SetWndRgn();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QImage bubble =
      QImage(PUNCHLET_ASSETS "/bubble.bmp").convertToFormat(QImage::Format_ARGB32);
  const QRgb black = qRgb(0, 0, 0);
  const QSet<QRgb> colours = {0, black, qRgb(255, 255, 128), qRgb(128, 128, 128),
                              qRgb(192, 192, 192)};
  const auto expectDrawnAt = [&](qreal ratio) {
    ASSERT_EQ(rgn->devicePixelRatioF(), ratio);
    // Drawn over nothing, so what is see-through stays so.
    QImage shown(QSize(270, 320) * ratio, QImage::Format_ARGB32);
    shown.setDevicePixelRatio(ratio);
    shown.fill(Qt::transparent);
    rgn->render(&shown, {}, {}, QWidget::DrawChildren);
    ASSERT_EQ(shown.size(), QSize(270, 320) * ratio);
    if (ratio == 1) {
      EXPECT_EQ(shown, bubble);
      return;
    }
    // Only the bubble's own colours or see-through, never a blend; nothing
    // outside the window's shape, which would be cut off; and the outline's
    // steps cut finer than the doubled picture's.
    int sharpRows = 0;
    for (int y = 0; y < 320; ++y) {
      bool sharp = false;
      for (int x = 0; x < 270; ++x) {
        const QRect cell(QPoint(x, y) * ratio, QSize(1, 1) * ratio);
        QSet<QRgb> cellColours;
        for (int dy = 0; dy < cell.height(); ++dy)
          for (int dx = 0; dx < cell.width(); ++dx)
            cellColours.insert(shown.pixel(cell.topLeft() + QPoint(dx, dy)));
        for (const QRgb c : cellColours)
          ASSERT_TRUE(colours.contains(c)) << x << "," << y << " " << std::hex << c;
        if (!shape.contains(QPoint(x, y))) {
          ASSERT_EQ(cellColours, QSet<QRgb>{0}) << x << "," << y;
        }
        if (bubble.pixel(x, y) == black && cellColours.size() > 1) sharp = true;
      }
      sharpRows += sharp;
    }
    // The tail's edges and the corners (the doubled picture has none).
    EXPECT_GE(sharpRows, 30) << "the outline is drawn as 2 x 2 blocks";
  };
  const qreal ratio = rgn->devicePixelRatioF();
  expectDrawnAt(ratio);
  for (const QScreen* other : QGuiApplication::screens()) {
    if (other->devicePixelRatio() == ratio) continue;
    window.move(other->geometry().topLeft() + QPoint(10, 10));
    QCoreApplication::processEvents();
    expectDrawnAt(other->devicePixelRatio());
    break;
  }
  // An opaque window has nothing to show through the picture's key colour:
  // the bubble is doubled as it is.
  window.setAttribute(Qt::WA_TranslucentBackground, false);
  const QImage opaque = rgn->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(opaque, bubble.scaled(bubble.size() * rgn->devicePixelRatioF()));
}

TEST(RegionData, ScanRulesAllKeyOneBitAndTheRunLimit) {
  // All key: a header and no rectangles.
  Picture blank = FromRows({"....", "...."});
  const RegionData empty = TRgn::BuildRgnData(blank);
  std::vector<uint8_t> header;
  for (int32_t v : {32, 1, 0, 0, 0, 0, 0, 0}) Le32(header, v);
  EXPECT_EQ(empty.Bytes(), header);

  // Identical rows make one band; a changed row starts the next.
  Picture shape = FromRows({".##.#", ".##.#", "#....", "....."});
  const auto rects = TRgn::BuildRgnData(shape).Rects();
  ASSERT_TRUE(rects);
  EXPECT_EQ(*rects, (std::vector<RgnRect>{{1, 0, 3, 2}, {4, 0, 5, 2}, {0, 2, 1, 3}}));

  // 1-bit, both palette entries the same colour: scanned by index, and the
  // control keeps the 8-bit picture.
  Picture mono;
  mono.Create(10, 2, 1);
  mono.SetPalette({{0, 0, 0}, {0, 0, 0}});
  mono.ScanLine(0)[0] = 0b0110'0000;
  mono.ScanLine(0)[1] = 0b0100'0000;  // pixel 9
  TRgn control;
  control.SetRgnBmp(mono);
  EXPECT_EQ(control.RgnBitmap().BitCount(), 8);
  EXPECT_EQ(*control.RgnData().Rects(), (std::vector<RgnRect>{{1, 0, 3, 1}, {9, 0, 10, 1}}));

  // 4-bit: the high nibble is the left pixel.
  Picture nibbles;
  nibbles.Create(4, 2, 4);
  nibbles.SetPalette(std::vector<Rgb>(16, Rgb{9, 9, 9}));
  nibbles.ScanLine(0)[0] = 0x50;
  nibbles.ScanLine(0)[1] = 0x07;
  EXPECT_EQ(*TRgn::BuildRgnData(nibbles).Rects(),
            (std::vector<RgnRect>{{0, 0, 1, 1}, {3, 0, 4, 1}}));

  // The run limit: 101 one-pixel runs pass when the last ends at the row's
  // last or last-but-one pixel, not when it ends earlier or a 102nd follows.
  const auto runs = [](int count, int trailingKeys) {
    std::string row;
    for (int i = 0; i < count; ++i) row += i ? ".#" : "#";
    row += std::string(static_cast<size_t>(trailingKeys), '.');
    return FromRows({row, std::string(row.size(), '.')});
  };
  for (int trailing : {0, 1}) {
    Picture ok = runs(101, trailing);
    EXPECT_EQ(TRgn::BuildRgnData(ok).Rects()->size(), 101u) << trailing;
  }
  for (const auto& [count, trailing] : {std::pair{101, 2}, std::pair{102, 0}}) {
    Picture bad = runs(count, trailing);
    EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { TRgn::BuildRgnData(bad); }),
              "ﾋﾞｯﾄﾏｯﾌﾟの形状が不適です")
        << count << " runs, " << trailing << " key pixels after";
  }
  // A failed assignment leaves the control without bitmap and block.
  Picture bad = runs(102, 0);
  EXPECT_THROW(control.SetRgnBmp(bad), EInvalidGraphic);
  EXPECT_TRUE(control.RgnBitmap().Empty());
  EXPECT_EQ(control.RgnSize(), 0);

  Picture none;
  EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { TRgn::BuildRgnData(none); }),
            "ﾋﾞｯﾄﾏｯﾌﾟが正しくｾｯﾄされていません");
}

TEST(RegionData, RegionIsScaledToTheControlUnlessAutoSizeAndMovedToItsPlace) {
  QWidget window;
  TRgn* rgn = new TRgn(&window);
  Picture picture = FromRows({"..##", "....", "...."});
  rgn->SetRgnBmp(picture);
  rgn->setGeometry(10, 5, 8, 3);  // twice as wide
  rgn->UpdateRgn();
  EXPECT_EQ(*rgn->Rgn(), QRegion(14, 5, 4, 1));

  rgn->SetAutoSize(true);
  EXPECT_EQ(rgn->size(), QSize(4, 3));
  rgn->SetBounds(0, 0, 50, 50);
  EXPECT_EQ(rgn->geometry(), QRect(0, 0, 4, 3));
  rgn->setGeometry(0, 0, 8, 6);  // AutoSize: the region stays unscaled
  rgn->UpdateRgn();
  EXPECT_EQ(*rgn->Rgn(), QRegion(2, 0, 2, 1));
}

TEST(RegionData, FailuresSayWhatIsMissing) {
  TRgn orphan;
  orphan.setObjectName("Rgn1");
  EXPECT_EQ(MessageOf<Exception>([&] { orphan.SetWndRgn(); }), "Parentが設定されていません");
  EXPECT_EQ(MessageOf<Exception>([&] { orphan.UpdateRgn(); }), "Rgn1 のﾘｰｼﾞｮﾝ情報がありません");

  // A stored block that is not one: cut short, or rectangles out of order.
  Picture picture = FromRows({"#.#.", "...."});
  orphan.ReadRgnBitmap(picture);
  std::vector<uint8_t> good = TRgn::BuildRgnData(picture).Bytes();
  for (int variant = 0; variant < 4; ++variant) {
    std::vector<uint8_t> bytes = good;
    if (variant == 0) bytes.resize(bytes.size() - 1);
    if (variant == 1) std::swap_ranges(bytes.begin() + 32, bytes.begin() + 48, bytes.begin() + 48);
    if (variant == 2) bytes[8] = 0xFF;  // a count far beyond the bytes
    if (variant == 3) {
      // The last rectangle and the bounds reach the largest coordinate,
      // which scaling to the control takes out of any range.
      for (size_t at : {bytes.size() - 8, size_t{24}}) {
        bytes[at] = 0xFF, bytes[at + 1] = 0xFF, bytes[at + 2] = 0xFF, bytes[at + 3] = 0x7F;
      }
    }
    orphan.ReadRgnData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<qsizetype>(bytes.size())));
    EXPECT_EQ(MessageOf<Exception>([&] { orphan.UpdateRgn(); }), "ｳｨﾝﾄﾞｳﾘｰｼﾞｮﾝが作成できません")
        << variant;
  }
  EXPECT_THROW(orphan.LoadStored("/nonexistent/bubble.bmp", "/nonexistent/bubble.rgn"),
               EFOpenError);
  // A stored bitmap that is no BMP names its file.
  const TempFolder folder("region");
  const std::string notBmp = folder.Path() + "not.bmp";
  WriteBytes(notBmp, "BM but not a bitmap");
  try {
    orphan.LoadStored(QString::fromStdString(notBmp), PUNCHLET_ASSETS "/bubble.rgn");
    ADD_FAILURE() << "a broken bitmap was taken";
  } catch (const Exception& e) {
    EXPECT_EQ(e.FileName(), notBmp);
  }
}

TEST(RegionData, TransparentPaintingShowsWhatLiesBeneathAtKeyPixels) {
  QWidget window;
  window.setAutoFillBackground(true);
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, Qt::red);
  window.setPalette(palette);
  window.resize(4, 2);
  TRgn* rgn = new TRgn(&window);
  rgn->setGeometry(0, 0, 4, 2);
  rgn->SetTransparent(true);
  Picture first = FromRows({"..##", "...."});
  rgn->SetRgnBmp(first);
  QImage shot = window.grab().toImage();
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(3, 0), QColor(255, 255, 128));

  // A bitmap set while painting plainly is the one seen through afterwards.
  rgn->SetTransparent(false);
  Picture second = FromRows({"##..", "...."});
  rgn->SetRgnBmp(second);
  rgn->SetTransparent(true);
  shot = window.grab().toImage();
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(255, 255, 128));
  EXPECT_EQ(shot.pixelColor(3, 0), QColor(Qt::red));
}

TEST(RegionData, ShrunkRegionStaysAValidBanding) {
  // Scaled by a half, the runs 0-1 and 2-4 of a row meet at x = 1; the
  // region must hold them as one rectangle, as a union of rectangles does.
  QWidget window;
  TRgn* rgn = new TRgn(&window);
  Picture picture = FromRows({"#.##", "#.##", "....", "...."});
  rgn->SetRgnBmp(picture);
  rgn->setGeometry(0, 0, 2, 2);
  rgn->UpdateRgn();
  EXPECT_EQ(*rgn->Rgn(), QRegion(0, 0, 2, 1));
  EXPECT_EQ(rgn->Rgn()->rectCount(), 1);
}
