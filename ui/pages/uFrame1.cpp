#include "ui/pages/uFrame1.h"

#include "core/uAppState.h"
#include "ui/widgets/cm_LSVGauges.h"
#include "ui/widgets/uDiagram.h"
#include "ui/pages/uPageText.h"
#include "scan/uScanThread.h"
#include "ui/main/MainUnit.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/uText.h"
#include "sysinfo/uSystemFacts.h"
#include "sysinfo/uWinVersion.h"

#include <QFontMetrics>

#include <windows.h>
#include <winreg.h>

namespace {

const QColor kTitle(kTitleRed, kTitleGreen, kTitleBlue);

}  // namespace

ICompanionArea::~ICompanionArea() = default;

TFrame1::TFrame1(TMainForm& main) : TWizardPage(main, 1, QStringLiteral("TFrame1")), Companion(*this, main) {
  const QColor text = palette().color(QPalette::WindowText);
  const QString arial = QStringLiteral("Arial");
  const auto caption = [&](int left, int top, const char* t) {
    auto* l = new TSkinLabel(this, QString(), left, top, arial, 13, text, true);
    l->SetText(QString::fromLatin1(t));
    return l;
  };
  const auto value = [&](const char* name, int left, int top) {
    return new TSkinLabel(this, QString::fromLatin1(name), left, top, arial, 13, text);
  };

  ImSysInfo = new TImage(this, QStringLiteral("ImSysInfo"));
  ImSysInfo->setGeometry(22, 24, 48, 48);
  SysInfoTitle = new TSkinLabel(this, QStringLiteral("SysInfoTitle"), 85, 57, arial, 16, kTitle, true);
  SysInfoTitle->SetText(QStringLiteral("System information"));
  caption(24, 88, "OS Name:");
  Label7 = value("Label7", 96, 88);
  Label7->SetFixedBox(258, 37);
  Label7->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label7->setWordWrap(true);
  caption(24, 132, "Processor:");
  Label5 = value("Label5", 96, 132);
  Label5->SetFixedBox(258, 37);
  Label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label5->setWordWrap(true);
  caption(24, 175, "Computer name:");
  Label9 = value("Label9", 136, 175);
  caption(24, 197, "RAM total:");
  Label11 = value("Label11", 95, 197);
  caption(24, 219, "RAM free:");
  Label13 = value("Label13", 92, 219);
  caption(24, 241, "Memory used:");
  Label15 = value("Label15", 119, 241);
  caption(24, 263, "Virtual memory total:");
  Label17 = value("Label17", 164, 263);
  caption(24, 285, "Virtual memory free:");
  Label19 = value("Label19", 161, 285);

  ImDivider = new TImage(this, QStringLiteral("ImDivider"));
  ImDivider->setGeometry(360, 16, 3, 293);
  ImLastCheck = new TImage(this, QStringLiteral("ImLastCheck"));
  ImLastCheck->setGeometry(382, 24, 48, 48);
  Label22 = new TSkinLabel(this, QStringLiteral("Label22"), 446, 57, arial, 16, kTitle, true);
  LastDateCaption = caption(382, 88, "Last scan date:");
  Label23 = value("Label23", 483, 88);
  // Long weekday and month names need more than the 219 pixels a short date takes.
  Label23->SetFixedBox(238, 15);
  LastResultCaption = caption(382, 110, "Last scan result:");
  PanDiag = new TDiagramPanel(this, 452, 151);
  // The advisory picture covers the two captions when shown.
  ImOutOfDate = new TImage(this, QStringLiteral("ImOutOfDate"));
  ImOutOfDate->setGeometry(381, 90, 320, 210);

  ImBtnScanNow = new TImageButton(this, QStringLiteral("ImBtnScanNow"), "BTNSCANNOW");
  ImBtnScanNow->setGeometry(471, 328, 151, 33);
  ImBtnScanNow->OnRelease = [this](Qt::MouseButton) { ImBtnScanNowRelease(); };

  // The companion area.
  ts1ImIcoDown = new TImage(this, QStringLiteral("ts1ImIcoDown"));
  ts1ImIcoDown->setGeometry(14, 329, 37, 34);
  ts1Label32 = new TSkinLabel(this, QStringLiteral("ts1Label32"), 57, 329, arial, 12, text);
  ts1Label32->SetFixedBox(274, 28);
  ts1Label32->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  ts1Label32->SetText(
      QStringLiteral(" We also recommend you to try our Sweepline.\r\n This will increase PC Stability and Performance."));
  // The second line must end before the "Install Now" link on the same row.
  for (int px = 12; px > 9; --px) {
    ts1Label32->setFont(SkinFont(arial, px));
    if (QFontMetrics(ts1Label32->font()).horizontalAdvance(
            QStringLiteral(" This will increase PC Stability and Performance.")) <= 292 - 57 - 4)
      break;
  }
  ts1Label33 = new TSkinLabel(this, QStringLiteral("ts1Label33"), 292, 343, arial, 12, QColor(87, 151, 203), true);
  ts1Label33->SetText(QStringLiteral("Install Now"));
  {
    QFont f = ts1Label33->font();
    f.setUnderline(true);
    ts1Label33->setFont(f);
    ts1Label33->SetText(ts1Label33->text());
  }
  ts1Label33->setCursor(Qt::PointingHandCursor);
  ts1Label33->OnClick = [this] { ts1Label33Click(); };
  ts1Label30 = new TSkinLabel(this, QStringLiteral("ts1Label30"), 58, 330, arial, 12, text, true);
  ts1Label30->SetText(QStringLiteral("Downloading Sweepline"));
  ts1Label31 = new TSkinLabel(this, QStringLiteral("ts1Label31"), 225, 330, arial, 12, text);
  ts1Label31->SetText(QStringLiteral("(0%)..."));
  ts1DownProg = new TLSVGauge(this);
  ts1DownProg->setObjectName(QStringLiteral("ts1DownProg"));
  ts1DownProg->setGeometry(58, kBarParked, 202, 9);
  ts1DownProg->SetText(QString());
  RunSkinGuarded([this] {
    LoadJpegResource("PROGTOOL_FILL", ts1DownProg->TextureOnFore());
    LoadJpegResource("PROGTOOL_BG", ts1DownProg->TextureOnBack());
    LoadJpegResource("ICODOWNTOOL", ts1ImIcoDown);
  });
  // The area starts empty: the offer appears only when PreparePage finds the
  // tool not installed.
  for (QWidget* w : {static_cast<QWidget*>(ts1Label30), static_cast<QWidget*>(ts1Label31),
                     static_cast<QWidget*>(ts1Label32), static_cast<QWidget*>(ts1Label33),
                     static_cast<QWidget*>(ts1ImIcoDown)})
    w->hide();
}

