#include "ui/main/uTray.h"

#include "core/uWebLink.h"
#include "scan/uSSLRequest.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uDesktopNotify.h"
#include "ui/main/uServerMessage.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uText.h"
#include "ui/widgets/uX11.h"

#include <korvane_text.h>
#include <shellapi.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>
#include <vector>

ITrayBackend::~ITrayBackend() = default;

namespace {

class TQtTrayBackend : public ITrayBackend {
 public:
  explicit TQtTrayBackend(QObject* parent) : FIcon(new QSystemTrayIcon(parent)) {
    // Qt reports any press on the icon while a balloon shows as a balloon
    // click, followed at once by the press's own activation. Only a click on
    // the balloon itself counts: the click is decided once the press's
    // events are through, and an activation in between cancels it.
    QObject::connect(FIcon, &QSystemTrayIcon::messageClicked, FIcon, [this] {
      FBalloonClickPending = true;
      QMetaObject::invokeMethod(
          FIcon,
          [this] {
            if (!FBalloonClickPending) return;
            FBalloonClickPending = false;
            if (OnBalloonClick) OnBalloonClick();
          },
          Qt::QueuedConnection);
    });
    QObject::connect(FIcon, &QSystemTrayIcon::activated, FIcon, [this](QSystemTrayIcon::ActivationReason r) {
      FBalloonClickPending = false;  // a press on the icon, not on the balloon
      if (r == QSystemTrayIcon::DoubleClick && OnDoubleClick) OnDoubleClick();
    });
  }
  ~TQtTrayBackend() override {
    FIcon->hide();
    delete FIcon;
  }
  bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
  void SetIcon(const QIcon& icon) override { FIcon->setIcon(icon); }
  void SetToolTip(const QString& tip) override { FIcon->setToolTip(tip); }
  void SetMenu(QMenu* menu) override { FIcon->setContextMenu(menu); }
  void SetVisible(bool visible) override { FIcon->setVisible(visible); }
  void ShowMessage(const QString& title, const QString& text, int kind, int msecs) override {
    static const QSystemTrayIcon::MessageIcon icons[4] = {
        QSystemTrayIcon::NoIcon, QSystemTrayIcon::Information, QSystemTrayIcon::Warning,
        QSystemTrayIcon::Critical};
    FIcon->showMessage(title, text, icons[(kind >= 0 && kind <= 3) ? kind : 0], msecs);
  }

 private:
  QSystemTrayIcon* FIcon;
  bool FBalloonClickPending = false;
  TModalTrayPressRelay FModalPresses;  // the menu opens behind a modal dialog too
};

TTrayBackendFactory& BackendFactory() {
  static TTrayBackendFactory f;
  return f;
}

}  // namespace

std::unique_ptr<ITrayBackend> CreateQtTrayBackend(QObject* parent) {
  return std::make_unique<TQtTrayBackend>(parent);
}

TTrayBackendFactory SetTrayBackendFactory(TTrayBackendFactory factory) {
  TTrayBackendFactory previous = std::move(BackendFactory());
  BackendFactory() = std::move(factory);
  return previous;
}

QIcon TrayIconPicture() {
  QFile file(QStringLiteral(":/rcdata/TRAYICON"));
  if (!file.open(QIODevice::ReadOnly)) return QIcon();
  QByteArray data = file.readAll();
  QBuffer buffer(&data);
  QImageReader reader(&buffer, "ico");
  const QImage image = reader.read();
  return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// ---- TTrayIcon ---------------------------------------------------------------------

TTrayIcon::TTrayIcon(std::unique_ptr<ITrayBackend> backend, unsigned pollMs, QObject* parent)
    : QObject(parent), FBackend(std::move(backend)), FPoll(new QTimer(this)) {
  FBackend->OnBalloonClick = [this] {
    if (OnBalloonHintClick) OnBalloonHintClick();
  };
  FBackend->OnDoubleClick = [this] {
    if (OnDblClick) OnDblClick();
  };
  connect(FPoll, &QTimer::timeout, this, &TTrayIcon::CheckTray);
  FPoll->start(static_cast<int>(pollMs));
  SetDesktopNotifier(std::make_unique<TDBusNotifier>());
}

TTrayIcon::~TTrayIcon() {
  if (FVisible) FBackend->SetVisible(false);
}

void TTrayIcon::SetHint(const std::string& hint) { FBackend->SetToolTip(AnsiToQ(hint)); }
void TTrayIcon::SetIcon(const QIcon& icon) { FBackend->SetIcon(icon); }
void TTrayIcon::SetPopupMenu(QMenu* menu) { FBackend->SetMenu(menu); }

void TTrayIcon::SetIconVisible(bool visible) {
  FVisible = visible;
  FWasAvailable = FBackend->Available();
  if (!visible || FWasAvailable) FBackend->SetVisible(visible);
}

void TTrayIcon::CheckTray() {
  const bool now = FBackend->Available();
  // A tray that appeared (or came back): add the icon again, as after "TaskbarCreated".
  if (now && !FWasAvailable && FVisible) {
    FBackend->SetVisible(false);
    FBackend->SetVisible(true);
  }
  FWasAvailable = now;
}

bool TTrayIcon::TrayAvailable() const { return FBackend->Available(); }

void TTrayIcon::SetDesktopNotifier(std::unique_ptr<IDesktopNotifier> notifier) {
  FNotifier = std::move(notifier);
  if (FNotifier)
    FNotifier->OnClick = [this] {
      if (OnBalloonHintClick) OnBalloonHintClick();
    };
}

void TTrayIcon::ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds) {
  const std::string t = title.substr(0, BalloonTitleMax);
  const std::string m = text.substr(0, BalloonTextMax);
  if (FBackend->Available())
    FBackend->ShowMessage(AnsiToQ(t), AnsiToQ(m), iconKind, seconds * 1000);
  else if (FNotifier)
    FNotifier->Show(AnsiToQ(t), AnsiToQ(m), iconKind, seconds * 1000);  // no service: nothing shown
}

