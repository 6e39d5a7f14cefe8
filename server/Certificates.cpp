#include "server/Certificates.h"

#include "server/OwnedFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace updsrv {

namespace {

struct Free {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(X509* p) const { X509_free(p); }
  void operator()(BIO* p) const { BIO_free(p); }
  void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;
using Bio = std::unique_ptr<BIO, Free>;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("certificates: " + what); }

Key LoadKey(const std::string& path) {
  Bio bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) return nullptr;
  return Key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

Cert LoadCert(const std::string& path) {
  Bio bio(BIO_new_file(path.c_str(), "r"));
  if (!bio) return nullptr;
  return Cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long len = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(len));
}

std::string KeyPem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr))
    Fail("cannot encode key");
  return BioText(bio.get());
}

std::string CertPem(X509* cert) {
  Bio bio(BIO_new(BIO_s_mem()));
  if (!PEM_write_bio_X509(bio.get(), cert)) Fail("cannot encode certificate");
  return BioText(bio.get());
}


Key NewKey() {
  Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) Fail("key generation failed");
  return key;
}

void AddExt(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, Free> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  if (!ext || !X509_add_ext(cert, ext.get(), -1)) Fail(std::string("cannot add extension ") + value);
}

Cert NewCert(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
             long days) {
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7F;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24L * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Brantholm"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
  (void)issuerKey;
  return cert;
}

bool CoversHosts(X509* cert, const std::vector<std::string>& hosts) {
  for (const auto& h : hosts) {
    if (X509_check_host(cert, h.c_str(), h.size(), 0, nullptr) == 1) continue;
    if (X509_check_ip_asc(cert, h.c_str(), 0) == 1) continue;
    return false;
  }
  return true;
}

bool IsIpAddress(const std::string& h) {
  ASN1_OCTET_STRING* ip = a2i_IPADDRESS(h.c_str());
  if (!ip) return false;
  ASN1_OCTET_STRING_free(ip);
  return true;
}

}  // namespace

TCertificateFiles EnsureCertificates(TOwnedFiles& owned, const std::vector<std::string>& hosts) {
  TCertificateFiles f;
  f.CaKey = owned.Path("ca.key");
  f.CaCert = owned.Path("ca.pem");
  f.ServerKey = owned.Path("server.key");
  f.ServerCert = owned.Path("server.pem");
  // Files the server did not make are never replaced: a broken or foreign
  // one stops the start with its name instead.
  auto refuse = [](const std::string& path, const char* why) {
    Fail(path + " " + why +
         " and was not made by this server; move it away, or use --cert and --key");
  };

  Key caKey = LoadKey(f.CaKey);
  Cert ca = LoadCert(f.CaCert);
  if (!caKey || !ca || X509_check_private_key(ca.get(), caKey.get()) != 1) {
    for (const char* name : {"ca.key", "ca.pem"})
      if (!owned.MayWrite(name))
        refuse(owned.Path(name), "does not hold the server's CA (a key and its certificate)");
    caKey = NewKey();
    ca = NewCert(caKey.get(), "Korvane Reference Update CA", nullptr, nullptr, 3650);
    AddExt(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExt(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExt(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    if (!X509_sign(ca.get(), caKey.get(), EVP_sha256())) Fail("cannot sign the CA certificate");
    owned.Write("ca.key", KeyPem(caKey.get()), 0600);
    owned.Write("ca.pem", CertPem(ca.get()), 0644);
    f.CreatedCa = true;
    f.Made.push_back(f.CaKey);
    f.Made.push_back(f.CaCert);
  }

  Key key = LoadKey(f.ServerKey);
  Cert cert = LoadCert(f.ServerCert);
  bool ok = key && cert && !f.CreatedCa && X509_check_private_key(cert.get(), key.get()) == 1;
  if (ok) {
    EVP_PKEY* caPub = X509_get0_pubkey(ca.get());
    ok = caPub && X509_verify(cert.get(), caPub) == 1 && CoversHosts(cert.get(), hosts);
  }
  if (!ok) {
    for (const char* name : {"server.key", "server.pem"})
      if (!owned.MayWrite(name))
        refuse(owned.Path(name),
               "does not hold a key and certificate of the server's CA for the listener's host");
    key = NewKey();
    cert = NewCert(key.get(), "Korvane reference update server", ca.get(), caKey.get(), 3650);
    std::string san = "DNS:localhost,IP:127.0.0.1,IP:::1";
    for (const auto& h : hosts) {
      if (h == "localhost" || h == "127.0.0.1" || h == "::1" || h.empty()) continue;
      san += (IsIpAddress(h) ? ",IP:" : ",DNS:") + h;
    }
    AddExt(cert.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExt(cert.get(), ca.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExt(cert.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    AddExt(cert.get(), ca.get(), NID_subject_alt_name, san.c_str());
    AddExt(cert.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    if (!X509_sign(cert.get(), caKey.get(), EVP_sha256()))
      Fail("cannot sign the server certificate");
    owned.Write("server.key", KeyPem(key.get()), 0600);
    owned.Write("server.pem", CertPem(cert.get()), 0644);
    f.CreatedServer = true;
    f.Made.push_back(f.ServerKey);
    f.Made.push_back(f.ServerCert);
  }
  return f;
}

}  // namespace updsrv
