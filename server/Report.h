// The device report a client uploads: 1252 text, one element a line,
//
//   <os>xp-32</os>
//   <partner>TAG</partner>
//
//   <dev>
//   <id>1</id> <cguid>..</cguid> <hwid>A, B</hwid> <compid>C, D</compid>
//   <date>M-D-YYYY</date> <devname>..</devname>        (one a line)
//   </dev>
//
// Values are not escaped; ID lists are joined by ", ".
#pragma once

#include <string>
#include <vector>

namespace updsrv {

struct TReportDevice {
  long Id = 0;
  std::string ClassGuid;
  std::string HardwareIds;    // as sent, ", "-joined
  std::string CompatibleIds;
  std::string Date;
  std::string DevName;
  int Line = 0;               // line of its <dev>
};

struct TReport {
  std::string Os;
  std::string Partner;
  std::vector<TReportDevice> Devices;
};

// The most a report may hold: real machines have tens of devices (the largest
// recorded 41) with a handful of IDs each.
constexpr size_t kMaxReportDevices = 4096;
constexpr size_t kMaxDeviceIds = 64;  // hardware and compatible IDs together

// Parses a report. On failure returns false and a sentence for the user in
// error. Lines may end in "\r\n" or "\n"; blank lines and unknown elements
// are ignored. Faults: no <os> header before the devices, a line that is no
// element, a <dev> inside a <dev>, a </dev> without <dev>, a <dev> without
// </dev>, a block without a decimal <id> (1..2147483647), an <id> used twice,
// NUL bytes, more than maxDevices devices or more than kMaxDeviceIds
// IDs for one device.
bool ParseReport(const std::string& text, TReport& report, std::string& error,
                 size_t maxDevices = kMaxReportDevices);

// "A, B, C" -> {"A", "B", "C"} (blank items dropped).
std::vector<std::string> SplitIdList(const std::string& list);

}  // namespace updsrv
