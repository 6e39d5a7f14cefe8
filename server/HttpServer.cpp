#include "server/HttpServer.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace updsrv {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

TFileBody::~TFileBody() {
  if (Fd >= 0) ::close(Fd);
}

std::string THttpRequest::Header(const std::string& name) const {
  for (const auto& f : Fields)
    if (beast::iequals(f.first, name)) return f.second;
  return "";
}

std::string CommonLogLine(const TAccessRecord& r) {
  char when[64];
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", &tm);
  std::string line = (r.RemoteAddr.empty() ? "-" : r.RemoteAddr) + " - - [" + when + "] \"";
  // The request line as sent, with quotes and control bytes escaped so that
  // a hostile target cannot forge log lines.
  for (unsigned char c : r.RequestLine) {
    if (c == '"' || c == '\\' || c < 0x20 || c >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      line += esc;
    } else {
      line += static_cast<char>(c);
    }
  }
  line += "\" " + std::to_string(r.Status) + " " + (r.Bytes ? std::to_string(r.Bytes) : "-");
  return line;
}

namespace {

std::string PercentDecode(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Reason(int status) {
  auto text = http::obsolete_reason(http::int_to_status(static_cast<unsigned>(status)));
  return std::string(text.data(), text.size());
}

// "bytes=A-B", "bytes=A-", "bytes=-N": one range within size. False when the
// header is absent or not a single range (the whole file is sent then);
// unsatisfiable is set for a range that starts past the end.
bool ParseRange(const std::string& value, uint64_t size, uint64_t& first, uint64_t& last,
                bool& unsatisfiable) {
  unsatisfiable = false;
  if (value.rfind("bytes=", 0) != 0) return false;
  std::string byteRange = value.substr(6);
  if (byteRange.find(',') != std::string::npos) return false;
  size_t dash = byteRange.find('-');
  if (dash == std::string::npos) return false;
  auto number = [](const std::string& t, uint64_t& v) {
    if (t.empty() || t.size() > 19) return false;
    v = 0;
    for (char c : t) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
  };
  std::string a = byteRange.substr(0, dash), b = byteRange.substr(dash + 1);
  uint64_t x = 0, y = 0;
  if (a.empty()) {
    if (!number(b, y) || y == 0) return false;
    if (size == 0) {
      unsatisfiable = true;
      return true;
    }
    first = y >= size ? 0 : size - y;
    last = size - 1;
    return true;
  }
  if (!number(a, x)) return false;
  if (!b.empty() && (!number(b, y) || y < x)) return false;
  if (x >= size) {
    unsatisfiable = true;
    return true;
  }
  first = x;
  last = b.empty() || y >= size ? size - 1 : y;
  return true;
}

// A worker thread yields the processor to the I/O threads: on a busy machine
// a flood of costly checks then slows the checks, not every other answer.
void LowerPriority() {
  thread_local bool lowered = false;
  if (lowered) return;
  lowered = true;
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
}

class SessionBase {
 public:
  virtual ~SessionBase() = default;
  // Called on the session's strand when the server stops.
  virtual void OnStop() = 0;
};

}  // namespace

struct THttpServer::Impl {
  THttpServerOptions options;
  THttpRoutes routes;
  std::atomic<bool> stopping{false};
  std::atomic<bool> draining{false};
  // Declared before the io_context: sessions still queued in it at its
  // destruction unregister themselves here.
  std::mutex sessionsMutex;
  std::condition_variable sessionsGone;
  // Live sessions with the strand each runs on, to reach them at the stop.
  std::list<std::pair<std::weak_ptr<SessionBase>, net::any_io_executor>> sessions;

  net::io_context ioc;
  std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
  struct Listener {
    std::unique_ptr<tcp::acceptor> acceptor;
    std::unique_ptr<net::ssl::context> tls;
    std::unique_ptr<net::steady_timer> retry;
    bool wantsTls = false;
  };
  std::list<Listener> listeners;
  std::vector<std::thread> threads;
  // After the io_context: its queued jobs hold sessions, which must go
  // before the io_context does.
  std::optional<net::thread_pool> pool;
  std::atomic<size_t> poolJobs{0};  // queued or running

  std::mutex uploadsMutex;
  size_t uploads = 0;
  std::unordered_map<std::string, unsigned> uploadsByClient;

  explicit Impl(THttpServerOptions o, THttpRoutes r) : options(std::move(o)), routes(std::move(r)) {}

