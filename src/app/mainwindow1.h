// TMainForm1: the borderless preview window. Its FormCreate runs the whole
// pipeline: intake, then per job read, scale and compose; a single picture is
// then shown sliding in and waits for OK/Cancel, a batch (see batch.h) is
// saved picture by picture while the window shows each one and its progress
// on the OK button.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/punchsettings.h"
#include "imaging/picture.h"

class QTimer;
class TBatch;
class TPunchComposer;
struct TComposition;
struct TIntake;
namespace Ui {
class TMainForm1;
}

class TMainForm1 : public QWidget {
  Q_OBJECT

 public:
  // The edge the single-mode preview slides in from.
  enum class TSlideDirection { FromLeft = 0, FromRight = 1, FromTop = 2, FromBottom = 3 };
  static TSlideDirection SlideDirectionForMinute(int minute);

  // What the window reads from its surroundings; injectable so tests can fix it.
  struct TEnvironment {
    // The monitor holding the pointer at start (the primary when none does),
    // in global coordinates.
    QRect screen;
    int minute = 0;    // the local clock's minute at construction
    QPoint pointer{};  // the mouse pointer's screen position at construction
    // False where the compositor places windows: the preview then does not slide.
    bool placesWindows = true;
  };
  static TEnvironment CurrentEnvironment();

  // arguments: the command line after the program path.
  explicit TMainForm1(std::vector<std::string> arguments, const TEnvironment& environment,
                      QWidget* parent = nullptr);
  ~TMainForm1() override;

  // Runs intake and the job loop. Pipeline failures propagate to the caller.
  void FormCreate();

  // Intake done before the window is built (BeginIntake), so building the
  // window overlaps a batch's first pictures. FormCreate takes it from
  // UseIntake, or begins its own.
  void UseIntake(std::shared_ptr<TIntake> intake) { FIntake = std::move(intake); }

  // True when FormCreate left nothing to wait for (no job, or a batch ran).
  bool Finished() const { return FFinished; }
  bool SingleMode() const { return jobList.size() == 1; }
  bool HasArguments() const { return !FArguments.empty(); }

  void Timer1Timer();
  void ClearButton1Click();
  void ClearButton2Click();
  // Enter acts as OK, Esc as Cancel.
  void FormKeyDown(int key);

  const PunchSettings& Settings() const { return FSettings; }
  const Picture& PreviewPicture() const { return FPreview; }
  QString CaptionText(int line) const;
  QString OkCaption() const;
  QTimer* Timer1() const { return FTimer1; }
  int TimerTag() const { return FTimerTag; }

  // Fields of the window.
  std::string outputPath;
  std::string jobExtension;  // of the job being composed
  std::string sourcePath;
  TSlideDirection slideDirection = TSlideDirection::FromTop;
  bool cancelRequested = false;
  // The job list: complete before the first job runs, never sorted.
  std::vector<std::string> jobList;

  // Called once a batch picture has been saved (tests press Cancel here).
  // The event loop runs once after it, before the next picture.
  std::function<void(int index)> OnBatchPictureSaved;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void RunBatch(TBatch& batch);
  void ApplyComposition(const TComposition& composition);
  void ShowBatchProgress(size_t index, size_t count);
  void LayoutAnchoredControls();
  // Where a slide from the window's direction begins for a window of the
  // given size: beyond that edge of the screen by the window and the gap, or
  // by the gap alone on the right and bottom.
  QPoint SlideStart(QSize size, int farGap) const;

  std::unique_ptr<Ui::TMainForm1> ui;
  std::unique_ptr<TPunchComposer> FComposer;
  std::vector<std::string> FArguments;
  TEnvironment FEnvironment;
  PunchSettings FSettings;
  Picture FPreview;
  // Anchored controls with their geometry in the layout file's client size.
  struct TAnchored {
    QWidget* control;
    QRect design;
    Qt::Edges anchors;
  };
  std::vector<TAnchored> FAnchored;
  QSize FDesignSize;
  QTimer* FTimer1 = nullptr;
  int FTimerTag = 0;
  bool FFinished = false;
  std::shared_ptr<TIntake> FIntake;
  TBatch* FBatch = nullptr;  // the batch running inside FormCreate
};
