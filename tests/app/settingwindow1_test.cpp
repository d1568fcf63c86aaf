#include "app/settingwindow1.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>
#include <functional>

#include "app/mainwindow1.h"
#include "app/settingsstore.h"
#include "support/files.h"
#include "support/tempconfig.h"
#include "support/tempfolder.h"
#include "widgets/region.h"
#include "widgets/shapebutton.h"

namespace {

constexpr const char* kInitialText = "(ここに文字を入力)";

// A window over a fresh settings file, shown as the user sees it.
class SettingWindowTest : public ::testing::Test {
 protected:
  // Stores one chosen button per group (0: none) and the text.
  void Store(const std::array<int, 6>& chosen, const std::string& text) {
    PunchSettings stored;
    for (int group = 1; group <= 6; ++group)
      if (chosen[group - 1] != 0) stored.SetPressed(group, chosen[group - 1], true);
    stored.imprintText = text;
    SavePunchSettings(stored);
  }
  // What the key file holds: the pressed button of each group and the text.
  using Choices = std::pair<std::array<int, 6>, std::string>;
  static Choices Stored() {
    PunchSettings stored;
    LoadPunchSettings(stored);
    Choices choices{{}, stored.imprintText};
    for (int group = 1; group <= 6; ++group) choices.first[group - 1] = stored.PressedButton(group);
    return choices;
  }
  std::string File() const { return ReadBytes(config.KeyFile()); }

  std::unique_ptr<TSettingForm1> Open() {
    auto window = std::make_unique<TSettingForm1>(record);
    window->show();
    return window;
  }
  static bool WaitForLoad(TSettingForm1& window) {
    return QTest::qWaitFor([&] { return window.Loaded(); }, 3000);
  }
  std::unique_ptr<TSettingForm1> OpenLoaded() {
    auto window = Open();
    EXPECT_TRUE(WaitForLoad(*window));
    return window;
  }
  static std::array<int, 6> PressedButtons(const TSettingForm1& window) {
    std::array<int, 6> pressed{};
    for (const PunchSettings::Button& button : PunchSettings::StoreOrder())
      if (window.GroupButton(button.group, button.number)->Pressed())
        pressed[button.group - 1] = button.number;
    return pressed;
  }
  static void Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton, {},
                      QPoint(widget->width() / 3, widget->height() / 3));
  }
  static QLineEdit* Edit1(const TSettingForm1& window) {
    return window.findChild<QLineEdit*>(QStringLiteral("Edit1"));
  }
  // Replaces the text in Edit1 by typing and confirms it with Enter there.
  static void TypeAndEnter(TSettingForm1& window, const QString& text) {
    Edit1(window)->clear();
    QTest::keyClicks(Edit1(window), text);
    QTest::keyClick(Edit1(window), Qt::Key_Return);
    EXPECT_FALSE(window.isVisible());
  }
  static QWidget* Control(const TSettingForm1& window, const char* name) {
    return window.findChild<QWidget*>(QString::fromLatin1(name));
  }

  TempConfigHome config;
  PunchSettings record;
};

