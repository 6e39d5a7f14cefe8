#include "net/uInstallerSignature.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "net/uOpenSsl.h"

#include <climits>
#include <memory>

const std::string_view InstallerSignatureMarker = "\n#KVSIG-ED25519\n";

namespace {

static_assert(sizeof("\n#KVSIG-ED25519\n") - 1 == InstallerSignatureBlockBytes - InstallerSignatureBytes,
              "the marker is 16 bytes");

using TKey = std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)>;
using TBio = std::unique_ptr<BIO, int (*)(BIO*)>;
using TMdCtx = std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)>;

TBio MemoryBio(const std::string& text) {
  return TBio(text.size() > INT_MAX ? nullptr : BIO_new_mem_buf(text.data(), static_cast<int>(text.size())),
              BIO_free);
}

TKey ReadKey(const std::string& pem, bool isPrivate) {
  TBio bio = MemoryBio(pem);
  if (!bio) return TKey(nullptr, EVP_PKEY_free);
  TKey key(isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                     : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr),
           EVP_PKEY_free);
  ERR_clear_error();
  if (key && EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) key.reset();
  return key;
}

std::string WritePem(EVP_PKEY* key, bool isPrivate) {
  TBio bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!bio) throw ESigningError("No memory for a key.");
  const int ok = isPrivate ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                           : PEM_write_bio_PUBKEY(bio.get(), key);
  if (ok != 1) {
    ERR_clear_error();
    throw ESigningError("The key could not be written.");
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

const char* SignatureCheckName(TSignatureCheck check) {
  switch (check) {
    case TSignatureCheck::Valid:
      return "valid";
    case TSignatureCheck::Unsigned:
      return "unsigned";
    case TSignatureCheck::BadSignature:
      return "bad-signature";
    case TSignatureCheck::BadKey:
      return "bad-key";
  }
  return "unknown";
}

std::string SignInstaller(std::string_view data, const std::string& privateKeyPem) {
  TKey key = ReadKey(privateKeyPem, true);
  if (!key) throw ESigningError("The signing key is no Ed25519 private key in PEM.");
  TMdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  unsigned char signature[InstallerSignatureBytes];
  std::size_t length = sizeof signature;
  const bool ok = ctx && EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
                  EVP_DigestSign(ctx.get(), signature, &length,
                                 reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1 &&
                  length == sizeof signature;
  ERR_clear_error();
  if (!ok) throw ESigningError("The installer could not be signed.");
  std::string out;
  out.reserve(data.size() + InstallerSignatureBlockBytes);
  out.append(data);
  out.append(InstallerSignatureMarker);
  out.append(reinterpret_cast<const char*>(signature), sizeof signature);
  return out;
}

TSignatureCheck VerifyInstaller(std::string_view file, const std::string& publicKeyPem) {
  TKey key = ReadKey(publicKeyPem, false);
  if (!key) return TSignatureCheck::BadKey;
  if (file.size() < InstallerSignatureBlockBytes) return TSignatureCheck::Unsigned;
  const std::size_t signedBytes = file.size() - InstallerSignatureBlockBytes;
  if (file.substr(signedBytes, InstallerSignatureMarker.size()) != InstallerSignatureMarker)
    return TSignatureCheck::Unsigned;
  const std::string_view signature = file.substr(signedBytes + InstallerSignatureMarker.size());
  TMdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  const bool ok =
      ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
      EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                       reinterpret_cast<const unsigned char*>(file.data()), signedBytes) == 1;
  ERR_clear_error();
  return ok ? TSignatureCheck::Valid : TSignatureCheck::BadSignature;
}

std::string PublicKeyOf(const std::string& privateKeyPem) {
  TKey key = ReadKey(privateKeyPem, true);
  if (!key) throw ESigningError("The signing key is no Ed25519 private key in PEM.");
  return WritePem(key.get(), false);
}

std::string NewSigningKey() {
  std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr),
                                                             EVP_PKEY_CTX_free);
  EVP_PKEY* raw = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1) {
    ERR_clear_error();
    throw ESigningError("No Ed25519 key could be made.");
  }
  TKey key(raw, EVP_PKEY_free);
  return WritePem(key.get(), true);
}
