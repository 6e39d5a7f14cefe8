#include "server/UpdateServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/ssl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "server/Certificates.h"
#include "server/HttpServer.h"
#include "server/VendorSite.h"
#include "net/uInstallerSignature.h"

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

// "10", "0.25", "250ms", "3s" -> milliseconds.
std::optional<unsigned> ParseMilliseconds(std::string text) {
  double scale = 1000;
  if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0) {
    scale = 1;
    text.resize(text.size() - 2);
  } else if (text.size() > 1 && text.back() == 's') {
    text.pop_back();
  }
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
  try {
    size_t used = 0;
    double v = std::stod(text, &used);
    if (used != text.size() || v < 0 || v * scale > 86400000.0) return std::nullopt;
    return static_cast<unsigned>(v * scale + 0.5);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

unsigned DefaultThreads() { return std::max(2u, std::thread::hardware_concurrency()); }

unsigned DefaultCheckThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

unsigned DefaultMaxUploads(uint64_t maxUploadBytes) {
  const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  const uint64_t memory = pages > 0 && pageSize > 0
                              ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize)
                              : uint64_t{1} << 30;
  const uint64_t fit = memory / 16 / std::max<uint64_t>(maxUploadBytes, 1);
  return static_cast<unsigned>(std::clamp<uint64_t>(fit, 16, 1024));
}

std::string VersionLine() { return std::string("korvane-updsrv ") + KORVANE_VERSION; }

std::string Usage() {
  return "usage: korvane-updsrv [options]\n"
         "  --http HOST:PORT|off      plain HTTP listener (default 127.0.0.1:0, 0 = a free port)\n"
         "  --https HOST:PORT|off     HTTPS listener (default 127.0.0.1:0)\n"
         "  --data DIR                data folder: CA, server key and certificate, packages/\n"
         "                            (default ./updsrv-data)\n"
         "  --catalogue FILE          driver catalogue (default DIR/catalogue.txt when present)\n"
         "  --messages FILE           message file served as /usermsg.txt (default DIR/usermsg.txt)\n"
         "  --cert FILE --key FILE    the HTTPS certificate (PEM, chain allowed) and key to use\n"
         "                            instead of the server's own CA\n"
         "  --ca FILE                 what /cacert.txt serves with --cert (default the certificate)\n"
         "  --public-base URL         base of the URLs in answers, e.g. https://updates.example.com\n"
         "                            (default: the host the request names, HTTP listener's port)\n"
         "  --package-base URL        prefix of package URLs in answers (default PUBLIC-BASE/packages/)\n"
         "  --korvane-reg PATH        korvane-reg the served installer falls back to\n"
         "  --signing-key FILE        Ed25519 private key (PEM) the served installer is signed\n"
         "                            with (default: served unsigned)\n"
         "  --force-errcode N         every check answer carries <errcode>N</errcode>\n"
         "  --force-errmsg TEXT       ... and <errmsg>TEXT</errmsg>\n"
         "  --max-report BYTES        largest unpacked report accepted (default 8M)\n"
         "  --max-devices N           most devices a report may list (default 4096)\n"
         "  --max-upload BYTES        largest check upload (the packed report in its form;\n"
         "                            default 1M)\n"
         "  --max-uploads N           uploads in flight at once (default: what fits in a\n"
         "                            sixteenth of the memory, 16..1024); beyond it 503\n"
         "  --max-uploads-per-client N  the same for one client address (default 8, 0: none)\n"
         "  --body-timeout TIME       an upload must arrive whole within TIME (default 60s)\n"
         "  --check-threads N         workers that run the checks (default: one per core)\n"
         "  --check-queue N           checks waiting for a worker (default 64); beyond it 503\n"
         "  --threads N               I/O threads (default: one per core, at least 2)\n"
         "  --head-timeout TIME       a request head must arrive within TIME (default 10s)\n"
         "  --idle-timeout TIME       idle kept-alive connections close after TIME (default 2s)\n"
         "  --io-timeout TIME         a stalled upload or answer is dropped after TIME (default 20s)\n"
         "  --grace TIME              SIGTERM waits this long for requests in flight, package\n"
         "                            downloads included (default 60s)\n"
         "  --lame-duck TIME          on SIGTERM first serve on for TIME with /isavail.txt\n"
         "                            answering 503, so a load balancer takes the instance out\n"
         "                            before the listeners close (default 0: close at once)\n"
         "                            (TIME: seconds, or with an ms or s suffix)\n"
         "  --log [FILE]              access log in Common Log Format to FILE (default stderr);\n"
         "                            SIGHUP reopens it\n"
         "  --no-log                  no access log\n"
         "  --exit-with-parent        stop when the process (thread) that started it ends\n"
         "  --version                 print the program name and version\n"
         "  --help                    this text\n"
         "Prints \"http=PORT\" and \"https=PORT\" on stdout once listening. SIGHUP reloads the\n"
         "catalogue; SIGTERM finishes the requests in flight and exits 0 (a second SIGTERM\n"
         "ends a lame-duck period early).\n";
}