TEST_F(SettingWindowTest, LayoutFollowsTheDesign) {
  struct Row {
    const char* name;
    QRect geometry;
    const char* text;
    int group;  // group buttons only
  };
  // In creation order: later controls are drawn over earlier ones.
  const Row rows[] = {
      {"Rgn1", {0, 0, 270, 320}, nullptr, -1},
      {"Shape6", {48, 96, 146, 36}, nullptr, -1},
      {"Shape5", {36, 236, 221, 40}, nullptr, -1},
      {"Label5", {44, 232, 54, 11}, " 文字焼き ", -1},
      {"Shape4", {36, 184, 221, 44}, nullptr, -1},
      {"Label4", {44, 180, 44, 11}, " 枠の色 ", -1},
      {"Shape3", {92, 140, 146, 36}, nullptr, -1},
      {"Label3", {100, 136, 78, 11}, " パンチ背景色 ", -1},
      {"Shape2", {48, 52, 146, 36}, nullptr, -1},
      {"Label1", {60, 48, 66, 11}, " パンチ形状 ", -1},
      {"Shape1", {40, 8, 181, 36}, nullptr, -1},
      {"Label2", {48, 4, 76, 11}, " パンチサイズ ", -1},
      {"ShapeButton1_1", {48, 16, 50, 22}, "L", 1},
      {"ShapeButton1_2", {104, 16, 50, 22}, "M", 1},
      {"ShapeButton1_3", {160, 16, 50, 22}, "S", 1},
      {"ShapeButton2_1", {56, 60, 60, 22}, "そのまま", 2},
      {"ShapeButton2_2", {124, 60, 60, 22}, "正方形", 2},
      {"ShapeButton3_1", {100, 148, 60, 22}, "白", 3},
      {"ShapeButton3_2", {168, 148, 60, 22}, "黒", 3},
      {"ShapeButton4_1", {44, 194, 36, 22}, "なし", 4},
      {"ShapeButton4_2", {84, 188, 18, 18}, "", 4},
      {"ShapeButton4_4", {116, 188, 18, 18}, "", 4},
      {"ShapeButton4_6", {148, 188, 18, 18}, "", 4},
      {"ShapeButton4_8", {180, 188, 18, 18}, "", 4},
      {"ShapeButton4_10", {212, 188, 18, 18}, "", 4},
      {"ShapeButton4_3", {100, 206, 18, 18}, "", 4},
      {"ShapeButton4_5", {132, 206, 18, 18}, "", 4},
      {"ShapeButton4_7", {164, 206, 18, 18}, "", 4},
      {"ShapeButton4_9", {196, 206, 18, 18}, "", 4},
      {"ShapeButton4_11", {228, 206, 18, 18}, "", 4},
      {"ShapeButton5_1", {44, 244, 36, 22}, "なし", 5},
      {"ShapeButton5_2", {84, 244, 36, 22}, "あり", 5},
      {"ShapeButton0_1", {52, 282, 90, 30}, "OK", 0},
      {"ShapeButton0_2", {152, 282, 90, 30}, "ｷｬﾝｾﾙ", 0},
      {"Label6", {56, 92, 56, 11}, " 角丸加工 ", -1},
      {"ShapeButton6_1", {56, 104, 60, 22}, "なし", 6},
      {"ShapeButton6_2", {124, 104, 60, 22}, "あり", 6},
      {"ShapeButton0", {232, 4, 32, 18}, "Info.", 0},
      {"Edit1", {124, 246, 121, 19}, kInitialText, -1},
  };
  TSettingForm1 window(record);
  EXPECT_EQ(window.size(), QSize(270, 320));
  EXPECT_EQ(window.windowTitle(), "設定");
  EXPECT_TRUE(window.windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint));

  std::vector<QString> order;
  for (QObject* child : window.children())
    if (child->isWidgetType()) order.push_back(child->objectName());
  ASSERT_EQ(order.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(order[i], row.name);
    QWidget* control = Control(window, row.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->geometry(), row.geometry);
    if (auto* label = qobject_cast<QLabel*>(control)) {
      EXPECT_EQ(label->text(), row.text);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
      EXPECT_EQ(edit->text(), row.text);
    }
    if (auto* button = qobject_cast<TShapeButton*>(control)) {
      EXPECT_EQ(button->Caption(), row.text);
      EXPECT_EQ(button->GroupIndex(), row.group);
      EXPECT_EQ(button->AllowAllUp(), row.group != 0);
      EXPECT_EQ(button->font().pixelSize(), row.geometry.height() == 30 ? 16 : 11);
      EXPECT_EQ(button->AllowTransparency(), row.group != 1);
      const bool swatch = row.geometry.size() == QSize(18, 18);
      EXPECT_EQ(button->ShapeShadowDepth(), swatch ? 3 : row.geometry.height() == 18 ? 2 : 4);
      // A screen reader hears group buttons as radio buttons named by caption.
      QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(button);
      ASSERT_NE(heard, nullptr);
      EXPECT_EQ(heard->role(), row.group != 0 ? QAccessible::RadioButton : QAccessible::Button);
      EXPECT_EQ(heard->state().checkable, row.group != 0);
      if (!swatch && row.group != 0) {
        EXPECT_EQ(heard->text(QAccessible::Name), row.text);
      }
    } else {
      EXPECT_EQ(QAccessible::queryAccessibleInterface(control)->role(),
                qobject_cast<QLineEdit*>(control) ? QAccessible::EditableText
                : qobject_cast<QLabel*>(control)  ? QAccessible::StaticText
                                                  : QAccessible::Client);
    }
  }
  const auto heardName = [&](const char* name) {
    return QAccessible::queryAccessibleInterface(Control(window, name))->text(QAccessible::Name);
  };
  EXPECT_EQ(heardName("ShapeButton0_1"), "OK");
  EXPECT_EQ(heardName("ShapeButton0_2"), "キャンセル");
  EXPECT_EQ(heardName("ShapeButton0"), "Info.");
  // The swatches: outline in their frame colour, the fuchsia one standing for pink.
  const QColor swatches[] = {{0, 0, 255},   {0, 128, 0}, {0, 255, 0}, {0, 255, 255}, {128, 0, 128},
                             {255, 0, 255}, {255, 0, 0}, {128, 0, 0}, {255, 128, 0}, {255, 255, 0}};
  const char* names[] = {"青",     "緑", "黄緑", "水色",     "紫",
                         "ピンク", "赤", "茶色", "オレンジ", "黄色"};
  for (int number = 2; number <= 11; ++number) {
    EXPECT_EQ(window.GroupButton(4, number)->ShapeBevelColor(), swatches[number - 2]) << number;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.GroupButton(4, number))
                  ->text(QAccessible::Name),
              names[number - 2]);
  }
  // Typing starts in the text field, limited before any load too.
  EXPECT_EQ(Edit1(window)->maxLength(), 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(window.focusWidget(), Edit1(window));
}