  void Accept(Listener& l);
  void StartSession(Listener& l, tcp::socket socket);
  void CloseListener(Listener& l);
  // An upload slot for a client address; false when a cap is reached.
  bool TakeUpload(const std::string& client) {
    std::lock_guard<std::mutex> lock(uploadsMutex);
    if (uploads >= options.MaxUploads) return false;
    unsigned& mine = uploadsByClient[client];
    if (options.MaxUploadsPerClient && mine >= options.MaxUploadsPerClient) {
      if (mine == 0) uploadsByClient.erase(client);
      return false;
    }
    ++mine;
    ++uploads;
    return true;
  }
  void ReleaseUpload(const std::string& client) {
    std::lock_guard<std::mutex> lock(uploadsMutex);
    --uploads;
    auto it = uploadsByClient.find(client);
    if (it != uploadsByClient.end() && --it->second == 0) uploadsByClient.erase(it);
  }
  void Log(const TAccessRecord& rec) {
    if (routes.Log) routes.Log(rec);
  }
  std::list<std::pair<std::weak_ptr<SessionBase>, net::any_io_executor>>::iterator Register(
      const std::shared_ptr<SessionBase>& s, net::any_io_executor ex) {
    std::lock_guard<std::mutex> lock(sessionsMutex);
    sessions.emplace_back(s, std::move(ex));
    return std::prev(sessions.end());
  }
  void Unregister(std::list<std::pair<std::weak_ptr<SessionBase>, net::any_io_executor>>::iterator it) {
    std::lock_guard<std::mutex> lock(sessionsMutex);
    sessions.erase(it);
    if (sessions.empty()) sessionsGone.notify_all();
  }
};

namespace {

using Registration = std::list<std::pair<std::weak_ptr<SessionBase>, net::any_io_executor>>::iterator;

template <bool Tls>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Tls>> {
  using Stream = std::conditional_t<Tls, beast::ssl_stream<beast::tcp_stream>, beast::tcp_stream>;

 public:
  Session(THttpServer::Impl& srv, tcp::socket socket, net::ssl::context* tls)
      : srv_(srv), stream_(MakeStream(std::move(socket), tls)), buffer_(kMaxHeadBytes + 4096) {}

  ~Session() override {
    ReleaseUpload();
    if (registered_) srv_.Unregister(reg_);
  }

  void Start() {
    reg_ = srv_.Register(this->shared_from_this(), stream_.get_executor());
    registered_ = true;
    // Everything of a session runs on its strand, the stop's notice included.
    net::dispatch(stream_.get_executor(), [self = this->shared_from_this()] { self->Begin(); });
  }

  void OnStop() override {
    if (stopped_) return;
    stopped_ = true;
    if (busy_) return;
    if (answered_) return Drop();  // idle between requests
    // Accepted but no request yet (taken from the listen queue at the stop,
    // or just connected): it gets a moment for its one request.
    stopWait_.emplace(stream_.get_executor());
    stopWait_->expires_after(kStopHeadWait);
    stopWait_->async_wait([self = this->shared_from_this()](error_code ec) {
      if (!ec && !self->busy_) self->Drop();
    });
  }

 private:
  // How long a connection without a request yet may still send one once the
  // server stops.
  static constexpr std::chrono::milliseconds kStopHeadWait{1000};

  void Begin() {
    error_code ec;
    Lowest().socket().set_option(tcp::no_delay(true), ec);
    auto ep = Lowest().socket().remote_endpoint(ec);
    if (!ec) remote_ = ep.address().to_string();
    // One deadline from the accept: the TLS handshake and the first head.
    Lowest().expires_after(srv_.options.HeadTimeout);
    if constexpr (Tls) {
      stream_.async_handshake(net::ssl::stream_base::server, [self = this->shared_from_this()](error_code e) {
        if (e) return self->Drop();
        self->ReadHead();
      });
    } else {
      ReadHead();
    }
    if (srv_.stopping) OnStop();
  }

  static Stream MakeStream(tcp::socket socket, net::ssl::context* tls) {
    if constexpr (Tls)
      return Stream(beast::tcp_stream(std::move(socket)), *tls);
    else
      return Stream(std::move(socket));
  }

  beast::tcp_stream& Lowest() { return beast::get_lowest_layer(stream_); }

  void Drop() {
    error_code ec;
    Lowest().socket().close(ec);
  }

  void ReadHead() {
    if (answered_ && (stopped_ || srv_.stopping)) return Drop();
    busy_ = false;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeadBytes));
    // Each route's limit is applied once the head is read. (Not boost::none:
    // this Beast compares a Content-Length against an empty limit as larger.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    if (!first_) Lowest().expires_after(srv_.options.IdleTimeout);
    first_ = false;
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = this->shared_from_this()](error_code ec, size_t) { self->OnHead(ec); });
  }

  void Refuse(int status, const char* text) {
    res_ = THttpResponse{};
    res_.Status = status;
    res_.ContentType = "text/plain";
    res_.Body = text;
    close_ = true;
    Send();
  }

  void OnHead(error_code ec) {
    busy_ = true;
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow)
      return Refuse(431, "Request header fields too large\n");
    if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
        ec == net::error::operation_aborted || ec == net::error::eof ||
        ec == net::ssl::error::stream_truncated || !Lowest().socket().is_open())
      return Drop();
    if (ec) {
      if (ec.category() != make_error_code(http::error::bad_target).category()) return Drop();
      return Refuse(400, "Bad request\n");  // a malformed head
    }
    auto& msg = parser_->get();
    req_ = THttpRequest{};
    req_.Method = std::string(msg.method_string());
    req_.Target = std::string(msg.target());
    req_.Version = msg.version();
    req_.RemoteAddr = remote_;
    req_.Tls = Tls;
    requestLine_ = req_.Method + " " + req_.Target + " HTTP/" + std::to_string(req_.Version / 10) + "." +
                   std::to_string(req_.Version % 10);
    if (requestLine_.size() > kMaxLineBytes) return Refuse(400, "Request line too long\n");
    size_t lines = 0;
    for (const auto& f : msg) {
      if (++lines > kMaxHeaderLines) return Refuse(431, "Too many header fields\n");
      if (f.name_string().size() + 2 + f.value().size() > kMaxLineBytes)
        return Refuse(431, "Header field too large\n");
      req_.Fields.emplace_back(std::string(f.name_string()), std::string(f.value()));
    }
    std::string path = req_.Target.substr(0, req_.Target.find('?'));
    req_.Path = PercentDecode(path);
    keepAlive_ = msg.keep_alive();

    if (parser_->is_done()) return Answer();
    const uint64_t limit = srv_.routes.BodyLimit ? srv_.routes.BodyLimit(req_) : 0;
    if (limit == 0) {
      close_ = true;  // the body stays unread: this connection ends after the answer
      return Answer();
    }
    if (auto length = parser_->content_length(); length && *length > limit) return TooLarge();
    if (!srv_.TakeUpload(remote_)) {
      close_ = true;  // the body stays unread
      return Busy();
    }
    uploadSlot_ = true;
    bodyDeadline_ = std::chrono::steady_clock::now() + srv_.options.BodyTimeout;
    parser_->body_limit(limit);
    if (beast::iequals(req_.Header("Expect"), "100-continue")) {
      head_ = "HTTP/1.1 100 Continue\r\n\r\n";
      Lowest().expires_after(srv_.options.IoTimeout);
      net::async_write(stream_, net::buffer(head_), [self = this->shared_from_this()](error_code e, size_t) {
        if (e) return self->Drop();
        self->ReadBody();
      });
      return;
    }
    ReadBody();
  }

  void TooLarge() {
    res_ = THttpResponse{};
    if (srv_.routes.TooLarge) {
      srv_.routes.TooLarge(req_, res_);
    } else {
      res_.Status = 413;
      res_.ContentType = "text/plain";
      res_.Body = "Payload too large\n";
    }
    close_ = true;
    Send();
  }

  void ReleaseUpload() {
    if (uploadSlot_) srv_.ReleaseUpload(remote_);
    uploadSlot_ = false;
  }

  void Busy() {
    res_ = THttpResponse{};
    res_.Status = 503;
    res_.ContentType = "text/plain";
    res_.Body = "The server is busy; try again later.\n";
    res_.RetryAfter = 5;
    Send();
  }

  void ReadBody() {
    // Each read must make progress within IoTimeout, and the whole body
    // arrive by its deadline: a body trickled a byte at a time ends too.
    Lowest().expires_at(std::min(std::chrono::steady_clock::now() + srv_.options.IoTimeout, bodyDeadline_));
    http::async_read_some(stream_, buffer_, *parser_,
                          [self = this->shared_from_this()](error_code ec, size_t) { self->OnBody(ec); });
  }

  void OnBody(error_code ec) {
    if (ec == http::error::body_limit) return TooLarge();
    if (ec == beast::error::timeout || ec == net::error::operation_aborted || !Lowest().socket().is_open())
      return Drop();
    if (ec == http::error::end_of_stream || ec == net::error::eof || ec == net::ssl::error::stream_truncated)
      return Drop();  // the client went away mid-body
    if (ec && ec.category() != make_error_code(http::error::bad_target).category()) return Drop();
    if (ec) return Refuse(400, "Bad request body\n");
    if (!parser_->is_done()) return ReadBody();
    req_.Body = std::move(parser_->get().body());
    Answer();
  }

  void Answer() {
    res_ = THttpResponse{};
    if (srv_.routes.Offload && srv_.routes.Offload(req_)) {
      const size_t limit = size_t{srv_.options.WorkerThreads} + srv_.options.WorkerQueue;
      if (srv_.poolJobs.fetch_add(1) >= limit) {
        --srv_.poolJobs;
        ReleaseUpload();
        return Busy();
      }
      // The session waits (no operation pending) while a worker answers;
      // the answer comes back to its strand.
      net::post(*srv_.pool, [self = this->shared_from_this()] {
        LowerPriority();
        THttpResponse res;
        self->Handle(res);
        --self->srv_.poolJobs;
        net::post(self->stream_.get_executor(), [self, res = std::move(res)]() mutable {
          self->res_ = std::move(res);
          self->ReleaseUpload();
          self->Send();
        });
      });
      return;
    }
    Handle(res_);
    ReleaseUpload();
    Send();
  }

  void Handle(THttpResponse& res) {
    try {
      srv_.routes.Handle(req_, res);
    } catch (const std::exception&) {
      res = THttpResponse{};
      res.Status = 500;
      res.ContentType = "text/plain";
      res.Body = "Internal error\n";
    }
    // The body is not needed for the answer: its memory goes now.
    req_.Body.clear();
    req_.Body.shrink_to_fit();
  }

  void Send() {
    if (!keepAlive_ || srv_.stopping || srv_.draining || stopped_) close_ = true;
    const bool head = req_.Method == "HEAD" && !requestLine_.empty();
    int status = res_.Status;
    uint64_t length = res_.Body.size();
    std::string extra;
    fileFirst_ = fileEnd_ = 0;
    if (res_.File) {
      length = res_.File->Size;
      fileEnd_ = res_.File->Size;
      extra += "Accept-Ranges: bytes\r\n";
      uint64_t first = 0, last = 0;
      bool unsatisfiable = false;
      if (status == 200 && ParseRange(req_.Header("Range"), res_.File->Size, first, last, unsatisfiable)) {
        if (unsatisfiable) {
          status = 416;
          extra += "Content-Range: bytes */" + std::to_string(res_.File->Size) + "\r\n";
          res_.File.reset();
          res_.Body.clear();
          length = 0;
        } else {
          status = 206;
          extra += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                   std::to_string(res_.File->Size) + "\r\n";
          fileFirst_ = first;
          fileEnd_ = last + 1;
          length = fileEnd_ - fileFirst_;
        }
      }
    }
    status_ = status;
    head_ = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    if (!res_.ContentType.empty()) head_ += "Content-Type: " + res_.ContentType + "\r\n";
    head_ += "Content-Length: " + std::to_string(length) + "\r\n" + extra;
    if (res_.RetryAfter) head_ += "Retry-After: " + std::to_string(res_.RetryAfter) + "\r\n";
    if (close_) head_ += "Connection: close\r\n";
    head_ += "\r\n";
    if (head) {
      res_.File.reset();
      res_.Body.clear();
    }
    bytes_ = head ? 0 : (res_.File ? 0 : res_.Body.size());
    std::vector<net::const_buffer> out{net::buffer(head_)};
    if (!res_.File && !res_.Body.empty()) out.push_back(net::buffer(res_.Body));
    Lowest().expires_after(srv_.options.IoTimeout);
    net::async_write(stream_, out, [self = this->shared_from_this()](error_code ec, size_t) {
      if (ec) return self->Done(false);
      if (self->res_.File) return self->SendFile();
      self->Done(true);
    });
  }

  void SendFile() {
    // A stop lets a download run on (within the grace period).
    if (fileFirst_ >= fileEnd_) return Done(true);
    chunk_.resize(256 * 1024);
    size_t want = static_cast<size_t>(std::min<uint64_t>(chunk_.size(), fileEnd_ - fileFirst_));
    ssize_t n = ::pread(res_.File->Fd, chunk_.data(), want, static_cast<off_t>(fileFirst_));
    if (n <= 0) return Done(false);
    Lowest().expires_after(srv_.options.IoTimeout);
    net::async_write(stream_, net::buffer(chunk_.data(), static_cast<size_t>(n)),
                     [self = this->shared_from_this()](error_code ec, size_t written) {
                       if (ec) return self->Done(false);
                       self->fileFirst_ += written;
                       self->bytes_ += written;
                       self->SendFile();
                     });
  }

  void Done(bool complete) {
    answered_ = true;
    ReleaseUpload();
    srv_.Log({remote_, requestLine_.empty() ? "-" : requestLine_, status_, bytes_});
    requestLine_.clear();
    res_ = THttpResponse{};
    req_.Body.clear();
    req_.Body.shrink_to_fit();
    if (!complete) return Drop();
    if (close_ || srv_.stopping || stopped_) return Close();
    ReadHead();
  }

  // Ends the connection so that the answer just sent still arrives: TLS
  // close_notify, then our FIN, then whatever the client still sends is read
  // and dropped for a moment (closing with unread bytes would reset the
  // connection and could destroy the answer in the client's buffers).
  void Close() {
    if constexpr (Tls) {
      Lowest().expires_after(std::chrono::milliseconds(500));
      stream_.async_shutdown([self = this->shared_from_this()](error_code) { self->Linger(); });
    } else {
      Linger();
    }
  }

  void Linger() {
    error_code ec;
    if (!Lowest().socket().is_open()) return;
    Lowest().socket().shutdown(tcp::socket::shutdown_send, ec);
    lingerUntil_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    Discard();
  }

  void Discard() {
    if (discarded_ > (16u << 20) || std::chrono::steady_clock::now() >= lingerUntil_) return Drop();
    chunk_.resize(64 * 1024);
    Lowest().expires_at(lingerUntil_);
    Lowest().async_read_some(net::buffer(chunk_), [self = this->shared_from_this()](error_code ec, size_t n) {
      if (ec) return self->Drop();
      self->discarded_ += n;
      self->Discard();
    });
  }

  THttpServer::Impl& srv_;
  Stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  THttpRequest req_;
  THttpResponse res_;
  std::string remote_;
  std::string requestLine_;
  std::string head_;
  std::vector<char> chunk_;
  uint64_t fileFirst_ = 0, fileEnd_ = 0, bytes_ = 0, discarded_ = 0;
  int status_ = 0;
  bool first_ = true, close_ = false, keepAlive_ = true, busy_ = false, stopped_ = false;
  bool registered_ = false, answered_ = false, uploadSlot_ = false;
  std::chrono::steady_clock::time_point bodyDeadline_;
  Registration reg_;
  std::optional<net::steady_timer> stopWait_;
  std::chrono::steady_clock::time_point lingerUntil_;
};

}  // namespace

