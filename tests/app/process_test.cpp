// The real program under Xvfb: single instance across processes, "-t",
// the settings after a first start, "ccc3" gone after a normal exit, the mask.
#include "support/ScratchFolder.h"
#include "support/ScratchMachine.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Bin(const std::string& rel) { return std::string(std::getenv("KORVANE_BINARY_DIR")) + "/" + rel; }

using korvane::testing::OnPath;
using korvane::testing::WaitUntil;

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = korvane::testing::MissingProgram({"Xvfb", "xwininfo"});
    if (!missing.empty()) GTEST_SKIP() << missing << ": the window-system tests are skipped";
    root_ = korvane::testing::MakeScratchFolder("kvproc");
    machine_.emplace();
    fs::create_directories(root_ + "/run");
    ::chmod((root_ + "/run").c_str(), 0700);
    ASSERT_TRUE(xvfb_.Start()) << "Xvfb did not start";
    display_ = xvfb_.Display();
    env_ =
        "env " + xvfb_.Env() + "KORVANE_MACHINE=" + machine_->Root() + " XDG_RUNTIME_DIR=" + root_ + "/run ";
  }
  void TearDown() override {
    for (pid_t p : started_) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
    xvfb_.Stop();
    machine_.reset();
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
  std::string WindowId() { return korvane::testing::WindowOfClass(display_, "TMainForm"); }
  bool Viewable() {
    korvane::testing::XWindowInfo w;
    return korvane::testing::WindowInfo(display_, WindowId(), w) && w.viewable;
  }
  bool WaitViewable(std::chrono::milliseconds limit) {
    return WaitUntil([&] { return Viewable(); }, limit);
  }
  // Waits until the first instance's window is registered with the layer.
  bool WaitRegistered(std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
          return Capture(env_ + Bin("tests/ui/main/shell_platform_probe") + " rect TMainForm Korvane") !=
                 "none\n";
        },
        limit);
  }
  std::string Hive() { return machine_->Read("user.reg"); }
  std::string root_, display_, env_;
  std::optional<korvane::testing::ScratchMachine> machine_;
  korvane::testing::XvfbDisplay xvfb_;
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
    std::ofstream reg(machine_->Path("user.reg"));
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brantholm\\Korvane]\n"
           "\"CACertData\"=\"-----BEGIN CERTIFICATE-----\"\n";
  }
  // "-T" and "-t" as the second argument do not hide the window.
  const pid_t first = Start("-T -t");
  ASSERT_TRUE(WaitViewable(30s)) << WindowId() << "\n" << korvane::testing::WindowTree(display_);
  ASSERT_TRUE(WaitRegistered(5s));
  fs::path ccc3;
  for (const auto& e : fs::recursive_directory_iterator(machine_->Root()))
    if (e.path().filename() == "ccc3") ccc3 = e.path();
  EXPECT_FALSE(ccc3.empty()) << "ccc3 written at start";

  // The rounded mask: the window's corner pixel shows the black root.
  korvane::testing::XWindowInfo w;
  const bool placed = korvane::testing::WindowInfo(display_, WindowId(), w);
  const int x = w.x, y = w.y;
  if (OnPath("import") && placed) {
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

// A tray host on the test's display, killed with the test's processes.
TEST_F(Desktop, HiddenStartLivesInTheTrayAndLeavesItAtExit) {
  if (!OnPath("trayer"))
    GTEST_SKIP() << "trayer missing (scripts/bootstrap installs it): the tray start is not checked";
  // The program's icon: a window named "Korvane" inside the tray's panel.
  const auto waitDocked = [&](bool want, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return korvane::testing::TrayIconWindow(display_).empty() != want; }, limit);
  };
  started_.push_back(korvane::testing::StartTrayer(display_));
  const pid_t first = Start("-t");
  ASSERT_TRUE(WaitRegistered(30s));
  EXPECT_TRUE(waitDocked(true, 15s)) << korvane::testing::WindowTree(display_);
  EXPECT_FALSE(Viewable()) << "-t shows only the tray icon";
  Capture(env_ + Bin("tests/ui/main/shell_platform_probe") + " post TMainForm Korvane 16");
  EXPECT_EQ(WaitExit(first, 10s), 0);
  EXPECT_TRUE(waitDocked(false, 5s)) << "the icon goes with the program";
}

}  // namespace
