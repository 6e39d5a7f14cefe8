#include "scan/uScanFinish.h"

#include "core/uDateTime.h"

#include <cmath>

TScanOutcome ApplyScanOutcome(TKorvaneState& state, TScanEnd end, int32_t errCode,
                              const std::string& now) {
  TScanOutcome outcome;
  switch (end) {
    case TScanEnd::Checked:
      outcome.NextStep = 3;
      state.Settings.LastScan = now;
      state.SaveSettings();
      break;
    case TScanEnd::DevicesOnly:
      break;
    case TScanEnd::NoAnswer:
      state.Settings.LastScan.clear();
      break;
    case TScanEnd::Cancelled:
    case TScanEnd::Failed:
      state.Settings.LastScan.clear();
      state.Settings.IsSysUpdated = false;
      break;
  }
  if (errCode > 1) {
    outcome.ShowServerError = true;
    outcome.NextStep = 3;
  }
  return outcome;
}

TScanOutcome ApplyScanOutcome(TKorvaneState& state, TScanEnd end, int32_t errCode) {
  return ApplyScanOutcome(state, end, errCode, FormatDateTime(NowLocal()));
}

int RoundedPercent(int64_t value, int64_t total) {
  if (total == 0) return 0;
  const double x = static_cast<double>(value) / static_cast<double>(total) * 100.0;
  return static_cast<int>(std::nearbyint(x));  // the default rounding mode: halves to even
}

int DiagramPercent(int32_t tDrivers, int32_t udDrivers) {
  if (tDrivers <= 0) return 0;
  int p = 100 - RoundedPercent(udDrivers, tDrivers);
  if (p % 2 != 0) p += 1;
  if (p < 0 || p > 100) p = 0;
  return p;
}
