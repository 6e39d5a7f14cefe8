#include "scan/uScanThread.h"

#include "core/uOSError.h"

#include <cfgmgr32.h>
#include <korvane_registry.h>
#include <korvane_text.h>
#include <setupapi.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

IScanPage::~IScanPage() = default;

namespace {

// Closes a device set however the scope is left.
class TDevSetGuard {
 public:
  explicit TDevSetGuard(HDEVINFO set) : set_(set) {}
  ~TDevSetGuard() {
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
  }
  TDevSetGuard(const TDevSetGuard&) = delete;
  TDevSetGuard& operator=(const TDevSetGuard&) = delete;

 private:
  HDEVINFO set_;
};

std::string UpperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string ClassDescription(const GUID& guid) {
  char desc[1024] = {};
  DWORD required = 0;
  if (!SetupDiGetClassDescriptionA(&guid, desc, sizeof desc, &required)) return std::string();
  desc[sizeof desc - 1] = '\0';
  return desc;
}

HDEVINFO OpenClassSet(const GUID& guid, DWORD flags) {
  HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
  if (set == INVALID_HANDLE_VALUE) RaiseLastOSError();
  return set;
}

// A text value of a driver key. Absent reads as empty; a value of a non-text type is an
// error that ends the scan.
std::string ReadDriverText(HKEY key, const char* name) {
  std::string text;
  if (RegReadString(key, name, text) == ERROR_UNSUPPORTED_TYPE)
    throw std::runtime_error(std::string("Invalid data type for '") + name + "'");
  return text;
}

// The installed setup classes in the platform's order. The loop ends at
// CR_NO_SUCH_VALUE; the cap only guards against a platform that never says so. Wine's
// CM_Enumerate_Classes lists no class at all: there the Setup API's list stands in.
std::vector<GUID> InstalledClasses() {
  std::vector<GUID> classes;
  for (ULONG index = 0; index < 0x10000; ++index) {
    GUID guid{};
    if (CM_Enumerate_Classes(index, &guid, 0) == CR_NO_SUCH_VALUE) break;
    classes.push_back(guid);
  }
  if (!classes.empty()) return classes;
  DWORD needed = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    classes.resize(needed);
    if (SetupDiBuildClassInfoList(0, classes.empty() ? nullptr : classes.data(), needed, &needed)) {
      classes.resize(needed);
      return classes;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return {};
}

std::string Shorten(const std::string& platformText) {
  return CutShortText(ApplyLengthRule(platformText));
}

}  // namespace

namespace {

TScanInputs CopyInputs(const TKorvaneState& state) {
  TScanInputs in;
  in.OsShortName = state.OsShortName;
  in.PartnerID = state.PartnerID;
  in.TempFolder = state.TempFolder;
  in.TempFolderError = state.TempFolderError;
  in.Urls = ServerUrls();
  return in;
}

}  // namespace

TScanThread::TScanThread(TKorvaneState& state, IScanPage& page)
    : Inputs(CopyInputs(state)),
      Page(page),
      Target(state),
      CertFetch(state.CertFetch),
      StoreCertificate([&state](const std::u16string& answer) { CACertFetchCompleted(state, answer); }) {
  // Unless its maker sets another completion, the scan's own hands the result over.
  OnTerminate = [](TThread& t) { static_cast<TScanThread&>(t).HandOver(); };
}

void TScanThread::HandOver() { Target.TakeScanResult(std::move(Result)); }

TScanThread::~TScanThread() {
  // Execute reads this object: it must have returned before the members go.
  if (!Finished()) {
    Terminate();
    WaitFor();
  }
}

void TScanThread::BuildCatalogue() {
  Result.ClearCatalogue();
  for (const GUID& guid : InstalledClasses()) {
    const std::string guidStr = UpperCase(GUIDToString(guid));
    if (IsExcludedClass(guidStr)) continue;
    const std::string description = ClassDescription(guid);
    const bool allDevices = IsAllDevicesClass(guidStr);
    const DWORD flags = allDevices ? 0 : DIGCF_PRESENT;

    HDEVINFO set = OpenClassSet(guid, flags);
    TDevSetGuard guard(set);
    int32_t qualifying = 0;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD dev = 0; SetupDiEnumDeviceInfo(set, dev, &data); ++dev) {
      if (allDevices || !ReadDeviceString(set, &data, SPDRP_COMPATIBLEIDS).empty()) ++qualifying;
    }
    if (qualifying > 0) {
      TGUIDRec rec;
      rec.GUIDStr = guidStr;
      rec.Description = description;
      rec.DevCount = qualifying;
      rec.HasUpdates = false;
      rec.ClassDevsFlags = flags;
      Result.GUIDList.push_back(std::move(rec));
      ++Result.GUIDCount;
    }
  }
  // Exchange sort by description, as the platform compares text. It only decides the
  // order of classes with the same description; without such, any sort gives the same
  // result, so thousands of classes sort in n log n.
  auto less = [](const TGUIDRec& a, const TGUIDRec& b) {
    return lstrcmpA(a.Description.c_str(), b.Description.c_str()) < 0;
  };
  std::vector<TGUIDRec> found = Result.GUIDList;
  std::sort(Result.GUIDList.begin() + 1, Result.GUIDList.end(), less);
  bool repeated = false;
  for (int32_t i = 1; i < Result.GUIDCount && !repeated; ++i)
    repeated = !less(Result.GUIDList[i], Result.GUIDList[i + 1]);
  if (!repeated) return;
  Result.GUIDList = std::move(found);
  for (int32_t i = 1; i <= Result.GUIDCount - 1; ++i) {
    for (int32_t j = i + 1; j <= Result.GUIDCount; ++j) {
      if (lstrcmpA(Result.GUIDList[i].Description.c_str(), Result.GUIDList[j].Description.c_str()) > 0)
        std::swap(Result.GUIDList[i], Result.GUIDList[j]);
    }
  }
}

