#include "download/uDownThread.h"

#include "download/uDownFile.h"
#include "download/uDownText.h"

#include <exception>
#include <limits>

TDownThread::TDownThread(IDownView* view, bool CreateSuspended) : TThread(CreateSuspended), FView(view) {
  Priority = TThreadPriority::tpLower;
}

// The view is read again on the UI thread: it may have been detached while
// the call waited in the queue.
void TDownThread::ShowFileName() {
  if (!FView.load()) return;
  Synchronize([this] {
    if (IDownView* view = FView.load()) view->ShowFileName(*this);
  });
}

void TDownThread::ShowDownloadProgress() {
  if (!FView.load()) return;
  Synchronize([this] {
    if (IDownView* view = FView.load()) view->ShowDownloadProgress(*this);
  });
}

bool TDownThread::StopRequested() {
  // A stop request drops the connection: the pending GET fails at once.
  if ((Terminated() || FTooLarge) && FHttp && FHttp->Connected()) FHttp->Disconnect();
  return Terminated() || FTooLarge;
}

void TDownThread::HttpWorkBegin(int64_t count) {
  if (count > std::numeric_limits<int32_t>::max()) FTooLarge = true;
  if (StopRequested()) return;
  Total = static_cast<int32_t>(count < 0 ? 0 : count);
  StartTime = NowDays();
  ShowDownloadProgress();
}

void TDownThread::HttpWork(int64_t count) {
  if (count > std::numeric_limits<int32_t>::max()) FTooLarge = true;
  if (StopRequested()) return;
  Current = static_cast<int32_t>(count < 0 ? 0 : count);
  ShowDownloadProgress();
}

void TDownThread::HttpWorkEnd() { StopRequested(); }

void TDownThread::Execute() {
  ShowFileName();
  if (Terminated()) return;
  try {
    THttpClient http;
    http.ReadTimeout = ReadTimeout;
    http.OnWorkBegin = [this](int64_t n) { HttpWorkBegin(n); };
    http.OnWork = [this](int64_t n) { HttpWork(n); };
    http.OnWorkEnd = [this] { HttpWorkEnd(); };
    // The body streams into a temporary file beside the destination, which
    // replaces the destination only when the transfer is complete.
    if (GetIntoFile(http, FHttp, Url, FileName, TFileKind::Document,
                    [this] { return !Terminated() && !FTooLarge; }))
      FSaved = true;
  } catch (const std::exception&) {
    // Time-out, connection failure, error status or our own disconnect: no file, no message.
  }
}
