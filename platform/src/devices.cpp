// Setup API and configuration manager over the machine's device inventory: devices.json
// of a machine folder, or the live host's devices.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <korvane_machine.h>
#include <korvane_text.h>

#include "devices.h"
#include "internal.h"
#include "varint.h"

#include <nlohmann/json.hpp>

#include <algorithm>
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
  p.data.reserve(ansi.size() + 1);  // exactly: a machine holds millions of these
  p.data.assign(ansi.begin(), ansi.end());
  p.data.push_back(0);
  return p;
}

DevProp MultiProp(const std::vector<std::string>& ansi) {
  DevProp p;
  p.type = REG_MULTI_SZ;
  size_t size = 1;
  for (const auto& s : ansi) size += s.size() + 1;
  p.data.reserve(size);
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

// Block layout: the count of properties in one byte (numbers are below
// SPDRP_MAXIMUM_PROPERTY), then per property its number, type and size as
// variable-length numbers (a byte each for nearly every property) and its data.
PackedProps::PackedProps(const PropList& list) {
  if (list.size() == 0) return;
  size_t bytes = 1;  // the count
  for (const auto& e : list)
    bytes += VarSize(e.first) + VarSize(e.second.type) + VarSize(e.second.data.size()) + e.second.data.size();
  static_assert(SPDRP_MAXIMUM_PROPERTY < 256, "the count fits a byte");
  block_ = std::make_unique<uint8_t[]>(bytes);
  block_[0] = static_cast<uint8_t>(list.size());
  uint8_t* at = block_.get() + 1;
  for (const auto& e : list) {
    at = PutVar(at, e.first);
    at = PutVar(at, e.second.type);
    at = PutVar(at, e.second.data.size());
    if (!e.second.data.empty()) std::memcpy(at, e.second.data.data(), e.second.data.size());
    at += e.second.data.size();
  }
}

bool PackedProps::Find(DWORD number, View& out) const {
  if (!block_) return false;
  const uint8_t* at = block_.get();
  const unsigned count = *at++;
  for (unsigned i = 0; i < count; ++i) {
    uint64_t n, type, size;
    at = GetVar(GetVar(GetVar(at, n), type), size);
    if (n == number) {
      out = View{static_cast<DWORD>(type), at, static_cast<size_t>(size)};
      return true;
    }
    at += size;
  }
  return false;
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

namespace {

using nlohmann::json;

// Builds the inventory while the parser reads, one device at a time, without a document
// tree of the whole file. Faults of the content are reported as a reader of the whole
// document would: the first class at fault, and in it the GUID, then the description,
// then the first device at fault (its "present", then its properties by name); a syntax
// fault anywhere in the file wins over them.
class InventoryReader : public nlohmann::json_sax<json> {
 public:
  InventoryReader(const std::string& fileName, Inventory& out) : fileName_(fileName), out_(out) {}

  // After the parse: the content fault, if any ("" when the content is sound).
  std::string Finish() {
    if (fault_.empty() && !sawTop_) Fail("top level", "expected an object with a \"classes\" array");
    return fault_;
  }
  bool syntaxFault = false;
  size_t faultByte = 0;
  bool outOfRange = false;

  bool null() override { return Scalar(Kind::kOther); }
  bool boolean(bool v) override {
    bool_ = v;
    return Scalar(Kind::kBool);
  }
  bool number_integer(number_integer_t v) override {
    number_ = v;
    numberOk_ = v >= -2147483648LL && v <= 4294967295LL;
    return Scalar(Kind::kNumber);
  }
  bool number_unsigned(number_unsigned_t v) override {
    number_ = static_cast<long long>(v);
    numberOk_ = v <= 4294967295ULL;
    return Scalar(Kind::kNumber);
  }
  bool number_float(number_float_t, const string_t&) override { return Scalar(Kind::kOther); }
  bool string(string_t& v) override {
    string_ = &v;
    return Scalar(Kind::kString);
  }
  bool binary(binary_t&) override { return Scalar(Kind::kOther); }
  bool start_object(std::size_t) override { return Start(true); }
  bool start_array(std::size_t) override { return Start(false); }
  bool key(string_t& k) override {
    key_ = k;
    return true;
  }
  bool end_object() override { return End(); }
  bool end_array() override { return End(); }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
    syntaxFault = true;
    faultByte = position;
    outOfRange = e.id >= 400 && e.id < 500;  // a number beyond every C++ type (1e999)
    return false;
  }

 private:
  enum class Kind { kString, kNumber, kBool, kOther };
  // What a value is to the inventory, from where it stands.
  enum class Role {
    kTop,
    kClasses,
    kClass,
    kGuid,
    kDescription,
    kDevices,
    kDevice,
    kPresent,
    kProperties,
    kProperty,
    kPropertyItem,
    kBinary,
    kBinaryOther,
    kIgnored
  };
  enum class Frame {
    kTop,
    kClasses,
    kClass,
    kDevices,
    kDevice,
    kProperties,
    kPropertyArray,
    kPropertyObject,
    kSkip
  };

  struct ClassState {
    std::string where;
    DevClass dc;
    bool guidOk = false;
    std::string descriptionFault;
    std::string devicesFault;  // of the first device at fault
  };
  struct DeviceState {
    std::string where;
    Device dev;
    PropList props;  // gathered, packed into dev when the device ends
    std::string presentFault;
    bool propertiesNotObject = false;
    std::string propertyKey, propertyFault;  // the first faulty property by name
  };
  struct PropertyState {
    std::string name;
    int number = -1;
    std::vector<std::string> items;  // of an array
    bool bad = false;
    size_t keys = 0;  // of an object
    bool binarySeen = false;
    std::string binary;
  };

  bool Fail(const std::string& where, const std::string& why) {
    if (fault_.empty()) fault_ = fileName_ + ": " + where + ": " + why;
    return true;
  }
  bool Faulted() const { return !fault_.empty(); }

  void DeviceFault(const std::string& key, const std::string& why) {
    DeviceState& d = device_;
    if (d.propertyFault.empty() || key < d.propertyKey) {
      d.propertyKey = key;
      d.propertyFault = why;
    }
  }

  Role NextRole() const {
    if (frames_.empty()) return Role::kTop;
    switch (frames_.back()) {
      case Frame::kTop:
        return key_ == "classes" ? Role::kClasses : Role::kIgnored;
      case Frame::kClasses:
        return Role::kClass;
      case Frame::kClass:
        if (key_ == "guid") return Role::kGuid;
        if (key_ == "description") return Role::kDescription;
        if (key_ == "devices") return Role::kDevices;
        return Role::kIgnored;
      case Frame::kDevices:
        return Role::kDevice;
      case Frame::kDevice:
        if (key_ == "present") return Role::kPresent;
        if (key_ == "properties") return Role::kProperties;
        return Role::kIgnored;
      case Frame::kProperties:
        return Role::kProperty;
      case Frame::kPropertyArray:
        return Role::kPropertyItem;
      case Frame::kPropertyObject:
        return key_ == "binary" ? Role::kBinary : Role::kBinaryOther;
      case Frame::kSkip:
        return Role::kIgnored;
    }
    return Role::kIgnored;
  }

  // A device's values matter only while nothing is at fault in it or before it.
  bool Building() const { return !Faulted() && inClass_ && class_.devicesFault.empty(); }

  const char* PropertyForms() const {
    return "expected text, an array of texts, a number or {\"binary\": \"hex\"}";
  }

  std::string PropertyWhere(const std::string& name) const { return device_.where + ".properties." + name; }

  bool BeginProperty() {
    property_ = PropertyState{};
    property_.name = key_;
    property_.number = PropertyNumber(key_);
    if (property_.number < 0) DeviceFault(key_, "unknown property name");
    return property_.number >= 0;
  }

  bool Scalar(Kind kind) {
    if (Faulted()) return true;
    switch (NextRole()) {
      case Role::kTop:
        sawTop_ = true;
        return Fail("top level", "expected an object with a \"classes\" array");
      case Role::kClasses:
        sawClasses_ = true;
        return Fail("top level", "expected an object with a \"classes\" array");
      case Role::kClass:
        ++classIndex_;
        return Fail("classes[" + std::to_string(classIndex_ - 1) + "]", "expected an object");
      case Role::kGuid:
        class_.guidOk = kind == Kind::kString && ParseGuid(*string_, &class_.dc.guid);
        return true;
      case Role::kDescription:
        if (kind == Kind::kString) {
          class_.dc.description = Utf8ToAnsi(*string_);
          class_.descriptionFault.clear();
        } else {
          class_.descriptionFault = "expected text";
        }
        return true;
      case Role::kDevices:
        if (class_.devicesFault.empty()) class_.devicesFault = class_.where + ".devices: expected an array";
        return true;
      case Role::kDevice: {
        const std::string where = class_.where + ".devices[" + std::to_string(deviceIndex_++) + "]";
        if (class_.devicesFault.empty()) class_.devicesFault = where + ": expected an object";
        return true;
      }
      case Role::kPresent:
        if (kind == Kind::kBool) {
          device_.dev.present = bool_;
          device_.presentFault.clear();
        } else {
          device_.presentFault = "expected true or false";
        }
        return true;
      case Role::kProperties:
        device_.propertiesNotObject = true;
        return true;
      case Role::kProperty:
        if (!Building() || !BeginProperty()) return true;
        if (kind == Kind::kString) {
          device_.props[static_cast<DWORD>(property_.number)] = TextProp(Utf8ToAnsi(*string_));
        } else if (kind == Kind::kNumber) {
          if (!numberOk_)
            DeviceFault(property_.name, "number out of the 32-bit range");
          else
            device_.props[static_cast<DWORD>(property_.number)] = DwordProp(static_cast<uint32_t>(number_));
        } else {
          DeviceFault(property_.name, PropertyForms());
        }
        return true;
      case Role::kPropertyItem:
        if (kind == Kind::kString)
          property_.items.push_back(Utf8ToAnsi(*string_));
        else
          property_.bad = true;
        return true;
      case Role::kBinary:
        ++property_.keys;
        property_.binarySeen = kind == Kind::kString;
        if (property_.binarySeen) property_.binary = *string_;
        return true;
      case Role::kBinaryOther:
        ++property_.keys;
        return true;
      case Role::kIgnored:
        return true;
    }
    return true;
  }

  bool Start(bool object) {
    if (Faulted()) {
      frames_.push_back(Frame::kSkip);
      return true;
    }
    Frame f = Frame::kSkip;
    switch (NextRole()) {
      case Role::kTop:
        sawTop_ = true;
        if (object)
          f = Frame::kTop;
        else
          Fail("top level", "expected an object with a \"classes\" array");
        break;
      case Role::kClasses:
        sawClasses_ = true;
        if (!object)
          f = Frame::kClasses;
        else
          Fail("top level", "expected an object with a \"classes\" array");
        break;
      case Role::kClass: {
        const std::string where = "classes[" + std::to_string(classIndex_++) + "]";
        if (object) {
          f = Frame::kClass;
          class_ = ClassState{};
          class_.where = where;
          inClass_ = true;
          deviceIndex_ = 0;
        } else {
          Fail(where, "expected an object");
        }
        break;
      }
      case Role::kGuid:
        class_.guidOk = false;
        break;
      case Role::kDescription:
        class_.descriptionFault = "expected text";
        break;
      case Role::kDevices:
        if (!object)
          f = Frame::kDevices;
        else if (class_.devicesFault.empty())
          class_.devicesFault = class_.where + ".devices: expected an array";
        break;
      case Role::kDevice: {
        const std::string where = class_.where + ".devices[" + std::to_string(deviceIndex_++) + "]";
        if (object && class_.devicesFault.empty()) {
          f = Frame::kDevice;
          device_ = DeviceState{};
          device_.where = where;
        } else if (class_.devicesFault.empty()) {
          class_.devicesFault = where + ": expected an object";
        }
        break;
      }
      case Role::kPresent:
        device_.presentFault = "expected true or false";
        break;
      case Role::kProperties:
        if (object)
          f = Frame::kProperties;
        else
          device_.propertiesNotObject = true;
        break;
      case Role::kProperty:
        if (Building() && BeginProperty()) f = object ? Frame::kPropertyObject : Frame::kPropertyArray;
        break;
      case Role::kPropertyItem:
        property_.bad = true;
        break;
      case Role::kBinary:
      case Role::kBinaryOther:
        ++property_.keys;
        property_.binarySeen = false;
        break;
      case Role::kIgnored:
        break;
    }
    frames_.push_back(f);
    return true;
  }

  bool End() {
    const Frame f = frames_.back();
    frames_.pop_back();
    if (Faulted()) return true;
    switch (f) {
      case Frame::kTop:
        if (!sawClasses_) Fail("top level", "expected an object with a \"classes\" array");
        break;
      case Frame::kClass:
        EndClass();
        break;
      case Frame::kDevice:
        EndDevice();
        break;
      case Frame::kPropertyArray:
        if (property_.bad)
          DeviceFault(property_.name, "expected an array of texts");
        else
          device_.props[static_cast<DWORD>(property_.number)] = MultiProp(property_.items);
        break;
      case Frame::kPropertyObject:
        EndBinary();
        break;
      default:
        break;
    }
    return true;
  }

  void EndBinary() {
    if (property_.keys != 1 || !property_.binarySeen) {
      DeviceFault(property_.name, PropertyForms());
      return;
    }
    const std::string& hex = property_.binary;
    if (hex.size() % 2) {
      DeviceFault(property_.name, "binary needs an even number of hex digits");
      return;
    }
    DevProp p;
    p.type = REG_BINARY;
    p.data.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
      int h = Hex(hex[i]), l = Hex(hex[i + 1]);
      if (h < 0 || l < 0) {
        DeviceFault(property_.name, "binary holds a non-hex digit");
        return;
      }
      p.data.push_back(static_cast<uint8_t>(h * 16 + l));
    }
    device_.props[static_cast<DWORD>(property_.number)] = std::move(p);
  }

  void EndDevice() {
    DeviceState& d = device_;
    if (!class_.devicesFault.empty()) return;
    std::string fault;
    if (!d.presentFault.empty()) {
      fault = d.where + ".present: " + d.presentFault;
    } else if (d.propertiesNotObject) {
      fault = d.where + ".properties: expected an object";
    } else if (!d.propertyFault.empty()) {
      fault = PropertyWhere(d.propertyKey) + ": " + d.propertyFault;
    } else {
      const DevProp* drv = d.props.Find(SPDRP_DRIVER);
      if (drv && drv->type == REG_SZ) {
        std::string key(reinterpret_cast<const char*>(drv->data.data()));
        for (auto& ch : key) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (!key.empty()) {
          auto seen = driverKeys_.emplace(key, d.where);
          if (!seen.second)
            fault = d.where + ": the same device as " + seen.first->second + " (driver key " + key + ")";
        }
      }
    }
    if (!fault.empty()) {
      class_.devicesFault = fault;
      return;
    }
    d.dev.props = PackedProps(d.props);
    class_.dc.devices.push_back(std::move(d.dev));
    d.dev = Device{};
    d.props = PropList{};
  }

  void EndClass() {
    inClass_ = false;
    ClassState& c = class_;
    if (!c.guidOk) {
      Fail(c.where + ".guid", "expected a GUID in the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
      return;
    }
    if (!out_.byGuid.emplace(GuidString(c.dc.guid), out_.classes.size()).second) {
      Fail(c.where + ".guid", "class " + GuidString(c.dc.guid) + " is listed twice");
      return;
    }
    if (!c.descriptionFault.empty()) {
      Fail(c.where + ".description", c.descriptionFault);
      return;
    }
    if (!c.devicesFault.empty()) {
      if (fault_.empty()) fault_ = fileName_ + ": " + c.devicesFault;
      return;
    }
    c.dc.devices.shrink_to_fit();
    out_.classes.push_back(std::move(c.dc));
  }

  const std::string& fileName_;
  Inventory& out_;
  std::string fault_;
  std::vector<Frame> frames_;
  std::string key_;
  string_t* string_ = nullptr;
  long long number_ = 0;
  bool numberOk_ = false;
  bool bool_ = false;
  bool sawTop_ = false;
  bool sawClasses_ = false;
  bool inClass_ = false;
  size_t classIndex_ = 0;
  size_t deviceIndex_ = 0;
  ClassState class_;
  DeviceState device_;
  PropertyState property_;
  // Driver keys seen, upper-cased: two devices never share one.
  std::map<std::string, std::string> driverKeys_;
};

// The fault of a finished read, with the line of a syntax fault counted by lineOf.
template <typename LineOf>
bool ReadResult(InventoryReader& reader, bool parsed, const std::string& fileName, LineOf lineOf,
                Inventory& out, std::string* error) {
  if (!parsed || reader.syntaxFault) {
    out = Inventory{};
    if (reader.outOfRange)
      *error = fileName + ": not valid JSON (a number out of range)";
    else
      *error = fileName + ":" + std::to_string(lineOf(reader.faultByte ? reader.faultByte - 1 : 0)) +
               ": not valid JSON";
    return false;
  }
  std::string fault = reader.Finish();
  if (!fault.empty()) {
    out = Inventory{};
    *error = fault;
    return false;
  }
  return true;
}

}  // namespace

bool ParseDevicesJson(const std::string& text, const std::string& fileName, Inventory& out,
                      std::string* error) {
  out = Inventory{};
  InventoryReader reader(fileName, out);
  const bool parsed = json::sax_parse(text, &reader);
  auto lineOf = [&](size_t upto) {
    upto = std::min(upto, text.size());
    return 1 +
           static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(upto), '\n'));
  };
  return ReadResult(reader, parsed, fileName, lineOf, out, error);
}

