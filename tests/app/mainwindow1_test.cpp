#include "app/mainwindow1.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/application.h"
#include "app/batch.h"
#include "app/composition.h"
#include "app/outputnaming.h"
#include "app/settingsstore.h"
#include "imaging/jpegimage.h"
#include "platform/errors.h"
#include "support/codedpicture.h"
#include "support/files.h"
#include "support/tempconfig.h"
#include "support/tempfolder.h"
#include "widgets/clearctrl.h"

namespace fs = std::filesystem;

namespace {

// A temporary folder holding pictures and the settings file.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFontSubstitutes();  // the faces the program draws its captions in
  }

  void StoreSizeClass(int button) {
    PunchSettings settings;
    settings.PressDefaults();
    settings.SetPressed(1, button, true);
    SavePunchSettings(settings);
  }

  // A landscape JPEG of the given size with a gradient.
  std::string MakeJpeg(const std::string& name, int width, int height) {
    TJPEGImage jpeg;
    jpeg.Assign(CodedPicture(width, height, {.blue = 90}));
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
  TempFolder folder{"punchlet-window"};
  const fs::path root = folder.Root();
};

TMainForm1::TEnvironment Screen(int width, int height, int minute) {
  return {QRect(0, 0, width, height), minute};
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

TEST_F(WindowTest, SlideFromTheRightEntersFromBeyondTheEdgeOfThePointersMonitor) {
  StoreSizeClass(3);
  const std::string picture = MakeJpeg("a.jpg", 400, 300);
  const struct {
    QRect screen;
    int first, rest, top;  // left after the first tick, left at rest
  } rows[] = {
      {{0, 0, 1920, 1080}, 1908, 788, 390},         // starts at 1940; centre 798
      {{0, 0, 2560, 1440}, 2548, 1108, 570},        // centre 1118: beyond any window width
      {{1280, 0, 1280, 1024}, 2548, 1748, 362},     // the right of two monitors
      {{-1280, -200, 1280, 1024}, -12, -812, 162},  // a monitor left of and above the primary
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.screen.x());
    TMainForm1 window({picture}, {row.screen, 10});
    window.FormCreate();
    EXPECT_EQ(window.slideDirection, TMainForm1::TSlideDirection::FromRight);
    const std::vector<QPoint> positions = Slide(window);
    EXPECT_EQ(positions.front(), QPoint(row.first, row.top));
    EXPECT_EQ(positions.back(), QPoint(row.rest, row.top));
  }
  // Where the compositor places windows nothing slides.
  TMainForm1 placed({picture}, {QRect(0, 0, 1920, 1080), 10, {}, false});
  placed.FormCreate();
  const QPoint before = placed.pos();
  EXPECT_EQ(Slide(placed), std::vector<QPoint>{before});
}

