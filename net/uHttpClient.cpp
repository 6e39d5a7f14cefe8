#include "net/uHttpClient.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "net/uOpenSsl.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <exception>
#include <fstream>
#include <vector>

#include "net/uHttpWire.h"
#include "net/uResolve.h"
#include "net/uSocket.h"

namespace httpdefaults {
const char* const kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
const char* const kAccept = "text/html, */*";
const char* const kAcceptEncoding = "identity";
const char* const kCipherList = "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP";
const char* const kRootCertError = "Could not load root certificate.";
}  // namespace httpdefaults

const char* HttpErrorKindName(THttpErrorKind kind) {
  switch (kind) {
    case THttpErrorKind::Resolve: return "resolve";
    case THttpErrorKind::Connect: return "connect";
    case THttpErrorKind::Tls: return "tls";
    case THttpErrorKind::Timeout: return "timeout";
    case THttpErrorKind::Status: return "status";
    case THttpErrorKind::Malformed: return "malformed";
    case THttpErrorKind::TooLarge: return "too-large";
    case THttpErrorKind::LocalFile: return "local-file";
    case THttpErrorKind::Aborted: return "aborted";
    case THttpErrorKind::Url: return "url";
  }
  return "unknown";
}

std::string TimeoutText(unsigned timeoutMs) {
  std::string span;
  if (timeoutMs >= 1000 && timeoutMs % 1000 == 0)
    span = std::to_string(timeoutMs / 1000) + (timeoutMs == 1000 ? " second" : " seconds");
  else
    span = std::to_string(timeoutMs) + (timeoutMs == 1 ? " millisecond" : " milliseconds");
  return "The connection timed out after " + span + ".";
}

std::string DeadlineText(unsigned deadlineMs) {
  std::string span;
  if (deadlineMs >= 60000 && deadlineMs % 60000 == 0)
    span = std::to_string(deadlineMs / 60000) + (deadlineMs == 60000 ? " minute" : " minutes");
  else if (deadlineMs >= 1000 && deadlineMs % 1000 == 0)
    span = std::to_string(deadlineMs / 1000) + (deadlineMs == 1000 ? " second" : " seconds");
  else
    span = std::to_string(deadlineMs) + (deadlineMs == 1 ? " millisecond" : " milliseconds");
  return "The server did not finish within " + span + ".";
}

namespace {

std::string ByteCountText(int64_t bytes) {
  if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes) + " bytes";
}

[[noreturn]] void ThrowTooLarge(int64_t cap) {
  throw EHttpError(THttpErrorKind::TooLarge,
                   "The server's answer is larger than " + ByteCountText(cap) + ".");
}

// Blocking waits are cut into slices so that an abort from another thread
// is noticed promptly.
constexpr int kPollSliceMs = 200;
constexpr std::size_t kPlainReadPiece = 64 * 1024;
constexpr std::size_t kUploadBlock = 64 * 1024;
constexpr const char* kAbortedText = "The transfer was stopped.";

