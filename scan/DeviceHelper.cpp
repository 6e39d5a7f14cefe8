#include "scan/DeviceHelper.h"

#include <korvane_text.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

TDeviceHelper::TDeviceHelper() : DevInfo(INVALID_HANDLE_VALUE), DevInfoData{} {
  DevInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
}

TDeviceHelper::~TDeviceHelper() = default;

bool TDeviceHelper::ReadBinary(DWORD property, void* buffer, DWORD size) {
  DWORD type = REG_BINARY;
  DWORD required = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(DevInfo, &DevInfoData, property, &type,
                                         static_cast<BYTE*>(buffer), size, &required))
    return false;
  return type == REG_BINARY;
}

DWORD TDeviceHelper::ReadDWord(DWORD property) {
  DWORD type = REG_DWORD;
  DWORD value = 0;
  DWORD required = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(DevInfo, &DevInfoData, property, &type,
                                         reinterpret_cast<BYTE*>(&value), sizeof value, &required))
    return 0;
  return required == sizeof value ? value : 0;
}

GUID TDeviceHelper::ReadGUID(DWORD property) {
  GUID guid{};
  const std::string text = ReadString(property);
  if (!text.empty()) {
    if (!StringToGUID(text, guid)) guid = GUID{};
    return guid;
  }
  DWORD type = REG_BINARY;
  DWORD required = 0;
  SetupDiGetDeviceRegistryPropertyA(DevInfo, &DevInfoData, property, &type, nullptr, 0, &required);
  if (required != sizeof(GUID)) return GUID{};
  unsigned char raw[sizeof(GUID)] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(DevInfo, &DevInfoData, property, &type, raw, sizeof raw,
                                         &required))
    return GUID{};
  std::memcpy(&guid, raw, sizeof guid);
  return guid;
}

std::string TDeviceHelper::ReadString(DWORD property) {
  return ReadDeviceString(DevInfo, &DevInfoData, property);
}

std::string TDeviceHelper::ReadRemovalPolicy(DWORD property) {
  const DWORD v = ReadDWord(property);
  switch (v) {
    case 0: return std::string();
    case 1: return "CM_REMOVAL_POLICY_EXPECT_NO_REMOVAL";
    case 2: return "CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL";
    case 3: return "CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL";
    default: {
      char buf[24];
      std::snprintf(buf, sizeof buf, "unknown 0x%08X", static_cast<unsigned>(v));
      return buf;
    }
  }
}

std::string ReadDeviceString(HDEVINFO devInfo, SP_DEVINFO_DATA* data, DWORD property) {
  DWORD type = REG_SZ;
  DWORD required = 0;
  if (SetupDiGetDeviceRegistryPropertyA(devInfo, data, property, &type, nullptr, 0, &required))
    return std::string();  // nothing to read
  if ((type != REG_SZ && type != REG_MULTI_SZ) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return std::string();
  std::vector<char> buf(required);
  DWORD got = 0;
  if (required == 0 ||
      !SetupDiGetDeviceRegistryPropertyA(devInfo, data, property, &type,
                                         reinterpret_cast<BYTE*>(buf.data()), required, &got))
    return std::string();
  // Parse inside the bytes read: a value without its terminators must not run past them.
  const std::size_t n = std::min<std::size_t>(got ? got : required, buf.size());
  if (type == REG_SZ) return std::string(buf.data(), strnlen(buf.data(), n));
  if (type != REG_MULTI_SZ) return std::string();
  std::string out;
  std::size_t pos = 0;
  bool first = true;
  while (pos < n) {
    const std::size_t len = strnlen(buf.data() + pos, n - pos);
    if (len == 0) break;  // the empty string ends the list
    if (!first) out += ", ";
    out.append(buf.data() + pos, len);
    first = false;
    pos += len + 1;
  }
  return out;
}

std::string ApplyLengthRule(const std::u16string& text) {
  if (text.size() <= 250) return WideToAnsi(text);
  return WideToAnsi(std::u16string_view(text).substr(0, 20)) + "...";
}

std::string ApplyLengthRule(const std::string& text) { return ApplyLengthRule(AnsiToWide(text)); }

std::string GUIDToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

bool StringToGUID(const std::string& text, GUID& guid) {
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
  std::string hex;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    hex += s[i];
  }
  auto num = [&](std::size_t pos, std::size_t len) {
    return static_cast<uint32_t>(std::stoul(hex.substr(pos, len), nullptr, 16));
  };
  GUID g{};
  g.Data1 = num(0, 8);
  g.Data2 = static_cast<uint16_t>(num(8, 4));
  g.Data3 = static_cast<uint16_t>(num(12, 4));
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(num(16 + 2 * i, 2));
  guid = g;
  return true;
}
