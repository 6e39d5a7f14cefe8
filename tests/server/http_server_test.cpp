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
#include "support/LoopbackClient.h"

using namespace updsrv;
using namespace korvane::testing;
using Clock = std::chrono::steady_clock;

namespace {

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
    SendAll(fd, "POST /fast HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nhalf");
    held.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto t0 = Clock::now();
  bool closed = false;
  // A third from the first address is over its cap, one from a new address
  // over the cap of all.
  for (const char* from : {"127.0.0.1", "127.0.0.3"}) {
    int fd = Connect(port_, from);
    SendAll(fd, Post("/fast", "whole"));
    std::string got = ReadAnswer(fd, 2000);
    ReadAnswer(fd, 2000, &closed);
    ::close(fd);
    EXPECT_EQ(got.rfind("HTTP/1.1 503", 0), 0u) << from << ": " << got;
    EXPECT_NE(got.find("Retry-After: "), std::string::npos) << got;
    EXPECT_TRUE(closed) << "the unread body ends the connection";
  }
  int fd = -1;
  // A request without a body is no upload: still served.
  fd = Connect(port_);
  SendAll(fd, "GET /fast HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(ReadAnswer(fd, 2000).rfind("HTTP/1.1 200", 0), 0u);
  ::close(fd);
  // The body deadline ends the held uploads although each read made progress
  // in time; their slots are free again.
  for (int i = 0; i < 6; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int h : held) SendAll(h, "x");
  }
  for (int h : held) {
    ReadAnswer(h, 2000, &closed);
    EXPECT_TRUE(closed);
    ::close(h);
  }
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2500));
  fd = Connect(port_);
  SendAll(fd, Post("/fast", "whole"));
  EXPECT_EQ(ReadAnswer(fd, 2000).rfind("HTTP/1.1 200", 0), 0u);
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
    SendAll(fd, Post("/slow", "report"));
    fds.push_back(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  // While the worker is busy, another request is answered at once.
  const auto t0 = Clock::now();
  int probe = Connect(port_);
  SendAll(probe, "GET /fast HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(ReadAnswer(probe, 2000).rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(200));
  EXPECT_EQ(slowRunning_.load(), 1);
  ::close(probe);
  // One runs, one waits; the other two are refused.
  int ok = 0, busy = 0;
  for (int fd : fds) {
    std::string got = ReadAnswer(fd, 3000);
    ok += got.rfind("HTTP/1.1 200", 0) == 0;
    busy += got.rfind("HTTP/1.1 503", 0) == 0;
    ::close(fd);
  }
  EXPECT_EQ(ok, 2);
  EXPECT_EQ(busy, 2);
}
