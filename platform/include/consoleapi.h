// Console control events: how the system asks a process to end.
//
// The layer maps the POSIX termination signals onto the Windows events:
// SIGINT is CTRL_C_EVENT, SIGHUP CTRL_CLOSE_EVENT (the terminal or session
// went away) and SIGTERM CTRL_SHUTDOWN_EVENT. As on Windows the handlers run
// on a thread of their own (never inside the signal handler: the signal only
// writes to a pipe that this thread reads), the last one added first, until
// one returns TRUE. With no handler, or none that returns TRUE, the signal's
// default action ends the process.
#pragma once

#include "minwindef.h"

#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6

typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD dwCtrlType);

// Adds (bAdd TRUE) or removes a handler. FALSE when the signals cannot be
// caught (GetLastError then tells why).
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL bAdd);
