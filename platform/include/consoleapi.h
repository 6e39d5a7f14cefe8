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

// ---- Standard handles and console modes -------------------------------------------
#define STD_INPUT_HANDLE (static_cast<DWORD>(-10))
#define STD_OUTPUT_HANDLE (static_cast<DWORD>(-11))
#define STD_ERROR_HANDLE (static_cast<DWORD>(-12))

#define ENABLE_PROCESSED_INPUT 0x0001
#define ENABLE_LINE_INPUT 0x0002
#define ENABLE_ECHO_INPUT 0x0004
#define ENABLE_PROCESSED_OUTPUT 0x0001

// The process's standard input, output or error as a file handle (never closed by
// the program: CloseHandle on it fails). INVALID_HANDLE_VALUE for another number.
HANDLE WINAPI GetStdHandle(DWORD nStdHandle);
// TRUE with the console's mode when the handle is a console (a terminal); FALSE
// with ERROR_INVALID_HANDLE for a file or a pipe.
BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);
