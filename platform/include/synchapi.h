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

// ---- Waiting for kernel objects (processes of processthreadsapi.h) ----------
#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// A process handle is signalled once the process has ended; a thread handle
// of a started process likewise. Other handles: WAIT_FAILED and
// ERROR_INVALID_HANDLE.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
