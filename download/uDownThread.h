// TDownThread: fetches one driver package into the file the user chose, with
// progress reported to the download dialog.
#pragma once

#include "core/uThread.h"
#include "net/uHttpClient.h"

#include <atomic>
#include <cstdint>
#include <string>

class TDownThread;

// The dialog's side of a download; both calls run on the UI thread while the
// worker waits.
class IDownView {
 public:
  virtual ~IDownView() = default;
  virtual void ShowFileName(TDownThread& thread) = 0;
  virtual void ShowDownloadProgress(TDownThread& thread) = 0;
};

class TDownThread : public TThread {
 public:
  // Runs at lower than normal priority.
  explicit TDownThread(IDownView* view, bool CreateSuspended = true);

  // Written by the worker, read inside the view's calls.
  int32_t Total = 0;       // bytes announced when the body began
  int32_t Current = 0;     // bytes of the body so far
  double StartTime = 0;    // when the body began (NowDays)
  std::string Url;
  std::string FileName;    // the destination chosen by the user
  unsigned ReadTimeout = httpdefaults::kReadTimeoutMs;

  // True once this transfer has written FileName (complete, synced, renamed into place).
  bool Saved() const { return FSaved.load(); }
  // True when the body was refused for exceeding the 32-bit counts.
  bool TooLarge() const { return FTooLarge.load(); }
  // UI thread: no display call reaches the view after this (the dialog is going).
  void DetachView() { FView.store(nullptr); }

 protected:
  void Execute() override;
  void ShowFileName();
  void ShowDownloadProgress();
  void HttpWorkBegin(int64_t count);
  void HttpWork(int64_t count);
  void HttpWorkEnd();

 private:
  bool StopRequested();
  std::atomic<IDownView*> FView;
  THttpClient* FHttp = nullptr;
  std::atomic<bool> FSaved{false};
  std::atomic<bool> FTooLarge{false};
};
