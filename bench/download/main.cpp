// A driver package through TDownThread, its progress calls answered by a
// headless user-interface queue that builds the dialog's texts, beside curl
// fetching the same URL into the same folder in the same run. Prints both
// throughputs, their ratio and the download's peak memory above idle.
// Usage: bench_download [MiB=512] [rounds=3] [folder=$TMPDIR or /tmp]
#include "download/uDownText.h"
#include "download/uDownThread.h"

#include "support/BodyServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {


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
  BodyServer server(size, "/packages/big_driver.exe");
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
