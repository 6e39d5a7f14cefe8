// Replacing a file in one step through the file calls: the layer's own on Linux,
// kernel32's on Windows.
#include <windows.h>

#include <korvane_file.h>

#include <atomic>
#include <random>

#ifndef _WIN32
#include "internal.h"

#include <cerrno>

#include <sys/stat.h>
#endif

namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif

std::string BaseOf(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPrefix(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RandomPart() {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 gen{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string s;
  for (int i = 0; i < 10; ++i) s += kDigits[gen() % 36];
  return s + std::to_string(counter.fetch_add(1) % 1000);
}

// The permission bits: a replaced file keeps its own (a private file stays private).
// On Windows the access rights come from the folder, as for any file made there:
// the flags (private, executable) are what the user's own folders give already.
BOOL SetReplacementMode(HANDLE file, const std::string& target, DWORD flags, DWORD& error) {
#ifdef _WIN32
  (void)file, (void)target, (void)flags, (void)error;
  return TRUE;
#else
  const int fd = kvp::FileDescriptor(file);
  struct stat old, mine;
  mode_t mode;
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    mode = old.st_mode & 07777;
    if (flags & KORVANE_REPLACE_EXECUTABLE) mode |= S_IXUSR;
  } else if (flags & KORVANE_REPLACE_PRIVATE) {
    mode = (flags & KORVANE_REPLACE_EXECUTABLE) ? 0700 : 0600;
  } else {
    mode = ::fstat(fd, &mine) == 0 ? mine.st_mode & 07777 : 0644;
    if (flags & KORVANE_REPLACE_EXECUTABLE) mode |= (mode & 0444) >> 2;
  }
  if (flags & KORVANE_REPLACE_DATA) mode &= ~static_cast<mode_t>(06111);  // no set-id bits either
  if (::fchmod(fd, mode) != 0) {
    error = kvp::ErrnoToWinError(errno);
    return FALSE;
  }
  return TRUE;
#endif
}

}  // namespace

std::string KorvaneReplacementPrefix(const std::string& target) { return "." + BaseOf(target) + ".tmp."; }

TKorvaneReplacement::TKorvaneReplacement(std::string target, DWORD flags)
    : target_(std::move(target)), flags_(flags), file_(INVALID_HANDLE_VALUE) {}

TKorvaneReplacement::~TKorvaneReplacement() { Discard(); }

BOOL TKorvaneReplacement::Create(const std::string& tempPath) {
  Discard();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = tempPath.empty()
                                 ? FolderPrefix(target_) + KorvaneReplacementPrefix(target_) + RandomPart()
                                 : tempPath;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      file_ = h;
      temp_ = path;
      return TRUE;
    }
    if (GetLastError() != ERROR_FILE_EXISTS || !tempPath.empty()) return FALSE;
  }
  return FALSE;
}

BOOL TKorvaneReplacement::Write(const void* data, size_t size) {
  if (file_ == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
    DWORD written = 0;
    if (!WriteFile(file_, p, piece, &written, nullptr)) return FALSE;
    p += written;
    size -= written;
  }
  return TRUE;
}

BOOL TKorvaneReplacement::Commit() {
  if (file_ == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The permission bits first, so that the flush puts them on the disk with the data
  // (the folder's flush after the move then has only the new name to write).
  DWORD error = ERROR_SUCCESS;
  BOOL ok = SetReplacementMode(file_, target_, flags_, error);
  if (ok && !FlushFileBuffers(file_)) {
    ok = FALSE;
    error = GetLastError();
  }
  if (!CloseHandle(file_) && ok) {
    ok = FALSE;
    error = GetLastError();
  }
  file_ = INVALID_HANDLE_VALUE;
  if (ok &&
      !MoveFileExA(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
    // The new name may be in place with only the folder's flush failed.
    ok = FALSE;
  }
  if (!ok) DeleteFileA(temp_.c_str());
  temp_.clear();
  SetLastError(error);
  return ok;
}

void TKorvaneReplacement::Discard() {
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  if (!temp_.empty()) {
    DeleteFileA(temp_.c_str());
    temp_.clear();
  }
}

BOOL KorvaneReplaceFile(const std::string& target, std::string_view bytes, DWORD flags) {
  TKorvaneReplacement r(target, flags);
  if (!r.Create() || !r.Write(bytes.data(), bytes.size())) return FALSE;
  return r.Commit();
}
