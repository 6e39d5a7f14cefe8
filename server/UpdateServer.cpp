#include "server/UpdateServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "server/Certificates.h"
#include "server/VendorSite.h"

namespace updsrv {

namespace {

const char* const kCheckPath = "/remote/check_upd.php";
const char* const kInstallerPath = "/downloads/swx/fromkvn/Sweepline.exe";
const char* const kAnswerType = "text/html; charset=windows-1252";

bool ParseHostPort(const std::string& text, std::string& host, int& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 >= text.size()) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty()) return false;
  long v = 0;
  for (size_t i = colon + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 65535) return false;
  }
  port = static_cast<int>(v);
  return true;
}

// The host name to put into URLs for a listener bound to host.
std::string UrlHost(const std::string& host) {
  if (host == "0.0.0.0" || host.empty()) return "127.0.0.1";
  if (host == "::") return "[::1]";
  if (host.find(':') != std::string::npos) return "[" + host + "]";
  return host;
}

std::string ReadFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  if (!ok) return "";
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ok = !in.bad();
  return text;
}

bool IsExecutable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// korvane-reg of the same build: beside the server, or in the build tree's
// tools folder.
std::string FindKorvaneReg() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  buf[n] = '\0';
  std::string dir(buf);
  dir = dir.substr(0, dir.rfind('/'));
  for (const std::string& c : {dir + "/korvane-reg", dir + "/../tools/korvane-reg/korvane-reg",
                               dir + "/../tools/korvane-reg"}) {
    if (IsExecutable(c)) {
      char real[4096];
      if (::realpath(c.c_str(), real)) return real;
      return c;
    }
  }
  return "";
}

std::optional<int> ParseInt(const std::string& s) {
  try {
    size_t used = 0;
    int v = std::stoi(s, &used);
    if (used != s.size()) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::string Usage() {
  return "usage: korvane-updsrv [options]\n"
         "  --http HOST:PORT|off      plain HTTP listener (default 127.0.0.1:0, 0 = a free port)\n"
         "  --https HOST:PORT|off     HTTPS listener (default 127.0.0.1:0)\n"
         "  --data DIR                data folder: CA, server key and certificate, packages/\n"
         "                            (default ./updsrv-data)\n"
         "  --catalogue FILE          driver catalogue (default DIR/catalogue.txt when present)\n"
         "  --messages FILE           message file served as /usermsg.txt (default DIR/usermsg.txt)\n"
         "  --package-base URL        prefix of package URLs in answers\n"
         "                            (default http://HOST:PORT/packages/ of the HTTP listener)\n"
         "  --korvane-reg PATH        korvane-reg the served installer falls back to\n"
         "  --force-errcode N         every check answer carries <errcode>N</errcode>\n"
         "  --force-errmsg TEXT       ... and <errmsg>TEXT</errmsg>\n"
         "  --max-report BYTES        largest unpacked report accepted (default 16M)\n"
         "  --threads N               worker threads per listener (default 8)\n"
         "  --log                     one line per request on stderr\n"
         "  --exit-with-parent        stop when the process (thread) that started it ends\n"
         "Prints \"http=PORT\" and \"https=PORT\" on stdout once listening; ends on SIGTERM.\n";
}

bool ParseArguments(int argc, const char* const* argv, TServerOptions& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = a + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      error.clear();
      return false;
    } else if (a == "--http" || a == "--https") {
      if (!value(v)) return false;
      bool& on = a == "--http" ? o.HttpOn : o.HttpsOn;
      std::string& host = a == "--http" ? o.HttpHost : o.HttpsHost;
      int& port = a == "--http" ? o.HttpPort : o.HttpsPort;
      if (v == "off") {
        on = false;
      } else if (!ParseHostPort(v, host, port)) {
        error = a + " wants HOST:PORT, not " + v;
        return false;
      } else {
        on = true;
      }
    } else if (a == "--data") {
      if (!value(o.DataDir)) return false;
    } else if (a == "--catalogue") {
      if (!value(o.Catalogue)) return false;
    } else if (a == "--messages") {
      if (!value(o.Messages)) return false;
    } else if (a == "--package-base") {
      if (!value(o.PackageBase)) return false;
      if (!o.PackageBase.empty() && o.PackageBase.back() != '/') o.PackageBase += '/';
    } else if (a == "--korvane-reg") {
      if (!value(o.KorvaneReg)) return false;
    } else if (a == "--force-errcode") {
      if (!value(v)) return false;
      o.ForceErrCode = ParseInt(v);
      if (!o.ForceErrCode) {
        error = "--force-errcode wants a decimal number";
        return false;
      }
    } else if (a == "--force-errmsg") {
      if (!value(v)) return false;
      o.ForceErrMsg = v;
    } else if (a == "--max-report") {
      if (!value(v)) return false;
      auto size = ParseSize(v);
      if (!size || *size == 0) {
        error = "--max-report wants a size";
        return false;
      }
      o.MaxReportBytes = *size;
    } else if (a == "--threads") {
      if (!value(v)) return false;
      auto n = ParseInt(v);
      if (!n || *n < 1 || *n > 256) {
        error = "--threads wants 1..256";
        return false;
      }
      o.Threads = static_cast<unsigned>(*n);
    } else if (a == "--log") {
      o.Log = true;
    } else if (a == "--exit-with-parent") {
      o.ExitWithParent = true;
    } else {
      error = "unknown argument " + a;
      return false;
    }
  }
  if (!o.HttpOn && !o.HttpsOn) {
    error = "--http and --https are both off";
    return false;
  }
  return true;
}

