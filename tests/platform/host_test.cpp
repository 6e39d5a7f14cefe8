// The live host on this very machine.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include "machine_fixture.h"
#include "platform/src/devices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

namespace {

class HostMachine {
 public:
  HostMachine() {
    char tmpl[] = "/tmp/kvhostXXXXXX";
    xdg_ = mkdtemp(tmpl);
    setenv("XDG_DATA_HOME", xdg_.c_str(), 1);
    setenv("KORVANE_MACHINE", "host", 1);
    KorvaneResetMachine();
  }
  ~HostMachine() {
    std::error_code ec;
    std::filesystem::remove_all(xdg_, ec);
    unsetenv("KORVANE_MACHINE");
    KorvaneResetMachine();
  }
  std::string xdg_;
};

std::string Text(HDEVINFO set, SP_DEVINFO_DATA& d, DWORD prop) {
  DWORD type = REG_SZ, need = 0;
  SetupDiGetDeviceRegistryPropertyA(set, &d, prop, &type, nullptr, 0, &need);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return "";
  std::vector<BYTE> buf(need);
  if (!SetupDiGetDeviceRegistryPropertyA(set, &d, prop, &type, buf.data(), need, &need)) return "";
  std::string s(buf.begin(), buf.end());
  for (auto& c : s)
    if (c == 0) c = '|';
  return s;
}

}  // namespace

TEST(Host, MachineRootFollowsXdg) {
  HostMachine h;
  EXPECT_TRUE(KorvaneMachineIsHost());
  EXPECT_EQ(KorvaneMachineRoot(), h.xdg_ + "/korvane/host");
  EXPECT_EQ(KorvaneMachineFile("os.json"), h.xdg_ + "/korvane/host/os.json");
  char buf[MAX_PATH];
  DWORD n = GetTempPathA(sizeof buf, buf);
  EXPECT_EQ(std::string(buf, n), h.xdg_ + "/korvane/host/Temp/");
}

TEST(Host, ClassesAreTheStandardTableIncludingExcludedOnes) {
  HostMachine h;
  std::vector<std::string> got;
  for (ULONG i = 0;; ++i) {
    GUID g;
    if (CM_Enumerate_Classes(i, &g, 0) == CR_NO_SUCH_VALUE) break;
    got.push_back(kvp::GuidString(g));
  }
  ASSERT_EQ(got.size(), kvp::HostClasses().size());
  std::set<std::string> all(got.begin(), got.end());
  for (const char* g : {"{4D36E968-E325-11CE-BFC1-08002BE10318}", "{4D36E969-E325-11CE-BFC1-08002BE10318}",
                        "{71A27CDD-812A-11D0-BEC7-08002BE2092F}", "{8ECC055D-047F-11D1-A537-0000F8753ED1}",
                        "{50127DC3-0F36-415E-A6CC-4CB3BE910B65}"})
    EXPECT_TRUE(all.count(g)) << g;
  GUID g;
  kvp::ParseGuid("{4D36E972-E325-11CE-BFC1-08002BE10318}", &g);
  char desc[128];
  ASSERT_TRUE(SetupDiGetClassDescriptionA(&g, desc, sizeof desc, nullptr));
  EXPECT_STREQ(desc, "Network adapters");
}

TEST(Host, FindsEveryPciDeviceLspciLists) {
  FILE* p = popen("lspci -n 2>/dev/null", "r");
  std::vector<std::string> want;
  if (p) {
    char line[512];
    while (fgets(line, sizeof line, p)) {
      unsigned ven = 0, dev = 0;
      const char* ids = std::strstr(line, ": ");
      if (ids && std::sscanf(ids + 2, "%x:%x", &ven, &dev) == 2) {
        char id[40];
        std::snprintf(id, sizeof id, "PCI\\VEN_%04X&DEV_%04X&SUBSYS_", ven, dev);
        want.push_back(id);
      }
    }
    int rc = pclose(p);
    if (rc != 0) want.clear();
  }
  if (want.empty()) GTEST_SKIP() << "lspci is not available here (or lists no device)";

  HostMachine h;
  std::vector<std::string> hwids;
  bool sawDriverKey = false;
  for (ULONG i = 0;; ++i) {
    GUID g;
    if (CM_Enumerate_Classes(i, &g, 0) == CR_NO_SUCH_VALUE) break;
    HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, DIGCF_PRESENT);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA d{};
    d.cbSize = sizeof d;
    for (DWORD n = 0; SetupDiEnumDeviceInfo(set, n, &d); ++n) {
      std::string hw = Text(set, d, SPDRP_HARDWAREID);
      hwids.push_back(hw);
      if (hw.rfind("PCI\\", 0) == 0) {
        EXPECT_NE(Text(set, d, SPDRP_COMPATIBLEIDS).find("PCI\\CC_"), std::string::npos) << hw;
        EXPECT_FALSE(Text(set, d, SPDRP_DEVICEDESC).empty()) << hw;
      }
      std::string drv = Text(set, d, SPDRP_DRIVER);
      if (!drv.empty()) {
        EXPECT_EQ(drv.substr(0, 38), kvp::GuidString(g));
        HKEY k;
        std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + drv.substr(0, drv.size() - 1);
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS) << key;
        char prov[256];
        DWORD size = sizeof prov;
        ASSERT_EQ(RegQueryValueExA(k, "ProviderName", nullptr, nullptr, reinterpret_cast<BYTE*>(prov), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::string(prov).rfind("Linux kernel", 0), 0u);
        size = sizeof prov;
        EXPECT_EQ(RegQueryValueExA(k, "DriverVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(prov), &size),
                  ERROR_SUCCESS);
        RegCloseKey(k);
        sawDriverKey = true;
      }
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  for (const auto& w : want) {
    bool found = false;
    for (const auto& hw : hwids)
      if (hw.rfind(w, 0) == 0) found = true;
    EXPECT_TRUE(found) << w << " is not among the host's devices";
  }
  EXPECT_TRUE(sawDriverKey);
}

TEST(Host, UserValuesSurviveDriverKeyRefresh) {
  HostMachine h;
  HKEY k;
  // The synthesised class keys are there before any enumeration, also after a reset.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}", 0,
                            KEY_READ, &k),
              ERROR_SUCCESS);
    RegCloseKey(k);
    KorvaneResetMachine();
  }
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brantholm\\Korvane", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, "LastScan", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_SUCCESS);
  RegCloseKey(k);
  for (int i = 0; i < 2; ++i) {
    GUID g;
    kvp::ParseGuid("{4D36E97D-E325-11CE-BFC1-08002BE10318}", &g);
    HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, 0);
    SetupDiDestroyDeviceInfoList(set);
  }
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Brantholm\\Korvane", 0, KEY_READ, &k), ERROR_SUCCESS);
  char buf[8];
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(k, "LastScan", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  RegCloseKey(k);
}
