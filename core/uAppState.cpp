#include "core/uAppState.h"

TKorvaneState::TKorvaneState() {
  ClearCatalogue();
  ClearDrivers();
}

void TKorvaneState::ClearCatalogue() {
  GUIDList.assign(1, TGUIDRec{});
  GUIDCount = 0;
}

void TKorvaneState::ClearDrivers() {
  DrvList.assign(1, TDrvRec{});
  DrvCount = 0;
}

void TKorvaneState::LoadSettings() { ::LoadSettings(Settings, TempFolder); }

bool TKorvaneState::SaveSettings() { return ::SaveSettings(Settings, ExeName); }
