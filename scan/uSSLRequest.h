// The connectivity probe, the background GET thread and the root-certificate
// fetch that precedes every upload.
#pragma once

#include "core/uAppState.h"
#include "core/uThread.h"
#include "net/uHttpClient.h"

#include <functional>
#include <string>

// The prompt shown while the update server cannot be reached.
constexpr const char* ConnectivityPromptText =
    "To continue updating drivers, you need to have an active Internet connection. "
    "Connect to the Internet and click OK.";

// True when the probe address answers with text containing "ok" (case-sensitive).
// Blocks up to the read time-out, and never beyond the deadline; every failure
// (an answer longer than 64 KiB included) counts as unavailable.
bool IsInternetAvailable(unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs,
                         unsigned deadlineMs = httpdefaults::kOperationDeadlineMs);
// The same against any address.
bool IsInternetAvailableAt(const std::string& probeUrl, unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs,
                           unsigned deadlineMs = httpdefaults::kOperationDeadlineMs);

// A short text from the update server (the probe, the root certificate, the
// message): plain GET, at most 64 KiB, within the deadline. Raises EHttpError.
std::string GetShortText(const std::string& url, unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs,
                         unsigned deadlineMs = httpdefaults::kOperationDeadlineMs);

// A background GET at lower priority that frees itself when it ends. The caller
// sets UseTLS, URL and OnTerminate, then calls Start(); OnTerminate reads Answer.
class TSSLRequestThread : public TThread {
 public:
  explicit TSSLRequestThread(bool CreateSuspended = true);

  bool UseTLS = false;  // through the TLS layer with RootCertFile as its root
  std::string URL;
  std::u16string Answer;     // the body; empty when the request failed
  std::string RootCertFile;  // used with UseTLS ("ccc3" in the temporary folder)
  unsigned ReadTimeout = httpdefaults::kReadTimeoutMs;
  unsigned Deadline = httpdefaults::kOperationDeadlineMs;  // the whole request
  int64_t MaxBody = httpdefaults::kMaxShortBodyBytes;      // a longer body is no answer

 protected:
  void Execute() override;
};

// Starts the fetch of the root certificate from the update server, owned by
// state.CertFetch (a fetch still running from before is let go). The handle is
// signalled once the fetch and its completion (StoreCACert: "CACertData" and
// "ccc3") have run on the UI thread; it stays valid after the thread has gone.
TWaitHandle StartCACertFetch(TKorvaneState& state, unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs,
                             unsigned deadlineMs = httpdefaults::kOperationDeadlineMs);

// Where a fetched certificate goes, on the UI thread (CACertFetchCompleted of
// the main window's state).
using TCertificateStore = std::function<void(const std::u16string& answer)>;

// The same for a caller that holds only the owner and the store (the scan):
// fetches from url, owned by owner, and hands the answer to store.
TWaitHandle StartCACertFetch(TWorkerOwner& owner, const std::string& url, TCertificateStore store,
                             unsigned readTimeoutMs = httpdefaults::kReadTimeoutMs,
                             unsigned deadlineMs = httpdefaults::kOperationDeadlineMs);

// The fetch's completion on the UI thread: stores the answer's first PEM
// certificate (FirstPemCertificate) as "CACertData" and writes "ccc3" from it.
// An answer without one stores nothing, so "ccc3" keeps the last certificate
// fetched.
void CACertFetchCompleted(TKorvaneState& state, const std::u16string& answer);
