#include "support/XvfbDisplay.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace korvane::testing {

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string MissingProgram(std::initializer_list<const char*> programs) {
  for (const char* p : programs)
    if (!OnPath(p)) return std::string(p) + " missing (scripts/bootstrap installs it)";
  return {};
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}

bool XvfbDisplay::Start(int attempts) {
  for (int attempt = 0; attempt < attempts && display_.empty(); ++attempt) TryOnce();
  return !display_.empty();
}

std::string XvfbDisplay::StartWith(std::initializer_list<const char*> programs) {
  std::string missing = MissingProgram({"Xvfb", "xwininfo"});
  if (missing.empty()) missing = MissingProgram(programs);
  if (!missing.empty()) return missing;
  return Start() ? std::string() : "Xvfb did not start";
}

void XvfbDisplay::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  display_.clear();
}

std::string XvfbDisplay::Env() const { return "DISPLAY=" + display_ + " QT_QPA_PLATFORM=xcb "; }

void XvfbDisplay::Export() const {
  ::setenv("DISPLAY", display_.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

namespace {

// The pid in the X server lock file of display number n ("/tmp/.X<n>-lock"), or -1.
pid_t LockHolder(int n) {
  std::ifstream lock("/tmp/.X" + std::to_string(n) + "-lock");
  long pid = -1;
  return lock >> pid ? static_cast<pid_t>(pid) : -1;
}

}  // namespace

// An explicit display number, different for each test process and try: with
// -displayfd every server starts its search at :0, and a server that loses
// that race removes the socket of the one that won it. A display that answers
// is ours only when our server holds its lock: another test process's server
// may answer on a number ours failed to take, and go away with its test.
void XvfbDisplay::TryOnce() {
  static int next = 100 + static_cast<int>(::getpid() % 400) * 2;
  const int number = next++;
  const std::string d = ":" + std::to_string(number);
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
    if (LockHolder(number) == pid_ &&
        std::system(("DISPLAY=" + d + " xwininfo -root >/dev/null 2>&1").c_str()) == 0) {
      display_ = d;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Stop();
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& display, int outFd, int errFd) {
  // Everything the child needs is made before the fork: the test may run
  // threads, and the child calls nothing but async-signal-safe functions.
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (display.empty() || std::string(*e).rfind("DISPLAY=", 0) != 0) env.emplace_back(*e);
  if (!display.empty()) env.push_back("DISPLAY=" + display);
  std::vector<char*> a, e;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (auto& s : env) e.push_back(s.data());
  e.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that crashes leaves nothing behind
    if (::getppid() != parent) ::_exit(127);
    if (outFd >= 0) ::dup2(outFd, 1);
    if (errFd >= 0) ::dup2(errFd, 2);
    ::execvpe(a[0], a.data(), e.data());
    ::_exit(127);
  }
  return pid;
}

void StopChild(pid_t& pid) {
  if (pid > 0) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

SessionBus::SessionBus() {
  if (!OnPath("dbus-daemon")) return;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;  // the daemon keeps only what it is given
  // Its complaint that it may not raise its descriptor limit is of no interest here.
  const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_ = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, {}, fds[1], quiet);
  if (quiet >= 0) ::close(quiet);
  ::close(fds[1]);
  char c;
  while (pid_ > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') address_ += c;
  ::close(fds[0]);
  if (address_.empty()) {
    StopChild(pid_);
    return;
  }
  if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
    previous_ = old;
    hadPrevious_ = true;
  }
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

SessionBus::~SessionBus() {
  if (!address_.empty()) {
    if (hadPrevious_)
      ::setenv("DBUS_SESSION_BUS_ADDRESS", previous_.c_str(), 1);
    else
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  StopChild(pid_);
}

pid_t StartTrayer(const std::string& display) {
  return Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                "--height", "24"},
               display);
}

std::string WindowTree(const std::string& display) {
  return Capture("DISPLAY=" + display + " xwininfo -root -tree 2>/dev/null");
}

namespace {

// The id at the start of the tree line that holds position at.
std::string IdOfLine(const std::string& tree, size_t at) {
  const size_t lineStart = tree.rfind('\n', at) + 1;
  const size_t idStart = tree.find("0x", lineStart);
  if (idStart == std::string::npos || idStart > at) return {};
  return tree.substr(idStart, tree.find(' ', idStart) - idStart);
}

size_t Indent(const std::string& line) {
  const size_t n = line.find_first_not_of(' ');
  return n == std::string::npos ? line.size() : n;
}

}  // namespace

std::string WindowOfClass(const std::string& display, const std::string& cls) {
  const std::string tree = WindowTree(display);
  const size_t at = tree.find("\"" + cls + "\")");
  return at == std::string::npos ? std::string() : IdOfLine(tree, at);
}

std::string TrayIconWindow(const std::string& display, const std::string& title) {
  const std::string tree = WindowTree(display);
  const size_t panel = tree.find("(\"panel\" \"trayer\")");
  if (panel == std::string::npos) return {};
  size_t lineStart = tree.rfind('\n', panel) + 1;
  const size_t panelIndent = Indent(tree.substr(lineStart, panel - lineStart));
  // The lines below the panel's that are indented deeper are its windows.
  for (lineStart = tree.find('\n', panel); lineStart != std::string::npos && lineStart + 1 < tree.size();) {
    ++lineStart;
    const size_t end = tree.find('\n', lineStart);
    const std::string line =
        tree.substr(lineStart, end == std::string::npos ? std::string::npos : end - lineStart);
    if (!line.empty() && Indent(line) <= panelIndent) break;
    if (line.find("\"" + title + "\": (") != std::string::npos)
      return IdOfLine(tree, lineStart + Indent(line));
    lineStart = end;
  }
  return {};
}

bool WindowInfo(const std::string& display, const std::string& id, XWindowInfo& w) {
  if (id.empty()) return false;
  const std::string info = Capture("DISPLAY=" + display + " xwininfo -id " + id + " 2>/dev/null");
  const size_t ax = info.find("Absolute upper-left X:"), ay = info.find("Absolute upper-left Y:");
  const size_t wd = info.find("Width:"), ht = info.find("Height:");
  if (ax == std::string::npos || ay == std::string::npos || wd == std::string::npos ||
      ht == std::string::npos)
    return false;
  w.viewable = info.find("IsViewable") != std::string::npos;
  w.x = std::atoi(info.c_str() + ax + 22);
  w.y = std::atoi(info.c_str() + ay + 22);
  w.width = std::atoi(info.c_str() + wd + 6);
  w.height = std::atoi(info.c_str() + ht + 7);
  return true;
}

}  // namespace korvane::testing
