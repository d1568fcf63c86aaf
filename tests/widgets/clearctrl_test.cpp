#include "widgets/clearctrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <functional>
#include <stdexcept>

#include "support/codedpicture.h"
#include "support/pixels.h"

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kSilver = qRgb(192, 192, 192);
const QRgb kRing = qRgb(40, 90, 200);

// Each pixel tells where it came from; a 6 x 6 black (see-through) square in
// every corner stands for the black corners of the preview's key pictures
// (assets/enterkey.png).
QRgb Code(int x, int y) { return qRgb(100 + x, 50 + y, 7); }
QImage KeyCap(int width, int height) {
  QImage picture = CodedImage(width, height, {.red = {.from = 100}, .green = {.from = 50}});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if ((x < 6 || x >= width - 6) && (y < 6 || y >= height - 6)) picture.setPixel(x, y, kBlack);
  return picture;
}

// The preview's OK button look.
void MakePreviewButton(TClearButton& button, int width, const QImage& picture,
                       const QString& caption, int fontPixels) {
  button.BeginUpdate();
  button.SetAutoSize(false);
  button.resize(width, 50);
  QFont font = button.font();
  font.setPixelSize(fontPixels);
  button.setFont(font);
  button.SetFontColor(Qt::white);
  button.SetCaption(caption);
  button.SetCaptionTop(18);
  button.SetPicture(QPixmap::fromImage(picture));
  button.SetTransColor(Qt::black);
  button.SetStyle(TClearControl::sbsFloatBtn);
  button.SetHotTrack(false);
  button.SetShadowColor(QColor(kSilver));
  button.SetLightColor(Qt::white);
  button.SetColor(QColor(kRing));
  button.EndUpdate();
}

// First row and column holding ink when the text is drawn at (0, 0), and the
// width of the text's cell: how the caption must land, found without the widget.
struct Ink {
  int top = -1, left = -1, cellWidth = 0;
};
Ink InkOf(const QString& text, QFont font) {
  font.setStyleStrategy(QFont::NoAntialias);
  Ink ink;
  ink.cellWidth = QFontMetrics(font).boundingRect(QRect(), Qt::AlignLeft, text).width() + 1;
  QImage image(200, 100, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(0, 0, 200, 100), Qt::AlignLeft | Qt::AlignTop, text);
  painter.end();
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      if (qGray(image.pixel(x, y)) < 128) {
        if (ink.top < 0) ink.top = y;
        if (ink.left < 0 || x < ink.left) ink.left = x;
      }
  return ink;
}

// Where the given colour occurs first, scanning rows (y) or columns (x).
int FirstRowOf(const QImage& image, QRgb colour) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == colour) return y;
  return -1;
}
int FirstColumnOf(const QImage& image, QRgb colour) {
  for (int x = 0; x < image.width(); ++x)
    for (int y = 0; y < image.height(); ++y)
      if (image.pixel(x, y) == colour) return x;
  return -1;
}

void ExpectMaskIsTheDrawnPixels(const QRegion& region, const QImage& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      ASSERT_EQ(region.contains(QPoint(x, y)), image.pixel(x, y) != kBlack) << x << "," << y;
}

