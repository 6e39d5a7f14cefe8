// A fresh folder for a test's scratch files under $TMPDIR (else /tmp):
//   const std::string root = korvane::testing::MakeScratchFolder("kvshell");
// Throws std::runtime_error when the folder cannot be made.
#pragma once

#include <cstdlib>
#include <stdexcept>
#include <string>

#include <stdlib.h>

namespace korvane::testing {

inline std::string MakeScratchFolder(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  if (!::mkdtemp(path.data())) throw std::runtime_error("cannot make a scratch folder under " + path);
  return path;
}

}  // namespace korvane::testing
