#include "ui/main/uInfo.h"

#include "ui/main/MainUnit.h"
#include "ui/widgets/uAccessible.h"
#include "ui/widgets/uKeyboard.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

#include "core/uWebLink.h"

#include <cstdio>

#include <QKeyEvent>
#include <QTimer>

TInfoForm::TInfoForm(TMainForm& main) : TSkinForm(QStringLiteral("TInfoForm"), 405, 162), FMain(main) {
  Image1 = new TImage(this, QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, 405, 162);
  Label6 = new TSkinLabel(this, QStringLiteral("Label6"), 76, 27, QStringLiteral("Arial"), 13, QColor(55, 55, 55));
  Label6->setWordWrap(true);
  Label6->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label6->resize(320, 16);
  Label2 = new TSkinLabel(this, QStringLiteral("Label2"), 76, 89, QStringLiteral("Arial"), 13, QColor(87, 151, 203),
                          true);
  Label2->setCursor(Qt::PointingHandCursor);
  Label2->hide();
  Label2->OnClick = [this] {
    OpenWebLink(QToAnsi(Label2->text()));  // a web page, never a program or a file
  };
  ImBtnOk = new TImageButton(this, QStringLiteral("ImBtnOk"), "BTNOK");
  ImBtnOk->setGeometry(OkLeftPair, 120, 91, 32);
  ImBtnOk->OnRelease = [this](Qt::MouseButton) { SetModalResult(mrOk); };
  ImBtnCancel = new TImageButton(this, QStringLiteral("ImBtnCancel"), "BTNCANCEL");
  ImBtnCancel->setGeometry(218, 120, 91, 32);
  ImBtnCancel->OnRelease = [this](Qt::MouseButton) { SetModalResult(mrCancel); };
  ImBtnAbort = new TImageButton(this, QStringLiteral("ImBtnAbort"), "BTNABORT");
  ImBtnAbort->setGeometry(OkLeftAlone, 120, 91, 32);
  ImBtnAbort->OnRelease = [this](Qt::MouseButton) { SetModalResult(mrAbort); };
  ImBtnAbort->hide();
  ImBtnClose = new TImageButton(this, QStringLiteral("ImBtnClose"), "BTNCLOSE", true);
  ImBtnClose->setGeometry(340, 2, 41, 15);
  ImBtnClose->NormalOnRelease = false;
  ImBtnClose->OnRelease = [this](Qt::MouseButton) { SetModalResult(mrCancel); };

  RunSkinGuarded([&] { LoadJpegResource("BGINFO", Image1); });
  ImBtnOk->ShowNormal();
  ImBtnCancel->ShowNormal();
  ImBtnAbort->ShowNormal();
  ImBtnClose->ShowNormal();
  SetRoundWindowRegion(this, 406, 163, 19, 19);
  MakeDragSource(Image1);
  MakeDragSource(Label6);
  // Enter is Cancel here whichever button has the focus.
  MarkEnterCancels(this);
}

void TInfoForm::ShowNotice(const std::string& text) {
  MessageText = text;
  ImBtnOk->move(OkLeftAlone, ImBtnOk->y());
  ImBtnOk->show();
  ImBtnCancel->hide();
  ShowModal();
}

int TInfoForm::ShowAbortBox(const std::string& text) {
  MessageText = text;
  LinkText.clear();
  ImBtnOk->hide();
  ImBtnCancel->hide();
  ImBtnAbort->show();
  return ShowModal();
}

void TInfoForm::FormShow() {
  FMain.GrayOutMainWindow();
  Label6->SetText(AnsiToQ(MessageText));
  // A notice is told to a screen reader as one, once the dialog is up.
  setAccessibleDescription(Label6->text());
  QTimer::singleShot(0, this, [this] {
    if (isVisible()) NotifyAccessible(this, QAccessible::Alert);
  });
  if (LinkText.empty()) {
    Label2->hide();
    return;
  }
  Label2->SetText(AnsiToQ(LinkText));
  Label2->move(Label2->x(), Label6->y() + Label6->height());
  Label2->show();
  ImBtnOk->move(OkLeftAlone, ImBtnOk->y());
  ImBtnCancel->hide();
}

void TInfoForm::FormClose() {
  FMain.UnGrayMainWindow();
  ImBtnAbort->hide();
  ImBtnOk->show();
  ImBtnCancel->show();
  ImBtnOk->move(OkLeftPair, ImBtnOk->y());
  LinkText.clear();
}

void TInfoForm::keyPressEvent(QKeyEvent* event) {
  // Enter never confirms: it closes the dialog as Cancel.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    SetModalResult(mrCancel);
    return;
  }
  TSkinForm::keyPressEvent(event);
}
