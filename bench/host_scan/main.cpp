// A scan of the live host's devices (korvane-check's device listing, a whole process)
// beside what the system's own tools take to list the same buses, `lspci -nnk; lsusb -v`,
// run alternately; wall time and peak resident memory of each, medians.
//
//   bench_host_scan [--runs N]   (default 15)
#include "support/ScratchMachine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

struct Run {
  double ms = -1;
  double peakMiB = 0;
};

// argv run to its end with its output discarded; its exit status counts when mustSucceed
// (lsusb ends with 1 on a machine without USB).
Run Once(const std::vector<std::string>& argv, bool mustSucceed) {
  std::vector<char*> a;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  Run r;
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(a[0], a.data());
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  if (!WIFEXITED(status) || (mustSucceed && WEXITSTATUS(status) != 0)) return r;
  r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  r.peakMiB = ru.ru_maxrss / 1024.0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 15;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
  // The live host, its hives in a scratch folder.
  const korvane::testing::ScratchMachine machine(korvane::testing::ScratchMachine::Host::Live);
  std::vector<double> scan, tools, scanMem, toolsMem;
  for (int i = 0; i < runs; ++i) {
    const Run a = Once({KORVANE_CHECK}, true);
    const Run b = Once({"sh", "-c", "lspci -nnk; lsusb -v"}, false);
    if (a.ms < 0 || b.ms < 0) {
      std::fprintf(stderr, "run %d failed (korvane-check %.1f ms, lspci/lsusb %.1f ms)\n", i, a.ms, b.ms);
      continue;
    }
    scan.push_back(a.ms);
    tools.push_back(b.ms);
    scanMem.push_back(a.peakMiB);
    toolsMem.push_back(b.peakMiB);
  }
  if (scan.empty()) return 1;
  const double s = Median(scan), t = Median(tools);
  std::printf(
      "host scan %.1f ms, lspci -nnk; lsusb -v %.1f ms: ratio %.2f (median of %zu alternating runs)\n", s, t,
      s / t, scan.size());
  std::printf("peak memory: host scan %.1f MiB, lspci/lsusb %.1f MiB (largest process)\n", Median(scanMem),
              Median(toolsMem));
  return 0;
}
