#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include "support/FakeUpdateServer.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <zlib.h>

#include <chrono>
#include <stdexcept>

namespace exchangetest {
namespace {

struct TCertPair {
  X509* Cert = nullptr;
  EVP_PKEY* Key = nullptr;
  std::string Pem;
};

const TCertPair& CertPair() {
  static const TCertPair pair = [] {
    TCertPair p;
    p.Key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!p.Key) throw std::runtime_error("key generation failed");
    p.Cert = X509_new();
    X509_set_version(p.Cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(p.Cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(p.Cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(p.Cert), 3600L * 24 * 30);
    X509_set_pubkey(p.Cert, p.Key);
    X509_NAME* name = X509_get_subject_name(p.Cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                               -1, -1, 0);
    X509_set_issuer_name(p.Cert, name);
    if (X509_sign(p.Cert, p.Key, EVP_sha256()) == 0) throw std::runtime_error("sign failed");
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, p.Cert);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    p.Pem.assign(data, static_cast<std::size_t>(len));
    BIO_free(bio);
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
  TScripted probe{200, "ok"};
  TScripted cert{200, TestCertPem()};
  TScripted answer{200, ""};
  unsigned uploadDelayMs = 0;
  unsigned probeDelayMs = 0;
  unsigned certDelayMs = 0;
  TUpload last;

  void Wait(unsigned ms) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
  }
};

TFakeUpdateServer::TFakeUpdateServer() : impl_(std::make_unique<TImpl>()) {
  TImpl& s = *impl_;
  const auto reply = [](httplib::Response& res, const TScripted& what) {
    res.status = what.Status;
    res.set_content(what.Body, "text/plain");
  };
  const auto probe = [this, &s, reply](const httplib::Request&, httplib::Response& res) {
    ++probes_;
    unsigned delay;
    TScripted what;
    {
      std::lock_guard<std::mutex> lock(s.m);
      delay = s.probeDelayMs;
      what = s.probe;
    }
    if (delay) s.Wait(delay);
    reply(res, what);
  };
  const auto cert = [this, &s, reply](const httplib::Request&, httplib::Response& res) {
    ++certs_;
    unsigned delay;
    TScripted what;
    {
      std::lock_guard<std::mutex> lock(s.m);
      delay = s.certDelayMs;
      what = s.cert;
    }
    if (delay) s.Wait(delay);
    reply(res, what);
  };
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
                 unsigned delay;
                 TScripted what;
                 {
                   std::lock_guard<std::mutex> lock(s.m);
                   s.last = up;
                   delay = s.uploadDelayMs;
                   what = s.answer;
                 }
                 if (delay) s.Wait(delay);
                 reply(res, what);
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
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->probe = {status, body};
}
void TFakeUpdateServer::SetCert(const std::string& body, int status) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->cert = {status, body};
}
void TFakeUpdateServer::SetAnswer(const std::string& body, int status) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->answer = {status, body};
}
void TFakeUpdateServer::SetUploadDelayMs(unsigned ms) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->uploadDelayMs = ms;
}
void TFakeUpdateServer::SetProbeDelayMs(unsigned ms) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->probeDelayMs = ms;
}
void TFakeUpdateServer::SetCertDelayMs(unsigned ms) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->certDelayMs = ms;
}
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
