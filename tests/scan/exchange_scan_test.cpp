// Whole scans of fixture machines through the exchange, against purpose-built
// servers and the reference update server on loopback.
#include "scan/uScanThread.h"

#include "core/uAppState.h"
#include "core/uSettings.h"
#include "core/uThread.h"
#include "support/FakeUpdateServer.h"
#include "support/SelfSignedCert.h"
#include "support/ScratchMachine.h"
#include "scan/uExchange.h"
#include "scan/uExchangeLog.h"
#include "scan/uSSLRequest.h"
#include "scan/uServerUrls.h"
#include "support/UpdateServerProcess.h"

#include <gtest/gtest.h>

#include <korvane_machine.h>
#include <korvane_text.h>
#include <windows.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using exchangetest::TFakeUpdateServer;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// A scan page that records its calls and answers the prompt from a script.
class TRecordingPage : public IScanPage {
 public:
  std::vector<std::string> Calls;
  std::vector<std::string> Prompts;
  std::vector<std::string> NoAnswers;
  std::deque<int> PromptResults;  // empty: Cancel (2)
  std::function<void()> BeforePromptReturns;

  void ResetPage(TScanThread&) override { Calls.push_back("ResetPage"); }
  void ClearPage(TScanThread&) override { Calls.push_back("ClearPage"); }
  void ShowClassStarted(TScanThread&) override {}
  void ShowProgress(const TScanProgress&) override {}
  void AddClassIcon(HICON) override {}
  void ShowSearching(const std::string& text) override { Calls.push_back("ShowSearching:" + text); }
  void BeginUpdateCheck() override { Calls.push_back("BeginUpdateCheck"); }
  void FinishUpdateCheck() override { Calls.push_back("FinishUpdateCheck"); }
  int ShowConnectivityPrompt(const std::string& text) override {
    Calls.push_back("Prompt");
    Prompts.push_back(text);
    if (BeforePromptReturns) BeforePromptReturns();
    if (PromptResults.empty()) return 2;
    const int r = PromptResults.front();
    PromptResults.pop_front();
    return r;
  }
  void ShowPackingError(const std::string& text) override { Calls.push_back("ShowPackingError:" + text); }
  void ShowNoAnswer(const std::string& text) override {
    Calls.push_back("ShowNoAnswer");
    NoAnswers.push_back(text);
  }
  bool Called(const std::string& name) const {
    for (const auto& c : Calls)
      if (c == name) return true;
    return false;
  }
};

struct TScanRun {
  TScanEnd End = TScanEnd::Failed;
  TScanCause Cause;
  bool Terminated = false;
  std::string ErrMsg;
  int32_t ErrCode = 0;
  std::u16string Answer;
};

// The fixed log lines and the transport's status lines of https.log, stamps removed.
std::vector<std::string> LogTexts(const std::string& log) {
  static const std::regex stamp(R"(^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M( .*)$)");
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < log.size()) {
    const std::size_t end = log.find("\r\n", pos);
    if (end == std::string::npos) {
      out.push_back("UNTERMINATED:" + log.substr(pos));
      break;
    }
    const std::string line = log.substr(pos, end - pos);
    std::smatch m;
    out.push_back(std::regex_match(line, m, stamp) ? m[1].str() : "BADSTAMP:" + line);
    pos = end + 2;
  }
  return out;
}

std::vector<std::string> FixedLines(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.rfind(" HTTP Status:", 0) != 0 && l.rfind(" SSL Status Info:", 0) != 0) out.push_back(l);
  return out;
}

const std::vector<std::string> kFullLog = {
    " Packing GZIP",
    " Packing GZIP complete",
    " Initialization",
    " Setup SSL options",
    " Setup SSL options complete",
    " SSL IO Handler assignment",
    " Adding files to send stream",
    " Adding files to send stream completed",
    " Sending HTTP Query",
    " HTTP Answer received",
    " Finalization",
};

std::vector<std::string> WithoutAnswerLine() {
  std::vector<std::string> v = kFullLog;
  v.erase(v.begin() + 9);
  return v;
}

class ExchangeScan : public ::testing::Test {
 protected:
  void SetUp() override { UseMachine("scan-edge"); }

  void TearDown() override {
    InstallUiQueue(nullptr);
    scratch_.reset();
    LoadServerUrls();
  }

  // minLength: the machine folder lies that deep (its path at least that long).
  void UseMachine(const std::string& fixture, std::size_t minLength = 0) {
    scratch_.reset();  // the earlier machine puts the environment back first
    scratch_.emplace(fixture, minLength);
    machine_ = scratch_->Root();
    InstallUiQueue(&queue_);
    char buf[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(sizeof buf, buf), 0u);
    state_ = TKorvaneState();
    state_.TempFolder = buf;
    state_.ExeName = machine_ + "/korvane";
    state_.ExeFolder = machine_ + "/";
    state_.OsShortName = "xp-32";
    state_.PartnerID = "TESTPARTNER";
  }

