// Hive text as a user may hand-edit a machine's system.reg or user.reg: any
// bytes end in a parsed key tree or a refusal with a reason, and a parsed tree
// written out reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/src/hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kvp::RegKey root;
  std::string error;
  if (!kvp::ParseHive(text, "HKEY_LOCAL_MACHINE", "system.reg", root, &error)) return 0;
  const std::string once = kvp::SerializeHive(root, "HKEY_LOCAL_MACHINE");
  kvp::RegKey again;
  if (!kvp::ParseHive(once, "HKEY_LOCAL_MACHINE", "again.reg", again, &error)) std::abort();
  if (kvp::SerializeHive(again, "HKEY_LOCAL_MACHINE") != once) std::abort();
  return 0;
}
