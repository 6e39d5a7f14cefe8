// The layer's mutex, window table and shell hook, across real processes.
#include <gtest/gtest.h>
#include "support/ScratchFolder.h"
#include "support/ScratchMachine.h"

#include <windows.h>
#include "korvane_machine.h"
#include "korvane_window.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string Probe() { return std::string(std::getenv("KORVANE_BINARY_DIR")) + "/tests/ui/main/shell_platform_probe"; }

std::string RunProbe(const std::string& args) {
  FILE* p = ::popen((Probe() + " " + args + " </dev/null").c_str(), "r");
  if (!p) return {};
  char buf[256] = {};
  std::string out;
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  ::pclose(p);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

class WindowFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = korvane::testing::MakeScratchFolder("kvwin");
    fs::create_directories(root_ + "/run");
    ::chmod((root_ + "/run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
    machine_.emplace();
  }
  void TearDown() override {
    machine_.reset();
    korvane::testing::RemoveFolder(root_);
  }
  std::string root_;  // the session's run/ is in it
  std::optional<korvane::testing::ScratchMachine> machine_;
};

TEST_F(WindowFunctions, NamedMutexFirstAndSecond) {
  HANDLE a = CreateMutexA(nullptr, FALSE, "BrantholmKorvane");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE b = CreateMutexA(nullptr, FALSE, "BrantholmKorvane");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(RunProbe("mutex BrantholmKorvane"), "exists");
  EXPECT_TRUE(ReleaseMutex(a));
  EXPECT_TRUE(CloseHandle(b));
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_FALSE(CloseHandle(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // Released with the creator's handle.
  EXPECT_EQ(RunProbe("mutex BrantholmKorvane"), "first");
  // A name with path separators stays inside the session folder.
  HANDLE c = CreateMutexA(nullptr, FALSE, "../x\\y");
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(fs::exists(KorvaneSessionFolder() + "/mutex-.._x_y.lock"));
  CloseHandle(c);
}

TEST_F(WindowFunctions, SessionFolderIsPerMachineAndPrivate) {
  const std::string a = KorvaneSessionFolder();
  ASSERT_FALSE(a.empty());
  struct stat st{};
  ASSERT_EQ(::stat(a.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const korvane::testing::ScratchMachine other;
  EXPECT_NE(KorvaneSessionFolder(), a);
  // A folder others may write is refused.
  ::chmod((root_ + "/run/korvane").c_str(), 0777);
  EXPECT_EQ(KorvaneSessionFolder(), "");
  HANDLE h = CreateMutexA(nullptr, FALSE, "BrantholmKorvane");
  EXPECT_EQ(h, nullptr);
  ::chmod((root_ + "/run/korvane").c_str(), 0700);
}

TEST_F(WindowFunctions, FindAndPostAcrossProcesses) {
  std::atomic<int> got{0};
  std::atomic<UINT> msg{0};
  KorvaneWindowCallbacks cb;
  cb.Post = [&](UINT m, WPARAM, LPARAM) {
    msg = m;
    ++got;
  };
  cb.GetRect = [](RECT& rc) {
    rc = RECT{10, 20, 760, 570};
    return true;
  };
  HWND w = KorvaneRegisterWindow("TMainForm", "Korvane", cb);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(FindWindowA("TMainForm", "Korvane"), w);
  EXPECT_EQ(FindWindowA(nullptr, "Korvane"), w);
  EXPECT_EQ(FindWindowA("TMainForm", "Other"), nullptr);

  EXPECT_EQ(RunProbe("post TMainForm Korvane 32897"), "posted");
  for (int i = 0; i < 100 && got == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(got.load(), 1);
  EXPECT_EQ(msg.load(), 32897u);
  EXPECT_EQ(RunProbe("post TMainForm Korvanex 32897"), "none");
  EXPECT_EQ(RunProbe("rect TMainForm Korvane"), "10 20 760 570");

  KorvaneSetWindowCaption(w, "Renamed");
  EXPECT_EQ(RunProbe("post TMainForm Korvane 32897"), "none");
  KorvaneUnregisterWindow(w);
  EXPECT_EQ(FindWindowA("TMainForm", "Renamed"), nullptr);
  EXPECT_FALSE(PostMessageA(w, 1, 0, 0));
  EXPECT_EQ(RunProbe("post TMainForm Renamed 32897"), "none");
}

TEST_F(WindowFunctions, ShellExecuteHookAndMissingFile) {
  std::string seen;
  {
    KorvaneScopedShellExecuteHook shell(
        [&](const std::string& op, const std::string& file, const std::string&) {
          seen = op + "|" + file;
          return true;
        });
    EXPECT_GT(reinterpret_cast<intptr_t>(
                  ShellExecuteA(nullptr, nullptr, "/x/help.chm", nullptr, nullptr, SW_SHOWNORMAL)),
              32);
    EXPECT_EQ(seen, "|/x/help.chm");
  }
  EXPECT_EQ(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, nullptr, (root_ + "/nothere.chm").c_str(), nullptr,
                                                     nullptr, SW_SHOWNORMAL)),
            SE_ERR_FNF);
}

}  // namespace
