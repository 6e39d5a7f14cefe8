// What the other units plug into the program's start: the wizard pages, the
// windows they own, and anything to run once the main window exists.
#pragma once

#include <functional>

class QWidget;
class TMainForm;
class TWizardPage;

struct TShellHooks {
  // Pages for slots 1..4 (index 0 unused); an empty factory keeps the
  // placeholder page. Called during the main window's creation, before its
  // first ShowStep. Pages are created with TWizardPage(main, step, name).
  std::function<TWizardPage*(TMainForm&)> CreatePage[5];
  // The other windows, created hidden in the program's order: TMainForm,
  // TDrvInfoForm1, TDrvInfoForm2, TAboutForm, TInfoForm, TDownForm, TSplashForm.
  // The program deletes them at exit in reverse order.
  std::function<QWidget*()> CreateDrvInfoForm1;
  std::function<QWidget*()> CreateDrvInfoForm2;
  std::function<QWidget*()> CreateDownForm;
  // Runs after the main window's creation (tray icon, timers).
  std::function<void(TMainForm&)> MainFormCreated;
};
