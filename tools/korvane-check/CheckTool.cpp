#include "tools/korvane-check/CheckTool.h"

#include "core/uDateTime.h"
#include "core/uThread.h"
#include "scan/uConsoleScanPage.h"
#include "scan/uExchangeLog.h"
#include "scan/uScanFinish.h"
#include "scan/uScanThread.h"
#include "scan/uServerUrls.h"
#include "sysinfo/VersionInfo.h"
#include "sysinfo/uPartnerTag.h"
#include "sysinfo/uSystemFacts.h"
#include "sysinfo/uWinVersion.h"

#include <korvane_file.h>
#include <korvane_machine.h>
#include <korvane_text.h>
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}

// System facts the report and a --sysinfo listing need (OsShortName, ProgramVersion).
void PrepareSystemFacts(TKorvaneState& state) {
  TWindowsTypeEx windows;
  GetWindowsTypeEx(windows);
  state.OsShortName = windows.ShortName;
  // The program's version is the korvane executable's; a build without the
  // window program falls back to this tool's own, which carries the same.
  for (const std::string& path : {state.ExeName, KorvaneModuleFileName()}) {
    try {
      state.ProgramVersion = FileVersionText(path);
    } catch (const std::exception&) {
      state.ProgramVersion.clear();
    }
    if (!state.ProgramVersion.empty()) break;
  }
}

std::string SelfVersion() {
  try {
    return FileVersionText(KorvaneModuleFileName());
  } catch (const std::exception&) {
    return std::string();
  }
}

}  // namespace

void UseCheckServers(const TCheckOptions& options) {
  TServerUrls urls = ReadServerUrls();
  if (!options.Server.empty()) {
    urls.UpdateURL = options.Server;
    urls.SecureUpdateURL = options.Server;
  }
  if (!options.SecureServer.empty()) urls.SecureUpdateURL = options.SecureServer;
  SetServerUrls(urls);
}

namespace {

// Before an update check: the server addresses, and the settings as the program
// loads them at start (the stored root certificate becomes "ccc3"; the last scan's
// figures stay as they were when no answer arrives).
void BeforeCheck(TKorvaneState& state, const TCheckOptions& options, std::ostream& err) {
  UseCheckServers(options);
  // Without "ccc3" the exchange finds no certificate and says so itself.
  const TCertFileResult cert = state.LoadSettings();
  if (!cert.Ok()) err << "korvane-check: " << cert.Text << std::endl;
}

// The console page, remembering how the exchange ended for the error kind.
class TCheckScanPage : public TConsoleScanPage {
 public:
  using TConsoleScanPage::TConsoleScanPage;
  int ShowConnectivityPrompt(const std::string& text) override {
    const int answer = TConsoleScanPage::ShowConnectivityPrompt(text);
    if (answer != 1) PromptCancelled = true;
    return answer;
  }
  void ShowNoAnswer(const std::string& text) override {
    NoAnswer = true;
    TConsoleScanPage::ShowNoAnswer(text);
  }
  bool PromptCancelled = false;
  bool NoAnswer = false;
};

std::string Field(std::string_view ansi) { return TsvEscape(AnsiToUtf8(ansi)); }
std::string Field(std::u16string_view wide) { return TsvEscape(WideToUtf8(wide)); }
std::string Field(int32_t n) { return std::to_string(n); }
std::string Field(bool b) { return b ? "1" : "0"; }

std::string OrDash(std::string_view ansi) { return ansi.empty() ? "-" : TerminalText(AnsiToUtf8(ansi)); }

void Fail(TCheckResult& result, TCheckError kind, const std::string& text) {
  result.Error = kind;
  result.ErrorText = text;
}

}  // namespace

