// korvane-check: a headless scan of the current machine, printed as the driver list,
// as tab-separated records or as one JSON document; with --exchange the update check
// as the program runs it; and the offline check in two steps (--export on the machine,
// --submit anywhere with a network, --import back on the machine).
#pragma once

#include "core/uAppState.h"
#include "scan/uScanEnd.h"

#include <cstdint>
#include <iosfwd>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

class TScanThread;

struct TCheckOptions {
  bool Tsv = false;       // --tsv: the tab-separated records
  bool Json = false;      // --json: one JSON document
  bool Exchange = false;  // --exchange: run the update check after the device phase
  bool Sysinfo = false;   // --sysinfo: the start page's system facts, no scan
  bool Help = false;
  bool Version = false;
  std::string Server;        // --server URL: this run's plain update server
  std::string SecureServer;  // --secure-server URL: this run's HTTPS update server
  std::string ExportFile;    // --export FILE
  std::string SubmitFile;    // --submit FILE
  std::string AnswerOut;     // --answer-out FILE (with --submit)
  std::string ImportFile;    // --import FILE

  bool Checks() const { return Exchange || !ImportFile.empty(); }  // a run that gives a verdict
};

// Why a run gives no verdict beyond how the scan ended: the tool's own failures.
enum class TCheckError {
  None,
  Scan,            // the scan did not end as asked: End and Cause tell why
  ServerError,     // the answer carried an error code above 1
  AnswerMismatch,  // --import: the answer is for another report
  File,            // a file named on the command line cannot be read or written
  Machine,         // the machine cannot be read
};

// What a finished run leaves for the printers.
struct TCheckResult {
  TScanEnd End = TScanEnd::Failed;
  TScanCause Cause;  // why the scan did not end checked (kind and sentence)
  int32_t ErrCode = 0;
  std::string ErrMsg;
  bool Checked = false;  // the update server's verdict was merged (error code 0 or 1)
  // The check's figures were saved: an answer came, with whatever error code (the
  // figures of one with an error code above 1 are saved as the exchange left them).
  bool Stored = false;
  TCheckError Error = TCheckError::None;
  std::string ErrorText;  // a sentence for Error, UTF-8
  bool ProbeFailed = false;  // the check stopped because the update server could not be reached
  // The scan did what was asked: the device listing, or a check with an answer.
  bool Completed() const { return End == TScanEnd::Checked || End == TScanEnd::DevicesOnly; }
};

// The error's kind as scripts read it (JSON "error.kind"): "server-error",
// "answer-mismatch", "file", "machine"; "unreachable" when the update server's probe
// failed; else the scan's cause (CauseKindName: "connect", "timeout", "tls",
// "no-certificate", "status", "malformed", "platform", ...). Empty without an error.
std::string CheckErrorKind(const TCheckResult& result);

// Exit statuses, as dnf check-update gives them.
constexpr int kExitOk = 0;          // checked, nothing out of date (or: listed)
constexpr int kExitFailed = 1;      // no verdict: failure of any kind
constexpr int kExitUsage = 2;       // wrong arguments
constexpr int kExitOutOfDate = 100; // checked, at least one driver out of date

// Parses the arguments after the program name; false (with a message) on wrong usage.
bool ParseCheckArgs(const std::vector<std::string>& args, TCheckOptions& options,
                    std::string& error);
std::string CheckUsage();

// True for "http://HOST..." or "https://HOST..." (scheme in any case, a host after it).
bool IsServerUrl(const std::string& url);

// The korvane executable for this build: <build>/app/korvane when selfExe lies in
// <build>/tools/korvane-check/, else "korvane" beside selfExe.
std::string ResolveKorvaneExe(const std::string& selfExe);

// This run's server addresses: the stored ones, replaced by --server/--secure-server.
// --server alone names the server for both, so a run pointed at a test server never
// uploads to the stored one. The registry is not changed.
void UseCheckServers(const TCheckOptions& options);

// Fills the per-run paths of the state (TempFolder, ExeName, ExeFolder) and the
// partner tag of that korvane executable.
void PrepareCheckState(TKorvaneState& state, const std::string& selfExe);

