// URL parts, request head, multipart pieces and the response reader, fed
// from memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "net/uHttpClient.h"
#include "net/uHttpWire.h"

namespace {

// Hands the bytes out in pieces of at most `step` to exercise refills.
class MemorySource : public IHttpSource {
 public:
  explicit MemorySource(std::string data, std::size_t step = 7) : data_(std::move(data)), step_(step) {}
  std::size_t Receive(char* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, step_, data_.size() - pos_});
    data_.copy(buffer, n, pos_);
    pos_ += n;
    return n;
  }

 private:
  std::string data_;
  std::size_t step_;
  std::size_t pos_ = 0;
};

struct Parsed {
  THttpResponseHead head;
  std::string body;
  int64_t expected = -1;
  int chunkStarts = 0;
};

Parsed Parse(const std::string& bytes, std::size_t step = 7) {
  MemorySource src(bytes, step);
  THttpResponseReader reader(src);
  Parsed p;
  p.head = reader.ReadHead();
  TBodyEvents ev;
  ev.Begin = [&](int64_t e) { p.expected = e; };
  ev.Data = [&](const char* d, std::size_t n) { p.body.append(d, n); };
  ev.ChunkStarted = [&] { ++p.chunkStarts; };
  reader.ReadBody(PlanBody(p.head), ev);
  return p;
}

struct TWireFailure {
  bool Raised = false;
  THttpErrorKind Kind = THttpErrorKind::Url;
  std::string Text;
};

TWireFailure ErrorOf(const std::string& bytes) {
  TWireFailure f;
  try {
    Parse(bytes);
  } catch (const EHttpError& e) {
    f.Raised = true;
    f.Kind = e.Kind;
    f.Text = e.what();
  }
  return f;
}

}  // namespace

