// The vendor web site's two pages and the package files.
#pragma once

#include <cstdint>
#include <string>

namespace updsrv {

// "/kvn/faq": a small HTML page.
std::string FaqPage();

// "/downloads/swx/fromkvn/Sweepline.exe": the companion tool's installer. On
// this platform it is a POSIX shell script; see server/README.md.
// fallbackReg: a korvane-reg path baked in as the last place to look
// (empty: none).
std::string SweeplineInstaller(const std::string& fallbackReg);

// Creates DIR/NAME with size bytes of deterministic content (seeded by the
// name) unless the file is there already (with exactSize: there with that
// size; without it any existing file, perhaps a real package, is kept). Written through a
// temporary file and a rename. Throws std::runtime_error on failure.
// Returns true when it wrote the file.
bool EnsurePackage(const std::string& dir, const std::string& name, uint64_t size,
                   bool exactSize);

}  // namespace updsrv
