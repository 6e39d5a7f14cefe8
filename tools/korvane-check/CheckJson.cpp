// korvane-check --json: the machine, its classes and devices with the verdict, the
// summary and the error, as one document. README.md ("korvane-check --json")
// gives the schema; tests/tools holds the output to it.
#include "tools/korvane-check/CheckTool.h"

#include "scan/uScanFinish.h"

#include <korvane_text.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <ostream>

using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kFormat = "korvane-check/1";

Json Text(std::string_view ansi) { return AnsiToUtf8(ansi); }

Json DateOrNull(std::string_view ansi) {
  const std::string iso = IsoDate(ansi);
  return iso.empty() ? Json(nullptr) : Json(iso);
}

Json IdArray(std::u16string_view ids) {
  Json a = Json::array();
  for (const std::string& id : SplitIdList(WideToUtf8(ids))) a.push_back(id);
  return a;
}

Json Device(const TDrvRec& r, int32_t slot, bool checked) {
  Json d;
  d["slot"] = slot;
  d["class_guid"] = Text(r.ClassGUID);
  d["class_description"] = Text(r.ClassDesc);
  d["name"] = Text(r.DevName);
  d["driver_key"] = Text(r.DriverKey);
  d["provider"] = Text(r.ProviderName);
  d["driver_date"] = Text(r.DriverDate);
  d["driver_date_iso"] = DateOrNull(r.DriverDate);
  d["driver_version"] = Text(r.DriverVersion);
  d["hardware_ids"] = IdArray(r.HardwareIDs);
  d["compatible_ids"] = IdArray(r.CompatibleIDs);
  d["verdict"] = checked ? Json(r.IsOutOfDate() ? "out-of-date" : "up-to-date") : Json(nullptr);
  if (r.NewDate.empty() && r.NewVersion.empty() && r.NewVendor.empty() && r.NewURL.empty()) {
    d["newer_driver"] = nullptr;
  } else {
    Json n;
    n["date"] = Text(r.NewDate);
    n["date_iso"] = DateOrNull(r.NewDate);
    n["version"] = Text(r.NewVersion);
    n["vendor"] = Text(r.NewVendor);
    n["url"] = Text(r.NewURL);
    d["newer_driver"] = std::move(n);
  }
  return d;
}

Json Machine(const std::vector<std::pair<std::string, std::string>>& facts) {
  Json m = Json::object();
  for (const auto& [key, value] : facts) m[key] = Text(value);
  return m;
}

bool ParseNumber(std::string_view s, std::size_t from, std::size_t to, int& value) {
  if (from >= to || to - from > 4) return false;
  value = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

bool ValidDate(int y, int m, int d) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[m - 1] + ((m == 2 && leap) ? 1 : 0);
}

}  // namespace

std::string IsoDate(std::string_view date) {
  // Three numbers split by '-' or '/'.
  std::size_t a = date.find_first_of("-/");
  if (a == std::string::npos) return std::string();
  std::size_t b = date.find_first_of("-/", a + 1);
  if (b == std::string::npos || date.find_first_of("-/", b + 1) != std::string::npos)
    return std::string();
  int x = 0, y = 0, z = 0;
  if (!ParseNumber(date, 0, a, x) || !ParseNumber(date, a + 1, b, y) ||
      !ParseNumber(date, b + 1, date.size(), z))
    return std::string();
  int year = 0, month = 0, day = 0;
  if (a == 4 && date[a] == '-' && date[b] == '-') {  // already YYYY-MM-DD
    year = x;
    month = y;
    day = z;
  } else if (date.size() - b - 1 == 4 && a <= 2 && b - a - 1 <= 2) {  // M-D-YYYY
    month = x;
    day = y;
    year = z;
  } else {
    return std::string();
  }
  if (!ValidDate(year, month, day)) return std::string();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return buf;
}

std::vector<std::string> SplitIdList(const std::string& utf8) {
  std::vector<std::string> ids;
  if (utf8.empty()) return ids;
  std::size_t from = 0;
  for (std::size_t at; (at = utf8.find(", ", from)) != std::string::npos; from = at + 2)
    ids.push_back(utf8.substr(from, at - from));
  ids.push_back(utf8.substr(from));
  return ids;
}

