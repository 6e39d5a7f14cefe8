// The server's own small PKI: a CA (served as "/cacert.txt", the root
// certificate clients load) and the HTTPS server's key and certificate
// signed by it. Made with OpenSSL on first start in the data folder and
// reused afterwards: ca.key, ca.pem, server.key, server.pem (keys mode 0600).
// A vendor's own certificate is given with --cert and --key instead.
#pragma once

#include <string>
#include <vector>

#include "server/OwnedFiles.h"

namespace updsrv {

struct TCertificateFiles {
  std::string CaKey, CaCert, ServerKey, ServerCert;
  bool CreatedCa = false;      // this start made a new CA
  bool CreatedServer = false;  // this start made a new server certificate
  std::vector<std::string> Made;  // the files this start wrote
};

// Makes sure the four files exist, load, belong together, and (for the server
// certificate) name every host in hosts; makes what is missing, and
// replaces only files it made itself (recorded in the data folder). Keys are
// mode 0600. Throws std::runtime_error on failure, naming a file it may not
// replace.
TCertificateFiles EnsureCertificates(TOwnedFiles& owned, const std::vector<std::string>& hosts);

}  // namespace updsrv