TEST(ClearButton, StateImagesPlacePictureRingShadowAndCaption) {
  TClearButton ok;
  MakePreviewButton(ok, 69, KeyCap(48, 36), QString(), 15);
  const QImage normal = ok.NormalImage();
  const QImage pressed = ok.PressedImage();
  ASSERT_EQ(normal.size(), QSize(69, 50));
  // The 65 x 46 face centres the picture: x 10-57, y 7-42; pressed one lower and right.
  for (int y = 0; y < 36; ++y)
    for (int x = 6; x < 42; ++x) {
      ASSERT_EQ(normal.pixel(10 + x, 7 + y), Code(x, y)) << x << "," << y;
      ASSERT_EQ(pressed.pixel(11 + x, 8 + y), Code(x, y)) << x << "," << y;
    }
  // A middle row: ring one pixel beyond the picture, and on the right (where
  // the outline is one wider) the drop shadow three pixels out; pressed, no shadow.
  // Below: ring at 43, shadow rows 44-45 (the picture's last row 42 moved by
  // 3). The see-through corners stay key colour where nothing is drawn near them.
  const int row = 7 + 20;
  ExpectColour(normal, kRing, {9, row, 58, row, 59, row, 30, 43});
  ExpectColour(normal, kSilver, {60, row, 61, row, 30, 45});
  ExpectColour(normal, kBlack, {8, row, 62, row, 30, 46, 10 + 2, 7 + 2, 10 + 4, 7 + 4});
  ExpectColour(pressed, kRing, {60, row + 1});
  ExpectColour(pressed, kBlack, {61, row + 1});
  ExpectMaskIsTheDrawnPixels(ok.NormalRgn(), normal);
  ExpectMaskIsTheDrawnPixels(ok.PressedRgn(), pressed);

  // Cancel: 36 x 36 on 60 x 50 lies at x 12-47.
  TClearButton cancel;
  MakePreviewButton(cancel, 60, KeyCap(36, 36), QString(), 12);
  EXPECT_EQ(cancel.NormalImage().pixel(12 + 6, 7), Code(6, 0));
  EXPECT_EQ(cancel.NormalImage().pixel(12 + 35, 7 + 6), Code(35, 6));
  EXPECT_EQ(cancel.NormalImage().pixel(12 + 36, 7 + 6), kRing);
}

TEST(ClearButton, CaptionSitsAtCaptionTopCentredWithHardEdges) {
  TClearButton ok;
  MakePreviewButton(ok, 69, QImage(), QStringLiteral("[OK]"), 15);
  const Ink ink = InkOf(QStringLiteral("[OK]"), ok.font());
  ASSERT_GE(ink.top, 0);
  // The caption's cell starts 18 below the face's top (y 20), centred on the
  // whole button; pressed, one lower and right.
  EXPECT_EQ(FirstRowOf(ok.NormalImage(), kWhite), 20 + ink.top);
  EXPECT_EQ(FirstRowOf(ok.PressedImage(), kWhite), 21 + ink.top);
  EXPECT_EQ(FirstColumnOf(ok.NormalImage(), kWhite), (69 - ink.cellWidth) / 2 + ink.left);
  // Nothing but key, caption, ring and shadow: no blended edge pixels.
  for (const QImage& image : {ok.NormalImage(), ok.PressedImage()})
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        ASSERT_TRUE(QSet<QRgb>({kBlack, kWhite, kRing, kSilver}).contains(image.pixel(x, y)))
            << x << "," << y << " " << std::hex << image.pixel(x, y);

  // A caption too wide for the face is cut off by the face, not drawn past it.
  ok.SetCaption(QStringLiteral("[OK][OK][OK]"));
  for (int y = 0; y < 50; ++y) {
    EXPECT_NE(ok.NormalImage().pixel(1, y), kWhite);
    EXPECT_NE(ok.NormalImage().pixel(67, y), kWhite);
  }

  // A caption in the key colour is neither seen nor clickable: the control vanishes.
  ok.SetFontColor(Qt::black);
  EXPECT_EQ(ok.NormalRgn(), QRegion());
  QWidget parent;
  TClearButton empty(&parent);
  parent.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(empty.mask(), QRegion(-3000, -3000, 1, 1));
}

// A window that counts the clicks that reach it rather than the button.
class Backdrop : public QWidget {
 public:
  int presses = 0;

 protected:
  void mousePressEvent(QMouseEvent*) override { ++presses; }
};