  void SetUrls(const std::string& http, const std::string& https) {
    scratch_->SetString(HKEY_CURRENT_USER, SettingsKeyName, UpdateURLValueName, http);
    scratch_->SetString(HKEY_CURRENT_USER, SettingsKeyName, SecureUpdateURLValueName, https);
    LoadServerUrls();
  }
  void PointAt(const TFakeUpdateServer& srv) { SetUrls(srv.HttpBase(), srv.HttpsBase()); }

  TScanRun Scan(unsigned certWaitMs = 5000, unsigned readTimeoutMs = 3000) {
    auto* t = new TScanThread(state_, page_);
    t->CertWaitMs = certWaitMs;
    t->ReadTimeoutMs = readTimeoutMs;
    TWaitHandle h = t->Handle();
    t->Start();
    EXPECT_TRUE(queue_.PumpUntil([&] { return h->IsSet(); }, 30000));
    // Let a certificate completion that is still queued run, as the message loop would.
    queue_.PumpUntil([] { return false; }, 50);
    TScanRun o;
    o.End = t->End;
    o.Cause = t->Cause;
    o.Terminated = t->Terminated();
    o.ErrMsg = t->ErrMsg;
    o.ErrCode = t->ErrCode;
    o.Answer = t->Answer;
    delete t;
    return o;
  }

  std::string Temp(const char* name) const { return state_.TempFolder + name; }

  std::optional<korvane::testing::ScratchMachine> scratch_;
  std::string machine_;  // its folder
  TPumpedUiQueue queue_;
  TKorvaneState state_;
  TRecordingPage page_;
};

}  // namespace

TEST_F(ExchangeScan, AnswerIsMergedAndEveryFileIsWritten) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetAnswer(
      "<dev>\r\n<id>2</id>\r\n<date>5-6-2007</date>\r\n<vers>2.0.0.1</vers>\r\n"
      "<vendor>Acme</vendor>\r\n<url>http://127.0.0.1:1/p.zip</url>\r\n</dev>\r\n");
  const TScanRun o = Scan();
  ASSERT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  ASSERT_GE(state_.DrvCount, 2);

  const TDrvRec& rec = state_.DrvList[2];
  EXPECT_EQ(rec.NewDate, "5-6-2007");
  EXPECT_EQ(rec.NewVersion, "2.0.0.1");
  EXPECT_EQ(rec.NewVendor, "Acme");
  EXPECT_EQ(rec.NewURL, "http://127.0.0.1:1/p.zip");
  for (int32_t n = 1; n <= state_.DrvCount; ++n) EXPECT_EQ(state_.DrvList[n].IsOutOfDate(), n == 2) << n;
  for (int32_t i = 1; i <= state_.GUIDCount; ++i)
    EXPECT_EQ(state_.GUIDList[i].HasUpdates, state_.GUIDList[i].Description == rec.ClassDesc) << i;
  EXPECT_EQ(state_.Settings.tDrivers, state_.DrvCount);
  EXPECT_EQ(state_.Settings.odDrivers, 1);
  EXPECT_EQ(state_.Settings.udDrivers, state_.DrvCount - 1);
  EXPECT_TRUE(state_.Settings.IsSysUpdated);

  // The page calls, in order.
  ASSERT_GE(page_.Calls.size(), 4u);
  EXPECT_EQ(page_.Calls[page_.Calls.size() - 3], std::string("ShowSearching:") + SearchingText);
  EXPECT_EQ(page_.Calls[page_.Calls.size() - 2], "BeginUpdateCheck");
  EXPECT_EQ(page_.Calls.back(), "FinishUpdateCheck");

  // The upload: field, full path as file name, declared type, and the exact report.
  EXPECT_EQ(srv.UploadCount(), 1);
  const exchangetest::TUpload up = srv.LastUpload();
  EXPECT_EQ(up.Field, "drvlist");
  EXPECT_EQ(up.FileName, Temp(PackedReportFileName));
  EXPECT_EQ(up.ContentType, "application/x-www-form-urlencoded");
  const std::string report = exchangetest::Gunzip(up.Content);
  EXPECT_EQ(report, WideToAnsi(ComposeScanReport("xp-32", "TESTPARTNER", state_.DrvList, state_.DrvCount)));
  EXPECT_EQ(
      report.rfind("<os>xp-32</os>\r\n<partner>TESTPARTNER</partner>\r\n\r\n<dev>\r\n<id>1</id>\r\n", 0), 0u);
  EXPECT_EQ(up.Content.substr(0, 10), std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0", 10));
  EXPECT_EQ(up.Content.substr(10, 12), std::string("scanres.log\0", 12));

  // Scratch files: the report was packed and removed, the packed copy stays.
  EXPECT_FALSE(Exists(Temp(ReportFileName)));
  EXPECT_EQ(ReadAll(Temp(PackedReportFileName)), up.Content);
  EXPECT_EQ(ReadAll(Temp(AnswerFileName)), WideToAnsi(o.Answer));
  EXPECT_EQ(ReadAll(Temp(CACertFileName)), exchangetest::TestCertPem());
  EXPECT_EQ(state_.Settings.CACertData, exchangetest::TestCertPem());

  const std::vector<std::string> lines = LogTexts(ReadAll(Temp(ExchangeLogFileName)));
  EXPECT_EQ(FixedLines(lines), kFullLog);
  // Transport status lines sit between the query and the answer.
  std::size_t query = 0, answer = 0, http = 0, ssl = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == " Sending HTTP Query") query = i;
    if (lines[i] == " HTTP Answer received") answer = i;
    if (lines[i].rfind(" HTTP Status:", 0) == 0) {
      ++http;
      EXPECT_GT(i, query);
    }
    if (lines[i].rfind(" SSL Status Info:", 0) == 0) {
      ++ssl;
      EXPECT_GT(i, query);
    }
  }
  EXPECT_GT(http, 0u);
  EXPECT_GT(ssl, 0u);
  EXPECT_LT(query, answer);
}

