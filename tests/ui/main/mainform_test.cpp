#include "skin_form_fixture.h"
#include "support/FakeTray.h"

#include "ui/main/MainUnit.h"
#include "ui/main/uAbout.h"
#include "ui/main/uInfo.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/main/uSplash.h"
#include "ui/pages/uWizardPage.h"

#include "korvane_machine.h"
#include "korvane_window.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

class CountingPage : public TWizardPage {
 public:
  CountingPage(TMainForm& m, int step) : TWizardPage(m, step, QStringLiteral("Counting")) {}
  void PreparePage() override {
    ++prepared;
    TWizardPage::PreparePage();
  }
  int prepared = 0;
};

class MainFormTest : public SkinFormTest {
 protected:
  void SetUp() override {
    SkinFormTest::SetUp();
    main_ = std::make_unique<TMainForm>();
    // The window made its own four pages; counting ones take their slots,
    // and the creation's first step is shown again on them.
    for (int n = 1; n <= 4; ++n) {
      createdWith_[n] = main_->Page(n)->objectName().toStdString();
      pages_[n] = new CountingPage(*main_, n);
      main_->InstallPage(n, pages_[n]);
    }
    main_->ShowStep(main_->CurrentStep, true);
  }
  void TearDown() override {
    main_.reset();
    SkinFormTest::TearDown();
  }
  // Visible as far as the window's own content goes (the window itself is not shown).
  bool Shown(QWidget* w) const { return !w->isHidden(); }
  int VisiblePage() const {
    int found = 0;
    for (int n = 1; n <= 4; ++n)
      if (Shown(main_->Page(n))) found = found ? -1 : n;
    return found;
  }
  std::unique_ptr<TMainForm> main_;
  CountingPage* pages_[5] = {};
  std::string createdWith_[5];
};

TEST_F(MainFormTest, CreationPreparesStepOneAndKnowsItsPaths) {
  EXPECT_EQ(createdWith_[1], "TFrame1");
  EXPECT_EQ(createdWith_[2], "TFrame2");
  EXPECT_EQ(createdWith_[3], "TFrame3");
  EXPECT_EQ(createdWith_[4], "TFrame4");
  EXPECT_EQ(main_->CurrentStep, 1);
  EXPECT_EQ(VisiblePage(), 1);
  EXPECT_EQ(pages_[1]->prepared, 1);
  EXPECT_EQ(main_->windowTitle(), QStringLiteral("Korvane"));
  EXPECT_EQ(main_->size(), QSize(750, 550));
  EXPECT_EQ(main_->Label1->text(), QStringLiteral("Getting start"));
  EXPECT_FALSE(main_->State.TempFolder.empty());
  EXPECT_EQ(main_->State.TempFolder.back(), '/');
  EXPECT_EQ(main_->State.ExeFolder.back(), '/');
  EXPECT_EQ(main_->State.ExeName.rfind(main_->State.ExeFolder, 0), 0u);
  EXPECT_EQ(main_->Page(1)->geometry(), QRect(13, 145, 723, 371));
  EXPECT_TRUE(skinErrors_.empty());
  // The platform layer finds the window by class and caption.
  EXPECT_NE(FindWindowA("TMainForm", "Korvane"), nullptr);
}

// Task bars and Alt-Tab show the program's icon on every window, and the
// windows sit exactly in the middle of the screen.
TEST_F(MainFormTest, WindowsCarryTheProgramIconAndAreCentredExactly) {
  const QIcon icon = main_->windowIcon();
  ASSERT_FALSE(icon.isNull());
  EXPECT_EQ(icon.availableSizes().size(), 2);
  EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
  EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const auto centred = [&](const QWidget& w) {
    return w.pos() == QPoint(screen.x() + (screen.width() - w.width()) / 2,
                             screen.y() + (screen.height() - w.height()) / 2);
  };
  EXPECT_TRUE(centred(*main_)) << main_->x() << "," << main_->y();
  TInfoForm info(*main_);
  EXPECT_FALSE(info.windowIcon().isNull());
  info.ModalHook = [&](TSkinForm& f) {
    EXPECT_TRUE(centred(f)) << f.x() << "," << f.y() << " on " << screen.width() << "x" << screen.height();
    return mrOk;
  };
  info.ShowNotice("centred");
}

