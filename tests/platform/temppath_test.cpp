// GetTempPathA: the machine's private Temp/ folder and the folders it refuses.
#include <windows.h>

#include "support/ScratchMachine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using korvane::testing::ScratchMachine;

TEST(TempPath, CreatesPrivateFolderWithTrailingSlash) {
  ScratchMachine m;
  char buf[MAX_PATH];
  DWORD n = GetTempPathA(sizeof buf, buf);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::string(buf, n), m.Root() + "/Temp/");
  EXPECT_EQ(buf[n], '\0');
  struct stat st;
  ASSERT_EQ(stat(m.Path("Temp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Too small a buffer: the size needed, with the NUL, and nothing written.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(GetTempPathA(sizeof small, small), n + 1);
  EXPECT_EQ(small[0], 'x');
  EXPECT_EQ(GetTempPathA(0, nullptr), n + 1);
  // An existing folder open to others is closed again.
  chmod(m.Path("Temp").c_str(), 0777);
  EXPECT_EQ(GetTempPathA(sizeof buf, buf), n);
  stat(m.Path("Temp").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(TempPath, RefusesSymlinkFileAndForeignFolder) {
  char buf[MAX_PATH];
  {
    ScratchMachine m;
    std::filesystem::create_directory(m.Path("elsewhere"));
    ASSERT_EQ(symlink(m.Path("elsewhere").c_str(), m.Path("Temp").c_str()), 0);
    testing::internal::CaptureStderr();
    SetLastError(0);
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("symbolic link"), std::string::npos);
  }
  {
    ScratchMachine m;
    m.Write("Temp", "not a folder");
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 0u);
    testing::internal::GetCapturedStderr();
  }
  if (geteuid() == 0) {
    ScratchMachine m;
    std::filesystem::create_directory(m.Path("Temp"));
    ASSERT_EQ(chown(m.Path("Temp").c_str(), 65534, 65534), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetTempPathA(sizeof buf, buf), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("another user"), std::string::npos);
  }
}
