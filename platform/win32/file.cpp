// korvane_file.h on Windows: the module path on kernel32 (the atomic replacement
// is the shared src/replace.cpp).
#include <windows.h>

#include <korvane_file.h>

std::string KorvaneModuleFileName() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    // A full buffer means the path was cut (XP does not say so through the last error).
    if (n < path.size()) {
      path.resize(n);
      SetLastError(ERROR_SUCCESS);
      return path;
    }
    if (path.size() >= 32768) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return {};
    }
    path.resize(path.size() * 2);
  }
}
