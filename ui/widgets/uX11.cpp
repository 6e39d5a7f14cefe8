#include "ui/widgets/uX11.h"

#include <QGuiApplication>
#include <QWidget>

#include <cstring>
#include <string>

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define KORVANE_HAVE_XCB 1
#endif

void SetX11WindowClass(QWidget* window, const char* instance, const char* className) {
#ifdef KORVANE_HAVE_XCB
  if (!window || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (!x11 || !x11->connection()) return;
  std::string value = std::string(instance) + '\0' + className + '\0';
  const auto id = static_cast<xcb_window_t>(window->winId());
  xcb_change_property(x11->connection(), XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      static_cast<uint32_t>(value.size()), value.data());
  xcb_flush(x11->connection());
#else
  (void)window;
  (void)instance;
  (void)className;
#endif
}

bool X11DisplayReachable(const char* display) {
#ifdef KORVANE_HAVE_XCB
  xcb_connection_t* c = xcb_connect(display, nullptr);
  const bool ok = c && xcb_connection_has_error(c) == 0;
  if (c) xcb_disconnect(c);
  return ok;
#else
  (void)display;
  return true;  // Qt finds out for itself
#endif
}

void FlushWindowSystem() {
#ifdef KORVANE_HAVE_XCB
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 && x11->connection()) xcb_flush(x11->connection());
#endif
}
