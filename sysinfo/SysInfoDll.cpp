// The system-information library. It reads the machine the same way the
// platform layer chooses it (KORVANE_MACHINE), but keeps no cache of its own,
// so a process that switches machines sees the new one at the next call.
#include "sysinfo/SysInfoDll.h"

#include <windows.h>

#include <korvane_cp1252.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#define KV_EXPORT extern "C" __declspec(dllexport)
#else
#define KV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr uint64_t kMaxCount = std::numeric_limits<uint32_t>::max();

struct TFigures {
  std::string computerName;  // UTF-8
  uint64_t ram = 0, freeRam = 0, memoryLoad = 0, virt = 0, freeVirtual = 0;
};

#ifndef _WIN32
bool IsHost(std::string& folder) {
  const char* m = std::getenv("KORVANE_MACHINE");
  if (!m || !*m || std::strcmp(m, "host") == 0) return true;
  folder = m;
  return false;
}

#endif

uint64_t Clamp(uint64_t v) { return v > kMaxCount ? kMaxCount : v; }

#ifndef _WIN32
struct TRefusal {
  TSysInfoFault kind;
  std::string reason;
};

// A count as given in sysinfo.json: a whole number of at least 0, else the file is
// refused (a wrong figure shown as a fact is worse than none).
uint64_t Number(const nlohmann::json& doc, const char* key) {
  auto it = doc.find(key);
  if (it == doc.end() || it->is_null()) return 0;
  if (it->is_number_unsigned()) return it->get<uint64_t>();
  if (it->is_number_integer() && it->get<int64_t>() >= 0) return static_cast<uint64_t>(it->get<int64_t>());
  throw TRefusal{TSysInfoFault::WrongType,
                 std::string("\"") + key + "\" is not a whole number of at least 0"};
}

TFigures MachineFigures(const std::string& folder) {
  TFigures f;
  const std::string path = folder + "/sysinfo.json";
  std::ifstream in(path, std::ios::binary);
  if (!in) return f;
  try {
    const nlohmann::json doc = nlohmann::json::parse(in);
    if (!doc.is_object()) throw TRefusal{TSysInfoFault::Damaged, "the file is not a JSON object"};
    auto name = doc.find("computerName");
    if (name != doc.end() && !name->is_null()) {
      if (!name->is_string()) throw TRefusal{TSysInfoFault::WrongType, "\"computerName\" is not a string"};
      f.computerName = name->get<std::string>();
    }
    f.ram = Number(doc, "ram");
    f.freeRam = Number(doc, "freeRam");
    f.memoryLoad = Number(doc, "memoryLoad");
    if (f.memoryLoad > 100)
      throw TRefusal{TSysInfoFault::OutOfRange, "\"memoryLoad\" is above 100 (a percentage)"};
    f.virt = Number(doc, "virtual");
    f.freeVirtual = Number(doc, "freeVirtual");
  } catch (const TRefusal& r) {
    throw ESysInfoRefused(r.kind, path, r.reason);
  } catch (const nlohmann::json::exception& e) {
    throw ESysInfoRefused(TSysInfoFault::Damaged, path, std::string("not valid JSON (") + e.what() + ")");
  }
  return f;
}

#endif

TFigures HostFigures() {
  TFigures f;
  char host[256] = {};
  DWORD size = sizeof host;
  if (GetComputerNameA(host, &size)) f.computerName.assign(host, size);
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  if (GlobalMemoryStatusEx(&memory)) {
    f.ram = memory.ullTotalPhys;
    f.freeRam = memory.ullAvailPhys;
    f.memoryLoad = memory.dwMemoryLoad;
    f.virt = memory.ullTotalPageFile;
    f.freeVirtual = memory.ullAvailPageFile;
  }
  return f;
}

#ifdef _WIN32
// Windows has no machine folders: the figures are always the running system's.
TFigures Figures() { return HostFigures(); }
#else
TFigures Figures() {
  std::string folder;
  return IsHost(folder) ? HostFigures() : MachineFigures(folder);
}
#endif

#ifndef _WIN32
// UTF-8 to code page 1252, '?' for what the code page cannot hold.
std::string ToCodePage(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0;
    size_t n = 1;
    if (c < 0x80) cp = c;
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else { out += '?'; ++i; continue; }
    if (i + n > utf8.size()) { out += '?'; break; }
    bool ok = true;
    for (size_t k = 1; k < n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    i += ok ? n : 1;
    if (!ok) { out += '?'; continue; }
    const int mapped = korvane_cp1252::FromWide(cp);
    out += mapped < 0 ? '?' : static_cast<char>(mapped);
  }
  return out;
}

#endif

}  // namespace

KV_EXPORT const char* GetCompName(void) {
  thread_local std::string name;
#ifdef _WIN32
  name = Figures().computerName;  // GetComputerNameA gives code-page text already
#else
  name = ToCodePage(Figures().computerName);
#endif
  return name.c_str();
}

KV_EXPORT uint32_t GetRAM(void) { return static_cast<uint32_t>(Clamp(Figures().ram)); }
KV_EXPORT uint32_t GetFreeRAM(void) { return static_cast<uint32_t>(Clamp(Figures().freeRam)); }
KV_EXPORT uint32_t GetMemUse(void) { return static_cast<uint32_t>(Clamp(Figures().memoryLoad)); }
KV_EXPORT uint32_t GetVirtual(void) { return static_cast<uint32_t>(Clamp(Figures().virt)); }
KV_EXPORT uint32_t GetFreeVirtual(void) { return static_cast<uint32_t>(Clamp(Figures().freeVirtual)); }
