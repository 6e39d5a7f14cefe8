// The benchmark's loopback update server: plain HTTP for the probe, the
// certificate and the message, HTTPS for the check. Every route answers normally
// unless the case makes it hostile: then it streams a body of the given size,
// without holding it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class THostileServers {
 public:
  THostileServers(std::string certPem, int64_t hugeBytes, const std::string& certFile,
                  const std::string& keyFile);
  ~THostileServers();
  // "probe", "cert", "message", "answer", or "" for none.
  void SetHostile(const std::string& route);
  int HttpPort() const;
  int HttpsPort() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};
