#include "synchapi.h"

#include "errhandlingapi.h"
#include "korvane_window.h"
#include "kv_handles.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct MutexObject : KvHandleObject {
  int fd = -1;  // holds the lock while this handle is the creator's
  ~MutexObject() override {
    if (fd >= 0) ::close(fd);  // closing the descriptor drops the lock
  }
};

// A mutex name as a file name: path separators would leave the folder.
std::string LockFileName(const std::string& name) {
  std::string out = "mutex-";
  for (char c : name) out += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
  return out + ".lock";
}

}  // namespace

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR lpName) {
  auto* obj = new MutexObject;
  if (!lpName || !*lpName) {
    SetLastError(ERROR_SUCCESS);
    return KvNewHandle(obj);
  }
  const std::string folder = KorvaneSessionFolder();
  if (folder.empty()) {
    delete obj;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const std::string path = folder + "/" + LockFileName(lpName);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    delete obj;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    obj->fd = fd;
    SetLastError(ERROR_SUCCESS);
    return KvNewHandle(obj);
  }
  const int err = errno;
  ::close(fd);
  if (err == EWOULDBLOCK) {
    // Someone holds it: like Windows, a handle to the existing mutex.
    HANDLE h = KvNewHandle(obj);
    SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  delete obj;
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  if (!dynamic_cast<MutexObject*>(KvHandleLookup(hMutex))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The guard is never waited on; ownership ends with the handle.
  return TRUE;
}
