// Naming and start-page facts of the fixture machines and of this machine,
// through the platform layer (os.json, system.reg, sysinfo.json, the kernel).
#include "sysinfo/uSystemFacts.h"
#include "sysinfo/uWinVersion.h"

#include "support/ScratchFolder.h"
#include "support/ScratchMachine.h"
#include "sysinfo_test_util.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace {

struct MachineCase {
  const char* machine;
  const char* fullName;
  const char* servicePack;
  const char* shortName;
  int osId;
  const char* architecture;
  bool isServer;
  const char* computerName;  // UTF-8
  const char* ramTotal;
  const char* ramFree;
  const char* memoryUsed;
  const char* virtualTotal;
  const char* virtualFree;
};

const MachineCase kMachines[] = {
    {"win95-osr2", "Windows 95 OSR2", "B", "95-32", 3, "x86", false, "HOMEPC", "31 Mb", "4 Mb", "86%", "2044 Mb",
     "1940 Mb"},
    {"win98-se", "Windows 98 SE", "A", "98-32", 6, "x86", false, "FAMILY", "128 Mb", "39 Mb", "69%", "2044 Mb",
     "1888 Mb"},
    {"winnt4-ws-sp6a", "Windows NT Workstation 4.0", "Service Pack 6a (Build 1381)", "nt-32", 4, "x86", false,
     "NTWS01", "255 Mb", "115 Mb", "55%", "2048 Mb", "1984 Mb"},
    {"winnt4-ws-sp6", "Windows NT Workstation 4.0", "Service Pack 6 (Build 1381)", "nt-32", 4, "x86", false, "NTWS02",
     "128 Mb", "49 Mb", "61%", "2048 Mb", "1999 Mb"},
    {"winnt4-server-sp6a-noext", "Windows NT Server 4.0 ", "Service Pack 6a (Build 1381)", "nt-32", 4, "x86", false,
     "NTSRV", "256 Mb", "91 Mb", "64%", "2048 Mb", "1966 Mb"},
    {"winnt4-ws-sp6-noext", "Windows NT Workstation 4.0 ", "Service Pack 6 (Build 1381)", "nt-32", 4, "x86", false,
     "NTWS03", "64 Mb", "12 Mb", "81%", "2048 Mb", "2016 Mb"},
    {"win2000-server", "Windows Server 2000 family Server", "Service Pack 4 (Build 2195)", "2000-32", 8, "x86", true,
     "FILESRV", "1023 Mb", "617 Mb", "40%", "2048 Mb", "2015 Mb"},
    {"winxp-home", "Windows XP Home Edition", "Service Pack 2 (Build 2600)", "xp-32", 9, "x86", false, "LAPTOP",
     "247 Mb", "65 Mb", "42%", "2048 Mb", "1997 Mb"},
    {"winxp-pro", "Windows XP Professional", "Service Pack 3 (Build 2600)", "xp-32", 9, "x86", false, "OFFICE-PC",
     "1023 Mb", "564 Mb", "44%", "2048 Mb", "1981 Mb"},
    {"winxp-x64", "Windows XP Professional x64 Edition ", "Service Pack 2 (Build 3790)", "xp-64", 10, "AMD64", false,
     "WORKSTATION64", "4096 Mb", "2816 Mb", "31%", "4096 Mb", "4096 Mb"},
    {"win2003-r2", "Windows Server 2003 R2 Standard Edition", "Service Pack 2 (Build 3790)", "2003-32", 12, "x86", true,
     "DC01", "2047 Mb", "1256 Mb", "39%", "2048 Mb", "2006 Mb"},
    {"win2003-ent-x64", "Windows Server 2003 family Enterprise x64 Edition", "Service Pack 2 (Build 3790)", "2003-64",
     11, "AMD64", true, "SQL-CLUSTER1", "4096 Mb", "4096 Mb", "32%", "4096 Mb", "4096 Mb"},
    {"winvista-hp-x86", "Windows Vista Home Premium", "Service Pack 2 (Build 6002)", "vista-32", 13, "x86", false,
     "Anna-PC", "2046 Mb", "1000 Mb", "52%", "2048 Mb", "1946 Mb"},
    {"winvista-hp-amd64", "Windows Vista ", "Service Pack 2 (Build 6002)", "vista-64", 13, "AMD64", false,
     "J\xC3\xB6rg-PC", "3840 Mb", "2499 Mb", "35%", "4096 Mb", "4096 Mb"},
    {"win2008-server", "Windows Vista Server Standard (full installation)", "Service Pack 1 (Build 6001)", "vista-64",
     14, "AMD64", true, "WEB02", "4096 Mb", "3072 Mb", "25%", "4096 Mb", "4096 Mb"},
};

