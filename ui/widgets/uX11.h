// The X11 class of a top-level window (WM_CLASS), where the window system is X11.
#pragma once

class QWidget;

// Sets WM_CLASS to (instance, className) once the window exists; no-op elsewhere.
void SetX11WindowClass(QWidget* window, const char* instance, const char* className);

// True when an X server answers at `display` (always true without xcb support).
bool X11DisplayReachable(const char* display);
// Sends what the window system has queued (X11), before a process ends abruptly.
void FlushWindowSystem();
