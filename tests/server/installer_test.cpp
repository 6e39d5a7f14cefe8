// The companion tool's installer as served by the vendor site: a POSIX shell
// script that installs on "/s" and records its folder through korvane-reg.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/UpdateServerProcess.h"

using namespace korvane::testing;

namespace {

const char* kKey =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5C2E8A41-7D3B-4F96-A1E0-93B7C46D2F18}";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

// Runs a command line through sh; returns its exit code (-1 when it did not exit).
int RunShell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
    dir_ = MakeScratchFolder("updsrv-installer");
    server_ = std::make_unique<UpdateServerProcess>();
    httplib::Client c("127.0.0.1", server_->HttpPort());
    auto r = c.Get("/downloads/swx/fromkvn/Sweepline.exe");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    installer_ = dir_ + "/Temp/Sweepline.exe";
    WriteTextFile(installer_, r->body);
    ::chmod(installer_.c_str(), 0755);
    // A stand-in korvane-reg that notes its arguments, one a line.
    fakeReg_ = dir_ + "/fake-reg";
    WriteTextFile(fakeReg_, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"" + dir_ +
                                "/reg-calls\"\nexit ${FAKE_REG_EXIT:-0}\n");
    ::chmod(fakeReg_.c_str(), 0755);
  }
  void TearDown() override {
    server_.reset();
    if (!dir_.empty()) RemoveFolder(dir_);
  }
  // The installer run with a clean environment of our choosing.
  int Install(const std::string& env, const std::string& args) {
    return RunShell("env -u KORVANE_MACHINE -u SWEEPLINE_DEST -u KORVANE_REG -u XDG_DATA_HOME HOME='" + dir_ +
                    "/home' " + env + " '" + installer_ + "' " + args + " >/dev/null 2>&1");
  }
  std::string dir_, installer_, fakeReg_;
  std::unique_ptr<UpdateServerProcess> server_;
};

}  // namespace

TEST_F(Installer, WithoutSilentSwitchInstallsNothing) {
  EXPECT_EQ(Install("KORVANE_REG='" + fakeReg_ + "' XDG_DATA_HOME='" + dir_ + "/xdg'", ""), 2);
  EXPECT_EQ(Install("KORVANE_REG='" + fakeReg_ + "' XDG_DATA_HOME='" + dir_ + "/xdg'", "/q"), 2);
  EXPECT_FALSE(IsExecutableFile(dir_ + "/xdg/korvane-sweepline/Sweepline.exe"));
  EXPECT_EQ(ReadAll(dir_ + "/reg-calls"), "");
}

TEST_F(Installer, SilentInstallIntoTheMachineFolder) {
  const std::string machine = dir_ + "/machine";
  ::mkdir(machine.c_str(), 0755);
  ASSERT_EQ(Install("KORVANE_REG='" + fakeReg_ + "' KORVANE_MACHINE='" + machine + "'", "/s"), 0);
  const std::string dest = machine + "/Program Files/Sweepline";
  ASSERT_TRUE(IsExecutableFile(dest + "/Sweepline.exe"));
  const std::string calls = ReadAll(dir_ + "/reg-calls");
  EXPECT_NE(calls.find(std::string("add\n") + kKey + "\n/v\nInstallLocation\n/t\nREG_SZ\n/d\n" + dest + "\n"),
            std::string::npos)
      << calls;
  // The installed program runs and notes its start beside itself.
  EXPECT_EQ(RunShell("'" + dest + "/Sweepline.exe' >/dev/null 2>&1"), 0);
  EXPECT_EQ(ReadAll(dest + "/sweepline.log").rfind("started ", 0), 0u);
}

TEST_F(Installer, SilentInstallIntoTheUsersDataFolder) {
  ASSERT_EQ(Install("KORVANE_REG='" + fakeReg_ + "' XDG_DATA_HOME='" + dir_ + "/xdg'", "/s"), 0);
  EXPECT_TRUE(IsExecutableFile(dir_ + "/xdg/korvane-sweepline/Sweepline.exe"));
  EXPECT_NE(ReadAll(dir_ + "/reg-calls").find(dir_ + "/xdg/korvane-sweepline\n"), std::string::npos);
  // Without XDG_DATA_HOME: ~/.local/share.
  ASSERT_EQ(Install("KORVANE_REG='" + fakeReg_ + "'", "/s"), 0);
  EXPECT_TRUE(IsExecutableFile(dir_ + "/home/.local/share/korvane-sweepline/Sweepline.exe"));
}

TEST_F(Installer, KorvaneRegBesideTheInstallerAndFailures) {
  // Found beside the installer when KORVANE_REG is not set.
  WriteTextFile(dir_ + "/Temp/korvane-reg", ReadAll(fakeReg_));
  ::chmod((dir_ + "/Temp/korvane-reg").c_str(), 0755);
  ASSERT_EQ(Install("SWEEPLINE_DEST='" + dir_ + "/dest' PATH=/usr/bin:/bin", "/s"), 0);
  EXPECT_TRUE(IsExecutableFile(dir_ + "/dest/Sweepline.exe"));
  EXPECT_NE(ReadAll(dir_ + "/reg-calls").find("InstallLocation"), std::string::npos);
  // A failing registry tool fails the setup.
  EXPECT_EQ(
      Install("KORVANE_REG='" + fakeReg_ + "' FAKE_REG_EXIT=1 SWEEPLINE_DEST='" + dir_ + "/dest2'", "/s"), 1);
  // No registry tool at all fails too.
  ::unlink((dir_ + "/Temp/korvane-reg").c_str());
  EXPECT_EQ(Install("KORVANE_REG='" + dir_ + "/none' SWEEPLINE_DEST='" + dir_ + "/dest3'", "/s"), 1);
}

TEST_F(Installer, RecordsInstallLocationWithTheRealKorvaneReg) {
  const char* bin = std::getenv("KORVANE_BINARY_DIR");
  const std::string reg = std::string(bin ? bin : ".") + "/tools/korvane-reg/korvane-reg";
  if (access(reg.c_str(), X_OK) != 0) GTEST_SKIP() << "korvane-reg not built: " << reg;
  const std::string machine = dir_ + "/machine";
  ::mkdir(machine.c_str(), 0755);
  WriteTextFile(machine + "/system.reg", "Windows Registry Editor Version 5.00\r\n\r\n");
  WriteTextFile(machine + "/user.reg", "Windows Registry Editor Version 5.00\r\n\r\n");
  ASSERT_EQ(Install("KORVANE_REG='" + reg + "' KORVANE_MACHINE='" + machine + "'", "/s"), 0);
  // Read it back through the same tool, as the program's registry would see it.
  const std::string out = dir_ + "/query.txt";
  ASSERT_EQ(RunShell("KORVANE_MACHINE='" + machine + "' '" + reg + "' query '" + kKey +
                     "' /v InstallLocation > '" + out + "' 2>&1"),
            0)
      << ReadAll(out);
  EXPECT_NE(ReadAll(out).find(machine + "/Program Files/Sweepline"), std::string::npos) << ReadAll(out);
}
