// THttpServer's limits on uploads, in-process with a slow route: caps on
// uploads in flight (all clients, one address), the whole-body deadline, and
// the worker pool that keeps slow answers off the I/O threads (with a queue
// limit answered 503).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "server/HttpServer.h"

using namespace updsrv;
using Clock = std::chrono::steady_clock;

namespace {

// A connection from the loopback address from (127.0.0.1 when empty).
int Connect(int port, const char* from = nullptr) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (from) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(fd);
      return -1;
    }
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

void Send(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// What the peer sends within ms, and whether it closed.
std::string Receive(int fd, int ms, bool* closed = nullptr) {
  std::string out;
  if (closed) *closed = false;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      break;
    }
    out.append(buf, static_cast<size_t>(n));
    const size_t head = out.find("\r\n\r\n"), length = out.find("Content-Length: ");
    if (head != std::string::npos && length != std::string::npos && length < head &&
        out.size() >= head + 4 + std::stoul(out.substr(length + 16)))
      break;  // one whole answer
  }
  return out;
}

std::string Post(const std::string& path, const std::string& body) {
  return "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

class HttpServerLimits : public ::testing::Test {
 protected:
  void Start(THttpServerOptions o) {
    THttpRoutes r;
    r.Handle = [this](const THttpRequest& req, THttpResponse& res) {
      if (req.Path == "/slow") {
        ++slowRunning_;
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        --slowRunning_;
      }
      res.ContentType = "text/plain";
      res.Body = "ok";
    };
    r.BodyLimit = [](const THttpRequest& req) -> uint64_t { return req.Method == "POST" ? 1 << 20 : 0; };
    r.Offload = [](const THttpRequest& req) { return req.Path == "/slow"; };
    server_ = std::make_unique<THttpServer>(o, std::move(r));
    port_ = server_->Listen("127.0.0.1", 0, false);
    server_->Start();
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }
  std::unique_ptr<THttpServer> server_;
  int port_ = 0;
  std::atomic<int> slowRunning_{0};
};

}  // namespace

TEST_F(HttpServerLimits, UploadsInFlightAreCappedPerClientAndInAll) {
  THttpServerOptions o;
  o.MaxUploads = 3;
  o.MaxUploadsPerClient = 2;
  o.BodyTimeout = std::chrono::milliseconds(800);
  o.IoTimeout = std::chrono::milliseconds(5000);
  o.Grace = std::chrono::milliseconds(500);
  Start(o);
  // Uploads held half sent: two from one address, one from another.
  std::vector<int> held;
  for (const char* from : {"127.0.0.1", "127.0.0.1", "127.0.0.2"}) {
    int fd = Connect(port_, from);
    ASSERT_GE(fd, 0) << from;
    Send(fd, "POST /fast HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nhalf");
    held.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto t0 = Clock::now();
  bool closed = false;
  // A third from the first address is over its cap, one from a new address
  // over the cap of all.
  for (const char* from : {"127.0.0.1", "127.0.0.3"}) {
    int fd = Connect(port_, from);
    Send(fd, Post("/fast", "whole"));
    std::string got = Receive(fd, 2000);
    Receive(fd, 2000, &closed);
    ::close(fd);
    EXPECT_EQ(got.rfind("HTTP/1.1 503", 0), 0u) << from << ": " << got;
    EXPECT_NE(got.find("Retry-After: "), std::string::npos) << got;
    EXPECT_TRUE(closed) << "the unread body ends the connection";
  }
  int fd = -1;
  // A request without a body is no upload: still served.
  fd = Connect(port_);
  Send(fd, "GET /fast HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(Receive(fd, 2000).rfind("HTTP/1.1 200", 0), 0u);
  ::close(fd);
  // The body deadline ends the held uploads although each read made progress
  // in time; their slots are free again.
  for (int i = 0; i < 6; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int h : held) Send(h, "x");
  }
  for (int h : held) {
    Receive(h, 2000, &closed);
    EXPECT_TRUE(closed);
    ::close(h);
  }
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
  fd = Connect(port_);
  Send(fd, Post("/fast", "whole"));
  EXPECT_EQ(Receive(fd, 2000).rfind("HTTP/1.1 200", 0), 0u);
  ::close(fd);
}

TEST_F(HttpServerLimits, SlowAnswersRunOnThePoolWithABoundedQueue) {
  THttpServerOptions o;
  o.Threads = 1;  // one I/O thread: a slow answer there would hold every connection
  o.WorkerThreads = 1;
  o.WorkerQueue = 1;
  o.MaxUploadsPerClient = 0;
  o.Grace = std::chrono::milliseconds(3000);
  Start(o);
  std::vector<int> fds;
  for (int i = 0; i < 4; ++i) {
    int fd = Connect(port_);
    Send(fd, Post("/slow", "report"));
    fds.push_back(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  // While the worker is busy, another request is answered at once.
  const auto t0 = Clock::now();
  int probe = Connect(port_);
  Send(probe, "GET /fast HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(Receive(probe, 2000).rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(200));
  EXPECT_EQ(slowRunning_.load(), 1);
  ::close(probe);
  // One runs, one waits; the other two are refused.
  int ok = 0, busy = 0;
  for (int fd : fds) {
    std::string got = Receive(fd, 3000);
    ok += got.rfind("HTTP/1.1 200", 0) == 0;
    busy += got.rfind("HTTP/1.1 503", 0) == 0;
    ::close(fd);
  }
  EXPECT_EQ(ok, 2);
  EXPECT_EQ(busy, 2);
}