std::string CheckUsage() {
  return "usage: korvane-check [--tsv | --json] [--exchange] [--server URL] [--secure-server URL]\n"
         "       korvane-check --sysinfo [--json]\n"
         "       korvane-check --export FILE\n"
         "       korvane-check --submit FILE --answer-out ANSWER [--server URL] [--secure-server URL]\n"
         "       korvane-check --import ANSWER [--tsv | --json]\n"
         "       korvane-check --version | --help\n"
         "  Scans this machine's devices (KORVANE_MACHINE chooses the machine) and prints\n"
         "  the driver list on stdout, progress and errors on stderr.\n"
         "  --tsv                tab-separated class, driver and summary records\n"
         "  --json               one JSON document (the README gives its schema)\n"
         "  --exchange           also run the update check against the update server\n"
         "  --server URL         this run's update server (http:// or https://), for the\n"
         "                       probe, the certificate and, unless --secure-server, the upload\n"
         "  --secure-server URL  this run's server for the upload; the registry is not changed\n"
         "  --sysinfo            print the start page's system facts instead, key<TAB>value\n"
         "  Offline check, for a machine without a network:\n"
         "  --export FILE        scan and write the packed report the check would upload;\n"
         "                       nothing leaves the machine\n"
         "  --submit FILE --answer-out ANSWER\n"
         "                       on any machine with a network: post the packed report as the\n"
         "                       check does and write the server's answer\n"
         "  --import ANSWER      back on the scanned machine: scan again and merge the answer\n"
         "                       as the check does (refused when the devices have changed)\n"
         "Exit status: 0 checked and nothing out of date (without --exchange or --import:\n"
         "listed); 100 checked and at least one driver out of date; 1 failure, no verdict\n"
         "(server unreachable, a server error code above 1, a machine that cannot be read,\n"
         "an answer for another report, a write error on stdout); 2 usage error.\n";
}

bool IsServerUrl(const std::string& url) {
  std::string lower;
  for (char c : url) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t hostStart = 0;
  if (lower.rfind("http://", 0) == 0)
    hostStart = 7;
  else if (lower.rfind("https://", 0) == 0)
    hostStart = 8;
  else
    return false;
  if (hostStart >= url.size()) return false;
  const char first = url[hostStart];
  if (first == '/' || first == ':' || first == '?' || first == '#') return false;
  for (char c : url)
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return false;
  return true;
}

bool ParseCheckArgs(const std::vector<std::string>& args, TCheckOptions& options,
                    std::string& error) {
  bool listingFormat = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    bool hasInlineValue = false;
    if (a.rfind("--", 0) == 0) {
      const std::size_t eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a.resize(eq);
        hasInlineValue = true;
      }
    }
    // An option that takes a value: the next argument, or the text after "=".
    auto takeValue = [&](std::string& into) {
      if (hasInlineValue) {
        into = value;
      } else if (i + 1 < args.size()) {
        into = args[++i];
      } else {
        error = a + " needs a value";
        return false;
      }
      if (into.empty()) {
        error = a + " needs a value";
        return false;
      }
      return true;
    };
    const bool takesValue = a == "--server" || a == "--secure-server" || a == "--export" ||
                            a == "--submit" || a == "--answer-out" || a == "--import";
    if (hasInlineValue && !takesValue) {
      error = a + " takes no value";
      return false;
    }
    if (a == "--tsv") {
      options.Tsv = true;
      listingFormat = true;
    } else if (a == "--json") {
      options.Json = true;
      listingFormat = true;
    } else if (a == "--exchange") {
      options.Exchange = true;
    } else if (a == "--sysinfo") {
      options.Sysinfo = true;
    } else if (a == "--help" || a == "-h") {
      options.Help = true;
    } else if (a == "--version") {
      options.Version = true;
    } else if (a == "--server" || a == "--secure-server") {
      std::string& into = a == "--server" ? options.Server : options.SecureServer;
      if (!takeValue(into)) return false;
      if (!IsServerUrl(into)) {
        error = a + " needs an http:// or https:// URL, not \"" + into + "\"";
        return false;
      }
    } else if (a == "--export") {
      if (!takeValue(options.ExportFile)) return false;
    } else if (a == "--submit") {
      if (!takeValue(options.SubmitFile)) return false;
    } else if (a == "--answer-out") {
      if (!takeValue(options.AnswerOut)) return false;
    } else if (a == "--import") {
      if (!takeValue(options.ImportFile)) return false;
    } else {
      error = "unknown argument: " + args[i];
      return false;
    }
  }
  if (options.Help || options.Version) return true;
  if (options.Tsv && options.Json) {
    error = "--tsv and --json exclude each other";
    return false;
  }
  const int modes = (options.Exchange ? 1 : 0) + (options.Sysinfo ? 1 : 0) +
                    (options.ExportFile.empty() ? 0 : 1) + (options.SubmitFile.empty() ? 0 : 1) +
                    (options.ImportFile.empty() ? 0 : 1);
  if (modes > 1) {
    error = "--exchange, --sysinfo, --export, --submit and --import exclude each other";
    return false;
  }
  if (options.SubmitFile.empty() != options.AnswerOut.empty()) {
    error = "--submit and --answer-out go together";
    return false;
  }
  if ((!options.Server.empty() || !options.SecureServer.empty()) && !options.Exchange &&
      options.SubmitFile.empty()) {
    error = "--server and --secure-server go with --exchange or --submit";
    return false;
  }
  if (listingFormat && (!options.ExportFile.empty() || !options.SubmitFile.empty())) {
    error = "--export and --submit print no listing (no --tsv or --json)";
    return false;
  }
  if (options.Sysinfo && options.Tsv) options.Tsv = false;  // --sysinfo is tab-separated anyway
  return true;
}

