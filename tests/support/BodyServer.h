// The benchmarks' loopback HTTP server: answers every GET on its own thread
// with `size` bytes sent from one 1 MiB block, one connection at a time.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class BodyServer {
 public:
  BodyServer(int64_t size, std::string path) : size_(size), path_(std::move(path)), block_(1 << 20) {
    for (std::size_t i = 0; i < block_.size(); ++i) block_[i] = static_cast<char>(i * 131 + 7);
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0) {
      std::perror("bind");
      std::exit(1);
    }
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~BodyServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + path_; }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      Serve(c);
      ::close(c);
    }
  }
  void Serve(int c) {
    std::string req;
    char buf[8192];
    while (req.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) return;
      req.append(buf, static_cast<std::size_t>(n));
    }
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                             std::to_string(size_) + "\r\n\r\n";
    if (!SendAll(c, head.data(), head.size())) return;
    for (int64_t left = size_; left > 0;) {
      const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(left, block_.size()));
      if (!SendAll(c, block_.data(), n)) return;
      left -= static_cast<int64_t>(n);
    }
  }
  static bool SendAll(int c, const char* p, std::size_t n) {
    while (n > 0) {
      const ssize_t s = ::send(c, p, n, MSG_NOSIGNAL);
      if (s <= 0) return false;
      p += s;
      n -= static_cast<std::size_t>(s);
    }
    return true;
  }

  int64_t size_;
  std::string path_;
  std::vector<char> block_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
