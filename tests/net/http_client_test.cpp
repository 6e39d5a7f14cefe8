// The client against loopback servers: raw sockets where the exact bytes
// or a misbehaving peer matter, cpp-httplib for ordinary HTTP and HTTPS.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "support/RawServer.h"
#include "support/SelfSignedCert.h"
#include "net/uHttpClient.h"
#include "net/uHttpWire.h"

using nettest::RawServer;
using nettest::SendAll;

namespace {

struct TFailure {
  bool Raised = false;
  THttpErrorKind Kind = THttpErrorKind::Malformed;
  std::string Text;
  int Status = 0;
};

TFailure FailureOf(const std::function<void()>& fn) {
  TFailure f;
  try {
    fn();
  } catch (const EHttpError& e) {
    f.Raised = true;
    f.Kind = e.Kind;
    f.Text = e.what();
    f.Status = e.StatusCode;
  }
  return f;
}

std::string ErrorOf(const std::function<void()>& fn, int* status = nullptr) {
  const TFailure f = FailureOf(fn);
  if (status) *status = f.Status;
  return f.Text;
}

#define EXPECT_KIND(failure, kind)                                   \
  do {                                                               \
    const TFailure f_ = (failure);                                   \
    EXPECT_TRUE(f_.Raised);                                          \
    EXPECT_STREQ(HttpErrorKindName(f_.Kind), HttpErrorKindName(kind)) \
        << f_.Text;                                                  \
  } while (0)

RawServer::Handler Reply(const std::string& response) {
  return [response](int fd, const std::string&) { SendAll(fd, response); };
}

// Runs a cpp-httplib server on an ephemeral loopback port for one test.
template <class Server>
class LibServer {
 public:
  template <class... Args>
  explicit LibServer(Args&&... args) : server(std::forward<Args>(args)...) {}
  void Start() {
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
  }
  ~LibServer() {
    server.stop();
    if (thread.joinable()) thread.join();
  }
  Server server;
  int port = 0;
  std::thread thread;
};

}  // namespace

TEST(HttpClient, ConstantsOfTheProfile) {
  EXPECT_EQ(httpdefaults::kReadTimeoutMs, 30000u);
  EXPECT_STREQ(httpdefaults::kUserAgent, "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_STREQ(httpdefaults::kAccept, "text/html, */*");
  EXPECT_STREQ(httpdefaults::kAcceptEncoding, "identity");
  EXPECT_STREQ(httpdefaults::kCipherList, "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP");
  THttpClient client;
  EXPECT_EQ(client.ReadTimeout, 30000u);
  TSSLIOHandler ssl;
  EXPECT_EQ(ssl.CipherList, httpdefaults::kCipherList);
}

TEST(HttpClient, GetTextSendsTheExactRequest) {
  RawServer server(Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  THttpClient client;
  EXPECT_EQ(client.GetText(server.Base() + "/isavail.txt"), "ok");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /isavail.txt HTTP/1.1\r\n"
            "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
            "Accept: text/html, */*\r\n"
            "Accept-Encoding: identity\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
            "\r\n");
}

TEST(HttpClient, HostOnPort80IsTheHostAlone) {
  RawServer server(Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), 80);
  if (!server.Ok()) GTEST_SKIP() << "port 80 cannot be bound here; the head builder test covers it";
  THttpClient client;
  EXPECT_EQ(client.GetText("http://127.0.0.1:80/usermsg.txt"), "");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].find("\r\nHost: 127.0.0.1\r\n"), std::string::npos);
}

