#include "ui/main/uDesktopNotify.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";

// Icon names of the freedesktop icon theme for the balloon's icon kinds.
QString IconName(int kind) {
  switch (kind) {
    case 1: return QStringLiteral("dialog-information");
    case 2: return QStringLiteral("dialog-warning");
    case 3: return QStringLiteral("dialog-error");
    default: return QStringLiteral("korvane");
  }
}

}  // namespace

QString NotificationText(const QString& text) { return text.toHtmlEscaped(); }

IDesktopNotifier::~IDesktopNotifier() = default;

TDBusNotifier::TDBusNotifier(int callMs, QObject* parent) : QObject(parent), FCallMs(callMs) {}

bool TDBusNotifier::Show(const QString& title, const QString& text, int iconKind, int msecs) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  if (!FConnected) {
    bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
    bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                QStringLiteral("NotificationClosed"), this, SLOT(NotificationClosed(uint, uint)));
    FConnected = true;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                     QString::fromLatin1(kInterface), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("korvane"));
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(iconKind >= 2 ? 1 : 0));
  // "default" is the action a click on the notification runs.
  // The service renders a subset of HTML (links, images from files): the texts, which
  // may come from the update server, are shown as text.
  call << QStringLiteral("Korvane") << FShown << IconName(iconKind) << NotificationText(title)
       << NotificationText(text) << QStringList{QStringLiteral("default"), QStringLiteral("Show Korvane")}
       << hints << msecs;
  const QDBusMessage reply = bus.call(call, QDBus::Block, FCallMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  FShown = reply.arguments().constFirst().toUInt();
  FOurs.insert(FShown);
  return true;
}

void TDBusNotifier::ActionInvoked(uint id, const QString& action) {
  // Other programs' notifications come through the same signal.
  if (!FOurs.contains(id) || action != QLatin1String("default")) return;
  if (OnClick) OnClick();
}

void TDBusNotifier::NotificationClosed(uint id, uint) {
  if (id == FShown) FShown = 0;
}