bool ParseArguments(int argc, const char* const* argv, TServerOptions& o, std::string& error,
                    std::string* output) {
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
    auto duration = [&](unsigned& out) {
      std::string v;
      if (!value(v)) return false;
      auto ms = ParseMilliseconds(v);
      if (!ms || *ms == 0) {
        error = a + " wants a time (seconds, or with ms or s)";
        return false;
      }
      out = *ms;
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      error.clear();
      if (output) *output = Usage();
      return false;
    } else if (a == "--version") {
      error.clear();
      if (output) *output = VersionLine() + "\n";
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
    } else if (a == "--cert") {
      if (!value(o.CertFile)) return false;
    } else if (a == "--key") {
      if (!value(o.KeyFile)) return false;
    } else if (a == "--ca") {
      if (!value(o.CaFile)) return false;
    } else if (a == "--public-base") {
      if (!value(o.PublicBase)) return false;
      while (!o.PublicBase.empty() && o.PublicBase.back() == '/') o.PublicBase.pop_back();
      if (o.PublicBase.rfind("http://", 0) != 0 && o.PublicBase.rfind("https://", 0) != 0) {
        error = "--public-base wants an http:// or https:// URL";
        return false;
      }
    } else if (a == "--package-base") {
      if (!value(o.PackageBase)) return false;
      if (!o.PackageBase.empty() && o.PackageBase.back() != '/') o.PackageBase += '/';
    } else if (a == "--korvane-reg") {
      if (!value(o.KorvaneReg)) return false;
    } else if (a == "--signing-key") {
      if (!value(o.SigningKey)) return false;
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
    } else if (a == "--max-upload") {
      if (!value(v)) return false;
      auto size = ParseSize(v);
      if (!size || *size == 0) {
        error = "--max-upload wants a size";
        return false;
      }
      o.MaxUploadBytes = *size;
    } else if (a == "--max-devices") {
      if (!value(v)) return false;
      auto n = ParseInt(v);
      if (!n || *n < 1) {
        error = "--max-devices wants a number";
        return false;
      }
      o.MaxReportDevices = static_cast<size_t>(*n);
    } else if (a == "--max-uploads" || a == "--max-uploads-per-client" || a == "--check-threads" ||
               a == "--check-queue") {
      if (!value(v)) return false;
      auto n = ParseInt(v);
      const bool zeroOk = a == "--max-uploads-per-client" || a == "--check-queue";
      if (!n || *n < (zeroOk ? 0 : 1) || *n > 1000000) {
        error = a + " wants a number";
        return false;
      }
      (a == "--max-uploads"              ? o.MaxUploads
       : a == "--max-uploads-per-client" ? o.MaxUploadsPerClient
       : a == "--check-threads"          ? o.CheckThreads
                                         : o.CheckQueue) = static_cast<unsigned>(*n);
    } else if (a == "--body-timeout") {
      if (!duration(o.BodyTimeoutMs)) return false;
    } else if (a == "--threads") {
      if (!value(v)) return false;
      auto n = ParseInt(v);
      if (!n || *n < 1 || *n > 256) {
        error = "--threads wants 1..256";
        return false;
      }
      o.Threads = static_cast<unsigned>(*n);
    } else if (a == "--head-timeout") {
      if (!duration(o.HeadTimeoutMs)) return false;
    } else if (a == "--idle-timeout") {
      if (!duration(o.IdleTimeoutMs)) return false;
    } else if (a == "--io-timeout") {
      if (!duration(o.IoTimeoutMs)) return false;
    } else if (a == "--grace") {
      if (!duration(o.GraceMs)) return false;
    } else if (a == "--lame-duck") {
      if (!value(v)) return false;
      auto ms = ParseMilliseconds(v);
      if (!ms) {
        error = a + " wants a time (seconds, or with ms or s)";
        return false;
      }
      o.LameDuckMs = *ms;
    } else if (a == "--log") {
      o.Log = true;
      // The file is optional: "--log" alone (or before another option) is stderr.
      if (i + 1 < argc && std::string(argv[i + 1]).rfind("--", 0) != 0) {
        o.LogFile = argv[++i];
        if (o.LogFile == "-") o.LogFile.clear();
      }
    } else if (a == "--no-log") {
      o.Log = false;
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
  if (o.CertFile.empty() != o.KeyFile.empty()) {
    error = "--cert and --key go together";
    return false;
  }
  if (!o.CaFile.empty() && o.CertFile.empty()) {
    error = "--ca needs --cert and --key";
    return false;
  }
  return true;
}

TUpdateServer::TUpdateServer(TServerOptions options) : options_(std::move(options)) {}

TUpdateServer::~TUpdateServer() {
  Stop();
  if (tls_) SSL_CTX_free(tls_);
  if (logFd_ > 2) ::close(logFd_);
}

void TUpdateServer::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex_);
  std::cerr << "korvane-updsrv: " << line << std::endl;
}

