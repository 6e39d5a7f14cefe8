// TAboutForm: the About box with the program version and the vendor link.
#pragma once

#include "ui/widgets/uSkinForm.h"

class TImage;
class TMainForm;
class TImageButton;
class TSkinLabel;

class TAboutForm : public TSkinForm {
  Q_OBJECT
 public:
  // Shows the main window's program version and greys it while up.
  explicit TAboutForm(TMainForm& main);

  TImage* Image1;
  TImageButton* ImBtnClose;
  TSkinLabel* Label3;  // program version
  TSkinLabel* Label2;  // vendor web site

 protected:
  void FormShow() override;
  void FormClose() override;

 private:
  TMainForm& FMain;
};
