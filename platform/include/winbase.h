// String helpers of kernel32.
#pragma once

#include "minwindef.h"

// Word-sort comparison in the user's locale, case-sensitive (lower case before upper
// case of the same letter, accents after the plain letter), as Windows sorts.
// Returns <0, 0 or >0.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
// Same ordering ignoring case.
int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
int WINAPI lstrlenA(LPCSTR lpString);

#define MAX_COMPUTERNAME_LENGTH 15

// The computer's name: the host name (up to its first '.'), as the system gives it.
// *nSize is the buffer's size in; the length without the NUL out. A buffer too small
// fails with ERROR_BUFFER_OVERFLOW and *nSize the size needed with the NUL.
BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
