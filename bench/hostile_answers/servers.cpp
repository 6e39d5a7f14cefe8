#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

#include "bench/hostile_answers/servers.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

// The loopback servers: every route answers normally unless the case makes it huge.
struct THostileServers::TImpl {
  std::mutex M;
  std::string Hostile;  // "probe", "cert", "message", "answer" or "" (a normal check)
  bool Is(const char* route) {
    std::lock_guard<std::mutex> lock(M);
    return Hostile == route;
  }
  int64_t Bytes = 0;
  httplib::Server Http;
  std::unique_ptr<httplib::SSLServer> Https;
  std::thread HttpThread, HttpsThread;
  int HttpPort = 0, HttpsPort = 0;
  std::string Cert;

  // Chunked, so that no length warns the client: it must stop reading by itself.
  void Huge(httplib::Response& res) {
    const int64_t total = Bytes;
    auto block = std::make_shared<std::string>(1 << 20, 'A');
    res.set_chunked_content_provider("text/plain", [total, block](size_t offset, httplib::DataSink& sink) {
      if (static_cast<int64_t>(offset) >= total) {
        sink.done();
        return true;
      }
      const size_t n = std::min<size_t>(block->size(), static_cast<size_t>(total) - offset);
      return sink.write(block->data(), n);
    });
  }
  void Start(const std::string& certFile, const std::string& keyFile) {
    Http.Get("/isavail.txt", [this](const httplib::Request&, httplib::Response& res) {
      if (Is("probe")) return Huge(res);
      res.set_content("ok", "text/plain");
    });
    Http.Get("/cacert.txt", [this](const httplib::Request&, httplib::Response& res) {
      if (Is("cert")) return Huge(res);
      res.set_content(Cert, "text/plain");
    });
    Http.Get("/usermsg.txt", [this](const httplib::Request&, httplib::Response& res) {
      if (Is("message")) return Huge(res);
      res.set_content("<msg><sver>1.0.0.0</sver><msgtext>Hello</msgtext></msg>", "text/plain");
    });
    Https = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
    Https->Post("/remote/check_upd.php", [this](const httplib::Request&, httplib::Response& res) {
      if (Is("answer")) return Huge(res);
      res.set_content(
          "<dev><id>1</id><date>1-1-2020</date><vers>2</vers><vendor>V</vendor><url>http://x/a</url></dev>",
          "text/plain");
    });
    HttpPort = Http.bind_to_any_port("127.0.0.1");
    HttpsPort = Https->bind_to_any_port("127.0.0.1");
    HttpThread = std::thread([this] { Http.listen_after_bind(); });
    HttpsThread = std::thread([this] { Https->listen_after_bind(); });
  }
  ~TImpl() {
    Http.stop();
    if (Https) Https->stop();
    if (HttpThread.joinable()) HttpThread.join();
    if (HttpsThread.joinable()) HttpsThread.join();
  }
};

THostileServers::THostileServers(std::string certPem, int64_t hugeBytes, const std::string& certFile,
                                 const std::string& keyFile)
    : impl_(std::make_unique<TImpl>()) {
  impl_->Cert = std::move(certPem);
  impl_->Bytes = hugeBytes;
  impl_->Start(certFile, keyFile);
}

THostileServers::~THostileServers() = default;

void THostileServers::SetHostile(const std::string& route) {
  std::lock_guard<std::mutex> lock(impl_->M);
  impl_->Hostile = route;
}

int THostileServers::HttpPort() const { return impl_->HttpPort; }
int THostileServers::HttpsPort() const { return impl_->HttpsPort; }