TEST_F(SettingWindowTest, FramesAreCrispRoundedRectangles) {
  TSettingForm1 window(record);
  const QImage shot = window.grab().toImage();
  const QColor paleYellow(255, 255, 128), silver(192, 192, 192);
  const auto colour = [&](int x, int y) { return QColor(shot.pixel(x, y)); };
  for (const char* name : {"Shape1", "Shape2", "Shape3", "Shape4", "Shape5", "Shape6"}) {
    SCOPED_TRACE(name);
    const QRect frame = Control(window, name)->geometry();
    const int ellipse = std::min(frame.width(), frame.height()) / 4;
    // The bottom corners: no label covers them. Drawn without smoothing, in
    // the outline and fill colours only.
    for (int y = frame.bottom() - ellipse; y <= frame.bottom(); ++y) {
      for (int dx = 0; dx <= ellipse; ++dx) {
        for (const int x : {frame.left() + dx, frame.right() - dx}) {
          const QColor seen = colour(x, y);
          EXPECT_TRUE(seen == paleYellow || seen == silver)
              << x << "," << y << " " << seen.name().toStdString();
        }
      }
    }
    // The corner ellipse cuts the corner; the straight edges start half an
    // ellipse in.
    EXPECT_EQ(colour(frame.left(), frame.bottom()), paleYellow);
    EXPECT_EQ(colour(frame.left() + 1, frame.bottom()), paleYellow);
    EXPECT_EQ(colour(frame.right(), frame.bottom() - 1), paleYellow);
    EXPECT_EQ(colour(frame.left() + ellipse / 2, frame.bottom()), silver);
    EXPECT_EQ(colour(frame.right(), frame.bottom() - ellipse / 2), silver);
    EXPECT_EQ(colour(frame.right(), frame.center().y()), silver);
    EXPECT_EQ(colour(frame.right() - 1, frame.center().y()), paleYellow);
  }
}

