// The live host's devices: sysfs and /proc seen through the standard Windows setup
// classes, with Windows-form hardware and compatible IDs and driver keys synthesised from
// the bound kernel driver. KORVANE_HOST_ROOT, when set, names a folder that is read in
// place of "/" (a generated sysfs tree, a copy of another computer's files).
#include <windows.h>
#include <setupapi.h>

#include <korvane_text.h>

#include "devices.h"
#include "hive.h"
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>
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

// The GUID of a setup class by its name ("USB", "HIDClass").
const char* ClassGuid(const char* name) {
  for (const auto& c : kClasses)
    if (std::strcmp(c.name, name) == 0) return c.guid;
  return ClassGuid("Unknown");
}

// Where the host's files are read: "" for the real file system, else a folder standing
// in for "/".
struct HostFs {
  std::string root;
  std::string operator()(const std::string& path) const { return root + path; }
};

HostFs CurrentFs() {
  const char* env = std::getenv("KORVANE_HOST_ROOT");
  HostFs fs{env ? env : ""};
  while (!fs.root.empty() && fs.root.back() == '/') fs.root.pop_back();
  return fs;
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

unsigned ReadHex(const std::string& path, bool* ok = nullptr) {
  std::string s = ReadLine(path);
  if (ok) *ok = !s.empty();
  return s.empty() ? 0 : static_cast<unsigned>(std::strtoul(s.c_str(), nullptr, 16));
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

bool IsDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

// ---- pci.ids and usb.ids ----

// Vendor and device names of one ID list; both lists share the layout "vvvv  Vendor",
// then "\tdddd  Device" lines, with the class tables after the vendors. A machine names a
// few dozen IDs of the list's tens of thousands: the IDs wanted are gathered first and
// looked up in one pass that stops after the last wanted vendor's block.
class IdNames {
 public:
  void Want(unsigned vendor) { vendors_.emplace(vendor, std::string()); }
  void Want(unsigned vendor, unsigned device) {
    Want(vendor);
    devices_.emplace((vendor << 16) | device, std::string());
  }
  void Resolve(const std::string& path);

  std::string Vendor(unsigned v) const {
    auto i = vendors_.find(v);
    return i == vendors_.end() ? std::string() : i->second;
  }
  std::string Device(unsigned v, unsigned d) const {
    auto i = devices_.find((v << 16) | d);
    return i == devices_.end() ? std::string() : i->second;
  }

 private:
  std::map<unsigned, std::string> vendors_;
  std::map<unsigned, std::string> devices_;  // vendor << 16 | device
};

bool HexId(std::string_view l, size_t at) {
  if (l.size() < at + 6) return false;
  for (size_t i = at; i < at + 4; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(l[i]))) return false;
  return l[at + 4] == ' ';
}

unsigned Hex4(std::string_view l, size_t at) {
  unsigned v = 0;
  for (size_t i = at; i < at + 4; ++i) {
    const char c = l[i];
    v = v * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return v;
}

std::string NameAfter(std::string_view l, size_t at) {
  size_t b = l.find_first_not_of(' ', at);
  std::string n = b == std::string_view::npos ? std::string() : std::string(l.substr(b));
  while (!n.empty() && (n.back() == ' ' || n.back() == '\r')) n.pop_back();
  return n;
}

void IdNames::Resolve(const std::string& path) {
  if (vendors_.empty() || path.empty()) return;
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0) return;
    text.resize(static_cast<size_t>(size));
    in.seekg(0);
    in.read(&text[0], size);
    text.resize(static_cast<size_t>(in.gcount()));
  }
  const std::string_view all(text);
  size_t left = vendors_.size();  // wanted vendors whose block is still ahead
  bool inWanted = false;
  unsigned vendor = 0;
  for (size_t i = 0; i < all.size();) {
    size_t j = all.find('\n', i);
    if (j == std::string_view::npos) j = all.size();
    const std::string_view l = all.substr(i, j - i);
    i = j + 1;
    if (l.empty() || l[0] == '#') continue;
    if (l[0] != '\t') {
      if (inWanted && left == 0) break;  // past the last wanted vendor's block
      if (!HexId(l, 0)) break;           // the class tables follow the vendors
      vendor = Hex4(l, 0);
      auto it = vendors_.find(vendor);
      inWanted = it != vendors_.end();
      if (inWanted) {
        it->second = NameAfter(l, 5);
        --left;
      }
    } else if (inWanted && l.size() > 1 && l[1] != '\t' && HexId(l, 1)) {
      auto it = devices_.find((vendor << 16) | Hex4(l, 1));
      if (it != devices_.end()) it->second = NameAfter(l, 6);
    }
  }
}

