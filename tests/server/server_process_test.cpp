// korvane-updsrv as a program: its endpoints on loopback, the update-check
// POST as the client sends it, certificate reuse and a clean stop.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "server/GzipHelper.h"
#include "support/UpdateServerProcess.h"

using namespace korvane::testing;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int PortOf(const std::string& base) { return std::stoi(base.substr(base.rfind(':') + 1)); }

httplib::Client Plain(const UpdateServerProcess& s) {
  httplib::Client c("127.0.0.1", s.HttpPort());
  c.set_read_timeout(10, 0);
  return c;
}

// The upload exactly as the program sends it: boundary of eight hyphens and
// fifteen digits, the full path as the file name, the form-urlencoded part type.
std::string Post(const UpdateServerProcess& s, const std::string& part, std::string contentType = "",
                 int* status = nullptr) {
  const std::string b = "--------120926072235123";
  std::string body = "--" + b + "\r\n" +
                     "Content-Disposition: form-data; name=\"drvlist\"; filename=\"/home/u/.local/"
                     "share/korvane/host/Temp/scanres.log.gz\"\r\n" +
                     "Content-Type: application/x-www-form-urlencoded\r\n\r\n" + part + "\r\n--" + b +
                     "--\r\n";
  if (contentType.empty()) contentType = "multipart/form-data; boundary=" + b;
  httplib::SSLClient c("127.0.0.1", s.HttpsPort());
  c.set_ca_cert_path(s.CaCertFile().c_str());
  c.enable_server_certificate_verification(true);
  c.set_read_timeout(10, 0);
  auto res = c.Post("/remote/check_upd.php", body, contentType.c_str());
  if (!res) return "<no response: " + httplib::to_string(res.error()) + ">";
  if (status) *status = res->status;
  return res->body;
}

std::string PostRaw(const UpdateServerProcess& s, const std::string& body, const std::string& type) {
  httplib::SSLClient c("127.0.0.1", s.HttpsPort());
  c.enable_server_certificate_verification(false);
  auto res = c.Post("/remote/check_upd.php", body, type.c_str());
  return res ? res->body : "<no response>";
}

const char* kCatalogue =
    "# test\n"
    "PCI\\VEN_8086&DEV_100E | 6-1-2024 | 8.4.13.0 | Intel | e1000.zip\n"
    "PCI\\VEN_1AF4&DEV_1041 | 2-2-2025 | 100.9.0 | Red Hat | \n"
    "@package big.bin 3M\n";

class ServerProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
    dir_ = MakeScratchFolder("updsrv-test");
    WriteTextFile(dir_ + "/catalogue.txt", kCatalogue);
  }
  void TearDown() override {
    if (!dir_.empty()) RemoveFolder(dir_);
  }
  UpdateServerOptions Options() {
    UpdateServerOptions o;
    o.DataDir = dir_ + "/data";
    o.Catalogue = dir_ + "/catalogue.txt";
    o.Messages = dir_ + "/usermsg.txt";
    return o;
  }
  std::string dir_;
};

}  // namespace