// ---- the main window's notification-area part ----------------------------------

void TMainForm::CreateTray() {
  TrayMenu = new QMenu(this);
  TrayMenu->setObjectName(QStringLiteral("TrayMenu"));
  // Menu actions run like button clicks: a picture that cannot be loaded is
  // reported, never thrown out of the event loop.
  auto item = [this](const char* name, const char* caption, void (TMainForm::*action)()) {
    QAction* a = TrayMenu->addAction(QString::fromLatin1(caption));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, [this, action] { RunSkinGuarded([&] { (this->*action)(); }); });
  };
  item("ShowKorvane1", "Show Korvane", &TMainForm::ShowKorvane1Click);
  item("Settings1", "Settings", &TMainForm::Settings1Click);
  item("N1", "About...", &TMainForm::ImBtnAboutClick);
  TrayMenu->addSeparator()->setObjectName(QStringLiteral("N2"));
  item("Exit1", "Exit", &TMainForm::Exit1Click);

  auto backend = BackendFactory() ? BackendFactory()(this) : CreateQtTrayBackend(this);
  TrayIcon = new TTrayIcon(std::move(backend));
  TrayIcon->SetIcon(TrayIconPicture());
  TrayIcon->SetHint(TrayHint);
  TrayIcon->SetPopupMenu(TrayMenu);
  TrayIcon->OnBalloonHintClick = [this] { TrayIconBalloonHintClick(); };
  TrayIcon->OnDblClick = [this] { TrayIconBalloonHintClick(); };
  TrayIcon->SetIconVisible(true);

  UpdateDriverHintTimer = new QTimer(this);
  UpdateDriverHintTimer->setObjectName(QStringLiteral("UpdateDriverHintTimer"));
  connect(UpdateDriverHintTimer, &QTimer::timeout, this, [this] { UpdateDriverHintTimerTimer(); });
  UpdateDriverHintTimer->start(ReminderIntervalMs);
  UInfoTimer = new QTimer(this);
  UInfoTimer->setObjectName(QStringLiteral("UInfoTimer"));
  connect(UInfoTimer, &QTimer::timeout, this, [this] { UInfoTimerTimer(); });
  UInfoTimer->start(static_cast<int>(MessageFirstFetchDelayMs()));
}

void TMainForm::ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds) {
  if (TrayIcon) TrayIcon->ShowBalloon(title, text, iconKind, seconds);
}

void TMainForm::TrayIconBalloonHintClick() {
  // A link from the server opens only as a web page; anything else is no link.
  if (MessageShown && IsWebLink(MessageUrl))
    OpenWebLink(MessageUrl);  // failure ignored
  else
    ShowKorvane1Click();
  MessageUrl.clear();
}

void TMainForm::UpdateDriverHintTimerTimer() {
  UpdateDriverHintTimer->stop();  // once per run, shown or not
  if (!Settings().IsSysUpdated) ShowBalloon(ReminderTitle, ReminderText, bitWarning, 60);
}

void TMainForm::Settings1Click() {
  ShowKorvane1Click();
  ShowStep(4, true);
}

void TMainForm::Exit1Click() { CloseProgram(); }

void TMainForm::UInfoTimerTimer() {
  UInfoTimer->stop();
  FetchServerMessage();
}

TWaitHandle TMainForm::FetchServerMessage() {
  auto* thread = new TSSLRequestThread(true);  // lower priority
  thread->UseTLS = false;
  thread->URL = UserMessageAddress();
  thread->ReadTimeout = MessageReadTimeoutMs;
  TWaitHandle done = thread->Handle();
  // The window owns the fetch (one at a time; an older one is let go).
  FMessageFetch.Start(
      thread, [this](TThread& t) { ServerMessageReceived(static_cast<TSSLRequestThread&>(t).Answer); });
  return done;
}

void TMainForm::ServerMessageReceived(const std::u16string& body) {
  const TServerMessageDecision d = ProcessServerAnswer(WideToAnsi(body), State.TempFolder, State.ProgramVersion);
  if (!d.HasMessages) {
    // Nothing published (or no answer): ask again after the longer interval.
    UInfoTimer->start(UInfoTimerTag);
    return;
  }
  UInfoTimer->stop();  // one answer with messages per run
  if (d.Examined) MessageUrl = d.Url;
  if (d.Show) {
    MessageShown = true;
    ShowBalloon(ServerMessageTitle, d.Text, bitInfo, 60);
  }
}
