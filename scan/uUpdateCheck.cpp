// The update-check exchange of the scan thread: probe, report, gzip, certificate,
// HTTPS upload, answer merge.
#include "scan/uScanThread.h"

#include "core/uSettings.h"
#include "net/uGzip.h"
#include "net/uHttpClient.h"
#include "scan/uExchange.h"
#include "core/uOSError.h"
#include "core/uScratchFile.h"
#include "scan/uExchangeLog.h"
#include "scan/uSSLRequest.h"
#include "scan/uServerUrls.h"

#include <korvane_text.h>

void TScanThread::UpdateCheck() {
  const std::string temp = Inputs.TempFolder;

  const auto stopped = [this] { EndAs(TScanEnd::Cancelled, TCauseKind::Aborted, ScanStoppedText); };
  const auto noAnswer = [this](const TScanCause& cause) {
    EndAs(TScanEnd::NoAnswer, cause.Kind, cause.Text);
    const std::string notice = NoAnswerNotice(Cause);
    Synchronize([&] { Page.ShowNoAnswer(notice); });
  };

  // Every scratch file lives in the temporary folder: without one nothing is
  // written at all (never into the current folder).
  if (temp.empty()) {
    noAnswer({TCauseKind::TempFolder, Inputs.TempFolderError.empty()
                                          ? std::string("No temporary folder is available.")
                                          : Inputs.TempFolderError});
    return;
  }

  Synchronize([this] { Page.BeginUpdateCheck(); });

  // Connectivity: the user either connects or gives up.
  while (!IsInternetAvailableAt(ProbeAddress(Inputs.Urls), ReadTimeoutMs, DeadlineMs)) {
    if (Terminated()) return stopped();
    int result = 0;
    Synchronize([&] { result = Page.ShowConnectivityPrompt(ConnectivityPromptText); });
    if (result != 1) {
      EndAs(TScanEnd::Cancelled, TCauseKind::Aborted, ScanCancelledText);
      Terminate();
      return;
    }
  }

  const std::string reportPath = temp + ReportFileName;
  const std::string packedPath = temp + PackedReportFileName;
  {
    // Written as it is composed: a report of many devices is never held whole.
    TScratchWriter report;
    report.Open(reportPath);
    ComposeScanReportText(Inputs.OsShortName, Inputs.PartnerID, Result.DrvList, Result.DrvCount,
                          [&report](std::string_view piece) { report.Write(piece); });
    const DWORD error = report.Close();
    if (error != ERROR_SUCCESS)
      throw EExchangeError("Cannot write " + reportPath + ": " + OSErrorText(error));
  }
  if (Terminated()) return stopped();

  TExchangeLog log;
  log.Add(" Packing GZIP");
  // A report left from an earlier run must never be uploaded in place of this one.
  RemoveScratchFile(packedPath);
  // Packing on: the upload then finds no packed file and says so, but the
  // packer's own reason is the one the user is told.
  TScanCause packFailure;
  {
    TGzip gzip;
    gzip.FileSource = reportPath;
    gzip.FileDestination = packedPath;
    gzip.CompressionLevel = 9;
    gzip.DeleteSource = true;
    gzip.OnError = [this](const std::string& text) { Synchronize([&] { Page.ShowPackingError(text); }); };
    const TGzipResult packed = gzip.Execute();
    if (packed != TGzipResult::Ok) {
      RemoveScratchFile(packedPath);
      packFailure = {TCauseKind::LocalFile,
                     "The report could not be packed: " + GzipResultText(packed, reportPath, packedPath)};
    }
  }
  log.Add(" Packing GZIP complete");
  if (Terminated()) return stopped();

  const std::string certPath = temp + CACertFileName;
  TWaitHandle fetch =
      StartCACertFetch(CertFetch, CACertAddress(Inputs.Urls), StoreCertificate, ReadTimeoutMs, DeadlineMs);
  fetch->WaitFor(CertWaitMs);
  if (!ScratchFileExists(certPath)) {
    noAnswer(packFailure.Kind != TCauseKind::None
                 ? packFailure
                 : TScanCause{TCauseKind::NoCertificate,
                              "No root certificate has been fetched from the update server yet."});
    return;
  }

  std::string body;
  bool received = false;
  TScanCause uploadFailure;
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
    http.Deadline = DeadlineMs;
    // A longer answer is no answer: nothing of it is kept, logged or merged.
    http.MaxBody = httpdefaults::kMaxAnswerBodyBytes;
    log.Add(" Adding files to send stream");
    if (!ScratchFileExists(packedPath))
      throw EHttpError(THttpErrorKind::LocalFile, "Cannot open the file \"" + packedPath + "\".");
    log.Add(" Adding files to send stream completed");
    log.Add(" Sending HTTP Query");
    body = http.PostFile(UpdateCheckAddress(Inputs.Urls), UploadFieldName, packedPath, UploadContentType);
    received = true;
    log.Add(" HTTP Answer received");
  } catch (const EHttpError& e) {
    // The transport's failure is the cause the user is told; any other error
    // ends the scan as failed.
    body.clear();
    received = false;
    uploadFailure =
        packFailure.Kind != TCauseKind::None ? packFailure : TScanCause{CauseKindOf(e.Kind), e.what()};
  }
  log.Add(" Finalization");

  WriteScratchText(temp + ExchangeLogFileName, log.Text());
  if (Terminated()) return stopped();

  Answer = AnsiToWide(body);
  WriteScratchText(temp + AnswerFileName, Answer);
  if (!received) {
    noAnswer(uploadFailure);
    return;
  }

  // The figures are the scan's own until it hands its result over.
  TAnswerMerge merge;
  merge.tDrivers = merge.udDrivers = Result.DrvCount;
  const auto publish = [&](bool withVerdict) {
    Result.HasCounts = true;
    Result.tDrivers = merge.tDrivers;
    Result.udDrivers = merge.udDrivers;
    Result.odDrivers = merge.odDrivers;
    Result.HasVerdict = withVerdict;
    if (withVerdict) Result.IsSysUpdated = merge.IsSysUpdated;
  };
  if (Answer.empty()) {
    publish(false);
    EndAs(TScanEnd::Checked, TCauseKind::None, std::string());
    return;
  }

  ErrMsg.clear();
  ErrCode = 0;
  try {
    MergeUpdateAnswer(Answer, Result.DrvList, Result.DrvCount, Result.GUIDList, Result.GUIDCount, merge);
  } catch (...) {
    // What was merged is kept; the error itself ends the scan as failed.
    ErrMsg = merge.ErrMsg;
    ErrCode = merge.ErrCode;
    publish(true);
    throw;
  }
  ErrMsg = merge.ErrMsg;
  ErrCode = merge.ErrCode;
  publish(true);
  EndAs(TScanEnd::Checked, TCauseKind::None, std::string());

  Synchronize([this] { Page.FinishUpdateCheck(); });
}