TEST_F(ServerProcess, PlainEndpoints) {
  UpdateServerProcess s(Options());
  EXPECT_EQ(s.HttpBase(), "http://127.0.0.1:" + std::to_string(s.HttpPort()));
  EXPECT_EQ(PortOf(s.HttpsBase()), s.HttpsPort());
  auto c = Plain(s);

  auto r = c.Get("/isavail.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "ok");

  r = c.Get("/cacert.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, ReadAll(s.CaCertFile()));
  BIO* bio = BIO_new_mem_buf(r->body.data(), static_cast<int>(r->body.size()));
  X509* ca = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  ASSERT_NE(ca, nullptr) << "served CA certificate is no PEM certificate";
  EXPECT_EQ(X509_check_ca(ca), 1);
  X509_free(ca);

  // No message file yet: an empty body. Then the file as it is at each request.
  r = c.Get("/usermsg.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, "");
  const std::string msg = "<msg><sver>1.0.0.0</sver><msgtext>Hello \xE9</msgtext><msgurl></msgurl></msg>\r\n";
  WriteTextFile(dir_ + "/usermsg.txt", msg);
  r = c.Get("/usermsg.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, msg);

  r = c.Get("/kvn/faq");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_NE(r->get_header_value("Content-Type").find("text/html"), std::string::npos);
  EXPECT_NE(r->body.find("<html"), std::string::npos);

  r = c.Get("/downloads/swx/fromkvn/Sweepline.exe");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body.rfind("#!/bin/sh\n", 0), 0u);

  for (const char* missing :
       {"/nothing", "/packages/none.zip", "/packages/..%2Fca.key", "/packages/.hidden", "/packages/"}) {
    r = c.Get(missing);
    ASSERT_TRUE(r) << missing;
    EXPECT_EQ(r->status, 404) << missing;
  }
}

TEST_F(ServerProcess, PackagesAreGeneratedAndStreamed) {
  UpdateServerProcess s(Options());
  auto c = Plain(s);
  struct Case {
    const char* name;
    size_t size;
  } cases[] = {{"e1000.zip", 300 * 1024}, {"big.bin", 3 * 1024 * 1024}};
  for (const auto& k : cases) {
    const std::string file = s.PackagesDir() + "/" + k.name;
    std::string onDisk = ReadAll(file);
    ASSERT_EQ(onDisk.size(), k.size) << k.name;
    auto r = c.Get((std::string("/packages/") + k.name).c_str());
    ASSERT_TRUE(r) << k.name;
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Length"), std::to_string(k.size));
    EXPECT_TRUE(r->body == onDisk) << k.name << ": served bytes differ";
    auto h = c.Head((std::string("/packages/") + k.name).c_str());
    ASSERT_TRUE(h);
    EXPECT_EQ(h->get_header_value("Content-Length"), std::to_string(k.size));
  }
  // A file put there by hand is served as it is and kept across restarts.
  WriteTextFile(s.PackagesDir() + "/e1000.zip", "real package");
  s.Stop();
  UpdateServerProcess again(Options());
  EXPECT_EQ(ReadAll(again.PackagesDir() + "/e1000.zip"), "real package");
  auto c2 = Plain(again);
  auto r = c2.Get("/packages/e1000.zip");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "real package");
}

TEST_F(ServerProcess, UpdateCheckAnswersOverHttps) {
  UpdateServerProcess s(Options());
  std::string report = MakeReport({{"PCI\\VEN_8086&DEV_100E&SUBSYS_001E8086, PCI\\VEN_8086&DEV_100E",
                                    "PCI\\VEN_8086&CC_020000, PCI\\CC_0200", "6-21-2006"},
                                   {"PCI\\VEN_1AF4&DEV_1041", "", ""},
                                   {"ACPI\\PNP0303", "*PNP0303", "1-1-2000"}});
  int status = 0;
  std::string answer = Post(s, GzipPack(report), "", &status);
  EXPECT_EQ(status, 200);
  const std::string url = s.HttpBase() + "/packages/e1000.zip";
  EXPECT_EQ(answer,
            "<errcode>0</errcode>\r\n"
            "<dev><id>1</id><date>6-1-2024</date><vers>8.4.13.0</vers><vendor>Intel</vendor><url>" +
                url +
                "</url></dev>\r\n"
                "<dev><id>2</id><date>2-2-2025</date><vers>100.9.0</vers><vendor>Red Hat</vendor>"
                "<url></url></dev>\r\n");
  // The URL handed out downloads the package.
  auto c = Plain(s);
  auto r = c.Get("/packages/e1000.zip");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body.size(), 300u * 1024);

  // The catalogue is read again when it changes.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  WriteTextFile(dir_ + "/catalogue.txt", "ACPI\\PNP0303 | 2-1-2000 | 9.9 | Keys | keys.zip\n");
  answer = Post(s, GzipPack(report));
  EXPECT_EQ(answer,
            "<errcode>0</errcode>\r\n<dev><id>3</id><date>2-1-2000</date><vers>9.9</vers>"
            "<vendor>Keys</vendor><url>" +
                s.HttpBase() + "/packages/keys.zip</url></dev>\r\n");
  EXPECT_EQ(ReadAll(s.PackagesDir() + "/keys.zip").size(), 300u * 1024);
}

TEST_F(ServerProcess, BadUploadsGetErrcode2) {
  UpdateServerProcess s(Options());
  const std::string good = GzipPack(MakeReport({{"PCI\\VEN_8086&DEV_100E", "", ""}}));
  const struct {
    const char* name;
    std::string answer;
  } cases[] = {
      {"not gzip", Post(s, "plain text")},
      {"damaged gzip", Post(s, good.substr(0, good.size() / 2))},
      {"gzip of junk", Post(s, GzipPack("junk\r\n"))},
      {"empty part", Post(s, "")},
      {"not multipart", PostRaw(s, good, "application/x-gzip")},
      {"other field", PostRaw(s,
                              "--XX\r\nContent-Disposition: form-data; name=\"other\"; filename=\"a\"\r\n"
                              "Content-Type: text/plain\r\n\r\nabc\r\n--XX--\r\n",
                              "multipart/form-data; boundary=XX")},
      {"broken multipart", PostRaw(s, "no boundary here at all", "multipart/form-data; boundary=XX")},
      {"multipart without boundary", PostRaw(s, "x", "multipart/form-data")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.answer.rfind("<errcode>2</errcode><errmsg>", 0), 0u) << c.name << ": " << c.answer;
    EXPECT_NE(c.answer.find("</errmsg>"), std::string::npos) << c.name;
  }
  // Still serving after all that.
  EXPECT_EQ(Post(s, good).rfind("<errcode>0</errcode>\r\n<dev><id>1</id>", 0), 0u);
}

TEST_F(ServerProcess, OversizeReportIsRefused) {
  auto o = Options();
  o.ExtraArgs = {"--max-report", "64K"};
  UpdateServerProcess s(o);
  std::string report = MakeReport({});
  std::string big = report + std::string(64 * 1024 + 1 - report.size(), '\n');
  std::string answer = Post(s, GzipPack(big));
  EXPECT_EQ(answer.rfind("<errcode>2</errcode><errmsg>", 0), 0u) << answer;
  EXPECT_NE(answer.find("refused"), std::string::npos) << answer;
  big.pop_back();
  EXPECT_EQ(Post(s, GzipPack(big)), "<errcode>0</errcode>\r\n");
}

TEST_F(ServerProcess, ForcedErrorFromTheCommandLine) {
  auto o = Options();
  o.ExtraArgs = {"--force-errcode", "3", "--force-errmsg", "Server maintenance"};
  UpdateServerProcess s(o);
  EXPECT_EQ(Post(s, GzipPack(MakeReport({{"PCI\\VEN_8086&DEV_100E", "", ""}}))),
            "<errcode>3</errcode><errmsg>Server maintenance</errmsg>\r\n");
}

TEST_F(ServerProcess, CertificatesAreMadeOnceAndReused) {
  std::string ca1, cert1, ca2, cert2;
  {
    UpdateServerProcess s(Options());
    ca1 = ReadAll(s.CaCertFile());
    cert1 = ReadAll(s.DataDir() + "/server.pem");
    ASSERT_FALSE(ca1.empty());
    ASSERT_FALSE(cert1.empty());
  }
  {
    UpdateServerProcess s(Options());
    ca2 = ReadAll(s.CaCertFile());
    cert2 = ReadAll(s.DataDir() + "/server.pem");
    auto r = Plain(s).Get("/cacert.txt");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, ca1);
    // The served CA still verifies the HTTPS listener.
    EXPECT_EQ(Post(s, GzipPack(MakeReport({}))), "<errcode>0</errcode>\r\n");
  }
  EXPECT_EQ(ca1, ca2);
  EXPECT_EQ(cert1, cert2);
  // Its own server certificate, when gone, is made again under the same CA
  // (one someone else put there is never replaced: see Hardening).
  std::remove((dir_ + "/data/server.pem").c_str());
  UpdateServerProcess s(Options());
  EXPECT_EQ(ReadAll(s.CaCertFile()), ca1);
  EXPECT_NE(ReadAll(s.DataDir() + "/server.pem"), cert1);
  EXPECT_EQ(Post(s, GzipPack(MakeReport({}))), "<errcode>0</errcode>\r\n");
}