TEST_F(ExchangeScan, EmptyMachineSendsOnlyTheHeaderAndStillReadsErrors) {
  UseMachine("scan-nothing");
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetAnswer("<errcode>1</errcode><errmsg>Nothing to check</errmsg>");
  const TScanRun o = Scan();
  ASSERT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  EXPECT_EQ(state_.DrvCount, 0);
  EXPECT_EQ(exchangetest::Gunzip(srv.LastUpload().Content),
            "<os>xp-32</os>\r\n<partner>TESTPARTNER</partner>\r\n\r\n");
  EXPECT_EQ(o.ErrCode, 1);
  EXPECT_EQ(o.ErrMsg, "Nothing to check");
  EXPECT_EQ(state_.Settings.tDrivers, 0);
  EXPECT_TRUE(state_.Settings.IsSysUpdated);
}

TEST_F(ExchangeScan, ProbeFailurePromptsUntilOkThenGoesOn) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetProbe("OK");  // upper case alone does not count
  srv.SetAnswer("");
  page_.PromptResults = {1, 1};
  int prompts = 0;
  page_.BeforePromptReturns = [&] {
    if (++prompts == 2) srv.SetProbe("all ok here");
  };
  const TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  ASSERT_EQ(page_.Prompts.size(), 2u);
  EXPECT_EQ(page_.Prompts[0],
            "To continue updating drivers, you need to have an active Internet connection. "
            "Connect to the Internet and click OK.");
  EXPECT_EQ(srv.ProbeCount(), 3);
  EXPECT_EQ(srv.UploadCount(), 1);
}

TEST_F(ExchangeScan, CancelAtThePromptEndsWithoutUploadOrSuccess) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetProbe("", 503);
  state_.Settings.tDrivers = 7;
  state_.Settings.udDrivers = 5;
  state_.Settings.odDrivers = 2;
  state_.Settings.IsSysUpdated = true;
  page_.PromptResults = {2};
  const TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Cancelled);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::Aborted);
  EXPECT_TRUE(o.Terminated);
  EXPECT_EQ(page_.Prompts.size(), 1u);
  EXPECT_EQ(srv.UploadCount(), 0);
  EXPECT_EQ(srv.CertCount(), 0);
  EXPECT_FALSE(Exists(Temp(ReportFileName)));
  EXPECT_FALSE(Exists(Temp(PackedReportFileName)));
  EXPECT_FALSE(page_.Called("ShowNoAnswer"));
  EXPECT_EQ(state_.Settings.tDrivers, 7);
  EXPECT_EQ(state_.Settings.udDrivers, 5);
  EXPECT_EQ(state_.Settings.odDrivers, 2);
  EXPECT_TRUE(state_.Settings.IsSysUpdated);
}

TEST_F(ExchangeScan, FirstRunWithoutCertificateSendsNothingAndSaysSo) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetCert("", 404);
  state_.Settings.tDrivers = 7;
  state_.Settings.udDrivers = 7;
  state_.Settings.IsSysUpdated = true;
  const TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::NoAnswer);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::NoCertificate);
  EXPECT_EQ(srv.CertCount(), 1);
  EXPECT_EQ(srv.UploadCount(), 0);
  EXPECT_FALSE(Exists(Temp(CACertFileName)));
  ASSERT_EQ(page_.NoAnswers.size(), 1u);
  EXPECT_EQ(page_.NoAnswers[0], NoAnswerNotice(o.Cause));
  EXPECT_FALSE(page_.Called("FinishUpdateCheck"));
  EXPECT_EQ(state_.Settings.tDrivers, 7);
  EXPECT_EQ(state_.Settings.udDrivers, 7);
  EXPECT_TRUE(state_.Settings.IsSysUpdated);
}

