#include "ui/pages/uFrame2.h"

#include "ui/widgets/cm_LSVGauges.h"
#include "ui/pages/uPageText.h"
#include "ui/widgets/uStringGrid.h"
#include "scan/uScanFinish.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uTray.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"

#include <QPainter>

namespace {

const QColor kCaption(kTitleRed, kTitleGreen, kTitleBlue);

TLSVGauge* MakeGauge(QWidget* parent, const QString& name, int top) {
  auto* g = new TLSVGauge(parent);
  g->setObjectName(name);
  g->setGeometry(32, top, 657, 21);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);
  g->GaugeFont().Font = f;
  g->GaugeFont().ColorOnFilled = Qt::white;
  g->GaugeFont().ColorOnBackground = Qt::black;
  return g;
}

void SetTextures(TLSVGauge* gauge, const char* filled, const char* empty) {
  LoadJpegResource(filled, gauge->TextureOnFore());
  LoadJpegResource(empty, gauge->TextureOnBack());
  gauge->update();
}

}  // namespace

TFrame2::TFrame2(TMainForm& main)
    : TWizardPage(main, 2, QStringLiteral("TFrame2")), FAlive(std::make_shared<bool>(true)) {
  ImAnimScanProgress = new TImage(this, QStringLiteral("ImAnimScanProgress"));
  ImAnimScanProgress->setGeometry(8, 9, 125, 80);
  Label1 = new TSkinLabel(this, QStringLiteral("Label1"), 142, 25, QStringLiteral("Tahoma"), 16, kCaption, true);
  Label1->SetText(QStringLiteral("Scan Progress"));
  Label2 = new TSkinLabel(this, QStringLiteral("Label2"), 142, 50, QStringLiteral("Arial"), 13, kCaption);
  Label2->SetText(QStringLiteral("Current section:"));
  lbCurType = new TSkinLabel(this, QStringLiteral("lbCurType"), 238, 50, QStringLiteral("Arial"), 13, Qt::black);
  lbCurType->SetFixedBox(467, 17);
  ImBgScanGrid = new TImage(this, QStringLiteral("ImBgScanGrid"));
  ImBgScanGrid->setGeometry(34, 95, 653, 112);
  Label3 = new TSkinLabel(this, QStringLiteral("Label3"), 55, 102, QStringLiteral("Arial"), 13, kCaption, true);
  Label3->SetText(QStringLiteral("Section"));
  Label5 = new TSkinLabel(this, QStringLiteral("Label5"), 558, 102, QStringLiteral("Arial"), 13, kCaption, true);
  Label5->SetText(QStringLiteral("Drivers found"));

  sgGuidList = new TStringGrid(this, QStringLiteral("sgGuidList"));
  sgGuidList->setGeometry(55, 124, 626, 76);
  sgGuidList->SetColCount(3);
  sgGuidList->SetRowCount(1);
  sgGuidList->SetDefaultRowHeight(18);
  sgGuidList->DefaultDrawing = false;
  sgGuidList->OnDrawCell = [this](int c, int r, const QRect& rect, QPainter& p) { sgGuidListDrawCell(c, r, rect, p); };

  Label20 = new TSkinLabel(this, QStringLiteral("Label20"), 39, 225, QStringLiteral("Arial"), 13, kCaption);
  ggCurProg = MakeGauge(this, QStringLiteral("ggCurProg"), 242);
  Label4 = new TSkinLabel(this, QStringLiteral("Label4"), 39, 270, QStringLiteral("Arial"), 13, kCaption);
  Label4->SetText(QStringLiteral("All sections scanning progress"));
  ggTotProg = MakeGauge(this, QStringLiteral("ggTotProg"), 287);
  ggTotProg->SetText(QStringLiteral("%d%%"));

  Timer1 = new QTimer(this);
  Timer1->setInterval(200);
  connect(Timer1, &QTimer::timeout, this, [this] { RunSkinGuarded([this] { Timer1Timer(); }); });
  Timer2 = new QTimer(this);
  Timer2->setInterval(30);
  connect(Timer2, &QTimer::timeout, this, [this] { RunSkinGuarded([this] { Timer2Timer(); }); });
}

TFrame2::~TFrame2() {
  // The page owns the running scan, which reads the page and the window's
  // state: it is asked to stop and waited for, then given to its thread to
  // free. (The program closes the UI queue first, so the scan cannot be
  // waiting for this thread meanwhile.)
  *FAlive = false;
  if (ScanThread) {
    ScanThread->Terminate();
    ScanThread->WaitFor();
    ScanThread->Detach();
    ScanThread = nullptr;
  }
}

int TFrame2::SectionCount() const { return sgGuidList->Tag; }

void TFrame2::PreparePage() {
  Main().SetStepHeader(2);
  if (ScanThread) return;  // one scan at a time: the running one stays on screen

  LoadJpegResource("BGSCANGRID", ImBgScanGrid);
  SetTextures(ggCurProg, "PROG_GREEN", "PROG_BG");
  SetTextures(ggTotProg, "PROG_GREEN", "PROG_BG");
  Timer1->start();
  Timer2->stop();
  YellowPhase = true;
  ggCurProg->SetText(QString());
  AnimFrame = 0;
  sgGuidList->SetColWidth(0, 460);
  sgGuidList->SetColWidth(1, 80);
  sgGuidList->SetColWidth(2, 80);
  FNoAnswerText.clear();

  auto* scan = new TScanThread(Main().State, *this);
  scan->Priority = TThreadPriority::tpNormal;
  // Owned by the page: deleted once ScanFinished has run (the page's
  // destructor hands over a scan that never finished).
  scan->FreeOnTerminate = false;
  scan->CertWaitMs = CertWaitMs;
  scan->ReadTimeoutMs = ReadTimeoutMs;
  scan->OnTerminate = [this](TThread& t) {
    std::unique_ptr<TScanThread> done(static_cast<TScanThread*>(&t));
    ScanFinished(*done);
  };
  ScanThread = scan;
  scan->Start();
}

