#include "app/application.h"

#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <QThreadPool>
#include <cstdio>
#include <cstdlib>

#include "imaging/canvas.h"
#include "platform/errors.h"

bool TApplication::FErrorShown = false;

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Punchlet"));
  setApplicationDisplayName(QString::fromUtf8(Title));
  setDesktopFileName(QStringLiteral("punchlet"));  // Wayland shells find the icon through it
  InstallFontSubstitutes();
  // Qt's drawing asks for its global thread pool even where it draws inline
  // (see the canvas), and the first font loads the font configuration. Both
  // are made here, on one thread while memory is plentiful, rather than by
  // racing workers under a tight limit, where the font library fails badly.
  QThreadPool::globalInstance();
  TCanvas::DefaultFontFamily();
}

bool TApplication::Headless() {
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void TApplication::ShowException(const std::string& message) { ShowException(Exception(message)); }

void TApplication::ShowException(const std::exception& error) {
  FErrorShown = true;
  const std::string text = ErrorReport(error);
  std::fprintf(stderr, "%s: %s\n", Title, text.c_str());
  std::fflush(stderr);
  if (qApp == nullptr || Headless()) return;
  InstallWindowIcon();
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(Title), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.exec();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const EAbort&) {
    return false;
  } catch (const std::exception& error) {
    ShowException(error);
    exit(1);
  }
  return false;
}

namespace {
QtMessageHandler previousHandler = nullptr;

// Qt's complaint about a missing runtime folder says nothing a user can act on.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  if (previousHandler != nullptr) previousHandler(type, context, message);
}
}  // namespace

void SelectPlatformForEnvironment() {
  previousHandler = qInstallMessageHandler(FilterMessages);
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

void InstallWindowIcon() {
  if (TApplication::Headless() || !QGuiApplication::windowIcon().isNull()) return;
  // The built-in copy of the installed icon. Asking the icon theme first costs
  // 6 to 10 ms of CPU before the preview can show; desktops that theme icons
  // match the window to the launcher anyway (Wayland: the desktop file name,
  // X11: the window class "punchlet").
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addFile(QString(":/punchlet/icon/%1.png").arg(size));
  QGuiApplication::setWindowIcon(icon);
}

void InstallFontSubstitutes() {
  // Substitutes only count when the face itself is missing, so no look-up is
  // needed here: asking the font database would load every font's
  // configuration before a batch's first picture, which needs no font.
  const QString designFace = QString::fromUtf8("ＭＳ Ｐゴシック");
  QFont::insertSubstitutions(designFace, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                          QStringLiteral("Noto Sans CJK JP")});
}
