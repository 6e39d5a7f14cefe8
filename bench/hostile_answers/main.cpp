// The program against an update server whose answers are 256 MiB long: the probe,
// the root certificate, the message of the day and the check's answer. Each case
// runs in its own child process (a whole scan of a 40-device machine with the
// update check, or the message fetch as the main window runs it), so that its peak
// memory is its own. The server streams the bodies, so it holds none of them.
//
//   bench_hostile_answers [--mib 256]
//
// Prints per case the child's peak resident memory, its difference to the normal
// check's, the time, how the scan ended and the sizes of what was stored: "ccc3",
// "answ.log", "https.log" and the settings hive (user.reg).
#include "bench/hostile_answers/servers.h"
#include "core/uAppState.h"
#include "core/uSettings.h"
#include "core/uThread.h"
#include "scan/uSSLRequest.h"
#include "scan/uScanThread.h"
#include "scan/uServerUrls.h"
#include "support/GeneratedMachine.h"
#include "support/QuietScanPage.h"
#include "support/ScanChild.h"
#include "support/ScratchFolder.h"
#include "support/SelfSignedCert.h"

#include <korvane_machine.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

long long FileSize(const fs::path& p) {
  std::error_code ec;
  const auto n = fs::file_size(p, ec);
  return ec ? -1 : static_cast<long long>(n);
}

// Child: one case. Prints "end=<end> cause=<kind>".
int RunOne(const std::string& what, const std::string& machine, const std::string& http,
           const std::string& https) {
  TKorvaneState state;
  if (!korvane::testing::PrepareScanChild(machine, http, https, state)) return 3;
  TPumpedUiQueue queue;
  InstallUiQueue(&queue);
  state.LoadSettings();
  if (what == "message") {
    // As the main window fetches the message of the day.
    auto* t = new TSSLRequestThread(true);
    t->URL = UserMessageAddress();
    std::size_t got = 0;
    t->OnTerminate = [&](TThread& th) { got = static_cast<TSSLRequestThread&>(th).Answer.size(); };
    TWaitHandle done = t->Handle();
    t->Start();
    queue.PumpUntil([&] { return done->IsSet(); }, WaitInfinite);
    std::printf("end=fetched cause=%zu-characters\n", got);
  } else {
    korvane::testing::QuietScanPage page;
    TScanThread scan(state, page);
    TWaitHandle done = scan.Handle();
    scan.Start();
    queue.PumpUntil([&] { return done->IsSet(); }, WaitInfinite);
    queue.PumpUntil([] { return false; }, 50);  // a late certificate completion
    std::printf("end=%s cause=%s\n", ScanEndName(scan.End), CauseKindName(scan.Cause.Kind));
  }
  InstallUiQueue(nullptr);
  return 0;
}

void GenerateMachine(const std::string& dir) {
  korvane::testing::MachineGenerator g;
  g.Classes.push_back({"{4D36E968-E325-11CE-BFC1-08002BE10318}", "Display adapters"});
  g.Classes.push_back({"{4D36E972-E325-11CE-BFC1-08002BE10318}", "Network adapters"});
  g.DevicesIn = [](int) { return 20; };
  g.Properties = [](const korvane::testing::GeneratedDevice& d) {
    const std::string made = std::to_string(d.serial);
    return "\"FRIENDLYNAME\": \"Generated device " + made + "\", \"HARDWAREID\": [\"PCI\\\\VEN_1000&DEV_" +
           korvane::testing::Hex4(d.serial) + "\"], \"COMPATIBLEIDS\": [\"PCI\\\\CC_0300\"], ";
  };
  g.DriverVersion = [](const korvane::testing::GeneratedDevice& d) {
    return "5.1." + std::to_string(d.serial);
  };
  g.WriteTo(dir);
}

struct TRun {
  long PeakKb = 0;
  double Ms = 0;
  std::string Line;
};

bool RunChild(const std::string& self, const std::string& what, const std::string& machine,
              const THostileServers& s, TRun& out) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return false;
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    const std::string http = "http://127.0.0.1:" + std::to_string(s.HttpPort());
    const std::string https = "https://127.0.0.1:" + std::to_string(s.HttpsPort());
    ::execl(self.c_str(), self.c_str(), "--one", what.c_str(), machine.c_str(), http.c_str(), https.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  char buf[512];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) out.Line.append(buf, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  out.Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  out.PeakKb = ru.ru_maxrss;
  while (!out.Line.empty() && out.Line.back() == '\n') out.Line.pop_back();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 6 && std::string(argv[1]) == "--one") return RunOne(argv[2], argv[3], argv[4], argv[5]);
  int64_t mib = 256;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::string(argv[i]) == "--mib") mib = std::atoll(argv[i + 1]);

  char selfBuf[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", selfBuf, sizeof selfBuf - 1);
  const std::string self = n > 0 ? std::string(selfBuf, static_cast<std::size_t>(n)) : argv[0];
  signal(SIGPIPE, SIG_IGN);

  const std::string root = korvane::testing::MakeScratchFolder("kv-bench-hostile");
  const auto cert = korvane::testing::MakeSelfSignedCert("127.0.0.1");
  cert.WriteTo(root + "/cert.pem", root + "/key.pem");
  THostileServers servers(cert.CertPem, mib * 1024 * 1024, root + "/cert.pem", root + "/key.pem");

  std::printf("bodies of %lld MiB; a 40-device machine; each case in its own process\n",
              static_cast<long long>(mib));
  std::printf("%-8s %10s %10s %9s  %-34s %8s %10s %10s %10s\n", "case", "peak MiB", "vs normal", "ms",
              "outcome", "ccc3", "answ.log", "https.log", "user.reg");
  long normalKb = 0;
  int rc = 0;
  for (const char* name : {"normal", "probe", "cert", "answer", "message"}) {
    const std::string what = name;
    const std::string machine = root + "/m-" + what;
    GenerateMachine(machine);
    servers.SetHostile(what == "normal" ? "" : what);
    TRun r;
    const bool ok = RunChild(self, what == "message" ? "message" : "scan", machine, servers, r);
    if (!ok) rc = 1;
    if (what == "normal") normalKb = r.PeakKb;
    std::printf("%-8s %10.1f %+10.1f %9.0f  %-34s %8lld %10lld %10lld %10lld\n", what.c_str(),
                r.PeakKb / 1024.0, (r.PeakKb - normalKb) / 1024.0, r.Ms, r.Line.c_str(),
                FileSize(machine + "/Temp/ccc3"), FileSize(machine + "/Temp/answ.log"),
                FileSize(machine + "/Temp/https.log"), FileSize(machine + "/user.reg"));
    std::fflush(stdout);
  }
  korvane::testing::RemoveFolder(root);
  return rc;
}
