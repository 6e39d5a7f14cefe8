// korvane-check --sysinfo as a program, on a fixture machine and on this machine.
#include "sysinfo_test_util.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

std::string CheckTool() {
  const char* p = std::getenv("KORVANE_CHECK");
  return p ? p : "";
}

// Runs the tool with KORVANE_MACHINE set (or unset for "host"); stdout and exit status.
std::string RunSysinfo(const std::string& machine, int& status) {
  const std::string env = machine == "host" ? "env -u KORVANE_MACHINE " : "env KORVANE_MACHINE='" + MachineDir(machine) + "' ";
  FILE* p = popen((env + "'" + CheckTool() + "' --sysinfo 2>/dev/null").c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while (p && (n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  const int raw = p ? pclose(p) : -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

TEST(CheckSysinfo, XpDesktopFixture) {
  if (CheckTool().empty()) GTEST_SKIP() << "korvane-check is not part of this build";
  int status = -1;
  const std::string out = RunSysinfo("xp-desktop", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out,
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
            "ServicePack\tService Pack 2 (Build 2600)\n"
            "ServicePackVersion\t2.0\n"
            "OsName\tWindows XP Professional\\n\\rService Pack 2 (Build 2600) x86\n"
            "Processor\tIntel(R) Pentium(R) 4 CPU 3.00GHz\\n\\rIntel(R) Pentium(R) 4 CPU 3.00GHz\\n\\r\n"
            "ComputerName\tXP-DESKTOP\n"
            "RamTotal\t512 Mb\n"
            "RamFree\t192 Mb\n"
            "MemoryUsed\t42%\n"
            "VirtualTotal\t2048 Mb\n"
            "VirtualFree\t1997 Mb\n"
            "ProgramVersion\t" KORVANE_PROJECT_VERSION4 "\n");
}

TEST(CheckSysinfo, EveryWindowsFixtureNamesItself) {
  if (CheckTool().empty()) GTEST_SKIP() << "korvane-check is not part of this build";
  const std::pair<const char*, const char*> cases[] = {
      {"win95-osr2", "95-32"},       {"win98-se", "98-32"},
      {"winnt4-ws-sp6a", "nt-32"},   {"winnt4-server-sp6a-noext", "nt-32"},
      {"win2000-server", "2000-32"}, {"winxp-home", "xp-32"},
      {"winxp-x64", "xp-64"},        {"win2003-r2", "2003-32"},
      {"win2003-ent-x64", "2003-64"}, {"winvista-hp-x86", "vista-32"},
      {"winvista-hp-amd64", "vista-64"}, {"win2008-server", "vista-64"},
  };
  for (const auto& [machine, token] : cases) {
    int status = -1;
    const std::string out = RunSysinfo(machine, status);
    EXPECT_EQ(status, 0) << machine;
    EXPECT_NE(out.find(std::string("\nShortName\t") + token + "\n"), std::string::npos) << machine << "\n" << out;
    EXPECT_EQ(out.find("\nComputerName\t\n"), std::string::npos) << machine << "\n" << out;
  }
}

TEST(CheckSysinfo, ThisMachine) {
  if (CheckTool().empty()) GTEST_SKIP() << "korvane-check is not part of this build";
  int status = -1;
  const std::string out = RunSysinfo("host", status);
  EXPECT_EQ(status, 0);
  std::vector<std::string> keys;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) keys.push_back(line.substr(0, line.find('\t')));
  const std::vector<std::string> want = {"FullName", "Name", "Edition", "IsServer", "Platform", "OsId", "Version",
                                         "Build", "ProductType", "ShortName", "Architecture", "ServicePack",
                                         "ServicePackVersion", "OsName", "Processor", "ComputerName", "RamTotal",
                                         "RamFree", "MemoryUsed", "VirtualTotal", "VirtualFree", "ProgramVersion"};
  EXPECT_EQ(keys, want);
  EXPECT_NE(out.find("\nPlatform\twinnt\n"), std::string::npos);
  char host[256] = {};
  gethostname(host, sizeof(host) - 1);
  EXPECT_NE(out.find(std::string("\nComputerName\t") + host + "\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("\nRamTotal\t0 Mb\n"), std::string::npos) << out;
}

}  // namespace
