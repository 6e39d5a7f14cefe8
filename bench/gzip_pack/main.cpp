// Packing time of TGzip at level 9 on a report-like text file, beside
// `gzip -9 -c` of the same file in the same run.
// Usage: bench_gzip_pack [MiB=64] [folder=/tmp]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "net/uGzip.h"

namespace {

// Device blocks like the scan report's, with varying names, IDs and dates.
void WriteReport(const std::string& path, int64_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  static const char* classes[] = {"{4D36E968-E325-11CE-BFC1-08002BE10318}", "{4D36E96C-E325-11CE-BFC1-08002BE10318}",
                                  "{4D36E972-E325-11CE-BFC1-08002BE10318}", "{36FC9E60-C465-11CF-8056-444553540000}",
                                  "{4D36E97D-E325-11CE-BFC1-08002BE10318}"};
  static const char* names[] = {"Intel(R) Ethernet Connection", "High Definition Audio Device",
                                "USB Root Hub", "Standard SATA AHCI Controller", "PCI Express Root Port",
                                "NVIDIA GeForce Graphics", "Generic USB Hub", "HID Keyboard Device"};
  std::mt19937 gen(42);
  std::string text = "<os>xp-32</os>\r\n<partner>none</partner>\r\n\r\n";
  int64_t written = 0;
  char buf[512];
  for (int n = 1; written < size; ++n) {
    auto pick = [&gen](unsigned m) { return static_cast<unsigned>(gen() % m); };
    const unsigned ven = pick(0x10000), dev = pick(0x10000), sub = static_cast<unsigned>(gen()), rev = pick(256);
    const char* cls = classes[pick(5)];
    const unsigned cc = pick(0x1000000), month = 1 + pick(12), day = 1 + pick(28), year = 2000 + pick(10);
    const char* name = names[pick(8)];
    const unsigned inst = pick(16);
    std::snprintf(buf, sizeof buf,
                  "<dev>\r\n<id>%d</id>\r\n<cguid>%s</cguid>\r\n"
                  "<hwid>PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_%02X,PCI\\VEN_%04X&DEV_%04X</hwid>\r\n"
                  "<compid>PCI\\VEN_%04X&CC_%06X,PCI\\CC_0300</compid>\r\n<date>%u-%u-%u</date>\r\n"
                  "<devname>%s #%u</devname>\r\n</dev>\r\n\r\n",
                  n, cls, ven, dev, sub, rev, ven, dev, ven, cc, month, day, year, name, inst);
    text += buf;
    if (text.size() >= (1 << 20)) {
      const std::size_t n2 = static_cast<std::size_t>(std::min<int64_t>(text.size(), size - written));
      std::fwrite(text.data(), 1, n2, f);
      written += static_cast<int64_t>(n2);
      text.clear();
    }
  }
  std::fclose(f);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long long FileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  std::fseek(f, 0, SEEK_END);
  const long long n = std::ftell(f);
  std::fclose(f);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 64;
  const std::string folder = argc > 2 ? argv[2] : "/tmp";
  const std::string src = folder + "/korvane-bench-" + std::to_string(getpid()) + ".log";
  const std::string ours = src + ".gz", theirs = src + ".gzip.gz";
  WriteReport(src, mib << 20);

  TGzip gz;
  gz.FileSource = src;
  gz.FileDestination = ours;
  gz.CompressionLevel = 9;
  auto t0 = std::chrono::steady_clock::now();
  const int rc = static_cast<int>(gz.Execute());
  const double tOurs = Seconds(t0);
  t0 = std::chrono::steady_clock::now();
  const int grc = std::system(("gzip -9 -c '" + src + "' > '" + theirs + "'").c_str());
  const double tGzip = Seconds(t0);
  const long long sOurs = FileSize(ours), sGzip = FileSize(theirs);
  std::remove(src.c_str());
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
  if (rc != 0 || grc != 0) {
    std::fprintf(stderr, "packing failed: TGzip %d, gzip %d\n", rc, grc);
    return 1;
  }
  std::printf("source: %lld MiB report-like text\n", static_cast<long long>(mib));
  std::printf("TGzip level 9: %.3f s, %lld bytes\n", tOurs, sOurs);
  std::printf("gzip -9 -c:    %.3f s, %lld bytes\n", tGzip, sGzip);
  std::printf("ratio (TGzip / gzip time): %.3f (target <= 1.1)\n", tOurs / tGzip);
  return 0;
}
