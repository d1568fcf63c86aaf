#include "app/mainwindow1.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/application.h"
#include "app/settingsstore.h"
#include "imaging/jpegimage.h"
#include "platform/errors.h"
#include "support/tempconfig.h"

namespace fs = std::filesystem;

namespace {

// A temporary folder holding pictures and the settings file.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFontSubstitutes();  // the faces the program draws its captions in
    char pattern[] = "/tmp/punchlet-window-XXXXXX";
    root = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(root); }

  void StoreSizeClass(int button) {
    PunchSettings settings;
    settings.PressDefaults();
    settings.SetPressed(1, button, true);
    SavePunchSettings(settings);
  }

  // A landscape JPEG of the given size with a gradient.
  std::string MakeJpeg(const std::string& name, int width, int height) {
    Picture picture;
    picture.Create(width, height, 24);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        picture.SetPixel(x, y, Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 90});
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    const std::string path = (root / name).string();
    jpeg.SaveToFile(path);
    return path;
  }

  std::vector<std::string> Outputs() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root))
      if (entry.path().filename().string().rfind("加工済", 0) == 0)
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempConfigHome config;
  fs::path root;
};

TMainForm1::Environment Screen(int width, int height, int minute) {
  return {QSize(width, height), minute};
}

// Runs the slide until the timer stops; returns the positions after each tick.
std::vector<QPoint> Slide(TMainForm1& window) {
  window.Timer1()->stop();  // ticks are driven by hand
  std::vector<QPoint> positions;
  for (int tick = 0; tick < 200; ++tick) {
    window.Timer1()->start();
    window.Timer1Timer();
    positions.push_back(window.pos());
    if (!window.Timer1()->isActive()) break;
  }
  return positions;
}

TEST_F(WindowTest, SlideInFromTheLeftStopsAtTheFirstPositionPastTheCentre) {
  StoreSizeClass(3);  // S: a landscape picture keeps the design-size window
  TMainForm1 window({MakeJpeg("a.jpg", 400, 300)}, Screen(1024, 768, 45));
  window.FormCreate();
  ASSERT_FALSE(window.Finished());
  EXPECT_EQ(window.slideDirection, TMainForm1::TSlideDirection::FromLeft);
  EXPECT_EQ(window.size(), QSize(324, 300));
  const std::vector<QPoint> positions = Slide(window);
  ASSERT_GE(positions.size(), 2u);
  EXPECT_EQ(positions.front(), QPoint(-312, 234));  // placed at -344, then one step
  EXPECT_EQ(positions.back(), QPoint(360, 234));    // first value not below the centre 350
}

TEST_F(WindowTest, SlideFromTheRightStartsAtItsOwnWidthPlus620) {
  StoreSizeClass(3);
  TMainForm1 window({MakeJpeg("a.jpg", 400, 300)}, Screen(1920, 1080, 10));
  window.FormCreate();
  EXPECT_EQ(window.slideDirection, TMainForm1::TSlideDirection::FromRight);
  const std::vector<QPoint> positions = Slide(window);
  EXPECT_EQ(positions.front().x(), 912);  // starts at 944, moved at the same tick
  EXPECT_EQ(positions.back().x(), 784);   // first value not above the centre 798
  EXPECT_EQ(positions.back().y(), (1080 - 300) / 2);
}

TEST_F(WindowTest, LargeLandscapeEnlargesTheWindowAndTheControlsFollow) {
  StoreSizeClass(1);
  TMainForm1 window({MakeJpeg("a.jpg", 400, 300)}, Screen(1024, 768, 30));
  window.FormCreate();
  EXPECT_EQ(window.size(), QSize(274, 270));
  EXPECT_EQ(window.CaptionText(1), "270x210");
  const auto* ok = window.findChild<QWidget*>("ClearButton1");
  const auto* label = window.findChild<QWidget*>("Label3");
  ASSERT_TRUE(ok && label);
  EXPECT_EQ(ok->geometry(), QRect(202, 214, 69, 50));  // 30 higher, right edge kept
  EXPECT_EQ(label->pos(), QPoint(77, 250));
  // Slide from the bottom uses the window's own height for the start.
  EXPECT_EQ(window.slideDirection, TMainForm1::TSlideDirection::FromBottom);
  const std::vector<QPoint> positions = Slide(window);
  EXPECT_EQ(positions.front(), QPoint((1024 - 274) / 2, 270 + 620 - 32));
  EXPECT_LE(positions.back().y(), (768 - 270) / 2);
  EXPECT_GT(positions.back().y(), (768 - 270) / 2 - 32);
}

TEST_F(WindowTest, SingleModeSavesOnlyOnOk) {
  const std::string source = MakeJpeg("one.jpg", 300, 200);
  {
    TMainForm1 window({source}, Screen(1024, 768, 0));
    window.FormCreate();
    EXPECT_EQ(window.CaptionText(3), "でパンチしました♪");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &escape);
    EXPECT_TRUE(window.cancelRequested);
  }
  {
    TMainForm1 window({source}, Screen(1024, 768, 0));
    window.FormCreate();
    window.ClearButton2Click();
  }
  EXPECT_TRUE(Outputs().empty());
  {
    TMainForm1 window({source}, Screen(1024, 768, 0));
    window.FormCreate();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
  }
  EXPECT_EQ(Outputs(), std::vector<std::string>{"加工済_one.jpg"});
  TJPEGImage written;
  written.LoadFromFile((root / "加工済_one.jpg").string());
  EXPECT_EQ(written.Width(), 210);
  EXPECT_EQ(written.Height(), 158);
}

