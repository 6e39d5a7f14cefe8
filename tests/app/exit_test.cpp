// The program's end while work runs, in the real program under Xvfb: a scan
// in its device phase, in its exchange and in its certificate wait, the
// companion download, the message fetch and a driver package download, each
// ended by the Close button, the tray's "Exit", WM_CLOSE or SIGTERM. Every way
// ends with status 0, the settings saved and "ccc3" gone. The update server is
// a loopback server that holds the request of the phase under test unanswered,
// so the work is still running at exit; for the package download the scan
// runs against the reference server and only the package's server holds.
// Skipped with a message where Xvfb or xdotool is missing.
#include "support/GeneratedMachine.h"
#include "support/RawServer.h"
#include "support/ScratchFolder.h"
#include "support/XvfbDisplay.h"
#include "support/UpdateServerProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
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
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Bin(const std::string& rel) { return std::string(std::getenv("KORVANE_BINARY_DIR")) + "/" + rel; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using korvane::testing::WaitUntil;

// A machine of devices "Device 0", "Device 1"... over three classes (many make
// a device phase that lasts).
void WriteLargeMachine(const std::string& dir, int devices) {
  korvane::testing::MachineGenerator g;
  g.Classes = {{"{4D36E968-E325-11CE-BFC1-08002BE10318}", "Display adapters"},
               {"{4D36E972-E325-11CE-BFC1-08002BE10318}", "Network adapters"},
               {"{4D36E97D-E325-11CE-BFC1-08002BE10318}", "System devices"}};
  g.DevicesIn = [devices](int) { return devices / 3; };
  g.Properties = [](const korvane::testing::GeneratedDevice& d) {
    const std::string n = std::to_string(d.serial);
    return "\"DEVICEDESC\": \"Device " + n + "\", \"HARDWAREID\": [\"PCI\\\\VEN_1000&DEV_" + n +
           "\"], \"COMPATIBLEIDS\": [\"PCI\\\\CC_0300\"], ";
  };
  g.WriteTo(dir);
}

// What is running when the program is told to end.
enum class Work { DevicePhase, Exchange, CertificateWait, CompanionDownload, MessageFetch, PackageDownload };
// How it is told.
enum class Way { CloseButton, TrayExit, WmClose, Sigterm };

struct ExitCase {
  const char* name;
  Work work;
  Way way;
  bool afterScan = false;  // the settings sequence: the program ends once the scan is over
};

class ExitWhileWorking : public ::testing::TestWithParam<ExitCase> {
 protected:
  void SetUp() override {
    std::string missing = korvane::testing::MissingProgram({"Xvfb", "xwininfo", "xdotool"});
    if (missing.empty() && GetParam().way == Way::TrayExit)
      missing = korvane::testing::MissingProgram({"trayer"});
    if (!missing.empty()) GTEST_SKIP() << missing;
    if (GetParam().work == Work::PackageDownload && !korvane::testing::UpdateServerProcess::Available())
      GTEST_SKIP() << "korvane-updsrv is not built";
    root_ = korvane::testing::MakeScratchFolder("kvexit");
    machine_ = root_ + "/machine";
    fs::create_directories(machine_);
    fs::create_directories(root_ + "/run");
    ::chmod((root_ + "/run").c_str(), 0700);
  }
  // A fresh X server (and tray host when asked) and the program on it, until
  // its window stands: on a loaded machine an X server now and then goes
  // away under a starting program, which is then tried again.
  bool Launch(bool tray, pid_t& pid, int& wx, int& wy, std::string& why) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      for (pid_t p : started_) {
        ::kill(p, SIGKILL);
        ::waitpid(p, nullptr, 0);
      }
      started_.clear();
      xvfb_.Stop();
      if (!xvfb_.Start()) {
        why = "Xvfb did not start";
        continue;
      }
      display_ = xvfb_.Display();
      env_ = "env " + xvfb_.Env() + "KORVANE_MACHINE=" + machine_ + " XDG_RUNTIME_DIR=" + root_ + "/run " +
             extraEnv_;
      if (tray) StartTrayer();
      pid = Start();
      if (!WaitUntil([&] { return WindowOrigin("TMainForm", wx, wy); }, 30s)) {
        why = "no window: status " + std::to_string(WaitExit(pid, 100ms)) + "\n" + ReadFile(root_ + "/stderr.txt");
        continue;
      }
      std::this_thread::sleep_for(3s);  // the splash (modal, two seconds from the start) is gone
      if (WindowOrigin("TMainForm", wx, wy)) return true;
      why = "the window went: status " + std::to_string(WaitExit(pid, 100ms)) + "\n" + ReadFile(root_ + "/stderr.txt");
    }
    return false;
  }
  void TearDown() override {
    server_stopping_ = true;  // releases a held request
    for (pid_t p : started_) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
    server_.reset();
    updateServer_.reset();
    xvfb_.Stop();
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  // The update server and the vendor site: the request of the work under
  // test is held until the server stops; everything before it is answered.
  void StartServer(Work work) {
    server_ = std::make_unique<nettest::RawServer>([this, work](int fd, const std::string& request) {
      const auto hold = [this] {
        while (!server_stopping_) std::this_thread::sleep_for(20ms);
      };
      const std::string line = request.substr(0, request.find("\r\n"));
      if (line.find("/isavail.txt") != std::string::npos) {
        if (work == Work::Exchange) return hold();
        nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
      } else if (line.find("/cacert.txt") != std::string::npos) {
        hold();  // the certificate wait
      } else if (line.find("Sweepline.exe") != std::string::npos ||
                 line.find("/packages/") != std::string::npos) {
        // The installer's first bytes, then nothing more.
        nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 50000000\r\n\r\n" + std::string(65536, 'x'));
        hold();
      } else {
        hold();  // the message of the day, the upload: never answered here
      }
    });
    ASSERT_TRUE(server_->Ok());
  }

  // The scan of a package download runs against the reference update
  // server: its catalogue has a newer driver for the machine's first device
  // (WriteLargeMachine's "Device 0"), whose package lies on the holding
  // server above.
  void StartUpdateServer() {
    const std::string catalogue = root_ + "/catalogue.txt";
    std::ofstream(catalogue) << "PCI\\VEN_1000&DEV_0 | 1-1-2020 | 6.0.0.0 | Generated | driver.exe\n";
    korvane::testing::UpdateServerOptions o;
    o.Catalogue = catalogue;
    o.ExtraArgs = {"--package-base", server_->Base() + "/packages/"};
    updateServer_ = std::make_unique<korvane::testing::UpdateServerProcess>(o);
  }
  // What the update server has answered so far (its access log).
  bool UpdateServerServed(const std::string& path) const {
    return ReadFile(updateServer_->LogFile()).find(path) != std::string::npos;
  }

  // The program's settings: every address on the holding server, or on the
  // reference server once it runs.
  void WriteSettings(bool closeToTray) {
    const std::string base = updateServer_ ? updateServer_->HttpBase() : server_->Base();
    const std::string secure = updateServer_ ? updateServer_->HttpsBase() : base;
    std::ofstream reg(machine_ + "/user.reg");
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brantholm\\Korvane]\n"
        << "\"CACertData\"=\"-----BEGIN CERTIFICATE-----\"\n"
        << "\"CloseToTray\"=dword:0000000" << (closeToTray ? 1 : 0) << "\n"
        << "\"UpdateURL\"=\"" << base << "\"\n"
        << "\"SecureUpdateURL\"=\"" << secure << "\"\n"
        << "\"VendorURL\"=\"" << base << "\"\n";
  }

  pid_t Start() {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", ("exec " + env_ + Bin("app/korvane") + " >" + root_ + "/stderr.txt 2>&1").c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    started_.push_back(pid);
    return pid;
  }
  int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        started_.erase(std::remove(started_.begin(), started_.end(), pid), started_.end());
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }

  // Top-left corner of the window of a class, from the window system ("" when not mapped).
  bool WindowOrigin(const std::string& className, int& x, int& y) {
    korvane::testing::XWindowInfo w;
    if (!korvane::testing::WindowInfo(display_, korvane::testing::WindowOfClass(display_, className), w) ||
        !w.viewable)
      return false;
    x = w.x;
    y = w.y;
    return true;
  }
  void Click(int x, int y, int button = 1) {
    Capture("DISPLAY=" + display_ + " xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
            " sleep 0.2 click " + std::to_string(button));
  }
  bool Requested(const std::string& path) {
    for (const std::string& r : server_->Requests())
      if (r.substr(0, r.find("\r\n")).find(path) != std::string::npos) return true;
    return false;
  }
  // The program's tray icon inside trayer's panel: its centre on the screen.
  bool TrayIconCentre(int& x, int& y) {
    korvane::testing::XWindowInfo w;
    if (!korvane::testing::WindowInfo(display_, korvane::testing::TrayIconWindow(display_), w)) return false;
    x = w.x + w.width / 2;
    y = w.y + w.height / 2;
    return true;
  }
  void StartTrayer() { started_.push_back(korvane::testing::StartTrayer(display_)); }
  // Id of the save dialog's window ("" while none is mapped).
  std::string SaveDialogWindow() {
    const std::string ids = Capture(
        "DISPLAY=" + display_ + " xdotool search --onlyvisible --name 'Choose folder for save' 2>/dev/null");
    return ids.substr(0, ids.find('\n'));
  }
  // The save dialog (its window id) opened by the download mark of the
  // results list's first driver row, below its class row; "" when it does not
  // open. The list sits at 8, 16 in the page; a class row is 32 pixels high, a
  // driver row 20; the download mark is column 1 (18 pixels), after column 0
  // (the list's width less the style's scroll bar, 14 here, less 56).
  std::string SaveDialogFromResults(int wx, int wy) {
    const int column0 = 454 - 14 - 56;
    const int markX = wx + 13 + 8 + column0 + 9, markY = wy + 145 + 16 + 32 + 10;
    std::string dialog;
    for (int attempt = 0; attempt < 5 && dialog.empty(); ++attempt) {
      Click(markX, markY);
      WaitUntil([&] { return !(dialog = SaveDialogWindow()).empty(); }, 5s);
    }
    return dialog;
  }
  // The download as a user starts it: "Scan Now", the download mark of the
  // results list's first driver row (below its class row), then the save
  // dialog's default folder with the path typed in, until the package's
  // server has the request. Under load a click can come before the page
  // takes it: each step is given again.
  void DownloadFromResults(int wx, int wy) {
    bool checked = false;
    for (int attempt = 0; attempt < 3 && !checked; ++attempt) {
      Click(wx + 13 + 471 + 75, wy + 145 + 328 + 16);  // "Scan Now"
      checked = WaitUntil([&] { return UpdateServerServed("/remote/check_upd.php"); }, 20s);
    }
    ASSERT_TRUE(checked) << "the update check never ran\n" << ReadFile(updateServer_->LogFile());
    const std::string dialog = SaveDialogFromResults(wx, wy);
    ASSERT_FALSE(dialog.empty()) << "the save dialog did not open";
    const std::string path = root_ + "/downloads/driver.exe";
    const std::string xdotool = "DISPLAY=" + display_ + " xdotool ";
    for (int attempt = 0; attempt < 3; ++attempt) {
      // "type" takes the rest of its command line as text: Return comes apart.
      Capture(xdotool + "windowfocus --sync " + dialog + " sleep 0.3 key ctrl+a type '" + path + "'");
      Capture(xdotool + "sleep 0.3 key Return");
      if (WaitUntil([&] { return Requested("/packages/driver.exe"); }, 10s)) break;
    }
    ASSERT_TRUE(Requested("/packages/driver.exe")) << "the package was never asked for";
    // The progress dialog stands (the program's only window of 405 x 162).
    const auto dialogShown = [&] {
      return korvane::testing::WindowTree(display_).find("\"Korvane\")  405x162+") != std::string::npos;
    };
    ASSERT_TRUE(WaitUntil(dialogShown, 10s)) << "no download dialog";
  }
  fs::path FindCertificate() {
    for (const auto& e : fs::recursive_directory_iterator(machine_))
      if (e.path().filename() == "ccc3") return e.path();
    return {};
  }

  std::string root_, machine_, display_, env_;
  std::string extraEnv_;  // more of the program's environment ("NAME=value ")
  korvane::testing::XvfbDisplay xvfb_;
  std::unique_ptr<nettest::RawServer> server_;
  std::unique_ptr<korvane::testing::UpdateServerProcess> updateServer_;
  std::atomic<bool> server_stopping_{false};
  std::vector<pid_t> started_;
};

