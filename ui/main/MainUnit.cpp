#include "ui/main/MainUnit.h"

#include "ui/main/uAbout.h"
#include "ui/main/uInfo.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/main/uSplash.h"
#include "ui/widgets/uText.h"
#include "ui/main/uTray.h"
#include "ui/pages/uFrame1.h"
#include "ui/pages/uFrame2.h"
#include "ui/pages/uFrame3.h"
#include "ui/pages/uFrame4.h"
#include "ui/pages/uWizardPage.h"
#include "ui/widgets/uDiagram.h"
#include "ui/widgets/uX11.h"
#include "sysinfo/VersionInfo.h"
#include "sysinfo/uPartnerTag.h"

#include <fileapi.h>
#include <libloaderapi.h>
#include <shellapi.h>
#include <winuser.h>
#include "korvane_file.h"
#include "korvane_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

struct TStepRow {
  const char* title;
  const char* subtitle;
};

const TStepRow kSteps[5] = {
    {"", ""},
    {"Getting start", "Start checking your drivers for updates from this step. Click \"Scan Now\" to continue."},
    {"Scanning of your system", "Scanning of your system in progress. It takes 1-2 minutes. Please wait..."},
    {"Scanning of your system is completed", "Now you can update out of date drivers..."},
    {"General Settings", "Customize general settings of Korvane"},
};

const char* const kStepHeads[4] = {"", "ICOSTEP1HEAD", "ICOSTEP2HEAD", "ICOSTEP3HEAD"};

}  // namespace

// ---- helpers ---------------------------------------------------------------------

QImage HalfBrightness(const QImage& image) {
  QImage out = image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const QRgb c = line[x];
      line[x] = qRgb(qRed(c) * 128 / 255, qGreen(c) * 128 / 255, qBlue(c) * 128 / 255);
    }
  }
  return out;
}

// ---- TMainForm ---------------------------------------------------------------------

TMainForm::TMainForm()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint) {
  setObjectName(QStringLiteral("TMainForm"));
  setWindowTitle(QStringLiteral("Korvane"));
  setWindowIcon(ProgramIcon());  // what task bars and Alt-Tab show
  setFixedSize(750, 550);
  setFont(SkinFont(QStringLiteral("Tahoma"), 11));
  FormCreate();
}

void TMainForm::FormCreate() {
  // Controls: the grey still behind Panel1, all normal content inside it.
  ImBgMainGray = new TImage(this, QStringLiteral("ImBgMainGray"));
  ImBgMainGray->setGeometry(0, 0, 750, 550);
  Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(0, 0, 750, 550);
  ImBgMain = new TImage(Panel1, QStringLiteral("ImBgMain"));
  ImBgMain->setGeometry(0, 0, 750, 550);
  ImWhiteBg = new TImage(Panel1, QStringLiteral("ImWhiteBg"));
  ImWhiteBg->setGeometry(13, 145, 723, 371);
  ImSteps = new TImage(Panel1, QStringLiteral("ImSteps"));
  ImSteps->setGeometry(0, 0, 200, 115);
  ImSteps->Transparent = true;
  Label1 = new TSkinLabel(Panel1, QStringLiteral("Label1"), 44, 79, QStringLiteral("Arial"), 21, Qt::white);
  Label2 = new TSkinLabel(Panel1, QStringLiteral("Label2"), 44, 109, QStringLiteral("Arial"), 15, Qt::white);
  Label2->SetFixedBox(638, 17);
  ImBtnClose = new TImageButton(Panel1, QStringLiteral("ImBtnClose"), "BTNCLOSE");
  ImBtnClose->setGeometry(694, 0, 41, 15);
  ImBtnMin = new TImageButton(Panel1, QStringLiteral("ImBtnMin"), "BTNMIN");
  ImBtnMin->setGeometry(671, 0, 25, 15);
  ImBtnSettingsGray = new TImage(Panel1, QStringLiteral("ImBtnSettingsGray"));
  ImBtnSettingsGray->setGeometry(37, 521, 73, 23);
  ImBtnSettings = new TImageButton(Panel1, QStringLiteral("ImBtnSettings"), "BTNSETTINGS");
  ImBtnSettings->setGeometry(37, 521, 73, 23);
  ImBtnHelp = new TImageButton(Panel1, QStringLiteral("ImBtnHelp"), "BTNHELP");
  ImBtnHelp->setGeometry(121, 521, 55, 23);
  ImBtnAbout = new TImageButton(Panel1, QStringLiteral("ImBtnAbout"), "BTNABOUT");
  ImBtnAbout->setGeometry(187, 521, 62, 23);

  ImBtnClose->OnButtonClick = [this] { ImBtnCloseClick(); };
  ImBtnMin->NormalOnRelease = false;  // it keeps its pressed picture until the pointer moves on
  ImBtnMin->OnRelease = [this](Qt::MouseButton b) {
    if (b == Qt::LeftButton) showMinimized();
  };
  ImBtnSettings->OnButtonClick = [this] { ImBtnSettingsClick(); };
  ImBtnHelp->OnButtonClick = [this] { ImBtnHelpClick(); };
  ImBtnAbout->OnButtonClick = [this] { ImBtnAboutClick(); };
  for (QWidget* w : {static_cast<QWidget*>(ImBgMain), static_cast<QWidget*>(ImSteps),
                     static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2)})
    MakeDragSource(w);

  // The four pages, one instance each, hidden until their step is shown.
  InstallPage(1, new TFrame1(*this));
  InstallPage(2, new TFrame2(*this));
  InstallPage(3, new TFrame3(*this));
  InstallPage(4, new TFrame4(*this));

  // The run's state.
  State.ReadTempFolder();  // empty, with the cause, when the folder cannot be used
  State.ExeName = KorvaneModuleFileName();
  const size_t slash = State.ExeName.rfind('/');
  State.ExeFolder = slash == std::string::npos ? std::string() : State.ExeName.substr(0, slash + 1);
  try {
    State.ProgramVersion = FileVersionText(State.ExeName);
  } catch (const std::exception&) {
    State.ProgramVersion.clear();  // an unreadable version block counts as none
  }
  State.PartnerID = ReadPartnerTag(State.ExeName);

  SetRoundWindowRegion(this, 750, 550, 20, 20);

  // Only the window program writes every setting and the autorun entry.
  State.OwnsSettings = true;
  // Every field is loaded either way; a certificate file that could not be
  // written is found missing by the next update check, which says so.
  const TCertFileResult cert = State.LoadSettings();
  if (!cert.Ok()) std::cerr << "Korvane: " << cert.Text << "\n";
  // Saved as loaded at the first turn of the event loop: the save waits for the disk
  // (the hive is synced), and before the window is on screen nothing can change a
  // setting. A main window gone before that saves at its end.
  QTimer::singleShot(0, this, [this] { State.SaveSettings(); });

  RunSkinGuarded([&] { LoadSkin(); });

  CentreOnScreen(this);

  CurrentStep = 1;
  RunSkinGuarded([&] { ShowStep(1, true); });

  RegisterPlatformWindow();
}

