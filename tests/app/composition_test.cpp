#include "app/composition.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <numbers>

#include "imaging/bitmaputils.h"
#include "imaging/canvas.h"
#include "imaging/jpegimage.h"
#include "platform/errors.h"
#include "support/codedpicture.h"
#include "support/exifsegment.h"
#include "support/files.h"
#include "support/report.h"
#include "support/tempfolder.h"

namespace {

constexpr Rgb kKey{255, 0, 255}, kBlack{0, 0, 0}, kWhite{255, 255, 255};

// Every column and row has its own value; no pixel is black, white, grey,
// the key colour or a frame colour.
const Coding kCoded{.red = {.from = 30, .to = 220}, .green = {.from = 30, .to = 220}, .blue = 90};

struct Choice {
  SizeClass size = SizeClass::M;
  bool square = false;
  bool corners = true;
  FrameColour frame = FrameColour::None;
  BackgroundColour background = BackgroundColour::White;
  bool text = false;
};

// Groups: 1 size, 2 shape, 3 background, 4 frame, 5 text, 6 corners.
PunchSettings Settings(const Choice& c) {
  PunchSettings s;
  s.SetPressed(1, static_cast<int>(c.size) + 1, true);
  s.SetPressed(2, c.square ? 2 : 1, true);
  s.SetPressed(3, c.background == BackgroundColour::Black ? 2 : 1, true);
  s.SetPressed(4, static_cast<int>(c.frame) + 1, true);
  s.SetPressed(5, c.text ? 2 : 1, true);
  s.SetPressed(6, c.corners ? 2 : 1, true);
  return s;
}

// Pixels (x, y) of a, where `where` holds, that differ from b at (x + dx, y + dy).
template <class Where>
int Differing(const Picture& a, const Picture& b, Where where, int dx = 0, int dy = 0) {
  int n = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      n += where(x, y) && !(a.Pixel(x, y) == b.Pixel(x + dx, y + dy));
  return n;
}
const auto kEverywhere = [](int, int) { return true; };

struct Row {
  SizeClass size;
  int srcW, srcH;
  bool square;
  int w, h, pen, x1, y1, x2, y2, ellipse;
  bool sizesClient;
  int a, b;  // client size, or the picture control's position
};

}  // namespace