void TFrame2::EmptySectionList() {
  sgGuidList->SetRowCount(1);
  sgGuidList->ClearRowCells(0);
  sgGuidList->Tag = 0;
  sgGuidList->SetRow(0);
}

void TFrame2::ResetPage(TScanThread& scan) {
  EmptySectionList();
  lbCurType->SetText(QString());
  Label20->SetText(QStringLiteral("Initializing scan..."));
  // The page only reads the scan's counters (the scan has reset them itself).
  ShowProgress(TScanProgress{scan.FoundInClass, scan.ClassDevCount, 0, 0});
}

void TFrame2::ClearPage(TScanThread&) {
  ggCurProg->SetProgress(0);
  ggTotProg->SetProgress(0);
  EmptySectionList();
  lbCurType->SetText(QStringLiteral("Initializing scan..."));
  ilGUIDPics.clear();
}

void TFrame2::ShowClassStarted(TScanThread& scan) {
  sgGuidList->Tag += 1;
  const int rows = sgGuidList->Tag;
  sgGuidList->SetRowCount(rows);
  const int last = rows - 1;
  sgGuidList->SetCell(0, last, AnsiToQ(scan.CurClassDesc));
  sgGuidList->SetRow(last);
  lbCurType->SetText(AnsiToQ(scan.CurClassDesc));
  Label20->SetText(AnsiToQ(scan.CurClassDesc + " driver scanning in progress"));
}

void TFrame2::ShowProgress(const TScanProgress& progress) {
  ggCurProg->SetProgress(RoundedPercent(progress.FoundInClass, progress.ClassDevCount));
  ggTotProg->SetProgress(RoundedPercent(progress.Processed, progress.TotalDevices));
  if (progress.TotalDevices != 0)
    sgGuidList->SetCell(2, sgGuidList->RowCount() - 1, QString::number(progress.FoundInClass));
}

void TFrame2::AddClassIcon(HICON icon) { ilGUIDPics.push_back(icon); }

void TFrame2::ShowSearching(const std::string& text) { lbCurType->SetText(AnsiToQ(text)); }

void TFrame2::BeginUpdateCheck() {
  RunSkinGuarded([this] {
    LoadJpegResource("PROG_YELLOW", ggCurProg->TextureOnFore());
    ggCurProg->update();
  });
  ggCurProg->SetProgress(0);
  Timer2->start();
}

void TFrame2::FinishUpdateCheck() { Timer2->stop(); }

int TFrame2::ShowConnectivityPrompt(const std::string& text) {
  TInfoForm* info = Main().Dialogs.Info;
  if (!info) return mrCancel;
  info->MessageText = text;
  return info->ShowModal();
}

void TFrame2::ShowPackingError(const std::string& text) {
  if (TInfoForm* info = Main().Dialogs.Info) info->ShowAbortBox(text);
}

void TFrame2::ShowNoAnswer(const std::string& text) {
  // Told once the scan is over, with the window in front.
  FNoAnswerText = text;
}

void TFrame2::Timer2Timer() {
  ggCurProg->SetText(QString());
  Label20->SetText(AnsiToQ(SearchingText));
  if (ggCurProg->Progress() < 100) {
    ggCurProg->SetProgress(ggCurProg->Progress() + 1);
    return;
  }
  ggCurProg->SetProgress(0);
  if (YellowPhase) {
    SetTextures(ggCurProg, "PROG_BG", "PROG_YELLOW");
    YellowPhase = false;
  } else {
    SetTextures(ggCurProg, "PROG_YELLOW", "PROG_BG");
    YellowPhase = true;
  }
}

void TFrame2::Timer1Timer() {
  AnimFrame = AnimFrame >= 8 ? 1 : AnimFrame + 1;
  LoadJpegResource("ANIMSCAN_PIC" + std::to_string(AnimFrame), ImAnimScanProgress);
}

void TFrame2::sgGuidListDrawCell(int col, int row, const QRect& rect, QPainter& p) {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(13);  // 10 points on the program's 96-dpi screen
  p.setFont(f);
  p.setPen(Qt::black);
  const QFontMetrics fm(f);
  p.drawText(rect.left(), rect.top() + 4 + fm.ascent(), sgGuidList->Cell(col, row));
}

void TFrame2::ScanFinished(TScanThread& scan) {
  ScanThread = nullptr;
  TMainForm& main = Main();
  // The scan's catalogue, driver list and figures become the window's in one
  // step; only from here on do the pages read them.
  scan.HandOver();
  main.ShowKorvane1Click();
  const TScanOutcome outcome = ApplyScanOutcome(main.State, scan.End, scan.ErrCode);
  main.CurrentStep = outcome.NextStep;
  TInfoForm* info = main.Dialogs.Info;
  if (outcome.ShowServerError) {
    main.ShowBalloon("Korvane error notice", scan.ErrMsg, bitError, 60);
    if (info) info->ShowNotice(scan.ErrMsg);
  } else if (!FNoAnswerText.empty()) {
    if (info) info->ShowNotice(FNoAnswerText);
  }
  FNoAnswerText.clear();
  RunSkinGuarded([&] { main.ShowStep(main.CurrentStep, true); });
}
