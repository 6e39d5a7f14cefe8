// The tray icon of the main window on a fake notification area: its settings
// and menu, balloon limits, the out-of-date reminder, the click rules, hiding
// to the tray, Exit, and a tray that appears late or restarts.
#include "skin_form_fixture.h"
#include "support/FakeTray.h"

#include "ui/main/MainUnit.h"
#include "ui/download/uDownForm.h"
#include "ui/main/uAbout.h"
#include "ui/main/uInfo.h"
#include "ui/main/uKorvaneWindows.h"
#include "ui/main/uSplash.h"
#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/widgets/uSkinForm.h"
#include "ui/main/uTray.h"
#include "ui/pages/uWizardPage.h"

#include "korvane_window.h"
#include "resources/kvresources.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>

namespace {

class TrayTest : public SkinFormTest {
 protected:
  void SetUp() override {
    SkinFormTest::SetUp();
    fake_ = std::make_unique<ScopedFakeTray>();
    tray_ = fake_->state;
    MakeWindow();
  }
  // The main window and its notification-area part, joined as the window owner joins them.
  void MakeWindow() {
    if (main_) main_->Dialogs = TMainDialogs();
    part_.reset();
    main_ = std::make_unique<TMainForm>();
    part_ = std::make_unique<TKorvaneTray>(*main_);
    main_->Dialogs.Tray = part_.get();
  }
  void TearDown() override {
    shell_.reset();
    if (main_) main_->Dialogs = TMainDialogs();
    part_.reset();
    main_.reset();
    fake_.reset();
    SkinFormTest::TearDown();
  }
  QAction* Item(const char* name) const {
    return part_->TrayMenu->findChild<QAction*>(QString::fromLatin1(name));
  }
  // Records what the shell would open instead of opening it.
  void CaptureShell() {
    shell_.emplace([this](const std::string&, const std::string& file, const std::string&) {
      opened_.push_back(file);
      return true;
    });
  }

