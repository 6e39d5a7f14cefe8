// The server's own small PKI: a CA (served as "/cacert.txt", the root
// certificate clients load) and the HTTPS server's key and certificate
// signed by it. Made with OpenSSL on first start in the data folder and
// reused afterwards: ca.key, ca.pem, server.key, server.pem (keys mode 0600).
#pragma once

#include <string>
#include <vector>

namespace updsrv {

struct TCertificateFiles {
  std::string CaKey, CaCert, ServerKey, ServerCert;
  bool CreatedCa = false;      // this start made a new CA
  bool CreatedServer = false;  // this start made a new server certificate
};

// Makes sure the four files exist, load, belong together, and (for the server
// certificate) name every host in hosts; makes what is missing or broken.
// Throws std::runtime_error on failure.
TCertificateFiles EnsureCertificates(const std::string& dataDir,
                                     const std::vector<std::string>& hosts);

}  // namespace updsrv
