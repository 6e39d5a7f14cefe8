#include "support/ScratchMachine.h"

#include "support/ScratchFolder.h"

#include <korvane_machine.h>
#include <winreg.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace korvane::testing {

namespace fs = std::filesystem;

ScratchMachine::ScratchMachine(const std::string& fixture, std::size_t minPathLength)
    : top_(MakeScratchFolder("kvmachine")), root_(top_), oldMachine_(Env("KORVANE_MACHINE")) {
  while (root_.size() < minPathLength)
    root_ += "/" + std::string(std::min<std::size_t>(60, minPathLength - root_.size() + 1), 'm');
  fs::create_directories(root_);
  Use(fixture);
}

ScratchMachine::ScratchMachine(Host)
    : top_(MakeScratchFolder("kvhost")),
      root_(top_),
      host_(true),
      oldMachine_(Env("KORVANE_MACHINE")),
      oldXdg_(Env("XDG_DATA_HOME")) {
  ::setenv("XDG_DATA_HOME", root_.c_str(), 1);
  Select();
}

ScratchMachine::~ScratchMachine() {
  RemoveFolder(top_);
  Restore("KORVANE_MACHINE", oldMachine_);
  if (host_) Restore("XDG_DATA_HOME", oldXdg_);
  KorvaneResetMachine();
}

void ScratchMachine::Use(const std::string& fixture) {
  if (host_) throw std::logic_error("the live host has no fixture");
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root_, ec)) fs::remove_all(entry.path(), ec);
  if (!fixture.empty()) {
    const std::string from = FixtureDir(fixture);
    if (!fs::is_directory(from)) throw std::runtime_error("no machine fixture " + from);
    fs::copy(from, root_, fs::copy_options::recursive);
  }
  if (!fs::exists(Path("system.reg"))) Write("system.reg", "");
  Select();
}

void ScratchMachine::Select() const {
  ::setenv("KORVANE_MACHINE", host_ ? "host" : root_.c_str(), 1);
  KorvaneResetMachine();
}

std::string ScratchMachine::Temp() const {
  fs::create_directories(Path("Temp"));
  return Path("Temp") + "/";
}

void ScratchMachine::Write(const std::string& name, const std::string& bytes) const {
  WriteTextFile(Path(name), bytes);
}

std::string ScratchMachine::Read(const std::string& name) const {
  return ReadTextFile(!name.empty() && name[0] == '/' ? name : Path(name));
}

void ScratchMachine::SetString(HKEY root, const std::string& key, const std::string& name,
                               const std::string& value) const {
  HKEY h = nullptr;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &h,
                      nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot create the key " + key);
  const LONG rc = RegSetValueExA(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot store " + key + "\\" + name);
}

std::string ScratchMachine::SourceDir() {
  const char* s = std::getenv("KORVANE_SOURCE_DIR");
  return s && *s ? s : ".";
}

std::string ScratchMachine::FixtureDir(const std::string& fixture) {
  return SourceDir() + "/tests/machines/" + fixture;
}

std::optional<std::string> ScratchMachine::Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

void ScratchMachine::Restore(const char* name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name, value->c_str(), 1);
  else
    ::unsetenv(name);
}

}  // namespace korvane::testing
