// The reference update server under hostile uploads: its memory and the
// latency of a probe ("/isavail.txt") while
//   - 12 clients post, again and again, a small gzip that unpacks to a report
//     of 11,272 devices (the check's amplification),
//   - 16 uploads declare 16 MiB and trickle a byte at a time,
//   - 16 more trickle too, chunked, after sending nearly the whole upload
//     limit at once (the most memory an admitted upload can hold).
// The server runs with its default limits, except that the cap per client
// address is off: every client here is 127.0.0.1, as every client is behind
// a load balancer, so only the global caps and the worker pool protect it.
//
//   bench_server_hostile [--seconds N] [--trickle-ms MS] [--server PATH] [-- server args...]
//
// --trickle-ms is the pause between trickled bytes (10000 as an attacker
// would; shorter only makes the trickles costlier for the server).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CheckLoad.h"
#include "support/LoopbackClient.h"

extern char** environ;

namespace {

using namespace korvane::testing;
using Clock = std::chrono::steady_clock;

// A report of many devices, each with a few IDs, as a hostile client would
// send to make the server unpack and parse a lot for a small upload.
std::string AmplifyingReport(int devices) {
  std::string r = "<os>xp-32</os>\r\n<partner></partner>\r\n\r\n";
  for (int n = 1; n <= devices; ++n) {
    char hw[64];
    std::snprintf(hw, sizeof hw, "PCI\\VEN_%04X&DEV_%04X", 0x1000 + n % 4096, 0x2000 + n);
    r += "<dev>\r\n<id>" + std::to_string(n) +
         "</id>\r\n<cguid>{4D36E972-E325-11CE-BFC1-08002BE10318}</cguid>\r\n";
    r += std::string("<hwid>") + hw + "&SUBSYS_00011AF4&REV_01, " + hw + "</hwid>\r\n";
    r += "<compid>PCI\\CC_020000, PCI\\CC_0200</compid>\r\n<date>1-1-2003</date>\r\n";
    r += "<devname>Device " + std::to_string(n) + "</devname>\r\n</dev>\r\n";
  }
  return r;
}

const std::string kBoundary = "--------120926072235123";

std::string FormBody(const std::string& packed) {
  return "--" + kBoundary +
         "\r\nContent-Disposition: form-data; name=\"drvlist\"; filename=\"scanres.log.gz\"\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\n\r\n" +
         packed + "\r\n--" + kBoundary + "--\r\n";
}

std::string CheckHead(const std::string& length) {
  return "POST /remote/check_upd.php HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; "
         "boundary=" +
         kBoundary + "\r\n" + length + "\r\n";
}

long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

struct TServer {
  pid_t Pid = -1;
  int Http = 0;
};

TServer StartServer(const std::string& exe, const std::string& data, const std::vector<std::string>& extra) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> args = {
      exe, "--data", data, "--http", "127.0.0.1:0", "--https", "off", "--no-log", "--max-uploads-per-client",
      "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  TServer s;
  if (posix_spawn(&s.Pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + exe);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string out;
  char buf[256];
  while (s.Http == 0) {
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) throw std::runtime_error("the server ended before listening");
    out.append(buf, static_cast<size_t>(n));
    size_t p = out.find("http=");
    if (p != std::string::npos && out.find('\n', p) != std::string::npos)
      s.Http = std::atoi(out.c_str() + p + 5);
  }
  close(fds[0]);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  int trickleMs = 10000;
  std::string exe;
  std::vector<std::string> extra;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--seconds") {
      seconds = std::atof(next().c_str());
    } else if (a == "--trickle-ms") {
      trickleMs = std::max(1, std::atoi(next().c_str()));
    } else if (a == "--server") {
      exe = next();
    } else if (a == "--") {
      extra.assign(argv + i + 1, argv + argc);
      break;
    } else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--trickle-ms MS] [--server PATH] [-- server args...]\n",
                   argv[0]);
      return 2;
    }
  }
  if (seconds <= 0) seconds = 1;
  if (exe.empty()) exe = std::string(KORVANE_BINARY_DIR) + "/server/korvane-updsrv";
  signal(SIGPIPE, SIG_IGN);
  char tmpl[] = "/tmp/korvane-server-hostile-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;

  const std::string report = AmplifyingReport(11272);
  const std::string packed = checkload::Gzip(report);
  const std::string form = FormBody(packed);
  const std::string amplify = CheckHead("Content-Length: " + std::to_string(form.size()) + "\r\n") + form;
  std::printf("amplifying upload: 11272 devices, %zu bytes unpacked, %zu packed\n", report.size(),
              packed.size());
  std::printf("%.0f s of load; trickled uploads send a byte every %d ms\n", seconds, trickleMs);

  int rc = 0;
  TServer s;
  try {
    s = StartServer(exe, dir + "/data", extra);
    std::atomic<bool> stop{false};
    auto probeOnce = [&]() -> double {
      const auto t0 = Clock::now();
      int fd = Connect(s.Http);
      if (fd < 0) return -1;
      SendAll(fd, "GET /isavail.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
      std::string got = ReadAnswer(fd, 5000);
      ::close(fd);
      if (got.rfind("HTTP/1.1 200", 0) != 0) return -1;
      return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    };
    for (int i = 0; i < 20; ++i) probeOnce();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long idle = RssKiB(s.Pid);
    std::vector<double> idleProbes;
    for (int i = 0; i < 100; ++i) idleProbes.push_back(probeOnce());
    std::printf("idle: RSS %.1f MiB, probe p50 %.2f ms p99 %.2f ms\n", idle / 1024.0,
                Percentile(idleProbes, 0.5), Percentile(idleProbes, 0.99));
    std::fflush(stdout);

    std::mutex mu;
    long peak = idle;
    std::vector<double> probes;
    int probeFailures = 0;
    std::atomic<int> checksAnswered{0}, checksRefusedCap{0}, checksBusy{0}, checksOther{0};
    std::atomic<int> declaredRefused{0}, declaredOpen{0}, filledAdmitted{0}, filledBusy{0}, filledEnded{0};
    std::vector<std::thread> threads;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    auto running = [&] { return !stop && Clock::now() < end; };

    // The trickles: a byte per interval until the server ends them or the run does.
    for (int i = 0; i < 32; ++i) {
      const bool filled = i >= 16;
      threads.emplace_back([&, filled] {
        int fd = Connect(s.Http);
        if (fd < 0) return;
        bool ok = true;
        if (!filled) {
          ok = SendAll(fd, CheckHead("Content-Length: " + std::to_string(16u << 20) + "\r\n") + "--");
        } else {
          // Nearly all of the 1 MiB upload limit in one chunk, then a byte a chunk.
          const size_t first = (1u << 20) - 64 * 1024;
          char size[32];
          std::snprintf(size, sizeof size, "%zx\r\n", first);
          ok = SendAll(fd,
                       CheckHead("Transfer-Encoding: chunked\r\n") + size + std::string(first, 'x') + "\r\n");
        }
        bool answered = false;
        while (ok && running()) {
          // An answer (a refusal) may come at any time; else the next byte is due.
          pollfd p{fd, POLLIN, 0};
          const auto due = Clock::now() + std::chrono::milliseconds(trickleMs);
          int ready = 0;
          while (running() && Clock::now() < due && (ready = ::poll(&p, 1, 20)) == 0) {
          }
          if (ready > 0) {
            std::string got = ReadAnswer(fd, 1000);
            answered = true;
            if (!filled) {
              ++declaredRefused;
            } else if (got.rfind("HTTP/1.1 503", 0) == 0) {
              ++filledBusy;
            } else {
              ++filledEnded;  // the body deadline (or a drop)
            }
            break;
          }
          if (!running()) break;
          ok = SendAll(fd, filled ? "1\r\nx\r\n" : "x");
        }
        if (!answered) (filled ? filledAdmitted : declaredOpen)++;
        ::close(fd);
      });
    }
    // The amplifying checks, closed loop.
    for (int i = 0; i < 12; ++i) {
      threads.emplace_back([&] {
        while (running()) {
          int fd = Connect(s.Http);
          if (fd < 0) {
            ++checksOther;
            continue;
          }
          SendAll(fd, amplify);
          std::string got = ReadAnswer(fd, 10000);
          ::close(fd);
          if (got.rfind("HTTP/1.1 503", 0) == 0)
            ++checksBusy;
          else if (got.find("more than 4096 devices") != std::string::npos)
            ++checksRefusedCap;
          else if (got.find("<errcode>") != std::string::npos)
            ++checksAnswered;
          else
            ++checksOther;
        }
      });
    }
    // The probe and the memory sampler.
    threads.emplace_back([&] {
      while (running()) {
        const double ms = probeOnce();
        std::lock_guard<std::mutex> lock(mu);
        if (ms < 0)
          ++probeFailures;
        else
          probes.push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
    threads.emplace_back([&] {
      while (running()) {
        const long rss = RssKiB(s.Pid);
        {
          std::lock_guard<std::mutex> lock(mu);
          peak = std::max(peak, rss);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    for (auto& t : threads) t.join();
    const long after = RssKiB(s.Pid);
    std::printf("under load: RSS peak %.1f MiB above idle (%.1f MiB), %.1f MiB above idle after the load\n",
                (peak - idle) / 1024.0, peak / 1024.0, (after - idle) / 1024.0);
    std::printf("probe /isavail.txt: %zu answered, p50 %.2f ms, p99 %.2f ms, max %.2f ms, %d failed\n",
                probes.size(), Percentile(probes, 0.5), Percentile(probes, 0.99), Percentile(probes, 1.0),
                probeFailures);
    std::printf(
        "amplifying checks: %d refused as over 4096 devices (%.0f /s), %d busy (503), %d answered, "
        "%d other\n",
        checksRefusedCap.load(), checksRefusedCap.load() / seconds, checksBusy.load(), checksAnswered.load(),
        checksOther.load());
    std::printf("16 MiB declared trickles: %d refused at once, %d still open at the end\n",
                declaredRefused.load(), declaredOpen.load());
    std::printf(
        "filled chunked trickles: %d held to the end, %d refused busy (503), %d ended by the server\n",
        filledAdmitted.load(), filledBusy.load(), filledEnded.load());
    std::printf("bounds: memory %s 64 MiB above idle, probe p99 %s 50 ms\n",
                peak - idle <= 64 * 1024 ? "within" : "NOT within",
                Percentile(probes, 0.99) <= 50 ? "within" : "NOT within");
    rc = probeFailures ? 1 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_server_hostile: %s\n", e.what());
    rc = 1;
  }
  if (s.Pid > 0) {
    kill(s.Pid, SIGTERM);
    int status = 0;
    waitpid(s.Pid, &status, 0);
  }
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
  return rc;
}
