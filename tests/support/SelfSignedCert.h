// A throw-away self-signed certificate (EC P-256, valid from an hour ago for
// thirty days) for the loopback servers and the server's own tests (library
// kv_test_servers).
#pragma once

#include <string>

namespace korvane::testing {

struct TSelfSignedCert {
  std::string CertPem;
  std::string KeyPem;
  // Writes both as PEM files; throws std::runtime_error when a file cannot be written.
  void WriteTo(const std::string& certPath, const std::string& keyPath) const;
};

// A new key and a certificate for commonName signed by it. Throws std::runtime_error.
TSelfSignedCert MakeSelfSignedCert(const std::string& commonName);

}  // namespace korvane::testing
