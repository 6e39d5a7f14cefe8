// Helper process for the window-function tests: acts as "another instance".
//   platform_probe mutex NAME         -> prints "first" or "exists", then waits
//                                        for a line on stdin before closing
//   platform_probe post CLASS CAPTION MSG -> prints "posted", "failed" or "none"
//   platform_probe rect CLASS CAPTION  -> prints "l t r b" or "none"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "mutex") == 0) {
    HANDLE h = CreateMutexA(nullptr, FALSE, argv[2]);
    const bool first = h && GetLastError() != ERROR_ALREADY_EXISTS;
    std::printf("%s\n", first ? "first" : "exists");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    if (h) CloseHandle(h);
    return 0;
  }
  if (argc >= 5 && std::strcmp(argv[1], "post") == 0) {
    HWND w = FindWindowA(argv[2], argv[3]);
    if (!w) {
      std::printf("none\n");
      return 0;
    }
    std::printf("%s\n", PostMessageA(w, static_cast<UINT>(std::atoi(argv[4])), 0, 0) ? "posted" : "failed");
    return 0;
  }
  if (argc >= 4 && std::strcmp(argv[1], "rect") == 0) {
    HWND w = FindWindowA(argv[2], argv[3]);
    RECT rc{};
    if (!w || !GetWindowRect(w, &rc)) {
      std::printf("none\n");
      return 0;
    }
    std::printf("%d %d %d %d\n", rc.left, rc.top, rc.right, rc.bottom);
    return 0;
  }
  return 2;
}
