#include <gtest/gtest.h>

#include <vector>

#include "server/CheckService.h"
#include "server/Report.h"
#include "server/GzipHelper.h"

using namespace updsrv;

namespace {

const char* kCatalogue =
    "PCI\\VEN_8086&DEV_100E | 6-1-2024 | 8.4.13.0 | Intel | e1000.zip\n"
    "PCI\\VEN_1AF4&DEV_1041 | 2-2-2025 | 100.9.0 | Red Hat | http://elsewhere.example/virtio.zip\n"
    "ACPI\\PNP0303 | 1-1-2021 | 2.0 | Keyboards Inc | \n";

TCheckOptions Options() {
  TCheckOptions o;
  o.PackageBase = "http://127.0.0.1:8080/packages/";
  return o;
}

}  // namespace

TEST(ServerReport, ParsesTheClientsReport) {
  std::string text =
      MakeReport({{"PCI\\A, PCI\\B", "PCI\\CC_0200", "6-21-2006", "Net card"}, {"", "", "", "Empty"}});
  TReport r;
  std::string err;
  ASSERT_TRUE(ParseReport(text, r, err)) << err;
  EXPECT_EQ(r.Os, "xp-32");
  ASSERT_EQ(r.Devices.size(), 2u);
  EXPECT_EQ(r.Devices[0].Id, 1);
  EXPECT_EQ(r.Devices[0].HardwareIds, "PCI\\A, PCI\\B");
  EXPECT_EQ(r.Devices[0].Date, "6-21-2006");
  EXPECT_EQ(r.Devices[0].DevName, "Net card");
  EXPECT_EQ(r.Devices[0].ClassGuid, "{4D36E972-E325-11CE-BFC1-08002BE10318}");
  EXPECT_EQ(r.Devices[1].Date, "");
  EXPECT_EQ(SplitIdList("PCI\\A, PCI\\B,  ,PCI\\C"),
            (std::vector<std::string>{"PCI\\A", "PCI\\B", "PCI\\C"}));
}

TEST(ServerReport, HeaderOnlyReportHasNoDevices) {
  TReport r;
  std::string err;
  ASSERT_TRUE(ParseReport(MakeReport({}), r, err)) << err;
  EXPECT_TRUE(r.Devices.empty());
  // Plain "\n" line ends and values with '<' are fine too.
  ASSERT_TRUE(
      ParseReport("<os>xp-32</os>\n<dev>\n<id>1</id>\n<devname><unknown></devname>\n</dev>\n", r, err))
      << err;
  EXPECT_EQ(r.Devices.at(0).DevName, "<unknown>");
}

TEST(ServerReport, MalformedReportsAreRefusedWithASentence) {
  const std::string head = "<os>xp-32</os>\r\n<partner></partner>\r\n\r\n";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"blank", "\r\n\r\n"},
      {"no header", "<dev>\r\n<id>1</id>\r\n</dev>\r\n"},
      {"not text", head + std::string("<dev>\0</dev>", 12)},
      {"stray line", head + "hello\r\n"},
      {"unclosed element", head + "<dev>\r\n<id>1\r\n</dev>\r\n"},
      {"nested dev", head + "<dev>\r\n<id>1</id>\r\n<dev>\r\n"},
      {"close without open", head + "</dev>\r\n"},
      {"dev without close", head + "<dev>\r\n<id>1</id>\r\n"},
      {"no id", head + "<dev>\r\n<hwid>X</hwid>\r\n</dev>\r\n"},
      {"id not decimal", head + "<dev>\r\n<id>x1</id>\r\n</dev>\r\n"},
      {"id zero", head + "<dev>\r\n<id>0</id>\r\n</dev>\r\n"},
      {"id too large", head + "<dev>\r\n<id>99999999999</id>\r\n</dev>\r\n"},
      {"id twice", head + "<dev>\r\n<id>1</id>\r\n</dev>\r\n<dev>\r\n<id>1</id>\r\n</dev>\r\n"},
      {"random bytes", "\x8b\x13\xff garbage"},
  };
  for (const auto& c : cases) {
    TReport r;
    std::string err;
    EXPECT_FALSE(ParseReport(c.text, r, err)) << c.name;
    EXPECT_FALSE(err.empty()) << c.name;
    EXPECT_EQ(err.back(), '.') << c.name << ": " << err;
  }
}

TEST(ServerCheck, ReportsBeyondTheDeviceAndIdCapsAreRefused) {
  TCatalogue cat = TCatalogue::Parse(kCatalogue);
  auto devices = [](size_t n, size_t ids) {
    std::string list;
    for (size_t i = 0; i < ids; ++i)
      list += (i ? ", " : "") + std::string("PCI\\VEN_1234&DEV_") + std::to_string(i);
    return std::vector<TestDevice>(n, TestDevice{list, "", "1-1-2001"});
  };
  // At the caps: answered (the hardware and compatible IDs count together).
  auto atCap = devices(kMaxReportDevices, 1);
  atCap[0] = TestDevice{devices(1, 60)[0].hwid, "A, B, C, D", "1-1-2001"};
  EXPECT_EQ(AnswerUpload(GzipPack(MakeReport(atCap)), cat, Options()), "<errcode>0</errcode>\r\n");
  // One device or one ID more: refused with a sentence. The hostile upload
  // of 11,272 devices (108 KB packed) is one of these.
  std::string a = AnswerUpload(GzipPack(MakeReport(devices(11272, 1))), cat, Options());
  EXPECT_EQ(a,
            "<errcode>2</errcode><errmsg>The driver list has more than 4096 devices and was refused."
            "</errmsg>\r\n");
  a = AnswerUpload(GzipPack(MakeReport(devices(kMaxReportDevices + 1, 1))), cat, Options());
  EXPECT_NE(a.find("more than 4096 devices"), std::string::npos) << a;
  auto tooMany = devices(2, 1);
  tooMany[1] = TestDevice{devices(1, 61)[0].hwid, "A, B, C, D", "1-1-2001"};
  a = AnswerUpload(GzipPack(MakeReport(tooMany)), cat, Options());
  EXPECT_EQ(a.rfind("<errcode>2</errcode><errmsg>Device 2 of the driver list has more than 64 IDs", 0), 0u)
      << a;
}

