#include "core/uSettings.h"

#include "core/uOSError.h"
#include "core/uScratchFile.h"

#include <windows.h>

#include <korvane_registry.h>

#include <cstring>
#include <optional>

namespace {

// Opens a key below HKEY_CURRENT_USER, creating it when missing; empty on failure.
KorvaneRegKey OpenUserKey(const char* path) {
  KorvaneRegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS)
    return KorvaneRegKey();
  return key;
}

// A number stored as REG_DWORD; nullopt when absent or of another type.
std::optional<int32_t> ReadNumber(HKEY key, const char* name) {
  DWORD value = 0;
  if (RegReadDword(key, name, value) != ERROR_SUCCESS) return std::nullopt;
  return static_cast<int32_t>(value);
}

// Text stored as REG_SZ (or REG_EXPAND_SZ, read as stored); nullopt when absent or of
// another type.
std::optional<std::string> ReadText(HKEY key, const char* name) {
  std::string text;
  if (RegReadString(key, name, text) != ERROR_SUCCESS) return std::nullopt;
  return text;
}

bool WriteNumber(HKEY key, const char* name, int32_t value) {
  DWORD v = static_cast<DWORD>(value);
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) ==
         ERROR_SUCCESS;
}

bool WriteBool(HKEY key, const char* name, bool value) { return WriteNumber(key, name, value ? 1 : 0); }

bool WriteText(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

void LoadBool(HKEY key, const char* name, bool defaultValue, bool& field) {
  field = defaultValue;
  if (auto n = ReadNumber(key, name)) field = (*n == 1);
}

void LoadText(HKEY key, const char* name, std::string& field) {
  if (auto t = ReadText(key, name)) field = *t;
}

// Writes the certificate text exactly as held: binary, nothing added.
TCertFileResult WriteCertFile(const std::string& tempFolder, const std::string& text) {
  if (tempFolder.empty())
    return {TCertFileKind::NoTempFolder, "No temporary folder for the root certificate file."};
  const std::string path = tempFolder + CACertFileName;
  const DWORD error = WriteScratchBytes(path, text);
  if (error != ERROR_SUCCESS)
    return {TCertFileKind::FileFailed, "Cannot write file \"" + path + "\". " + OSErrorText(error) + "."};
  return {};
}

}  // namespace

bool SaneScanCounts(int32_t tDrivers, int32_t udDrivers, int32_t odDrivers) {
  return tDrivers >= 0 && udDrivers >= 0 && odDrivers >= 0 &&
         static_cast<int64_t>(udDrivers) + odDrivers == tDrivers;
}

TCertFileResult LoadSettings(TSettings& s, const std::string& tempFolder) {
  const KorvaneRegKey settings = OpenUserKey(SettingsKeyName);
  if (!settings) return {};
  HKEY key = settings.Get();
  LoadBool(key, "CloseToTray", true, s.CloseToTray);
  LoadBool(key, "AutoRun", true, s.AutoRun);
  LoadBool(key, "IsSysUpdated", false, s.IsSysUpdated);
  LoadText(key, "LastScan", s.LastScan);
  LoadBool(key, "UseProxy", false, s.UseProxy);
  LoadText(key, "ProxyHost", s.ProxyHost);
  LoadText(key, "ProxyPort", s.ProxyPort);
  LoadText(key, "ProxyLogin", s.ProxyLogin);
  LoadText(key, "ProxyPassw", s.ProxyPassw);
  s.udDrivers = ReadNumber(key, "udDrivers").value_or(0);
  s.odDrivers = ReadNumber(key, "odDrivers").value_or(0);
  s.tDrivers = ReadNumber(key, "tDrivers").value_or(0);
  // The three counts describe one scan: when one of them was refused (stored with
  // another type) or they do not add up, none is shown rather than a diagram that
  // contradicts its own labels.
  if (!SaneScanCounts(s.tDrivers, s.udDrivers, s.odDrivers)) s.tDrivers = s.udDrivers = s.odDrivers = 0;
  if (auto cert = ReadText(key, "CACertData")) {
    s.CACertData = *cert;
    return WriteCertFile(tempFolder, s.CACertData);
  }
  return {};
}

TCertFileResult StoreCACert(TSettings& s, const std::string& tempFolder, const std::string& certificate) {
  bool stored = true;
  if (!certificate.empty()) {
    s.CACertData = certificate;
    const KorvaneRegKey settings = OpenUserKey(SettingsKeyName);
    // The value reaches the hive when it is flushed: a failed write is a failed store.
    stored = settings && WriteText(settings.Get(), "CACertData", certificate) &&
             RegFlushKey(settings.Get()) == ERROR_SUCCESS;
  }
  if (s.CACertData.empty()) return {};
  TCertFileResult file = WriteCertFile(tempFolder, s.CACertData);
  if (file.Ok() && !stored)
    file = {TCertFileKind::StoreFailed, "The root certificate could not be stored in the settings."};
  return file;
}

bool SaveSettings(const TSettings& s, const std::string& exeName) {
  bool ok = true;
  // Both keys stay open until every value is set, so the hive is written once for all.
  const KorvaneRegKey settings = OpenUserKey(SettingsKeyName);
  const KorvaneRegKey runKey = OpenUserKey(RunKeyName);
  if (settings) {
    HKEY key = settings.Get();
    if (!s.CACertData.empty()) ok = WriteText(key, "CACertData", s.CACertData) && ok;
    ok = WriteBool(key, "CloseToTray", s.CloseToTray) && ok;
    ok = WriteBool(key, "AutoRun", s.AutoRun) && ok;
    ok = WriteText(key, "LastScan", s.LastScan) && ok;
    ok = WriteBool(key, "IsSysUpdated", s.IsSysUpdated) && ok;
    ok = WriteNumber(key, "udDrivers", s.udDrivers) && ok;
    ok = WriteNumber(key, "odDrivers", s.odDrivers) && ok;
    ok = WriteNumber(key, "tDrivers", s.tDrivers) && ok;
    ok = WriteBool(key, "UseProxy", s.UseProxy) && ok;
    ok = WriteText(key, "ProxyHost", s.ProxyHost) && ok;
    ok = WriteText(key, "ProxyPort", s.ProxyPort) && ok;
    ok = WriteText(key, "ProxyLogin", s.ProxyLogin) && ok;
    ok = WriteText(key, "ProxyPassw", s.ProxyPassw) && ok;
  } else {
    ok = false;
  }
  if (!runKey) return false;
  HKEY run = runKey.Get();
  if (s.AutoRun) {
    ok = WriteText(run, RunValueName, exeName + " -t") && ok;
  } else {
    RegDeleteValueA(run, RunValueName);  // absent already is fine
  }
  // One rewrite of the hive; a failed write is a failed save.
  return RegFlushKey(run) == ERROR_SUCCESS && ok;
}

bool SaveCheckFigures(const TSettings& s) {
  const KorvaneRegKey settings = OpenUserKey(SettingsKeyName);
  if (!settings) return false;
  HKEY key = settings.Get();
  bool ok = true;
  if (!s.CACertData.empty()) ok = WriteText(key, "CACertData", s.CACertData) && ok;
  ok = WriteText(key, "LastScan", s.LastScan) && ok;
  ok = WriteBool(key, "IsSysUpdated", s.IsSysUpdated) && ok;
  ok = WriteNumber(key, "udDrivers", s.udDrivers) && ok;
  ok = WriteNumber(key, "odDrivers", s.odDrivers) && ok;
  ok = WriteNumber(key, "tDrivers", s.tDrivers) && ok;
  return RegFlushKey(key) == ERROR_SUCCESS && ok;
}
