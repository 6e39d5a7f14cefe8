// Setup API and configuration manager over the machine's device inventory: devices.json
// of a machine folder, or the live host's devices.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <korvane_machine.h>
#include <korvane_text.h>

#include "devices.h"
#include "internal.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace kvp {

namespace {

const char* const kPropNames[] = {"DEVICEDESC",
                                  "HARDWAREID",
                                  "COMPATIBLEIDS",
                                  "UNUSED0",
                                  "SERVICE",
                                  "UNUSED1",
                                  "UNUSED2",
                                  "CLASS",
                                  "CLASSGUID",
                                  "DRIVER",
                                  "CONFIGFLAGS",
                                  "MFG",
                                  "FRIENDLYNAME",
                                  "LOCATION_INFORMATION",
                                  "PHYSICAL_DEVICE_OBJECT_NAME",
                                  "CAPABILITIES",
                                  "UI_NUMBER",
                                  "UPPERFILTERS",
                                  "LOWERFILTERS",
                                  "BUSTYPEGUID",
                                  "LEGACYBUSTYPE",
                                  "BUSNUMBER",
                                  "ENUMERATOR_NAME",
                                  "SECURITY",
                                  "SECURITY_SDS",
                                  "DEVTYPE",
                                  "EXCLUSIVE",
                                  "CHARACTERISTICS",
                                  "ADDRESS",
                                  "UI_NUMBER_DESC_FORMAT",
                                  "DEVICE_POWER_DATA",
                                  "REMOVAL_POLICY",
                                  "REMOVAL_POLICY_HW_DEFAULT",
                                  "REMOVAL_POLICY_OVERRIDE",
                                  "INSTALL_STATE",
                                  "LOCATION_PATHS",
                                  "BASE_CONTAINERID"};
constexpr int kPropCount = static_cast<int>(sizeof kPropNames / sizeof kPropNames[0]);

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseGuid(std::string_view t, GUID* guid) {
  if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' || t[19] != '-' ||
      t[24] != '-')
    return false;
  auto hex = [&](size_t pos, size_t n, uint64_t& v) {
    v = 0;
    for (size_t i = 0; i < n; ++i) {
      int d = Hex(t[pos + i]);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint64_t>(d);
    }
    return true;
  };
  uint64_t a, b, c, d, e;
  if (!hex(1, 8, a) || !hex(10, 4, b) || !hex(15, 4, c) || !hex(20, 4, d) || !hex(25, 12, e)) return false;
  guid->Data1 = static_cast<uint32_t>(a);
  guid->Data2 = static_cast<uint16_t>(b);
  guid->Data3 = static_cast<uint16_t>(c);
  guid->Data4[0] = static_cast<uint8_t>(d >> 8);
  guid->Data4[1] = static_cast<uint8_t>(d);
  for (int i = 0; i < 6; ++i) guid->Data4[2 + i] = static_cast<uint8_t>(e >> (8 * (5 - i)));
  return true;
}

std::string GuidString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

DevProp TextProp(const std::string& ansi) {
  DevProp p;
  p.type = REG_SZ;
  p.data.assign(ansi.begin(), ansi.end());
  p.data.push_back(0);
  return p;
}

DevProp MultiProp(const std::vector<std::string>& ansi) {
  DevProp p;
  p.type = REG_MULTI_SZ;
  for (const auto& s : ansi) {
    p.data.insert(p.data.end(), s.begin(), s.end());
    p.data.push_back(0);
  }
  p.data.push_back(0);
  return p;
}

DevProp DwordProp(uint32_t v) {
  DevProp p;
  p.type = REG_DWORD;
  p.data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
  return p;
}

int PropertyNumber(std::string_view name) {
  for (int i = 0; i < kPropCount; ++i)
    if (name == kPropNames[i]) return i;
  if (!name.empty() && name.size() <= 3) {
    int v = 0;
    for (char c : name) {
      if (c < '0' || c > '9') return -1;
      v = v * 10 + (c - '0');
    }
    return v < SPDRP_MAXIMUM_PROPERTY ? v : -1;
  }
  return -1;
}

const DevClass* Inventory::Find(const GUID& guid) const {
  if (byGuid.empty()) {  // the live host's few classes carry no index
    for (const auto& c : classes)
      if (c.guid == guid) return &c;
    return nullptr;
  }
  auto it = byGuid.find(GuidString(guid));
  return it == byGuid.end() ? nullptr : &classes[it->second];
}

