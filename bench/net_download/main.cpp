// Download throughput of THttpClient::GetToStream from a loopback server
// into a counting sink, beside curl fetching the same URL in the same run.
// Usage: bench_net_download [MiB=512] [rounds=3]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "net/uHttpClient.h"

namespace {

// Counts what it is given and keeps nothing.
class CountingBuf : public std::streambuf {
 public:
  int64_t count = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += n;
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++count;
    return traits_type::not_eof(c);
  }
};

// Answers every GET with `size` bytes, sent from one 1 MiB block.
class BodyServer {
 public:
  explicit BodyServer(int64_t size) : size_(size), block_(1 << 20, 'k') {
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
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/big.bin"; }

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
  std::vector<char> block_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 512;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const int64_t size = mib << 20;
  BodyServer server(size);
  const std::string url = server.Url();

  double bestOurs = 1e30, bestCurl = 1e30;
  for (int r = 0; r < rounds; ++r) {
    CountingBuf sink;
    std::ostream out(&sink);
    THttpClient client;
    auto t0 = std::chrono::steady_clock::now();
    try {
      client.GetToStream(url, out);
    } catch (const EHttpError& e) {
      std::fprintf(stderr, "GetToStream failed: %s\n", e.what());
      return 1;
    }
    const double ours = Seconds(t0);
    if (sink.count != size) {
      std::fprintf(stderr, "GetToStream delivered %lld of %lld bytes\n", static_cast<long long>(sink.count),
                   static_cast<long long>(size));
      return 1;
    }
    t0 = std::chrono::steady_clock::now();
    const int rc = std::system(("curl -s -o /dev/null '" + url + "'").c_str());
    const double curl = Seconds(t0);
    if (rc != 0) {
      std::fprintf(stderr, "curl failed (%d)\n", rc);
      return 1;
    }
    std::printf("round %d: GetToStream %.3f s, curl %.3f s\n", r + 1, ours, curl);
    bestOurs = std::min(bestOurs, ours);
    bestCurl = std::min(bestCurl, curl);
  }
  const double mb = static_cast<double>(size) / (1 << 20);
  const double oursRate = mb / bestOurs, curlRate = mb / bestCurl;
  std::printf("body: %lld MiB, best of %d rounds\n", static_cast<long long>(mib), rounds);
  std::printf("GetToStream: %.1f MiB/s\n", oursRate);
  std::printf("curl:        %.1f MiB/s\n", curlRate);
  std::printf("ratio (GetToStream / curl): %.3f (target >= 0.9)\n", oursRate / curlRate);
  return 0;
}
