// A small raw loopback HTTP server for the client tests (library kv_test_servers).
#pragma once

#include "support/ScratchFolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace nettest {

inline void SendAll(int fd, const std::string& data) {
  std::size_t off = 0;
  while (off < data.size()) {
    const ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

// Waits until the peer closes (or the time runs out); true when it closed.
inline bool WaitPeerClose(int fd, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char buf[4096];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return true;
    }
  }
  return false;
}

// Accepts connections on 127.0.0.1 (an ephemeral port unless one is given),
// reads each request (head and Content-Length body), records it and hands it
// to the handler, then closes the connection.
class RawServer {
 public:
  using Handler = std::function<void(int fd, const std::string& request)>;

  explicit RawServer(Handler handler, int port = 0) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0) {
      ::close(listen_);
      listen_ = -1;
      return;
    }
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~RawServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) ::close(listen_);
  }
  bool Ok() const { return listen_ >= 0; }
  int Port() const { return port_; }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  bool Stopping() const { return stop_; }
  int Accepted() const { return accepted_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      ++accepted_;
      const std::string request = ReadRequest(fd);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      handler_(fd, request);
      ::close(fd);
    }
  }

  std::string ReadRequest(int fd) {
    std::string data;
    char buf[65536];
    std::size_t want = std::string::npos;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!stop_ && std::chrono::steady_clock::now() < end) {
      if (want != std::string::npos && data.size() >= want) break;
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      data.append(buf, static_cast<std::size_t>(n));
      const std::size_t headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos && want == std::string::npos) {
        std::size_t length = 0;
        const std::size_t cl = data.find("Content-Length: ");
        if (cl != std::string::npos && cl < headEnd) length = std::stoul(data.substr(cl + 16));
        want = headEnd + 4 + length;
      }
    }
    return data;
  }

  Handler handler_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

// A scratch folder under $TMPDIR, removed by the destructor.
using TempDir = korvane::testing::ScratchFolder;

inline void WriteFile(const std::string& path, const std::string& data) {
  korvane::testing::WriteTextFile(path, data);
}

inline std::string ReadFile(const std::string& path) { return korvane::testing::ReadTextFile(path); }

}  // namespace nettest
