// The live host's devices: sysfs and /proc seen through the standard Windows setup
// classes, with Windows-form hardware and compatible IDs and driver keys synthesised from
// the bound kernel driver.
#include <windows.h>
#include <setupapi.h>

#include <korvane_text.h>

#include "devices.h"
#include "hive.h"
#include "internal.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace kvp {

namespace {

// Installed setup classes in the order the configuration manager lists them (by GUID),
// the excluded ones included, as a Western Windows XP names them.
const std::vector<HostClassInfo> kClasses = {
    {"{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}", "WCEUSBS", "Windows CE USB Devices"},
    {"{36FC9E60-C465-11CF-8056-444553540000}", "USB", "Universal Serial Bus controllers"},
    {"{4658EE7E-F050-11D1-B6BD-00C04FA372A7}", "PNPPrinters", "IEEE 1394 and SCSI printers"},
    {"{48721B56-6795-11D2-B1A8-0080C72E74A2}", "Dot4", "IEEE 1284.4 devices"},
    {"{49CE6AC8-6F86-11D2-B1E5-0080C72E74A2}", "Dot4Print", "IEEE 1284.4 compatible printers"},
    {"{4D36E965-E325-11CE-BFC1-08002BE10318}", "CDROM", "DVD/CD-ROM drives"},
    {"{4D36E966-E325-11CE-BFC1-08002BE10318}", "Computer", "Computer"},
    {"{4D36E967-E325-11CE-BFC1-08002BE10318}", "DiskDrive", "Disk drives"},
    {"{4D36E968-E325-11CE-BFC1-08002BE10318}", "Display", "Display adapters"},
    {"{4D36E969-E325-11CE-BFC1-08002BE10318}", "fdc", "Floppy disk controllers"},
    {"{4D36E96A-E325-11CE-BFC1-08002BE10318}", "hdc", "IDE ATA/ATAPI controllers"},
    {"{4D36E96B-E325-11CE-BFC1-08002BE10318}", "Keyboard", "Keyboards"},
    {"{4D36E96C-E325-11CE-BFC1-08002BE10318}", "MEDIA", "Sound, video and game controllers"},
    {"{4D36E96D-E325-11CE-BFC1-08002BE10318}", "Modem", "Modems"},
    {"{4D36E96E-E325-11CE-BFC1-08002BE10318}", "Monitor", "Monitors"},
    {"{4D36E96F-E325-11CE-BFC1-08002BE10318}", "Mouse", "Mice and other pointing devices"},
    {"{4D36E970-E325-11CE-BFC1-08002BE10318}", "MTD", "PCMCIA and Flash memory devices"},
    {"{4D36E971-E325-11CE-BFC1-08002BE10318}", "MultiFunction", "Multifunction adapters"},
    {"{4D36E972-E325-11CE-BFC1-08002BE10318}", "Net", "Network adapters"},
    {"{4D36E973-E325-11CE-BFC1-08002BE10318}", "NetClient", "Network Client"},
    {"{4D36E974-E325-11CE-BFC1-08002BE10318}", "NetService", "Network Service"},
    {"{4D36E975-E325-11CE-BFC1-08002BE10318}", "NetTrans", "Network Protocol"},
    {"{4D36E977-E325-11CE-BFC1-08002BE10318}", "PCMCIA", "PCMCIA adapters"},
    {"{4D36E978-E325-11CE-BFC1-08002BE10318}", "Ports", "Ports (COM & LPT)"},
    {"{4D36E979-E325-11CE-BFC1-08002BE10318}", "Printer", "Printers"},
    {"{4D36E97B-E325-11CE-BFC1-08002BE10318}", "SCSIAdapter", "SCSI and RAID controllers"},
    {"{4D36E97D-E325-11CE-BFC1-08002BE10318}", "System", "System devices"},
    {"{4D36E97E-E325-11CE-BFC1-08002BE10318}", "Unknown", "Other devices"},
    {"{4D36E980-E325-11CE-BFC1-08002BE10318}", "FloppyDisk", "Floppy disk drives"},
    {"{50127DC3-0F36-415E-A6CC-4CB3BE910B65}", "Processor", "Processors"},
    {"{50906CB8-BA12-11D1-BF5D-0000F805F530}", "MultiPortSerial", "Multi-port serial adapters"},
    {"{50DD5230-BA8A-11D1-BF5D-0000F805F530}", "SmartCardReader", "Smart card readers"},
    {"{533C5B84-EC70-11D2-9505-00C04F79DEAF}", "VolumeSnapshot", "Storage volume shadow copies"},
    {"{6BDD1FC1-810F-11D0-BEC7-08002BE2092F}", "1394", "IEEE 1394 Bus host controllers"},
    {"{6BDD1FC5-810F-11D0-BEC7-08002BE2092F}", "Infrared", "Infrared devices"},
    {"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}", "Image", "Imaging devices"},
    {"{6D807884-7D21-11CF-801C-08002BE10318}", "TapeDrive", "Tape drives"},
    {"{71A27CDD-812A-11D0-BEC7-08002BE2092F}", "Volume", "Storage volumes"},
    {"{72631E54-78A4-11D0-BCF7-00AA00B7B32A}", "Battery", "Batteries"},
    {"{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "HIDClass", "Human Interface Devices"},
    {"{7EBEFBC0-3200-11D2-B4C2-00A0C9697D07}", "61883", "61883 Device Class"},
    {"{8ECC055D-047F-11D1-A537-0000F8753ED1}", "LegacyDriver", "Non-Plug and Play Drivers"},
    {"{C06FF265-AE09-48F0-812C-16753D7CBA83}", "AVC", "AVC Device Class"},
    {"{CE5939AE-EBDE-11D0-B181-0000F8753EC4}", "MediumChanger", "Medium Changers"},
    {"{D45B1C18-C8FA-11D1-9F77-0000F805F530}", "NtApm", "NT Apm/Legacy Support"},
    {"{D48179BE-EC20-11D1-B6B8-00C04FA372A7}", "SBP2", "SBP2 IEEE 1394 Devices"},
    {"{E0CBF06C-CD8B-4647-BB8A-263B43F0F974}", "Bluetooth", "Bluetooth Radios"},
    {"{EEC5AD98-8080-425F-922A-DABF3DE3F69A}", "WPD", "Portable Devices"},
};

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

unsigned long ReadHex(const std::string& path, bool* ok = nullptr) {
  std::string s = ReadLine(path);
  if (ok) *ok = !s.empty();
  return s.empty() ? 0 : std::strtoul(s.c_str(), nullptr, 16);
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> out;
  DIR* d = opendir(path.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') out.push_back(e->d_name);
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

bool Exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

std::string LinkBase(const std::string& link) {
  char buf[4096];
  ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = 0;
  const char* s = std::strrchr(buf, '/');
  return s ? s + 1 : buf;
}

std::string Fmt(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* f, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, f);
  std::vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

// ---- pci.ids ----

struct PciNames {
  std::map<unsigned, std::string> vendors;
  std::map<unsigned, std::string> devices;  // vendor << 16 | device
};

const PciNames& Pci() {
  static PciNames names;
  static std::once_flag once;
  std::call_once(once, [] {
    std::ifstream in("/usr/share/misc/pci.ids");
    std::string l;
    unsigned vendor = 0;
    while (std::getline(in, l)) {
      if (l.empty() || l[0] == '#') continue;
      if (l[0] == 'C' && l.size() > 1 && l[1] == ' ') break;  // device classes follow
      if (l[0] != '\t') {
        if (l.size() < 6) continue;
        vendor = static_cast<unsigned>(std::strtoul(l.substr(0, 4).c_str(), nullptr, 16));
        names.vendors[vendor] = l.substr(6);
      } else if (l.size() > 7 && l[1] != '\t') {
        unsigned dev = static_cast<unsigned>(std::strtoul(l.substr(1, 4).c_str(), nullptr, 16));
        names.devices[(vendor << 16) | dev] = l.substr(7);
      }
    }
  });
  return names;
}

std::string ShortVendor(std::string v) {
  for (const char* suffix : {" Corporation", " Corp.", " Inc.", " Co., Ltd.", ", Inc.", " Ltd.", " Limited"}) {
    size_t n = std::strlen(suffix);
    if (v.size() > n && v.compare(v.size() - n, n, suffix) == 0) v.erase(v.size() - n);
  }
  if (!v.empty() && v.back() == ',') v.pop_back();
  return v;
}

// ---- kernel driver facts ----

struct KernelFacts {
  std::string release;
  std::string date;  // M-D-YYYY, or empty
  std::map<std::string, std::string> modulePath;
};

std::string DateText(time_t t) {
  struct tm tm;
  if (t <= 0 || !localtime_r(&t, &tm)) return {};
  return Fmt("%d-%d-%d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
}

const KernelFacts& Kernel() {
  static KernelFacts k;
  static std::once_flag once;
  std::call_once(once, [] {
    struct utsname u;
    if (uname(&u) == 0) k.release = u.release;
    // Debian's kernels carry their build date in the version text: "... (2024-02-01)".
    std::string ver = ReadLine("/proc/version");
    size_t p = ver.rfind('(');
    int y, m, d;
    if (p != std::string::npos && std::sscanf(ver.c_str() + p, "(%d-%d-%d)", &y, &m, &d) == 3 && y > 1990)
      k.date = Fmt("%d-%d-%d", m, d, y);
    struct stat st;
    if (k.date.empty() && stat(("/boot/vmlinuz-" + k.release).c_str(), &st) == 0) k.date = DateText(st.st_mtime);
    std::string base = "/lib/modules/" + k.release + "/";
    std::ifstream dep(base + "modules.dep");
    std::string l;
    while (std::getline(dep, l)) {
      size_t colon = l.find(':');
      if (colon == std::string::npos) continue;
      std::string path = l.substr(0, colon);
      size_t slash = path.find_last_of('/');
      std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
      name = name.substr(0, name.find(".ko"));
      std::replace(name.begin(), name.end(), '-', '_');
      k.modulePath[name] = path[0] == '/' ? path : base + path;
    }
  });
  return k;
}

struct HostDev {
  std::string cls;  // class GUID text
  std::string desc, friendly, mfg, location;
  std::vector<std::string> hw, compat;
  std::string driver;  // bound kernel driver, empty for none
  std::string module;  // its module, when it has one
};

// ---- sources ----

int PciClassIndex(unsigned cls) {
  unsigned base = cls >> 16, sub = (cls >> 8) & 0xFF;
  switch (base) {
    case 0x01:
      if (sub == 0x01 || sub == 0x06) return 10;  // hdc
      return 25;                                 // SCSIAdapter
    case 0x02: return 18;
    case 0x03: return 8;
    case 0x04: return 12;
    case 0x05:
    case 0x06:
    case 0x08:
    case 0x10:
    case 0x11: return 26;
    case 0x07: return sub == 0x03 ? 13 : sub == 0x00 || sub == 0x01 ? 23 : 26;
    case 0x09: return 39;
    case 0x0C:
      if (sub == 0x03) return 1;
      if (sub == 0x00) return 33;
      return 26;
    case 0x0D: return 18;
    default: return 27;  // Other devices
  }
}

const char* PciGenericName(unsigned cls) {
  switch (cls >> 16) {
    case 0x01: return "Mass storage controller";
    case 0x02: return "Ethernet Controller";
    case 0x03: return "Video Controller";
    case 0x04: return "Multimedia Audio Controller";
    case 0x06: return "PCI standard host CPU bridge";
    case 0x0C: return (cls >> 8 & 0xFF) == 0x03 ? "Standard Universal PCI to USB Host Controller" : "PCI Device";
    default: return "PCI Device";
  }
}

void DriverOf(const std::string& devPath, HostDev& d) {
  std::string drv = LinkBase(devPath + "/driver");
  if (drv.empty()) return;
  d.driver = drv;
  std::string mod = LinkBase(devPath + "/driver/module");
  d.module = mod;
}

void ReadPci(std::vector<HostDev>& out) {
  const std::string root = "/sys/bus/pci/devices/";
  for (const auto& addr : ListDir(root)) {
    std::string p = root + addr;
    unsigned ven = static_cast<unsigned>(ReadHex(p + "/vendor")), dev = static_cast<unsigned>(ReadHex(p + "/device"));
    unsigned sven = static_cast<unsigned>(ReadHex(p + "/subsystem_vendor"));
    unsigned sdev = static_cast<unsigned>(ReadHex(p + "/subsystem_device"));
    unsigned rev = static_cast<unsigned>(ReadHex(p + "/revision"));
    unsigned cls = static_cast<unsigned>(ReadHex(p + "/class"));
    HostDev d;
    d.cls = kClasses[static_cast<size_t>(PciClassIndex(cls))].guid;
    std::string v = Fmt("PCI\\VEN_%04X&DEV_%04X", ven, dev);
    std::string sub = Fmt("&SUBSYS_%04X%04X", sdev, sven);
    std::string r = Fmt("&REV_%02X", rev);
    std::string cc6 = Fmt("CC_%06X", cls), cc4 = Fmt("CC_%04X", cls >> 8);
    d.hw = {v + sub + r, v + sub, v + "&" + cc6, v + "&" + cc4};
    d.compat = {v + r, v, Fmt("PCI\\VEN_%04X&", ven) + cc6, Fmt("PCI\\VEN_%04X&", ven) + cc4,
                Fmt("PCI\\VEN_%04X", ven), "PCI\\" + cc6, "PCI\\" + cc4};
    const PciNames& names = Pci();
    auto vi = names.vendors.find(ven);
    auto di = names.devices.find((ven << 16) | dev);
    std::string vendor = vi != names.vendors.end() ? ShortVendor(vi->second) : std::string();
    d.mfg = vendor.empty() ? "(Standard system devices)" : vendor;
    if (di != names.devices.end())
      d.desc = vendor.empty() ? di->second : vendor + " " + di->second;
    else
      d.desc = PciGenericName(cls);
    unsigned bus = 0, slot = 0, fn = 0, dom = 0;
    if (std::sscanf(addr.c_str(), "%x:%x:%x.%x", &dom, &bus, &slot, &fn) == 4)
      d.location = Fmt("PCI bus %u, device %u, function %u", bus, slot, fn);
    DriverOf(p, d);
    out.push_back(std::move(d));
  }
}

void ReadUsb(std::vector<HostDev>& out) {
  const std::string root = "/sys/bus/usb/devices/";
  for (const auto& name : ListDir(root)) {
    if (name.find(':') != std::string::npos) continue;
    std::string p = root + name;
    bool ok = false;
    unsigned vid = static_cast<unsigned>(ReadHex(p + "/idVendor", &ok));
    if (!ok) continue;
    unsigned pid = static_cast<unsigned>(ReadHex(p + "/idProduct"));
    unsigned rev = static_cast<unsigned>(ReadHex(p + "/bcdDevice"));
    unsigned dcls = static_cast<unsigned>(ReadHex(p + "/bDeviceClass"));
    HostDev d;
    d.location = "Port_#" + name;
    DriverOf(p, d);
    std::string product = ReadLine(p + "/product");
    std::string maker = ReadLine(p + "/manufacturer");
    d.mfg = maker.empty() ? "(Standard USB Host Controller)" : maker;
    if (vid == 0x1D6B) {
      std::string hub = pid >= 3 ? "ROOT_HUB30" : "ROOT_HUB20";
      d.cls = kClasses[1].guid;
      d.desc = pid >= 3 ? "USB Root Hub (USB 3.0)" : "USB Root Hub";
      d.hw = {Fmt("USB\\%s&VID%04X&PID%04X&REV%04X", hub.c_str(), vid, pid, rev),
              Fmt("USB\\%s&VID%04X&PID%04X", hub.c_str(), vid, pid), "USB\\" + hub};
      out.push_back(std::move(d));
      continue;
    }
    d.hw = {Fmt("USB\\VID_%04X&PID_%04X&REV_%04X", vid, pid, rev), Fmt("USB\\VID_%04X&PID_%04X", vid, pid)};
    std::vector<std::string> ifaces;
    for (const auto& i : ListDir(p))
      if (i.rfind(name + ":", 0) == 0) ifaces.push_back(i);
    unsigned icls = dcls, isub = 0, iprot = 0;
    if (!ifaces.empty() && (dcls == 0 || dcls == 0xEF)) {
      std::string ip = p + "/" + ifaces[0];
      icls = static_cast<unsigned>(ReadHex(ip + "/bInterfaceClass"));
      isub = static_cast<unsigned>(ReadHex(ip + "/bInterfaceSubClass"));
      iprot = static_cast<unsigned>(ReadHex(ip + "/bInterfaceProtocol"));
      HostDev tmp;
      DriverOf(ip, tmp);
      if (!tmp.driver.empty()) {
        d.driver = tmp.driver;
        d.module = tmp.module;
      }
    } else {
      isub = static_cast<unsigned>(ReadHex(p + "/bDeviceSubClass"));
      iprot = static_cast<unsigned>(ReadHex(p + "/bDeviceProtocol"));
    }
    if (ifaces.size() > 1 && icls != 0x09) {
      d.compat = {"USB\\DevClass_00&SubClass_00&Prot_00", "USB\\DevClass_00&SubClass_00", "USB\\DevClass_00",
                  "USB\\COMPOSITE"};
    } else {
      d.compat = {Fmt("USB\\Class_%02X&SubClass_%02X&Prot_%02X", icls, isub, iprot),
                  Fmt("USB\\Class_%02X&SubClass_%02X", icls, isub), Fmt("USB\\Class_%02X", icls)};
    }
    int ci = 1;
    const char* generic = "USB Composite Device";
    switch (icls) {
      case 0x01: ci = 12; generic = "USB Audio Device"; break;
      case 0x02: ci = 13; generic = "USB Modem"; break;
      case 0x03: ci = 39; generic = "USB Human Interface Device"; break;
      case 0x06: ci = 35; generic = "USB Imaging Device"; break;
      case 0x07: ci = 24; generic = "USB Printing Support"; break;
      case 0x08: ci = 1; generic = "USB Mass Storage Device"; break;
      case 0x09: ci = 1; generic = "Generic USB Hub"; break;
      case 0x0A: ci = 23; generic = "USB Serial Port"; break;
      case 0x0E: ci = 35; generic = "USB Video Device"; break;
      case 0xE0: ci = 46; generic = "Generic Bluetooth Radio"; break;
      case 0xFF: ci = 27; generic = "USB Device"; break;
      default: break;
    }
    d.cls = kClasses[static_cast<size_t>(ci)].guid;
    d.desc = generic;
    if (icls != 0x09 && !product.empty()) d.friendly = product;
    out.push_back(std::move(d));
  }
}

bool TestBit(const std::string& bitmap, unsigned bit) {
  // sysfs writes the words most significant first, each one unsigned long.
  std::vector<unsigned long long> words;
  std::istringstream ss(bitmap);
  std::string w;
  while (ss >> w) words.push_back(std::strtoull(w.c_str(), nullptr, 16));
  std::reverse(words.begin(), words.end());
  unsigned bits = sizeof(unsigned long) * 8;
  size_t idx = bit / bits;
  return idx < words.size() && ((words[idx] >> (bit % bits)) & 1ULL);
}

void ReadInput(std::vector<HostDev>& out) {
  const std::string root = "/sys/class/input/";
  for (const auto& name : ListDir(root)) {
    if (name.rfind("input", 0) != 0) continue;
    std::string p = root + name;
    std::string kname = ReadLine(p + "/name");
    unsigned bus = static_cast<unsigned>(ReadHex(p + "/id/bustype"));
    unsigned vid = static_cast<unsigned>(ReadHex(p + "/id/vendor"));
    unsigned pid = static_cast<unsigned>(ReadHex(p + "/id/product"));
    unsigned ver = static_cast<unsigned>(ReadHex(p + "/id/version"));
    std::string key = ReadLine(p + "/capabilities/key"), rel = ReadLine(p + "/capabilities/rel");
    bool mouse = (TestBit(rel, 0) && TestBit(rel, 1)) || TestBit(key, 0x14a) || TestBit(key, 0x145);
    bool keyboard = !mouse && TestBit(key, 16) && TestBit(key, 30) && TestBit(key, 44);
    HostDev d;
    DriverOf(p + "/device", d);
    d.friendly = kname;
    std::string hid = Fmt("HID\\VID_%04X&PID_%04X", vid, pid);
    if (kname.find("Power Button") != std::string::npos || kname.find("Sleep Button") != std::string::npos) {
      bool sleep = kname.find("Sleep") != std::string::npos;
      d.cls = kClasses[26].guid;
      d.desc = sleep ? "ACPI Sleep Button" : "ACPI Power Button";
      d.friendly.clear();
      d.hw = {sleep ? "ACPI\\PNP0C0E" : "ACPI\\PNP0C0C"};
      d.compat = {sleep ? "*PNP0C0E" : "*PNP0C0C"};
      d.mfg = "(Standard system devices)";
    } else if (bus == 0x11) {  // i8042: the PS/2 ports
      d.mfg = "(Standard keyboards)";
      if (keyboard) {
        d.cls = kClasses[11].guid;
        d.desc = "Standard 101/102-Key or Microsoft Natural PS/2 Keyboard";
        d.hw = {"ACPI\\PNP0303"};
        d.compat = {"*PNP0303"};
      } else {
        d.cls = kClasses[15].guid;
        d.desc = "PS/2 Compatible Mouse";
        d.mfg = "(Standard mouse types)";
        d.hw = {"ACPI\\PNP0F13"};
        d.compat = {"*PNP0F13"};
      }
    } else if (keyboard || mouse) {
      d.cls = kClasses[keyboard ? 11 : 15].guid;
      d.desc = keyboard ? "HID Keyboard Device" : "HID-compliant mouse";
      d.mfg = keyboard ? "(Standard keyboards)" : "Microsoft";
      d.hw = {hid + Fmt("&REV_%04X", ver), hid, keyboard ? "HID_DEVICE_SYSTEM_KEYBOARD" : "HID_DEVICE_SYSTEM_MOUSE"};
      d.compat = {keyboard ? "HID_DEVICE_UP:0001_U:0006" : "HID_DEVICE_UP:0001_U:0002", "HID_DEVICE"};
    } else {
      d.cls = kClasses[39].guid;
      d.desc = "HID-compliant device";
      d.mfg = "(Standard system devices)";
      d.hw = {hid + Fmt("&REV_%04X", ver), hid};
      d.compat = {"HID_DEVICE"};
    }
    out.push_back(std::move(d));
  }
}

std::string Padded(std::string s, size_t n) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  for (auto& c : s)
    if (c == ' ') c = '_';
  s.resize(n, '_');
  return s;
}

void ReadBlock(std::vector<HostDev>& out) {
  const std::string root = "/sys/block/";
  for (const auto& name : ListDir(root)) {
    for (const char* skip : {"loop", "ram", "zram", "dm-", "md", "nbd"})
      if (name.rfind(skip, 0) == 0) goto next;
    {
      std::string p = root + name;
      if (!Exists(p + "/device")) continue;
      HostDev d;
      DriverOf(p + "/device", d);
      if (d.driver.empty()) DriverOf(p + "/device/device", d);
      std::string vendor = ReadLine(p + "/device/vendor"), model = ReadLine(p + "/device/model");
      std::string rev = ReadLine(p + "/device/rev");
      if (d.driver == "virtio_blk") {
        vendor = "Red Hat";
        model = "VirtIO";
        rev = "0001";
      }
      if (vendor.rfind("0x", 0) == 0) vendor.clear();
      bool cd = name.rfind("sr", 0) == 0;
      bool floppy = name.rfind("fd", 0) == 0;
      if (floppy) {
        d.cls = kClasses[28].guid;
        d.desc = "Floppy disk drive";
        d.hw = {"FDC\\GENERIC_FLOPPY_DRIVE"};
        d.compat = {"GenFloppyDisk"};
        d.mfg = "(Standard floppy disk drives)";
        out.push_back(std::move(d));
        continue;
      }
      std::string kind = cd ? "CdRom" : "Disk";
      std::string v8 = Padded(vendor.empty() ? (name.rfind("nvme", 0) == 0 ? "NVMe" : "Generic") : vendor, 8);
      std::string p16 = Padded(model.empty() ? name : model, 16);
      std::string r4 = Padded(rev.empty() ? "0000" : rev, 4);
      d.cls = kClasses[cd ? 5 : 7].guid;
      d.hw = {"SCSI\\" + kind + v8 + p16 + r4, "SCSI\\" + kind + v8 + p16, "SCSI\\" + kind + v8,
              "SCSI\\" + v8 + p16 + r4.substr(0, 1), v8 + p16 + r4.substr(0, 1), cd ? "GenCdRom" : "GenDisk"};
      d.compat = {"SCSI\\" + kind, "SCSI\\RAW"};
      std::string label = vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
      if (label.empty()) label = cd ? "CD-ROM Drive" : "Disk drive";
      d.desc = cd ? label + " SCSI CdRom Device" : label + " SCSI Disk Device";
      d.mfg = cd ? "(Standard CD-ROM drives)" : "(Standard disk drives)";
      out.push_back(std::move(d));
    }
  next:;
  }
}

void ReadProcessors(std::vector<HostDev>& out) {
  std::ifstream in("/proc/cpuinfo");
  std::string l;
  struct Cpu {
    std::string model, vendor;
    int family = -1, modelNo = -1;
    int index = -1;
  };
  std::vector<Cpu> cpus;
  while (std::getline(in, l)) {
    size_t colon = l.find(':');
    if (colon == std::string::npos) continue;
    std::string k = l.substr(0, colon), v = l.substr(colon + 1);
    while (!k.empty() && (k.back() == ' ' || k.back() == '\t')) k.pop_back();
    size_t b = v.find_first_not_of(' ');
    v = b == std::string::npos ? std::string() : v.substr(b);
    if (k == "processor") {
      cpus.emplace_back();
      cpus.back().index = std::atoi(v.c_str());
    } else if (!cpus.empty()) {
      if (k == "model name" || (k == "Processor" && cpus.back().model.empty())) cpus.back().model = v;
      if (k == "vendor_id") cpus.back().vendor = v;
      if (k == "cpu family") cpus.back().family = std::atoi(v.c_str());
      if (k == "model") cpus.back().modelNo = std::atoi(v.c_str());
    }
  }
  for (const auto& c : cpus) {
    HostDev d;
    d.cls = kClasses[29].guid;
    d.desc = c.model.empty() ? "Processor" : c.model;
    d.mfg = c.vendor.empty() ? "(Standard processor types)" : c.vendor;
    std::string v = c.vendor.empty() ? "Unknown" : c.vendor;
    if (c.family >= 0 && c.modelNo >= 0) {
      std::string fm = Fmt("_-_x86_Family_%d_Model_%d", c.family, c.modelNo);
      std::string f = Fmt("_-_x86_Family_%d", c.family);
      d.hw = {"ACPI\\" + v + fm, "*" + v + fm, "ACPI\\" + v + f, "*" + v + f, "ACPI\\" + v + "_-_x86", "*" + v + "_-_x86"};
    } else {
      d.hw = {"ACPI\\" + v, "*" + v};
    }
    std::string sys = Fmt("/sys/devices/system/cpu/cpu%d", c.index);
    DriverOf(sys, d);
    if (d.driver.empty()) d.driver = "processor";
    out.push_back(std::move(d));
  }
}

void ReadMonitors(std::vector<HostDev>& out) {
  const std::string root = "/sys/class/drm/";
  for (const auto& name : ListDir(root)) {
    if (name.find('-') == std::string::npos) continue;
    std::string p = root + name;
    if (ReadLine(p + "/status") != "connected") continue;
    std::ifstream in(p + "/edid", std::ios::binary);
    std::string edid((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HostDev d;
    d.cls = kClasses[14].guid;
    d.desc = "Plug and Play Monitor";
    d.mfg = "(Standard monitor types)";
    if (edid.size() >= 128) {
      auto b = [&](size_t i) { return static_cast<unsigned char>(edid[i]); };
      unsigned m = (b(8) << 8) | b(9);
      char id[4] = {static_cast<char>('@' + ((m >> 10) & 31)), static_cast<char>('@' + ((m >> 5) & 31)),
                    static_cast<char>('@' + (m & 31)), 0};
      unsigned prod = b(10) | (b(11) << 8);
      d.hw = {Fmt("MONITOR\\%s%04X", id, prod)};
      for (size_t off = 54; off + 18 <= 126; off += 18)
        if (b(off) == 0 && b(off + 1) == 0 && b(off + 3) == 0xFC) {
          std::string n = edid.substr(off + 5, 13);
          n = n.substr(0, n.find('\n'));
          while (!n.empty() && n.back() == ' ') n.pop_back();
          if (!n.empty()) d.friendly = n;
        }
    } else {
      d.hw = {"MONITOR\\Default_Monitor"};
    }
    d.compat = {"*PNP09FF"};
    std::string card = name.substr(0, name.find('-'));
    DriverOf(root + card + "/device", d);
    if (d.driver.empty()) d.driver = "monitor";
    out.push_back(std::move(d));
  }
}

std::vector<uint8_t> WideValue(const std::string& ansi) { return Utf16Bytes(AnsiToWide(ansi), true); }

}  // namespace

const std::vector<HostClassInfo>& HostClasses() { return kClasses; }

std::shared_ptr<const Inventory> ReadHostInventory() {
  std::vector<HostDev> found;
  ReadPci(found);
  ReadUsb(found);
  ReadInput(found);
  ReadBlock(found);
  ReadProcessors(found);
  ReadMonitors(found);
  {
    long cpus = sysconf(_SC_NPROCESSORS_CONF);
    HostDev pc;
    pc.cls = kClasses[6].guid;
    pc.desc = cpus > 1 ? "ACPI Multiprocessor PC" : "ACPI Uniprocessor PC";
    pc.hw = {cpus > 1 ? "acpiapic_mp" : "acpiapic_up"};
    pc.mfg = "(Standard computers)";
    pc.driver = "kernel";
    found.push_back(std::move(pc));
  }

  const KernelFacts& kernel = Kernel();
  auto inv = std::make_shared<Inventory>();
  auto overlay = std::make_shared<RegKey>();
  RegKey& classRoot = overlay->WalkOrAdd({"SYSTEM", "CurrentControlSet", "Control", "Class"});
  for (const auto& c : kClasses) {
    DevClass dc;
    ParseGuid(c.guid, &dc.guid);
    dc.description = c.description;
    RegKey& ck = classRoot.FindOrAdd(c.guid);
    ck.SetValue("", REG_SZ, WideValue(c.description));
    ck.SetValue("Class", REG_SZ, WideValue(c.name));
    int next = 0;
    for (const auto& h : found) {
      if (h.cls != c.guid) continue;
      Device dev;
      auto text = [](const std::string& s) { return TextProp(Utf8ToAnsi(s)); };
      dev.props[SPDRP_DEVICEDESC] = text(h.desc);
      if (!h.friendly.empty()) dev.props[SPDRP_FRIENDLYNAME] = text(h.friendly);
      std::vector<std::string> hw, compat;
      for (const auto& s : h.hw) hw.push_back(Utf8ToAnsi(s));
      for (const auto& s : h.compat) compat.push_back(Utf8ToAnsi(s));
      if (!hw.empty()) dev.props[SPDRP_HARDWAREID] = MultiProp(hw);
      if (!compat.empty()) dev.props[SPDRP_COMPATIBLEIDS] = MultiProp(compat);
      dev.props[SPDRP_CLASS] = TextProp(c.name);
      dev.props[SPDRP_CLASSGUID] = TextProp(c.guid);
      if (!h.mfg.empty()) dev.props[SPDRP_MFG] = text(h.mfg);
      if (!h.location.empty()) dev.props[SPDRP_LOCATION_INFORMATION] = text(h.location);
      dev.props[SPDRP_CONFIGFLAGS] = DwordProp(0);
      if (!h.driver.empty()) {
        std::string keyName = Fmt("%04d", next++);
        std::string driverKey = std::string(c.guid) + "\\" + keyName;
        dev.props[SPDRP_DRIVER] = TextProp(driverKey);
        dev.props[SPDRP_SERVICE] = TextProp(h.driver);
        std::string mod = h.module.empty() ? h.driver : h.module;
        std::string version = ReadLine("/sys/module/" + mod + "/version");
        if (version.empty()) version = kernel.release;
        std::string date = kernel.date;
        auto mp = kernel.modulePath.find(mod);
        struct stat st;
        if (mp != kernel.modulePath.end() && stat(mp->second.c_str(), &st) == 0) date = DateText(st.st_mtime);
        RegKey& dk = ck.FindOrAdd(keyName);
        dk.SetValue("DriverDesc", REG_SZ, WideValue(Utf8ToAnsi(h.friendly.empty() ? h.desc : h.friendly)));
        dk.SetValue("ProviderName", REG_SZ,
                    WideValue(h.driver == "kernel" ? "Linux kernel" : "Linux kernel (" + h.driver + ")"));
        dk.SetValue("DriverVersion", REG_SZ, WideValue(version));
        if (!date.empty()) dk.SetValue("DriverDate", REG_SZ, WideValue(date));
        std::string match = h.compat.empty() ? (h.hw.empty() ? std::string() : h.hw[0]) : h.hw[0];
        for (auto& ch : match) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (!match.empty()) dk.SetValue("MatchingDeviceId", REG_SZ, WideValue(Utf8ToAnsi(match)));
      }
      dc.devices.push_back(std::move(dev));
    }
    inv->classes.push_back(std::move(dc));
  }
  SetMachineOverlay(overlay);
  return inv;
}

}  // namespace kvp
