// The client's wire format: URL parts, request head, multipart pieces and
// the response reader. Kept apart from the sockets so tests and the fuzz
// target can drive them with plain bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct THttpUrl {
  std::string Protocol;  // "http" or "https", lower case
  std::string Host;      // without brackets for IPv6 literals
  uint16_t Port = 80;
  std::string Path;      // path and query, "/" when the URL has none
  bool Secure() const { return Protocol == "https"; }
};

// Raises EHttpError for anything but a well-formed http/https URL.
THttpUrl ParseHttpUrl(const std::string& url);

// "host" on port 80, otherwise "host:port" (so https on 443 gives "host:443").
std::string HostHeaderValue(const THttpUrl& url);

// Request line and headers up to and including the empty line. The header
// order is fixed; contentLength < 0 means no body and no Content-Length.
std::string BuildRequestHead(const std::string& method, const THttpUrl& url,
                             const std::string& contentType, int64_t contentLength);

// "--------" followed by mmddyyhhnnsszzz of the given local time.
std::string MultipartBoundary(const std::tm& localTime, int milliseconds);
std::string NewMultipartBoundary();  // from the current local time
std::string MultipartContentType(const std::string& boundary);
// Everything of the body before the file's bytes, and everything after them.
std::string MultipartPrefix(const std::string& boundary, const std::string& field,
                            const std::string& path, const std::string& contentType);
std::string MultipartSuffix(const std::string& boundary);

// Where the reader's bytes come from. Receive returns 0 once the peer has
// closed, and raises EHttpError for failures (time-out, abort, I/O error).
class IHttpSource {
 public:
  virtual ~IHttpSource() = default;
  virtual std::size_t Receive(char* buffer, std::size_t size) = 0;
};

struct THttpResponseHead {
  std::string StatusLine;  // e.g. "HTTP/1.1 200 OK"
  int StatusCode = 0;
  std::vector<std::pair<std::string, std::string>> Headers;
  // Values of every header of that name (case-insensitive), in order.
  std::vector<std::string> Values(const std::string& name) const;
};

enum class TBodyFraming { None, Length, Chunked, UntilClose };
struct TBodyPlan {
  TBodyFraming Framing = TBodyFraming::UntilClose;
  int64_t Length = -1;  // for Length framing
};

// How the body of this response is delimited; raises for a malformed,
// negative, conflicting or too large Content-Length.
TBodyPlan PlanBody(const THttpResponseHead& head);

struct TBodyEvents {
  std::function<void(int64_t expected)> Begin;           // Content-Length or 0
  std::function<void(const char* data, std::size_t n)> Data;
  std::function<void()> ChunkStarted;                    // a chunked body begins
};

class THttpResponseReader {
 public:
  static constexpr std::size_t kDefaultBuffer = 256 * 1024;
  explicit THttpResponseReader(IHttpSource& source, std::size_t bufferSize = kDefaultBuffer);

  // The final response head (interim 1xx answers are skipped).
  THttpResponseHead ReadHead();
  // Streams the body to events.Data; raises when it is cut short or malformed.
  void ReadBody(const TBodyPlan& plan, const TBodyEvents& events);

 private:
  std::string ReadLine(const char* what);
  bool Fill();  // false at end of stream
  void ReadChunked(const TBodyEvents& events);

  IHttpSource& source_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
};