TEST(HttpUrl, Parts) {
  struct Case {
    const char* url;
    const char* proto;
    const char* host;
    int port;
    const char* path;
    const char* hostHeader;
  } cases[] = {
      {"http://example.com", "http", "example.com", 80, "/", "example.com"},
      {"http://example.com:80/a?b=1#frag", "http", "example.com", 80, "/a?b=1", "example.com"},
      {"HTTPS://upd.example.com/remote/check_upd.php", "https", "upd.example.com", 443,
       "/remote/check_upd.php", "upd.example.com:443"},
      {"http://127.0.0.1:8080/isavail.txt", "http", "127.0.0.1", 8080, "/isavail.txt", "127.0.0.1:8080"},
      {"http://[::1]:81/x", "http", "::1", 81, "/x", "[::1]:81"},
      {"http://user:pw@host/x", "http", "host", 80, "/x", "host"},
      {"http://host?q", "http", "host", 80, "/?q", "host"},
      {"http://host/a b/\xE9.zip", "http", "host", 80, "/a%20b/%E9.zip", "host"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const THttpUrl u = ParseHttpUrl(c.url);
    EXPECT_EQ(u.Protocol, c.proto);
    EXPECT_EQ(u.Host, c.host);
    EXPECT_EQ(u.Port, c.port);
    EXPECT_EQ(u.Path, c.path);
    EXPECT_EQ(HostHeaderValue(u), c.hostHeader);
  }
}

TEST(HttpUrl, RejectsBadUrls) {
  for (const char* url : {"", "example.com/x", "ftp://host/x", "http://", "http://:80/", "http://host:0/",
                          "http://host:65536/", "http://host:8a/", "http://host:/x", "http://[::1/",
                          "http://host/a\r\nX-Injected: 1", "http://ho st/"}) {
    SCOPED_TRACE(url);
    try {
      ParseHttpUrl(url);
      ADD_FAILURE() << "accepted";
    } catch (const EHttpError& e) {
      EXPECT_EQ(e.Kind, THttpErrorKind::Url);
    }
  }
}

TEST(HttpRequestHead, GetOnPort80AndOtherPorts) {
  EXPECT_EQ(BuildRequestHead("GET", ParseHttpUrl("http://upd.example.com/isavail.txt"), "", -1),
            "GET /isavail.txt HTTP/1.1\r\n"
            "Host: upd.example.com\r\n"
            "Accept: text/html, */*\r\n"
            "Accept-Encoding: identity\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
            "\r\n");
  EXPECT_EQ(BuildRequestHead("GET", ParseHttpUrl("http://h:8080/"), "", -1).substr(0, 35),
            "GET / HTTP/1.1\r\nHost: h:8080\r\nAccep");
}

TEST(HttpRequestHead, PostOverHttpsCarriesPort443) {
  EXPECT_EQ(BuildRequestHead("POST", ParseHttpUrl("https://upd.example.com/remote/check_upd.php"),
                             "multipart/form-data; boundary=--------120926071512345", 1234),
            "POST /remote/check_upd.php HTTP/1.1\r\n"
            "Content-Type: multipart/form-data; boundary=--------120926071512345\r\n"
            "Content-Length: 1234\r\n"
            "Host: upd.example.com:443\r\n"
            "Accept: text/html, */*\r\n"
            "Accept-Encoding: identity\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
            "\r\n");
  // An empty body still has its length; no Connection header is ever sent.
  const std::string head = BuildRequestHead("POST", ParseHttpUrl("http://h/"), "x/y", 0);
  EXPECT_NE(head.find("Content-Length: 0\r\n"), std::string::npos);
  EXPECT_EQ(head.find("Connection"), std::string::npos);
}

TEST(Multipart, BoundaryAndLayout) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 0;  // January
  t.tm_mday = 5;
  t.tm_hour = 23;
  t.tm_min = 4;
  t.tm_sec = 9;
  EXPECT_EQ(MultipartBoundary(t, 7), "--------010526230409007");
  EXPECT_TRUE(std::regex_match(NewMultipartBoundary(), std::regex("-{8}[0-9]{15}")));

  const std::string b = "--------010526230409007";
  EXPECT_EQ(MultipartContentType(b), "multipart/form-data; boundary=--------010526230409007");
  EXPECT_EQ(MultipartPrefix(b, "drvlist", "/tmp/x/scanres.log.gz", "application/x-www-form-urlencoded"),
            "----------010526230409007\r\n"
            "Content-Disposition: form-data; name=\"drvlist\"; filename=\"/tmp/x/scanres.log.gz\"\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "\r\n");
  EXPECT_EQ(MultipartSuffix(b), "\r\n----------010526230409007--\r\n");
}

TEST(HttpResponse, BodiesByEveryFraming) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string body;
    int64_t expected;
    int chunkStarts;
  } cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", "hello", 5, 0},
      {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", 0, 0},
      {"bare LF lines", "HTTP/1.0 200 OK\nContent-Length: 2\n\nok", "ok", 2, 0},
      {"close", "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nuntil the end", "until the end", 0, 0},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"
                  "6;ext=1\r\n world\r\n0\r\nTrailer: x\r\n\r\n",
       "hello world", 0, 1},
      {"chunked wins over length", "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n"
                                   "a\r\n0123456789\r\n0\r\n\r\n",
       "0123456789", 0, 1},
      {"interim 100", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 1\r\n\r\nx", "x", 1, 0},
      {"no content", "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n", "", 0, 0},
      {"same length twice", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length: 2, 2\r\n\r\nab", "ab", 2, 0},
      {"folded header", "HTTP/1.1 200 OK\r\nX-A: 1\r\n  2\r\nContent-Length: 1\r\n\r\nz", "z", 1, 0},
  };
  for (const auto& c : cases) {
    for (std::size_t step : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
      SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(step));
      const Parsed p = Parse(c.bytes, step);
      EXPECT_EQ(p.body, c.body);
      EXPECT_EQ(p.expected, c.expected);
      EXPECT_EQ(p.chunkStarts, c.chunkStarts);
    }
  }
  const Parsed folded = Parse("HTTP/1.1 200 OK\r\nX-A: 1\r\n  2\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(folded.head.Values("x-a"), std::vector<std::string>{"1 2"});
  EXPECT_EQ(folded.head.StatusCode, 200);
  EXPECT_EQ(folded.head.StatusLine, "HTTP/1.1 200 OK");
}