TEST(HttpClient, PostFileSendsTheExactMultipartBytes) {
  nettest::TempDir dir;
  const std::string path = dir.File("scanres.log.gz");
  std::string content("\x1F\x8B\x08\x08\0\0\r\n--binary\xFF", 17);
  nettest::WriteFile(path, content);
  RawServer server(Reply("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n<errmsg/>"));
  THttpClient client;
  EXPECT_EQ(client.PostFile(server.Base() + "/remote/check_upd.php", "drvlist", path,
                            "application/x-www-form-urlencoded"),
            "<errmsg/>");
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string request = server.Requests()[0];
  std::smatch m;
  ASSERT_TRUE(std::regex_search(request, m, std::regex("boundary=(-{8}[0-9]{15})\r\n")));
  const std::string b = m[1];
  const std::string body = "--" + b + "\r\n" +
                           "Content-Disposition: form-data; name=\"drvlist\"; filename=\"" + path + "\"\r\n" +
                           "Content-Type: application/x-www-form-urlencoded\r\n" + "\r\n" + content + "\r\n" +
                           "--" + b + "--\r\n";
  EXPECT_EQ(request, "POST /remote/check_upd.php HTTP/1.1\r\n"
                     "Content-Type: multipart/form-data; boundary=" + b + "\r\n" +
                     "Content-Length: " + std::to_string(body.size()) + "\r\n" +
                     "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n" +
                     "Accept: text/html, */*\r\n"
                     "Accept-Encoding: identity\r\n"
                     "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
                     "\r\n" + body);
  EXPECT_EQ(body.substr(0, 10), "----------");
}

TEST(HttpClient, PostOfAMissingFileFailsWithoutConnecting) {
  RawServer server(Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  THttpClient client;
  const TFailure f = FailureOf([&] { client.PostFile(server.Base() + "/x", "f", "/nonexistent/file.gz", "a/b"); });
  EXPECT_KIND(f, THttpErrorKind::LocalFile);
  EXPECT_NE(f.Text.find("/nonexistent/file.gz"), std::string::npos);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(server.Accepted(), 0);
}

TEST(HttpClient, StatusesOutside2xxFail) {
  for (const char* line : {"302 Found", "301 Moved Permanently", "401 Unauthorized", "404 Not Found",
                           "500 Internal Server Error"}) {
    SCOPED_TRACE(line);
    RawServer server(Reply(std::string("HTTP/1.1 ") + line +
                           "\r\nLocation: http://127.0.0.1:1/elsewhere\r\nContent-Length: 4\r\n\r\nbody"));
    THttpClient client;
    const TFailure f = FailureOf([&] { client.GetText(server.Base() + "/cacert.txt"); });
    EXPECT_KIND(f, THttpErrorKind::Status);
    EXPECT_NE(f.Text.find(std::string("HTTP/1.1 ") + line), std::string::npos) << f.Text;
    EXPECT_EQ(f.Status, std::stoi(line));
    EXPECT_EQ(server.Requests().size(), 1u);  // no redirect followed
  }
}

TEST(HttpClient, ChunkedAndCloseDelimitedBodies) {
  std::vector<std::string> statuses;
  {
    RawServer server(Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                           "4\r\n<ok>\r\n3\r\nabc\r\n0\r\n\r\n"));
    THttpClient client;
    client.OnStatus = [&](const std::string& s) { statuses.push_back(s); };
    EXPECT_EQ(client.GetText(server.Base() + "/"), "<ok>abc");
  }
  EXPECT_EQ(statuses, (std::vector<std::string>{"Connected.", "Chunk Started", "Disconnecting.", "Disconnected."}));
  RawServer server(Reply("HTTP/1.0 200 OK\r\n\r\nuntil the close"));
  THttpClient client;
  EXPECT_EQ(client.GetText(server.Base() + "/"), "until the close");
}