TFrame1::~TFrame1() = default;

void TFrame1::PreparePage() {
  TMainForm& main = Main();
  main.SetStepHeader(1);

  TWindowsTypeEx windows;
  GetWindowsTypeEx(windows);
  OsShortName = windows.ShortName;
  main.State.OsShortName = OsShortName;  // the scan report's system token

  LoadJpegResource("ICOSYSINFO", ImSysInfo);
  LoadJpegResource("ICOLASTCHECK", ImLastCheck);
  ImBtnScanNow->ShowNormal();
  PanDiag->LoadLegend();
  LoadJpegResource("CONTENT_DELIM1", ImDivider);

  FillSystemInfo();
  FillScanSummary();
  FillCompanionOffer();
}

void TFrame1::FillSystemInfo() {
  for (TSkinLabel* l : {Label7, Label5, Label9, Label11, Label13, Label15, Label17, Label19}) l->SetText(QString());
  TWindowsTypeEx windows;
  GetWindowsTypeEx(windows);
  TSystemInfoValues v;
  // The first failure leaves the remaining values empty, without a message.
  FillSystemInfoValues(v, windows, [] { return GetProcessorSummary(); });
  Label5->SetText(PageText(v.Processor));
  Label7->SetText(PageText(v.OsName));
  Label9->SetText(PageText(v.ComputerName));
  Label11->SetText(PageText(v.RamTotal));
  Label13->SetText(PageText(v.RamFree));
  Label15->SetText(PageText(v.MemoryUsed));
  Label17->SetText(PageText(v.VirtualTotal));
  Label19->SetText(PageText(v.VirtualFree));
}

