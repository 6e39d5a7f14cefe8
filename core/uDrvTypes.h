// Device class catalogue and driver records that a scan fills and every page reads.
#pragma once

#include "core/uTextPool.h"

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

// The catalogue and the driver list are both used 1-based: slot 0 exists and
// stays empty.
using TGUIDList = std::vector<TGUIDRec>;

// One device with its installed driver and, after the update check, the newer one.
// Its texts are kept by the driver list that holds it (TDrvList::Keep) and live as
// long as that list: a record is not carried from one list into another.
struct TDrvRec {
  TShortText ClassDesc;
  TShortText ClassGUID;
  TShortText DevName;
  TShortText DriverKey;
  TShortText ProviderName;
  TShortText DriverDate;
  TShortText DriverVersion;
  TShortText NewVendor;
  TShortText NewDate;  // not empty exactly when the record is out of date
  TShortText NewVersion;
  TShortText NewURL;
  TWideText HardwareIDs;    // list items joined by ", ", never shortened
  TWideText CompatibleIDs;  // likewise

  bool IsOutOfDate() const { return !NewDate.empty(); }
};

// The driver records with the texts they hold. A scan of
// many devices has many small texts: they are kept here in few large pieces, and the
// records hold handles to them. Moving the list keeps the handles valid; copying it
// would not, so it is not copied.
class TDrvList {
 public:
  TDrvList() = default;
  explicit TDrvList(std::size_t count) : Records(count) {}  // count empty records
  TDrvList(TDrvList&&) noexcept = default;
  TDrvList& operator=(TDrvList&&) noexcept = default;
  TDrvList(const TDrvList&) = delete;
  TDrvList& operator=(const TDrvList&) = delete;

  // A copy of text for this list's records; it lives as long as the list.
  TShortText Keep(std::string_view text) { return ShortTexts.Keep(text); }
  TWideText Keep(std::u16string_view text) { return WideTexts.Keep(text); }

  std::size_t size() const { return Records.size(); }
  bool empty() const { return Records.empty(); }
  TDrvRec& operator[](std::size_t i) { return Records[i]; }
  const TDrvRec& operator[](std::size_t i) const { return Records[i]; }
  std::vector<TDrvRec>::iterator begin() { return Records.begin(); }
  std::vector<TDrvRec>::iterator end() { return Records.end(); }
  std::vector<TDrvRec>::const_iterator begin() const { return Records.begin(); }
  std::vector<TDrvRec>::const_iterator end() const { return Records.end(); }
  void reserve(std::size_t count) { Records.reserve(count); }
  // rec's texts must be this list's (or empty).
  void push_back(const TDrvRec& rec) { Records.push_back(rec); }

 private:
  std::vector<TDrvRec> Records;
  TTextPool<char> ShortTexts;
  TTextPool<char16_t> WideTexts;
};

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