void PrintJson(const TKorvaneState& state, const TCheckResult& result, const TCheckOptions& options,
               const std::vector<std::pair<std::string, std::string>>& machineFacts,
               std::ostream& out) {
  Json doc;
  doc["format"] = kFormat;
  doc["program_version"] = Text(state.ProgramVersion);
  doc["machine"] = Machine(machineFacts);
  if (options.Sysinfo) {
    if (result.Error == TCheckError::None) {
      doc["error"] = nullptr;
    } else {
      // The library's figures are unknown after its refusal: null, not "0 Mb".
      for (const char* key :
           {"ComputerName", "RamTotal", "RamFree", "MemoryUsed", "VirtualTotal", "VirtualFree"})
        if (doc["machine"].contains(key) && doc["machine"][key] == "") doc["machine"][key] = nullptr;
      Json e;
      e["kind"] = CheckErrorKind(result);
      e["text"] = result.ErrorText;
      doc["error"] = std::move(e);
    }
    out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
    return;
  }
  doc["mode"] = !options.ImportFile.empty() ? "import" : (options.Exchange ? "check" : "list");

  Json classes = Json::array();
  for (int32_t c = 1; c <= state.GUIDCount; ++c) {
    const TGUIDRec& g = state.GUIDList[c];
    Json cls;
    cls["slot"] = c;
    cls["guid"] = Text(g.GUIDStr);
    cls["description"] = Text(g.Description);
    cls["device_count"] = g.DevCount;
    cls["has_updates"] = g.HasUpdates;
    Json devices = Json::array();
    for (int32_t d = 1; d <= state.DrvCount; ++d)
      if (state.DrvList[d].ClassGUID == g.GUIDStr)
        devices.push_back(Device(state.DrvList[d], d, result.Checked));
    cls["devices"] = std::move(devices);
    classes.push_back(std::move(cls));
  }
  doc["classes"] = std::move(classes);

  Json summary;
  summary["devices"] = state.DrvCount;
  summary["classes"] = state.GUIDCount;
  summary["end"] = ScanEndName(result.End);
  summary["checked"] = result.Checked;
  const int32_t outOfDate = OutOfDateCount(state);
  summary["out_of_date"] = result.Checked ? Json(outOfDate) : Json(nullptr);
  summary["up_to_date"] = result.Checked ? Json(state.DrvCount - outOfDate) : Json(nullptr);
  if (result.Stored) {
    // The figures the check stored, under their registry names, and the pie's share (also
    // after an answer with an error code above 1, whose figures are stored all the same).
    const TSettings& s = state.Settings;
    Json stored;
    stored["tDrivers"] = s.tDrivers;
    stored["udDrivers"] = s.udDrivers;
    stored["odDrivers"] = s.odDrivers;
    stored["IsSysUpdated"] = s.IsSysUpdated;
    stored["LastScan"] = Text(s.LastScan);
    summary["stored"] = std::move(stored);
    summary["out_of_date_percent"] =
        s.tDrivers > 0 ? Json(DiagramPercent(s.tDrivers, s.udDrivers)) : Json(nullptr);
  } else {
    summary["stored"] = nullptr;
    summary["out_of_date_percent"] = nullptr;
  }
  if (options.Checks() && (result.Checked || result.Error == TCheckError::ServerError)) {
    Json server;
    server["error_code"] = result.ErrCode;
    server["message"] = Text(result.ErrMsg);
    summary["server"] = std::move(server);
  } else {
    summary["server"] = nullptr;
  }
  summary["exit_status"] = CheckExitStatus(state, result, options);
  doc["summary"] = std::move(summary);

  if (result.Error == TCheckError::None) {
    doc["error"] = nullptr;
  } else {
    Json e;
    e["kind"] = CheckErrorKind(result);
    e["text"] = result.ErrorText;
    doc["error"] = std::move(e);
  }
  out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}