TEST(ClearButton, OnlyDrawnPixelsTakeClicksAndTheLookFollowsThePointer) {
  Backdrop window;
  window.resize(120, 90);
  window.setAutoFillBackground(true);
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, QColor(255, 255, 128));
  window.setPalette(palette);
  TClearButton button(&window);
  MakePreviewButton(button, 69, KeyCap(48, 36), QStringLiteral("[OK]"), 15);
  button.move(20, 20);
  int clicks = 0, entered = 0, left = 0, moves = 0;
  QObject::connect(&button, &TClearControl::OnClick, [&clicks] { ++clicks; });
  QObject::connect(&button, &TClearControl::OnMouseEnter, [&entered] { ++entered; });
  QObject::connect(&button, &TClearControl::OnMouseLeave, [&left] { ++left; });
  QObject::connect(&button, &TClearControl::OnMouseMove, [&moves] { ++moves; });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QWindow* handle = window.windowHandle();
  const QPoint corner = button.mapTo(&window, QPoint(10 + 2, 7 + 2));
  const QPoint picture = button.mapTo(&window, QPoint(30, 30));
  const QPoint probe(30, 12);  // normal, hot and pressed images differ here
  const auto shown = [&button, probe] { return button.grab().toImage().pixel(probe); };

  // Hot tracking off: entering and leaving are reported, the look stays.
  QTest::mouseMove(handle, picture);
  EXPECT_EQ(entered, 1);
  EXPECT_GE(moves, 1);  // moves are reported without a button held too
  EXPECT_EQ(shown(), button.NormalImage().pixel(probe));
  QTest::mouseMove(handle, QPoint(115, 85));
  EXPECT_EQ(left, 1);

  // The see-through corner shows the window and its click reaches the window.
  EXPECT_EQ(window.grab().toImage().pixelColor(corner), QColor(255, 255, 128));
  QTest::mouseClick(handle, Qt::LeftButton, {}, corner);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(window.presses, 1);
  QTest::mouseClick(handle, Qt::LeftButton, {}, picture);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(window.presses, 1);

  // Held: the pressed shape; off the drawn pixels the normal image shows, and a
  // release there does not click. With hot tracking on the same holds: only a
  // free pointer lights the button.
  for (const bool hot : {false, true}) {
    SCOPED_TRACE(hot ? "hot tracking" : "no hot tracking");
    button.SetHotTrack(hot);
    QTest::mouseMove(handle, picture);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), (hot ? button.HotImage() : button.NormalImage()).pixel(probe));
    QTest::mousePress(handle, Qt::LeftButton, {}, picture);
    QCoreApplication::processEvents();
    EXPECT_EQ(button.mask(), button.PressedRgn());
    EXPECT_EQ(shown(), button.PressedImage().pixel(probe));
    QTest::mouseMove(handle, corner);
    QCoreApplication::processEvents();
    EXPECT_EQ(button.mask(), button.NormalRgn());
    EXPECT_EQ(shown(), button.NormalImage().pixel(probe));
    QTest::mouseMove(handle, picture);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), button.PressedImage().pixel(probe));
    QTest::mouseMove(handle, corner);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, corner);
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button.mask(), button.NormalRgn());
    EXPECT_EQ(shown(), button.NormalImage().pixel(probe));
  }
}

// Connects a handler that takes none of the signal's arguments.
template <auto Signal, typename Widget>
void ConnectTo(Widget* widget, const std::function<void()>& handler) {
  QObject::connect(widget, Signal, handler);
}

// The test runs again on a screen of ratio 2 (QT_SCALE_FACTOR=2) and on two
// screens of ratios 1 and 2. At 1 the screen shows the built images pixel
// for pixel; at 2 the caption, outline and shadow are drawn at the screen's
// pixels, not as 2 x 2 blocks, while the shape and what takes a click stay
// those of the control's own pixels. A window moved to a screen of another
// ratio has its buttons built once more, for that ratio.
TEST(ClearButton, DrawnAtTheScreensPixelRatio) {
  Backdrop window;
  window.resize(120, 90);
  auto* ok = new TClearButton(&window);
  MakePreviewButton(*ok, 69, KeyCap(48, 36), QStringLiteral("[OK]"), 15);
  ok->move(20, 20);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QCoreApplication::processEvents();
  // Only the button's own colours, never a blend of two: the picture's
  // codes, caption, ring, shadow, and the key where the parent shows.
  const auto own = [](QRgb c) {
    return c == kBlack || c == kWhite || c == kRing || c == kSilver ||
           (qRed(c) >= 100 && qRed(c) < 148 && qGreen(c) >= 50 && qGreen(c) < 86 && qBlue(c) == 7);
  };
  const auto expectDrawnAt = [&](qreal ratio) {
    ASSERT_EQ(ok->devicePixelRatioF(), ratio);
    const QImage shown = ok->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(69, 50) * ratio);
    EXPECT_EQ(ok->mask(), ok->NormalRgn());
    const QImage& normal = ok->NormalImage();
    int sharpRows = 0;
    for (int y = 0; y < 50; ++y) {
      bool sharp = false;
      for (int x = 0; x < 69; ++x) {
        const QRgb logical = normal.pixel(x, y);
        if (logical == kBlack) continue;  // cut away by the mask
        // Each pixel of the control covers ratio x ratio pixels of the screen.
        const QRect cell(QPoint(x, y) * ratio, QSize(1, 1) * ratio);
        QSet<QRgb> colours;
        for (int dy = 0; dy < cell.height(); ++dy)
          for (int dx = 0; dx < cell.width(); ++dx)
            colours.insert(shown.pixel(cell.topLeft() + QPoint(dx, dy)));
        if (ratio == 1) {
          ASSERT_EQ(shown.pixel(x, y), logical) << x << "," << y;
        }
        for (const QRgb c : colours) ASSERT_TRUE(own(c)) << x << "," << y << " " << std::hex << c;
        if (logical == kWhite && colours.size() > 1) sharp = true;
      }
      sharpRows += sharp;
    }
    EXPECT_TRUE(ratio < 2 || sharpRows >= 5) << "the caption is drawn as 2 x 2 blocks";
  };
  const qreal ratio = ok->devicePixelRatioF();
  expectDrawnAt(ratio);
  // A click lands where it lands at ratio 1: on a see-through corner it is
  // the window's.
  QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, ok->mapTo(&window, QPoint(12, 9)));
  EXPECT_EQ(window.presses, 1);

  for (const QScreen* other : QGuiApplication::screens()) {
    if (other->devicePixelRatio() == ratio) continue;
    const int builds = ok->BuildCount();
    window.move(other->geometry().topLeft() + QPoint(10, 10));
    QCoreApplication::processEvents();
    EXPECT_EQ(ok->BuildCount(), builds + 1);
    expectDrawnAt(other->devicePixelRatio());
    break;
  }
}

