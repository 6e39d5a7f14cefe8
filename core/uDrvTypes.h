// Device class catalogue and driver records that a scan fills and every page reads.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Capacity of a short-text field; longer values are cut when stored.
constexpr std::size_t ShortTextCapacity = 255;

// Cuts a value to the short-text capacity (255 8-bit characters).
std::string CutShortText(std::string_view text);

// One device setup class of the catalogue.
struct TGUIDRec {
  std::string GUIDStr;       // "{4D36E979-E325-11CE-BFC1-08002BE10318}", upper case
  std::string Description;   // the class description as the platform reports it
  int32_t DevCount = 0;      // qualifying devices when the catalogue was built
  HICON IconHandle = nullptr;  // large class icon loaded by the scan
  bool HasUpdates = false;   // set when the update answer names a device of this class
  uint32_t ClassDevsFlags = 0;  // flags for SetupDiGetClassDevsA: DIGCF_PRESENT or 0
};

// One device with its installed driver and, after the update check, the newer one.
struct TDrvRec {
  std::string ClassDesc;
  std::string ClassGUID;
  std::string DevName;
  std::string DriverKey;
  std::string ProviderName;
  std::string DriverDate;
  std::string DriverVersion;
  std::string NewVendor;
  std::string NewDate;   // not empty exactly when the record is out of date
  std::string NewVersion;
  std::string NewURL;
  std::u16string HardwareIDs;    // list items joined by ", ", never shortened
  std::u16string CompatibleIDs;  // likewise

  bool IsOutOfDate() const { return !NewDate.empty(); }
};

// Both arrays are used 1-based: slot 0 exists and stays empty.
using TGUIDList = std::vector<TGUIDRec>;
using TDrvList = std::vector<TDrvRec>;

// The two classes enumerated with flags 0 (every known device, present or not),
// where every device qualifies.
constexpr const char* PrinterClassGUID = "{4D36E979-E325-11CE-BFC1-08002BE10318}";
constexpr const char* ImagingClassGUID = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

// Classes never put in the catalogue (searched linearly; order carries no meaning).
constexpr std::size_t ExcludedClassCount = 35;
extern const std::array<const char*, ExcludedClassCount> ExcludedClasses;

// True when the upper-case registry form of a class GUID is in the exclusion table.
bool IsExcludedClass(std::string_view upperGuid);

// True for the printer and the imaging-device class.
bool IsAllDevicesClass(std::string_view upperGuid);
