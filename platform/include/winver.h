// File version resources of the platform layer. An executable of ours carries
// its version block (the VS_VERSIONINFO tree of a Windows resource) in an ELF
// note named "Korvane" (see sysinfo/uVersionNote.h); other files have none.
#pragma once

#include "minwindef.h"

#ifndef ERROR_RESOURCE_DATA_NOT_FOUND
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#endif
#ifndef ERROR_RESOURCE_TYPE_NOT_FOUND
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#endif

#define VS_FFI_SIGNATURE 0xFEEF04BDL
#define VS_FFI_STRUCVERSION 0x00010000L
#define VS_FFI_FILEFLAGSMASK 0x0000003FL
#define VOS_NT_WINDOWS32 0x00040004L
#define VFT_APP 0x00000001L
#define VFT_DLL 0x00000002L

typedef struct tagVS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO keeps its Windows size");

// Size of the version block of the file, 0 when it has none (ERROR_RESOURCE_TYPE_NOT_FOUND)
// or cannot be read (ERROR_FILE_NOT_FOUND, ...). *lpdwHandle is set to 0.
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle);
// Copies the version block into lpData; fails with ERROR_INSUFFICIENT_BUFFER when
// dwLen is smaller than the size above.
BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
// "\" gives the VS_FIXEDFILEINFO, "\VarFileInfo\Translation" the language and code-page
// pairs; any binary value of the tree is found by its path. Text values are not offered.
BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen);