TEST_F(ServerProcess, StopsCleanlyOnSigterm) {
  // Larger than the socket buffers can hold.
  WriteTextFile(dir_ + "/catalogue.txt", std::string(kCatalogue) + "@package huge.bin 32M\n");
  auto o = Options();
  o.ExtraArgs = {"--grace", "500ms"};
  UpdateServerProcess s(o);
  // Leave a download half read, longer than the grace period: the stop waits
  // that long for it and then ends it.
  httplib::Client c("127.0.0.1", s.HttpPort());
  std::atomic<bool> done{false};
  std::thread reader([&] {
    c.Get("/packages/huge.bin", [&](const char*, size_t) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return !done.load();
    });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto t0 = std::chrono::steady_clock::now();
  int status = s.Stop();
  const auto took = std::chrono::steady_clock::now() - t0;
  done = true;
  reader.join();
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GE(took, std::chrono::milliseconds(400));
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_FALSE(s.Running());
}

TEST_F(ServerProcess, BadCommandLinesAndCatalogues) {
  auto o = Options();
  o.Catalogue = dir_ + "/missing.txt";
  EXPECT_THROW(UpdateServerProcess{o}, std::runtime_error);
  o = Options();
  o.ExtraArgs = {"--bogus"};
  EXPECT_THROW(UpdateServerProcess{o}, std::runtime_error);
}

TEST_F(ServerProcess, WithoutHttps) {
  auto o = Options();
  o.Https = false;
  UpdateServerProcess s(o);
  EXPECT_EQ(s.HttpsPort(), 0);
  auto r = Plain(s).Get("/isavail.txt");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "ok");
}