std::string ResolveText(int rc) {
  std::string text = gai_strerror(rc);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

std::string OpenSslErrors() {
  std::string text;
  while (unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text.empty() ? std::string("unknown error") : text;
}

// The platform's text for a socket error, starting lower case so it reads
// inside a sentence ("connection refused").
std::string ErrnoText(int err) { return kvnet::SocketErrorText(err); }

[[noreturn]] void ThrowTls(const std::string& detail) {
  throw EHttpError(THttpErrorKind::Tls, "The secure connection failed: " + detail + ".");
}

// A socket BIO that sends with MSG_NOSIGNAL: a peer that vanishes must give
// an error, not a SIGPIPE that ends the program.
int BioWrite(BIO* bio, const char* data, int len) {
  const auto fd = static_cast<kvnet::TSocket>(BIO_get_fd(bio, nullptr));
  BIO_clear_retry_flags(bio);
  const long n = kvnet::SendSome(fd, data, static_cast<std::size_t>(len));
  if (n < 0) {
    const int e = kvnet::LastSocketError();
    if (kvnet::WouldBlock(e) || kvnet::Interrupted(e)) BIO_set_retry_write(bio);
  }
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int len) {
  const auto fd = static_cast<kvnet::TSocket>(BIO_get_fd(bio, nullptr));
  BIO_clear_retry_flags(bio);
  const long n = kvnet::ReceiveSome(fd, data, static_cast<std::size_t>(len));
  if (n < 0) {
    const int e = kvnet::LastSocketError();
    if (kvnet::WouldBlock(e) || kvnet::Interrupted(e)) BIO_set_retry_read(bio);
  }
  return static_cast<int>(n);
}

int BioPuts(BIO* bio, const char* text) { return BioWrite(bio, text, static_cast<int>(std::strlen(text))); }

BIO_METHOD* NoSignalSocketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                 "korvane socket");
    const BIO_METHOD* base = BIO_s_socket();
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_puts(m, BioPuts);
    BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(base));
    BIO_meth_set_create(m, BIO_meth_get_create(base));
    BIO_meth_set_destroy(m, BIO_meth_get_destroy(base));
    return m;
  }();
  return method;
}

// Sets the wanted cipher list; entries the library no longer knows (or that
// leave nothing selectable) are dropped one by one instead of failing.
void ApplyCipherList(SSL_CTX* ctx, const std::string& list) {
  if (SSL_CTX_set_cipher_list(ctx, list.c_str()) == 1) return;
  ERR_clear_error();
  std::string accepted;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    const std::string item = list.substr(start, colon - start);
    start = colon + 1;
    if (item.empty()) continue;
    const std::string candidate = accepted.empty() ? item : accepted + ":" + item;
    if (SSL_CTX_set_cipher_list(ctx, candidate.c_str()) == 1) accepted = candidate;
    ERR_clear_error();
  }
  if (accepted.empty() || SSL_CTX_set_cipher_list(ctx, accepted.c_str()) != 1) {
    ERR_clear_error();
    SSL_CTX_set_cipher_list(ctx, "DEFAULT");
  }
  ERR_clear_error();
}

bool IsIpLiteral(const std::string& host) {
  in6_addr a6{};
  in_addr a4{};
  return inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

struct TInfoContext {
  TSSLIOHandler* handler = nullptr;
  std::exception_ptr error;
};

void InfoCallback(const SSL* ssl, int /*where*/, int /*ret*/) {
  auto* ctx = static_cast<TInfoContext*>(SSL_get_app_data(ssl));
  if (!ctx || !ctx->handler || !ctx->handler->OnStatusInfo || ctx->error) return;
  try {
    ctx->handler->OnStatusInfo(std::string("SSL status: \"") + SSL_state_string_long(ssl) + "\"");
  } catch (...) {
    ctx->error = std::current_exception();  // rethrown once OpenSSL has returned
  }
}

}  // namespace

