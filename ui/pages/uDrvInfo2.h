// TDrvInfoForm2: details of a driver with a newer version: the installed
// driver, the offered update, and a Download button.
#pragma once

#include "ui/widgets/uSkinForm.h"

#include <cstdint>

class TImage;
class TMainForm;
class TImageButton;
class TSkinLabel;

class TDrvInfoForm2 : public TSkinForm {
  Q_OBJECT
 public:
  // Shows records of the main window's driver list; Download goes to the
  // main window's download dialog.
  explicit TDrvInfoForm2(TMainForm& main);

  int32_t RecordIndex = 0;  // slot in DrvList (1..DrvCount), set by the caller

  TImage* Image1;
  TImageButton* ImBtnClose;
  TImageButton* ImBtnDownload;
  TSkinLabel* Label1;  // DevName
  TSkinLabel* Label2;  // ProviderName
  TSkinLabel* Label3;  // DriverDate, "-" as "/"
  TSkinLabel* Label4;  // DriverVersion
  TSkinLabel* Label5;  // DevName
  TSkinLabel* Label6;  // NewVendor
  TSkinLabel* Label7;  // NewDate, "-" as "/"
  TSkinLabel* Label8;  // NewVersion

  // Hands NewURL, unchanged, to the download and closes once it returns.
  void ImBtnDownloadClick();

 protected:
  void FormShow() override;

 private:
  TMainForm& FMain;
};