bool ParseDevicesJson(const std::string& text, const std::string& fileName, Inventory& out, std::string* error) {
  using nlohmann::json;
  out = Inventory{};
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error& e) {
    size_t upto = std::min(static_cast<size_t>(e.byte ? e.byte - 1 : 0), text.size());
    int line = 1;
    for (size_t i = 0; i < upto; ++i)
      if (text[i] == '\n') ++line;
    *error = fileName + ":" + std::to_string(line) + ": not valid JSON";
    return false;
  } catch (const json::exception&) {
    // A number beyond every C++ type (1e999) is refused by the reader itself.
    *error = fileName + ": not valid JSON (a number out of range)";
    return false;
  }
  auto fail = [&](const std::string& where, const std::string& why) {
    *error = fileName + ": " + where + ": " + why;
    return false;
  };
  if (!doc.is_object() || !doc.contains("classes") || !doc["classes"].is_array())
    return fail("top level", "expected an object with a \"classes\" array");
  const json& classes = doc["classes"];
  // Driver keys seen, upper-cased: two devices never share one.
  std::map<std::string, std::string> driverKeys;
  for (size_t ci = 0; ci < classes.size(); ++ci) {
    const json& c = classes[ci];
    std::string where = "classes[" + std::to_string(ci) + "]";
    if (!c.is_object()) return fail(where, "expected an object");
    DevClass dc;
    if (!c.contains("guid") || !c["guid"].is_string() || !ParseGuid(c["guid"].get<std::string>(), &dc.guid))
      return fail(where + ".guid", "expected a GUID in the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
    if (!out.byGuid.emplace(GuidString(dc.guid), ci).second)
      return fail(where + ".guid", "class " + GuidString(dc.guid) + " is listed twice");
    if (c.contains("description")) {
      if (!c["description"].is_string()) return fail(where + ".description", "expected text");
      dc.description = Utf8ToAnsi(c["description"].get<std::string>());
    }
    if (c.contains("devices")) {
      if (!c["devices"].is_array()) return fail(where + ".devices", "expected an array");
      const json& devs = c["devices"];
      for (size_t di = 0; di < devs.size(); ++di) {
        const json& d = devs[di];
        std::string dw = where + ".devices[" + std::to_string(di) + "]";
        if (!d.is_object()) return fail(dw, "expected an object");
        Device dev;
        if (d.contains("present")) {
          if (!d["present"].is_boolean()) return fail(dw + ".present", "expected true or false");
          dev.present = d["present"].get<bool>();
        }
        if (d.contains("properties")) {
          const json& props = d["properties"];
          if (!props.is_object()) return fail(dw + ".properties", "expected an object");
          for (auto it = props.begin(); it != props.end(); ++it) {
            std::string pw = dw + ".properties." + it.key();
            int num = PropertyNumber(it.key());
            if (num < 0) return fail(pw, "unknown property name");
            const json& v = it.value();
            DevProp p;
            if (v.is_string()) {
              p = TextProp(Utf8ToAnsi(v.get<std::string>()));
            } else if (v.is_array()) {
              std::vector<std::string> items;
              for (const auto& s : v) {
                if (!s.is_string()) return fail(pw, "expected an array of texts");
                items.push_back(Utf8ToAnsi(s.get<std::string>()));
              }
              p = MultiProp(items);
            } else if (v.is_number_integer() || v.is_number_unsigned()) {
              long long n = v.get<long long>();
              if (n < -2147483648LL || n > 4294967295LL) return fail(pw, "number out of the 32-bit range");
              p = DwordProp(static_cast<uint32_t>(n));
            } else if (v.is_object() && v.size() == 1 && v.contains("binary") && v["binary"].is_string()) {
              std::string hex = v["binary"].get<std::string>();
              if (hex.size() % 2) return fail(pw, "binary needs an even number of hex digits");
              p.type = REG_BINARY;
              for (size_t i = 0; i < hex.size(); i += 2) {
                int h = Hex(hex[i]), l = Hex(hex[i + 1]);
                if (h < 0 || l < 0) return fail(pw, "binary holds a non-hex digit");
                p.data.push_back(static_cast<uint8_t>(h * 16 + l));
              }
            } else {
              return fail(pw, "expected text, an array of texts, a number or {\"binary\": \"hex\"}");
            }
            dev.props[static_cast<DWORD>(num)] = std::move(p);
          }
        }
        auto drv = dev.props.find(SPDRP_DRIVER);
        if (drv != dev.props.end() && drv->second.type == REG_SZ) {
          std::string key(reinterpret_cast<const char*>(drv->second.data.data()));
          for (auto& ch : key) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
          if (!key.empty()) {
            auto seen = driverKeys.emplace(key, dw);
            if (!seen.second) return fail(dw, "the same device as " + seen.first->second + " (driver key " + key + ")");
          }
        }
        dc.devices.push_back(std::move(dev));
      }
    }
    out.classes.push_back(std::move(dc));
  }
  return true;
}

