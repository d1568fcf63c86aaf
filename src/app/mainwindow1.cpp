#include "app/mainwindow1.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QScopeGuard>
#include <QScreen>
#include <QTime>
#include <QTimer>
#include <algorithm>

#include "app/application.h"
#include "app/batch.h"
#include "app/composition.h"
#include "app/intake.h"
#include "app/outputnaming.h"
#include "app/settingwindow1.h"
#include "platform/paths.h"
#include "ui_mainwindow1.h"
#include "widgets/accessible.h"

namespace {
constexpr int kSlideStep = 32;

// Straight into the format a window's pixmap keeps, so showing each picture
// of a batch converts it once.
QImage ToImage(const Picture& picture) {
  QImage image(picture.Width(), picture.Height(), QImage::Format_RGB32);
  for (int y = 0; y < picture.Height(); ++y) {
    const uint8_t* from = picture.ScanLine(y);
    auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture.Width(); ++x, from += 3) to[x] = qRgb(from[2], from[1], from[0]);
  }
  return image;
}

void SetPixelFont(QWidget* widget, int pixels) {
  QFont font = widget->font();
  font.setPixelSize(pixels);
  widget->setFont(font);
}
}  // namespace

TMainForm1::TSlideDirection TMainForm1::SlideDirectionForMinute(int minute) {
  if (minute <= 7 || minute >= 53) return TSlideDirection::FromTop;
  if (minute <= 22) return TSlideDirection::FromRight;
  if (minute <= 37) return TSlideDirection::FromBottom;
  return TSlideDirection::FromLeft;
}

TMainForm1::TEnvironment TMainForm1::CurrentEnvironment() {
  TEnvironment environment;
  environment.minute = QTime::currentTime().minute();
  environment.pointer = QCursor::pos();
  environment.placesWindows = TApplication::PlacesWindows();
  // Where the compositor places windows the pointer's position is unknown.
  QScreen* screen =
      environment.placesWindows ? QGuiApplication::screenAt(environment.pointer) : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) environment.screen = screen->geometry();
  return environment;
}

