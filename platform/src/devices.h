// The device inventory behind the Setup API: classes in enumeration order, each with its
// devices and their registry properties (code-page text, as the A functions hand it out).
#pragma once

#include <minwindef.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kvp {

struct DevProp {
  DWORD type = 0;
  std::vector<uint8_t> data;
};

struct Device {
  bool present = true;
  std::map<DWORD, DevProp> props;
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
