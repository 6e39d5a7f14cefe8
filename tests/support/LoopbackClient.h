// A raw HTTP client on loopback for the server's tests and benchmarks: what a
// hostile or careless peer does byte by byte, which no HTTP library lets one do.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace korvane::testing {

// A connection to 127.0.0.1:port from the loopback address from (any when null),
// or -1. Small writes leave at once (no Nagle delay), as a trickling peer's do.
inline int Connect(int port, const char* from = nullptr) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// One answer (its head and a Content-Length body), or what came before the peer
// closed (closed = true) or ms passed.
inline std::string ReadAnswer(int fd, int ms, bool* closed = nullptr) {
  using Clock = std::chrono::steady_clock;
  std::string out;
  if (closed) *closed = false;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    const size_t head = out.find("\r\n\r\n"), length = out.find("Content-Length: ");
    if (head != std::string::npos && length != std::string::npos && length < head &&
        out.size() >= head + 4 + std::strtoul(out.c_str() + length + 16, nullptr, 10))
      break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buf[16384];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      break;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// Everything the peer sends until it closes (closed = true) or ms pass.
inline std::string ReadUntilClosed(int fd, int ms, bool* closed = nullptr) {
  using Clock = std::chrono::steady_clock;
  std::string out;
  if (closed) *closed = false;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return out;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      return out;
    }
    out.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace korvane::testing
