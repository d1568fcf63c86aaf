#include "app/settingwindow1.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "app/application.h"
#include "app/settingsstore.h"
#include "platform/errors.h"
#include "ui_settingwindow1.h"
#include "widgets/accessible.h"

TSettingForm1* SettingForm1 = nullptr;

namespace {
// The maker's information server; the path and query follow it.
constexpr const char* kInfoServer = "https://tessaly.example";
constexpr const char* kInfoPath = "/info.php?pf=w&sn=";
constexpr int kLoadDelay = 500;
// The frame colour swatches 4_2 to 4_11, as a screen reader says them.
constexpr const char* kSwatchNames[] = {"青",     "緑", "黄緑", "水色",     "紫",
                                        "ピンク", "赤", "茶色", "オレンジ", "黄色"};
// The groups from top to bottom on the window.
constexpr int kGroupsTopDown[] = {1, 2, 6, 3, 4, 5};

// Pixel font sizes are kept in the layout as a dynamic property.
void ApplyPixelFontSizes(QWidget* root) {
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* widget : widgets) {
    const QVariant pixels = widget->property("fontPixelSize");
    if (!pixels.isValid()) continue;
    QFont font = widget->font();
    font.setPixelSize(pixels.toInt());
    widget->setFont(font);
  }
}
}  // namespace