std::string ResolveKorvaneExe(const std::string& selfExe) {
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
  // The report names the window program's partner, so its file is the one read.
  state.PartnerID = ReadPartnerTag(state.ExeName);
  PrepareSystemFacts(state);
}

TCheckResult RunCheckScan(TKorvaneState& state, const TCheckOptions& options, std::ostream& err) {
  TCheckResult result;
  TPumpedUiQueue queue;
  InstallUiQueue(&queue);
  if (options.Checks()) BeforeCheck(state, options, err);
  {
    // Progress goes where the caller's errors go; live progress only on a terminal.
    const bool onStderr = &err == &std::cerr;
    TCheckScanPage page(err, &std::cin, onStderr && IsConsole(STD_INPUT_HANDLE),
                        onStderr && IsConsole(STD_ERROR_HANDLE));
    TScanThread scan(state, page);
    scan.RunExchange = options.Exchange;
    TWaitHandle done = scan.Handle();
    scan.OnTerminate = [&](TThread&) {
      scan.HandOver();  // the scan's catalogue, drivers and figures become the state's
      result.End = scan.End;
      result.Cause = scan.Cause;
      result.ErrCode = scan.ErrCode;
      result.ErrMsg = scan.ErrMsg;
      // What the scan page's completion does; only a check touches the stored figures.
      if (options.Exchange) ConcludeCheck(state, result);
    };
    scan.Start();
    queue.PumpUntil([&] { return done->IsSet(); }, WaitInfinite);
    result.ProbeFailed = page.PromptCancelled && result.End == TScanEnd::Cancelled;
  }
  InstallUiQueue(nullptr);
  if (!result.Completed() && result.Error == TCheckError::None) {
    Fail(result, TCheckError::Scan,
         result.ProbeFailed ? "The update server " + UpdateURL() + " could not be reached."
                            : AnsiToUtf8(result.Cause.Text));
    // A check without an answer has told its cause through the page already.
    if (result.End == TScanEnd::Cancelled)
      err << "korvane-check: scan stopped: " << result.ErrorText << std::endl;
    else if (result.End == TScanEnd::Failed)
      err << "korvane-check: scan failed: " << result.ErrorText << std::endl;
  }
  return result;
}

void ConcludeCheck(TKorvaneState& state, TCheckResult& result) {
  const TScanOutcome outcome = ApplyScanOutcome(state, result.End, result.ErrCode);
  result.Checked = result.End == TScanEnd::Checked && !outcome.ShowServerError;
  result.Stored = result.End == TScanEnd::Checked;
  if (outcome.ShowServerError && result.Error == TCheckError::None) {
    // The server's own words; the drivers then have no verdict.
    Fail(result, TCheckError::ServerError, TerminalText(AnsiToUtf8(result.ErrMsg)));
  }
}

std::string CheckErrorKind(const TCheckResult& result) {
  switch (result.Error) {
    case TCheckError::None: return std::string();
    case TCheckError::ServerError: return "server-error";
    case TCheckError::AnswerMismatch: return "answer-mismatch";
    case TCheckError::File: return "file";
    case TCheckError::Machine: return "machine";
    case TCheckError::Scan: break;
  }
  if (result.ProbeFailed) return "unreachable";
  return CauseKindName(result.Cause.Kind);
}

