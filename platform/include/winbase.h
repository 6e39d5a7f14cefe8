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