TEST(HttpResponse, MalformedResponsesFail) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  std::string manyHeaders = ok;
  for (int i = 0; i < 101; ++i) manyHeaders += "X-" + std::to_string(i) + ": v\r\n";
  manyHeaders += "\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    THttpErrorKind kind;
  } cases[] = {
      {"empty", "", THttpErrorKind::Malformed},
      {"not http", "SSH-2.0-OpenSSH\r\n\r\n", THttpErrorKind::Malformed},
      {"bad code", "HTTP/1.1 2x0 OK\r\n\r\n", THttpErrorKind::Malformed},
      {"code too small", "HTTP/1.1 099 Odd\r\n\r\n", THttpErrorKind::Malformed},
      {"huge status line", "HTTP/1.1 200 " + std::string(70000, 'a') + "\r\n\r\n", THttpErrorKind::Malformed},
      {"endless status line", "HTTP/1.1 200 " + std::string(300000, 'a'), THttpErrorKind::Malformed},
      {"huge header", ok + "X-Big: " + std::string(70000, 'b') + "\r\n\r\n", THttpErrorKind::Malformed},
      {"too many headers", manyHeaders, THttpErrorKind::Malformed},
      {"header without colon", ok + "NoColonHere\r\n\r\n", THttpErrorKind::Malformed},
      {"negative length", ok + "Content-Length: -5\r\n\r\n", THttpErrorKind::Malformed},
      {"text length", ok + "Content-Length: abc\r\n\r\n", THttpErrorKind::Malformed},
      {"empty length", ok + "Content-Length: \r\n\r\n", THttpErrorKind::Malformed},
      {"conflicting lengths", ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", THttpErrorKind::Malformed},
      {"length over 2^31-1", ok + "Content-Length: 2147483648\r\n\r\n", THttpErrorKind::TooLarge},
      {"length with 20 digits", ok + "Content-Length: 99999999999999999999\r\n\r\n", THttpErrorKind::TooLarge},
      {"short body", ok + "Content-Length: 10\r\n\r\nabc", THttpErrorKind::Malformed},
      {"head cut off", ok + "Content-Length: 10\r\n", THttpErrorKind::Malformed},
      {"bad chunk size", ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", THttpErrorKind::Malformed},
      {"empty chunk size", ok + "Transfer-Encoding: chunked\r\n\r\n\r\n", THttpErrorKind::Malformed},
      {"overflowing chunk size", ok + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n", THttpErrorKind::TooLarge},
      {"chunk over 2^31-1", ok + "Transfer-Encoding: chunked\r\n\r\n80000000\r\n", THttpErrorKind::TooLarge},
      {"chunk longer than size", ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n", THttpErrorKind::Malformed},
      {"cut inside chunk", ok + "Transfer-Encoding: chunked\r\n\r\n10\r\nabc", THttpErrorKind::Malformed},
      {"no last chunk", ok + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", THttpErrorKind::Malformed},
      {"no end of trailer", ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n", THttpErrorKind::Malformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TWireFailure f = ErrorOf(c.bytes);
    EXPECT_TRUE(f.Raised);
    EXPECT_STREQ(HttpErrorKindName(f.Kind), HttpErrorKindName(c.kind)) << f.Text;
  }
}

TEST(HttpResponse, ExactlyHundredHeadersAndLongestLineAreAccepted) {
  std::string bytes = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 99; ++i) bytes += "X-" + std::to_string(i) + ": v\r\n";
  const std::string value(64 * 1024 - 7, 'v');
  bytes += "X-Big: " + value + "\r\nContent-Length: 1\r\n\r\n!";
  // 99 + X-Big + Content-Length = 101 headers: one too many.
  EXPECT_EQ(ErrorOf(bytes).Kind, THttpErrorKind::Malformed);
  bytes.erase(bytes.find("X-0: v\r\n"), 8);
  const Parsed p = Parse(bytes, 4096);
  EXPECT_EQ(p.head.Headers.size(), 100u);
  EXPECT_EQ(p.head.Values("X-Big")[0].size(), value.size());
  EXPECT_EQ(p.body, "!");
}
