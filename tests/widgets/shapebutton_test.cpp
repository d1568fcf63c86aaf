#include "widgets/shapebutton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/pixels.h"
#include "ui_shapebuttonform.h"

namespace {

const QColor kPaleYellow(255, 255, 128);
const QColor kUp(255, 255, 200);
const QColor kYellow(255, 255, 0);
const QColor kOrange(255, 128, 0);
const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);
// Fills of the states the settings window paints white, told apart here.
const QColor kDisabledFill(240, 240, 240);
const QColor kDownFill(255, 200, 255);
const QColor kHoverFill(200, 255, 255);

// A button set up as the settings window sets its choice buttons.
TShapeButton* Button(QWidget* parent, QRect geometry, int group, const QString& caption = {}) {
  auto* b = new TShapeButton(parent);
  b->setGeometry(geometry);
  b->SetCaption(caption);
  b->SetColor(kPaleYellow);
  b->SetColors({kDisabledFill, kDownFill, kHoverFill, kYellow, kUp});
  b->SetShapeShape(TShapeButton::stRoundRect);
  b->SetShapeBevelColor(kOrange);
  b->SetShapeShadowColor(kSilver);
  b->SetShapeShadowDepth(4);
  b->SetFontColor(kGrey);
  b->SetEnterColor(Qt::black);
  b->SetEnterColorChange(true);
  b->SetMouseOver(true);
  b->SetGroupIndex(group);
  b->SetAllowAllUp(group != 0);
  QFont font = b->font();
  font.setPixelSize(16);
  font.setBold(true);
  font.setStyleStrategy(QFont::NoAntialias);
  b->setFont(font);
  return b;
}

void Show(QWidget& window) {
  window.resize(300, 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

QPoint Centre(const TShapeButton* b) { return QPoint(b->width() / 3, b->height() / 3); }

void Click(TShapeButton* b) { QTest::mouseClick(b, Qt::LeftButton, {}, Centre(b)); }

bool Shows(const QImage& image, const QColor& colour) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == colour) return true;
  return false;
}

QRect Exclusive(int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r - 1, b - 1)); }

// Runs the event loop until the condition holds, for at most two seconds.
template <typename F>
bool WaitFor(F&& condition) {
  for (int i = 0; i < 100 && !condition(); ++i) QTest::qWait(20);
  return condition();
}

void Send(QWidget* widget, QEvent::Type type) {
  if (type == QEvent::Enter) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(widget, &enter);
  } else {
    QEvent leave(type);
    QApplication::sendEvent(widget, &leave);
  }
}

}  // namespace

