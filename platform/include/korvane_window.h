// C++ extras of the window functions (not Windows).
//
// The layer keeps its own table of top-level windows: a program registers its
// window with a class name and a caption, and FindWindowA/PostMessageA/
// GetWindowRect/SetWindowPos then reach it, from this process or from any
// other process of the same user and machine (a per-process local socket in
// the session folder answers for the windows of that process).
#pragma once

#include "minwindef.h"
#include "windef.h"

#include <functional>
#include <string>
#include <utility>

struct KorvaneWindowCallbacks {
  // A message posted to the window. Called on a thread of the layer (not the
  // caller's, not the user-interface thread): hand it on to the event loop.
  std::function<void(UINT msg, WPARAM wParam, LPARAM lParam)> Post;
  // Screen rectangle of the window; false when unknown.
  std::function<bool(RECT& rect)> GetRect;
  // Moves/sizes the window as SetWindowPos asks (flags SWP_...).
  std::function<bool(HWND insertAfter, int x, int y, int cx, int cy, UINT flags)> SetPos;
};

// Registers a window; the handle stays valid until KorvaneUnregisterWindow.
HWND KorvaneRegisterWindow(const std::string& className, const std::string& caption,
                           KorvaneWindowCallbacks callbacks);
void KorvaneSetWindowCaption(HWND hwnd, const std::string& caption);
void KorvaneUnregisterWindow(HWND hwnd);

// The session folder of this user and machine (created 0700 on first use);
// empty when no safe folder can be had.
std::string KorvaneSessionFolder();

// Replaces what ShellExecuteA does (tests, screenshots): the hook gets the
// operation (may be empty), the file and the parameters, and returns true
// for success. An empty hook restores the desktop's handler.
using KorvaneShellExecuteHook =
    std::function<bool(const std::string& operation, const std::string& file, const std::string& parameters)>;
// Returns the hook it replaced; tests set it through KorvaneScopedShellExecuteHook.
KorvaneShellExecuteHook KorvaneSetShellExecuteHook(KorvaneShellExecuteHook hook);

// How long ShellExecuteA gives the desktop's opener to refuse a document before
// the document counts as opened (default 1500 ms); returns the previous value.
// Tests on a loaded machine raise it: a refusal still ends the wait at once.
int KorvaneSetOpenVerdictMs(int ms);

// The shell hook for one scope: the previous one comes back at its end.
class KorvaneScopedShellExecuteHook {
 public:
  explicit KorvaneScopedShellExecuteHook(KorvaneShellExecuteHook hook)
      : previous_(KorvaneSetShellExecuteHook(std::move(hook))) {}
  ~KorvaneScopedShellExecuteHook() { KorvaneSetShellExecuteHook(std::move(previous_)); }
  KorvaneScopedShellExecuteHook(const KorvaneScopedShellExecuteHook&) = delete;
  KorvaneScopedShellExecuteHook& operator=(const KorvaneScopedShellExecuteHook&) = delete;

 private:
  KorvaneShellExecuteHook previous_;
};
