#include "sysinfo_test_util.h"

#include <korvane_machine.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string MachineDir(const std::string& name) {
  const char* src = std::getenv("KORVANE_SOURCE_DIR");
  if (!src) throw std::runtime_error("KORVANE_SOURCE_DIR is not set");
  return std::string(src) + "/tests/machines/" + name;
}

void UseMachine(const std::string& name) {
  if (name == "host")
    unsetenv("KORVANE_MACHINE");
  else
    setenv("KORVANE_MACHINE", (name[0] == '/' ? name : MachineDir(name)).c_str(), 1);
  KorvaneResetMachine();
}

std::string ScratchDir(const std::string& name) {
  const char* bin = std::getenv("KORVANE_BINARY_DIR");
  fs::path dir = fs::path(bin ? bin : fs::temp_directory_path().string()) / "sysinfo-scratch" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
