// The server's multipart/form-data reader. The input's first line is the
// Content-Type value, the rest the body: any bytes end in parts or a refusal,
// never a crash, and every part lies inside the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/Multipart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = input.find('\n');
  const std::string_view type = input.substr(0, eol);
  const std::string_view body = eol == std::string_view::npos ? std::string_view() : input.substr(eol + 1);
  std::vector<updsrv::TFormPart> parts;
  std::string error;
  if (!updsrv::ParseMultipartForm(type, body, parts, error)) return 0;
  if (parts.size() > updsrv::kMaxFormParts) std::abort();
  for (const auto& p : parts)
    if (p.Data.size() > body.size()) std::abort();
  return 0;
}
