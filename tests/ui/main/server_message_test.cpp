// The server's message of the day: the decision on an answer (no server), and
// the main window's fetch against the reference server serving a message file,
// with the local copy "kvnlmsg.txt" carrying the show-once memory across runs.
#include "skin_form_fixture.h"
#include "support/FakeTray.h"

#include "core/uSettings.h"
#include "core/uThread.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/main/uServerMessage.h"
#include "ui/main/uTray.h"
#include "support/ScopedEnv.h"
#include "support/UpdateServerProcess.h"

#include "korvane_window.h"
#include <winreg.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <optional>
#include <memory>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using korvane::testing::UpdateServerOptions;
using korvane::testing::UpdateServerProcess;
using korvane::testing::WriteTextFile;

namespace {

std::string Block(const std::string& inner) { return "<msg>" + inner + "</msg>"; }

// ---- the decision ----------------------------------------------------------------

TEST(ServerMessageDecision, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(TrimBlanks(" \t\r\n\x01<msg>a b</msg>\x1f \n"), "<msg>a b</msg>");
  EXPECT_EQ(TrimBlanks(" \r\n "), "");
  EXPECT_EQ(TrimBlanks("\xA0x\xA0"), "\xA0x\xA0");  // 8-bit letters and no-break spaces stay
}

TEST(ServerMessageDecision, RangeBoundsAreInclusive) {
  const auto shown = [](const std::string& inner, const std::string& version) {
    return DecideServerMessage(Block(inner + "<msgtext>t</msgtext>"), "", version).Show;
  };
  EXPECT_TRUE(shown("<sver>1.2.0.0</sver>", "1.2.0.0"));
  EXPECT_FALSE(shown("<sver>1.2.0.1</sver>", "1.2.0.0"));
  EXPECT_TRUE(shown("<fver>1.2.0.0</fver>", "1.2.0.0"));
  EXPECT_FALSE(shown("<fver>1.1.99.99</fver>", "1.2.0.0"));
  EXPECT_TRUE(shown("<sver>1.0.0.0</sver><fver>1.2.0.0</fver>", "1.2.0.0"));
  EXPECT_FALSE(shown("<sver>1.0.0.0</sver><fver>1.1.0.0</fver>", "1.2.0.0"));
  EXPECT_TRUE(shown("<fver>2.0.0.0</fver>\r\n<sver>1.0.0.0</sver>", "1.5.3.25"));  // any order
  EXPECT_FALSE(shown("", "1.2.0.0"));
  EXPECT_FALSE(shown("<sver></sver><fver></fver>", "1.2.0.0"));
}

TEST(ServerMessageDecision, UnconvertibleRangeDoesNotApply) {
  const auto shown = [](const std::string& inner, const std::string& version) {
    return DecideServerMessage(Block(inner + "<msgtext>t</msgtext>"), "", version).Show;
  };
  EXPECT_FALSE(shown("<sver>1.0</sver>", "1.2.0.0"));
  EXPECT_FALSE(shown("<sver>1.0.0.x</sver>", "1.2.0.0"));
  EXPECT_FALSE(shown("<fver>99.99.99.99.1</fver>", "1.2.0.0"));
  EXPECT_FALSE(shown("<sver>1.0.0.0</sver>", ""));
  EXPECT_FALSE(shown("<fver>9.0.0.0</fver>", ""));
  // A later block that converts is still looked at.
  const auto d = DecideServerMessage(
      Block("<sver>bad</sver><msgtext>a</msgtext>") + Block("<sver>1.0.0.0</sver><msgtext>b</msgtext>"), "",
      "1.2.0.0");
  EXPECT_TRUE(d.Show);
  EXPECT_EQ(d.Text, "b");
}

TEST(ServerMessageDecision, TagsAreReadInsideTheirOwnBlockOnly) {
  // The first block has no range of its own: the second block's sver must not lend it one.
  const auto d =
      DecideServerMessage(Block("<msgtext>First</msgtext><msgurl>u1</msgurl>") +
                              Block("<sver>1.0.0.0</sver><msgtext>Second</msgtext><msgurl>u2</msgurl>"),
                          "", "1.2.0.0");
  EXPECT_TRUE(d.Show);
  EXPECT_EQ(d.Text, "Second");
  EXPECT_EQ(d.Url, "u2");
}

TEST(ServerMessageDecision, TagsAreCaseSensitive) {
  const auto d = DecideServerMessage("<MSG><sver>1.0.0.0</sver><msgtext>x</msgtext></MSG>", "", "1.2.0.0");
  EXPECT_FALSE(d.HasMessages);
  const auto e = DecideServerMessage(Block("<SVER>1.0.0.0</SVER><msgtext>x</msgtext>"), "", "1.2.0.0");
  EXPECT_TRUE(e.HasMessages);
  EXPECT_FALSE(e.Show);
}

TEST(ServerMessageDecision, UrlIsTheLastExaminedBlocksEvenWhenSilent) {
  const std::string answer = Block("<sver>9.0.0.0</sver><msgurl>a</msgurl>") + Block("<msgurl>b</msgurl>");
  const auto d = DecideServerMessage(answer, "", "1.2.0.0");
  EXPECT_FALSE(d.Show);
  EXPECT_EQ(d.Url, "b");
  const auto same = DecideServerMessage(answer, answer, "1.2.0.0");
  EXPECT_FALSE(same.Show);
  EXPECT_EQ(same.Url, "b");
}

TEST(ServerMessageDecision, HalfPairsGiveEmptyValues) {
  const auto d = DecideServerMessage(Block("<sver>1.0.0.0</sver><msgtext>open only<msgurl>x"), "", "1.2.0.0");
  EXPECT_TRUE(d.Show);
  EXPECT_EQ(d.Text, "");
  EXPECT_EQ(d.Url, "");
}

TEST(ServerMessageCopy, WrittenExactlyAndLeftAloneWithoutMessages) {
  const std::string dir = korvane::testing::MakeScratchFolder("kvmsgcopy") + "/";
  const std::string answer = "<msg><sver>1.0.0.0</sver>\n<msgtext>Hi</msgtext></msg>\nend";
  auto d = ProcessServerAnswer("\r\n " + answer + " \r\n", dir, "1.2.0.0");
  EXPECT_TRUE(d.Show);
  std::ifstream in(dir + "kvnlmsg.txt", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), answer);
  // LF line ends in the copy read back unchanged: no second showing.
  EXPECT_FALSE(ProcessServerAnswer(answer, dir, "1.2.0.0").Show);
  // An answer without a block neither decides nor touches the copy.
  d = ProcessServerAnswer("maintenance", dir, "1.2.0.0");
  EXPECT_FALSE(d.HasMessages);
  std::ifstream again(dir + "kvnlmsg.txt", std::ios::binary);
  std::stringstream ss2;
  ss2 << again.rdbuf();
  EXPECT_EQ(ss2.str(), answer);
  korvane::testing::RemoveFolder(dir);
}