void TUpdateServer::AccessLog(const std::string& line) {
  const std::string text = line + "\n";
  std::lock_guard<std::mutex> lock(logMutex_);
  // One write per line, so lines from several workers never mix.
  if (::write(logFd_, text.data(), text.size()) < 0) {
  }
}

void TUpdateServer::OpenLogFile() {
  if (options_.LogFile.empty()) return;
  int fd = ::open(options_.LogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd < 0) throw std::runtime_error("cannot open the log file " + options_.LogFile);
  std::lock_guard<std::mutex> lock(logMutex_);
  if (logFd_ > 2) ::close(logFd_);
  logFd_ = fd;
}

void TUpdateServer::LoadCatalogue(bool atStart, bool force) {
  std::lock_guard<std::mutex> reload(reloadMutex_);
  if (catalogueFile_.empty()) {
    std::lock_guard<std::mutex> lock(catalogueMutex_);
    if (!catalogue_) catalogue_ = std::make_shared<TCatalogue>();
    return;
  }
  struct stat st {};
  if (::stat(catalogueFile_.c_str(), &st) != 0) {
    if (atStart) throw std::runtime_error("cannot read catalogue " + catalogueFile_);
    if (force) Log("cannot read catalogue " + catalogueFile_ + "; kept the previous catalogue");
    return;  // keep the last good one
  }
  const int64_t mtime = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  {
    std::lock_guard<std::mutex> lock(catalogueMutex_);
    if (!force && catalogue_ && mtime == catalogueMtime_ && st.st_size == catalogueSize_) return;
  }
  std::vector<std::string> warnings;
  std::shared_ptr<TCatalogue> cat;
  try {
    cat = std::make_shared<TCatalogue>(TCatalogue::Load(catalogueFile_, &warnings));
  } catch (const std::exception& e) {
    if (atStart) throw;
    Log(std::string(e.what()) + "; kept the previous catalogue");
    return;
  }
  for (const auto& w : warnings) Log(catalogueFile_ + ": " + w);
  if (!atStart && !warnings.empty()) {
    // A catalogue edited while serving must be right as a whole: serving half
    // of it would tell users their drivers are current when they are not.
    Log(catalogueFile_ + ": " + std::to_string(warnings.size()) +
        " unusable line(s); kept the previous catalogue");
    std::lock_guard<std::mutex> lock(catalogueMutex_);
    catalogueMtime_ = mtime;  // not again until the file changes
    catalogueSize_ = st.st_size;
    return;
  }
  for (const auto& p : cat->Packages()) {
    try {
      std::string note;
      if (EnsurePackage(*owned_, p.Name, p.Size, p.Declared, &note))
        Log("made package " + p.Name + " (" + std::to_string(p.Size) + " bytes)");
      if (!note.empty()) Log(note);
    } catch (const std::exception& e) {
      Log(e.what());
    }
  }
  if (!atStart) Log("catalogue " + catalogueFile_ + ": " + std::to_string(cat->Entries().size()) + " entries");
  std::lock_guard<std::mutex> lock(catalogueMutex_);
  catalogue_ = cat;
  catalogueMtime_ = mtime;
  catalogueSize_ = st.st_size;
}

