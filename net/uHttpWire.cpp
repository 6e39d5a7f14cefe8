#include "net/uHttpWire.h"

#include <sys/time.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "net/uHttpClient.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Spaces and 8-bit bytes in a path are sent percent-encoded; control
// characters would split the request line and are refused.
std::string EncodePath(const std::string& path, const std::string& url) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" holds a control character.");
    if (c == ' ' || c >= 0x80) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace

THttpUrl ParseHttpUrl(const std::string& url) {
  THttpUrl u;
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" is not a valid URL.");
  u.Protocol = Lower(url.substr(0, schemeEnd));
  if (u.Protocol != "http" && u.Protocol != "https")
    throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" is neither http nor https.");
  u.Port = u.Secure() ? 443 : 80;

  const std::size_t authStart = schemeEnd + 3;
  std::size_t authEnd = url.find_first_of("/?#", authStart);
  if (authEnd == std::string::npos) authEnd = url.size();
  std::string authority = url.substr(authStart, authEnd - authStart);
  // No credentials are ever sent: user information is dropped.
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);

  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" is not a valid URL.");
    u.Host = authority.substr(1, close - 1);
    std::string rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" is not a valid URL.");
      portText = rest.substr(1);
      if (portText.empty()) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" has an invalid port.");
    }
  } else {
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string::npos) {
      u.Host = authority.substr(0, colon);
      portText = authority.substr(colon + 1);
      if (portText.empty()) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" has an invalid port.");
    } else {
      u.Host = authority;
    }
  }
  if (u.Host.empty()) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" names no host.");
  for (char ch : u.Host) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || ch == '/' || ch == '\\')
      throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" has an invalid host.");
  }
  if (!portText.empty()) {
    if (!AllDigits(portText) || portText.size() > 5) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" has an invalid port.");
    const long port = std::stol(portText);
    if (port < 1 || port > 65535) throw EHttpError(THttpErrorKind::Url, "The address \"" + url + "\" has an invalid port.");
    u.Port = static_cast<uint16_t>(port);
  }

  std::string path = url.substr(authEnd);
  const std::size_t hash = path.find('#');
  if (hash != std::string::npos) path.erase(hash);
  if (path.empty() || path[0] != '/') path.insert(0, "/");
  u.Path = EncodePath(path, url);
  return u;
}

std::string HostHeaderValue(const THttpUrl& url) {
  std::string host = url.Host.find(':') != std::string::npos ? "[" + url.Host + "]" : url.Host;
  if (url.Port == 80) return host;
  return host + ":" + std::to_string(url.Port);
}

std::string BuildRequestHead(const std::string& method, const THttpUrl& url,
                             const std::string& contentType, int64_t contentLength) {
  std::string head = method + " " + url.Path + " HTTP/1.1\r\n";
  auto add = [&head](const char* name, const std::string& value) {
    if (!value.empty()) head.append(name).append(": ").append(value).append("\r\n");
  };
  add("Content-Type", contentType);
  if (contentLength >= 0) add("Content-Length", std::to_string(contentLength));
  add("Host", HostHeaderValue(url));
  add("Accept", httpdefaults::kAccept);
  add("Accept-Encoding", httpdefaults::kAcceptEncoding);
  add("User-Agent", httpdefaults::kUserAgent);
  head += "\r\n";
  return head;
}

std::string MultipartBoundary(const std::tm& t, int milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02d%03d", (t.tm_mon + 1) % 100,
                t.tm_mday % 100, t.tm_year % 100, t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100,
                milliseconds % 1000);
  return std::string("--------") + text;
}

std::string NewMultipartBoundary() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm local{};
  const time_t secs = tv.tv_sec;
#ifdef _WIN32
  localtime_s(&local, &secs);
#else
  localtime_r(&secs, &local);
#endif
  return MultipartBoundary(local, static_cast<int>(tv.tv_usec / 1000));
}

std::string MultipartContentType(const std::string& boundary) {
  return "multipart/form-data; boundary=" + boundary;
}

std::string MultipartPrefix(const std::string& boundary, const std::string& field,
                            const std::string& path, const std::string& contentType) {
  return "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"" + field +
         "\"; filename=\"" + path + "\"\r\n" + "Content-Type: " + contentType + "\r\n" + "\r\n";
}

