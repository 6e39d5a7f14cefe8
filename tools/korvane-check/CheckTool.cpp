#include "tools/korvane-check/CheckTool.h"

#include "core/uDateTime.h"
#include "core/uThread.h"
#include "scan/uConsoleScanPage.h"
#include "scan/uScanFinish.h"
#include "scan/uScanThread.h"
#include "sysinfo/VersionInfo.h"
#include "sysinfo/uSystemFacts.h"
#include "sysinfo/uWinVersion.h"
#include "scan/uServerUrls.h"

#include <korvane_text.h>
#include <windows.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// ---- places for the other parts of the tool ----

// System facts the report and a --sysinfo listing need (OsShortName, ProgramVersion).
void PrepareSystemFacts(TKorvaneState& state) {
  TWindowsTypeEx windows;
  GetWindowsTypeEx(windows);
  state.OsShortName = windows.ShortName;
  // The program's version is the korvane executable's; a build without the
  // window program falls back to this tool's own, which carries the same.
  for (const std::string& path : {state.ExeName, std::string("/proc/self/exe")}) {
    try {
      state.ProgramVersion = FileVersionText(path);
    } catch (const std::exception&) {
      state.ProgramVersion.clear();
    }
    if (!state.ProgramVersion.empty()) break;
  }
}

// Before an update check: the server addresses, and the settings as the program
// loads them at start (the stored root certificate becomes "ccc3"; the last scan's
// figures stay as they were when no answer arrives).
void BeforeExchange(TKorvaneState& state) {
  LoadServerUrls();
  try {
    state.LoadSettings();
  } catch (const std::exception& e) {
    // Without "ccc3" the exchange finds no certificate and says so itself.
    std::cerr << "korvane-check: " << e.what() << std::endl;
  }
}

// After the scan: what the scan page's completion does. Only a scan that ran the
// update check touches the stored figures; a device listing leaves them alone.
void AfterScan(TKorvaneState& state, TScanThread& scan, TCheckResult& result) {
  if (!scan.RunExchange) return;
  result.Checked = scan.End == TScanEnd::Checked;
  const TScanOutcome outcome = ApplyScanOutcome(state, scan.End, result.ErrCode);
  if (outcome.ShowServerError)
    std::cerr << "korvane-check: Korvane error notice: " << AnsiToUtf8(result.ErrMsg) << std::endl;
}

std::string Field(const std::string& ansi) { return TsvEscape(AnsiToUtf8(ansi)); }
std::string Field(const std::u16string& wide) { return TsvEscape(WideToUtf8(wide)); }
std::string Field(int32_t n) { return std::to_string(n); }
std::string Field(bool b) { return b ? "1" : "0"; }

std::string OrDash(const std::string& ansi) { return ansi.empty() ? "-" : AnsiToUtf8(ansi); }

}  // namespace

std::string CheckUsage() {
  return "usage: korvane-check [--tsv] [--exchange] [--sysinfo]\n"
         "  Scans this machine's devices (KORVANE_MACHINE chooses the machine) and prints\n"
         "  the driver list on stdout, progress on stderr.\n"
         "  --tsv       tab-separated class, driver and summary records\n"
         "  --exchange  also run the update check against the update server\n"
         "  --sysinfo   print the start page's system facts instead, key<TAB>value\n";
}

bool ParseCheckArgs(const std::vector<std::string>& args, TCheckOptions& options,
                    std::string& error) {
  for (const std::string& a : args) {
    if (a == "--tsv") {
      options.Tsv = true;
    } else if (a == "--exchange") {
      options.Exchange = true;
    } else if (a == "--sysinfo") {
      options.Sysinfo = true;
    } else if (a == "--help" || a == "-h") {
      options.Help = true;
    } else {
      error = "unknown argument: " + a;
      return false;
    }
  }
  return true;
}

std::string ResolveKorvaneExe(const std::string& selfExe) {
  std::error_code ec;
  const fs::path self = fs::path(selfExe);
  const fs::path dir = self.parent_path();
  if (dir.filename() == "korvane-check" && dir.parent_path().filename() == "tools") {
    const fs::path build = dir.parent_path().parent_path();
    return (build / "app" / "korvane").lexically_normal().string();
  }
  return (dir / "korvane").lexically_normal().string();
}

void PrepareCheckState(TKorvaneState& state, const std::string& selfExe) {
  state.ReadTempFolder();
  state.ExeName = ResolveKorvaneExe(selfExe);
  state.ExeFolder = fs::path(state.ExeName).parent_path().string() + "/";
  PrepareSystemFacts(state);
}

TCheckResult RunCheckScan(TKorvaneState& state, const TCheckOptions& options, std::ostream& err) {
  TCheckResult result;
  TPumpedUiQueue queue;
  InstallUiQueue(&queue);
  if (options.Exchange) BeforeExchange(state);
  {
    // Progress goes where the caller's errors go; live progress only on a terminal.
    const bool onStderr = &err == &std::cerr;
    TConsoleScanPage page(err, &std::cin, onStderr && ::isatty(STDIN_FILENO) == 1,
                          onStderr && ::isatty(STDERR_FILENO) == 1);
    TScanThread scan(state, page);
    scan.RunExchange = options.Exchange;
    TWaitHandle done = scan.Handle();
    scan.OnTerminate = [&](TThread&) {
      result.End = scan.End;
      result.Cause = scan.Cause;
      result.ErrCode = scan.ErrCode;
      result.ErrMsg = scan.ErrMsg;
      AfterScan(state, scan, result);
    };
    scan.Start();
    queue.PumpUntil([&] { return done->IsSet(); }, WaitInfinite);
  }
  InstallUiQueue(nullptr);
  // A check without an answer has told its cause through the page already.
  if (result.End == TScanEnd::Cancelled)
    err << "korvane-check: scan stopped: " << AnsiToUtf8(result.Cause.Text) << std::endl;
  else if (result.End == TScanEnd::Failed)
    err << "korvane-check: scan failed: " << AnsiToUtf8(result.Cause.Text) << std::endl;
  return result;
}