TEST_F(MainFormTest, ShowStepSwitchesPagesHeadersAndButtons) {
  struct Row {
    int step;
    bool init;
    int page;
    bool stepsVisible;
    const char* title;
    bool settingsShown;
    int mark;
  };
  const Row rows[] = {
      {2, true, 2, true, "Scanning of your system", false, 0},
      {3, true, 3, true, "Scanning of your system is completed", true, 1},
      {4, true, 4, false, "General Settings", true, 1},  // step 4 keeps the button and the mark
      {1, true, 1, true, "Getting start", true, 0},
      {4, true, 4, false, "General Settings", true, 0},
      {3, false, 3, true, "General Settings", true, 0},  // no preparation: texts stay
  };
  for (const auto& r : rows) {
    main_->ShowStep(r.step, r.init);
    SCOPED_TRACE(r.step);
    EXPECT_EQ(VisiblePage(), r.page);
    EXPECT_EQ(Shown(main_->ImSteps), r.stepsVisible);
    EXPECT_EQ(main_->Label1->text(), QString::fromLatin1(r.title));
    EXPECT_EQ(Shown(main_->ImBtnSettings), r.settingsShown);
    EXPECT_EQ(Shown(main_->ImBtnSettingsGray), !r.settingsShown);
    EXPECT_EQ(main_->ResultsMark(), r.mark);
    EXPECT_EQ(main_->Page(r.page)->ImBgFrame->Picture(), main_->ImWhiteBg->Picture());
  }
  EXPECT_EQ(pages_[3]->prepared, 1);
  EXPECT_EQ(main_->Label2->text(), QStringLiteral("Customize general settings of Korvane"));

  QImage head;
  LoadJpegResource("ICOSTEP3HEAD", head);
  EXPECT_EQ(main_->ImSteps->Picture(), head);

  // Steps outside 1..4 change nothing.
  main_->ShowStep(2, true);
  const QImage before = main_->ImSteps->Picture();
  const int prepared = pages_[2]->prepared;
  for (int bad : {0, 5, -1}) {
    main_->ShowStep(bad, true);
    EXPECT_EQ(VisiblePage(), 2);
    EXPECT_EQ(main_->ImSteps->Picture(), before);
    EXPECT_EQ(main_->Label1->text(), QStringLiteral("Scanning of your system"));
    EXPECT_TRUE(Shown(main_->ImBtnSettingsGray));
  }
  EXPECT_EQ(pages_[2]->prepared, prepared);
}

TEST_F(MainFormTest, SettingsButtonOpensStepFour) {
  main_->ImBtnSettings->SimulateClick();
  EXPECT_EQ(VisiblePage(), 4);
  EXPECT_EQ(pages_[4]->prepared, 1);
  EXPECT_FALSE(main_->isHidden());
  EXPECT_EQ(main_->ImBtnSettings->State(), "_NA");
}

TEST_F(MainFormTest, HelpOpensTheFileBesideTheProgram) {
  std::string opened;
  {
    KorvaneScopedShellExecuteHook shell([&](const std::string&, const std::string& f, const std::string&) {
      opened = f;
      return true;
    });
    main_->ImBtnHelp->SimulateClick();
  }
  EXPECT_EQ(opened, main_->State.ExeFolder + "help.chm");
}

TEST_F(MainFormTest, CloseHidesToTrayWhenAsked) {
  main_.reset();
  ScopedFakeTray tray;  // a notification area exists
  main_ = std::make_unique<TMainForm>();
  TKorvaneTray part(*main_);
  main_->Dialogs.Tray = &part;
  main_->show();
  main_->Settings().CloseToTray = true;
  main_->ImBtnClose->SimulateClick();
  EXPECT_TRUE(main_->isHidden());
  main_->HandleWindowMessage(WM_KORVANE_RESTORE, 0, 0);
  EXPECT_FALSE(main_->isHidden());
  // Without one, hidden would be lost: the window is minimised instead.
  tray.state->available = false;
  main_->ImBtnClose->SimulateClick();
  EXPECT_FALSE(main_->isHidden());
  EXPECT_TRUE(main_->isMinimized());
  main_->Dialogs = TMainDialogs();
  main_.reset();
}

TEST_F(MainFormTest, MinimiseKeepsItsPressedPicture) {
  main_->ImBtnMin->SimulateClick();
  EXPECT_EQ(main_->ImBtnMin->State(), "_DN");
  // The main window's own close button has no white corners.
  QImage raw;
  LoadJpegResource("BTNCLOSE_NA", raw);
  EXPECT_EQ(main_->ImBtnClose->Picture(), raw);
}

