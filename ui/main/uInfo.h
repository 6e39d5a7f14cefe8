// TInfoForm: the skinned message dialog. A notice with OK (ShowNotice), an
// OK/Cancel prompt (set MessageText, ShowModal), or a notice with a link (set
// MessageText and LinkText, ShowModal). The main window is greyed while it is up.
#pragma once

#include "ui/widgets/uSkinForm.h"

#include <string>

class TImage;
class TImageButton;
class TSkinLabel;

class TInfoForm : public TSkinForm {
  Q_OBJECT
 public:
  TInfoForm();
  ~TInfoForm() override;

  std::string MessageText;
  std::string LinkText;  // cleared each time the dialog closes

  void ShowNotice(const std::string& text);

  TImage* Image1;
  TSkinLabel* Label6;  // the message
  TSkinLabel* Label2;  // the link
  TImageButton* ImBtnOk;
  TImageButton* ImBtnCancel;
  TImageButton* ImBtnClose;

  // Left of OK: centred alone, and in the two-button layout.
  static constexpr int OkLeftAlone = 157;
  static constexpr int OkLeftPair = 64;

 protected:
  void FormShow() override;
  void FormClose() override;
  void keyPressEvent(QKeyEvent* event) override;
};

extern TInfoForm* InfoForm;
