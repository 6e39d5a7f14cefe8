// The device inventory behind the Setup API: classes in enumeration order, each with its
// devices and their registry properties (code-page text, as the A functions hand it out).
#pragma once

#include <minwindef.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvp {

struct DevProp {
  DWORD type = 0;
  std::vector<uint8_t> data;
};

// A device's properties by number while they are gathered: what a std::map offers of
// lookup, without a node each.
class PropList {
 public:
  using Entry = std::pair<DWORD, DevProp>;
  using const_iterator = std::vector<Entry>::const_iterator;

  DevProp& operator[](DWORD number) {
    auto it = Lower(number);
    if (it == entries_.end() || it->first != number) it = entries_.insert(it, Entry(number, DevProp{}));
    return it->second;
  }
  const DevProp* Find(DWORD number) const {
    auto it = const_cast<PropList*>(this)->Lower(number);
    return it != entries_.end() && it->first == number ? &it->second : nullptr;
  }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }
  size_t size() const { return entries_.size(); }

 private:
  std::vector<Entry>::iterator Lower(DWORD number) {
    return std::lower_bound(entries_.begin(), entries_.end(), number,
                            [](const Entry& e, DWORD n) { return e.first < n; });
  }
  std::vector<Entry> entries_;
};

// A device's properties as kept: one allocation holding each property's number, type,
// size and data. A machine holds a million devices of a handful of properties each, and
// a block per property cost more in allocator overhead than in data.
class PackedProps {
 public:
  struct View {
    DWORD type;
    const uint8_t* data;
    size_t size;
  };
  PackedProps() = default;
  explicit PackedProps(const PropList& list);
  // The property of a number, or false.
  bool Find(DWORD number, View& out) const;

 private:
  std::unique_ptr<uint8_t[]> block_;  // null: no properties
};

struct Device {
  PackedProps props;
  bool present = true;
};

struct DevClass {
  GUID guid{};
  std::string description;  // code-page text
  std::vector<Device> devices;
};

struct Inventory {
  std::vector<DevClass> classes;
  std::map<std::string, size_t> byGuid;  // GuidString -> position in classes
  bool broken = false;  // the inventory file could not be read; every call fails
  std::string fault;    // why, naming the file
  DWORD code = 0;       // the error calls fail with
  // The class of a GUID, or nullptr.
  const DevClass* Find(const GUID& guid) const;
};

bool ParseGuid(std::string_view text, GUID* guid);
std::string GuidString(const GUID& guid);  // "{4D36E968-E325-11CE-BFC1-08002BE10318}"

DevProp TextProp(const std::string& ansi);
DevProp MultiProp(const std::vector<std::string>& ansi);
DevProp DwordProp(uint32_t value);

// Property number of an SPDRP name without its prefix ("FRIENDLYNAME"), or -1.
int PropertyNumber(std::string_view name);

// Parses devices.json text (UTF-8). On a fault returns false with a message naming the
// file and the place.
bool ParseDevicesJson(const std::string& text, const std::string& fileName, Inventory& out, std::string* error);
// The same, read from the file as it is parsed (the file is never held whole).
bool ReadDevicesJson(const std::string& path, Inventory& out, std::string* error);

// The live host: its fixed class table and its devices, read afresh from sysfs (this also
// refreshes the host's synthesised driver keys).
struct HostClassInfo {
  const char* guid;
  const char* name;
  const char* description;
};
const std::vector<HostClassInfo>& HostClasses();
std::shared_ptr<const Inventory> ReadHostInventory();

}  // namespace kvp
