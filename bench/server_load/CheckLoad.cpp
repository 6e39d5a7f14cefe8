#include "CheckLoad.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

namespace checkload {

std::string Gzip(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

std::vector<std::string> CatalogueIds(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> ids;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line[0] == '@') continue;
    size_t bar = line.find('|');
    if (bar == std::string::npos) continue;
    std::string id = line.substr(0, bar);
    while (!id.empty() && id.back() == ' ') id.pop_back();
    ids.push_back(id);
  }
  return ids;
}

// 41 devices as the program reports them: about half known to the demo
// catalogue with an old installed date, the rest unknown.
std::string MakeReport(const std::vector<std::string>& known) {
  std::string r = "<os>xp-32</os>\r\n<partner></partner>\r\n\r\n";
  for (int n = 1; n <= 41; ++n) {
    char own[64];
    std::snprintf(own, sizeof own, "PCI\\VEN_%04X&DEV_%04X", 0x5000 + n, 0x7000 + n * 3);
    std::string hw = (n % 2 == 0 && !known.empty()) ? known[static_cast<size_t>(n / 2) % known.size()] : own;
    r += "<dev>\r\n<id>" + std::to_string(n) +
         "</id>\r\n<cguid>{4D36E972-E325-11CE-BFC1-08002BE10318}</cguid>\r\n";
    r += "<hwid>" + hw + "&SUBSYS_00011AF4&REV_01, " + hw + "&SUBSYS_00011AF4, " + hw + "</hwid>\r\n";
    r += "<compid>PCI\\CC_020000, PCI\\CC_0200</compid>\r\n<date>1-1-2003</date>\r\n";
    r += "<devname>Device number " + std::to_string(n) + "</devname>\r\n</dev>\r\n\r\n";
  }
  return r;
}

// The upload exactly as the program sends it.
std::string CheckRequest(const std::string& packed, const std::string& host) {
  const std::string b = "--------120926072235123";
  std::string body = "--" + b +
                     "\r\nContent-Disposition: form-data; name=\"drvlist\"; "
                     "filename=\"C:\\DOCUME~1\\User\\LOCALS~1\\Temp\\scanres.log.gz\"\r\n"
                     "Content-Type: application/x-www-form-urlencoded\r\n\r\n" +
                     packed + "\r\n--" + b + "--\r\n";
  return "POST /remote/check_upd.php HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + b +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nHost: " + host +
         "\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n" +
         body;
}

bool ParseTarget(const std::string& text, TTarget& target) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  in_addr a{};
  if (::inet_pton(AF_INET, text.substr(0, colon).c_str(), &a) != 1) return false;
  const int port = std::atoi(text.c_str() + colon + 1);
  if (port <= 0 || port > 65535 || text.find_first_not_of("0123456789", colon + 1) != std::string::npos)
    return false;
  target.Host = text.substr(0, colon);
  target.Port = port;
  return true;
}

