// The program's scratch files (the root certificate, the report, the answer, the
// logs, the message copy) live in the temporary folder and are written by name. They
// are created through the platform with FILE_FLAG_OPEN_REPARSE_POINT: a link planted
// at a name is replaced by the new file, and what it points at is never written.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Creates or overwrites path with bytes: ERROR_SUCCESS, or the platform's error code
// (a partly written file may stay behind on a write error).
DWORD WriteScratchBytes(const std::string& path, std::string_view bytes);
// A scratch file written a piece at a time (a large report is never held whole):
// Open creates or overwrites it as WriteScratchBytes does, Write appends, Close ends
// it; each returns ERROR_SUCCESS or the first error met (later calls then do nothing).
class TScratchWriter {
 public:
  TScratchWriter() = default;
  ~TScratchWriter();
  TScratchWriter(const TScratchWriter&) = delete;
  TScratchWriter& operator=(const TScratchWriter&) = delete;

  DWORD Open(const std::string& path);
  DWORD Write(std::string_view bytes);
  DWORD Close();

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  DWORD error_ = ERROR_SUCCESS;
};

// The whole file into bytes: ERROR_SUCCESS or the error code (bytes then empty).
DWORD ReadScratchBytes(const std::string& path, std::string& bytes);

// Removes a file or symbolic link at path (never a link's target); true when
// nothing is left there.
bool RemoveScratchFile(const std::string& path);

// True when path names an existing regular file (a link is not followed).
bool ScratchFileExists(const std::string& path);
