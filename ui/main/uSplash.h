// TSplashForm: the logo shown when the main window is first shown within two
// seconds of the start. Its display ends two seconds after its creation.
#pragma once

#include "ui/widgets/uSkinForm.h"

class QTimer;
class TImage;

class TSplashForm : public TSkinForm {
  Q_OBJECT
 public:
  explicit TSplashForm(int intervalMs = 2000);

  TImage* ImSplashBg;
  QTimer* Timer1;
  // Tag: 0 while waiting, 1 once the timer has fired (or the run needs no splash).
  void MarkDone();

 private:
  void Timer1Timer();
};
