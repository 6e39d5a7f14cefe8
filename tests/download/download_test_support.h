// Small helpers the download tests share.
#pragma once

#include <dirent.h>

#include <string>
#include <vector>

// The names in a folder, without "." and "..": what a transfer left behind.
inline std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  return names;
}