TSettingForm1::TSettingForm1(PunchSettings& settings, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ui(std::make_unique<Ui::TSettingForm1>()),
      FSettings(settings),
      FProgramFile(QCoreApplication::applicationFilePath()) {
  // The bubble lives in this library's resources, which a static library
  // does not register by itself.
  Q_INIT_RESOURCE(punchlet);
  ui->setupUi(this);
  // What the layout file cannot hold: pixel font sizes and the bubble.
  ApplyPixelFontSizes(this);
  ui->Rgn1->LoadStored(QString::fromUtf8(BubbleBitmapResource),
                       QString::fromUtf8(BubbleRgnDataResource));
  setFixedSize(ClientWidth, ClientHeight);
  // A longer loaded text is kept whole; typing can only shorten it then, and
  // the limit follows it down. Setting a limit puts the text again, which
  // would send the cursor to the end, so it is set only when it changes.
  connect(ui->Edit1, &QLineEdit::textChanged, this, [this](const QString& text) {
    const int limit = std::max<int>(MaxTypedText, text.size());
    if (limit >= ui->Edit1->maxLength()) return;
    const int cursor = ui->Edit1->cursorPosition();
    ui->Edit1->setMaxLength(limit);
    ui->Edit1->setCursorPosition(cursor);
  });
  connect(ui->ShapeButton0_1, &TShapeButton::OnClick, this, [this] { ShapeButton0_1Click(); });
  connect(ui->ShapeButton0_2, &TShapeButton::OnClick, this, [this] { ShapeButton0_2Click(); });
  // Info. keeps its held look and repeat, but a browser page opens once per press.
  connect(ui->ShapeButton0, &TShapeButton::OnClick, this, [this] {
    if (FInfoHeld) return;
    FInfoHeld = true;
    ShapeButton0Click();
  });
  connect(ui->ShapeButton0, &TShapeButton::OnMouseUp, this, [this] { FInfoHeld = false; });
  SetUpKeyboardAndNames();
  setAcceptDrops(true);
  FLauncher = [](const QStringList& paths) {
    return QProcess::startDetached(QCoreApplication::applicationFilePath(), paths);
  };

  FTimer1 = new QTimer(this);
  FTimer1->setInterval(kLoadDelay);
  connect(FTimer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  FTimer1->start();
  FormCreate();
}

TSettingForm1::~TSettingForm1() {
  if (SettingForm1 == this) SettingForm1 = nullptr;
}

void TSettingForm1::FormCreate() {
  ui->Rgn1->SetWndRgn();
  // Wayland takes a window's shape for its input only: the bubble's surround
  // is made see-through instead.
  if (!TApplication::ShapesWindows()) {
    setAttribute(Qt::WA_TranslucentBackground);
    ui->Rgn1->SetTransparent(true);
  }
  // The shape is cut in logical pixels, a staircase on a denser screen: there
  // the sharper bubble shows its own outline in a see-through window, the
  // shape only trimming what lies outside it. Decided before the native
  // window exists, for any screen the window may be moved to; where the
  // ratio is 1 the bubble still paints every pixel inside the shape.
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (std::any_of(screens.begin(), screens.end(),
                  [](const QScreen* screen) { return screen->devicePixelRatio() >= 1.5; }))
    setAttribute(Qt::WA_TranslucentBackground);
}

void TSettingForm1::ShowBesidePointer(QWidget* owner, PunchSettings& settings,
                                      const QPoint& pointer, const QRect& screen) {
  SettingForm1 = new TSettingForm1(settings, owner);
  SettingForm1->move(PlaceBesidePointer(pointer, screen));
  SettingForm1->exec();
}

void TSettingForm1::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Without a window manager nobody else gives it the keyboard, and Enter,
  // Esc and typing must reach it at once.
  activateWindow();
  SelectInitialText();
}

void TSettingForm1::SetUpKeyboardAndNames() {
  InstallButtonAccessibility();
  // Focus by Tab only: a click shows no focus mark, and the looks stay as drawn.
  for (TShapeButton* button : findChildren<TShapeButton*>(Qt::FindDirectChildrenOnly))
    button->setFocusPolicy(Qt::TabFocus);
  ui->ShapeButton0_1->setAccessibleName(QStringLiteral("OK"));
  ui->ShapeButton0_2->setAccessibleName(QString::fromUtf8("キャンセル"));
  ui->ShapeButton0->setAccessibleName(QStringLiteral("Info."));
  for (int number = 2; number <= 11; ++number)
    GroupButton(4, number)->setAccessibleName(QString::fromUtf8(kSwatchNames[number - 2]));
  ui->Edit1->setAccessibleName(QString::fromUtf8("文字焼き"));
  ui->Edit1->setFocus();  // typing starts there
}

void TSettingForm1::SelectInitialText() {
  // Until something is typed the prompt is selected, so the first key replaces it.
  if (ui->Edit1->text() == QString::fromUtf8(PunchSettings::InitialImprintText) &&
      !ui->Edit1->isModified())
    ui->Edit1->selectAll();
}

std::vector<QWidget*> TSettingForm1::TabStops() const {
  std::vector<QWidget*> stops = {ui->Edit1, ui->ShapeButton0_1, ui->ShapeButton0_2,
                                 ui->ShapeButton0};
  for (const int group : kGroupsTopDown) {
    // A group is reached on its pressed button, or its first.
    TShapeButton* stop = GroupButton(group, 1);
    for (int number = 1; TShapeButton* button = GroupButton(group, number); ++number)
      if (button->Pressed()) stop = button;
    stops.push_back(stop);
  }
  return stops;
}

bool TSettingForm1::focusNextPrevChild(bool next) {
  const std::vector<QWidget*> stops = TabStops();
  const auto* focused = qobject_cast<TShapeButton*>(focusWidget());
  const int group = focused != nullptr ? focused->GroupIndex() : 0;
  size_t at = 0;
  for (size_t i = 0; i < stops.size(); ++i) {
    const auto* stop = qobject_cast<TShapeButton*>(stops[i]);
    if (stops[i] == focusWidget() || (group != 0 && stop != nullptr && stop->GroupIndex() == group))
      at = i;
  }
  const size_t count = stops.size();
  // With nothing focused yet, the text field comes first.
  if (focusWidget() == nullptr) at = next ? count - 1 : 1;
  stops[(at + (next ? 1 : count - 1)) % count]->setFocus(next ? Qt::TabFocusReason
                                                              : Qt::BacktabFocusReason);
  return true;
}

bool TSettingForm1::MoveInGroup(TShapeButton* button, int step) {
  const int group = button->GroupIndex();
  int count = 0;
  int at = 0;
  for (int number = 1; TShapeButton* member = GroupButton(group, number); ++number) {
    count = number;
    if (member == button) at = number;
  }
  if (at == 0) return false;
  TShapeButton* target = GroupButton(group, (at - 1 + step + count) % count + 1);
  target->SetPressed(true);  // the choice is made at once, as a click makes it
  target->setFocus(Qt::TabFocusReason);
  return true;
}

QStringList TSettingForm1::DroppedPaths(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return {};
  QStringList paths;
  bool punchable = false;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const QFileInfo file(url.toLocalFile());
    const QString suffix = file.suffix().toLower();
    if (file.isDir() ||
        (file.isFile() && (suffix == QLatin1String("bmp") || suffix == QLatin1String("jpg") ||
                           suffix == QLatin1String("jpeg"))))
      punchable = true;
    paths.push_back(file.filePath());
  }
  return punchable ? paths : QStringList();
}

void TSettingForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedPaths(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TSettingForm1::dropEvent(QDropEvent* event) {
  const QStringList paths = DroppedPaths(event->mimeData());
  if (paths.isEmpty()) return;  // refused: the window stays
  event->acceptProposedAction();
  // The drop confirms the choices as OK does, then punches with them.
  if (!StoreChoices()) return;
  if (!FLauncher(paths)) {
    TApplication::ShowException(Exception("ドロップされたファイルを加工できません",
                                          QCoreApplication::applicationFilePath().toStdString(),
                                          "プログラムを起動できません"));
    return;
  }
  close();
}

QPoint TSettingForm1::PlaceBesidePointer(const QPoint& pointer, const QRect& screen) {
  int left = pointer.x() + 5;
  int top = pointer.y() - 60;
  left = std::min(left, screen.x() + screen.width() - ClientWidth);
  top = std::min(top, screen.y() + screen.height() - ClientHeight);
  top = std::max(top, screen.y());
  return {left, top};
}

QUrl TSettingForm1::InfoAddress(const QString& programFile) {
  const QString name = QFileInfo(programFile).completeBaseName();
  return QUrl(QString::fromUtf8(kInfoServer) + QString::fromUtf8(kInfoPath) + name,
              QUrl::TolerantMode);
}

TShapeButton* TSettingForm1::GroupButton(int group, int number) const {
  return findChild<TShapeButton*>(QStringLiteral("ShapeButton%1_%2").arg(group).arg(number),
                                  Qt::FindDirectChildrenOnly);
}

void TSettingForm1::Timer1Timer() {
  // A failed load keeps the text typed so far.
  FSettings.imprintText = ui->Edit1->text().toStdString();
  LoadPunchSettings(FSettings);
  ShowSettings();
  FTimer1->stop();
  FLoaded = true;
  SelectInitialText();
}

void TSettingForm1::ShowSettings() {
  // All-up is still allowed, so a group stored without a pressed button
  // comes up with none.
  for (const PunchSettings::Button& button : PunchSettings::StoreOrder()) {
    GroupButton(button.group, button.number)
        ->SetPressed(FSettings.Pressed(button.group, button.number));
  }
  SetImprintText(QString::fromStdString(FSettings.imprintText));
  for (const PunchSettings::Button& button : PunchSettings::StoreOrder())
    GroupButton(button.group, button.number)->SetAllowAllUp(false);
}

void TSettingForm1::SetImprintText(const QString& text) {
  // The same text again would move the cursor and drop what undo knows.
  if (text == ui->Edit1->text()) return;
  ui->Edit1->setMaxLength(std::max<int>(MaxTypedText, text.size()));
  ui->Edit1->setText(text);
}

void TSettingForm1::ShapeButton0_1Click() {
  if (StoreChoices()) close();
}

bool TSettingForm1::StoreChoices() {
  // A quick OK must not store the unloaded, all-up window over the user's
  // choices.
  // Text typed before the load is part of what the user confirms.
  if (!FLoaded) {
    const bool typed = ui->Edit1->isModified();
    const QString text = ui->Edit1->text();
    Timer1Timer();
    if (typed) SetImprintText(text);
  }
  PunchSettings chosen;
  for (const PunchSettings::Button& button : PunchSettings::StoreOrder()) {
    if (GroupButton(button.group, button.number)->Pressed())
      chosen.SetPressed(button.group, button.number, true);
  }
  chosen.SetAllowAllUp(false);
  chosen.imprintText = ui->Edit1->text().toStdString();
  try {
    SavePunchSettings(chosen);
  } catch (const std::exception& error) {
    // The choices are still on screen: OK can be tried again.
    TApplication::ShowException(error);
    return false;
  }
  FSettings = chosen;
  return true;
}

void TSettingForm1::ShapeButton0_2Click() { close(); }

void TSettingForm1::ShapeButton0Click() {
  // Nothing to tell the user when no browser takes it.
  QDesktopServices::openUrl(InfoAddress(FProgramFile));
}

bool TSettingForm1::FormKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    ShapeButton0_1Click();
    return true;
  }
  if (key == Qt::Key_Escape) {
    ShapeButton0_2Click();
    return true;
  }
  return false;
}

// Edit1 passes Enter and Escape on to its window, so they arrive here too, as
// do the keys our buttons leave to it.
void TSettingForm1::keyPressEvent(QKeyEvent* event) {
  if (FormKeyDown(event->key())) {
    event->accept();
    return;
  }
  if (auto* button = qobject_cast<TShapeButton*>(focusWidget())) {
    const int key = event->key();
    const int step = key == Qt::Key_Left || key == Qt::Key_Up      ? -1
                     : key == Qt::Key_Right || key == Qt::Key_Down ? 1
                                                                   : 0;
    if (step != 0 && button->GroupIndex() != 0 && MoveInGroup(button, step)) {
      event->accept();
      return;
    }
    if (key == Qt::Key_Space && button->GroupIndex() == 0) {
      // Once per press: a held key's repeats do nothing.
      if (!event->isAutoRepeat()) {
        if (button == ui->ShapeButton0_1)
          ShapeButton0_1Click();
        else if (button == ui->ShapeButton0_2)
          ShapeButton0_2Click();
        else if (button == ui->ShapeButton0)
          ShapeButton0Click();
      }
      event->accept();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}