namespace {

struct FileStamp {
  bool exists = false;
  ino_t ino = 0;
  off_t size = 0;
  long long mtime = 0;
  bool operator==(const FileStamp& o) const {
    return exists == o.exists && ino == o.ino && size == o.size && mtime == o.mtime;
  }
};

std::mutex g_mu;
std::string g_path;
FileStamp g_stamp;
std::shared_ptr<const Inventory> g_folderInv;
std::string g_lastError;
std::mutex g_hostMu;
std::shared_ptr<const Inventory> g_hostInv;
std::chrono::steady_clock::time_point g_hostRead;
std::chrono::milliseconds g_hostLifetime{2000};

// The machine folder's inventory, re-read when devices.json changes.
std::shared_ptr<const Inventory> FolderInventory(const std::string& root) {
  if (DWORD bad = CheckMachine(true)) {
    // A folder that is no machine shows as an unreadable inventory, so a scan fails.
    auto inv = std::make_shared<Inventory>();
    inv->broken = true;
    inv->fault = KorvaneFaultText(bad);
    inv->code = bad;
    return inv;
  }
  std::lock_guard<std::mutex> lock(g_mu);
  std::string path = root + "/devices.json";
  FileStamp now;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    now.exists = true;
    now.ino = st.st_ino;
    now.size = st.st_size;
    now.mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  }
  if (g_folderInv && g_path == path && g_stamp == now) return g_folderInv;
  auto inv = std::make_shared<Inventory>();
  if (now.exists) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string err;
    if (!in || !ParseDevicesJson(ss.str(), path, *inv, &err)) {
      if (err.empty()) err = path + ": cannot be read";
      if (err != g_lastError) ReportError(err);
      g_lastError = err;
      inv = std::make_shared<Inventory>();
      inv->broken = true;
      inv->fault = err;
      inv->code = ERROR_INVALID_DATA;
    } else {
      g_lastError.clear();
    }
  }
  g_path = path;
  g_stamp = now;
  g_folderInv = inv;
  return inv;
}

// The machine's inventory. The host's is walked again for a set opened later than
// g_hostLifetime after the last walk: the sets a scan opens class by class in a
// moment share one walk, and a later one sees the devices as they are then.
std::shared_ptr<const Inventory> CurrentInventory(bool fresh) {
  MachineInfo m = CurrentMachine();
  if (!m.host) return FolderInventory(m.root);
  std::lock_guard<std::mutex> lock(g_hostMu);
  const auto now = std::chrono::steady_clock::now();
  if (!g_hostInv || (fresh && now - g_hostRead >= g_hostLifetime)) {
    g_hostInv = ReadHostInventory();
    g_hostRead = std::chrono::steady_clock::now();
  }
  return g_hostInv;
}

// The machine's classes: the host's fixed table, or the folder's inventory (not copied:
// a scan asks for every class by index and by GUID).
struct Classes {
  std::shared_ptr<const Inventory> inv;  // null on the host
  size_t Count() const { return inv ? inv->classes.size() : HostClasses().size(); }
  bool At(size_t i, GUID& guid) const {
    if (i >= Count()) return false;
    if (inv) {
      guid = inv->classes[i].guid;
    } else {
      ParseGuid(HostClasses()[i].guid, &guid);
    }
    return true;
  }
  bool Description(const GUID& guid, std::string& out) const {
    if (inv) {
      const DevClass* c = inv->Find(guid);
      if (c) out = c->description;
      return c != nullptr;
    }
    for (const auto& c : HostClasses()) {
      GUID g;
      if (ParseGuid(c.guid, &g) && g == guid) {
        out = c.description;
        return true;
      }
    }
    return false;
  }
};

