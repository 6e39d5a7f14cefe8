// The update check's texts: report, answer merge, log lines and scratch files.
#include "scan/uExchange.h"
#include "support/ScratchFolder.h"
#include "scan/uExchangeLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += static_cast<char>(c < 0x80 ? c : '?');
  return out;
}

// A record whose texts the list keeps.
TDrvRec Rec(TDrvList& list, const std::string& cls, const std::string& guid, const std::string& name,
            const std::u16string& hw, const std::u16string& comp, const std::string& date) {
  TDrvRec r;
  r.ClassDesc = list.Keep(cls);
  r.ClassGUID = list.Keep(guid);
  r.DevName = list.Keep(name);
  r.HardwareIDs = list.Keep(hw);
  r.CompatibleIDs = list.Keep(comp);
  r.DriverDate = list.Keep(date);
  return r;
}

// Three records in two classes; the catalogue has a second entry with the same
// description as the first so that "first entry" is observable.
struct Machine {
  TDrvList drv{1};
  TGUIDList guid;
  int32_t drvCount = 3;
  int32_t guidCount = 3;
  Machine() {
    drv.push_back(Rec(drv, "Display adapters", "{4D36E968-E325-11CE-BFC1-08002BE10318}", "VGA", u"PCI\\VEN_1",
                      u"PCI\\CC_0300", "7-1-2001"));
    drv.push_back(Rec(drv, "Network adapters", "{4D36E972-E325-11CE-BFC1-08002BE10318}", "NIC", u"PCI\\VEN_2",
                      u"PCI\\CC_0200", "1-2-2003"));
    drv.push_back(Rec(drv, "Network adapters", "{4D36E972-E325-11CE-BFC1-08002BE10318}", "NIC2",
                      u"PCI\\VEN_3", u"PCI\\CC_0200", ""));
    guid.resize(4);
    guid[1].Description = "Display adapters";
    guid[2].Description = "Network adapters";
    guid[3].Description = "Network adapters";
  }
  TAnswerMerge Merge(std::u16string_view answer) {
    TAnswerMerge m;
    MergeUpdateAnswer(answer, drv, drvCount, guid, guidCount, m);
    return m;
  }
};

