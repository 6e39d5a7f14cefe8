// The demo catalogue parses cleanly and marks a few devices of the bundled
// Windows XP desktop out of date, and not all of them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "server/Catalogue.h"
#include "server/TextUtil.h"

using namespace updsrv;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Source() {
  const char* s = std::getenv("KORVANE_SOURCE_DIR");
  return s ? s : ".";
}

// Driver key (upper case) -> "DriverDate" from a regedit-format hive.
std::map<std::string, std::string> DriverDates(const std::string& hive) {
  std::map<std::string, std::string> dates;
  const std::string prefix = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";
  std::string key;
  std::istringstream in(hive);
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (!line.empty() && line[0] == '[') {
      key = line.rfind(prefix, 0) == 0 ? line.substr(prefix.size(), line.size() - prefix.size() - 1) : "";
      for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      continue;
    }
    const std::string tag = "\"DriverDate\"=\"";
    if (!key.empty() && line.rfind(tag, 0) == 0)
      dates[key] = line.substr(tag.size(), line.size() - tag.size() - 1);
  }
  return dates;
}

}  // namespace

TEST(DemoCatalogue, ParsesWithoutWarnings) {
  std::vector<std::string> warnings;
  TCatalogue cat = TCatalogue::Load(Source() + "/demo/catalogue.txt", &warnings);
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  EXPECT_GE(cat.Entries().size(), 20u);
  EXPECT_FALSE(cat.ForcedErrCode);
}

TEST(DemoCatalogue, MarksSomeXpDesktopDevicesOutOfDate) {
  const std::string machine = Source() + "/tests/machines/xp-desktop";
  const std::string devicesText = ReadAll(machine + "/devices.json");
  if (devicesText.empty()) GTEST_SKIP() << "no xp-desktop fixture";
  TCatalogue cat = TCatalogue::Load(Source() + "/demo/catalogue.txt");
  auto dates = DriverDates(ReadAll(machine + "/system.reg"));
  auto devices = nlohmann::json::parse(devicesText);
  int total = 0, outOfDate = 0;
  for (const auto& c : devices.at("classes")) {
    for (const auto& d : c.at("devices")) {
      const auto& p = d.at("properties");
      std::vector<std::string> hw, compat;
      if (p.contains("HARDWAREID") && p["HARDWAREID"].is_array())
        for (const auto& s : p["HARDWAREID"]) hw.push_back(s.get<std::string>());
      if (p.contains("COMPATIBLEIDS") && p["COMPATIBLEIDS"].is_array())
        for (const auto& s : p["COMPATIBLEIDS"]) compat.push_back(s.get<std::string>());
      std::string key = p.contains("DRIVER") && p["DRIVER"].is_string() ? p["DRIVER"].get<std::string>() : "";
      for (auto& ch : key) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      ++total;
      if (cat.Match(hw, compat, dates.count(key) ? dates[key] : "")) ++outOfDate;
    }
  }
  EXPECT_GE(outOfDate, 3);
  EXPECT_LT(outOfDate, total / 2);
}
