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

#include <QAction>
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

// ---- the program's notification-area part --------------------------------------

IMainTray::~IMainTray() = default;

TKorvaneTray::TKorvaneTray(TMainForm& main) : QObject(nullptr), FMain(main) {
  setObjectName(QStringLiteral("KorvaneTray"));
  TrayMenu = new QMenu();  // a popup of its own: it goes with the tray, whichever goes first
  TrayMenu->setObjectName(QStringLiteral("TrayMenu"));
  // Menu actions run like button clicks: a picture that cannot be loaded is
  // reported, never thrown out of the event loop.
  auto item = [this](const char* name, const char* caption, std::function<void()> action) {
    QAction* a = TrayMenu->addAction(QString::fromLatin1(caption));
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this,
            [action = std::move(action)] { RunSkinGuarded([&] { action(); }); });
  };
  item("ShowKorvane1", "Show Korvane", [this] { FMain.ShowKorvane1Click(); });
  item("Settings1", "Settings", [this] { Settings1Click(); });
  item("N1", "About...", [this] { FMain.ImBtnAboutClick(); });
  TrayMenu->addSeparator()->setObjectName(QStringLiteral("N2"));
  item("Exit1", "Exit", [this] { Exit1Click(); });

  auto backend = BackendFactory() ? BackendFactory()(this) : CreateQtTrayBackend(this);
  FIcon = std::make_unique<TTrayIcon>(std::move(backend));
  FIcon->SetIcon(TrayIconPicture());
  FIcon->SetHint(TrayHint);
  FIcon->SetPopupMenu(TrayMenu);
  FIcon->OnBalloonHintClick = [this] { TrayIconBalloonHintClick(); };
  FIcon->OnDblClick = [this] { TrayIconBalloonHintClick(); };
  FIcon->SetIconVisible(true);

  UpdateDriverHintTimer = new QTimer(this);
  UpdateDriverHintTimer->setObjectName(QStringLiteral("UpdateDriverHintTimer"));
  connect(UpdateDriverHintTimer, &QTimer::timeout, this, [this] { UpdateDriverHintTimerTimer(); });
  UpdateDriverHintTimer->start(ReminderIntervalMs);
  UInfoTimer = new QTimer(this);
  UInfoTimer->setObjectName(QStringLiteral("UInfoTimer"));
  connect(UInfoTimer, &QTimer::timeout, this, [this] { UInfoTimerTimer(); });
  UInfoTimer->start(static_cast<int>(MessageFirstFetchDelayMs()));
}

TKorvaneTray::~TKorvaneTray() {
  EndRun();
  delete TrayMenu;
}

void TKorvaneTray::EndRun() {
  UpdateDriverHintTimer->stop();
  UInfoTimer->stop();
  FMessageFetch.LetGo();  // its completion would find no tray
  FIcon.reset();          // the icon goes with the program
}

bool TKorvaneTray::TrayAvailable() const { return FIcon && FIcon->TrayAvailable(); }

void TKorvaneTray::ShowBalloon(const std::string& title, const std::string& text, int iconKind, int seconds) {
  if (FIcon) FIcon->ShowBalloon(title, text, iconKind, seconds);
}

void TKorvaneTray::TrayIconBalloonHintClick() {
  // A link from the server opens only as a web page; anything else is no link.
  if (MessageShown && IsWebLink(MessageUrl))
    OpenWebLink(MessageUrl);  // failure ignored
  else
    FMain.ShowKorvane1Click();
  MessageUrl.clear();
}

void TKorvaneTray::UpdateDriverHintTimerTimer() {
  UpdateDriverHintTimer->stop();  // once per run, shown or not
  if (!FMain.Settings().IsSysUpdated) ShowBalloon(ReminderTitle, ReminderText, bitWarning, 60);
}

void TKorvaneTray::Settings1Click() { FMain.ImBtnSettingsClick(); }

void TKorvaneTray::Exit1Click() { FMain.CloseProgram(); }

void TKorvaneTray::UInfoTimerTimer() {
  UInfoTimer->stop();
  FetchServerMessage();
}

TWaitHandle TKorvaneTray::FetchServerMessage() {
  auto* thread = new TSSLRequestThread(true);  // lower priority
  thread->UseTLS = false;
  thread->URL = UserMessageAddress();
  thread->ReadTimeout = MessageReadTimeoutMs;
  TWaitHandle done = thread->Handle();
  // The tray owns the fetch (one at a time; an older one is let go).
  FMessageFetch.Start(
      thread, [this](TThread& t) { ServerMessageReceived(static_cast<TSSLRequestThread&>(t).Answer); });
  return done;
}

void TKorvaneTray::ServerMessageReceived(const std::u16string& body) {
  const TServerMessageDecision d =
      ProcessServerAnswer(WideToAnsi(body), FMain.State.TempFolder, FMain.State.ProgramVersion);
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
