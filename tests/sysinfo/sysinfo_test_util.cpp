#include "sysinfo_test_util.h"

#include <korvane_machine.h>

#include <cstdlib>
#include <stdexcept>

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
