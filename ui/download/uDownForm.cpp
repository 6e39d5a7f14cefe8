#include "ui/download/uDownForm.h"

#include "download/uDownFile.h"
#include "download/uDownText.h"
#include "ui/widgets/cm_LSVGauges.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

#include <QLocale>

#include <algorithm>
#include <memory>

namespace {

const QColor kText(0x37, 0x37, 0x37);

TSkinLabel* MakeLabel(QWidget* parent, const char* name, int left, int top, int width, int height, int pixels,
                      const char* text) {
  auto* l = new TSkinLabel(parent, QString::fromLatin1(name), left, top, QStringLiteral("Arial"), pixels, kText);
  l->SetFixedBox(width, height);
  l->SetText(QString::fromLatin1(text));
  return l;
}

}  // namespace

TDownForm::TDownForm(TMainForm& main) : TSkinForm(QStringLiteral("TDownForm"), 405, 162), FMain(main) {
  Image1 = new TImage(this, QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, 405, 162);
  ImBtnClose = new TImageButton(this, QStringLiteral("ImBtnClose"), "BTNCLOSE", true);
  ImBtnClose->setGeometry(340, 2, 41, 15);
  ImBtnClose->NormalOnRelease = false;
  ImBtnClose->OnRelease = [this](Qt::MouseButton) { CancelClick(); };
  ImBtnCancel = new TImageButton(this, QStringLiteral("ImBtnCancel"), "BTNCANCEL");
  ImBtnCancel->setGeometry(160, 120, 91, 32);
  ImBtnCancel->OnRelease = [this](Qt::MouseButton) { CancelClick(); };

  Label6 = MakeLabel(this, "Label6", 84, 28, 61, 18, 13, "File name:");
  Label1 = MakeLabel(this, "Label1", 151, 28, 233, 18, 13, "");
  Label2 = MakeLabel(this, "Label2", 84, 50, 61, 18, 13, "File size:");
  Label3 = MakeLabel(this, "Label3", 151, 50, 233, 18, 13, "requesting...");
  DownProg = new TLSVGauge(this);
  DownProg->setObjectName(QStringLiteral("DownProg"));
  DownProg->setGeometry(22, 76, 362, 19);
  DownProg->SetText(QStringLiteral("%d%%"));
  DownProg->SetProgress(0);
  DownProg->GaugeFont().Font = SkinFont(QStringLiteral("Arial"), 11);
  DownProg->GaugeFont().ColorOnFilled = Qt::white;
  DownProg->GaugeFont().ColorOnBackground = Qt::black;
  Label5 = MakeLabel(this, "Label5", 22, 96, 249, 18, 11, "");
  Label4 = MakeLabel(this, "Label4", 277, 96, 105, 14, 11, "");
  Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  DownSD.Title = "Choose folder for save...";
  DownSD.Filter = "All files (*)";

  RunSkinGuarded([&] { LoadJpegResource("BGDOWNFORM", Image1); });
  RunSkinGuarded([&] {
    LoadJpegResource("PROGDOWN_YELLOW", DownProg->TextureOnFore());
    LoadJpegResource("PROGDOWN_BG", DownProg->TextureOnBack());
  });
  ImBtnCancel->ShowNormal();
  ImBtnClose->ShowNormal();
  SetRoundWindowRegion(this, 406, 163, 19, 19);
  for (QWidget* w : {static_cast<QWidget*>(Image1), static_cast<QWidget*>(Label6), static_cast<QWidget*>(Label1),
                     static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label5),
                     static_cast<QWidget*>(Label4)})
    MakeDragSource(w);
  SetUserDecimalSeparator(QLocale::system().decimalPoint().at(0).toLatin1());
}

TDownForm::~TDownForm() {
  // Neither the handler nor a display call may reach a dialog that is gone.
  // The dialog owns its threads: each is stopped and handed to its thread,
  // which frees it at its end (it reads nothing of the dialog once detached).
  for (TDownThread* t : FThreads) {
    t->DetachView();
    t->Terminate();
    t->Detach();
  }
  FThreads.clear();
}

void TDownForm::StartDownload() {
  if (!ChooseDestination()) return;
  ShowModal();
}

void TDownForm::DownloadPackage(const std::string& url) {
  Url = url;
  StartDownload();
}

bool TDownForm::ChooseDestination() {
  DownSD.FileName = SuggestedFileName(Url);
  DownSD.InitialDir = UserDownloadFolder();
  std::string destination;
  for (;;) {
    if (!DownSD.Execute(this)) break;
    if (ProbeWritable(DownSD.FileName)) {
      destination = DownSD.FileName;
      break;
    }
    // The dialog opens again on the path chosen last.
    if (TInfoForm* info = FMain.Dialogs.Info) info->ShowNotice(NotWriteableText);
  }
  if (destination.empty()) return false;

  auto* thread = new TDownThread(this, true);
  thread->Url = Url;
  thread->FileName = destination;
  thread->ReadTimeout = ReadTimeout;
  thread->FreeOnTerminate = false;
  thread->OnTerminate = [this](TThread& t) {
    std::unique_ptr<TThread> done(&t);  // deleted once its completion has run
    DownloadFinished(t);
  };
  FDownThread = thread;
  FThreads.push_back(thread);
  thread->Start();
  return true;
}

void TDownForm::ShowFileName(TDownThread& thread) {
  DownProg->SetProgress(0);
  Label1->SetText(AnsiToQ(FileNameFromUrl(thread.Url)));
}

void TDownForm::ShowDownloadProgress(TDownThread& thread) {
  const double now = NowDays();
  DownProg->SetMaxValue(thread.Total < DownProg->MinValue() ? DownProg->MinValue() : thread.Total);
  DownProg->SetProgress(thread.Current);
  Label5->SetText(AnsiToQ(ProgressLineText(thread.Current, thread.Total, thread.StartTime, now)));
  const QString size = AnsiToQ(SizeText(thread.Total));
  if (Label3->text() != size) Label3->SetText(size);
  Label4->SetText(AnsiToQ(SpeedText(thread.Current, thread.StartTime, now)));
}

void TDownForm::DownloadFinished(TThread& t) {
  auto& thread = static_cast<TDownThread&>(t);
  FThreads.erase(std::remove(FThreads.begin(), FThreads.end(), &thread), FThreads.end());
  // A download cancelled earlier may end while a later one runs: only the
  // current download closes the dialog.
  if (&thread != FDownThread) return;
  FDownThread = nullptr;
  // The notice only when this transfer wrote the file: a file that merely
  // stood at the path before proves nothing.
  if (thread.Saved() && ModalResult() != mrCancel) {
    FLastSaved = thread.FileName;
    if (TInfoForm* info = FMain.Dialogs.Info) {
      info->MessageText = DownloadCompletedText(thread.FileName);
      info->LinkText = VendorURL() + FaqPath;
      info->ShowModal();
    }
  }
  SetModalResult(mrOk);
}

void TDownForm::StopThread() {
  if (FDownThread) FDownThread->Terminate();
}

void TDownForm::CancelClick() {
  StopThread();
  SetModalResult(mrCancel);
}

void TDownForm::FormClose() { StopThread(); }
