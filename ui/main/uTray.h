// TTrayIcon: the program's notification-area icon. The platform side sits
// behind ITrayBackend (QSystemTrayIcon in the program, a fake in tests).
// Where the desktop has no tray the icon waits: availability is polled and
// the icon is added again once a tray appears (also after the tray restarts);
// meanwhile balloons go to the desktop's notifications.
#pragma once

#include "core/uScopedSeam.h"

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class IDesktopNotifier;
class QMenu;
class QTimer;
class TMainForm;

// Balloon icon kinds, as the program numbers them.
enum TBalloonIconKind { bitNone = 0, bitInfo = 1, bitWarning = 2, bitError = 3 };

constexpr int BalloonTitleMax = 63;
constexpr int BalloonTextMax = 255;

// The tray's fixed texts and the reminder.
constexpr const char* TrayHint = "Brantholm - Korvane";
constexpr const char* ReminderTitle = "Your Windows Drivers are Out of Date";
constexpr const char* ReminderText =
    "Korvane detect that some of your drivers are out of date. Brantholm strongly recommends you "
    "to scan your system for most current driver updates for your computer.";
constexpr const char* ServerMessageTitle = "Information";
// The reminder fires once, this long after the main window's creation.
constexpr int ReminderIntervalMs = 60000;
// How often a missing tray is looked for again.
constexpr unsigned TrayPollMs = 2000;

class ITrayBackend {
 public:
  virtual ~ITrayBackend();
  virtual bool Available() const = 0;  // a notification area exists now
  virtual void SetIcon(const QIcon& icon) = 0;
  virtual void SetToolTip(const QString& tip) = 0;
  virtual void SetMenu(QMenu* menu) = 0;
  virtual void SetVisible(bool visible) = 0;
  // Replaces a balloon still shown; msecs is the display time.
  virtual void ShowMessage(const QString& title, const QString& text, int iconKind, int msecs) = 0;
  // Set by TTrayIcon: a click on a balloon, a double-click on the icon.
  std::function<void()> OnBalloonClick;
  std::function<void()> OnDoubleClick;
};

// The real tray: QSystemTrayIcon.
std::unique_ptr<ITrayBackend> CreateQtTrayBackend(QObject* parent);
// What the main window creates its tray with (tests install a fake); empty: the real one.
using TTrayBackendFactory = std::function<std::unique_ptr<ITrayBackend>(QObject* parent)>;
// Returns the factory it replaced; tests set it through TScopedTrayBackend.
TTrayBackendFactory SetTrayBackendFactory(TTrayBackendFactory factory);
using TScopedTrayBackend = TScopedSeam<TTrayBackendFactory, &SetTrayBackendFactory>;

// The 16 x 16 tray picture from the program's resources (null when missing).
QIcon TrayIconPicture();

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  // pollMs: how often a missing tray is looked for again.
  explicit TTrayIcon(std::unique_ptr<ITrayBackend> backend, unsigned pollMs = TrayPollMs,
                     QObject* parent = nullptr);
  ~TTrayIcon() override;  // removes the icon

  void SetHint(const std::string& hint);  // code-page text
  void SetIcon(const QIcon& icon);
  void SetPopupMenu(QMenu* menu);
  void SetIconVisible(bool visible);
  bool IconVisible() const { return FVisible; }

  // Replaces any balloon still shown. Title and text are cut at 63 and 255
  // characters; the platform gets the time in milliseconds. While no tray
  // exists the balloon is a desktop notification whose default action is the
  // balloon's click; without a notification service nothing is shown (and
  // nothing reported).
  void ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds);

  std::function<void()> OnBalloonHintClick;
  std::function<void()> OnDblClick;

  ITrayBackend& Backend() { return *FBackend; }
  // A notification area exists now.
  bool TrayAvailable() const;
  // Where balloons go while no tray exists (the session bus's notification
  // service unless a test sets another; null: nowhere).
  void SetDesktopNotifier(std::unique_ptr<IDesktopNotifier> notifier);
  // Looks for the tray now (the poll timer calls it).
  void CheckTray();

 private:
  std::unique_ptr<ITrayBackend> FBackend;
  std::unique_ptr<IDesktopNotifier> FNotifier;
  QTimer* FPoll;
  bool FVisible = false;
  bool FWasAvailable = false;
};