void THttpServer::Impl::StartSession(Listener& l, tcp::socket socket) {
  if (l.tls)
    std::make_shared<Session<true>>(*this, std::move(socket), l.tls.get())->Start();
  else
    std::make_shared<Session<false>>(*this, std::move(socket), nullptr)->Start();
}

// On the listener's strand: the connections the kernel has already accepted
// are taken and served (closing a listener would reset them), then it closes.
void THttpServer::Impl::CloseListener(Listener& l) {
  error_code ec;
  if (!l.acceptor->is_open()) return;
  l.acceptor->non_blocking(true, ec);
  for (int i = 0; i < 4096 && !ec; ++i) {
    tcp::socket socket(net::make_strand(ioc));
    l.acceptor->accept(socket, ec);
    if (!ec) StartSession(l, std::move(socket));
  }
  l.acceptor->close(ec);
  l.retry->cancel();
}

void THttpServer::Impl::Accept(Listener& l) {
  l.acceptor->async_accept(net::make_strand(ioc), [this, &l](error_code ec, tcp::socket socket) {
    // A connection accepted as the stop came is still served.
    if (!ec && socket.is_open()) StartSession(l, std::move(socket));
    if (stopping || !l.acceptor->is_open()) return;
    if (ec) {
      // Out of descriptors or a transient fault: try again shortly rather
      // than spin.
      l.retry->expires_after(std::chrono::milliseconds(50));
      l.retry->async_wait([this, &l](error_code) {
        if (!stopping) Accept(l);
      });
      return;
    }
    Accept(l);
  });
}

