// Waits of the Qt tests that run the event loop while they wait, and the
// top-level widgets Qt makes of its own (balloons, tray icons).
#pragma once

#include <functional>

class QWidget;

namespace korvane::testing {

// Runs the event loop until done() or ms have passed; returns done().
bool WaitFor(const std::function<bool()>& done, int ms);
// The first top-level widget of a class ("QBalloonTip"), shown ones only when asked.
QWidget* TopLevelOfClass(const char* className, bool visibleOnly = true);

}  // namespace korvane::testing