TEST(Composition, SizesFramesAndPlacementFollowTheTable) {
  const SizeClass L = SizeClass::L, M = SizeClass::M, S = SizeClass::S;
  const Row rows[] = {
      {L, 400, 300, false, 270, 210, 7, 3, 3, 268, 208, 42, true, 274, 270},
      {L, 400, 300, true, 210, 210, 7, 3, 3, 208, 208, 42, false, 57, 17},
      {L, 300, 400, false, 210, 270, 9, 4, 4, 207, 267, 54, false, 57, -13},
      {L, 300, 300, false, 270, 270, 9, 4, 4, 267, 267, 54, true, 274, 330},
      {L, 1000, 1000, true, 270, 270, 9, 4, 4, 267, 267, 54, true, 274, 330},
      {M, 400, 300, false, 210, 158, 5, 2, 2, 209, 157, 31, false, 57, 43},
      {M, 400, 300, true, 158, 158, 5, 2, 2, 157, 157, 31, false, 83, 43},
      {M, 300, 400, true, 158, 158, 5, 2, 2, 157, 157, 31, false, 83, 43},
      {M, 300, 400, false, 158, 210, 7, 3, 3, 156, 208, 42, false, 83, 17},
      {M, 300, 300, true, 210, 210, 7, 3, 3, 208, 208, 42, false, 57, 17},
      {S, 400, 300, false, 140, 105, 3, 1, 1, 140, 105, 21, false, 92, 69},
      {S, 400, 300, true, 105, 105, 3, 1, 1, 105, 105, 21, false, 109, 69},
      {S, 300, 400, true, 105, 105, 3, 1, 1, 105, 105, 21, false, 109, 69},
      {S, 300, 400, false, 105, 140, 4, 2, 2, 104, 139, 28, false, 109, 52},
      {S, 300, 300, false, 140, 140, 4, 2, 2, 139, 139, 28, false, 92, 52},
  };
  const Rgb blue{0, 0, 255};
  TPunchComposer composer;
  for (const Row& r : rows) {
    const std::string size = std::to_string(r.w) + "x" + std::to_string(r.h);
    SCOPED_TRACE(std::to_string(r.srcW) + "x" + std::to_string(r.srcH) + " to " + size);
    const Picture source = CodedPicture(r.srcW, r.srcH, kCoded);
    Choice choice{r.size, r.square, false, FrameColour::Blue, BackgroundColour::Black};
    const Picture plain = composer.Compose(source, Settings(choice), false).picture;
    choice.corners = true;
    const TComposition framed = composer.Compose(source, Settings(choice), false);
    const Picture& pic = framed.picture;
    ASSERT_EQ(pic.Width(), r.w);
    ASSERT_EQ(pic.Height(), r.h);
    EXPECT_EQ(framed.label1, size);

    const TCornerGeometry g = CornerGeometry(r.w, r.h);
    EXPECT_EQ((std::array{g.penWidth, g.x1, g.y1, g.x2, g.y2, g.ellipse}),
              (std::array{r.pen, r.x1, r.y1, r.x2, r.y2, r.ellipse}));
    const TPlacement& at = framed.placement;
    EXPECT_EQ(at.sizesClient, r.sizesClient);
    const std::array placed = r.sizesClient ? std::array{at.clientWidth, at.clientHeight}
                                            : std::array{at.imageLeft, at.imageTop};
    EXPECT_EQ(placed, (std::array{r.a, r.b}));

    // Black corners, a blue band the pen's width along the top and left, blue
    // on the far edges, and the scaled picture untouched inside.
    for (auto [x, y] : {std::pair{0, 0}, {r.w - 1, 0}, {0, r.h - 1}, {r.w - 1, r.h - 1}})
      EXPECT_EQ(pic.Pixel(x, y), kBlack) << x << "," << y;
    for (int i = 0; i < r.pen; ++i) {
      EXPECT_EQ(pic.Pixel(r.w / 2, i), blue);
      EXPECT_EQ(pic.Pixel(i, r.h / 2), blue);
    }
    EXPECT_EQ(pic.Pixel(r.w - 1, r.h / 2), blue);
    EXPECT_EQ(pic.Pixel(r.w / 2, r.h - 1), blue);
    // The background corner outside the pen's outer edge: a quarter circle
    // of radius E / 2 + pen / 2 cut from a square of that side, as counted
    // in the top-left quarter of the picture.
    const double radius = r.ellipse / 2.0 + r.pen / 2.0;
    int corner = 0;
    for (int y = 0; y < r.h / 2; ++y)
      for (int x = 0; x < r.w / 2; ++x) corner += pic.Pixel(x, y) == kBlack;
    EXPECT_NEAR(corner, radius * radius * (1 - std::numbers::pi / 4), 2 + radius * radius / 80);
    const int e = r.ellipse, in = r.pen + 1;
    EXPECT_EQ(Differing(pic, plain,
                        [&](int x, int y) {
                          const bool corner = (x < e || x >= r.w - e) && (y < e || y >= r.h - e);
                          return !corner && x >= in && y >= in && x < r.w - in && y < r.h - in;
                        }),
              0);
  }
}

TEST(Composition, SquareCropKeepsTheMiddle) {
  // S landscape 140 x 105 keeps columns 17..121; S portrait keeps rows 17..121.
  TPunchComposer composer;
  const PunchSettings square = Settings({.size = SizeClass::S, .square = true, .corners = false});
  const Picture wide = CodedPicture(280, 210, kCoded), tall = CodedPicture(210, 280, kCoded);
  EXPECT_EQ(Differing(composer.Compose(wide, square, true).picture, Stretch(wide, 140, 105),
                      kEverywhere, 17, 0),
            0);
  EXPECT_EQ(Differing(composer.Compose(tall, square, true).picture, Stretch(tall, 105, 140),
                      kEverywhere, 0, 17),
            0);
}

TEST(Composition, NoFrameLeavesNoKeyColourAndCornersOffLeaveThePicture) {
  TPunchComposer composer;
  const Picture source = CodedPicture(400, 300, kCoded), scaled = Stretch(source, 210, 158);
  const Picture none =
      composer.Compose(source, Settings({.background = BackgroundColour::Black}), false).picture;
  EXPECT_EQ(Differing(none, scaled, [&](int x, int y) { return none.Pixel(x, y) == kKey; }), 0);
  EXPECT_EQ(none.Pixel(0, 0), kBlack);
  // The see-through band shows the picture.
  EXPECT_EQ(Differing(none, scaled, [](int x, int y) { return x == 105 && y < 5; }), 0);

  const Picture pink =
      composer.Compose(source, Settings({.frame = FrameColour::Pink}), false).picture;
  EXPECT_EQ(pink.Pixel(0, 0), kWhite);
  EXPECT_EQ(pink.Pixel(105, 1), (Rgb{255, 128, 192}));

  const Picture off = composer.Compose(source, Settings({.corners = false}), false).picture;
  EXPECT_EQ(Differing(off, scaled, kEverywhere), 0);
}