TEST(HttpClient, BrokenResponsesFailWithoutPartialText) {
  struct Case {
    const char* name;
    std::string response;
    THttpErrorKind kind;
  } cases[] = {
      {"early close", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial", THttpErrorKind::Malformed},
      {"closed before a status", "", THttpErrorKind::Malformed},
      {"bad chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\nabc\r\n0\r\n\r\n",
       THttpErrorKind::Malformed},
      {"cut chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100\r\nabc", THttpErrorKind::Malformed},
      {"huge header", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(200000, 'x') + "\r\n\r\n",
       THttpErrorKind::Malformed},
      {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\nabc", THttpErrorKind::TooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer server(Reply(c.response));
    THttpClient client;
    std::string text = "unset";
    EXPECT_KIND(FailureOf([&] { text = client.GetText(server.Base() + "/"); }), c.kind);
    EXPECT_EQ(text, "unset");
    EXPECT_FALSE(client.Connected());
  }
}

TEST(HttpClient, ReadTimeOutWhenTheServerSendsNothing) {
  RawServer server([](int fd, const std::string&) { nettest::WaitPeerClose(fd, 5000); });
  THttpClient client;
  client.ReadTimeout = 300;
  const auto start = std::chrono::steady_clock::now();
  const TFailure f = FailureOf([&] { client.GetText(server.Base() + "/isavail.txt"); });
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_KIND(f, THttpErrorKind::Timeout);
  EXPECT_GE(ms, 280);
  EXPECT_LT(ms, 3000);
}

TEST(HttpClient, ConnectionRefusedAndUnknownHostFail) {
  int port;
  {
    RawServer closed(Reply(""));
    port = closed.Port();
  }
  THttpClient client;
  EXPECT_KIND(FailureOf([&] { client.GetText("http://127.0.0.1:" + std::to_string(port) + "/"); }),
              THttpErrorKind::Connect);
  EXPECT_KIND(FailureOf([&] { client.GetText("http://no-such-host.invalid/"); }), THttpErrorKind::Resolve);
  EXPECT_KIND(FailureOf([&] { client.GetText("https://127.0.0.1:1/"); }), THttpErrorKind::Tls);
}

// Answers every connection at once with plain text and closes: a TLS client
// then fails its handshake.
class TPlainTextListener {
 public:
  TPlainTextListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) continue;
        SendAll(c, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
        nettest::WaitPeerClose(c, 2000);
        ::close(c);
      }
    });
  }
  ~TPlainTextListener() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Every kind of failure, each produced for real on loopback.
