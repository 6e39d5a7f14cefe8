// An Xvfb server for the tests that need a real window system. Under load (or
// beside another X server) Xvfb now and then dies while announcing its
// display, so a start is tried again until the display answers.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

class TXvfbDisplay {
 public:
  TXvfbDisplay() = default;
  TXvfbDisplay(const TXvfbDisplay&) = delete;
  TXvfbDisplay& operator=(const TXvfbDisplay&) = delete;
  ~TXvfbDisplay() { Stop(); }

  static bool OnPath(const char* prog) {
    return std::system((std::string("command -v ") + prog + " >/dev/null 2>&1").c_str()) == 0;
  }

  // True once a display answers; Display() is then ":N".
  bool Start(int attempts = 4) {
    for (int attempt = 0; attempt < attempts && display_.empty(); ++attempt) TryOnce();
    return !display_.empty();
  }
  const std::string& Display() const { return display_; }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    display_.clear();
  }

 private:
  void TryOnce() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-br",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    char buf[32] = {};
    const ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
    ::close(fds[0]);
    std::string d = n > 0 ? ":" + std::string(buf, static_cast<size_t>(n)) : std::string();
    while (!d.empty() && d.back() == '\n') d.pop_back();
    for (int i = 0; !d.empty() && i < 50; ++i) {
      if (std::system(("DISPLAY=" + d + " xwininfo -root >/dev/null 2>&1").c_str()) == 0) {
        display_ = d;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Stop();
  }

  pid_t pid_ = -1;
  std::string display_;
};
