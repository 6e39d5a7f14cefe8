// A private machine folder for one test: a copy of a bundled machine from
// tests/machines (or a blank one) under $TMPDIR, with KORVANE_MACHINE pointing
// at it while the object lives.
//
//   korvane::testing::ScratchMachine m("xp-desktop");
//   m.Write("devices.json", "...");                 // files of the machine
//   m.SetString(HKEY_CURRENT_USER, "Software\\X", "Name", "v");  // registry values
//   ... m.Temp() is the machine's Temp/ folder, as GetTempPathA gives it ...
//
// The destructor removes the folder and gives KORVANE_MACHINE (and, for the
// live host, XDG_DATA_HOME) back the values they had before.
#pragma once

#include <korvane_machine.h>
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace korvane::testing {

class ScratchMachine {
 public:
  enum class Host { Live };

  // fixture: a folder name under tests/machines, or empty for a blank machine.
  // Either way the machine has its HKEY_LOCAL_MACHINE hive (system.reg).
  // minPathLength: the machine's folder lies that deep, its path at least that
  // long (for tests of long paths).
  explicit ScratchMachine(const std::string& fixture = std::string(), std::size_t minPathLength = 0);
  // The live host ("host"), whose hives and Temp/ live under XDG_DATA_HOME:
  // that points at Root() while the object lives.
  explicit ScratchMachine(Host);
  ~ScratchMachine();
  ScratchMachine(const ScratchMachine&) = delete;
  ScratchMachine& operator=(const ScratchMachine&) = delete;

  // Replaces the folder's content by another fixture (empty: a blank machine)
  // and points the layer at it again.
  void Use(const std::string& fixture);
  // Points KORVANE_MACHINE at this machine again (after a test pointed it elsewhere).
  void Select() const;

  const std::string& Root() const { return root_; }
  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  // The machine's Temp/ folder with its trailing slash, made when missing.
  std::string Temp() const;
  // A file of the machine (name relative to Root()); folders are made as needed.
  void Write(const std::string& name, const std::string& bytes) const;
  // A file of the machine, or any file by its absolute path; "" when unreadable.
  std::string Read(const std::string& name) const;
  // Stores a REG_SZ value through the registry of the layer (key made as needed).
  void SetString(HKEY root, const std::string& key, const std::string& name, const std::string& value) const;

  // The source tree (KORVANE_SOURCE_DIR, else ".") and a bundled machine in it.
  static std::string SourceDir();
  static std::string FixtureDir(const std::string& fixture);

 private:
  static std::optional<std::string> Env(const char* name);
  static void Restore(const char* name, const std::optional<std::string>& value);

  std::string top_;  // the scratch folder the machine's folder is in (or is)
  std::string root_;
  bool host_ = false;
  std::optional<std::string> oldMachine_, oldXdg_;
};

}  // namespace korvane::testing
