// A scan page that shows nothing, for benchmarks and tests that run whole scans: the
// connectivity prompt answers Cancel (so a dead server ends the scan instead of asking
// forever), and the no-answer text goes to stderr when asked for.
#pragma once

#include "scan/uScanThread.h"

#include <iostream>
#include <string>

namespace korvane::testing {

class QuietScanPage : public IScanPage {
 public:
  explicit QuietScanPage(bool showNoAnswer = false) : showNoAnswer_(showNoAnswer) {}
  void ResetPage(TScanThread&) override {}
  void ClearPage(TScanThread&) override {}
  void ShowClassStarted(TScanThread&) override {}
  void ShowProgress(const TScanProgress&) override {}
  void AddClassIcon(HICON) override {}
  void ShowSearching(const std::string&) override {}
  void BeginUpdateCheck() override {}
  void FinishUpdateCheck() override {}
  void ShowPackingError(const std::string&) override {}
  int ShowConnectivityPrompt(const std::string&) override { return 2; }
  void ShowNoAnswer(const std::string& text) override {
    if (showNoAnswer_) std::cerr << text << "\n";
  }

 private:
  bool showNoAnswer_;
};

}  // namespace korvane::testing
