#include "server/Report.h"

#include <set>

#include "server/TextUtil.h"

namespace updsrv {

std::vector<std::string> SplitIdList(const std::string& list) {
  std::vector<std::string> ids;
  for (auto& part : Split(list, ",")) {
    std::string id = Trim(part);
    if (!id.empty()) ids.push_back(id);
  }
  return ids;
}

namespace {

// "<tag>value</tag>" -> tag and value; false when the line is not one element.
bool SplitElement(const std::string& line, std::string& tag, std::string& value) {
  if (line.size() < 2 || line[0] != '<') return false;
  size_t close = line.find('>');
  if (close == std::string::npos || close == 1) return false;
  tag = line.substr(1, close - 1);
  for (char c : tag)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  const std::string end = "</" + tag + ">";
  if (line.size() < close + 1 + end.size()) return false;
  if (line.compare(line.size() - end.size(), end.size(), end) != 0) return false;
  value = line.substr(close + 1, line.size() - end.size() - close - 1);
  return true;
}

// The items of a ", "-joined ID list, without building them.
size_t CountIds(const std::string& list) {
  size_t n = 0;
  bool inItem = false;
  for (char c : list) {
    if (c == ',') {
      inItem = false;
    } else if (c != ' ' && c != '\t' && !inItem) {
      inItem = true;
      ++n;
    }
  }
  return n;
}

bool ParseId(const std::string& text, long& id) {
  if (text.empty() || text.size() > 10) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 2147483647L) return false;
  id = v;
  return true;
}

}  // namespace

bool ParseReport(const std::string& text, TReport& report, std::string& error, size_t maxDevices) {
  report = TReport{};
  if (text.find('\0') != std::string::npos) {
    error = "The driver list holds binary data, not text.";
    return false;
  }
  if (Trim(text).empty()) {
    error = "The driver list is empty.";
    return false;
  }
  bool haveOs = false;
  bool inDev = false;
  bool haveId = false;
  TReportDevice dev;
  std::set<long> ids;
  int lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    std::string line = Trim(text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
    ++lineNo;
    if (line.empty()) continue;
    const std::string where = " (line " + std::to_string(lineNo) + ")";

    if (line == "<dev>") {
      if (inDev) {
        error = "The driver list has a <dev> inside another <dev>" + where + ".";
        return false;
      }
      if (!haveOs) {
        error = "The driver list has no <os> header before its devices" + where + ".";
        return false;
      }
      inDev = true;
      haveId = false;
      dev = TReportDevice{};
      dev.Line = lineNo;
      continue;
    }
    if (line == "</dev>") {
      if (!inDev) {
        error = "The driver list has a </dev> without <dev>" + where + ".";
        return false;
      }
      if (!haveId) {
        error = "A device of the driver list has no valid <id>" + where + ".";
        return false;
      }
      if (CountIds(dev.HardwareIds) + CountIds(dev.CompatibleIds) > kMaxDeviceIds) {
        error = "Device " + std::to_string(dev.Id) + " of the driver list has more than " +
                std::to_string(kMaxDeviceIds) + " IDs" + where + ".";
        return false;
      }
      if (report.Devices.size() >= maxDevices) {
        error = "The driver list has more than " + std::to_string(maxDevices) + " devices and was refused.";
        return false;
      }
      if (!ids.insert(dev.Id).second) {
        error = "The driver list names device " + std::to_string(dev.Id) + " twice" + where + ".";
        return false;
      }
      report.Devices.push_back(dev);
      inDev = false;
      continue;
    }
    std::string tag, value;
    if (!SplitElement(line, tag, value)) {
      error = "The driver list has a line that is not an element" + where + ".";
      return false;
    }
    if (!inDev) {
      if (tag == "os" && !haveOs) {
        report.Os = value;
        haveOs = true;
      } else if (tag == "partner") {
        report.Partner = value;
      }
      continue;
    }
    if (tag == "id") {
      if (!ParseId(Trim(value), dev.Id)) {
        error = "A device of the driver list has no valid <id>" + where + ".";
        return false;
      }
      haveId = true;
    } else if (tag == "cguid") {
      dev.ClassGuid = value;
    } else if (tag == "hwid") {
      dev.HardwareIds = value;
    } else if (tag == "compid") {
      dev.CompatibleIds = value;
    } else if (tag == "date") {
      dev.Date = value;
    } else if (tag == "devname") {
      dev.DevName = value;
    }
  }
  if (inDev) {
    error = "A <dev> of the driver list has no </dev> (line " + std::to_string(dev.Line) + ").";
    return false;
  }
  if (!haveOs) {
    error = "The driver list has no <os> header.";
    return false;
  }
  return true;
}

}  // namespace updsrv
