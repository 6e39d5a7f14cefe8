// The X11 class of a top-level window (WM_CLASS), where the window system is X11.
#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>

class QWidget;

// Sets WM_CLASS to (instance, className) once the window exists; no-op elsewhere.
void SetX11WindowClass(QWidget* window, const char* instance, const char* className);

// True when an X server answers at `display` (always true without xcb support).
bool X11DisplayReachable(const char* display);
// Sends what the window system has queued (X11), before a process ends abruptly.
void FlushWindowSystem();

// While a dialog runs modally Qt holds back the presses on every other window
// of the program, and on an XEmbed tray the icon is such a window: its menu,
// with "Exit", would not open until the dialog closed, although a tray icon
// answers behind a modal dialog elsewhere. This filter hands the presses on
// the icon (the widget Qt names "QSystemTrayIconSys") to the icon itself
// while a modal dialog is up. Installed for as long as the object lives;
// nothing happens off X11.
class TModalTrayPressRelay : public QAbstractNativeEventFilter {
 public:
  TModalTrayPressRelay();
  ~TModalTrayPressRelay() override;
  TModalTrayPressRelay(const TModalTrayPressRelay&) = delete;
  TModalTrayPressRelay& operator=(const TModalTrayPressRelay&) = delete;
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  bool FInstalled = false;
  std::uint8_t FXInputOpcode = 0;  // XInput's major opcode; 0 without it
  // The last left press on an icon, for double-clicks (X server time, ms).
  std::uint32_t FLeftWindow = 0;
  std::uint32_t FLeftTime = 0;
};
