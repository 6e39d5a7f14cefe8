// The set-up of a process that runs whole scans against a generated machine and a
// server on loopback (the benchmarks' child processes): the machine folder, the
// server's two addresses in the settings as the program keeps them, and the state's
// temporary folder, program path and system name.
#pragma once

#include "core/uAppState.h"
#include "core/uSettings.h"
#include "scan/uServerUrls.h"

#include <korvane_machine.h>
#include <windows.h>

#include <cstdlib>
#include <string>

namespace korvane::testing {

inline bool PrepareScanChild(const std::string& machine, const std::string& http, const std::string& https,
                             TKorvaneState& state) {
  setenv("KORVANE_MACHINE", machine.c_str(), 1);
  KorvaneResetMachine();
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  RegSetValueExA(key, UpdateURLValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(http.c_str()),
                 DWORD(http.size() + 1));
  RegSetValueExA(key, SecureUpdateURLValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(https.c_str()),
                 DWORD(https.size() + 1));
  RegCloseKey(key);
  LoadServerUrls();
  char buf[MAX_PATH + 1] = {};
  GetTempPathA(sizeof buf, buf);
  state.TempFolder = buf;
  state.ExeName = machine + "/korvane";
  state.OsShortName = "xp-32";
  return true;
}

}  // namespace korvane::testing