TEST_F(WindowTest, LargeLandscapeEnlargesTheWindowAndTheControlsFollow) {
  StoreSizeClass(1);
  TMainForm1 window({MakeJpeg("a.jpg", 400, 300)}, Screen(1024, 768, 30));
  window.FormCreate();
  EXPECT_EQ(window.size(), QSize(274, 270));
  EXPECT_EQ(window.CaptionText(1), "270x210");
  // The picture on screen is the composed one, channel for channel.
  const auto* shown = window.findChild<QLabel*>("Image1");
  ASSERT_TRUE(shown);
  const QImage image = shown->pixmap().toImage();
  const Picture& preview = window.PreviewPicture();
  ASSERT_EQ(image.size(), QSize(preview.Width(), preview.Height()));
  for (const QPoint at : {QPoint(40, 30), QPoint(135, 105), QPoint(229, 180)}) {
    const Rgb c = preview.Pixel(at.x(), at.y());
    EXPECT_NE(c.r, c.b);  // a swap of red and blue would show
    EXPECT_EQ(image.pixel(at), qRgb(c.r, c.g, c.b)) << at.x() << "," << at.y();
  }
  const auto* ok = window.findChild<QWidget*>("ClearButton1");
  const auto* label = window.findChild<QWidget*>("Label3");
  ASSERT_TRUE(ok && label);
  EXPECT_EQ(ok->geometry(), QRect(202, 214, 69, 50));  // 30 higher, right edge kept
  EXPECT_EQ(label->pos(), QPoint(77, 250));
  // Slide from the bottom uses the window's own height for the start.
  EXPECT_EQ(window.slideDirection, TMainForm1::TSlideDirection::FromBottom);
  const std::vector<QPoint> positions = Slide(window);
  EXPECT_EQ(positions.front(), QPoint((1024 - 274) / 2, 768 + 20 - 32));
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
  {
    // The keypad's Enter, as a user's key arrives at the shown window.
    TMainForm1 window({source}, Screen(1024, 768, 0));
    window.FormCreate();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(window.windowHandle(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_FALSE(window.isVisible());
  }
  EXPECT_EQ(Outputs(), (std::vector<std::string>{"加工済2_one.jpg", "加工済_one.jpg"}));
  std::filesystem::remove(root / "加工済2_one.jpg");
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
    QPoint offScreen;  // on a 1024 x 768 monitor at (100, 50), for a 600 x 600 window
  };
  const Span spans[] = {{0, 7, Direction::FromTop, {312, -570}},
                        {8, 22, Direction::FromRight, {1744, 134}},
                        {23, 37, Direction::FromBottom, {312, 1438}},
                        {38, 52, Direction::FromLeft, {-520, 134}},
                        {53, 59, Direction::FromTop, {312, -570}}};
  for (const Span& span : spans)
    for (int minute = span.first; minute <= span.last; ++minute) {
      TMainForm1 window({}, {QRect(100, 50, 1024, 768), minute});
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
  // The form's many settings, the fonts and the captions only marked the
  // buttons' look stale: each was built once, when first shown.
  for (const TClearButton* button : window.findChildren<TClearButton*>())
    EXPECT_EQ(button->BuildCount(), 1) << button->objectName().toStdString();
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

TEST_F(WindowTest, NoPictureEndsAtOnce) {
  WriteBytes(root / "notes.txt", "x");
  TMainForm1 empty({(root / "notes.txt").string(), (root / "missing.jpg").string()},
                   Screen(1024, 768, 0));
  empty.FormCreate();
  EXPECT_TRUE(empty.Finished());
  EXPECT_TRUE(empty.jobList.empty());
}

// The batch runs on worker threads; these tests fix their number so that the
// pictures really are made ahead of the one being shown.
class BatchTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    setenv("PUNCHLET_WORKERS", "3", 1);
  }
  void TearDown() override {
    unsetenv("PUNCHLET_WORKERS");
    WindowTest::TearDown();
  }

  enum class Kind { Jpeg, GreyJpeg, Bmp24, Bmp8 };

  // A batch runs through the window, or alone as it does without a display.
  enum class Driver { Window, Alone };
  static constexpr Driver Drivers[] = {Driver::Window, Driver::Alone};
  struct TRun {
    std::string listing;  // what the batch wrote to stdout
    std::exception_ptr error;
    QString okCaption, sizeCaption;  // what the window showed last
    // Alone: the most its decoders held at once, and what they still hold.
    size_t budgetPeak = 0, budgetLeft = 0;
  };
  // saved(k, path, window or null, cancel) after each picture is saved.
  using TSaved = std::function<void(size_t k, const std::string& path, TMainForm1* window,
                                    const std::function<void()>& cancel)>;
  static TRun RunBatch(Driver driver, const std::vector<std::string>& jobs,
                       const TSaved& saved = {}) {
    TRun run;
    testing::internal::CaptureStdout();
    try {
      if (driver == Driver::Window) {
        // On the right of two monitors, its origin below the primary's.
        TMainForm1 window(jobs, {QRect(1280, 100, 1024, 768), 0});
        window.OnBatchPictureSaved = [&](int k) {
          // Cancel as a user gives it: Esc, seen in the event pass after the picture.
          const auto escape = [&] {
            QCoreApplication::postEvent(
                &window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
          };
          if (saved) saved(size_t(k), window.outputPath, &window, escape);
        };
        const auto last = qScopeGuard([&] {
          run.okCaption = window.OkCaption();
          run.sizeCaption = window.CaptionText(1);
        });
        window.FormCreate();
        EXPECT_TRUE(window.Finished());
      } else {
        PunchSettings settings;
        LoadPunchSettings(settings);
        TBatch batch(jobs, settings);
        batch.OnSaved = [&](size_t k, const std::string& path) {
          if (saved) saved(k, path, nullptr, [&] { batch.Cancel(); });
        };
        const auto figures = qScopeGuard([&] {
          run.budgetPeak = batch.Budget().Peak();
          run.budgetLeft = batch.Budget().Reserved();
        });
        batch.Run();
      }
    } catch (...) {
      run.error = std::current_exception();
    }
    run.listing = testing::internal::GetCapturedStdout();
    return run;
  }

  // A picture whose every pixel depends on `code`, so that one job's output
  // can never pass for another's.
  std::string WriteCoded(const std::string& name, Kind kind, int width, int height, int code) {
    const std::string path = (root / name).string();
    fs::create_directories(fs::path(path).parent_path());
    const Coding coding{.red = {.from = 53 * code},
                        .green = {.from = 101 * code, .step = 2},
                        .blue = 90 + code,
                        .bitCount = kind == Kind::Bmp8 ? 8 : 24};
    if (kind == Kind::Jpeg || kind == Kind::GreyJpeg) {
      TJPEGImage jpeg;
      jpeg.Assign(CodedPicture(width, height, coding));
      jpeg.Grayscale = kind == Kind::GreyJpeg;
      jpeg.SaveToFile(path);
    } else {
      QImage image = CodedImage(width, height, coding);
      if (kind == Kind::Bmp24) image.convertTo(QImage::Format_RGB888);
      EXPECT_TRUE(image.save(QString::fromStdString(path), "BMP"));
    }
    return path;
  }
};

bool SamePixels(const Picture& a, const Picture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
    return false;
  const size_t row = static_cast<size_t>(a.Width()) * static_cast<size_t>(a.BitCount()) / 8;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), row) != 0) return false;
  return true;
}

