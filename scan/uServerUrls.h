// Where the update server and the vendor web site are. Optional REG_SZ values
// "UpdateURL", "SecureUpdateURL" and "VendorURL" in the settings key override the
// compiled-in addresses; they are read, never written.
#pragma once

#include <string>

// Compiled-in base addresses (no trailing slash).
namespace serverdefaults {
extern const char* const kUpdateURL;        // plain HTTP: probe, certificate, messages
extern const char* const kSecureUpdateURL;  // HTTPS: the update check
extern const char* const kVendorURL;        // the vendor web site
}  // namespace serverdefaults

// Registry value names in the settings key.
constexpr const char* UpdateURLValueName = "UpdateURL";
constexpr const char* SecureUpdateURLValueName = "SecureUpdateURL";
constexpr const char* VendorURLValueName = "VendorURL";

struct TServerUrls {
  std::string UpdateURL;
  std::string SecureUpdateURL;
  std::string VendorURL;
};

// The values stored now, each falling back to its default when absent, empty or
// not REG_SZ; trailing slashes are dropped.
TServerUrls ReadServerUrls();

// Reads the addresses for this run (at start; tests call it again after changing
// the machine). Until it is called the first use loads them.
void LoadServerUrls();
TServerUrls ServerUrls();
// Sets this run's addresses without touching the registry (korvane-check --server);
// trailing slashes are dropped as for the stored values.
void SetServerUrls(TServerUrls urls);

// Base addresses of this run.
std::string UpdateURL();
std::string SecureUpdateURL();
std::string VendorURL();

// The program's addresses on the update server, of this run or of the given bases.
std::string ProbeAddress();        // UpdateURL + "/isavail.txt"
std::string CACertAddress();       // UpdateURL + "/cacert.txt"
std::string UserMessageAddress();  // UpdateURL + "/usermsg.txt"
std::string UpdateCheckAddress();  // SecureUpdateURL + "/remote/check_upd.php"
std::string ProbeAddress(const TServerUrls& urls);
std::string CACertAddress(const TServerUrls& urls);
std::string UpdateCheckAddress(const TServerUrls& urls);