TEST_F(SettingWindowTest, TheLoadPressesTheStoredChoicesAndOkStoresTheNewOnes) {
  Store({3, 2, 1, 7, 2, 1}, "こんにちは");
  auto window = Open();
  // Half a second of the unloaded look first.
  EXPECT_EQ(PressedButtons(*window), (std::array<int, 6>{}));
  EXPECT_EQ(Edit1(*window)->text(), kInitialText);
  ASSERT_TRUE(WaitForLoad(*window));
  EXPECT_EQ(PressedButtons(*window), (std::array<int, 6>{3, 2, 1, 7, 2, 1}));
  EXPECT_EQ(Edit1(*window)->text(), "こんにちは");
  EXPECT_FALSE(Edit1(*window)->hasSelectedText());  // only the prompt is selected
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(window->GroupButton(4, 7))->state().checked);
  EXPECT_FALSE(QAccessible::queryAccessibleInterface(window->GroupButton(4, 8))->state().checked);
  EXPECT_FALSE(window->Timer1()->isActive());

  // The pressed button of a group stays pressed; another one takes over.
  Click(window->GroupButton(1, 3));
  Click(window->GroupButton(4, 7));
  EXPECT_EQ(PressedButtons(*window), (std::array<int, 6>{3, 2, 1, 7, 2, 1}));
  Click(window->GroupButton(1, 1));
  Click(window->GroupButton(4, 11));
  Click(window->GroupButton(6, 2));
  Click(window->GroupButton(3, 2));
  EXPECT_EQ(PressedButtons(*window), (std::array<int, 6>{1, 2, 2, 11, 2, 2}));

  Click(Control(*window, "ShapeButton0_1"));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(Stored(), Choices({1, 2, 2, 11, 2, 2}, "こんにちは"));
  // The run's record follows what was stored.
  EXPECT_EQ(record.sizeClass(), SizeClass::L);
  EXPECT_EQ(record.frameColour(), FrameColour::Yellow);
}

TEST_F(SettingWindowTest, CancelAndEscapeStoreNothingWhileEnterInTheTextStores) {
  Store({1, 1, 2, 3, 1, 2}, "before");
  const std::string before = File();

  const std::function<void(TSettingForm1&)> dismissals[] = {[](TSettingForm1& w) {
                                                              Click(w.GroupButton(1, 3));
                                                              Click(Control(w, "ShapeButton0_2"));
                                                            },
                                                            [](TSettingForm1& w) {
                                                              Click(w.GroupButton(2, 2));
                                                              QTest::keyClick(&w, Qt::Key_Escape);
                                                            },
                                                            [](TSettingForm1& w) {
                                                              QTest::keyClicks(Edit1(w), "x");
                                                              QTest::keyClick(Edit1(w),
                                                                              Qt::Key_Escape);
                                                            }};
  for (const auto& dismiss : dismissals) {
    auto window = OpenLoaded();
    dismiss(*window);
    EXPECT_FALSE(window->isVisible());
  }
  EXPECT_EQ(File(), before);
  // Cancel leaves the run's record as loaded.
  EXPECT_EQ(record.PressedButton(1), 1);

  auto typed = OpenLoaded();
  TypeAndEnter(*typed, "after");
  EXPECT_EQ(Stored(), Choices({1, 1, 2, 3, 1, 2}, "after"));
}

TEST_F(SettingWindowTest, OkBeforeTheLoadKeepsWhatWasStored) {
  Store({3, 2, 2, 5, 2, 1}, "kept");
  const std::string before = File();
  auto window = Open();
  ASSERT_FALSE(window->Loaded());
  Click(Control(*window, "ShapeButton0_1"));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(File(), before);
  // Text typed before the load is what Enter confirms.
  auto typed = Open();
  TypeAndEnter(*typed, "new");
  EXPECT_EQ(Stored(), Choices({3, 2, 2, 5, 2, 1}, "new"));

  // Enter on a first run stores the defaults, not 22 zeros, and the text typed so far.
  std::filesystem::remove(config.KeyFile());
  auto first = Open();
  TypeAndEnter(*first, "mine");
  EXPECT_EQ(Stored(), Choices({2, 1, 1, 1, 1, 2}, "mine"));

  // A load that finds nothing leaves the text being typed alone.
  std::filesystem::remove(config.KeyFile());
  auto editing = Open();
  QLineEdit* edit = Edit1(*editing);
  edit->setCursorPosition(1);
  QTest::keyClicks(edit, "ab");
  ASSERT_TRUE(WaitForLoad(*editing));
  QTest::keyClicks(edit, "c");
  EXPECT_EQ(edit->text(), "(abcここに文字を入力)");
  QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(edit->text(), kInitialText);  // one undo takes back the whole typing
}