bool TScanThread::ScanDevices() {
  Synchronize([this] { Page.ClearPage(*this); });
  Result.ClearDrivers();
  TotalDevices = 0;
  for (int32_t i = 1; i <= Result.GUIDCount; ++i) TotalDevices += Result.GUIDList[i].DevCount;
  Result.DrvList.reserve(static_cast<std::size_t>(TotalDevices) + 1);
  Processed = 0;
  // However the device phase ends, the page shows its last device (before the UI call
  // that follows, which keeps the order).
  struct TFlushProgress {
    TScanThread& scan;
    ~TFlushProgress() {
      try {
        scan.PostProgress(true);
      } catch (...) {
        // Only the display of the last count is lost.
      }
    }
  } flushAtEnd{*this};

  for (int32_t i = 1; i <= Result.GUIDCount; ++i) {
    TGUIDRec& entry = Result.GUIDList[i];
    GUID guid{};
    StringToGUID(entry.GUIDStr, guid);
    HICON icon = nullptr;
    INT miniIndex = 0;
    if (!SetupDiLoadClassIcon(&guid, &icon, &miniIndex)) icon = nullptr;
    entry.IconHandle = icon;
    Synchronize([this, icon] { Page.AddClassIcon(icon); });

    ClassDevCount = entry.DevCount;
    entry.Description = ClassDescription(guid);
    const bool allDevices = IsAllDevicesClass(entry.GUIDStr);

    HDEVINFO set = OpenClassSet(guid, entry.ClassDevsFlags);
    TDevSetGuard guard(set);
    FoundInClass = 0;
    CurClassDesc = entry.Description;
    Synchronize([this] { Page.ShowClassStarted(*this); });
    if (Terminated()) return false;

    // The class's texts are kept once for all its records, and a text that repeats
    // the previous device's (IDs, provider and date of one family) is shared.
    const TShortText classDesc = Result.DrvList.Keep(Shorten(entry.Description));
    const TShortText classGUID = Result.DrvList.Keep(Shorten(entry.GUIDStr));
    TDrvRec previous;
    auto keep = [this](auto previousText, const auto& text) {
      return previousText == text ? previousText : Result.DrvList.Keep(text);
    };

    Helper.SetDevInfo(set);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD dev = 0; SetupDiEnumDeviceInfo(set, dev, &data); ++dev) {
      Helper.SetDeviceData(data);
      std::string name = Shorten(Helper.ReadString(SPDRP_FRIENDLYNAME));
      if (name.empty()) name = Shorten(Helper.ReadString(SPDRP_DEVICEDESC));
      const std::string compatible = Helper.ReadString(SPDRP_COMPATIBLEIDS);
      if (compatible.empty() && !allDevices) continue;
      const std::string driverKey = Helper.ReadString(SPDRP_DRIVER);

      TDrvRec rec;
      rec.ClassDesc = classDesc;
      rec.ClassGUID = classGUID;
      rec.DevName = keep(previous.DevName, name);
      rec.DriverKey = keep(previous.DriverKey, Shorten(driverKey));
      rec.HardwareIDs = keep(previous.HardwareIDs, AnsiToWide(Helper.ReadString(SPDRP_HARDWAREID)));
      rec.CompatibleIDs = keep(previous.CompatibleIDs, AnsiToWide(compatible));
      // Without a driver key the prefix alone would name the Class key itself.
      if (!driverKey.empty()) {
        KorvaneRegKey key;
        const std::string path = std::string(DriverClassKeyPrefix) + driverKey;
        const LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Receive());
        // A damaged registry is no absent driver key: its data would be reported empty.
        if (rc == ERROR_BADDB) RaiseOSError(rc);
        if (rc == ERROR_SUCCESS) {
          rec.DriverDate = keep(previous.DriverDate, Shorten(ReadDriverText(key.Get(), "DriverDate")));
          rec.ProviderName = keep(previous.ProviderName, Shorten(ReadDriverText(key.Get(), "ProviderName")));
          rec.DriverVersion =
              keep(previous.DriverVersion, Shorten(ReadDriverText(key.Get(), "DriverVersion")));
        }
      }
      previous = rec;
      Result.DrvList.push_back(rec);
      ++Result.DrvCount;

      ++FoundInClass;
      ++Processed;
      PostProgress(false);
      if (Terminated()) return false;
    }
    PostProgress(true);  // the class's own count, before the next class's row
  }
  return true;
}

