// The live host on this very machine.
#include <windows.h>
#include "support/ScratchFolder.h"
#include <cfgmgr32.h>
#include <korvane_machine.h>
#include <setupapi.h>

#include "support/ScratchMachine.h"
#include "platform/src/devices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

using korvane::testing::ScratchMachine;

namespace {

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
  ScratchMachine h(ScratchMachine::Host::Live);
  EXPECT_TRUE(KorvaneMachineIsHost());
  EXPECT_EQ(KorvaneMachineRoot(), h.Root() + "/korvane/host");
  EXPECT_EQ(KorvaneMachineFile("os.json"), h.Root() + "/korvane/host/os.json");
  char buf[MAX_PATH];
  DWORD n = GetTempPathA(sizeof buf, buf);
  EXPECT_EQ(std::string(buf, n), h.Root() + "/korvane/host/Temp/");
}

TEST(Host, ClassesAreTheStandardTableIncludingExcludedOnes) {
  ScratchMachine h(ScratchMachine::Host::Live);
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

  ScratchMachine h(ScratchMachine::Host::Live);
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
  ScratchMachine h(ScratchMachine::Host::Live);
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

// ---- a generated sysfs tree read in place of "/" ----

namespace {

namespace fs = std::filesystem;

class HostTree {
 public:
  HostTree() {
    root_ = korvane::testing::MakeScratchFolder("kvtree");
    setenv("KORVANE_HOST_ROOT", root_.c_str(), 1);
  }
  ~HostTree() {
    unsetenv("KORVANE_HOST_ROOT");
    KorvaneResetMachine();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void File(const std::string& path, const std::string& text) const {
    fs::create_directories(fs::path(root_ + "/" + path).parent_path());
    std::ofstream(root_ + "/" + path) << text << "\n";
  }
  void Dir(const std::string& path) const { fs::create_directories(root_ + "/" + path); }
  // A symbolic link at path to the tree's own target.
  void Link(const std::string& path, const std::string& target) const {
    Dir(target);
    fs::create_directories(fs::path(root_ + "/" + path).parent_path());
    fs::create_directory_symlink(root_ + "/" + target, root_ + "/" + path);
  }
  // A file whose modification time is noon (local time) of that day.
  void Dated(const std::string& path, int year, int month, int day) const {
    File(path, "module");
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    auto when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    fs::last_write_time(root_ + "/" + path,
                        fs::file_time_type::clock::now() + (when - std::chrono::system_clock::now()));
  }
  // A USB device or interface folder with its attribute files.
  void Attrs(const std::string& dir, const std::map<std::string, std::string>& attrs) const {
    for (const auto& [k, v] : attrs) File(dir + "/" + k, v);
  }
  std::string root_;
};

struct Found {
  std::string cls, desc, friendly, hw, compat, date, provider;
};

// Every device the Setup API shows, with its driver key's date and provider.
std::vector<Found> AllDevices() {
  std::vector<Found> out;
  for (ULONG i = 0;; ++i) {
    GUID g;
    if (CM_Enumerate_Classes(i, &g, 0) == CR_NO_SUCH_VALUE) break;
    HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA d{};
    d.cbSize = sizeof d;
    for (DWORD n = 0; SetupDiEnumDeviceInfo(set, n, &d); ++n) {
      Found f{Text(set, d, SPDRP_CLASS),  Text(set, d, SPDRP_DEVICEDESC), Text(set, d, SPDRP_FRIENDLYNAME),
              Text(set, d, SPDRP_HARDWAREID), Text(set, d, SPDRP_COMPATIBLEIDS), "", ""};
      for (auto* s : {&f.cls, &f.desc, &f.friendly})
        if (!s->empty() && s->back() == '|') s->pop_back();
      std::string drv = Text(set, d, SPDRP_DRIVER);
      if (!drv.empty()) {
        HKEY k;
        std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + drv.substr(0, drv.size() - 1);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
          for (auto [name, into] : {std::pair{"DriverDate", &f.date}, std::pair{"ProviderName", &f.provider}}) {
            char buf[256] = "";
            DWORD size = sizeof buf;
            if (RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS)
              *into = buf;
          }
          RegCloseKey(k);
        } else {
          f.date = "(no key)";
        }
      }
      out.push_back(f);
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  return out;
}

const Found* ByHardwareId(const std::vector<Found>& all, const std::string& firstId) {
  for (const auto& f : all)
    if (f.hw.rfind(firstId + "|", 0) == 0) return &f;
  return nullptr;
}

// A Debian kernel whose xHCI controller carries a two-interface receiver (keyboard and
// mouse, plus a vendor HID interface) and a one-interface memory stick.
void DesktopTree(const HostTree& t) {
  const std::string rel = "6.1.0-18-amd64";
  t.File("proc/sys/kernel/osrelease", rel);
  t.File("proc/sys/kernel/version", "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)");
  t.File("proc/cpuinfo", "");
  t.File("usr/share/hwdata/pci.ids",
         "# pci.ids\n8086  Intel Corporation\n\ta36d  Cannon Lake PCH USB 3.1 xHCI Host Controller\n"
         "\t\t1028 0869  Vostro 3470\nC 0c  Serial bus controller\n");
  t.File("usr/share/misc/usb.ids",
         "046d  Logitech, Inc.\n\tc52b  Unifying Receiver\n0781  SanDisk Corp.\n\t5151  Cruzer Micro Flash Drive\n"
         "C 00  (Defined at Interface level)\n");
  // Module files: loadable modules live in /sys/module with an initstate; built-in ones
  // (usbcore, hid_generic here) have no file.
  const std::string mods = "lib/modules/" + rel + "/kernel/drivers/";
  t.Dated(mods + "usb/host/xhci-pci.ko", 2024, 1, 20);
  t.Dated(mods + "hid/usbhid/usbhid.ko.xz", 2024, 1, 25);
  t.Dated(mods + "usb/storage/usb-storage.ko.zst", 2023, 3, 3);
  t.File("lib/modules/" + rel + "/modules.dep",
         "kernel/drivers/usb/host/xhci-pci.ko: kernel/drivers/usb/host/xhci-hcd.ko\n"
         "kernel/drivers/hid/usbhid/usbhid.ko.xz: kernel/drivers/hid/hid.ko.xz\n"
         "kernel/drivers/usb/storage/usb-storage.ko.zst:\n");
  for (const char* m : {"xhci_pci", "usbhid", "usb_storage"}) t.File(std::string("sys/module/") + m + "/initstate", "live");
  t.Dir("sys/module/usbcore/parameters");
  t.Link("sys/bus/pci/drivers/xhci_hcd/module", "sys/module/xhci_pci");
  t.Link("sys/bus/usb/drivers/usb/module", "sys/module/usbcore");
  t.Link("sys/bus/usb/drivers/usbhid/module", "sys/module/usbhid");
  t.Link("sys/bus/usb/drivers/usb-storage/module", "sys/module/usb_storage");
  t.Dir("sys/bus/hid/drivers/hid-generic");

  const std::string pci = "sys/devices/pci0000:00/0000:00:14.0";
  t.Attrs(pci, {{"vendor", "0x8086"}, {"device", "0xa36d"}, {"subsystem_vendor", "0x1028"},
                {"subsystem_device", "0x0869"}, {"revision", "0x10"}, {"class", "0x0c0330"}});
  t.Link(pci + "/driver", "sys/bus/pci/drivers/xhci_hcd");
  t.Link("sys/bus/pci/devices/0000:00:14.0", pci);

  const std::string rx = pci + "/usb1/1-1";
  t.Attrs(rx, {{"idVendor", "046d"}, {"idProduct", "c52b"}, {"bcdDevice", "1211"}, {"bDeviceClass", "00"},
               {"bDeviceSubClass", "00"}, {"bDeviceProtocol", "00"}, {"bNumInterfaces", " 3"},
               {"manufacturer", "Logitech"}});
  t.Link(rx + "/driver", "sys/bus/usb/drivers/usb");
  t.Link("sys/bus/usb/devices/1-1", rx);
  const char* protocols[] = {"01", "02", "00"};
  for (int i = 0; i < 3; ++i) {
    std::string ifn = "1-1:1." + std::to_string(i);
    t.Attrs(rx + "/" + ifn, {{"bInterfaceNumber", "0" + std::to_string(i)}, {"bInterfaceClass", "03"},
                             {"bInterfaceSubClass", i < 2 ? "01" : "00"}, {"bInterfaceProtocol", protocols[i]}});
    t.Link(rx + "/" + ifn + "/driver", "sys/bus/usb/drivers/usbhid");
    t.Link("sys/bus/usb/devices/" + ifn, rx + "/" + ifn);
  }
  // The receiver's mouse: an input device under the HID device of interface 1.
  const std::string hid = rx + "/1-1:1.1/0003:046D:C52B.0002";
  t.Link(hid + "/driver", "sys/bus/hid/drivers/hid-generic");
  const std::string input = hid + "/input/input7";
  t.Attrs(input, {{"name", "Logitech USB Receiver"}, {"id/bustype", "0003"}, {"id/vendor", "046d"},
                  {"id/product", "c52b"}, {"id/version", "0111"}, {"capabilities/rel", "3"},
                  {"capabilities/key", "0"}});
  t.Link(input + "/device", hid);
  t.Link("sys/class/input/input7", input);

  const std::string stick = pci + "/usb1/1-2";
  t.Attrs(stick, {{"idVendor", "0781"}, {"idProduct", "5151"}, {"bcdDevice", "0010"}, {"bDeviceClass", "00"},
                  {"bDeviceSubClass", "00"}, {"bDeviceProtocol", "00"}, {"bNumInterfaces", " 1"}});
  t.Link(stick + "/driver", "sys/bus/usb/drivers/usb");
  t.Link("sys/bus/usb/devices/1-2", stick);
  t.Attrs(stick + "/1-2:1.0", {{"bInterfaceNumber", "00"}, {"bInterfaceClass", "08"},
                               {"bInterfaceSubClass", "06"}, {"bInterfaceProtocol", "50"}});
  t.Link(stick + "/1-2:1.0/driver", "sys/bus/usb/drivers/usb-storage");
}

}  // namespace

TEST(HostTree, CompositeUsbDeviceAndItsInterfacesAsWindowsShowsThem) {
  HostTree tree;
  DesktopTree(tree);
  ScratchMachine h(ScratchMachine::Host::Live);
  std::vector<Found> all = AllDevices();

  const Found* composite = ByHardwareId(all, "USB\\VID_046D&PID_C52B&REV_1211");
  ASSERT_NE(composite, nullptr);
  EXPECT_EQ(composite->cls, "USB");
  EXPECT_EQ(composite->desc, "USB Composite Device");
  EXPECT_EQ(composite->friendly, "");
  EXPECT_EQ(composite->hw, "USB\\VID_046D&PID_C52B&REV_1211|USB\\VID_046D&PID_C52B||");
  EXPECT_EQ(composite->compat,
            "USB\\DevClass_00&SubClass_00&Prot_00|USB\\DevClass_00&SubClass_00|USB\\DevClass_00|USB\\COMPOSITE||");
  EXPECT_EQ(composite->date, "2-1-2024") << "usbcore is built in: the kernel's build date";

  for (int i = 0; i < 3; ++i) {
    std::string mi = "&MI_0" + std::to_string(i);
    const Found* f = ByHardwareId(all, "USB\\VID_046D&PID_C52B&REV_1211" + mi);
    ASSERT_NE(f, nullptr) << mi;
    EXPECT_EQ(f->cls, "HIDClass");
    EXPECT_EQ(f->desc, "USB Human Interface Device");
    EXPECT_EQ(f->hw, "USB\\VID_046D&PID_C52B&REV_1211" + mi + "|USB\\VID_046D&PID_C52B" + mi + "||");
    EXPECT_EQ(f->compat.rfind("USB\\Class_03&SubClass_0", 0), 0u) << f->compat;
    EXPECT_EQ(f->date, "1-25-2024") << "usbhid.ko.xz";
    EXPECT_EQ(f->provider, "Linux kernel (usbhid)");
  }

  const Found* mouse = ByHardwareId(all, "HID\\VID_046D&PID_C52B&REV_0111&MI_01");
  ASSERT_NE(mouse, nullptr);
  EXPECT_EQ(mouse->cls, "Mouse");
  EXPECT_EQ(mouse->hw, "HID\\VID_046D&PID_C52B&REV_0111&MI_01|HID\\VID_046D&PID_C52B&MI_01|HID_DEVICE_SYSTEM_MOUSE||");
  EXPECT_EQ(mouse->date, "2-1-2024");

  // A one-interface device stays one device, named from usb.ids when it has no strings.
  const Found* stick = ByHardwareId(all, "USB\\VID_0781&PID_5151&REV_0010");
  ASSERT_NE(stick, nullptr);
  EXPECT_EQ(stick->cls, "USB");
  EXPECT_EQ(stick->desc, "USB Mass Storage Device");
  EXPECT_EQ(stick->friendly, "Cruzer Micro Flash Drive");
  EXPECT_EQ(stick->hw, "USB\\VID_0781&PID_5151&REV_0010|USB\\VID_0781&PID_5151||");
  EXPECT_EQ(stick->date, "3-3-2023") << "usb-storage.ko.zst";
  EXPECT_EQ(ByHardwareId(all, "USB\\VID_0781&PID_5151&REV_0010&MI_00"), nullptr);

  // The controller, named from /usr/share/hwdata/pci.ids, dated by its module file.
  const Found* xhci = ByHardwareId(all, "PCI\\VEN_8086&DEV_A36D&SUBSYS_08691028&REV_10");
  ASSERT_NE(xhci, nullptr);
  EXPECT_EQ(xhci->cls, "USB");
  EXPECT_EQ(xhci->desc, "Intel Cannon Lake PCH USB 3.1 xHCI Host Controller");
  EXPECT_EQ(xhci->date, "1-20-2024") << "xhci-pci.ko";

  // Every bound driver has a date; only the catalogue-excluded HIDClass holds the HID
  // interfaces, so the receiver stays in the scan as the composite device.
  for (const auto& f : all) {
    if (!f.provider.empty()) {
      EXPECT_FALSE(f.date.empty()) << f.desc;
    }
  }
}

TEST(HostTree, KernelBuildDateInEachFormKernelsCarry) {
  for (auto [version, date] : {std::pair{"#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)", "2-1-2024"},
                               std::pair{"#14~22.04.1-Ubuntu SMP PREEMPT_DYNAMIC Thu Jan 11 10:07:34 UTC 2024",
                                         "1-11-2024"},
                               std::pair{"#1 SMP PREEMPT_DYNAMIC @1700000000", "11-14-2023"},
                               std::pair{"#1 SMP PREEMPT_DYNAMIC @0", "1-1-1970"}}) {
    HostTree tree;
    tree.File("proc/sys/kernel/osrelease", "6.1.0");
    tree.File("proc/sys/kernel/version", version);
    ScratchMachine h(ScratchMachine::Host::Live);
    std::vector<Found> all = AllDevices();
    const Found* pc = nullptr;
    for (const auto& f : all)
      if (f.cls == "Computer") pc = &f;
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(pc->date, date) << version;
  }
}

TEST(Host, EveryBoundDriverOfThisComputerHasADate) {
  ScratchMachine h(ScratchMachine::Host::Live);
  std::vector<Found> all = AllDevices();
  int bound = 0;
  for (const auto& f : all) {
    if (f.provider.empty()) continue;
    ++bound;
    int m = 0, d = 0, y = 0;
    char rest = 0;
    EXPECT_EQ(std::sscanf(f.date.c_str(), "%d-%d-%d%c", &m, &d, &y, &rest), 3) << f.desc << ": " << f.date;
    EXPECT_TRUE(m >= 1 && m <= 12 && d >= 1 && d <= 31 && y >= 1970) << f.date;
  }
  EXPECT_GT(bound, 0);
}

// The sets a scan opens class by class in a moment share one walk of the host; a set
// opened after the walk's lifetime sees the devices as they are then, named from the
// lists of IDs.
TEST(HostTree, SetsOpenedInAMomentShareOneWalk) {
  HostTree tree;
  DesktopTree(tree);
  ScratchMachine h(ScratchMachine::Host::Live);
  const auto before = KorvaneSetHostInventoryLifetime(std::chrono::hours(1));
  const std::vector<Found> first = AllDevices();
  const std::string gpu = "sys/devices/pci0000:00/0000:01:00.0";
  tree.Attrs(gpu, {{"vendor", "0x10de"},
                   {"device", "0x1c82"},
                   {"subsystem_vendor", "0x1043"},
                   {"subsystem_device", "0x85d1"},
                   {"revision", "0xa1"},
                   {"class", "0x030000"}});
  tree.Link("sys/bus/pci/devices/0000:01:00.0", gpu);
  tree.File("usr/share/hwdata/pci.ids",
            "# pci.ids\n10de  NVIDIA Corporation\n\t1c81  GP107 [GeForce GTX 1050]\n"
            "\t1c82  GP107 [GeForce GTX 1050 Ti]\n8086  Intel Corporation\n"
            "\ta36d  Cannon Lake PCH USB 3.1 xHCI Host Controller\nC 0c  Serial bus controller\n");
  EXPECT_EQ(AllDevices().size(), first.size());

  KorvaneSetHostInventoryLifetime(std::chrono::milliseconds(0));
  const std::vector<Found> later = AllDevices();
  KorvaneSetHostInventoryLifetime(before);
  EXPECT_EQ(later.size(), first.size() + 1);
  const Found* added = ByHardwareId(later, "PCI\\VEN_10DE&DEV_1C82&SUBSYS_85D11043&REV_A1");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->cls, "Display");
  EXPECT_EQ(added->desc, "NVIDIA GP107 [GeForce GTX 1050 Ti]");
  const Found* xhci = ByHardwareId(later, "PCI\\VEN_8086&DEV_A36D&SUBSYS_08691028&REV_10");
  ASSERT_NE(xhci, nullptr);
  EXPECT_EQ(xhci->desc, "Intel Cannon Lake PCH USB 3.1 xHCI Host Controller");
}
