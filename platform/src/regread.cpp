// The key handle and the typed reads of korvane_registry.h, on the registry calls alone.
#include <korvane_registry.h>

#include <cstring>
#include <vector>

namespace {

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS;
}

}  // namespace

void KorvaneRegKey::Reset(HKEY key) noexcept {
  if (key_ && !IsPredefined(key_)) RegCloseKey(key_);
  key_ = key;
}

LSTATUS RegReadString(HKEY key, LPCSTR name, std::string& text, const KorvaneRegTextRules& rules) {
  text.clear();
  auto accepted = [&](DWORD type) { return type == REG_SZ || (rules.expandSz && type == REG_EXPAND_SZ); };
  // Most values fit the first buffer, so most reads are one call.
  char first[256];
  DWORD type = REG_NONE;
  DWORD size = rules.maxBytes && rules.maxBytes < sizeof first ? rules.maxBytes : sizeof first;
  LSTATUS rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(first), &size);
  const char* data = first;
  std::vector<char> buffer;
  // The value may grow between two calls: retry with the size last reported.
  for (int attempt = 0; rc == ERROR_MORE_DATA && attempt < 4; ++attempt) {
    if (!accepted(type)) return ERROR_UNSUPPORTED_TYPE;
    if (rules.maxBytes && size > rules.maxBytes) return ERROR_MORE_DATA;
    buffer.assign(size, '\0');
    rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    data = buffer.data();
  }
  if (rc != ERROR_SUCCESS) return rc;
  if (!accepted(type)) return ERROR_UNSUPPORTED_TYPE;
  text.assign(data, strnlen(data, size));
  return ERROR_SUCCESS;
}

LSTATUS RegReadDword(HKEY key, LPCSTR name, DWORD& value) {
  value = 0;
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof data;
  LSTATUS rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return rc;
  if (type != REG_DWORD || size != sizeof data) return ERROR_UNSUPPORTED_TYPE;
  value = data;
  return ERROR_SUCCESS;
}
