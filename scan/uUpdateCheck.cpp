// The update-check exchange of the scan thread: probe, report, gzip, certificate,
// HTTPS upload, answer merge.
#include "scan/uScanThread.h"

#include "core/uSettings.h"
#include "net/uGzip.h"
#include "net/uHttpClient.h"
#include "scan/uExchange.h"
#include "scan/uExchangeLog.h"
#include "scan/uSSLRequest.h"
#include "scan/uServerUrls.h"

#include <korvane_text.h>

namespace {

constexpr const char* kUploadField = "drvlist";
constexpr const char* kUploadContentType = "application/x-www-form-urlencoded";

}  // namespace

void TScanThread::UpdateCheck() {
  TKorvaneState& state = State;
  const std::string temp = state.TempFolder;
  AnswerReceived = false;

  Synchronize([this] { Page.BeginUpdateCheck(); });

  // Connectivity: the user either connects or gives up.
  while (!IsInternetAvailable(ReadTimeoutMs)) {
    if (Terminated()) return;
    int result = 0;
    Synchronize([&] { result = Page.ShowConnectivityPrompt(ConnectivityPromptText); });
    if (result != 1) {
      Succeeded = false;
      Terminate();
      return;
    }
  }

  const std::string reportPath = temp + ReportFileName;
  const std::string packedPath = temp + PackedReportFileName;
  WriteScratchText(reportPath,
                   ComposeScanReport(state.OsShortName, state.PartnerID, state.DrvList,
                                     state.DrvCount));
  if (Terminated()) return;

  TExchangeLog log;
  log.Add(" Packing GZIP");
  // A report left from an earlier run must never be uploaded in place of this one.
  RemoveScratchFile(packedPath);
  {
    TGzip gzip;
    gzip.FileSource = reportPath;
    gzip.FileDestination = packedPath;
    gzip.CompressionLevel = 9;
    gzip.DeleteSource = true;
    if (gzip.Execute() != TGzip::kOk) RemoveScratchFile(packedPath);
  }
  log.Add(" Packing GZIP complete");
  if (Terminated()) return;

  const std::string certPath = temp + CACertFileName;
  TWaitHandle fetch = StartCACertFetch(state, ReadTimeoutMs);
  fetch->WaitFor(CertWaitMs);
  if (!ScratchFileExists(certPath)) {
    Synchronize([this] { Page.ShowNoAnswer(NoAnswerText); });
    return;
  }

  std::string body;
  bool received = false;
  log.Add(" Initialization");
  try {
    TSSLIOHandler ssl;
    THttpClient http;
    log.Add(" Setup SSL options");
    ssl.RootCertFile = certPath;
    log.Add(" Setup SSL options complete");
    ssl.OnStatusInfo = [&log](const std::string& text) { log.Add(" SSL Status Info:" + text); };
    http.OnStatus = [&log](const std::string& text) { log.Add(" HTTP Status:" + text); };
    log.Add(" SSL IO Handler assignment");
    http.IOHandler = &ssl;
    http.ReadTimeout = ReadTimeoutMs;
    log.Add(" Adding files to send stream");
    if (!ScratchFileExists(packedPath))
      throw EHttpError("Cannot open " + packedPath);
    log.Add(" Adding files to send stream completed");
    log.Add(" Sending HTTP Query");
    body = http.PostFile(UpdateCheckAddress(), kUploadField, packedPath, kUploadContentType);
    received = true;
    log.Add(" HTTP Answer received");
  } catch (...) {
    body.clear();
    received = false;
  }
  log.Add(" Finalization");

  WriteScratchText(temp + ExchangeLogFileName, log.Text());
  if (Terminated()) return;

  Answer = AnsiToWide(body);
  AnswerReceived = received;
  WriteScratchText(temp + AnswerFileName, Answer);
  if (!AnswerReceived) {
    Synchronize([this] { Page.ShowNoAnswer(NoAnswerText); });
    return;
  }

  // The settings belong to the UI thread (a late certificate completion reloads
  // them there), so the figures are handed over rather than written from here.
  TAnswerMerge merge;
  merge.tDrivers = merge.udDrivers = state.DrvCount;
  const auto publish = [&](bool withVerdict) {
    Synchronize([&] {
      state.Settings.tDrivers = merge.tDrivers;
      state.Settings.udDrivers = merge.udDrivers;
      state.Settings.odDrivers = merge.odDrivers;
      if (withVerdict) state.Settings.IsSysUpdated = merge.IsSysUpdated;
    });
  };
  if (Answer.empty()) {
    publish(false);
    return;
  }

  ErrMsg.clear();
  ErrCode = 0;
  try {
    MergeUpdateAnswer(Answer, state.DrvList, state.DrvCount, state.GUIDList, state.GUIDCount,
                      merge);
  } catch (...) {
    ErrMsg = merge.ErrMsg;
    ErrCode = merge.ErrCode;
    publish(true);
    throw;
  }
  ErrMsg = merge.ErrMsg;
  ErrCode = merge.ErrCode;
  publish(true);

  Synchronize([this] { Page.FinishUpdateCheck(); });
}