TEST(HttpClient, EachFailureKindFromALoopbackPeer) {
  int closedPort;
  {
    RawServer closed(Reply(""));
    closedPort = closed.Port();
  }
  RawServer silent([](int fd, const std::string&) { nettest::WaitPeerClose(fd, 5000); });
  RawServer error(Reply("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"));
  RawServer cut(Reply("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial"));
  RawServer huge(Reply("HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n"));
  RawServer endless([](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n");
    const std::string block(65536, 'x');
    for (int i = 0; i < 150; ++i)
      if (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) <= 0) return;
  });
  TPlainTextListener plain;
  nettest::TempDir dir;
  const std::string unloadable = dir.File("ccc3");
  nettest::WriteFile(unloadable, "no certificate here");

  struct Case {
    const char* name;
    THttpErrorKind kind;
    std::function<void(THttpClient&, TSSLIOHandler&)> run;
  } cases[] = {
      {"name that does not resolve", THttpErrorKind::Resolve,
       [](THttpClient& c, TSSLIOHandler&) { c.GetText("http://no-such-host.invalid/isavail.txt"); }},
      {"refused connection", THttpErrorKind::Connect,
       [&](THttpClient& c, TSSLIOHandler&) { c.GetText("http://127.0.0.1:" + std::to_string(closedPort) + "/"); }},
      {"handshake with a plain server", THttpErrorKind::Tls,
       [&](THttpClient& c, TSSLIOHandler& ssl) {
         c.IOHandler = &ssl;
         c.GetText("https://127.0.0.1:" + std::to_string(plain.Port()) + "/");
       }},
      {"unloadable root certificate", THttpErrorKind::Tls,
       [&](THttpClient& c, TSSLIOHandler& ssl) {
         ssl.RootCertFile = unloadable;
         c.IOHandler = &ssl;
         c.GetText("https://127.0.0.1:" + std::to_string(plain.Port()) + "/");
       }},
      {"server that sends nothing", THttpErrorKind::Timeout,
       [&](THttpClient& c, TSSLIOHandler&) { c.GetText(silent.Base() + "/"); }},
      {"error status", THttpErrorKind::Status,
       [&](THttpClient& c, TSSLIOHandler&) { c.GetText(error.Base() + "/"); }},
      {"body cut short", THttpErrorKind::Malformed,
       [&](THttpClient& c, TSSLIOHandler&) { c.GetText(cut.Base() + "/"); }},
      {"body beyond 32 bits", THttpErrorKind::TooLarge,
       [&](THttpClient& c, TSSLIOHandler&) { c.GetText(huge.Base() + "/"); }},
      {"missing upload file", THttpErrorKind::LocalFile,
       [&](THttpClient& c, TSSLIOHandler&) { c.PostFile(error.Base() + "/", "drvlist", dir.File("none.gz"), "a/b"); }},
      {"disconnected from a work event", THttpErrorKind::Aborted,
       [&](THttpClient& c, TSSLIOHandler&) {
         c.OnWork = [&c](int64_t) { c.Disconnect(); };
         std::ostringstream out;
         c.GetToStream(endless.Base() + "/", out);
       }},
      {"address that is no URL", THttpErrorKind::Url,
       [](THttpClient& c, TSSLIOHandler&) { c.GetText("ftp://127.0.0.1/isavail.txt"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TSSLIOHandler ssl;
    THttpClient client;
    client.ReadTimeout = 300;
    const TFailure f = FailureOf([&] { c.run(client, ssl); });
    EXPECT_KIND(f, c.kind);
    EXPECT_FALSE(f.Text.empty());
    EXPECT_EQ(f.Text.back(), '.') << "a sentence of its own: " << f.Text;
    EXPECT_FALSE(client.Connected());
  }
  // The two causes the update check's notice quotes word for word.
  THttpClient refused;
  EXPECT_EQ(ErrorOf([&] { refused.GetText("http://127.0.0.1:" + std::to_string(closedPort) + "/"); }),
            "Could not connect to 127.0.0.1 port " + std::to_string(closedPort) + ": connection refused.");
  EXPECT_EQ(TimeoutText(httpdefaults::kReadTimeoutMs), "The connection timed out after 30 seconds.");
}

TEST(HttpClient, BodiesBeyondTheCapAreNoAnswerWhateverTheirFraming) {
  // 256 MiB offered three ways; the client stops at the cap instead of reading it all.
  constexpr int64_t kOffered = 256ll * 1024 * 1024;
  const std::string block(1 << 20, 'x');
  std::atomic<int64_t> sentMost{0};
  const auto stream = [&](int fd, bool chunked) {
    int64_t sent = 0;
    for (int64_t left = kOffered; left > 0; left -= static_cast<int64_t>(block.size())) {
      std::string piece = block;
      if (chunked) piece = "100000\r\n" + block + "\r\n";
      if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) <= 0) break;
      sent += static_cast<int64_t>(block.size());
    }
    if (sent > sentMost) sentMost = sent;
  };
  RawServer announced([&](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kOffered) + "\r\n\r\n");
    stream(fd, false);
  });
  RawServer chunked([&](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
    stream(fd, true);
  });
  RawServer untilClose([&](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n");
    stream(fd, false);
  });
  for (RawServer* server : {&announced, &chunked, &untilClose}) {
    THttpClient client;
    client.MaxBody = httpdefaults::kMaxShortBodyBytes;
    int64_t seen = 0;
    client.OnWork = [&](int64_t n) { seen = n; };
    const auto started = std::chrono::steady_clock::now();
    const TFailure f = FailureOf([&] { client.GetText(server->Base() + "/isavail.txt"); });
    EXPECT_KIND(f, THttpErrorKind::TooLarge);
    EXPECT_EQ(f.Text, "The server's answer is larger than 64 KiB.");
    EXPECT_LE(seen, httpdefaults::kMaxShortBodyBytes);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
  EXPECT_LT(sentMost.load(), kOffered) << "the client read the whole body";
  // At the cap itself the answer is whole.
  RawServer exact(Reply("HTTP/1.1 200 OK\r\nContent-Length: 65536\r\n\r\n" + std::string(65536, 'k')));
  THttpClient client;
  client.MaxBody = httpdefaults::kMaxShortBodyBytes;
  EXPECT_EQ(client.GetText(exact.Base() + "/").size(), 65536u);
  EXPECT_EQ(httpdefaults::kMaxAnswerBodyBytes, 8 * 1024 * 1024);
}

