// The background scan: catalogue, devices, then the update-check exchange.
#pragma once

#include "core/uAppState.h"
#include "core/uThread.h"
#include "scan/DeviceHelper.h"
#include "scan/uScanEnd.h"

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
};

// Text shown when the device phase is over and the exchange begins.
constexpr const char* SearchingText = "Searching driver updates at Brantholm Download Center...";

// Causes of a scan that was stopped rather than failed.
constexpr const char* ScanStoppedText = "The scan was stopped.";
constexpr const char* ScanCancelledText = "The scan was cancelled at the Internet connection prompt.";

class TScanThread : public TThread {
 public:
  TScanThread(TKorvaneState& state, IScanPage& page);
  ~TScanThread() override;

  TKorvaneState& State;
  IScanPage& Page;

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