// key -> value of the --sysinfo lines.
std::map<std::string, std::string> Lines(const std::string& text) {
  std::map<std::string, std::string> m;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) m[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return m;
}

std::string Escape(std::string s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

class FixtureMachine : public ::testing::TestWithParam<MachineCase> {
 protected:
  void TearDown() override { UseMachine("host"); }
};

TEST_P(FixtureMachine, SysinfoLines) {
  const MachineCase& c = GetParam();
  UseMachine(c.machine);
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  EXPECT_EQ(info.FullName, c.fullName);
  EXPECT_EQ(info.ServicePack, c.servicePack);
  EXPECT_EQ(info.ShortName, c.shortName);
  EXPECT_EQ(info.OsId, c.osId);
  EXPECT_EQ(info.Architecture, c.architecture);
  EXPECT_EQ(info.Kind.IsServer, c.isServer);

  std::ostringstream out;
  PrintSystemFacts(out, [] { return std::string("Test CPU\n\r"); }, "1.2.3.4");
  auto m = Lines(out.str());
  EXPECT_EQ(m.size(), 22u);
  EXPECT_EQ(m["FullName"], c.fullName);
  EXPECT_EQ(m["ShortName"], c.shortName);
  EXPECT_EQ(m["OsName"], Escape(std::string(c.fullName) + "\n\r" + c.servicePack + " " + c.architecture));
  EXPECT_EQ(m["Processor"], "Test CPU\\n\\r");
  EXPECT_EQ(m["ComputerName"], c.computerName);
  EXPECT_EQ(m["RamTotal"], c.ramTotal);
  EXPECT_EQ(m["RamFree"], c.ramFree);
  EXPECT_EQ(m["MemoryUsed"], c.memoryUsed);
  EXPECT_EQ(m["VirtualTotal"], c.virtualTotal);
  EXPECT_EQ(m["VirtualFree"], c.virtualFree);
  EXPECT_EQ(m["ProgramVersion"], "1.2.3.4");
}

INSTANTIATE_TEST_SUITE_P(Machines, FixtureMachine, ::testing::ValuesIn(kMachines),
                         [](const ::testing::TestParamInfo<MachineCase>& p) {
                           std::string n = p.param.machine;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(SysinfoOutput, WholeBlockOfXpProfessional) {
  UseMachine("winxp-pro");
  std::ostringstream out;
  PrintSystemFacts(out, [] { return std::string("2x Intel(R) Core(TM)2 CPU 6400 @ 2.13GHz"); }, "1.0.0.0");
  EXPECT_EQ(out.str(),
            "FullName\tWindows XP Professional\n"
            "Name\tWindows XP\n"
            "Edition\tProfessional\n"
            "IsServer\t0\n"
            "Platform\twinnt\n"
            "OsId\t9\n"
            "Version\t5.1\n"
            "Build\t2600\n"
            "ProductType\t0\n"
            "ShortName\txp-32\n"
            "Architecture\tx86\n"
            "ServicePack\tService Pack 3 (Build 2600)\n"
            "ServicePackVersion\t3.0\n"
            "OsName\tWindows XP Professional\\n\\rService Pack 3 (Build 2600) x86\n"
            "Processor\t2x Intel(R) Core(TM)2 CPU 6400 @ 2.13GHz\n"
            "ComputerName\tOFFICE-PC\n"
            "RamTotal\t1023 Mb\n"
            "RamFree\t564 Mb\n"
            "MemoryUsed\t44%\n"
            "VirtualTotal\t2048 Mb\n"
            "VirtualFree\t1981 Mb\n"
            "ProgramVersion\t1.0.0.0\n");
  UseMachine("host");
}

TEST(SysinfoOutput, VistaCarriesProductTypeAndBuild) {
  UseMachine("win95-osr2");
  std::ostringstream out;
  PrintSystemFacts(out, nullptr, "");
  auto m = Lines(out.str());
  EXPECT_EQ(m["Build"], "67109975");  // all 32 bits, as Windows 9x reports them
  EXPECT_EQ(m["Platform"], "win9x");
  EXPECT_EQ(m["ServicePackVersion"], "0.0");
  UseMachine("winvista-hp-x86");
  out.str("");
  PrintSystemFacts(out, nullptr, "");
  m = Lines(out.str());
  EXPECT_EQ(m["ProductType"], "3");
  EXPECT_EQ(m["Edition"], "Home Premium");
  EXPECT_EQ(m["ServicePackVersion"], "2.0");
  UseMachine("host");
}

TEST(SysinfoOutput, FailingProcessorSummaryLeavesTheRestEmpty) {
  UseMachine("winxp-home");
  std::ostringstream out;
  PrintSystemFacts(out, []() -> std::string { throw std::runtime_error("no processors"); }, "1.0.0.0");
  auto m = Lines(out.str());
  EXPECT_EQ(m["FullName"], "Windows XP Home Edition");
  EXPECT_EQ(m["OsName"], "");
  EXPECT_EQ(m["ComputerName"], "");
  EXPECT_EQ(m["RamTotal"], "");
  EXPECT_EQ(m["ProgramVersion"], "1.0.0.0");
  UseMachine("host");
}

TEST(SysinfoOutput, MachineWithoutFactsShowsEmptyRecord) {
  const korvane::testing::ScratchMachine machine;  // no facts at all
  const std::string dir = machine.Root();
  std::ostringstream out;
  PrintSystemFacts(out, [] { return std::string(); }, "");
  auto m = Lines(out.str());
  EXPECT_EQ(m["FullName"], "");
  EXPECT_EQ(m["ShortName"], "");
  EXPECT_EQ(m["Architecture"], "");
  EXPECT_EQ(m["Version"], "");
  EXPECT_EQ(m["OsName"], "\\n\\r ");
  EXPECT_EQ(m["ComputerName"], "");
  EXPECT_EQ(m["RamTotal"], "0 Mb");
  EXPECT_EQ(m["MemoryUsed"], "0%");

  // "versionQueries": false makes both queries fail the same way.
  korvane::testing::WriteTextFile(dir + "/os.json",
                                  R"({"platformId": 2, "major": 5, "minor": 1, "versionQueries": false})");
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  EXPECT_EQ(info.ShortName, "");
  // A damaged file is reported and reads as no facts.
  korvane::testing::WriteTextFile(dir + "/os.json", R"({"platformId": 2, "major": )");
  GetWindowsTypeEx(info);
  EXPECT_EQ(info.ShortName, "");
  korvane::testing::WriteTextFile(dir + "/os.json", R"({"platformId": 2, "major": "five"})");
  GetWindowsTypeEx(info);
  EXPECT_EQ(info.ShortName, "");
  UseMachine("host");
}

TEST(SysinfoOutput, ThisMachine) {
  UseMachine("host");
  struct utsname u {};
  ASSERT_EQ(uname(&u), 0);
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(u.release, "%u.%u.%u", &major, &minor, &patch);
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  EXPECT_EQ(info.Platform, "winnt");
  EXPECT_EQ(info.Version.Major, static_cast<int>(major));
  EXPECT_EQ(info.Version.Minor, static_cast<int>(minor));
  EXPECT_EQ(info.Build, patch);
  EXPECT_EQ(info.ProductType, 0u);
  if (std::string(u.machine) == "x86_64") {
    EXPECT_EQ(info.Architecture, "AMD64");
    EXPECT_EQ(info.ShortName.substr(info.ShortName.size() - 3), "-64");
  }
  const std::string buildText = " (Build " + std::to_string(patch & 0xFFFF) + ")";
  ASSERT_GE(info.ServicePack.size(), buildText.size());
  EXPECT_EQ(info.ServicePack.substr(info.ServicePack.size() - buildText.size()), buildText);
  std::ifstream osRelease("/etc/os-release");
  std::string line;
  while (std::getline(osRelease, line))
    if (line.rfind("PRETTY_NAME=\"", 0) == 0) {
      EXPECT_EQ(info.ServicePack.rfind(line.substr(13, line.size() - 14), 0), 0u) << info.ServicePack;
    }
  // Kernels 6.1 and later fall outside every named version.
  if (major > 6 || (major == 6 && minor >= 1)) {
    EXPECT_EQ(info.Name, "");
    EXPECT_EQ(info.FullName, " ");
  }

  std::ostringstream out;
  PrintSystemFacts(out, [] { return std::string("cpu"); }, "1.0.0.0");
  auto m = Lines(out.str());
  char host[256] = {};
  gethostname(host, sizeof(host) - 1);
  EXPECT_EQ(m["ComputerName"], host);
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kib = 0;
  meminfo >> key >> kib;
  ASSERT_EQ(key, "MemTotal:");
  const uint64_t bytes = std::min<uint64_t>(kib * 1024, 0xFFFFFFFFull);
  EXPECT_EQ(m["RamTotal"], MegabytesText(static_cast<uint32_t>(bytes)));
  EXPECT_EQ(m.size(), 22u);
}

}  // namespace
