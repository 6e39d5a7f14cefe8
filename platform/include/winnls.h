// Locale text comparison of the platform layer (code page 1252 text).
#pragma once

#include "minwindef.h"

typedef DWORD LCID;

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_INVARIANT 0x007F

#define NORM_IGNORECASE 0x00000001
#define NORM_IGNORENONSPACE 0x00000002
#define NORM_IGNORESYMBOLS 0x00000004
#define SORT_STRINGSORT 0x00001000

#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

// Compares two texts as lstrcmpA orders them; NORM_IGNORECASE folds the letters
// of code page 1252 first. A count of -1 means "up to the terminating zero".
// Returns CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN, or 0 with
// ERROR_INVALID_PARAMETER / ERROR_INVALID_FLAGS.
int WINAPI CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2,
                          int cchCount2);
