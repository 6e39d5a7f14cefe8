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

#include "server/Catalogue.h"
#include "server/CheckService.h"
#include <time.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string Gzip(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

std::vector<std::string> DemoIds(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> ids;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line[0] == '@') continue;
    size_t bar = line.find('|');
    if (bar == std::string::npos) continue;
    std::string id = line.substr(0, bar);
    while (!id.empty() && id.back() == ' ') id.pop_back();
    ids.push_back(id);
  }
  return ids;
}

// 41 devices as the program reports them: about half known to the demo
// catalogue with an old installed date, the rest unknown.
std::string MakeReport(const std::vector<std::string>& known) {
  std::string r = "<os>xp-32</os>\r\n<partner></partner>\r\n\r\n";
  for (int n = 1; n <= 41; ++n) {
    char own[64];
    std::snprintf(own, sizeof own, "PCI\\VEN_%04X&DEV_%04X", 0x5000 + n, 0x7000 + n * 3);
    std::string hw = (n % 2 == 0 && !known.empty()) ? known[static_cast<size_t>(n / 2) % known.size()] : own;
    r += "<dev>\r\n<id>" + std::to_string(n) + "</id>\r\n<cguid>{4D36E972-E325-11CE-BFC1-08002BE10318}</cguid>\r\n";
    r += "<hwid>" + hw + "&SUBSYS_00011AF4&REV_01, " + hw + "&SUBSYS_00011AF4, " + hw + "</hwid>\r\n";
    r += "<compid>PCI\\CC_020000, PCI\\CC_0200</compid>\r\n<date>1-1-2003</date>\r\n";
    r += "<devname>Device number " + std::to_string(n) + "</devname>\r\n</dev>\r\n\r\n";
  }
  return r;
}

// The upload exactly as the program sends it.
std::string CheckRequest(const std::string& packed, int port) {
  const std::string b = "--------120926072235123";
  std::string body = "--" + b + "\r\nContent-Disposition: form-data; name=\"drvlist\"; filename=\"C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\scanres.log.gz\"\r\n"
                     "Content-Type: application/x-www-form-urlencoded\r\n\r\n" + packed + "\r\n--" + b + "--\r\n";
  return "POST /remote/check_upd.php HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + b +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n" + body;
}

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

struct TResult {
  double Seconds = 0;
  size_t Done = 0, Errors = 0;
  std::vector<double> Latency;  // ms
  std::string FirstError;
  std::string Answer;
};

// Closed-loop load: `clients` connections at a time, each replaced by a new
// one when it ends, for `seconds`. bare: TLS handshakes only.
TResult Run(int port, int clients, double seconds, const std::string& request, bool bare,
            const std::string& expected) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  // As the program: no session is resumed, every check pays a full handshake.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
  SSL_CTX_set_cipher_list(ctx, "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP");

  enum State { kConnecting, kHandshake, kWriting, kReading };
  struct Conn {
    int fd = -1;
    SSL* ssl = nullptr;
    State state = kConnecting;
    size_t sent = 0;
    std::string in;
    Clock::time_point start;
    bool active = false;
  };
  std::vector<Conn> conns(static_cast<size_t>(clients));
  int ep = epoll_create1(EPOLL_CLOEXEC);
  TResult r;
  const auto t0 = Clock::now();
  const auto end = t0 + std::chrono::duration<double>(seconds);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  auto watch = [&](size_t i, uint32_t events, bool add) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = i;
    epoll_ctl(ep, add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, conns[i].fd, &ev);
  };
  std::function<void(size_t)> start;
  auto finish = [&](size_t i, bool ok, const char* why) {
    Conn& c = conns[i];
    if (ok) {
      ++r.Done;
      r.Latency.push_back(std::chrono::duration<double, std::milli>(Clock::now() - c.start).count());
    } else {
      ++r.Errors;
      if (r.FirstError.empty()) r.FirstError = why;
    }
    if (c.ssl) SSL_free(c.ssl);
    c.ssl = nullptr;
    if (c.fd >= 0) close(c.fd);  // also leaves the epoll set
    c.fd = -1;
    c.active = false;
    if (Clock::now() < end) start(i);
  };
  start = [&](size_t i) {
    Conn& c = conns[i];
    c = Conn{};
    c.start = Clock::now();
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    c.active = true;
    int rc = connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno != EINPROGRESS) return finish(i, false, "connect failed");
    watch(i, EPOLLOUT, true);
  };
  // Advances one connection as far as it goes without blocking.
  auto step = [&](size_t i) {
    Conn& c = conns[i];
    auto want = [&](int err) {
      if (err == SSL_ERROR_WANT_READ) return watch(i, EPOLLIN, false), true;
      if (err == SSL_ERROR_WANT_WRITE) return watch(i, EPOLLOUT, false), true;
      return false;
    };
    if (c.state == kConnecting) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) return finish(i, false, "connect refused");
      c.ssl = SSL_new(ctx);
      SSL_set_fd(c.ssl, c.fd);
      SSL_set_connect_state(c.ssl);
      c.state = kHandshake;
    }
    if (c.state == kHandshake) {
      int rc = SSL_do_handshake(c.ssl);
      if (rc != 1) {
        if (!want(SSL_get_error(c.ssl, rc))) finish(i, false, "TLS handshake failed");
        return;
      }
      if (bare) return finish(i, true, "");
      c.state = kWriting;
    }
    if (c.state == kWriting) {
      while (c.sent < request.size()) {
        int rc = SSL_write(c.ssl, request.data() + c.sent, static_cast<int>(request.size() - c.sent));
        if (rc <= 0) {
          if (!want(SSL_get_error(c.ssl, rc))) finish(i, false, "write failed");
          return;
        }
        c.sent += static_cast<size_t>(rc);
      }
      c.state = kReading;
    }
    char buf[16384];
    for (;;) {
      int rc = SSL_read(c.ssl, buf, sizeof buf);
      if (rc <= 0) {
        int err = SSL_get_error(c.ssl, rc);
        if (want(err)) return;
        return finish(i, false, "connection ended before the answer");
      }
      c.in.append(buf, static_cast<size_t>(rc));
      size_t head = c.in.find("\r\n\r\n");
      if (head == std::string::npos) continue;
      size_t cl = c.in.find("Content-Length: ");
      if (cl == std::string::npos || cl > head) return finish(i, false, "answer without Content-Length");
      size_t want_bytes = head + 4 + std::strtoul(c.in.c_str() + cl + 16, nullptr, 10);
      if (c.in.size() < want_bytes) continue;
      std::string body = c.in.substr(head + 4);
      if (c.in.rfind("HTTP/1.1 200", 0) != 0) return finish(i, false, "status not 200");
      if (r.Answer.empty()) r.Answer = body;
      if (!expected.empty() ? body != expected : body.rfind("<errcode>0</errcode>", 0) != 0)
        return finish(i, false, "unexpected answer");
      return finish(i, true, "");
    }
  };

  for (size_t i = 0; i < conns.size(); ++i) start(i);
  std::vector<epoll_event> events(conns.size() + 16);
  for (;;) {
    bool any = false;
    for (const auto& c : conns) any = any || c.active;
    if (!any) break;
    if (Clock::now() > end + std::chrono::seconds(10)) {
      for (size_t i = 0; i < conns.size(); ++i)
        if (conns[i].active) finish(i, false, "no answer within 10 s after the run");
      break;
    }
    int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 100);
    for (int k = 0; k < n; ++k) step(events[static_cast<size_t>(k)].data.u64);
  }
  r.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  close(ep);
  SSL_CTX_free(ctx);
  std::sort(r.Latency.begin(), r.Latency.end());
  return r;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t i = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

