// The program on a desktop without a notification area, under Xvfb with a private
// session bus and dunst as the notification service: the reminder and the server's
// message as desktop notifications whose default action is the balloon's click, Close
// to tray minimising, and with a tray host (trayer) everything as before. Also the
// help handed to the desktop's browser as HTML (and the notice when nothing opens it)
// and the save dialog starting in the download folder. Skipped with a message where
// a needed program is missing.
#include "XvfbDisplay.h"
#include "shell_fixture.h"

#include "korvane_window.h"
#include "ui/download/uDownForm.h"
#include "ui/download/uDownloads.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uTray.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Capture(const std::string& cmd) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  ::pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(20);
  }
  return true;
}

pid_t Spawn(const std::vector<std::string>& argv, int outFd = -1) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test that crashes leaves no bus behind
    if (outFd >= 0) ::dup2(outFd, 1);
    std::vector<char*> a;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    ::execvp(a[0], a.data());
    ::_exit(127);
  }
  return pid;
}

void StopProcess(pid_t& pid) {
  if (pid > 0) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

// The X server, a session bus and the notification service of the whole run, started
// before the QApplication (which reads DISPLAY and the bus address once).
struct Desktop {
  TXvfbDisplay xvfb;
  pid_t bus = -1, dunst = -1;
  std::string missing;  // why the tests skip

  void Start() {
    for (const char* p : {"Xvfb", "xwininfo", "dbus-daemon", "dunst", "dunstctl", "trayer", "xdg-open"})
      if (!TXvfbDisplay::OnPath(p)) {
        missing = std::string(p) + " missing (scripts/bootstrap installs it)";
        return;
      }
    if (!xvfb.Start()) {
      missing = "Xvfb did not start";
      return;
    }
    ::setenv("DISPLAY", xvfb.Display().c_str(), 1);
    int fds[2];
    if (::pipe(fds) != 0) return;
    bus = Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, fds[1]);
    ::close(fds[1]);
    std::string address;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') address += c;
    ::close(fds[0]);
    if (address.empty()) {
      missing = "dbus-daemon did not start";
      return;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    dunst = Spawn({"dunst"});
    for (int i = 0; i < 100 && Capture("dunstctl is-paused 2>/dev/null") != "false"; ++i) ::usleep(100 * 1000);
    if (Capture("dunstctl is-paused 2>/dev/null") != "false") missing = "dunst did not start";
  }
  void Stop() {
    StopProcess(dunst);
    StopProcess(bus);
    xvfb.Stop();
  }
};

Desktop& TheDesktop() {
  static Desktop d;
  return d;
}

int Displayed() { return std::atoi(Capture("dunstctl count displayed 2>/dev/null").c_str()); }

class Trayer {
 public:
  Trayer() { pid_ = Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                           "--height", "24"}); }
  ~Trayer() { StopProcess(pid_); }

 private:
  pid_t pid_ = -1;
};

// Environment values set for one test and put back after it.
class ScopedEnv {
 public:
  void Set(const char* name, const std::string& value) {
    Remember(name);
    ::setenv(name, value.c_str(), 1);
  }
  void Unset(const char* name) {
    Remember(name);
    ::unsetenv(name);
  }
  ~ScopedEnv() {
    for (const auto& [name, old] : saved_)
      if (old.first)
        ::setenv(name.c_str(), old.second.c_str(), 1);
      else
        ::unsetenv(name.c_str());
  }