// Where the distribution keeps the list by that name ("pci.ids"); empty when nowhere.
std::string IdsPath(const HostFs& fs, const char* file) {
  for (const char* dir : {"/usr/share/misc/", "/usr/share/hwdata/", "/usr/share/"}) {
    std::string path = fs(dir) + file;
    if (Exists(path)) return path;
  }
  return std::string();
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
  std::string date;  // the kernel's build date, M-D-YYYY, or empty
  std::map<std::string, std::string> modulePath;  // module name ('-' as '_') -> its file
};

// Windows stores a driver's date as M-D-YYYY.
std::string DateText(int year, int month, int day) {
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31) return {};
  return Fmt("%d-%d-%d", month, day, year);
}

std::string LocalDate(time_t t) {
  struct tm tm;
  if (!localtime_r(&t, &tm)) return {};
  return DateText(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string FileDate(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? LocalDate(st.st_mtime) : std::string();
}

// The build date in the kernel's version text (uname -v), in the forms kernels carry:
// Debian's "... Debian 6.1.76-1 (2024-02-01)", date(1)'s "... Thu Jan 11 10:07:34 UTC 2024",
// and the reproducible "@1706745600" (seconds since 1970, UTC).
std::string BuildDate(const std::string& version) {
  for (size_t p = version.find('('); p != std::string::npos; p = version.find('(', p + 1)) {
    int y, m, d;
    char close = 0;
    if (std::sscanf(version.c_str() + p, "(%4d-%2d-%2d%c", &y, &m, &d, &close) == 4 && close == ')')
      return DateText(y, m, d);
  }
  std::istringstream ss(version);
  std::vector<std::string> words;
  for (std::string w; ss >> w;) words.push_back(w);
  for (const auto& w : words)
    if (w.size() > 1 && w[0] == '@' && w.find_first_not_of("0123456789", 1) == std::string::npos) {
      time_t t = static_cast<time_t>(std::strtoll(w.c_str() + 1, nullptr, 10));
      struct tm tm;
      if (gmtime_r(&t, &tm)) return DateText(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    }
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (size_t i = 0; i + 1 < words.size(); ++i)
    for (int m = 0; m < 12; ++m)
      if (words[i] == kMonths[m] && words[i + 1].find_first_not_of("0123456789") == std::string::npos) {
        int day = std::atoi(words[i + 1].c_str());
        for (size_t j = i + 2; j < words.size(); ++j)
          if (words[j].size() == 4 && words[j].find_first_not_of("0123456789") == std::string::npos)
            return DateText(std::atoi(words[j].c_str()), m + 1, day);
      }
  return {};
}

std::string ModuleName(std::string file) {
  size_t slash = file.find_last_of('/');
  if (slash != std::string::npos) file.erase(0, slash + 1);
  file = file.substr(0, file.find(".ko"));
  std::replace(file.begin(), file.end(), '-', '_');
  return file;
}

// Every module file under a folder, compressed (".ko.xz", ".ko.zst", ".ko.gz") or not.
void FindModules(const std::string& dir, std::map<std::string, std::string>& out) {
  for (const auto& name : ListDir(dir)) {
    std::string p = dir + "/" + name;
    if (name.find(".ko") != std::string::npos) {
      out.emplace(ModuleName(name), p);
    } else if (IsDir(p)) {
      FindModules(p, out);
    }
  }
}

KernelFacts ReadKernel(const HostFs& fs) {
  KernelFacts k;
  k.release = ReadLine(fs("/proc/sys/kernel/osrelease"));
  std::string version = ReadLine(fs("/proc/sys/kernel/version"));
  struct utsname u;
  if (fs.root.empty() && uname(&u) == 0) {
    if (k.release.empty()) k.release = u.release;
    if (version.empty()) version = u.version;
  }
  std::string base = fs("/lib/modules/" + k.release);
  k.date = BuildDate(version);
  if (k.date.empty()) k.date = FileDate(fs("/boot/vmlinuz-" + k.release));
  if (k.date.empty()) k.date = FileDate(base + "/modules.builtin");
  // modules.dep names the file modprobe loads; without it the tree itself is searched.
  std::ifstream dep(base + "/modules.dep");
  std::string l;
  while (std::getline(dep, l)) {
    size_t colon = l.find(':');
    if (colon == std::string::npos) continue;
    std::string path = l.substr(0, colon);
    k.modulePath[ModuleName(path)] = path[0] == '/' ? fs(path) : base + "/" + path;
  }
  if (k.modulePath.empty()) FindModules(base, k.modulePath);
  return k;
}

const KernelFacts& Kernel(const HostFs& fs) {
  static std::mutex mu;
  static std::map<std::string, KernelFacts> cache;
  std::lock_guard<std::mutex> lock(mu);
  auto it = cache.find(fs.root);
  if (it == cache.end()) it = cache.emplace(fs.root, ReadKernel(fs)).first;
  return it->second;
}

struct HostDev {
  std::string cls;  // class GUID text
  std::string desc, friendly, mfg, location;
  std::vector<std::string> hw, compat;
  std::string driver;  // bound kernel driver, empty for none
  std::string module;  // its module, when it has one
};

// The driver's date: a loadable module's file date, else (built into the kernel, or its
// file is gone) the kernel's build date.
std::string DriverDateOf(const HostFs& fs, const KernelFacts& kernel, const std::string& module) {
  std::string name = ModuleName(module);
  bool loadable = Exists(fs("/sys/module/" + name + "/initstate")) || Exists(fs("/sys/module/" + name + "/coresize"));
  if (loadable) {
    auto mp = kernel.modulePath.find(name);
    if (mp != kernel.modulePath.end()) {
      std::string date = FileDate(mp->second);
      if (!date.empty()) return date;
    }
  }
  return kernel.date;
}

// ---- sources ----

const char* PciClassName(unsigned cls) {
  unsigned base = cls >> 16, sub = (cls >> 8) & 0xFF;
  switch (base) {
    case 0x01: return sub == 0x01 || sub == 0x06 ? "hdc" : "SCSIAdapter";
    case 0x02: return "Net";
    case 0x03: return "Display";
    case 0x04: return "MEDIA";
    case 0x05:
    case 0x06:
    case 0x08:
    case 0x10:
    case 0x11: return "System";
    case 0x07: return sub == 0x03 ? "Modem" : sub == 0x00 || sub == 0x01 ? "Ports" : "System";
    case 0x09: return "HIDClass";
    case 0x0C:
      if (sub == 0x03) return "USB";
      if (sub == 0x00) return "1394";
      return "System";
    case 0x0D: return "Net";
    default: return "Unknown";  // Other devices
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
  d.module = LinkBase(devPath + "/driver/module");
}

void ReadPci(const HostFs& fs, std::vector<HostDev>& out) {
  const std::string root = fs("/sys/bus/pci/devices/");
  struct Found {
    std::string path, addr;
    unsigned ven, dev;
  };
  std::vector<Found> all;
  IdNames names;
  for (const auto& addr : ListDir(root)) {
    std::string p = root + addr;
    unsigned ven = ReadHex(p + "/vendor"), dev = ReadHex(p + "/device");
    names.Want(ven, dev);
    all.push_back({std::move(p), addr, ven, dev});
  }
  names.Resolve(IdsPath(fs, "pci.ids"));
  for (const auto& found : all) {
    const std::string& p = found.path;
    const std::string& addr = found.addr;
    const unsigned ven = found.ven, dev = found.dev;
    unsigned sven = ReadHex(p + "/subsystem_vendor"), sdev = ReadHex(p + "/subsystem_device");
    unsigned rev = ReadHex(p + "/revision");
    unsigned cls = ReadHex(p + "/class");
    HostDev d;
    d.cls = ClassGuid(PciClassName(cls));
    std::string v = Fmt("PCI\\VEN_%04X&DEV_%04X", ven, dev);
    std::string sub = Fmt("&SUBSYS_%04X%04X", sdev, sven);
    std::string r = Fmt("&REV_%02X", rev);
    std::string cc6 = Fmt("CC_%06X", cls), cc4 = Fmt("CC_%04X", cls >> 8);
    d.hw = {v + sub + r, v + sub, v + "&" + cc6, v + "&" + cc4};
    d.compat = {v + r, v, Fmt("PCI\\VEN_%04X&", ven) + cc6, Fmt("PCI\\VEN_%04X&", ven) + cc4,
                Fmt("PCI\\VEN_%04X", ven), "PCI\\" + cc6, "PCI\\" + cc4};
    std::string vendor = ShortVendor(names.Vendor(ven));
    std::string device = names.Device(ven, dev);
    d.mfg = vendor.empty() ? "(Standard system devices)" : vendor;
    if (!device.empty())
      d.desc = vendor.empty() ? device : vendor + " " + device;
    else
      d.desc = PciGenericName(cls);
    unsigned bus = 0, slot = 0, fn = 0, dom = 0;
    if (std::sscanf(addr.c_str(), "%x:%x:%x.%x", &dom, &bus, &slot, &fn) == 4)
      d.location = Fmt("PCI bus %u, device %u, function %u", bus, slot, fn);
    DriverOf(p, d);
    out.push_back(std::move(d));
  }
}

// ---- USB ----

// The interfaces of a USB device folder ("1-1:1.0", "1-1:1.1"), in number order.
std::vector<std::string> UsbInterfaces(const std::string& devDir, const std::string& name) {
  std::vector<std::string> out;
  for (const auto& i : ListDir(devDir))
    if (i.rfind(name + ":", 0) == 0) out.push_back(i);
  return out;
}

// Windows loads its composite driver for a device that leaves its class to the
// interfaces (or is a miscellaneous device with interface associations) and has more
// than one interface; every interface then becomes a device of its own.
bool UsbIsComposite(const std::string& devDir, size_t interfaces) {
  unsigned cls = ReadHex(devDir + "/bDeviceClass");
  unsigned sub = ReadHex(devDir + "/bDeviceSubClass"), prot = ReadHex(devDir + "/bDeviceProtocol");
  bool leavesToInterfaces = cls == 0x00 || (cls == 0xEF && sub == 0x02 && prot == 0x01);
  return leavesToInterfaces && interfaces > 1;
}

unsigned UsbInterfaceNumber(const std::string& ifDir, const std::string& ifName) {
  bool ok = false;
  unsigned n = ReadHex(ifDir + "/bInterfaceNumber", &ok);
  if (ok) return n;
  size_t dot = ifName.rfind('.');
  return dot == std::string::npos ? 0 : static_cast<unsigned>(std::strtoul(ifName.c_str() + dot + 1, nullptr, 10));
}

struct UsbFunction {
  const char* cls;   // setup class name
  const char* name;  // the class driver's device description; null: the device's own
};

UsbFunction UsbFunctionOf(unsigned cls) {
  switch (cls) {
    case 0x01: return {"MEDIA", "USB Audio Device"};
    case 0x02: return {"Modem", "USB Modem"};
    case 0x03: return {"HIDClass", "USB Human Interface Device"};
    case 0x06: return {"Image", "USB Imaging Device"};
    case 0x07: return {"USB", "USB Printing Support"};
    case 0x08: return {"USB", "USB Mass Storage Device"};
    case 0x09: return {"USB", "Generic USB Hub"};
    case 0x0A: return {"Ports", "USB Serial Port"};
    case 0x0B: return {"SmartCardReader", "USB Smart Card Reader"};
    case 0x0E: return {"Image", "USB Video Device"};
    case 0xE0: return {"Bluetooth", "Generic Bluetooth Radio"};
    default: return {"Unknown", nullptr};
  }
}

std::vector<std::string> UsbClassIds(unsigned cls, unsigned sub, unsigned prot) {
  return {Fmt("USB\\Class_%02X&SubClass_%02X&Prot_%02X", cls, sub, prot), Fmt("USB\\Class_%02X&SubClass_%02X", cls, sub),
          Fmt("USB\\Class_%02X", cls)};
}

void ReadUsb(const HostFs& fs, std::vector<HostDev>& out) {
  const std::string root = fs("/sys/bus/usb/devices/");
  // The device's own strings first; the list names those that have none.
  struct Found {
    std::string name, path, product, maker;
    unsigned vid, pid;
  };
  std::vector<Found> all;
  IdNames names;
  for (const auto& name : ListDir(root)) {
    if (name.find(':') != std::string::npos) continue;
    std::string p = root + name;
    bool ok = false;
    unsigned vid = ReadHex(p + "/idVendor", &ok);
    if (!ok) continue;
    unsigned pid = ReadHex(p + "/idProduct");
    std::string product = ReadLine(p + "/product");
    std::string maker = ReadLine(p + "/manufacturer");
    if (product.empty()) names.Want(vid, pid);
    if (maker.empty()) names.Want(vid);
    all.push_back({name, std::move(p), std::move(product), std::move(maker), vid, pid});
  }
  names.Resolve(IdsPath(fs, "usb.ids"));
  for (auto& dev : all) {
    const std::string& name = dev.name;
    const std::string& p = dev.path;
    const unsigned vid = dev.vid, pid = dev.pid;
    unsigned rev = ReadHex(p + "/bcdDevice");
    unsigned dcls = ReadHex(p + "/bDeviceClass");
    std::string product = std::move(dev.product);
    if (product.empty()) product = names.Device(vid, pid);
    std::string maker = std::move(dev.maker);
    if (maker.empty()) maker = ShortVendor(names.Vendor(vid));
    HostDev d;
    d.location = "Port_#" + name;
    DriverOf(p, d);
    d.mfg = maker.empty() ? "(Standard USB Host Controller)" : maker;
    if (vid == 0x1D6B) {
      std::string hub = pid >= 3 ? "ROOT_HUB30" : "ROOT_HUB20";
      d.cls = ClassGuid("USB");
      d.desc = pid >= 3 ? "USB Root Hub (USB 3.0)" : "USB Root Hub";
      d.hw = {Fmt("USB\\%s&VID%04X&PID%04X&REV%04X", hub.c_str(), vid, pid, rev),
              Fmt("USB\\%s&VID%04X&PID%04X", hub.c_str(), vid, pid), "USB\\" + hub};
      out.push_back(std::move(d));
      continue;
    }
    std::string vp = Fmt("USB\\VID_%04X&PID_%04X", vid, pid);
    std::string r = Fmt("&REV_%04X", rev);
    d.hw = {vp + r, vp};
    std::vector<std::string> ifaces = UsbInterfaces(p, name);

    if (UsbIsComposite(p, ifaces.size())) {
      unsigned dsub = ReadHex(p + "/bDeviceSubClass"), dprot = ReadHex(p + "/bDeviceProtocol");
      d.cls = ClassGuid("USB");
      d.desc = "USB Composite Device";
      d.mfg = "(Standard USB Host Controller)";
      d.compat = {Fmt("USB\\DevClass_%02X&SubClass_%02X&Prot_%02X", dcls, dsub, dprot),
                  Fmt("USB\\DevClass_%02X&SubClass_%02X", dcls, dsub), Fmt("USB\\DevClass_%02X", dcls), "USB\\COMPOSITE"};
      out.push_back(d);
      for (const auto& ifName : ifaces) {
        std::string ip = p + "/" + ifName;
        unsigned icls = ReadHex(ip + "/bInterfaceClass");
        unsigned isub = ReadHex(ip + "/bInterfaceSubClass"), iprot = ReadHex(ip + "/bInterfaceProtocol");
        std::string mi = Fmt("&MI_%02X", UsbInterfaceNumber(ip, ifName));
        UsbFunction f = UsbFunctionOf(icls);
        HostDev fd;
        fd.cls = ClassGuid(f.cls);
        std::string own = ReadLine(ip + "/interface");
        fd.desc = f.name ? f.name : !own.empty() ? own : !product.empty() ? product : "USB Device";
        fd.mfg = maker.empty() ? "(Standard USB Host Controller)" : maker;
        fd.location = "Port_#" + name;
        fd.hw = {vp + r + mi, vp + mi};
        fd.compat = UsbClassIds(icls, isub, iprot);
        DriverOf(ip, fd);
        out.push_back(std::move(fd));
      }
      continue;
    }

    // One function: the device takes its class from the device descriptor, or from its
    // only interface when it leaves that to the interfaces; the interface's driver is the
    // one that serves it.
    unsigned icls = dcls, isub = ReadHex(p + "/bDeviceSubClass"), iprot = ReadHex(p + "/bDeviceProtocol");
    if (!ifaces.empty()) {
      std::string ip = p + "/" + ifaces[0];
      if (dcls == 0x00 || dcls == 0xEF) {
        icls = ReadHex(ip + "/bInterfaceClass");
        isub = ReadHex(ip + "/bInterfaceSubClass");
        iprot = ReadHex(ip + "/bInterfaceProtocol");
      }
      HostDev bound;
      DriverOf(ip, bound);
      if (!bound.driver.empty()) {
        d.driver = bound.driver;
        d.module = bound.module;
      }
    }
    d.compat = UsbClassIds(icls, isub, iprot);
    UsbFunction f = UsbFunctionOf(icls);
    d.cls = ClassGuid(f.cls);
    d.desc = f.name ? f.name : !product.empty() ? product : "USB Device";
    if (icls != 0x09 && !product.empty()) d.friendly = product;
    out.push_back(std::move(d));
  }
}

// The interface number of a composite USB device that an input device hangs under
// ("...:1.1" of a receiver whose keyboard and mouse are two interfaces), or -1.
int CompositeInterfaceOf(const std::string& inputDevice) {
  char* real = realpath(inputDevice.c_str(), nullptr);
  if (!real) return -1;
  std::string path = real;
  std::free(real);
  for (size_t end = path.size(); end > 1;) {
    size_t slash = path.rfind('/', end - 1);
    if (slash == std::string::npos) break;
    std::string part = path.substr(slash + 1, end - slash - 1);
    size_t colon = part.find(':');
    unsigned bus = 0, cfg = 0, ifnum = 0;
    char port[64];
    // A USB interface folder is "bus-port[.port...]:config.interface".
    if (colon != std::string::npos && part.find('-') < colon &&
        std::sscanf(part.c_str(), "%u-%63[0-9.]:%u.%u", &bus, port, &cfg, &ifnum) == 4) {
      std::string devDir = path.substr(0, slash);
      std::string devName = part.substr(0, colon);
      if (!UsbIsComposite(devDir, UsbInterfaces(devDir, devName).size())) return -1;
      return static_cast<int>(UsbInterfaceNumber(path.substr(0, end), part));
    }
    end = slash;
  }
  return -1;
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

void ReadInput(const HostFs& fs, std::vector<HostDev>& out) {
  const std::string root = fs("/sys/class/input/");
  for (const auto& name : ListDir(root)) {
    if (name.rfind("input", 0) != 0) continue;
    std::string p = root + name;
    std::string kname = ReadLine(p + "/name");
    unsigned bus = ReadHex(p + "/id/bustype");
    unsigned vid = ReadHex(p + "/id/vendor");
    unsigned pid = ReadHex(p + "/id/product");
    unsigned ver = ReadHex(p + "/id/version");
    std::string key = ReadLine(p + "/capabilities/key"), rel = ReadLine(p + "/capabilities/rel");
    bool mouse = (TestBit(rel, 0) && TestBit(rel, 1)) || TestBit(key, 0x14a) || TestBit(key, 0x145);
    bool keyboard = !mouse && TestBit(key, 16) && TestBit(key, 30) && TestBit(key, 44);
    HostDev d;
    DriverOf(p + "/device", d);
    d.friendly = kname;
    std::string hid = Fmt("HID\\VID_%04X&PID_%04X", vid, pid);
    // Under one interface of a composite device the IDs name that interface, as on Windows.
    int mi = bus == 0x03 ? CompositeInterfaceOf(p + "/device") : -1;
    std::string miText = mi >= 0 ? Fmt("&MI_%02X", mi) : std::string();
    if (kname.find("Power Button") != std::string::npos || kname.find("Sleep Button") != std::string::npos) {
      bool sleep = kname.find("Sleep") != std::string::npos;
      d.cls = ClassGuid("System");
      d.desc = sleep ? "ACPI Sleep Button" : "ACPI Power Button";
      d.friendly.clear();
      d.hw = {sleep ? "ACPI\\PNP0C0E" : "ACPI\\PNP0C0C"};
      d.compat = {sleep ? "*PNP0C0E" : "*PNP0C0C"};
      d.mfg = "(Standard system devices)";
    } else if (bus == 0x11) {  // i8042: the PS/2 ports
      d.mfg = "(Standard keyboards)";
      if (keyboard) {
        d.cls = ClassGuid("Keyboard");
        d.desc = "Standard 101/102-Key or Microsoft Natural PS/2 Keyboard";
        d.hw = {"ACPI\\PNP0303"};
        d.compat = {"*PNP0303"};
      } else {
        d.cls = ClassGuid("Mouse");
        d.desc = "PS/2 Compatible Mouse";
        d.mfg = "(Standard mouse types)";
        d.hw = {"ACPI\\PNP0F13"};
        d.compat = {"*PNP0F13"};
      }
    } else if (keyboard || mouse) {
      d.cls = ClassGuid(keyboard ? "Keyboard" : "Mouse");
      d.desc = keyboard ? "HID Keyboard Device" : "HID-compliant mouse";
      d.mfg = keyboard ? "(Standard keyboards)" : "Microsoft";
      d.hw = {hid + Fmt("&REV_%04X", ver) + miText, hid + miText, keyboard ? "HID_DEVICE_SYSTEM_KEYBOARD" : "HID_DEVICE_SYSTEM_MOUSE"};
      d.compat = {keyboard ? "HID_DEVICE_UP:0001_U:0006" : "HID_DEVICE_UP:0001_U:0002", "HID_DEVICE"};
    } else {
      d.cls = ClassGuid("HIDClass");
      d.desc = "HID-compliant device";
      d.mfg = "(Standard system devices)";
      d.hw = {hid + Fmt("&REV_%04X", ver) + miText, hid + miText};
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

void ReadBlock(const HostFs& fs, std::vector<HostDev>& out) {
  const std::string root = fs("/sys/block/");
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
        d.cls = ClassGuid("FloppyDisk");
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
      d.cls = ClassGuid(cd ? "CDROM" : "DiskDrive");
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

void ReadProcessors(const HostFs& fs, std::vector<HostDev>& out) {
  std::ifstream in(fs("/proc/cpuinfo"));
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
    d.cls = ClassGuid("Processor");
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
    std::string sys = fs(Fmt("/sys/devices/system/cpu/cpu%d", c.index));
    DriverOf(sys, d);
    if (d.driver.empty()) d.driver = "processor";
    out.push_back(std::move(d));
  }
}

void ReadMonitors(const HostFs& fs, std::vector<HostDev>& out) {
  const std::string root = fs("/sys/class/drm/");
  for (const auto& name : ListDir(root)) {
    if (name.find('-') == std::string::npos) continue;
    std::string p = root + name;
    if (ReadLine(p + "/status") != "connected") continue;
    std::ifstream in(p + "/edid", std::ios::binary);
    std::string edid((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    HostDev d;
    d.cls = ClassGuid("Monitor");
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
  const HostFs fs = CurrentFs();
  std::vector<HostDev> found;
  ReadPci(fs, found);
  ReadUsb(fs, found);
  ReadInput(fs, found);
  ReadBlock(fs, found);
  ReadProcessors(fs, found);
  ReadMonitors(fs, found);
  {
    long cpus = sysconf(_SC_NPROCESSORS_CONF);
    HostDev pc;
    pc.cls = ClassGuid("Computer");
    pc.desc = cpus > 1 ? "ACPI Multiprocessor PC" : "ACPI Uniprocessor PC";
    pc.hw = {cpus > 1 ? "acpiapic_mp" : "acpiapic_up"};
    pc.mfg = "(Standard computers)";
    pc.driver = "kernel";
    found.push_back(std::move(pc));
  }

  const KernelFacts& kernel = Kernel(fs);
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
      PropList props;
      auto text = [](const std::string& s) { return TextProp(Utf8ToAnsi(s)); };
      props[SPDRP_DEVICEDESC] = text(h.desc);
      if (!h.friendly.empty()) props[SPDRP_FRIENDLYNAME] = text(h.friendly);
      std::vector<std::string> hw, compat;
      for (const auto& s : h.hw) hw.push_back(Utf8ToAnsi(s));
      for (const auto& s : h.compat) compat.push_back(Utf8ToAnsi(s));
      if (!hw.empty()) props[SPDRP_HARDWAREID] = MultiProp(hw);
      if (!compat.empty()) props[SPDRP_COMPATIBLEIDS] = MultiProp(compat);
      props[SPDRP_CLASS] = TextProp(c.name);
      props[SPDRP_CLASSGUID] = TextProp(c.guid);
      if (!h.mfg.empty()) props[SPDRP_MFG] = text(h.mfg);
      if (!h.location.empty()) props[SPDRP_LOCATION_INFORMATION] = text(h.location);
      props[SPDRP_CONFIGFLAGS] = DwordProp(0);
      if (!h.driver.empty()) {
        std::string keyName = Fmt("%04d", next++);
        std::string driverKey = std::string(c.guid) + "\\" + keyName;
        props[SPDRP_DRIVER] = TextProp(driverKey);
        props[SPDRP_SERVICE] = TextProp(h.driver);
        std::string mod = ModuleName(h.module.empty() ? h.driver : h.module);
        std::string version = ReadLine(fs("/sys/module/" + mod + "/version"));
        if (version.empty()) version = kernel.release;
        std::string date = DriverDateOf(fs, kernel, mod);
        RegKey& dk = ck.FindOrAdd(keyName);
        dk.SetValue("DriverDesc", REG_SZ, WideValue(Utf8ToAnsi(h.friendly.empty() ? h.desc : h.friendly)));
        dk.SetValue("ProviderName", REG_SZ,
                    WideValue(h.driver == "kernel" ? "Linux kernel" : "Linux kernel (" + h.driver + ")"));
        dk.SetValue("DriverVersion", REG_SZ, WideValue(version));
        if (!date.empty()) dk.SetValue("DriverDate", REG_SZ, WideValue(date));
        std::string match = h.hw.empty() ? std::string() : h.hw[0];
        for (auto& ch : match) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (!match.empty()) dk.SetValue("MatchingDeviceId", REG_SZ, WideValue(Utf8ToAnsi(match)));
      }
      Device dev;
      dev.props = PackedProps(props);
      dc.devices.push_back(std::move(dev));
    }
    inv->classes.push_back(std::move(dc));
  }
  SetMachineOverlay(overlay);
  return inv;
}

}  // namespace kvp
