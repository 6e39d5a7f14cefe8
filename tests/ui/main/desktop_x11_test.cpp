// The program on a desktop without a notification area, under Xvfb with a private
// session bus and dunst as the notification service: the reminder and the server's
// message as desktop notifications whose default action is the balloon's click, Close
// to tray minimising, and with a tray host (trayer) everything as before. Also the
// help handed to the desktop's browser as HTML (and the notice when nothing opens it)
// and the save dialog starting in the download folder. Skipped with a message where
// a needed program is missing.
#include "skin_form_fixture.h"
#include "support/QtWait.h"
#include "support/ScopedEnv.h"
#include "support/ScratchFolder.h"
#include "support/XvfbDisplay.h"

#include "korvane_window.h"
#include "ui/download/uDownForm.h"
#include "ui/download/uDownloads.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uTray.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using korvane::testing::ReadTextFile;
using korvane::testing::ScopedEnv;
using korvane::testing::Spawn;
using korvane::testing::StopChild;
using korvane::testing::TopLevelOfClass;
using korvane::testing::Trayer;
using korvane::testing::WaitFor;

// The X server, a session bus and the notification service of the whole run, started
// before the QApplication (which reads DISPLAY and the bus address once).
struct Desktop {
  korvane::testing::XvfbDisplay xvfb;
  std::optional<korvane::testing::SessionBus> bus;
  pid_t dunst = -1;
  std::string missing;  // why the tests skip

  void Start() {
    missing = xvfb.StartWith({"dbus-daemon", "dunst", "dunstctl", "trayer", "xdg-open"});
    if (!missing.empty()) return;
    xvfb.Export();
    if (!bus.emplace().Running()) {
      missing = "dbus-daemon did not start";
      return;
    }
    dunst = Spawn({"dunst"});
    const auto running = [] { return Capture("dunstctl is-paused 2>/dev/null") == "false\n"; };
    if (!korvane::testing::WaitUntil(running, std::chrono::seconds(10))) missing = "dunst did not start";
  }
  void Stop() {
    StopChild(dunst);
    bus.reset();
    xvfb.Stop();
  }
};

Desktop& TheDesktop() {
  static Desktop d;
  return d;
}

int Displayed() { return std::atoi(Capture("dunstctl count displayed 2>/dev/null").c_str()); }

class DesktopTest : public SkinFormTest {
 protected:
  void SetUp() override {
    if (!TheDesktop().missing.empty()) GTEST_SKIP() << TheDesktop().missing << ": the desktop tests are skipped";
    SkinFormTest::SetUp();
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
    part_.reset();
    main_.reset();
    trayer_.reset();
    QCoreApplication::processEvents();
    SkinFormTest::TearDown();
  }
  void StartTray() {
    trayer_ = std::make_unique<Trayer>();
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000)) << "no tray appeared";
  }
  void StartMain() {
    main_ = std::make_unique<TMainForm>();
    part_ = std::make_unique<TKorvaneTray>(*main_);
    main_->Dialogs.Tray = part_.get();
    info_ = std::make_unique<TInfoForm>(*main_);
    main_->Dialogs.Info = info_.get();
    info_->ModalHook = [this](TSkinForm&) {
      notices_.push_back(info_->MessageText);
      return mrOk;
    };
    ASSERT_TRUE(part_->Icon());
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
  std::unique_ptr<TKorvaneTray> part_;
};

TEST_F(DesktopTest, WithoutATrayTheReminderIsADesktopNotificationWhoseClickShowsTheWindow) {
  StartMain();
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  main_->hide();
  main_->Settings().IsSysUpdated = false;
  part_->UpdateDriverHintTimer->start(10);
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
  part_->MessageShown = true;
  part_->MessageUrl = "http://127.0.0.1/kvn/faq";
  main_->ShowBalloon(ServerMessageTitle, "A newer Korvane is out.", bitInfo, 60);
  ASSERT_TRUE(WaitFor([] { return Displayed() == 1; }, 5000)) << "no notification";
  std::system("dunstctl action 0");
  ASSERT_TRUE(WaitFor([&] { return !opened.empty(); }, 5000));
  EXPECT_EQ(opened[0], "http://127.0.0.1/kvn/faq");
}

TEST_F(DesktopTest, ANotificationShowsTheServersMarkupAsText) {
  StartMain();
  const std::string text =
      "<a href=\"file:///etc/passwd\">update</a><img src=\"file:///tmp/x.png\"/> & <b>now</b>";
  main_->ShowBalloon("<i>Information</i>", text, bitInfo, 60);
  ASSERT_TRUE(WaitFor([] { return Displayed() == 1; }, 5000)) << "no notification";
  std::system("dunstctl close-all");
  const std::string history = Capture("dunstctl history");
  EXPECT_NE(history.find("&lt;a href=&quot;file:///etc/passwd&quot;&gt;update&lt;/a&gt;"), std::string::npos)
      << history;
  EXPECT_NE(history.find("&lt;img src="), std::string::npos) << history;
  EXPECT_NE(history.find("&amp; &lt;b&gt;now&lt;/b&gt;"), std::string::npos) << history;
  EXPECT_NE(history.find("&lt;i&gt;Information&lt;/i&gt;"), std::string::npos) << history;
  EXPECT_EQ(history.find("<img"), std::string::npos) << history;
  EXPECT_EQ(history.find("<a href"), std::string::npos) << history;
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
  part_->UpdateDriverHintTimer->start(10);
  EXPECT_TRUE(WaitFor([] { return TopLevelOfClass("QBalloonTip") != nullptr; }, 5000));
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
  ASSERT_TRUE(WaitFor([&] { return fs::exists(record) && !ReadTextFile(record).empty(); }, 10000))
      << "nothing opened";
  std::string page = ReadTextFile(record);
  page.pop_back();
  EXPECT_EQ(page.substr(page.size() - 5), ".html") << page;
  EXPECT_EQ(ReadTextFile(page), ReadTextFile(main_->State.ExeFolder + "help.chm"));
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