TEST_F(BatchTest, OutputsAreThoseOfOneAtATimeShownNumberedNamedAndListedInJobOrder) {
  // Size class, shape, background, frame, imprint, corners.
  const std::vector<std::vector<std::pair<int, int>>> variants = {
      {},
      {{1, 1}, {2, 2}, {3, 2}, {4, 8}, {5, 2}, {6, 2}},
      {{1, 3}, {4, 2}, {5, 2}, {6, 1}},
  };
  for (size_t v = 0; v < variants.size(); ++v) {
    PunchSettings stored;
    stored.PressDefaults();
    for (const auto& [group, button] : variants[v]) stored.SetPressed(group, button, true);
    stored.imprintText = "順番 " + std::to_string(v);
    SavePunchSettings(stored);

    for (const Driver driver : Drivers) {
      const std::string dir = "v" + std::to_string(v) + "-" + std::to_string(int(driver)) + "/";
      // a.bmp and a.jpg share a base name, and a.jpg comes twice: the names
      // tell whether the pictures were saved in job order.
      const std::vector<std::string> jobs = {
          WriteCoded(dir + "a.bmp", Kind::Bmp24, 300, 200, 0),
          WriteCoded(dir + "a.jpg", Kind::Jpeg, 300, 200, 1),
          WriteCoded(dir + "b.bmp", Kind::Bmp8, 160, 240, 2),
          WriteCoded(dir + "c.jpeg", Kind::GreyJpeg, 200, 200, 3),
          (root / dir / "a.jpg").string(),
          WriteCoded(dir + "d.JPG", Kind::Jpeg, 640, 480, 5),
          WriteCoded(dir + "e.bmp", Kind::Bmp24, 90, 70, 6),
      };
      const std::vector<std::string> names = {"加工済_a.jpg", "加工済2_a.jpg", "加工済_b.jpg",
                                              "加工済_c.jpg", "加工済3_a.jpg", "加工済_d.jpg",
                                              "加工済_e.jpg"};

      // The one-at-a-time path: one composer, job after job, on this thread.
      PunchSettings settings;
      LoadPunchSettings(settings);
      TPunchComposer composer;
      std::vector<Picture> pictures;
      std::vector<std::string> expected;
      std::string listing;
      for (size_t k = 0; k < jobs.size(); ++k) {
        pictures.push_back(composer.ComposeFile(jobs[k], settings, false).picture);
        const std::vector<uint8_t> bytes = EncodePunched(pictures.back());
        expected.emplace_back(bytes.begin(), bytes.end());
        listing += (root / dir / names[k]).string() + "\n";
      }

      size_t saved = 0;
      const TRun run = RunBatch(
          driver, jobs, [&](size_t k, const std::string& path, TMainForm1* window, const auto&) {
            ASSERT_EQ(k, saved++);
            EXPECT_EQ(path, (root / dir / names[k]).string());
            // Later outputs must not exist yet: each is saved in its turn.
            for (size_t later = k + 1; later < names.size(); ++later)
              EXPECT_FALSE(fs::exists(root / dir / names[later])) << names[later];
            if (window == nullptr) return;
            EXPECT_TRUE(window->isVisible());
            EXPECT_EQ(window->CaptionText(3), "でパンチ中です♪");
            EXPECT_EQ(window->OkCaption(), QString("%1/%2").arg(k + 1).arg(jobs.size()));
            // What a screen reader hears, and centred on the window's own monitor.
            const auto heard = [&](const char* name, QAccessible::Text text) {
              return QAccessible::queryAccessibleInterface(window->findChild<QWidget*>(name))
                  ->text(text);
            };
            EXPECT_EQ(heard("ClearButton1", QAccessible::Name), "OK");
            EXPECT_EQ(heard("ClearButton2", QAccessible::Name), "キャンセル");
            EXPECT_EQ(heard("ClearButton1", QAccessible::Description), window->OkCaption());
            EXPECT_EQ(window->pos(), QPoint(1280 + (1024 - window->width()) / 2,
                                            100 + (768 - window->height()) / 2));
            EXPECT_TRUE(SamePixels(window->PreviewPicture(), pictures[k])) << "job " << k;
          });
      EXPECT_FALSE(run.error);
      EXPECT_EQ(saved, jobs.size());
      EXPECT_EQ(run.listing, listing);
      if (driver == Driver::Alone) {
        EXPECT_GT(run.budgetPeak, 0u) << "the decoders ran outside the batch's memory budget";
        EXPECT_EQ(run.budgetLeft, 0u);
      }
      for (size_t k = 0; k < jobs.size(); ++k)
        EXPECT_EQ(ReadBytes(root / dir / names[k]), expected[k]) << dir << ", job " << k;
    }
  }
}