TEST_P(ExitWhileWorking, EndsWithStatusZeroSettingsSavedCertificateGone) {
  const ExitCase c = GetParam();
  if (c.work == Work::DevicePhase)
    WriteLargeMachine(machine_, 120000);
  else if (c.work == Work::PackageDownload)
    WriteLargeMachine(machine_, 3);
  else
    std::ofstream(machine_ + "/system.reg") << "Windows Registry Editor Version 5.00\r\n\r\n";  // a machine without devices
  StartServer(c.work);
  if (c.work == Work::PackageDownload) StartUpdateServer();
  WriteSettings(false);
  // The message of the day is fetched a second after the start instead of half a minute.
  if (c.work == Work::MessageFetch) extraEnv_ = "KORVANE_MESSAGE_FIRST_FETCH_MS=1000 ";
  // The save dialog opens in a scratch download folder; Qt keeps its own
  // settings in a scratch configuration folder.
  if (c.work == Work::PackageDownload) {
    fs::create_directories(root_ + "/downloads");
    extraEnv_ = "XDG_DOWNLOAD_DIR=" + root_ + "/downloads XDG_CONFIG_HOME=" + root_ + "/config ";
  }
  pid_t pid = -1;
  int wx = 0, wy = 0;
  std::string why;
  ASSERT_TRUE(Launch(c.way == Way::TrayExit, pid, wx, wy, why)) << why;
  const fs::path ccc3 = FindCertificate();
  ASSERT_FALSE(ccc3.empty()) << "ccc3 written at start";

  // The work under test, started as the user starts it. Under load a click
  // can come before the window takes input: it is given again (a second
  // click there finds nothing to press once the work runs).
  const auto clickUntil = [&](int x, int y, const std::string& path) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      Click(x, y);
      if (WaitUntil([&] { return Requested(path); }, 10s)) return true;
    }
    return false;
  };
  if (c.work == Work::CompanionDownload) {
    ASSERT_TRUE(clickUntil(wx + 13 + 292 + 20, wy + 145 + 343 + 6, "Sweepline.exe")) << "the download did not start";
  } else if (c.work == Work::PackageDownload) {
    ASSERT_NO_FATAL_FAILURE(DownloadFromResults(wx, wy));
  } else if (c.work == Work::MessageFetch) {
    ASSERT_TRUE(WaitUntil([&] { return Requested("/usermsg.txt"); }, 20s))
        << "the message was never asked for";
  } else if (c.work == Work::DevicePhase) {
    Click(wx + 13 + 471 + 75, wy + 145 + 328 + 16);  // "Scan Now"
    std::this_thread::sleep_for(500ms);
    ASSERT_FALSE(Requested("/isavail.txt")) << "the device phase was over before the exit";
  } else {
    const std::string path = c.work == Work::Exchange ? "/isavail.txt" : "/cacert.txt";
    ASSERT_TRUE(clickUntil(wx + 13 + 471 + 75, wy + 145 + 328 + 16, path)) << path << " was never asked for";
  }

  // What the program saves at exit is written afresh: the hive goes now.
  fs::remove(machine_ + "/user.reg");

  switch (c.way) {
    case Way::CloseButton:
      Click(wx + 694 + 20, wy + 7);
      break;
    case Way::TrayExit: {
      int ix = 0, iy = 0;
      ASSERT_TRUE(WaitUntil([&] { return TrayIconCentre(ix, iy); }, 15s)) << "the icon did not dock";
      // The menu on a right-click; its last item is "Exit". Under load the
      // menu may open late: the keys are tried again while the program runs.
      for (int attempt = 0; attempt < 3; ++attempt) {
        Click(ix, iy, 3);
        std::this_thread::sleep_for(1500ms);
        Capture("DISPLAY=" + display_ + " xdotool key Up sleep 0.3 key Return");
        const auto ended = [pid] {
          siginfo_t info{};
          return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        };
        if (WaitUntil(ended, 5s)) break;
      }
      break;
    }
    case Way::WmClose:
      Capture(env_ + Bin("tests/ui/main/shell_platform_probe") + " post TMainForm Korvane 16");
      break;
    case Way::Sigterm:
      ::kill(pid, SIGTERM);
      break;
  }
  EXPECT_EQ(WaitExit(pid, 20s), 0) << ReadFile(root_ + "/stderr.txt");
  server_stopping_ = true;

  const std::string hive = ReadFile(machine_ + "/user.reg");
  EXPECT_NE(hive.find("[HKEY_CURRENT_USER\\Software\\Brantholm\\Korvane]"), std::string::npos)
      << "the settings were not saved at exit:\n" << hive;
  EXPECT_NE(hive.find("\"AutoRun\""), std::string::npos) << hive;
  EXPECT_FALSE(fs::exists(ccc3)) << "ccc3 left behind";
  EXPECT_EQ(ReadFile(root_ + "/stderr.txt").find("ERROR: AddressSanitizer"), std::string::npos)
      << ReadFile(root_ + "/stderr.txt");
}