TMainForm1::TMainForm1(std::vector<std::string> arguments, const TEnvironment& environment,
                       QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      ui(std::make_unique<Ui::TMainForm1>()),
      FComposer(std::make_unique<TPunchComposer>()),
      FArguments(std::move(arguments)),
      FEnvironment(environment) {
  // The key-cap pictures the layout file names live in this library's
  // resources, which a static library does not register by itself.
  Q_INIT_RESOURCE(punchlet);
  ui->setupUi(this);
  // What the layout file cannot say: pixel font sizes.
  setAttribute(Qt::WA_StyledBackground);
  for (QLabel* label : {ui->Label1, ui->Label2, ui->Label3}) SetPixelFont(label, 11);
  SetPixelFont(ui->ClearButton1, 15);
  SetPixelFont(ui->ClearButton2, 12);
  SetPixelFont(this, 12);
  InstallButtonAccessibility();
  ui->ClearButton1->setAccessibleName(QStringLiteral("OK"));
  ui->ClearButton2->setAccessibleName(QString::fromUtf8("キャンセル"));
  connect(ui->ClearButton1, &TClearButton::OnClick, this, [this] { ClearButton1Click(); });
  connect(ui->ClearButton2, &TClearButton::OnClick, this, [this] { ClearButton2Click(); });
  ui->Image1->setScaledContents(false);
  ui->Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // When the picture changes the client size, controls keep their distances
  // to the edges they are anchored to, as laid out in the layout file.
  FDesignSize = size();
  const Qt::Edges bottom = Qt::BottomEdge;
  for (const auto& [control, anchors] : std::initializer_list<std::pair<QWidget*, Qt::Edges>>{
           {ui->Shape1, Qt::LeftEdge | Qt::RightEdge | Qt::TopEdge | Qt::BottomEdge},
           {ui->Label1, bottom},
           {ui->Label2, bottom},
           {ui->Label3, bottom},
           {ui->Shape2, Qt::LeftEdge | Qt::RightEdge | bottom},
           {ui->ClearButton2, Qt::LeftEdge | bottom},
           {ui->ClearButton1, Qt::RightEdge | bottom}})
    FAnchored.push_back({control, control->geometry(), anchors});

  // Off-screen until the slide (single mode) or the batch display moves it:
  // placed as a 600 x 600 window beyond the edge it will come from.
  slideDirection = SlideDirectionForMinute(FEnvironment.minute);
  move(SlideStart(QSize(600, 600), 620));

  FTimer1 = new QTimer(this);
  FTimer1->setInterval(20);
  connect(FTimer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  FTimer1->start();
}

TMainForm1::~TMainForm1() = default;

void TMainForm1::FormCreate() {
  if (FArguments.empty()) {
    // The program then ends at this window's first timer tick.
    TSettingForm1::ShowBesidePointer(this, FSettings, FEnvironment.pointer, FEnvironment.screen);
    // Shown only so that its next tick ends the program: where the
    // compositor places windows, off-screen would be on screen.
    setAttribute(Qt::WA_DontShowOnScreen);
    return;
  }

  if (!FIntake) FIntake = BeginIntake(FArguments);
  FSettings = FIntake->settings;
  jobList = FIntake->jobs;
  const RunMode mode = DecideMode(jobList.size());
  if (mode == RunMode::None) {
    FFinished = true;
    return;
  }
  if (mode == RunMode::Batch) {
    RunBatch(*FIntake->batch);
    FIntake.reset();
    FFinished = true;
    close();
    return;
  }
  const std::string& job = jobList.front();
  jobExtension = ExtractFileExt(job);
  const TComposition composition = FComposer->ComposeFile(job, FSettings, true);
  ApplyComposition(composition);
  if (composition.beep) QApplication::beep();
  sourcePath = job;
}

void TMainForm1::RunBatch(TBatch& batch) {
  FBatch = &batch;
  batch.OnPicture = [this](size_t k, const TComposition& composition) {
    jobExtension = ExtractFileExt(jobList[k]);
    ApplyComposition(composition);
    ShowBatchProgress(k, jobList.size());
  };
  batch.OnSaved = [this](size_t k, const std::string& path) {
    outputPath = path;
    if (OnBatchPictureSaved) OnBatchPictureSaved(static_cast<int>(k));
  };
  const auto done = qScopeGuard([this, &batch] {
    batch.OnPicture = nullptr;
    batch.OnSaved = nullptr;
    FBatch = nullptr;
  });
  if (cancelRequested) batch.Cancel();
  batch.Run();
}

void TMainForm1::ApplyComposition(const TComposition& composition) {
  FPreview = composition.picture;
  ui->Image1->setPixmap(QPixmap::fromImage(ToImage(FPreview)));
  ui->Image1->resize(FPreview.Width(), FPreview.Height());
  ui->Label1->setText(QString::fromStdString(composition.label1));
  ui->Label2->setText(QString::fromStdString(composition.label2));
  ui->Label3->setText(QString::fromStdString(composition.label3));
  if (composition.placement.sizesClient) {
    resize(composition.placement.clientWidth, composition.placement.clientHeight);
    LayoutAnchoredControls();  // a hidden window gets its resize event only when shown
  } else {
    ui->Image1->move(composition.placement.imageLeft, composition.placement.imageTop);
  }
}

void TMainForm1::ShowBatchProgress(size_t index, size_t count) {
  const QString progress = QStringLiteral("%1/%2").arg(index + 1).arg(count);
  ui->ClearButton1->SetCaption(progress);
  ui->ClearButton1->setAccessibleDescription(progress);
  const QRect& screen = FEnvironment.screen;
  move(screen.x() + (screen.width() - width()) / 2, screen.y() + (screen.height() - height()) / 2);
  if (!isVisible()) {
    show();
    // Without a window manager nobody else gives it the keyboard, and Esc
    // must reach it to stop the batch.
    activateWindow();
  }
  repaint();
}

void TMainForm1::ClearButton1Click() {
  if (jobList.size() == 1) {
    outputPath = SavePunched(sourcePath, FPreview);
  }
  close();
}

void TMainForm1::ClearButton2Click() {
  cancelRequested = true;
  if (FBatch != nullptr) FBatch->Cancel();
  close();
}

void TMainForm1::FormKeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    ClearButton1Click();
  } else if (key == Qt::Key_Escape) {
    ClearButton2Click();
  }
}