// Whichever handler a pointer sequence reaches first deletes the button, as
// OK and Cancel close their window; nothing touches the button afterwards (a
// use after free shows under AddressSanitizer) and the window lives on.
// (Enter and leave handlers cannot: Qt itself touches the widget after
// delivering those events, so they must use deleteLater.)
TEST(ClearButton, AnyHandlerMayDeleteTheButton) {
  using Connect = void (*)(TClearButton*, const std::function<void()>&);
  const std::pair<const char*, Connect> handlers[] = {
      {"OnMouseMove", ConnectTo<&TClearControl::OnMouseMove>},
      {"OnMouseDown", ConnectTo<&TClearControl::OnMouseDown>},
      {"OnClick", ConnectTo<&TClearControl::OnClick>},
      {"OnMouseUp", ConnectTo<&TClearControl::OnMouseUp>}};
  for (const auto& [name, connect] : handlers) {
    SCOPED_TRACE(name);
    Backdrop window;
    window.resize(120, 90);
    QPointer<TClearButton> button = new TClearButton(&window);
    MakePreviewButton(*button, 69, KeyCap(48, 36), QStringLiteral("[OK]"), 15);
    button->move(20, 20);
    button->SetHotTrack(true);
    connect(button, [&button] { delete button.data(); });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWindow* handle = window.windowHandle();
    const QPoint picture = button->mapTo(&window, QPoint(30, 30));
    QTest::mouseMove(handle, picture);
    QTest::mouseMove(handle, picture + QPoint(2, 1));
    QTest::mousePress(handle, Qt::LeftButton, {}, picture);
    QTest::mouseMove(handle, picture + QPoint(1, 1));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, picture + QPoint(1, 1));
    QTest::mouseMove(handle, QPoint(115, 85));
    QCoreApplication::processEvents();
    EXPECT_TRUE(button.isNull());
    const int presses = window.presses;
    QTest::mouseClick(handle, Qt::LeftButton, {}, picture);
    EXPECT_EQ(window.presses, presses + 1);  // the button's place is the window's now
  }
}