INSTANTIATE_TEST_SUITE_P(
    AnyWork, ExitWhileWorking,
    ::testing::Values(ExitCase{"DevicePhaseByClose", Work::DevicePhase, Way::CloseButton},
                      ExitCase{"DevicePhaseBySigterm", Work::DevicePhase, Way::Sigterm},
                      ExitCase{"ExchangeByTrayExit", Work::Exchange, Way::TrayExit},
                      ExitCase{"ExchangeBySigterm", Work::Exchange, Way::Sigterm},
                      ExitCase{"CertificateWaitByWmClose", Work::CertificateWait, Way::WmClose},
                      ExitCase{"CertificateWaitByClose", Work::CertificateWait, Way::CloseButton},
                      ExitCase{"CompanionDownloadBySigterm", Work::CompanionDownload, Way::Sigterm},
                      ExitCase{"CompanionDownloadByTrayExit", Work::CompanionDownload, Way::TrayExit},
                      ExitCase{"MessageFetchBySigterm", Work::MessageFetch, Way::Sigterm},
                      ExitCase{"MessageFetchByClose", Work::MessageFetch, Way::CloseButton},
                      ExitCase{"PackageDownloadBySigterm", Work::PackageDownload, Way::Sigterm},
                      ExitCase{"PackageDownloadByWmClose", Work::PackageDownload, Way::WmClose},
                      ExitCase{"PackageDownloadByTrayExit", Work::PackageDownload, Way::TrayExit}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

// The sequence of a user who opens the settings from the tray during a scan:
// tray "Settings", Cancel (back to the start page, refilled while the scan
// goes on), "Scan Now" (the running scan's page, no second scan). The scan's
// probe is held until the sequence is over, so the scan is surely still
// running at "Scan Now". Afterwards exactly one check reaches the reference
// server and the figures are stored; the program ends with status 0 by the
// Close button, the tray's "Exit" and SIGTERM, during the scan and after it.
class SettingsDuringAScan : public ExitWhileWorking {
 protected:
  // The update server's plain side (probe, certificate, message) is a loopback
  // server whose probe answers only once released; the check goes to the
  // reference server.
  void StartServers() {
    const std::string catalogue = root_ + "/catalogue.txt";
    std::ofstream(catalogue) << "PCI\\VEN_1000&DEV_0 | 1-1-2020 | 6.0.0.0 | Generated | driver.exe\n";
    korvane::testing::UpdateServerOptions o;
    o.Catalogue = catalogue;
    updateServer_ = std::make_unique<korvane::testing::UpdateServerProcess>(o);
    const std::string ca = ReadFile(updateServer_->CaCertFile());
    server_ = std::make_unique<nettest::RawServer>([this, ca](int fd, const std::string& request) {
      const std::string line = request.substr(0, request.find("\r\n"));
      const auto answer = [fd](const std::string& body) {
        nettest::SendAll(
            fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
      };
      if (line.find("/isavail.txt") != std::string::npos) {
        while (!released_ && !server_stopping_) std::this_thread::sleep_for(20ms);
        if (released_) answer("ok");
      } else if (line.find("/cacert.txt") != std::string::npos) {
        answer(ca);
      } else {
        answer("");
      }
    });
    ASSERT_TRUE(server_->Ok());
    std::ofstream reg(machine_ + "/user.reg");
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brantholm\\Korvane]\n"
        << "\"CloseToTray\"=dword:00000000\n"
        << "\"UpdateURL\"=\"" << server_->Base() << "\"\n"
        << "\"SecureUpdateURL\"=\"" << updateServer_->HttpsBase() << "\"\n"
        << "\"VendorURL\"=\"" << server_->Base() << "\"\n";
  }
  // How many update checks the reference server has answered.
  int Checks() const {
    const std::string log = ReadFile(updateServer_->LogFile());
    int n = 0;
    for (std::size_t at = log.find("/remote/check_upd.php"); at != std::string::npos;
         at = log.find("/remote/check_upd.php", at + 1))
      ++n;
    return n;
  }
  // The tray menu's item n (1: "Show Korvane", 2: "Settings", 5: "Exit"),
  // by the keyboard once the menu is open; true when done() follows.
  bool TrayItem(int n, const std::function<bool()>& done) {
    int ix = 0, iy = 0;
    if (!WaitUntil([&] { return TrayIconCentre(ix, iy); }, 15s)) return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
      Click(ix, iy, 3);
      std::this_thread::sleep_for(1500ms);
      std::string down;
      for (int i = 0; i < n; ++i) down += " Down";
      Capture("DISPLAY=" + display_ + " xdotool key" + (n == 5 ? std::string(" Up") : down) +
              " sleep 0.3 key Return");
      if (WaitUntil(done, 5s)) return true;
    }
    return false;
  }
  // The program's figures in the stored settings ("" while absent).
  std::string Stored(const std::string& name) {
    const std::string hive = ReadFile(machine_ + "/user.reg");
    const std::size_t at = hive.find("\"" + name + "\"=");
    return at == std::string::npos ? std::string() : hive.substr(at, hive.find('\n', at) - at);
  }
  std::atomic<bool> released_{false};
};

TEST_P(SettingsDuringAScan, OneCheckFiguresStoredAndEveryWayOutEndsWithZero) {
  const ExitCase c = GetParam();
  if (korvane::testing::MissingProgram({"trayer"}).size()) GTEST_SKIP() << "trayer is missing";
  if (!korvane::testing::UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv is not built";
  // Three classes of 1,333: within what the reference server takes in one
  // report (WriteLargeMachine puts the same number in each class).
  constexpr int kDevices = 3 * 1333;
  WriteLargeMachine(machine_, kDevices);
  ASSERT_NO_FATAL_FAILURE(StartServers());
  pid_t pid = -1;
  int wx = 0, wy = 0;
  std::string why;
  ASSERT_TRUE(Launch(true, pid, wx, wy, why)) << why;
  const auto pageOrigin = [&](int x, int y) { return std::make_pair(wx + 13 + x, wy + 145 + y); };
  const auto [scanX, scanY] = pageOrigin(471 + 75, 328 + 16);      // "Scan Now" on the start page
  const auto [cancelX, cancelY] = pageOrigin(488 + 45, 328 + 16);  // Cancel on the settings page

  Click(scanX, scanY);
  // The tray's "Settings" during the scan, then Cancel: the start page again.
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(TrayItem(2, [] { return true; })) << "the tray icon did not dock";
  std::this_thread::sleep_for(1500ms);
  Click(cancelX, cancelY);
  std::this_thread::sleep_for(1500ms);
  // "Scan Now" again while the first scan still runs: no second scan.
  Click(scanX, scanY);
  std::this_thread::sleep_for(1500ms);
  ASSERT_EQ(WaitExit(pid, 0ms), -1) << "the program ended\n" << ReadFile(root_ + "/stderr.txt");
  EXPECT_EQ(Checks(), 0) << "the scan was over before the sequence";

  if (c.afterScan) {
    released_ = true;
    // The save at the scan's end writes its values one after another: the
    // count of devices comes after the stamp.
    char total[9];
    std::snprintf(total, sizeof total, "%08x", kDevices);
    const std::string stored = "\"tDrivers\"=dword:" + std::string(total);
    ASSERT_TRUE(WaitUntil([&] { return Stored("tDrivers") == stored && Checks() >= 1; }, 120s))
        << "the scan's figures were not stored (or no check)\n"
        << ReadFile(machine_ + "/user.reg") << "\n"
        << ReadFile(root_ + "/stderr.txt") << "\n"
        << ReadFile(updateServer_->LogFile());
    EXPECT_NE(Stored("LastScan"), "\"LastScan\"=\"\"");
    EXPECT_EQ(Stored("odDrivers"), "\"odDrivers\"=dword:00000001");
    std::this_thread::sleep_for(2s);  // a second scan would have checked by now
    EXPECT_EQ(Checks(), 1);
    // The results page shows the check: the out-of-date driver ("Device 0",
    // the catalogue's one entry) heads the list with its download mark, whose
    // save dialog Escape closes again.
    const std::string dialog = SaveDialogFromResults(wx, wy);
    ASSERT_FALSE(dialog.empty()) << "no results page with the out-of-date driver";
    for (int attempt = 0; attempt < 3 && !SaveDialogWindow().empty(); ++attempt) {
      Capture("DISPLAY=" + display_ + " xdotool windowfocus --sync " + dialog + " sleep 0.3 key Escape");
      WaitUntil([&] { return SaveDialogWindow().empty(); }, 5s);
    }
    ASSERT_TRUE(SaveDialogWindow().empty()) << "the save dialog did not close";
    EXPECT_EQ(Checks(), 1);
  }

  // What the program saves at exit is written afresh: the hive goes now.
  fs::remove(machine_ + "/user.reg");
  switch (c.way) {
    case Way::CloseButton:
      Click(wx + 694 + 20, wy + 7);
      break;
    case Way::TrayExit: {
      const auto ended = [pid] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid;
      };
      EXPECT_TRUE(TrayItem(5, ended)) << "the tray's Exit did not end the program";
      break;
    }
    default:
      ::kill(pid, SIGTERM);
      break;
  }
  EXPECT_EQ(WaitExit(pid, 20s), 0) << ReadFile(root_ + "/stderr.txt");
  server_stopping_ = true;
  EXPECT_NE(ReadFile(machine_ + "/user.reg").find("\"AutoRun\""), std::string::npos)
      << "the settings were not saved at exit";
  EXPECT_EQ(Checks(), c.afterScan ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    TraySettingsCancelScanNow, SettingsDuringAScan,
    ::testing::Values(ExitCase{"DuringByClose", Work::DevicePhase, Way::CloseButton, false},
                      ExitCase{"DuringByTrayExit", Work::DevicePhase, Way::TrayExit, false},
                      ExitCase{"DuringBySigterm", Work::DevicePhase, Way::Sigterm, false},
                      ExitCase{"AfterByClose", Work::DevicePhase, Way::CloseButton, true},
                      ExitCase{"AfterByTrayExit", Work::DevicePhase, Way::TrayExit, true},
                      ExitCase{"AfterBySigterm", Work::DevicePhase, Way::Sigterm, true}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

}  // namespace
