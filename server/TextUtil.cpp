#include "server/TextUtil.h"

#include <korvane_cp1252.h>

#include <cstdint>

namespace updsrv {

namespace {

char ToCp1252(uint32_t cp) {
  const int b = korvane_cp1252::FromWide(cp);
  return b < 0 ? '?' : static_cast<char>(b);
}

}  // namespace

std::string Utf8ToCp1252(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      out += static_cast<char>(b0);
      ++i;
      continue;
    }
    int len = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
    uint32_t cp = len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    bool ok = len != 0 && i + static_cast<size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if ((b & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (ok && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)))
      ok = false;
    if (!ok) {
      out += static_cast<char>(b0);  // already 1252
      ++i;
      continue;
    }
    out += ToCp1252(cp);
    i += static_cast<size_t>(len);
  }
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Trim(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t a = 0, b = s.size();
  while (a < b && blank(s[a])) ++a;
  while (b > a && blank(s[b - 1])) --b;
  return std::string(s.substr(a, b - a));
}

std::vector<std::string> Split(std::string_view s, std::string_view sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t pos = s.find(sep, start);
    if (pos == std::string_view::npos) {
      parts.emplace_back(s.substr(start));
      return parts;
    }
    parts.emplace_back(s.substr(start, pos - start));
    start = pos + sep.size();
  }
}

std::optional<int> ParseDriverDate(std::string_view text) {
  const std::string s = Trim(text);
  int part[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int idx = 0;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      if (++digits[idx] > 4) return std::nullopt;
      part[idx] = part[idx] * 10 + (c - '0');
    } else if ((c == '-' || c == '/') && idx < 2 && digits[idx] > 0) {
      ++idx;
    } else {
      return std::nullopt;
    }
  }
  if (idx != 2 || digits[0] > 2 || digits[1] > 2 || digits[2] != 4) return std::nullopt;
  const int m = part[0], d = part[1], y = part[2];
  if (m < 1 || m > 12 || d < 1 || d > 31 || y < 1900) return std::nullopt;
  return y * 10000 + m * 100 + d;
}

}  // namespace updsrv
