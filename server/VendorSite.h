// The vendor web site's two pages and the package files.
#pragma once

#include <cstdint>
#include <string>

#include "server/OwnedFiles.h"

namespace updsrv {

// "/kvn/faq": a small HTML page.
std::string FaqPage();

// "/downloads/swx/fromkvn/Sweepline.exe": the companion tool's installer. On
// this platform it is a POSIX shell script; see server/README.md.
// fallbackReg: a korvane-reg path baked in as the last place to look
// (empty: none).
std::string SweeplineInstaller(const std::string& fallbackReg);

// Creates DATA/packages/NAME with size bytes of deterministic content (seeded
// by the name) unless the file is there already (with exactSize: there with
// that size; without it any existing file, perhaps a real package, is kept).
// A file of another size is replaced only when the server made it; otherwise
// it is kept and a sentence saying so is put in note. Written through a
// temporary file and a rename, and recorded in owned. Throws
// std::runtime_error on failure. Returns true when it wrote the file.
bool EnsurePackage(TOwnedFiles& owned, const std::string& name, uint64_t size, bool exactSize,
                   std::string* note = nullptr);

}  // namespace updsrv
