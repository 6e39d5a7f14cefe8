// The connectivity probe, the background GET thread and the root-certificate
// fetch that precedes every upload.
#pragma once

#include "core/uAppState.h"
#include "core/uThread.h"
#include "net/uHttpClient.h"

#include <string>

// The prompt shown while the update server cannot be reached.
constexpr const char* ConnectivityPromptText =
    "To continue updating drivers, you need to have an active Internet connection. "
    "Connect to the Internet and click OK.";

// True when the probe address answers with text containing "ok" (case-sensitive).
// Blocks up to the read time-out; every failure counts as unavailable.
bool IsInternetAvailable(unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs);
// The same against any address.
bool IsInternetAvailableAt(const std::string& probeUrl,
                           unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs);

// A background GET at lower priority that frees itself when it ends. The caller
// sets UseTLS, URL and OnTerminate, then calls Start(); OnTerminate reads Answer.
class TSSLRequestThread : public TThread {
 public:
  explicit TSSLRequestThread(bool CreateSuspended = true);

  bool UseTLS = false;       // through the TLS layer with RootCertFile as its root
  std::string URL;
  std::u16string Answer;     // the body; empty when the request failed
  std::string RootCertFile;  // used with UseTLS ("ccc3" in the temporary folder)
  unsigned ReadTimeout = httpdefaults::kReadTimeoutMs;

 protected:
  void Execute() override;
};

// Starts the fetch of the root certificate from the update server, owned by
// state.CertFetch (a fetch still running from before is let go). The handle is
// signalled once the fetch and its completion (CACertData, SaveSettings, then
// LoadSettings, which rewrites "ccc3") have run on the UI thread; it stays valid
// after the thread has gone.
TWaitHandle StartCACertFetch(TKorvaneState& state,
                             unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs);

// The fetch's completion on the UI thread: stores the answer as CACertData, saves
// and reloads the settings. An empty answer is never stored, so the reload brings
// back the last certificate fetched. Errors of the store are swallowed.
void CACertFetchCompleted(TKorvaneState& state, const std::u16string& answer);
