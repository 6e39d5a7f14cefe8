// Registry and device inventory at scale: generated machine folders, timed through the
// platform layer's own calls (and, for the device figures, a whole device phase of a scan).
//
//   bench_hive_scale [keys|save|values|binary|classes|devices]   (default: all)
//
// Prints: hives of 10,000 and 100,000 keys (load, lookup of every key, one write) and
// their ratio; a save of the settings into a user hive of 100,000 keys beside writing
// and syncing that hive's file once and beside a plain atomic replacement of it
// (medians of alternating runs, the file system settled before each) and the ratios; one
// value added to a key of 20,000 values; one read of a 1 MiB and a
// 2 MiB REG_BINARY value as the hive writer wraps it; a devices.json of 10,000 classes;
// a scan of 100,000 devices with their driver keys.
#include "core/uAppState.h"
#include "core/uSettings.h"
#include "core/uThread.h"
#include "scan/uScanThread.h"
#include "support/GeneratedMachine.h"
#include "support/QuietScanPage.h"
#include "support/ScratchMachine.h"

#include <cfgmgr32.h>
#include <korvane_machine.h>
#include <setupapi.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

using korvane::testing::Dec4;
using korvane::testing::ScratchMachine;

const char* const kClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const char* const kGuid = "{4D36E968-E325-11CE-BFC1-08002BE10318}";

struct KeyFigures {
  double load = 0, lookup = 0, write = 0;
  double Total() const { return load + lookup + write; }
};

// n sibling driver keys of one class, three values each, in the order a scan numbers them.
KeyFigures Keys(int n) {
  const ScratchMachine m;
  std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < n; ++i)
    reg += std::string("[HKEY_LOCAL_MACHINE\\") + kClassKey + kGuid + "\\" + Dec4(i) +
           "]\r\n\"DriverDate\"=\"7-1-2001\"\r\n\"ProviderName\"=\"Generated\"\r\n\"DriverVersion\"=\"5.1." +
           std::to_string(i) + "\"\r\n\r\n";
  m.Write("system.reg", reg);
  m.Select();
  KeyFigures f;
  auto t0 = Clock::now();
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &h) != ERROR_SUCCESS)
    std::cerr << "load failed\n";
  RegCloseKey(h);
  f.load = MsSince(t0);
  t0 = Clock::now();
  int found = 0;
  for (int i = 0; i < n; ++i) {
    const std::string path = std::string(kClassKey) + kGuid + "\\" + Dec4(i);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) continue;
    char buf[64];
    DWORD size = sizeof buf, type = 0;
    if (RegQueryValueExA(h, "DriverDate", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) ==
        ERROR_SUCCESS)
      ++found;
    RegCloseKey(h);
  }
  f.lookup = MsSince(t0);
  if (found != n) std::cerr << "found " << found << " of " << n << " keys\n";
  t0 = Clock::now();
  const std::string path = std::string(kClassKey) + kGuid + "\\" + Dec4(n / 2);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
    const char v[] = "Changed";
    if (RegSetValueExA(h, "ProviderName", 0, REG_SZ, reinterpret_cast<const BYTE*>(v), sizeof v) !=
        ERROR_SUCCESS)
      std::cerr << "write failed\n";
    RegCloseKey(h);
  }
  f.write = MsSince(t0);
  return f;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Writes `bytes` to a new file at `path` and syncs it; the milliseconds it took, or -1.
double WriteNewAndSync(const std::string& path, const std::string& bytes, Clock::time_point t0) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  fsync(fd);
  close(fd);
  return MsSince(t0);
}

// Writing and syncing `bytes` to a new file beside the hive, once (the file is removed
// afterwards, untimed).
double WriteAndSyncMs(const std::string& path, const std::string& bytes) {
  const double ms = WriteNewAndSync(path, bytes, Clock::now());
  unlink(path.c_str());
  return ms;
}

// A plain atomic, durable replacement of a file of `bytes`: the new file written and
// synced, renamed over the old one (which the file system frees then and there) and the
// folder synced.
double AtomicReplaceMs(const std::string& folder, const std::string& bytes) {
  const std::string target = folder + "/shadow.reg", temp = folder + "/.shadow.reg.tmp";
  const auto t0 = Clock::now();
  if (WriteNewAndSync(temp, bytes, t0) < 0 || rename(temp.c_str(), target.c_str()) != 0) return -1;
  const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  fsync(dfd);
  close(dfd);
  return MsSince(t0);
}

// Lets the file system finish what the last step left (freed blocks, the journal), so
// that it is not charged to the next one.
void Settle(const std::string& folder) {
  const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  syncfs(dfd);
  close(dfd);
}

