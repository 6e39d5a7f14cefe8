#include "ui/pages/uFrame4.h"

#include "core/uAppState.h"
#include "ui/pages/uPageText.h"
#include "ui/main/MainUnit.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

#include <QLineEdit>
#include <QProxyStyle>

namespace {

// The password field shows one "*" per character, whatever the desktop style says.
class TStarPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_LineEdit_PasswordCharacter) return '*';
    if (hint == QStyle::SH_LineEdit_PasswordMaskDelay) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

QLineEdit* MakeEdit(QWidget* parent, const QString& name, int left, int top, int width, int height) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setGeometry(left, top, width, height);
  e->setFrame(false);
  e->setFont(SkinFont(QStringLiteral("Arial"), 13));
  e->setTextMargins(0, 0, 0, 0);
  QPalette pal = e->palette();
  pal.setColor(QPalette::Base, Qt::white);
  e->setPalette(pal);
  return e;
}

}  // namespace

TFrame4::TFrame4(TMainForm& main) : TWizardPage(main, 4, QStringLiteral("TFrame4")) {
  const QColor text = palette().color(QPalette::WindowText);
  const QString arial = QStringLiteral("Arial");
  // The edit fields lay their text out as they are made, in the font they inherit: the
  // page's text font, rather than the window's Tahoma, spares loading a font at start
  // that nothing shows.
  setFont(SkinFont(arial, 13));
  const auto label = [&](int left, int top, const char* t) {
    auto* l = new TSkinLabel(this, QString(), left, top, arial, 13, text);
    l->SetText(QString::fromLatin1(t));
    return l;
  };

  Image1 = new TImage(this, QStringLiteral("Image1"));
  Image1->setGeometry(10, 20, 62, 50);
  Title = new TSkinLabel(this, QStringLiteral("Title"), 86, 48, arial, 16, QColor(kTitleRed, kTitleGreen, kTitleBlue),
                         true);
  Title->SetText(QStringLiteral("General settings of Korvane"));

  ImCheckBox1 = new TImageCheckBox(this, QStringLiteral("ImCheckBox1"), "CHECKBOX_NA", "CHECKBOX_A");
  ImCheckBox1->setGeometry(86, 96, 28, 20);
  ImCheckBox1->setCursor(Qt::PointingHandCursor);
  label(128, 98, "Start Korvane when Windows starts");
  ImCheckBox2 = new TImageCheckBox(this, QStringLiteral("ImCheckBox2"), "CHECKBOX_NA", "CHECKBOX_A");
  ImCheckBox2->setGeometry(86, 136, 28, 20);
  ImCheckBox2->setCursor(Qt::PointingHandCursor);
  label(128, 138, "Close to System Tray icon");
  ImCheckBox3 = new TImageCheckBox(this, QStringLiteral("ImCheckBox3"), "CHECKBOX_NA", "CHECKBOX_A");
  ImCheckBox3->setGeometry(86, 176, 28, 20);
  label(128, 178, "Use a Proxy Server");
  for (TImageCheckBox* box : {ImCheckBox1, ImCheckBox2})
    box->OnClick = [this, box] { RunSkinGuarded([&] { ImCheckBox1Click(box); }); };
  // The proxy box is disabled: it shows the stored choice and ignores clicks.
  ImCheckBox3->OnClick = nullptr;
  ImCheckBox3->setEnabled(false);

  label(128, 220, "Address:");
  EditFrame1 = new TImage(this, QStringLiteral("EditFrame1"));
  EditFrame1->setGeometry(194, 214, 226, 33);
  Edit1 = MakeEdit(this, QStringLiteral("Edit1"), 202, 222, 207, 17);
  label(460, 220, "Port:");
  EditFrame2 = new TImage(this, QStringLiteral("EditFrame2"));
  EditFrame2->setGeometry(502, 214, 77, 33);
  Edit2 = MakeEdit(this, QStringLiteral("Edit2"), 510, 222, 60, 17);
  label(194, 268, "Login:");
  EditFrame3 = new TImage(this, QStringLiteral("EditFrame3"));
  EditFrame3->setGeometry(244, 260, 110, 32);
  Edit3 = MakeEdit(this, QStringLiteral("Edit3"), 252, 268, 95, 17);
  label(392, 268, "Password:");
  EditFrame4 = new TImage(this, QStringLiteral("EditFrame4"));
  EditFrame4->setGeometry(469, 260, 110, 32);
  Edit4 = MakeEdit(this, QStringLiteral("Edit4"), 477, 268, 95, 17);
  auto* starStyle = new TStarPasswordStyle;
  starStyle->setParent(Edit4);
  Edit4->setStyle(starStyle);
  Edit4->setEchoMode(QLineEdit::Password);
  for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4}) e->raise();

  ImBtnCancel = new TImageButton(this, QStringLiteral("ImBtnCancel"), "BTNCANCEL");
  ImBtnCancel->setGeometry(488, 328, 91, 32);
  ImBtnCancel->OnRelease = [this](Qt::MouseButton) { ImBtnCancelMouseUp(); };
  ImBtnOK = new TImageButton(this, QStringLiteral("ImBtnOK"), "BTNOK");
  ImBtnOK->setGeometry(596, 328, 91, 32);
  ImBtnOK->OnButtonClick = [this] { ImBtnOKClick(); };
}

void TFrame4::PreparePage() {
  LoadJpegResource("ICOSETTINGS", Image1);
  LoadJpegResource("EDIT1PROXY", EditFrame1);
  LoadJpegResource("EDIT2PROXY", EditFrame2);
  LoadJpegResource("EDIT3PROXY", EditFrame3);
  LoadJpegResource("EDIT3PROXY", EditFrame4);
  ImBtnCancel->ShowNormal();
  ImBtnOK->ShowNormal();
  Main().SetStepHeader(4);

  const TSettings& s = Main().State.Settings;
  ImCheckBox1->Tag = s.AutoRun ? 1 : 0;
  ImCheckBox2->Tag = s.CloseToTray ? 1 : 0;
  ImCheckBox3->Tag = s.UseProxy ? 1 : 0;
  Edit1->setText(AnsiToQ(s.ProxyHost));
  Edit2->setText(AnsiToQ(s.ProxyPort));
  Edit3->setText(AnsiToQ(s.ProxyLogin));
  Edit4->setText(AnsiToQ(s.ProxyPassw));
  ShowCheckBoxes();
}

void TFrame4::ShowCheckBoxes() {
  for (TImageCheckBox* box : {ImCheckBox1, ImCheckBox2, ImCheckBox3}) box->SetChecked(box->Tag == 1);
}

void TFrame4::ImCheckBox1Click(TImageCheckBox* box) { box->SetChecked(box->Tag == 0); }

void TFrame4::ImBtnOKClick() {
  TSettings& s = Main().State.Settings;
  s.AutoRun = ImCheckBox1->Tag == 1;
  s.CloseToTray = ImCheckBox2->Tag == 1;
  s.UseProxy = ImCheckBox3->Tag == 1;
  s.ProxyHost = QToAnsi(Edit1->text());
  s.ProxyPort = QToAnsi(Edit2->text());
  s.ProxyLogin = QToAnsi(Edit3->text());
  s.ProxyPassw = QToAnsi(Edit4->text());
  Leave();
}

void TFrame4::ImBtnCancelMouseUp() { Leave(); }

void TFrame4::Leave() {
  if (Main().ResultsMark() > 0) {
    // Back to the list as it was; the header names the results page again
    // (the page is not prepared, so its header is set here).
    Main().ShowStep(3, false);
    Main().SetStepHeader(3);
  } else {
    Main().ShowStep(1, true);
  }
}