TEST(MainForm, SlideDirectionFollowsTheMinuteAndStartsBeyondThatEdge) {
  using Direction = TMainForm1::TSlideDirection;
  struct Span {
    int first, last;
    Direction direction;
    QPoint offScreen;  // on a 1024 x 768 screen, for a 600 x 600 window
  };
  const Span spans[] = {{0, 7, Direction::FromTop, {212, -620}},
                        {8, 22, Direction::FromRight, {1644, 84}},
                        {23, 37, Direction::FromBottom, {212, 1388}},
                        {38, 52, Direction::FromLeft, {-620, 84}},
                        {53, 59, Direction::FromTop, {212, -620}}};
  for (const Span& span : spans)
    for (int minute = span.first; minute <= span.last; ++minute) {
      TMainForm1 window({}, Screen(1024, 768, minute));
      EXPECT_EQ(window.slideDirection, span.direction) << "minute " << minute;
      EXPECT_EQ(window.pos(), span.offScreen) << "minute " << minute;
    }
}

TEST_F(WindowTest, OkSavesOnlyWhenItsPictureIsClicked) {
  const std::string source = MakeJpeg("one.jpg", 300, 200);
  TMainForm1 window({source}, Screen(1024, 768, 0));
  window.FormCreate();
  window.Timer1()->stop();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const auto* ok = window.findChild<QWidget*>("ClearButton1");
  ASSERT_NE(ok, nullptr);
  // The Enter cap's cut-away lower left (black in the picture, well away from
  // anything drawn) and a point on the cap itself.
  const QPoint corner = ok->mapTo(&window, QPoint(12, 37));
  const QPoint cap = ok->mapTo(&window, QPoint(40, 12));
  EXPECT_EQ(window.grab().toImage().pixelColor(corner), QColor(255, 255, 128));
  QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, corner);
  EXPECT_TRUE(Outputs().empty());
  EXPECT_TRUE(window.isVisible());
  QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, cap);
  EXPECT_EQ(Outputs(), std::vector<std::string>{"加工済_one.jpg"});
  EXPECT_FALSE(window.isVisible());
}

TEST_F(WindowTest, CancelDuringABatchKeepsThePicturesSavedSoFar) {
  std::vector<std::string> jobs;
  for (int i = 1; i <= 10; ++i) jobs.push_back(MakeJpeg("p" + std::to_string(i) + ".jpg", 64, 48));
  TMainForm1 window(jobs, Screen(1024, 768, 0));
  std::vector<QString> captions;
  window.OnBatchPictureSaved = [&](int index) {
    captions.push_back(window.OkCaption());
    EXPECT_TRUE(window.isVisible());
    // Esc arrives while picture 3 is being saved; the event pass after it sees it.
    if (index == 2)
      QCoreApplication::postEvent(&window,
                                  new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
  };
  window.FormCreate();
  EXPECT_TRUE(window.Finished());
  EXPECT_EQ(Outputs(),
            (std::vector<std::string>{"加工済_p1.jpg", "加工済_p2.jpg", "加工済_p3.jpg"}));
  EXPECT_EQ(captions, (std::vector<QString>{"1/10", "2/10", "3/10"}));
  EXPECT_EQ(window.CaptionText(3), "でパンチ中です♪");
}

TEST_F(WindowTest, NoPictureEndsAtOnceAndAFailureStopsTheBatch) {
  std::ofstream(root / "notes.txt") << "x";
  TMainForm1 empty({(root / "notes.txt").string(), (root / "missing.jpg").string()},
                   Screen(1024, 768, 0));
  empty.FormCreate();
  EXPECT_TRUE(empty.Finished());
  EXPECT_TRUE(empty.jobList.empty());

  const std::string good = MakeJpeg("good.jpg", 64, 48);
  std::ofstream(root / "bad.jpg") << "not a jpeg";
  const std::string after = MakeJpeg("later.jpg", 64, 48);
  TMainForm1 batch({good, (root / "bad.jpg").string(), after}, Screen(1024, 768, 0));
  EXPECT_THROW(batch.FormCreate(), EJPEG);
  EXPECT_EQ(Outputs(), std::vector<std::string>{"加工済_good.jpg"});
}

#ifdef PUNCHLET_EXE
TEST_F(WindowTest, TheProgramPunchesAFolderInBatchWithoutADisplay) {
  fs::create_directories(root / "in" / "sub");
  MakeJpeg("in/a.jpg", 120, 80);
  MakeJpeg("in/sub/b.JPEG", 80, 120);
  std::ofstream(root / "in" / "readme.txt") << "skip me";
  const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                              PUNCHLET_EXE + " '" + (root / "in").string() + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(fs::exists(root / "in" / "加工済_a.jpg"));
  EXPECT_TRUE(fs::exists(root / "in" / "sub" / "加工済_b.jpg"));
  // A single picture would need someone to press OK: it refuses without a display.
  const std::string single = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                             PUNCHLET_EXE + " '" + (root / "in" / "a.jpg").string() +
                             "' 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(single.c_str())), 2);
  // A broken picture is reported with exit status 1 and nothing is written for it.
  std::ofstream(root / "in" / "broken.bmp") << "BM";
  const std::string broken = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                             PUNCHLET_EXE + " '" + (root / "in" / "broken.bmp").string() + "' '" +
                             (root / "in" / "a.jpg").string() + "' 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(broken.c_str())), 1);
  EXPECT_FALSE(fs::exists(root / "in" / "加工済_broken.jpg"));
}
#endif

}  // namespace
