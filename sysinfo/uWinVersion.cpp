#include "sysinfo/uWinVersion.h"

#include <korvane_registry.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr WORD kArchIa64 = 6;
constexpr WORD kArchAmd64 = 9;
constexpr WORD kArchIa32OnWin64 = 10;

std::string Format2(const char* fmt, int a, int b) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), fmt, a, b);
  return buf;
}

std::string Join(const std::string& a, const std::string& b) { return a + " " + b; }

// Whole-text comparison ignoring case, in the user's locale.
bool SameText(const std::string& a, const char* b) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b, -1) == CSTR_EQUAL;
}

// Removes leading and trailing blanks and control characters.
std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string BuildText(const std::string& csd, uint32_t build) {
  char buf[200];
  std::snprintf(buf, sizeof(buf), "%s (Build %d) \r\n", csd.c_str(), static_cast<int>(build & 0xFFFF));
  return buf;
}

}  // namespace

std::string ProductTypeName(uint32_t productType) {
  static const std::array<const char*, 30> kNames = {
      "An unknown product",
      "Ultimate",
      "Home Basic",
      "Home Premium",
      "Enterprise",
      "Home Basic",
      "Business",
      "Server Standard (full installation)",
      "Server Datacenter (full installation)",
      "Small Business Server",
      "Server Enterprise (full installation)",
      "Starter",
      "Server Datacenter (core installation)",
      "Server Standard (core installation)",
      "Server Enterprise (core installation)",
      "Server Enterprise for Itanium-based Systems",
      "Business",
      "Web Server (full installation)",
      "Cluster Server",
      "Home Server",
      "Storage Server Express",
      "Storage Server Standard",
      "Storage Server Workgroup",
      "Storage Server Enterprise",
      "Server for Small Business",
      "Small Business Server Premium",
      "Home Premium",
      "Enterprise",
      "Ultimate",
      "Web Server (core installation)",
  };
  return productType < kNames.size() ? kNames[productType] : "";
}

void GetWindowsTypeEx(TWindowsTypeEx& info) {
  TPlatformWindowsFacts facts;
  GetWindowsTypeEx(info, facts);
}

