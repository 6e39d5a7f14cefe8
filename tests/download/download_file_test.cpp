// The writability probe and the safe file writer: nothing at the destination
// changes until a complete file is committed, and nothing is left behind.
#include "download/uDownFile.h"

#include "net/NetTestServers.h"
#include "download/download_test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

// A folder no new file can be created in, even for root (sysfs refuses).
std::string UnwritableFolder(const nettest::TempDir& tmp) {
  if (::geteuid() == 0) return "/sys";
  const std::string dir = tmp.File("ro");
  ::mkdir(dir.c_str(), 0555);
  return dir;
}

TEST(DownloadFile, ProbeLeavesNothingBehind) {
  nettest::TempDir tmp;
  EXPECT_TRUE(ProbeWritable(tmp.File("pkg.exe")));
  EXPECT_TRUE(Entries(tmp.Path()).empty());
}

TEST(DownloadFile, ProbeNeverTouchesAnExistingFile) {
  nettest::TempDir tmp;
  const std::string path = tmp.File("pkg.exe");
  nettest::WriteFile(path, "precious");
  ::chmod(path.c_str(), 0444);
  struct stat before{};
  ::stat(path.c_str(), &before);
  EXPECT_TRUE(ProbeWritable(path));
  struct stat after{};
  ::stat(path.c_str(), &after);
  EXPECT_EQ(nettest::ReadFile(path), "precious");
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"pkg.exe"});
}

TEST(DownloadFile, ProbeRefusesUnwritableFoldersAndFolderPaths) {
  nettest::TempDir tmp;
  EXPECT_FALSE(ProbeWritable(UnwritableFolder(tmp) + "/pkg.exe"));
  EXPECT_FALSE(ProbeWritable(tmp.File("missing") + "/pkg.exe"));
  EXPECT_FALSE(ProbeWritable(tmp.Path()));
  EXPECT_FALSE(ProbeWritable(tmp.Path() + "/"));
  EXPECT_FALSE(ProbeWritable(""));
}

TEST(DownloadFile, CommitReplacesTheDestinationWhole) {
  nettest::TempDir tmp;
  const std::string path = tmp.File("pkg.exe");
  nettest::WriteFile(path, "old");
  {
    TSafeFileWriter w(path, 0666, 16);  // a small buffer: direct and buffered writes both
    ASSERT_TRUE(w.Open());
    std::ostream out(&w);
    out << "abc";
    out.write(std::string(1000, 'x').data(), 1000);
    out << "end";
    EXPECT_EQ(nettest::ReadFile(path), "old");  // untouched while it runs
    EXPECT_EQ(Entries(tmp.Path()).size(), 2u);
    ASSERT_TRUE(w.Commit());
    EXPECT_EQ(w.Written(), 1006);
  }
  EXPECT_EQ(nettest::ReadFile(path), "abc" + std::string(1000, 'x') + "end");
  EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"pkg.exe"});
}

TEST(DownloadFile, DiscardAndDestructionKeepTheOldFile) {
  nettest::TempDir tmp;
  const std::string path = tmp.File("pkg.exe");
  nettest::WriteFile(path, "old");
  {
    TSafeFileWriter w(path);
    ASSERT_TRUE(w.Open());
    std::ostream out(&w);
    out << "half";
    out.flush();
    w.Discard();
    EXPECT_FALSE(w.Commit());
  }
  {
    TSafeFileWriter w(path);
    ASSERT_TRUE(w.Open());
    std::ostream(&w) << "half";
  }  // destroyed without a commit
  EXPECT_EQ(nettest::ReadFile(path), "old");
  EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{"pkg.exe"});
}

TEST(DownloadFile, NewFileOnlyAtCommit) {
  nettest::TempDir tmp;
  const std::string path = tmp.File("new.bin");
  TSafeFileWriter w(path, 0700);
  ASSERT_TRUE(w.Open());
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  ASSERT_TRUE(w.Commit());
  EXPECT_EQ(nettest::ReadFile(path), "");
  EXPECT_EQ(::access(path.c_str(), X_OK), 0);  // the mode asked for
}

TEST(DownloadFile, OpenFailsInAnUnwritableFolder) {
  nettest::TempDir tmp;
  TSafeFileWriter w(UnwritableFolder(tmp) + "/pkg.exe");
  EXPECT_FALSE(w.Open());
  EXPECT_TRUE(w.Failed());
  EXPECT_FALSE(w.Commit());
}

}  // namespace