TEST_F(ExchangeScan, LaterRunKeepsTheCertificateOfAnEarlierFetch) {
  TFakeUpdateServer srv;
  PointAt(srv);
  ASSERT_EQ(Scan().End, TScanEnd::Checked);  // stores the certificate
  srv.SetCert("", 500);                      // this run's fetch fails
  srv.SetAnswer("<errcode>0</errcode>");
  state_.Settings.CACertData.clear();
  std::remove(Temp(CACertFileName).c_str());
  state_.LoadSettings();  // start-up: "ccc3" written from the stored value
  ASSERT_EQ(ReadAll(Temp(CACertFileName)), exchangetest::TestCertPem());
  const TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  EXPECT_EQ(srv.CertCount(), 2);
  EXPECT_EQ(srv.UploadCount(), 2);
  EXPECT_EQ(ReadAll(Temp(CACertFileName)), exchangetest::TestCertPem());
  EXPECT_EQ(state_.Settings.CACertData, exchangetest::TestCertPem());
}

TEST_F(ExchangeScan, SlowCertificateDoesNotHoldUpTheCheckAndArrivesLater) {
  TFakeUpdateServer srv;
  PointAt(srv);
  ASSERT_EQ(Scan().End, TScanEnd::Checked);  // an earlier certificate is in place
  const std::string newer = korvane::testing::MakeSelfSignedCert("newer.invalid").CertPem;
  srv.SetCert(newer);
  srv.SetCertDelayMs(1500);
  const auto t0 = std::chrono::steady_clock::now();
  const TScanRun o = Scan(100);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1400));
  EXPECT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  EXPECT_EQ(srv.UploadCount(), 2);  // sent with the earlier certificate
  // The late completion still stores the new text and rewrites "ccc3".
  EXPECT_TRUE(queue_.PumpUntil([&] { return state_.Settings.CACertData == newer; }, 10000));
  EXPECT_EQ(ReadAll(Temp(CACertFileName)), newer);
}

TEST_F(ExchangeScan, OnlyAPemCertificateOfTheAnswerIsEverStored) {
  TFakeUpdateServer srv;
  PointAt(srv);
  // Text that is no certificate is never stored: a first run has none to send with.
  srv.SetCert("this is not a certificate");
  TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::NoAnswer);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::NoCertificate);
  EXPECT_FALSE(Exists(Temp(CACertFileName)));
  EXPECT_EQ(state_.Settings.CACertData, "");
  // Nor a block that only looks like one.
  srv.SetCert("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
  EXPECT_EQ(Scan().Cause.Kind, TCauseKind::NoCertificate);
  // A certificate among other text: that block alone reaches the settings and "ccc3".
  const std::string pem = exchangetest::TestCertPem();
  srv.SetCert("<html>\r\n" + std::string(4000, 'j') + "\r\n" + pem + "trailing <script>x</script>\n" + pem);
  o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  EXPECT_EQ(state_.Settings.CACertData, pem);
  EXPECT_EQ(ReadAll(Temp(CACertFileName)), pem);
  // Junk later keeps the certificate of the earlier fetch.
  srv.SetCert("junk");
  EXPECT_EQ(Scan().End, TScanEnd::Checked);
  EXPECT_EQ(ReadAll(Temp(CACertFileName)), pem);
}

TEST_F(ExchangeScan, AnswersBeyondTheirCapsAreNoAnswerAndNothingOfThemIsKept) {
  TFakeUpdateServer srv;
  PointAt(srv);
  // A certificate answer beyond 64 KiB, even with a certificate in it, stores nothing.
  srv.SetCert(exchangetest::TestCertPem() + std::string(64 * 1024, 'c'));
  TScanRun o = Scan();
  EXPECT_EQ(o.Cause.Kind, TCauseKind::NoCertificate);
  EXPECT_EQ(state_.Settings.CACertData, "");
  EXPECT_FALSE(Exists(Temp(CACertFileName)));
  // A check answer beyond 8 MiB is no answer: not merged, not logged, not written.
  srv.SetCert(exchangetest::TestCertPem());
  srv.SetAnswer("<dev><id>1</id><date>1-1-2020</date><url>u</url></dev>" + std::string(8 * 1024 * 1024, 'a'));
  o = Scan();
  EXPECT_EQ(o.End, TScanEnd::NoAnswer);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::TooLarge);
  EXPECT_EQ(ReadAll(Temp(AnswerFileName)), "");
  EXPECT_EQ(FixedLines(LogTexts(ReadAll(Temp(ExchangeLogFileName)))), WithoutAnswerLine());
  for (int32_t n = 1; n <= state_.DrvCount; ++n) EXPECT_FALSE(state_.DrvList[n].IsOutOfDate());
  // At the cap it is an answer.
  std::string full = "<dev><id>1</id><date>1-1-2020</date><url>u</url></dev>";
  full += std::string(8 * 1024 * 1024 - full.size(), ' ');
  srv.SetAnswer(full);
  o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  EXPECT_TRUE(state_.DrvList[1].IsOutOfDate());
}

