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
  try {
    // Only the certificate itself is kept: whatever else the answer carries
    // never reaches the settings or "ccc3".
    state.Settings.CACertData = FirstPemCertificate(WideToAnsi(answer));
    state.SaveSettings();
    state.LoadSettings();
  } catch (...) {
    // The certificate file could not be written: the upload then finds none.
  }
}

TWaitHandle StartCACertFetch(TKorvaneState& state, unsigned readTimeoutMs, unsigned deadlineMs) {
  auto* thread = new TSSLRequestThread(true);
  thread->UseTLS = false;
  thread->URL = CACertAddress();
  thread->ReadTimeout = readTimeoutMs;
  thread->Deadline = deadlineMs;
  TWaitHandle handle = thread->Handle();
  // Owned by the state whose certificate it fetches: gone with it, the fetch
  // touches nothing of it again.
  state.CertFetch.Start(thread, [&state](TThread& t) {
    CACertFetchCompleted(state, static_cast<TSSLRequestThread&>(t).Answer);
  });
  return handle;
}
