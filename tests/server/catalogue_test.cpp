#include <gtest/gtest.h>

#include "server/Catalogue.h"
#include "server/TextUtil.h"

using namespace updsrv;

namespace {

const char* kCatalogue =
    "# test catalogue\n"
    "\n"
    "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086 | 6-1-2024 | 8.4.13.0 | Intel | e1000-hw.zip\n"
    "PCI\\VEN_8086&DEV_100E | 5-2-2023 | 8.3.0.0 | Intel | e1000-dev.zip\n"
    "PCI\\VEN_8086&CC_020000 | 1-15-2022 | 1.0.0.0 | Generic Net | \n"
    "pci\\ven_10ec&dev_8139 | 12-31-2020 | 5.7.0.0 | Realtek | http://mirror.example/rtl.zip\n"
    "USB\\VID_046D&PID_C077 | 3-3-2019 | 1.0 | Logitech | old.zip\n"
    "USB\\VID_046D&PID_C077 | 3-3-2021 | 2.0 | Logitech | new.zip\n"
    "@package big.bin 2M\n"
    "@errcode 1\n"
    "@errmsg Catalogue notice\n";

}  // namespace

TEST(ServerCatalogue, ParsesEntriesDirectivesAndPackages) {
  std::vector<std::string> warnings;
  TCatalogue cat = TCatalogue::Parse(kCatalogue, &warnings);
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  ASSERT_EQ(cat.Entries().size(), 6u);
  EXPECT_EQ(cat.Entries()[0].Id, "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086");
  EXPECT_EQ(cat.Entries()[0].Date, "6-1-2024");
  EXPECT_EQ(cat.Entries()[0].DateKey, 20240601);
  EXPECT_EQ(cat.Entries()[2].Package, "");
  EXPECT_EQ(cat.ForcedErrCode, 1);
  EXPECT_EQ(cat.ForcedErrMsg, std::string("Catalogue notice"));
  auto pk = cat.Packages();
  ASSERT_EQ(pk.size(), 5u);  // big.bin, e1000-hw, e1000-dev, old, new (URL not local)
  EXPECT_EQ(pk[0].Name, "big.bin");
  EXPECT_EQ(pk[0].Size, 2u * 1024 * 1024);
  EXPECT_TRUE(pk[0].Declared);
  EXPECT_EQ(pk[1].Size, kDefaultPackageSize);
  EXPECT_FALSE(pk[1].Declared);
}

TEST(ServerCatalogue, BadLinesAreSkippedWithAWarning) {
  std::vector<std::string> warnings;
  TCatalogue cat = TCatalogue::Parse(
      "A | 1-1-2020 | 1 | V\n"                  // 4 fields
      "B | 2020-01-01 | 1 | V | p.zip\n"        // not M-D-YYYY
      "C | 13-1-2020 | 1 | V | p.zip\n"         // month 13
      " | 1-1-2020 | 1 | V | p.zip\n"           // empty ID
      "D | 1-1-2020 | 1 | V | ../etc/passwd\n"  // unsafe package
      "@package bad name 1K\n"
      "@errcode x\n"
      "@frobnicate\n"
      "E | 1-1-2020 | 1 | V | ok.zip\n",
      &warnings);
  EXPECT_EQ(warnings.size(), 8u);
  ASSERT_EQ(cat.Entries().size(), 1u);
  EXPECT_EQ(cat.Entries()[0].Id, "E");
  EXPECT_FALSE(cat.ForcedErrCode);
  EXPECT_NE(warnings[0].find("line 1:"), std::string::npos);
}