TEST(HttpClient, ADeadlineEndsAnAnswerThatTricklesWithinTheReadTimeOut) {
  RawServer trickle([](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    for (int i = 0; i < 1000; ++i) {
      if (::send(fd, "o", 1, MSG_NOSIGNAL) <= 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  THttpClient client;
  client.ReadTimeout = 500;  // never reached: a byte comes every 20 ms
  client.Deadline = 400;
  const auto started = std::chrono::steady_clock::now();
  const TFailure f = FailureOf([&] { client.GetText(trickle.Base() + "/"); });
  EXPECT_KIND(f, THttpErrorKind::Timeout);
  EXPECT_EQ(f.Text, "The server did not finish within 400 milliseconds.");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(DeadlineText(httpdefaults::kOperationDeadlineMs), "The server did not finish within 5 minutes.");
}

TEST(HttpClient, WorkEventsAndSocketStatuses) {
  std::string body(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131);
  RawServer server([&](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    for (std::size_t off = 0; off < body.size(); off += 100000) SendAll(fd, body.substr(off, 100000));
  });
  TSSLIOHandler handler;
  std::vector<std::string> socketStatus;
  handler.OnStatus = [&](const std::string& s) { socketStatus.push_back(s); };
  THttpClient client;
  client.IOHandler = &handler;
  int begins = 0, ends = 0, works = 0;
  int64_t expected = -1, last = 0;
  bool monotonic = true;
  client.OnWorkBegin = [&](int64_t e) { ++begins; expected = e; };
  client.OnWork = [&](int64_t n) { ++works; monotonic = monotonic && n > last; last = n; };
  client.OnWorkEnd = [&] { ++ends; };
  std::ostringstream out;
  client.GetToStream(server.Base() + "/driver.zip", out);
  EXPECT_EQ(out.str() == body, true);
  EXPECT_EQ(begins, 1);
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(expected, static_cast<int64_t>(body.size()));
  EXPECT_EQ(last, static_cast<int64_t>(body.size()));
  EXPECT_GE(works, 1);
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(socketStatus, (std::vector<std::string>{"Resolving hostname 127.0.0.1.", "Connecting to 127.0.0.1."}));
}

TEST(HttpClient, DisconnectFromOnWorkAbortsTheDownload) {
  RawServer server([](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
    const std::string block(65536, 'd');
    for (int i = 0; i < 1500; ++i) {
      if (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) <= 0) return;
    }
  });
  THttpClient client;
  std::vector<std::string> statuses;
  client.OnStatus = [&](const std::string& s) { statuses.push_back(s); };
  int works = 0, ends = 0;
  bool connectedInHook = false;
  client.OnWork = [&](int64_t) {
    ++works;
    connectedInHook = client.Connected();
    client.Disconnect();
  };
  client.OnWorkEnd = [&] { ++ends; };
  std::ostringstream out;
  EXPECT_KIND(FailureOf([&] { client.GetToStream(server.Base() + "/big.zip", out); }), THttpErrorKind::Aborted);
  EXPECT_EQ(works, 1);
  EXPECT_EQ(ends, 0);
  EXPECT_TRUE(connectedInHook);
  EXPECT_FALSE(client.Connected());
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2], "Disconnecting.");
  EXPECT_EQ(statuses.back(), "Disconnected.");
}

TEST(HttpClient, DisconnectFromAnotherThreadEndsABlockedRead) {
  RawServer server([](int fd, const std::string&) { nettest::WaitPeerClose(fd, 5000); });
  THttpClient client;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    client.Disconnect();
  });
  const auto start = std::chrono::steady_clock::now();
  const TFailure f = FailureOf([&] { client.GetText(server.Base() + "/"); });
  stopper.join();
  EXPECT_KIND(f, THttpErrorKind::Aborted);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(HttpClient, OrdinaryAnswersFromAnHttpLibraryServer) {
  LibServer<httplib::Server> lib;
  std::string uploadedName, uploadedBody, uploadedType;
  lib.server.Get("/usermsg.txt", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<msg>hello</msg>", "text/plain");
  });
  lib.server.Get("/stream", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
      if (offset >= 1000000) {
        sink.done();
        return true;
      }
      const std::string block(10000, static_cast<char>('a' + offset / 10000 % 26));
      sink.write(block.data(), block.size());
      return true;
    });
  });
  lib.server.Post("/remote/check_upd.php", [&](const httplib::Request& req, httplib::Response& res) {
    const auto f = req.get_file_value("drvlist");
    uploadedName = f.filename;
    uploadedBody = f.content;
    uploadedType = f.content_type;
    res.set_content("<dev><id>1</id></dev>", "text/plain");
  });
  lib.Start();
  const std::string base = "http://127.0.0.1:" + std::to_string(lib.port);

  THttpClient get;
  EXPECT_EQ(get.GetText(base + "/usermsg.txt"), "<msg>hello</msg>");
  THttpClient missing;
  int status = 0;
  ErrorOf([&] { missing.GetText(base + "/nothing"); }, &status);
  EXPECT_EQ(status, 404);

  THttpClient stream;
  std::ostringstream out;
  int64_t expected = -1;
  stream.OnWorkBegin = [&](int64_t e) { expected = e; };
  stream.GetToStream(base + "/stream", out);
  EXPECT_EQ(out.str().size(), 1000000u);
  EXPECT_EQ(expected, 0);

  nettest::TempDir dir;
  const std::string path = dir.File("scanres.log.gz");
  nettest::WriteFile(path, std::string("packed\0report", 13));
  THttpClient post;
  EXPECT_EQ(post.PostFile(base + "/remote/check_upd.php", "drvlist", path, "application/x-www-form-urlencoded"),
            "<dev><id>1</id></dev>");
  EXPECT_EQ(uploadedName, path);
  EXPECT_EQ(uploadedBody, std::string("packed\0report", 13));
  EXPECT_EQ(uploadedType, "application/x-www-form-urlencoded");
}

