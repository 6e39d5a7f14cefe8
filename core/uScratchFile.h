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
// The whole file into bytes: ERROR_SUCCESS or the error code (bytes then empty).
DWORD ReadScratchBytes(const std::string& path, std::string& bytes);

// Removes a file or symbolic link at path (never a link's target); true when
// nothing is left there.
bool RemoveScratchFile(const std::string& path);

// True when path names an existing regular file (a link is not followed).
bool ScratchFileExists(const std::string& path);