TEST(ShapeButton, OutlineCornersAndCaptionRectangleFollowSizeDepthAndState) {
  TButtonShape shape;
  shape.Shape = TShapeButton::stRoundRect;
  shape.Shadow.Depth = 4;
  const auto p = TShapeButton::ShapePoints(50, 22, shape);
  EXPECT_EQ(p[0], QPoint(4, 4));
  EXPECT_EQ(p[1], QPoint(50, 22));
  EXPECT_EQ(p[2], QPoint(5, 5));  // min(46, 18) * 33 div 100
  EXPECT_EQ(p[3], QPoint(5, 5));
  EXPECT_EQ(p[5], QPoint(9, 9));
  EXPECT_EQ(TShapeButton::ShapePoints(90, 30, shape)[2], QPoint(8, 8));
  shape.Shadow.Style = TShapeButton::hssNone;  // no shadow: the shape starts at 0
  EXPECT_EQ(TShapeButton::ShapePoints(50, 22, shape)[0], QPoint(0, 0));
  shape.Shadow.Style = TShapeButton::hssSolid;
  shape.Square = true;  // narrowed by (46 - 18) div 2 at each end
  EXPECT_EQ(TShapeButton::ShapePoints(50, 22, shape)[0], QPoint(18, 4));
  EXPECT_EQ(TShapeButton::ShapePoints(50, 22, shape)[1], QPoint(36, 22));

  // Uncoloured, the rectangle around the shape shows the window colour
  // (white in the usual palettes), not the grey of dialogs and buttons.
  TShapeButton plain;
  EXPECT_EQ(plain.size(), QSize(25, 25));
  EXPECT_EQ(plain.grab().toImage().pixelColor(24, 0), plain.palette().color(QPalette::Base));

  QWidget window;
  TShapeButton* b = Button(&window, QRect(0, 0, 50, 22), 1);
  EXPECT_EQ(b->CaptionRect(), Exclusive(3, 3, 41, 13));
  // The cached outline follows the size and the shape settings.
  b->resize(18, 18);  // hidden: Qt holds the resize event back until shown
  EXPECT_EQ(b->Points()[1], QPoint(18, 18));
  b->SetShapeShadowDepth(3);
  EXPECT_EQ(b->Points()[0], QPoint(3, 3));
  EXPECT_EQ(b->Points()[2], QPoint(4, 4));  // min(15, 15) * 33 div 100
  b->resize(50, 22);
  b->SetShapeShadowDepth(4);
  // Resized while shown: the hit test and the drawing take the new size.
  Show(window);
  b->resize(60, 30);
  QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(50, 20));  // past the old body's corner
  EXPECT_TRUE(b->Pressed());
  ExpectColour(b->grab().toImage(), kOrange, {59, 15, 30, 29});
  b->SetPressed(false);
  b->resize(50, 22);

  // Released: shadow (4,4)-(50,22) under the body (1,1)-(46,18); above the
  // shadow, left of it and at its rounded corner the button's colour.
  const QImage up = b->grab().toImage();
  ExpectColour(up, kUp, {20, 9});
  ExpectColour(up, kOrange, {45, 11, 20, 17});
  ExpectColour(up, kSilver, {46, 11, 49, 11, 20, 18, 20, 21});
  ExpectColour(up, kPaleYellow, {49, 2, 2, 20, 49, 21});

  // Pressed toggle: no shadow, body (5,5)-(50,22), caption moved by the depth.
  b->SetPressed(true);
  EXPECT_EQ(b->State(), TShapeButton::bsOptionSet);
  EXPECT_EQ(b->CaptionRect(), Exclusive(7, 7, 45, 17));
  const QImage down = b->grab().toImage();
  EXPECT_FALSE(Shows(down, kSilver));
  ExpectColour(down, kYellow, {25, 12});
  ExpectColour(down, kOrange, {49, 11, 25, 21});
  ExpectColour(down, kPaleYellow, {2, 11, 25, 2});

  // Disabled while pressed: the disabled fill, no shadow, the body moved,
  // but the caption left in place.
  b->setEnabled(false);
  EXPECT_EQ(b->State(), TShapeButton::bsDisabledDown);
  EXPECT_EQ(b->CaptionRect(), Exclusive(3, 3, 41, 13));
  const QImage disabled = b->grab().toImage();
  EXPECT_FALSE(Shows(disabled, kSilver));
  ExpectColour(disabled, kDisabledFill, {25, 12});
  ExpectColour(disabled, kOrange, {49, 11});
  b->setEnabled(true);
  EXPECT_EQ(b->State(), TShapeButton::bsOptionSet);
}

