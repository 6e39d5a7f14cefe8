#include "ui/widgets/uX11.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWidget>

#include <cstddef>
#include <cstdlib>
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

#ifdef KORVANE_HAVE_XCB
namespace {

// The press of XInput 2, which Qt asks the server for where it has it (the
// layout of the protocol's DeviceEvent as xcb hands it over, its full
// sequence number inserted after the first 32 bytes).
struct TXIButtonPress {
  std::uint8_t response_type, extension;
  std::uint16_t sequence;
  std::uint32_t length;
  std::uint16_t event_type, deviceid;
  std::uint32_t time, detail, root, event, child, full_sequence;
  std::int32_t root_x, root_y, event_x, event_y;  // 16.16 fixed point
};
static_assert(offsetof(TXIButtonPress, full_sequence) == 32 && offsetof(TXIButtonPress, event_y) == 48,
              "the layout xcb hands over");
constexpr std::uint16_t kXIButtonPress = 4;

}  // namespace
#endif

TModalTrayPressRelay::TModalTrayPressRelay() {
#ifdef KORVANE_HAVE_XCB
  if (!qApp || QGuiApplication::platformName() != QLatin1String("xcb")) return;
  if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>(); x11 && x11->connection()) {
    static const char kName[] = "XInputExtension";
    xcb_query_extension_reply_t* reply = xcb_query_extension_reply(
        x11->connection(), xcb_query_extension(x11->connection(), sizeof kName - 1, kName), nullptr);
    if (reply && reply->present) FXInputOpcode = reply->major_opcode;
    std::free(reply);
  }
  qApp->installNativeEventFilter(this);
  FInstalled = true;
#endif
}

TModalTrayPressRelay::~TModalTrayPressRelay() {
  if (FInstalled && qApp) qApp->removeNativeEventFilter(this);
}

bool TModalTrayPressRelay::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
#ifdef KORVANE_HAVE_XCB
  if (eventType != "xcb_generic_event_t" || !QApplication::activeModalWidget()) return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  std::uint32_t window = 0, time = 0, detail = 0;
  QPointF local, global;
  const std::uint8_t type = event->response_type & 0x7f;
  if (type == XCB_BUTTON_PRESS) {
    const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(event);
    window = press->event;
    time = press->time;
    detail = press->detail;
    local = QPointF(press->event_x, press->event_y);
    global = QPointF(press->root_x, press->root_y);
  } else if (type == XCB_GE_GENERIC && FXInputOpcode != 0) {
    const auto* press = reinterpret_cast<const TXIButtonPress*>(event);
    if (press->extension != FXInputOpcode || press->event_type != kXIButtonPress) return false;
    window = press->event;
    time = press->time;
    detail = press->detail;
    local = QPointF(press->event_x / 65536.0, press->event_y / 65536.0);
    global = QPointF(press->root_x / 65536.0, press->root_y / 65536.0);
  } else {
    return false;
  }
  QWidget* icon = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == QLatin1String("QSystemTrayIconSys") && w->internalWinId() == window) icon = w;
  if (!icon) return false;
  const Qt::MouseButton button = detail == 1   ? Qt::LeftButton
                                 : detail == 2 ? Qt::MiddleButton
                                 : detail == 3 ? Qt::RightButton
                                               : Qt::NoButton;
  if (button == Qt::NoButton) return false;  // the wheel
  bool doubleClick = false;
  if (button == Qt::LeftButton) {
    const auto interval =
        static_cast<std::uint32_t>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    doubleClick = FLeftWindow == window && time - FLeftTime <= interval;
    FLeftWindow = doubleClick ? 0 : window;
    FLeftTime = time;
  }
  // Posted: the menu opens from the event loop, not inside the filter.
  QCoreApplication::postEvent(
      icon, new QMouseEvent(doubleClick ? QEvent::MouseButtonDblClick : QEvent::MouseButtonPress, local,
                            global, button, button, Qt::NoModifier));
  return true;  // Qt would drop it
#else
  (void)eventType;
  (void)message;
  return false;
#endif
}
