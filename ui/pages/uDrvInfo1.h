// TDrvInfoForm1: details of a driver that is up to date (the installed one).
#pragma once

#include "ui/widgets/uSkinForm.h"

#include <cstdint>

struct TDrvRec;
class TKorvaneState;
class TMainForm;
class TImage;
class TImageButton;
class TSkinLabel;

class TDrvInfoForm1 : public TSkinForm {
  Q_OBJECT
 public:
  // Shows records of the main window's driver list.
  explicit TDrvInfoForm1(TMainForm& main);

  int32_t RecordIndex = 0;  // slot in DrvList (1..DrvCount), set by the caller

  TImage* Image1;
  TImageButton* ImBtnClose;
  TSkinLabel* Label1;  // DevName
  TSkinLabel* Label2;  // ProviderName
  TSkinLabel* Label3;  // DriverDate, as stored
  TSkinLabel* Label4;  // DriverVersion

 protected:
  void FormShow() override;

 private:
  TMainForm& FMain;
};

// A fixed-size value label of the detail dialogs: transparent Arial in
// RGB(55, 55, 55), cut off at its right edge.
TSkinLabel* MakeDrvInfoValueLabel(QWidget* parent, const QString& name, int top, int pixelHeight);

// The record in slot `index` of the run's DrvList; an empty record outside
// 1..DrvCount.
const TDrvRec& DrvInfoRecord(const TKorvaneState& state, int32_t index);
