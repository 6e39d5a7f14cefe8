// An Xvfb server for the tests that need a real window system. Under load (or
// beside another X server) Xvfb now and then dies while starting, so a start
// is tried again, on another display number, until the display answers.
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
  // An explicit display number, different for each test process and try:
  // with -displayfd every server starts its search at :0, and a server that
  // loses that race removes the socket of the one that won it.
  void TryOnce() {
    static int next = 100 + static_cast<int>(::getpid() % 400) * 2;
    const std::string d = ":" + std::to_string(next++);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execlp("Xvfb", "Xvfb", d.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-br",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {  // the number was taken: next try
        pid_ = -1;
        return;
      }
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