void TScanThread::PostProgress(bool flush) {
  {
    std::lock_guard<std::mutex> lock(ProgressM);
    if (!flush) {
      LatestProgress = TScanProgress{FoundInClass, ClassDevCount, Processed, TotalDevices};
      ProgressShown = false;
    }
    // The call on its way shows the latest counters when it runs: one call at a time, so
    // the scan never waits for the page and the queue never fills.
    if (ProgressPosted || ProgressShown) return;
    const auto now = std::chrono::steady_clock::now();
    if (!flush && now - ProgressPostedAt < std::chrono::milliseconds(ProgressIntervalMs)) return;
    ProgressPosted = true;
    ProgressPostedAt = now;
  }
  Queue([this] {
    TScanProgress shown;
    {
      std::lock_guard<std::mutex> lock(ProgressM);
      shown = LatestProgress;
      ProgressPosted = false;
      ProgressShown = true;
    }
    Page.ShowProgress(shown);
  });
}

void TScanThread::EndAs(TScanEnd end, TCauseKind kind, std::string text) {
  End = end;
  Cause.Kind = kind;
  Cause.Text = std::move(text);
}

void TScanThread::Execute() {
  EndAs(TScanEnd::Failed, TCauseKind::None, std::string());
  try {
    FoundInClass = 0;
    ClassDevCount = 0;
    Processed = 0;
    TotalDevices = 0;
    CurClassDesc.clear();
    Synchronize([this] { Page.ResetPage(*this); });
    BuildCatalogue();
    if (!ScanDevices()) {
      EndAs(TScanEnd::Cancelled, TCauseKind::Aborted, ScanStoppedText);
      return;
    }
    if (!RunExchange) {
      EndAs(TScanEnd::DevicesOnly, TCauseKind::None, std::string());
      return;
    }
    Synchronize([this] { Page.ShowSearching(SearchingText); });
    UpdateCheck();
  } catch (...) {
    const TScanCause cause = CurrentExceptionCause();
    EndAs(TScanEnd::Failed, cause.Kind, cause.Text);
  }
}

std::string GetProcessorSummary() {
  GUID guid{};
  StringToGUID(ProcessorClassGUID, guid);
  HDEVINFO set = OpenClassSet(guid, 0);
  std::vector<std::string> names;
  {
    TDevSetGuard guard(set);
    TDeviceHelper helper;
    helper.SetDevInfo(set);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD dev = 0; names.size() < 11 && SetupDiEnumDeviceInfo(set, dev, &data); ++dev) {
      helper.SetDeviceData(data);
      std::string name = ApplyLengthRule(helper.ReadString(SPDRP_FRIENDLYNAME));
      if (name.empty()) name = ApplyLengthRule(helper.ReadString(SPDRP_DEVICEDESC));
      names.push_back(std::move(name));
    }
  }
  std::string text;
  int count = 1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    text += names[i] + "\n\r";
    if (i > 0 && names[i] == names[i - 1]) ++count;
  }
  if (count > 2) text = std::to_string(count) + "x" + names.back();
  for (std::size_t pos; (pos = text.find("  ")) != std::string::npos;) text.erase(pos, 2);
  return text;
}