Classes CurrentClasses(bool& broken) {
  Classes out;
  MachineInfo m = CurrentMachine();
  broken = false;
  if (m.host) return out;
  out.inv = FolderInventory(m.root);
  broken = out.inv->broken;
  if (broken) SetFault(out.inv->code, out.inv->fault);
  return out;
}

struct DevSet {
  std::shared_ptr<const Inventory> inv;
  GUID cls{};
  struct Member {
    const Device* dev;
    GUID cls;
    DWORD devInst;
  };
  std::vector<Member> members;
};

std::mutex g_setMu;
std::set<DevSet*> g_sets;

DevSet* FindSet(HDEVINFO h) {
  std::lock_guard<std::mutex> lock(g_setMu);
  auto* s = static_cast<DevSet*>(h);
  return g_sets.count(s) ? s : nullptr;
}

std::mutex g_iconMu;
std::vector<GUID> g_icons;
std::map<std::string, size_t> g_iconOf;  // GuidString -> position in g_icons
constexpr uintptr_t kIconBase = 0x4B560010;

}  // namespace

void ResetDevices() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_folderInv.reset();
  g_path.clear();
  g_lastError.clear();
  std::lock_guard<std::mutex> hostLock(g_hostMu);
  g_hostInv.reset();
}

void ResetIcons() {}

}  // namespace kvp

std::chrono::milliseconds KorvaneSetHostInventoryLifetime(std::chrono::milliseconds lifetime) {
  std::lock_guard<std::mutex> lock(kvp::g_hostMu);
  std::swap(lifetime, kvp::g_hostLifetime);
  return lifetime;
}

namespace kvp {

void EnsureHostOverlay() {
  if (CurrentMachine().host) CurrentInventory(false);
}

}  // namespace kvp

using namespace kvp;

CONFIGRET WINAPI CM_Enumerate_Classes(ULONG ulClassIndex, LPGUID ClassGuid, ULONG ulFlags) {
  if (!ClassGuid) return CR_INVALID_POINTER;
  if (ulFlags) return CR_INVALID_FLAG;
  bool broken = false;
  auto classes = CurrentClasses(broken);
  if (broken) {
    // An unreadable inventory shows as one unreadable class, so that a scan fails
    // instead of reporting an empty machine.
    std::memset(ClassGuid, 0, sizeof(GUID));
    return ulClassIndex == 0 ? CR_REGISTRY_ERROR : CR_NO_SUCH_VALUE;
  }
  if (!classes.At(ulClassIndex, *ClassGuid)) return CR_NO_SUCH_VALUE;
  return CR_SUCCESS;
}

