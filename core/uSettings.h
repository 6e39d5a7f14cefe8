// The program's settings and last-scan figures, persisted under one registry key
// of the current user.
#pragma once

#include <cstdint>
#include <string>

// Registry locations (below HKEY_CURRENT_USER).
constexpr const char* SettingsKeyName = "Software\\Brantholm\\Korvane";
constexpr const char* RunKeyName = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* RunValueName = "Korvane";
// Root certificate file in the temporary folder.
constexpr const char* CACertFileName = "ccc3";

struct TSettings {
  bool AutoRun = false;
  bool CloseToTray = false;
  bool UseProxy = false;
  bool IsSysUpdated = false;
  std::string LastScan;
  std::string ProxyHost;
  std::string ProxyPort;
  std::string ProxyLogin;
  std::string ProxyPassw;
  std::string CACertData;
  int32_t udDrivers = 0;
  int32_t odDrivers = 0;
  int32_t tDrivers = 0;
};

// What became of the root certificate file "ccc3" (and, when storing a fetched
// certificate, of the "CACertData" value).
enum class TCertFileKind {
  Ok,            // written, or nothing to write (no certificate stored)
  NoTempFolder,  // no temporary folder to write it into
  FileFailed,    // the file could not be written
  StoreFailed,   // the registry value could not be written (the file still was)
};

struct TCertFileResult {
  TCertFileKind Kind = TCertFileKind::Ok;
  std::string Text;  // a sentence naming the cause; empty for Ok
  bool Ok() const { return Kind == TCertFileKind::Ok; }
};

// The last scan's three counts as one scan leaves them: none negative, and the up-to-date
// and out-of-date drivers adding up to the total.
bool SaneScanCounts(int32_t tDrivers, int32_t udDrivers, int32_t odDrivers);

// Registry -> settings, and CACertData -> tempFolder + "ccc3".
// A value stored with an unexpected registry type is skipped (its default kept); the
// three counts are all 0 unless together they are sane (SaneScanCounts).
// Every field is loaded whatever becomes of "ccc3"; the result says whether it
// could be written.
TCertFileResult LoadSettings(TSettings& settings, const std::string& tempFolder);

// The certificate fetch's store: a fetched certificate (not empty) becomes
// settings.CACertData and the registry value "CACertData"; then "ccc3" is
// written from settings.CACertData when that is not empty. An empty
// certificate (a failed fetch) stores nothing and leaves the last one in use.
// Nothing else of the settings is read or written.
TCertFileResult StoreCACert(TSettings& settings, const std::string& tempFolder,
                            const std::string& certificate);

// Settings -> registry, and AutoRun -> the Run value "Korvane" = exeName + " -t".
// A key that cannot be opened is skipped (the Run key is still maintained); returns
// false when anything could not be written.
bool SaveSettings(const TSettings& settings, const std::string& exeName);

// What a check outside the window program stores: "LastScan", "IsSysUpdated", the
// three counts, and "CACertData" when it is not empty (the next check's root
// certificate). Every other value and the autorun entry belong to the window
// program, which writes them at its own start and saves; a check leaves them alone.
bool SaveCheckFigures(const TSettings& settings);
