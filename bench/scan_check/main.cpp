// Whole scans with the update check of generated machines (5,000 and 10,000
// devices) against the reference update server on loopback. Each size runs in
// its own child process so that its peak memory is its own.
//
//   bench_scan_check [--sizes 5000,10000] [--runs 3] [--keep]
//
// --keep leaves the generated machines and catalogue in place and names their folder,
// for profiling a child (`bench_scan_check --one MACHINE HTTP HTTPS RUNS`) by hand.
// Prints, per size, the best wall time of the scan (device phase and exchange),
// the child's peak resident memory, the size of devices.json and the peak's ratio
// to it, and the device phase's own best time, then the ratio of the times. A
// check the server refused (an answer with an error code above 1) is an error.
#include "core/uAppState.h"
#include "core/uSettings.h"
#include "core/uThread.h"
#include "scan/uScanThread.h"
#include "scan/uServerUrls.h"
#include "support/GeneratedMachine.h"
#include "support/QuietScanPage.h"
#include "support/ScanChild.h"
#include "support/ScratchFolder.h"
#include "support/UpdateServerProcess.h"

#include <korvane_machine.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TClassSpec {
  const char* Guid;
  const char* Description;
};

// Ordinary setup classes (none of them excluded from the catalogue).
const TClassSpec kClasses[] = {
    {"{4D36E968-E325-11CE-BFC1-08002BE10318}", "Display adapters"},
    {"{4D36E972-E325-11CE-BFC1-08002BE10318}", "Network adapters"},
    {"{4D36E97D-E325-11CE-BFC1-08002BE10318}", "System devices"},
    {"{4D36E96C-E325-11CE-BFC1-08002BE10318}", "Sound, video and game controllers"},
    {"{4D36E96B-E325-11CE-BFC1-08002BE10318}", "Keyboards"},
    {"{4D36E96F-E325-11CE-BFC1-08002BE10318}", "Mice and other pointing devices"},
    {"{4D36E978-E325-11CE-BFC1-08002BE10318}", "Ports (COM & LPT)"},
    {"{36FC9E60-C465-11CF-8056-444553540000}", "Universal Serial Bus controllers"},
    {"{4D36E96A-E325-11CE-BFC1-08002BE10318}", "IDE ATA/ATAPI controllers"},
    {"{4D36E967-E325-11CE-BFC1-08002BE10318}", "Disk drives"},
};
constexpr int kClassCount = sizeof kClasses / sizeof kClasses[0];

// A machine folder with `devices` devices spread over the classes, each with a
// driver key; every tenth device has an ID that the catalogue offers a newer driver for,
// up to about 10,000 of them (beyond that the answer would pass the client's cap on
// an answer's size, which a real catalogue's answer never comes near).
void GenerateMachine(const std::string& dir, int devices, std::string& catalogue) {
  const int outOfDateStep = std::max(10, devices / 10000);
  using korvane::testing::GeneratedDevice;
  using korvane::testing::Hex4;
  korvane::testing::MachineGenerator g;
  for (const TClassSpec& c : kClasses) g.Classes.push_back({c.Guid, c.Description});
  g.DevicesIn = [devices](int c) { return devices / kClassCount + (c < devices % kClassCount ? 1 : 0); };
  g.Properties = [](const GeneratedDevice& d) {
    const std::string ven = Hex4(0x1000 + d.classIndex), dev = Hex4(d.serial),
                      made = std::to_string(d.serial);
    const std::string hw =
        "PCI\\\\VEN_" + ven + "&DEV_" + dev + "&SUBSYS_" + Hex4(d.serial * 7) + "0000&REV_01";
    const std::string hw2 = "PCI\\\\VEN_" + ven + "&DEV_" + dev;
    return "\"FRIENDLYNAME\": \"Generated device " + made + "\", \"DEVICEDESC\": \"Device " + made +
           "\", \"HARDWAREID\": [\"" + hw + "\", \"" + hw2 + "\"], \"COMPATIBLEIDS\": [\"PCI\\\\VEN_" + ven +
           "&CC_0300\", \"PCI\\\\CC_0300\"], ";
  };
  g.DriverVersion = [](const GeneratedDevice& d) { return "5.1.2600." + std::to_string(d.serial); };
  std::ostringstream cat;
  g.OnDevice = [&cat, outOfDateStep](const GeneratedDevice& d) {
    if (d.serial % outOfDateStep == 0)
      cat << "PCI\\VEN_" << Hex4(0x1000 + d.classIndex) << "&DEV_" << Hex4(d.serial) << " | 3-4-2009 | 6.0."
          << d.serial << " | Generated | gen.zip\n";
  };
  g.WriteTo(dir);
  catalogue += cat.str();
}

long PeakKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Child: one machine, `runs` whole scans; prints "ms=<best> peak_kb=<peak> od=<n> devices=<n>".
int RunOne(const std::string& machine, const std::string& http, const std::string& https, int runs) {
  TKorvaneState state;
  if (!korvane::testing::PrepareScanChild(machine, http, https, state)) return 3;
  TPumpedUiQueue queue;
  InstallUiQueue(&queue);
  korvane::testing::QuietScanPage page(true);
  // The device phase alone, to tell its share from the exchange's.
  double bestDevices = 1e18;
  for (int r = 0; r < runs; ++r) {
    // Each scan's own peak: the result the last one handed over is let go first (the
    // program keeps it while a new scan runs, which these figures leave out).
    state.ClearDrivers();
    state.ClearCatalogue();
    const auto t0 = std::chrono::steady_clock::now();
    {
      TScanThread scan(state, page);
      scan.RunExchange = false;
      TWaitHandle done = scan.Handle();
      scan.Start();
      queue.PumpUntil([&] { return done->IsSet(); }, WaitInfinite);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (ms < bestDevices) bestDevices = ms;
  }
  double best = 1e18;
  bool ok = true;
  for (int r = 0; r < runs; ++r) {
    // Each scan's own peak: the result the last one handed over is let go first (the
    // program keeps it while a new scan runs, which these figures leave out).
    state.ClearDrivers();
    state.ClearCatalogue();
    const auto t0 = std::chrono::steady_clock::now();
    {
      TScanThread scan(state, page);
      TWaitHandle done = scan.Handle();
      scan.Start();
      queue.PumpUntil([&] { return done->IsSet(); }, WaitInfinite);
      // An answer with an error code above 1 is the server refusing the check: no check.
      ok = ok && scan.End == TScanEnd::Checked && scan.ErrCode <= 1;
      if (scan.End != TScanEnd::Checked)
        std::cerr << "scan " << ScanEndName(scan.End) << ": " << scan.Cause.Text << "\n";
      else if (scan.ErrCode > 1)
        std::cerr << "check refused (error code " << scan.ErrCode << "): " << scan.ErrMsg << "\n";
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (ms < best) best = ms;
  }
  queue.PumpUntil([] { return false; }, 20);
  InstallUiQueue(nullptr);
  std::printf("ms=%.1f peak_kb=%ld od=%d devices=%d devices_ms=%.1f\n", best, PeakKb(),
              state.Settings.odDrivers, state.DrvCount, bestDevices);
  return ok ? 0 : 1;
}

struct TFigures {
  double Ms = 0;
  long PeakKb = 0;
  int Od = 0;
  int Devices = 0;
  double DevicesMs = 0;
  bool Failed = false;
};

bool RunChild(const std::string& self, const std::string& machine, const std::string& http,
              const std::string& https, int runs, TFigures& out) {
  const std::string cmd =
      "'" + self + "' --one '" + machine + "' '" + http + "' '" + https + "' " + std::to_string(runs);
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  char line[256] = {};
  bool got = false;
  while (std::fgets(line, sizeof line, p)) {
    if (std::sscanf(line, "ms=%lf peak_kb=%ld od=%d devices=%d devices_ms=%lf", &out.Ms, &out.PeakKb, &out.Od,
                    &out.Devices, &out.DevicesMs) == 5)
      got = true;
  }
  const int status = pclose(p);
  return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "--one")
    return RunOne(argv[2], argv[3], argv[4], argc >= 6 ? std::atoi(argv[5]) : 1);

  std::vector<int> sizes = {5000, 10000};
  int runs = 3;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--keep") {
      keep = true;
      continue;
    }
    if (i + 1 >= argc) break;
    if (a == "--runs") runs = std::atoi(argv[i + 1]);
    if (a == "--sizes") {
      sizes.clear();
      std::stringstream s(argv[i + 1]);
      for (std::string item; std::getline(s, item, ',');) sizes.push_back(std::atoi(item.c_str()));
    }
    ++i;
  }
  if (!korvane::testing::UpdateServerProcess::Available()) {
    std::cerr << "korvane-updsrv not found (" << korvane::testing::UpdateServerProcess::BinaryPath()
              << "); set KORVANE_BINARY_DIR or KORVANE_UPDSRV\n";
    return 2;
  }
  char selfBuf[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", selfBuf, sizeof selfBuf - 1);
  const std::string self = n > 0 ? std::string(selfBuf, static_cast<std::size_t>(n)) : argv[0];

  const std::string root = korvane::testing::MakeScratchFolder("kv-bench-scan");
  std::vector<std::string> machines;
  std::string catalogue;
  for (int size : sizes) {
    const std::string dir = root + "/m" + std::to_string(size);
    GenerateMachine(dir, size, catalogue);
    machines.push_back(dir);
  }
  korvane::testing::WriteTextFile(root + "/catalogue.txt", catalogue);
  korvane::testing::UpdateServerOptions opt;
  opt.Catalogue = root + "/catalogue.txt";
  // The server's default caps suit real machines; the largest generated ones send more.
  const long long maxDevices = *std::max_element(sizes.begin(), sizes.end());
  opt.ExtraArgs = {"--max-devices", std::to_string(maxDevices),
                   "--max-report",  std::to_string(std::max(8LL << 20, maxDevices * 2048)),
                   "--max-upload",  std::to_string(std::max(1LL << 20, maxDevices * 512))};
  int rc = 0;
  std::vector<TFigures> figures;
  {
    korvane::testing::UpdateServerProcess server(opt);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      TFigures f;
      if (!RunChild(self, machines[i], server.HttpBase(), server.HttpsBase(), runs, f)) {
        std::cerr << "run of " << sizes[i] << " devices failed\n";
        f.Failed = true;
        rc = 1;
      }
      figures.push_back(f);
      struct stat st {};
      const double inputMiB =
          stat((machines[i] + "/devices.json").c_str(), &st) == 0 ? st.st_size / 1048576.0 : 0;
      std::printf(
          "%6d devices: %8.1f ms  peak %7.1f MiB  devices.json %7.1f MiB  peak/input %.2f  (%d records, %d "
          "out of date; device phase alone %.1f ms)%s\n",
          sizes[i], f.Ms, f.PeakKb / 1024.0, inputMiB, inputMiB > 0 ? f.PeakKb / 1024.0 / inputMiB : 0.0,
          f.Devices, f.Od, f.DevicesMs, f.Failed ? "  ERROR" : "");
    }
  }
  if (figures.size() >= 2 && figures[0].Ms > 0)
    std::printf("ratio %d/%d devices: time %.2f, peak memory %.2f\n", sizes[1], sizes[0],
                figures[1].Ms / figures[0].Ms,
                static_cast<double>(figures[1].PeakKb) / static_cast<double>(figures[0].PeakKb));
  if (keep)
    std::printf("machines kept in %s\n", root.c_str());
  else
    korvane::testing::RemoveFolder(root);
  return rc;
}
