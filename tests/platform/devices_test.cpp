// The Setup API over a machine folder's devices.json.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include "support/ScratchMachine.h"
#include "platform/src/devices.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <set>

using korvane::testing::ScratchMachine;

namespace {

GUID Guid(const char* text) {
  GUID g{};
  EXPECT_TRUE(kvp::ParseGuid(text, &g)) << text;
  return g;
}

std::vector<std::string> Classes() {
  std::vector<std::string> out;
  for (ULONG i = 0;; ++i) {
    GUID g;
    if (CM_Enumerate_Classes(i, &g, 0) == CR_NO_SUCH_VALUE) break;
    out.push_back(kvp::GuidString(g));
  }
  return out;
}

// Reads a text property through the two-call size protocol.
std::string Text(HDEVINFO set, SP_DEVINFO_DATA& d, DWORD prop) {
  DWORD type = REG_SZ, need = 0;
  if (SetupDiGetDeviceRegistryPropertyA(set, &d, prop, &type, nullptr, 0, &need)) return "?";
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return "";
  std::vector<BYTE> buf(need);
  if (!SetupDiGetDeviceRegistryPropertyA(set, &d, prop, &type, buf.data(), need, &need)) return "!";
  std::string s(buf.begin(), buf.end());
  for (auto& c : s)
    if (c == 0) c = '|';
  return s;
}

int Count(const char* guid, DWORD flags) {
  GUID g = Guid(guid);
  HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, flags);
  EXPECT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  int n = 0;
  while (SetupDiEnumDeviceInfo(set, static_cast<DWORD>(n), &d)) ++n;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  SetupDiDestroyDeviceInfoList(set);
  return n;
}

const char* kPrinter = "{4D36E979-E325-11CE-BFC1-08002BE10318}";
const char* kImage = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
const char* kCpu = "{50127DC3-0F36-415E-A6CC-4CB3BE910B65}";

}  // namespace

TEST(Devices, XpDesktopClassesInFileOrder) {
  ScratchMachine m("xp-desktop");
  auto classes = Classes();
  ASSERT_GE(classes.size(), 10u);
  EXPECT_EQ(classes.front(), "{36FC9E60-C465-11CF-8056-444553540000}");
  // The configuration manager lists classes by their GUID text.
  EXPECT_TRUE(std::is_sorted(classes.begin(), classes.end()));
  char desc[1024];
  DWORD need = 0;
  GUID g = Guid(kPrinter);
  ASSERT_TRUE(SetupDiGetClassDescriptionA(&g, desc, sizeof desc, &need));
  EXPECT_STREQ(desc, "Printers");
  EXPECT_EQ(need, 9u);
  EXPECT_FALSE(SetupDiGetClassDescriptionA(&g, desc, 4, &need));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  GUID unknown = Guid("{11111111-2222-3333-4444-555555555555}");
  EXPECT_FALSE(SetupDiGetClassDescriptionA(&unknown, desc, sizeof desc, &need));
  EXPECT_EQ(Count("{11111111-2222-3333-4444-555555555555}", DIGCF_PRESENT), 0);
}

TEST(Devices, ClassInfoListMatchesTheConfigurationManager) {
  ScratchMachine m("xp-desktop");
  DWORD need = 0;
  EXPECT_FALSE(SetupDiBuildClassInfoList(0, nullptr, 0, &need));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  const std::vector<std::string> expected = Classes();
  ASSERT_EQ(need, expected.size());
  std::vector<GUID> list(need - 1);
  EXPECT_FALSE(SetupDiBuildClassInfoList(0, list.data(), need - 1, &need));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  list.resize(need);
  ASSERT_TRUE(SetupDiBuildClassInfoList(DIBCI_NOINSTALLCLASS, list.data(), need, &need));
  std::vector<std::string> got;
  for (const GUID& g : list) got.push_back(kvp::GuidString(g));
  EXPECT_EQ(got, expected);
  EXPECT_FALSE(SetupDiBuildClassInfoList(0, list.data(), need, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Devices, PresentFlagHidesAbsentDevices) {
  ScratchMachine m("xp-desktop");
  EXPECT_EQ(Count(kPrinter, 0), 2);
  EXPECT_EQ(Count(kPrinter, DIGCF_PRESENT), 0);
  EXPECT_EQ(Count(kImage, 0), 2);
  EXPECT_EQ(Count(kImage, DIGCF_PRESENT), 1);
  EXPECT_EQ(Count(kCpu, 0), 2);
}

TEST(Devices, PropertySizeProtocol) {
  ScratchMachine m("xp-desktop");
  GUID g = Guid(kCpu);
  HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, 0);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA d{};
  d.cbSize = 27;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  d.cbSize = sizeof d;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_TRUE(d.ClassGuid == g);

  const std::string name = "Intel(R) Pentium(R) 4 CPU 3.00GHz";
  DWORD type = REG_SZ, need = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_FRIENDLYNAME, &type, nullptr, 0, &need));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(need, name.size() + 1);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  BYTE small[8];
  need = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_FRIENDLYNAME, &type, small, sizeof small, &need));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(need, name.size() + 1);
  EXPECT_EQ(Text(set, d, SPDRP_FRIENDLYNAME), name + "|");

  // The hardware IDs are a multi-string: the type reported is the real one.
  type = REG_SZ;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_HARDWAREID, &type, nullptr, 0, &need));
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(Text(set, d, SPDRP_HARDWAREID).substr(0, 45), "ACPI\\GenuineIntel_-_x86_Family_15_Model_4|*Ge");
  type = REG_SZ;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_CONFIGFLAGS, &type, nullptr, 0, &need));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(need, 4u);

  // A property the device lacks.
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_COMPATIBLEIDS, &type, nullptr, 0, &need));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &d, 0x40, &type, nullptr, 0, &need));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_REG_PROPERTY));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Devices, XpDesktopCoversTheScanCases) {
  ScratchMachine m("xp-desktop");
  int total = 0, classesWithDevices = 0;
  bool longName = false, noName = false, noDriver = false, missingKey = false, noCompatClass = false;
  std::set<std::string> iconHandles;
  for (const auto& cls : Classes()) {
    GUID g = Guid(cls.c_str());
    HICON icon = nullptr;
    ASSERT_TRUE(SetupDiLoadClassIcon(&g, &icon, nullptr));
    ASSERT_NE(icon, nullptr);
    GUID back{};
    EXPECT_TRUE(KorvaneIconClass(icon, &back));
    EXPECT_TRUE(back == g);
    HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, 0);
    SP_DEVINFO_DATA d{};
    d.cbSize = sizeof d;
    int n = 0, withCompat = 0;
    for (; SetupDiEnumDeviceInfo(set, static_cast<DWORD>(n), &d); ++n) {
      std::string fn = Text(set, d, SPDRP_FRIENDLYNAME), desc = Text(set, d, SPDRP_DEVICEDESC);
      if (fn.size() == 301) longName = true;
      if (fn.empty() && desc.empty()) noName = true;
      if (!Text(set, d, SPDRP_COMPATIBLEIDS).empty()) ++withCompat;
      std::string drv = Text(set, d, SPDRP_DRIVER);
      if (drv.empty()) {
        noDriver = true;
      } else {
        HKEY k;
        std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + drv.substr(0, drv.size() - 1);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
          char date[64];
          DWORD size = sizeof date;
          EXPECT_EQ(RegQueryValueExA(k, "DriverDate", nullptr, nullptr, reinterpret_cast<BYTE*>(date), &size),
                    ERROR_SUCCESS)
              << key;
          RegCloseKey(k);
        } else {
          missingKey = true;
        }
      }
    }
    SetupDiDestroyDeviceInfoList(set);
    total += n;
    if (n) ++classesWithDevices;
    if (n && !withCompat && cls != kPrinter && cls != kImage) noCompatClass = true;
  }
  EXPECT_GE(total, 30);
  EXPECT_GE(classesWithDevices, 10);
  EXPECT_TRUE(longName && noName && noDriver && missingKey && noCompatClass);
}