  std::unique_ptr<ScopedFakeTray> fake_;
  std::shared_ptr<FakeTrayState> tray_;
  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TKorvaneTray> part_;
  std::vector<std::string> opened_;
  std::optional<KorvaneScopedShellExecuteHook> shell_;
};

TEST_F(TrayTest, IconIsAddedAtCreationWithHintMenuAndPicture) {
  EXPECT_TRUE(tray_->visible);
  EXPECT_EQ(tray_->visibleCalls, 1);
  EXPECT_EQ(tray_->tip, QStringLiteral("Brantholm - Korvane"));
  EXPECT_FALSE(tray_->icon.isNull());
  EXPECT_FALSE(tray_->icon.pixmap(16, 16).isNull());
  EXPECT_EQ(tray_->menu, part_->TrayMenu);
  ASSERT_TRUE(part_->Icon());
  EXPECT_TRUE(part_->Icon()->IconVisible());
}

TEST_F(TrayTest, MenuHasItsFiveItemsInOrder) {
  const QList<QAction*> items = part_->TrayMenu->actions();
  ASSERT_EQ(items.size(), 5);
  const char* const names[5] = {"ShowKorvane1", "Settings1", "N1", "N2", "Exit1"};
  const char* const captions[5] = {"Show Korvane", "Settings", "About...", "", "Exit"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(items[i]->objectName(), QString::fromLatin1(names[i])) << i;
    EXPECT_EQ(items[i]->isSeparator(), i == 3) << i;
    if (i != 3) {
      EXPECT_EQ(items[i]->text(), QString::fromLatin1(captions[i])) << i;
    }
  }
}

TEST_F(TrayTest, TimersStartWithTheProgramsIntervals) {
  ASSERT_TRUE(part_->UpdateDriverHintTimer && part_->UInfoTimer);
  EXPECT_TRUE(part_->UpdateDriverHintTimer->isActive());
  EXPECT_EQ(part_->UpdateDriverHintTimer->interval(), 60000);
  EXPECT_TRUE(part_->UInfoTimer->isActive());
  EXPECT_EQ(part_->UInfoTimer->interval(), 30000);
  EXPECT_EQ(part_->UInfoTimerTag, 300000);
}

TEST_F(TrayTest, BalloonCutsTitleAndTextAndGivesMilliseconds) {
  const std::string title(70, 'T'), text(300, 'x');
  main_->ShowBalloon(title, text, bitWarning, 60);
  ASSERT_EQ(tray_->balloons.size(), 1u);
  EXPECT_EQ(tray_->balloons[0].title, QString(63, QLatin1Char('T')));
  EXPECT_EQ(tray_->balloons[0].text, QString(255, QLatin1Char('x')));
  EXPECT_EQ(tray_->balloons[0].kind, 2);
  EXPECT_EQ(tray_->balloons[0].msecs, 60000);

  // At the limits nothing is cut; code-page text arrives as such.
  main_->ShowBalloon(std::string(63, 'a'), std::string(254, 'b') + "\xE9", bitInfo, 5);
  ASSERT_EQ(tray_->balloons.size(), 2u);
  EXPECT_EQ(tray_->balloons[1].title.size(), 63);
  EXPECT_EQ(tray_->balloons[1].text.size(), 255);
  EXPECT_EQ(tray_->balloons[1].text.back(), QChar(0xE9));
  EXPECT_EQ(tray_->balloons[1].msecs, 5000);

  for (int kind : {bitNone, bitError}) main_->ShowBalloon("k", "k", kind, 60);
  ASSERT_EQ(tray_->balloons.size(), 4u);
  EXPECT_EQ(tray_->balloons[2].kind, 0);
  EXPECT_EQ(tray_->balloons[3].kind, 3);
}

TEST_F(TrayTest, NoBalloonAndNoErrorWithoutATray) {
  tray_->available = false;
  main_->ShowBalloon("Title", "Text", bitInfo, 60);
  EXPECT_TRUE(tray_->balloons.empty());
}

TEST_F(TrayTest, ReminderFiresOnceWhenNotUpToDate) {
  main_->Settings().IsSysUpdated = false;
  part_->UpdateDriverHintTimer->start(20);
  QTest::qWait(250);
  ASSERT_EQ(tray_->balloons.size(), 1u);
  EXPECT_EQ(tray_->balloons[0].title, QStringLiteral("Your Windows Drivers are Out of Date"));
  EXPECT_EQ(tray_->balloons[0].text,
            QStringLiteral(
                "Korvane detect that some of your drivers are out of date. Brantholm strongly "
                "recommends you to scan your system for most current driver updates for your computer."));
  EXPECT_EQ(tray_->balloons[0].kind, bitWarning);
  EXPECT_EQ(tray_->balloons[0].msecs, 60000);
  EXPECT_FALSE(part_->UpdateDriverHintTimer->isActive());
}

TEST_F(TrayTest, ReminderFiresWhileTheWindowIsHidden) {
  main_->hide();
  main_->Settings().IsSysUpdated = false;
  part_->UpdateDriverHintTimer->start(10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !tray_->balloons.empty(); }, 2000));
  EXPECT_TRUE(main_->isHidden());  // the reminder does not show the window
}

TEST_F(TrayTest, ReminderSilentWhenUpToDateAndNoLaterOne) {
  main_->Settings().IsSysUpdated = true;
  part_->UpdateDriverHintTimer->start(20);
  QTest::qWait(150);
  EXPECT_TRUE(tray_->balloons.empty());
  EXPECT_FALSE(part_->UpdateDriverHintTimer->isActive());
  // A scan that leaves drivers out of date later in the run brings no reminder.
  main_->Settings().IsSysUpdated = false;
  QTest::qWait(100);
  EXPECT_TRUE(tray_->balloons.empty());
}

TEST_F(TrayTest, BalloonClickWithoutPendingLinkShowsTheWindow) {
  CaptureShell();
  main_->hide();
  tray_->balloonClick();
  EXPECT_FALSE(main_->isHidden());
  EXPECT_TRUE(opened_.empty());
}

TEST_F(TrayTest, BalloonClickRestoresAMinimisedWindow) {
  main_->showMinimized();
  tray_->balloonClick();
  EXPECT_FALSE(main_->isMinimized());
  EXPECT_FALSE(main_->isHidden());
}

