// The fixture of the tests of the program's windows (every one a TSkinForm):
// a blank scratch machine and a session folder of the test's own, the
// compiled-in pictures, a captured skin error instead of a message box, and
// modal runs that never block. Built once as kv_test_skin_form.
#pragma once

#include <gtest/gtest.h>

#include "support/ScratchMachine.h"
#include "ui/widgets/uSkinForm.h"

#include <optional>
#include <string>
#include <vector>

class SkinFormTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string root_;  // the test's scratch folder (the session's run/ is in it)
  std::optional<korvane::testing::ScratchMachine> machine_;
  std::vector<std::string> skinErrors_;
  std::optional<TScopedModalHook> modal_;  // never block
};
