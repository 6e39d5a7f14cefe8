#pragma once

#include <string>

// Points the platform layer at tests/machines/<name> ("host" for the live host).
void UseMachine(const std::string& name);
std::string MachineDir(const std::string& name);
// A fresh empty folder under the test's temporary area.
std::string ScratchDir(const std::string& name);
void WriteFile(const std::string& path, const std::string& bytes);
