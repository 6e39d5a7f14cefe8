// TInfoForm: the skinned message dialog. A notice with OK (ShowNotice), an
// OK/Cancel prompt (set MessageText, ShowModal), or a notice with a link (set
// MessageText and LinkText, ShowModal), or an error box with Abort alone
// (ShowAbortBox). The main window is greyed while it is up.
#pragma once

#include "ui/widgets/uSkinForm.h"

#include <string>

class TImage;
class TMainForm;
class TImageButton;
class TSkinLabel;

class TInfoForm : public TSkinForm {
  Q_OBJECT
 public:
  // The main window is greyed while the dialog is up.
  explicit TInfoForm(TMainForm& main);

  std::string MessageText;
  std::string LinkText;  // cleared each time the dialog closes

  void ShowNotice(const std::string& text);
  // The packer's error box: the text and one Abort button; returns mrAbort
  // (mrCancel when closed otherwise).
  int ShowAbortBox(const std::string& text);

  TImage* Image1;
  TSkinLabel* Label6;  // the message
  TSkinLabel* Label2;  // the link
  TImageButton* ImBtnOk;
  TImageButton* ImBtnCancel;
  TImageButton* ImBtnAbort;  // only in the error box
  TImageButton* ImBtnClose;

  // Left of OK: centred alone, and in the two-button layout.
  static constexpr int OkLeftAlone = 157;
  static constexpr int OkLeftPair = 64;

 protected:
  void FormShow() override;
  void FormClose() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  TMainForm& FMain;
};
