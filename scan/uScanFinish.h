// The bookkeeping of a finished scan, shared by the scan page and korvane-check:
// the last-scan stamp, the stored figures, and where the wizard goes next.
#pragma once

#include "core/uAppState.h"
#include "scan/uScanEnd.h"

#include <cstdint>
#include <string>

struct TScanOutcome {
  int NextStep = 1;              // 3 after a successful scan or a server error, else 1
  bool ShowServerError = false;  // the answer carried an error code above 1
};

// A checked scan stamps LastScan with `now` (short date, blank, long time) and
// saves the settings. Any other scan clears LastScan and saves nothing; a
// cancelled or failed one clears IsSysUpdated too, while a check without an
// answer keeps it (and the counts) as the last answer left them. A device
// listing touches nothing. An error code above 1 always leads to the results.
TScanOutcome ApplyScanOutcome(TKorvaneState& state, TScanEnd end, int32_t errCode,
                              const std::string& now);
// The same with the local time now.
TScanOutcome ApplyScanOutcome(TKorvaneState& state, TScanEnd end, int32_t errCode);

// value / total * 100 rounded to the nearest integer, halves to even; 0 when total is 0.
int RoundedPercent(int64_t value, int64_t total);

// The diagram's out-of-date percentage p: 100 - round(ud / t * 100), made even by
// rounding up, 0 when outside 0..100. Only meaningful for t > 0.
int DiagramPercent(int32_t tDrivers, int32_t udDrivers);