TEST_F(ExchangeScan, UnloadableCertificateFailsTheUploadBeforeAnythingIsSent) {
  TFakeUpdateServer srv;
  PointAt(srv);
  // A value stored before certificates were checked: written to "ccc3" at start-up.
  srv.SetCert("", 404);
  state_.Settings.CACertData = "this is not a certificate";
  state_.SaveSettings();
  state_.LoadSettings();
  const TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::NoAnswer);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::Tls);
  EXPECT_EQ(srv.UploadCount(), 0);
  EXPECT_EQ(ReadAll(Temp(CACertFileName)), "this is not a certificate");
  EXPECT_EQ(page_.NoAnswers.size(), 1u);
  EXPECT_EQ(FixedLines(LogTexts(ReadAll(Temp(ExchangeLogFileName)))), WithoutAnswerLine());
  EXPECT_EQ(ReadAll(Temp(AnswerFileName)), "");
}

TEST_F(ExchangeScan, HangingUploadTimesOutWithNoAnswer) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetUploadDelayMs(5000);
  srv.SetAnswer("<dev><id>1</id><date>x</date><url>u</url></dev>");
  state_.Settings.tDrivers = 3;
  state_.Settings.udDrivers = 3;  // an earlier check's figures, which add up
  const auto t0 = std::chrono::steady_clock::now();
  const TScanRun o = Scan(5000, 300);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4000));
  EXPECT_EQ(o.End, TScanEnd::NoAnswer);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::Timeout);
  EXPECT_EQ(srv.UploadCount(), 1);
  EXPECT_TRUE(Exists(Temp(AnswerFileName)));
  EXPECT_EQ(ReadAll(Temp(AnswerFileName)), "");
  EXPECT_EQ(FixedLines(LogTexts(ReadAll(Temp(ExchangeLogFileName)))), WithoutAnswerLine());
  EXPECT_EQ(page_.NoAnswers.size(), 1u);
  EXPECT_EQ(state_.Settings.tDrivers, 3);
  for (int32_t n = 1; n <= state_.DrvCount; ++n) EXPECT_FALSE(state_.DrvList[n].IsOutOfDate());
}

// Each way the upload can fail ends the scan without an answer, the notice
// naming the cause, the log holding only its fixed lines, the figures kept.
TEST_F(ExchangeScan, EveryUploadFailureIsNoAnswerNamingItsCause) {
  TFakeUpdateServer srv;
  const std::string tlsToPlainPort = "https" + srv.HttpBase().substr(4);
  std::vector<std::string> packLog = WithoutAnswerLine();
  packLog.erase(std::find(packLog.begin(), packLog.end(), " Adding files to send stream completed"));
  packLog.erase(std::find(packLog.begin(), packLog.end(), " Sending HTTP Query"));
  struct Case {
    const char* name;
    std::string https;
    TCauseKind kind;
    std::function<void()> arrange;
    std::vector<std::string> log;
  } cases[] = {
      {"name that does not resolve", "https://no-such-host.invalid", TCauseKind::Resolve, nullptr,
       WithoutAnswerLine()},
      {"closed port", "https://127.0.0.1:1", TCauseKind::Connect, nullptr, WithoutAnswerLine()},
      {"TLS to a plain HTTP port", tlsToPlainPort, TCauseKind::Tls, nullptr, WithoutAnswerLine()},
      {"error status", srv.HttpsBase(), TCauseKind::Status, [&] { srv.SetAnswer("", 502); },
       WithoutAnswerLine()},
      {"report that cannot be packed", srv.HttpsBase(), TCauseKind::LocalFile,
       [&] { fs::create_directory(Temp(PackedReportFileName)); }, packLog},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    page_ = TRecordingPage();
    srv.SetAnswer("<dev><id>1</id><date>x</date><url>u</url></dev>");
    SetUrls(srv.HttpBase(), c.https);
    if (c.arrange) c.arrange();
    state_.Settings.tDrivers = 7;
    state_.Settings.udDrivers = 6;
    state_.Settings.odDrivers = 1;
    state_.Settings.IsSysUpdated = true;
    const TScanRun o = Scan(5000, 2000);
    EXPECT_EQ(o.End, TScanEnd::NoAnswer);
    EXPECT_STREQ(CauseKindName(o.Cause.Kind), CauseKindName(c.kind)) << o.Cause.Text;
    ASSERT_EQ(page_.NoAnswers.size(), 1u);
    const std::string& notice = page_.NoAnswers[0];
    EXPECT_EQ(notice, NoAnswerNotice(o.Cause));
    EXPECT_EQ(notice.rfind(std::string(NoAnswerText) + " ", 0), 0u);
    EXPECT_GT(notice.size(), std::strlen(NoAnswerText) + 10) << "the cause is named: " << notice;
    EXPECT_EQ(FixedLines(LogTexts(ReadAll(Temp(ExchangeLogFileName)))), c.log);
    EXPECT_EQ(state_.Settings.tDrivers, 7);
    EXPECT_EQ(state_.Settings.odDrivers, 1);
    EXPECT_TRUE(state_.Settings.IsSysUpdated);
    for (int32_t n = 1; n <= state_.DrvCount; ++n) EXPECT_FALSE(state_.DrvList[n].IsOutOfDate());
    std::error_code ec;
    fs::remove(Temp(PackedReportFileName), ec);
  }
  EXPECT_EQ(srv.UploadCount(), 1);  // only the error status case reached the upload
}