// A link planted at "kvnlmsg.txt": the copy replaces the link, its target keeps its bytes.
TEST(ServerMessageCopy, NeverWrittenThroughAPlantedLink) {
  const std::string dir = korvane::testing::MakeScratchFolder("kvmsglink") + "/";
  { std::ofstream(dir + "victim", std::ios::binary) << "precious"; }
  ASSERT_EQ(::symlink((dir + "victim").c_str(), (dir + "kvnlmsg.txt").c_str()), 0);
  const std::string answer = "<msg><sver>1.0.0.0</sver><msgtext>Hi</msgtext></msg>";
  EXPECT_TRUE(ProcessServerAnswer(answer, dir, "1.2.0.0").Show);
  std::ifstream victim(dir + "victim", std::ios::binary);
  std::stringstream ss;
  ss << victim.rdbuf();
  EXPECT_EQ(ss.str(), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(dir + "kvnlmsg.txt"));
  std::ifstream copy(dir + "kvnlmsg.txt", std::ios::binary);
  std::stringstream ss2;
  ss2 << copy.rdbuf();
  EXPECT_EQ(ss2.str(), answer);
  korvane::testing::RemoveFolder(dir);
}

// ---- the main window against the reference server --------------------------------

class ServerMessageTest : public SkinFormTest {
 protected:
  static void SetUpTestSuite() {
    if (!UpdateServerProcess::Available()) return;
    folder_ = korvane::testing::MakeScratchFolder("kvmsgsrv");
    UpdateServerOptions o;
    o.Messages = folder_ + "/messages.txt";
    o.Https = false;
    server_ = new UpdateServerProcess(o);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    if (!folder_.empty()) korvane::testing::RemoveFolder(folder_);
  }

