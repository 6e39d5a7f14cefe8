#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include "support/FakeUpdateServer.h"
#include "support/SelfSignedCert.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <zlib.h>

#include <chrono>
#include <stdexcept>

namespace exchangetest {
namespace {

// One certificate for every server of the run, parsed once for cpp-httplib.
struct TCertPair {
  X509* Cert = nullptr;
  EVP_PKEY* Key = nullptr;
  std::string Pem;
};

const TCertPair& CertPair() {
  static const TCertPair pair = [] {
    const korvane::testing::TSelfSignedCert made = korvane::testing::MakeSelfSignedCert("127.0.0.1");
    TCertPair p;
    p.Pem = made.CertPem;
    BIO* cert = BIO_new_mem_buf(made.CertPem.data(), static_cast<int>(made.CertPem.size()));
    BIO* key = BIO_new_mem_buf(made.KeyPem.data(), static_cast<int>(made.KeyPem.size()));
    p.Cert = PEM_read_bio_X509(cert, nullptr, nullptr, nullptr);
    p.Key = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
    BIO_free(cert);
    BIO_free(key);
    if (!p.Cert || !p.Key) throw std::runtime_error("the test certificate does not parse");
    return p;
  }();
  return pair;
}

}  // namespace

const std::string& TestCertPem() { return CertPair().Pem; }

struct TFakeUpdateServer::TImpl {
  httplib::Server http;
  httplib::SSLServer https{CertPair().Cert, CertPair().Key};
  std::thread httpThread, httpsThread;
  int httpPort = 0, httpsPort = 0;

  mutable std::mutex m;
  std::condition_variable cv;
  bool stopping = false;
  // Each scripted answer and how long its handler waits before giving it.
  struct TRoute {
    TScripted Reply;
    unsigned DelayMs = 0;
  };
  TRoute probe{{200, "ok"}};
  TRoute cert{{200, TestCertPem()}};
  TRoute answer{{200, ""}};
  TUpload last;

  // The route's answer once its delay is over (or the server stops).
  TScripted Answer(TRoute TImpl::*route) {
    std::unique_lock<std::mutex> lock(m);
    const TRoute now = this->*route;
    cv.wait_for(lock, std::chrono::milliseconds(now.DelayMs), [this] { return stopping; });
    return now.Reply;
  }
  void Set(TRoute TImpl::*route, const TScripted& reply) {
    std::lock_guard<std::mutex> lock(m);
    (this->*route).Reply = reply;
  }
  void SetDelay(TRoute TImpl::*route, unsigned ms) {
    std::lock_guard<std::mutex> lock(m);
    (this->*route).DelayMs = ms;
  }
};

TFakeUpdateServer::TFakeUpdateServer() : impl_(std::make_unique<TImpl>()) {
  TImpl& s = *impl_;
  const auto reply = [](httplib::Response& res, const TScripted& what) {
    res.status = what.Status;
    res.set_content(what.Body, "text/plain");
  };
  const auto scripted = [&s, reply](TImpl::TRoute TImpl::*route, std::atomic<int>& count) {
    return [&s, reply, route, &count](const httplib::Request&, httplib::Response& res) {
      ++count;
      reply(res, s.Answer(route));
    };
  };
  const auto probe = scripted(&TImpl::probe, probes_);
  const auto cert = scripted(&TImpl::cert, certs_);
  // Both listeners serve the GETs, so the GET thread can be tried with TLS too.
  s.http.Get("/isavail.txt", probe);
  s.https.Get("/isavail.txt", probe);
  s.http.Get("/cacert.txt", cert);
  s.https.Get("/cacert.txt", cert);
  s.https.Post("/remote/check_upd.php",
               [this, &s, reply](const httplib::Request& req, httplib::Response& res) {
                 ++uploads_;
                 TUpload up;
                 up.Host = req.get_header_value("Host");
                 if (!req.files.empty()) {
                   const auto& f = *req.files.begin();
                   up.Field = f.first;
                   up.FileName = f.second.filename;
                   up.ContentType = f.second.content_type;
                   up.Content = f.second.content;
                 }
                 {
                   std::lock_guard<std::mutex> lock(s.m);
                   s.last = up;
                 }
                 reply(res, s.Answer(&TImpl::answer));
               });
  s.httpPort = s.http.bind_to_any_port("127.0.0.1");
  s.httpsPort = s.https.bind_to_any_port("127.0.0.1");
  if (s.httpPort <= 0 || s.httpsPort <= 0) throw std::runtime_error("cannot bind");
  s.httpThread = std::thread([&s] { s.http.listen_after_bind(); });
  s.httpsThread = std::thread([&s] { s.https.listen_after_bind(); });
  while (!s.http.is_running() || !s.https.is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TFakeUpdateServer::~TFakeUpdateServer() {
  {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->stopping = true;
  }
  impl_->cv.notify_all();
  impl_->http.stop();
  impl_->https.stop();
  if (impl_->httpThread.joinable()) impl_->httpThread.join();
  if (impl_->httpsThread.joinable()) impl_->httpsThread.join();
}

void TFakeUpdateServer::SetProbe(const std::string& body, int status) {
  impl_->Set(&TImpl::probe, {status, body});
}
void TFakeUpdateServer::SetCert(const std::string& body, int status) {
  impl_->Set(&TImpl::cert, {status, body});
}
void TFakeUpdateServer::SetAnswer(const std::string& body, int status) {
  impl_->Set(&TImpl::answer, {status, body});
}
void TFakeUpdateServer::SetUploadDelayMs(unsigned ms) { impl_->SetDelay(&TImpl::answer, ms); }
void TFakeUpdateServer::SetProbeDelayMs(unsigned ms) { impl_->SetDelay(&TImpl::probe, ms); }
void TFakeUpdateServer::SetCertDelayMs(unsigned ms) { impl_->SetDelay(&TImpl::cert, ms); }
TUpload TFakeUpdateServer::LastUpload() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->last;
}
std::string TFakeUpdateServer::HttpBase() const {
  return "http://127.0.0.1:" + std::to_string(impl_->httpPort);
}
std::string TFakeUpdateServer::HttpsBase() const {
  return "https://127.0.0.1:" + std::to_string(impl_->httpsPort);
}

std::string Gunzip(const std::string& gz) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return {};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
  z.avail_in = static_cast<uInt>(gz.size());
  std::string out;
  char buf[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : std::string();
}

}  // namespace exchangetest
