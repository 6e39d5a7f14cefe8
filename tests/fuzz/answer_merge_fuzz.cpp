// The update server's answer, merged into a scan of three devices in two
// classes: any bytes end in merged records or EExchangeError, never a crash,
// and the counts always add up. A record named by several blocks counts once
// per block, so the out-of-date count is the number of blocks that named a
// record, not bounded by the number of devices.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <korvane_text.h>

#include "scan/uExchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  TDrvList drv(4);
  TGUIDList guids(3);
  guids[1].Description = "Display adapters";
  guids[2].Description = "Network adapters";
  drv[1].ClassDesc = drv.Keep("Display adapters");
  drv[2].ClassDesc = drv.Keep("Network adapters");
  drv[3].ClassDesc = drv.Keep("Network adapters");
  const std::u16string answer = AnsiToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  TAnswerMerge out;
  out.tDrivers = out.udDrivers = 3;
  try {
    MergeUpdateAnswer(answer, drv, 3, guids, 2, out);
  } catch (const EExchangeError&) {
    return 0;
  }
  if (out.tDrivers != 3 || out.odDrivers != out.DevBlocks || out.odDrivers < 0 ||
      out.udDrivers + out.odDrivers != out.tDrivers)
    std::abort();
  for (int i = 1; i <= 3; ++i) {
    if (drv[i].NewDate.size() > 255 || drv[i].NewURL.size() > 255) std::abort();
  }
  return 0;
}
