// The shell's default action on a file or link.
#pragma once

#include "minwindef.h"

#ifndef SW_HIDE
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5
#endif

#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_NOASSOC 31

// Opens lpFile with the desktop's default handler (xdg-open), detached from
// this process; an executable local file is started itself, as the default
// verb on a program does. Returns a value above 32 on success, else an SE_ERR_
// code (a local file that does not exist gives SE_ERR_FNF).
HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                               LPCSTR lpDirectory, INT nShowCmd);