int32_t OutOfDateCount(const TKorvaneState& state) {
  int32_t n = 0;
  for (int32_t i = 1; i <= state.DrvCount; ++i)
    if (state.DrvList[i].IsOutOfDate()) ++n;
  return n;
}

int CheckExitStatus(const TKorvaneState& state, const TCheckResult& result,
                    const TCheckOptions& options) {
  if (!result.Completed() || result.Error != TCheckError::None) return kExitFailed;
  if (!options.Checks()) return kExitOk;
  if (!result.Checked) return kExitFailed;
  return OutOfDateCount(state) > 0 ? kExitOutOfDate : kExitOk;
}

std::string WideToUtf8(std::u16string_view text) {
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
    out << TerminalText(AnsiToUtf8(cls.Description)) << "\n";
    for (int32_t d = 1; d <= state.DrvCount; ++d) {
      const TDrvRec& r = state.DrvList[d];
      if (r.ClassGUID != cls.GUIDStr) continue;
      const bool outOfDate = result.Checked && r.IsOutOfDate();
      const char* mark = !result.Checked ? "    " : (outOfDate ? "  ! " : "  + ");
      out << mark << OrDash(r.DevName);
      if (result.Checked) out << (outOfDate ? "  [out of date]" : "  [up to date]");
      out << "\n"
          << "        provider " << OrDash(r.ProviderName) << ", date " << OrDash(r.DriverDate)
          << ", version " << OrDash(r.DriverVersion) << "\n";
      if (outOfDate) {
        out << "        newer driver: date " << OrDash(r.NewDate) << ", version "
            << OrDash(r.NewVersion) << ", vendor " << OrDash(r.NewVendor) << "\n"
            << "        download " << OrDash(r.NewURL) << "\n";
      }
    }
  }
  out << state.DrvCount << (state.DrvCount == 1 ? " device" : " devices") << " in "
      << state.GUIDCount << (state.GUIDCount == 1 ? " class" : " classes");
  if (result.End == TScanEnd::Failed)
    out << " (scan failed)";
  else if (result.End == TScanEnd::Cancelled)
    out << " (scan stopped)";
  else if (result.End == TScanEnd::NoAnswer || result.Error != TCheckError::None)
    out << " (drivers not checked)";
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

namespace {

// stdout is the result: a listing that could not be written all is a failure.
int Finish(std::ostream& out, std::ostream& err, int status) {
  out.flush();
  if (!out) {
    err << "korvane-check: cannot write the output" << std::endl;
    return kExitFailed;
  }
  return status;
}

}  // namespace

std::string TerminalText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out += '?';
      ++i;
    } else {
      out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
  }
  return out;
}

TTerminalSafeBuf::TTerminalSafeBuf(std::streambuf* dest, bool keepTabs) : FDest(dest), FKeepTabs(keepTabs) {}

TTerminalSafeBuf::~TTerminalSafeBuf() {
  if (FPendingC2) Emit('\xC2');  // a lone lead byte at the end is no control character
  FDest->pubsync();
}

bool TTerminalSafeBuf::Emit(char c) { return !traits_type::eq_int_type(FDest->sputc(c), traits_type::eof()); }

bool TTerminalSafeBuf::Put(unsigned char c) {
  if (FPendingC2) {
    FPendingC2 = false;
    if (c >= 0x80 && c <= 0x9F) return Emit('?');  // U+0080..U+009F, the C1 controls in UTF-8
    if (!Emit('\xC2')) return false;
  }
  if (c == 0xC2) {
    FPendingC2 = true;
    return true;
  }
  const bool control = (c < 0x20 && c != '\n' && !(FKeepTabs && c == '\t')) || c == 0x7F;
  return Emit(control ? '?' : static_cast<char>(c));
}

TTerminalSafeBuf::int_type TTerminalSafeBuf::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  return Put(static_cast<unsigned char>(traits_type::to_char_type(ch))) ? ch : traits_type::eof();
}

std::streamsize TTerminalSafeBuf::xsputn(const char* s, std::streamsize n) {
  for (std::streamsize i = 0; i < n; ++i)
    if (!Put(static_cast<unsigned char>(s[i]))) return i;
  return n;
}

int TTerminalSafeBuf::sync() { return FDest->pubsync(); }