std::string WideToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // lone surrogate
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

void PrintDriverList(const TKorvaneState& state, const TCheckResult& result, std::ostream& out) {
  for (int32_t c = 1; c <= state.GUIDCount; ++c) {
    const TGUIDRec& cls = state.GUIDList[c];
    out << AnsiToUtf8(cls.Description) << "\n";
    for (int32_t d = 1; d <= state.DrvCount; ++d) {
      const TDrvRec& r = state.DrvList[d];
      if (r.ClassGUID != cls.GUIDStr) continue;
      const char* mark = !result.Checked ? "    " : (r.IsOutOfDate() ? "  ! " : "  + ");
      out << mark << OrDash(r.DevName);
      if (result.Checked) out << (r.IsOutOfDate() ? "  [out of date]" : "  [up to date]");
      out << "\n"
          << "        provider " << OrDash(r.ProviderName) << ", date " << OrDash(r.DriverDate)
          << ", version " << OrDash(r.DriverVersion) << "\n";
      if (r.IsOutOfDate()) {
        out << "        newer driver: date " << OrDash(r.NewDate) << ", version "
            << OrDash(r.NewVersion) << ", vendor " << OrDash(r.NewVendor) << "\n"
            << "        download " << OrDash(r.NewURL) << "\n";
      }
    }
  }
  out << state.DrvCount << (state.DrvCount == 1 ? " device" : " devices") << " in "
      << state.GUIDCount << (state.GUIDCount == 1 ? " class" : " classes");
  if (result.End == TScanEnd::Failed) out << " (scan failed)";
  if (result.End == TScanEnd::Cancelled) out << " (scan stopped)";
  if (result.End == TScanEnd::NoAnswer) out << " (drivers not checked)";
  out << "\n";
  if (result.Checked && state.Settings.tDrivers > 0) {
    // The diagram's figures, computed as the results page computes them.
    const TSettings& s = state.Settings;
    const int p = DiagramPercent(s.tDrivers, s.udDrivers);
    out << "Out of date drivers - " << s.odDrivers << " (" << p << "%)\n"
        << "Up to date drivers - " << s.udDrivers << " (" << (100 - p) << "%)\n";
  }
}

void PrintTsv(const TKorvaneState& state, const TCheckResult& result, std::ostream& out) {
  for (int32_t i = 1; i <= state.GUIDCount; ++i) {
    const TGUIDRec& g = state.GUIDList[i];
    out << "class\t" << i << '\t' << Field(g.GUIDStr) << '\t' << Field(g.Description) << '\t'
        << Field(g.DevCount) << '\t' << Field(g.HasUpdates) << '\n';
  }
  for (int32_t i = 1; i <= state.DrvCount; ++i) {
    const TDrvRec& r = state.DrvList[i];
    out << "driver\t" << i << '\t' << Field(r.ClassGUID) << '\t' << Field(r.DevName) << '\t'
        << Field(r.DriverKey) << '\t' << Field(r.ProviderName) << '\t' << Field(r.DriverDate)
        << '\t' << Field(r.DriverVersion) << '\t' << Field(r.HardwareIDs) << '\t'
        << Field(r.CompatibleIDs) << '\t' << Field(r.NewDate) << '\t' << Field(r.NewVersion)
        << '\t' << Field(r.NewVendor) << '\t' << Field(r.NewURL) << '\n';
  }
  const TSettings& s = state.Settings;
  out << "summary\t" << Field(s.tDrivers) << '\t' << Field(s.udDrivers) << '\t'
      << Field(s.odDrivers) << '\t' << Field(s.IsSysUpdated) << '\t' << Field(result.ErrCode)
      << '\t' << Field(result.ErrMsg) << '\t' << Field(result.Completed()) << '\n';
}

int KorvaneCheckMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TCheckOptions options;
  std::string error;
  if (!ParseCheckArgs(args, options, error)) {
    err << "korvane-check: " << error << "\n" << CheckUsage();
    return kExitUsage;
  }
  if (options.Help) {
    out << CheckUsage();
    return kExitOk;
  }
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  TKorvaneState state;
  PrepareCheckState(state, ec ? std::string("korvane-check") : self.string());
  if (options.Sysinfo) {
    PrintSystemFacts(out, &GetProcessorSummary, state.ProgramVersion);
    out.flush();
    return kExitOk;
  }
  const TCheckResult result = RunCheckScan(state, options, err);
  if (options.Tsv)
    PrintTsv(state, result, out);
  else
    PrintDriverList(state, result, out);
  out.flush();
  return result.Completed() ? kExitOk : kExitFailed;
}
