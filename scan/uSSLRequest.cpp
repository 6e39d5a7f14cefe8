#include "scan/uSSLRequest.h"

#include "scan/uServerUrls.h"

#include <korvane_text.h>

bool IsInternetAvailableAt(const std::string& probeUrl, unsigned readTimeoutMs) {
  std::string answer;
  try {
    THttpClient http;
    http.ReadTimeout = readTimeoutMs;
    answer = http.GetText(probeUrl);
  } catch (...) {
    answer.clear();
  }
  return answer.find("ok") != std::string::npos;
}

bool IsInternetAvailable(unsigned readTimeoutMs) {
  return IsInternetAvailableAt(ProbeAddress(), readTimeoutMs);
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
    Answer = AnsiToWide(http.GetText(URL));
  } catch (...) {
    Answer.clear();
  }
}

void CACertFetchCompleted(TKorvaneState& state, const std::u16string& answer) {
  try {
    state.Settings.CACertData = WideToAnsi(answer);
    state.SaveSettings();
    state.LoadSettings();
  } catch (...) {
    // The certificate file could not be written: the upload then finds none.
  }
}

TWaitHandle StartCACertFetch(TKorvaneState& state, unsigned readTimeoutMs) {
  auto* thread = new TSSLRequestThread(true);
  thread->UseTLS = false;
  thread->URL = CACertAddress();
  thread->ReadTimeout = readTimeoutMs;
  TWaitHandle handle = thread->Handle();
  // Owned by the state whose certificate it fetches: gone with it, the fetch
  // touches nothing of it again.
  state.CertFetch.Start(thread, [&state](TThread& t) {
    CACertFetchCompleted(state, static_cast<TSSLRequestThread&>(t).Answer);
  });
  return handle;
}
