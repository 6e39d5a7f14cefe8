// The reference client's check load: connection-per-check HTTPS clients as
// the program makes them (a new TCP and TLS connection, one multipart POST of
// a gzip-packed report, the answer read to its end), driven from one epoll
// thread so that the generator costs little next to the server. Used by
// bench_server_load and by the load-balancer test.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace checkload {

using Clock = std::chrono::steady_clock;

std::string Gzip(const std::string& data);
// The IDs of a catalogue file (its entry lines).
std::vector<std::string> CatalogueIds(const std::string& file);
// 41 devices as the program reports them: about half known to the catalogue
// whose IDs are given, with an old installed date, the rest unknown.
std::string MakeReport(const std::vector<std::string>& known);
// The upload exactly as the program sends it, Host naming host.
std::string CheckRequest(const std::string& packed, const std::string& host);

// One check (or handshake) as it went.
struct TCheck {
  Clock::time_point Start, End;
  bool Ok = false;
  const char* Why = "";  // the failure
};

struct TResult {
  double Seconds = 0;
  size_t Done = 0, Errors = 0;
  std::vector<double> Latency;  // ms, sorted
  std::string FirstError;
  std::string Answer;          // the first answer's body
  std::vector<TCheck> Checks;  // every check, in the order they ended
};

struct TTarget {
  std::string Host = "127.0.0.1";  // an IPv4 address
  int Port = 0;
};

// "host:port" -> target; false when it is not an IPv4 address and a port.
bool ParseTarget(const std::string& text, TTarget& target);

// Closed-loop load: `clients` connections at a time, each replaced by a new
// one when it ends, for `seconds` or until *stop is set. bare: TLS handshakes
// only. expected: the answer's body every check must give (empty: any
// "<errcode>0</errcode>").
TResult Run(const TTarget& target, int clients, double seconds, const std::string& request, bool bare,
            const std::string& expected, const std::atomic<bool>* stop = nullptr);

double Percentile(const std::vector<double>& sorted, double p);

}  // namespace checkload