// One connection of one operation: a non-blocking socket, optionally TLS,
// every wait bounded by the read time-out and watching the abort flag.
class THttpConnection : public IHttpSource {
 public:
  THttpConnection(unsigned readTimeoutMs, const std::atomic<bool>& aborted, unsigned deadlineMs = 0)
      : timeoutMs_(readTimeoutMs),
        aborted_(aborted),
        deadlineMs_(deadlineMs),
        deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs)) {}
  ~THttpConnection() override { Close(); }

  void PrepareTls(TSSLIOHandler& handler) {
    info_.handler = &handler;
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) ThrowTls("no SSL context: " + OpenSslErrors());
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
    // Servers that close without close_notify end a close-delimited body.
    SSL_CTX_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    ApplyCipherList(ctx_, handler.CipherList);
    if (!handler.RootCertFile.empty()) {
      if (SSL_CTX_load_verify_locations(ctx_, handler.RootCertFile.c_str(), nullptr) != 1) {
        ERR_clear_error();
        throw EHttpError(THttpErrorKind::Tls, httpdefaults::kRootCertError);
      }
    }
    SSL_CTX_set_info_callback(ctx_, InfoCallback);
  }

  void Connect(const THttpUrl& url, const std::function<void(const std::string&)>& socketStatus) {
    auto status = [&](const std::string& text) {
      if (socketStatus) socketStatus(text);
    };
    status("Resolving hostname " + url.Host + ".");
    if (!kvnet::StartSockets())
      throw EHttpError(THttpErrorKind::Connect,
                       "Could not connect to " + url.Host + ": " + ErrnoText(kvnet::LastSocketError()) + ".");
    const std::string port = std::to_string(url.Port);
    kvnet::TAddressList list(nullptr, freeaddrinfo);
    // Cancel and the deadline hold during the lookup too.
    const int rc = kvnet::ResolveStream(url.Host, port, list, [this] {
      CheckAborted();
      CheckDeadline();
    });
    if (rc != 0 || !list)
      throw EHttpError(THttpErrorKind::Resolve, "Could not find the server \"" + url.Host + "\": " +
                                                    ResolveText(rc) + ".");

    std::string lastError = "no address";
    for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
      char text[INET6_ADDRSTRLEN] = "?";
      if (ai->ai_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr, text, sizeof text);
      else if (ai->ai_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr, text, sizeof text);
      status(std::string("Connecting to ") + text + ".");
      const kvnet::TSocket fd = kvnet::OpenStreamSocket(ai->ai_family);
      if (fd == kvnet::kNoSocket) {
        lastError = ErrnoText(kvnet::LastSocketError());
        continue;
      }
      fd_ = fd;
      if (kvnet::StartConnect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
        const int e = kvnet::LastSocketError();
        if (!kvnet::ConnectPending(e)) {
          lastError = ErrnoText(e);
          CloseSocket();
          continue;
        }
        Wait(kvnet::kWaitWrite, -1, "Connect");  // no connect time-out of our own
        const int err = kvnet::PendingConnectError(fd);
        if (err != 0) {
          lastError = ErrnoText(err);
          CloseSocket();
          continue;
        }
      }
      kvnet::SetNoDelay(fd);
      if (ctx_) Handshake(url);
      return;
    }
    throw EHttpError(THttpErrorKind::Connect,
                     "Could not connect to " + url.Host + " port " + port + ": " + lastError + ".");
  }

  void SendAll(const char* data, std::size_t size) {
    while (size > 0) {
      CheckAborted();
      const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
      if (ssl_) {
        ERR_clear_error();
        const int n = SSL_write(ssl_, data, chunk);
        RethrowInfo();
        if (n > 0) {
          data += n;
          size -= static_cast<std::size_t>(n);
          continue;
        }
        WaitSsl(SSL_get_error(ssl_, n), "Write");
      } else {
        const long n = kvnet::SendSome(fd_, data, static_cast<std::size_t>(chunk));
        const int e = n < 0 ? kvnet::LastSocketError() : 0;
        if (n > 0) {
          data += n;
          size -= static_cast<std::size_t>(n);
        } else if (n < 0 && kvnet::WouldBlock(e)) {
          Wait(kvnet::kWaitWrite, TimeoutArg(), "Write");
        } else if (n < 0 && !kvnet::Interrupted(e)) {
          throw EHttpError(THttpErrorKind::Connect,
                           "The connection failed while sending: " + ErrnoText(e) + ".");
        }
      }
    }
  }

  std::size_t Receive(char* buffer, std::size_t size) override {
    const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    for (;;) {
      CheckAborted();
      CheckDeadline();  // a peer that trickles never waits out the read time-out
      if (ssl_) {
        ERR_clear_error();
        const int n = SSL_read(ssl_, buffer, chunk);
        RethrowInfo();
        if (n > 0) return FillMoreTls(buffer, static_cast<std::size_t>(n), size);
        const int err = SSL_get_error(ssl_, n);
        if (err == SSL_ERROR_ZERO_RETURN) return 0;
        if (err == SSL_ERROR_SYSCALL && n == 0) return 0;
        WaitSsl(err, "Read");
      } else {
        const long n = kvnet::ReceiveSome(fd_, buffer, std::min<std::size_t>(size, kPlainReadPiece));
        if (n > 0) return FillMorePlain(buffer, static_cast<std::size_t>(n), size);
        if (n == 0) return 0;
        const int e = kvnet::LastSocketError();
        if (kvnet::WouldBlock(e))
          Wait(kvnet::kWaitRead, TimeoutArg(), "Read");
        else if (!kvnet::Interrupted(e))
          throw EHttpError(THttpErrorKind::Connect,
                           "The connection failed while reading: " + ErrnoText(e) + ".");
      }
    }
  }

  void Close() {
    if (ssl_) {
      ERR_clear_error();
      SSL_shutdown(ssl_);  // a best-effort close_notify, never waited for
      SSL_free(ssl_);
      ssl_ = nullptr;
      ERR_clear_error();
    }
    CloseSocket();
    if (ctx_) {
      SSL_CTX_free(ctx_);
      ctx_ = nullptr;
    }
  }

 private:
  void CloseSocket() {
    kvnet::CloseSocket(fd_);
    fd_ = kvnet::kNoSocket;
  }

  int TimeoutArg() const { return static_cast<int>(std::min<unsigned>(timeoutMs_, INT_MAX)); }

  void CheckAborted() const {
    if (aborted_) throw EHttpError(THttpErrorKind::Aborted, kAbortedText);
  }

  void CheckDeadline() const {
    if (deadlineMs_ != 0 && std::chrono::steady_clock::now() >= deadline_)
      throw EHttpError(THttpErrorKind::Timeout, DeadlineText(deadlineMs_));
  }

  void RethrowInfo() {
    if (info_.error) {
      std::exception_ptr e = info_.error;
      info_.error = nullptr;
      std::rethrow_exception(e);
    }
  }

  // Waits until the socket is ready; timeoutMs < 0 waits without limit.
  void Wait(short events, int timeoutMs, const char* what) {
    if (timeoutMs == 0) timeoutMs = -1;  // a read time-out of 0 means none, not an instant failure
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
      CheckAborted();
      CheckDeadline();
      int slice = kPollSliceMs;
      if (timeoutMs >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) throw EHttpError(THttpErrorKind::Timeout, TimeoutText(timeoutMs_));
        slice = static_cast<int>(std::min<long long>(left, kPollSliceMs));
      }
      if (deadlineMs_ != 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - clock::now()).count();
        slice = static_cast<int>(std::max<long long>(1, std::min<long long>(left, slice)));
      }
      const int rc = kvnet::WaitSocket(fd_, events, slice);
      if (rc > 0) return;  // errors and hang-ups show in the following call
      const int e = rc < 0 ? kvnet::LastSocketError() : 0;
      if (rc < 0 && !kvnet::Interrupted(e))
        throw EHttpError(THttpErrorKind::Connect,
                         std::string("The connection failed: ") + ErrnoText(e) + ".");
    }
  }

  void WaitSsl(int err, const char* what) {
    if (err == SSL_ERROR_WANT_READ) {
      Wait(kvnet::kWaitRead, TimeoutArg(), what);
    } else if (err == SSL_ERROR_WANT_WRITE) {
      Wait(kvnet::kWaitWrite, TimeoutArg(), what);
    } else if (err == SSL_ERROR_SYSCALL) {
      const int e = kvnet::LastSocketError();
      ERR_clear_error();
      throw EHttpError(THttpErrorKind::Connect, std::string("The secure connection broke: ") +
                                                    (e ? ErrnoText(e) : "the server closed it") + ".");
    } else {
      ThrowTls(OpenSslErrors());
    }
  }

  // After one TLS record, takes what else is already readable so large
  // downloads are handed on in big blocks.
  // The same for a plain socket, in pieces: the kernel's copy of a huge read
  // holds the socket lock while the sender waits, which halves loopback speed.
  std::size_t FillMorePlain(char* buffer, std::size_t have, std::size_t size) {
    while (have < size) {
      const long n =
          kvnet::ReceiveSome(fd_, buffer + have, std::min<std::size_t>(size - have, kPlainReadPiece));
      if (n <= 0) break;  // nothing more ready now; an error or the end shows on the next read
      have += static_cast<std::size_t>(n);
    }
    return have;
  }

  std::size_t FillMoreTls(char* buffer, std::size_t have, std::size_t size) {
    while (have < size) {
      const int chunk = static_cast<int>(std::min<std::size_t>(size - have, INT_MAX));
      ERR_clear_error();
      const int n = SSL_read(ssl_, buffer + have, chunk);
      RethrowInfo();
      if (n <= 0) {
        ERR_clear_error();  // whatever it was shows again on the next read
        break;
      }
      have += static_cast<std::size_t>(n);
    }
    return have;
  }

  void Handshake(const THttpUrl& url) {
    ssl_ = SSL_new(ctx_);
    if (!ssl_) ThrowTls("no SSL connection: " + OpenSslErrors());
    SSL_set_app_data(ssl_, &info_);
    BIO* bio = BIO_new(NoSignalSocketMethod());
    if (!bio) ThrowTls("no SSL socket: " + OpenSslErrors());
    BIO_set_fd(bio, static_cast<int>(fd_), BIO_NOCLOSE);
    SSL_set_bio(ssl_, bio, bio);
    if (!IsIpLiteral(url.Host)) SSL_set_tlsext_host_name(ssl_, url.Host.c_str());
    for (;;) {
      CheckAborted();
      ERR_clear_error();
      const int rc = SSL_connect(ssl_);
      RethrowInfo();
      if (rc == 1) return;
      const int err = SSL_get_error(ssl_, rc);
      if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
        WaitSsl(err, "SSL handshake");
        continue;
      }
      if (err == SSL_ERROR_SYSCALL) {
        const int e = kvnet::LastSocketError();
        ERR_clear_error();
        ThrowTls(std::string("the handshake broke off: ") + (e ? ErrnoText(e) : "the server closed the connection"));
      }
      ThrowTls("the handshake failed: " + OpenSslErrors());
    }
  }

  unsigned timeoutMs_;
  const std::atomic<bool>& aborted_;
  unsigned deadlineMs_;  // 0: none
  std::chrono::steady_clock::time_point deadline_;
  kvnet::TSocket fd_ = kvnet::kNoSocket;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  TInfoContext info_;
};