// Runs the scan headlessly (its UI calls pumped on the calling thread). With
// options.Exchange the update check follows, against the servers of --server /
// --secure-server when given, else the stored addresses.
TCheckResult RunCheckScan(TKorvaneState& state, const TCheckOptions& options, std::ostream& err);

// The bookkeeping of a finished check, as the scan page's completion does it: the
// last-scan stamp and the stored figures; a server error code above 1 leaves the
// drivers without a verdict.
void ConcludeCheck(TKorvaneState& state, TCheckResult& result);

// Drivers out of date after a check: records the answer gave a newer driver's date.
int32_t OutOfDateCount(const TKorvaneState& state);
// The exit status of a finished run.
int CheckExitStatus(const TKorvaneState& state, const TCheckResult& result,
                    const TCheckOptions& options);

// One value of a line for a terminal: every control character (C0 with line feed
// and tab, DEL, C1 in UTF-8) becomes "?", so that no value can start a line of its own.
std::string TerminalText(const std::string& utf8);

// What korvane-check writes to a terminal passes through this: every C0 control
// character (but the line feed, and the tab where it parts fields), DEL and every
// C1 control (U+0080..U+009F in UTF-8) becomes "?", so that text from the network
// can neither move the cursor nor change the terminal.
class TTerminalSafeBuf : public std::streambuf {
 public:
  TTerminalSafeBuf(std::streambuf* dest, bool keepTabs);
  ~TTerminalSafeBuf() override;
  TTerminalSafeBuf(const TTerminalSafeBuf&) = delete;
  TTerminalSafeBuf& operator=(const TTerminalSafeBuf&) = delete;

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool Put(unsigned char c);
  bool Emit(char c);
  std::streambuf* FDest;
  bool FKeepTabs;
  bool FPendingC2 = false;  // a UTF-8 lead byte waiting for what follows it
};

// The TSV output is UTF-8, escaped as the system facts are (TsvEscape).
std::string WideToUtf8(std::u16string_view text);

void PrintDriverList(const TKorvaneState& state, const TCheckResult& result, std::ostream& out);
void PrintTsv(const TKorvaneState& state, const TCheckResult& result, std::ostream& out);

// --json. machineFacts: key and code-page value, as --sysinfo lists them.
void PrintJson(const TKorvaneState& state, const TCheckResult& result, const TCheckOptions& options,
               const std::vector<std::pair<std::string, std::string>>& machineFacts,
               std::ostream& out);
// The ISO 8601 form (YYYY-MM-DD) of a driver date as the platform and the server
// write it (M-D-YYYY or M/D/YYYY, or already YYYY-MM-DD); empty when it is no date.
std::string IsoDate(std::string_view date);
// An ID list as the record holds it ("A, B") split into its IDs.
std::vector<std::string> SplitIdList(const std::string& utf8);

// ---- the offline check ----

// The report as the program writes it to "scanres.log": 8-bit text.
std::string ReportBytes(const TKorvaneState& state);
// Lower-case hexadecimal SHA-256 of bytes.
std::string Sha256Hex(const std::string& bytes);
// The first line of an answer file: "korvane-answer sha256=<hex of the report>\n".
std::string AnswerHeader(const std::string& reportSha256);
// Splits an answer file into the report's hash and the server's answer; false when
// the file does not start with such a line.
bool ParseAnswerFile(const std::string& file, std::string& reportSha256, std::string& answer);
// The report inside a packed report; false (with a reason) when it is none.
bool UnpackReport(const std::string& packed, std::string& report, std::string& why);

// --export: packs the scanned machine's report as the update check does and writes
// it to file. Failures are recorded in result.
void ExportReport(TKorvaneState& state, const std::string& file, TCheckResult& result,
                  std::ostream& err);
// --submit: posts a packed report as the update check does (probe, certificate
// fetch, TLS upload) and writes the answer file. Returns the exit status.
int SubmitReport(const TCheckOptions& options, std::ostream& err, unsigned readTimeoutMs = 30000);
// --import, after the scan: checks the answer file against this machine's report and
// merges it as the update check merges an answer. Failures are recorded in result.
void ImportAnswer(TKorvaneState& state, const std::string& file, TCheckResult& result,
                  std::ostream& err);

// The whole tool; returns the exit status.
int KorvaneCheckMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
