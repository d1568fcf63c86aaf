// The application object: title, the default error display, and the choice
// of a headless platform when there is no display.
#pragma once

#include <QApplication>
#include <exception>
#include <string>

class TApplication : public QApplication {
 public:
  static constexpr const char* Title = "ぱんちれっと";

  TApplication(int& argc, char** argv);

  // True on a platform nobody can see or answer (offscreen, minimal).
  static bool Headless();
  // False where the compositor places windows (Wayland): no slide there.
  static bool PlacesWindows();
  // False where a window's mask only limits its input (Wayland).
  static bool ShapesWindows() { return PlacesWindows(); }
  // Empty unless a display was wanted but its platform did not load; then the
  // line for the terminal that says what is missing.
  static std::string MissingDisplay();

  // The default error display: a message box titled with the application's
  // title (skipped when headless) and the same text on stderr. A failure
  // about a file gets a second line with the file and the reason.
  static void ShowException(const std::exception& error);
  static void ShowException(const std::string& message);

  // Exceptions never unwind through Qt's event loop: they end here.
  bool notify(QObject* receiver, QEvent* event) override;

  // Set once an error has been shown; the program then exits with status 1.
  static bool ErrorShown() { return FErrorShown; }

 private:
  static bool FErrorShown;
};

// The platforms Qt tries in turn, for the user's QT_QPA_PLATFORM, DISPLAY and
// WAYLAND_DISPLAY (null or empty: unset): the user's choice first, then X11
// (the program places its own windows, also under XWayland), then Wayland,
// and offscreen last, so a plugin that cannot load never aborts a batch.
std::string PlatformCandidates(const char* user, const char* display, const char* wayland);

// Puts the candidates into QT_QPA_PLATFORM. Call before the application
// object is made.
void SelectPlatformForEnvironment();

// Gives the windows the program's icon. Does nothing on a headless platform,
// which shows no window.
void InstallWindowIcon();

// Maps the window design's face names onto installed faces with Japanese glyphs.
void InstallFontSubstitutes();
