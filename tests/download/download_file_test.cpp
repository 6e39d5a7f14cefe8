// The writability probe and the safe file writer: nothing at the destination
// changes until a complete file is committed, and nothing is left behind.
#include "download/uDownFile.h"

#include "support/RawServer.h"
#include "net/uHttpClient.h"
#include "download/download_test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

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
    TSafeFileWriter w(path, TFileKind::Document, 16);  // a small buffer: direct and buffered writes both
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
  TSafeFileWriter w(path, TFileKind::Program);
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

// One GET into destination through the engine, against a loopback server.
bool Fetch(const std::string& url, const std::string& destination, TFileKind kind = TFileKind::Document) {
  THttpClient http;
  http.ReadTimeout = 3000;
  THttpClient* active = nullptr;
  return GetIntoFile(http, active, url, destination, kind, [] { return true; });
}

// Names of 239 to 255 bytes need a temporary name that still fits; longer
// names cannot exist and fail the probe, so the user is told.
TEST(DownloadFile, LongestFileNamesDownloadWhole) {
  nettest::RawServer server([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\npackage");
  });
  for (std::size_t length : {200u, 238u, 239u, 250u, 255u}) {
    SCOPED_TRACE(length);
    nettest::TempDir tmp;
    const std::string name = std::string(length - 4, 'n') + ".exe";
    const std::string path = tmp.File(name);
    EXPECT_TRUE(ProbeWritable(path));
    ASSERT_TRUE(Fetch(server.Base() + "/driver.exe", path));
    EXPECT_EQ(nettest::ReadFile(path), "package");
    EXPECT_EQ(Entries(tmp.Path()), std::vector<std::string>{name});
    const std::string part = PartFilePath(path, "0123456789");
    EXPECT_LE(part.size() - tmp.Path().size() - 1, kMaxFileNameBytes);
    EXPECT_TRUE(IsTransferScratchName(part.substr(tmp.Path().size() + 1)));
  }
  // A cut never splits a character of a multi-byte name.
  std::string wide;
  while (wide.size() < 250) wide += "\xC3\xA9";
  const std::string part = PartFilePath("/d/" + wide, "0123456789");
  const std::string cut = part.substr(4, part.size() - 4 - std::string(".kv0123456789.part").size());
  EXPECT_EQ(cut.size() % 2, 0u);
  nettest::TempDir tmp;
  EXPECT_FALSE(ProbeWritable(tmp.File(std::string(256, 'n'))));
  EXPECT_TRUE(Entries(tmp.Path()).empty());
}

TEST(DownloadFile, ReplacedFileKeepsItsPermissionBits) {
  nettest::RawServer server([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew");
  });
  nettest::TempDir tmp;
  const std::string path = tmp.File("pkg.exe");
  nettest::WriteFile(path, "old");
  ::chmod(path.c_str(), 0600);
  ASSERT_TRUE(Fetch(server.Base() + "/pkg.exe", path));
  struct stat st{};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(nettest::ReadFile(path), "new");
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // An installer asked for as executable stays runnable over an old private copy.
  ASSERT_TRUE(Fetch(server.Base() + "/pkg.exe", path, TFileKind::Program));
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // A package saved over a program never keeps its execute bits.
  ASSERT_TRUE(Fetch(server.Base() + "/pkg.exe", path));
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ::chmod(path.c_str(), 06775);
  ASSERT_TRUE(Fetch(server.Base() + "/pkg.exe", path));
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 06111, 0u);
  EXPECT_EQ(st.st_mode & 0666, 0664u);
  // A new document gets the mode every new file gets, less the umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const std::string fresh = tmp.File("fresh.exe");
  ASSERT_TRUE(Fetch(server.Base() + "/pkg.exe", fresh));
  ::stat(fresh.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
}

void MakeOld(const std::string& path, bool link = false) {
  timeval times[2];
  ::gettimeofday(&times[0], nullptr);
  times[0].tv_sec -= 2 * kStalePartSeconds;
  times[1] = times[0];
  if (link)
    ::lutimes(path.c_str(), times);
  else
    ::utimes(path.c_str(), times);
}

// A program killed mid-transfer leaves its temporary file; the next transfer
// into that folder removes it, and nothing that is not a leftover of ours.
TEST(DownloadFile, NextTransferRemovesTheLeftoverOfAKilledOne) {
  nettest::TempDir tmp;
  const std::string path = tmp.File("pkg.exe");
  // A listener without a thread of its own, so the child is forked cleanly.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/pkg.exe";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(listener);
    Fetch(url, path);
    ::_exit(0);
  }
  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1);
  const int conn = ::accept(listener, nullptr, nullptr);
  nettest::SendAll(conn, "HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n" + std::string(300000, 'p'));
  std::string leftover;
  for (int i = 0; i < 200 && leftover.empty(); ++i) {
    for (const std::string& n : Entries(tmp.Path()))
      if (IsTransferScratchName(n)) leftover = n;
    if (leftover.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(conn);
  ::close(listener);
  ASSERT_FALSE(leftover.empty()) << "the transfer's temporary file";
  MakeOld(tmp.File(leftover));

  // Old files that only look alike, and a live transfer's fresh file, stay.
  const std::vector<std::string> others = {".pkg.exe.0123456789.part", "pkg.exe.kv0123456789.part",
                                           ".pkg.exe.kvABCDEFGHIJ.part", ".pkg.exe.kv01234.part",
                                           "notes.txt"};
  for (const std::string& n : others) {
    nettest::WriteFile(tmp.File(n), "theirs");
    MakeOld(tmp.File(n));
  }
  nettest::WriteFile(tmp.File(".live.exe.kv0123456789.part"), "running");
  ::mkdir(tmp.File(".dir.kv0123456789.part").c_str(), 0700);
  MakeOld(tmp.File(".dir.kv0123456789.part"));
  ::symlink(tmp.File("notes.txt").c_str(), tmp.File(".link.kv0123456789.part").c_str());
  MakeOld(tmp.File(".link.kv0123456789.part"), true);

  nettest::RawServer server([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone");
  });
  ASSERT_TRUE(Fetch(server.Base() + "/other.exe", tmp.File("other.exe")));
  std::vector<std::string> want = others;
  want.insert(want.end(), {".live.exe.kv0123456789.part", ".dir.kv0123456789.part",
                           ".link.kv0123456789.part", "other.exe"});
  std::vector<std::string> got = Entries(tmp.Path());
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);
  EXPECT_EQ(nettest::ReadFile(tmp.File("notes.txt")), "theirs");
}

}  // namespace
