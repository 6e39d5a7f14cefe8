#include "scan/uSSLRequest.h"

#include "net/uPemCertificate.h"
#include "scan/uServerUrls.h"

#include <korvane_text.h>

std::string GetShortText(const std::string& url, unsigned readTimeoutMs, unsigned deadlineMs) {
  THttpClient http;
  http.ReadTimeout = readTimeoutMs;
  http.Deadline = deadlineMs;
  http.MaxBody = httpdefaults::kMaxShortBodyBytes;
  return http.GetText(url);
}

bool IsInternetAvailableAt(const std::string& probeUrl, unsigned readTimeoutMs, unsigned deadlineMs) {
  std::string answer;
  try {
    answer = GetShortText(probeUrl, readTimeoutMs, deadlineMs);
  } catch (...) {
    answer.clear();
  }
  return answer.find("ok") != std::string::npos;
}

bool IsInternetAvailable(unsigned readTimeoutMs, unsigned deadlineMs) {
  return IsInternetAvailableAt(ProbeAddress(), readTimeoutMs, deadlineMs);
}

TSSLRequestThread::TSSLRequestThread(bool CreateSuspended) : TThread(CreateSuspended) {
  Priority = TThreadPriority::tpLower;
  FreeOnTerminate = true;
}

void TSSLRequestThread::Execute() {
  try {
    TSSLIOHandler ssl;
    THttpClient http;
    if (UseTLS) {
      ssl.RootCertFile = RootCertFile;
      http.IOHandler = &ssl;
    }
    http.ReadTimeout = ReadTimeout;
    http.Deadline = Deadline;
    http.MaxBody = MaxBody;
    Answer = AnsiToWide(http.GetText(URL));
  } catch (...) {
    Answer.clear();
  }
}

void CACertFetchCompleted(TKorvaneState& state, const std::u16string& answer) {
  // Only the certificate itself is kept: whatever else the answer carries
  // never reaches the settings or "ccc3". A file that cannot be written is
  // found missing by the upload, which says so.
  (void)StoreCACert(state.Settings, state.TempFolder, FirstPemCertificate(WideToAnsi(answer)));
}

TWaitHandle StartCACertFetch(TWorkerOwner& owner, const std::string& url, TCertificateStore store,
                             unsigned readTimeoutMs, unsigned deadlineMs) {
  auto* thread = new TSSLRequestThread(true);
  thread->UseTLS = false;
  thread->URL = url;
  thread->ReadTimeout = readTimeoutMs;
  thread->Deadline = deadlineMs;
  TWaitHandle handle = thread->Handle();
  // Owned by the owner of the store's target: gone with it, the fetch touches
  // nothing of it again.
  owner.Start(thread, [store = std::move(store)](TThread& t) {
    if (store) store(static_cast<TSSLRequestThread&>(t).Answer);
  });
  return handle;
}

TWaitHandle StartCACertFetch(TKorvaneState& state, unsigned readTimeoutMs, unsigned deadlineMs) {
  return StartCACertFetch(
      state.CertFetch, CACertAddress(),
      [&state](const std::u16string& answer) { CACertFetchCompleted(state, answer); }, readTimeoutMs,
      deadlineMs);
}
