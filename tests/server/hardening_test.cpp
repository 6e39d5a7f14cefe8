// korvane-updsrv on a network: raw sockets against the real program. No
// request rides in another's body, heads are bounded, held connections
// starve nothing, a busy address is an error, the vendor's files are left
// alone, and the service behaviours (public URLs, access log, reload, stop).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "server/GzipHelper.h"
#include "support/LoopbackClient.h"
#include "support/SelfSignedCert.h"
#include "support/UpdateServerProcess.h"

using namespace korvane::testing;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

extern char** environ;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

long RssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

const std::string kB = "--------120926072235123";

std::string CheckBody(const std::string& packed) {
  return "--" + kB +
         "\r\nContent-Disposition: form-data; name=\"drvlist\"; filename=\"/tmp/scanres.log.gz\"\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\n\r\n" +
         packed + "\r\n--" + kB + "--\r\n";
}

std::string CheckRequest(const std::string& body, const std::string& host = "127.0.0.1:443") {
  return "POST /remote/check_upd.php HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + kB +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nHost: " + host +
         "\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n" +
         body;
}

const char* kCatalogue = "PCI\\VEN_8086&DEV_100E | 6-1-2024 | 8.4.13.0 | Intel | e1000.zip\n";

std::string Report() { return GzipPack(MakeReport({{"PCI\\VEN_8086&DEV_100E", "", "1-1-2001"}})); }

// The check over HTTPS with the program's profile (a new connection), timed.
std::string TlsCheck(const UpdateServerProcess& s, double* seconds = nullptr) {
  const auto t0 = Clock::now();
  httplib::SSLClient c("127.0.0.1", s.HttpsPort());
  c.enable_server_certificate_verification(false);
  c.set_read_timeout(10, 0);
  c.set_connection_timeout(10, 0);
  auto res =
      c.Post("/remote/check_upd.php", CheckBody(Report()), ("multipart/form-data; boundary=" + kB).c_str());
  if (seconds) *seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  return res ? res->body : "<no response>";
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

// Runs the server program to its end (for start failures, --version, --help).
TRun RunProgram(std::vector<std::string> args, const std::string& dir, const std::string& stdoutPath = "") {
  args.insert(args.begin(), UpdateServerProcess::BinaryPath());
  const std::string out = stdoutPath.empty() ? dir + "/run.out" : stdoutPath, err = dir + "/run.err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  TRun r;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) {
    // A server that did start is stopped after a while.
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid, &r.Status, WNOHANG) == pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (i == 99) {
        kill(pid, SIGKILL);
        waitpid(pid, &r.Status, 0);
      }
    }
  }
  posix_spawn_file_actions_destroy(&fa);
  r.Out = stdoutPath.empty() ? ReadAll(out) : "";
  r.Err = ReadAll(err);
  return r;
}

class Hardening : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
    dir_ = MakeScratchFolder("updsrv-hard");
    WriteTextFile(dir_ + "/catalogue.txt", kCatalogue);
  }
  void TearDown() override {
    if (!dir_.empty()) RemoveFolder(dir_);
  }
  UpdateServerOptions Options(std::vector<std::string> extra = {}) {
    UpdateServerOptions o;
    o.DataDir = dir_ + "/data";
    o.Catalogue = dir_ + "/catalogue.txt";
    o.ExtraArgs = std::move(extra);
    return o;
  }
  std::string dir_;
};

}  // namespace

