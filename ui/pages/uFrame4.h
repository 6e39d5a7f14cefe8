// TFrame4: the settings page (wizard step 4). It edits a copy of the general
// settings; OK copies it into the main window's Settings, Cancel drops it.
// Either way the wizard returns where it came from.
#pragma once

#include "ui/pages/uWizardPage.h"

class QLineEdit;
class TImage;
class TImageButton;
class TImageCheckBox;
class TSkinLabel;

class TFrame4 : public TWizardPage {
  Q_OBJECT
 public:
  explicit TFrame4(TMainForm& main);

  void PreparePage() override;
  void ShowCheckBoxes();
  void ImCheckBox1Click(TImageCheckBox* box);
  void ImBtnOKClick();
  void ImBtnCancelMouseUp();

  TImage* Image1;
  TSkinLabel* Title;
  TImageCheckBox* ImCheckBox1;  // AutoRun
  TImageCheckBox* ImCheckBox2;  // CloseToTray
  TImageCheckBox* ImCheckBox3;  // UseProxy: shows the stored choice only
  TImage* EditFrame1;
  TImage* EditFrame2;
  TImage* EditFrame3;
  TImage* EditFrame4;
  QLineEdit* Edit1;  // ProxyHost
  QLineEdit* Edit2;  // ProxyPort
  QLineEdit* Edit3;  // ProxyLogin
  QLineEdit* Edit4;  // ProxyPassw, shown as "*"
  TImageButton* ImBtnCancel;
  TImageButton* ImBtnOK;

 private:
  void Leave();
};
