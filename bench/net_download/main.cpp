// Download throughput of THttpClient::GetToStream from a loopback server
// into a counting sink, beside curl fetching the same URL in the same run.
// Usage: bench_net_download [MiB=512] [rounds=3]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "support/BodyServer.h"
#include "net/uHttpClient.h"

namespace {

// Counts what it is given and keeps nothing.
class CountingBuf : public std::streambuf {
 public:
  int64_t count = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += n;
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++count;
    return traits_type::not_eof(c);
  }
};


double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 512;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const int64_t size = mib << 20;
  BodyServer server(size, "/big.bin");
  const std::string url = server.Url();

  double bestOurs = 1e30, bestCurl = 1e30;
  for (int r = 0; r < rounds; ++r) {
    CountingBuf sink;
    std::ostream out(&sink);
    THttpClient client;
    auto t0 = std::chrono::steady_clock::now();
    try {
      client.GetToStream(url, out);
    } catch (const EHttpError& e) {
      std::fprintf(stderr, "GetToStream failed: %s\n", e.what());
      return 1;
    }
    const double ours = Seconds(t0);
    if (sink.count != size) {
      std::fprintf(stderr, "GetToStream delivered %lld of %lld bytes\n", static_cast<long long>(sink.count),
                   static_cast<long long>(size));
      return 1;
    }
    t0 = std::chrono::steady_clock::now();
    const int rc = std::system(("curl -s -o /dev/null '" + url + "'").c_str());
    const double curl = Seconds(t0);
    if (rc != 0) {
      std::fprintf(stderr, "curl failed (%d)\n", rc);
      return 1;
    }
    std::printf("round %d: GetToStream %.3f s, curl %.3f s\n", r + 1, ours, curl);
    bestOurs = std::min(bestOurs, ours);
    bestCurl = std::min(bestCurl, curl);
  }
  const double mb = static_cast<double>(size) / (1 << 20);
  const double oursRate = mb / bestOurs, curlRate = mb / bestCurl;
  std::printf("body: %lld MiB, best of %d rounds\n", static_cast<long long>(mib), rounds);
  std::printf("GetToStream: %.1f MiB/s\n", oursRate);
  std::printf("curl:        %.1f MiB/s\n", curlRate);
  std::printf("ratio (GetToStream / curl): %.3f (target >= 0.9)\n", oursRate / curlRate);
  return 0;
}