TEST_F(Hardening, NoRequestRidesInAnUnreadBody) {
  UpdateServerProcess s(Options({"--idle-timeout", "500ms"}));
  const std::string inner = "GET /cacert.txt HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string broken = "--XX\r\nthis part header has no colon\r\n\r\n";
  const struct {
    const char* name;
    std::string request;
  } cases[] = {
      // A body on a route that takes none.
      {"body on a GET route", "POST /isavail.txt HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                  std::to_string(inner.size()) + "\r\n\r\n" + inner},
      // A refused upload: over the size limit, its bytes a request.
      {"oversize upload",
       "POST /remote/check_upd.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=" + kB +
           "\r\nContent-Length: 100000000\r\n\r\n" + inner},
      // A malformed form: refused, but its whole body is read first.
      {"broken multipart",
       "POST /remote/check_upd.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=XX"
       "\r\nContent-Length: " +
           std::to_string(broken.size() + inner.size()) + "\r\n\r\n" + broken + inner},
      // A broken chunked body.
      {"broken chunks",
       "POST /remote/check_upd.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
       "zz\r\n" +
           inner},
      // Both framings at once.
      {"length and chunked",
       "POST /remote/check_upd.php HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n"
       "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" +
           inner},
  };
  for (const auto& c : cases) {
    int fd = Connect(s.HttpPort());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, c.request)) << c.name;
    bool closed = false;
    std::string got = ReadUntilClosed(fd, 5000, &closed);
    ::close(fd);
    EXPECT_TRUE(closed) << c.name << ": connection left open";
    EXPECT_EQ(Count(got, "HTTP/1.1 "), 1u) << c.name << ":\n" << got;
    EXPECT_EQ(got.find("BEGIN CERTIFICATE"), std::string::npos) << c.name << ": the body was served";
  }
  // A whole, well-formed upload keeps the connection for the next request.
  int fd = Connect(s.HttpPort());
  ASSERT_TRUE(SendAll(fd, CheckRequest(CheckBody(Report())) + inner));
  std::string got = ReadAnswer(fd, 5000);
  got += ReadAnswer(fd, 5000);
  ::close(fd);
  EXPECT_EQ(Count(got, "HTTP/1.1 200"), 2u) << got;
  EXPECT_NE(got.find("<dev><id>1</id>"), std::string::npos);
  EXPECT_NE(got.find("BEGIN CERTIFICATE"), std::string::npos);
}

