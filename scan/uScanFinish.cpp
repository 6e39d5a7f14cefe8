#include "scan/uScanFinish.h"

#include "core/uDateTime.h"

TScanOutcome ApplyScanOutcome(TKorvaneState& state, bool succeeded, int32_t errCode,
                              const std::string& now) {
  TScanOutcome outcome;
  if (succeeded) {
    outcome.NextStep = 3;
    state.Settings.LastScan = now;
    state.SaveSettings();
  } else {
    outcome.NextStep = 1;
    state.Settings.LastScan.clear();
    state.Settings.IsSysUpdated = false;
  }
  if (errCode > 1) {
    outcome.ShowServerError = true;
    outcome.NextStep = 3;
  }
  return outcome;
}

TScanOutcome ApplyScanOutcome(TKorvaneState& state, bool succeeded, int32_t errCode) {
  return ApplyScanOutcome(state, succeeded, errCode, FormatDateTime(NowLocal()));
}