TUpdateServer::TUpdateServer(TServerOptions options) : options_(std::move(options)) {}

TUpdateServer::~TUpdateServer() { Stop(); }

void TUpdateServer::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex_);
  std::cerr << "korvane-updsrv: " << line << std::endl;
}

void TUpdateServer::LoadCatalogue(bool atStart) {
  std::lock_guard<std::mutex> reload(reloadMutex_);
  if (catalogueFile_.empty()) {
    std::lock_guard<std::mutex> lock(catalogueMutex_);
    if (!catalogue_) catalogue_ = std::make_shared<TCatalogue>();
    return;
  }
  struct stat st {};
  if (::stat(catalogueFile_.c_str(), &st) != 0) {
    if (atStart) throw std::runtime_error("cannot read catalogue " + catalogueFile_);
    return;  // keep the last good one
  }
  {
    std::lock_guard<std::mutex> lock(catalogueMutex_);
    if (catalogue_ && st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec == catalogueMtime_ &&
        st.st_size == catalogueSize_)
      return;
  }
  std::vector<std::string> warnings;
  std::shared_ptr<TCatalogue> cat;
  try {
    cat = std::make_shared<TCatalogue>(TCatalogue::Load(catalogueFile_, &warnings));
  } catch (const std::exception&) {
    if (atStart) throw;
    return;
  }
  for (const auto& w : warnings) Log(catalogueFile_ + ": " + w);
  for (const auto& p : cat->Packages()) {
    try {
      if (EnsurePackage(packagesDir_, p.Name, p.Size, p.Declared))
        Log("made package " + p.Name + " (" + std::to_string(p.Size) + " bytes)");
    } catch (const std::exception& e) {
      Log(e.what());
    }
  }
  std::lock_guard<std::mutex> lock(catalogueMutex_);
  catalogue_ = cat;
  catalogueMtime_ = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  catalogueSize_ = st.st_size;
}

std::shared_ptr<const TCatalogue> TUpdateServer::CurrentCatalogue() {
  // The catalogue file is re-read when it changes, so a demo or a test can
  // edit it while the server runs.
  LoadCatalogue(false);
  std::lock_guard<std::mutex> lock(catalogueMutex_);
  return catalogue_;
}