TEST(ShapeButton, GroupsToggleByClicksAndFromCodePerParent) {
  QWidget window;
  TShapeButton* a = Button(&window, QRect(10, 10, 50, 22), 1);
  TShapeButton* b = Button(&window, QRect(70, 10, 50, 22), 1);
  TShapeButton* c = Button(&window, QRect(130, 10, 50, 22), 1);
  QWidget other(&window);  // a second parent with the same group number
  other.setGeometry(0, 100, 300, 50);
  TShapeButton* x = Button(&other, QRect(10, 10, 50, 22), 1);
  Show(window);
  QSignalSpy clicks(a, &TShapeButton::OnClick);

  x->SetPressed(true);
  Click(a);
  EXPECT_TRUE(a->Pressed());
  EXPECT_EQ(a->State(), TShapeButton::bsOptionSet);
  EXPECT_EQ(clicks.count(), 1);
  Click(b);
  EXPECT_TRUE(b->Pressed());
  EXPECT_FALSE(a->Pressed());
  EXPECT_EQ(a->State(), TShapeButton::bsUp);
  Click(b);  // all up allowed: released again
  EXPECT_FALSE(a->Pressed() || b->Pressed() || c->Pressed());
  EXPECT_TRUE(x->Pressed());

  // Switching all-up off on one button switches it off for the group.
  a->SetAllowAllUp(false);
  EXPECT_FALSE(b->AllowAllUp());
  EXPECT_FALSE(c->AllowAllUp());
  EXPECT_TRUE(x->AllowAllUp());
  Click(c);
  EXPECT_TRUE(c->Pressed());
  QSignalSpy cClicks(c, &TShapeButton::OnClick);
  Click(c);  // the pressed toggle cannot be released
  EXPECT_TRUE(c->Pressed());
  EXPECT_EQ(c->State(), TShapeButton::bsOptionSet);
  EXPECT_EQ(cClicks.count(), 0);
  c->SetPressed(false);
  EXPECT_TRUE(c->Pressed());

  // From code: the later one wins.
  a->SetPressed(true);
  b->SetPressed(true);
  EXPECT_FALSE(a->Pressed() || c->Pressed());
  EXPECT_TRUE(b->Pressed());
  EXPECT_TRUE(x->Pressed());

  // A push button can never be pressed.
  TShapeButton* push = Button(&window, QRect(10, 50, 50, 22), 0);
  push->SetPressed(true);
  EXPECT_FALSE(push->Pressed());
}

// The smallest rectangle holding every pixel of the colour.
QRect Ink(const QImage& image, const QColor& colour) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) == colour) box |= QRect(x, y, 1, 1);
  return box;
}

// Driven through the window as a pointer drives it, so enter and leave come
// as they would.
TEST(ShapeButton, PushButtonHoversGoesDownAndNeverStaysPressed) {
  QWidget window;
  TShapeButton* b = Button(&window, QRect(10, 10, 90, 30), 0, "WW");
  Show(window);
  QWindow* handle = window.windowHandle();
  const QPoint centre = b->mapTo(&window, Centre(b));
  const QPoint away(200, 150);
  QSignalSpy clicks(b, &TShapeButton::OnClick);
  const QImage up = b->grab().toImage();
  const QRect caption = Ink(up, kGrey);
  ASSERT_FALSE(caption.isEmpty());

  QTest::mouseMove(handle, centre);
  EXPECT_EQ(b->State(), TShapeButton::bsMouseOver);
  const QImage hover = b->grab().toImage();
  ExpectColour(hover, kHoverFill, {20, 6});
  EXPECT_EQ(Ink(hover, Qt::black), caption);  // the enter colour, in place
  EXPECT_TRUE(Shows(hover, kSilver));

  // Held: the down fill, no shadow, the body and the caption moved by the depth.
  QTest::mousePress(handle, Qt::LeftButton, {}, centre);
  EXPECT_EQ(b->State(), TShapeButton::bsDown);
  EXPECT_EQ(clicks.count(), 0);  // not repeated: the release clicks
  const QImage held = b->grab().toImage();
  EXPECT_FALSE(Shows(held, kSilver));
  ExpectColour(held, kDownFill, {24, 10, 48, 25});
  ExpectColour(held, kOrange, {89, 20, 48, 29, 20, 5});
  ExpectColour(held, kPaleYellow, {2, 20, 48, 3});
  EXPECT_EQ(Ink(held, Qt::black), caption.translated(4, 4));

  // Dragged off while held: the released look; back on, held again.
  QTest::mouseMove(handle, away);
  EXPECT_EQ(b->State(), TShapeButton::bsUp);
  EXPECT_EQ(b->grab().toImage(), up);
  QTest::mouseMove(handle, centre);
  EXPECT_EQ(b->State(), TShapeButton::bsDown);
  QTest::mouseRelease(handle, Qt::LeftButton, {}, centre);
  EXPECT_EQ(b->State(), TShapeButton::bsMouseOver);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_FALSE(b->Pressed());
  // Leaving after the click goes back to the state before the hover, not to
  // the held one.
  QTest::mouseMove(handle, away);
  EXPECT_EQ(b->State(), TShapeButton::bsUp);
  EXPECT_EQ(b->grab().toImage(), up);

  // Released off the button: no click.
  QTest::mouseMove(handle, centre);
  QTest::mousePress(handle, Qt::LeftButton, {}, centre);
  QTest::mouseMove(handle, away);
  QTest::mouseRelease(handle, Qt::LeftButton, {}, away);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(b->State(), TShapeButton::bsUp);

  // Disabled while held: the disabled released look with its shadow and the
  // caption in place; the release that follows clicks nothing.
  QTest::mouseMove(handle, centre);
  QTest::mousePress(handle, Qt::LeftButton, {}, centre);
  b->setEnabled(false);
  EXPECT_EQ(b->State(), TShapeButton::bsDisabledUp);
  const QImage disabled = b->grab().toImage();
  ExpectColour(disabled, kDisabledFill, {20, 6});
  ExpectColour(disabled, kSilver, {88, 20});
  QTest::mouseRelease(handle, Qt::LeftButton, {}, centre);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(b->State(), TShapeButton::bsDisabledUp);

  // A double click is two presses: two clicks, and no double click on a
  // button that is never pressed.
  b->setEnabled(true);
  QSignalSpy doubles(b, &TShapeButton::OnDblClick);
  QTest::mouseDClick(handle, Qt::LeftButton, {}, centre);
  EXPECT_EQ(clicks.count(), 3);
  EXPECT_EQ(doubles.count(), 0);
}