void TMainForm::LoadSkin() {
  LoadJpegResource("BGMAIN", ImBgMain);
  LoadJpegResource("BGWHITE", ImWhiteBg);
  LoadJpegResource("BTNSETTINGS_GRAY", ImBtnSettingsGray);
  ImBtnClose->ShowNormal();
  ImBtnMin->ShowNormal();
  ImBtnSettings->ShowNormal();
  ImBtnHelp->ShowNormal();
  ImBtnAbout->ShowNormal();
}

TMainForm::~TMainForm() {
  EndRun();
  // The pages (and the workers they own) read the run's state: they go while it still stands.
  for (TWizardPage*& page : FPages) {
    delete page;
    page = nullptr;
  }
}

void TMainForm::SaveRunState() {
  State.SaveSettings();
  if (!State.TempFolder.empty()) DeleteFileA((State.TempFolder + CACertFileName).c_str());
}

void TMainForm::EndRun() {
  if (FRunEnded) return;
  FRunEnded = true;
  if (Dialogs.Tray) Dialogs.Tray->EndRun();  // the icon goes with the program
  if (FPlatformWindow) KorvaneUnregisterWindow(FPlatformWindow);
  FPlatformWindow = nullptr;
  SaveRunState();
  FlushWindowSystem();  // the icon's removal reaches the tray even if the process ends at once
}

void TMainForm::RegisterPlatformWindow() {
  KorvaneWindowCallbacks cb;
  // Called on the layer's thread: hand the message to the event loop, where
  // it reaches the main window if it still exists.
  const QPointer<TMainForm> self(this);
  cb.Post = [self](UINT msg, WPARAM w, LPARAM l) {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app,
          [self, msg, w, l] {
            if (self) self->HandleWindowMessage(msg, w, l);
          },
          Qt::QueuedConnection);
  };
  cb.GetRect = [this](RECT& rc) {
    std::lock_guard<std::mutex> g(FRectLock);
    rc = RECT{FRect[0], FRect[1], FRect[2], FRect[3]};
    return true;
  };
  cb.SetPos = [self](HWND, int x, int y, int cx, int cy, UINT flags) {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(
          app,
          [=] {
            if (!self) return;
            if (!(flags & SWP_NOMOVE)) self->move(x, y);
            (void)cx;
            (void)cy;  // the window has a fixed size
          },
          Qt::QueuedConnection);
    return true;
  };
  FPlatformWindow = KorvaneRegisterWindow("TMainForm", "Korvane", cb);
}

void TMainForm::RememberGeometry() {
  std::lock_guard<std::mutex> g(FRectLock);
  const QRect r = frameGeometry();
  FRect[0] = r.left();
  FRect[1] = r.top();
  FRect[2] = r.left() + r.width();
  FRect[3] = r.top() + r.height();
}

void TMainForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  RememberGeometry();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RememberGeometry();
}

void TMainForm::InstallPage(int n, TWizardPage* page) {
  if (n < 1 || n > 4 || !page) return;
  if (FPages[n] && FPages[n] != page) delete FPages[n];
  FPages[n] = page;
  page->setParent(Panel1);
  page->setGeometry(13, 145, 723, 371);
  page->hide();
}

void TMainForm::ShowStep(int step, bool initialise) {
  if (step < 1 || step > 4) return;
  if (step == 4) {
    ImSteps->hide();
  } else {
    ImSteps->show();
    LoadJpegResource(kStepHeads[step], ImSteps);
    if (step == 2) ImSteps->repaint();
  }
  TWizardPage* page = FPages[step];
  page->setGeometry(13, 145, 723, 371);
  if (initialise) page->PreparePage();
  page->ImBgFrame->SetPicture(ImWhiteBg->Picture());
  for (int n = 1; n <= 4; ++n)
    if (n != step) FPages[n]->hide();
  page->show();
  page->raise();
}

void TMainForm::SetStepHeader(int step) {
  if (step < 1 || step > 4) return;
  Label1->SetText(QString::fromLatin1(kSteps[step].title));
  Label2->SetText(QString::fromLatin1(kSteps[step].subtitle));
  // The header is what a screen reader gives as the window's description; the
  // change is told, so a step reached by itself (the scan's end) is heard.
  setAccessibleDescription(Label1->text() + QStringLiteral(". ") + Label2->text());
  if (step == 4) return;  // the Settings button and the results mark stay as they are
  const bool scanning = step == 2;
  ImBtnSettings->setVisible(!scanning);
  ImBtnSettingsGray->setVisible(scanning);
  ImBtnSettings->Tag = step == 3 ? 1 : 0;
}

int TMainForm::ResultsMark() const { return ImBtnSettings->Tag; }

void TMainForm::GrayOutMainWindow() {
  if (Tag == 1) return;  // grey-outs do not nest: the first still stays
  repaint();
  const QImage still = grab().toImage();
  ImBgMainGray->SetPicture(HalfBrightness(still));
  Panel1->hide();
  Tag = 1;
}

void TMainForm::UnGrayMainWindow() {
  Panel1->show();
  Tag = 0;
}

void TMainForm::ShowKorvane1Click() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void TMainForm::HideToTray() { hide(); }

void TMainForm::CloseProgram() {
  FClosing = true;
  QCoreApplication::quit();
}

void TMainForm::UpdateDiagram() {
  auto* start = dynamic_cast<TFrame1*>(Page(1));
  auto* results = dynamic_cast<TFrame3*>(Page(3));
  UpdateDiagrams(State, start ? start->PanDiag : nullptr, results ? results->PanDiag : nullptr);
}

void TMainForm::HandleWindowMessage(UINT msg, WPARAM, LPARAM) {
  if (msg == WM_KORVANE_RESTORE) ShowKorvane1Click();
  // Closing through the system, as the taskbar does: ends the program.
  if (msg == WM_CLOSE) CloseProgram();
}

void TMainForm::ImBtnSettingsClick() {
  ShowKorvane1Click();
  ShowStep(4, true);
}

void TMainForm::ImBtnHelpClick() {
  const std::string help = State.ExeFolder + "help.chm";
  const auto result = reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, nullptr, help.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  // The shell answers 32 or less when it could not open the file.
  if (result > 32 || !Dialogs.Info) return;
  if (result == SE_ERR_FNF || result == SE_ERR_PNF)
    Dialogs.Info->ShowNotice("The help file " + help + " is missing.");
  else
    Dialogs.Info->ShowNotice("The help cannot be shown: no program on this computer opens " + help +
                             ". Install a web browser to read it.");
}

void TMainForm::ImBtnAboutClick() {
  if (Dialogs.About) Dialogs.About->ShowModal();
}

void TMainForm::ImBtnCloseClick() {
  if (!Settings().CloseToTray)
    CloseProgram();
  else if (Dialogs.Tray && Dialogs.Tray->TrayAvailable())
    HideToTray();
  else
    showMinimized();  // hidden without a tray, nothing could bring the window back
}

void TMainForm::ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds) {
  if (Dialogs.Tray) Dialogs.Tray->ShowBalloon(title, text, iconKind, seconds);
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  SetX11WindowClass(this, "korvane", "TMainForm");
  RememberGeometry();
  // The splash greets the first showing within two seconds of the start.
  const auto waiting = [this] {
    TSplashForm* splash = Dialogs.Splash;
    return splash && splash->Tag == 0 && !splash->InModalRun();
  };
  if (waiting())
    QTimer::singleShot(0, this, [this, waiting] {
      if (waiting()) Dialogs.Splash->ShowModal();
    });
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Closing through the system (taskbar, Alt+F4) ends the program.
  event->accept();
  if (!FClosing) CloseProgram();
}
