// The autorun entry: on the live host the Run value "Korvane" is mirrored to
// the desktop's autostart folder; machine folders keep it in user.reg only.
// Every case runs on a scratch live host (its XDG_DATA_HOME) with XDG_CONFIG_HOME
// and HOME in a scratch folder.
#include <windows.h>
#include "support/ScopedEnv.h"
#include "support/ScratchFolder.h"
#include "support/ScratchMachine.h"

#include "core/uSettings.h"
#include "platform/src/autostart.h"

#include <korvane_machine.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

using korvane::testing::ReadTextFile;
using korvane::testing::ScopedEnv;
using korvane::testing::ScratchMachine;

class AutorunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = korvane::testing::MakeScratchFolder("kvautorun");
    fs::create_directories(root_ + "/home");
    env_.Set("HOME", root_ + "/home");
    env_.Set("XDG_CONFIG_HOME", root_ + "/config");
    host_.emplace(ScratchMachine::Host::Live);
  }
  void TearDown() override {
    host_.reset();
    korvane::testing::RemoveFolder(root_);
  }
  std::string EntryPath() const { return root_ + "/config/autostart/korvane.desktop"; }

  // The Run value as a reader of the registry sees it; "" when absent.
  static std::string RunValue() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, RunKeyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    char buf[1024] = {};
    DWORD size = sizeof buf - 1, type = 0;
    const LONG r = RegQueryValueExA(key, RunValueName, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? std::string(buf) : std::string();
  }
  static HKEY OpenRunKey() {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, RunKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  static void SetText(HKEY key, const char* name, const std::string& text) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }

  std::string root_;
  ScopedEnv env_;                       // HOME and XDG_CONFIG_HOME
  std::optional<ScratchMachine> host_;  // its hives under XDG_DATA_HOME
};

TEST_F(AutorunTest, SaveSettingsMirrorsTheRunValueAndRemovesItWithAutoRunOff) {
  TSettings s;
  s.AutoRun = true;
  const std::string exe = "/opt/Brantholm Korvane/bin/korvane";
  SaveSettings(s, exe);
  EXPECT_EQ(RunValue(), exe + " -t");
  ASSERT_TRUE(fs::exists(EntryPath()));
  const std::string entry = ReadTextFile(EntryPath());
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u) << entry;
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nExec=\"/opt/Brantholm Korvane/bin/korvane\" -t\n"), std::string::npos) << entry;
  // The value lives in the host's own hive, not beside the entry.
  EXPECT_TRUE(fs::exists(host_->Path("korvane/host/user.reg")));

  // A save with the same value leaves the entry as it was.
  const auto stamp = fs::last_write_time(EntryPath());
  SaveSettings(s, exe);
  EXPECT_EQ(fs::last_write_time(EntryPath()), stamp);

  s.AutoRun = false;
  SaveSettings(s, exe);
  EXPECT_EQ(RunValue(), "");
  EXPECT_FALSE(fs::exists(EntryPath()));
  // Deleting an absent value is no error and leaves nothing behind.
  SaveSettings(s, exe);
  EXPECT_FALSE(fs::exists(EntryPath()));
  EXPECT_FALSE(fs::exists(root_ + "/home/.config"));
}

TEST_F(AutorunTest, AnEntryLeftWithoutItsValueGoesWhenTheValueIsDeleted) {
  fs::create_directories(root_ + "/config/autostart");
  std::ofstream(EntryPath()) << "[Desktop Entry]\nExec=/old/korvane -t\n";
  TSettings s;
  s.AutoRun = false;
  SaveSettings(s, "/opt/korvane");
  EXPECT_FALSE(fs::exists(EntryPath()));
}

TEST_F(AutorunTest, OnlyTheRunKeysKorvaneValueIsMirrored) {
  HKEY run = OpenRunKey();
  SetText(run, "Other", "/usr/bin/other");
  EXPECT_FALSE(fs::exists(EntryPath()));
  SetText(run, "korvane", "/usr/bin/korvane -t");  // value names ignore case
  EXPECT_TRUE(fs::exists(EntryPath()));
  // A value of another type names no command.
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExA(run, "Korvane", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
            ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(EntryPath()));
  RegCloseKey(run);

  HKEY other = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                            nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &other, nullptr),
            ERROR_SUCCESS);
  SetText(other, "Korvane", "/usr/bin/korvane -t");
  EXPECT_FALSE(fs::exists(EntryPath()));
  RegCloseKey(other);
}

TEST_F(AutorunTest, DeletingTheRunKeyRemovesTheEntry) {
  HKEY run = OpenRunKey();
  SetText(run, "Korvane", "/usr/bin/korvane -t");
  RegCloseKey(run);
  ASSERT_TRUE(fs::exists(EntryPath()));
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, RunKeyName), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(EntryPath()));
}

TEST_F(AutorunTest, WithoutXdgConfigHomeTheEntryGoesToHomeConfig) {
  env_.Unset("XDG_CONFIG_HOME");
  TSettings s;
  s.AutoRun = true;
  SaveSettings(s, "/usr/bin/korvane");
  EXPECT_TRUE(fs::exists(root_ + "/home/.config/autostart/korvane.desktop"));
  EXPECT_FALSE(fs::exists(EntryPath()));
  // A relative XDG_CONFIG_HOME is invalid and ignored as well.
  env_.Set("XDG_CONFIG_HOME", "relative/config");
  s.AutoRun = false;
  SaveSettings(s, "/usr/bin/korvane");
  EXPECT_FALSE(fs::exists(root_ + "/home/.config/autostart/korvane.desktop"));
}

TEST_F(AutorunTest, AMachineFolderKeepsTheValueInUserRegOnly) {
  const ScratchMachine machine;
  TSettings s;
  s.AutoRun = true;
  SaveSettings(s, "/usr/bin/korvane");
  EXPECT_EQ(RunValue(), "/usr/bin/korvane -t");
  EXPECT_NE(machine.Read("user.reg").find("\"Korvane\"=\"/usr/bin/korvane -t\""), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ + "/config"));
  EXPECT_FALSE(fs::exists(root_ + "/home/.config"));
}

TEST(AutostartEntryTest, ExecQuotesThePathAsDesktopEntriesRequire) {
  struct Row {
    const char* commandLine;
    const char* exec;
  };
  const Row rows[] = {
      {"/usr/bin/korvane -t", "Exec=\"/usr/bin/korvane\" -t"},
      {"/opt/My Apps/korvane -t", "Exec=\"/opt/My Apps/korvane\" -t"},
      // ", `, $ and \ are escaped inside the quotes; the backslash once more as a string value.
      {"/opt/a\"b`c$d/korvane -t", "Exec=\"/opt/a\\\\\"b\\\\`c\\\\$d/korvane\" -t"},
      {"/opt/back\\slash/korvane -t", "Exec=\"/opt/back\\\\\\\\slash/korvane\" -t"},
      {"/opt/100%/korvane -t", "Exec=\"/opt/100%%/korvane\" -t"},
      {"/opt/line\nbreak/korvane -t", "Exec=\"/opt/line\\nbreak/korvane\" -t"},
      // A quoted Windows command line, and one without arguments.
      {"\"/opt/x y/korvane\" -t --more", "Exec=\"/opt/x y/korvane\" -t --more"},
      {"/usr/bin/korvane", "Exec=\"/usr/bin/korvane\""},
  };
  for (const Row& r : rows) {
    const std::string entry = kvp::AutostartDesktopEntry(r.commandLine);
    EXPECT_NE(entry.find(std::string("\n") + r.exec + "\n"), std::string::npos) << r.commandLine << "\n" << entry;
  }
}

}  // namespace