TEST(ServerCheck, AnswersOutOfDateDevicesInTheTaggedFormat) {
  TCatalogue cat = TCatalogue::Parse(kCatalogue);
  std::string report = MakeReport({
      {"PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086, PCI\\VEN_8086&DEV_100E", "PCI\\CC_0200", "6-1-2020"},
      {"PCI\\VEN_8086&DEV_100E", "", "6-1-2024"},  // same date: up to date
      {"PCI\\VEN_1AF4&DEV_1041", "", ""},          // empty date: out of date
      {"ACPI\\PNP0303", "*PNP0303", "1-1-2020"},   // no package: empty URL
      {"USB\\UNKNOWN", "USB\\Class_03", "1-1-2000"},
  });
  std::string answer = AnswerUpload(GzipPack(report), cat, Options());
  EXPECT_EQ(answer,
            "<errcode>0</errcode>\r\n"
            "<dev><id>1</id><date>6-1-2024</date><vers>8.4.13.0</vers><vendor>Intel</vendor>"
            "<url>http://127.0.0.1:8080/packages/e1000.zip</url></dev>\r\n"
            "<dev><id>3</id><date>2-2-2025</date><vers>100.9.0</vers><vendor>Red Hat</vendor>"
            "<url>http://elsewhere.example/virtio.zip</url></dev>\r\n"
            "<dev><id>4</id><date>1-1-2021</date><vers>2.0</vers><vendor>Keyboards Inc</vendor>"
            "<url></url></dev>\r\n");
}

TEST(ServerCheck, EmptyReportStillAnswers) {
  TCatalogue cat = TCatalogue::Parse(kCatalogue);
  EXPECT_EQ(AnswerUpload(GzipPack(MakeReport({})), cat, Options()), "<errcode>0</errcode>\r\n");
}

TEST(ServerCheck, BadUploadsGetErrcode2) {
  TCatalogue cat = TCatalogue::Parse(kCatalogue);
  std::string good = GzipPack(MakeReport({{"PCI\\VEN_8086&DEV_100E", "", ""}}));
  std::string flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x55);
  std::string badCrc = good;
  badCrc[good.size() - 6] = static_cast<char>(badCrc[good.size() - 6] ^ 1);
  const struct {
    const char* name;
    std::string body;
  } cases[] = {
      {"empty body", ""},
      {"plain text", MakeReport({})},
      {"truncated", good.substr(0, good.size() - 5)},
      {"header only", good.substr(0, 12)},
      {"corrupted", flipped},
      {"bad crc", badCrc},
      {"trailing data", good + "xyz"},
      {"gzip of garbage", GzipPack("\x01\x02 this is not a report")},
      {"gzip of nothing", GzipPack("")},
  };
  for (const auto& c : cases) {
    std::string a = AnswerUpload(c.body, cat, Options());
    EXPECT_EQ(a.rfind("<errcode>2</errcode><errmsg>", 0), 0u) << c.name << ": " << a;
    EXPECT_NE(a.find("</errmsg>"), std::string::npos) << c.name;
    EXPECT_EQ(a.find("<dev>"), std::string::npos) << c.name;
  }
}

TEST(ServerCheck, OversizeReportIsRefused) {
  TCatalogue cat = TCatalogue::Parse(kCatalogue);
  TCheckOptions o = Options();
  std::string report = MakeReport({});
  report += std::string(kMaxReportBytes + 1 - report.size(), '\n');
  std::string a = AnswerUpload(GzipPack(report), cat, o);
  EXPECT_EQ(a.rfind("<errcode>2</errcode>", 0), 0u) << a;
  EXPECT_NE(a.find("8 MiB"), std::string::npos) << a;
  // Exactly at the limit is accepted.
  report.pop_back();
  EXPECT_EQ(AnswerUpload(GzipPack(report), cat, o), "<errcode>0</errcode>\r\n");
}

TEST(ServerCheck, ForcedErrors) {
  TCatalogue cat = TCatalogue::Parse(std::string(kCatalogue) + "@errcode 1\n@errmsg Notice\n");
  std::string report = GzipPack(MakeReport({{"PCI\\VEN_8086&DEV_100E", "", ""}}));
  // Code 1 from the catalogue keeps the devices.
  std::string a = AnswerUpload(report, cat, Options());
  EXPECT_EQ(a.rfind("<errcode>1</errcode><errmsg>Notice</errmsg>\r\n<dev><id>1</id>", 0), 0u) << a;
  // The command line wins; code 2 and up answers with the error alone.
  TCheckOptions o = Options();
  o.ForceErrCode = 3;
  o.ForceErrMsg = "Server maintenance";
  EXPECT_EQ(AnswerUpload(report, cat, o), "<errcode>3</errcode><errmsg>Server maintenance</errmsg>\r\n");
}