TEST(ShapeButton, CornersAndShadowStripAreNotTheButton) {
  QWidget window;
  TShapeButton* toggle = Button(&window, QRect(10, 10, 50, 22), 1);
  TShapeButton* push = Button(&window, QRect(10, 50, 50, 22), 0);
  Show(window);
  QSignalSpy clicks(push, &TShapeButton::OnClick);

  // The hit region is the body's released place (0,0)-(46,18), rounded:
  // not its corners, not the shadow strip right and below it.
  // (QTest takes the point (0, 0) for the widget's centre.)
  const std::pair<QPoint, bool> probes[] = {{{45, 17}, false}, {{45, 0}, false},  {{0, 17}, false},
                                            {{48, 20}, false}, {{47, 10}, false}, {{20, 19}, false},
                                            {{46, 9}, false},  {{20, 18}, false}, {{45, 9}, true},
                                            {{20, 17}, true},  {{0, 9}, true},    {{20, 0}, true}};
  for (const auto& [at, hit] : probes) {
    SCOPED_TRACE(std::to_string(at.x()) + "," + std::to_string(at.y()));
    const qsizetype before = clicks.count();
    QTest::mouseClick(push, Qt::LeftButton, {}, at);
    EXPECT_EQ(clicks.count() - before, hit ? 1 : 0);
    QTest::mouseClick(toggle, Qt::LeftButton, {}, at);
    EXPECT_FALSE(toggle->Tracking());
    EXPECT_EQ(toggle->Pressed(), hit);
    toggle->SetPressed(false);
  }
  clicks.clear();

  // Pressed inside, released in a corner: a release outside.
  QTest::mousePress(toggle, Qt::LeftButton, {}, QPoint(20, 9));
  EXPECT_EQ(toggle->State(), TShapeButton::bsDown);
  QTest::mouseRelease(toggle, Qt::LeftButton, {}, QPoint(0, 17));
  EXPECT_FALSE(toggle->Pressed());
  QTest::mousePress(push, Qt::LeftButton, {}, QPoint(20, 9));
  QTest::mouseRelease(push, Qt::LeftButton, {}, QPoint(45, 17));
  EXPECT_EQ(clicks.count(), 0);

  // Without a shadow the body fills the rectangle, and all of it is hit.
  push->SetShapeShadowStyle(TShapeButton::hssNone);
  const QImage flat = push->grab().toImage();
  EXPECT_EQ(flat.pixelColor(47, 10), kUp);
  QTest::mouseClick(push, Qt::LeftButton, {}, QPoint(47, 10));
  EXPECT_EQ(clicks.count(), 1);

  // Without the shape test the whole rectangle counts.
  toggle->SetAllowTransparency(false);
  QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(49, 21));
  EXPECT_TRUE(toggle->Pressed());
}

