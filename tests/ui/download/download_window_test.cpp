// The downloads in the whole window. "Install Now" on the start page: the
// served installer really runs, records its uninstall entry and the tool
// starts; declining the connection prompt empties the area until the page
// fills again. The results page's download mark: the package arrives through
// the real download dialog.
#include "ui/pages/pages_fixture.h"

#include "core/uSettings.h"
#include "download/uDownToolThread.h"
#include "support/RawServer.h"
#include "ui/download/uDownloads.h"
#include "ui/pages/uCompanionArea.h"
#include "ui/download/uDownForm.h"
#include "ui/pages/uFrame1.h"
#include "ui/pages/uFrame3.h"
#include "ui/widgets/uStringGrid.h"
#include "ui/main/uSaveDialog.h"
#include "scan/uServerUrls.h"
#include "ui/widgets/uSkinLabel.h"
#include "ui/widgets/cm_LSVGauges.h"
#include "ui/widgets/uSkinControls.h"

#include <windows.h>
#include <winreg.h>

#include <unistd.h>

#include <QCoreApplication>

#include <cstdlib>
#include <string>

namespace {

using korvane::testing::UpdateServerProcess;

class WindowDownloadTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    if (const char* bin = std::getenv("KORVANE_BINARY_DIR"))
      ::setenv("KORVANE_REG", (std::string(bin) + "/tools/korvane-reg/korvane-reg").c_str(), 1);
    CompanionTimings().ReadTimeoutMs = 5000;
    CompanionTimings().WindowWaitMs = 50;
  }
  void TearDown() override {
    PagesTest::TearDown();
    CompanionTimings() = TCompanionTimings();
  }

  void UseVendor(const std::string& base) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, VendorURLValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(base.c_str()),
                   static_cast<DWORD>(base.size() + 1));
    RegCloseKey(key);
    LoadServerUrls();
  }

  // The start page owns its companion download; nothing more to join.
  void OpenWithDownloads() { OpenWindow(); }

  bool Offered() const {
    TFrame1* f = Frame1();
    return f->ts1Label32->isVisibleTo(f) && f->ts1Label33->isVisibleTo(f) && f->ts1ImIcoDown->isVisibleTo(f) &&
           !f->ts1Label30->isVisibleTo(f) && f->ts1DownProgTag == 0;
  }
  bool Empty() const {
    TFrame1* f = Frame1();
    return !f->ts1Label30->isVisibleTo(f) && !f->ts1Label31->isVisibleTo(f) && !f->ts1Label32->isVisibleTo(f) &&
           !f->ts1Label33->isVisibleTo(f) && !f->ts1ImIcoDown->isVisibleTo(f) && f->ts1DownProgTag == 0 &&
           f->ts1DownProg->y() > 371;
  }
};

TEST_F(WindowDownloadTest, InstallNowInstallsAndStartsTheServedTool) {
  if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
  if (korvane::testing::BuildSigningKey().empty())
    GTEST_SKIP() << "this build trusts the vendor's key only: no installer can be signed here";
  UpdateServerProcess srv;
  UseServer(srv.HttpBase(), srv.HttpsBase());
  UseVendor(srv.HttpBase());
  OpenWithDownloads();
  TFrame1* f = Frame1();
  ASSERT_TRUE(Offered());

  f->ts1Label33Click();
  EXPECT_TRUE(f->ToolDownloadRunning());
  EXPECT_EQ(f->ts1DownProg->y(), TFrame1::kBarTop);
  bool sawInstalling = false;
  ASSERT_TRUE(WaitFor([&] {
    if (f->ts1Label30->text() == QStringLiteral("Installing...") && f->ts1Label30->isVisibleTo(f))
      sawInstalling = true;
    return !f->ToolDownloadRunning();
  }));
  EXPECT_TRUE(sawInstalling || f->ts1Label30->text() == QStringLiteral("Installing..."));
  EXPECT_TRUE(Empty());
  EXPECT_EQ(f->ts1DownProg->Progress(), f->ts1DownProg->MaxValue());
  EXPECT_TRUE(modalCalls_.empty());  // no prompt, no message

  const std::string folder = machine_->Path("Program Files/Sweepline");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallSubKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  char buf[1024] = {};
  DWORD size = sizeof buf - 1, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(std::string(buf), folder);
  EXPECT_TRUE(WaitFor([&] { return ::access((folder + "/sweepline.log").c_str(), F_OK) == 0; }, 10000))
      << "the installed tool did not start";
  EXPECT_EQ(::access(machine_->Path("Temp/Sweepline.exe").c_str(), X_OK), 0);

  // Installed now: the page offers it no more.
  main_->ShowStep(1, true);
  EXPECT_TRUE(Empty());
}

