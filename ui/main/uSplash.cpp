#include "ui/main/uSplash.h"

#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"

#include <QTimer>

TSplashForm::TSplashForm(int intervalMs) : TSkinForm(QStringLiteral("TSplashForm"), 315, 170, true) {
  ImSplashBg = new TImage(this, QStringLiteral("ImSplashBg"));
  ImSplashBg->setGeometry(0, 0, 315, 170);
  RunSkinGuarded([&] { LoadJpegResource("START_LOGO", ImSplashBg); });
  SetRoundWindowRegion(this, 315, 170, 6, 6);
  Timer1 = new QTimer(this);
  Timer1->setInterval(intervalMs);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
}

void TSplashForm::Timer1Timer() {
  Timer1->stop();
  SetModalResult(mrOk);
  Tag = 1;
}

void TSplashForm::MarkDone() {
  Timer1->stop();
  Tag = 1;
}