BOOL WINAPI SetupDiBuildClassInfoList(DWORD Flags, LPGUID ClassGuidList, DWORD ClassGuidListSize,
                                      PDWORD RequiredSize) {
  if (!RequiredSize || (!ClassGuidList && ClassGuidListSize) ||
      (Flags & ~static_cast<DWORD>(DIBCI_NOINSTALLCLASS | DIBCI_NODISPLAYCLASS))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool broken = false;
  auto classes = CurrentClasses(broken);
  if (broken) {
    SetLastError(classes.inv->code);
    return FALSE;
  }
  // The machine marks no class as hidden, so the flags leave every class listed.
  const size_t count = classes.Count();
  *RequiredSize = static_cast<DWORD>(count);
  if (ClassGuidListSize < count) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  for (size_t i = 0; i < count; ++i) classes.At(i, ClassGuidList[i]);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI SetupDiGetClassDescriptionA(const GUID* ClassGuid, PSTR ClassDescription, DWORD ClassDescriptionSize,
                                        PDWORD RequiredSize) {
  if (!ClassGuid || (!ClassDescription && ClassDescriptionSize)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool broken = false;
  auto classes = CurrentClasses(broken);
  std::string description;
  if (!broken && classes.Description(*ClassGuid, description)) {
    DWORD need = static_cast<DWORD>(description.size() + 1);
    if (RequiredSize) *RequiredSize = need;
    if (ClassDescriptionSize < need) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(ClassDescription, description.c_str(), need);
    return TRUE;
  }
  SetLastError(broken ? classes.inv->code : ERROR_INVALID_CLASS);
  return FALSE;
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags) {
  (void)Enumerator;
  (void)hwndParent;
  if (!ClassGuid && !(Flags & DIGCF_ALLCLASSES)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto inv = CurrentInventory(true);
  if (inv->broken) {
    SetFault(inv->code, inv->fault);
    SetLastError(inv->code);
    return INVALID_HANDLE_VALUE;
  }
  auto* set = new DevSet;
  set->inv = inv;
  if (ClassGuid) set->cls = *ClassGuid;
  size_t first = 0, last = inv->classes.size();
  if (!(Flags & DIGCF_ALLCLASSES) && !inv->byGuid.empty()) {
    auto it = inv->byGuid.find(GuidString(*ClassGuid));
    first = it == inv->byGuid.end() ? last : it->second;
    last = it == inv->byGuid.end() ? last : first + 1;
  }
  for (size_t ci = first; ci < last; ++ci) {
    const DevClass& c = inv->classes[ci];
    if (!(Flags & DIGCF_ALLCLASSES) && c.guid != *ClassGuid) continue;
    for (size_t di = 0; di < c.devices.size(); ++di) {
      const Device& d = c.devices[di];
      if ((Flags & DIGCF_PRESENT) && !d.present) continue;
      set->members.push_back({&d, c.guid, static_cast<DWORD>((ci + 1) * 0x1000 + di + 1)});
    }
  }
  std::lock_guard<std::mutex> lock(g_setMu);
  g_sets.insert(set);
  return set;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
  DevSet* set = FindSet(DeviceInfoSet);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!DeviceInfoData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (MemberIndex >= set->members.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  const auto& m = set->members[MemberIndex];
  DeviceInfoData->ClassGuid = m.cls;
  DeviceInfoData->DevInst = m.devInst;
  DeviceInfoData->Reserved = MemberIndex;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                              DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  DevSet* set = FindSet(DeviceInfoSet);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!DeviceInfoData || (!PropertyBuffer && PropertyBufferSize)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  const Device* dev = nullptr;
  DWORD idx = static_cast<DWORD>(DeviceInfoData->Reserved);
  if (idx < set->members.size() && set->members[idx].devInst == DeviceInfoData->DevInst) {
    dev = set->members[idx].dev;
  } else {
    for (const auto& m : set->members)
      if (m.devInst == DeviceInfoData->DevInst) dev = m.dev;
  }
  if (!dev) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  if (Property >= SPDRP_MAXIMUM_PROPERTY) {
    SetLastError(ERROR_INVALID_REG_PROPERTY);
    return FALSE;
  }
  auto it = dev->props.find(Property);
  if (it == dev->props.end()) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  const DevProp& p = it->second;
  DWORD need = static_cast<DWORD>(p.data.size());
  if (PropertyRegDataType) *PropertyRegDataType = p.type;
  if (RequiredSize) *RequiredSize = need;
  if (!PropertyBuffer || PropertyBufferSize < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (need) std::memcpy(PropertyBuffer, p.data.data(), need);
  return TRUE;
}

BOOL WINAPI SetupDiLoadClassIcon(const GUID* ClassGuid, HICON* LargeIcon, PINT MiniIconIndex) {
  if (!ClassGuid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  size_t idx;
  {
    std::lock_guard<std::mutex> lock(g_iconMu);
    auto it = g_iconOf.emplace(GuidString(*ClassGuid), g_icons.size()).first;
    idx = it->second;
    if (idx == g_icons.size()) g_icons.push_back(*ClassGuid);
  }
  if (LargeIcon) *LargeIcon = reinterpret_cast<HICON>(kIconBase + idx * 4);
  if (MiniIconIndex) *MiniIconIndex = static_cast<int>(idx);
  return TRUE;
}

bool KorvaneIconClass(HICON icon, GUID* classGuid) {
  uintptr_t v = reinterpret_cast<uintptr_t>(icon);
  if (v < kIconBase || (v - kIconBase) % 4) return false;
  size_t idx = (v - kIconBase) / 4;
  std::lock_guard<std::mutex> lock(g_iconMu);
  if (idx >= g_icons.size()) return false;
  if (classGuid) *classGuid = g_icons[idx];
  return true;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  DevSet* set = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_setMu);
    auto* s = static_cast<DevSet*>(DeviceInfoSet);
    if (g_sets.erase(s)) set = s;
  }
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete set;
  return TRUE;
}