TEST_F(Hardening, RequestHeadsAreBounded) {
  UpdateServerProcess s(Options());
  auto head = [](size_t lines, size_t lineBytes) {
    std::string h = "GET /isavail.txt HTTP/1.1\r\nHost: x\r\n";
    for (size_t i = 0; i + 1 < lines; ++i) {
      std::string name = "X-F" + std::to_string(i) + ": ";
      h += name + std::string(lineBytes > name.size() ? lineBytes - name.size() : 1, 'a') + "\r\n";
    }
    return h + "\r\n";
  };
  const struct {
    const char* name;
    std::string request;
    bool ok;
  } cases[] = {
      {"100 lines", head(100, 40), true},
      {"101 lines", head(101, 40), false},
      {"a line of 8 KiB", head(2, 8 * 1024), true},
      {"a line over 8 KiB", head(2, 8 * 1024 + 1), false},
      {"a head over 64 KiB", head(95, 7000), false},
      {"a request line over 8 KiB", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", false},
  };
  for (const auto& c : cases) {
    int fd = Connect(s.HttpPort());
    ASSERT_GE(fd, 0);
    SendAll(fd, c.request);
    bool closed = false;
    std::string got = c.ok ? ReadAnswer(fd, 5000) : ReadUntilClosed(fd, 5000, &closed);
    ::close(fd);
    if (c.ok) {
      EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << c.name << ": " << got.substr(0, 40);
    } else {
      EXPECT_TRUE(got.rfind("HTTP/1.1 431", 0) == 0 || got.rfind("HTTP/1.1 400", 0) == 0)
          << c.name << ": " << got.substr(0, 40);
      EXPECT_TRUE(closed) << c.name;
    }
  }
}

TEST_F(Hardening, HeaderFloodsKeepMemoryBounded) {
  UpdateServerProcess s(Options());
  ASSERT_EQ(TlsCheck(s).rfind("<errcode>0</errcode>", 0), 0u);
  const long idle = RssKiB(s.Pid());
  ASSERT_GT(idle, 0);
  std::atomic<long> peak{idle};
  std::atomic<bool> flooding{true};
  std::thread watch([&] {
    while (flooding) {
      long now = RssKiB(s.Pid());
      if (now > peak) peak = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  // 20 connections at once, 200,000 header lines each.
  std::string block;
  for (int i = 0; i < 1000; ++i) block += "X-Flood-" + std::to_string(i) + ": vvvvvvvv\r\n";
  std::vector<std::thread> floods;
  std::atomic<int> refused{0};
  for (int k = 0; k < 20; ++k) {
    floods.emplace_back([&] {
      int fd = Connect(s.HttpPort());
      if (fd < 0) return;
      std::string got;
      if (SendAll(fd, "GET /isavail.txt HTTP/1.1\r\nHost: x\r\n"))
        for (int i = 0; i < 200 && SendAll(fd, block); ++i) {
        }
      got = ReadUntilClosed(fd, 3000);
      if (got.rfind("HTTP/1.1 431", 0) == 0 || got.empty()) ++refused;
      ::close(fd);
    });
  }
  for (auto& t : floods) t.join();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  flooding = false;
  watch.join();
  const long after = RssKiB(s.Pid());
  EXPECT_EQ(refused, 20);
  EXPECT_LT(peak - idle, 64 * 1024) << "KiB above idle during the floods";
  EXPECT_LT(after - idle, 16 * 1024) << "KiB kept after the floods";
  EXPECT_EQ(TlsCheck(s).rfind("<errcode>0</errcode>", 0), 0u);
}

TEST_F(Hardening, HeldConnectionsStarveNothing) {
  UpdateServerProcess s(Options({"--head-timeout", "2500ms", "--idle-timeout", "300ms"}));
  std::vector<int> held;
  for (int i = 0; i < 200; ++i) {
    int fd = Connect(i % 3 == 2 ? s.HttpsPort() : s.HttpPort());  // TLS ones send no ClientHello
    ASSERT_GE(fd, 0);
    if (i % 3 == 1) SendAll(fd, "GET /isav");  // half a request line
    held.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto t0 = Clock::now();
  double took = 0;
  EXPECT_EQ(TlsCheck(s, &took).rfind("<errcode>0</errcode>\r\n<dev><id>1</id>", 0), 0u);
  EXPECT_LT(took, 1.0) << "check behind 200 held connections";
  httplib::Client plain("127.0.0.1", s.HttpPort());
  auto r = plain.Get("/isavail.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "ok");
  // Held connections end at the head deadline, not before the check above.
  int closedCount = 0;
  for (int fd : held) {
    bool closed = false;
    auto left = std::chrono::milliseconds(6000) -
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
    ReadUntilClosed(fd, static_cast<int>(std::max<long>(1, left.count())), &closed);
    closedCount += closed;
    ::close(fd);
  }
  EXPECT_EQ(closedCount, 200);
  EXPECT_GT(Clock::now() - t0, std::chrono::milliseconds(2000));
  // An idle kept-alive connection is closed after the idle time.
  int fd = Connect(s.HttpPort());
  SendAll(fd, "GET /isavail.txt HTTP/1.1\r\nHost: x\r\n\r\n");
  bool closed = false;
  const auto t1 = Clock::now();
  std::string got = ReadUntilClosed(fd, 3000, &closed);
  ::close(fd);
  EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_TRUE(closed);
  EXPECT_LT(Clock::now() - t1, std::chrono::milliseconds(2000));
}

TEST_F(Hardening, BusyAddressIsAnError) {
  for (bool reusePort : {false, true}) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (reusePort) ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string where = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    for (const char* flag : {"--http", "--https"}) {
      TRun r = RunProgram({"--data", dir_ + "/data", flag, where,
                           std::string(flag) == "--http" ? "--https" : "--http", "127.0.0.1:0"},
                          dir_);
      ASSERT_TRUE(WIFEXITED(r.Status)) << flag << " status " << r.Status << " " << r.Err;
      EXPECT_EQ(WEXITSTATUS(r.Status), 1) << flag << " reuseport " << reusePort << ": " << r.Err;
      EXPECT_NE(r.Err.find(where), std::string::npos) << r.Err;
      EXPECT_EQ(Count(r.Err, "\n"), 1u) << r.Err;
      EXPECT_EQ(r.Out, "");
    }
    ::close(fd);
  }
}

TEST_F(Hardening, VersionAndHelp) {
  TRun v = RunProgram({"--version"}, dir_);
  EXPECT_TRUE(WIFEXITED(v.Status) && WEXITSTATUS(v.Status) == 0);
  EXPECT_TRUE(std::regex_match(v.Out, std::regex("korvane-updsrv [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << v.Out;
  TRun h = RunProgram({"--help"}, dir_);
  EXPECT_TRUE(WIFEXITED(h.Status) && WEXITSTATUS(h.Status) == 0);
  for (const char* flag : {"--http", "--https", "--data", "--catalogue", "--messages", "--cert", "--key",
                           "--ca", "--public-base", "--log", "--threads", "--head-timeout", "--idle-timeout",
                           "--grace", "--lame-duck", "--version", "--help"})
    EXPECT_NE(h.Out.find(flag), std::string::npos) << flag;
  // Standard output that cannot be written is a failure, as for the other tools.
  for (const char* flag : {"--help", "--version"}) {
    TRun full = RunProgram({flag}, dir_, "/dev/full");
    EXPECT_TRUE(WIFEXITED(full.Status) && WEXITSTATUS(full.Status) == 1) << flag << " " << full.Status;
    EXPECT_NE(full.Err.find("cannot write"), std::string::npos) << full.Err;
  }
}

namespace {

// The subject CN of the certificate the HTTPS listener presents.
std::string PresentedName(int port) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL* ssl = SSL_new(ctx);
  int fd = Connect(port);
  SSL_set_fd(ssl, fd);
  std::string cn;
  if (SSL_connect(ssl) == 1) {
    X509* peer = SSL_get1_peer_certificate(ssl);
    char buf[256] = {0};
    X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, buf, sizeof buf);
    cn = buf;
    X509_free(peer);
  }
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  ::close(fd);
  return cn;
}

}  // namespace

TEST_F(Hardening, VendorCertificateAndFilesAreLeftAlone) {
  const std::string data = dir_ + "/data";
  WriteTextFile(data + "/chain.pem", "the vendor's chain\n");
  // A self-signed certificate and key as a vendor would bring them.
  korvane::testing::MakeSelfSignedCert("vendor.example").WriteTo(data + "/vendor.pem", data + "/vendor.key");
  const std::string pem = ReadAll(data + "/vendor.pem"), key = ReadAll(data + "/vendor.key");
  {
    UpdateServerProcess s(Options({"--cert", data + "/vendor.pem", "--key", data + "/vendor.key"}));
    EXPECT_EQ(PresentedName(s.HttpsPort()), "vendor.example");
    auto r = httplib::Client("127.0.0.1", s.HttpPort()).Get("/cacert.txt");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, pem);
    EXPECT_EQ(TlsCheck(s).rfind("<errcode>0</errcode>", 0), 0u);
  }
  {
    UpdateServerProcess s(Options(
        {"--cert", data + "/vendor.pem", "--key", data + "/vendor.key", "--ca", data + "/chain.pem"}));
    auto r = httplib::Client("127.0.0.1", s.HttpPort()).Get("/cacert.txt");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "the vendor's chain\n");
  }
  EXPECT_EQ(ReadAll(data + "/vendor.pem"), pem);
  EXPECT_EQ(ReadAll(data + "/vendor.key"), key);
  EXPECT_FALSE(std::ifstream(data + "/server.key").good()) << "made its own key beside the vendor's";

  // Its own CA and key: made once, keys 0600.
  std::string ca;
  {
    UpdateServerProcess s(Options());
    ca = ReadAll(data + "/ca.pem");
  }
  for (const char* k : {"/ca.key", "/server.key"}) {
    struct stat st {};
    ASSERT_EQ(::stat((data + k).c_str(), &st), 0) << k;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << k;
  }
  // Its own server certificate is made again for another host, under the same CA.
  const std::string cert = ReadAll(data + "/server.pem");
  {
    UpdateServerProcess s(Options({"--https", "127.0.0.2:0"}));
    EXPECT_EQ(ReadAll(data + "/ca.pem"), ca);
    EXPECT_NE(ReadAll(data + "/server.pem"), cert);
  }
  // A certificate someone else put there is never replaced: the start fails
  // and names the file.
  WriteTextFile(data + "/server.pem", "the vendor's own file\n");
  TRun r = RunProgram({"--data", data, "--http", "127.0.0.1:0", "--https", "127.0.0.1:0"}, dir_);
  ASSERT_TRUE(WIFEXITED(r.Status));
  EXPECT_EQ(WEXITSTATUS(r.Status), 1) << r.Err;
  EXPECT_NE(r.Err.find("server.pem"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(data + "/server.pem"), "the vendor's own file\n");
  EXPECT_EQ(ReadAll(data + "/ca.pem"), ca);
}

TEST_F(Hardening, AnswerUrlsFollowPublicBaseOrHost) {
  auto answerVia = [](int port, const std::string& host) {
    int fd = Connect(port);
    SendAll(fd, CheckRequest(CheckBody(Report()), host));
    std::string got = ReadAnswer(fd, 5000);
    ::close(fd);
    size_t url = got.find("<url>");
    return url == std::string::npos ? got : got.substr(url + 5, got.find("</url>") - url - 5);
  };
  {
    UpdateServerProcess s(Options());
    const std::string port = std::to_string(s.HttpPort());
    EXPECT_EQ(answerVia(s.HttpPort(), "updates.example.net:443"),
              "http://updates.example.net:" + port + "/packages/e1000.zip");
    EXPECT_EQ(answerVia(s.HttpPort(), "10.1.2.3"), "http://10.1.2.3:" + port + "/packages/e1000.zip");
    // A Host that is no plain name falls back to the listener's address.
    EXPECT_EQ(answerVia(s.HttpPort(), "x<y>"), "http://127.0.0.1:" + port + "/packages/e1000.zip");
  }
  UpdateServerProcess s(Options({"--public-base", "https://dl.vendor.example/korvane/"}));
  EXPECT_EQ(answerVia(s.HttpPort(), "other.example"), "https://dl.vendor.example/korvane/packages/e1000.zip");
}

TEST_F(Hardening, AccessLogStartupLineAndReload) {
  const std::string log = dir_ + "/access.log";
  UpdateServerProcess s(Options({"--log", log}));
  httplib::Client c("127.0.0.1", s.HttpPort());
  ASSERT_TRUE(c.Get("/isavail.txt"));
  ASSERT_TRUE(c.Get("/nothing"));
  EXPECT_EQ(TlsCheck(s).rfind("<errcode>0</errcode>", 0), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string text = ReadAll(log);
  const std::regex clf(
      R"re(127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "([^"]*)" (\d{3}) (\d+|-))re");
  std::vector<std::string> lines;
  for (size_t p = 0, nl; (nl = text.find('\n', p)) != std::string::npos; p = nl + 1)
    lines.push_back(text.substr(p, nl - p));
  ASSERT_GE(lines.size(), 3u) << text;
  // Each request is logged once its answer went out; lines of different
  // connections may come in either order.
  auto logged = [&](const std::string& request, const std::string& status, const std::string& bytes) {
    for (const auto& line : lines) {
      std::smatch m;
      if (std::regex_match(line, m, clf) && m[1] == request && m[2] == status &&
          (bytes.empty() || m[3] == bytes))
        return true;
    }
    return false;
  };
  for (const auto& line : lines) EXPECT_TRUE(std::regex_match(line, clf)) << line;
  EXPECT_TRUE(logged("GET /isavail.txt HTTP/1.1", "200", "2")) << text;
  EXPECT_TRUE(logged("GET /nothing HTTP/1.1", "404", "-")) << text;
  EXPECT_TRUE(logged("POST /remote/check_upd.php HTTP/1.1", "200", "")) << text;

  const std::string err = ReadAll(s.LogFile());
  EXPECT_NE(err.find("listening on http://127.0.0.1:" + std::to_string(s.HttpPort()) +
                     " https://127.0.0.1:" + std::to_string(s.HttpsPort())),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("1 entries"), std::string::npos) << err;

  // SIGHUP: a catalogue with a bad line keeps the one in use and names the line.
  WriteTextFile(dir_ + "/catalogue.txt",
                "PCI\\VEN_8086&DEV_100E | 7-1-2025 | 9.0 | Intel | new.zip\n# note\nbroken line\n");
  ::kill(s.Pid(), SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_NE(TlsCheck(s).find("<date>6-1-2024</date>"), std::string::npos);
  EXPECT_NE(ReadAll(s.LogFile()).find("line 3"), std::string::npos) << ReadAll(s.LogFile());
  WriteTextFile(dir_ + "/catalogue.txt", "PCI\\VEN_8086&DEV_100E | 7-1-2025 | 9.0 | Intel | new.zip\n");
  ::kill(s.Pid(), SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_NE(TlsCheck(s).find("<date>7-1-2025</date>"), std::string::npos);
  EXPECT_TRUE(s.Running());
}

TEST_F(Hardening, SigtermFinishesTheRequestInFlight) {
  UpdateServerProcess s(Options());
  const std::string request = CheckRequest(CheckBody(Report()));
  int fd = Connect(s.HttpPort());
  ASSERT_TRUE(SendAll(fd, request.substr(0, request.size() - 20)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(s.Pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // New connections are refused while the one in flight is finished.
  EXPECT_LT(Connect(s.HttpPort()), 0);
  ASSERT_TRUE(SendAll(fd, request.substr(request.size() - 20)));
  bool closed = false;
  std::string got = ReadUntilClosed(fd, 3000, &closed);
  ::close(fd);
  EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;
  EXPECT_NE(got.find("<dev><id>1</id>"), std::string::npos) << got;
  EXPECT_TRUE(closed);
  int status = s.Stop();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Hardening, SigtermLetsADownloadFinishWithinTheGrace) {
  WriteTextFile(dir_ + "/catalogue.txt", std::string(kCatalogue) + "@package big.bin 32M\n");
  UpdateServerProcess s(Options({"--grace", "20s"}));
  const std::string file = ReadAll(s.PackagesDir() + "/big.bin");
  ASSERT_EQ(file.size(), 32u << 20);
  int fd = Connect(s.HttpPort());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(SendAll(fd, "GET /packages/big.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
  std::string got;
  auto readSome = [&](size_t upTo) {
    while (got.size() < upTo) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
      char buf[65536];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      got.append(buf, static_cast<size_t>(n));
    }
    return true;
  };
  ASSERT_TRUE(readSome(1u << 20));
  ::kill(s.Pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(Connect(s.HttpPort()), 0) << "the listener is closed at once";
  // The rest arrives, read at a modest pace.
  size_t head = got.find("\r\n\r\n");
  ASSERT_NE(head, std::string::npos);
  while (got.size() < head + 4 + file.size()) {
    if (!readSome(std::min(got.size() + (256u << 10), head + 4 + file.size()))) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::close(fd);
  ASSERT_EQ(got.size(), head + 4 + file.size()) << "the download was cut";
  EXPECT_TRUE(got.compare(head + 4, std::string::npos, file) == 0);
  int status = s.Stop();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Hardening, LameDuckServesOnWhileTheHealthCheckFails) {
  UpdateServerProcess s(Options({"--lame-duck", "1500ms"}));
  httplib::Client plain("127.0.0.1", s.HttpPort());
  auto r = plain.Get("/isavail.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  const auto t0 = Clock::now();
  ::kill(s.Pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // A new connection is still served, the health check says "out", and
  // answers close their connections so that kept-alive ones move on.
  int fd = Connect(s.HttpPort());
  ASSERT_GE(fd, 0);
  SendAll(fd, "GET /isavail.txt HTTP/1.1\r\nHost: x\r\n\r\n");
  bool closed = false;
  std::string got = ReadUntilClosed(fd, 1000, &closed);
  ::close(fd);
  EXPECT_EQ(got.rfind("HTTP/1.1 503", 0), 0u) << got;
  EXPECT_NE(got.find("Connection: close"), std::string::npos) << got;
  EXPECT_TRUE(closed);
  EXPECT_EQ(TlsCheck(s).rfind("<errcode>0</errcode>\r\n<dev><id>1</id>", 0), 0u);
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1400)) << "the checks above came too late";
  // Then the listeners close and the server ends.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500) - (Clock::now() - t0) +
                              std::chrono::milliseconds(400));
  EXPECT_LT(Connect(s.HttpPort()), 0);
  int status = s.Stop();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(ReadAll(s.LogFile()).find("lame duck"), std::string::npos);
}

TEST_F(Hardening, HostileUploadsLeaveMemoryAndProbesBounded) {
  UpdateServerProcess s(Options({"--body-timeout", "3s"}));
  ASSERT_EQ(TlsCheck(s).rfind("<errcode>0</errcode>", 0), 0u);
  const long idle = RssKiB(s.Pid());
  std::atomic<long> peak{idle};
  std::atomic<bool> running{true};
  std::thread watch([&] {
    while (running) {
      peak = std::max(peak.load(), RssKiB(s.Pid()));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  // An upload that declares 16 MiB is refused before its body is read.
  int fd = Connect(s.HttpPort());
  SendAll(fd,
          "POST /remote/check_upd.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=" +
              kB + "\r\nContent-Length: 16777216\r\n\r\n--");
  EXPECT_NE(ReadUntilClosed(fd, 2000).find("refused"), std::string::npos);
  ::close(fd);
  // 16 uploads from this address send nearly the whole upload limit, then
  // trickle: 8 are let in (the cap per address), the rest are busy at once,
  // and the body deadline ends the 8.
  std::vector<int> trickles;
  int busy = 0;
  const size_t first = (1u << 20) - 64 * 1024;
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", first);
  std::vector<int> sent;
  for (int i = 0; i < 16; ++i) {
    fd = Connect(s.HttpPort());
    SendAll(fd, "POST /remote/check_upd.php HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
                    std::string(size) + std::string(first, 'x') + "\r\n");
    sent.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int t : sent) {
    pollfd p{t, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && ReadAnswer(t, 1000).rfind("HTTP/1.1 503", 0) == 0) {
      ++busy;
      ::close(t);
    } else {
      trickles.push_back(t);
    }
  }
  EXPECT_EQ(busy, 8);
  // Amplifying uploads from another address (4 at a time) while a probe is
  // timed.
  const std::vector<TestDevice> many(11272, TestDevice{"PCI\\VEN_1234&DEV_5678", "", "1-1-2001"});
  const std::string amplify = CheckRequest(CheckBody(GzipPack(MakeReport(many))));
  std::atomic<int> capped{0};
  std::vector<std::thread> amplifiers;
  for (int i = 0; i < 4; ++i)
    amplifiers.emplace_back([&] {
      for (int k = 0; k < 5; ++k) {
        int c = Connect(s.HttpPort(), "127.0.0.2");
        SendAll(c, amplify);
        if (ReadAnswer(c, 5000).find("more than 4096 devices") != std::string::npos) ++capped;
        ::close(c);
      }
    });
  double worst = 0;
  for (int i = 0; i < 30; ++i) {
    const auto t0 = Clock::now();
    int c = Connect(s.HttpPort());
    SendAll(c, "GET /isavail.txt HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(ReadAnswer(c, 5000).rfind("HTTP/1.1 200", 0), 0u);
    ::close(c);
    worst = std::max(worst, std::chrono::duration<double>(Clock::now() - t0).count());
    for (int t : trickles) SendAll(t, "1\r\nx\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (auto& t : amplifiers) t.join();
  EXPECT_EQ(capped, 20);
  EXPECT_LT(worst, 1.0) << "seconds for the slowest probe";
  int ended = 0;
  for (int t : trickles) {
    bool closed = false;
    ReadUntilClosed(t, 4000, &closed);
    ended += closed;
    ::close(t);
  }
  EXPECT_EQ(ended, 8) << "the body deadline ends trickled uploads";
  running = false;
  watch.join();
  // AddressSanitizer keeps freed memory in quarantine: the figure means
  // nothing there (bench_server_hostile measures the real one).
  if (!kAddressSanitizer) {
    EXPECT_LT(peak - idle, 64 * 1024) << "KiB above idle under the hostile uploads";
  }
}
