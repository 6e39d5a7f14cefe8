// TTrayIcon: the program's notification-area icon. The platform side sits
// behind ITrayBackend (QSystemTrayIcon in the program, a fake in tests).
// Where the desktop has no tray the icon waits: availability is polled and
// the icon is added again once a tray appears (also after the tray restarts);
// meanwhile balloons go to the desktop's notifications.
#pragma once

#include "core/uScopedSeam.h"
#include "core/uThread.h"
#include "ui/main/uServerMessage.h"

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
class TTrayIcon;

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

// What the main window asks of the notification area: the few calls it makes.
class IMainTray {
 public:
  virtual ~IMainTray();
  // Title cut at 63 characters, text at 255; at the tray icon or, without a
  // tray, as a desktop notification.
  virtual void ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds) = 0;
  // A notification area exists now (the window may hide to it).
  virtual bool TrayAvailable() const = 0;
  // The end of the run: the icon goes, the timers and the message fetch stop.
  virtual void EndRun() = 0;
};

// The program's presence in the notification area, beside the main window: the
// icon and its menu, balloons, the out-of-date reminder and the server's
// message of the day with its fetch and timer. Created by the window owner
// right after the main window and deleted before it; it reaches the window
// only through its public calls (show, settings, About, close).
class TKorvaneTray : public QObject, public IMainTray {
  Q_OBJECT
 public:
  // The timers start with the program's intervals; tests restart them with
  // short ones (UInfoTimerTag is the retry interval).
  explicit TKorvaneTray(TMainForm& main);
  ~TKorvaneTray() override;

  // IMainTray
  void ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds) override;
  bool TrayAvailable() const override;
  void EndRun() override;

  TTrayIcon* Icon() const { return FIcon.get(); }  // null once the run has ended
  QMenu* TrayMenu;
  QTimer* UpdateDriverHintTimer;
  QTimer* UInfoTimer;
  int UInfoTimerTag = static_cast<int>(MessageRetryMs);  // the retry after an answer without a message
  unsigned MessageReadTimeoutMs = MessageReadTimeout;
  bool MessageShown = false;
  std::string MessageUrl;

  void TrayIconBalloonHintClick();
  void UpdateDriverHintTimerTimer();
  void UInfoTimerTimer();
  // Starts the message fetch; the handle is signalled once its answer is processed.
  TWaitHandle FetchServerMessage();
  void ServerMessageReceived(const std::u16string& body);
  void Settings1Click();
  void Exit1Click();

 private:
  TMainForm& FMain;
  std::unique_ptr<TTrayIcon> FIcon;
  TWorkerOwner FMessageFetch;  // the running message fetch
};
