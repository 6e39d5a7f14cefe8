// The main window's data, shared with headless code (korvane-check, tests).
#pragma once

#include "core/uDrvTypes.h"
#include "core/uSettings.h"
#include "core/uThread.h"

#include <cstdint>
#include <string>

// What one scan produces: its own catalogue, driver list and summary. The scan
// builds it alone, and it reaches the main window's state in one step once the
// scan has ended (TKorvaneState::TakeScanResult).
// The catalogue and the driver list, both 1-based with an empty slot 0.
struct TDriverLists {
  TDriverLists();  // both lists with their empty slot 0 only

  TDrvList DrvList;  // length DrvCount + 1
  int32_t DrvCount = 0;
  TGUIDList GUIDList;  // length GUIDCount + 1
  int32_t GUIDCount = 0;

  // Empty a list (slot 0 only), giving its room back too.
  void ClearCatalogue();
  void ClearDrivers();
};

// What one scan builds: its own lists, and the exchange's figures.
struct TScanResult : TDriverLists {
  // The exchange's figures, once it got that far: the counts when an answer
  // (an empty one included) arrived, the verdict when a non-empty one was merged.
  bool HasCounts = false;
  bool HasVerdict = false;
  int32_t tDrivers = 0;
  int32_t udDrivers = 0;
  int32_t odDrivers = 0;
  bool IsSysUpdated = false;
};

// The window's catalogue and driver list (TDriverLists) are the last scan's.
class TKorvaneState : public TDriverLists {
 public:
  TSettings Settings;
  std::string PartnerID;
  std::string TempFolder;      // with trailing separator; empty when not usable
  std::string TempFolderError; // why TempFolder is empty (a sentence), else empty
  std::string ExeName;         // full path of the program
  std::string ExeFolder;       // with trailing separator
  std::string ProgramVersion;
  std::string OsShortName;     // report's system token, e.g. "xp-32"

  // A finished scan's result replaces the catalogue and the driver list, and
  // its figures (those it has) go into Settings. Runs on the UI thread, in the
  // scan's completion; result is left empty.
  void TakeScanResult(TScanResult&& result);

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
  TCertFileResult LoadSettings();
  bool SaveSettings();

  // The root-certificate fetch of the last update check: its completion
  // stores the certificate here, and it goes with the state.
  TWorkerOwner CertFetch;
};
