#include "sysinfo/VersionInfo.h"

#include <cstdio>
#include <cstring>

TVerInfo::TVerInfo(const std::string& path, const TVersionApi& api) {
  DWORD handle = 0;
  const DWORD size = api.InfoSize(path.c_str(), &handle);
  HasVerInfo = size > 0;
  if (!HasVerInfo) return;

  Block.assign(size, 0);
  if (!api.Info(path.c_str(), handle, size, Block.data()))
    throw EVerInfoError("Can't load version information");

  LPVOID value = nullptr;
  UINT length = 0;
  if (!api.QueryValue(Block.data(), "\\", &value, &length) || !value)
    throw EVerInfoError("Can't read fixed file information");
  if (length != sizeof(VS_FIXEDFILEINFO)) throw EVerInfoError("Fixed file information record wrong size");
  std::memcpy(&FixedFileInfo, value, sizeof(VS_FIXEDFILEINFO));

  value = nullptr;
  length = 0;
  if (api.QueryValue(Block.data(), "\\VarFileInfo\\Translation", &value, &length) && value) {
    const size_t count = length / sizeof(TTransRec);
    Translations.resize(count);
    if (count) std::memcpy(Translations.data(), value, count * sizeof(TTransRec));
  }
}

std::string FileVersionText(const std::string& path) {
  std::string result;
  TVerInfo info(path);
  if (info.HasVerInfo) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%d.%d.%d.%d", info.FileVersionMajor(), info.FileVersionMinor(),
                  info.FileVersionRelease(), info.FileVersionBuild());
    result = buf;
  }
  return result;
}

namespace {

// A part of the version text as a non-negative decimal integer.
int32_t PartValue(const std::string& part, const std::string& text) {
  if (part.empty() || part.size() > 10) throw EVersionConvertError("'" + text + "' is not a valid version");
  int64_t v = 0;
  for (char c : part) {
    if (c < '0' || c > '9') throw EVersionConvertError("'" + part + "' is not a valid integer value");
    v = v * 10 + (c - '0');
  }
  if (v > INT32_MAX) throw EVersionConvertError("'" + part + "' is not a valid integer value");
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t VersionToNumber(const std::string& text) {
  std::string rest = text;
  std::string digits;
  char buf[16];
  for (int i = 0; i < 3; ++i) {
    const size_t dot = rest.find('.');
    if (dot == std::string::npos) throw EVersionConvertError("'" + text + "' has fewer than four parts");
    std::snprintf(buf, sizeof(buf), "%.2d", PartValue(rest.substr(0, dot), text));
    digits += buf;
    rest.erase(0, dot + 1);
  }
  // A fifth part leaves a dot in the rest, which is no integer.
  std::snprintf(buf, sizeof(buf), "%.2d", PartValue(rest, text));
  digits += buf;

  int64_t v = 0;
  for (char c : digits) {
    v = v * 10 + (c - '0');
    if (v > INT32_MAX) throw EVersionConvertError("'" + digits + "' is not a valid integer value");
  }
  return static_cast<int32_t>(v);
}
