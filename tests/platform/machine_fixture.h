// A scratch machine folder for one test: KORVANE_MACHINE points at it while it lives.
#pragma once

#include <korvane_machine.h>
#include "support/ScratchFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class ScratchMachine {
 public:
  ScratchMachine() {
    root_ = korvane::testing::MakeScratchFolder("kvplat");
    Write("system.reg", "");  // a machine folder always has its HKEY_LOCAL_MACHINE hive
    setenv("KORVANE_MACHINE", root_.c_str(), 1);
    KorvaneResetMachine();
  }
  // A copy of a fixture machine from tests/machines.
  explicit ScratchMachine(const std::string& fixture) : ScratchMachine() {
    std::filesystem::copy(SourceDir() + "/tests/machines/" + fixture, root_,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    KorvaneResetMachine();
  }
  ~ScratchMachine() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    unsetenv("KORVANE_MACHINE");
    KorvaneResetMachine();
  }
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static std::string SourceDir() {
    const char* s = std::getenv("KORVANE_SOURCE_DIR");
    return s ? s : ".";
  }

 private:
  std::string root_;
};
