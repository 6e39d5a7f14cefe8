// korvane-check: a headless scan of the current machine, printed as the driver list
// or as tab-separated records.
#pragma once

#include "core/uAppState.h"
#include "scan/uScanEnd.h"

#include <iosfwd>
#include <string>
#include <vector>

class TScanThread;

struct TCheckOptions {
  bool Tsv = false;       // --tsv: the tab-separated records
  bool Exchange = false;  // --exchange: run the update check after the device phase
  bool Sysinfo = false;   // --sysinfo: the start page's system facts, no scan
  bool Help = false;
};

// What a finished scan leaves for the printers.
struct TCheckResult {
  TScanEnd End = TScanEnd::Failed;
  TScanCause Cause;  // why the scan did not end checked (kind and sentence)
  int32_t ErrCode = 0;
  std::string ErrMsg;
  bool Checked = false;  // the update server's verdict was merged
  // The scan did what was asked: the device listing, or a check with an answer.
  bool Completed() const { return End == TScanEnd::Checked || End == TScanEnd::DevicesOnly; }
};

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Parses the arguments after the program name; false (with a message) on wrong usage.
bool ParseCheckArgs(const std::vector<std::string>& args, TCheckOptions& options,
                    std::string& error);
std::string CheckUsage();

// The korvane executable for this build: <build>/shell/korvane when selfExe lies in
// <build>/tools/korvane-check/, else "korvane" beside selfExe.
std::string ResolveKorvaneExe(const std::string& selfExe);

// Fills the per-run paths of the state (TempFolder, ExeName, ExeFolder).
void PrepareCheckState(TKorvaneState& state, const std::string& selfExe);

// Runs the scan headlessly (its UI calls pumped on the calling thread).
TCheckResult RunCheckScan(TKorvaneState& state, const TCheckOptions& options, std::ostream& err);

// The TSV output is UTF-8, escaped as the system facts are (TsvEscape).
std::string WideToUtf8(const std::u16string& text);

void PrintDriverList(const TKorvaneState& state, const TCheckResult& result, std::ostream& out);
void PrintTsv(const TKorvaneState& state, const TCheckResult& result, std::ostream& out);

// The whole tool; returns the exit status.
int KorvaneCheckMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