TEST(ClearButton, HotPressedAndDisabledColours) {
  QImage solid(20, 20, QImage::Format_RGB32);
  solid.fill(qRgb(100, 150, 200));
  TClearButton button;
  button.BeginUpdate();
  button.SetAutoSize(false);
  button.resize(40, 40);
  button.SetPicture(QPixmap::fromImage(solid));
  button.SetTransColor(Qt::black);
  button.SetColor(QColor(kRing));
  button.SetShadowColor(QColor(90, 90, 90));
  button.SetLightColor(Qt::white);
  button.EndUpdate();
  // Push style along row 15. Normal: face at 2, the picture at x 10-29; the
  // silhouette (x 10-30) in light at offsets -2..1 (x 8-31), the ring at
  // -1..1 (x 9-31), the shadow at 1..2 (x 11-32). Pressed: shadow at -1
  // (x 9-29), ring at 0..2 (x 10-32), the picture at x 11-30.
  const QRgb shadow = qRgb(90, 90, 90);
  ExpectColour(button.NormalImage(), Qt::white, {8, 15});
  ExpectColour(button.NormalImage(), kRing, {9, 15, 31, 15});
  ExpectColour(button.NormalImage(), shadow, {32, 15});
  ExpectColour(button.NormalImage(), kBlack, {7, 15, 33, 15});
  // Held: ring darkened by 32, shadow by 64, the face one lower and right.
  ExpectColour(button.PressedImage(), qRgb(26, 26, 26), {9, 15, 15, 9});
  ExpectColour(button.PressedImage(), qRgb(8, 58, 168), {10, 15, 32, 15});
  ExpectColour(button.PressedImage(), qRgb(100, 150, 200), {11, 15, 30, 15});
  ExpectColour(button.PressedImage(), kBlack, {8, 15, 33, 15});
  // Hot: face brightened by 128, ring by 64 (held at 255), shadow by 32.
  ExpectColour(button.HotImage(), qRgb(228, 255, 255), {15, 15});
  ExpectColour(button.HotImage(), qRgb(104, 154, 255), {9, 15});
  ExpectColour(button.HotImage(), qRgb(122, 122, 122), {32, 15});
  ExpectColour(button.HotImage(), Qt::white, {8, 15});
  // Disabled: grey, held between 128 and 192; the key stays the key.
  ExpectColour(button.DisabledImage(), qRgb(150, 150, 150), {15, 15});
  ExpectColour(button.DisabledImage(), qRgb(192, 192, 192), {8, 15});
  ExpectColour(button.DisabledImage(), qRgb(128, 128, 128), {9, 15, 32, 15});
  ExpectColour(button.DisabledImage(), kBlack, {1, 1});

  // A light colour equal to the key is brightened by 8, or darkened when
  // that is the key still.
  button.SetLightColor(Qt::black);
  ExpectColour(button.NormalImage(), qRgb(8, 8, 8), {8, 15});
  button.BeginUpdate();
  button.SetLightColor(Qt::white);
  button.SetTransColor(Qt::white);
  button.EndUpdate();
  ExpectColour(button.NormalImage(), qRgb(247, 247, 247), {8, 15});

  // The image style: nothing moves when held, no light and no shadow, but
  // the held ring is darker.
  button.BeginUpdate();
  button.SetTransColor(Qt::black);
  button.SetStyle(TClearControl::sbsImage);
  button.EndUpdate();
  ExpectColour(button.NormalImage(), kBlack, {8, 15, 32, 15});
  ExpectColour(button.NormalImage(), kRing, {9, 15, 30, 15});
  ExpectColour(button.PressedImage(), qRgb(8, 58, 168), {9, 15, 30, 15});
  ExpectColour(button.PressedImage(), qRgb(100, 150, 200), {10, 15, 29, 15});

  // A new picture brings its own key, its bottom-left pixel: a pixel of that
  // colour is not the picture's, and the ring grown into it shows there. A
  // key set after the picture fixes the picture's.
  const QRgb mark = qRgb(1, 2, 3);
  solid.setPixel(0, 19, mark);
  solid.setPixel(5, 5, mark);
  button.SetStyle(TClearControl::sbsPushBtn);
  button.SetPicture(QPixmap::fromImage(solid));
  EXPECT_EQ(button.TransparentColor(), QColor(mark));
  ExpectColour(button.NormalImage(), kRing, {10 + 5, 10 + 5});
  button.SetTransColor(Qt::black);
  ExpectColour(button.NormalImage(), mark, {10 + 5, 10 + 5, 10, 10 + 19});
}

// A panel whose size request fails, to see how the failure is reported.
class FailingPanel : public TClearPanel {
 public:
  using TClearPanel::TClearPanel;

 protected:
  void DoAutoSizeArrange(int, int) override { throw std::runtime_error("no room"); }
};

