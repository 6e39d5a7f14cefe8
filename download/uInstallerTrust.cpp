#include "download/uInstallerTrust.h"

#include "core/uScratchFile.h"

#include <windows.h>

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TSignatureCheck CheckInstallerFile(const std::string& path, const std::string& publicKeyPem) {
  WIN32_FILE_ATTRIBUTE_DATA facts{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &facts) ||
      (facts.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return TSignatureCheck::Unsigned;
  const int64_t size = (static_cast<int64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  if (size > MaxInstallerBytes) return TSignatureCheck::Unsigned;
  std::string bytes;
  if (ReadScratchBytes(path, bytes) != ERROR_SUCCESS) return TSignatureCheck::Unsigned;
  return VerifyInstaller(bytes, publicKeyPem);
}

bool IsStandardUserVariable(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "PATH",
      "HOME",
      "USER",
      "LOGNAME",
      "SHELL",
      "LANG",
      "LANGUAGE",
      "DISPLAY",
      "WAYLAND_DISPLAY",
      "DBUS_SESSION_BUS_ADDRESS",
      "XAUTHORITY",
      "TMP",
      "TEMP",
      "TMPDIR",
      "KORVANE_MACHINE",
#ifdef _WIN32
      // What every Windows program needs to start at all.
      "SystemRoot",
      "SystemDrive",
      "windir",
      "USERPROFILE",
      "USERNAME",
      "HOMEDRIVE",
      "HOMEPATH",
      "APPDATA",
      "LOCALAPPDATA",
      "ProgramFiles",
      "ProgramFiles(x86)",
      "CommonProgramFiles",
      "ComSpec",
      "PATHEXT",
      "ALLUSERSPROFILE",
      "ProgramData",
      "PUBLIC",
      "NUMBER_OF_PROCESSORS",
      "PROCESSOR_ARCHITECTURE",
      "OS",
#endif
  };
  for (std::string_view n : kNames)
#ifdef _WIN32
    if (name.size() == n.size() &&
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.data(), static_cast<int>(name.size()),
                       n.data(), static_cast<int>(n.size())) == CSTR_EQUAL)
      return true;
#else
    if (name == n) return true;
#endif
  return StartsWith(name, "LC_") || StartsWith(name, "XDG_");
}

std::string InstallerEnvironment() {
  std::string block;
  if (LPCH all = GetEnvironmentStringsA()) {
    for (const char* p = all; *p;) {
      const std::string_view entry(p);
      p += entry.size() + 1;
      const std::size_t eq = entry.find('=', 1);  // Windows keeps "=C:=C:\..." entries
      if (eq == std::string_view::npos || !IsStandardUserVariable(entry.substr(0, eq))) continue;
      block.append(entry);
      block += '\0';
    }
    FreeEnvironmentStringsA(all);
  }
  if (block.empty()) block += '\0';
  block += '\0';
  return block;
}