 private:
  void Remember(const char* name) {
    if (saved_.count(name)) return;
    const char* v = std::getenv(name);
    saved_[name] = {v != nullptr, v ? v : ""};
  }
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

class DesktopTest : public ShellTest {
 protected:
  void SetUp() override {
    if (!TheDesktop().missing.empty()) GTEST_SKIP() << TheDesktop().missing << ": the desktop tests are skipped";
    ShellTest::SetUp();
    // xdg-open is a shell script: on a loaded machine its refusal can take
    // longer than the program's verdict time, which would count as opened.
    oldVerdictMs_ = KorvaneSetOpenVerdictMs(20000);
    std::system("dunstctl close-all >/dev/null 2>&1; dunstctl history-clear >/dev/null 2>&1");
  }
  void TearDown() override {
    if (!TheDesktop().missing.empty()) return;
    shell_.reset();
    KorvaneSetOpenVerdictMs(oldVerdictMs_);
    if (main_) main_->Dialogs = TMainDialogs();
    info_.reset();
    main_.reset();
    trayer_.reset();
    QCoreApplication::processEvents();
    ShellTest::TearDown();
  }
  void StartTray() {
    trayer_ = std::make_unique<Trayer>();
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000)) << "no tray appeared";
  }
  void StartMain() {
    main_ = std::make_unique<TMainForm>();
    info_ = std::make_unique<TInfoForm>(*main_);
    main_->Dialogs.Info = info_.get();
    info_->ModalHook = [this](TSkinForm&) {
      notices_.push_back(info_->MessageText);
      return mrOk;
    };
    ASSERT_TRUE(main_->TrayIcon);
  }
  // A desktop whose only programs are the ones a test registers (no browser of this
  // machine answers), as xdg-open finds them.
  std::string ScratchDesktop(ScopedEnv& env) {
    const std::string d = root_ + "/desktop";
    fs::create_directories(d + "/data/applications");
    fs::create_directories(d + "/config");
    env.Set("XDG_DATA_HOME", d + "/data");
    env.Set("XDG_DATA_DIRS", d + "/data");
    env.Set("XDG_CONFIG_HOME", d + "/config");
    env.Set("XDG_CONFIG_DIRS", d + "/config");
    env.Set("BROWSER", "false");
    for (const char* v : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
      env.Unset(v);
    return d;
  }
  // help.chm beside a program folder of the test's own.
  void HelpBesideTheProgram() {
    const std::string exe = root_ + "/program/";
    fs::create_directories(exe);
    fs::copy_file(std::string(std::getenv("KORVANE_SOURCE_DIR")) + "/help/help.chm", exe + "help.chm");
    main_->State.ExeFolder = exe;
  }

  int oldVerdictMs_ = 0;
  std::unique_ptr<TInfoForm> info_;
  std::vector<std::string> notices_;
  std::optional<KorvaneScopedShellExecuteHook> shell_;
  std::unique_ptr<Trayer> trayer_;
  std::unique_ptr<TMainForm> main_;
};

TEST_F(DesktopTest, WithoutATrayTheReminderIsADesktopNotificationWhoseClickShowsTheWindow) {
  StartMain();
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  main_->hide();
  main_->Settings().IsSysUpdated = false;
  main_->UpdateDriverHintTimer->start(10);
  ASSERT_TRUE(WaitFor([] { return Displayed() == 1; }, 5000)) << "no notification";
  EXPECT_FALSE(main_->isVisible());
  // The notification's default action, as a click on it runs it.
  std::system("dunstctl action 0");
  EXPECT_TRUE(WaitFor([&] { return main_->isVisible(); }, 5000)) << "the click did not show the window";
  std::system("dunstctl close-all");
  const std::string history = Capture("dunstctl history");
  EXPECT_NE(history.find("Your Windows Drivers are Out of Date"), std::string::npos) << history;
  EXPECT_NE(history.find("Korvane detect that some of your drivers are out of date."), std::string::npos);
}

TEST_F(DesktopTest, WithoutATrayTheServerMessagesClickOpensItsLink) {
  StartMain();
  std::vector<std::string> opened;
  shell_.emplace([&](const std::string&, const std::string& file, const std::string&) {
    opened.push_back(file);
    return true;
  });
  main_->MessageShown = true;
  main_->MessageUrl = "http://127.0.0.1/kvn/faq";
  main_->ShowBalloon(ServerMessageTitle, "A newer Korvane is out.", bitInfo, 60);
  ASSERT_TRUE(WaitFor([] { return Displayed() == 1; }, 5000)) << "no notification";
  std::system("dunstctl action 0");
  ASSERT_TRUE(WaitFor([&] { return !opened.empty(); }, 5000));
  EXPECT_EQ(opened[0], "http://127.0.0.1/kvn/faq");
}

TEST_F(DesktopTest, WithoutATrayCloseToTrayMinimisesTheWindow) {
  StartMain();
  main_->Settings().CloseToTray = true;
  main_->show();
  ASSERT_TRUE(WaitFor([&] { return main_->isVisible(); }, 3000));
  main_->ImBtnCloseClick();
  EXPECT_TRUE(WaitFor([&] { return main_->isMinimized(); }, 3000));
  EXPECT_TRUE(main_->isVisible()) << "hidden with nothing that could bring it back";
}

