#include "scan/uServerUrls.h"

#include "core/uSettings.h"

#include <windows.h>

#include <korvane_registry.h>

#include <mutex>
#include <optional>

namespace serverdefaults {
const char* const kUpdateURL = "http://update.brantholm.com";
const char* const kSecureUpdateURL = "https://update.brantholm.com";
const char* const kVendorURL = "http://www.brantholm.com";
}  // namespace serverdefaults

namespace {

std::mutex g_mutex;
std::optional<TServerUrls> g_urls;

// A REG_SZ address without its trailing '/' and blanks; fallback when absent, of another
// type (REG_EXPAND_SZ included) or empty.
std::string ReadText(HKEY key, const char* name, const char* fallback) {
  KorvaneRegTextRules rules;
  rules.expandSz = false;
  std::string text;
  if (RegReadString(key, name, text, rules) != ERROR_SUCCESS) return fallback;
  while (!text.empty() && (text.back() == '/' || text.back() == ' ')) text.pop_back();
  return text.empty() ? fallback : text;
}

}  // namespace

TServerUrls ReadServerUrls() {
  TServerUrls urls{serverdefaults::kUpdateURL, serverdefaults::kSecureUpdateURL,
                   serverdefaults::kVendorURL};
  KorvaneRegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
    return urls;
  urls.UpdateURL = ReadText(key.Get(), UpdateURLValueName, serverdefaults::kUpdateURL);
  urls.SecureUpdateURL = ReadText(key.Get(), SecureUpdateURLValueName, serverdefaults::kSecureUpdateURL);
  urls.VendorURL = ReadText(key.Get(), VendorURLValueName, serverdefaults::kVendorURL);
  return urls;
}

void LoadServerUrls() {
  TServerUrls urls = ReadServerUrls();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_urls = std::move(urls);
}

void SetServerUrls(TServerUrls urls) {
  for (std::string* url : {&urls.UpdateURL, &urls.SecureUpdateURL, &urls.VendorURL})
    while (!url->empty() && url->back() == '/') url->pop_back();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_urls = std::move(urls);
}

TServerUrls ServerUrls() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_urls) return *g_urls;
  }
  LoadServerUrls();
  std::lock_guard<std::mutex> lock(g_mutex);
  return *g_urls;
}

std::string UpdateURL() { return ServerUrls().UpdateURL; }
std::string SecureUpdateURL() { return ServerUrls().SecureUpdateURL; }
std::string VendorURL() { return ServerUrls().VendorURL; }

std::string ProbeAddress(const TServerUrls& urls) { return urls.UpdateURL + "/isavail.txt"; }
std::string CACertAddress(const TServerUrls& urls) { return urls.UpdateURL + "/cacert.txt"; }
std::string UpdateCheckAddress(const TServerUrls& urls) {
  return urls.SecureUpdateURL + "/remote/check_upd.php";
}

std::string ProbeAddress() { return ProbeAddress(ServerUrls()); }
std::string CACertAddress() { return CACertAddress(ServerUrls()); }
std::string UserMessageAddress() { return UpdateURL() + "/usermsg.txt"; }
std::string UpdateCheckAddress() { return UpdateCheckAddress(ServerUrls()); }
