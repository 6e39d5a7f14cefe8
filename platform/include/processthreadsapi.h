// Processes: start a program from a command line, wait for it, read its exit code.
//
// The command line is split the way Windows programs split theirs
// (CommandLineToArgvW): words apart by blanks outside quotes; 2n backslashes before
// a quote give n backslashes and the quote opens or closes a quoted part, 2n+1 give
// n backslashes and a literal quote; "" inside quotes is one quote. The first word
// is the program and follows the same rules, so a quote in a folder name (written
// \") cannot end a quoted program name early. The program is started directly (no
// shell), so nothing in the line is interpreted further.
#pragma once

#include "handleapi.h"
#include "minwindef.h"

#ifndef STILL_ACTIVE
#define STILL_ACTIVE 259
#endif

#ifndef ERROR_BAD_EXE_FORMAT
#define ERROR_BAD_EXE_FORMAT 193L
#endif

#define STARTF_USESHOWWINDOW 0x00000001
#define CREATE_NEW_CONSOLE 0x00000010
#define NORMAL_PRIORITY_CLASS 0x00000020
#define CREATE_NO_WINDOW 0x08000000

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *PPROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Starts a program. lpApplicationName, when given, is the program and
// lpCommandLine its whole command line (first token included, as on Windows);
// otherwise the first token of lpCommandLine is the program. lpEnvironment
// NULL inherits this process's environment; lpCurrentDirectory NULL inherits
// its folder. On success both handles of lpProcessInformation must be closed
// with CloseHandle. A program that does not exist or cannot be run: FALSE and
// ERROR_FILE_NOT_FOUND / ERROR_ACCESS_DENIED / ERROR_BAD_EXE_FORMAT.
BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes, LPSECURITY_ATTRIBUTES lpThreadAttributes,
                           BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment,
                           LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation);

// The exit code of a process that has ended, or STILL_ACTIVE.
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
DWORD WINAPI GetCurrentProcessId(void);

// ---- Thread priorities ---------------------------------------------------------
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// The pseudo handle that stands for the calling thread (closing it does nothing).
HANDLE WINAPI GetCurrentThread(void);
// Sets the calling thread's priority (hThread must be GetCurrentThread()); any other
// handle fails with ERROR_INVALID_HANDLE, a level outside LOWEST..HIGHEST with
// ERROR_INVALID_PARAMETER. The system may refuse a rise (ERROR_ACCESS_DENIED).
BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority);
// The calling thread's priority level, or THREAD_PRIORITY_ERROR_RETURN.
int WINAPI GetThreadPriority(HANDLE hThread);