struct THttpClient::TUpload {
  std::string ContentType;
  std::string Prefix;
  std::string Suffix;
  std::string Path;
  int64_t FileSize = 0;
};

THttpClient::THttpClient() = default;
THttpClient::~THttpClient() = default;

void THttpClient::Status(const std::string& text) {
  if (OnStatus) OnStatus(text);
}

void THttpClient::Disconnect() { aborted_ = true; }

bool THttpClient::Connected() const { return connected_ && !aborted_; }

void THttpClient::Request(const std::string& method, const std::string& url, const TUpload* upload,
                          const std::function<void(const char*, std::size_t)>& sink) {
  aborted_ = false;
  const THttpUrl u = ParseHttpUrl(url);
  if (u.Secure() && !IOHandler) ThrowTls("no SSL IO handler is set for " + url);

  std::ifstream file;
  int64_t contentLength = -1;
  if (upload) {
    file.open(upload->Path, std::ios::binary);
    if (!file) throw EHttpError(THttpErrorKind::LocalFile, "Cannot open the file \"" + upload->Path + "\".");
    contentLength = static_cast<int64_t>(upload->Prefix.size() + upload->Suffix.size()) + upload->FileSize;
  }

  THttpConnection conn(ReadTimeout, aborted_, Deadline);
  if (u.Secure()) conn.PrepareTls(*IOHandler);  // the root certificate fails here, before any traffic
  std::function<void(const std::string&)> socketStatus;
  if (IOHandler) socketStatus = IOHandler->OnStatus;
  conn.Connect(u, socketStatus);
  connected_ = true;

  auto disconnect = [&] {
    if (!connected_) return;
    connected_ = false;
    Status("Disconnecting.");
    conn.Close();
    Status("Disconnected.");
  };

  try {
    Status("Connected.");
    std::string head = BuildRequestHead(method, u, upload ? upload->ContentType : std::string(),
                                        contentLength);
    if (upload) {
      head += upload->Prefix;
      conn.SendAll(head.data(), head.size());
      std::vector<char> block(kUploadBlock);
      int64_t left = upload->FileSize;
      while (left > 0) {
        file.read(block.data(), static_cast<std::streamsize>(std::min<int64_t>(left, kUploadBlock)));
        const std::streamsize got = file.gcount();
        if (got <= 0)
          throw EHttpError(THttpErrorKind::LocalFile, "The file \"" + upload->Path + "\" changed while it was sent.");
        conn.SendAll(block.data(), static_cast<std::size_t>(got));
        left -= got;
      }
      conn.SendAll(upload->Suffix.data(), upload->Suffix.size());
    } else {
      conn.SendAll(head.data(), head.size());
    }

    THttpResponseReader reader(conn);
    const THttpResponseHead response = reader.ReadHead();
    if (response.StatusCode < 200 || response.StatusCode > 299)
      throw EHttpError(THttpErrorKind::Status, "The server answered \"" + response.StatusLine + "\".",
                       response.StatusCode);
    const TBodyPlan plan = PlanBody(response);
    if (plan.Framing == TBodyFraming::Length && plan.Length > MaxBody) ThrowTooLarge(MaxBody);

    int64_t soFar = 0;
    TBodyEvents events;
    events.Begin = [this](int64_t expected) {
      if (OnWorkBegin) OnWorkBegin(expected);
    };
    events.ChunkStarted = [this] { Status("Chunk Started"); };
    events.Data = [&](const char* data, std::size_t n) {
      if (static_cast<int64_t>(n) > MaxBody - soFar) ThrowTooLarge(MaxBody);
      sink(data, n);
      soFar += static_cast<int64_t>(n);
      if (OnWork) OnWork(soFar);
      if (aborted_) throw EHttpError(THttpErrorKind::Aborted, kAbortedText);
    };
    reader.ReadBody(plan, events);
    if (OnWorkEnd) OnWorkEnd();
  } catch (...) {
    try {
      disconnect();
    } catch (...) {
      // the first failure is the one to report
    }
    throw;
  }
  disconnect();
}

