// A temporary machine and session folder for every widget test, the
// compiled-in pictures, and a captured skin error instead of a message box.
#pragma once

#include <gtest/gtest.h>

#include "ui/widgets/uSkinForm.h"

#include <optional>
#include <string>
#include <vector>

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string root_;
  std::vector<std::string> skinErrors_;
  std::optional<TScopedModalHook> modal_;  // never block
};