TEST(ShapeButton, RepeatedClickFiresOnPressThenAfterTheDelayThenEveryInterval) {
  QWidget window;
  TShapeButton* b = Button(&window, QRect(10, 10, 90, 30), 0);
  b->SetRepeatedClick(true);
  Show(window);
  QElapsedTimer clock;
  std::vector<qint64> at;
  QObject::connect(b, &TShapeButton::OnClick, [&] { at.push_back(clock.elapsed()); });

  // Held over the button.
  QTest::mouseMove(b, Centre(b));
  clock.start();
  QTest::mousePress(b, Qt::LeftButton, {}, Centre(b));
  ASSERT_EQ(at.size(), 1u);  // on the press
  // Waits for the repetitions rather than a fixed time: a loaded machine
  // may run the timer late, never early.
  ASSERT_TRUE(QTest::qWaitFor([&] { return at.size() >= 3; }, 5000)) << "no repetitions while held";
  QTest::mouseRelease(b, Qt::LeftButton, {}, Centre(b));
  const qint64 held = clock.elapsed();
  EXPECT_GE(at[1], 500);
  for (size_t i = 2; i < at.size(); ++i) EXPECT_GE(at[i] - at[i - 1], 99) << i;
  EXPECT_LE(static_cast<qint64>(at.size()), 2 + (held - 500) / 100);
  const size_t afterRelease = at.size();
  QTest::qWait(250);
  EXPECT_EQ(at.size(), afterRelease);  // the release stopped the timer

  // Held but moved off: no repetitions, and no click at the release.
  at.clear();
  clock.restart();
  QTest::mousePress(b, Qt::LeftButton, {}, Centre(b));
  QTest::mouseMove(b, QPoint(200, 25));
  QTest::qWait(700);
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(200, 25));
  EXPECT_EQ(at.size(), 1u);

  // A quick click fires exactly once.
  at.clear();
  QTest::mouseMove(b, Centre(b));
  Click(b);
  QTest::qWait(50);
  EXPECT_EQ(at.size(), 1u);

  // Disabled while held over it: a disabled widget gets no release, so the
  // repetitions end with the press.
  at.clear();
  QTest::mousePress(b, Qt::LeftButton, {}, Centre(b));
  b->setEnabled(false);
  QTest::qWait(650);
  EXPECT_EQ(at.size(), 1u);
  EXPECT_FALSE(b->Tracking());
}

TEST(ShapeButton, CaptionTakesEnterColourWhenPressedOrHovered) {
  QWidget window;
  TShapeButton* b = Button(&window, QRect(10, 10, 90, 30), 1, "WW");
  Show(window);
  const QImage up = b->grab().toImage();
  EXPECT_TRUE(Shows(up, kGrey));
  EXPECT_FALSE(Shows(up, Qt::black));
  b->SetPressed(true);  // pointer elsewhere
  const QImage pressed = b->grab().toImage();
  EXPECT_TRUE(Shows(pressed, Qt::black));
  EXPECT_FALSE(Shows(pressed, kGrey));
  b->SetEnterColorChange(false);
  EXPECT_FALSE(Shows(b->grab().toImage(), Qt::black));
}