void GetWindowsTypeEx(TWindowsTypeEx& info, IWindowsFacts& facts) {
  OSVERSIONINFOEXA vi{};
  bool extended = false;
  if (!facts.ReadVersion(vi, extended)) return;
  if (!extended) {
    vi.wServicePackMajor = 0;
    vi.wServicePackMinor = 0;
    vi.wSuiteMask = 0;
    vi.wProductType = 0;
  }
  const DWORD major = vi.dwMajorVersion, minor = vi.dwMinorVersion;
  const int imajor = static_cast<int>(major), iminor = static_cast<int>(minor);
  char csdBuf[sizeof(vi.szCSDVersion) + 1] = {};
  std::memcpy(csdBuf, vi.szCSDVersion, sizeof(vi.szCSDVersion));
  const std::string csd(csdBuf);

  info.Version = {Format2("%d.%d", imajor, iminor), imajor, iminor};
  info.ServicePackVersion = {Format2("%d.%d", vi.wServicePackMajor, vi.wServicePackMinor), vi.wServicePackMajor,
                             vi.wServicePackMinor};
  info.ProductType = facts.ProductInfo(major, minor, vi.wServicePackMajor, vi.wServicePackMinor);
  info.Build = vi.dwBuildNumber;
  const WORD arch = facts.NativeArchitecture();
  const WORD suite = vi.wSuiteMask;
  const BYTE productType = vi.wProductType;

  switch (vi.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
      info.Platform = "win9x";
      info.Name = "Microsoft Win32s";
      info.Kind.IsServer = false;
      info.FullName = info.Name;
      info.OsId = 1;
      break;

    case VER_PLATFORM_WIN32_WINDOWS:
      info.Kind.IsServer = false;
      info.ServicePack = csd;
      info.Platform = "win9x";
      if (major == 4 && minor == 0) {
        info.Name = "Windows 95";
        info.OsId = 2;
        info.ShortName = "95";
        if (csd.size() >= 2 && (csd[1] == 'C' || csd[1] == 'B')) {
          info.Kind.Edition = "OSR2";
          info.OsId = 3;
        }
        info.FullName = Join(info.Name, info.Kind.Edition);
      }
      if (major == 4 && minor == 10) {
        info.Name = "Windows 98";
        info.OsId = 5;
        if (csd.size() >= 2 && csd[1] == 'A') {
          info.Kind.Edition = "SE";
          info.OsId = 6;
        }
        info.FullName = Join(info.Name, info.Kind.Edition);
        info.ShortName = "98";
      }
      if (major == 4 && minor == 90) {
        info.Name = "Windows Millennium Edition";
        info.FullName = info.Name;
        info.OsId = 7;
        info.ShortName = "me";
      }
      break;

    case VER_PLATFORM_WIN32_NT: {
      info.Platform = "winnt";
      if (major == 6 && minor == 0) {
        if (productType == VER_NT_WORKSTATION) {
          info.Name = "Windows Vista";
          info.OsId = 13;
        } else {
          info.Name = "Windows Server Longhorn";
          info.OsId = 14;
        }
        info.ShortName = "vista";
      } else if (major == 5 && minor == 2) {
        if (facts.ServerR2Metric() != 0) {
          info.Name = "Windows Server 2003 R2";
          info.OsId = 12;
          info.ShortName = "2003";
        } else if (productType == VER_NT_WORKSTATION && arch == kArchAmd64) {
          info.Name = "Windows XP Professional x64 Edition";
          info.OsId = 10;
          info.ShortName = "xp";
        } else {
          info.Name = "Windows Server 2003 family";
          info.OsId = 11;
          info.ShortName = "2003";
        }
      } else if (major == 5 && minor == 1) {
        info.Name = "Windows XP";
        info.OsId = 9;
        info.ShortName = "xp";
      } else if (major == 5 && minor == 0) {
        info.Name = "Windows 2000";
        info.OsId = 8;
        info.ShortName = "2000";
      } else if (major <= 4) {
        info.Name = "Windows NT";
        info.OsId = 4;
        info.ShortName = "nt";
      }

      std::string& edition = info.Kind.Edition;
      if (extended) {
        if (productType == VER_NT_WORKSTATION && arch != kArchAmd64) {
          info.Kind.IsServer = false;
          if (major == 4)
            edition = "Workstation 4.0";
          else if (major == 6)
            edition = ProductTypeName(info.ProductType);
          else
            edition = (suite & VER_SUITE_PERSONAL) ? "Home Edition" : "Professional";
        } else if (productType == VER_NT_SERVER || productType == VER_NT_DOMAIN_CONTROLLER) {
          info.Kind.IsServer = true;
          if (major == 5 && minor == 2 && arch == kArchIa64) {
            if (suite & VER_SUITE_DATACENTER)
              edition = "Datacenter Edition for Itanium-based Systems";
            else if (suite & VER_SUITE_ENTERPRISE)
              edition = "Enterprise Edition for Itanium-based Systems";
          } else if (major == 5 && minor == 2 && arch == kArchAmd64) {
            if (suite & VER_SUITE_DATACENTER)
              edition = "Datacenter x64 Edition";
            else if (suite & VER_SUITE_ENTERPRISE)
              edition = "Enterprise x64 Edition";
            else
              edition = "Standard x64 Edition";
          } else if (major == 5 && minor == 2) {
            if (suite & VER_SUITE_DATACENTER)
              edition = "Datacenter Edition";
            else if (suite & VER_SUITE_ENTERPRISE)
              edition = "Enterprise Edition";
            else if (suite & VER_SUITE_BLADE)
              edition = "Web Edition";
            else if (suite & VER_SUITE_SMALLBUSINESS)
              edition = "Small Business Server";
            else if (suite & VER_SUITE_SMALLBUSINESS_RESTRICTED)
              edition = "Small Business Server ( Restricted )";
            else
              edition = "Standard Edition";
          } else if (major == 5 && minor == 0) {
            info.Name = "Windows Server 2000 family";
            if (suite & VER_SUITE_DATACENTER)
              edition = "Datacenter Server";
            else if (suite & VER_SUITE_ENTERPRISE)
              edition = "Advanced Server";
            else
              edition = "Server";
            info.ShortName = "2000";
          } else if (major == 6) {
            info.Name = "Windows Vista";
            edition = ProductTypeName(info.ProductType);
            info.ShortName = "vista";
          } else {
            edition = (suite & VER_SUITE_ENTERPRISE) ? "Server 4.0 Enterprise Edition" : "Server 4.0";
            info.ShortName = "nt";
          }
        }
      } else {
        const std::string optionsType = facts.ProductOptionsType();
        if (SameText(optionsType, "WINNT"))
          edition = "Workstation";
        else if (SameText(optionsType, "LANMANNT"))
          edition = "Server";
        else if (SameText(optionsType, "SERVERNT"))
          edition = "Advanced Server";
        edition += Format2(" %d.%d ", imajor, iminor);
        info.ShortName = "nt";
      }

      if (major == 4 && SameText(csd, "Service Pack 6")) {
        if (facts.HasQ246009Hotfix()) {
          char buf[64];
          std::snprintf(buf, sizeof(buf), "Service Pack 6a (Build %d) \r\n",
                        static_cast<int>(vi.dwBuildNumber & 0xFFFF));
          info.ServicePack = buf;
        } else {
          info.ServicePack = BuildText(csd, vi.dwBuildNumber);
        }
      } else {
        info.ServicePack = BuildText(csd, vi.dwBuildNumber);
      }
      info.FullName = Join(info.Name, edition);
      break;
    }

    default:
      break;
  }

  info.ServicePack = Trim(info.ServicePack);
  if (arch == kArchAmd64)
    info.Architecture = "AMD64";
  else if (arch == kArchIa32OnWin64 || arch == kArchIa64)
    info.Architecture = "IA64";
  else
    info.Architecture = "x86";
  info.ShortName += info.Architecture == "x86" ? "-32" : "-64";
}

