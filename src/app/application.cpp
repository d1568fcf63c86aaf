#include "app/application.h"

#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <QThreadPool>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/errors.h"

bool TApplication::FErrorShown = false;

namespace {
// The first platform asked for, when it is one that shows windows.
std::string wantedPlatform;
std::string wantedDisplay;
bool platformStarting = false;
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  platformStarting = false;
  setApplicationName(QStringLiteral("Punchlet"));
  setApplicationDisplayName(QString::fromUtf8(Title));
  setDesktopFileName(QStringLiteral("punchlet"));  // Wayland shells find the icon through it
  InstallFontSubstitutes();
  // Qt's drawing asks for its global thread pool even where it draws inline
  // (see the canvas): made here, on one thread, rather than by racing workers
  // under a tight limit.
  QThreadPool::globalInstance();
}

bool TApplication::Headless() {
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

bool TApplication::PlacesWindows() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

std::string TApplication::MissingDisplay() {
  if (wantedPlatform.empty() || !Headless()) return {};
  if (wantedPlatform == "wayland")
    return "punchlet: cannot open a window on Wayland display '" + wantedDisplay +
           "': the Qt Wayland platform plugin (package qt6-wayland) is missing or cannot be "
           "loaded, or the compositor is not reachable";
  if (wantedPlatform == "xcb")
    return "punchlet: cannot open a window on X display '" + wantedDisplay +
           "': the X server is not reachable or the Qt xcb platform plugin cannot be loaded";
  return "punchlet: the Qt platform '" + wantedPlatform +
         "' named in QT_QPA_PLATFORM cannot be loaded";
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

// Qt's complaint about a missing runtime folder says nothing a user can act on,
// and a platform that does not load is told in our own words when it matters.
void FilterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  if (platformStarting && context.category != nullptr &&
      (QLatin1String(context.category).startsWith(QLatin1String("qt.qpa.")) ||
       QLatin1String(context.category).startsWith(QLatin1String("qt.core.plugin"))))
    return;
  if (platformStarting && message.startsWith(QLatin1String("Failed to create wl_display"))) return;
  if (previousHandler != nullptr) previousHandler(type, context, message);
}
}  // namespace

std::string PlatformCandidates(const char* user, const char* display, const char* wayland) {
  const auto set = [](const char* value) { return value != nullptr && *value != '\0'; };
  std::vector<std::string> names;
  const auto add = [&names](const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  if (set(user)) add(user);
  if (set(display)) add("xcb");
  if (set(wayland)) add("wayland");
  add("offscreen");
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ";") + name;
  return list;
}

void SelectPlatformForEnvironment() {
  previousHandler = qInstallMessageHandler(FilterMessages);
  const char* user = std::getenv("QT_QPA_PLATFORM");
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const std::string list = PlatformCandidates(user, display, wayland);
  wantedPlatform = list.substr(0, list.find(';'));
  if (wantedPlatform == "offscreen" || wantedPlatform == "minimal") wantedPlatform.clear();
  const char* shown = wantedPlatform == "xcb"       ? display
                      : wantedPlatform == "wayland" ? wayland
                                                    : "";
  wantedDisplay = shown != nullptr ? shown : "";
  setenv("QT_QPA_PLATFORM", list.c_str(), 1);
  platformStarting = true;
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
