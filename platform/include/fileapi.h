// Files of the platform layer: creation, reading and writing through handles,
// attributes, moves and folder listings, with the Windows names and rules.
#pragma once

#include "minwindef.h"
#include "winerror.h"

// The machine's Temp/ folder with a trailing '/', created mode 0700 when missing.
// Returns the length written (without the NUL); when the buffer is too small, the size
// needed including the NUL. Returns 0 and sets the last error when the folder is a
// symbolic link, not a folder, not owned by the user or cannot be created.
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;  // not supported: pass NULL

// Opens or creates a file; INVALID_HANDLE_VALUE and the last error on failure.
// dwCreationDisposition is CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS or
// TRUNCATE_EXISTING; CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed with
// ERROR_ALREADY_EXISTS. A symbolic link in the last part of the name is followed,
// unless FILE_FLAG_OPEN_REPARSE_POINT is given: then CREATE_ALWAYS and
// TRUNCATE_EXISTING act on the link itself (it is replaced by the new, empty file;
// what it points at is never touched), and any other disposition fails with
// ERROR_CANT_ACCESS_FILE. A folder cannot be opened (ERROR_ACCESS_DENIED). The share
// mode, security attributes and template are accepted and not enforced; a new file
// is readable and writable by the user (before the umask, by everyone as well).
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Reads up to nNumberOfBytesToRead; *lpNumberOfBytesRead 0 at the end of the file.
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped);
// Writes all of the bytes or fails (ERROR_DISK_FULL, ERROR_WRITE_FAULT...).
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// Returns once everything written through the handle is on the disk.
BOOL WINAPI FlushFileBuffers(HANDLE hFile);
// Removes a file (a symbolic link itself, never what it points at); a folder
// fails with ERROR_ACCESS_DENIED, a missing file with ERROR_FILE_NOT_FOUND.
BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
// Renames a file. An existing lpNewFileName is replaced (in one step) only with
// MOVEFILE_REPLACE_EXISTING, else ERROR_ALREADY_EXISTS; a move to another disk only
// with MOVEFILE_COPY_ALLOWED (not supported: ERROR_NOT_SAME_DEVICE).
// MOVEFILE_WRITE_THROUGH returns once the new name is on the disk.
BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

typedef enum _GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard, GetFileExMaxInfoLevel } GET_FILEEX_INFO_LEVELS;

typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;

// Attributes of a file or folder, not following a symbolic link (a link has
// FILE_ATTRIBUTE_REPARSE_POINT, plus FILE_ATTRIBUTE_DIRECTORY when it points at
// a folder, and size 0). FILE_ATTRIBUTE_READONLY: the user may not write it (a
// file of another user included); FILE_ATTRIBUTE_HIDDEN: the name starts with '.'.
// Times in 100 ns steps since 1601-01-01 UTC (the creation time is the change time).
BOOL WINAPI GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                 LPVOID lpFileInformation);
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

// Lists a folder: lpFileName is "FOLDER/*" (only that form of pattern). Every entry
// but "." and ".." is given, with its attributes as GetFileAttributesExA gives them;
// names longer than MAX_PATH - 1 bytes are skipped. INVALID_HANDLE_VALUE with
// ERROR_FILE_NOT_FOUND when the folder is empty, ERROR_PATH_NOT_FOUND when it is
// missing. FindNextFileA ends with FALSE and ERROR_NO_MORE_FILES.
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL WINAPI FindClose(HANDLE hFindFile);
