// Files through handles, attributes, moves and folder listings over the host's file
// system, with the Windows dispositions, flags and error codes.
#include <windows.h>

#include <consoleapi.h>

#include "internal.h"
#include "kv_handles.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileObj : KvHandleObject {
  int fd = -1;
  bool owned = true;
  long long written = 0;        // bytes written through the handle
  long long writebackFrom = 0;  // start of the range not yet handed to the disk
  ~FileObj() override {
    if (owned && fd >= 0) ::close(fd);
  }
};

struct FindObj : KvHandleObject {
  DIR* dir = nullptr;
  std::string folder;
  ~FindObj() override {
    if (dir) ::closedir(dir);
  }
};

FileObj* LookupFile(HANDLE h) { return dynamic_cast<FileObj*>(KvHandleLookup(h)); }
FindObj* LookupFind(HANDLE h) { return dynamic_cast<FindObj*>(KvHandleLookup(h)); }

// Seconds and nanoseconds since 1970 as a FILETIME (100 ns steps since 1601).
FILETIME ToFileTime(const struct timespec& t) {
  constexpr unsigned long long kEpochDiff = 11644473600ull;  // seconds from 1601 to 1970
  const unsigned long long v = (static_cast<unsigned long long>(t.tv_sec) + kEpochDiff) * 10000000ull +
                               static_cast<unsigned long long>(t.tv_nsec) / 100;
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(v);
  f.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return f;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The attributes of an entry as lstat gave them.
bool FillAttributes(const std::string& path, const struct stat& st, WIN32_FILE_ATTRIBUTE_DATA& out) {
  DWORD attributes = 0;
  unsigned long long size = 0;
  if (S_ISLNK(st.st_mode)) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    struct stat target;
    if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  } else if (S_ISDIR(st.st_mode)) {
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  } else {
    size = static_cast<unsigned long long>(st.st_size);
  }
  const bool mine = st.st_uid == ::geteuid();
  if (!S_ISLNK(st.st_mode) && (!mine || !(st.st_mode & S_IWUSR))) attributes |= FILE_ATTRIBUTE_READONLY;
  const std::string name = BaseName(path);
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  out.dwFileAttributes = attributes;
  out.ftCreationTime = ToFileTime(st.st_ctim);
  out.ftLastAccessTime = ToFileTime(st.st_atim);
  out.ftLastWriteTime = ToFileTime(st.st_mtim);
  out.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  out.nFileSizeLow = static_cast<DWORD>(size);
  return true;
}