TEST_F(TrayTest, PendingLinkOpensOnceThenClicksShowTheWindow) {
  CaptureShell();
  main_->hide();
  part_->MessageShown = true;
  part_->MessageUrl = "http://example.invalid/news";
  tray_->balloonClick();
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], "http://example.invalid/news");
  EXPECT_TRUE(main_->isHidden());
  EXPECT_TRUE(part_->MessageUrl.empty());
  tray_->balloonClick();
  EXPECT_EQ(opened_.size(), 1u);
  EXPECT_FALSE(main_->isHidden());
}

TEST_F(TrayTest, UrlWithoutShownMessageIsNoLinkButIsCleared) {
  CaptureShell();
  main_->hide();
  part_->MessageShown = false;
  part_->MessageUrl = "http://example.invalid/";
  tray_->balloonClick();
  EXPECT_TRUE(opened_.empty());
  EXPECT_FALSE(main_->isHidden());
  EXPECT_TRUE(part_->MessageUrl.empty());
}

TEST_F(TrayTest, ShownMessageWithEmptyLinkShowsTheWindow) {
  CaptureShell();
  main_->hide();
  part_->MessageShown = true;
  part_->MessageUrl.clear();
  tray_->doubleClick();
  EXPECT_TRUE(opened_.empty());
  EXPECT_FALSE(main_->isHidden());
}

TEST_F(TrayTest, DoubleClickBehavesLikeABalloonClick) {
  CaptureShell();
  main_->hide();
  part_->MessageShown = true;
  part_->MessageUrl = "http://example.invalid/a";
  tray_->doubleClick();
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_TRUE(main_->isHidden());
  tray_->doubleClick();
  EXPECT_EQ(opened_.size(), 1u);
  EXPECT_FALSE(main_->isHidden());
}

TEST_F(TrayTest, LinkTheShellCannotOpenIsIgnored) {
  shell_.emplace([](const std::string&, const std::string&, const std::string&) { return false; });
  main_->hide();
  part_->MessageShown = true;
  part_->MessageUrl = "http://nowhere.invalid/at-all";  // a web page the shell refuses
  tray_->balloonClick();
  EXPECT_TRUE(main_->isHidden());
  EXPECT_TRUE(part_->MessageUrl.empty());
}

TEST_F(TrayTest, ShowKorvaneItemShowsTheHiddenWindow) {
  main_->hide();
  Item("ShowKorvane1")->trigger();
  EXPECT_FALSE(main_->isHidden());
}

TEST_F(TrayTest, SettingsItemShowsTheWindowOnTheSettingsPage) {
  main_->hide();
  Item("Settings1")->trigger();
  EXPECT_FALSE(main_->isHidden());
  EXPECT_FALSE(main_->Page(4)->isHidden());
  for (int n = 1; n <= 3; ++n) EXPECT_TRUE(main_->Page(n)->isHidden()) << n;
}

TEST_F(TrayTest, AboutItemShowsTheAboutBoxModally) {
  TAboutForm about(*main_);
  main_->Dialogs.About = &about;
  int modal = 0;
  TScopedModalHook counting([&](TSkinForm& f) {
    if (&f == &about) ++modal;
    return mrCancel;
  });
  Item("N1")->trigger();
  EXPECT_EQ(modal, 1);
  main_->Dialogs.About = nullptr;
}

TEST_F(TrayTest, CloseToTrayKeepsTheIcon) {
  main_->show();
  main_->Settings().CloseToTray = true;
  main_->HideToTray();
  EXPECT_TRUE(main_->isHidden());
  EXPECT_TRUE(tray_->visible);
  EXPECT_TRUE(tray_->alive);
}

TEST_F(TrayTest, ExitEndsTheLoopAndTheIconGoesWithTheWindow) {
  bool timedOut = false;
  QTimer::singleShot(0, main_.get(), [this] { Item("Exit1")->trigger(); });
  // The guard timer goes with the test: a timer on qApp would outlive it and
  // write into a later test's stack.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    timedOut = true;
    QCoreApplication::exit(1);
  });
  guard.start(5000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(timedOut);
  EXPECT_TRUE(tray_->visible);  // until the window goes at the end
  main_.reset();
  EXPECT_FALSE(tray_->visible);
  EXPECT_FALSE(tray_->alive);
}

