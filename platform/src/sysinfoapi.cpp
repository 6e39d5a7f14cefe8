// GetVersionExA and the two run-time entry points, from the machine's os.json
// or, on the live host, from facts that name no Windows: the kernel release as
// the version and the distribution's name as the service-pack text.
#include <windows.h>

#include <korvane_machine.h>
#include <korvane_text.h>

#include "osfacts.h"

#include <sys/utsname.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace {

constexpr size_t kMaxCsdBytes = 127;

std::string ClipCsd(std::string text) {
  if (text.size() > kMaxCsdBytes) text.resize(kMaxCsdBytes);
  return text;
}

template <typename T>
T JsonUnsigned(const nlohmann::json& doc, const char* key, T fallback) {
  auto it = doc.find(key);
  if (it == doc.end() || it->is_null()) return fallback;
  if (!it->is_number_integer()) throw std::runtime_error(std::string("\"") + key + "\" is not an integer");
  const long long v = it->get<long long>();
  if (v < 0 || static_cast<unsigned long long>(v) > std::numeric_limits<T>::max())
    throw std::runtime_error(std::string("\"") + key + "\" is out of range");
  return static_cast<T>(v);
}

bool JsonBool(const nlohmann::json& doc, const char* key, bool fallback) {
  auto it = doc.find(key);
  if (it == doc.end() || it->is_null()) return fallback;
  if (!it->is_boolean()) throw std::runtime_error(std::string("\"") + key + "\" is not true or false");
  return it->get<bool>();
}

KvOsFacts ReadMachineFacts(const std::string& path) {
  KvOsFacts f;
  std::ifstream in(path, std::ios::binary);
  if (!in) return f;  // no os.json: the machine answers no version query
  try {
    const nlohmann::json doc = nlohmann::json::parse(in);
    if (!doc.is_object()) throw std::runtime_error("the file is not a JSON object");
    f.platformId = JsonUnsigned<DWORD>(doc, "platformId", 0);
    f.major = JsonUnsigned<DWORD>(doc, "major", 0);
    f.minor = JsonUnsigned<DWORD>(doc, "minor", 0);
    f.build = JsonUnsigned<DWORD>(doc, "build", 0);
    auto csd = doc.find("csdVersion");
    if (csd != doc.end() && !csd->is_null()) {
      if (!csd->is_string()) throw std::runtime_error("\"csdVersion\" is not a string");
      f.csdVersion = ClipCsd(Utf8ToAnsi(csd->get<std::string>()));
    }
    f.extended = JsonBool(doc, "extended", true);
    f.spMajor = JsonUnsigned<WORD>(doc, "spMajor", 0);
    f.spMinor = JsonUnsigned<WORD>(doc, "spMinor", 0);
    f.suiteMask = JsonUnsigned<WORD>(doc, "suiteMask", 0);
    f.productType = JsonUnsigned<BYTE>(doc, "productType", 0);
    auto gpi = doc.find("getProductInfo");
    f.hasProductInfo = gpi != doc.end() && !gpi->is_null();
    f.productInfo = JsonUnsigned<DWORD>(doc, "getProductInfo", 0);
    auto gnsi = doc.find("nativeArchitecture");
    f.hasNativeSystemInfo = gnsi != doc.end() && !gnsi->is_null();
    f.nativeArchitecture = JsonUnsigned<WORD>(doc, "nativeArchitecture", 0);
    f.serverR2 = static_cast<int>(JsonUnsigned<int32_t>(doc, "serverR2", 0));
    f.versionQueries = JsonBool(doc, "versionQueries", true);
  } catch (const std::exception& e) {
    std::cerr << path << ": " << e.what() << "\n";
    return KvOsFacts{};
  }
  return f;
}

std::string OsReleasePrettyName() {
  std::ifstream in("/etc/os-release");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 12, "PRETTY_NAME=") != 0) continue;
    std::string v = line.substr(12);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      out += v[i];
    }
    return out;
  }
  return "Linux";
}

WORD ArchitectureOfMachine(const std::string& machine) {
  if (machine == "x86_64" || machine == "amd64") return PROCESSOR_ARCHITECTURE_AMD64;
  if (machine == "ia64") return PROCESSOR_ARCHITECTURE_IA64;
  if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) return PROCESSOR_ARCHITECTURE_INTEL;
  if (machine == "aarch64" || machine == "arm64") return 12;  // PROCESSOR_ARCHITECTURE_ARM64
  if (machine.compare(0, 3, "arm") == 0) return 5;            // PROCESSOR_ARCHITECTURE_ARM
  return PROCESSOR_ARCHITECTURE_UNKNOWN;
}

KvOsFacts ReadHostFacts() {
  KvOsFacts f;
  struct utsname u {};
  if (uname(&u) != 0) return f;
  unsigned major = 0, minor = 0, patch = 0;
  std::sscanf(u.release, "%u.%u.%u", &major, &minor, &patch);
  f.versionQueries = true;
  f.extended = true;
  f.platformId = VER_PLATFORM_WIN32_NT;
  f.major = major;
  f.minor = minor;
  f.build = patch;
  f.csdVersion = ClipCsd(Utf8ToAnsi(OsReleasePrettyName()));
  f.productType = VER_NT_WORKSTATION;
  f.hasProductInfo = false;
  f.hasNativeSystemInfo = true;
  f.nativeArchitecture = ArchitectureOfMachine(u.machine);
  return f;
}

}  // namespace

KvOsFacts KvReadOsFacts() {
  if (KorvaneMachineIsHost()) return ReadHostFacts();
  return ReadMachineFacts(KorvaneMachineFile("os.json"));
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = info->dwOSVersionInfoSize;
  if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const KvOsFacts f = KvReadOsFacts();
  if (!f.versionQueries || (size == sizeof(OSVERSIONINFOEXA) && !f.extended)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = f.major;
  info->dwMinorVersion = f.minor;
  info->dwBuildNumber = f.build;
  info->dwPlatformId = f.platformId;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  std::memcpy(info->szCSDVersion, f.csdVersion.data(), std::min(f.csdVersion.size(), kMaxCsdBytes));
  if (size == sizeof(OSVERSIONINFOEXA)) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
    ex->wServicePackMajor = f.spMajor;
    ex->wServicePackMinor = f.spMinor;
    ex->wSuiteMask = f.suiteMask;
    ex->wProductType = f.productType;
    ex->wReserved = 0;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Reached only through GetProcAddress, which offers them when the machine has them.
extern "C" BOOL WINAPI KvGetProductInfo(DWORD, DWORD, DWORD, DWORD, PDWORD productType) {
  if (!productType) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *productType = KvReadOsFacts().productInfo;
  return TRUE;
}

extern "C" void WINAPI KvGetNativeSystemInfo(LPSYSTEM_INFO si) {
  if (!si) return;
  std::memset(si, 0, sizeof(*si));
  si->wProcessorArchitecture = KvReadOsFacts().nativeArchitecture;
  si->dwPageSize = 4096;
  si->dwAllocationGranularity = 65536;
  si->dwNumberOfProcessors = 1;
}