TEST(Composition, OverlayIsRefilledForEveryJob) {
  TPunchComposer reused, fresh;
  EXPECT_EQ(reused.Overlay().BitCount(), 1);
  EXPECT_EQ(reused.Overlay().Pixel(639, 479), kWhite);
  reused.Compose(
      CodedPicture(300, 400, kCoded),
      Settings(
          {.size = SizeClass::S, .frame = FrameColour::Red, .background = BackgroundColour::Black}),
      false);
  const PunchSettings second = Settings({.size = SizeClass::L});
  const Picture after = reused.Compose(CodedPicture(400, 300, kCoded), second, false).picture;
  EXPECT_EQ(Differing(after, fresh.Compose(CodedPicture(400, 300, kCoded), second, false).picture,
                      kEverywhere),
            0);
}

TEST(Composition, TextImprintSitsAboveTheBottomMargin) {
  TPunchComposer composer;
  const Picture source = CodedPicture(400, 300, kCoded);
  PunchSettings settings = Settings({.corners = false});
  const Picture plain = composer.Compose(source, settings, false).picture;
  settings.SetPressed(5, 2, true);
  settings.imprintText = "";
  const TComposition empty = composer.Compose(source, settings, false);
  EXPECT_EQ(Differing(empty.picture, plain, kEverywhere), 0);
  EXPECT_EQ(empty.label2, "文字あり");

  // Bold, centred, the size class's font size and margin above the bottom:
  // white over a grey shadow one pixel to the lower right, nothing else.
  settings.imprintText = "パンチ Punch";
  const struct {
    SizeClass size;
    int pixels, margin;
  } styles[] = {{SizeClass::L, 16, 20}, {SizeClass::M, 12, 12}, {SizeClass::S, 11, 6}};
  for (const auto& style : styles) {
    SCOPED_TRACE(style.pixels);
    settings.SetPressed(1, static_cast<int>(style.size) + 1, true);
    settings.SetPressed(5, 1, true);
    const Picture bare = composer.Compose(source, settings, false).picture;
    Picture expected = bare;
    settings.SetPressed(5, 2, true);
    const Picture text = composer.Compose(source, settings, false).picture;
    {
      TCanvas canvas(expected);
      canvas.SetFontBold(true);
      canvas.SetFontPixelSize(style.pixels);
      const int x = (expected.Width() - canvas.TextWidth(settings.imprintText)) / 2;
      const int y = expected.Height() - canvas.TextHeight("") - style.margin;
      canvas.SetFontColor({128, 128, 128});
      canvas.TextOut(x + 1, y + 1, settings.imprintText);
      canvas.SetFontColor(kWhite);
      canvas.TextOut(x, y, settings.imprintText);
    }
    EXPECT_EQ(Differing(text, expected, kEverywhere), 0);
    const auto colour = [&](Rgb c) {
      return [&, c](int x, int y) { return text.Pixel(x, y) == c; };
    };
    EXPECT_GT(Differing(text, bare, colour(kWhite)), 20);
    EXPECT_GT(Differing(text, bare, colour({128, 128, 128})), 5);
  }
  settings.SetPressed(1, 2, true);

  // Wider than the picture: both ends are cut off.
  settings.imprintText = std::string(40, 'W');
  const Picture wide = composer.Compose(source, settings, false).picture;
  EXPECT_GT(Differing(wide, plain, [](int x, int) { return x == 0; }), 0);
  EXPECT_GT(Differing(wide, plain, [](int x, int) { return x == 209; }), 0);

  // A stored text of a megabyte shows as its middle characters do.
  std::u32string huge;
  for (char32_t c = 0; huge.size() < 300000; c = (c + 7) % 26) huge += c % 3 ? U'a' + c : U'パ' + c;
  const auto utf8 = [](const std::u32string& text) {
    return QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size())).toStdString();
  };
  settings.imprintText = utf8(huge);
  const Picture whole = composer.Compose(source, settings, false).picture;
  settings.imprintText =
      utf8(huge.substr((huge.size() - MaxImprintCharacters) / 2, MaxImprintCharacters));
  EXPECT_EQ(Differing(whole, composer.Compose(source, settings, false).picture, kEverywhere), 0);
}

TEST(Composition, CaptionsAndStatusByMode) {
  TPunchComposer composer;
  const Picture source = CodedPicture(400, 300, kCoded);
  const TComposition single = composer.Compose(source, PunchSettings{}, true);  // all defaults
  EXPECT_EQ(single.label1 + " " + single.label2 + " " + single.label3,
            "210x158 枠なし/文字なし でパンチしました♪");
  EXPECT_TRUE(single.beep);
  const TComposition batch = composer.Compose(
      source, Settings({.size = SizeClass::L, .frame = FrameColour::Blue, .text = true}), false);
  EXPECT_EQ(batch.label1 + " " + batch.label2 + " " + batch.label3,
            "270x210 青枠/文字あり でパンチ中です♪");
  EXPECT_FALSE(batch.beep);
  const std::pair<Choice, const char*> label2s[] = {
      {{.corners = false, .frame = FrameColour::Yellow, .text = true}, "文字あり"},
      {{.corners = false}, "文字なし"},
      {{.frame = FrameColour::YellowGreen}, "黄緑枠/文字なし"},
      {{.frame = FrameColour::Brown, .text = true}, "茶枠/文字あり"},
  };
  for (const auto& [choice, label2] : label2s)
    EXPECT_EQ(composer.Compose(source, Settings(choice), false).label2, label2);
}