TEST(Devices, JsonValueKindsAndFaults) {
  ScratchMachine m;
  m.Write("devices.json", R"({"classes": [
    {"guid": "{4d36e968-e325-11ce-bfc1-08002be10318}", "description": "Caf\u00e9 \u20ac \u0416",
     "devices": [{"properties": {"DEVICEDESC": "x", "12": "by number", "CONFIGFLAGS": 7,
                                 "CAPABILITIES": {"binary": "0aff"}, "HARDWAREID": ["A", "B"]}}]},
    {"guid": "{4D36E972-E325-11CE-BFC1-08002BE10318}", "description": "Network adapters"}]})");
  GUID g = Guid("{4D36E968-E325-11CE-BFC1-08002BE10318}");
  char desc[64];
  ASSERT_TRUE(SetupDiGetClassDescriptionA(&g, desc, sizeof desc, nullptr));
  EXPECT_STREQ(desc, "Caf\xE9 \x80 ?");
  HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, DIGCF_PRESENT);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_EQ(Text(set, d, SPDRP_FRIENDLYNAME), "by number|");
  EXPECT_EQ(Text(set, d, SPDRP_HARDWAREID), "A|B||");
  BYTE buf[8];
  DWORD type = 0, need = 0;
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_CAPABILITIES, &type, buf, sizeof buf, &need));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(need, 2u);
  EXPECT_EQ(buf[1], 0xff);
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &d, SPDRP_CONFIGFLAGS, &type, buf, sizeof buf, &need));
  EXPECT_EQ(buf[0], 7);
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(Classes().size(), 2u);

  // A broken file fails every call instead of showing an empty machine.
  m.Write("devices.json", "{\"classes\": [\n  {\"guid\": \"{4D36E968-E325-11CE-BFC1-08002BE10318}\",,}\n]}");
  testing::internal::CaptureStderr();
  GUID out;
  EXPECT_EQ(CM_Enumerate_Classes(0, &out, 0), static_cast<CONFIGRET>(CR_REGISTRY_ERROR));
  EXPECT_EQ(CM_Enumerate_Classes(1, &out, 0), static_cast<CONFIGRET>(CR_NO_SUCH_VALUE));
  EXPECT_EQ(SetupDiGetClassDevsA(&g, nullptr, nullptr, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(m.Path("devices.json") + ":2: not valid JSON"), std::string::npos) << err;

  std::string msg;
  kvp::Inventory inv;
  EXPECT_FALSE(kvp::ParseDevicesJson(R"({"classes":[{"guid":"{4D36E968-E325-11CE-BFC1-08002BE10318}",
      "devices":[{"properties":{"NOSUCH":"x"}}]}]})", "d.json", inv, &msg));
  EXPECT_EQ(msg, "d.json: classes[0].devices[0].properties.NOSUCH: unknown property name");
  EXPECT_FALSE(kvp::ParseDevicesJson(R"({"classes":[{"guid":"4D36E968"}]})", "d.json", inv, &msg));
  EXPECT_NE(msg.find("classes[0].guid"), std::string::npos);
}

TEST(Devices, EmptyMachineHasNothing) {
  ScratchMachine m("empty");
  EXPECT_TRUE(Classes().empty());
  GUID g = Guid(kCpu);
  HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, 0);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SetupDiDestroyDeviceInfoList(set);
  HKEY h;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
}
