#include "ui/main/uKorvaneApp.h"

#include "core/uThread.h"
#include "resources/kvresources.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uAbout.h"
#include "ui/main/uInfo.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/main/uSplash.h"

#include <errhandlingapi.h>
#include <synchapi.h>
#include <winerror.h>
#include <winuser.h>

#include <QApplication>

#include <cstring>
#include <memory>
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

int KorvaneMain(int argc, char** argv, const TShellHooks& hooks) {
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

  // 3. The application and its windows.
  int exitCode = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setQuitOnLastWindowClosed(false);  // hiding to the tray is not an exit
    KorvaneInitResources();
    LoadServerUrls();
    TQtUiQueue queue;
    InstallUiQueue(&queue);

    std::vector<std::unique_ptr<QWidget>> windows;
    windows.emplace_back(new TMainForm(hooks));
    if (hooks.CreateDrvInfoForm1) windows.emplace_back(hooks.CreateDrvInfoForm1());
    if (hooks.CreateDrvInfoForm2) windows.emplace_back(hooks.CreateDrvInfoForm2());
    windows.emplace_back(new TAboutForm);
    windows.emplace_back(new TInfoForm);
    if (hooks.CreateDownForm) windows.emplace_back(hooks.CreateDownForm());
    auto* splash = new TSplashForm;
    windows.emplace_back(splash);
    InstallGzipErrorBox();

    // 4. "-t": hidden in the notification area, and no splash in this run.
    if (startHidden)
      splash->MarkDone();
    else
      MainForm->show();
    // 5. The message loop.
    MainForm->CurrentStep = 1;
    exitCode = app.exec();

    // The end: no worker outlives the data it reads, then the windows go in
    // reverse order; the main window last saves the settings and deletes "ccc3".
    CloseUiQueue();
    TThread::TerminateAll(3000);
    RemoveGzipErrorBox();
    while (!windows.empty()) windows.pop_back();
    InstallUiQueue(nullptr);
  }
  CloseHandle(mutex);
  return exitCode;
}