TEST_F(MainFormTest, GreyOutIsHalfBrightAndDoesNotNest) {
  main_->show();
  ASSERT_EQ(main_->Tag, 0);
  main_->GrayOutMainWindow();
  EXPECT_EQ(main_->Tag, 1);
  EXPECT_TRUE(main_->Panel1->isHidden());
  const QImage first = main_->ImBgMainGray->Picture();
  ASSERT_EQ(first.size(), QSize(750, 550));
  // Half of the background picture's brightness.
  QImage bg;
  LoadJpegResource("BGMAIN", bg);
  const QRgb src = bg.pixel(400, 20), grey = first.pixel(400, 20);
  EXPECT_NEAR(qRed(grey), qRed(src) * 128 / 255, 1);
  EXPECT_NEAR(qBlue(grey), qBlue(src) * 128 / 255, 1);

  main_->ShowStep(2, true);  // something changes under the grey
  main_->GrayOutMainWindow();
  EXPECT_EQ(main_->ImBgMainGray->Picture(), first);
  main_->UnGrayMainWindow();
  EXPECT_EQ(main_->Tag, 0);
  EXPECT_FALSE(main_->Panel1->isHidden());
  main_->UnGrayMainWindow();
  EXPECT_EQ(main_->Tag, 0);
}

TEST_F(MainFormTest, SettingsExistAfterCreationAndCertificateFileGoesAtExit) {
  main_.reset();
  // A stored certificate is written out at creation and removed at the end.
  {
    std::ofstream reg(machine_->Path("user.reg"));
    reg << "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brantholm\\Korvane]\n"
           "\"CACertData\"=\"-----BEGIN CERTIFICATE-----\"\n";
  }
  KorvaneResetMachine();
  main_ = std::make_unique<TMainForm>();
  const std::string ccc3 = main_->State.TempFolder + "ccc3";
  EXPECT_TRUE(fs::exists(ccc3));
  EXPECT_TRUE(main_->Settings().AutoRun);
  EXPECT_TRUE(main_->Settings().CloseToTray);
  main_.reset();
  EXPECT_FALSE(fs::exists(ccc3));
  std::ifstream in(machine_->Path("user.reg"));
  const std::string hive((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(hive.find("\"AutoRun\"=dword:00000001"), std::string::npos) << hive;
  EXPECT_NE(hive.find(" -t\""), std::string::npos) << hive;
}

// ---- dialogs ---------------------------------------------------------------------

class DialogTest : public SkinFormTest {
 protected:
  void SetUp() override {
    SkinFormTest::SetUp();
    main_ = std::make_unique<TMainForm>();
    info_ = std::make_unique<TInfoForm>(*main_);
    main_->Dialogs.Info = info_.get();
  }
  void TearDown() override {
    main_->Dialogs = TMainDialogs();
    info_.reset();
    main_.reset();
    SkinFormTest::TearDown();
  }
  struct Seen {
    int okLeft = -1;
    bool cancelShown = false, linkShown = false, grey = false;
    QRect message, link;
    QString text;
  };
  // Runs the next modal run through `answer`, recording the layout as shown.
  Seen Run(const std::function<void()>& start, const std::function<int(TInfoForm&)>& answer) {
    Seen s;
    info_->ModalHook = [&](TSkinForm&) {
      s.okLeft = info_->ImBtnOk->x();
      s.cancelShown = !info_->ImBtnCancel->isHidden();
      s.linkShown = !info_->Label2->isHidden();
      s.message = info_->Label6->geometry();
      s.link = info_->Label2->geometry();
      s.text = info_->Label6->text();
      s.grey = main_->Tag == 1;
      return answer(*info_);
    };
    start();
    info_->ModalHook = nullptr;
    return s;
  }
  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TInfoForm> info_;
};

TEST_F(DialogTest, NoticePromptAndLinkLayouts) {
  auto ok = [](TInfoForm&) { return mrOk; };
  Seen s = Run([&] { info_->ShowNotice("Selected directory is not writeable. Select another directory."); }, ok);
  EXPECT_EQ(s.okLeft, 157);
  EXPECT_FALSE(s.cancelShown);
  EXPECT_FALSE(s.linkShown);
  EXPECT_TRUE(s.grey);
  EXPECT_EQ(main_->Tag, 0);  // restored at close

  info_->MessageText = "To continue updating drivers, you need to have an active Internet connection.";
  int result = 0;
  s = Run([&] { result = info_->ShowModal(); }, ok);
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(s.okLeft, 64);
  EXPECT_TRUE(s.cancelShown);

  info_->MessageText = "Downloading completed. File has been saved to \r\n/home/u/x.zip\r\n\r\nIf you have any questions please read our FAQ:";
  info_->LinkText = "http://www.example.com/kvn/faq";
  s = Run([&] { info_->ShowModal(); }, ok);
  EXPECT_EQ(s.okLeft, 157);
  EXPECT_FALSE(s.cancelShown);
  EXPECT_TRUE(s.linkShown);
  EXPECT_EQ(s.link.top(), s.message.top() + s.message.height());
  EXPECT_EQ(s.text.count(QLatin1Char('\n')), 3);
  EXPECT_TRUE(info_->LinkText.empty());

  // The link does not follow into the next dialog.
  info_->MessageText = "Next";
  s = Run([&] { info_->ShowModal(); }, ok);
  EXPECT_FALSE(s.linkShown);
  EXPECT_TRUE(s.cancelShown);
}

TEST_F(DialogTest, LongMessagesWrapWithinTheLabel) {
  info_->MessageText =
      "A long message that keeps going and going well past the width of one line of the dialog so that it must wrap";
  info_->LinkText = "http://example.com/";
  const Seen s = Run([&] { info_->ShowModal(); }, [](TInfoForm&) { return mrOk; });
  EXPECT_LE(s.message.width(), 320);
  EXPECT_GT(s.message.height(), 20);
  EXPECT_EQ(s.link.top(), s.message.bottom() + 1);
}

TEST_F(DialogTest, EnterAndCloseGiveCancelOkGivesOk) {
  const struct {
    const char* what;
    std::function<void(TInfoForm&)> act;
    int result;
  } cases[] = {
      {"enter", [](TInfoForm& f) { QTest::keyClick(&f, Qt::Key_Return); }, mrCancel},
      {"keypad enter", [](TInfoForm& f) { QTest::keyClick(&f, Qt::Key_Enter); }, mrCancel},
      {"close button", [](TInfoForm& f) { f.ImBtnClose->SimulateClick(); }, mrCancel},
      {"cancel", [](TInfoForm& f) { f.ImBtnCancel->SimulateClick(); }, mrCancel},
      {"ok", [](TInfoForm& f) { f.ImBtnOk->SimulateClick(); }, mrOk},
  };
  for (const auto& c : cases) {
    info_->MessageText = "Connect to the Internet and click OK.";
    int result = -1;
    Run([&] { result = info_->ShowModal(); },
        [&](TInfoForm& f) {
          c.act(f);
          return f.ModalResult();
        });
    EXPECT_EQ(result, c.result) << c.what;
  }
}

TEST_F(DialogTest, RealModalRunEndsOnItsButton) {
  TScopedModalHook realRun({});
  info_->MessageText = "Real run";
  QTimer::singleShot(50, info_.get(), [&] { info_->ImBtnOk->SimulateClick(); });
  EXPECT_EQ(info_->ShowModal(), mrOk);
  EXPECT_EQ(main_->Tag, 0);
}

TEST_F(DialogTest, AboutShowsTheVersionOverAGreyMainWindow) {
  TAboutForm about(*main_);
  main_->Dialogs.About = &about;
  main_->State.ProgramVersion = "1.0.0.0";
  bool grey = false;
  QString version;
  about.ModalHook = [&](TSkinForm&) {
    grey = main_->Tag == 1;
    version = about.Label3->text();
    return mrCancel;
  };
  main_->ImBtnAbout->SimulateClick();
  EXPECT_TRUE(grey);
  EXPECT_EQ(version, QStringLiteral("1.0.0.0"));
  EXPECT_EQ(main_->Tag, 0);
  EXPECT_FALSE(about.Label2->text().isEmpty());
  main_->Dialogs.About = nullptr;
}

TEST_F(DialogTest, SplashEndsTwoSecondsAfterCreationOnce) {
  TScopedModalHook realRun({});
  TSplashForm splash(150);
  main_->Dialogs.Splash = &splash;
  EXPECT_EQ(splash.Tag, 0);
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(splash.ShowModal(), mrOk);  // ends by itself
  EXPECT_EQ(splash.Tag, 1);
  EXPECT_LT(t.elapsed(), 2000);
  // Shown after its time: the main window does not show it again.
  main_->show();
  QTest::qWait(50);
  EXPECT_FALSE(splash.isVisible());

  TSplashForm marked(100000);
  marked.MarkDone();
  EXPECT_EQ(marked.Tag, 1);
  main_->Dialogs.Splash = nullptr;
}

}  // namespace
