// Module look-up of the platform layer. Only "kernel32.dll" is known; its
// optional entry points exist or not as the machine says.
#pragma once

#include "minwindef.h"

// A module handle for "kernel32.dll" (any letter case, with or without the
// extension); NULL with ERROR_MOD_NOT_FOUND for any other name.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
// "GetProductInfo" and "GetNativeSystemInfo" when the machine has them (cast
// to PGPI / PGNSI of sysinfoapi.h); NULL with ERROR_PROC_NOT_FOUND otherwise.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// The full path of the running program (hModule NULL; any other module fails with
// ERROR_MOD_NOT_FOUND). Returns the length copied without the NUL; a buffer too
// small receives as much as fits, NUL-terminated, and the call returns nSize with
// ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
