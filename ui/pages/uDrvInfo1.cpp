#include "ui/pages/uDrvInfo1.h"

#include "core/uAppState.h"
#include "ui/main/MainUnit.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

TSkinLabel* MakeDrvInfoValueLabel(QWidget* parent, const QString& name, int top, int pixelHeight) {
  auto* l = new TSkinLabel(parent, name, 182, top, QStringLiteral("Arial"), pixelHeight, QColor(55, 55, 55));
  l->SetFixedBox(350, 15);
  l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return l;
}

// The record a dialog shows; an empty one outside the list.
const TDrvRec& DrvInfoRecord(const TKorvaneState& s, int32_t index) {
  static const TDrvRec empty;
  if (index < 1 || index > s.DrvCount || static_cast<size_t>(index) >= s.DrvList.size()) return empty;
  return s.DrvList[static_cast<size_t>(index)];
}

TDrvInfoForm1::TDrvInfoForm1(TMainForm& main)
    : TSkinForm(QStringLiteral("TDrvInfoForm1"), 566, 186), FMain(main) {
  setWindowTitle(QStringLiteral("Driver Information"));
  Image1 = new TImage(this, QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, 566, 186);
  Label1 = MakeDrvInfoValueLabel(this, QStringLiteral("Label1"), 68, 13);
  Label2 = MakeDrvInfoValueLabel(this, QStringLiteral("Label2"), 86, 13);
  Label3 = MakeDrvInfoValueLabel(this, QStringLiteral("Label3"), 104, 13);
  Label4 = MakeDrvInfoValueLabel(this, QStringLiteral("Label4"), 122, 13);
  ImBtnClose = new TImageButton(this, QStringLiteral("ImBtnClose"), "BTNCLOSE", true);
  ImBtnClose->setGeometry(504, 2, 41, 15);
  ImBtnClose->NormalOnRelease = false;
  ImBtnClose->OnRelease = [this](Qt::MouseButton) { SetModalResult(mrCancel); };

  RunSkinGuarded([&] { LoadJpegResource("BGDRVINFO1", Image1); });
  ImBtnClose->ShowNormal();
  SetRoundWindowRegion(this, 567, 187, 23, 23);
  MakeDragSource(Image1);
}

void TDrvInfoForm1::FormShow() {
  const TDrvRec& r = DrvInfoRecord(FMain.State, RecordIndex);
  Label1->SetText(AnsiToQ(r.DevName));
  Label2->SetText(AnsiToQ(r.ProviderName));
  Label3->SetText(AnsiToQ(r.DriverDate));
  Label4->SetText(AnsiToQ(r.DriverVersion));
}
