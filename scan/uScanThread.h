// The background scan: catalogue, devices, then the update-check exchange.
#pragma once

#include "core/uAppState.h"
#include "core/uThread.h"
#include "scan/DeviceHelper.h"
#include "scan/uScanEnd.h"
#include "scan/uSSLRequest.h"
#include "scan/uServerUrls.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

class TScanThread;

// The device counters as they stood at one device.
struct TScanProgress {
  int32_t FoundInClass = 0;
  int32_t ClassDevCount = 0;
  int32_t Processed = 0;
  int32_t TotalDevices = 0;
};

// The scan page's UI calls; every call runs on the UI thread, in the order the scan made
// them. All but ShowProgress wait for the page (Synchronize). ShowProgress is posted: the
// scan goes on meanwhile, so it gets the counters of a device rather than the thread.
// It comes at most about every ProgressIntervalMs with the latest counters, and always
// with a class's last device before the next class starts and with the scan's last one.
class IScanPage {
 public:
  virtual ~IScanPage();
  virtual void ResetPage(TScanThread&) = 0;
  virtual void ClearPage(TScanThread&) = 0;
  virtual void ShowClassStarted(TScanThread&) = 0;
  virtual void ShowProgress(const TScanProgress&) = 0;
  virtual void AddClassIcon(HICON icon) = 0;                 // ilGUIDPics
  virtual void ShowSearching(const std::string& text) = 0;   // lbCurType before the exchange
  virtual void BeginUpdateCheck() = 0;
  virtual void FinishUpdateCheck() = 0;
  virtual int ShowConnectivityPrompt(const std::string& text) = 0;  // 1 OK, else cancel
  virtual void ShowNoAnswer(const std::string& text) = 0;  // NoAnswerNotice: with the cause
  // The packer's "Can't open: <path>" (an error box with one Abort button); the scan
  // waits until it is closed.
  virtual void ShowPackingError(const std::string& text) = 0;
};

// Text shown when the device phase is over and the exchange begins.
constexpr const char* SearchingText = "Searching driver updates at Brantholm Download Center...";

// Causes of a scan that was stopped rather than failed.
constexpr const char* ScanStoppedText = "The scan was stopped.";
constexpr const char* ScanCancelledText = "The scan was cancelled at the Internet connection prompt.";

// What a scan works from, copied from the main window's state when the scan is
// made (on the UI thread): nothing the user interface changes afterwards, a
// start page refilled meanwhile included, reaches a running scan.
struct TScanInputs {
  std::string OsShortName;  // the report's system token
  std::string PartnerID;
  std::string TempFolder;       // with trailing separator; empty when not usable
  std::string TempFolderError;  // why TempFolder is empty
  TServerUrls Urls;             // the server addresses of this run
};

class TScanThread : public TThread {
 public:
  // Copies its inputs from state; the certificate fetch is owned by
  // state.CertFetch and stores into state on the UI thread. The scan's own
  // completion hands its result to state (HandOver); a completion set in
  // OnTerminate instead calls HandOver itself before the state is read.
  TScanThread(TKorvaneState& state, IScanPage& page);
  ~TScanThread() override;

  const TScanInputs Inputs;
  IScanPage& Page;

  // The scan's catalogue, driver list and figures: written by the scan thread
  // alone while it runs, read by nobody else until it has ended.
  TScanResult Result;

  // Moves Result into the state the scan was made for (UI thread, after the
  // scan has ended; once).
  void HandOver();

  // Counters the page reads inside its UI calls.
  int32_t FoundInClass = 0;
  int32_t ClassDevCount = 0;
  int32_t Processed = 0;
  int32_t TotalDevices = 0;
  std::string CurClassDesc;

  // How the scan ended, set once Execute has returned (Failed before).
  TScanEnd End = TScanEnd::Failed;
  TScanCause Cause;  // Kind None for Checked and DevicesOnly

  // Exchange results.
  std::u16string Answer;
  std::string ErrMsg;
  int32_t ErrCode = 0;

  // False: the scan ends after the device phase (headless device listings).
  bool RunExchange = true;

  // Exchange time limits (the program's values; tests pass short ones).
  unsigned CertWaitMs = 20000;
  unsigned ReadTimeoutMs = 30000;
  unsigned DeadlineMs = httpdefaults::kOperationDeadlineMs;  // each request as a whole

  // The phases, callable on their own (tests, korvane-check). They run on the calling
  // thread and hand UI calls over through Synchronize.
  void BuildCatalogue();        // Algorithm A
  bool ScanDevices();           // Algorithm B steps 1-3; false when stopped by Terminate

 protected:
  void Execute() override;
  void UpdateCheck();   // the exchange; sets End and Cause
  void EndAs(TScanEnd end, TCauseKind kind, std::string text);

 private:
  // ShowProgress with the counters as they stand, unless one is on its way or the last
  // went out less than ProgressIntervalMs ago (flush: unless the latest is shown).
  void PostProgress(bool flush);

  TKorvaneState& Target;    // touched only by HandOver, on the UI thread
  TWorkerOwner& CertFetch;  // its own lock; the fetch's completion runs on the UI thread
  TCertificateStore StoreCertificate;
  TDeviceHelper Helper;
  std::mutex ProgressM;
  TScanProgress LatestProgress;                            // under ProgressM
  bool ProgressPosted = false;                             // under ProgressM: a ShowProgress is on its way
  bool ProgressShown = true;                               // under ProgressM: LatestProgress has been shown
  std::chrono::steady_clock::time_point ProgressPostedAt;  // under ProgressM
};

// A display refresh needs no more progress calls than this.
constexpr int ProgressIntervalMs = 15;

// The start page's processor line; raises on failure.
std::string GetProcessorSummary();

// The processor class.
constexpr const char* ProcessorClassGUID = "{50127DC3-0F36-415E-A6CC-4CB3BE910B65}";
// Below HKEY_LOCAL_MACHINE; the driver key follows.
constexpr const char* DriverClassKeyPrefix = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