TEST_F(WindowDownloadTest, AnUnsignedInstallerIsDeletedNotStartedAndTheAreaSaysSo) {
  if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
  korvane::testing::UpdateServerOptions o;
  o.Unsigned = true;  // as whoever answers in the vendor site's place serves it
  UpdateServerProcess srv(o);
  UseServer(srv.HttpBase(), srv.HttpsBase());
  UseVendor(srv.HttpBase());
  OpenWithDownloads();
  TFrame1* f = Frame1();
  ASSERT_TRUE(Offered());
  f->ts1Label33Click();
  ASSERT_TRUE(WaitFor([&] { return !f->ToolDownloadRunning(); }));
  EXPECT_EQ(f->ts1Label30->text(),
            QStringLiteral("The Sweepline installer is not signed by Brantholm, so it was not started."));
  EXPECT_TRUE(f->ts1Label30->isVisibleTo(f));
  EXPECT_FALSE(f->ts1Label31->isVisibleTo(f));
  EXPECT_FALSE(f->ts1Label33->isVisibleTo(f));
  EXPECT_EQ(f->ts1DownProgTag, 0);
  EXPECT_TRUE(modalCalls_.empty());
  EXPECT_NE(::access(machine_->Path("Temp/Sweepline.exe").c_str(), F_OK), 0) << "left on disk";
  EXPECT_NE(::access(machine_->Path("Program Files/Sweepline").c_str(), F_OK), 0) << "the installer ran";
  // The offer comes back with the page.
  main_->ShowStep(1, true);
  EXPECT_TRUE(Offered());
}

TEST_F(WindowDownloadTest, DecliningThePromptEmptiesTheAreaUntilThePageFillsAgain) {
  int deadPort = 0;
  {
    nettest::RawServer gone([](int, const std::string&) {});
    deadPort = gone.Port();
  }
  const std::string dead = "http://127.0.0.1:" + std::to_string(deadPort);
  UseServer(dead, dead);
  UseVendor(dead);
  OpenWithDownloads();
  answer_ = [](TSkinForm&) { return mrCancel; };
  TFrame1* f = Frame1();
  ASSERT_TRUE(Offered());
  f->ts1Label33Click();
  ASSERT_TRUE(WaitFor([&] { return !f->ToolDownloadRunning(); }));
  EXPECT_TRUE(Empty());
  ASSERT_EQ(modalCalls_.size(), 1u);
  EXPECT_EQ(modalCalls_[0].Message,
            "To continue downloading, you need to have an active Internet connection. "
            "Connect to the Internet and click OK.");
  EXPECT_NE(::access(machine_->Path("Temp/Sweepline.exe").c_str(), F_OK), 0);
  main_->ShowStep(1, true);
  EXPECT_TRUE(Offered());
}

TEST_F(WindowDownloadTest, DownloadMarkOnTheResultsPageFetchesThePackage) {
  if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
  korvane::testing::UpdateServerOptions o;
  o.Catalogue = PagesCatalogue();
  UpdateServerProcess srv(o);
  UseMachine("xp-desktop");
  UseServer(srv.HttpBase(), srv.HttpsBase());
  UseVendor(srv.HttpBase());
  OpenWindow();
  auto form = std::make_unique<TDownForm>(*main_);
  main_->Dialogs.Download = form.get();
  form->ReadTimeout = 5000;
  int progressSeen = 0;
  form->ModalHook = [&](TSkinForm& d) {
    while (d.ModalResult() == mrNone) {
      if (form->DownProg->Progress() > 0) ++progressSeen;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return d.ModalResult();
  };
  const std::string dest = root_ + "/nvidia-forceware-178.13.zip";
  std::string offered;
  auto saveHook = std::make_unique<TScopedSaveDialogHook>([&](TSaveDialog& d) {
    offered = d.FileName;
    d.FileName = dest;
    return true;
  });

  ASSERT_TRUE(ScanNow());
  TFrame3* f = Frame3();
  int row = -1;
  for (int r = 0; r < f->sgDrvList->RowCount(); ++r)
    if (f->sgDrvList->Cell(0, r) == QStringLiteral("NVIDIA GeForce FX 5200")) row = r;
  ASSERT_GE(row, 0);
  const QPoint p = f->sgDrvList->CellRect(1, row).center();
  modalCalls_.clear();
  f->sgDrvListMouseDown(Qt::LeftButton, p.x(), p.y());
  EXPECT_TRUE(WaitFor([&] { return form->DownThread() == nullptr; }, 30000));
  saveHook.reset();

  EXPECT_EQ(offered, "nvidia-forceware-178.13.zip");
  const std::string served = nettest::ReadFile(srv.PackagesDir() + "/nvidia-forceware-178.13.zip");
  ASSERT_FALSE(served.empty());
  EXPECT_EQ(nettest::ReadFile(dest), served);
  EXPECT_GT(progressSeen, 0);
  ASSERT_EQ(modalCalls_.size(), 1u);
  EXPECT_EQ(modalCalls_[0].Form, "TInfoForm");
  EXPECT_EQ(modalCalls_[0].Message, "Downloading completed. File has been saved to \r\n" + dest +
                                        "\r\n\r\nIf you have any questions please read our FAQ:");
  EXPECT_EQ(form->Label1->text(), QStringLiteral("nvidia-forceware-178.13.zip"));
  main_->Dialogs.Download = &recorder_;
}

}  // namespace