void TMainForm1::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
    FormKeyDown(key);
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TMainForm1::Timer1Timer() {
  if (FArguments.empty()) {
    // Not while the settings window is up: closing this window's native
    // window closes its transient children too (on Wayland), and that would
    // take the settings window down with it.
    if (SettingForm1 != nullptr && SettingForm1->isVisible()) return;
    close();
    return;
  }
  if (jobList.size() != 1) return;
  if (!FEnvironment.placesWindows) {
    FTimer1->stop();  // the compositor has placed it
    return;
  }
  const QRect& screen = FEnvironment.screen;
  const int w = width();
  const int h = height();
  if (FTimerTag == 0) {
    move(SlideStart(QSize(w, h), 20));
    FTimerTag = 1;
  }
  const int targetLeft = screen.x() + (screen.width() - w) / 2;
  const int targetTop = screen.y() + (screen.height() - h) / 2;
  switch (slideDirection) {
    case TSlideDirection::FromLeft:
      if (targetLeft > x())
        move(x() + kSlideStep, y());
      else
        FTimer1->stop();
      break;
    case TSlideDirection::FromRight:
      if (targetLeft < x())
        move(x() - kSlideStep, y());
      else
        FTimer1->stop();
      break;
    case TSlideDirection::FromTop:
      if (targetTop > y())
        move(x(), y() + kSlideStep);
      else
        FTimer1->stop();
      break;
    case TSlideDirection::FromBottom:
      if (targetTop < y())
        move(x(), y() - kSlideStep);
      else
        FTimer1->stop();
      break;
  }
}

void TMainForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutAnchoredControls();
}

QPoint TMainForm1::SlideStart(QSize size, int farGap) const {
  // Always from beyond the edge, so the window enters from outside and comes
  // to rest at the centre on a screen of any size.
  const QRect& screen = FEnvironment.screen;
  const int centredLeft = screen.x() + (screen.width() - size.width()) / 2;
  const int centredTop = screen.y() + (screen.height() - size.height()) / 2;
  switch (slideDirection) {
    case TSlideDirection::FromLeft:
      return {screen.x() - size.width() - 20, centredTop};
    case TSlideDirection::FromRight:
      return {screen.x() + screen.width() + farGap, centredTop};
    case TSlideDirection::FromTop:
      return {centredLeft, screen.y() - size.height() - 20};
    case TSlideDirection::FromBottom:
      break;
  }
  return {centredLeft, screen.y() + screen.height() + farGap};
}

void TMainForm1::LayoutAnchoredControls() {
  const int dw = width() - FDesignSize.width();
  const int dh = height() - FDesignSize.height();
  // Anchored to both edges: stretch; to one: keep that distance; to neither:
  // stay centred.
  const auto place = [](int start, int length, int delta, bool near, bool far) {
    if (near && far) return std::pair{start, length + delta};
    if (far) return std::pair{start + delta, length};
    if (near) return std::pair{start, length};
    return std::pair{start + delta / 2, length};
  };
  for (const TAnchored& item : FAnchored) {
    const auto [x, w] = place(item.design.x(), item.design.width(), dw, item.anchors & Qt::LeftEdge,
                              item.anchors & Qt::RightEdge);
    const auto [y, h] = place(item.design.y(), item.design.height(), dh, item.anchors & Qt::TopEdge,
                              item.anchors & Qt::BottomEdge);
    item.control->setGeometry(x, y, w, h);
  }
}

QString TMainForm1::CaptionText(int line) const {
  switch (line) {
    case 1:
      return ui->Label1->text();
    case 2:
      return ui->Label2->text();
    default:
      return ui->Label3->text();
  }
}

QString TMainForm1::OkCaption() const { return ui->ClearButton1->Caption(); }
