#include "ui/main/uKorvaneWindows.h"

#include "ui/download/uDownForm.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uAbout.h"
#include "ui/main/uInfo.h"
#include "ui/main/uSplash.h"
#include "ui/main/uTray.h"
#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"

std::vector<std::string> TKorvaneWindows::StartPictures() {
  // In the order the windows ask for them: sorted by size, the main window's page
  // background (small as a file, large decoded) came after every dialog's. The rest (hover
  // and pressed faces, the diagram's frames, class icons) are decoded when first shown:
  // decoding them all at the start only competed with it.
  return {// The main window's pages, its frame and the start page.
          "PROGTOOL_FILL", "PROGTOOL_BG", "ICODOWNTOOL", "BGMAIN", "BGWHITE", "BTNSETTINGS_GRAY",
          "BTNCLOSE_NA", "BTNMIN_NA", "BTNSETTINGS_NA", "BTNHELP_NA", "BTNABOUT_NA", "ICOSTEP1HEAD",
          "ICOSYSINFO", "ICOLASTCHECK", "BTNSCANNOW_NA", "LEGEND_RED", "LEGEND_GREEN", "CONTENT_DELIM1",
          "OUT_OF_DATE", "ICOWARNING",
          // The dialogs.
          "BGDRVINFO1", "BGDRVINFO2", "BTNDOWNLOAD_NA", "BGABOUT", "BGINFO", "BTNOK_NA", "BTNCANCEL_NA",
          "BTNABORT_NA", "BGDOWNFORM", "PROGDOWN_YELLOW", "PROGDOWN_BG", "START_LOGO"};
}

TKorvaneWindows::TKorvaneWindows() {
  FMain = std::make_unique<TMainForm>();
  TMainDialogs& d = FMain->Dialogs;
  FTray = std::make_unique<TKorvaneTray>(*FMain);
  d.Tray = FTray.get();
  FDrvInfo1 = std::make_unique<TDrvInfoForm1>(*FMain);
  d.DrvInfo1 = FDrvInfo1.get();
  FDrvInfo2 = std::make_unique<TDrvInfoForm2>(*FMain);
  d.DrvInfo2 = FDrvInfo2.get();
  FAbout = std::make_unique<TAboutForm>(*FMain);
  d.About = FAbout.get();
  FInfo = std::make_unique<TInfoForm>(*FMain);
  d.Info = FInfo.get();
  FDownload = std::make_unique<TDownForm>(*FMain);
  d.Download = FDownload.get();
  FSplash = std::make_unique<TSplashForm>();
  d.Splash = FSplash.get();
}

TKorvaneWindows::~TKorvaneWindows() {
  // The main window is the last to go; nothing of it reaches a deleted dialog meanwhile.
  FMain->Dialogs = TMainDialogs();
  FSplash.reset();
  FDownload.reset();
  FInfo.reset();
  FAbout.reset();
  FDrvInfo2.reset();
  FDrvInfo1.reset();
  FTray.reset();
  FMain.reset();
}
