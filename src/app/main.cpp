// Punchlet: punches the pictures named on the command line (see README.md).
#include <QScreen>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/batch.h"
#include "app/mainwindow1.h"
#include "app/startuptrace.h"
#include "imaging/jpegimage.h"
#include "platform/errors.h"

namespace {
// A line for whoever runs the program from a terminal; windows never show it.
void SayToTerminal(const std::string& text) {
  std::fprintf(stderr, "punchlet: %s\n", text.c_str());
  std::fflush(stderr);
}

// When a display was asked for but its platform could not be loaded, says
// what is missing before the refusal.
void SayWhyNoWindow() {
  if (const std::string why = TApplication::MissingDisplay(); !why.empty())
    std::fprintf(stderr, "%s\n", why.c_str());
}

bool AnyLooksLikeAnOption(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments)
    if (argument.starts_with('-')) return true;
  return false;
}

int ExitStatus(int status) { return TApplication::ErrorShown() ? 1 : status; }
}  // namespace

int main(int argc, char** argv) {
  MarkStartup("main entered");
  std::vector<std::string> arguments(argv + 1, argv + argc);
  // A reader of the listing that goes away (`punchlet DIR | head -1`) must
  // not end the batch half way.
  std::signal(SIGPIPE, SIG_IGN);
  SelectPlatformForEnvironment();
  // The command line holds only paths: Qt must not take "-platform" or
  // "-stylesheet" from it, so it sees the program's name alone.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  TApplication app(qtArgc, qtArgv);
  Q_INIT_RESOURCE(punchlet);
  MarkStartup("application made");

  // A screen of 256 colours or fewer gets paletted JPEG decodes.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    JPEGDefaults().EightBitOutput = screen->depth() <= 8;

  try {
    std::shared_ptr<TIntake> intake;
    if (arguments.empty()) {
      if (TApplication::Headless()) {
        SayWhyNoWindow();
        SayToTerminal("the settings window needs a display");
        return 2;
      }
    } else {
      // A batch's first pictures are made while the window is built.
      intake = BeginIntake(arguments);
      if (intake->jobs.empty()) {
        SayToTerminal(std::string("no BMP or JPEG file found in the arguments (see punchlet(1))") +
                      (AnyLooksLikeAnOption(arguments)
                           ? "; every argument is taken as a path, options included"
                           : ""));
        return 0;
      }
      if (TApplication::Headless()) {
        if (!intake->batch) {
          SayWhyNoWindow();
          SayToTerminal(
              "a single picture needs a display, to confirm its preview "
              "(two or more are punched without one)");
          return 2;
        }
        // Nobody could see a window: the batch runs without one.
        intake->batch->Run();
        return ExitStatus(0);
      }
    }

    TMainForm1 MainForm1(arguments, TMainForm1::CurrentEnvironment());
    MarkStartup("window made");
    MainForm1.UseIntake(std::move(intake));
    InstallWindowIcon();
    MainForm1.FormCreate();
    if (MainForm1.Finished()) return ExitStatus(0);
    MainForm1.show();
    MainForm1.raise();
    MainForm1.activateWindow();  // Enter and Esc go to the preview at once
    // For the start-up benchmark: leave once the window is up.
    if (std::getenv("PUNCHLET_BENCH_QUIT_WHEN_SHOWN") != nullptr)
      QTimer::singleShot(0, &app, [&MainForm1] { MainForm1.close(); });
    return ExitStatus(app.exec());
  } catch (const EAbort&) {
    return 1;
  } catch (const std::exception& error) {
    TApplication::ShowException(error);
    return 1;
  }
}