namespace {

int RunCheckTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace

int KorvaneCheckMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  // Text from the update server (names, versions, URLs, its error message) reaches a
  // terminal only through these: no escape sequence, carriage return or forged line
  // of an answer is ever written. JSON escapes control characters itself.
  TCheckOptions parsed;
  std::string ignored;
  ParseCheckArgs(args, parsed, ignored);
  TTerminalSafeBuf errBuf(err.rdbuf(), false);
  TTerminalSafeBuf outBuf(out.rdbuf(), parsed.Tsv || parsed.Sysinfo);  // tabs part the fields there
  std::ostream safeErr(&errBuf);
  std::ostream safeOut(&outBuf);
  const int status = RunCheckTool(args, parsed.Json ? out : safeOut, safeErr);
  safeOut.flush();
  safeErr.flush();
  if (!safeOut && !parsed.Json) return kExitFailed;
  return status;
}

namespace {

int RunCheckTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TCheckOptions options;
  std::string error;
  if (!ParseCheckArgs(args, options, error)) {
    err << "korvane-check: " << error << "\n" << CheckUsage();
    return kExitUsage;
  }
  if (options.Help) {
    out << CheckUsage();
    return Finish(out, err, kExitOk);
  }
  if (options.Version) {
    const std::string version = SelfVersion();
    out << "korvane-check " << (version.empty() ? std::string("(unknown)") : version) << "\n";
    return Finish(out, err, kExitOk);
  }
  if (!options.SubmitFile.empty()) return SubmitReport(options, err);

  // A machine folder that is not there cannot be scanned; say so rather than list
  // an empty machine.
  // Without its system hive a machine folder has no Windows to describe and no
  // driver keys: refuse it rather than print empty facts as if they were the machine's.
  std::string unreadable;
  if (!KorvaneMachineIsHost()) {
    if (!fs::is_directory(KorvaneMachineRoot()))
      unreadable = "The machine folder " + KorvaneMachineRoot() + " cannot be read.";
    else if (!fs::is_regular_file(KorvaneMachineFile("system.reg")))
      unreadable = "The machine folder " + KorvaneMachineRoot() + " has no system.reg.";
  }
  if (!unreadable.empty()) {
    TCheckResult result;
    Fail(result, TCheckError::Machine, unreadable);
    err << "korvane-check: " << result.ErrorText << std::endl;
    if (options.Json) {
      TKorvaneState none;
      PrintJson(none, result, options, {}, out);
    }
    return Finish(out, err, kExitFailed);
  }

  const std::string self = KorvaneModuleFileName();
  TKorvaneState state;
  PrepareCheckState(state, self.empty() ? std::string("korvane-check") : self);
  if (options.Sysinfo) {
    std::string refused;
    const auto facts = CurrentSystemFacts(&GetProcessorSummary, state.ProgramVersion, &refused);
    // A refused sysinfo.json: its figures are unknown (left empty), said once.
    TCheckResult none;
    none.End = TScanEnd::DevicesOnly;
    if (!refused.empty()) {
      Fail(none, TCheckError::Machine, refused);
      err << "korvane-check: " << refused << std::endl;
    }
    if (options.Json) {
      PrintJson(state, none, options, facts, out);
    } else {
      for (const auto& [key, value] : facts) out << key << '\t' << TsvEscape(AnsiToUtf8(value)) << '\n';
    }
    return Finish(out, err, refused.empty() ? kExitOk : kExitFailed);
  }

  TCheckResult result = RunCheckScan(state, options, err);
  if (result.Completed() && !options.ExportFile.empty()) {
    ExportReport(state, options.ExportFile, result, err);
    return result.Error == TCheckError::None ? kExitOk : kExitFailed;
  }
  if (!options.ExportFile.empty()) return kExitFailed;
  if (result.Completed() && !options.ImportFile.empty())
    ImportAnswer(state, options.ImportFile, result, err);
  if (result.Error == TCheckError::ServerError)
    err << "korvane-check: Korvane error notice: " << result.ErrorText << std::endl;

  if (options.Json) {
    PrintJson(state, result, options,
              CurrentSystemFacts(&GetProcessorSummary, state.ProgramVersion), out);
  } else if (options.Tsv) {
    PrintTsv(state, result, out);
  } else {
    PrintDriverList(state, result, out);
  }
  return Finish(out, err, CheckExitStatus(state, result, options));
}

}  // namespace
