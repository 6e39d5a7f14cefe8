#include "net/uPemCertificate.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "net/uOpenSsl.h"

#include <climits>

namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

bool Parses(std::string_view pem) {
  if (pem.size() > INT_MAX) return false;
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!bio) return false;
  X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  const bool ok = cert != nullptr;
  X509_free(cert);
  BIO_free(bio);
  ERR_clear_error();
  return ok;
}

}  // namespace

std::string FirstPemCertificate(std::string_view text) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t begin = text.find(kBegin, from);
    if (begin == std::string_view::npos) return {};
    const std::size_t end = text.find(kEnd, begin + kBegin.size());
    if (end == std::string_view::npos) return {};
    // A second BEGIN before the END: the first block is broken, try from there.
    const std::size_t again = text.find(kBegin, begin + kBegin.size());
    if (again != std::string_view::npos && again < end) {
      from = again;
      continue;
    }
    std::string block(text.substr(begin, end + kEnd.size() - begin));
    block += '\n';
    if (Parses(block)) return block;
    from = end + kEnd.size();
  }
}
