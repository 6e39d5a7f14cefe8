// The fuzz target's own scratch machine, chosen before the platform layer first
// looks; each input is written into it as one of the machine's files. The
// machine lives for the whole process (never destroyed, so no static's
// tear-down reaches the layer after its own); its folder is removed at exit.
#pragma once

#include "support/ScratchFolder.h"
#include "support/ScratchMachine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace korvane::fuzz {

inline const korvane::testing::ScratchMachine& Machine() {
  static const korvane::testing::ScratchMachine* machine = [] {
    auto* m = new korvane::testing::ScratchMachine();
    // Only its folder goes at exit (a replay run would leave one behind in
    // TMPDIR each time); the layer is left alone.
    std::atexit([] { korvane::testing::RemoveFolder(Machine().Root()); });
    return m;
  }();
  return *machine;
}

inline void WriteMachineFile(const char* name, const uint8_t* data, std::size_t size) {
  Machine().Write(name, std::string(reinterpret_cast<const char*>(data), size));
}

}  // namespace korvane::fuzz
