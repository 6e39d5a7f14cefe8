// The real program under Xvfb: single instance across processes, "-t",
// the settings after a first start, "ccc3" gone after a normal exit, the mask.
#include "support/CommandOutput.h"
#include "ui/main/XvfbDisplay.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Bin(const std::string& rel) { return std::string(std::getenv("KORVANE_BINARY_DIR")) + "/" + rel; }

bool OnPath(const char* prog) { return TXvfbDisplay::OnPath(prog); }

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("Xvfb") || !OnPath("xwininfo")) GTEST_SKIP() << "Xvfb or xwininfo missing: the window-system tests are skipped";
    root_ = korvane::testing::MakeScratchFolder("kvproc");
    fs::create_directories(root_ + "/machine");
    std::ofstream(root_ + "/machine/system.reg");  // a machine folder has its system hive
    fs::create_directories(root_ + "/run");
    ::chmod((root_ + "/run").c_str(), 0700);
    ASSERT_TRUE(xvfb_.Start()) << "Xvfb did not start";
    display_ = xvfb_.Display();
    env_ = "env DISPLAY=" + display_ + " QT_QPA_PLATFORM=xcb KORVANE_MACHINE=" + root_ + "/machine XDG_RUNTIME_DIR=" +
           root_ + "/run ";
  }
  void TearDown() override {
    for (pid_t p : started_) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
    xvfb_.Stop();
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  pid_t Start(const std::string& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", ("exec " + env_ + Bin("app/korvane") + " " + args + " >/dev/null 2>&1").c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    started_.push_back(pid);
    return pid;
  }
  // Waits for a process to end; its exit code, or -1 after the time-out.
  int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        started_.erase(std::remove(started_.begin(), started_.end(), pid), started_.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }
  // The main window: the one of class "TMainForm" (other windows of the program share its caption).
  std::string WindowId() {
    const std::string tree = Capture("DISPLAY=" + display_ + " xwininfo -root -tree 2>/dev/null");
    const size_t at = tree.find("\"TMainForm\")");
    if (at == std::string::npos) return {};
    const size_t lineStart = tree.rfind('\n', at) + 1;
    const size_t idStart = tree.find("0x", lineStart);
    return tree.substr(idStart, tree.find(' ', idStart) - idStart);
  }
  std::string WindowInfo() {
    const std::string id = WindowId();
    return id.empty() ? std::string() : Capture("DISPLAY=" + display_ + " xwininfo -id " + id + " 2>/dev/null");
  }
  bool Viewable() { return WindowInfo().find("IsViewable") != std::string::npos; }
  bool WaitViewable(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (Viewable()) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  // Waits until the first instance's window is registered with the layer.
  bool WaitRegistered(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (Capture(env_ + Bin("tests/ui/main/shell_platform_probe") + " rect TMainForm Korvane") != "none\n") return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  std::string Hive() {
    std::ifstream in(root_ + "/machine/user.reg");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::string root_, display_, env_;
  TXvfbDisplay xvfb_;
  std::vector<pid_t> started_;
};

TEST_F(Desktop, HiddenStartThenSecondStartsRestoreIt) {
  const pid_t first = Start("-t");
  ASSERT_TRUE(WaitRegistered(30s));
  std::this_thread::sleep_for(500ms);
  EXPECT_FALSE(Viewable()) << "-t shows no window";

  // The settings key and the Run value exist after the first start.
  const std::string hive = Hive();
  EXPECT_NE(hive.find("\"CloseToTray\"=dword:00000001"), std::string::npos) << hive;
  EXPECT_NE(hive.find("\"Korvane\"=\"" + Bin("app/korvane") + " -t\""), std::string::npos) << hive;

  // A second start with "-t" still restores the first and ends without a window.
  const pid_t second = Start("-t");
  EXPECT_EQ(WaitExit(second, 10s), 0);
  EXPECT_TRUE(WaitViewable(10s));
  const std::string cls = Capture("DISPLAY=" + display_ + " xprop -id " + WindowId() + " WM_CLASS WM_NAME 2>/dev/null");
  EXPECT_NE(cls.find("\"Korvane\""), std::string::npos) << cls;
  EXPECT_NE(cls.find("\"TMainForm\""), std::string::npos) << cls;

  // Closing through the system ends it.
  Capture(env_ + Bin("tests/ui/main/shell_platform_probe") + " post TMainForm Korvane 16");
  EXPECT_EQ(WaitExit(first, 10s), 0);
}

TEST_F(Desktop, NormalStartShowsTheWindowAndExitRemovesTheCertificate) {
  {
    std::ofstream reg(root_ + "/machine/user.reg");
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brantholm\\Korvane]\n"
           "\"CACertData\"=\"-----BEGIN CERTIFICATE-----\"\n";
  }
  // "-T" and "-t" as the second argument do not hide the window.
  const pid_t first = Start("-T -t");
  ASSERT_TRUE(WaitViewable(30s)) << WindowId() << "\n" << Capture("DISPLAY=" + display_ + " xwininfo -root -tree");
  ASSERT_TRUE(WaitRegistered(5s));
  fs::path ccc3;
  for (const auto& e : fs::recursive_directory_iterator(root_ + "/machine"))
    if (e.path().filename() == "ccc3") ccc3 = e.path();
  EXPECT_FALSE(ccc3.empty()) << "ccc3 written at start";

  // The rounded mask: the window's corner pixel shows the black root.
  const std::string info = WindowInfo();
  int x = -1, y = -1;
  const size_t ax = info.find("Absolute upper-left X:"), ay = info.find("Absolute upper-left Y:");
  if (ax != std::string::npos) x = std::atoi(info.c_str() + ax + 22);
  if (ay != std::string::npos) y = std::atoi(info.c_str() + ay + 22);
  if (OnPath("import") && x >= 0) {
    std::this_thread::sleep_for(2500ms);  // the splash is gone
    auto pixel = [&](int px, int py) {
      return Capture("DISPLAY=" + display_ + " import -window root -crop 1x1+" + std::to_string(px) + "+" +
                     std::to_string(py) + " txt:- 2>/dev/null");
    };
    EXPECT_NE(pixel(x, y).find("#000000"), std::string::npos) << "corner outside the mask";
    EXPECT_EQ(pixel(x + 375, y + 2).find("#000000"), std::string::npos) << "inside the window";
  }

  Capture(env_ + Bin("tests/ui/main/shell_platform_probe") + " post TMainForm Korvane 16");
  EXPECT_EQ(WaitExit(first, 10s), 0);
  EXPECT_FALSE(!ccc3.empty() && fs::exists(ccc3)) << "ccc3 deleted at exit";
}

// A tray host on the test's display; killed with the test's processes.
TEST_F(Desktop, HiddenStartLivesInTheTrayAndLeavesItAtExit) {
  if (!OnPath("trayer")) GTEST_SKIP() << "trayer missing (scripts/bootstrap installs it): the tray start is not checked";
  const auto trayer = [&] {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("DISPLAY", display_.c_str(), 1);
      ::execlp("trayer", "trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
               "--height", "24", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    started_.push_back(pid);
    return pid;
  };
  // The program's icon: a window named "Korvane" inside the tray's panel.
  const auto docked = [&] {
    const std::string tree = Capture("DISPLAY=" + display_ + " xwininfo -root -tree 2>/dev/null");
    const size_t panel = tree.find("(\"panel\" \"trayer\")");
    return panel != std::string::npos && tree.find("\"Korvane\": (\"korvane\"", panel) != std::string::npos;
  };
  const auto waitDocked = [&](bool want, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (docked() == want) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  };
  trayer();
  const pid_t first = Start("-t");
  ASSERT_TRUE(WaitRegistered(30s));
  EXPECT_TRUE(waitDocked(true, 15s)) << Capture("DISPLAY=" + display_ + " xwininfo -root -tree");
  EXPECT_FALSE(Viewable()) << "-t shows only the tray icon";
  Capture(env_ + Bin("tests/ui/main/shell_platform_probe") + " post TMainForm Korvane 16");
  EXPECT_EQ(WaitExit(first, 10s), 0);
  EXPECT_TRUE(waitDocked(false, 5s)) << "the icon goes with the program";
}

}  // namespace
