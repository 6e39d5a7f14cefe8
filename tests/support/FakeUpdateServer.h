// Purpose-built update servers for the exchange tests: plain HTTP for the probe
// and the certificate, HTTPS for the upload, every answer scripted by the test.
// They listen on 127.0.0.1 ephemeral ports only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace exchangetest {

// A self-signed certificate and key made once per test process.
const std::string& TestCertPem();

struct TScripted {
  int Status = 200;
  std::string Body;
};

struct TUpload {
  std::string Field;        // multipart field name
  std::string FileName;     // filename parameter as sent
  std::string ContentType;  // the part's content type
  std::string Content;      // the part's bytes (the packed report)
  std::string Host;         // Host header
};

class TFakeUpdateServer {
 public:
  TFakeUpdateServer();
  ~TFakeUpdateServer();
  TFakeUpdateServer(const TFakeUpdateServer&) = delete;
  TFakeUpdateServer& operator=(const TFakeUpdateServer&) = delete;

  void SetProbe(const std::string& body, int status = 200);
  void SetCert(const std::string& body, int status = 200);  // default: TestCertPem()
  void SetAnswer(const std::string& body, int status = 200);
  // The upload handler waits this long before answering (released at shutdown).
  void SetUploadDelayMs(unsigned ms);
  // The probe handler waits this long before answering.
  void SetProbeDelayMs(unsigned ms);
  // The certificate handler waits this long before answering.
  void SetCertDelayMs(unsigned ms);

  int ProbeCount() const { return probes_; }
  int CertCount() const { return certs_; }
  int UploadCount() const { return uploads_; }
  TUpload LastUpload() const;

  std::string HttpBase() const;
  std::string HttpsBase() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
  std::atomic<int> probes_{0}, certs_{0}, uploads_{0};
};

// gunzip of a gzip member (the packed report).
std::string Gunzip(const std::string& gz);

}  // namespace exchangetest