// Without a usable temporary folder the check writes nothing anywhere (never
// into the current folder) and names the cause: a linked Temp, then a machine
// whose Temp path does not fit the 260-character buffer.
TEST_F(ExchangeScan, UnusableTempFolderFailsTheCheckBeforeAnythingIsWritten) {
  TFakeUpdateServer srv;
  const std::string cwd = korvane::testing::MakeScratchFolder("kv-exchange-cwd");
  char old[4096] = {};
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(cwd.c_str()), 0);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "linked Temp" : "300-character machine path");
    std::string elsewhere;
    if (round == 0) {
      UseMachine("scan-edge");
      elsewhere = machine_ + "/elsewhere";
      fs::create_directory(elsewhere);
      fs::remove_all(machine_ + "/Temp");
      fs::create_directory_symlink(elsewhere, machine_ + "/Temp");
    } else {
      UseMachine("scan-edge", 300);
      ASSERT_GE(machine_.size(), 300u);
    }
    PointAt(srv);
    page_ = TRecordingPage();
    state_.ReadTempFolder();
    EXPECT_TRUE(state_.TempFolder.empty());
    EXPECT_FALSE(state_.TempFolderError.empty());
    state_.Settings.IsSysUpdated = true;
    const TScanRun o = Scan();
    EXPECT_EQ(o.End, TScanEnd::NoAnswer);
    EXPECT_EQ(o.Cause.Kind, TCauseKind::TempFolder);
    EXPECT_EQ(o.Cause.Text, state_.TempFolderError);
    ASSERT_EQ(page_.NoAnswers.size(), 1u);
    EXPECT_EQ(page_.NoAnswers[0], NoAnswerNotice(o.Cause));
    EXPECT_FALSE(page_.Called("BeginUpdateCheck"));
    EXPECT_TRUE(fs::is_empty(cwd));
    if (!elsewhere.empty()) {
      EXPECT_TRUE(fs::is_empty(elsewhere));
    }
    EXPECT_TRUE(state_.Settings.IsSysUpdated);
  }
  EXPECT_EQ(srv.ProbeCount(), 0);
  EXPECT_EQ(srv.UploadCount(), 0);
  ASSERT_EQ(::chdir(old), 0);
  korvane::testing::RemoveFolder(cwd);
}

TEST_F(ExchangeScan, ErrorStatusIsNoAnswerButAnEmptyBodyIsAVerdict) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetAnswer("<errcode>3</errcode>", 500);
  state_.Settings.IsSysUpdated = true;
  TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::NoAnswer);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::Status);
  EXPECT_EQ(o.ErrCode, 0);
  EXPECT_EQ(page_.NoAnswers.size(), 1u);

  page_ = TRecordingPage();
  state_.Settings.IsSysUpdated = false;
  state_.Settings.odDrivers = 4;
  srv.SetAnswer("", 200);
  o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  EXPECT_TRUE(page_.NoAnswers.empty());
  EXPECT_FALSE(page_.Called("FinishUpdateCheck"));
  EXPECT_EQ(state_.Settings.tDrivers, state_.DrvCount);
  EXPECT_EQ(state_.Settings.udDrivers, state_.DrvCount);
  EXPECT_EQ(state_.Settings.odDrivers, 0);
  EXPECT_FALSE(state_.Settings.IsSysUpdated);  // an empty answer leaves it as it was
  EXPECT_TRUE(Exists(Temp(AnswerFileName)));
  EXPECT_EQ(ReadAll(Temp(AnswerFileName)), "");
}

