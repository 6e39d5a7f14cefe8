// TDownToolThread headless: the connectivity loop, the download into the
// temporary folder, the silent install with the reference server's installer,
// the launch and the window nudge.
#include "download/uDownToolThread.h"

#include "download/uInstallerTrust.h"
#include "net/uInstallerSignature.h"
#include "support/ScopedEnv.h"

#include "support/RawServer.h"
#include "support/ScratchMachine.h"
#include "support/UpdateServerProcess.h"

#include <fileapi.h>
#include <korvane_machine.h>
#include <korvane_window.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using korvane::testing::UpdateServerProcess;

class TRecordingToolView : public IToolView {
 public:
  int AskForConnection(const std::string& text) override {
    Calls.push_back("ask");
    Prompt = text;
    const int a = Answers.empty() ? 2 : Answers.front();
    if (!Answers.empty()) Answers.erase(Answers.begin());
    return a;
  }
  void ResetToolProgress() override { Calls.push_back("reset"); }
  void ShowToolProgress(int32_t current, int32_t total) override {
    LastCurrent = current;
    LastTotal = total;
    ++ProgressCalls;
  }
  void ShowInstalling() override { Calls.push_back("installing"); }

  std::vector<int> Answers;  // modal results of the prompts in turn; Cancel once they run out
  std::vector<std::string> Calls;
  std::string Prompt;
  int ProgressCalls = 0;
  int32_t LastCurrent = -1, LastTotal = -1;
};

bool WaitForFile(const std::string& path, int ms) {
  for (int i = 0; i < ms / 20; ++i) {
    if (::access(path.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ::access(path.c_str(), F_OK) == 0;
}

void WriteScript(const std::string& path, const std::string& body) {
  nettest::WriteFile(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0700);
}

class ToolThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallUiQueue(&queue_);
    if (const char* bin = std::getenv("KORVANE_BINARY_DIR"))
      setenv("KORVANE_REG", (std::string(bin) + "/tools/korvane-reg/korvane-reg").c_str(), 1);
    machine_.emplace();
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof buf, buf);
    temp_ = std::string(buf, n);
  }
  void TearDown() override {
    machine_.reset();
    unsetenv("SWEEPLINE_DEST");
    InstallUiQueue(nullptr);
  }

  // Runs the thread to its end; the completion handler counts as the end.
  void Run(TDownToolThread* t) {
    bool ended = false;
    t->WindowWaitMs = 50;
    t->ReadTimeout = 3000;
    t->OnTerminate = [&](TThread&) { ended = true; };
    t->Start();
    ASSERT_TRUE(queue_.PumpUntil([&] { return ended; }, 60000));
    t->WaitFor();
  }

  std::string InstallLocation() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallSubKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return std::string();
    char buf[1024] = {};
    DWORD size = sizeof buf - 1, type = 0;
    const LONG rc = RegQueryValueExA(key, CompanionLocationValue, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(buf) : std::string();
  }

  TPumpedUiQueue queue_;
  nettest::TempDir tmp_;
  std::optional<korvane::testing::ScratchMachine> machine_;
  std::string temp_;
  TRecordingToolView view_;
};

