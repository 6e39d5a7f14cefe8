// The server's driver catalogue, hand-edited: any bytes end in entries (bad
// lines skipped with a warning), never a crash; every entry can be matched.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/Catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> warnings;
  const updsrv::TCatalogue catalogue = updsrv::TCatalogue::Parse(text, &warnings);
  for (const auto& e : catalogue.Entries()) {
    const std::vector<std::string> id{std::string(e.Id)};
    catalogue.Match(id, {}, "");
    catalogue.Match({}, id, std::string(e.Date));
  }
  catalogue.Packages();
  return 0;
}