THttpServer::THttpServer(THttpServerOptions options, THttpRoutes routes)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(routes))) {}

THttpServer::~THttpServer() { Stop(); }

int THttpServer::Listen(const std::string& host, int port, bool tls) {
  const std::string where =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  error_code ec;
  net::ip::address address = net::ip::make_address(host, ec);
  if (ec) {
    tcp::resolver resolver(impl_->ioc);
    auto results = resolver.resolve(host, std::to_string(port), ec);
    if (ec || results.empty()) throw TListenError("cannot listen on " + where + ": cannot resolve " + host);
    address = results.begin()->endpoint().address();
  }
  tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  Impl::Listener l;
  // The acceptor's handlers and the stop's closing run on one strand.
  auto strand = net::make_strand(impl_->ioc);
  l.acceptor = std::make_unique<tcp::acceptor>(strand);
  l.retry = std::make_unique<net::steady_timer>(strand);
  auto fail = [&](const error_code& e) {
    throw TListenError("cannot listen on " + where + ": " + e.message());
  };
  l.acceptor->open(endpoint.protocol(), ec);
  if (ec) fail(ec);
  // SO_REUSEADDR only (restart past TIME_WAIT); never SO_REUSEPORT, so an
  // address another process listens on is refused.
  l.acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
  if (address.is_v6()) l.acceptor->set_option(net::ip::v6_only(true), ec);
  l.acceptor->bind(endpoint, ec);
  if (ec) fail(ec);
  l.acceptor->listen(net::socket_base::max_listen_connections, ec);
  if (ec) fail(ec);
  l.wantsTls = tls;
  const int bound = l.acceptor->local_endpoint().port();
  impl_->listeners.push_back(std::move(l));
  return bound;
}

