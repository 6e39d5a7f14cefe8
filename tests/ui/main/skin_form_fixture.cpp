#include "skin_form_fixture.h"
#include "support/ScratchFolder.h"

#include "resources/kvresources.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinForm.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

void SkinFormTest::SetUp() {
  root_ = korvane::testing::MakeScratchFolder("kvshell");
  fs::create_directories(root_ + "/run");
  ::chmod((root_ + "/run").c_str(), 0700);
  ::setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
  machine_.emplace();
  static bool resources = false;
  if (!resources) {
    KorvaneInitResources();
    resources = true;
  }
  SetSkinErrorHook([this](const std::string& m) { skinErrors_.push_back(m); });
  modal_.emplace([](TSkinForm&) { return mrCancel; });  // never block
}

void SkinFormTest::TearDown() {
  SetSkinErrorHook({});
  modal_.reset();
  machine_.reset();
  korvane::testing::RemoveFolder(root_);
}