TEST_F(TrayTest, IconAppearsWhenATrayAppearsLater) {
  main_.reset();
  tray_->visibleCalls = 0;
  tray_->visible = false;
  tray_->available = false;
  MakeWindow();
  EXPECT_FALSE(tray_->visible);
  EXPECT_EQ(tray_->visibleCalls, 0);
  part_->Icon()->CheckTray();
  EXPECT_FALSE(tray_->visible);
  tray_->available = true;
  part_->Icon()->CheckTray();
  EXPECT_TRUE(tray_->visible);
  EXPECT_EQ(tray_->visibleCalls, 1);
  part_->Icon()->CheckTray();  // no second add while the tray stays
  EXPECT_EQ(tray_->visibleCalls, 1);
}

TEST_F(TrayTest, IconIsAddedAgainAfterTheTrayRestarts) {
  tray_->available = false;
  part_->Icon()->CheckTray();
  tray_->available = true;
  part_->Icon()->CheckTray();
  EXPECT_TRUE(tray_->visible);
  EXPECT_EQ(tray_->visibleCalls, 2);
}

TEST_F(TrayTest, TrayIsLookedForAgainByItself) {
  std::shared_ptr<FakeTrayState> s = std::make_shared<FakeTrayState>();
  s->available = false;
  TTrayIcon icon(std::make_unique<FakeTrayBackend>(s), 10);
  icon.SetIconVisible(true);
  EXPECT_FALSE(s->visible);
  s->available = true;
  EXPECT_TRUE(QTest::qWaitFor([&] { return s->visible; }, 2000));
}

TEST_F(TrayTest, HiddenIconIsNotAddedByATrayAppearing) {
  std::shared_ptr<FakeTrayState> s = std::make_shared<FakeTrayState>();
  s->available = false;
  TTrayIcon icon(std::make_unique<FakeTrayBackend>(s), 1000);
  icon.SetIconVisible(false);
  s->available = true;
  icon.CheckTray();
  EXPECT_FALSE(s->visible);
  EXPECT_EQ(s->visibleCalls, 0);
}

// The program's window owner: the main window with its tray first, then the
// dialogs, each joined to the main window; the tray menu reaches them.
TEST_F(TrayTest, TheWindowOwnerJoinsTheDialogsToTheMainWindow) {
  main_.reset();
  part_.reset();
  auto windows = std::make_unique<TKorvaneWindows>();
  TMainForm& main = windows->Main();
  EXPECT_TRUE(tray_->alive);
  EXPECT_EQ(main.Dialogs.Tray, static_cast<IMainTray*>(&windows->Tray()));
  EXPECT_EQ(main.Dialogs.DrvInfo1, &windows->DrvInfo1());
  EXPECT_EQ(main.Dialogs.DrvInfo2, &windows->DrvInfo2());
  EXPECT_EQ(main.Dialogs.About, &windows->About());
  EXPECT_EQ(main.Dialogs.Info, &windows->Info());
  EXPECT_EQ(main.Dialogs.Download, static_cast<IPackageDownload*>(&windows->Download()));
  EXPECT_EQ(main.Dialogs.Splash, &windows->Splash());
  std::vector<std::string> modal;
  TScopedModalHook counting([&](TSkinForm& f) {
    modal.push_back(f.objectName().toStdString());
    return mrCancel;
  });
  windows->Tray().TrayMenu->findChild<QAction*>(QStringLiteral("N1"))->trigger();
  ASSERT_EQ(modal.size(), 1u);
  EXPECT_EQ(modal[0], "TAboutForm");
  windows.reset();
  EXPECT_FALSE(tray_->alive);
}

TEST(TrayPicture, IsTheSixteenPixelResource) {
  KorvaneInitResources();
  const QIcon icon = TrayIconPicture();
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.pixmap(16, 16).size(), QSize(16, 16));
}

}  // namespace
