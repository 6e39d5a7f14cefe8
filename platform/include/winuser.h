// User-interface queries of the platform layer.
#pragma once

#include "minwindef.h"

// ---- System metrics -------------------------------------------------------
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CLEANBOOT 67
#define SM_SERVERR2 89

// SM_SERVERR2 as the machine says (os.json "serverR2"; 0 on the live host);
// 0 for every metric the layer does not know.
int WINAPI GetSystemMetrics(int nIndex);

// ---- Windows and messages ---------------------------------------------------

#include "windef.h"

#define WM_NULL 0x0000
#define WM_CLOSE 0x0010
#define WM_USER 0x0400
#define WM_APP 0x8000

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080

#define HWND_TOP (reinterpret_cast<HWND>(0))
#define HWND_BOTTOM (reinterpret_cast<HWND>(1))
#define HWND_TOPMOST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2)))

// The windows registered with the layer (korvane_window.h), in this process
// and in the other processes of the same user and machine. A null class or
// caption matches any. Not found: NULL.
HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
// Hands the message to the window's owner asynchronously; FALSE and
// ERROR_INVALID_WINDOW_HANDLE when the window is gone.
BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect);
BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
