#include "core/uAppState.h"

#include "core/uOSError.h"

#include <windows.h>

#include <utility>

TDriverLists::TDriverLists() {
  ClearCatalogue();
  ClearDrivers();
}

void TDriverLists::ClearCatalogue() {
  GUIDList = TGUIDList(1);  // a fresh list: the old one's room is given back too
  GUIDCount = 0;
}

void TDriverLists::ClearDrivers() {
  DrvList = TDrvList(1);  // a fresh list: the old one's room is given back too
  DrvCount = 0;
}

void TKorvaneState::TakeScanResult(TScanResult&& result) {
  GUIDList = std::move(result.GUIDList);
  GUIDCount = result.GUIDCount;
  DrvList = std::move(result.DrvList);
  DrvCount = result.DrvCount;
  if (result.HasCounts) {
    Settings.tDrivers = result.tDrivers;
    Settings.udDrivers = result.udDrivers;
    Settings.odDrivers = result.odDrivers;
  }
  if (result.HasVerdict) Settings.IsSysUpdated = result.IsSysUpdated;
  result = TScanResult();
}

TCertFileResult TKorvaneState::LoadSettings() { return ::LoadSettings(Settings, TempFolder); }

bool TKorvaneState::SaveSettings() {
  return OwnsSettings ? ::SaveSettings(Settings, ExeName) : ::SaveCheckFigures(Settings);
}

void TKorvaneState::ReadTempFolder() {
  char buf[MAX_PATH + 1] = {};
  SetLastError(ERROR_SUCCESS);
  const DWORD len = GetTempPathA(MAX_PATH, buf);
  TempFolderError.clear();
  if (len > 0 && len < MAX_PATH) {
    TempFolder.assign(buf, len);
    return;
  }
  TempFolder.clear();
  if (len >= MAX_PATH)
    TempFolderError = "The temporary folder's path is longer than " + std::to_string(MAX_PATH - 1) +
                      " characters.";
  else {
    std::string why = OSErrorText(GetLastError());
    if (why.size() > 1 && why[0] >= 'A' && why[0] <= 'Z' && why[1] >= 'a' && why[1] <= 'z')
      why[0] = static_cast<char>(why[0] - 'A' + 'a');
    TempFolderError = "The temporary folder cannot be used: " + why + ".";
  }
}