void THttpServer::UseTls(SSL_CTX* tls) {
  for (auto& l : impl_->listeners) {
    if (!l.wantsTls) continue;
    SSL_CTX_up_ref(tls);
    l.tls = std::make_unique<net::ssl::context>(tls);
  }
}

void THttpServer::Start() {
  for (auto& l : impl_->listeners)
    if (l.wantsTls && !l.tls) throw std::runtime_error("a TLS listener without a certificate");
  impl_->work.emplace(impl_->ioc.get_executor());
  impl_->pool.emplace(std::max(1u, impl_->options.WorkerThreads));
  for (auto& l : impl_->listeners) impl_->Accept(l);
  const unsigned n = std::max(1u, impl_->options.Threads);
  for (unsigned i = 0; i < n; ++i)
    impl_->threads.emplace_back([this] {
      for (;;) {
        try {
          impl_->ioc.run();
          return;
        } catch (const std::exception&) {
          // A handler threw past its own catch: keep serving.
        }
      }
    });
}

void THttpServer::SetDraining(bool draining) { impl_->draining = draining; }

size_t THttpServer::Stop() {
  if (!impl_ || impl_->threads.empty()) return 0;
  if (impl_->stopping.exchange(true)) return 0;
  for (auto& l : impl_->listeners)
    net::post(l.acceptor->get_executor(), [this, &l] { impl_->CloseListener(l); });
  {
    std::lock_guard<std::mutex> lock(impl_->sessionsMutex);
    for (auto& [weak, ex] : impl_->sessions) {
      net::post(ex, [weak = weak] {
        if (auto s = weak.lock()) s->OnStop();
      });
    }
  }
  size_t cut = 0;
  {
    std::unique_lock<std::mutex> lock(impl_->sessionsMutex);
    impl_->sessionsGone.wait_for(lock, impl_->options.Grace, [this] { return impl_->sessions.empty(); });
    cut = impl_->sessions.size();
  }
  impl_->work.reset();
  impl_->ioc.stop();
  for (auto& t : impl_->threads)
    if (t.joinable()) t.join();
  impl_->threads.clear();
  // Jobs still queued are dropped; one running finishes (a check is short).
  impl_->pool->stop();
  impl_->pool->join();
  impl_->pool.reset();
  return cut;
}

}  // namespace updsrv
