// korvane-check with the update check: the completion bookkeeping of a scan.
#include "tools/korvane-check/CheckTool.h"

#include "core/uSettings.h"
#include "support/FakeUpdateServer.h"
#include "scan/uServerUrls.h"
#include "support/ScratchMachine.h"
#include "support/UpdateServerProcess.h"

#include <gtest/gtest.h>

#include <korvane_machine.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using exchangetest::TFakeUpdateServer;

namespace {

class ExchangeCheckTool : public ::testing::Test {
 protected:
  void SetUp() override { machine_.emplace("scan-edge"); }
  void TearDown() override {
    machine_.reset();
    LoadServerUrls();
  }

  void SetValue(const char* name, const std::string& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
    RegCloseKey(key);
  }
  void SetNumber(const char* name, DWORD n) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    RegCloseKey(key);
  }
  TSettings Stored() {
    TSettings s;
    char buf[MAX_PATH + 1] = {};
    GetTempPathA(sizeof buf, buf);
    LoadSettings(s, buf);
    return s;
  }
  TCheckResult Run(TKorvaneState& state) {
    PrepareCheckState(state, machine_->Path("korvane-check"));
    TCheckOptions options;
    options.Exchange = true;
    return RunCheckScan(state, options, err_);
  }

  std::optional<korvane::testing::ScratchMachine> machine_;
  std::ostringstream err_;
};

}  // namespace

TEST_F(ExchangeCheckTool, SuccessStoresLastScanAndTheFigures) {
  TFakeUpdateServer srv;
  SetValue(UpdateURLValueName, srv.HttpBase());
  SetValue(SecureUpdateURLValueName, srv.HttpsBase());
  srv.SetAnswer(
      "<dev><id>1</id><date>1-1-2010</date><vers>2</vers><vendor>V</vendor>"
      "<url>http://127.0.0.1:1/a.zip</url></dev><errcode>2</errcode>"
      "<errmsg>Heads up</errmsg>");
  TKorvaneState state;
  const TCheckResult r = Run(state);
  ASSERT_EQ(r.End, TScanEnd::Checked) << r.Cause.Text;
  EXPECT_EQ(r.ErrCode, 2);
  EXPECT_EQ(r.ErrMsg, "Heads up");
  EXPECT_FALSE(state.Settings.LastScan.empty());
  const TSettings s = Stored();
  EXPECT_EQ(s.LastScan, state.Settings.LastScan);
  EXPECT_EQ(s.tDrivers, state.DrvCount);
  EXPECT_EQ(s.odDrivers, 1);
  EXPECT_EQ(s.udDrivers, state.DrvCount - 1);
  EXPECT_TRUE(s.IsSysUpdated);
  EXPECT_EQ(s.CACertData, exchangetest::TestCertPem());
}

// The report carries the partner tag of the korvane executable beside the tool.
TEST_F(ExchangeCheckTool, ReportCarriesThePartnerTagOfTheProgramBesideIt) {
  TFakeUpdateServer srv;
  SetValue(UpdateURLValueName, srv.HttpBase());
  SetValue(SecureUpdateURLValueName, srv.HttpsBase());
  {
    std::ofstream exe(machine_->Path("korvane"), std::ios::binary);
    exe << std::string(4096, '\x7f') << std::string(25, '0') << "#acme2007x";
  }
  TKorvaneState state;
  const TCheckResult r = Run(state);
  ASSERT_EQ(r.End, TScanEnd::Checked) << r.Cause.Text;
  EXPECT_EQ(state.PartnerID, "acme2007x");
  const std::string report = exchangetest::Gunzip(srv.LastUpload().Content);
  EXPECT_NE(report.find("\r\n<partner>acme2007x</partner>\r\n\r\n"), std::string::npos)
      << report.substr(0, 80);
}

