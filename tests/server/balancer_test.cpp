// The shipped load-balancer setup (server/deploy/haproxy.cfg): HAProxy in
// front of three korvane-updsrv instances sharing one data folder (catalogue,
// certificate, packages), loaded with checks from the reference client's
// generator while
//   (a) one instance is stopped with SIGTERM (lame duck) and started again,
//       as in a rolling restart: no check and no download fails;
//   (b) another is killed with SIGKILL: only checks in flight on it fail,
//       none that started after the kill.
// Health checks run every 100 ms here, so the whole run takes a few seconds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "CheckLoad.h"
#include "support/ScratchFolder.h"
#include "support/UpdateServerProcess.h"

using namespace korvane::testing;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Source(const std::string& rel) {
  const char* src = std::getenv("KORVANE_SOURCE_DIR");
  return std::string(src ? src : ".") + "/" + rel;
}

std::string FindHaproxy() {
  for (const char* p : {"/usr/sbin/haproxy", "/usr/local/sbin/haproxy", "/usr/bin/haproxy"})
    if (::access(p, X_OK) == 0) return p;
  return "";
}

// A port free at this moment on loopback.
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool Listening(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// HAProxy in the foreground with the shipped configuration; ends with the
// test process.
class Haproxy {
 public:
  Haproxy(const std::string& exe, const std::vector<std::pair<std::string, std::string>>& env,
          const std::string& log) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
      const std::string cfg = Source("server/deploy/haproxy.cfg");
      ::execl(exe.c_str(), exe.c_str(), "-db", "-f", cfg.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Haproxy() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

// Waits for a process to end without reaping it (its helper does that).
void WaitForExit(pid_t pid) {
  siginfo_t info{};
  ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
}

}  // namespace

TEST(LoadBalancer, RollingRestartAndAKilledInstance) {
  const std::string haproxy = FindHaproxy();
  ASSERT_FALSE(haproxy.empty()) << "haproxy is not installed (scripts/bootstrap installs it)";
  ASSERT_TRUE(UpdateServerProcess::Available());
  const std::string dir = MakeScratchFolder("updsrv-lb");
  const std::string data = dir + "/data";
  WriteTextFile(dir + "/catalogue.txt",
                ReadAll(Source("demo/catalogue.txt")) + "\n@package lb-big.bin 12M\n");

  const int lbHttp = FreePort(), lbHttps = FreePort();
  auto options = [&](std::vector<std::string> ports) {
    UpdateServerOptions o;
    o.DataDir = data;  // one catalogue, certificate and set of packages
    o.Catalogue = dir + "/catalogue.txt";
    o.ExtraArgs = {"--no-log", "--lame-duck",   "1s",
                   "--grace",  "10s",           "--max-uploads-per-client",
                   "0",        "--public-base", "http://127.0.0.1:" + std::to_string(lbHttp)};
    o.ExtraArgs.insert(o.ExtraArgs.end(), ports.begin(), ports.end());
    return o;
  };
  // The first instance makes the CA, certificate and packages; the others
  // find them.
  std::optional<UpdateServerProcess> instance[3];
  for (auto& i : instance) i.emplace(options({}));
  std::vector<std::pair<std::string, std::string>> env = {
      {"KV_LB_HTTP", "127.0.0.1:" + std::to_string(lbHttp)},
      {"KV_LB_HTTPS", "127.0.0.1:" + std::to_string(lbHttps)},
      {"KV_LB_CHECK_INTER", "100ms"},
  };
  for (int n = 0; n < 3; ++n) {
    const std::string k = "KV_UPDSRV" + std::to_string(n + 1);
    env.push_back({k + "_HTTP", "127.0.0.1:" + std::to_string(instance[n]->HttpPort())});
    env.push_back({k + "_HTTPS", "127.0.0.1:" + std::to_string(instance[n]->HttpsPort())});
    env.push_back({k + "_CHECK_PORT", std::to_string(instance[n]->HttpPort())});
  }
  const std::string lbLog = dir + "/haproxy.log";
  std::optional<Haproxy> lb;
  lb.emplace(haproxy, env, lbLog);
  for (int i = 0; i < 100 && !(Listening(lbHttp) && Listening(lbHttps)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(lb->Running()) << ReadAll(lbLog);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // first health checks

  checkload::TTarget target;
  target.Port = lbHttps;
  const std::string request = checkload::CheckRequest(
      checkload::Gzip(checkload::MakeReport(checkload::CatalogueIds(dir + "/catalogue.txt"))),
      "127.0.0.1:" + std::to_string(lbHttps));
  const checkload::TResult first = checkload::Run(target, 1, 0.1, request, false, "");
  ASSERT_EQ(first.Errors, 0u) << first.FirstError << "\n" << ReadAll(lbLog);
  ASSERT_NE(first.Answer.find("<dev><id>"), std::string::npos) << first.Answer;
  EXPECT_NE(first.Answer.find("http://127.0.0.1:" + std::to_string(lbHttp) + "/packages/"), std::string::npos)
      << "answers name the balancer, not an instance";

  const std::string big = ReadAll(data + "/packages/lb-big.bin");
  ASSERT_EQ(big.size(), 12u << 20);

  // The load: checks through the HTTPS frontend, downloads through the HTTP one.
  const auto t0 = Clock::now();
  checkload::TResult load;
  std::atomic<bool> enough{false};
  std::thread checks([&] { load = checkload::Run(target, 6, 60, request, false, first.Answer, &enough); });
  std::atomic<bool> downloading{true};
  std::atomic<int> downloads{0}, badDownloads{0};
  std::thread downloader([&] {
    while (downloading) {
      httplib::Client c("127.0.0.1", lbHttp);
      c.set_read_timeout(15, 0);
      std::string got;
      // Read at a modest pace, so that downloads are in flight at the stop.
      auto res = c.Get("/packages/lb-big.bin", [&](const char* d, size_t n) {
        got.append(d, n);
        if (got.size() % (1 << 20) < n) std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return true;
      });
      ++downloads;
      if (!res || res->status != 200 || got != big) ++badDownloads;
    }
  });

  // (a) A rolling restart of instance 1: SIGTERM, it ends after its lame
  // duck and its downloads, and comes back on the same ports.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int http1 = instance[0]->HttpPort(), https1 = instance[0]->HttpsPort();
  ::kill(instance[0]->Pid(), SIGTERM);
  WaitForExit(instance[0]->Pid());
  const auto stopped = Clock::now();
  EXPECT_GE(stopped - t0, std::chrono::milliseconds(1200)) << "the lame duck came first";
  EXPECT_EQ(WEXITSTATUS(instance[0]->Stop()), 0);
  instance[0].emplace(options(
      {"--http", "127.0.0.1:" + std::to_string(http1), "--https", "127.0.0.1:" + std::to_string(https1)}));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // marked up again
  downloading = false;
  downloader.join();

  // (b) Instance 2 is killed. Its sockets are gone once the process is: a
  // connection it still took before that counts as in flight.
  const auto killing = Clock::now();
  ::kill(instance[1]->Pid(), SIGKILL);
  WaitForExit(instance[1]->Pid());
  const auto killed = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  enough = true;
  checks.join();
  lb.reset();

  const std::string log = ReadAll(lbLog);
  EXPECT_NE(log.find("updsrv1 is DOWN"), std::string::npos) << "the lame duck's health check\n" << log;
  EXPECT_NE(log.find("updsrv1 is UP"), std::string::npos) << log;
  EXPECT_NE(log.find("updsrv2 is DOWN"), std::string::npos) << log;
  EXPECT_GE(downloads.load(), 2);
  EXPECT_EQ(badDownloads.load(), 0) << "downloads failed during the rolling restart";
  size_t before = 0, after = 0, failedInFlight = 0, failedWhileDying = 0;
  for (const auto& c : load.Checks) {
    if (c.End < killing) {
      ++before;
      EXPECT_TRUE(c.Ok) << "a check failed during the rolling restart: " << c.Why;
    } else if (c.Start > killed) {
      ++after;
      EXPECT_TRUE(c.Ok) << "a check started after the kill failed: " << c.Why;
    } else if (!c.Ok && c.Start <= killing) {
      ++failedInFlight;
    } else if (!c.Ok) {
      ++failedWhileDying;  // taken by the instance while SIGKILL ended it
    }
  }
  EXPECT_GT(before, 20u);
  EXPECT_GT(after, 20u);
  EXPECT_LE(failedInFlight, 6u) << "more failed than were in flight";
  std::printf(
      "checks: %zu before the kill, %zu after it, %zu failed in flight on the killed instance (%zu more "
      "taken while it died); %d downloads\n",
      before, after, failedInFlight, failedWhileDying, downloads.load());
  for (auto& i : instance) i.reset();
  RemoveFolder(dir);
}