void TUpdateServer::Routes(httplib::Server& srv) {
  srv.Get("/isavail.txt", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
  srv.Get("/cacert.txt", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(caPem_, "text/plain");
  });
  srv.Get("/usermsg.txt", [this](const httplib::Request&, httplib::Response& res) {
    bool ok = false;
    std::string text = ReadFile(options_.Messages, ok);
    res.set_content(ok ? text : std::string(), "text/plain; charset=windows-1252");
  });
  srv.Get("/kvn/faq", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(FaqPage(), "text/html; charset=windows-1252");
  });
  srv.Get("/kvn/faq/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(FaqPage(), "text/html; charset=windows-1252");
  });
  srv.Get(kInstallerPath, [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(installer_, "application/octet-stream");
  });
  srv.Get(R"(/packages/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    if (!IsSafePackageName(name)) {
      res.status = 404;
      return;
    }
    const std::string path = packagesDir_ + "/" + name;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      res.status = 404;
      return;
    }
    auto file = std::shared_ptr<int>(new int(fd), [](int* p) {
      ::close(*p);
      delete p;
    });
    // Streamed from the file in large blocks: packages can be hundreds of MiB.
    res.set_content_provider(
        static_cast<size_t>(st.st_size), "application/octet-stream",
        [this, file](size_t offset, size_t length, httplib::DataSink& sink) {
          if (stopping_) return false;
          static thread_local std::vector<char> buf(1 << 20);
          size_t want = std::min(length, buf.size());
          ssize_t n = ::pread(*file, buf.data(), want, static_cast<off_t>(offset));
          if (n <= 0) return false;
          return sink.write(buf.data(), static_cast<size_t>(n));
        });
  });
  srv.Post(kCheckPath, [this](const httplib::Request& req, httplib::Response& res) {
    std::string answer;
    if (!req.is_multipart_form_data()) {
      answer = ErrorAnswer(2, "The update check expects a multipart form with the field drvlist.");
    } else if (!req.has_file("drvlist")) {
      answer = ErrorAnswer(2, "The upload has no drvlist field.");
    } else {
      auto cat = CurrentCatalogue();
      answer = AnswerUpload(req.get_file_value("drvlist").content, *cat, checkOptions_);
    }
    res.set_content(answer, kAnswerType);
  });

  // Requests the library itself refuses (a broken multipart body, a body
  // over the size limit) still get the check's own error answer.
  srv.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& req,
                                                                 httplib::Response& res) {
    if (req.path == kCheckPath && req.method == "POST") {
      const bool tooLarge = res.status == 413;
      res.status = 200;
      res.set_content(ErrorAnswer(2, tooLarge ? "The upload is too large and was refused."
                                              : "The upload is not a valid multipart form."),
                      kAnswerType);
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }));
  srv.set_exception_handler(
      [this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
          if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
          what = e.what();
        } catch (...) {
        }
        Log("error in " + req.path + ": " + what);
        if (req.path == kCheckPath) {
          res.status = 200;
          res.set_content(ErrorAnswer(2, "The server could not check the driver list."),
                          kAnswerType);
        } else {
          res.status = 500;
        }
      });
  if (options_.Log) {
    srv.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
      Log(req.remote_addr + " " + req.method + " " + req.path + " " + std::to_string(res.status));
    });
  }
  const unsigned threads = options_.Threads;
  srv.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  srv.set_keep_alive_timeout(1);  // bounds how long Stop() waits for idle connections
  srv.set_read_timeout(10);
  srv.set_write_timeout(20);
  // A packed report is far smaller than the unpacked limit; this only keeps
  // absurd bodies out of memory.
  srv.set_payload_max_length(static_cast<size_t>(options_.MaxReportBytes + 16 * 1024 * 1024));
}