TEST_F(ExchangeCheckTool, NoAnswerKeepsTheStoredFiguresAndNamesTheCause) {
  TFakeUpdateServer srv;
  SetValue(UpdateURLValueName, srv.HttpBase());
  SetValue(SecureUpdateURLValueName, srv.HttpsBase());
  srv.SetAnswer("", 503);
  SetValue("LastScan", "1/2/2026 3:04:05 AM");
  SetNumber("tDrivers", 9);
  SetNumber("udDrivers", 8);
  SetNumber("odDrivers", 1);
  SetNumber("IsSysUpdated", 1);
  TKorvaneState state;
  const TCheckResult r = Run(state);
  EXPECT_EQ(r.End, TScanEnd::NoAnswer);
  EXPECT_EQ(r.Cause.Kind, TCauseKind::Status);
  EXPECT_EQ(state.Settings.LastScan, "");
  EXPECT_TRUE(state.Settings.IsSysUpdated);  // no answer is no verdict
  EXPECT_EQ(state.Settings.tDrivers, 9);
  EXPECT_EQ(state.Settings.odDrivers, 1);
  // Nothing is saved by a failed scan.
  const TSettings s = Stored();
  EXPECT_EQ(s.LastScan, "1/2/2026 3:04:05 AM");
  EXPECT_EQ(s.tDrivers, 9);
  // stderr carries the window's notice, cause included.
  EXPECT_NE(err_.str().find(NoAnswerNotice(r.Cause) + "\n"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("stopped"), std::string::npos) << err_.str();
}

TEST_F(ExchangeCheckTool, PromptWithoutATerminalAnswersCancel) {
  TFakeUpdateServer srv;
  SetValue(UpdateURLValueName, srv.HttpBase());
  SetValue(SecureUpdateURLValueName, srv.HttpsBase());
  srv.SetProbe("nope");
  TKorvaneState state;
  const TCheckResult r = Run(state);
  EXPECT_EQ(r.End, TScanEnd::Cancelled);
  EXPECT_EQ(srv.UploadCount(), 0);
  EXPECT_EQ(srv.ProbeCount(), 1);
}

TEST_F(ExchangeCheckTool, ControlCharactersOfTheAnswerReachNoTerminal) {
  TFakeUpdateServer srv;
  // Title change, clipboard write, screen clear, a forged line, DEL and a C1 CSI
  // (0x81 is one of the code page's five undefined bytes: U+0081 in UTF-8).
  const std::string device =
      "<dev><id>1</id><date>1-1-2010</date><vers>2\r\nnewer driver: forged</vers>"
      "<vendor>V\x1b]52;c;ZXZpbA==\x07</vendor><url>http://x.invalid/\x1b[2J\x7f\x81[1m</url></dev>";
  const std::string message = "<errmsg>\x1b]0;owned\x07Heads\tup\x81</errmsg>";
  const auto clean = [](const std::string& text, bool tabs) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if ((c < 0x20 && c != '\n' && !(tabs && c == '\t')) || c == 0x7F)
        return "byte " + std::to_string(c) + " at " + std::to_string(i);
      if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
          static_cast<unsigned char>(text[i + 1]) <= 0x9F)
        return "C1 at " + std::to_string(i);
    }
    return std::string();
  };
  const auto run = [&](const std::string& mode, std::string& out, std::string& err) {
    std::vector<std::string> args = {"--exchange", "--server", srv.HttpBase(), "--secure-server",
                                     srv.HttpsBase()};
    if (!mode.empty()) args.push_back(mode);
    std::ostringstream o, e;
    const int status = KorvaneCheckMain(args, o, e);
    out = o.str();
    err = e.str();
    return status;
  };
  std::string out, err;
  srv.SetAnswer(device + "<errcode>1</errcode>" + message);
  for (const char* m : {"", "--tsv", "--json"}) {
    const std::string mode = m;
    SCOPED_TRACE(mode);
    EXPECT_EQ(run(mode, out, err), kExitOutOfDate) << err;
    EXPECT_EQ(clean(err, false), "") << err;
    if (mode == "--json") {
      EXPECT_NE(out.find("\\u001b]52;c;ZXZpbA==\\u0007"), std::string::npos) << out;  // escaped, kept
      continue;
    }
    EXPECT_EQ(clean(out, mode == "--tsv"), "") << out;
    EXPECT_NE(out.find("V?]52;c;ZXZpbA==?"), std::string::npos) << out;
    if (mode.empty()) {
      EXPECT_NE(out.find("version 2??newer driver: forged, vendor"), std::string::npos) << out;
      EXPECT_NE(out.find("download http://x.invalid/?[2J??[1m\n"), std::string::npos) << out;
    } else {
      EXPECT_NE(out.find("?]0;owned?Heads\\tup?"), std::string::npos) << out;
    }
  }
  // The server's error message on stderr.
  srv.SetAnswer(device + "<errcode>2</errcode>" + message);
  EXPECT_EQ(run("", out, err), kExitFailed);
  EXPECT_EQ(clean(err, false), "") << err;
  EXPECT_NE(err.find("Korvane error notice: ?]0;owned?Heads?up?\n"), std::string::npos) << err;
}