TEST_F(ToolThreadTest, ServedInstallerInstallsRecordsAndStartsTheTool) {
  if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
  if (korvane::testing::BuildSigningKey().empty())
    GTEST_SKIP() << "this build trusts the vendor's key only: no installer can be signed here";
  UpdateServerProcess srv;  // signs with the build's key, which the program trusts
  ASSERT_EQ(temp_.back(), '/');
  const std::string file = temp_ + CompanionInstallerName;

  // The tool's window, as the platform layer would know it once it runs.
  RECT moved{};
  HWND insertedAfter = reinterpret_cast<HWND>(-5);
  KorvaneWindowCallbacks cb;
  cb.GetRect = [](RECT& r) {
    r = RECT{300, 200, 700, 500};
    return true;
  };
  cb.SetPos = [&](HWND after, int x, int y, int cx, int cy, UINT) {
    moved = RECT{x, y, x + cx, y + cy};
    insertedAfter = after;
    return true;
  };
  HWND window = KorvaneRegisterWindow(CompanionWindowClass, CompanionWindowCaption, cb);

  auto t = std::make_unique<TDownToolThread>(&view_, srv.HttpBase() + CompanionInstallerPath, file);
  t->ProbeUrl = srv.HttpBase() + "/isavail.txt";
  Run(t.get());
  KorvaneUnregisterWindow(window);

  EXPECT_EQ(view_.Calls, (std::vector<std::string>{"reset", "installing"}));  // no prompt
  EXPECT_TRUE(t->Downloaded());
  EXPECT_GT(view_.ProgressCalls, 1);
  EXPECT_GT(view_.LastTotal, 0);
  EXPECT_EQ(view_.LastCurrent, view_.LastTotal);
  EXPECT_EQ(t->InstallerCheck(), TSignatureCheck::Valid);
  EXPECT_TRUE(t->InstallerRan());
  EXPECT_EQ(t->InstallerExitCode(), 0u);
  const std::string folder = machine_->Path("Program Files/Sweepline");
  EXPECT_EQ(InstallLocation(), folder);
  EXPECT_EQ(t->LaunchedProgram(), folder + "/Sweepline.exe");
  EXPECT_TRUE(WaitForFile(folder + "/sweepline.log", 5000)) << "the tool did not start";
  EXPECT_TRUE(t->WindowMoved());
  EXPECT_EQ(moved.left, 350);
  EXPECT_EQ(moved.top, 150);
  EXPECT_EQ(moved.right - moved.left, 400);
  EXPECT_EQ(moved.bottom - moved.top, 300);
  EXPECT_EQ(insertedAfter, HWND_TOP);
}

TEST_F(ToolThreadTest, DecliningThePromptEndsAtOnce) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nno");
  });
  const std::string file = temp_ + CompanionInstallerName;
  WriteScript(file, "echo ran > \"$(dirname \"$0\")/ran.txt\"\n");  // left by an earlier run
  view_.Answers = {1, 2};  // OK once (probe again), then Cancel
  auto t = std::make_unique<TDownToolThread>(&view_, srv.Base() + CompanionInstallerPath, file);
  t->ProbeUrl = srv.Base() + "/isavail.txt";
  Run(t.get());
  EXPECT_EQ(view_.Calls, (std::vector<std::string>{"ask", "ask"}));
  EXPECT_EQ(view_.Prompt,
            "To continue downloading, you need to have an active Internet connection. "
            "Connect to the Internet and click OK.");
  EXPECT_EQ(srv.Requests().size(), 2u);  // the two probes, no download
  EXPECT_FALSE(t->InstallerRan());
  EXPECT_NE(::access((temp_ + "ran.txt").c_str(), F_OK), 0);
}

