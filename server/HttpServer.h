// A small hardened HTTP/1.1 server (plain and TLS listeners) on Boost.Beast
// and Asio: a few I/O threads serve every connection asynchronously, so held
// or idle connections cost a socket and a timer, never a thread.
//
// Bounds: a request head must arrive within HeadTimeout (from the accept, the
// TLS handshake included); a kept-alive connection must send its next head
// within IdleTimeout; at most kMaxHeaderLines header lines, none longer than
// kMaxLineBytes, the head at most kMaxHeadBytes (else 431 or 400 and the
// connection is closed). A body is read only for routes that accept one, up to
// their limit; whenever an answer goes out before the whole body was read the
// connection is closed, so body bytes are never taken for a request.
//
// Uploads (requests with a body) in flight are capped as a whole and per
// client address, and a body must arrive whole within BodyTimeout; beyond a
// cap the answer is 503. Requests whose route says so are answered on a
// bounded worker pool apart from the I/O threads; when its queue is full the
// answer is 503.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace updsrv {

constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxLineBytes = 8 * 1024;
constexpr size_t kMaxHeadBytes = 64 * 1024;

struct THttpRequest {
  std::string Method;
  std::string Target;  // as sent
  std::string Path;    // percent-decoded, without the query
  unsigned Version = 11;
  std::vector<std::pair<std::string, std::string>> Fields;
  std::string Body;
  std::string RemoteAddr;
  bool Tls = false;

  // The first field of that name (ASCII case ignored), empty when none.
  std::string Header(const std::string& name) const;
};

// A file answer: streamed from the descriptor (HEAD and single byte ranges
// work); the descriptor is closed when the last holder lets go.
struct TFileBody {
  int Fd = -1;
  uint64_t Size = 0;
  ~TFileBody();
};

struct THttpResponse {
  int Status = 200;
  std::string ContentType;
  std::string Body;
  std::shared_ptr<TFileBody> File;  // when set, Body is ignored
  unsigned RetryAfter = 0;          // seconds; sends Retry-After when set
};

struct TAccessRecord {
  std::string RemoteAddr;
  std::string RequestLine;  // "-" when no request line was read
  int Status = 0;
  uint64_t Bytes = 0;       // body bytes sent
};

struct THttpServerOptions {
  unsigned Threads = 2;
  std::chrono::milliseconds HeadTimeout{10000};
  std::chrono::milliseconds IdleTimeout{2000};
  std::chrono::milliseconds IoTimeout{20000};    // a body read or answer write that stalls
  std::chrono::milliseconds BodyTimeout{60000};  // a whole request body, from its head
  unsigned MaxUploads = 256;                     // requests with a body in flight, all clients
  unsigned MaxUploadsPerClient = 8;              // the same for one client address; 0: no cap
  unsigned WorkerThreads = 2;                    // the pool for routes that are offloaded
  unsigned WorkerQueue = 64;                     // requests waiting for a worker; beyond it 503
  // How long a stop waits for requests in flight, package downloads
  // included; what is still open then is cut.
  std::chrono::milliseconds Grace{60000};
};

struct THttpRoutes {
  // The answer to a request (its body read when BodyLimit allowed one).
  std::function<void(const THttpRequest&, THttpResponse&)> Handle;
  // How many body bytes the route of this head accepts; 0: none (a body is
  // then left unread and the connection closed after the answer).
  std::function<uint64_t(const THttpRequest&)> BodyLimit;
  // The answer when a body is over its route's limit (the connection is
  // closed after it).
  std::function<void(const THttpRequest&, THttpResponse&)> TooLarge;
  // True when Handle for this request is work for the worker pool (CPU
  // bound: the I/O threads must stay free for every other connection).
  std::function<bool(const THttpRequest&)> Offload;
  std::function<void(const TAccessRecord&)> Log;
};

class TListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class THttpServer {
 public:
  THttpServer(THttpServerOptions options, THttpRoutes routes);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds a listener (without SO_REUSEPORT: a busy address is an error),
  // HTTPS when tls. Returns the bound port. Throws TListenError
  // "cannot listen on HOST:PORT: why".
  int Listen(const std::string& host, int port, bool tls);
  // The server context of every HTTPS listener; before Start().
  void UseTls(SSL_CTX* tls);
  // Starts the I/O threads.
  void Start();
  // Lame duck: every answer closes its connection (a balancer's kept-alive
  // connections move to other instances); the listeners stay open.
  void SetDraining(bool draining);
  // Stops accepting (connections already in the listen queue are taken and
  // get their one request), closes idle connections, lets requests in flight
  // finish (downloads included) for up to Grace, then ends the threads.
  // Returns how many connections were still open and cut at the end.
  size_t Stop();

  struct Impl;  // the sessions reach the server state through it

 private:
  std::unique_ptr<Impl> impl_;
};

// "10/Oct/2000:13:55:36 +0000" style Common Log Format line.
std::string CommonLogLine(const TAccessRecord& record);

}  // namespace updsrv