TEST_F(BatchTest, CancelEndsAfterTheCurrentPictureAndDropsThoseMadeAhead) {
  setenv("PUNCHLET_WORKERS", "4", 1);
  for (const Driver driver : Drivers) {
    const std::string dir = std::to_string(int(driver)) + "/";
    std::vector<std::string> jobs;
    for (int i = 0; i < 12; ++i)
      jobs.push_back(WriteCoded(dir + "p" + std::to_string(i) + ".jpg", Kind::Jpeg, 64, 48, i));
    const TRun run = RunBatch(driver, jobs, [&](size_t k, auto&&, auto*, const auto& cancel) {
      // By the second picture the workers have run ahead of it.
      if (k == 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancel();
      }
    });
    EXPECT_FALSE(run.error);
    if (driver == Driver::Window) {
      EXPECT_EQ(run.okCaption, "2/12");
    }
    EXPECT_EQ(run.listing, (root / dir / "加工済_p0.jpg").string() + "\n" +
                               (root / dir / "加工済_p1.jpg").string() + "\n");
    // Nothing else was left in the folder, not even a temporary file.
    EXPECT_EQ(std::distance(fs::directory_iterator(root / dir), fs::directory_iterator()), 12 + 2);
  }
}

TEST_F(BatchTest, AFailureIsReportedInItsTurnEvenWhenALaterJobFailedFirst) {
  setenv("PUNCHLET_WORKERS", "4", 1);
  for (const Driver driver : Drivers) {
    const std::string dir = std::to_string(int(driver)) + "/";
    // The first job takes longest; the third fails at once, the fifth too but
    // with another error. Only the third's may be reported, after the first
    // two are saved.
    const std::vector<std::string> jobs = {
        WriteCoded(dir + "big.bmp", Kind::Bmp24, 1600, 1200, 0),
        WriteCoded(dir + "fine.jpg", Kind::Jpeg, 64, 48, 1),
        (root / dir / "bad.jpg").string(),
        WriteCoded(dir + "after.jpg", Kind::Jpeg, 64, 48, 3),
        (root / dir / "broken.bmp").string(),
    };
    WriteBytes(root / dir / "bad.jpg", "not a jpeg");
    WriteBytes(root / dir / "broken.bmp", "BM");
    const TRun run = RunBatch(driver, jobs);
    ASSERT_TRUE(run.error);
    EXPECT_THROW(std::rethrow_exception(run.error), EJPEG);
    EXPECT_EQ(run.listing, (root / dir / "加工済_big.jpg").string() + "\n" +
                               (root / dir / "加工済_fine.jpg").string() + "\n");
    if (driver == Driver::Window) {
      EXPECT_EQ(run.okCaption, "2/5");
      EXPECT_EQ(run.sizeCaption, "210x158");  // the last picture shown is fine.jpg's
    }
  }
}