std::string TempDir() { return korvane::testing::MakeScratchFolder("kv-exchange-") + "/"; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(ExchangeReport, ExactTextWithHeaderBlocksAndEmptyDate) {
  Machine m;
  m.drvCount = 3;
  const std::u16string report = ComposeScanReport("xp-32", "ACME", m.drv, m.drvCount);
  const std::string expected =
      "<os>xp-32</os>\r\n<partner>ACME</partner>\r\n\r\n"
      "<dev>\r\n<id>1</id>\r\n<cguid>{4D36E968-E325-11CE-BFC1-08002BE10318}</cguid>\r\n"
      "<hwid>PCI\\VEN_1</hwid>\r\n<compid>PCI\\CC_0300</compid>\r\n<date>7-1-2001</date>\r\n"
      "<devname>VGA</devname>\r\n</dev>\r\n\r\n"
      "<dev>\r\n<id>2</id>\r\n<cguid>{4D36E972-E325-11CE-BFC1-08002BE10318}</cguid>\r\n"
      "<hwid>PCI\\VEN_2</hwid>\r\n<compid>PCI\\CC_0200</compid>\r\n<date>1-2-2003</date>\r\n"
      "<devname>NIC</devname>\r\n</dev>\r\n\r\n"
      "<dev>\r\n<id>3</id>\r\n<cguid>{4D36E972-E325-11CE-BFC1-08002BE10318}</cguid>\r\n"
      "<hwid>PCI\\VEN_3</hwid>\r\n<compid>PCI\\CC_0200</compid>\r\n<date></date>\r\n"
      "<devname>NIC2</devname>\r\n</dev>\r\n\r\n";
  EXPECT_EQ(Narrow(report), expected);
}

TEST(ExchangeReport, NoRecordsIsTheHeaderOnlyAndCountNeverReadsPastTheList) {
  TDrvList empty(1);
  EXPECT_EQ(Narrow(ComposeScanReport("7-64", "", empty, 0)), "<os>7-64</os>\r\n<partner></partner>\r\n\r\n");
  // A count larger than the list is limited to the records that exist.
  EXPECT_EQ(Narrow(ComposeScanReport("7-64", "", empty, 5)), "<os>7-64</os>\r\n<partner></partner>\r\n\r\n");
}

TEST(ExchangeReport, ValuesAreInsertedUnescapedAndWideIdsKeptWhole) {
  TDrvList list(1);
  list.push_back(Rec(list, "C", "{G}", "A<b>&c", std::u16string(300, u'H'), u"X, Y", "d"));
  const std::string text = Narrow(ComposeScanReport("os", "p", list, 1));
  EXPECT_NE(text.find("<devname>A<b>&c</devname>\r\n"), std::string::npos);
  EXPECT_NE(text.find("<hwid>" + std::string(300, 'H') + "</hwid>"), std::string::npos);
  EXPECT_NE(text.find("<compid>X, Y</compid>"), std::string::npos);
}

TEST(ExchangeAnswer, ExtractionRule) {
  struct Case {
    std::u16string text;
    std::u16string expected;
  } cases[] = {
      {u"<a>x</a>", u"x"},     {u"zz<a>hello</a><a>second</a>", u"hello"},
      {u"<a></a>", u""},       {u"no tag", u""},
      {u"<a>unclosed", u""},   {u"</a><a>closed first", u""},
      {u"</a>x<a>y</a>", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::u16string(ExtractElement(c.text, u"<a>", u"</a>")), c.expected) << Narrow(c.text);
  }
}

TEST(ExchangeAnswer, DecimalReading) {
  struct Case {
    std::u16string text;
    TDecimalKind kind;
    int32_t value;
  } cases[] = {
      {u"0", TDecimalKind::Ok, 0},
      {u"42", TDecimalKind::Ok, 42},
      {u"-7", TDecimalKind::Ok, -7},
      {u"+3", TDecimalKind::Ok, 3},
      {u"  12", TDecimalKind::Ok, 12},
      {u"2147483647", TDecimalKind::Ok, 2147483647},
      {u"-2147483648", TDecimalKind::Ok, INT32_MIN},
      {u"2147483648", TDecimalKind::OutOfRange, 0},
      {u"99999999999999999999", TDecimalKind::OutOfRange, 0},
      {u"", TDecimalKind::NotDecimal, 0},
      {u"-", TDecimalKind::NotDecimal, 0},
      {u"12abc", TDecimalKind::NotDecimal, 0},
      {u"0x10", TDecimalKind::NotDecimal, 0},
      {u"1 ", TDecimalKind::NotDecimal, 0},
      {u"one", TDecimalKind::NotDecimal, 0},
  };
  for (const Case& c : cases) {
    int32_t v = -99;
    EXPECT_EQ(ParseDecimal(c.text, v), c.kind) << Narrow(c.text);
    if (c.kind == TDecimalKind::Ok) {
      EXPECT_EQ(v, c.value) << Narrow(c.text);
    }
  }
}

TEST(ExchangeMerge, OneBlockMarksItsRecordAndTheFirstClassWithItsDescription) {
  Machine m;
  const TAnswerMerge r = m.Merge(
      u"<dev><id>2</id><date>5-6-2007</date><vers>2.0</vers><vendor>Acme</vendor>"
      u"<url>http://x/p.zip</url></dev>");
  EXPECT_EQ(m.drv[2].NewDate, "5-6-2007");
  EXPECT_EQ(m.drv[2].NewVersion, "2.0");
  EXPECT_EQ(m.drv[2].NewVendor, "Acme");
  EXPECT_EQ(m.drv[2].NewURL, "http://x/p.zip");
  EXPECT_TRUE(m.drv[2].IsOutOfDate());
  EXPECT_FALSE(m.drv[1].IsOutOfDate());
  EXPECT_FALSE(m.drv[3].IsOutOfDate());
  EXPECT_FALSE(m.guid[1].HasUpdates);
  EXPECT_TRUE(m.guid[2].HasUpdates);
  EXPECT_FALSE(m.guid[3].HasUpdates);
  EXPECT_EQ(r.tDrivers, 3);
  EXPECT_EQ(r.odDrivers, 1);
  EXPECT_EQ(r.udDrivers, 2);
  EXPECT_TRUE(r.IsSysUpdated);
  EXPECT_EQ(r.ErrCode, 0);
  EXPECT_EQ(r.ErrMsg, "");
}

TEST(ExchangeMerge, ElementsAreReadOnlyInsideTheirOwnBlock) {
  Machine m;
  // Record 1's block has no url and no vendor; record 3's block has both.
  const TAnswerMerge r = m.Merge(
      u"<dev><id>1</id><date>1-1-2010</date><vers>9</vers></dev>\r\n"
      u"<dev><id>3</id><date>2-2-2011</date><vers>8</vers><vendor>V3</vendor>"
      u"<url>http://u3</url></dev>");
  EXPECT_EQ(m.drv[1].NewDate, "1-1-2010");
  EXPECT_EQ(m.drv[1].NewVendor, "");
  EXPECT_EQ(m.drv[1].NewURL, "");
  EXPECT_EQ(m.drv[3].NewURL, "http://u3");
  EXPECT_FALSE(r.IsSysUpdated);
  EXPECT_EQ(r.odDrivers, 2);
  EXPECT_EQ(r.udDrivers, 1);
}

TEST(ExchangeMerge, MissingUrlClearsIsSysUpdated) {
  Machine m;
  const TAnswerMerge r = m.Merge(u"<dev><id>2</id><date>d</date><vers>v</vers><vendor>x</vendor></dev>");
  EXPECT_EQ(m.drv[2].NewURL, "");
  EXPECT_FALSE(r.IsSysUpdated);
  EXPECT_EQ(r.odDrivers, 1);
}

TEST(ExchangeMerge, SameRecordTwiceCountsTwice) {
  Machine m;
  const TAnswerMerge r = m.Merge(
      u"<dev><id>1</id><date>a</date><url>u</url></dev><dev><id>1</id><date>b</date><url>u</url></dev>");
  EXPECT_EQ(m.drv[1].NewDate, "b");
  EXPECT_EQ(r.odDrivers, 2);
  EXPECT_EQ(r.udDrivers, 1);
}

TEST(ExchangeMerge, ErrorElements) {
  struct Case {
    std::u16string answer;
    std::string msg;
    int32_t code;
  } cases[] = {
      {u"<errmsg>Server busy</errmsg><errcode>2</errcode>", "Server busy", 2},
      {u"<errcode></errcode>", "", 0},
      {u"<errcode>1</errcode><errmsg>first</errmsg><errmsg>second</errmsg>", "first", 1},
      {u"<errcode>-5</errcode>", "", -5},
      {u"<errmsg>no close", "", 0},
  };
  for (const Case& c : cases) {
    Machine m;
    const TAnswerMerge r = m.Merge(c.answer);
    EXPECT_EQ(r.ErrMsg, c.msg) << Narrow(c.answer);
    EXPECT_EQ(r.ErrCode, c.code) << Narrow(c.answer);
    EXPECT_TRUE(r.IsSysUpdated);
    EXPECT_EQ(r.udDrivers, 3);
    EXPECT_EQ(r.odDrivers, 0);
  }
}

TEST(ExchangeMerge, NonDecimalErrorCodeOrIdFails) {
  {
    Machine m;
    EXPECT_THROW(m.Merge(u"<errcode>two</errcode>"), EExchangeError);
  }
  {
    Machine m;
    EXPECT_THROW(m.Merge(u"<errcode>99999999999</errcode>"), EExchangeError);
  }
  {
    Machine m;
    TAnswerMerge r;
    EXPECT_THROW(MergeUpdateAnswer(u"<dev><id>1</id><date>a</date><url>u</url></dev>"
                                   u"<dev><id>x2</id><date>b</date></dev>"
                                   u"<dev><id>3</id><date>c</date></dev>",
                                   m.drv, m.drvCount, m.guid, m.guidCount, r),
                 EExchangeError);
    // The merge stopped where it was.
    EXPECT_EQ(m.drv[1].NewDate, "a");
    EXPECT_EQ(m.drv[3].NewDate, "");
    EXPECT_EQ(r.odDrivers, 1);
  }
  {
    Machine m;  // a block without any id
    EXPECT_THROW(m.Merge(u"<dev><date>b</date></dev>"), EExchangeError);
  }
}

TEST(ExchangeMerge, IdsOutsideTheListNameNoRecordAndTheMergeGoesOn) {
  for (const std::u16string id : {u"0", u"4", u"-1", u"2147483647", u"99999999999"}) {
    Machine m;
    const TAnswerMerge r = m.Merge(u"<dev><id>" + id +
                                   u"</id><date>x</date></dev>"
                                   u"<dev><id>2</id><date>y</date><url>u</url></dev>");
    EXPECT_EQ(r.odDrivers, 1) << Narrow(id);
    EXPECT_EQ(r.udDrivers, 2) << Narrow(id);
    EXPECT_EQ(r.SkippedBlocks, 1) << Narrow(id);
    EXPECT_TRUE(r.IsSysUpdated) << Narrow(id);  // the skipped block's missing url counts nothing
    EXPECT_EQ(m.drv[2].NewDate, "y");
    EXPECT_EQ(m.drv[0].NewDate, "");
  }
}

TEST(ExchangeMerge, UnclosedBlockIsTheLastOneRead) {
  Machine m;
  const TAnswerMerge r = m.Merge(
      u"<dev><id>1</id><date>a</date><url>u</url></dev>"
      u"<dev><id>2</id><date>b</date><url>v</url>"
      u"<dev><id>3</id><date>c</date><url>w</url>");
  EXPECT_EQ(m.drv[1].NewDate, "a");
  EXPECT_EQ(m.drv[2].NewDate, "b");
  EXPECT_EQ(m.drv[3].NewDate, "");
  EXPECT_EQ(r.odDrivers, 2);
  EXPECT_EQ(r.DevBlocks, 2);
}

TEST(ExchangeMerge, FieldsAreCutToShortText) {
  Machine m;
  const std::u16string longUrl(400, u'u');
  m.Merge(u"<dev><id>1</id><date>d</date><url>" + longUrl + u"</url></dev>");
  EXPECT_EQ(m.drv[1].NewURL, std::string(255, 'u'));
  // The error message too: 2 MiB of it never reaches a notice.
  const TAnswerMerge r =
      m.Merge(u"<errcode>2</errcode><errmsg>" + std::u16string(2 * 1024 * 1024, u'e') + u"</errmsg>");
  EXPECT_EQ(r.ErrMsg, std::string(255, 'e'));
}

TEST(ExchangeMerge, AnswerWithoutElementsLeavesEverythingUpToDate) {
  Machine m;
  const TAnswerMerge r = m.Merge(u"nothing to report");
  EXPECT_EQ(r.tDrivers, 3);
  EXPECT_EQ(r.udDrivers, 3);
  EXPECT_EQ(r.odDrivers, 0);
  EXPECT_TRUE(r.IsSysUpdated);
}

TEST(ExchangeMerge, CountBeyondTheListNeverWritesOutside) {
  Machine m;
  m.drvCount = 10;  // more than the three records that exist
  const TAnswerMerge r = m.Merge(u"<dev><id>7</id><date>x</date></dev>");
  EXPECT_EQ(r.SkippedBlocks, 1);
  EXPECT_EQ(r.odDrivers, 0);
}

TEST(ExchangeLog, LinesAreStampTextAndCrLf) {
  TExchangeLog log;
  log.Stamp = [] { return std::string("7/4/2026 3:05:09 PM"); };
  log.Add(" Packing GZIP");
  log.Add(std::string(" HTTP Status:") + "Connected.");
  EXPECT_EQ(Narrow(log.Text()),
            "7/4/2026 3:05:09 PM Packing GZIP\r\n7/4/2026 3:05:09 PM HTTP Status:Connected.\r\n");
  log.Clear();
  EXPECT_TRUE(log.Text().empty());
}

TEST(ExchangeLog, DefaultStampIsShortDateBlankLongTime) {
  TExchangeLog log;
  log.Add(" Finalization");
  const std::string line = Narrow(log.Text());
  // "M/d/yyyy h:mm:ss AM Finalization\r\n"
  const auto firstBlank = line.find(' ');
  ASSERT_NE(firstBlank, std::string::npos);
  EXPECT_NE(line.find('/'), std::string::npos);
  EXPECT_TRUE(line.find(" AM Finalization\r\n") != std::string::npos ||
              line.find(" PM Finalization\r\n") != std::string::npos)
      << line;
}

TEST(ExchangeFiles, WriteOverwritesAndReplacesPlantedLinks) {
  const std::string dir = TempDir();
  ASSERT_FALSE(dir.empty());
  const std::string file = dir + "answ.log";
  WriteScratchFile(file, "first, longer text");
  WriteScratchFile(file, "second");
  EXPECT_EQ(ReadAll(file), "second");
  EXPECT_TRUE(ScratchFileExists(file));

  const std::string target = dir + "target";
  WriteScratchFile(target, "keep");
  const std::string link = dir + "https.log";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_FALSE(ScratchFileExists(link));
  WriteScratchFile(link, "log");  // the link itself is replaced, its target untouched
  EXPECT_EQ(ReadAll(target), "keep");
  EXPECT_TRUE(ScratchFileExists(link));
  EXPECT_EQ(ReadAll(link), "log");

  EXPECT_TRUE(RemoveScratchFile(link));
  EXPECT_EQ(ReadAll(target), "keep");
  EXPECT_TRUE(RemoveScratchFile(dir + "never-there"));
  EXPECT_THROW(WriteScratchFile(dir + "no/such/dir", "x"), EExchangeError);

  std::remove(file.c_str());
  std::remove(target.c_str());
  rmdir(dir.c_str());
}

TEST(ExchangeFiles, WideTextIsWrittenInTheCodePage) {
  const std::string dir = TempDir();
  const std::string file = dir + "scanres.log";
  WriteScratchText(file, u"caf\u00E9 \u4E2D\r\n");
  EXPECT_EQ(ReadAll(file), "caf\xE9 ?\r\n");
  std::remove(file.c_str());
  rmdir(dir.c_str());
}
