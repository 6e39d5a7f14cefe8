// The program's HTTP/1.1 client: plain sockets or TLS over OpenSSL, one
// fresh client object per operation, no proxy, no redirects, no cookies.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

// Every fixed value of the client's wire profile lives here.
namespace httpdefaults {
constexpr unsigned kReadTimeoutMs = 30000;   // no data for this long fails the read
extern const char* const kUserAgent;         // "Mozilla/3.0 (compatible; Indy Library)"
extern const char* const kAccept;            // "text/html, */*"
extern const char* const kAcceptEncoding;    // "identity"
extern const char* const kCipherList;        // the TLS cipher list asked for
extern const char* const kRootCertError;     // "Could not load root certificate."
constexpr int64_t kMaxBodyBytes = 0x7FFFFFFF;  // callers count in 32 bits
// What the short answers may carry: the probe, the root certificate and the
// server's message are read up to 64 KiB, the update check's answer up to 8 MiB.
constexpr int64_t kMaxShortBodyBytes = 64 * 1024;
constexpr int64_t kMaxAnswerBodyBytes = 8 * 1024 * 1024;
// Every operation but a download ends within this, however slowly data trickles.
constexpr unsigned kOperationDeadlineMs = 5 * 60 * 1000;
constexpr std::size_t kMaxHeaderLine = 64 * 1024;
constexpr int kMaxHeaderCount = 100;
}  // namespace httpdefaults

// What went wrong in an operation.
enum class THttpErrorKind {
  Resolve,    // the host name did not resolve
  Connect,    // no connection, or the connection broke
  Tls,        // TLS set-up or handshake (an unloadable root certificate included)
  Timeout,    // no data within the read time-out, or the operation beyond its deadline
  Status,     // a response status outside 2xx (StatusCode holds it)
  Malformed,  // a response that is not HTTP, or cut short
  TooLarge,   // a body beyond the client's MaxBody (or the 32-bit counts)
  LocalFile,  // the upload file, or the stream the body goes to
  Aborted,    // Disconnect() stopped the operation
  Url,        // an address that is not a usable http or https URL
};

// Stable lower-case name of a kind ("resolve", "connect", "tls", "timeout", "status",
// "malformed", "too-large", "local-file", "aborted", "url").
const char* HttpErrorKindName(THttpErrorKind kind);

// Every failure of an operation. The text is one sentence for a person; the
// kind is what code looks at.
class EHttpError : public std::runtime_error {
 public:
  EHttpError(THttpErrorKind kind, const std::string& message, int statusCode = 0)
      : std::runtime_error(message), Kind(kind), StatusCode(statusCode) {}
  THttpErrorKind Kind;
  int StatusCode = 0;
};

// "The connection timed out after 30 seconds." for a read time-out in ms.
std::string TimeoutText(unsigned timeoutMs);
// "The server did not finish within 5 minutes." for an operation's deadline in ms.
std::string DeadlineText(unsigned deadlineMs);

// The TLS layer's settings and hooks. When attached to a client it also
// carries the socket's own status texts for plain http URLs.
class TSSLIOHandler {
 public:
  std::string RootCertFile;  // PEM file; must load when set
  std::string CipherList = httpdefaults::kCipherList;
  std::function<void(const std::string&)> OnStatusInfo;  // "SSL status: \"...\""
  std::function<void(const std::string&)> OnStatus;      // "Resolving hostname %s." ...
};

class THttpConnection;  // internal

class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  unsigned ReadTimeout = httpdefaults::kReadTimeoutMs;  // ms without data; 0: no limit
  // The whole operation (connection, request, answer) ends within this many ms,
  // whatever the read time-out; 0: no limit (downloads).
  unsigned Deadline = 0;
  // A response body longer than this fails with TooLarge: an announced length at
  // once, a chunked or close-delimited body as soon as it passes the cap, so no
  // more than MaxBody bytes ever reach the caller.
  int64_t MaxBody = httpdefaults::kMaxBodyBytes;
  TSSLIOHandler* IOHandler = nullptr;  // required for https URLs

  std::function<void(const std::string&)> OnStatus;  // "Connected." ...
  std::function<void(int64_t expected)> OnWorkBegin;  // expected: Content-Length or 0
  std::function<void(int64_t soFar)> OnWork;
  std::function<void()> OnWorkEnd;

  // GET; the 2xx body as bytes received.
  std::string GetText(const std::string& url);
  // GET; streams the body into out with the work hooks.
  void GetToStream(const std::string& url, std::ostream& out);
  // POST of a multipart form with one file field; the 2xx body.
  std::string PostFile(const std::string& url, const std::string& field, const std::string& path,
                       const std::string& contentType);

  // Aborts the running operation: safe from a work hook or another thread.
  // The operation then raises EHttpError.
  void Disconnect();
  bool Connected() const;

 private:
  struct TUpload;
  void Request(const std::string& method, const std::string& url, const TUpload* upload,
               const std::function<void(const char*, std::size_t)>& sink);
  void Status(const std::string& text);

  std::atomic<bool> aborted_{false};
  std::atomic<bool> connected_{false};
};