TEST_F(BatchTest, PicturesMadeWhileTheWindowIsBuiltAreSavedInTurn) {
  std::vector<std::string> jobs;
  std::vector<std::string> expected;
  for (int i = 0; i < 6; ++i) {
    jobs.push_back(WriteCoded("q" + std::to_string(i) + ".jpg", Kind::Jpeg, 80, 60, i));
    expected.push_back("加工済_q" + std::to_string(i) + ".jpg");
  }
  const std::shared_ptr<TIntake> intake = BeginIntake(jobs);
  // The workers finish while nothing listens; their announcements are spent.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  QCoreApplication::processEvents();
  EXPECT_TRUE(Outputs().empty());  // nothing is saved before the window's turn

  TMainForm1 window(jobs, Screen(1024, 768, 0));
  window.UseIntake(intake);
  QTimer::singleShot(10000, &window, [&window] { window.ClearButton2Click(); });  // never hang
  window.FormCreate();
  EXPECT_TRUE(window.Finished());
  EXPECT_EQ(Outputs(), expected);
  EXPECT_EQ(window.OkCaption(), "6/6");
}

#ifdef PUNCHLET_EXE
TEST_F(WindowTest, TheProgramPunchesAFolderInBatchWithoutADisplay) {
  fs::create_directories(root / "in" / "sub");
  MakeJpeg("in/a.jpg", 120, 80);
  MakeJpeg("in/sub/b.JPEG", 80, 120);
  WriteBytes(root / "in" / "readme.txt", "skip me");
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
  WriteBytes(root / "in" / "broken.bmp", "BM");
  const std::string broken = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                             PUNCHLET_EXE + " '" + (root / "in" / "broken.bmp").string() + "' '" +
                             (root / "in" / "a.jpg").string() + "' 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(broken.c_str())), 1);
  EXPECT_FALSE(fs::exists(root / "in" / "加工済_broken.jpg"));
}
#endif

}  // namespace
