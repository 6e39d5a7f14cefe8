// A machine folder of the fuzz target's own under $TMPDIR, chosen through
// KORVANE_MACHINE before the platform layer first looks; each input is written
// into it as one of the machine's files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

namespace korvane::fuzz {

inline const std::string& MachineFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvane-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    ::setenv("KORVANE_MACHINE", pattern.c_str(), 1);
    return pattern;
  }();
  return folder;
}

inline void WriteMachineFile(const char* name, const uint8_t* data, std::size_t size) {
  std::ofstream out(MachineFolder() + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace korvane::fuzz