std::shared_ptr<const TCatalogue> TUpdateServer::CurrentCatalogue() {
  // The catalogue file is re-read when it changes, so a demo or a test can
  // edit it while the server runs.
  LoadCatalogue(false, false);
  std::lock_guard<std::mutex> lock(catalogueMutex_);
  return catalogue_;
}

size_t TUpdateServer::CatalogueSize() {
  std::lock_guard<std::mutex> lock(catalogueMutex_);
  return catalogue_ ? catalogue_->Entries().size() : 0;
}

void TUpdateServer::Reload() {
  LoadCatalogue(false, true);
  try {
    OpenLogFile();
  } catch (const std::exception& e) {
    Log(e.what());
  }
}

namespace {

// The host name of a Host header ("name", "name:port", "[v6]:port") when it
// is a plain name or address; empty otherwise, so nothing odd reaches an
// answer.
std::string HostOfHeader(const std::string& value) {
  std::string host = value;
  if (!host.empty() && host[0] == '[') {
    size_t close = host.find(']');
    if (close == std::string::npos) return "";
    host = host.substr(0, close + 1);
    for (size_t i = 1; i + 1 < host.size(); ++i) {
      char c = host[i];
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.'))
        return "";
    }
    return host.size() > 2 ? host : "";
  }
  host = host.substr(0, host.find(':'));
  if (host.empty() || host.size() > 253) return "";
  for (char c : host)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'))
      return "";
  return host;
}

}  // namespace

std::string TUpdateServer::PackageBaseFor(const THttpRequest& req) const {
  if (!options_.PackageBase.empty()) return options_.PackageBase;
  if (!options_.PublicBase.empty()) return options_.PublicBase + "/packages/";
  const std::string host = HostOfHeader(req.Header("Host"));
  if (host.empty()) return defaultPackageBase_;
  // Packages are served over plain HTTP when that listener runs, as the
  // program downloads them; the host is the one the client reached.
  return options_.HttpOn ? "http://" + host + ":" + std::to_string(httpPort_) + "/packages/"
                         : "https://" + host + ":" + std::to_string(httpsPort_) + "/packages/";
}