TEST(ClearControl, SizeRulesAndBurstsOfRegionRequests) {
  QWidget window;
  // Creating a control is not a change: it keeps its default size.
  EXPECT_EQ(TClearButton(&window).size(), QSize(260, 48));
  EXPECT_EQ(TClearPanel(&window).size(), QSize(260, 48));
  TClearButton button(&window);
  button.resize(400, 30);
  EXPECT_EQ(button.size(), QSize(320, 30));
  // Auto size: the picture plus margin and outline on every side.
  button.SetPicture(QPixmap::fromImage(KeyCap(48, 36)));
  EXPECT_EQ(button.size(), QSize(48 + 8, 36 + 8));

  // A panel has no maximum and grows to take in its children.
  TClearPanel panel(&window);
  panel.resize(400, 30);
  EXPECT_EQ(panel.size(), QSize(400, 30));
  QWidget child(&panel);
  child.setGeometry(50, 60, 30, 20);
  panel.SetPicture(QPixmap::fromImage(KeyCap(20, 20)));
  EXPECT_EQ(panel.size(), QSize(80, 80));

  FailingPanel failing(&window);
  try {
    failing.SetCaption(QStringLiteral("x"));
    ADD_FAILURE() << "no failure raised";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "no room at AutoSizeArrange");
  }

  // Requests are applied once per burst: the one application tells the
  // parent panel once, not once per request.
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  TClearButton inner(&panel);
  inner.SetPicture(QPixmap::fromImage(KeyCap(20, 20)));
  inner.show();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  struct Counter : QObject {
    int requests = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == static_cast<QEvent::Type>(TClearControl::UpdateRgnEvent)) ++requests;
      return false;
    }
  } counter;
  panel.installEventFilter(&counter);
  for (int i = 0; i < 5; ++i) inner.UpdateRgn();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.requests, 1);
  // The panel's shape takes in the child's shape where it sits.
  EXPECT_TRUE(panel.mask().contains(inner.pos() + QPoint(12, 12)));
  EXPECT_FALSE(panel.mask().contains(inner.pos()));
}

// A child that paints only a small square of its area.
class Dot : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(4, 4, 3, 3, Qt::red); }
};

TEST(ClearPanel, DragsItsParentAndShapesTheWindow) {
  QWidget window;
  window.resize(200, 150);
  QWidget holder(&window);
  holder.setGeometry(10, 10, 150, 120);
  TClearPanel panel(&holder);
  panel.SetAutoSize(false);
  panel.setGeometry(5, 5, 100, 80);
  panel.SetPicture(QPixmap::fromImage(KeyCap(40, 30)));
  panel.SetParentDrag(true);
  // Only what a child without a shape of its own paints joins the panel's shape.
  Dot dot(&panel);
  dot.setGeometry(70, 50, 12, 12);
  panel.SetChildGraphicsTrans(true);
  panel.SetFormTrans(true);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();

  // The window takes the panel's shape where the panel sits in it.
  const QPoint offset = panel.mapTo(&window, QPoint(0, 0));
  EXPECT_EQ(window.mask(), panel.mask().translated(offset));
  EXPECT_TRUE(window.mask().contains(offset + QPoint(50, 40)));
  EXPECT_FALSE(window.mask().contains(offset + QPoint(30 + 2, 25 + 2)));  // a see-through corner
  EXPECT_TRUE(panel.mask().contains(QPoint(70 + 4, 50 + 4)));
  EXPECT_FALSE(panel.mask().contains(QPoint(70 + 8, 50 + 8)));
  EXPECT_FALSE(panel.mask().contains(QPoint(70, 50 + 11)));
  panel.SetFormTrans(false);
  EXPECT_TRUE(window.mask().isEmpty());

  // Dragging moves the parent with the pointer; the panel stays where it is in it.
  QWindow* handle = window.windowHandle();
  const QPoint grab = offset + QPoint(50, 40);
  const QPoint windowPos = window.pos();
  QTest::mousePress(handle, Qt::LeftButton, {}, grab);
  QTest::mouseMove(handle, grab + QPoint(7, 3));
  QTest::mouseMove(handle, grab + QPoint(12, 9));
  QTest::mouseRelease(handle, Qt::LeftButton, {}, grab + QPoint(12, 9));
  EXPECT_EQ(holder.pos(), QPoint(10 + 12, 10 + 9));
  EXPECT_EQ(panel.pos(), QPoint(5, 5));
  EXPECT_EQ(window.pos(), windowPos);
}

}  // namespace
