// The time from the start of the program to its first window on screen (the X server's
// MapNotify of a top-level window), beside a trivial Qt 6 Widgets window of 750 x 550
// started the same way, under Xvfb. The two are launched alternately; each is ended once
// its window is mapped.
//
//   bench_first_window [--runs N] [--program PATH]   (default 11 runs of this build's korvane)
//
// Measured twice: first with a private session bus for both programs, as a desktop
// session has one (the figure to go by), then without one. Without a bus, the first
// accessibility event of a program (the program's first control; the trivial window's
// map) makes libdbus try to autolaunch a bus, which forks the program and searches PATH
// for dbus-launch: a cost no desktop start pays, and one that falls before the program's
// map but after the trivial window's.
//
// Prints, for each, the median of each program, their ratio, and the peak resident memory
// of each.
#include "support/ScratchMachine.h"
#include "support/XvfbDisplay.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Waits for the next top-level (not override-redirect) window to be mapped; false after
// `limitMs`.
bool WaitForMap(xcb_connection_t* c, int limitMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
  while (Clock::now() < end) {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
      const bool mapped = (e->response_type & 0x7F) == XCB_MAP_NOTIFY &&
                          !reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect;
      std::free(e);
      if (mapped) return true;
    }
    const int left =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
    if (left <= 0 || poll(&p, 1, left) < 0) break;
  }
  return false;
}

struct Run {
  double ms = -1;
  long peakKb = 0;
};

// One start of argv on the display, until its first window is mapped.
Run Once(xcb_connection_t* c, const std::vector<std::string>& argv, const std::string& display) {
  // Events of earlier runs are gone before the clock starts.
  xcb_flush(c);
  while (xcb_generic_event_t* e = xcb_poll_for_event(c)) std::free(e);
  Run r;
  const auto t0 = Clock::now();
  pid_t pid = korvane::testing::Spawn(argv, display);
  if (pid < 0) return r;
  if (WaitForMap(c, 30000)) r.ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  kill(pid, SIGKILL);  // ended at once: its way out is not what is measured
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  r.peakKb = ru.ru_maxrss;
  return r;
}

// `runs` alternating starts of each; prints the medians, their ratio and the peak memory.
bool Measure(xcb_connection_t* c, const std::string& display, const std::string& programPath, int runs,
             const char* how) {
  std::vector<double> program, trivial;
  long programKb = 0, trivialKb = 0;
  for (int i = 0; i < runs; ++i) {
    const Run a = Once(c, {programPath}, display);
    const Run b = Once(c, {TRIVIAL_PROGRAM}, display);
    if (a.ms < 0 || b.ms < 0) {
      std::fprintf(stderr, "run %d: no window (program %.1f ms, trivial %.1f ms)\n", i, a.ms, b.ms);
      continue;
    }
    program.push_back(a.ms);
    trivial.push_back(b.ms);
    programKb = std::max(programKb, a.peakKb);
    trivialKb = std::max(trivialKb, b.peakKb);
  }
  if (program.empty()) {
    std::printf("%s: no run put a window on screen\n", how);
    return false;
  }
  const double p = Median(program), t = Median(trivial);
  std::printf("%s:\n", how);
  std::printf(
      "  first window: program %.1f ms, trivial Qt window %.1f ms, ratio %.2f (median of %zu alternating "
      "runs)\n",
      p, t, p / t, program.size());
  std::printf("  peak memory: program %.1f MiB, trivial Qt window %.1f MiB\n", programKb / 1024.0,
              trivialKb / 1024.0);
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 11;
  std::string programPath = KORVANE_PROGRAM;  // --program: another build of it, to compare
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--program") == 0) programPath = argv[i + 1];
  }
  // The bundled machine comes from this source tree unless told otherwise.
  setenv("KORVANE_SOURCE_DIR", KORVANE_BENCH_SOURCE_DIR, 0);
  korvane::testing::XvfbDisplay x;
  const std::string why = x.StartWith();
  if (!why.empty()) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 2;
  }
  xcb_connection_t* c = xcb_connect(x.Display().c_str(), nullptr);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "cannot connect to %s\n", x.Display().c_str());
    return 2;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);

  // The program on a machine folder of its own, with its runtime folder private.
  korvane::testing::ScratchMachine machine("winxp-pro");
  const std::string run = machine.Path("run");
  mkdir(run.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);

  bool measured = false;
  {
    const korvane::testing::SessionBus bus;
    if (bus.Running())
      measured |= Measure(c, x.Display(), programPath, runs, "with a session bus, as on a desktop");
    else
      std::printf("with a session bus: not measured (dbus-daemon did not start)\n");
  }
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  measured |= Measure(c, x.Display(), programPath, runs, "without a session bus");
  xcb_disconnect(c);
  return measured ? 0 : 1;
}
