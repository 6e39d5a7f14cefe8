#pragma once

#include <string>

// Points the platform layer at tests/machines/<name> ("host" for the live host).
void UseMachine(const std::string& name);
std::string MachineDir(const std::string& name);
