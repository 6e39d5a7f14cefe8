// GetTempPathA: the machine's private Temp/ folder. Scratch files there are written by
// name, so a folder someone else controls (a symbolic link, another owner) is refused.
#include <windows.h>

#include "internal.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  kvp::MachineInfo m = kvp::CurrentMachine();
  std::string dir = m.root + "/Temp";
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    if (m.host && !kvp::MakeDirs(m.root, 0700)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return 0;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      SetLastError(errno == EACCES || errno == EROFS ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
      return 0;
    }
    if (lstat(dir.c_str(), &st) != 0) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return 0;
    }
  }
  if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    kvp::ReportError(dir + ": refused as the temporary folder (" +
                     (S_ISLNK(st.st_mode) ? "a symbolic link" : !S_ISDIR(st.st_mode) ? "not a folder"
                                                                                      : "owned by another user") +
                     ")");
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  // Others must not reach the scratch files.
  if ((st.st_mode & 077) && chmod(dir.c_str(), 0700) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  std::string path = dir + "/";
  DWORD need = static_cast<DWORD>(path.size() + 1);
  if (!lpBuffer || nBufferLength < need) return need;
  std::memcpy(lpBuffer, path.c_str(), need);
  return need - 1;
}
