// The window driven as a user drives it: Scan Now on the XP desktop fixture
// against the reference update server on loopback, the results list, its
// filter and marks, the detail dialogs, Back, the settings page, a server
// error, Cancel at the connectivity prompt and an upload that gets no answer.
#include "pages_fixture.h"

#include "core/uAppState.h"
#include "ui/widgets/cm_LSVGauges.h"
#include "ui/widgets/uDiagram.h"
#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/pages/uFrame1.h"
#include "ui/pages/uFrame2.h"
#include "ui/pages/uFrame3.h"
#include "ui/pages/uFrame4.h"
#include "ui/pages/uPageText.h"
#include "ui/widgets/uStringGrid.h"
#include "scan/uExchange.h"
#include "scan/uSSLRequest.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"

#include <windows.h>
#include <winreg.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <QAction>
#include <QLineEdit>
#include <QPainter>

using korvane::testing::UpdateServerOptions;
using korvane::testing::UpdateServerProcess;

namespace {

QString Text(const TSkinLabel* l) { return l->text(); }

// The rows of the results list as "C:<class>" and "D:<name>:<newdate>".
std::vector<std::string> ListRows(TFrame3* f) {
  std::vector<std::string> rows;
  for (int r = 0; r < f->sgDrvList->RowCount(); ++r) {
    const std::string name = f->sgDrvList->Cell(0, r).toStdString();
    if (f->IsClassRow(r))
      rows.push_back("C:" + name);
    else
      rows.push_back("D:" + name + ":" + f->sgDrvList->Cell(TFrame3::kColNewDate, r).toStdString());
  }
  return rows;
}

int RowOf(TFrame3* f, const std::string& name) {
  for (int r = 0; r < f->sgDrvList->RowCount(); ++r)
    if (f->sgDrvList->Cell(0, r).toStdString() == name) return r;
  return -1;
}

QPoint CellCentre(TFrame3* f, int col, int row) { return f->sgDrvList->CellRect(col, row).center(); }

// What one cell of the list draws.
QImage DrawCell(TFrame3* f, int col, int row) {
  const QRect rect = f->sgDrvList->CellRect(col, row);
  QImage img(rect.size(), QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  f->sgDrvListDrawCell(col, row, QRect(QPoint(0, 0), rect.size()), p);
  return img;
}

QImage Picture(const char* name) {
  QImage img;
  LoadJpegResource(name, img);
  return img.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TEST_F(PagesServerTest, FirstRunStartPageShowsTheWarning) {
  OpenOnFixture();
  TFrame1* f = Frame1();
  EXPECT_TRUE(f->isVisible() || !main_->isVisible());
  EXPECT_EQ(Text(f->Label22), QStringLiteral("Your drivers are out of date!"));
  EXPECT_FALSE(f->PanDiag->isVisibleTo(f));
  EXPECT_TRUE(f->ImOutOfDate->isVisibleTo(f));
  EXPECT_FALSE(f->Label23->isVisibleTo(f));
  EXPECT_EQ(Text(main_->Label1), QStringLiteral("Getting start"));
  EXPECT_EQ(main_->ResultsMark(), 0);
  EXPECT_EQ(f->OsShortName, "xp-32");
  EXPECT_EQ(main_->State.OsShortName, "xp-32");
  // The computer's facts, from the fixture.
  EXPECT_TRUE(Text(f->Label7).contains(QStringLiteral("Windows XP"))) << Text(f->Label7).toStdString();
  EXPECT_TRUE(Text(f->Label7).contains(QStringLiteral("\nService Pack 2"))) << Text(f->Label7).toStdString();
  EXPECT_FALSE(Text(f->Label5).isEmpty());
  EXPECT_FALSE(Text(f->Label9).isEmpty());
  EXPECT_TRUE(Text(f->Label11).endsWith(QStringLiteral(" Mb")));
  EXPECT_TRUE(Text(f->Label15).endsWith(QStringLiteral("%")));
  // No companion tool installed: the offer is shown.
  EXPECT_TRUE(f->ts1Label33->isVisibleTo(f));
  EXPECT_FALSE(f->ts1Label30->isVisibleTo(f));
  EXPECT_EQ(f->ts1DownProg->y(), TFrame1::kBarParked);
  EXPECT_TRUE(skinErrors_.empty());
}

TEST_F(PagesServerTest, ScanNowThroughToTheResults) {
  OpenOnFixture();
  ASSERT_TRUE(ScanNow());
  EXPECT_TRUE(skinErrors_.empty()) << skinErrors_.front();
  EXPECT_EQ(main_->CurrentStep, 3);
  EXPECT_TRUE(Frame3()->isVisibleTo(main_.get()));
  EXPECT_EQ(Text(main_->Label1), QStringLiteral("Scanning of your system is completed"));
  EXPECT_EQ(main_->ResultsMark(), 1);
  const TSettings& s = main_->State.Settings;
  EXPECT_EQ(s.tDrivers, 41);
  EXPECT_EQ(s.odDrivers, 3);
  EXPECT_EQ(s.udDrivers, 38);
  EXPECT_FALSE(s.LastScan.empty());
  EXPECT_FALSE(s.IsSysUpdated);  // the network adapter's update has no package
  EXPECT_TRUE(modalCalls_.empty());

  // The scan page saw every section.
  EXPECT_EQ(Frame2()->SectionCount(), 15);
  EXPECT_EQ(Frame2()->sgGuidList->RowCount(), 15);
  EXPECT_EQ(Frame2()->sgGuidList->Cell(0, 14), QStringLiteral("Universal Serial Bus controllers"));
  EXPECT_EQ(Frame2()->sgGuidList->Cell(2, 14), QStringLiteral("6"));
  EXPECT_EQ(Frame2()->sgGuidList->Row(), 14);
  EXPECT_EQ(Frame2()->ggTotProg->Progress(), 100);

  // Filter on (the start state): the three classes with updates, each with its out-of-date driver.
  TFrame3* f = Frame3();
  EXPECT_TRUE(f->ImgCheckBox1->Checked());
  const std::vector<std::string> want = {"C:Display adapters",
                                         "D:NVIDIA GeForce FX 5200:11-21-2008",
                                         "C:Network adapters",
                                         "D:Broadcom NetXtreme 57xx Gigabit Controller:10-8-2009",
                                         "C:Sound, video and game controllers",
                                         "D:SoundMAX Integrated Digital Audio:4-3-2007"};
  EXPECT_EQ(ListRows(f), want);
  EXPECT_EQ(f->sgDrvList->RowHeight(0), 32);
  EXPECT_EQ(f->sgDrvList->RowHeight(1), 20);
  EXPECT_EQ(f->sgDrvList->Cell(TFrame3::kColClass, 0), QStringLiteral("2"));
  EXPECT_EQ(f->sgDrvList->Cell(TFrame3::kColRecord, 1), QStringLiteral("3"));

  // Diagram: 38 of 41 up to date gives 93 %, so p = 7, made even: 8.
  EXPECT_TRUE(f->PanDiag->isVisibleTo(f));
  EXPECT_EQ(Text(f->PanDiag->Label24), QStringLiteral(" - 3 (8%)"));
  EXPECT_EQ(Text(f->PanDiag->Label25), QStringLiteral(" - 38 (92%)"));
  QImage pie;
  LoadGifResource("DIAGIMG8", pie);
  EXPECT_EQ(f->PanDiag->ImDiag->Picture(), pie.convertToFormat(QImage::Format_RGB32));

  // Marks of an out-of-date row: download, red cross, information.
  const int nv = RowOf(f, "NVIDIA GeForce FX 5200");
  ASSERT_GE(nv, 0);
  EXPECT_EQ(DrawCell(f, 1, nv).copy(0, 2, 16, 16), Picture("BTNLISTDRV_DOWN"));
  EXPECT_EQ(DrawCell(f, 2, nv).copy(0, 2, 16, 16), Picture("BTNLISTDRV_BAD"));
  EXPECT_EQ(DrawCell(f, 3, nv).copy(0, 2, 16, 16), Picture("BTNLISTDRV_INFO"));
  // Its name is drawn bold and red.
  const QImage name = DrawCell(f, 0, nv);
  bool red = false;
  for (int y = 0; y < name.height() && !red; ++y)
    for (int x = 30; x < name.width() && !red; ++x) red = name.pixel(x, y) == qRgb(255, 0, 0);
  EXPECT_TRUE(red);
  // The class row's bar and icon.
  const QImage classRow = DrawCell(f, 0, 0);
  EXPECT_NE(classRow.pixel(60, 2), qRgb(255, 255, 255));

  // Filter off: every class with every driver.
  f->ImgCheckBox1->OnClick();
  EXPECT_FALSE(f->ImgCheckBox1->Checked());
  EXPECT_EQ(f->sgDrvList->RowCount(), 15 + 41);
  const int disk = RowOf(f, "ST3160023AS");
  ASSERT_GE(disk, 0);
  EXPECT_EQ(DrawCell(f, 2, disk).copy(0, 2, 16, 16), Picture("BTNLISTDRV_GOOD"));
  // An up-to-date row draws no download mark.
  EXPECT_EQ(DrawCell(f, 1, disk), [&] {
    QImage w(DrawCell(f, 1, disk).size(), QImage::Format_RGB32);
    w.fill(Qt::white);
    return w;
  }());
  // The last driver row of a class stops its connector at mid-height.
  const int lastDisk = RowOf(f, "SanDisk Cruzer Micro USB Device");
  const QImage connectorLast = DrawCell(f, 0, lastDisk);
  EXPECT_EQ(connectorLast.pixel(16, 2), qRgb(192, 192, 192));
  EXPECT_EQ(connectorLast.pixel(16, 18), qRgb(255, 255, 255));
  EXPECT_EQ(DrawCell(f, 0, disk).pixel(16, 18), qRgb(192, 192, 192));
  // And back on.
  f->ImgCheckBox1->OnClick();
  EXPECT_EQ(f->sgDrvList->RowCount(), 6);
}

TEST_F(PagesServerTest, MarksOpenTheDialogsAndTheDownload) {
  OpenOnFixture();
  ASSERT_TRUE(ScanNow());
  TFrame3* f = Frame3();
  const int nv = RowOf(f, "NVIDIA GeForce FX 5200");
  const int bc = RowOf(f, "Broadcom NetXtreme 57xx Gigabit Controller");
  ASSERT_GE(nv, 0);
  ASSERT_GE(bc, 0);

  // Download mark: the package URL, and nothing for an update without one.
  QPoint p = CellCentre(f, 1, nv);
  f->sgDrvListMouseDown(Qt::LeftButton, p.x(), p.y());
  ASSERT_EQ(downloads_.size(), 1u);
  EXPECT_EQ(downloads_[0], server_->HttpBase() + "/packages/nvidia-forceware-178.13.zip");
  p = CellCentre(f, 1, bc);
  f->sgDrvListMouseDown(Qt::LeftButton, p.x(), p.y());
  EXPECT_EQ(downloads_.size(), 1u);
  // Column 2 and class rows do nothing.
  p = CellCentre(f, 2, nv);
  f->sgDrvListMouseDown(Qt::LeftButton, p.x(), p.y());
  p = CellCentre(f, 3, 0);
  f->sgDrvListMouseDown(Qt::LeftButton, p.x(), p.y());
  EXPECT_TRUE(modalCalls_.empty());
  EXPECT_EQ(downloads_.size(), 1u);

  // Hover: hand over the marks that act.
  p = CellCentre(f, 3, nv);
  f->sgDrvListMouseMove(p.x(), p.y());
  EXPECT_EQ(f->sgDrvList->viewport()->cursor().shape(), Qt::PointingHandCursor);
  p = CellCentre(f, 0, nv);
  f->sgDrvListMouseMove(p.x(), p.y());
  EXPECT_EQ(f->sgDrvList->viewport()->cursor().shape(), Qt::ArrowCursor);

  // Information mark of an out-of-date driver: the update dialog; its Download
  // button hands over the URL and closes it.
  std::vector<QString> seen;
  answer_ = [&](TSkinForm& form) {
    if (auto* d = dynamic_cast<TDrvInfoForm2*>(&form)) {
      seen = {Text(d->Label1), Text(d->Label2), Text(d->Label3), Text(d->Label4),
              Text(d->Label5), Text(d->Label6), Text(d->Label7), Text(d->Label8)};
      d->ImBtnDownload->SimulateClick();
      return d->ModalResult();
    }
    if (auto* d = dynamic_cast<TDrvInfoForm1*>(&form)) {
      seen = {Text(d->Label1), Text(d->Label2), Text(d->Label3), Text(d->Label4)};
      return mrCancel;
    }
    return mrOk;
  };
  p = CellCentre(f, 3, nv);
  f->sgDrvListMouseDown(Qt::RightButton, p.x(), p.y());
  ASSERT_EQ(modalCalls_.size(), 1u);
  EXPECT_EQ(modalCalls_[0].Form, "TDrvInfoForm2");
  const std::vector<QString> want2 = {
      QStringLiteral("NVIDIA GeForce FX 5200"), QStringLiteral("NVIDIA"), QStringLiteral("11/2/2006"),
      QStringLiteral("6.14.10.9371"),           QStringLiteral("NVIDIA GeForce FX 5200"), QStringLiteral("NVIDIA"),
      QStringLiteral("11/21/2008"),             QStringLiteral("6.14.11.7813")};
  EXPECT_EQ(seen, want2);
  ASSERT_EQ(downloads_.size(), 2u);
  EXPECT_EQ(downloads_[1], downloads_[0]);
  EXPECT_EQ(info2_->ModalResult(), mrCancel);

  // An up-to-date driver: the installed driver only, its date as stored.
  f->ImgCheckBox1->OnClick();
  const int disk = RowOf(f, "ST3160023AS");
  p = CellCentre(f, 3, disk);
  f->sgDrvListMouseDown(Qt::LeftButton, p.x(), p.y());
  ASSERT_EQ(modalCalls_.size(), 2u);
  EXPECT_EQ(modalCalls_[1].Form, "TDrvInfoForm1");
  const std::vector<QString> want1 = {QStringLiteral("ST3160023AS"), QStringLiteral("Microsoft"),
                                      QStringLiteral("7-1-2001"), QStringLiteral("5.1.2600.2180")};
  EXPECT_EQ(seen, want1);
  // Shown again for another record, every value is replaced.
  info1_->RecordIndex = 3;
  info1_->ShowModal();
  EXPECT_EQ(seen[0], QStringLiteral("NVIDIA GeForce FX 5200"));
  EXPECT_EQ(seen[2], QStringLiteral("11-2-2006"));
}

TEST_F(PagesServerTest, BackShowsTheSummaryAndSettingsRoundTrips) {
  OpenOnFixture();
  ASSERT_TRUE(ScanNow());
  TFrame3* f3 = Frame3();
  const int rows = f3->sgDrvList->RowCount();

  // Settings from the results page: OK and Cancel come back to the same list, unrebuilt.
  f3->sgDrvList->SetCell(7, 0, QStringLiteral("marker"));
  main_->ImBtnSettingsClick();
  TFrame4* f4 = Frame4();
  EXPECT_TRUE(f4->isVisibleTo(main_.get()));
  EXPECT_EQ(Text(main_->Label1), QStringLiteral("General Settings"));
  EXPECT_EQ(main_->ResultsMark(), 1);
  const bool autoRun0 = main_->State.Settings.AutoRun;
  const bool tray0 = main_->State.Settings.CloseToTray;
  EXPECT_EQ(f4->ImCheckBox1->Checked(), autoRun0);
  EXPECT_EQ(f4->ImCheckBox2->Checked(), tray0);
  f4->ImCheckBox1->OnClick();
  EXPECT_EQ(f4->ImCheckBox1->Checked(), !autoRun0);
  f4->ImCheckBox3->OnClick ? f4->ImCheckBox3->OnClick() : void();
  EXPECT_FALSE(f4->ImCheckBox3->Checked());  // the proxy box ignores clicks
  f4->Edit1->setText(QStringLiteral(" proxy.example "));
  f4->Edit2->setText(QStringLiteral("80a"));
  f4->Edit4->setText(QStringLiteral("s3cr"));
  EXPECT_EQ(f4->Edit4->echoMode(), QLineEdit::Password);
  EXPECT_EQ(f4->Edit4->displayText(), QStringLiteral("****"));
  f4->ImBtnCancel->SimulateClick();
  EXPECT_EQ(main_->State.Settings.AutoRun, autoRun0);
  EXPECT_EQ(main_->State.Settings.ProxyHost, "");
  EXPECT_TRUE(f3->isVisibleTo(main_.get()));
  // The header names the results page again, not the settings page.
  EXPECT_EQ(Text(main_->Label1), QStringLiteral("Scanning of your system is completed"));
  EXPECT_EQ(Text(main_->Label2), QStringLiteral("Now you can update out of date drivers..."));
  EXPECT_EQ(main_->ResultsMark(), 1);
  EXPECT_EQ(f3->sgDrvList->Cell(7, 0), QStringLiteral("marker"));

  main_->ImBtnSettingsClick();
  EXPECT_EQ(f4->ImCheckBox1->Checked(), autoRun0);  // Cancel kept nothing
  EXPECT_EQ(f4->Edit1->text(), QString());
  f4->ImCheckBox1->OnClick();
  f4->ImCheckBox2->OnClick();
  f4->Edit1->setText(QStringLiteral(" proxy.example "));
  f4->Edit2->setText(QStringLiteral("80a"));
  f4->Edit3->setText(QStringLiteral("me"));
  f4->Edit4->setText(QStringLiteral("s3cr"));
  f4->ImBtnOK->SimulateClick();
  const TSettings& s = main_->State.Settings;
  EXPECT_EQ(s.AutoRun, !autoRun0);
  EXPECT_EQ(s.CloseToTray, !tray0);
  EXPECT_FALSE(s.UseProxy);
  EXPECT_EQ(s.ProxyHost, " proxy.example ");  // no trimming, no validation
  EXPECT_EQ(s.ProxyPort, "80a");
  EXPECT_EQ(s.ProxyLogin, "me");
  EXPECT_EQ(s.ProxyPassw, "s3cr");
  EXPECT_TRUE(f3->isVisibleTo(main_.get()));
  EXPECT_EQ(Text(main_->Label1), QStringLiteral("Scanning of your system is completed"));
  EXPECT_EQ(f3->sgDrvList->RowCount(), rows);
  EXPECT_EQ(f3->sgDrvList->Cell(7, 0), QStringLiteral("marker"));
  main_->ImBtnSettingsClick();
  EXPECT_EQ(f4->ImCheckBox1->Checked(), !autoRun0);
  EXPECT_EQ(f4->Edit4->text(), QStringLiteral("s3cr"));
  f4->ImBtnCancel->SimulateClick();

  // Back: the start page with the summary of this scan.
  f3->ImBtnBack->SimulateClick();
  EXPECT_EQ(main_->CurrentStep, 1);
  TFrame1* f1 = Frame1();
  EXPECT_TRUE(f1->isVisibleTo(main_.get()));
  EXPECT_EQ(main_->ResultsMark(), 0);
  EXPECT_EQ(Text(f1->Label22), QStringLiteral("Scan summary"));
  EXPECT_TRUE(f1->Label23->isVisibleTo(f1));
  EXPECT_FALSE(f1->ImOutOfDate->isVisibleTo(f1));
  EXPECT_EQ(Text(f1->Label23).toStdString(), LastScanLabelText(s.LastScan));
  EXPECT_NE(Text(f1->Label23), QStringLiteral("undefined"));
  EXPECT_TRUE(f1->PanDiag->isVisibleTo(f1));
  EXPECT_EQ(Text(f1->PanDiag->Label24), QStringLiteral(" - 3 (8%)"));

  // Settings from the start page go back to a refreshed start page.
  main_->ImBtnSettingsClick();
  main_->State.Settings.LastScan = "not a date";
  f4->ImBtnOK->SimulateClick();
  EXPECT_TRUE(f1->isVisibleTo(main_.get()));
  EXPECT_EQ(Text(f1->Label23), QStringLiteral("undefined"));
  EXPECT_TRUE(f1->PanDiag->isVisibleTo(f1));  // the diagram is still refreshed
}

// The tray's Settings during a scan (the page's own button is hidden then),
// Cancel back to the start page, which is refilled while the scan goes on, and
// Scan Now again: the running scan's page, no second scan. The window's data is
// the last scan's until the scan hands its own over at its end; then the
// results page shows the figures of the one check.
TEST_F(PagesServerTest, OneScanAtATimeFromTheTrayToo) {
  OpenOnFixture();
  const auto checks = [] {
    std::ifstream in(server_->LogFile());
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int n = 0;
    for (std::size_t at = log.find("/remote/check_upd.php"); at != std::string::npos;
         at = log.find("/remote/check_upd.php", at + 1))
      ++n;
    return n;
  };
  const int checksBefore = checks();
  Frame1()->ImBtnScanNow->SimulateClick();
  TScanThread* first = Frame2()->ScanThread;
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(main_->ImBtnSettings->isVisibleTo(main_.get()));
  trayPart_->TrayMenu->findChild<QAction*>(QStringLiteral("Settings1"))->trigger();
  EXPECT_TRUE(Frame4()->isVisibleTo(main_.get()));
  Frame4()->ImBtnCancel->SimulateClick();
  EXPECT_TRUE(Frame1()->isVisibleTo(main_.get()));
  EXPECT_EQ(main_->State.DrvCount, 0);  // the scan's records are still its own
  EXPECT_EQ(main_->State.DrvList.size(), 1u);
  Frame1()->ImBtnScanNow->SimulateClick();
  EXPECT_EQ(Frame2()->ScanThread, first);
  EXPECT_TRUE(Frame2()->isVisibleTo(main_.get()));
  ASSERT_TRUE(WaitFor([this] { return !Frame2()->Scanning(); }));
  EXPECT_EQ(main_->CurrentStep, 3);
  EXPECT_TRUE(Frame3()->isVisibleTo(main_.get()));
  const TSettings& s = main_->State.Settings;
  EXPECT_GT(main_->State.DrvCount, 0);
  EXPECT_EQ(s.tDrivers, main_->State.DrvCount);
  EXPECT_EQ(s.udDrivers + s.odDrivers, s.tDrivers);
  EXPECT_FALSE(s.LastScan.empty());
  const std::string shown = Text(Frame3()->PanDiag->Label24).toStdString();
  EXPECT_EQ(shown.substr(0, shown.find('(')), " - " + std::to_string(s.odDrivers) + " ") << shown;
  WaitFor([] { return false; }, 300);  // a second scan would have reached the server by now
  EXPECT_EQ(checks() - checksBefore, 1);
}

TEST_F(PagesServerTest, CancelAtTheConnectivityPrompt) {
  UseMachine("xp-desktop");
  // Nothing listens on port 1 of loopback: the probe fails at once.
  UseServer("http://127.0.0.1:1", "https://127.0.0.1:1");
  OpenWindow();
  // An earlier successful scan's figures do not matter.
  main_->State.Settings.LastScan = "7/23/2007 4:19:00 PM";
  main_->State.Settings.tDrivers = 10;
  main_->State.Settings.udDrivers = 7;
  main_->State.Settings.odDrivers = 3;
  answer_ = [](TSkinForm&) { return mrCancel; };
  ASSERT_TRUE(ScanNow());
  ASSERT_EQ(modalCalls_.size(), 1u);
  EXPECT_EQ(modalCalls_[0].Form, "TInfoForm");
  EXPECT_EQ(modalCalls_[0].Message, ConnectivityPromptText);
  EXPECT_EQ(main_->CurrentStep, 1);
  EXPECT_TRUE(main_->State.Settings.LastScan.empty());
  EXPECT_FALSE(main_->State.Settings.IsSysUpdated);
  TFrame1* f1 = Frame1();
  EXPECT_TRUE(f1->isVisibleTo(main_.get()));
  EXPECT_EQ(Text(f1->Label22), QStringLiteral("Your drivers are out of date!"));
  EXPECT_FALSE(f1->PanDiag->isVisibleTo(f1));
  EXPECT_TRUE(f1->ImOutOfDate->isVisibleTo(f1));
}

TEST_F(PagesServerTest, AnUploadWithoutAnswerIsNoCheck) {
  UseMachine("xp-desktop");
  // Probe and certificate answer; the update check's port is closed.
  UseServer(server_->HttpBase(), "https://127.0.0.1:1");
  OpenWindow();
  main_->State.Settings.IsSysUpdated = true;
  ASSERT_TRUE(ScanNow());
  ASSERT_EQ(modalCalls_.size(), 1u);
  // The notice names the cause after its fixed first sentence.
  EXPECT_EQ(modalCalls_[0].Message,
            NoAnswerNotice({TCauseKind::Connect,
                            "Could not connect to 127.0.0.1 port 1: connection refused."}));
  EXPECT_EQ(main_->CurrentStep, 1);
  EXPECT_TRUE(main_->State.Settings.LastScan.empty());
  EXPECT_EQ(main_->State.Settings.tDrivers, 0);
  EXPECT_TRUE(main_->State.Settings.IsSysUpdated);  // no answer is no verdict
  EXPECT_EQ(Text(Frame1()->Label22), QStringLiteral("Your drivers are out of date!"));
  EXPECT_TRUE(Balloons().empty());
}

// A report the packer cannot write: the skinned error box with Abort alone,
// then the no-answer notice naming the packing as the cause.
TEST_F(PagesServerTest, ReportThatCannotBePackedShowsTheAbortBoxThenTheCause) {
  OpenOnFixture();
  const std::string packed = main_->State.TempFolder + "scanres.log.gz";
  ASSERT_TRUE(std::filesystem::create_directory(packed));  // the packer cannot create it
  std::vector<std::string> buttons;
  answer_ = [&](TSkinForm& form) {
    auto& info = dynamic_cast<TInfoForm&>(form);
    buttons.push_back(std::string(info.ImBtnOk->isVisibleTo(&info) ? "ok " : "") +
                      (info.ImBtnCancel->isVisibleTo(&info) ? "cancel " : "") +
                      (info.ImBtnAbort->isVisibleTo(&info) ? "abort" : ""));
    return info.ImBtnAbort->isVisibleTo(&info) ? mrAbort : mrOk;
  };
  ASSERT_TRUE(ScanNow());
  ASSERT_EQ(modalCalls_.size(), 2u);
  EXPECT_EQ(modalCalls_[0].Form, "TInfoForm");
  EXPECT_EQ(modalCalls_[0].Message, "Can't open: " + packed);
  EXPECT_EQ(buttons[0], "abort");
  EXPECT_EQ(modalCalls_[1].Message,
            NoAnswerNotice({TCauseKind::LocalFile, "The report could not be packed: Can't open: " + packed + "."}));
  EXPECT_EQ(buttons[1], "ok ");
  EXPECT_EQ(main_->CurrentStep, 1);
  std::filesystem::remove(packed);
}

TEST_F(PagesTest, ServerErrorCodeTwoShowsBalloonNoticeAndResults) {
  UpdateServerOptions o;
  o.Catalogue = PagesCatalogue();
  o.ExtraArgs = {"--force-errcode", "2", "--force-errmsg", "The update service is down for maintenance."};
  UpdateServerProcess server(o);
  UseMachine("xp-desktop");
  UseServer(server.HttpBase(), server.HttpsBase());
  OpenWindow();
  ASSERT_TRUE(ScanNow());
  ASSERT_EQ(Balloons().size(), 1u);
  EXPECT_EQ(Balloons()[0], "Korvane error notice|The update service is down for maintenance.|" +
                               std::to_string(bitError) + "|60");
  ASSERT_EQ(modalCalls_.size(), 1u);
  EXPECT_EQ(modalCalls_[0].Form, "TInfoForm");
  EXPECT_EQ(modalCalls_[0].Message, "The update service is down for maintenance.");
  EXPECT_EQ(main_->CurrentStep, 3);
  EXPECT_TRUE(Frame3()->isVisibleTo(main_.get()));
  // Nothing out of date: the filter is off and lists everything.
  EXPECT_EQ(main_->State.Settings.odDrivers, 0);
  EXPECT_FALSE(Frame3()->ImgCheckBox1->Checked());
  EXPECT_EQ(Frame3()->sgDrvList->RowCount(), 15 + 41);
  Frame3()->ImgCheckBox1->OnClick();  // ignored with nothing to filter
  EXPECT_FALSE(Frame3()->ImgCheckBox1->Checked());
  EXPECT_EQ(Text(Frame3()->PanDiag->Label24), QStringLiteral(" - 0 (0%)"));
  EXPECT_EQ(Text(Frame3()->PanDiag->Label25), QStringLiteral(" - 41 (100%)"));
}

TEST_F(PagesTest, ScanPageAnimationAndUpdateCheckBar) {
  UseMachine("");
  OpenWindow();
  TFrame2* f = Frame2();
  f->AnimFrame = 0;
  for (int i = 1; i <= 9; ++i) {
    f->Timer1Timer();
    EXPECT_EQ(f->AnimFrame, i == 9 ? 1 : i);
  }
  QImage frame1;
  LoadJpegResource("ANIMSCAN_PIC1", frame1);
  EXPECT_EQ(f->ImAnimScanProgress->Picture(), frame1.convertToFormat(QImage::Format_RGB32));

  f->YellowPhase = true;
  f->BeginUpdateCheck();
  EXPECT_TRUE(f->Timer2->isActive());
  for (int i = 0; i < 100; ++i) f->Timer2Timer();
  EXPECT_EQ(f->ggCurProg->Progress(), 100);
  EXPECT_EQ(Text(f->Label20), QString::fromLatin1(SearchingText));
  EXPECT_TRUE(f->YellowPhase);
  f->Timer2Timer();  // the 101st tick wraps and swaps the textures
  EXPECT_EQ(f->ggCurProg->Progress(), 0);
  EXPECT_FALSE(f->YellowPhase);
  QImage yellow;
  LoadJpegResource("PROG_YELLOW", yellow);
  EXPECT_EQ(f->ggCurProg->TextureOnBack(), yellow);
  for (int i = 0; i < 101; ++i) f->Timer2Timer();
  EXPECT_TRUE(f->YellowPhase);
  EXPECT_EQ(f->ggCurProg->TextureOnFore(), yellow);
  EXPECT_EQ(f->ggCurProg->Text(), QString());
  f->FinishUpdateCheck();
  EXPECT_FALSE(f->Timer2->isActive());
}

TEST_F(PagesTest, StartPageSummaryDatesDiagramAndCompanionOffer) {
  UseMachine("xp-desktop");
  OpenWindow();
  TFrame1* f = Frame1();
  TSettings& s = main_->State.Settings;
  struct Case { const char* stored; const char* shown; };
  const Case cases[] = {{"7/23/2007 12:00:00 PM", "Monday, July 23, 2007, 12:00 pm"},
                        {"7/24/2007", "Tuesday, July 24, 2007, 12:00 am"},  // midnight is stored without a time
                        {"7/24/2007 12:30:00 AM", "Tuesday, July 24, 2007, 12:30 am"},
                        {"7/23/2007 4:19:00 PM", "Monday, July 23, 2007, 04:19 pm"}};
  s.tDrivers = 10;
  s.udDrivers = 7;
  s.odDrivers = 3;
  for (const Case& c : cases) {
    s.LastScan = c.stored;
    main_->ShowStep(1, true);
    EXPECT_EQ(Text(f->Label23).toStdString(), c.shown);
  }
  EXPECT_EQ(Text(f->Label22), QStringLiteral("Scan summary"));
  EXPECT_TRUE(f->PanDiag->isVisibleTo(f));
  EXPECT_EQ(Text(f->PanDiag->Label24), QStringLiteral(" - 3 (30%)"));
  EXPECT_EQ(Text(f->PanDiag->Label25), QStringLiteral(" - 7 (70%)"));
  QImage pie;
  LoadGifResource("DIAGIMG30", pie);
  EXPECT_EQ(f->PanDiag->ImDiag->Picture(), pie.convertToFormat(QImage::Format_RGB32));

  // A successful scan that found nothing: the date and no diagram.
  s.tDrivers = s.udDrivers = s.odDrivers = 0;
  main_->ShowStep(1, true);
  EXPECT_TRUE(f->Label23->isVisibleTo(f));
  EXPECT_FALSE(f->PanDiag->isVisibleTo(f));

  // The companion tool installed: no offer.
  EXPECT_TRUE(f->ts1Label33->isVisibleTo(f));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  f->ToolDownloadFinished();
  main_->ShowStep(1, true);
  EXPECT_FALSE(f->ts1Label33->isVisibleTo(f));
  EXPECT_FALSE(f->ts1Label32->isVisibleTo(f));

  // A running companion download keeps its status through a refill.
  f->ShowBusy();
  f->ShowToolProgress(1, 8);
  main_->ShowStep(1, true);
  EXPECT_TRUE(f->ts1Label30->isVisibleTo(f));
  EXPECT_EQ(Text(f->ts1Label31), QStringLiteral("(12%)..."));
  EXPECT_EQ(f->ts1DownProg->y(), TFrame1::kBarTop);
  EXPECT_TRUE(f->ToolDownloadRunning());
}

// The companion tool installed before the start: its area on the start page
// stays empty from the first showing on (the offer never flashes up).
TEST_F(PagesTest, InstalledCompanionLeavesTheAreaEmpty) {
  UseMachine("xp-desktop");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  OpenWindow();
  TFrame1* f = Frame1();
  for (QWidget* w : {static_cast<QWidget*>(f->ts1ImIcoDown), static_cast<QWidget*>(f->ts1Label30),
                     static_cast<QWidget*>(f->ts1Label31), static_cast<QWidget*>(f->ts1Label32),
                     static_cast<QWidget*>(f->ts1Label33)})
    EXPECT_FALSE(w->isVisibleTo(f)) << w->objectName().toStdString();
  EXPECT_GE(f->ts1DownProg->y(), 371);  // the bar is parked below the page
}

// Counts of four and five digits fit beside the legend: the labels step down
// a pixel size at a time, and their text ends inside the panel.
TEST_F(PagesTest, DiagramCountLabelsFitLargeCounts) {
  UseMachine("xp-desktop");
  OpenWindow();
  TDiagramPanel* panel = Frame1()->PanDiag;
  struct Case { int32_t od, ud; };
  for (const Case c : {Case{3, 7}, Case{2100, 9567}, Case{54321, 12345}}) {
    TSettings& s = main_->State.Settings;
    s.tDrivers = c.od + c.ud;
    s.odDrivers = c.od;
    s.udDrivers = c.ud;
    s.LastScan = "7/23/2007 4:19:00 PM";
    main_->ShowStep(1, true);
    for (TSkinLabel* l : {panel->Label24, panel->Label25}) {
      const QString text = Text(l);
      EXPECT_TRUE(text.endsWith(QStringLiteral("%)"))) << text.toStdString();
      const int right = l->x() + QFontMetrics(l->font()).horizontalAdvance(text);
      EXPECT_LE(right, panel->width()) << text.toStdString() << " at " << l->font().pixelSize() << " px";
      EXPECT_GE(l->width(), QFontMetrics(l->font()).horizontalAdvance(text)) << "the label cuts its text";
    }
    if (c.od < 10) {
      EXPECT_EQ(panel->Label24->font().pixelSize(), 13);  // small counts keep the design's size
    }
  }
}
