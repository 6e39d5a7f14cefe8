// The companion installer's signature. Like an Authenticode signature it travels
// inside the file, so the vendor site's paths stay as they are: the signed file is
// the installer's bytes followed by a signature block, the 16-byte marker below and
// the 64-byte Ed25519 signature over every byte before the marker. The vendor signs
// with its private key; Korvane checks against the public key compiled into it.
// The reference server signs with this unit too.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

// "\n#KVSIG-ED25519\n": a line of its own, so that a script installer ends in a
// comment line if it is ever read that far.
extern const std::string_view InstallerSignatureMarker;
constexpr std::size_t InstallerSignatureBytes = 64;
constexpr std::size_t InstallerSignatureBlockBytes = 16 + InstallerSignatureBytes;

enum class TSignatureCheck {
  Valid,         // signed by the key's owner, not changed since
  Unsigned,      // no signature block at the end
  BadSignature,  // a block whose signature does not match (changed, or another key's)
  BadKey,        // the public key given is no Ed25519 public key in PEM
};

// Stable lower-case names: "valid", "unsigned", "bad-signature", "bad-key".
const char* SignatureCheckName(TSignatureCheck check);

class ESigningError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// data followed by its signature block, signed with an Ed25519 private key in PEM.
// Throws ESigningError for a key that is not one.
std::string SignInstaller(std::string_view data, const std::string& privateKeyPem);

// Checks a whole signed file against an Ed25519 public key in PEM.
TSignatureCheck VerifyInstaller(std::string_view file, const std::string& publicKeyPem);

// The public half of an Ed25519 private key, both in PEM. Throws ESigningError.
std::string PublicKeyOf(const std::string& privateKeyPem);
// A new Ed25519 private key in PEM (tests, key tools). Throws ESigningError.
std::string NewSigningKey();
