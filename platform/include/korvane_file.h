// Replacing a file in one step (not Windows; built on CreateFileA, WriteFile,
// FlushFileBuffers and MoveFileExA): the one way the program rewrites a file that must
// never be seen half written (the registry hives, the autostart entry, downloads).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// A new file only the user may read (else as CreateFileA makes it: everyone may read).
#define KORVANE_REPLACE_PRIVATE 0x00000001u
// The file is a program the user may run.
#define KORVANE_REPLACE_EXECUTABLE 0x00000002u
// The file is data (a downloaded package): it never has execute bits, also where
// the file it replaces had them.
#define KORVANE_REPLACE_DATA 0x00000004u

// The new bytes go to a temporary file beside the target, created new without
// following a link; Commit flushes it to the disk, gives it the permission bits of the
// file it replaces (those the flags ask for when there was none; EXECUTABLE adds the
// user's execute bit to kept ones, DATA takes every execute bit away), and moves it over the target with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, so the folder's entry is on the
// disk too. Until then the target is untouched: a crash leaves the old file or the
// new one, never half of one. Failures return FALSE with the last error set.
class TKorvaneReplacement {
 public:
  explicit TKorvaneReplacement(std::string target, DWORD flags = 0);
  ~TKorvaneReplacement();  // discards what was not committed
  TKorvaneReplacement(const TKorvaneReplacement&) = delete;
  TKorvaneReplacement& operator=(const TKorvaneReplacement&) = delete;

  // Creates the temporary file: tempPath when given (a free name in the target's
  // folder: ERROR_FILE_EXISTS when taken), else "." + name + ".tmp." + a random part.
  BOOL Create(const std::string& tempPath = std::string());
  // Appends bytes to the temporary file.
  BOOL Write(const void* data, size_t size);
  // Flush, permission bits, close, move over the target. The temporary file is gone
  // afterwards whether it succeeded or not.
  BOOL Commit();
  // Removes the temporary file; the target stays as it was.
  void Discard();

  const std::string& Target() const { return target_; }
  const std::string& TempPath() const { return temp_; }
  // The temporary file while it is open (after Create, before Commit or Discard).
  HANDLE Handle() const { return file_; }

 private:
  std::string target_;
  std::string temp_;
  DWORD flags_;
  HANDLE file_;
};

// The whole replacement with bytes at once.
BOOL KorvaneReplaceFile(const std::string& target, std::string_view bytes, DWORD flags = 0);
// The prefix of the temporary names Create chooses for target ("." + name + ".tmp."),
// by which a writer can tell leftovers of a killed one.
std::string KorvaneReplacementPrefix(const std::string& target);

// The running program's path, however long (GetModuleFileNameA with a buffer grown
// until the path fits), or "" with the last error set.
std::string KorvaneModuleFileName();
