// Desktop notifications for a desktop without a notification area: the balloon's
// title and text go to org.freedesktop.Notifications on the session bus, and the
// notification's default action is the balloon's click.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

// Text escaped for the notification service's markup (& < > " as entities), so that
// it shows as written and no tag in it is followed.
QString NotificationText(const QString& text);

// How long a notification service is given to answer before it counts as missing.
constexpr int DesktopNotifyCallMs = 2000;

class IDesktopNotifier {
 public:
  virtual ~IDesktopNotifier();
  // Replaces the notification still shown; false when no notification service took it.
  virtual bool Show(const QString& title, const QString& text, int iconKind, int msecs) = 0;
  // Set by TTrayIcon: the notification's default action (a click on it).
  std::function<void()> OnClick;
};

// The real one, through Qt D-Bus.
class TDBusNotifier : public QObject, public IDesktopNotifier {
  Q_OBJECT
 public:
  explicit TDBusNotifier(int callMs = DesktopNotifyCallMs, QObject* parent = nullptr);
  bool Show(const QString& title, const QString& text, int iconKind, int msecs) override;

 private slots:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  int FCallMs;
  uint FShown = 0;    // the id of the notification still shown, 0 for none
  QSet<uint> FOurs;  // every id this run's notifications had
  bool FConnected = false;
};
