#include "scan/uConsoleScanPage.h"

#include <windows.h>
#include <korvane_text.h>

#include <cctype>
#include <cmath>
#include <iostream>

namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

}  // namespace

int GaugePercent(int value, int total) {
  if (total == 0) return 0;
  return static_cast<int>(std::nearbyint(static_cast<double>(value) / total * 100.0));
}

TConsoleScanPage::TConsoleScanPage()
    : TConsoleScanPage(std::cerr, &std::cin, IsConsole(STD_INPUT_HANDLE), IsConsole(STD_ERROR_HANDLE)) {}

TConsoleScanPage::TConsoleScanPage(std::ostream& err, std::istream* in, bool interactive,
                                   bool liveProgress)
    : err_(err), in_(in), interactive_(interactive && in != nullptr), liveProgress_(liveProgress) {}

void TConsoleScanPage::EndLiveLine() {
  if (liveLineOpen_) {
    err_ << "\n";
    liveLineOpen_ = false;
  }
}

void TConsoleScanPage::ResetPage(TScanThread&) { ClassesShown = 0; }

void TConsoleScanPage::ClearPage(TScanThread&) {
  ClassesShown = 0;
  err_ << "Initializing scan..." << std::endl;
}

void TConsoleScanPage::ShowClassStarted(TScanThread& t) {
  EndLiveLine();
  ++ClassesShown;
  err_ << AnsiToUtf8(t.CurClassDesc) << " driver scanning in progress" << std::endl;
}

void TConsoleScanPage::ShowProgress(const TScanProgress& p) {
  if (!liveProgress_) return;
  err_ << "\r  " << p.FoundInClass << " found, all sections " << GaugePercent(p.Processed, p.TotalDevices)
       << "%" << std::flush;
  liveLineOpen_ = true;
}

void TConsoleScanPage::AddClassIcon(HICON) { ++IconsAdded; }

void TConsoleScanPage::ShowSearching(const std::string& text) {
  EndLiveLine();
  err_ << AnsiToUtf8(text) << std::endl;
}

void TConsoleScanPage::BeginUpdateCheck() {}

void TConsoleScanPage::FinishUpdateCheck() {}

int TConsoleScanPage::ShowConnectivityPrompt(const std::string& text) {
  EndLiveLine();
  err_ << AnsiToUtf8(text) << std::endl;
  if (!interactive_) {
    err_ << "(no terminal: Cancel)" << std::endl;
    return 2;
  }
  err_ << "[O]K to retry, [C]ancel to stop the scan: " << std::flush;
  std::string answer;
  if (!std::getline(*in_, answer)) return 2;
  std::string a;
  for (char c : answer)
    if (!std::isspace(static_cast<unsigned char>(c)))
      a += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return (a == "o" || a == "ok" || a == "y" || a == "yes") ? 1 : 2;
}

void TConsoleScanPage::ShowPackingError(const std::string& text) {
  EndLiveLine();
  err_ << AnsiToUtf8(text) << std::endl;
}

void TConsoleScanPage::ShowNoAnswer(const std::string& text) {
  EndLiveLine();
  err_ << AnsiToUtf8(text) << std::endl;
}
