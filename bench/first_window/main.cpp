// The time from the start of the program to its first window on screen (the X server's
// MapNotify of a top-level window), beside a trivial Qt 6 Widgets window of 750 x 550
// started the same way, under Xvfb. Also the time to the first drawing into that window,
// what a user waits for: a window is mapped before it is painted. The two programs are
// launched alternately; each is ended once its window is drawn.
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
// Prints, for each, the medians of each program, their ratios, and the peak resident
// memory of each.
#include "support/ScratchMachine.h"
#include "support/XvfbDisplay.h"

#include <xcb/damage.h>
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

// Whether the program has drawn its window: the server reports damage already when it
// maps the window, so a pixel inside it is looked at, one both programs paint (the main
// window's page background; not where the splash covers it). Until the program draws, it
// shows the black root window behind it.
bool Drawn(xcb_connection_t* c, xcb_window_t window) {
  xcb_get_image_reply_t* image = xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 20, 300, 1, 1, ~0u), nullptr);
  if (!image) return false;
  const uint8_t* pixel = xcb_get_image_data(image);
  const bool drawn = xcb_get_image_data_length(image) >= 3 && (pixel[0] | pixel[1] | pixel[2]) != 0;
  std::free(image);
  return drawn;
}

struct Run {
  double mapMs = -1;    // the first top-level window mapped
  double paintMs = -1;  // the first drawing into that window
  long peakKb = 0;
};

// Waits for the next top-level (not override-redirect) window to be mapped, then for the
// first drawing into it (the DAMAGE extension reports it), filling the two times since
// `t0`; stops after `limitMs`.
void WaitForMapAndPaint(xcb_connection_t* c, uint8_t damageEvent, Clock::time_point t0, int limitMs, Run& r) {
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  const auto since = [t0] { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); };
  pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
  xcb_window_t window = XCB_NONE;
  xcb_damage_damage_t damage = XCB_NONE;
  for (;;) {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
      const uint8_t type = e->response_type & 0x7F;
      if (type == XCB_MAP_NOTIFY && window == XCB_NONE &&
          !reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect) {
        r.mapMs = since();
        // The program draws only once it has read its Expose, long after this request.
        window = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
        damage = xcb_generate_id(c);
        xcb_damage_create(c, damage, window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        xcb_flush(c);
      } else if (type == damageEvent && window != XCB_NONE &&
                 reinterpret_cast<xcb_damage_notify_event_t*>(e)->drawable == window) {
        if (Drawn(c, window)) r.paintMs = since();
      }
      std::free(e);
    }
    const int left =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
    if (r.paintMs >= 0 || left <= 0 || poll(&p, 1, left) < 0) break;
  }
  if (damage != XCB_NONE) xcb_damage_destroy(c, damage);
}

// One start of argv on the display, until its first window is mapped and drawn.
Run Once(xcb_connection_t* c, uint8_t damageEvent, const std::vector<std::string>& argv,
         const std::string& display) {
  // Events of earlier runs are gone before the clock starts.
  xcb_flush(c);
  while (xcb_generic_event_t* e = xcb_poll_for_event(c)) std::free(e);
  Run r;
  const auto t0 = Clock::now();
  pid_t pid = korvane::testing::Spawn(argv, display);
  if (pid < 0) return r;
  WaitForMapAndPaint(c, damageEvent, t0, 30000, r);
  kill(pid, SIGKILL);  // ended at once: its way out is not what is measured
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  r.peakKb = ru.ru_maxrss;
  return r;
}

// `runs` alternating starts of each; prints the medians, their ratios and the peak memory.
bool Measure(xcb_connection_t* c, uint8_t damageEvent, const std::string& display,
             const std::string& programPath, int runs, const char* how) {
  std::vector<double> program, trivial, programPaint, trivialPaint;
  long programKb = 0, trivialKb = 0;
  for (int i = 0; i < runs; ++i) {
    const Run a = Once(c, damageEvent, {programPath}, display);
    const Run b = Once(c, damageEvent, {TRIVIAL_PROGRAM}, display);
    if (a.paintMs < 0 || b.paintMs < 0) {
      std::fprintf(stderr, "run %d: no window drawn (program %.1f ms, trivial %.1f ms)\n", i, a.paintMs,
                   b.paintMs);
      continue;
    }
    program.push_back(a.mapMs);
    trivial.push_back(b.mapMs);
    programPaint.push_back(a.paintMs);
    trivialPaint.push_back(b.paintMs);
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
  const double pp = Median(programPaint), tp = Median(trivialPaint);
  std::printf("  first drawing in it: program %.1f ms, trivial Qt window %.1f ms, ratio %.2f\n", pp, tp,
              pp / tp);
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
  const xcb_query_extension_reply_t* damage = xcb_get_extension_data(c, &xcb_damage_id);
  if (!damage || !damage->present) {
    std::fprintf(stderr, "the display has no DAMAGE extension\n");
    return 2;
  }
  std::free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
  const uint8_t damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
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
      measured |=
          Measure(c, damageEvent, x.Display(), programPath, runs, "with a session bus, as on a desktop");
    else
      std::printf("with a session bus: not measured (dbus-daemon did not start)\n");
  }
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  measured |= Measure(c, damageEvent, x.Display(), programPath, runs, "without a session bus");
  xcb_disconnect(c);
  return measured ? 0 : 1;
}