TEST_F(ExchangeScan, ErrorCodesOneAndTwoReachTheCompletion) {
  TFakeUpdateServer srv;
  PointAt(srv);
  for (int code : {1, 2}) {
    srv.SetAnswer("<errmsg>Server notice " + std::to_string(code) + "</errmsg><errcode>" +
                  std::to_string(code) + "</errcode>");
    const TScanRun o = Scan();
    EXPECT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
    EXPECT_EQ(o.ErrCode, code);
    EXPECT_EQ(o.ErrMsg, "Server notice " + std::to_string(code));
    EXPECT_EQ(state_.Settings.odDrivers, 0);
    EXPECT_TRUE(state_.Settings.IsSysUpdated);
  }
}

TEST_F(ExchangeScan, MergeEdgeCasesOverAWholeScan) {
  TFakeUpdateServer srv;
  PointAt(srv);
  // Block 1 names no record; block 2 lacks a url (not taken from block 3);
  // block 3 names record 1 twice over; the last block is never closed.
  srv.SetAnswer(
      "<dev><id>999</id><date>a</date><url>u0</url></dev>"
      "<dev><id>2</id><date>b</date><vers>2</vers></dev>"
      "<dev><id>1</id><date>c</date><vendor>V</vendor><url>u1</url></dev>"
      "<dev><id>1</id><date>d</date><url>u2</url>"
      "<dev><id>3</id><date>e</date><url>u3</url></dev>");
  const TScanRun o = Scan();
  ASSERT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  ASSERT_GE(state_.DrvCount, 3);
  EXPECT_EQ(state_.DrvList[2].NewDate, "b");
  EXPECT_EQ(state_.DrvList[2].NewURL, "");
  EXPECT_EQ(state_.DrvList[2].NewVendor, "");
  EXPECT_EQ(state_.DrvList[1].NewDate, "d");
  EXPECT_EQ(state_.DrvList[1].NewURL, "u2");
  EXPECT_EQ(state_.DrvList[3].NewDate, "");
  EXPECT_EQ(state_.Settings.odDrivers, 3);
  EXPECT_EQ(state_.Settings.udDrivers, state_.DrvCount - 3);
  EXPECT_FALSE(state_.Settings.IsSysUpdated);
}

TEST_F(ExchangeScan, NonDecimalIdFailsTheScan) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetAnswer("<dev><id>first</id><date>a</date></dev>");
  const TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Failed);
  EXPECT_EQ(o.Cause.Kind, TCauseKind::Malformed);
  EXPECT_FALSE(o.Answer.empty());  // an answer came; it could not be read
}

TEST_F(ExchangeScan, ScratchFileSymlinkIsNotWrittenThrough) {
  TFakeUpdateServer srv;
  PointAt(srv);
  const std::string victim = machine_ + "/victim.txt";
  { std::ofstream(victim) << "untouched"; }
  fs::create_symlink(victim, Temp(AnswerFileName));
  const TScanRun o = Scan();
  EXPECT_EQ(o.End, TScanEnd::Checked);  // the answer file replaced the link
  EXPECT_EQ(ReadAll(victim), "untouched");
  EXPECT_FALSE(fs::is_symlink(Temp(AnswerFileName)));
}

TEST_F(ExchangeScan, ServerAddressesComeFromTheSettingsKeyOrDefaults) {
  TServerUrls d = ReadServerUrls();
  EXPECT_EQ(d.UpdateURL, serverdefaults::kUpdateURL);
  EXPECT_EQ(d.SecureUpdateURL, serverdefaults::kSecureUpdateURL);
  EXPECT_EQ(d.VendorURL, serverdefaults::kVendorURL);

  SetUrls("http://127.0.0.1:8080/", "https://127.0.0.1:8443");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const DWORD number = 5;
  RegSetValueExA(key, VendorURLValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                 sizeof number);
  RegCloseKey(key);
  LoadServerUrls();
  EXPECT_EQ(UpdateURL(), "http://127.0.0.1:8080");
  EXPECT_EQ(ProbeAddress(), "http://127.0.0.1:8080/isavail.txt");
  EXPECT_EQ(CACertAddress(), "http://127.0.0.1:8080/cacert.txt");
  EXPECT_EQ(UserMessageAddress(), "http://127.0.0.1:8080/usermsg.txt");
  EXPECT_EQ(UpdateCheckAddress(), "https://127.0.0.1:8443/remote/check_upd.php");
  EXPECT_EQ(VendorURL(), serverdefaults::kVendorURL);  // not text: ignored

  // Reading never writes: saving and loading the settings leaves the values alone.
  state_.SaveSettings();
  state_.LoadSettings();
  EXPECT_EQ(ReadServerUrls().UpdateURL, "http://127.0.0.1:8080");
}

