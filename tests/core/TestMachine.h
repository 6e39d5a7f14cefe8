// A private copy of a machine folder for one test: KORVANE_MACHINE points at it while
// the object lives.
#pragma once

#include <korvane_machine.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

class TTestMachine {
 public:
  // fixture: a folder name under tests/machines, or empty for a blank machine.
  explicit TTestMachine(const std::string& fixture = std::string()) {
    namespace fs = std::filesystem;
    std::random_device rd;
    root_ = fs::temp_directory_path() /
            ("korvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
    fs::create_directories(root_);
    if (!fixture.empty()) {
      const char* src = std::getenv("KORVANE_SOURCE_DIR");
      fs::path from = fs::path(src ? src : ".") / "tests" / "machines" / fixture;
      if (!fs::is_directory(from)) throw std::runtime_error("no machine fixture " + from.string());
      fs::copy(from, root_, fs::copy_options::recursive);
    }
    // A machine folder always has its HKEY_LOCAL_MACHINE hive.
    if (!fs::exists(root_ / "system.reg")) std::ofstream(root_ / "system.reg");
    ::setenv("KORVANE_MACHINE", root_.c_str(), 1);
    KorvaneResetMachine();
  }
  ~TTestMachine() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    ::unsetenv("KORVANE_MACHINE");
    KorvaneResetMachine();
  }
  TTestMachine(const TTestMachine&) = delete;
  TTestMachine& operator=(const TTestMachine&) = delete;

  std::string Root() const { return root_.string(); }
  std::string Temp() const {
    std::filesystem::create_directories(root_ / "Temp");
    return (root_ / "Temp").string() + "/";
  }
  std::string ReadFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::filesystem::path root_;
};
