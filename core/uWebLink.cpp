#include "core/uWebLink.h"

#include <windows.h>  // first: the SDK's shellapi.h needs its types

#include <shellapi.h>

#include <cstdint>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '%';
}

bool AllDigits(std::string_view text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// "host", "host:port", "user@host", "[v6]:port": a host must be there.
bool HasHost(std::string_view authority) {
  const std::size_t at = authority.rfind('@');
  std::string_view hostPort = at == std::string_view::npos ? authority : authority.substr(at + 1);
  std::string_view host = hostPort;
  if (!hostPort.empty() && hostPort.front() == '[') {
    const std::size_t close = hostPort.find(']');
    if (close == std::string_view::npos || close < 2) return false;
    for (char c : hostPort.substr(1, close - 1))
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
            c == '.'))
        return false;
    const std::string_view rest = hostPort.substr(close + 1);
    return rest.empty() || (rest.front() == ':' && AllDigits(rest.substr(1)));
  }
  const std::size_t colon = hostPort.find(':');
  if (colon != std::string_view::npos) {
    host = hostPort.substr(0, colon);
    if (!AllDigits(hostPort.substr(colon + 1))) return false;
  }
  if (host.empty()) return false;
  for (char c : host)
    if (!IsHostChar(c)) return false;
  return true;
}

}  // namespace

bool IsWebLink(std::string_view text) {
  if (text.empty() || text.size() > MaxWebLinkBytes) return false;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) return false;
  }
  std::size_t skip = 0;
  if (StartsWithNoCase(text, "http://"))
    skip = 7;
  else if (StartsWithNoCase(text, "https://"))
    skip = 8;
  else
    return false;
  const std::string_view rest = text.substr(skip);
  const std::size_t end = rest.find_first_of("/?#\\");
  if (end != std::string_view::npos && rest[end] == '\\') return false;  // read as "/" by browsers
  return HasHost(rest.substr(0, end));
}

bool OpenWebLink(const std::string& text) {
  if (!IsWebLink(text)) return false;
  const auto result = reinterpret_cast<intptr_t>(
      ShellExecuteA(nullptr, nullptr, text.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}
