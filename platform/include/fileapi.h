// File-system queries of the platform layer.
#pragma once

#include "minwindef.h"
#include "winerror.h"

// The machine's Temp/ folder with a trailing '/', created mode 0700 when missing.
// Returns the length written (without the NUL); when the buffer is too small, the size
// needed including the NUL. Returns 0 and sets the last error when the folder is a
// symbolic link, not a folder, not owned by the user or cannot be created.
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
