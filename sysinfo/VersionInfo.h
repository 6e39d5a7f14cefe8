// The program's file version: the version block of an executable, its text
// form "%d.%d.%d.%d", and the comparable number of such a text.
#pragma once

#include <windows.h>
#include <winver.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// TVerInfo failures ("Can't load version information", ...).
class EVerInfoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// VersionToNumber's conversion failure.
class EVersionConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TTransRec {
  uint16_t Language;
  uint16_t CodePage;
};
using TTransRecArray = std::vector<TTransRec>;

// The platform calls TVerInfo makes; tests hand in failing ones. The members are not
// named after the calls: the SDK's A/W macros would rename them.
struct TVersionApi {
  DWORD(WINAPI* InfoSize)(LPCSTR, LPDWORD) = &GetFileVersionInfoSizeA;
  BOOL(WINAPI* Info)(LPCSTR, DWORD, DWORD, LPVOID) = &GetFileVersionInfoA;
  BOOL(WINAPI* QueryValue)(LPCVOID, LPCSTR, LPVOID*, PUINT) = &VerQueryValueA;
};

class TVerInfo {
 public:
  // Reads the version block of the file; a file without one leaves the object
  // empty. Raises EVerInfoError when a block exists but cannot be read.
  explicit TVerInfo(const std::string& path, const TVersionApi& api = TVersionApi());

  bool HasVerInfo = false;
  VS_FIXEDFILEINFO FixedFileInfo{};
  TTransRecArray Translations;

  uint16_t FileVersionMajor() const { return static_cast<uint16_t>(FixedFileInfo.dwFileVersionMS >> 16); }
  uint16_t FileVersionMinor() const { return static_cast<uint16_t>(FixedFileInfo.dwFileVersionMS & 0xFFFF); }
  uint16_t FileVersionRelease() const { return static_cast<uint16_t>(FixedFileInfo.dwFileVersionLS >> 16); }
  uint16_t FileVersionBuild() const { return static_cast<uint16_t>(FixedFileInfo.dwFileVersionLS & 0xFFFF); }

 private:
  std::vector<uint8_t> Block;
};

// "major.minor.release.build" of the file, or "" when it has no version block.
std::string FileVersionText(const std::string& path);

// "1.0.3.25" -> 1000325: each of the four parts written as at least two digits,
// one after the other, read as one decimal number. Raises EVersionConvertError
// unless the text has exactly four dot-separated decimal parts whose joined
// digits fit a 32-bit signed integer.
int32_t VersionToNumber(const std::string& text);
