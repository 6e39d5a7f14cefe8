// Renders every window and dialog of the shell to PNG files for review:
//   korvane_screenshots OUTDIR
// The windows are grabbed with their rounded masks (outside the mask is
// transparent). Step 2 is shown without preparation, so no scan starts.
#include "core/uThread.h"
#include "resources/kvresources.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uAbout.h"
#include "ui/main/uInfo.h"
#include "ui/main/uKorvaneWindows.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/widgets/uSkinForm.h"
#include "ui/main/uSplash.h"
#include "ui/main/uTray.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

QString gOut;

void Save(QWidget* w, const QString& name) {
  QCoreApplication::processEvents();
  QImage shot = w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  const QRegion mask = w->mask();
  if (!mask.isEmpty()) {
    QImage clipped(shot.size(), QImage::Format_ARGB32);
    clipped.fill(Qt::transparent);
    QPainter p(&clipped);
    p.setClipRegion(mask);
    p.drawImage(0, 0, shot);
    p.end();
    shot = clipped;
  }
  const QString path = gOut + QLatin1Char('/') + name + QStringLiteral(".png");
  shot.save(path);
  std::printf("%s\n", qPrintable(path));
}

// Grabs a dialog while it is "up": the hook runs in place of the modal run.
void SaveDialog(TMainForm* main, TSkinForm* form, const QString& name, const std::function<void()>& run) {
  form->ModalHook = [=](TSkinForm& f) {
    f.show();
    QTest::qWait(50);
    Save(&f, name);
    Save(main, name + QStringLiteral("_behind"));
    f.hide();
    return mrCancel;
  };
  run();
  form->ModalHook = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  gOut = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  QDir().mkpath(gOut);
  KorvaneInitResources();
  LoadServerUrls();
  TQtUiQueue queue;
  InstallUiQueue(&queue);

  auto windows = std::make_unique<TKorvaneWindows>();
  TMainForm* main = &windows->Main();
  TAboutForm* about = &windows->About();
  TInfoForm* info = &windows->Info();
  TSplashForm* splash = &windows->Splash();
  main->State.ProgramVersion = main->State.ProgramVersion.empty() ? "1.0.0.0" : main->State.ProgramVersion;
  splash->MarkDone();
  main->show();
  QTest::qWait(200);

  Save(main, QStringLiteral("main_step1_start"));
  main->ShowStep(2, false);
  main->SetStepHeader(2);
  Save(main, QStringLiteral("main_step2_scan"));
  main->ShowStep(3, true);
  Save(main, QStringLiteral("main_step3_results"));
  main->ShowStep(4, true);
  Save(main, QStringLiteral("main_step4_settings"));
  main->ShowStep(1, true);

  SaveDialog(main, about, QStringLiteral("about"), [&] { about->ShowModal(); });
  SaveDialog(main, info, QStringLiteral("info_notice"),
             [&] { info->ShowNotice("Selected directory is not writeable. Select another directory."); });
  SaveDialog(main, info, QStringLiteral("info_prompt"), [&] {
    info->MessageText =
        "To continue updating drivers, you need to have an active Internet connection. Connect to the Internet and "
        "click OK.";
    info->ShowModal();
  });
  SaveDialog(main, info, QStringLiteral("info_link"), [&] {
    info->MessageText =
        "Downloading completed. File has been saved to \r\n/home/user/Downloads/nvidia-display-6.14.zip\r\n\r\nIf you "
        "have any questions please read our FAQ:";
    info->LinkText = VendorURL() + "/kvn/faq";
    info->ShowModal();
  });
  // The tray menu; the reminder balloon too where a tray host runs (trayer).
  windows->Tray().TrayMenu->popup(QPoint(860, 30));
  QTest::qWait(100);
  Save(windows->Tray().TrayMenu, QStringLiteral("tray_menu"));
  windows->Tray().TrayMenu->hide();
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    QTest::qWait(500);  // the icon docks first
    main->Settings().IsSysUpdated = false;
    windows->Tray().UpdateDriverHintTimer->start(0);
    for (int i = 0; i < 50; ++i) {
      QTest::qWait(40);
      QWidget* tip = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (qstrcmp(w->metaObject()->className(), "QBalloonTip") == 0 && w->isVisible()) tip = w;
      if (tip) {
        Save(tip, QStringLiteral("tray_reminder_balloon"));
        tip->hide();
        break;
      }
    }
  }
  splash->show();
  QTest::qWait(50);
  Save(splash, QStringLiteral("splash"));
  splash->hide();

  CloseUiQueue();
  TThread::TerminateAll(2000);
  windows.reset();
  InstallUiQueue(nullptr);
  return 0;
}
