// A machine folder's devices.json, hand-edited: any bytes end in an inventory
// or a refusal with a reason.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/src/devices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kvp::Inventory inventory;
  std::string error;
  kvp::ParseDevicesJson(text, "devices.json", inventory, &error);
  return 0;
}
