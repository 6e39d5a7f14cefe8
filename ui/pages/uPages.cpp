#include "ui/pages/uPages.h"

#include "ui/widgets/uDiagram.h"
#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/pages/uFrame1.h"
#include "ui/pages/uFrame2.h"
#include "ui/pages/uFrame3.h"
#include "ui/pages/uFrame4.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uShellHooks.h"

void UpdateMainDiagrams(TMainForm& main) {
  auto* start = dynamic_cast<TFrame1*>(main.Page(1));
  auto* results = dynamic_cast<TFrame3*>(main.Page(3));
  UpdateDiagrams(main.State, start ? start->PanDiag : nullptr, results ? results->PanDiag : nullptr);
}

void InstallKorvanePages(TShellHooks& hooks) {
  // The first page's factory also gives the window its diagram operation,
  // before the first ShowStep needs it.
  hooks.CreatePage[1] = [](TMainForm& main) -> TWizardPage* {
    main.OnUpdateDiagram = [&main] { UpdateMainDiagrams(main); };
    return new TFrame1(main);
  };
  hooks.CreatePage[2] = [](TMainForm& main) -> TWizardPage* { return new TFrame2(main); };
  hooks.CreatePage[3] = [](TMainForm& main) -> TWizardPage* { return new TFrame3(main); };
  hooks.CreatePage[4] = [](TMainForm& main) -> TWizardPage* { return new TFrame4(main); };
  hooks.CreateDrvInfoForm1 = []() -> QWidget* { return new TDrvInfoForm1; };
  hooks.CreateDrvInfoForm2 = []() -> QWidget* { return new TDrvInfoForm2; };
}
