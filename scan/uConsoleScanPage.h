// A scan page for headless runs: progress on stderr, the connectivity prompt on the
// terminal.
#pragma once

#include "scan/uScanThread.h"

#include <iosfwd>
#include <string>

class TConsoleScanPage : public IScanPage {
 public:
  // Interactive: ask the connectivity prompt on `in`; otherwise it answers Cancel.
  // By default interactive exactly when stdin is a terminal.
  TConsoleScanPage();
  TConsoleScanPage(std::ostream& err, std::istream* in, bool interactive, bool liveProgress);

  void ResetPage(TScanThread&) override;
  void ClearPage(TScanThread&) override;
  void ShowClassStarted(TScanThread&) override;
  void ShowProgress(const TScanProgress& progress) override;
  void AddClassIcon(HICON icon) override;
  void ShowSearching(const std::string& text) override;
  void BeginUpdateCheck() override;
  void FinishUpdateCheck() override;
  int ShowConnectivityPrompt(const std::string& text) override;
  void ShowNoAnswer(const std::string& text) override;
  void ShowPackingError(const std::string& text) override;

  int ClassesShown = 0;
  int IconsAdded = 0;

 private:
  void EndLiveLine();
  std::ostream& err_;
  std::istream* in_;
  bool interactive_;
  bool liveProgress_;  // rewrite one progress line (a terminal)
  bool liveLineOpen_ = false;
};

// Text of the page's gauges: value / total * 100, rounded half to even, 0 for total 0.
int GaugePercent(int value, int total);
