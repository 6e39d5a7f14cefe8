#include "support/ScratchFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <stdlib.h>

namespace korvane::testing {

namespace fs = std::filesystem;

std::string MakeScratchFolder(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  if (!::mkdtemp(path.data())) throw std::runtime_error("cannot make a scratch folder under " + path);
  return path;
}

void RemoveFolder(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

void WriteTextFile(const std::string& path, const std::string& bytes) {
  const fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace korvane::testing
