#include "app/settingwindow1.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "app/application.h"
#include "app/settingsstore.h"
#include "ui_settingwindow1.h"

TSettingForm1* SettingForm1 = nullptr;

namespace {
// The maker's information server; the path and query follow it.
constexpr const char* kInfoServer = "https://tessaly.example";
constexpr const char* kInfoPath = "/info.php?pf=w&sn=";
constexpr int kLoadDelay = 500;

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
  connect(ui->ShapeButton0, &TShapeButton::OnClick, this, [this] { ShapeButton0Click(); });

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
    return;
  }
  FSettings = chosen;
  close();
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

// Edit1 passes Enter and Escape on to its window, so they arrive here too.
void TSettingForm1::keyPressEvent(QKeyEvent* event) {
  if (FormKeyDown(event->key())) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