void TUpdateServer::Handle(const THttpRequest& req, THttpResponse& res) {
  const std::string& path = req.Path;
  const bool get = req.Method == "GET" || req.Method == "HEAD";
  auto text = [&](std::string body, const char* type) {
    res.Body = std::move(body);
    res.ContentType = type;
  };
  if (req.Method == "POST" && path == kCheckPath) {
    TCheckOptions o = checkOptions_;
    o.PackageBase = PackageBaseFor(req);
    auto cat = CurrentCatalogue();
    try {
      text(AnswerCheckRequest(req.Header("Content-Type"), req.Body, *cat, o), kAnswerType);
    } catch (const std::exception& e) {
      Log("error in " + path + ": " + e.what());
      text(ErrorAnswer(2, "The server could not check the driver list."), kAnswerType);
    }
    return;
  }
  if (!get) {
    res.Status = 404;
    return;
  }
  if (path == "/isavail.txt") {
    if (lameDuck_) res.Status = 503;  // a balancer's health check takes this instance out
    return text(lameDuck_ ? "stopping" : "ok", "text/plain");
  }
  if (path == "/cacert.txt") return text(caPem_, "text/plain");
  if (path == "/usermsg.txt") {
    bool ok = false;
    std::string body = ReadFile(options_.Messages, ok);
    return text(ok ? body : std::string(), "text/plain; charset=windows-1252");
  }
  if (path == "/kvn/faq" || path == "/kvn/faq/") return text(FaqPage(), "text/html; charset=windows-1252");
  if (path == kInstallerPath) return text(installer_, "application/octet-stream");
  const std::string packages = "/packages/";
  if (path.rfind(packages, 0) == 0) {
    const std::string name = path.substr(packages.size());
    int fd = IsSafePackageName(name)
                 ? ::open((packagesDir_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC)
                 : -1;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      res.Status = 404;
      return;
    }
    // Streamed from the file: packages can be hundreds of MiB.
    res.File = std::make_shared<TFileBody>();
    res.File->Fd = fd;
    res.File->Size = static_cast<uint64_t>(st.st_size);
    res.ContentType = "application/octet-stream";
    return;
  }
  res.Status = 404;
}

namespace {

SSL_CTX* MakeTlsContext(const std::string& certFile, const std::string& keyFile) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) throw std::runtime_error("cannot set up TLS");
  SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION |
                               SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
  // Clients never resume (each check is a new client): tickets and a session
  // cache would only cost work per handshake.
  SSL_CTX_set_num_tickets(ctx, 0);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
    SSL_CTX_free(ctx);
    throw std::runtime_error("cannot use the certificate " + certFile);
  }
  if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    SSL_CTX_free(ctx);
    throw std::runtime_error("cannot use the key " + keyFile + " with " + certFile);
  }
  return ctx;
}