std::string THttpClient::GetText(const std::string& url) {
  std::string text;
  Request("GET", url, nullptr, [&text](const char* data, std::size_t n) { text.append(data, n); });
  return text;
}

void THttpClient::GetToStream(const std::string& url, std::ostream& out) {
  Request("GET", url, nullptr, [&out](const char* data, std::size_t n) {
    out.write(data, static_cast<std::streamsize>(n));
    if (!out) throw EHttpError(THttpErrorKind::LocalFile, "The download could not be written to its file.");
  });
}

std::string THttpClient::PostFile(const std::string& url, const std::string& field,
                                  const std::string& path, const std::string& contentType) {
  TUpload upload;
  upload.Path = path;
  {
    std::ifstream probe(path, std::ios::binary | std::ios::ate);
    if (!probe) throw EHttpError(THttpErrorKind::LocalFile, "Cannot open the file \"" + path + "\".");
    upload.FileSize = static_cast<int64_t>(probe.tellg());
    if (upload.FileSize < 0) throw EHttpError(THttpErrorKind::LocalFile, "Cannot read the file \"" + path + "\".");
  }
  const std::string boundary = NewMultipartBoundary();
  upload.ContentType = MultipartContentType(boundary);
  upload.Prefix = MultipartPrefix(boundary, field, path, contentType);
  upload.Suffix = MultipartSuffix(boundary);
  std::string text;
  Request("POST", url, &upload, [&text](const char* data, std::size_t n) { text.append(data, n); });
  return text;
}
