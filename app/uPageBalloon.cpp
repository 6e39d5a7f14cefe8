// The pages show the scan's error notice through ShowBalloonHook. They sit
// above the shell, so the program itself joins the hook to the tray: the
// registration runs at static initialisation, the assignment once the tray exists.
#include "ui/pages/uPageHooks.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uTray.h"

namespace {

[[maybe_unused]] const bool kAttached = [] {
  AddTrayCreatedHook([](TMainForm&) {
    ShowBalloonHook = [](const std::string& title, const std::string& text, int iconKind, int seconds) {
      if (MainForm) MainForm->ShowBalloon(title, text, iconKind, seconds);
    };
  });
  return true;
}();

}  // namespace
