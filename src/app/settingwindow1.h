// TSettingForm1: the speech-bubble settings window. Its 22 group buttons and
// Edit1 show the punch settings record of the preview window; the load
// presses the buttons from the stored settings, OK stores them and closes,
// Cancel closes without storing.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

#include "app/punchsettings.h"

class QMimeData;
class QTimer;
class TShapeButton;
namespace Ui {
class TSettingForm1;
}

class TSettingForm1 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int ClientWidth = 270;
  static constexpr int ClientHeight = 320;
  static constexpr int MaxTypedText = 200;

  // settings: the record the pipeline reads; it must outlive the window.
  explicit TSettingForm1(PunchSettings& settings, QWidget* owner = nullptr);
  ~TSettingForm1() override;

  // Started without arguments: creates the window as SettingForm1, places it
  // beside the pointer and shows it modally until it closes.
  static void ShowBesidePointer(QWidget* owner, PunchSettings& settings, const QPoint& pointer,
                                const QRect& screen);
  // The window's top-left for a pointer position: right and bottom edges stay
  // on the screen (the pointer's monitor) and the top not above it; the left
  // edge is not clamped.
  static QPoint PlaceBesidePointer(const QPoint& pointer, const QRect& screen);
  // The information page for a program file: its name without extension,
  // appended as it is.
  static QUrl InfoAddress(const QString& programFile);

  void FormCreate();
  // The load: presses the buttons from the stored settings, once.
  void Timer1Timer();
  // OK: stores the buttons and the text, then closes. A failed write is
  // reported and the window stays open.
  void ShapeButton0_1Click();
  // Cancel: closes without storing.
  void ShapeButton0_2Click();
  // Info.: opens the information page; the window stays open.
  void ShapeButton0Click();
  // Enter is OK and Escape is Cancel, on the window and in Edit1.
  bool FormKeyDown(int key);

  bool Loaded() const { return FLoaded; }
  QTimer* Timer1() const { return FTimer1; }
  TShapeButton* GroupButton(int group, int number) const;
  // The program file whose name the information page is sent; the running
  // program's by default.
  void SetProgramFile(const QString& path) { FProgramFile = path; }

  // Starts the program again with the given paths as its arguments; true
  // when it started. Replaceable, so tests see what a drop would punch.
  using TLauncher = std::function<bool(const QStringList& paths)>;
  void SetLauncher(TLauncher launcher) { FLauncher = std::move(launcher); }
  // The local paths of a drop that holds a picture file or a folder; none
  // when the drop holds neither.
  static QStringList DroppedPaths(const QMimeData* data);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ShowSettings();
  void SetImprintText(const QString& text);
  // Stores the buttons and the text as OK does; false after a reported failure.
  bool StoreChoices();
  void SelectInitialText();
  void SetUpKeyboardAndNames();
  // The text field, OK, Cancel, Info., then each group's stop from top to bottom.
  std::vector<QWidget*> TabStops() const;
  // Left/Up and Right/Down in a group press its previous or next button.
  bool MoveInGroup(TShapeButton* button, int step);

  std::unique_ptr<Ui::TSettingForm1> ui;
  PunchSettings& FSettings;
  QTimer* FTimer1 = nullptr;
  QString FProgramFile;
  TLauncher FLauncher;
  bool FLoaded = false;
  bool FInfoHeld = false;  // Info. opened the page during this press
};

// The settings window of this run, or null while there is none.
extern TSettingForm1* SettingForm1;