class HttpsTest : public ::testing::Test {
 protected:
  // One throw-away certificate for the whole suite.
  static void SetUpTestSuite() {
    certDir = new nettest::TempDir;
    korvane::testing::MakeSelfSignedCert("localhost")
        .WriteTo(certDir->File("cert.pem"), certDir->File("key.pem"));
  }
  static void TearDownTestSuite() {
    delete certDir;
    certDir = nullptr;
  }
  void SetUp() override {
    cert = certDir->File("cert.pem");
    key = certDir->File("key.pem");
  }
  static nettest::TempDir* certDir;
  nettest::TempDir dir;
  std::string cert, key;
};
nettest::TempDir* HttpsTest::certDir = nullptr;

TEST_F(HttpsTest, PostOverTlsWithRootCertificateAndStatusInfo) {
  LibServer<httplib::SSLServer> lib(cert.c_str(), key.c_str());
  std::string host, sni, body;
  lib.server.Post("/remote/check_upd.php", [&](const httplib::Request& req, httplib::Response& res) {
    host = req.get_header_value("Host");
    body = req.get_file_value("drvlist").content;
    res.set_content("<errcode>0</errcode>", "text/plain");
  });
  lib.server.Get("/cacert.txt", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content("pem", "text/plain");
  });
  lib.Start();
  const std::string base = "https://localhost:" + std::to_string(lib.port);

  const std::string upload = dir.File("scanres.log.gz");
  nettest::WriteFile(upload, "gzip bytes");
  TSSLIOHandler ssl;
  ssl.RootCertFile = cert;
  std::vector<std::string> info;
  ssl.OnStatusInfo = [&](const std::string& s) { info.push_back(s); };
  THttpClient client;
  client.IOHandler = &ssl;
  std::vector<std::string> statuses;
  client.OnStatus = [&](const std::string& s) { statuses.push_back(s); };
  EXPECT_EQ(client.PostFile(base + "/remote/check_upd.php", "drvlist", upload, "application/x-www-form-urlencoded"),
            "<errcode>0</errcode>");
  EXPECT_EQ(body, "gzip bytes");
  EXPECT_EQ(host, "localhost:" + std::to_string(lib.port));
  ASSERT_FALSE(info.empty());
  for (const auto& line : info) EXPECT_TRUE(std::regex_match(line, std::regex("SSL status: \".+\""))) << line;
  EXPECT_NE(std::find(info.begin(), info.end(), "SSL status: \"SSL negotiation finished successfully\""), info.end());
  EXPECT_EQ(statuses.front(), "Connected.");
  EXPECT_EQ(statuses.back(), "Disconnected.");

  // Without a root certificate file the request still goes out (verification is off).
  TSSLIOHandler plain;
  THttpClient get;
  get.IOHandler = &plain;
  EXPECT_EQ(get.GetText(base + "/cacert.txt"), "pem");
}

