#include "sysinfo/uPartnerTag.h"

#include <fstream>

namespace {
constexpr std::streamoff kTrailerLength = 35;
}

std::string ReadPartnerTag(const std::string& exePath) {
  std::ifstream in(exePath, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < kTrailerLength) return {};
  in.seekg(size - kTrailerLength);
  char buf[kTrailerLength];
  if (!in.read(buf, kTrailerLength)) return {};
  for (char c : buf) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '#';
    if (!ok) return {};
  }
  const std::string tail(buf, kTrailerLength);
  const std::size_t hash = tail.find('#');
  return hash == std::string::npos ? tail : tail.substr(hash + 1);
}
