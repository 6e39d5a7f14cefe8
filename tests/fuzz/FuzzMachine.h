// The fuzz target's own scratch machine, chosen before the platform layer first
// looks; each input is written into it as one of the machine's files. The
// machine lives for the whole process (never destroyed, so no static's
// tear-down reaches the layer after its own).
#pragma once

#include "support/ScratchMachine.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::fuzz {

inline const korvane::testing::ScratchMachine& Machine() {
  static const korvane::testing::ScratchMachine* machine = new korvane::testing::ScratchMachine();
  return *machine;
}

inline void WriteMachineFile(const char* name, const uint8_t* data, std::size_t size) {
  Machine().Write(name, std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace korvane::fuzz