TEST_F(HttpsTest, BadRootCertificateFailsBeforeAnythingIsSent) {
  RawServer server(Reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  const std::string bad = dir.File("ccc3");
  nettest::WriteFile(bad, "-----BEGIN CERTIFICATE-----\nnot a certificate\n-----END CERTIFICATE-----\n");
  const std::string upload = dir.File("scanres.log.gz");
  nettest::WriteFile(upload, "x");
  for (const std::string& file : {bad, dir.File("missing-ccc3")}) {
    TSSLIOHandler ssl;
    ssl.RootCertFile = file;
    THttpClient client;
    client.IOHandler = &ssl;
    const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/remote/check_upd.php";
    const TFailure f = FailureOf([&] { client.PostFile(url, "drvlist", upload, "a/b"); });
    EXPECT_KIND(f, THttpErrorKind::Tls);
    EXPECT_EQ(f.Text, httpdefaults::kRootCertError);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(server.Accepted(), 0);
}

TEST_F(HttpsTest, TlsServerThatSendsNothingTimesOut) {
  RawServer server([](int fd, const std::string&) { nettest::WaitPeerClose(fd, 5000); });
  TSSLIOHandler ssl;
  THttpClient client;
  client.IOHandler = &ssl;
  client.ReadTimeout = 300;
  EXPECT_KIND(FailureOf([&] { client.GetText("https://127.0.0.1:" + std::to_string(server.Port()) + "/"); }),
              THttpErrorKind::Timeout);
}

TEST_F(HttpsTest, CipherListTheLibraryCannotHonourStillConnects) {
  LibServer<httplib::SSLServer> lib(cert.c_str(), key.c_str());
  lib.server.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("ok", "text/plain"); });
  lib.Start();
  for (const char* list : {httpdefaults::kCipherList, "NO-SUCH-CIPHER:+EXP", "SSLv2"}) {
    SCOPED_TRACE(list);
    TSSLIOHandler ssl;
    ssl.CipherList = list;
    THttpClient client;
    client.IOHandler = &ssl;
    EXPECT_EQ(client.GetText("https://127.0.0.1:" + std::to_string(lib.port) + "/"), "ok");
  }
}

TEST(HttpClient, ZeroReadTimeoutWaitsInsteadOfFailingAtOnce) {
  RawServer server([](int fd, const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nlate");
  });
  THttpClient client;
  client.ReadTimeout = 0;
  EXPECT_EQ(client.GetText(server.Base() + "/"), "late");
}
