// TDownThread headless: a pumped UI queue stands in for the dialog's thread,
// the reference server and loopback servers for the vendor's.
#include "download/uDownThread.h"

#include "support/RawServer.h"
#include "support/UpdateServerProcess.h"
#include "download/download_test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using korvane::testing::UpdateServerProcess;

struct TSnapshot {
  int32_t Total;
  int32_t Current;
};

// Records what the dialog would show; onProgress runs inside each progress call.
class TRecordingView : public IDownView {
 public:
  void ShowFileName(TDownThread&) override { ++FileNameCalls; }
  void ShowDownloadProgress(TDownThread& t) override {
    EXPECT_TRUE(UiQueue()->IsUiThread());
    Progress.push_back({t.Total, t.Current});
    if (OnProgress) OnProgress(t);
  }
  int FileNameCalls = 0;
  std::vector<TSnapshot> Progress;
  std::function<void(TDownThread&)> OnProgress;
};

std::string Bytes(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

class DownThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallUiQueue(&queue_); }
  void TearDown() override { InstallUiQueue(nullptr); }

  // Runs one download to its end (the termination handler included) and
  // returns whether this transfer saved the file.
  bool Run(const std::string& url, const std::string& dest, unsigned readTimeoutMs = 5000) {
    auto* t = new TDownThread(&view_, true);
    t->Url = url;
    t->FileName = dest;
    t->ReadTimeout = readTimeoutMs;
    bool ended = false;
    bool saved = false;
    thread_ = t;
    t->OnTerminate = [&](TThread& th) {
      ended = true;
      saved = static_cast<TDownThread&>(th).Saved();
      EXPECT_EQ(static_cast<TDownThread&>(th).FileName, dest);
    };
    t->FreeOnTerminate = true;
    t->Start();
    EXPECT_TRUE(queue_.PumpUntil([&] { return ended; }, 60000));
    thread_ = nullptr;
    return saved;
  }

  TPumpedUiQueue queue_;
  TRecordingView view_;
  TDownThread* thread_ = nullptr;
  nettest::TempDir tmp_;
};

TEST_F(DownThreadTest, PackageFromTheReferenceServerArrivesByteForByte) {
  if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
  UpdateServerProcess srv;
  const std::string body = Bytes(3 * 1048576 + 123, 7);
  nettest::WriteFile(srv.PackagesDir() + "/nv_9137.exe", body);
  const std::string dest = tmp_.File("nv_9137.exe");
  ASSERT_TRUE(Run(srv.HttpBase() + "/packages/nv_9137.exe", dest));
  EXPECT_EQ(nettest::ReadFile(dest), body);
  EXPECT_EQ(Entries(tmp_.Path()), std::vector<std::string>{"nv_9137.exe"});
  EXPECT_EQ(view_.FileNameCalls, 1);
  ASSERT_GE(view_.Progress.size(), 2u);
  EXPECT_EQ(view_.Progress.front().Total, static_cast<int32_t>(body.size()));
  EXPECT_EQ(view_.Progress.front().Current, 0);  // the begin event
  EXPECT_EQ(view_.Progress.back().Current, static_cast<int32_t>(body.size()));
  for (std::size_t i = 1; i < view_.Progress.size(); ++i)
    EXPECT_GE(view_.Progress[i].Current, view_.Progress[i - 1].Current);
}

TEST_F(DownThreadTest, ReplacesAnOlderFileOnlyWhenComplete) {
  const std::string body = Bytes(200000, 3);
  nettest::RawServer srv([&](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  });
  const std::string dest = tmp_.File("pkg.exe");
  nettest::WriteFile(dest, "older package");
  ASSERT_TRUE(Run(srv.Base() + "/pkg.exe", dest));
  EXPECT_EQ(nettest::ReadFile(dest), body);
  EXPECT_EQ(Entries(tmp_.Path()).size(), 1u);
}

TEST_F(DownThreadTest, ErrorStatusWritesNothing) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  });
  const std::string dest = tmp_.File("pkg.exe");
  EXPECT_FALSE(Run(srv.Base() + "/pkg.exe", dest));
  EXPECT_TRUE(Entries(tmp_.Path()).empty());
  EXPECT_TRUE(view_.Progress.empty());

  nettest::WriteFile(dest, "kept");
  EXPECT_FALSE(Run(srv.Base() + "/pkg.exe", dest));
  EXPECT_EQ(nettest::ReadFile(dest), "kept");
  EXPECT_EQ(Entries(tmp_.Path()).size(), 1u);
}