std::string Address(const std::string& host, int port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

void TUpdateServer::Start() {
  if (options_.DataDir.empty()) throw std::runtime_error("no data folder");

  THttpServerOptions so;
  so.Threads = options_.Threads;
  so.HeadTimeout = std::chrono::milliseconds(options_.HeadTimeoutMs);
  so.IdleTimeout = std::chrono::milliseconds(options_.IdleTimeoutMs);
  so.IoTimeout = std::chrono::milliseconds(options_.IoTimeoutMs);
  so.Grace = std::chrono::milliseconds(options_.GraceMs);
  so.BodyTimeout = std::chrono::milliseconds(options_.BodyTimeoutMs);
  if (options_.MaxUploads == 0) options_.MaxUploads = DefaultMaxUploads(options_.MaxUploadBytes);
  so.MaxUploads = options_.MaxUploads;
  so.MaxUploadsPerClient = options_.MaxUploadsPerClient;
  so.WorkerThreads = options_.CheckThreads;
  so.WorkerQueue = options_.CheckQueue;
  THttpRoutes routes;
  routes.Handle = [this](const THttpRequest& req, THttpResponse& res) { Handle(req, res); };
  // Only the check takes a body; the check itself (gunzip, parse, match)
  // runs on the worker pool.
  const uint64_t bodyLimit = options_.MaxUploadBytes;
  routes.BodyLimit = [bodyLimit](const THttpRequest& req) -> uint64_t {
    return req.Method == "POST" && req.Path == kCheckPath ? bodyLimit : 0;
  };
  routes.Offload = [](const THttpRequest& req) { return req.Method == "POST" && req.Path == kCheckPath; };
  routes.TooLarge = [](const THttpRequest& req, THttpResponse& res) {
    if (req.Path == kCheckPath) {
      res.ContentType = kAnswerType;
      res.Body = ErrorAnswer(2, "The upload is too large and was refused.");
    } else {
      res.Status = 413;
    }
  };
  if (options_.Log)
    routes.Log = [this](const TAccessRecord& r) { AccessLog(CommonLogLine(r)); };
  server_ = std::make_unique<THttpServer>(so, std::move(routes));
  // The addresses first: a busy port stops the start before anything is
  // written, with that one line.
  if (options_.HttpOn) httpPort_ = server_->Listen(options_.HttpHost, options_.HttpPort, false);
  if (options_.HttpsOn) httpsPort_ = server_->Listen(options_.HttpsHost, options_.HttpsPort, true);

  ::mkdir(options_.DataDir.c_str(), 0755);
  struct stat st {};
  if (::stat(options_.DataDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw std::runtime_error("cannot use data folder " + options_.DataDir);
  packagesDir_ = options_.DataDir + "/packages";
  ::mkdir(packagesDir_.c_str(), 0755);
  owned_ = std::make_unique<TOwnedFiles>(options_.DataDir);
  if (options_.Messages.empty()) options_.Messages = options_.DataDir + "/usermsg.txt";
  catalogueFile_ = options_.Catalogue;
  if (catalogueFile_.empty() && ::access((options_.DataDir + "/catalogue.txt").c_str(), R_OK) == 0)
    catalogueFile_ = options_.DataDir + "/catalogue.txt";
  if (options_.Log) OpenLogFile();

  std::string certFile, keyFile;
  bool ok = false;
  if (!options_.CertFile.empty()) {
    certFile = options_.CertFile;
    keyFile = options_.KeyFile;
    const std::string served = options_.CaFile.empty() ? certFile : options_.CaFile;
    caPem_ = ReadFile(served, ok);
    if (!ok) throw std::runtime_error("cannot read " + served);
  } else {
    std::vector<std::string> hosts;
    if (options_.HttpsOn && options_.HttpsHost != "0.0.0.0" && options_.HttpsHost != "::")
      hosts.push_back(options_.HttpsHost);
    TCertificateFiles certs = EnsureCertificates(*owned_, hosts);
    for (const auto& made : certs.Made) Log("made " + made);
    certFile = certs.ServerCert;
    keyFile = certs.ServerKey;
    caPem_ = ReadFile(certs.CaCert, ok);
    if (!ok) throw std::runtime_error("cannot read " + certs.CaCert);
  }
  if (options_.HttpsOn) {
    tls_ = MakeTlsContext(certFile, keyFile);
    server_->UseTls(tls_);
  }
  std::string reg = options_.KorvaneReg.empty() ? FindKorvaneReg() : options_.KorvaneReg;
  installer_ = SweeplineInstaller(reg);
  if (!options_.SigningKey.empty()) {
    // Signed as the vendor signs it: the signature block at the end of the file.
    const std::string key = ReadFile(options_.SigningKey, ok);
    if (!ok) throw std::runtime_error("cannot read the signing key " + options_.SigningKey);
    try {
      installer_ = SignInstaller(installer_, key);
    } catch (const ESigningError& e) {
      throw std::runtime_error(options_.SigningKey + ": " + e.what());
    }
  }

  LoadCatalogue(true, true);

  checkOptions_.MaxReportBytes = options_.MaxReportBytes;
  checkOptions_.MaxReportDevices = options_.MaxReportDevices;
  checkOptions_.ForceErrCode = options_.ForceErrCode;
  checkOptions_.ForceErrMsg = options_.ForceErrMsg;
  defaultPackageBase_ =
      options_.HttpOn
          ? "http://" + UrlHost(options_.HttpHost) + ":" + std::to_string(httpPort_) + "/packages/"
          : "https://" + UrlHost(options_.HttpsHost) + ":" + std::to_string(httpsPort_) + "/packages/";
  server_->Start();
}

std::string TUpdateServer::StartupLine() {
  std::string line = VersionLine() + " listening on";
  if (options_.HttpOn) line += " http://" + Address(options_.HttpHost, httpPort_);
  if (options_.HttpsOn) line += " https://" + Address(options_.HttpsHost, httpsPort_);
  line += "; catalogue " + (catalogueFile_.empty() ? std::string("(none)") : catalogueFile_) + " with " +
          std::to_string(CatalogueSize()) + " entries; " + std::to_string(options_.Threads) +
          " I/O threads, " + std::to_string(options_.CheckThreads) + " check workers (queue " +
          std::to_string(options_.CheckQueue) + "); uploads up to " +
          std::to_string(options_.MaxUploadBytes) + " bytes, " + std::to_string(options_.MaxUploads) +
          " at once, " +
          (options_.MaxUploadsPerClient ? std::to_string(options_.MaxUploadsPerClient)
                                        : std::string("any number")) +
          " per client";
  return line;
}

void TUpdateServer::EnterLameDuck() {
  lameDuck_ = true;
  if (server_) server_->SetDraining(true);
}

size_t TUpdateServer::Stop() { return server_ ? server_->Stop() : 0; }

namespace {

// --help and --version: a write that fails (a full disk, a closed pipe) is
// exit status 1, as for the other tools.
int PrintAndExit(const std::string& text) {
  std::cout << text << std::flush;
  if (!std::cout) {
    std::cerr << "korvane-updsrv: cannot write the output" << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace

int RunServer(int argc, const char* const* argv) {
  TServerOptions options;
  std::string error, output;
  if (!ParseArguments(argc, argv, options, error, &output)) {
    if (error.empty()) return PrintAndExit(output);
    std::cerr << "korvane-updsrv: " << error << "\n" << Usage();
    return 2;
  }
  // Writes to a closed connection must fail, not kill the server; SIGTERM,
  // SIGINT and SIGHUP are taken by sigwait below, so they are blocked in
  // every thread.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  if (options.ExitWithParent) {
    // A test that crashes must not leave its server behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1) return 0;  // the parent is gone already
  }
  // Every held connection is a descriptor: use all the process may have.
  struct rlimit files {};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
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
  std::cerr << "korvane-updsrv: " << server.StartupLine() << std::endl;

  for (;;) {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0) continue;
    if (sig == SIGHUP) {
      std::cerr << "korvane-updsrv: SIGHUP: reloading" << std::endl;
      server.Reload();
      continue;
    }
    break;
  }
  if (options.LameDuckMs > 0) {
    std::cerr << "korvane-updsrv: stopping: lame duck for " << options.LameDuckMs
              << " ms (/isavail.txt answers 503)" << std::endl;
    server.EnterLameDuck();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.LameDuckMs);
    for (;;) {
      const auto left = end - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) break;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      const int sig = sigtimedwait(&signals, nullptr, &wait);
      if (sig == SIGHUP) {
        server.Reload();
      } else if (sig == SIGTERM || sig == SIGINT) {
        std::cerr << "korvane-updsrv: lame duck ended early" << std::endl;
        break;
      }
    }
  }
  std::cerr << "korvane-updsrv: listeners closed; finishing the requests in flight (grace " << options.GraceMs
            << " ms)" << std::endl;
  const size_t cut = server.Stop();
  if (cut)
    std::cerr << "korvane-updsrv: " << cut << " connection(s) cut at the end of the grace period"
              << std::endl;
  std::cerr << "korvane-updsrv: stopped" << std::endl;
  return 0;
}

}  // namespace updsrv
