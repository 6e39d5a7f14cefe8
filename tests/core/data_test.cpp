#include "core/uAppState.h"
#include "core/uDateTime.h"
#include "core/uDrvTypes.h"
#include "core/uWebLink.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(DrvTypesTest, ExclusionTableHas35DistinctUpperCaseRegistryGuids) {
  std::set<std::string> seen;
  for (const char* g : ExcludedClasses) {
    std::string s = g;
    ASSERT_EQ(s.size(), 38u) << s;
    EXPECT_EQ(s.front(), '{');
    EXPECT_EQ(s.back(), '}');
    for (char c : s) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c))) << s;
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 35u);
}

TEST(DrvTypesTest, ExclusionLookup) {
  EXPECT_TRUE(IsExcludedClass("{4D36E969-E325-11CE-BFC1-08002BE10318}"));
  EXPECT_TRUE(IsExcludedClass("{FF646F80-8DEF-11D2-9449-00105A075F6B}"));
  EXPECT_TRUE(IsExcludedClass("{0475BB51-5A02-4EE0-B36C-29040FAD2650}"));
  // Upper-case text is compared: callers convert first.
  EXPECT_FALSE(IsExcludedClass("{4d36e969-e325-11ce-bfc1-08002be10318}"));
  EXPECT_FALSE(IsExcludedClass("{4D36E968-E325-11CE-BFC1-08002BE10318}"));  // display adapters
  EXPECT_FALSE(IsExcludedClass(PrinterClassGUID));
  EXPECT_FALSE(IsExcludedClass(""));
}

TEST(DrvTypesTest, AllDevicesClasses) {
  EXPECT_TRUE(IsAllDevicesClass("{4D36E979-E325-11CE-BFC1-08002BE10318}"));
  EXPECT_TRUE(IsAllDevicesClass("{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"));
  EXPECT_FALSE(IsAllDevicesClass("{4D36E968-E325-11CE-BFC1-08002BE10318}"));
}

TEST(DrvTypesTest, ShortTextIsCutAt255) {
  EXPECT_EQ(CutShortText(std::string(255, 'a')).size(), 255u);
  EXPECT_EQ(CutShortText(std::string(256, 'a')), std::string(255, 'a'));
  EXPECT_EQ(CutShortText(""), "");
}

TEST(DrvTypesTest, OutOfDateExactlyWhenNewDateIsSet) {
  TDrvList list(2);
  TDrvRec& r = list[1];
  EXPECT_FALSE(r.IsOutOfDate());
  r.NewURL = list.Keep("http://x");
  EXPECT_FALSE(r.IsOutOfDate());
  r.NewDate = list.Keep("1-1-2005");
  EXPECT_TRUE(r.IsOutOfDate());
  // A NUL is text like any other: the record is still out of date.
  r.NewDate = list.Keep(std::string_view("\0", 1));
  EXPECT_TRUE(r.IsOutOfDate());
}

TEST(DrvTypesTest, TheListKeepsItsRecordsTextsWholeThroughGrowthAndMoves) {
  // Texts of every length class (empty, short, one unit below and at the long
  // form's mark, beyond a piece of the pool), with NULs inside, over many records.
  std::vector<std::string> narrow;
  std::vector<std::u16string> wide;
  for (int i = 0; i < 3000; ++i) {
    std::string n = std::to_string(i) + std::string(static_cast<std::size_t>(i % 300), 'x');
    if (i % 7 == 0) n[n.size() / 2] = '\0';
    narrow.push_back(i % 11 == 0 ? std::string() : n);
    wide.push_back(std::u16string(n.begin(), n.end()));
  }
  narrow.push_back(std::string(254, 'a'));
  narrow.push_back(std::string(255, 'b'));
  narrow.push_back(std::string(200000, 'c'));
  wide.push_back(std::u16string(65534, u'\xE9'));
  wide.push_back(std::u16string(65535, u'\x20AC'));
  wide.push_back(std::u16string(100000, u'z'));
  TDrvList list(1);
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    TDrvRec r;
    r.DevName = list.Keep(narrow[i]);
    r.HardwareIDs = list.Keep(wide[i]);
    list.push_back(r);
  }
  TDrvList moved = std::move(list);
  TKorvaneState state;
  state.DrvList = std::move(moved);
  ASSERT_EQ(state.DrvList.size(), narrow.size() + 1);
  EXPECT_TRUE(state.DrvList[0].DevName.empty());
  EXPECT_EQ(state.DrvList[0].DevName.c_str()[0], '\0');
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    const TDrvRec& r = state.DrvList[i + 1];
    ASSERT_EQ(r.DevName.size(), narrow[i].size()) << i;
    EXPECT_EQ(r.DevName, narrow[i]) << i;
    EXPECT_EQ(r.DevName.c_str()[narrow[i].size()], '\0') << i;
    EXPECT_TRUE(r.HardwareIDs == wide[i]) << i;
    EXPECT_EQ(r.HardwareIDs.c_str()[wide[i].size()], u'\0') << i;
  }
}

