#include "support/SelfSignedCert.h"

#include "support/ScratchFolder.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace korvane::testing {
namespace {

template <typename Write>
std::string ToPem(Write write) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  if (!bio || write(bio.get()) != 1) throw std::runtime_error("PEM encoding failed");
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(len));
}

}  // namespace

TSelfSignedCert MakeSelfSignedCert(const std::string& commonName) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"),
                                                          &EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
  if (!key || !cert) throw std::runtime_error("key generation failed");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 30);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) throw std::runtime_error("signing failed");
  TSelfSignedCert out;
  out.CertPem = ToPem([&](BIO* b) { return PEM_write_bio_X509(b, cert.get()); });
  out.KeyPem = ToPem(
      [&](BIO* b) { return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
  return out;
}

void TSelfSignedCert::WriteTo(const std::string& certPath, const std::string& keyPath) const {
  WriteTextFile(certPath, CertPem);
  WriteTextFile(keyPath, KeyPem);
}

}  // namespace korvane::testing