void TFrame1::FillScanSummary() {
  const TSettings& s = Main().State.Settings;
  if (!s.LastScan.empty()) {
    Label23->show();
    ImOutOfDate->hide();
    Label22->SetText(QStringLiteral("Scan summary"));
    LoadJpegResource("ICOLASTCHECK", ImLastCheck);
    const QString date = AnsiToQ(LastScanLabelText(s.LastScan));
    // The longest day and month names still fit in the box.
    for (int px = 13; px > 10; --px) {
      Label23->setFont(SkinFont(QStringLiteral("Arial"), px));
      if (QFontMetrics(Label23->font()).horizontalAdvance(date) <= Label23->width()) break;
    }
    Label23->SetText(date);
    try {
      Main().UpdateDiagram();
    } catch (const std::exception&) {
      // The summary stands without its diagram.
    }
  } else {
    Label23->hide();
    LoadGifResource("OUT_OF_DATE", ImOutOfDate);
    ImOutOfDate->show();
    ImOutOfDate->raise();
    LoadJpegResource("ICOWARNING", ImLastCheck);
    Label22->SetText(QStringLiteral("Your drivers are out of date!"));
    PanDiag->hide();
  }
}

void TFrame1::FillCompanionOffer() {
  HKEY key = nullptr;
  const bool installed =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS;
  if (installed) RegCloseKey(key);
  if (installed || ts1DownProgTag != 0) return;
  ts1Label30->hide();
  ts1Label31->hide();
  ts1Label32->show();
  ts1Label33->show();
  ts1ImIcoDown->show();
  ts1DownProg->move(ts1DownProg->x(), kBarParked);
  ts1DownProgTag = 0;
}

void TFrame1::ImBtnScanNowRelease() {
  Main().CurrentStep = 2;
  Main().ShowStep(2, true);
}

void TFrame1::ts1Label33Click() {
  ShowBusy();
  Companion.Start();
}

void TFrame1::ShowBusy() {
  ts1Label30->SetText(QStringLiteral("Downloading Sweepline"));
  ts1Label30->show();
  ts1Label31->show();
  ts1Label32->hide();
  ts1Label33->hide();
  ts1ImIcoDown->show();
  ts1DownProg->move(ts1DownProg->x(), kBarTop);
  ts1DownProgTag = 1;
}

void TFrame1::ResetToolProgress() {
  ts1Label31->SetText(QStringLiteral("(0%)..."));
  ts1DownProg->SetProgress(0);
}

void TFrame1::ShowToolProgress(int32_t current, int32_t total) {
  if (total > 0) {
    ts1DownProg->SetMinValue(0);
    ts1DownProg->SetMaxValue(total);
  }
  ts1DownProg->SetProgress(current);
  if (total <= 0 || current <= 0)
    ts1Label31->SetText(QStringLiteral("(0%)..."));
  else
    ts1Label31->SetText(QStringLiteral("(%1%)...").arg(RoundedPercent(current, total)));
}

void TFrame1::ShowInstalling() {
  ts1Label30->SetText(QStringLiteral("Installing..."));
  ts1Label31->hide();
}

void TFrame1::ToolDownloadFinished() {
  ts1Label30->hide();
  ts1Label31->hide();
  ts1Label32->hide();
  ts1Label33->hide();
  ts1ImIcoDown->hide();
  ts1DownProg->move(ts1DownProg->x(), kBarParked - 1);
  ts1DownProgTag = 0;
}

void TFrame1::ShowInstallerNotSigned(const std::string& text) {
  ts1Label30->SetText(AnsiToQ(text));
  ts1Label30->show();
}

bool TFrame1::ToolDownloadRunning() const { return ts1DownProgTag != 0; }