TEST_F(DesktopTest, WithATrayNothingChanges) {
  StartTray();
  StartMain();
  main_->Settings().CloseToTray = true;
  main_->show();
  ASSERT_TRUE(WaitFor([&] { return main_->isVisible(); }, 3000));
  main_->ImBtnCloseClick();
  EXPECT_FALSE(main_->isVisible());
  EXPECT_FALSE(main_->isMinimized());
  main_->Settings().IsSysUpdated = false;
  main_->UpdateDriverHintTimer->start(10);
  bool balloon = false;
  EXPECT_TRUE(WaitFor(
      [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (qstrcmp(w->metaObject()->className(), "QBalloonTip") == 0 && w->isVisible()) balloon = true;
        return balloon;
      },
      5000));
  QTest::qWait(300);
  EXPECT_EQ(Displayed(), 0) << "a desktop notification beside the tray's balloon";
}

TEST_F(DesktopTest, HelpOpensInTheBrowserAsAnHtmlPage) {
  StartMain();
  HelpBesideTheProgram();
  ScopedEnv env;
  const std::string d = ScratchDesktop(env);
  const std::string record = d + "/opened.txt";
  {
    std::ofstream(d + "/browser") << "#!/bin/sh\nprintf '%s\\n' \"$1\" > '" << record << "'\n";
    fs::permissions(d + "/browser", fs::perms::owner_all);
    std::ofstream(d + "/data/applications/test-browser.desktop")
        << "[Desktop Entry]\nType=Application\nName=Test browser\nExec=" << d << "/browser %f\nMimeType=text/html;\n";
    std::ofstream(d + "/config/mimeapps.list") << "[Default Applications]\ntext/html=test-browser.desktop\n";
  }
  main_->ImBtnHelpClick();
  ASSERT_TRUE(WaitFor([&] { return fs::exists(record) && !ReadFile(record).empty(); }, 10000)) << "nothing opened";
  std::string page = ReadFile(record);
  page.pop_back();
  EXPECT_EQ(page.substr(page.size() - 5), ".html") << page;
  EXPECT_EQ(ReadFile(page), ReadFile(main_->State.ExeFolder + "help.chm"));
  EXPECT_TRUE(notices_.empty());
}

TEST_F(DesktopTest, HelpThatNothingOpensIsSaidInTheMessageDialog) {
  StartMain();
  HelpBesideTheProgram();
  ScopedEnv env;
  ScratchDesktop(env);
  main_->ImBtnHelpClick();
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_NE(notices_[0].find(main_->State.ExeFolder + "help.chm"), std::string::npos) << notices_[0];
  main_->State.ExeFolder = root_ + "/nowhere/";
  main_->ImBtnHelpClick();
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_NE(notices_[1].find("missing"), std::string::npos) << notices_[1];
}

TEST_F(DesktopTest, TheSaveDialogStartsInTheDownloadFolder) {
  ScopedEnv env;
  const std::string home = root_ + "/home";
  fs::create_directories(home + "/Fetched");
  fs::create_directories(home + "/Downloads2");
  fs::create_directories(home + "/config");
  env.Set("HOME", home);
  env.Set("XDG_CONFIG_HOME", home + "/config");
  std::ofstream(home + "/config/user-dirs.dirs") << "# xdg-user-dirs\nXDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n";
  StartMain();
  auto form = std::make_unique<TDownForm>(*main_);
  form->Url = "http://127.0.0.1:9/drivers/pkg.zip";
  // The real dialog: looked at once it is up, then cancelled.
  auto startFolder = [&] {
    QString folder, name;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        folder = dialog->directory().absolutePath();
        name = dialog->selectedFiles().value(0);
        dialog->reject();
      }
    });
    poll.start(50);
    EXPECT_FALSE(form->ChooseDestination());
    EXPECT_TRUE(name.endsWith(QStringLiteral("/pkg.zip"))) << name.toStdString();
    return folder.toStdString();
  };
  env.Unset("XDG_DOWNLOAD_DIR");
  EXPECT_EQ(startFolder(), home + "/Fetched") << "user-dirs.dirs";
  env.Set("XDG_DOWNLOAD_DIR", home + "/Downloads2");
  EXPECT_EQ(startFolder(), home + "/Downloads2") << "the environment";
  env.Set("XDG_DOWNLOAD_DIR", home + "/gone");
  fs::remove(home + "/config/user-dirs.dirs");
  EXPECT_EQ(startFolder(), home) << "neither: home";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  TheDesktop().Start();
  if (TheDesktop().missing.empty()) ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int rc = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    rc = RUN_ALL_TESTS();
  }
  TheDesktop().Stop();
  return rc;
}