TEST_F(ToolThreadTest, PromptUntilTheProbeAnswers) {
  std::atomic<int> probes{0};
  nettest::RawServer srv([&](int fd, const std::string& req) {
    if (req.find("/isavail.txt") != std::string::npos) {
      const bool up = ++probes >= 3;
      nettest::SendAll(fd, std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n") + (up ? "ok" : "no"));
    } else {
      nettest::SendAll(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
  });
  view_.Answers = {1, 1};
  auto t = std::make_unique<TDownToolThread>(&view_, srv.Base() + CompanionInstallerPath,
                                             temp_ + CompanionInstallerName);
  t->ProbeUrl = srv.Base() + "/isavail.txt";
  Run(t.get());
  EXPECT_EQ(view_.Calls, (std::vector<std::string>{"ask", "ask", "reset", "installing"}));
  EXPECT_EQ(probes.load(), 3);
  EXPECT_FALSE(t->Downloaded());
  EXPECT_FALSE(t->InstallerRan());  // no installer file at all
}

TEST_F(ToolThreadTest, AnEarlierInstallerDoesNotRunWhenTheDownloadFails) {
  nettest::RawServer srv([](int fd, const std::string& req) {
    if (req.find("/isavail.txt") != std::string::npos)
      nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    else
      nettest::SendAll(fd, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string file = temp_ + CompanionInstallerName;
  const std::string ran = temp_ + "ran.txt";
  // An unsigned one left by an earlier attempt: checked as a new one, so deleted.
  WriteScript(file, "echo \"$@\" > \"$(dirname \"$0\")/ran.txt\"\n");
  auto t = std::make_unique<TDownToolThread>(&view_, srv.Base() + CompanionInstallerPath, file);
  t->ProbeUrl = srv.Base() + "/isavail.txt";
  Run(t.get());
  EXPECT_FALSE(t->Downloaded());
  EXPECT_FALSE(t->InstallerRan());
  EXPECT_NE(::access(ran.c_str(), F_OK), 0);
  EXPECT_NE(::access(file.c_str(), F_OK), 0) << "an unsigned leftover stays on disk";
  EXPECT_TRUE(t->LaunchedProgram().empty());  // no uninstall key: nothing to start
  EXPECT_FALSE(t->WindowMoved());
  // A rightly signed leftover stays, but only this attempt's installer would run.
  const std::string key = NewSigningKey();
  nettest::WriteFile(file,
                     SignInstaller("#!/bin/sh\necho ran > \"$(dirname \"$0\")/ran.txt\"\nexit 0\n", key));
  ::chmod(file.c_str(), 0700);
  auto again = std::make_unique<TDownToolThread>(&view_, srv.Base() + CompanionInstallerPath, file);
  again->ProbeUrl = srv.Base() + "/isavail.txt";
  again->PublicKeyPem = PublicKeyOf(key);
  Run(again.get());
  EXPECT_FALSE(again->InstallerRan());
  EXPECT_NE(::access(ran.c_str(), F_OK), 0);
  EXPECT_EQ(::access(file.c_str(), F_OK), 0);
}

TEST_F(ToolThreadTest, UnsignedTamperedAndForeignSignedInstallersAreDeletedNotRun) {
  const std::string vendor = NewSigningKey();
  const std::string stranger = NewSigningKey();
  const std::string marker = tmp_.File("ran.txt");
  const std::string script = "#!/bin/sh\necho ran > '" + marker + "'\nexit 0\n";
  std::string tampered = SignInstaller(script, vendor);
  tampered[tampered.find("exit 0") + 5] = '1';  // one byte changed after signing
  struct Case {
    const char* name;
    std::string body;
    TSignatureCheck check;
  } cases[] = {
      {"unsigned", script, TSignatureCheck::Unsigned},
      {"tampered", tampered, TSignatureCheck::BadSignature},
      {"signed by another key", SignInstaller(script, stranger), TSignatureCheck::BadSignature},
      {"a marker without a valid signature",
       script + std::string(InstallerSignatureMarker) + std::string(64, 'x'), TSignatureCheck::BadSignature},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = c.body;
    nettest::RawServer srv([&body](int fd, const std::string& req) {
      const std::string answer = req.find("/isavail.txt") != std::string::npos ? std::string("ok") : body;
      nettest::SendAll(
          fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answer.size()) + "\r\n\r\n" + answer);
    });
    const std::string file = temp_ + CompanionInstallerName;
    auto t = std::make_unique<TDownToolThread>(&view_, srv.Base() + CompanionInstallerPath, file);
    t->ProbeUrl = srv.Base() + "/isavail.txt";
    t->PublicKeyPem = PublicKeyOf(vendor);
    Run(t.get());
    EXPECT_TRUE(t->Downloaded());
    EXPECT_EQ(t->InstallerCheck(), c.check);
    EXPECT_TRUE(t->InstallerNotSigned());
    EXPECT_FALSE(t->InstallerRan());
    EXPECT_NE(::access(file.c_str(), F_OK), 0) << "left on disk";
    EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "it ran";
  }
}

TEST_F(ToolThreadTest, ASignedInstallerRunsWithTheUsersStandardEnvironmentOnly) {
  const std::string key = NewSigningKey();
  const std::string seen = tmp_.File("seen");
  // The installer notes its environment (NUL-separated) and its working folder.
  const std::string script = "#!/bin/sh\ncat /proc/self/environ > '" + seen + ".env'\npwd > '" + seen +
                             ".pwd'\necho \"$@\" > '" + seen + ".args'\nexit 0\n";
  const std::string body = SignInstaller(script, key);
  nettest::RawServer srv([&body](int fd, const std::string& req) {
    const std::string answer = req.find("/isavail.txt") != std::string::npos ? std::string("ok") : body;
    nettest::SendAll(
        fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answer.size()) + "\r\n\r\n" + answer);
  });
  korvane::testing::ScopedEnv env;
  env.Set("SSH_AUTH_SOCK", "/run/user/agent.sock");
  env.Set("KORVANE_TEST_TOKEN", "secret");
  env.Set("LD_PRELOAD", "");
  env.Set("LC_TIME", "C");
  env.Set("XDG_CONFIG_HOME", tmp_.File("config"));
  env.Set("DISPLAY", ":77");
  env.Set("LANG", "C.UTF-8");
  const std::string file = temp_ + CompanionInstallerName;
  auto t = std::make_unique<TDownToolThread>(&view_, srv.Base() + CompanionInstallerPath, file);
  t->ProbeUrl = srv.Base() + "/isavail.txt";
  t->PublicKeyPem = PublicKeyOf(key);
  Run(t.get());
  ASSERT_EQ(t->InstallerCheck(), TSignatureCheck::Valid);
  ASSERT_TRUE(t->InstallerRan());
  EXPECT_FALSE(t->InstallerNotSigned());
  EXPECT_EQ(nettest::ReadFile(seen + ".args"), "/s\n");
  std::string folder = temp_;
  folder.pop_back();
  EXPECT_EQ(nettest::ReadFile(seen + ".pwd"), folder + "\n");
  std::map<std::string, std::string> vars;
  const std::string all = nettest::ReadFile(seen + ".env");
  for (std::size_t p = 0; p < all.size();) {
    const std::size_t end = all.find('\0', p);
    const std::string entry = all.substr(p, end - p);
    const std::size_t eq = entry.find('=');
    vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    if (end == std::string::npos) break;
    p = end + 1;
  }
  for (const auto& [name, value] : vars) {
    if (name == "PWD" || name == "SHLVL" || name == "_" || name == "OLDPWD") continue;  // the shell's own
    EXPECT_TRUE(IsStandardUserVariable(name)) << name << "=" << value;
  }
  EXPECT_EQ(vars.count("SSH_AUTH_SOCK"), 0u);
  EXPECT_EQ(vars.count("KORVANE_TEST_TOKEN"), 0u);
  EXPECT_EQ(vars.count("LD_PRELOAD"), 0u);
  EXPECT_EQ(vars["LC_TIME"], "C");
  EXPECT_EQ(vars["XDG_CONFIG_HOME"], tmp_.File("config"));
  EXPECT_EQ(vars["DISPLAY"], ":77");
  EXPECT_EQ(vars["LANG"], "C.UTF-8");
  EXPECT_EQ(vars["PATH"], std::getenv("PATH"));
  EXPECT_EQ(vars["KORVANE_MACHINE"], std::getenv("KORVANE_MACHINE"));
  EXPECT_FALSE(IsStandardUserVariable("SSH_AUTH_SOCK"));
  EXPECT_FALSE(IsStandardUserVariable("LD_LIBRARY_PATH"));
  EXPECT_FALSE(IsStandardUserVariable("PATHX"));
  EXPECT_TRUE(IsStandardUserVariable("XDG_RUNTIME_DIR"));
}

TEST_F(ToolThreadTest, ABlankInTheInstallerPathNamesNoOtherProgram) {
  // "<dir>/Temp Files/Sweepline.exe": unquoted, "<dir>/Temp" would run.
  const std::string dir = tmp_.File("Temp Files");
  ::mkdir(dir.c_str(), 0700);
  WriteScript(tmp_.File("Temp"), "echo planted > \"" + tmp_.File("planted.txt") + "\"\n");
  const std::string file = dir + "/" + CompanionInstallerName;
  WriteScript(file, "echo \"$@\" > \"" + tmp_.File("ran.txt") + "\"\n");
  EXPECT_EQ(InstallerCommandLine(file), "\"" + file + "\" /s");
  uint32_t code = 99;
  EXPECT_TRUE(RunAndWait(InstallerCommandLine(file), &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(nettest::ReadFile(tmp_.File("ran.txt")), "/s\n");
  EXPECT_NE(::access(tmp_.File("planted.txt").c_str(), F_OK), 0);
  EXPECT_FALSE(RunAndWait("\"" + tmp_.File("nothere") + "\" /s"));
}

TEST_F(ToolThreadTest, AQuoteInTheFolderNameCannotEndTheProgramName) {
  // "<dir>/q\"x\\/Sweepline.exe": a quote (and a backslash before the slash) in the
  // folder's name; read as plain quoting, "<dir>/q" would run with the rest as arguments.
  const std::string dir = tmp_.File("q\"x\\");
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  WriteScript(tmp_.File("q"), "echo planted > \"" + tmp_.File("planted.txt") + "\"\n");
  const std::string file = dir + "/" + CompanionInstallerName;
  WriteScript(file, "echo \"$0|$@\" > \"" + tmp_.File("ran.txt") + "\"\n");
  uint32_t code = 99;
  EXPECT_TRUE(RunAndWait(InstallerCommandLine(file), &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(nettest::ReadFile(tmp_.File("ran.txt")), file + "|/s\n");
  EXPECT_NE(::access(tmp_.File("planted.txt").c_str(), F_OK), 0);
  // Every word reads back as it was quoted, whatever it holds.
  EXPECT_EQ(QuoteCommandLineWord("a\\b"), "\"a\\b\"");
  EXPECT_EQ(QuoteCommandLineWord("a\\\"b"), "\"a\\\\\\\"b\"");
  EXPECT_EQ(QuoteCommandLineWord("end\\"), "\"end\\\\\"");
  EXPECT_EQ(QuoteCommandLineWord(""), "\"\"");
}

TEST_F(ToolThreadTest, InstalledToolWithoutItsProgramStillWaitsAndLooks) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");  // the "installer" is two bytes
  });
  // The key points at a folder without the program.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const std::string folder = tmp_.File("nowhere");
  RegSetValueExA(key, CompanionLocationValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                 static_cast<DWORD>(folder.size() + 1));
  RegCloseKey(key);
  bool moved = false;
  KorvaneWindowCallbacks cb;
  cb.GetRect = [](RECT& r) {
    r = RECT{0, 0, 10, 10};
    return true;
  };
  cb.SetPos = [&](HWND, int, int, int, int, UINT) { return moved = true; };
  HWND window = KorvaneRegisterWindow(CompanionWindowClass, CompanionWindowCaption, cb);
  auto t = std::make_unique<TDownToolThread>(&view_, srv.Base() + CompanionInstallerPath,
                                             temp_ + CompanionInstallerName);
  t->ProbeUrl = srv.Base() + "/isavail.txt";
  Run(t.get());
  KorvaneUnregisterWindow(window);
  EXPECT_TRUE(t->Downloaded());
  EXPECT_TRUE(t->InstallerNotSigned());  // two bytes carry no signature
  EXPECT_FALSE(t->InstallerRan());
  EXPECT_TRUE(t->LaunchedProgram().empty());
  EXPECT_TRUE(moved);
}

}  // namespace