  void SetUp() override {
    if (!server_) GTEST_SKIP() << "korvane-updsrv is not built";
    SkinFormTest::SetUp();
    fake_ = std::make_unique<ScopedFakeTray>();
    tray_ = fake_->state;
    queue_ = std::make_unique<TQtUiQueue>();
    InstallUiQueue(queue_.get());
    UseUpdateUrl(server_->HttpBase());
    Serve("");
    NewRun();
  }
  void TearDown() override {
    if (!server_) return;
    shell_.reset();
    if (main_) main_->Dialogs = TMainDialogs();
    part_.reset();
    main_.reset();
    TThread::TerminateAll(3000);
    QCoreApplication::processEvents();
    InstallUiQueue(nullptr);
    queue_.reset();
    fake_.reset();
    SkinFormTest::TearDown();
  }

  void UseUpdateUrl(const std::string& base) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, UpdateURLValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(base.c_str()),
                   static_cast<DWORD>(base.size() + 1));
    RegCloseKey(key);
    LoadServerUrls();
  }
  static void Serve(const std::string& text) { WriteTextFile(folder_ + "/messages.txt", text); }

  // A new start of the program (the same temporary folder, so the same copy).
  void NewRun(const std::string& version = "1.2.0.0") {
    if (main_) main_->Dialogs = TMainDialogs();
    part_.reset();
    main_.reset();
    tray_->balloons.clear();
    main_ = std::make_unique<TMainForm>();
    part_ = std::make_unique<TKorvaneTray>(*main_);
    main_->Dialogs.Tray = part_.get();
    main_->State.ProgramVersion = version;
    part_->MessageReadTimeoutMs = 3000;
  }
  // One fetch and its completion, as UInfoTimer runs them.
  void Fetch() {
    part_->UInfoTimer->stop();
    TWaitHandle done = part_->FetchServerMessage();
    QElapsedTimer t;
    t.start();
    while (!done->IsSet() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(done->IsSet()) << "the message fetch did not complete";
    QCoreApplication::processEvents();
  }
  std::string CopyPath() const { return main_->State.TempFolder + "kvnlmsg.txt"; }
  std::string Copy() const {
    std::ifstream in(CopyPath(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  int Shown() const { return static_cast<int>(tray_->balloons.size()); }

  static UpdateServerProcess* server_;
  static std::string folder_;
  std::unique_ptr<ScopedFakeTray> fake_;
  std::shared_ptr<FakeTrayState> tray_;
  std::unique_ptr<TQtUiQueue> queue_;
  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TKorvaneTray> part_;  // the notification-area part: message, timer, balloons
  std::optional<KorvaneScopedShellExecuteHook> shell_;
};

UpdateServerProcess* ServerMessageTest::server_ = nullptr;
std::string ServerMessageTest::folder_;

const std::string kHello = "<msg><sver>1.0.0.0</sver><msgtext>Hello</msgtext><msgurl></msgurl></msg>";

TEST_F(ServerMessageTest, FirstApplicableMessageIsShownOnceAndTheCopyWritten) {
  ASSERT_FALSE(fs::exists(CopyPath()));
  Serve(" \r\n" + kHello + "\r\n\r\n");
  Fetch();
  ASSERT_EQ(Shown(), 1);
  EXPECT_EQ(tray_->balloons[0].title, QStringLiteral("Information"));
  EXPECT_EQ(tray_->balloons[0].text, QStringLiteral("Hello"));
  EXPECT_EQ(tray_->balloons[0].kind, 1);
  EXPECT_EQ(tray_->balloons[0].msecs, 60000);
  EXPECT_TRUE(part_->MessageShown);
  EXPECT_EQ(part_->MessageUrl, "");
  EXPECT_FALSE(part_->UInfoTimer->isActive());
  EXPECT_EQ(Copy(), kHello);  // trimmed, nothing added

  NewRun();
  Fetch();
  EXPECT_EQ(Shown(), 0);
  EXPECT_FALSE(part_->MessageShown);
  EXPECT_FALSE(part_->UInfoTimer->isActive());
  EXPECT_EQ(Copy(), kHello);
}

TEST_F(ServerMessageTest, OneChangedCharacterAnywhereShowsAgain) {
  Serve(kHello + "\nnews of the week");
  Fetch();
  EXPECT_EQ(Shown(), 1);
  NewRun();
  Serve(kHello + "\nnews of the weeK");  // outside any block
  Fetch();
  EXPECT_EQ(Shown(), 1);
  NewRun();
  Fetch();
  EXPECT_EQ(Shown(), 0);
}

TEST_F(ServerMessageTest, MessageWithoutRangeIsNeverShownButStored) {
  const std::string answer = "<msg><msgtext>For nobody</msgtext><msgurl>http://x.invalid/</msgurl></msg>";
  Serve(answer);
  Fetch();
  EXPECT_EQ(Shown(), 0);
  EXPECT_FALSE(part_->MessageShown);
  EXPECT_EQ(Copy(), answer);
  EXPECT_FALSE(part_->UInfoTimer->isActive());
}

TEST_F(ServerMessageTest, OfTwoApplicableOnlyTheFirstIsShownAndLinked) {
  shell_.emplace([](const std::string&, const std::string&, const std::string&) { return true; });
  Serve(
      "<msg><sver>1.0.0.0</sver><msgtext>One</msgtext><msgurl>http://one.invalid/</msgurl></msg>\r\n"
      "<msg><fver>9.0.0.0</fver><msgtext>Two</msgtext><msgurl>http://two.invalid/</msgurl></msg>");
  Fetch();
  ASSERT_EQ(Shown(), 1);
  EXPECT_EQ(tray_->balloons[0].text, QStringLiteral("One"));
  EXPECT_EQ(part_->MessageUrl, "http://one.invalid/");
  NewRun();
  Fetch();
  EXPECT_EQ(Shown(), 0);  // the second is never shown while the file stays
}

TEST_F(ServerMessageTest, OutOfRangeIsStoredSilentlyAlsoAfterAnUpgrade) {
  const std::string answer = "<msg><sver>2.0.0.0</sver><fver>3.0.0.0</fver><msgtext>For 2.x</msgtext></msg>";
  Serve(answer);
  Fetch();
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(Copy(), answer);
  NewRun("2.5.0.0");
  Fetch();
  EXPECT_EQ(Shown(), 0);  // the file has not changed
  Serve(answer + " ");    // trailing blanks are trimmed away: still the same
  NewRun("2.5.0.0");
  Fetch();
  EXPECT_EQ(Shown(), 0);
  Serve(answer + ".");
  NewRun("2.5.0.0");
  Fetch();
  ASSERT_EQ(Shown(), 1);
  EXPECT_EQ(tray_->balloons[0].text, QStringLiteral("For 2.x"));
}

TEST_F(ServerMessageTest, BlockWithoutItsEndIsTheLastExamined) {
  Serve(
      "<msg><sver>9.0.0.0</sver><msgtext>Later</msgtext>\r\n"
      "<msg><sver>1.0.0.0</sver><msgtext>Never</msgtext>");
  Fetch();
  EXPECT_EQ(Shown(), 0);
  NewRun();
  Serve(
      "<msg><sver>9.0.0.0</sver><msgtext>Later</msgtext></msg><msg><sver>1.0.0.0</sver><msgtext>Open "
      "end</msgtext>");
  Fetch();
  ASSERT_EQ(Shown(), 1);
  EXPECT_EQ(tray_->balloons[0].text, QStringLiteral("Open end"));
}

TEST_F(ServerMessageTest, LongTextIsCutAtTheBalloonLimit) {
  Serve("<msg><sver>1.0.0.0</sver><msgtext>" + std::string(400, 'z') + "</msgtext></msg>");
  Fetch();
  ASSERT_EQ(Shown(), 1);
  EXPECT_EQ(tray_->balloons[0].text, QString(255, QLatin1Char('z')));
}

TEST_F(ServerMessageTest, CodePageTextReachesTheBalloon) {
  Serve("<msg><sver>1.0.0.0</sver><msgtext>Caf\xE9 \x80</msgtext></msg>");
  Fetch();
  ASSERT_EQ(Shown(), 1);
  EXPECT_EQ(tray_->balloons[0].text, QString::fromUtf8("Caf\xC3\xA9 \xE2\x82\xAC"));
  EXPECT_EQ(Copy(), "<msg><sver>1.0.0.0</sver><msgtext>Caf\xE9 \x80</msgtext></msg>");
}

TEST_F(ServerMessageTest, AnswerWithoutMessagesLeavesTheCopyAndRetriesLater) {
  WriteTextFile(CopyPath(), "the copy of an earlier run");
  Serve("no messages today");
  part_->UInfoTimerTag = 80;
  part_->UInfoTimer->start(10);
  // After the first answer the timer runs again with the longer interval.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return part_->UInfoTimer->isActive() && part_->UInfoTimer->interval() == 80; }, 10000));
  EXPECT_EQ(Copy(), "the copy of an earlier run");
  EXPECT_EQ(Shown(), 0);
  Serve(kHello);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Shown() == 1; }, 10000));
  EXPECT_FALSE(part_->UInfoTimer->isActive());
  EXPECT_EQ(Copy(), kHello);
  QTest::qWait(200);
  EXPECT_EQ(Shown(), 1);  // no further fetch in this run
}

