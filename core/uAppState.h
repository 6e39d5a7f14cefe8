// The main window's data, shared with headless code (korvane-check, tests).
#pragma once

#include "core/uDrvTypes.h"
#include "core/uSettings.h"
#include "core/uThread.h"

#include <cstdint>
#include <string>

class TKorvaneState {
 public:
  TKorvaneState();

  TDrvList DrvList;     // 1-based, slot 0 empty; length DrvCount + 1
  int32_t DrvCount = 0;
  TGUIDList GUIDList;   // 1-based, slot 0 empty; length GUIDCount + 1
  int32_t GUIDCount = 0;
  TSettings Settings;
  std::string PartnerID;
  std::string TempFolder;      // with trailing separator; empty when not usable
  std::string TempFolderError; // why TempFolder is empty (a sentence), else empty
  std::string ExeName;         // full path of the program
  std::string ExeFolder;       // with trailing separator
  std::string ProgramVersion;
  std::string OsShortName;     // report's system token, e.g. "xp-32"

  // Empty both arrays (slot 0 only).
  void ClearCatalogue();
  void ClearDrivers();

  // TempFolder := GetTempPathA into a buffer of MAX_PATH characters. When the
  // platform refuses the folder or its path does not fit, TempFolder is empty
  // and TempFolderError names the cause.
  void ReadTempFolder();

  // The window program owns the settings: its saves write every value and the
  // autorun entry. Anything else (korvane-check, tests) stores only a check's
  // figures, so a headless check never switches on the start at login.
  bool OwnsSettings = false;

  // ::LoadSettings with TempFolder; ::SaveSettings with ExeName when OwnsSettings,
  // else ::SaveCheckFigures.
  void LoadSettings();
  bool SaveSettings();

  // The root-certificate fetch of the last update check: its completion
  // stores the certificate here, and it goes with the state.
  TWorkerOwner CertFetch;
};