TResult Run(const TTarget& target, int clients, double seconds, const std::string& request, bool bare,
            const std::string& expected, const std::atomic<bool>* stop) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
  // As the program: no session is resumed, every check pays a full handshake.
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
  SSL_CTX_set_cipher_list(ctx, "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP");

  enum State { kConnecting, kHandshake, kWriting, kReading };
  struct Conn {
    int fd = -1;
    SSL* ssl = nullptr;
    State state = kConnecting;
    size_t sent = 0;
    std::string in;
    Clock::time_point start;
    bool active = false;
  };
  std::vector<Conn> conns(static_cast<size_t>(clients));
  int ep = epoll_create1(EPOLL_CLOEXEC);
  TResult r;
  const auto t0 = Clock::now();
  auto end = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(target.Port));
  ::inet_pton(AF_INET, target.Host.c_str(), &addr.sin_addr);

  auto watch = [&](size_t i, uint32_t events, bool add) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = i;
    epoll_ctl(ep, add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, conns[i].fd, &ev);
  };
  std::function<void(size_t)> start;
  auto finish = [&](size_t i, bool ok, const char* why) {
    Conn& c = conns[i];
    r.Checks.push_back(TCheck{c.start, Clock::now(), ok, why});
    if (ok) {
      ++r.Done;
      r.Latency.push_back(std::chrono::duration<double, std::milli>(Clock::now() - c.start).count());
    } else {
      ++r.Errors;
      if (r.FirstError.empty()) r.FirstError = why;
    }
    if (c.ssl) SSL_free(c.ssl);
    c.ssl = nullptr;
    if (c.fd >= 0) close(c.fd);  // also leaves the epoll set
    c.fd = -1;
    c.active = false;
    if (Clock::now() < end) start(i);
  };
  start = [&](size_t i) {
    Conn& c = conns[i];
    c = Conn{};
    c.start = Clock::now();
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    c.active = true;
    int rc = connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && errno != EINPROGRESS) return finish(i, false, "connect failed");
    watch(i, EPOLLOUT, true);
  };
  // Advances one connection as far as it goes without blocking.
  auto step = [&](size_t i) {
    Conn& c = conns[i];
    auto want = [&](int err) {
      if (err == SSL_ERROR_WANT_READ) return watch(i, EPOLLIN, false), true;
      if (err == SSL_ERROR_WANT_WRITE) return watch(i, EPOLLOUT, false), true;
      return false;
    };
    if (c.state == kConnecting) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) return finish(i, false, "connect refused");
      c.ssl = SSL_new(ctx);
      SSL_set_fd(c.ssl, c.fd);
      SSL_set_connect_state(c.ssl);
      c.state = kHandshake;
    }
    if (c.state == kHandshake) {
      int rc = SSL_do_handshake(c.ssl);
      if (rc != 1) {
        if (!want(SSL_get_error(c.ssl, rc))) finish(i, false, "TLS handshake failed");
        return;
      }
      if (bare) return finish(i, true, "");
      c.state = kWriting;
    }
    if (c.state == kWriting) {
      while (c.sent < request.size()) {
        int rc = SSL_write(c.ssl, request.data() + c.sent, static_cast<int>(request.size() - c.sent));
        if (rc <= 0) {
          if (!want(SSL_get_error(c.ssl, rc))) finish(i, false, "write failed");
          return;
        }
        c.sent += static_cast<size_t>(rc);
      }
      c.state = kReading;
    }
    char buf[16384];
    for (;;) {
      int rc = SSL_read(c.ssl, buf, sizeof buf);
      if (rc <= 0) {
        int err = SSL_get_error(c.ssl, rc);
        if (want(err)) return;
        return finish(i, false, "connection ended before the answer");
      }
      c.in.append(buf, static_cast<size_t>(rc));
      size_t head = c.in.find("\r\n\r\n");
      if (head == std::string::npos) continue;
      size_t cl = c.in.find("Content-Length: ");
      if (cl == std::string::npos || cl > head) return finish(i, false, "answer without Content-Length");
      size_t want_bytes = head + 4 + std::strtoul(c.in.c_str() + cl + 16, nullptr, 10);
      if (c.in.size() < want_bytes) continue;
      std::string body = c.in.substr(head + 4);
      if (c.in.rfind("HTTP/1.1 200", 0) != 0) return finish(i, false, "status not 200");
      if (r.Answer.empty()) r.Answer = body;
      if (!expected.empty() ? body != expected : body.rfind("<errcode>0</errcode>", 0) != 0)
        return finish(i, false, "unexpected answer");
      return finish(i, true, "");
    }
  };

  for (size_t i = 0; i < conns.size(); ++i) start(i);
  std::vector<epoll_event> events(conns.size() + 16);
  for (;;) {
    if (stop && *stop && end > Clock::now()) end = Clock::now();  // no new checks
    bool any = false;
    for (const auto& c : conns) any = any || c.active;
    if (!any) break;
    if (Clock::now() > end + std::chrono::seconds(10)) {
      for (size_t i = 0; i < conns.size(); ++i)
        if (conns[i].active) finish(i, false, "no answer within 10 s after the run");
      break;
    }
    int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 100);
    for (int k = 0; k < n; ++k) step(events[static_cast<size_t>(k)].data.u64);
  }
  r.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  close(ep);
  SSL_CTX_free(ctx);
  std::sort(r.Latency.begin(), r.Latency.end());
  return r;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t i = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

}  // namespace checkload