bool ReadDevicesJson(const std::string& path, Inventory& out, std::string* error) {
  out = Inventory{};
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  InventoryReader reader(path, out);
  const bool parsed = json::sax_parse(in, &reader);
  if (in.bad()) {
    out = Inventory{};
    *error = path + ": cannot be read";
    return false;
  }
  // A syntax fault's line is counted in the file again, only then.
  auto lineOf = [&](size_t upto) {
    std::ifstream again(path, std::ios::binary);
    int line = 1;
    char buf[65536];
    while (upto > 0 && again) {
      again.read(buf, static_cast<std::streamsize>(std::min(upto, sizeof buf)));
      const auto got = static_cast<size_t>(again.gcount());
      if (got == 0) break;
      line += static_cast<int>(std::count(buf, buf + got, '\n'));
      upto -= got;
    }
    return line;
  };
  return ReadResult(reader, parsed, path, lineOf, out, error);
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
    std::string err;
    if (!ReadDevicesJson(path, *inv, &err)) {
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
  PackedProps::View p;
  if (!dev->props.Find(Property, p)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  DWORD need = static_cast<DWORD>(p.size);
  if (PropertyRegDataType) *PropertyRegDataType = p.type;
  if (RequiredSize) *RequiredSize = need;
  if (!PropertyBuffer || PropertyBufferSize < need) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (need) std::memcpy(PropertyBuffer, p.data, need);
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
