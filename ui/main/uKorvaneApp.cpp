#include "ui/main/uKorvaneApp.h"

#include "core/uThread.h"
#include "resources/kvresources.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uKorvaneWindows.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/main/uSplash.h"
#include "ui/main/uStartWarmUp.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uX11.h"

#include <consoleapi.h>
#include <errhandlingapi.h>
#include <synchapi.h>
#include <winerror.h>
#include <winreg.h>
#include <winuser.h>

#include <QApplication>
#include <QSessionManager>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

const char* KorvaneMutexName() {
  static const std::string name = [] {
    std::string n = "BrantholmKorvane";
    for (char& c : n)
      if (c == '\\') c = '_';
    return n;
  }();
  return name.c_str();
}

namespace {

// SIGINT, SIGHUP and SIGTERM arrive here on the platform layer's thread: the
// program ends the way the tray's "Exit" ends it, from the event loop.
BOOL WINAPI OnCtrlEvent(DWORD) {
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
  return TRUE;
}

}  // namespace

std::string MissingDisplayReason() {
  if (std::getenv("QT_QPA_PLATFORM")) return {};  // the platform is chosen explicitly
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland && *wayland) return {};
  const char* x11 = std::getenv("DISPLAY");
  if (!x11 || !*x11) return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
  if (!X11DisplayReachable(x11)) return std::string("cannot open the display \"") + x11 + "\"";
  return {};
}

int KorvaneMain(int argc, char** argv) {
  // 1. Single instance.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, KorvaneMutexName());
  const bool first = mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  if (!first) {
    // 2. Hand over to the running instance, whatever the command line says.
    if (HWND w = FindWindowA("TMainForm", "Korvane")) PostMessageA(w, WM_KORVANE_RESTORE, 0, 0);
    if (mutex) CloseHandle(mutex);
    return 0;
  }
  // Only the first argument is looked at, exactly "-t"; before Qt takes its own options out.
  const bool startHidden = argc > 1 && std::strcmp(argv[1], "-t") == 0;

  // Without a window system there is nothing to show: one line, not Qt's abort.
  const std::string noDisplay = MissingDisplayReason();
  if (!noDisplay.empty()) {
    std::fprintf(stderr, "korvane: %s; Korvane needs a desktop session\n", noDisplay.c_str());
    CloseHandle(mutex);
    return 1;
  }

  // 3. The application and its windows.
  int exitCode = 0;
  {
    // Declared first, so gone last: the threads below are joined before it goes.
    std::optional<QApplication> application;
    // The connection, fonts and pictures the windows need are prepared on the other
    // core while Qt sets itself up.
    TStartWarmUp warmUp;
    KorvaneInitResources();
    const TSkinPrefetch prefetch(TKorvaneWindows::StartPictures());
    QApplication& app = application.emplace(argc, argv);
    warmUp.ApplicationReady();
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setQuitOnLastWindowClosed(false);  // hiding to the tray is not an exit
    LoadServerUrls();
    TQtUiQueue queue;
    InstallUiQueue(&queue);

    auto windows = std::make_unique<TKorvaneWindows>();
    TMainForm& main = windows->Main();

    // 4. "-t": hidden in the notification area, and no splash in this run.
    if (startHidden)
      windows->Splash().MarkDone();
    else
      main.show();
    // Every way out ends the message loop: the Close button, the tray's
    // "Exit", WM_CLOSE, the termination signals and the session's end.
    SetConsoleCtrlHandler(OnCtrlEvent, TRUE);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &main, [&main](QSessionManager&) {
      main.SaveRunState();  // the session may end the process before the loop returns
      main.CloseProgram();
    });

    // 5. The message loop.
    main.CurrentStep = 1;
    exitCode = app.exec();

    // The one end of the run, however it came.
    SetConsoleCtrlHandler(OnCtrlEvent, FALSE);
    main.EndRun();  // settings saved, "ccc3" deleted, the tray icon gone
    // From here no worker reaches a window: a waiting call returns, completions are skipped.
    CloseUiQueue();
    if (!TThread::TerminateAll(ExitWaitMs)) {
      // A worker still blocked in the network reads the run's state: the
      // windows stay standing and the process ends here, its work done.
      CloseHandle(mutex);
      // _Exit runs no exit handlers: registry values not yet written are written here.
      RegFlushKey(HKEY_CURRENT_USER);
      RegFlushKey(HKEY_LOCAL_MACHINE);
      std::fflush(nullptr);
      std::_Exit(exitCode);
    }
    windows.reset();  // in reverse order of creation
    InstallUiQueue(nullptr);
  }
  CloseHandle(mutex);
  return exitCode;
}
