// Load on the reference update server as the program makes it: each check a
// new TCP and TLS connection, one multipart POST of a gzip-packed report of
// 41 devices, the answer read to its end. One epoll thread drives every
// client, so the load generator costs little next to the server on a small
// machine. Beside the checks it measures bare TLS handshakes against the
// same server (the most checks a connection-per-check client can get), and
// a catalogue of a million generated entries: its load time and memory, and
// checks against it next to checks against the demo catalogue.
//
//   bench_server_load [--seconds N] [--clients 50,200] [--entries N] [--server PATH]
//   bench_server_load --target HOST:PORT [--seconds N] [--clients 50,200]
//
// With --target it starts no server: it loads the HTTPS address given (a
// load balancer in front of instances, see server/deploy/) with bare
// handshakes and checks, a report of the demo catalogue's IDs.
//
// Run it under `nice -n 10` on a shared machine; the figures are noisy there.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CheckLoad.h"
#include "server/Catalogue.h"
#include "server/CheckService.h"
#include <time.h>

extern char** environ;

namespace {

using namespace checkload;

// The server this program started, on loopback.
TTarget Local(int port) {
  TTarget t;
  t.Port = port;
  return t;
}

std::string LocalHost(int port) { return "127.0.0.1:" + std::to_string(port); }

struct TServer {
  pid_t Pid = -1;
  int Http = 0, Https = 0;
  double StartSeconds = 0;
};

TServer StartServer(const std::string& exe, const std::string& data, const std::string& catalogue) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> args = {exe, "--data", data, "--http", "127.0.0.1:0", "--https", "127.0.0.1:0",
                                   "--no-log", "--catalogue", catalogue,
                                   // The clients stand for many machines, all on loopback here.
                                   "--max-uploads-per-client", "0",
                                   // One base for every server, so answers compare across them.
                                   "--public-base", "http://bench.example"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  TServer s;
  const auto t0 = Clock::now();
  if (posix_spawn(&s.Pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + exe);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  std::string out;
  char buf[256];
  while (s.Http == 0 || s.Https == 0) {
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) throw std::runtime_error("the server ended before listening");
    out.append(buf, static_cast<size_t>(n));
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("http=", 0) == 0) s.Http = std::atoi(line.c_str() + 5);
      if (line.rfind("https=", 0) == 0) s.Https = std::atoi(line.c_str() + 6);
    }
  }
  s.StartSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  close(fds[0]);
  return s;
}

void StopServer(TServer& s) {
  if (s.Pid <= 0) return;
  kill(s.Pid, SIGTERM);
  int status = 0;
  waitpid(s.Pid, &status, 0);
  s.Pid = -1;
}

void Print(const char* what, int clients, const TResult& r, double window) {
  std::printf("%-28s clients %3d: %7.0f /s  p50 %6.1f ms  p99 %6.1f ms  done %zu  errors %zu%s%s\n", what,
              clients, static_cast<double>(r.Done) / window, Percentile(r.Latency, 0.50),
              Percentile(r.Latency, 0.99), r.Done, r.Errors,
              r.FirstError.empty() ? "" : "  first: ", r.FirstError.c_str());
  std::fflush(stdout);
}

long ProcKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  return -1;
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::vector<int> ParseList(const std::string& s) {
  std::vector<int> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) out.push_back(std::atoi(item.c_str()));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  std::vector<int> clients = {50, 200};
  long entries = 1000000;
  std::string exe, targetText;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--seconds")
      seconds = std::atof(next().c_str());
    else if (a == "--clients")
      clients = ParseList(next());
    else if (a == "--entries")
      entries = std::atol(next().c_str());
    else if (a == "--server")
      exe = next();
    else if (a == "--target")
      targetText = next();
    else if (a == "--quick")
      seconds = 2, entries = 1000000;
    else {
      std::fprintf(stderr,
                   "usage: %s [--seconds N] [--clients 50,200] [--entries N] [--server PATH] [--quick]\n"
                   "       %s --target HOST:PORT [--seconds N] [--clients 50,200]\n",
                   argv[0], argv[0]);
      return 2;
    }
  }
  if (seconds <= 0) seconds = 1;
  if (exe.empty()) exe = std::string(KORVANE_BINARY_DIR) + "/server/korvane-updsrv";
  const std::string demo = std::string(KORVANE_SOURCE_DIR) + "/demo/catalogue.txt";
  signal(SIGPIPE, SIG_IGN);

  char tmpl[] = "/tmp/korvane-server-load-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  const std::string report = MakeReport(CatalogueIds(demo));
  const std::string packed = Gzip(report);
  std::printf("report: 41 devices, %zu bytes, %zu packed; %.1f s per run\n", report.size(), packed.size(),
              seconds);

  int rc = 0;
  if (!targetText.empty()) {
    TTarget target;
    if (!ParseTarget(targetText, target)) {
      std::fprintf(stderr, "bench_server_load: --target wants IPV4-ADDRESS:PORT\n");
      return 2;
    }
    // Another's server: its catalogue decides the answer, any errcode 0 counts.
    const std::string request = CheckRequest(packed, targetText);
    for (int n : clients) {
      TResult h = Run(target, n, seconds, request, true, "");
      Print("bare TLS handshakes", n, h, seconds);
      TResult c = Run(target, n, seconds, request, false, "");
      Print("checks", n, c, seconds);
      std::printf("%-28s clients %3d: ratio checks / bare handshakes %.2f\n", "", n,
                  h.Done ? static_cast<double>(c.Done) / static_cast<double>(h.Done) : 0.0);
      rc |= c.Errors ? 1 : 0;
    }
    std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
    return rc;
  }
  try {
    // The demo catalogue: bare handshakes, then checks at each concurrency.
    TServer s = StartServer(exe, dir + "/data", demo);
    const std::string request = CheckRequest(packed, LocalHost(s.Https));
    TResult probe = Run(Local(s.Https), 1, 0.2, request, false, "");
    const std::string expected = probe.Answer;
    size_t devices = 0;
    for (size_t p = expected.find("<dev>"); p != std::string::npos; p = expected.find("<dev>", p + 1))
      ++devices;
    std::printf("answer: %zu bytes, %zu devices out of date\n", expected.size(), devices);
    double bareRate = 0;
    for (int n : clients) {
      TResult h = Run(Local(s.Https), n, seconds, request, true, "");
      Print("bare TLS handshakes", n, h, seconds);
      bareRate = std::max(bareRate, static_cast<double>(h.Done) / seconds);
      TResult c = Run(Local(s.Https), n, seconds, request, false, expected);
      Print("checks (demo catalogue)", n, c, seconds);
      std::printf("%-28s clients %3d: ratio checks / bare handshakes %.2f\n", "", n,
                  h.Done ? static_cast<double>(c.Done) / static_cast<double>(h.Done) : 0.0);
      rc |= c.Errors ? 1 : 0;
    }
    StopServer(s);

    // A million-entry catalogue: the demo's entries and generated ones.
    const std::string big = dir + "/catalogue-big.txt";
    {
      std::ofstream out(big, std::ios::binary);
      out << std::ifstream(demo).rdbuf();
      out << "\n";
      char line[256];
      for (long k = 0; k < entries; ++k) {
        int n = std::snprintf(
            line, sizeof line,
            "PCI\\VEN_%04lX&DEV_%04lX&SUBSYS_%08lX | %ld-%ld-20%02ld | %ld.%ld.%ld.%ld | Vendor %ld | "
            "https://dl.vendor.example/drivers/%ld.zip\n",
            (k >> 16) & 0xFFFF, k & 0xFFFF, (k * 2654435761u) & 0xFFFFFFFF, 1 + k % 12, 1 + k % 28, k % 25,
            k % 30, k % 100, k % 1000, k % 9999, k % 997, k);
        out.write(line, n);
      }
    }
    std::ifstream sizeOf(big, std::ios::ate | std::ios::binary);
    const double mib = static_cast<double>(sizeOf.tellg()) / (1024.0 * 1024.0);
    {
      std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak figure
      const long before = ProcKiB("VmRSS:");
      const auto t0 = Clock::now();
      const double cpu0 = CpuSeconds();
      std::vector<std::string> warnings;
      updsrv::TCatalogue cat = updsrv::TCatalogue::Load(big, &warnings);
      const double took = std::chrono::duration<double>(Clock::now() - t0).count();
      const double cpu = CpuSeconds() - cpu0;
      const long after = ProcKiB("VmRSS:"), peak = ProcKiB("VmHWM:");
      std::printf(
          "catalogue of %zu entries (%.0f MiB file): loaded in %.2f s (%.2f s CPU), %.0f MiB held, "
          "%.0f MiB peak while loading, %zu warnings\n",
          cat.Entries().size(), mib, took, cpu, (after - before) / 1024.0, (peak - before) / 1024.0,
          warnings.size());
      // The check itself (gunzip, parse, match, answer) in this process,
      // without the network: the big catalogue beside the demo one.
      updsrv::TCatalogue small = updsrv::TCatalogue::Load(demo);
      updsrv::TCheckOptions o;
      o.PackageBase = "http://bench.example/packages/";
      for (const auto* c : {&small, &cat}) {
        const int rounds = 3000;
        size_t bytes = 0;
        const double c0 = CpuSeconds();
        for (int k = 0; k < rounds; ++k) bytes += updsrv::AnswerUpload(packed, *c, o).size();
        const double per = (CpuSeconds() - c0) / rounds * 1e6;
        std::printf("check in-process against the %-8s catalogue: %.1f us CPU each (%zu answer bytes)\n",
                    c == &cat ? "1M" : "demo", per, bytes / rounds);
      }
    }
    TServer b = StartServer(exe, dir + "/data", big);
    std::printf("server start with it: listening after %.2f s\n", b.StartSeconds);
    const int n = clients.front();
    const std::string requestBig = CheckRequest(packed, LocalHost(b.Https));
    TResult cb = Run(Local(b.Https), n, seconds, requestBig, false, expected);
    Print("checks (1M catalogue)", n, cb, seconds);
    TResult one = Run(Local(b.Https), 1, seconds / 2, requestBig, false, expected);
    Print("checks (1M catalogue)", 1, one, seconds / 2);
    StopServer(b);
    TServer d = StartServer(exe, dir + "/data", demo);
    TResult cd = Run(Local(d.Https), n, seconds, CheckRequest(packed, LocalHost(d.Https)), false, expected);
    Print("checks (demo catalogue)", n, cd, seconds);
    TResult oned =
        Run(Local(d.Https), 1, seconds / 2, CheckRequest(packed, LocalHost(d.Https)), false, expected);
    Print("checks (demo catalogue)", 1, oned, seconds / 2);
    StopServer(d);
    rc |= (cb.Errors || cd.Errors) ? 1 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_server_load: %s\n", e.what());
    rc = 1;
  }
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
  return rc;
}