TEST_F(ServerMessageTest, EmptyAnswerRetries) {
  WriteTextFile(CopyPath(), "kept");
  Fetch();  // the server serves an empty file
  EXPECT_TRUE(part_->UInfoTimer->isActive());
  EXPECT_EQ(part_->UInfoTimer->interval(), 300000);
  EXPECT_EQ(Copy(), "kept");
}

TEST_F(ServerMessageTest, UnreachableServerRetries) {
  // The discard port: nothing listens there on loopback.
  UseUpdateUrl("http://127.0.0.1:9");
  Serve(kHello);
  Fetch();
  EXPECT_EQ(Shown(), 0);
  EXPECT_TRUE(part_->UInfoTimer->isActive());
  EXPECT_EQ(part_->UInfoTimer->interval(), 300000);
  EXPECT_FALSE(fs::exists(CopyPath()));
}

TEST_F(ServerMessageTest, BalloonClickOpensTheMessagesLinkOnce) {
  std::vector<std::string> opened;
  shell_.emplace([&](const std::string&, const std::string& f, const std::string&) {
    opened.push_back(f);
    return true;
  });
  Serve(
      "<msg><sver>1.0.0.0</sver><msgtext>New "
      "version</msgtext><msgurl>http://vendor.invalid/get</msgurl></msg>");
  main_->hide();
  Fetch();
  ASSERT_EQ(Shown(), 1);
  tray_->balloonClick();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "http://vendor.invalid/get");
  EXPECT_TRUE(main_->isHidden());
  tray_->doubleClick();
  EXPECT_EQ(opened.size(), 1u);
  EXPECT_FALSE(main_->isHidden());
}