TEST_F(SettingWindowTest, AFailedSaveIsReportedAndTheWindowStaysOpen) {
  // A folder where the file belongs, and a file its owner may not write.
  for (const char* reason : {"not a regular file", "Permission denied"}) {
    std::filesystem::remove_all(config.KeyFile());
    if (reason == std::string("Permission denied")) {
      Store({2, 1, 1, 1, 1, 2}, "locked");
      std::filesystem::permissions(config.KeyFile(), std::filesystem::perms(0444));
    } else {
      std::filesystem::create_directories(config.KeyFile());
    }
    auto window = OpenLoaded();
    Click(window->GroupButton(1, 1));
    testing::internal::CaptureStderr();
    Click(Control(*window, "ShapeButton0_1"));
    const std::string reported = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(reported.find("'B1_01' の設定に失敗しました.\n" + config.KeyFile().string() + ": " +
                            reason + "\n"),
              std::string::npos)
        << reported;
    EXPECT_EQ(PressedButtons(*window)[0], 1);  // the choice is still there to try again
    window->close();
  }
}

TEST_F(SettingWindowTest, TypingStopsAt200CharactersButALongerStoredTextStaysWhole) {
  const QString stored300 = QString(300, QChar(u'あ'));
  Store({2, 1, 1, 1, 2, 2}, stored300.toStdString());
  auto window = OpenLoaded();
  QLineEdit* edit = Edit1(*window);
  EXPECT_EQ(edit->text(), stored300);
  edit->end(false);
  QTest::keyClicks(edit, "x");  // no room to grow
  EXPECT_EQ(edit->text(), stored300);
  // Shortening it in the middle leaves the cursor there.
  edit->setCursorPosition(10);
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, "y");
  EXPECT_EQ(edit->cursorPosition(), 9);
  EXPECT_EQ(edit->text(), stored300.left(299));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(QString::fromStdString(Stored().second), stored300.left(299));

  auto typed = OpenLoaded();
  QLineEdit* typedEdit = Edit1(*typed);
  typedEdit->clear();
  QTest::keyClicks(typedEdit, QString(250, QChar(u'b')));
  EXPECT_EQ(typedEdit->text(), QString(200, QChar(u'b')));
  // Typing in the middle stays in the middle, up to the limit.
  typedEdit->setCursorPosition(5);
  QTest::keyClick(typedEdit, Qt::Key_Backspace);
  QTest::keyClicks(typedEdit, "xy");
  EXPECT_EQ(typedEdit->text(), QString(4, u'b') + "x" + QString(195, u'b'));
  EXPECT_EQ(typedEdit->cursorPosition(), 5);
}

// Keys as a user's arrive: to the active window, then its focus widget.
void Press(TSettingForm1& window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
  QTest::keyClick(window.windowHandle(), key, modifiers);
}