TEST(Composition, ReaderIsChosenByExtensionAlone) {
  const TempFolder folder("compose");
  const std::string& dir = folder.Path();
  {
    TJPEGImage jpeg;
    jpeg.Assign(CodedPicture(64, 48, kCoded));
    jpeg.SaveToFile(dir + "photo.JPEG");
  }
  std::filesystem::copy_file(dir + "photo.JPEG", dir + "photo.bmp");
  std::filesystem::copy_file(dir + "photo.JPEG", dir + "photo.png");
  EXPECT_EQ(ReadJobPicture(dir + "photo.JPEG").Width(), 64);
  TPunchComposer composer;
  const TComposition result = composer.ComposeFile(dir + "photo.JPEG", PunchSettings{}, true);
  EXPECT_EQ(result.label1, "210x158");
  EXPECT_EQ(result.sourcePath, dir + "photo.JPEG");
  // Scaling while decoding gives the pixels of a full decode scaled, also for
  // the paletted decode of a grey file.
  {
    TJPEGImage grey;
    grey.Assign(CodedPicture(50, 77, kCoded));
    grey.Grayscale = true;
    grey.SaveToFile(dir + "grey.jpg");
  }
  for (const char* name : {"photo.JPEG", "grey.jpg"}) {
    const Picture full = ReadJobPicture(dir + name);
    const TScaledJob scaled = ReadAndScaleJob(dir + name, SizeClass::S);
    const TPictureSize target =
        TargetSize(SizeClass::S, OrientationOf(full.Width(), full.Height()));
    EXPECT_EQ(scaled.orientation, OrientationOf(full.Width(), full.Height()));
    ASSERT_EQ(scaled.picture.Width(), target.width);
    ASSERT_EQ(scaled.picture.Height(), target.height);
    EXPECT_EQ(Differing(scaled.picture, Stretch(full, target.width, target.height), kEverywhere), 0)
        << name;
  }
  // JPEG bytes under a BMP name go to the BMP reader, which refuses them; an
  // unknown extension reads nothing, and the scaler refuses that.
  EXPECT_TRUE(ReadJobPicture(dir + "photo.png").Empty());
  for (const char* name : {"photo.bmp", "photo.png"}) {
    try {
      composer.ComposeFile(dir + name, PunchSettings{}, false);
      ADD_FAILURE() << name << " was composed";
    } catch (const Exception& e) {
      ExpectFileReport(e, dir + name);  // the report names the job and why
    }
  }
}

TEST(Composition, SidewaysPhotoIsClassedAndCroppedUpright) {
  TempFolder dir("compose-exif");
  TJPEGImage encoder;
  encoder.Assign(CodedPicture(96, 64, kCoded));  // stored landscape
  const std::vector<uint8_t> stored = encoder.SaveToMemory();
  PunchSettings square = Settings({.square = true, .corners = false});
  TPunchComposer composer;
  for (unsigned o : {1u, 3u, 5u, 6u, 8u}) {
    const std::string path = dir.Path() + "photo" + std::to_string(o) + ".jpg";
    const std::vector<uint8_t> file = exiftest::WithOrientation(stored, o, o == 8);
    WriteBytes(path, file);
    const bool portrait = o >= 5;
    const Picture upright = ReadJobPicture(path);
    EXPECT_EQ(upright.Width(), portrait ? 64 : 96) << o;

    const TScaledJob job = ReadAndScaleJob(path, SizeClass::M);
    EXPECT_EQ(job.orientation, portrait ? TOrientation::Portrait : TOrientation::Landscape) << o;
    EXPECT_EQ(job.picture.Width(), portrait ? 158 : 210) << o;

    // The square is cut from the upright picture: the middle rows of a
    // portrait one, the middle columns of a landscape one.
    const TComposition result = composer.ComposeFile(path, square, false);
    EXPECT_EQ(result.label1, "158x158") << o;
    const Picture reference = Stretch(upright, portrait ? 158 : 210, portrait ? 210 : 158);
    const int dx = portrait ? 0 : 26, dy = portrait ? 26 : 0;
    int worst = 0;
    for (int y = 0; y < 158; ++y)
      for (int x = 0; x < 158; ++x) {
        const Rgb p = result.picture.Pixel(x, y), q = reference.Pixel(x + dx, y + dy);
        worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
      }
    EXPECT_LE(worst, 1) << o;
  }
}
