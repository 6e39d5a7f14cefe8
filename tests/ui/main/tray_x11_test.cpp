// The real notification area: the main window's QSystemTrayIcon under Xvfb with
// trayer as the tray host. The icon, its menu on a right-click, the reminder
// balloon and its click, the double-click, a tray that appears late or
// restarts. Skipped with a message where Xvfb or trayer is missing.
#include "support/QtWait.h"
#include "support/XvfbDisplay.h"
#include "skin_form_fixture.h"

#include "ui/main/MainUnit.h"
#include "ui/main/uTray.h"
#include "ui/pages/uWizardPage.h"

#include <korvane_window.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using korvane::testing::TopLevelOfClass;
using korvane::testing::Trayer;
using korvane::testing::WaitFor;

// The X server of the whole run, started before the QApplication.
struct XServer {
  korvane::testing::XvfbDisplay xvfb;
  std::string missing;  // why the tests skip
  void Start() { missing = xvfb.StartWith({"trayer"}); }
  const std::string& Display() const { return xvfb.Display(); }
};

XServer& Server() {
  static XServer s;
  return s;
}

class RealTrayTest : public SkinFormTest {
 protected:
  void SetUp() override {
    if (!Server().missing.empty()) GTEST_SKIP() << Server().missing << ": the real tray tests are skipped";
    SkinFormTest::SetUp();
  }
  void TearDown() override {
    if (!Server().missing.empty()) return;
    if (main_) main_->Dialogs = TMainDialogs();
    part_.reset();
    main_.reset();
    trayer_.reset();
    QCoreApplication::processEvents();
    SkinFormTest::TearDown();
  }
  void StartTray() {
    trayer_ = std::make_unique<Trayer>();  // on the test's own display
    ASSERT_TRUE(WaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000)) << "no tray appeared";
  }
  // The main window and its notification-area part, joined as the window owner joins them.
  void StartMain() {
    main_ = std::make_unique<TMainForm>();
    part_ = std::make_unique<TKorvaneTray>(*main_);
    main_->Dialogs.Tray = part_.get();
  }
  QSystemTrayIcon* Icon() const { return part_->findChild<QSystemTrayIcon*>(); }
  // The icon sits in the tray when the window system shows its window inside
  // the tray host's panel.
  bool Docked() const {
    QSystemTrayIcon* icon = Icon();
    return icon && icon->isVisible() && !korvane::testing::TrayIconWindow(Server().Display()).empty();
  }
  QWidget* IconWidget() const { return TopLevelOfClass("QSystemTrayIconSys", true); }

  std::unique_ptr<Trayer> trayer_;
  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TKorvaneTray> part_;
};

TEST_F(RealTrayTest, IconDocksWithItsHint) {
  StartTray();
  StartMain();
  ASSERT_TRUE(Icon());
  EXPECT_TRUE(WaitFor([&] { return Docked(); }, 10000)) << korvane::testing::WindowTree(Server().Display());
  EXPECT_EQ(Icon()->toolTip(), QStringLiteral("Brantholm - Korvane"));
  EXPECT_EQ(Icon()->contextMenu(), part_->TrayMenu);
  EXPECT_FALSE(Icon()->icon().isNull());
}

TEST_F(RealTrayTest, ReminderBalloonAndItsClickShowTheWindow) {
  StartTray();
  StartMain();
  ASSERT_TRUE(WaitFor([&] { return Docked(); }, 10000));
  main_->hide();
  main_->Settings().IsSysUpdated = false;
  part_->UpdateDriverHintTimer->start(10);
  QWidget* tip = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (tip = TopLevelOfClass("QBalloonTip", true)) != nullptr; }, 5000));
  bool titled = false;
  for (QLabel* l : tip->findChildren<QLabel*>())
    if (l->text().contains(QStringLiteral("Your Windows Drivers are Out of Date"))) titled = true;
  EXPECT_TRUE(titled);
  QTest::mouseClick(tip, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_TRUE(WaitFor([&] { return main_->isVisible(); }, 3000));
}

TEST_F(RealTrayTest, DoubleClickOnTheIconShowsTheWindow) {
  StartTray();
  StartMain();
  ASSERT_TRUE(WaitFor([&] { return Docked() && IconWidget(); }, 10000));
  main_->hide();
  QTest::mouseDClick(IconWidget(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_TRUE(WaitFor([&] { return main_->isVisible(); }, 3000));
}

TEST_F(RealTrayTest, RightClickOpensTheTrayMenu) {
  StartTray();
  StartMain();
  ASSERT_TRUE(WaitFor([&] { return Docked() && IconWidget(); }, 10000));
  QTest::mousePress(IconWidget(), Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_TRUE(WaitFor([&] { return part_->TrayMenu->isVisible(); }, 3000));
  part_->TrayMenu->close();
}

// Qt reports a press on the icon while a balloon shows as a balloon click;
// only a click on the balloon itself (or a double-click on the icon) is one.
TEST_F(RealTrayTest, PressOnTheIconDuringABalloonIsNoBalloonClick) {
  StartTray();
  StartMain();
  ASSERT_TRUE(WaitFor([&] { return Docked() && IconWidget(); }, 10000));
  main_->hide();
  int opened = 0;
  KorvaneScopedShellExecuteHook shell([&](const std::string&, const std::string&, const std::string&) {
    ++opened;
    return true;
  });
  part_->MessageShown = true;
  part_->MessageUrl = "http://news.example/";
  QWidget* tip = nullptr;
  const auto balloon = [&] {
    main_->ShowBalloon("Information", "News", 1, 60);
    return WaitFor([&] { return (tip = TopLevelOfClass("QBalloonTip", true)) != nullptr; }, 5000);
  };
  for (Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
    ASSERT_TRUE(balloon());
    QTest::mousePress(IconWidget(), button, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(IconWidget(), button, Qt::NoModifier, QPoint(5, 5));
    if (button == Qt::RightButton) {
      EXPECT_TRUE(WaitFor([&] { return part_->TrayMenu->isVisible(); }, 3000));
    }
    QTest::qWait(300);
    part_->TrayMenu->close();
    EXPECT_EQ(opened, 0) << "a press on the icon opened the message's link";
    EXPECT_FALSE(main_->isVisible()) << "a press on the icon showed the window";
    EXPECT_EQ(part_->MessageUrl, "http://news.example/");
  }
  // The balloon itself: the pending link opens, once.
  ASSERT_TRUE(balloon());
  QTest::mouseClick(tip, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_TRUE(WaitFor([&] { return opened == 1; }, 3000));
  EXPECT_TRUE(part_->MessageUrl.empty());
}

TEST_F(RealTrayTest, IconAppearsWhenATrayAppearsAndAfterItRestarts) {
  StartMain();  // no tray yet: the program runs on
  QTest::qWait(300);
  EXPECT_FALSE(Docked());
  StartTray();
  EXPECT_TRUE(WaitFor([&] { return Docked(); }, 10000)) << "the icon did not follow the tray";
  trayer_.reset();
  ASSERT_TRUE(WaitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
  StartTray();
  EXPECT_TRUE(WaitFor([&] { return Docked(); }, 10000)) << "the icon did not come back with the tray";
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Server().Start();
  if (Server().missing.empty()) Server().xvfb.Export();
  int rc = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));  // as the program names its windows
    QApplication::setQuitOnLastWindowClosed(false);
    rc = RUN_ALL_TESTS();
  }
  Server().xvfb.Stop();
  return rc;
}
