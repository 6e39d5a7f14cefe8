// The program's windows, created hidden in the start-up order (the main
// window, its notification-area part, the two driver detail dialogs, About,
// the message dialog, the download dialog, the splash) and owned for the run;
// deleted in reverse.
// The main window learns its dialogs here; each dialog gets the main window
// by reference.
#pragma once

#include <memory>
#include <string>
#include <vector>

class TAboutForm;
class TDownForm;
class TDrvInfoForm1;
class TDrvInfoForm2;
class TInfoForm;
class TKorvaneTray;
class TMainForm;
class TSplashForm;

class TKorvaneWindows {
 public:
  TKorvaneWindows();
  ~TKorvaneWindows();
  TKorvaneWindows(const TKorvaneWindows&) = delete;
  TKorvaneWindows& operator=(const TKorvaneWindows&) = delete;

  // The skin pictures the windows show as they are created, for decoding ahead of them.
  static std::vector<std::string> StartPictures();

  TMainForm& Main() const { return *FMain; }
  TKorvaneTray& Tray() const { return *FTray; }
  TDrvInfoForm1& DrvInfo1() const { return *FDrvInfo1; }
  TDrvInfoForm2& DrvInfo2() const { return *FDrvInfo2; }
  TAboutForm& About() const { return *FAbout; }
  TInfoForm& Info() const { return *FInfo; }
  TDownForm& Download() const { return *FDownload; }
  TSplashForm& Splash() const { return *FSplash; }

 private:
  std::unique_ptr<TMainForm> FMain;
  std::unique_ptr<TKorvaneTray> FTray;
  std::unique_ptr<TDrvInfoForm1> FDrvInfo1;
  std::unique_ptr<TDrvInfoForm2> FDrvInfo2;
  std::unique_ptr<TAboutForm> FAbout;
  std::unique_ptr<TInfoForm> FInfo;
  std::unique_ptr<TDownForm> FDownload;
  std::unique_ptr<TSplashForm> FSplash;
};
