// The reference update server and vendor web site: two listeners (plain
// HTTP and HTTPS) sharing one set of routes, see server/README.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/Catalogue.h"
#include "server/CheckService.h"

namespace httplib {
class Server;
}

namespace updsrv {

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
  std::string PackageBase;  // empty: http://HOST:PORT/packages/ of the HTTP listener
  std::string KorvaneReg;   // korvane-reg the installer falls back to; empty: looked up
  std::optional<int> ForceErrCode;
  std::optional<std::string> ForceErrMsg;
  uint64_t MaxReportBytes = kMaxReportBytes;
  unsigned Threads = 8;
  bool Log = false;
  bool ExitWithParent = false;  // SIGTERM when the starting thread ends (tests)
};

// Parses the command line (argv[0] skipped). Returns false with a message in
// error for bad arguments; with "--help" returns false and an empty error.
bool ParseArguments(int argc, const char* const* argv, TServerOptions& options, std::string& error);
std::string Usage();

class TUpdateServer {
 public:
  explicit TUpdateServer(TServerOptions options);
  ~TUpdateServer();
  TUpdateServer(const TUpdateServer&) = delete;
  TUpdateServer& operator=(const TUpdateServer&) = delete;

  // Prepares the data folder (certificates, packages), binds the listeners
  // and starts serving on background threads. Throws std::runtime_error.
  void Start();
  // Stops both listeners and joins their threads; running downloads end.
  void Stop();

  int HttpPort() const { return httpPort_; }
  int HttpsPort() const { return httpsPort_; }
  const TServerOptions& Options() const { return options_; }

 private:
  void Routes(httplib::Server& srv);
  std::shared_ptr<const TCatalogue> CurrentCatalogue();
  void LoadCatalogue(bool atStart);
  void Log(const std::string& line);

  TServerOptions options_;
  std::string caPem_;
  std::string installer_;
  std::string packagesDir_;
  std::string catalogueFile_;
  TCheckOptions checkOptions_;
  std::unique_ptr<httplib::Server> http_;
  std::unique_ptr<httplib::Server> https_;
  std::thread httpThread_, httpsThread_;
  int httpPort_ = 0, httpsPort_ = 0;
  std::atomic<bool> stopping_{false};

  std::mutex reloadMutex_;  // one reload (and package generation) at a time
  std::mutex catalogueMutex_;
  std::shared_ptr<const TCatalogue> catalogue_;
  int64_t catalogueMtime_ = -1;
  int64_t catalogueSize_ = -1;
  std::mutex logMutex_;
};

// The program: parse, start, print "http=PORT" / "https=PORT" on stdout,
// serve until SIGTERM or SIGINT, stop cleanly. Returns the exit code.
int RunServer(int argc, const char* const* argv);

}  // namespace updsrv
