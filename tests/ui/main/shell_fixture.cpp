#include "shell_fixture.h"
#include "support/ScratchFolder.h"

#include "korvane_machine.h"
#include "resources/kvresources.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinForm.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

void ShellTest::SetUp() {
  root_ = korvane::testing::MakeScratchFolder("kvshell");
  fs::create_directories(root_ + "/machine");
  fs::create_directories(root_ + "/run");
  ::chmod((root_ + "/run").c_str(), 0700);
  ::setenv("KORVANE_MACHINE", (root_ + "/machine").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
  KorvaneResetMachine();
  static bool resources = false;
  if (!resources) {
    KorvaneInitResources();
    resources = true;
  }
  SetSkinErrorHook([this](const std::string& m) { skinErrors_.push_back(m); });
  modal_.emplace([](TSkinForm&) { return mrCancel; });  // never block
}

void ShellTest::TearDown() {
  SetSkinErrorHook({});
  modal_.reset();
  std::error_code ec;
  fs::remove_all(root_, ec);
}
