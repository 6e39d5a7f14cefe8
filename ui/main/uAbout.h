// TAboutForm: the About box with the program version and the vendor link.
#pragma once

#include "ui/widgets/uSkinForm.h"

class TImage;
class TImageButton;
class TSkinLabel;

class TAboutForm : public TSkinForm {
  Q_OBJECT
 public:
  TAboutForm();
  ~TAboutForm() override;

  TImage* Image1;
  TImageButton* ImBtnClose;
  TSkinLabel* Label3;  // program version
  TSkinLabel* Label2;  // vendor web site

 protected:
  void FormShow() override;
  void FormClose() override;
};

extern TAboutForm* AboutForm;