TEST(ShapeButton, AcceleratorTogglesOrClicksAndDoubleClickReportsPressed) {
  QWidget window;
  TShapeButton* toggle = Button(&window, QRect(10, 10, 50, 22), 1, "&L");
  TShapeButton* push = Button(&window, QRect(10, 50, 90, 30), 0, "&OK");
  Show(window);
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QSignalSpy toggleClicks(toggle, &TShapeButton::OnClick);
  QSignalSpy pushClicks(push, &TShapeButton::OnClick);

  QTest::keyClick(&window, Qt::Key_L, Qt::AltModifier);
  EXPECT_TRUE(toggle->Pressed());
  EXPECT_EQ(toggleClicks.count(), 1);
  const QImage set = toggle->grab().toImage();  // the pressed look at once
  EXPECT_FALSE(Shows(set, kSilver));
  ExpectColour(set, kYellow, {25, 12});
  QTest::keyClick(&window, Qt::Key_L, Qt::AltModifier);  // all up allowed
  EXPECT_FALSE(toggle->Pressed());
  EXPECT_EQ(toggleClicks.count(), 1);

  QCursor::setPos(window.mapToGlobal(QPoint(250, 180)));
  QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
  EXPECT_EQ(pushClicks.count(), 1);
  EXPECT_FALSE(push->Pressed());
  // It took the hover look; the hover check takes it away again, as the
  // pointer is elsewhere.
  EXPECT_EQ(push->State(), TShapeButton::bsMouseOver);
  ExpectColour(push->grab().toImage(), kHoverFill, {20, 6});
  EXPECT_TRUE(WaitFor([&] { return push->State() == TShapeButton::bsUp; }));
  push->setEnabled(false);
  QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
  EXPECT_EQ(pushClicks.count(), 1);

  // A double click on a released toggle: the first click presses it, the
  // second press finds it pressed.
  QSignalSpy doubles(toggle, &TShapeButton::OnDblClick);
  QTest::mouseClick(toggle, Qt::LeftButton, {}, Centre(toggle));
  QTest::mouseDClick(toggle, Qt::LeftButton, {}, Centre(toggle));
  QTest::mouseRelease(toggle, Qt::LeftButton, {}, Centre(toggle));
  EXPECT_EQ(doubles.count(), 1);
}

// Connects a handler that takes none of the signal's arguments.
template <auto Signal>
void ConnectTo(TShapeButton* button, const std::function<void()>& handler) {
  QObject::connect(button, Signal, handler);
}

// Whichever handler a double click or the accelerator reaches first deletes
// the button, as OK and Cancel close their window; nothing touches the
// button afterwards (a use after free shows under AddressSanitizer). A
// repeating button clicks on the press, the double click's second press too.
// (Qt's own enter and leave events cannot delete: Qt touches the widget
// after delivering them.)
TEST(ShapeButton, AnyHandlerMayDeleteTheButton) {
  using Connect = void (*)(TShapeButton*, const std::function<void()>&);
  struct Case {
    const char* name;
    Connect connect;
    bool repeated = false, key = false;
  };
  const Case cases[] = {{"OnMouseEnter", ConnectTo<&TShapeButton::OnMouseEnter>},
                        {"OnMouseMove", ConnectTo<&TShapeButton::OnMouseMove>},
                        {"OnMouseDown", ConnectTo<&TShapeButton::OnMouseDown>},
                        {"OnMouseUp", ConnectTo<&TShapeButton::OnMouseUp>},
                        {"OnClick", ConnectTo<&TShapeButton::OnClick>},
                        {"OnClick, repeated", ConnectTo<&TShapeButton::OnClick>, true},
                        {"OnClick, accelerator", ConnectTo<&TShapeButton::OnClick>, false, true},
                        {"OnDblClick", ConnectTo<&TShapeButton::OnDblClick>}};
  for (const Case& c : cases) {
    for (const bool grouped : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (grouped ? ", grouped" : ", push"));
      QWidget window;
      QPointer<TShapeButton> b = Button(&window, QRect(10, 10, 90, 30), grouped ? 1 : 0, "&OK");
      b->SetRepeatedClick(c.repeated);
      c.connect(b, [&b] { delete b.data(); });
      Show(window);
      window.activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
      QWindow* handle = window.windowHandle();
      const QPoint inside(30, 20);
      if (c.key) QTest::keyClick(&window, Qt::Key_O, Qt::AltModifier);
      QTest::mouseMove(handle, inside);
      QTest::mouseMove(handle, inside + QPoint(1, 1));
      QTest::mouseDClick(handle, Qt::LeftButton, {}, inside);
      // Back in after leaving: the shape reports the entry on the move.
      QTest::mouseMove(handle, QPoint(250, 150));
      QTest::mouseMove(handle, inside);
      QCoreApplication::processEvents();
      // A push button is never pressed, so it has no double click.
      EXPECT_EQ(b.isNull(), grouped || std::string(c.name) != "OnDblClick");
    }
  }
}

