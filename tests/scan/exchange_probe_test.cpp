// The connectivity probe and the background GET thread against servers on loopback.
#include "scan/uSSLRequest.h"

#include "core/uThread.h"
#include "support/FakeUpdateServer.h"

#include <gtest/gtest.h>

#include <korvane_text.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdlib.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

using exchangetest::TFakeUpdateServer;

namespace {

// A port that refuses connections: bound, never listened on... then closed.
int DeadPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

class GetThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallUiQueue(&queue_); }
  void TearDown() override { InstallUiQueue(nullptr); }

  // Runs one GET thread to its end and returns what its completion handler saw.
  std::u16string Fetch(const std::string& url, bool tls, unsigned timeoutMs = 2000) {
    auto* t = new TSSLRequestThread();
    t->UseTLS = tls;
    t->URL = url;
    t->ReadTimeout = timeoutMs;
    std::u16string seen;
    bool uiThread = false;
    t->OnTerminate = [&](TThread& th) {
      seen = static_cast<TSSLRequestThread&>(th).Answer;
      uiThread = queue_.IsUiThread();
    };
    TWaitHandle h = t->Handle();
    t->Start();  // frees itself
    EXPECT_TRUE(queue_.PumpUntil([&] { return h->IsSet(); }, 10000));
    EXPECT_TRUE(uiThread);
    return seen;
  }

  TPumpedUiQueue queue_;
};

}  // namespace

TEST(ExchangeProbe, OkAnywhereInTheTextCountsOthersDoNot) {
  TFakeUpdateServer srv;
  const std::string url = srv.HttpBase() + "/isavail.txt";
  struct Case {
    std::string body;
    int status;
    bool expected;
  } cases[] = {
      {"ok", 200, true},          {"server is ok today", 200, true},
      {"bookkeeping", 200, true}, {"OK", 200, false},
      {"Ok", 200, false},         {"", 200, false},
      {"ok", 404, false},         {"ok", 500, false},
      {"ok", 302, false},
  };
  for (const Case& c : cases) {
    srv.SetProbe(c.body, c.status);
    EXPECT_EQ(IsInternetAvailableAt(url, 2000), c.expected) << c.body << " " << c.status;
  }
}

TEST(ExchangeProbe, RefusedConnectionAndSilentServerMeanUnavailable) {
  EXPECT_FALSE(IsInternetAvailableAt("http://127.0.0.1:" + std::to_string(DeadPort()) + "/isavail.txt", 500));
  TFakeUpdateServer srv;
  srv.SetProbeDelayMs(3000);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(IsInternetAvailableAt(srv.HttpBase() + "/isavail.txt", 200));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
}

TEST_F(GetThreadTest, AnswerIsTheBodyAndEmptyOnFailure) {
  TFakeUpdateServer srv;
  srv.SetCert("PEM TEXT \xE9");
  EXPECT_EQ(Fetch(srv.HttpBase() + "/cacert.txt", false), AnsiToWide("PEM TEXT \xE9"));
  srv.SetCert("gone", 404);
  EXPECT_EQ(Fetch(srv.HttpBase() + "/cacert.txt", false), u"");
  srv.SetCert("slow");
  srv.SetProbeDelayMs(3000);
  EXPECT_EQ(Fetch(srv.HttpBase() + "/isavail.txt", false, 200), u"");
}

TEST_F(GetThreadTest, TlsRequestNeedsALoadableRootCertificate) {
  TFakeUpdateServer srv;
  srv.SetCert("over tls");
  char dir[] = "/tmp/kv-exchange-tls-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string good = std::string(dir) + "/ccc3";
  const std::string bad = std::string(dir) + "/bad";
  { std::ofstream(good) << exchangetest::TestCertPem(); }
  { std::ofstream(bad) << "not a certificate"; }

  auto fetchTls = [&](const std::string& root) {
    auto* t = new TSSLRequestThread();
    t->UseTLS = true;
    t->RootCertFile = root;
    t->URL = srv.HttpsBase() + "/cacert.txt";
    t->ReadTimeout = 2000;
    std::u16string seen;
    t->OnTerminate = [&](TThread& th) { seen = static_cast<TSSLRequestThread&>(th).Answer; };
    TWaitHandle h = t->Handle();
    t->Start();
    EXPECT_TRUE(queue_.PumpUntil([&] { return h->IsSet(); }, 10000));
    return seen;
  };
  EXPECT_EQ(fetchTls(good), u"over tls");
  const int before = srv.CertCount();
  EXPECT_EQ(fetchTls(bad), u"");
  EXPECT_EQ(srv.CertCount(), before);  // refused before anything was sent
  std::remove(good.c_str());
  std::remove(bad.c_str());
  rmdir(dir);
}

TEST_F(GetThreadTest, ThreadDefaultsAreLowerPrioritySelfFreeingPlainHttp) {
  TSSLRequestThread t;
  EXPECT_EQ(t.Priority, TThreadPriority::tpLower);
  EXPECT_TRUE(t.FreeOnTerminate);
  EXPECT_FALSE(t.UseTLS);
  EXPECT_EQ(t.ReadTimeout, 30000u);
  t.FreeOnTerminate = false;  // never started: destroyed here
}