void TUpdateServer::Start() {
  if (options_.DataDir.empty()) throw std::runtime_error("no data folder");
  ::mkdir(options_.DataDir.c_str(), 0755);
  struct stat st {};
  if (::stat(options_.DataDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw std::runtime_error("cannot use data folder " + options_.DataDir);
  packagesDir_ = options_.DataDir + "/packages";
  ::mkdir(packagesDir_.c_str(), 0755);
  if (options_.Messages.empty()) options_.Messages = options_.DataDir + "/usermsg.txt";
  catalogueFile_ = options_.Catalogue;
  if (catalogueFile_.empty() && ::access((options_.DataDir + "/catalogue.txt").c_str(), R_OK) == 0)
    catalogueFile_ = options_.DataDir + "/catalogue.txt";

  std::vector<std::string> hosts;
  if (options_.HttpsOn && options_.HttpsHost != "0.0.0.0" && options_.HttpsHost != "::")
    hosts.push_back(options_.HttpsHost);
  TCertificateFiles certs = EnsureCertificates(options_.DataDir, hosts);
  bool ok = false;
  caPem_ = ReadFile(certs.CaCert, ok);
  if (!ok) throw std::runtime_error("cannot read " + certs.CaCert);
  std::string reg = options_.KorvaneReg.empty() ? FindKorvaneReg() : options_.KorvaneReg;
  installer_ = SweeplineInstaller(reg);

  LoadCatalogue(true);

  if (options_.HttpOn) {
    http_ = std::make_unique<httplib::Server>();
    Routes(*http_);
    httpPort_ = options_.HttpPort == 0 ? http_->bind_to_any_port(options_.HttpHost)
                                       : (http_->bind_to_port(options_.HttpHost, options_.HttpPort)
                                              ? options_.HttpPort
                                              : -1);
    if (httpPort_ <= 0)
      throw std::runtime_error("cannot listen on " + options_.HttpHost + ":" +
                               std::to_string(options_.HttpPort));
  }
  if (options_.HttpsOn) {
    const std::string certFile = certs.ServerCert, keyFile = certs.ServerKey;
    auto setup = [certFile, keyFile](SSL_CTX& ctx) {
      SSL_CTX_set_options(&ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
      SSL_CTX_set_min_proto_version(&ctx, TLS1_VERSION);
      return SSL_CTX_use_certificate_chain_file(&ctx, certFile.c_str()) == 1 &&
             SSL_CTX_use_PrivateKey_file(&ctx, keyFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
             SSL_CTX_check_private_key(&ctx) == 1;
    };
    auto server = std::make_unique<httplib::SSLServer>(setup);
    if (!server->is_valid()) throw std::runtime_error("cannot set up TLS with " + certFile);
    https_ = std::move(server);
    Routes(*https_);
    httpsPort_ = options_.HttpsPort == 0
                     ? https_->bind_to_any_port(options_.HttpsHost)
                     : (https_->bind_to_port(options_.HttpsHost, options_.HttpsPort)
                            ? options_.HttpsPort
                            : -1);
    if (httpsPort_ <= 0)
      throw std::runtime_error("cannot listen on " + options_.HttpsHost + ":" +
                               std::to_string(options_.HttpsPort));
  }

  checkOptions_.MaxReportBytes = options_.MaxReportBytes;
  checkOptions_.ForceErrCode = options_.ForceErrCode;
  checkOptions_.ForceErrMsg = options_.ForceErrMsg;
  checkOptions_.PackageBase = options_.PackageBase;
  if (checkOptions_.PackageBase.empty()) {
    checkOptions_.PackageBase =
        options_.HttpOn
            ? "http://" + UrlHost(options_.HttpHost) + ":" + std::to_string(httpPort_) + "/packages/"
            : "https://" + UrlHost(options_.HttpsHost) + ":" + std::to_string(httpsPort_) +
                  "/packages/";
  }

  if (http_) httpThread_ = std::thread([this] { http_->listen_after_bind(); });
  if (https_) httpsThread_ = std::thread([this] { https_->listen_after_bind(); });
}

void TUpdateServer::Stop() {
  stopping_ = true;
  if (http_) http_->stop();
  if (https_) https_->stop();
  if (httpThread_.joinable()) httpThread_.join();
  if (httpsThread_.joinable()) httpsThread_.join();
}

int RunServer(int argc, const char* const* argv) {
  TServerOptions options;
  std::string error;
  if (!ParseArguments(argc, argv, options, error)) {
    if (error.empty()) {
      std::cout << Usage();
      return 0;
    }
    std::cerr << "korvane-updsrv: " << error << "\n" << Usage();
    return 2;
  }
  // Writes to a closed connection must fail, not kill the server; SIGTERM and
  // SIGINT are taken by sigwait below, so they are blocked in every thread.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  if (options.ExitWithParent) {
    // A test that crashes must not leave its server behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1) return 0;  // the parent is gone already
  }

  TUpdateServer server(options);
  try {
    server.Start();
  } catch (const std::exception& e) {
    std::cerr << "korvane-updsrv: " << e.what() << "\n";
    server.Stop();
    return 1;
  }
  if (server.HttpPort() > 0) std::printf("http=%d\n", server.HttpPort());
  if (server.HttpsPort() > 0) std::printf("https=%d\n", server.HttpsPort());
  std::fflush(stdout);

  int sig = 0;
  while (sigwait(&stopSignals, &sig) != 0) {
  }
  server.Stop();
  return 0;
}

}  // namespace updsrv