TEST_F(SettingWindowTest, TheKeyboardReachesEveryControlInOrderAndChoosesInAGroup) {
  Store({3, 2, 1, 7, 2, 1}, "x");
  auto window = Open();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  const auto focused = [&] { return window->focusWidget()->objectName(); };
  // Before the load no button is pressed: a group is reached on its first.
  Press(*window, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(focused(), "ShapeButton5_1");
  Press(*window, Qt::Key_Tab);
  ASSERT_TRUE(WaitForLoad(*window));

  QWidget* ok = Control(*window, "ShapeButton0_1");
  const QImage unfocused = ok->grab().toImage();
  std::vector<QString> order;
  for (int i = 0; i < 10; ++i) {
    Press(*window, Qt::Key_Tab);
    order.push_back(focused());
    if (i == 0) {
      EXPECT_NE(ok->grab().toImage(), unfocused);  // the focus mark shows
    }
  }
  EXPECT_EQ(ok->grab().toImage(), unfocused);  // and goes without a trace
  EXPECT_EQ(order,
            (std::vector<QString>{"ShapeButton0_1", "ShapeButton0_2", "ShapeButton0",
                                  "ShapeButton1_3", "ShapeButton2_2", "ShapeButton6_1",
                                  "ShapeButton3_1", "ShapeButton4_7", "ShapeButton5_2", "Edit1"}));
  Press(*window, Qt::Key_Backtab, Qt::ShiftModifier);
  Press(*window, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(focused(), "ShapeButton4_7");
  // Arrows press the neighbour at once, wrapping round the group.
  Press(*window, Qt::Key_Right);
  Press(*window, Qt::Key_Down);
  EXPECT_EQ(focused(), "ShapeButton4_9");
  for (int i = 0; i < 9; ++i) Press(*window, Qt::Key_Left);
  EXPECT_EQ(focused(), "ShapeButton4_11");
  Press(*window, Qt::Key_Backtab, Qt::ShiftModifier);
  Press(*window, Qt::Key_Up);
  EXPECT_EQ(PressedButtons(*window), (std::array<int, 6>{3, 2, 2, 11, 2, 1}));
  // A click gives no focus; Space presses the focused OK.
  Click(window->GroupButton(1, 1));
  EXPECT_EQ(focused(), "ShapeButton3_2");
  while (focused() != "ShapeButton0_1") Press(*window, Qt::Key_Tab);
  Press(*window, Qt::Key_Space);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(Stored(), Choices({1, 2, 2, 11, 2, 1}, "x"));
}

TEST_F(SettingWindowTest, TheWindowTakesTheKeyboardWhenShownAndTheFirstKeyReplacesThePrompt) {
  const struct {
    bool stored, loaded;
    const char* text;  // what was stored
    Qt::Key enter;
    const char* result;
  } rows[] = {
      {false, false, "", Qt::Key_Enter, "q"},          // keypad Enter, before the load
      {true, true, kInitialText, Qt::Key_Enter, "q"},  // the load leaves the prompt: selected again
      {true, true, "abc", Qt::Key_Return, "abcq"},     // any other text: the cursor at its end
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::filesystem::remove(config.KeyFile());
    if (row.stored) Store({1, 1, 1, 1, 1, 1}, row.text);
    auto window = Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    if (row.loaded) {
      ASSERT_TRUE(WaitForLoad(*window));
    }
    Press(*window, Qt::Key_Q);
    Press(*window, row.enter, row.enter == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(Stored().second, row.result);
  }
}

TEST_F(SettingWindowTest, ADropOfPicturesOrFoldersStoresTheChoicesAndPunchesThem) {
  TempFolder dropped{"punchlet-drop"};
  for (const char* name : {"a.JPG", "b.bmp", "notes.txt"}) WriteBytes(dropped.Path() + name, "x");
  const auto local = [&](const char* name) {
    return QUrl::fromLocalFile(QString::fromStdString(dropped.Path() + name));
  };
  const struct {
    std::vector<QUrl> urls;
    bool accepted;
  } rows[] = {
      {{local("notes.txt"), QUrl("https://example.org/c.jpg")}, false},
      {{local("missing.jpg")}, false},
      {{local("notes.txt"), local("a.JPG"), QUrl("https://example.org/c.jpg")}, true},
      {{QUrl::fromLocalFile(QString::fromStdString(dropped.Root().string()))}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.urls.front().toString().toStdString());
    auto window = OpenLoaded();
    Click(window->GroupButton(1, 1));
    std::filesystem::remove(config.KeyFile());
    std::vector<QStringList> launched;
    window->SetLauncher([&](const QStringList& paths) {
      EXPECT_EQ(Stored().first[0], 1);  // stored before the punching starts
      launched.push_back(paths);
      return true;
    });
    QMimeData data;
    data.setUrls(QList<QUrl>(row.urls.begin(), row.urls.end()));
    QDragEnterEvent enter(QPoint(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &enter);
    EXPECT_EQ(enter.isAccepted(), row.accepted);
    QDropEvent drop(QPointF(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &drop);
    EXPECT_EQ(window->isVisible(), !row.accepted);
    EXPECT_EQ(std::filesystem::exists(config.KeyFile()), row.accepted);
    if (!row.accepted) {
      EXPECT_TRUE(launched.empty());
      continue;
    }
    ASSERT_EQ(launched.size(), 1u);
    QStringList expected;
    for (const QUrl& url : row.urls)
      if (url.isLocalFile()) expected.push_back(url.toLocalFile());  // a web address is no path
    EXPECT_EQ(launched.front(), expected);
  }
  // A save that fails punches nothing and keeps the window open.
  std::filesystem::remove(config.KeyFile());
  std::filesystem::create_directories(config.KeyFile());
  auto window = OpenLoaded();
  bool launched = false;
  window->SetLauncher([&](const QStringList&) { return launched = true; });
  QMimeData data;
  data.setUrls({local("b.bmp")});
  QDragEnterEvent enter(QPoint(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
  QCoreApplication::sendEvent(window.get(), &enter);
  QDropEvent drop(QPointF(150, 150), Qt::CopyAction, &data, Qt::LeftButton, {});
  testing::internal::CaptureStderr();
  QCoreApplication::sendEvent(window.get(), &drop);
  const std::string reported = testing::internal::GetCapturedStderr();
  EXPECT_NE(reported.find("の設定に失敗しました"), std::string::npos) << reported;
  EXPECT_FALSE(launched);
  EXPECT_TRUE(window->isVisible());
}

// Counts the close requests a window gets.
class CloseCounter : public QObject {
 public:
  int closes = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close) ++closes;
    return QObject::eventFilter(watched, event);
  }
};

// Runs the no-argument start with the pointer and screen given; answers
// where the settings window stood.
QPoint PlaceFor(QPoint pointer, QRect screen) {
  TMainForm1 preview({}, {screen, 0, pointer});
  CloseCounter counter;
  preview.installEventFilter(&counter);
  QPoint placed(-1, -1);
  QTimer::singleShot(0, [&] {
    EXPECT_TRUE(SettingForm1->isModal());
    EXPECT_EQ(SettingForm1->parent(), &preview);
    placed = SettingForm1->pos();
    // The hidden owner ticks on underneath and must not be closed: on
    // Wayland its native window would take the settings window with it.
    QTest::qWait(60);
    EXPECT_EQ(counter.closes, 0);
    EXPECT_TRUE(SettingForm1->isVisible());
    SettingForm1->ShapeButton0_2Click();
  });
  preview.FormCreate();
  EXPECT_FALSE(SettingForm1->isVisible());
  // Its next tick, now the settings window is gone, ends the program.
  EXPECT_TRUE(QTest::qWaitFor([&] { return counter.closes > 0; }, 1000));
  return placed;
}

TEST_F(SettingWindowTest, TheWindowOpensBesideThePointerAndStaysOnTheScreen) {
  const QRect screen(0, 0, 1024, 768);
  EXPECT_EQ(PlaceFor({300, 400}, screen), QPoint(305, 340));
  EXPECT_EQ(PlaceFor({1000, 400}, screen), QPoint(754, 340));              // flush right
  EXPECT_EQ(PlaceFor({300, 760}, screen), QPoint(305, 448));               // flush bottom
  EXPECT_EQ(PlaceFor({1020, 767}, screen), QPoint(754, 448));              // the corner
  EXPECT_EQ(PlaceFor({300, 59}, screen), QPoint(305, 0));                  // not above the top
  EXPECT_EQ(PlaceFor({-100, 400}, screen), QPoint(-95, 340));              // the left is left alone
  EXPECT_EQ(PlaceFor({300, 100}, QRect(0, 0, 200, 200)), QPoint(-70, 0));  // too small a screen
  // The right of two monitors, and one below the primary.
  const QRect right(1280, 0, 1280, 1024), below(0, 768, 1024, 768);
  EXPECT_EQ(PlaceFor({1680, 300}, right), QPoint(1685, 240));
  EXPECT_EQ(PlaceFor({2550, 1000}, right), QPoint(2290, 704));
  EXPECT_EQ(PlaceFor({300, 790}, below), QPoint(305, 768));
  EXPECT_FALSE(std::filesystem::exists(config.KeyFile()));  // Cancel stored nothing
}

TEST_F(SettingWindowTest, TheBubbleShapesTheWindow) {
  auto window = Open();
  const QByteArray block = [] {
    QFile file(QString::fromUtf8(BubbleRgnDataResource));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }();
  const auto stored = RegionData(std::vector<uint8_t>(block.begin(), block.end())).ToRegion();
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(window->mask(), *stored);
  // The sharper bubble for denser screens is compiled in beside it.
  const auto* rgn = window->findChild<TRgn*>(QStringLiteral("Rgn1"));
  ASSERT_NE(rgn, nullptr);
  EXPECT_EQ(QImage(rgn->Bitmap2xFile()).size(), QSize(540, 640));
  // Outside the bubble there is nothing to click: no control reaches there.
  int outside = 0;
  for (int y = 0; y < 320; ++y) {
    for (int x = 0; x < 270; ++x) {
      if (window->mask().contains(QPoint(x, y))) continue;
      ++outside;
      QWidget* hit = window->childAt(x, y);
      ASSERT_EQ(hit, nullptr) << x << "," << y << " " << hit->objectName().toStdString();
    }
  }
  EXPECT_GT(outside, 6000);  // the strip left of the body, less the tail, and the corners
  // A press there through the window's own dispatch changes nothing.
  ASSERT_TRUE(WaitForLoad(*window));
  const std::array<int, 6> before = PressedButtons(*window);
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, QPoint(2, 30));
  QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, QPoint(268, 1));
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(PressedButtons(*window), before);
}

// Takes the addresses the window hands to the desktop.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  std::vector<QUrl> urls;

 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

TEST_F(SettingWindowTest, InfoSendsTheProgramNameAndKeepsTheWindowOpen) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
  auto window = Open();
  window->SetProgramFile(QStringLiteral("/opt/my tools/punch let.exe"));
  Click(Control(*window, "ShapeButton0"));
  window->SetProgramFile(QStringLiteral("/usr/bin/punchlet"));
  Click(Control(*window, "ShapeButton0"));
  // Held well past its repeat, it opens the page once, on the press.
  auto* info = window->findChild<TShapeButton*>(QStringLiteral("ShapeButton0"));
  info->SetRepeatingDelay(10);
  info->SetRepeatingInterval(10);
  QTest::mousePress(info, Qt::LeftButton, {}, QPoint(10, 6));
  EXPECT_EQ(catcher.urls.size(), 3u);
  QTest::qWait(150);
  QTest::mouseRelease(info, Qt::LeftButton, {}, QPoint(10, 6));
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_TRUE(window->isVisible());

  ASSERT_EQ(catcher.urls.size(), 3u);
  EXPECT_EQ(QUrlQuery(catcher.urls[0]).queryItemValue("sn", QUrl::FullyDecoded), "punch let");
  EXPECT_EQ(catcher.urls[1].toString(), "https://tessaly.example/info.php?pf=w&sn=punchlet");
  EXPECT_EQ(TSettingForm1::InfoAddress("/a/b.c.exe").toString(),
            "https://tessaly.example/info.php?pf=w&sn=b.c");
}

#ifdef PUNCHLET_EXE
TEST_F(SettingWindowTest, WithoutADisplayTheSettingsWindowIsRefused) {
  const std::string command =
      std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + PUNCHLET_EXE + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 2);
  EXPECT_EQ(output, "punchlet: the settings window needs a display\n");
  EXPECT_FALSE(std::filesystem::exists(config.KeyFile()));
}
#endif

}  // namespace

#include "settingwindow1_test.moc"