// The settings saved (as at every start and exit) into a user hive of `n` other keys,
// with the hive loaded already as the program has it; `runs` alternating with a plain
// write and sync of the hive file and with a plain atomic replacement of it.
void SettingsSave(int n, int runs) {
  const ScratchMachine m;
  std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < n; ++i)
    reg += "[HKEY_CURRENT_USER\\Software\\Generated\\Key" + std::to_string(i) +
           "]\r\n\"Name\"=\"Generated value\"\r\n\"Number\"=dword:0000002a\r\n\"Version\"=\"5.1." +
           std::to_string(i) + "\"\r\n\r\n";
  reg +=
      std::string("[HKEY_CURRENT_USER\\") + SettingsKeyName + "]\r\n\"CloseToTray\"=dword:00000001\r\n\r\n";
  reg += std::string("[HKEY_CURRENT_USER\\") + RunKeyName + "]\r\n\r\n";
  m.Write("user.reg", reg);
  m.Write("shadow.reg", reg);
  m.Select();
  TSettings s;
  LoadSettings(s, std::string());
  std::vector<double> save, plain, replace;
  for (int r = 0; r < runs; ++r) {
    s.udDrivers = r;  // a value that changes, as a scan's figures do
    s.LastScan = "12/10/2026 05:" + std::to_string(10 + r);
    Settle(m.Root());
    auto t0 = Clock::now();
    if (!SaveSettings(s, "/usr/bin/korvane")) std::cerr << "save failed\n";
    save.push_back(MsSince(t0));
    const std::string bytes = m.Read("user.reg");
    Settle(m.Root());
    plain.push_back(WriteAndSyncMs(m.Path("plain.reg"), bytes));
    Settle(m.Root());
    replace.push_back(AtomicReplaceMs(m.Root(), bytes));
  }
  // The save of every start: the settings as loaded, nothing changed.
  std::vector<double> same;
  for (int r = 0; r < runs; ++r) {
    Settle(m.Root());
    auto t0 = Clock::now();
    if (!SaveSettings(s, "/usr/bin/korvane")) std::cerr << "save failed\n";
    same.push_back(MsSince(t0));
  }
  const double a = Median(save), b = Median(plain), c = Median(replace);
  std::printf(
      "settings save into a hive of %d keys (%.1f MiB): %.1f ms; write+sync of the file: %.1f ms, ratio "
      "%.2f; "
      "plain atomic replacement (write+sync, rename, folder sync): %.1f ms, ratio %.2f (medians of %d)\n",
      n, reg.size() / 1048576.0, a, b, a / b, c, a / c, runs);
  std::printf("the same save when no value changed (as at a start): %.2f ms\n", Median(same));
}

// One value added to a key that holds `n` values, from a fresh start (as korvane-reg add).
double AddToWideKey(int n) {
  const ScratchMachine m;
  std::string reg = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Wide]\n";
  for (int i = 0; i < n; ++i)
    reg += "\"Value" + std::to_string(i) + "\"=dword:0000000" + std::to_string(i % 10) + "\n";
  m.Write("user.reg", reg + "\n");
  m.Select();
  auto t0 = Clock::now();
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Wide", 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS)
    std::cerr << "open failed\n";
  DWORD v = 7;
  if (RegSetValueExA(h, "Added", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) != ERROR_SUCCESS)
    std::cerr << "add failed\n";
  RegCloseKey(h);
  return MsSince(t0);
}

// A REG_BINARY value of `bytes` written through the layer (so wrapped as the writer wraps
// it), then read back from a fresh start.
double BinaryRead(size_t bytes) {
  const ScratchMachine m;
  std::vector<BYTE> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<BYTE>(i * 7);
  HKEY h = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Blob", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
  RegSetValueExA(h, "Data", 0, REG_BINARY, data.data(), static_cast<DWORD>(bytes));
  RegCloseKey(h);
  KorvaneResetMachine();
  auto t0 = Clock::now();
  std::vector<BYTE> back(bytes);
  DWORD size = static_cast<DWORD>(bytes), type = 0;
  LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Blob", 0, KEY_READ, &h);
  if (r == ERROR_SUCCESS) r = RegQueryValueExA(h, "Data", nullptr, &type, back.data(), &size);
  RegCloseKey(h);
  const double ms = MsSince(t0);
  if (r != ERROR_SUCCESS || back != data) std::cerr << "binary value did not read back\n";
  return ms;
}

std::string GuidOf(int c) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "{%08X-0000-4000-8000-%012X}", 0x10000000 + c, c);
  return buf;
}

