#include "tools/korvane-check/CheckTool.h"

#include "support/ScratchMachine.h"
#include "sysinfo/uSystemFacts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>

using korvane::testing::ScratchMachine;

namespace {

TEST(CheckToolTest, TsvOfASmallMachineIsExact) {
  ScratchMachine m("scan-tsv");
  TKorvaneState state;
  PrepareCheckState(state, "/b/tools/korvane-check/korvane-check");
  std::ostringstream err;
  TCheckResult result = RunCheckScan(state, TCheckOptions{}, err);
  ASSERT_EQ(result.End, TScanEnd::DevicesOnly) << err.str();
  std::ostringstream out;
  PrintTsv(state, result, out);
  const std::string d = "{4D36E968-E325-11CE-BFC1-08002BE10318}";
  const std::string p = "{4D36E979-E325-11CE-BFC1-08002BE10318}";
  const std::string want = "class\t1\t" + d +
                           "\tDisplay adapters\t2\t0\n"
                           "class\t2\t" +
                           p +
                           "\tPrinters\t1\t0\n"
                           "driver\t1\t" +
                           d + "\tVideo\\\\Card\\tOne\t" + d +
                           "\\\\0000\tCaf\xC3\xA9 Inc.\t3-10-2004\t6.1\t"
                           "PCI\\\\VEN_1, PCI\\\\VEN_1&DEV_2\tPCI\\\\CC_0300\t\t\t\t\n"
                           "driver\t2\t" +
                           d +
                           "\tLine1\\nLine2\\rEnd\t\t\t\t\t\tPCI\\\\CC_0300\t\t\t\t\n"
                           "driver\t3\t" +
                           p +
                           "\tPrinter \xC3\xA9\t\t\t\t\tUSBPRINT\\\\X\t\t\t\t\t\n"
                           "summary\t0\t0\t0\t0\t0\t\t1\n";
  EXPECT_EQ(out.str(), want);
}

TEST(CheckToolTest, TwoLevelList) {
  ScratchMachine m("scan-tsv");
  TKorvaneState state;
  std::ostringstream err;
  TCheckResult result = RunCheckScan(state, TCheckOptions{}, err);
  std::ostringstream out;
  PrintDriverList(state, result, out);
  const std::string want =
      "Display adapters\n"
      "    Video\\Card?One\n"
      "        provider Caf\xC3\xA9 Inc., date 3-10-2004, version 6.1\n"
      "    Line1?Line2?End\n"
      "        provider -, date -, version -\n"
      "Printers\n"
      "    Printer \xC3\xA9\n"
      "        provider -, date -, version -\n"
      "3 devices in 2 classes\n";
  EXPECT_EQ(out.str(), want);
  // Progress went to the error stream.
  EXPECT_NE(err.str().find("Display adapters driver scanning in progress"), std::string::npos);
}

TEST(CheckToolTest, CheckedListMarksEachDriverAndGivesTheDiagramFigures) {
  ScratchMachine m("scan-tsv");
  TKorvaneState state;
  std::ostringstream err;
  TCheckResult result = RunCheckScan(state, TCheckOptions{}, err);
  ASSERT_EQ(result.End, TScanEnd::DevicesOnly) << err.str();
  // As the exchange leaves it: one newer driver, figures stored.
  result.Checked = true;
  TDrvRec& r = state.DrvList[1];
  r.NewDate = state.DrvList.Keep("5-1-2007");
  r.NewVersion = state.DrvList.Keep("7.0");
  r.NewVendor = state.DrvList.Keep("Caf\xE9");
  r.NewURL = state.DrvList.Keep("http://vendor/v.exe");
  state.Settings.tDrivers = 3;
  state.Settings.udDrivers = 2;
  state.Settings.odDrivers = 1;
  std::ostringstream out;
  PrintDriverList(state, result, out);
  const std::string want =
      "Display adapters\n"
      "  ! Video\\Card?One  [out of date]\n"
      "        provider Caf\xC3\xA9 Inc., date 3-10-2004, version 6.1\n"
      "        newer driver: date 5-1-2007, version 7.0, vendor Caf\xC3\xA9\n"
      "        download http://vendor/v.exe\n"
      "  + Line1?Line2?End  [up to date]\n"
      "        provider -, date -, version -\n"
      "Printers\n"
      "  + Printer \xC3\xA9  [up to date]\n"
      "        provider -, date -, version -\n"
      "3 devices in 2 classes\n"
      "Out of date drivers - 1 (34%)\n"
      "Up to date drivers - 2 (66%)\n";
  EXPECT_EQ(out.str(), want);
}

TEST(CheckToolTest, SummaryCarriesTheExchangeFieldsEscaped) {
  TKorvaneState state;
  state.Settings.tDrivers = 5;
  state.Settings.udDrivers = 3;
  state.Settings.odDrivers = 2;
  state.Settings.IsSysUpdated = true;
  TCheckResult r;
  r.End = TScanEnd::Failed;
  r.ErrCode = 2;
  r.ErrMsg = "bad\tthing\\";
  std::ostringstream out;
  PrintTsv(state, r, out);
  EXPECT_EQ(out.str(), "summary\t5\t3\t2\t1\t2\tbad\\tthing\\\\\t0\n");
}

TEST(CheckToolTest, EscapingAndWideText) {
  EXPECT_EQ(TsvEscape("a\\b\tc\nd\re"), "a\\\\b\\tc\\nd\\re");
  EXPECT_EQ(TsvEscape(""), "");
  EXPECT_EQ(WideToUtf8(u"caf\u00e9 \u20ac \U0001F600"), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(CheckToolTest, Arguments) {
  TCheckOptions o;
  std::string e;
  EXPECT_TRUE(ParseCheckArgs({"--tsv"}, o, e));
  EXPECT_TRUE(o.Tsv);
  EXPECT_FALSE(o.Exchange);
  TCheckOptions o2;
  EXPECT_FALSE(ParseCheckArgs({"--bogus"}, o2, e));
  EXPECT_NE(e.find("--bogus"), std::string::npos);
  TCheckOptions o3;
  EXPECT_FALSE(ParseCheckArgs({"tsv"}, o3, e));
}

TEST(CheckToolTest, UsageErrors) {
  const std::vector<std::vector<std::string>> wrong = {
      {"--server"},                                  // no value
      {"--exchange", "--server", "ftp://x"},         // not http(s)
      {"--exchange", "--server", "update.example"},  // no scheme
      {"--exchange", "--server", "http://"},         // no host
      {"--exchange", "--secure-server=https:///p"},
      {"--server", "http://x"},  // nothing that talks to a server
      {"--tsv", "--json"},
      {"--export", "r.gz", "--import", "a.txt"},
      {"--exchange", "--import", "a.txt"},
      {"--submit", "r.gz"},  // no --answer-out
      {"--answer-out", "a.txt"},
      {"--export", "r.gz", "--json"},
      {"--tsv=1"},
  };
  for (const auto& args : wrong) {
    TCheckOptions o;
    std::string e;
    EXPECT_FALSE(ParseCheckArgs(args, o, e)) << args[0];
    EXPECT_FALSE(e.empty());
  }
  TCheckOptions o;
  std::string e;
  ASSERT_TRUE(ParseCheckArgs({"--exchange", "--json", "--server=HTTP://127.0.0.1:8080/", "--secure-server",
                              "https://127.0.0.1:8443"},
                             o, e))
      << e;
  EXPECT_EQ(o.Server, "HTTP://127.0.0.1:8080/");
  EXPECT_EQ(o.SecureServer, "https://127.0.0.1:8443");
  TCheckOptions s;
  ASSERT_TRUE(ParseCheckArgs({"--submit", "r.gz", "--answer-out", "a.txt", "--server", "http://h"}, s, e));
  EXPECT_EQ(s.SubmitFile, "r.gz");
  EXPECT_EQ(s.AnswerOut, "a.txt");
}

TEST(CheckToolTest, DatesIdsAndAnswerFiles) {
  EXPECT_EQ(IsoDate("3-10-2004"), "2004-03-10");
  EXPECT_EQ(IsoDate("03/09/2007"), "2007-03-09");
  EXPECT_EQ(IsoDate("2004-03-10"), "2004-03-10");
  EXPECT_EQ(IsoDate("2-29-2004"), "2004-02-29");
  EXPECT_EQ(IsoDate("2-29-2005"), "");
  EXPECT_EQ(IsoDate("13-1-2004"), "");
  EXPECT_EQ(IsoDate("1-1-04"), "");
  EXPECT_EQ(IsoDate(""), "");
  EXPECT_EQ(IsoDate("soon"), "");
  EXPECT_EQ(SplitIdList(""), std::vector<std::string>{});
  EXPECT_EQ(SplitIdList("A, B&C, D"), (std::vector<std::string>{"A", "B&C", "D"}));

  const std::string sha = Sha256Hex("abc");
  EXPECT_EQ(sha, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  std::string gotSha, answer;
  ASSERT_TRUE(ParseAnswerFile(AnswerHeader(sha) + "<errcode>0</errcode>\r\n", gotSha, answer));
  EXPECT_EQ(gotSha, sha);
  EXPECT_EQ(answer, "<errcode>0</errcode>\r\n");
  ASSERT_TRUE(ParseAnswerFile(AnswerHeader(sha), gotSha, answer));
  EXPECT_EQ(answer, "");
  EXPECT_FALSE(ParseAnswerFile("<errcode>0</errcode>\n", gotSha, answer));
  EXPECT_FALSE(ParseAnswerFile("korvane-answer sha256=abc\n", gotSha, answer));
  std::string report, why;
  EXPECT_FALSE(UnpackReport("not gzip", report, why));
  EXPECT_FALSE(why.empty());
}

TEST(CheckToolTest, KorvaneExecutableBesideTheBuild) {
  EXPECT_EQ(ResolveKorvaneExe("/w/build/tools/korvane-check/korvane-check"), "/w/build/app/korvane");
  EXPECT_EQ(ResolveKorvaneExe("/opt/korvane/bin/korvane-check"), "/opt/korvane/bin/korvane");
  TKorvaneState s;
  ScratchMachine m;
  PrepareCheckState(s, "/w/build/tools/korvane-check/korvane-check");
  EXPECT_EQ(s.ExeName, "/w/build/app/korvane");
  EXPECT_EQ(s.ExeFolder, "/w/build/app/");
  EXPECT_EQ(s.TempFolder, m.Root() + "/Temp/");
}

// The executable itself: exit status and streams.
int RunTool(const std::string& args, std::string& out) {
  const char* bin = std::getenv("KORVANE_BINARY_DIR");
  std::string cmd =
      std::string(bin ? bin : ".") + "/tools/korvane-check/korvane-check " + args + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  out.clear();
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(CheckToolProcessTest, ExitStatus) {
  std::string out;
  {
    ScratchMachine m("scan-tsv");
    EXPECT_EQ(RunTool("--tsv", out), 0);
    EXPECT_EQ(out.substr(0, 6), "class\t");
    EXPECT_NE(out.find("summary\t0\t0\t0\t0\t0\t\t1\n"), std::string::npos);
  }
  {
    ScratchMachine m("scan-badvalue");
    EXPECT_EQ(RunTool("--tsv", out), 1);
    EXPECT_NE(out.find("\t0\n"), std::string::npos);  // not completed
  }
  EXPECT_EQ(RunTool("--nonsense", out), 2);
}

TEST(CheckToolProcessTest, ScansTheLiveHost) {
  // The host keeps its hives and Temp/ under XDG_DATA_HOME: a scratch folder while it lives.
  ScratchMachine host(ScratchMachine::Host::Live);
  std::string out;
  EXPECT_EQ(RunTool("--tsv", out), 0);
  EXPECT_NE(out.find("summary\t"), std::string::npos);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.substr(out.size() - 3), "\t1\n");
}

}  // namespace

// An answer with an error code above 1 still leaves its figures stored: the JSON shows
// them as stored, as the tab-separated summary does, and gives no verdict.
TEST(CheckToolTest, ARefusedCheckShowsWhatItStoredInBothListings) {
  korvane::testing::ScratchMachine m;
  TKorvaneState state;
  state.OwnsSettings = false;  // as korvane-check: only the check's figures are saved
  state.Settings.tDrivers = 4;
  state.Settings.udDrivers = 4;
  state.Settings.odDrivers = 0;
  state.Settings.IsSysUpdated = true;
  TCheckResult r;
  r.End = TScanEnd::Checked;
  r.ErrCode = 2;
  r.ErrMsg = "The driver list is too large.";
  ConcludeCheck(state, r);
  EXPECT_FALSE(r.Checked);
  EXPECT_EQ(r.Error, TCheckError::ServerError);

  TSettings stored;
  LoadSettings(stored, std::string());
  EXPECT_EQ(stored.udDrivers, 4);
  EXPECT_TRUE(stored.IsSysUpdated);

  TCheckOptions options;
  options.Exchange = true;
  std::ostringstream tsv, json;
  PrintTsv(state, r, tsv);
  PrintJson(state, r, options, {}, json);
  EXPECT_NE(tsv.str().find("summary\t4\t4\t0\t1\t2\t"), std::string::npos) << tsv.str();
  const std::string j = json.str();
  EXPECT_NE(j.find("\"udDrivers\": 4"), std::string::npos) << j;
  EXPECT_NE(j.find("\"IsSysUpdated\": true"), std::string::npos) << j;
  EXPECT_NE(j.find("\"checked\": false"), std::string::npos) << j;
}
