// The window system of the tests that need a real one: an Xvfb server, the
// programs they need on PATH, a tray host (trayer) and the window system's own
// view of the windows (xwininfo). Built once as kv_test_x11.
//
//   korvane::testing::XvfbDisplay x;
//   const std::string why = x.StartWith({"trayer"});   // "" or why the tests skip
//   korvane::testing::Trayer tray(x.Display());
//   const std::string id = WindowOfClass(x.Display(), "TMainForm");
#pragma once

#include "support/CommandOutput.h"

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvane::testing {

bool OnPath(const std::string& program);
// "" when every program is on PATH, else why the tests skip:
// "<program> missing (scripts/bootstrap installs it)".
std::string MissingProgram(std::initializer_list<const char*> programs);

// Asks done() every 100 ms until it holds or limit has passed, and once more
// at the end (for tests that wait on other processes, not on an event loop).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// An Xvfb server. Under load (or beside another X server) Xvfb now and then
// dies while starting, so a start is tried again, on another display number,
// until the display answers.
class XvfbDisplay {
 public:
  XvfbDisplay() = default;
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;
  ~XvfbDisplay() { Stop(); }

  // True once a display answers; Display() is then ":N".
  bool Start(int attempts = 4);
  // Checks Xvfb, xwininfo and the other programs on PATH, then starts the
  // server: "" when it runs, else why the tests skip.
  std::string StartWith(std::initializer_list<const char*> programs = {});
  void Stop();
  const std::string& Display() const { return display_; }
  // "DISPLAY=:N QT_QPA_PLATFORM=xcb ", the start of an `env` command line
  // that runs a Qt program on this display.
  std::string Env() const;
  // Points this process at the display (DISPLAY, QT_QPA_PLATFORM=xcb); the
  // QApplication reads both once, so this comes before it.
  void Export() const;

 private:
  void TryOnce();

  pid_t pid_ = -1;
  std::string display_;
};

// A child process of the test, killed with SIGTERM if the test dies first.
// display: the DISPLAY it gets (empty: the test's own); outFd, errFd: its standard
// output and error (-1: the test's). -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& display = {}, int outFd = -1,
            int errFd = -1);
// SIGTERM, then waits for it; pid becomes -1.
void StopChild(pid_t& pid);

// A private session bus (dbus-daemon --session), as a desktop session has one. While it
// lives, DBUS_SESSION_BUS_ADDRESS names it, for this process and the children it starts.
class SessionBus {
 public:
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;
  bool Running() const { return !address_.empty(); }
  const std::string& Address() const { return address_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// trayer, a tray host along the top edge, on display (empty: the test's own).
pid_t StartTrayer(const std::string& display = {});
class Trayer {
 public:
  explicit Trayer(const std::string& display = {}) : pid_(StartTrayer(display)) {}
  ~Trayer() { StopChild(pid_); }
  Trayer(const Trayer&) = delete;
  Trayer& operator=(const Trayer&) = delete;

 private:
  pid_t pid_ = -1;
};

// What the window system shows: `xwininfo -root -tree`.
std::string WindowTree(const std::string& display);
// The id ("0x...") of the first window whose WM_CLASS class is cls; "" when none.
std::string WindowOfClass(const std::string& display, const std::string& cls);
// The id of the window named title inside trayer's panel (a docked tray
// icon); "" when none.
std::string TrayIconWindow(const std::string& display, const std::string& title = "Korvane");

struct XWindowInfo {
  bool viewable = false;
  int x = 0, y = 0;  // absolute upper-left corner
  int width = 0, height = 0;
};
// The state and place of a window; false when it is gone (or id is empty).
bool WindowInfo(const std::string& display, const std::string& id, XWindowInfo& info);

}  // namespace korvane::testing
