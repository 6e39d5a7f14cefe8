// The reference update server and vendor web site: two listeners (plain
// HTTP and HTTPS) sharing one set of routes, see server/README.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/Catalogue.h"
#include "server/CheckService.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace updsrv {

class THttpServer;
class TOwnedFiles;
struct THttpRequest;
struct THttpResponse;

// Workers when --threads is not given: one per core, at least two.
unsigned DefaultThreads();
// Check workers when --check-threads is not given: one per core.
unsigned DefaultCheckThreads();
// Uploads in flight when --max-uploads is not given: as many as fit, each at
// the upload limit, in a sixteenth of the machine's memory (16..1024).
unsigned DefaultMaxUploads(uint64_t maxUploadBytes);

constexpr uint64_t kDefaultMaxUploadBytes = 1024 * 1024;

struct TServerOptions {
  bool HttpOn = true;
  std::string HttpHost = "127.0.0.1";
  int HttpPort = 0;  // 0: a free port
  bool HttpsOn = true;
  std::string HttpsHost = "127.0.0.1";
  int HttpsPort = 0;
  std::string DataDir = "updsrv-data";
  std::string Catalogue;    // empty: DATA/catalogue.txt when it exists
  std::string Messages;     // empty: DATA/usermsg.txt
  std::string PackageBase;  // empty: from PublicBase, else from the request's Host
  std::string PublicBase;   // "https://updates.example.com": base of the URLs in answers
  std::string KorvaneReg;   // korvane-reg the installer falls back to; empty: looked up
  std::string SigningKey;   // Ed25519 private key (PEM) the installer is signed with; empty: unsigned
  std::string CertFile;     // the vendor's own HTTPS certificate (PEM chain) ...
  std::string KeyFile;      // ... and key; both or neither
  std::string CaFile;       // served as /cacert.txt with CertFile; empty: CertFile itself
  std::optional<int> ForceErrCode;
  std::optional<std::string> ForceErrMsg;
  uint64_t MaxReportBytes = kMaxReportBytes;
  size_t MaxReportDevices = kMaxReportDevices;
  uint64_t MaxUploadBytes = kDefaultMaxUploadBytes;  // the request body (the packed report in its form)
  unsigned MaxUploads = 0;                           // 0: DefaultMaxUploads(MaxUploadBytes)
  unsigned MaxUploadsPerClient = 8;                  // 0: no cap per address
  unsigned CheckThreads = DefaultCheckThreads();
  unsigned CheckQueue = 64;        // checks waiting for a worker; beyond it 503
  unsigned BodyTimeoutMs = 60000;  // a whole upload, from its head
  unsigned Threads = DefaultThreads();
  unsigned HeadTimeoutMs = 10000;  // a request head must arrive within this
  unsigned IdleTimeoutMs = 2000;   // a kept-alive connection's next request
  unsigned IoTimeoutMs = 20000;    // a stalled body read or answer write
  unsigned GraceMs = 60000;        // how long SIGTERM waits for requests in flight
  unsigned LameDuckMs = 0;         // SIGTERM: serve on this long, /isavail.txt 503
  bool Log = true;                 // the access log
  std::string LogFile;             // empty: stderr
  bool ExitWithParent = false;     // SIGTERM when the starting thread ends (tests)
};

// Parses the command line (argv[0] skipped). Returns false with a message in
// error for bad arguments; with "--help" or "--version" returns false, an
// empty error and the text to print in output.
bool ParseArguments(int argc, const char* const* argv, TServerOptions& options, std::string& error,
                    std::string* output = nullptr);
std::string Usage();
std::string VersionLine();

class TUpdateServer {
 public:
  explicit TUpdateServer(TServerOptions options);
  ~TUpdateServer();
  TUpdateServer(const TUpdateServer&) = delete;
  TUpdateServer& operator=(const TUpdateServer&) = delete;

  // Prepares the data folder (certificates, packages), binds the listeners
  // and starts serving on background threads. Throws std::runtime_error
  // (TListenError for an address that cannot be bound).
  void Start();
  // Lame duck: "/isavail.txt" answers 503 (a balancer's health check takes
  // the instance out) and answers close their connections; all else is
  // served as before.
  void EnterLameDuck();
  // Stops accepting and lets requests in flight finish, downloads included,
  // within the grace period. Returns how many connections were cut then.
  size_t Stop();
  // SIGHUP: reads the catalogue again (a faulty one keeps the current one)
  // and reopens the access log file.
  void Reload();

  int HttpPort() const { return httpPort_; }
  int HttpsPort() const { return httpsPort_; }
  const TServerOptions& Options() const { return options_; }
  size_t CatalogueSize();
  std::string StartupLine();

 private:
  void Handle(const THttpRequest& req, THttpResponse& res);
  std::string PackageBaseFor(const THttpRequest& req) const;
  std::shared_ptr<const TCatalogue> CurrentCatalogue();
  // atStart: an unreadable file throws and unusable lines are skipped with a
  // warning; later a file with any unusable line is refused as a whole.
  void LoadCatalogue(bool atStart, bool force);
  void Log(const std::string& line);
  void AccessLog(const std::string& line);
  void OpenLogFile();

  TServerOptions options_;
  std::string caPem_;
  std::string installer_;
  std::string packagesDir_;
  std::string catalogueFile_;
  std::string defaultPackageBase_;
  TCheckOptions checkOptions_;
  std::unique_ptr<THttpServer> server_;
  std::unique_ptr<TOwnedFiles> owned_;
  SSL_CTX* tls_ = nullptr;
  int httpPort_ = 0, httpsPort_ = 0;
  std::atomic<bool> lameDuck_{false};

  std::mutex reloadMutex_;  // one reload (and package generation) at a time
  std::mutex catalogueMutex_;
  std::shared_ptr<const TCatalogue> catalogue_;
  int64_t catalogueMtime_ = -1;
  int64_t catalogueSize_ = -1;
  std::mutex logMutex_;
  int logFd_ = 2;
};

// The program: parse, start, print "http=PORT" / "https=PORT" on stdout,
// serve (SIGHUP reloads) until SIGTERM or SIGINT, stop cleanly. Returns the
// exit code: 0 after a stop, 1 when it cannot start, 2 for a bad command line.
int RunServer(int argc, const char* const* argv);

}  // namespace updsrv
