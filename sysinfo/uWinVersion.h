// Which Windows the program runs on: the operating-system description record
// and the decision tree that fills it from the platform's version facts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct TWindowsProductKind {
  std::string Edition;
  bool IsServer = false;
};

struct TWindowsProductVersion {
  std::string Text;  // "%d.%d"
  int32_t Major = 0;
  int32_t Minor = 0;
};

struct TWindowsTypeEx {
  std::string FullName;      // Name + " " + Kind.Edition
  std::string Name;
  TWindowsProductKind Kind;
  std::string Platform;      // "win9x", "winnt" or ""
  uint8_t OsId = 0;
  TWindowsProductVersion Version;
  uint32_t Build = 0;
  uint32_t ProductType = 0;
  std::string ShortName;     // report token, e.g. "xp-32"
  std::string Architecture;  // "x86", "AMD64" or "IA64"
  std::string ServicePack;
  TWindowsProductVersion ServicePackVersion;
};

// The facts the decision tree reads, each at most once per call and only on
// the branches that need it. The platform source asks the Windows-shaped
// layer; tests give fixed facts.
class IWindowsFacts {
 public:
  virtual ~IWindowsFacts() = default;
  // Fills info with the 156-byte record, or else the 148-byte one (extended
  // false, the extended fields zero). False when neither can be read.
  virtual bool ReadVersion(OSVERSIONINFOEXA& info, bool& extended) = 0;
  // GetProductInfo's product type; 0 when the entry point is missing.
  virtual DWORD ProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor) = 0;
  // GetNativeSystemInfo's architecture; 0 when missing.
  virtual WORD NativeArchitecture() = 0;
  virtual int ServerR2Metric() = 0;
  // ProductOptions "ProductType" text; "" when it cannot be read.
  virtual std::string ProductOptionsType() = 0;
  // Whether the Q246009 hotfix key opens for full access.
  virtual bool HasQ246009Hotfix() = 0;
};

// The facts of the current machine, through the platform layer.
class TPlatformWindowsFacts : public IWindowsFacts {
 public:
  bool ReadVersion(OSVERSIONINFOEXA& info, bool& extended) override;
  DWORD ProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor) override;
  WORD NativeArchitecture() override;
  int ServerR2Metric() override;
  std::string ProductOptionsType() override;
  bool HasQ246009Hotfix() override;
};

// Fills a fresh record; leaves it untouched when the version cannot be read.
void GetWindowsTypeEx(TWindowsTypeEx& info);
void GetWindowsTypeEx(TWindowsTypeEx& info, IWindowsFacts& facts);

// Name of a GetProductInfo product type; "" above 29.
std::string ProductTypeName(uint32_t productType);