void Print(const char* what, int clients, const TResult& r, double window) {
  std::printf("%-28s clients %3d: %7.0f /s  p50 %6.1f ms  p99 %6.1f ms  done %zu  errors %zu%s%s\n", what,
              clients, static_cast<double>(r.Done) / window, Percentile(r.Latency, 0.50),
              Percentile(r.Latency, 0.99), r.Done, r.Errors, r.FirstError.empty() ? "" : "  first: ",
              r.FirstError.c_str());
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
  std::string exe;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--seconds") seconds = std::atof(next().c_str());
    else if (a == "--clients") clients = ParseList(next());
    else if (a == "--entries") entries = std::atol(next().c_str());
    else if (a == "--server") exe = next();
    else if (a == "--quick") seconds = 2, entries = 1000000;
    else {
      std::fprintf(stderr, "usage: %s [--seconds N] [--clients 50,200] [--entries N] [--server PATH] [--quick]\n", argv[0]);
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
  const std::string report = MakeReport(DemoIds(demo));
  const std::string packed = Gzip(report);
  std::printf("report: 41 devices, %zu bytes, %zu packed; %.1f s per run\n", report.size(), packed.size(),
              seconds);

  int rc = 0;
  try {
    // The demo catalogue: bare handshakes, then checks at each concurrency.
    TServer s = StartServer(exe, dir + "/data", demo);
    const std::string request = CheckRequest(packed, s.Https);
    TResult probe = Run(s.Https, 1, 0.2, request, false, "");
    const std::string expected = probe.Answer;
    size_t devices = 0;
    for (size_t p = expected.find("<dev>"); p != std::string::npos; p = expected.find("<dev>", p + 1)) ++devices;
    std::printf("answer: %zu bytes, %zu devices out of date\n", expected.size(), devices);
    double bareRate = 0;
    for (int n : clients) {
      TResult h = Run(s.Https, n, seconds, request, true, "");
      Print("bare TLS handshakes", n, h, seconds);
      bareRate = std::max(bareRate, static_cast<double>(h.Done) / seconds);
      TResult c = Run(s.Https, n, seconds, request, false, expected);
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
        int n = std::snprintf(line, sizeof line,
                              "PCI\\VEN_%04lX&DEV_%04lX&SUBSYS_%08lX | %ld-%ld-20%02ld | %ld.%ld.%ld.%ld | Vendor %ld | "
                              "https://dl.vendor.example/drivers/%ld.zip\n",
                              (k >> 16) & 0xFFFF, k & 0xFFFF, (k * 2654435761u) & 0xFFFFFFFF, 1 + k % 12,
                              1 + k % 28, k % 25, k % 30, k % 100, k % 1000, k % 9999, k % 997, k);
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
      std::printf("catalogue of %zu entries (%.0f MiB file): loaded in %.2f s (%.2f s CPU), %.0f MiB held, "
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
    const std::string requestBig = CheckRequest(packed, b.Https);
    TResult cb = Run(b.Https, n, seconds, requestBig, false, expected);
    Print("checks (1M catalogue)", n, cb, seconds);
    TResult one = Run(b.Https, 1, seconds / 2, requestBig, false, expected);
    Print("checks (1M catalogue)", 1, one, seconds / 2);
    StopServer(b);
    TServer d = StartServer(exe, dir + "/data", demo);
    TResult cd = Run(d.Https, n, seconds, CheckRequest(packed, d.Https), false, expected);
    Print("checks (demo catalogue)", n, cd, seconds);
    TResult oned = Run(d.Https, 1, seconds / 2, CheckRequest(packed, d.Https), false, expected);
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