TEST(ShapeButton, PointerEnteringAndLeavingTheRectangleOrTheShape) {
  QWidget window;
  TShapeButton* b = Button(&window, QRect(10, 10, 50, 22), 1);
  TShapeButton* shaped = Button(&window, QRect(10, 50, 50, 22), 1);
  b->SetAllowTransparency(false);
  Show(window);
  QSignalSpy entered(b, &TShapeButton::OnMouseEnter);

  // Without the shape test the rectangle's enter and leave decide.
  Send(b, QEvent::Enter);
  EXPECT_EQ(b->State(), TShapeButton::bsMouseOver);
  EXPECT_TRUE(b->MouseOver());
  EXPECT_EQ(entered.count(), 1);
  Send(b, QEvent::Leave);
  EXPECT_EQ(b->State(), TShapeButton::bsUp);
  EXPECT_FALSE(b->MouseOver());
  // A move inside after leaving counts as entering.
  QTest::mouseMove(b, QPoint(25, 10));
  EXPECT_EQ(b->State(), TShapeButton::bsMouseOver);
  EXPECT_EQ(entered.count(), 2);
  Send(b, QEvent::Leave);

  // With it, entering the rectangle alone changes nothing; the shape does.
  Send(shaped, QEvent::Enter);
  EXPECT_EQ(shaped->State(), TShapeButton::bsUp);
  QTest::mouseMove(shaped, QPoint(48, 20));  // the shadow strip
  EXPECT_EQ(shaped->State(), TShapeButton::bsUp);
  QTest::mouseMove(shaped, QPoint(20, 9));
  EXPECT_EQ(shaped->State(), TShapeButton::bsMouseOver);
  QTest::mouseMove(shaped, QPoint(48, 20));
  EXPECT_EQ(shaped->State(), TShapeButton::bsUp);

  // A pressed toggle keeps its look while hovered.
  b->SetPressed(true);
  QTest::mouseMove(b, QPoint(25, 10));
  EXPECT_EQ(b->State(), TShapeButton::bsOptionSet);
}

TEST(ShapeButton, FormDescriptionSetsEveryKindOfProperty) {
  QWidget form;
  Ui::ShapeButtonForm ui;
  ui.setupUi(&form);
  TShapeButton* b = ui.ShapeButton1_1;
  EXPECT_EQ(b->Caption(), "L");
  EXPECT_EQ(b->GroupIndex(), 1);
  EXPECT_FALSE(b->AllowTransparency());
  EXPECT_TRUE(b->RepeatedClick());
  EXPECT_EQ(b->ButtonLayoutAlignment(), TShapeButton::agTopCenter);
  EXPECT_EQ(b->Colors().Up, QColor(255, 255, 200));
  EXPECT_EQ(b->Shape().Shape, TShapeButton::stRoundRect);
  EXPECT_EQ(b->Shape().Shadow.Style, TShapeButton::hssTracing);
  EXPECT_EQ(b->Shape().Shadow.Depth, 3);
  // A button joining a group hands its AllowAllUp to the others, so every
  // button of a group carries the group's value.
  EXPECT_TRUE(b->AllowAllUp());
  EXPECT_TRUE(ui.ShapeButton1_2->AllowAllUp());
  ui.ShapeButton1_2->SetGroupIndex(0);
  ui.ShapeButton1_2->SetAllowAllUp(false);
  ui.ShapeButton1_2->SetGroupIndex(1);
  EXPECT_FALSE(b->AllowAllUp());
  EXPECT_FALSE(ui.Rgn1->AutoSize());
}
