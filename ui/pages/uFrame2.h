// TFrame2: the scan progress page (wizard step 2). Entering it starts the scan
// thread; the thread reports through the IScanPage calls, which run on the UI
// thread, and ScanFinished records the outcome and moves the wizard on.
// Only one scan runs at a time: entering the step again while a scan runs
// shows the running scan.
#pragma once

#include "scan/uScanThread.h"
#include "ui/pages/uWizardPage.h"

#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class TImage;
class TLSVGauge;
class TSkinLabel;
class TStringGrid;

class TFrame2 : public TWizardPage, public IScanPage {
  Q_OBJECT
 public:
  explicit TFrame2(TMainForm& main);
  ~TFrame2() override;

  void PreparePage() override;

  // IScanPage
  void ResetPage(TScanThread& scan) override;
  void ClearPage(TScanThread& scan) override;
  void ShowClassStarted(TScanThread& scan) override;
  void ShowProgress(const TScanProgress& progress) override;
  void AddClassIcon(HICON icon) override;
  void ShowSearching(const std::string& text) override;
  void BeginUpdateCheck() override;
  void FinishUpdateCheck() override;
  int ShowConnectivityPrompt(const std::string& text) override;
  void ShowNoAnswer(const std::string& text) override;
  void ShowPackingError(const std::string& text) override;  // the skinned box with Abort

  // The scan thread's completion handler (UI thread).
  void ScanFinished(TScanThread& scan);
  void Timer1Timer();
  void Timer2Timer();

  // The running scan, or null between scans.
  TScanThread* ScanThread = nullptr;
  bool Scanning() const { return ScanThread != nullptr; }
  int AnimFrame = 0;
  bool YellowPhase = true;
  int SectionCount() const;

  // Time limits handed to each new scan (the program's values; tests pass short ones).
  unsigned CertWaitMs = 20000;
  unsigned ReadTimeoutMs = 30000;

  TImage* ImAnimScanProgress;
  TSkinLabel* Label1;
  TSkinLabel* Label2;
  TSkinLabel* lbCurType;
  TImage* ImBgScanGrid;
  TSkinLabel* Label3;
  TSkinLabel* Label5;
  TStringGrid* sgGuidList;
  TSkinLabel* Label20;
  TLSVGauge* ggCurProg;
  TSkinLabel* Label4;
  TLSVGauge* ggTotProg;
  QTimer* Timer1;
  QTimer* Timer2;
  std::vector<HICON> ilGUIDPics;

 private:
  void EmptySectionList();
  void sgGuidListDrawCell(int col, int row, const QRect& rect, QPainter& painter);
  std::shared_ptr<bool> FAlive;
  std::string FNoAnswerText;
};