TEST_F(DownThreadTest, TruncatedBodyAndSilentServerWriteNothing) {
  nettest::RawServer cut([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'));
  });
  const std::string dest = tmp_.File("pkg.exe");
  EXPECT_FALSE(Run(cut.Base() + "/pkg.exe", dest));
  EXPECT_TRUE(Entries(tmp_.Path()).empty());

  nettest::RawServer silent([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nabc");
    nettest::WaitPeerClose(fd, 5000);
  });
  EXPECT_FALSE(Run(silent.Base() + "/pkg.exe", dest, 300));  // a short read time-out
  EXPECT_TRUE(Entries(tmp_.Path()).empty());
}

TEST_F(DownThreadTest, ConnectionRefusedWritesNothing) {
  int port = 0;
  {
    nettest::RawServer gone([](int, const std::string&) {});
    port = gone.Port();
  }
  EXPECT_FALSE(Run("http://127.0.0.1:" + std::to_string(port) + "/pkg.exe", tmp_.File("pkg.exe")));
  EXPECT_TRUE(Entries(tmp_.Path()).empty());
}

TEST_F(DownThreadTest, StopMidTransferDropsTheConnectionAndKeepsTheOldFile) {
  std::atomic<bool> peerClosed{false};
  nettest::RawServer srv([&](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n");
    // A slow trickle that would take far longer than the test.
    const std::string piece(4096, 'p');
    for (int i = 0; i < 2000 && !srv.Stopping(); ++i) {
      if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) <= 0) {
        peerClosed = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const std::string dest = tmp_.File("pkg.exe");
  nettest::WriteFile(dest, "older package");
  view_.OnProgress = [](TDownThread& t) {
    if (t.Current >= 20000) t.Terminate();
  };
  EXPECT_FALSE(Run(srv.Base() + "/pkg.exe", dest));
  EXPECT_EQ(nettest::ReadFile(dest), "older package");
  EXPECT_EQ(Entries(tmp_.Path()), std::vector<std::string>{"pkg.exe"});
  // The next event after the request dropped the connection: no more reports.
  ASSERT_FALSE(view_.Progress.empty());
  EXPECT_LT(view_.Progress.back().Current, 20000 + 65536);
  for (int i = 0; i < 100 && !peerClosed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(peerClosed);
}

TEST_F(DownThreadTest, StopAfterTheLastByteWritesNothing) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789");
  });
  view_.OnProgress = [](TDownThread& t) {
    if (t.Current == 10) t.Terminate();
  };
  EXPECT_FALSE(Run(srv.Base() + "/pkg.exe", tmp_.File("pkg.exe")));
  EXPECT_TRUE(Entries(tmp_.Path()).empty());
}

TEST_F(DownThreadTest, SizesBeyondThe32BitCountsAreRefused) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n" + std::string(1000, 'x'));
  });
  EXPECT_FALSE(Run(srv.Base() + "/big.iso", tmp_.File("big.iso")));
  EXPECT_TRUE(Entries(tmp_.Path()).empty());
  for (const TSnapshot& s : view_.Progress) EXPECT_GE(s.Total, 0);
}

TEST_F(DownThreadTest, BodyWithoutLengthCountsFromZero) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\n\r\n" + std::string(70000, 'z'));
  });
  const std::string dest = tmp_.File("pkg.exe");
  ASSERT_TRUE(Run(srv.Base() + "/pkg.exe", dest));
  EXPECT_EQ(nettest::ReadFile(dest), std::string(70000, 'z'));
  ASSERT_FALSE(view_.Progress.empty());
  EXPECT_EQ(view_.Progress.front().Total, 0);
  EXPECT_EQ(view_.Progress.back().Current, 70000);
}

TEST_F(DownThreadTest, UnwritableDestinationWritesNothing) {
  nettest::RawServer srv([](int fd, const std::string&) {
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
  });
  const std::string folder = ::geteuid() == 0 ? std::string("/sys") : tmp_.File("ro");
  if (::geteuid() != 0) ::mkdir(folder.c_str(), 0555);
  EXPECT_FALSE(Run(srv.Base() + "/pkg.exe", folder + "/pkg.exe"));
  EXPECT_NE(::access((folder + "/pkg.exe").c_str(), F_OK), 0);
}

}  // namespace
