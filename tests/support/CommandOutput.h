// The standard output of a shell command, for tests that ask the window system
// (xwininfo, xprop, dbus-send) what it shows.
#pragma once

#include <cstdio>
#include <string>

inline std::string Capture(const std::string& cmd) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  ::pclose(p);
  return out;
}
