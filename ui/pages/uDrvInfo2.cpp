#include "ui/pages/uDrvInfo2.h"

#include "core/uAppState.h"
#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uPackageDownload.h"
#include "ui/pages/uPageText.h"
#include "ui/main/MainUnit.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

TDrvInfoForm2::TDrvInfoForm2(TMainForm& main)
    : TSkinForm(QStringLiteral("TDrvInfoForm2"), 566, 336), FMain(main) {
  setWindowTitle(QStringLiteral("Driver Infomation"));
  Image1 = new TImage(this, QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, 566, 336);
  Label1 = MakeDrvInfoValueLabel(this, QStringLiteral("Label1"), 68, 12);
  Label2 = MakeDrvInfoValueLabel(this, QStringLiteral("Label2"), 86, 12);
  Label3 = MakeDrvInfoValueLabel(this, QStringLiteral("Label3"), 104, 12);
  Label4 = MakeDrvInfoValueLabel(this, QStringLiteral("Label4"), 122, 12);
  Label5 = MakeDrvInfoValueLabel(this, QStringLiteral("Label5"), 219, 12);
  Label6 = MakeDrvInfoValueLabel(this, QStringLiteral("Label6"), 237, 12);
  Label7 = MakeDrvInfoValueLabel(this, QStringLiteral("Label7"), 255, 12);
  Label8 = MakeDrvInfoValueLabel(this, QStringLiteral("Label8"), 273, 12);
  // The button lies on top of the right-hand part of the update's date and version.
  ImBtnDownload = new TImageButton(this, QStringLiteral("ImBtnDownload"), "BTNDOWNLOAD");
  ImBtnDownload->setGeometry(296, 258, 220, 30);
  ImBtnDownload->OnButtonClick = [this] { ImBtnDownloadClick(); };
  ImBtnClose = new TImageButton(this, QStringLiteral("ImBtnClose"), "BTNCLOSE", true);
  ImBtnClose->setGeometry(504, 2, 41, 15);
  ImBtnClose->NormalOnRelease = false;
  ImBtnClose->OnRelease = [this](Qt::MouseButton) { SetModalResult(mrCancel); };

  RunSkinGuarded([&] { LoadJpegResource("BGDRVINFO2", Image1); });
  ImBtnDownload->ShowNormal();
  ImBtnClose->ShowNormal();
  SetRoundWindowRegion(this, 567, 337, 23, 23);
  MakeDragSource(Image1);
}

void TDrvInfoForm2::FormShow() {
  const TDrvRec& r = DrvInfoRecord(FMain.State, RecordIndex);
  Label1->SetText(AnsiToQ(r.DevName));
  Label2->SetText(AnsiToQ(r.ProviderName));
  Label3->SetText(AnsiToQ(DashesToSlashes(r.DriverDate)));
  Label4->SetText(AnsiToQ(r.DriverVersion));
  Label5->SetText(AnsiToQ(r.DevName));
  Label6->SetText(AnsiToQ(r.NewVendor));
  Label7->SetText(AnsiToQ(DashesToSlashes(r.NewDate)));
  Label8->SetText(AnsiToQ(r.NewVersion));
}

void TDrvInfoForm2::ImBtnDownloadClick() {
  const std::string url = DrvInfoRecord(FMain.State, RecordIndex).NewURL.str();
  if (FMain.Dialogs.Download) FMain.Dialogs.Download->DownloadPackage(url);
  SetModalResult(mrCancel);
}