std::string MultipartSuffix(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

std::vector<std::string> THttpResponseHead::Values(const std::string& name) const {
  std::vector<std::string> out;
  const std::string key = Lower(name);
  for (const auto& h : Headers)
    if (Lower(h.first) == key) out.push_back(h.second);
  return out;
}

TBodyPlan PlanBody(const THttpResponseHead& head) {
  TBodyPlan plan;
  const int code = head.StatusCode;
  if ((code >= 100 && code < 200) || code == 204 || code == 304) {
    plan.Framing = TBodyFraming::None;
    return plan;
  }
  const auto encodings = head.Values("Transfer-Encoding");
  if (!encodings.empty()) {
    // Only the last coding frames the body; anything else runs to the close.
    std::string last = encodings.back();
    const std::size_t comma = last.rfind(',');
    if (comma != std::string::npos) last = last.substr(comma + 1);
    plan.Framing = Lower(Trim(last)) == "chunked" ? TBodyFraming::Chunked : TBodyFraming::UntilClose;
    return plan;
  }
  const auto lengths = head.Values("Content-Length");
  if (lengths.empty()) return plan;
  int64_t length = -1;
  for (const auto& value : lengths) {
    std::size_t start = 0;
    while (start <= value.size()) {
      std::size_t comma = value.find(',', start);
      if (comma == std::string::npos) comma = value.size();
      const std::string item = Trim(value.substr(start, comma - start));
      if (!AllDigits(item)) throw EHttpError(THttpErrorKind::Malformed, "The server sent an invalid Content-Length \"" + value + "\".");
      const std::string digits = item.substr(std::min(item.find_first_not_of('0'), item.size() - 1));
      if (digits.size() > 10 || std::stoll(digits) > httpdefaults::kMaxBodyBytes)
        throw EHttpError(THttpErrorKind::TooLarge, "The server announced a body of " + item + " bytes, which is too large.");
      const int64_t n = std::stoll(digits);
      if (length >= 0 && n != length) throw EHttpError(THttpErrorKind::Malformed, "The server sent conflicting Content-Length headers.");
      length = n;
      start = comma + 1;
    }
  }
  plan.Framing = TBodyFraming::Length;
  plan.Length = length;
  return plan;
}

THttpResponseReader::THttpResponseReader(IHttpSource& source, std::size_t bufferSize)
    : source_(source),
      buffer_(std::max<std::size_t>(bufferSize, httpdefaults::kMaxHeaderLine + 2)) {}

bool THttpResponseReader::Fill() {
  if (begin_ == end_) {
    begin_ = end_ = 0;
  } else if (end_ == buffer_.size()) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t n = source_.Receive(buffer_.data() + end_, buffer_.size() - end_);
  end_ += n;
  return n > 0;
}

std::string THttpResponseReader::ReadLine(const char* what) {
  std::size_t scanned = begin_;
  for (;;) {
    const char* base = buffer_.data();
    const void* nl = std::memchr(base + scanned, '\n', end_ - scanned);
    if (nl) {
      const std::size_t pos = static_cast<const char*>(nl) - base;
      std::size_t lineEnd = pos;
      if (lineEnd > begin_ && base[lineEnd - 1] == '\r') --lineEnd;
      if (lineEnd - begin_ > httpdefaults::kMaxHeaderLine)
        throw EHttpError(THttpErrorKind::Malformed, std::string("The server sent a ") + what + " longer than 64 KiB.");
      std::string line(base + begin_, lineEnd - begin_);
      begin_ = pos + 1;
      return line;
    }
    if (end_ - begin_ > httpdefaults::kMaxHeaderLine + 1)
      throw EHttpError(THttpErrorKind::Malformed, std::string("The server sent a ") + what + " longer than 64 KiB.");
    const std::size_t had = end_ - begin_;
    if (!Fill()) {
      throw EHttpError(THttpErrorKind::Malformed, std::string("The server closed the connection while sending the ") + what + ".");
    }
    scanned = begin_ + had;
  }
}

THttpResponseHead THttpResponseReader::ReadHead() {
  for (int interim = 0;; ++interim) {
    THttpResponseHead head;
    head.StatusLine = ReadLine("status line");
    const std::string& s = head.StatusLine;
    // "HTTP/1.1 200 OK": a version, a space and three digits.
    if (s.size() < 12 || s.compare(0, 5, "HTTP/") != 0)
      throw EHttpError(THttpErrorKind::Malformed, "The server sent an invalid status line \"" + s.substr(0, 80) + "\".");
    const std::size_t sp = s.find(' ');
    if (sp == std::string::npos || sp + 4 > s.size() || !AllDigits(s.substr(sp + 1, 3)) ||
        (sp + 4 < s.size() && s[sp + 4] != ' '))
      throw EHttpError(THttpErrorKind::Malformed, "The server sent an invalid status line \"" + s.substr(0, 80) + "\".");
    head.StatusCode = std::stoi(s.substr(sp + 1, 3));
    if (head.StatusCode < 100) throw EHttpError(THttpErrorKind::Malformed, "The server sent an invalid status code in \"" + s.substr(0, 80) + "\".");
    for (;;) {
      std::string line = ReadLine("header line");
      if (line.empty()) break;
      if (line[0] == ' ' || line[0] == '\t') {
        // A folded line continues the previous header's value.
        if (head.Headers.empty()) throw EHttpError(THttpErrorKind::Malformed, "The server sent a malformed header line.");
        head.Headers.back().second += " " + Trim(line);
        continue;
      }
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos || colon == 0) {
        throw EHttpError(THttpErrorKind::Malformed, "The server sent a malformed header line \"" + line.substr(0, 80) + "\".");
      }
      if (static_cast<int>(head.Headers.size()) >= httpdefaults::kMaxHeaderCount)
        throw EHttpError(THttpErrorKind::Malformed, "The server sent too many header lines.");
      head.Headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    if (head.StatusCode >= 200 || head.StatusCode == 101) return head;
    if (interim >= 20) throw EHttpError(THttpErrorKind::Malformed, "The server sent too many interim responses.");
  }
}

void THttpResponseReader::ReadBody(const TBodyPlan& plan, const TBodyEvents& events) {
  auto deliver = [&](std::size_t n) {
    if (events.Data) events.Data(buffer_.data() + begin_, n);
    begin_ += n;
  };
  switch (plan.Framing) {
    case TBodyFraming::None:
      if (events.Begin) events.Begin(0);
      return;
    case TBodyFraming::Length: {
      if (events.Begin) events.Begin(plan.Length);
      int64_t left = plan.Length;
      while (left > 0) {
        if (begin_ == end_ && !Fill()) {
          throw EHttpError(THttpErrorKind::Malformed,
                           "The server closed the connection with " + std::to_string(left) + " of " +
                               std::to_string(plan.Length) + " bytes still to come.");
        }
        const std::size_t n = static_cast<std::size_t>(
            std::min<int64_t>(left, static_cast<int64_t>(end_ - begin_)));
        left -= static_cast<int64_t>(n);
        deliver(n);
      }
      return;
    }
    case TBodyFraming::UntilClose: {
      if (events.Begin) events.Begin(0);
      int64_t total = 0;
      for (;;) {
        if (begin_ == end_ && !Fill()) return;
        const std::size_t n = end_ - begin_;
        total += static_cast<int64_t>(n);
        if (total > httpdefaults::kMaxBodyBytes) throw EHttpError(THttpErrorKind::TooLarge, "The server sent a body that is too large.");
        deliver(n);
      }
    }
    case TBodyFraming::Chunked:
      if (events.Begin) events.Begin(0);
      ReadChunked(events);
      return;
  }
}

void THttpResponseReader::ReadChunked(const TBodyEvents& events) {
  if (events.ChunkStarted) events.ChunkStarted();
  int64_t total = 0;
  for (;;) {
    std::string line = ReadLine("chunk size line");
    const std::size_t semi = line.find(';');
    const std::string sizeText = Trim(semi == std::string::npos ? line : line.substr(0, semi));
    if (sizeText.empty()) throw EHttpError(THttpErrorKind::Malformed, "The server sent an invalid chunk size \"" + line.substr(0, 80) + "\".");
    int64_t size = 0;
    for (char c : sizeText) {
      const int v = HexValue(c);
      if (v < 0) throw EHttpError(THttpErrorKind::Malformed, "The server sent an invalid chunk size \"" + line.substr(0, 80) + "\".");
      if (size > (httpdefaults::kMaxBodyBytes >> 4)) throw EHttpError(THttpErrorKind::TooLarge, "The server sent a chunk that is too large.");
      size = size * 16 + v;
    }
    if (size == 0) break;
    total += size;
    if (total > httpdefaults::kMaxBodyBytes) throw EHttpError(THttpErrorKind::TooLarge, "The server sent a body that is too large.");
    int64_t left = size;
    while (left > 0) {
      if (begin_ == end_ && !Fill()) throw EHttpError(THttpErrorKind::Malformed, "The server closed the connection inside a chunk.");
      const std::size_t n =
          static_cast<std::size_t>(std::min<int64_t>(left, static_cast<int64_t>(end_ - begin_)));
      if (events.Data) events.Data(buffer_.data() + begin_, n);
      begin_ += n;
      left -= static_cast<int64_t>(n);
    }
    if (!ReadLine("chunk end").empty()) throw EHttpError(THttpErrorKind::Malformed, "The server sent a chunk longer than its size.");
  }
  // Trailer fields up to the empty line; their values are not used.
  for (int count = 0;; ++count) {
    if (ReadLine("trailer line").empty()) return;
    if (count >= httpdefaults::kMaxHeaderCount) throw EHttpError(THttpErrorKind::Malformed, "The server sent too many trailer lines.");
  }
}
