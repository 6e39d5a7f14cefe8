// Named mutexes: the single-instance guard.
//
// A named mutex is a per-user lock file in the session folder
// ($XDG_RUNTIME_DIR/korvane or /tmp/korvane-$UID, one subfolder per machine,
// like one wineserver per prefix): the process holding the lock is the first
// creator; every later CreateMutexA of the same name, in this or another
// process, gets a handle and ERROR_ALREADY_EXISTS. The lock goes with the
// creator's handle (CloseHandle) or its process.
#pragma once

#include "handleapi.h"
#include "minwindef.h"

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName);
BOOL WINAPI ReleaseMutex(HANDLE hMutex);
