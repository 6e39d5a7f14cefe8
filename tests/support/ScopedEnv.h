// Environment values set for one test and put back as they were (set or
// unset) when the object goes.
//
//   korvane::testing::ScopedEnv env;
//   env.Set("HOME", dir);
//   env.Unset("XDG_CONFIG_HOME");
#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <utility>

namespace korvane::testing {

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    for (const auto& [name, old] : saved_) {
      if (old.first)
        ::setenv(name.c_str(), old.second.c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }

  void Set(const char* name, const std::string& value) {
    Remember(name);
    ::setenv(name, value.c_str(), 1);
  }
  void Unset(const char* name) {
    Remember(name);
    ::unsetenv(name);
  }

 private:
  void Remember(const char* name) {
    if (saved_.count(name)) return;
    const char* v = std::getenv(name);
    saved_[name] = {v != nullptr, v ? v : ""};
  }
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

}  // namespace korvane::testing