// ---- The platform's facts ---------------------------------------------------

bool TPlatformWindowsFacts::ReadVersion(OSVERSIONINFOEXA& info, bool& extended) {
  info = OSVERSIONINFOEXA{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
  extended = GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)) != FALSE;
  if (extended) return true;
  info = OSVERSIONINFOEXA{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  return GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)) != FALSE;
}

// The two entry points looked up at run time (absent before Vista and XP).
using TGetProductInfo = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
using TGetNativeSystemInfo = void(WINAPI*)(LPSYSTEM_INFO);

DWORD TPlatformWindowsFacts::ProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto getProductInfo = kernel ? reinterpret_cast<TGetProductInfo>(
                                     reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetProductInfo")))
                               : nullptr;
  if (!getProductInfo) return 0;
  DWORD type = 0;
  if (!getProductInfo(major, minor, spMajor, spMinor, &type)) return 0;
  return type;
}

WORD TPlatformWindowsFacts::NativeArchitecture() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto getNativeSystemInfo = kernel ? reinterpret_cast<TGetNativeSystemInfo>(reinterpret_cast<void (*)()>(
                                          GetProcAddress(kernel, "GetNativeSystemInfo")))
                                    : nullptr;
  if (!getNativeSystemInfo) return 0;
  SYSTEM_INFO si{};
  getNativeSystemInfo(&si);
  return si.wProcessorArchitecture;
}

int TPlatformWindowsFacts::ServerR2Metric() { return GetSystemMetrics(SM_SERVERR2); }

std::string TPlatformWindowsFacts::ProductOptionsType() {
  KorvaneRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0,
                    KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS)
    return "";
  // The short names fit a small buffer: a longer value reads as none.
  KorvaneRegTextRules rules;
  rules.maxBytes = 255;
  std::string result;
  RegReadString(key.Get(), "ProductType", result, rules);
  return result;
}

bool TPlatformWindowsFacts::HasQ246009Hotfix() {
  KorvaneRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", 0,
                    KEY_ALL_ACCESS, key.Receive()) != ERROR_SUCCESS)
    return false;
  return true;
}