TEST_F(ExchangeScan, ReferenceServerMarksCatalogueDevicesOutOfDate) {
  if (!korvane::testing::UpdateServerProcess::Available()) GTEST_SKIP() << "no korvane-updsrv";
  // The display adapter of the fixture has an older driver than this entry.
  const std::string dir = korvane::testing::MakeScratchFolder("kv-exchange-ref");
  korvane::testing::WriteTextFile(dir + "/catalogue.txt",
                                  "PCI\\VEN_10DE&DEV_0181 | 1-15-2009 | 9.9.9.9 | NVIDIA | nv.zip\n");
  korvane::testing::UpdateServerOptions opt;
  opt.Catalogue = dir + "/catalogue.txt";
  korvane::testing::UpdateServerProcess ref(opt);
  SetUrls(ref.HttpBase(), ref.HttpsBase());
  const TScanRun o = Scan();
  ASSERT_EQ(o.End, TScanEnd::Checked) << o.Cause.Text;
  int outOfDate = 0;
  for (int32_t n = 1; n <= state_.DrvCount; ++n) {
    const TDrvRec& r = state_.DrvList[n];
    if (!r.IsOutOfDate()) continue;
    ++outOfDate;
    EXPECT_EQ(r.NewDate, "1-15-2009");
    EXPECT_EQ(r.NewVersion, "9.9.9.9");
    EXPECT_EQ(r.NewVendor, "NVIDIA");
    EXPECT_NE(r.NewURL.view().find("nv.zip"), std::string::npos);
    EXPECT_NE(r.HardwareIDs.view().find(u"VEN_10DE&DEV_0181"), std::u16string::npos);
  }
  EXPECT_GE(outOfDate, 1);
  EXPECT_EQ(state_.Settings.odDrivers, outOfDate);
  EXPECT_EQ(state_.Settings.udDrivers + state_.Settings.odDrivers, state_.DrvCount);
  EXPECT_TRUE(state_.Settings.IsSysUpdated);
  EXPECT_EQ(ReadAll(Temp(CACertFileName)), ReadAll(ref.CaCertFile()));
  korvane::testing::RemoveFolder(dir);
}

// The scan owns its data until it ends. While it runs (held at the upload),
// the user-interface thread does what a start page refilled through the tray's
// settings does (a new system token, the processor summary, settings applied,
// the window's lists read); none of it reaches the scan, and the window's
// lists stay the last scan's until the scan hands its own over, in one step,
// at its end. Run under ThreadSanitizer as well.
TEST_F(ExchangeScan, TheScanOwnsItsDataUntilItHandsItOver) {
  TFakeUpdateServer srv;
  PointAt(srv);
  srv.SetAnswer(
      "<dev>\r\n<id>1</id>\r\n<date>d</date>\r\n<vers>v</vers>\r\n<vendor>x</vendor>\r\n<url>u</url>\r\n</"
      "dev>\r\n");
  srv.SetUploadDelayMs(300);
  state_.Settings.tDrivers = 77;
  auto* t = new TScanThread(state_, page_);
  t->CertWaitMs = 5000;
  t->ReadTimeoutMs = 3000;
  TWaitHandle h = t->Handle();
  t->Start();
  int refills = 0;
  ASSERT_TRUE(queue_.PumpUntil(
      [&] {
        if (h->IsSet()) return true;
        // The start page's refill and an OK on the settings page, meanwhile.
        state_.OsShortName = "vista-64";
        state_.PartnerID = "OTHER";
        state_.Settings.ProxyHost = "proxy" + std::to_string(refills);
        try {
          (void)GetProcessorSummary();
        } catch (const std::exception&) {
          // A machine without processors: the page shows nothing, the scan goes on.
        }
        EXPECT_EQ(state_.DrvCount, 0);
        EXPECT_EQ(state_.DrvList.size(), 1u);
        EXPECT_EQ(state_.GUIDCount, 0);
        EXPECT_EQ(state_.Settings.tDrivers, 77);
        ++refills;
        return false;
      },
      30000));
  queue_.PumpUntil([] { return false; }, 50);
  EXPECT_EQ(t->End, TScanEnd::Checked) << t->Cause.Text;
  delete t;
  EXPECT_GT(refills, 0);
  EXPECT_EQ(srv.UploadCount(), 1);
  // The report carries the token and tag of the scan's start.
  const std::string report = exchangetest::Gunzip(srv.LastUpload().Content);
  EXPECT_EQ(report.rfind("<os>xp-32</os>\r\n<partner>TESTPARTNER</partner>\r\n", 0), 0u)
      << report.substr(0, 80);
  // The result, handed over: lists and figures together.
  ASSERT_GE(state_.DrvCount, 1);
  EXPECT_EQ(state_.DrvList.size(), static_cast<std::size_t>(state_.DrvCount) + 1);
  EXPECT_GT(state_.GUIDCount, 0);
  EXPECT_EQ(state_.DrvList[1].NewDate, "d");
  EXPECT_EQ(state_.Settings.tDrivers, state_.DrvCount);
  EXPECT_EQ(state_.Settings.odDrivers, 1);
  EXPECT_EQ(state_.Settings.ProxyHost, "proxy" + std::to_string(refills - 1));  // the user's, untouched
}
