#include "pages_fixture.h"
#include "support/ScratchFolder.h"

#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/pages/uFrame1.h"
#include "ui/pages/uFrame2.h"
#include "ui/pages/uFrame3.h"
#include "ui/pages/uFrame4.h"
#include "resources/kvresources.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/widgets/uSkin.h"
#include "ui/widgets/uSkinControls.h"

#include <korvane_machine.h>
#include <windows.h>
#include <winreg.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

std::string PagesCatalogue() {
  return korvane::testing::ScratchMachine::SourceDir() + "/tests/ui/pages/catalogue.txt";
}

korvane::testing::UpdateServerProcess* PagesServerTest::server_ = nullptr;

void PagesServerTest::SetUpTestSuite() {
  korvane::testing::UpdateServerOptions o;
  o.Catalogue = PagesCatalogue();
  server_ = new korvane::testing::UpdateServerProcess(o);
}

void PagesServerTest::TearDownTestSuite() {
  delete server_;
  server_ = nullptr;
}

void PagesServerTest::OpenOnFixture() {
  UseMachine("xp-desktop");
  UseServer(server_->HttpBase(), server_->HttpsBase());
  OpenWindow();
}

void PagesTest::SetUp() {
  SkinFormTest::SetUp();
  tray_.emplace();
  modal_.reset();  // the recording hook instead of the fixture's own
  modal_.emplace([this](TSkinForm& form) {
    TModalCall call;
    call.Form = form.objectName().toStdString();
    if (auto* info = dynamic_cast<TInfoForm*>(&form)) call.Message = info->MessageText;
    modalCalls_.push_back(call);
    if (answer_) return answer_(form);
    return mrOk;
  });
  queue_ = std::make_unique<TQtUiQueue>();
  InstallUiQueue(queue_.get());
}

void PagesTest::TearDown() {
  if (main_ && Frame2()) WaitFor([this] { return !Frame2()->Scanning(); }, 60000);
  if (main_) main_->Dialogs = TMainDialogs();
  trayPart_.reset();
  info1_.reset();
  info2_.reset();
  infoForm_.reset();
  main_.reset();
  QCoreApplication::processEvents();
  InstallUiQueue(nullptr);
  queue_.reset();
  tray_.reset();
  SkinFormTest::TearDown();
}

void PagesTest::UseMachine(const std::string& fixture) { machine_->Use(fixture); }

void PagesTest::UseServer(const std::string& httpBase, const std::string& httpsBase) {
  machine_->SetString(HKEY_CURRENT_USER, SettingsKeyName, UpdateURLValueName, httpBase);
  machine_->SetString(HKEY_CURRENT_USER, SettingsKeyName, SecureUpdateURLValueName, httpsBase);
  LoadServerUrls();
}

void PagesTest::OpenWindow() {
  main_ = std::make_unique<TMainForm>();
  trayPart_ = std::make_unique<TKorvaneTray>(*main_);
  main_->Dialogs.Tray = trayPart_.get();
  info1_ = std::make_unique<TDrvInfoForm1>(*main_);
  info2_ = std::make_unique<TDrvInfoForm2>(*main_);
  infoForm_ = std::make_unique<TInfoForm>(*main_);
  main_->Dialogs.DrvInfo1 = info1_.get();
  main_->Dialogs.DrvInfo2 = info2_.get();
  main_->Dialogs.Info = infoForm_.get();
  main_->Dialogs.Download = &recorder_;
  Frame2()->ReadTimeoutMs = 5000;
  Frame2()->CertWaitMs = 5000;
}

std::vector<std::string> PagesTest::Balloons() const {
  std::vector<std::string> out;
  for (const auto& b : tray_->state->balloons)
    out.push_back(b.title.toStdString() + "|" + b.text.toStdString() + "|" + std::to_string(b.kind) + "|" +
                  std::to_string(b.msecs / 1000));
  return out;
}

bool PagesTest::WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

bool PagesTest::ScanNow() {
  Frame1()->ImBtnScanNow->SimulateClick();
  if (!Frame2()->Scanning()) return false;
  return WaitFor([this] { return !Frame2()->Scanning(); });
}

TFrame1* PagesTest::Frame1() const { return dynamic_cast<TFrame1*>(main_->Page(1)); }
TFrame2* PagesTest::Frame2() const { return dynamic_cast<TFrame2*>(main_->Page(2)); }
TFrame3* PagesTest::Frame3() const { return dynamic_cast<TFrame3*>(main_->Page(3)); }
TFrame4* PagesTest::Frame4() const { return dynamic_cast<TFrame4*>(main_->Page(4)); }
