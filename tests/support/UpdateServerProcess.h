// Starts the reference update server (korvane-updsrv) as a child process for a
// test, on ephemeral loopback ports, and stops it again when the object dies.
//
//   UpdateServerOptions o;
//   o.Catalogue = dir + "/catalogue.txt";      // optional
//   UpdateServerProcess srv(o);                // throws std::runtime_error on failure
//   THttpClient c; c.GetText(srv.HttpBase() + "/isavail.txt");
//   ... srv.HttpsBase() + "/remote/check_upd.php", srv.CaCertFile() ...
//
// The executable is KORVANE_BINARY_DIR + "/server/korvane-updsrv" (CTest sets
// KORVANE_BINARY_DIR for every korvane_test); KORVANE_UPDSRV overrides it.
// Starting a server sets SIGPIPE to ignored in the test process. The server
// ends by itself when the thread that constructed the helper ends (so a
// crashed test leaves no server behind): construct it on a long-lived thread.
#pragma once

#include "support/ScratchFolder.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvane::testing {

struct UpdateServerOptions {
  // Data folder (CA, server key and certificate, packages/). Empty: a fresh
  // folder under $TMPDIR, removed again by the destructor.
  std::string DataDir;
  // Driver catalogue file (see server/README.md). Empty: no catalogue, so
  // every device is up to date.
  std::string Catalogue;
  // Message file served as "/usermsg.txt". Empty: the server's default
  // (DataDir/usermsg.txt, served empty while it does not exist).
  std::string Messages;
  // Start the HTTPS listener too (the update-check POST lives there).
  bool Https = true;
  // Further command-line arguments, e.g. {"--force-errcode", "3",
  // "--force-errmsg", "Maintenance"}.
  std::vector<std::string> ExtraArgs;
  // The key the served installer is signed with (--signing-key). Empty: the
  // build's own key (BuildSigningKey), when the build has one.
  std::string SigningKey;
  // Serve the installer unsigned, whatever the keys.
  bool Unsigned = false;
  // How long to wait for the port lines.
  unsigned StartTimeoutMs = 15000;
};

// The private key of this build's installer signing pair (signing/ in the build
// tree), which the build's programs trust; empty when the build was given the
// vendor's public key instead and so has no private key.
std::string BuildSigningKey();

class UpdateServerProcess {
 public:
  explicit UpdateServerProcess(UpdateServerOptions options = {});
  ~UpdateServerProcess();  // Stop()
  UpdateServerProcess(const UpdateServerProcess&) = delete;
  UpdateServerProcess& operator=(const UpdateServerProcess&) = delete;

  int HttpPort() const { return httpPort_; }
  int HttpsPort() const { return httpsPort_; }       // 0 when Https is off
  std::string HttpBase() const;                       // "http://127.0.0.1:P"
  std::string HttpsBase() const;                      // "https://127.0.0.1:P"
  const std::string& DataDir() const { return dataDir_; }
  std::string CaCertFile() const;                     // DataDir()/ca.pem, what "/cacert.txt" serves
  std::string PackagesDir() const;                    // DataDir()/packages
  std::string LogFile() const;                        // the server's stderr
  pid_t Pid() const { return pid_; }

  // SIGTERM, then waitpid (SIGKILL after graceMs). Returns the wait status
  // (as waitpid gives it), or -1 when the server was not running. Idempotent.
  int Stop(unsigned graceMs = 5000);
  bool Running() const { return pid_ > 0; }

  // Path of the executable the helper starts.
  static std::string BinaryPath();
  // True when BinaryPath() exists and is executable.
  static bool Available();

 private:
  void Start(const UpdateServerOptions& options);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int httpPort_ = 0;
  int httpsPort_ = 0;
  std::string dataDir_;
  bool ownDataDir_ = false;
};

}  // namespace korvane::testing