// Where the folder part of a missing path is missing too, Windows says "path".
DWORD MissingError(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
  struct stat st;
  const std::string folder = path.substr(0, slash);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

bool OpensLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

namespace kvp {

DWORD ErrnoToWinError(int e) {
  switch (e) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

int FileDescriptor(HANDLE h) {
  FileObj* f = LookupFile(h);
  return f ? f->fd : -1;
}

bool FlushFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  const bool ok = ::fsync(dfd) == 0;
  ::close(dfd);
  return ok;
}

}  // namespace kvp

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string path = lpFileName;
  const bool read = dwDesiredAccess & GENERIC_READ;
  const bool write = dwDesiredAccess & GENERIC_WRITE;
  int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
  switch (dwCreationDisposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      flags |= O_TRUNC;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if ((flags & O_TRUNC) && !write) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const bool noFollow = dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT;
  if (noFollow) flags |= O_NOFOLLOW;
  const bool existed = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS
                           ? ::access(path.c_str(), F_OK) == 0 || OpensLink(path)
                           : false;
  int fd = -1;
  for (int attempt = 0; attempt < 8; ++attempt) {
    do {
      fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || !noFollow || errno != ELOOP || !OpensLink(path)) break;
    // The name is a symbolic link and the caller asked for the link itself: a
    // truncation replaces the link by the new file, anything else cannot open it.
    if (dwCreationDisposition != CREATE_ALWAYS && dwCreationDisposition != TRUNCATE_EXISTING) {
      SetLastError(ERROR_CANT_ACCESS_FILE);
      return INVALID_HANDLE_VALUE;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) break;
    flags = (flags & ~O_TRUNC) | O_CREAT | O_EXCL;  // only a file of our own from here
  }
  if (fd < 0) {
    const int e = errno;
    DWORD code = kvp::ErrnoToWinError(e);
    if (e == ENOENT) code = MissingError(path);
    if (e == EEXIST && dwCreationDisposition != CREATE_NEW) code = ERROR_ACCESS_DENIED;  // lost a race
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto* obj = new FileObj;
  obj->fd = fd;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return KvNewHandle(obj);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  FileObj* f = LookupFile(hFile);
  if (!f || lpOverlapped || (!lpBuffer && nNumberOfBytesToRead)) {
    SetLastError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ssize_t n;
  do {
    n = ::read(f->fd, lpBuffer, nNumberOfBytesToRead);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastError(errno == EIO ? ERROR_READ_FAULT : kvp::ErrnoToWinError(errno));
    return FALSE;
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(n);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  FileObj* f = LookupFile(hFile);
  if (!f || lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite)) {
    SetLastError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const char* data = static_cast<const char*>(lpBuffer);
  DWORD left = nNumberOfBytesToWrite;
  while (left > 0) {
    const ssize_t n = ::write(f->fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(errno == EIO ? ERROR_WRITE_FAULT : kvp::ErrnoToWinError(errno));
      return FALSE;
    }
    data += n;
    left -= static_cast<DWORD>(n);
    f->written += n;
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten += static_cast<DWORD>(n);
  }
#ifdef __linux__
  // Large files start their disk writes as they grow, so that the flush at the end
  // has little left to do; this only queues the pages and does not wait.
  constexpr long long kWritebackStep = 8 << 20;
  if (f->written - f->writebackFrom >= kWritebackStep) {
    ::sync_file_range(f->fd, f->writebackFrom, f->written - f->writebackFrom, SYNC_FILE_RANGE_WRITE);
    f->writebackFrom = f->written;
  }
#endif
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  FileObj* f = LookupFile(hFile);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (::fsync(f->fd) != 0 && errno != EINVAL && errno != EROFS) {  // a pipe or terminal has nothing to flush
    SetLastError(errno == EIO ? ERROR_WRITE_FAULT : kvp::ErrnoToWinError(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  struct stat st;
  if (::lstat(lpFileName, &st) != 0) {
    SetLastError(errno == ENOENT ? MissingError(lpFileName) : kvp::ErrnoToWinError(errno));
    return FALSE;
  }
  if (S_ISDIR(st.st_mode) || ::unlink(lpFileName) != 0) {
    SetLastError(S_ISDIR(st.st_mode) ? ERROR_ACCESS_DENIED : kvp::ErrnoToWinError(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (!lpExistingFileName || !*lpExistingFileName || !lpNewFileName || !*lpNewFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int rc;
  if (dwFlags & MOVEFILE_REPLACE_EXISTING) {
    struct stat st;
    if (::lstat(lpNewFileName, &st) == 0 && S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_ACCESS_DENIED);  // a folder is never replaced
      return FALSE;
    }
    rc = ::rename(lpExistingFileName, lpNewFileName);
  } else {
    rc = ::renameat2(AT_FDCWD, lpExistingFileName, AT_FDCWD, lpNewFileName, RENAME_NOREPLACE);
  }
  if (rc != 0) {
    const int e = errno;
    SetLastError(e == EEXIST   ? ERROR_ALREADY_EXISTS
                 : e == ENOENT ? MissingError(lpExistingFileName)
                               : kvp::ErrnoToWinError(e));
    return FALSE;
  }
  if ((dwFlags & MOVEFILE_WRITE_THROUGH) && !kvp::FlushFolderOf(lpNewFileName)) {
    SetLastError(ERROR_WRITE_FAULT);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                 LPVOID lpFileInformation) {
  if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation || !lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat st;
  if (!*lpFileName || ::lstat(lpFileName, &st) != 0) {
    SetLastError(!*lpFileName || errno == ENOENT ? MissingError(lpFileName) : kvp::ErrnoToWinError(errno));
    return FALSE;
  }
  FillAttributes(lpFileName, st, *static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation));
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExA(lpFileName, GetFileExInfoStandard, &data) ? data.dwFileAttributes
                                                                        : INVALID_FILE_ATTRIBUTES;
}

namespace {

// The next entry of the listing into data; false at its end.
bool NextEntry(FindObj& f, WIN32_FIND_DATAA& data) {
  while (dirent* e = ::readdir(f.dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name.size() >= MAX_PATH) continue;
    const std::string path = f.folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;  // gone since the listing was read
    WIN32_FILE_ATTRIBUTE_DATA a;
    FillAttributes(path, st, a);
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = a.dwFileAttributes;
    data.ftCreationTime = a.ftCreationTime;
    data.ftLastAccessTime = a.ftLastAccessTime;
    data.ftLastWriteTime = a.ftLastWriteTime;
    data.nFileSizeHigh = a.nFileSizeHigh;
    data.nFileSizeLow = a.nFileSizeLow;
    std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
    return true;
  }
  return false;
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  const std::string pattern = lpFileName ? lpFileName : "";
  if (!lpFindFileData || pattern.size() < 2 || pattern.compare(pattern.size() - 2, 2, "/*") != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string folder = pattern.substr(0, pattern.size() - 2);
  if (folder.empty()) folder = "/";
  auto obj = std::make_unique<FindObj>();
  obj->folder = folder == "/" ? std::string() : folder;
  obj->dir = ::opendir(folder.c_str());
  if (!obj->dir) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : kvp::ErrnoToWinError(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (!NextEntry(*obj, *lpFindFileData)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return KvNewHandle(obj.release());
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  FindObj* f = LookupFind(hFindFile);
  if (!f || !lpFindFileData) {
    SetLastError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!NextEntry(*f, *lpFindFileData)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  if (!LookupFind(hFindFile)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(hFindFile);
}

// ---- standard handles ----

namespace {

// Handles of the standard streams live for the whole run and are never closed.
struct StdFileObj : FileObj {
  bool Closable() const override { return false; }
};

}  // namespace

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
  static HANDLE handles[3] = {};
  static std::mutex m;
  int fd;
  switch (nStdHandle) {
    case STD_INPUT_HANDLE:
      fd = 0;
      break;
    case STD_OUTPUT_HANDLE:
      fd = 1;
      break;
    case STD_ERROR_HANDLE:
      fd = 2;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> g(m);
  if (!handles[fd]) {
    auto* obj = new StdFileObj;
    obj->fd = fd;
    obj->owned = false;
    handles[fd] = KvNewHandle(obj);
  }
  return handles[fd];
}

BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
  FileObj* f = LookupFile(hConsoleHandle);
  if (!f || !lpMode || ::isatty(f->fd) != 1) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *lpMode =
      f->fd == 0 ? (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT) : ENABLE_PROCESSED_OUTPUT;
  return TRUE;
}
