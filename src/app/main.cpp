// Punchlet: punches the pictures named on the command line (see README.md).
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/mainwindow1.h"
#include "app/startuptrace.h"
#include "imaging/jpegimage.h"
#include "platform/errors.h"

int main(int argc, char** argv) {
  MarkStartup("main entered");
  std::vector<std::string> arguments(argv + 1, argv + argc);
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
    // A batch's first pictures are made while the window is built.
    std::shared_ptr<TMainForm1::TIntake> intake;
    if (!arguments.empty()) intake = TMainForm1::BeginIntake(arguments);
    TMainForm1 MainForm1(arguments, TMainForm1::CurrentEnvironment());
    MarkStartup("window made");
    if (!MainForm1.HasArguments() && TApplication::Headless()) {
      if (const std::string why = TApplication::MissingDisplay(); !why.empty())
        std::fprintf(stderr, "%s\n", why.c_str());
      std::fprintf(stderr, "%s: 設定画面を表示するには画面が必要です\n", TApplication::Title);
      return 2;
    }
    MainForm1.UseIntake(std::move(intake));
    MainForm1.FormCreate();
    if (MainForm1.Finished()) return TApplication::ErrorShown() ? 1 : 0;
    if (MainForm1.HasArguments() && TApplication::Headless()) {
      if (const std::string why = TApplication::MissingDisplay(); !why.empty())
        std::fprintf(stderr, "%s\n", why.c_str());
      std::fprintf(
          stderr, "%s: プレビューを表示するには画面が必要です (一枚だけのときは確認画面が出ます)\n",
          TApplication::Title);
      return 2;
    }
    MainForm1.show();
    MainForm1.raise();
    MainForm1.activateWindow();  // Enter and Esc go to the preview at once
    // For the start-up benchmark: leave once the window is up.
    if (std::getenv("PUNCHLET_BENCH_QUIT_WHEN_SHOWN") != nullptr)
      QTimer::singleShot(0, &app, [&MainForm1] { MainForm1.close(); });
    const int status = app.exec();
    return TApplication::ErrorShown() ? 1 : status;
  } catch (const EAbort&) {
    return 1;
  } catch (const std::exception& error) {
    TApplication::ShowException(error);
    return 1;
  }
}