TEST(AppStateTest, ArraysKeepTheirEmptySlotZero) {
  TKorvaneState s;
  EXPECT_EQ(s.GUIDList.size(), 1u);
  EXPECT_EQ(s.DrvList.size(), 1u);
  s.GUIDList.push_back(TGUIDRec{});
  s.GUIDCount = 1;
  s.DrvList.push_back(TDrvRec{});
  s.DrvCount = 1;
  s.ClearCatalogue();
  s.ClearDrivers();
  EXPECT_EQ(s.GUIDCount, 0);
  EXPECT_EQ(s.DrvCount, 0);
  EXPECT_EQ(s.GUIDList.size(), 1u);
  EXPECT_EQ(s.DrvList.size(), 1u);
}

TEST(DateTimeTest, FormatsShortDateAndLongTime) {
  struct Case {
    TLocalDateTime dt;
    const char* text;
  } cases[] = {
      {{2026, 12, 9, 7, 5, 3}, "12/9/2026 7:05:03 AM"},
      {{2007, 1, 2, 13, 0, 0}, "1/2/2007 1:00:00 PM"},
      {{2007, 1, 2, 12, 0, 0}, "1/2/2007 12:00:00 PM"},
      {{2007, 1, 2, 0, 30, 0}, "1/2/2007 12:30:00 AM"},
      {{2007, 1, 2, 0, 0, 1}, "1/2/2007 12:00:01 AM"},
      {{2007, 1, 2, 23, 59, 59}, "1/2/2007 11:59:59 PM"},
      {{2007, 1, 2, 0, 0, 0}, "1/2/2007"},  // midnight: no time part
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDateTime(c.dt), c.text);
    auto back = ParseDateTime(c.text);
    ASSERT_TRUE(back) << c.text;
    EXPECT_EQ(back->Year, c.dt.Year);
    EXPECT_EQ(back->Month, c.dt.Month);
    EXPECT_EQ(back->Day, c.dt.Day);
    EXPECT_EQ(back->Hour, c.dt.Hour) << c.text;
    EXPECT_EQ(back->Minute, c.dt.Minute);
    EXPECT_EQ(back->Second, c.dt.Second);
  }
}

TEST(DateTimeTest, RejectsMalformedText) {
  for (const char* bad : {"", "12/9", "13/1/2007", "2/30/2007", "2/29/2007", "1/2/07", "1/2/2007 ",
                          "1/2/2007 13:00:00 PM", "1/2/2007 1:00 PM", "1/2/2007 1:00:00",
                          "1/2/2007 1:00:00 XM", "1/2/2007 1:60:00 AM", "x1/2/2007", "2007-01-02"}) {
    EXPECT_FALSE(ParseDateTime(bad)) << bad;
  }
  EXPECT_TRUE(ParseDateTime("2/29/2008"));
  EXPECT_TRUE(ParseDateTime("01/02/2007 01:00:00 pm"));
}

TEST(DateTimeTest, NowRoundTrips) {
  TLocalDateTime now = NowLocal();
  auto back = ParseDateTime(FormatDateTime(now));
  ASSERT_TRUE(back);
  EXPECT_EQ(FormatDateTime(*back), FormatDateTime(now));
}

TEST(WebLinkTest, OnlyAbsoluteWebAddressesWithAHostAreLinks) {
  for (const char* yes : {"http://a", "https://vendor.example/news?id=1#top", "HTTP://X.example:8080/",
                          "http://user@host.example/", "http://[::1]:80/x", "http://192.168.0.1"})
    EXPECT_TRUE(IsWebLink(yes)) << yes;
  for (const char* no : {"",
                         "/usr/bin/xterm",
                         "file:///etc/passwd",
                         "javascript:alert(1)",
                         "javascript://x/%0aalert(1)",
                         "smb://host/share",
                         "http:/x",
                         "http://",
                         "http:///path",
                         "http://:80/",
                         "http://user@/",
                         "http://h:8x/",
                         "http://a b/",
                         " http://a/",
                         "http://a/\t",
                         "http://a/\x7f",
                         "http://a/\xe9",
                         "http://h\\@evil/",
                         "http://[zz]/",
                         "ftp://host/",
                         "ahttp://host/"})
    EXPECT_FALSE(IsWebLink(no)) << no;
  const std::string base = "http://h.example/";
  EXPECT_TRUE(IsWebLink(base + std::string(MaxWebLinkBytes - base.size(), 'a')));
  EXPECT_FALSE(IsWebLink(base + std::string(MaxWebLinkBytes - base.size() + 1, 'a')));
  EXPECT_FALSE(IsWebLink(std::string("http://a/\0b", 11)));
  EXPECT_FALSE(OpenWebLink("/bin/true"));  // refused before the shell sees it
}

}  // namespace
