// TMainForm: the program's one main window, a fixed 750 x 550 skinned wizard
// with four page slots. It owns the run's state (TKorvaneState: paths,
// version, partner tag, settings, driver data) and the wizard step.
#pragma once

#include "core/uAppState.h"
#include "core/uThread.h"

#include <minwindef.h>

#include <QWidget>

#include <functional>
#include <mutex>
#include <string>

class QLabel;
class IMainTray;
class IPackageDownload;
class TAboutForm;
class TDrvInfoForm1;
class TDrvInfoForm2;
class TInfoForm;
class TSplashForm;
class TImage;
class TImageButton;
class TSkinLabel;
class TWizardPage;

// The restore message a second start posts to the first (WM_APP + 129).
constexpr UINT WM_KORVANE_RESTORE = 32897;
// At exit the workers get this long to stop before the process ends without them.
constexpr unsigned ExitWaitMs = 3000;

// The windows the main window and its pages open, and the notification area.
// They are created after the main window and owned by the program's window
// owner, which sets them here and clears them before it deletes them (tests
// set the ones they use).
struct TMainDialogs {
  IMainTray* Tray = nullptr;  // icon, balloons, reminder, message of the day
  TDrvInfoForm1* DrvInfo1 = nullptr;
  TDrvInfoForm2* DrvInfo2 = nullptr;
  TAboutForm* About = nullptr;
  TInfoForm* Info = nullptr;
  IPackageDownload* Download = nullptr;  // the download dialog
  TSplashForm* Splash = nullptr;
};

class TMainForm : public QWidget {
  Q_OBJECT
 public:
  // Creates the window with its four pages (TFrame1..TFrame4).
  TMainForm();
  ~TMainForm() override;  // EndRun, if the program has not run it yet; the pages go first

  TMainDialogs Dialogs;

  // The end of the run, however it comes (once): the tray's icon goes, then
  // SaveRunState. The program calls it when its message loop has ended.
  void EndRun();
  // SaveSettings, then deletes TempFolder + "ccc3" (also at the session's end).
  void SaveRunState();

  TKorvaneState State;
  TSettings& Settings() { return State.Settings; }
  int CurrentStep = 1;

  // A balloon through the notification area (nothing without one).
  void ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds);

  int Tag = 0;  // 1 while greyed behind a dialog

  // Controls, by their design names.
  TImage* ImBgMainGray;
  QWidget* Panel1;
  TImage* ImBgMain;
  TImageButton* ImBtnClose;
  TImageButton* ImBtnMin;
  TImage* ImSteps;
  TImage* ImWhiteBg;
  TSkinLabel* Label1;
  TSkinLabel* Label2;
  TImageButton* ImBtnSettings;
  TImage* ImBtnSettingsGray;
  TImageButton* ImBtnHelp;
  TImageButton* ImBtnAbout;

  // Switches the wizard to page `step` (1..4), running its PreparePage when
  // `initialise`; any other step changes nothing. A picture that cannot be
  // loaded raises ESkinError (the handler that asked shows it).
  void ShowStep(int step, bool initialise);
  // Puts a page into slot n (1..4), replacing (and deleting) the one there.
  void InstallPage(int n, TWizardPage* page);
  TWizardPage* Page(int n) const { return (n >= 1 && n <= 4) ? FPages[n] : nullptr; }
  // The header texts and Settings button of a step, as its PreparePage sets
  // them: steps 1-3 also set the results mark; step 4 sets only the texts.
  void SetStepHeader(int step);
  // The results mark: the Tag of ImBtnSettings (1 after the results page was prepared).
  int ResultsMark() const;

  void GrayOutMainWindow();
  void UnGrayMainWindow();

  // "Show Korvane": restore, show, bring to the front.
  void ShowKorvane1Click();
  void HideToTray();
  // Ends the message loop (Close without CloseToTray, the tray's "Exit").
  void CloseProgram();
  // Refreshes the out-of-date diagrams of the start and results pages.
  void UpdateDiagram();

  // A message posted to the window through the platform layer.
  void HandleWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam);

  // The button handlers (also reached by the tray menu).
  void ImBtnSettingsClick();
  void ImBtnHelpClick();
  void ImBtnAboutClick();
  void ImBtnCloseClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FormCreate();
  void LoadSkin();
  void RegisterPlatformWindow();
  void RememberGeometry();

  TWizardPage* FPages[5] = {};
  HWND FPlatformWindow = nullptr;
  std::mutex FRectLock;
  int FRect[4] = {0, 0, 750, 550};
  bool FClosing = false;
  bool FRunEnded = false;
};

// A picture at half brightness: each channel c becomes c * 128 / 255.
QImage HalfBrightness(const QImage& image);