// CPU time of the whole process (every thread), in milliseconds: with the wall time it
// tells work from waiting and from a busy machine.
double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// The device phase of one scan on the current machine; records in *records, the CPU time
// it took in *cpuMs.
double ScanMs(int* records, double* cpuMs = nullptr) {
  const double cpu0 = ProcessCpuMs();
  TPumpedUiQueue queue;
  InstallUiQueue(&queue);
  TKorvaneState state;
  korvane::testing::QuietScanPage page;
  auto t0 = Clock::now();
  {
    TScanThread scan(state, page);
    scan.RunExchange = false;
    TWaitHandle done = scan.Handle();
    scan.Start();
    queue.PumpUntil([&] { return done->IsSet(); }, WaitInfinite);
    if (scan.End != TScanEnd::DevicesOnly)
      std::cerr << "scan " << ScanEndName(scan.End) << ": " << scan.Cause.Text << "\n";
  }
  const double ms = MsSince(t0);
  if (cpuMs) *cpuMs = ProcessCpuMs() - cpu0;
  queue.PumpUntil([] { return false; }, 10);
  InstallUiQueue(nullptr);
  *records = state.DrvCount;
  return ms;
}

// classes x perClass devices, each with a driver key and its three values.
void DeviceMachine(const ScratchMachine& m, int classes, int perClass) {
  using korvane::testing::GeneratedDevice;
  korvane::testing::MachineGenerator g;
  for (int c = 0; c < classes; ++c) g.Classes.push_back({GuidOf(c), "Class " + std::to_string(c)});
  g.DevicesIn = [perClass](int) { return perClass; };
  g.Properties = [](const GeneratedDevice& d) {
    return "\"FRIENDLYNAME\": \"Device " + std::to_string(d.index) +
           "\", \"HARDWAREID\": [\"PCI\\\\VEN_1000&DEV_" + Dec4(d.index) +
           "\"], \"COMPATIBLEIDS\": [\"PCI\\\\CC_0300\"], ";
  };
  g.DriverVersion = [](const GeneratedDevice& d) { return "5.1." + std::to_string(d.index); };
  g.WriteTo(m.Root());
  m.Select();
}

// The platform side of a catalogue build over every class (enumerate, describe, open).
double ClassWalkMs() {
  auto t0 = Clock::now();
  int n = 0;
  for (ULONG i = 0;; ++i) {
    GUID g{};
    if (CM_Enumerate_Classes(i, &g, 0) != CR_SUCCESS) break;
    char desc[1024];
    DWORD req = 0;
    SetupDiGetClassDescriptionA(&g, desc, sizeof desc, &req);
    HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD d = 0; SetupDiEnumDeviceInfo(set, d, &data); ++d) ++n;
    SetupDiDestroyDeviceInfoList(set);
  }
  (void)n;
  return MsSince(t0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  auto want = [&](const char* part) { return only.empty() || only == part; };

  if (want("keys")) {
    const KeyFigures k10 = Keys(10000);
    std::printf(" 10,000 keys:  load %8.1f ms  lookup %8.1f ms  one write %8.1f ms  total %8.1f ms\n",
                k10.load, k10.lookup, k10.write, k10.Total());
    const KeyFigures k100 = Keys(100000);
    std::printf("100,000 keys:  load %8.1f ms  lookup %8.1f ms  one write %8.1f ms  total %8.1f ms\n",
                k100.load, k100.lookup, k100.write, k100.Total());
    std::printf("ratio 100k/10k: %.2f\n", k100.Total() / k10.Total());
    std::fflush(stdout);
  }

  if (want("save")) {
    SettingsSave(100000, 15);
    std::fflush(stdout);
  }
  if (want("values")) std::printf("one add to a key of 20,000 values: %.1f ms\n", AddToWideKey(20000));
  if (want("binary")) {
    std::printf("read of a 1 MiB REG_BINARY value: %.1f ms\n", BinaryRead(1 << 20));
    std::printf("read of a 2 MiB REG_BINARY value: %.1f ms\n", BinaryRead(2 << 20));
  }
  std::fflush(stdout);

  if (want("classes")) {
    const ScratchMachine m;
    DeviceMachine(m, 10000, 1);
    const double walk = ClassWalkMs();
    int records = 0;
    const double scan = ScanMs(&records);
    std::printf(
        "devices.json of 10,000 classes: platform class walk %.1f ms, scan device phase %.1f ms (%d "
        "records)\n",
        walk, scan, records);
    std::fflush(stdout);
  }
  if (want("devices")) {
    const ScratchMachine m;
    DeviceMachine(m, 10, 10000);
    int records = 0;
    double cpu = 0;
    const double scan = ScanMs(&records, &cpu);
    std::printf("scan of 100,000 devices with their driver keys: %.1f ms, CPU %.1f ms (%d records)\n", scan,
                cpu, records);
  }
  return 0;
}
