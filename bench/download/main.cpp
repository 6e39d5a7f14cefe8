// A driver package through TDownThread, its progress calls answered by a
// headless user-interface queue that builds the dialog's texts, beside curl
// fetching the same URL into the same folder in the same run. Prints both
// throughputs, their ratio and the download's peak memory above idle.
// Usage: bench_download [MiB=512] [rounds=3] [folder=$TMPDIR or /tmp]
#include "download/uDownText.h"
#include "download/uDownThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Answers every GET with `size` bytes, sent from one 1 MiB block.
class BodyServer {
 public:
  explicit BodyServer(int64_t size) : size_(size), block_(1 << 20) {
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
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/packages/big_driver.exe"; }

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

// What the dialog does with each report, minus the painting.
class TTextView : public IDownView {
 public:
  void ShowFileName(TDownThread& t) override { FileName = FileNameFromUrl(t.Url); }
  void ShowDownloadProgress(TDownThread& t) override {
    ++Calls;
    const double now = NowDays();
    Line = ProgressLineText(t.Current, t.Total, t.StartTime, now);
    const std::string size = SizeText(t.Total);
    if (size != Size) Size = size;
    Speed = SpeedText(t.Current, t.StartTime, now);
  }
  std::string FileName, Line, Size, Speed;
  long long Calls = 0;
};

// VmRSS or VmHWM of this process, in KiB.
long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  return -1;
}

// Resets VmHWM to the current size (Linux 4.0 and later).
void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long long FileSize(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 512;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = argc > 3 ? argv[3] : (tmp && *tmp ? tmp : "/tmp");
  const int64_t size = mib << 20;
  BodyServer server(size);
  const std::string url = server.Url();
  const std::string ours = folder + "/bench_download_ours.exe";
  const std::string theirs = folder + "/bench_download_curl.exe";

  TPumpedUiQueue queue;
  InstallUiQueue(&queue);
  TTextView view;

  double bestOurs = 1e30, bestCurl = 1e30;
  long worstPeakKiB = 0;
  for (int r = 0; r < rounds; ++r) {
    ::unlink(ours.c_str());
    const long idle = StatusKiB("VmRSS");
    ResetPeak();
    auto* t = new TDownThread(&view, true);
    t->Url = url;
    t->FileName = ours;
    t->FreeOnTerminate = true;
    bool ended = false, saved = false;
    t->OnTerminate = [&](TThread& th) {
      ended = true;
      saved = static_cast<TDownThread&>(th).Saved();
    };
    auto t0 = std::chrono::steady_clock::now();
    t->Start();
    queue.PumpUntil([&] { return ended; }, 3600 * 1000);
    const double oursSec = Seconds(t0);
    const long peak = StatusKiB("VmHWM") - idle;
    worstPeakKiB = std::max(worstPeakKiB, peak);
    if (!saved || FileSize(ours) != size) {
      std::fprintf(stderr, "TDownThread saved %lld of %lld bytes\n", FileSize(ours), static_cast<long long>(size));
      return 1;
    }

    ::unlink(theirs.c_str());
    t0 = std::chrono::steady_clock::now();
    const int rc = std::system(("curl -s -o '" + theirs + "' '" + url + "'").c_str());
    const double curlSec = Seconds(t0);
    if (rc != 0 || FileSize(theirs) != size) {
      std::fprintf(stderr, "curl failed (%d)\n", rc);
      return 1;
    }
    std::printf("round %d: TDownThread %.3f s (%lld progress calls, peak +%ld KiB), curl %.3f s\n", r + 1, oursSec,
                view.Calls, peak, curlSec);
    view.Calls = 0;
    bestOurs = std::min(bestOurs, oursSec);
    bestCurl = std::min(bestCurl, curlSec);
  }
  ::unlink(ours.c_str());
  ::unlink(theirs.c_str());
  InstallUiQueue(nullptr);

  const double mb = static_cast<double>(size) / (1 << 20);
  const double oursRate = mb / bestOurs, curlRate = mb / bestCurl;
  std::printf("package: %lld MiB into %s, best of %d rounds\n", static_cast<long long>(mib), folder.c_str(), rounds);
  std::printf("last texts: \"%s\" / \"%s\" / \"%s\"\n", view.Line.c_str(), view.Size.c_str(), view.Speed.c_str());
  std::printf("TDownThread: %.1f MiB/s (synced to disk before the rename)\n", oursRate);
  std::printf("curl:        %.1f MiB/s\n", curlRate);
  std::printf("ratio (TDownThread / curl): %.3f (target >= 0.8)\n", oursRate / curlRate);
  std::printf("peak memory above idle: %.1f MiB (target < 64)\n", static_cast<double>(worstPeakKiB) / 1024.0);
  return 0;
}