TEST(ServerCatalogue, MatchOrderHardwareIdsFirstThenCompatible) {
  TCatalogue cat = TCatalogue::Parse(kCatalogue);
  const std::vector<std::string> hw = {"PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02",
                                       "PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086", "PCI\\VEN_8086&DEV_100E"};
  const std::vector<std::string> compat = {"PCI\\VEN_8086&CC_020000"};
  struct Case {
    const char* name;
    std::vector<std::string> hw, compat;
    std::string date;
    const char* expectVersion;  // nullptr: up to date
  };
  const Case cases[] = {
      {"first hardware ID the catalogue knows wins", hw, compat, "1-1-2000", "8.4.13.0"},
      {"later hardware ID when the first is unknown", {hw[0], hw[2]}, compat, "1-1-2000", "8.3.0.0"},
      {"compatible ID only after all hardware IDs", {hw[0]}, compat, "1-1-2000", "1.0.0.0"},
      {"deciding entry not newer: up to date, no fallback", hw, compat, "6-1-2024", nullptr},
      {"deciding entry newer by a day", hw, compat, "5-31-2024", "8.4.13.0"},
      {"empty installed date is out of date", hw, compat, "", "8.4.13.0"},
      {"unreadable installed date is out of date", hw, compat, "garbage", "8.4.13.0"},
      {"IDs compare without ASCII case", {"pci\\ven_8086&dev_100e"}, {}, "1-1-2000", "8.3.0.0"},
      {"catalogue ID in lower case", {"PCI\\VEN_10EC&DEV_8139"}, {}, "1-1-2000", "5.7.0.0"},
      {"several entries for one ID: the latest", {"USB\\VID_046D&PID_C077"}, {}, "1-1-2020", "2.0"},
      {"unknown device", {"PCI\\VEN_1234&DEV_0001"}, {"PCI\\CC_0300"}, "", nullptr},
      {"no IDs at all", {}, {}, "", nullptr},
      {"date with leading zeros", hw, compat, "06-01-2024", nullptr},
  };
  for (const auto& c : cases) {
    const TCatalogueEntry* e = cat.Match(c.hw, c.compat, c.date);
    if (c.expectVersion == nullptr) {
      EXPECT_EQ(e, nullptr) << c.name;
    } else {
      ASSERT_NE(e, nullptr) << c.name;
      EXPECT_EQ(e->Version, c.expectVersion) << c.name;
    }
  }
}

TEST(ServerCatalogue, DriverDates) {
  struct Case {
    const char* text;
    int key;  // 0: not a date
  };
  const Case cases[] = {{"6-21-2006", 20060621}, {"12-31-1999", 19991231}, {"01-02-2003", 20030102},
                        {"1/2/2003", 20030102},  {" 7-1-2009 ", 20090701}, {"", 0},
                        {"2006-06-21", 0},       {"6-21-06", 0},           {"0-1-2000", 0},
                        {"6-32-2000", 0},        {"6--2000", 0},           {"6-1-2000x", 0},
                        {"123-1-2000", 0}};
  for (const auto& c : cases) {
    auto k = ParseDriverDate(c.text);
    EXPECT_EQ(k.value_or(0), c.key) << c.text;
  }
}

TEST(ServerCatalogue, SizesAndNames) {
  EXPECT_EQ(ParseSize("300K").value_or(0), 300u * 1024);
  EXPECT_EQ(ParseSize("512M").value_or(0), 512u * 1024 * 1024);
  EXPECT_EQ(ParseSize("1g").value_or(0), 1024ull * 1024 * 1024);
  EXPECT_EQ(ParseSize("12345").value_or(0), 12345u);
  EXPECT_FALSE(ParseSize("12X"));
  EXPECT_FALSE(ParseSize("K"));
  EXPECT_FALSE(ParseSize("99999999999999999999"));
  EXPECT_TRUE(IsSafePackageName("intel-e1000_8.4.zip"));
  EXPECT_FALSE(IsSafePackageName(".hidden"));
  EXPECT_FALSE(IsSafePackageName("a/b"));
  EXPECT_FALSE(IsSafePackageName("a b"));
  EXPECT_FALSE(IsSafePackageName(""));
}

TEST(ServerCatalogue, Utf8CatalogueBecomes1252) {
  TCatalogue cat = TCatalogue::Parse("X | 1-1-2020 | 1 | M\xC3\xBCller \xE2\x82\xAC \xE4\xB8\xAD | p.zip\n");
  ASSERT_EQ(cat.Entries().size(), 1u);
  EXPECT_EQ(cat.Entries()[0].Vendor, "M\xFCller \x80 ?");
  EXPECT_EQ(Utf8ToCp1252("caf\xE9"), "caf\xE9");  // already 1252 stays
}
