// TFrame1: the start and summary page (wizard step 1): the computer's facts,
// the last scan's summary or the out-of-date warning, "Scan Now", and the
// companion tool offer.
#pragma once

#include "ui/download/uDownloads.h"
#include "ui/pages/uCompanionArea.h"
#include "ui/pages/uWizardPage.h"

#include <string>

class TDiagramPanel;
class TImage;
class TImageButton;
class TLSVGauge;
class TSkinLabel;

// The companion tool's uninstall entry below HKEY_LOCAL_MACHINE.
constexpr const char* CompanionUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5C2E8A41-7D3B-4F96-A1E0-93B7C46D2F18}";

class TFrame1 : public TWizardPage, public ICompanionArea {
  Q_OBJECT
 public:
  explicit TFrame1(TMainForm& main);
  ~TFrame1() override;

  void PreparePage() override;
  std::string OsShortName;

  void ImBtnScanNowRelease();
  void ts1Label33Click();

  // ICompanionArea
  void ShowBusy() override;
  void ResetToolProgress() override;
  void ShowToolProgress(int32_t current, int32_t total) override;
  void ShowInstalling() override;
  void ToolDownloadFinished() override;
  void ShowInstallerNotSigned(const std::string& text) override;
  bool ToolDownloadRunning() const override;

  TImage* ImSysInfo;
  TSkinLabel* SysInfoTitle;
  TSkinLabel* Label5;   // processor
  TSkinLabel* Label7;   // OS name
  TSkinLabel* Label9;   // computer name
  TSkinLabel* Label11;  // RAM total
  TSkinLabel* Label13;  // RAM free
  TSkinLabel* Label15;  // memory used
  TSkinLabel* Label17;  // virtual memory total
  TSkinLabel* Label19;  // virtual memory free
  TImage* ImDivider;
  TImage* ImLastCheck;
  TSkinLabel* Label22;  // "Scan summary" / "Your drivers are out of date!"
  TSkinLabel* LastDateCaption;
  TSkinLabel* Label23;  // the last scan's date
  TSkinLabel* LastResultCaption;
  TImage* ImOutOfDate;
  TDiagramPanel* PanDiag;
  TImageButton* ImBtnScanNow;
  TImage* ts1ImIcoDown;
  TSkinLabel* ts1Label32;
  TSkinLabel* ts1Label33;
  TSkinLabel* ts1Label30;
  TSkinLabel* ts1Label31;
  TLSVGauge* ts1DownProg;
  int ts1DownProgTag = 0;  // 1 while a companion download runs
  // "Install Now"'s download, owned by the page.
  TCompanionDownload Companion;

  static constexpr int kBarTop = 347;     // the companion bar while busy
  static constexpr int kBarParked = 1348; // below the page

 private:
  void FillSystemInfo();
  void FillScanSummary();
  void FillCompanionOffer();
};