TEST_F(ServerMessageTest, ALinkThatIsNoWebPageOpensAndStartsNothing) {
  // The real shell, with an xdg-open of our own first on PATH that notes every call,
  // and a local program the message names.
  const std::string dir = korvane::testing::MakeScratchFolder("kvmsglink");
  const std::string notes = dir + "/notes.txt";
  WriteTextFile(dir + "/xdg-open", "#!/bin/sh\necho \"xdg-open $*\" >> '" + notes + "'\n");
  WriteTextFile(dir + "/some-program", "#!/bin/sh\necho started >> '" + notes + "'\n");
  ASSERT_EQ(::chmod((dir + "/xdg-open").c_str(), 0700), 0);
  ASSERT_EQ(::chmod((dir + "/some-program").c_str(), 0700), 0);
  korvane::testing::ScopedEnv env;
  const char* path = std::getenv("PATH");
  env.Set("PATH", dir + ":" + (path ? path : "/usr/bin:/bin"));
  int version = 0;
  for (const std::string& link :
       {dir + "/some-program", "file://" + dir + "/some-program", std::string("javascript:alert(1)"),
        std::string("javascript://x.invalid/%0a"), "http://x.invalid/" + std::string(2048, 'a'),
        std::string("http:///nohost"), std::string("http://a b.invalid/"),
        std::string("smb://x.invalid/share")}) {
    // Each a new message file, so each is shown in a new run.
    NewRun();
    Serve("<msg><sver>1.0.0.0</sver><msgtext>v" + std::to_string(++version) + "</msgtext><msgurl>" + link +
          "</msgurl></msg>");
    main_->hide();
    Fetch();
    ASSERT_EQ(Shown(), 1) << link;
    tray_->balloonClick();
    EXPECT_FALSE(main_->isHidden()) << link << ": the click shows the window as for no link";
    EXPECT_TRUE(part_->MessageUrl.empty());
  }
  QTest::qWait(300);  // a detached start would have written by now
  EXPECT_FALSE(fs::exists(notes)) << korvane::testing::ReadTextFile(notes);
  // A web page does reach the desktop's opener.
  NewRun();
  Serve(
      "<msg><sver>1.0.0.0</sver><msgtext>web</msgtext><msgurl>HTTPS://vendor.invalid:8443/a?b#c</msgurl></"
      "msg>");
  Fetch();
  tray_->balloonClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(notes); }, 5000));
  EXPECT_EQ(korvane::testing::ReadTextFile(notes), "xdg-open HTTPS://vendor.invalid:8443/a?b#c\n");
  korvane::testing::RemoveFolder(dir);
}

TEST_F(ServerMessageTest, SilentAnswerLeavesNoPendingLink) {
  std::vector<std::string> opened;
  shell_.emplace([&](const std::string&, const std::string& f, const std::string&) {
    opened.push_back(f);
    return true;
  });
  Serve("<msg><sver>9.0.0.0</sver><msgtext>x</msgtext><msgurl>http://x.invalid/</msgurl></msg>");
  main_->hide();
  Fetch();
  EXPECT_EQ(part_->MessageUrl, "http://x.invalid/");
  tray_->balloonClick();  // e.g. on the reminder
  EXPECT_TRUE(opened.empty());
  EXPECT_FALSE(main_->isHidden());
}

TEST_F(ServerMessageTest, EmptyProgramVersionShowsNothing) {
  Serve(kHello);
  NewRun("");
  Fetch();
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(Copy(), kHello);
}

}  // namespace
