#include "core/uScratchFile.h"

#include <algorithm>
#include <vector>

DWORD WriteScratchBytes(const std::string& path, std::string_view bytes) {
  TScratchWriter writer;
  writer.Open(path);
  writer.Write(bytes);
  return writer.Close();
}

TScratchWriter::~TScratchWriter() { Close(); }

DWORD TScratchWriter::Open(const std::string& path) {
  Close();
  error_ = ERROR_SUCCESS;
  file_ = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) error_ = GetLastError();
  return error_;
}

DWORD TScratchWriter::Write(std::string_view bytes) {
  if (file_ == INVALID_HANDLE_VALUE && error_ == ERROR_SUCCESS) error_ = ERROR_INVALID_HANDLE;
  // WriteFile takes at most a DWORD's worth at a time.
  for (std::size_t done = 0; done < bytes.size() && error_ == ERROR_SUCCESS;) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file_, bytes.data() + done, piece, &written, nullptr)) error_ = GetLastError();
    done += written;
  }
  return error_;
}

DWORD TScratchWriter::Close() {
  if (file_ != INVALID_HANDLE_VALUE) {
    if (!CloseHandle(file_) && error_ == ERROR_SUCCESS) error_ = GetLastError();
    file_ = INVALID_HANDLE_VALUE;
  }
  return error_;
}

DWORD ReadScratchBytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = ERROR_SUCCESS;
  std::vector<char> buf(64 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr)) {
      error = GetLastError();
      bytes.clear();
      break;
    }
    if (got == 0) break;
    bytes.append(buf.data(), got);
  }
  CloseHandle(file);
  return error;
}

bool RemoveScratchFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool ScratchFileExists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}
