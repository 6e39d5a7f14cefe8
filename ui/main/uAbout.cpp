#include "ui/main/uAbout.h"

#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

#include <shellapi.h>

TAboutForm::TAboutForm(TMainForm& main) : TSkinForm(QStringLiteral("TAboutForm"), 463, 260), FMain(main) {
  Image1 = new TImage(this, QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, 463, 260);
  ImBtnClose = new TImageButton(this, QStringLiteral("ImBtnClose"), "BTNCLOSE", true);
  ImBtnClose->setGeometry(404, 2, 41, 15);
  ImBtnClose->NormalOnRelease = false;
  ImBtnClose->OnRelease = [this](Qt::MouseButton) { SetModalResult(mrCancel); };
  Label3 = new TSkinLabel(this, QStringLiteral("Label3"), 141, 125, QStringLiteral("Arial"), 13, QColor(55, 55, 55),
                          true);
  Label2 = new TSkinLabel(this, QStringLiteral("Label2"), 202, 216, QStringLiteral("Arial"), 13,
                          QColor(87, 151, 203), true);
  Label2->setCursor(Qt::PointingHandCursor);
  Label2->SetText(AnsiToQ(VendorURL()));
  Label2->OnClick = [this] {
    const std::string link = QToAnsi(Label2->text());
    ShellExecuteA(nullptr, nullptr, link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  };

  RunSkinGuarded([&] { LoadJpegResource("BGABOUT", Image1); });
  ImBtnClose->ShowNormal();
  SetRoundWindowRegion(this, 464, 261, 18, 18);
  MakeDragSource(Image1);
}

void TAboutForm::FormShow() {
  Label3->SetText(AnsiToQ(FMain.State.ProgramVersion));
  FMain.GrayOutMainWindow();
}

void TAboutForm::FormClose() { FMain.UnGrayMainWindow(); }
