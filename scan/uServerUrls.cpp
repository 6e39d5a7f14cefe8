#include "scan/uServerUrls.h"

#include "core/uSettings.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <vector>

namespace serverdefaults {
const char* const kUpdateURL = "http://update.brantholm.com";
const char* const kSecureUpdateURL = "https://update.brantholm.com";
const char* const kVendorURL = "http://www.brantholm.com";
}  // namespace serverdefaults

namespace {

std::mutex g_mutex;
std::optional<TServerUrls> g_urls;

std::string ReadText(HKEY key, const char* name, const char* fallback) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return fallback;
  std::vector<BYTE> data(size + 1u, 0);
  DWORD got = size;
  if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &got) != ERROR_SUCCESS ||
      type != REG_SZ)
    return fallback;
  std::string text(reinterpret_cast<const char*>(data.data()), std::min<DWORD>(got, size));
  if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  while (!text.empty() && (text.back() == '/' || text.back() == ' ')) text.pop_back();
  return text.empty() ? fallback : text;
}

}  // namespace

TServerUrls ReadServerUrls() {
  TServerUrls urls{serverdefaults::kUpdateURL, serverdefaults::kSecureUpdateURL,
                   serverdefaults::kVendorURL};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return urls;
  urls.UpdateURL = ReadText(key, UpdateURLValueName, serverdefaults::kUpdateURL);
  urls.SecureUpdateURL = ReadText(key, SecureUpdateURLValueName, serverdefaults::kSecureUpdateURL);
  urls.VendorURL = ReadText(key, VendorURLValueName, serverdefaults::kVendorURL);
  RegCloseKey(key);
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

std::string ProbeAddress() { return UpdateURL() + "/isavail.txt"; }
std::string CACertAddress() { return UpdateURL() + "/cacert.txt"; }
std::string UserMessageAddress() { return UpdateURL() + "/usermsg.txt"; }
std::string UpdateCheckAddress() { return SecureUpdateURL() + "/remote/check_upd.php"; }
