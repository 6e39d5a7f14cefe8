// pages_screenshots OUTDIR: renders the four wizard pages and both driver
// detail dialogs to PNG, with a real scan of the XP desktop fixture checked by
// the reference update server on loopback (the demo catalogue) on screen.
#include "ui/widgets/cm_LSVGauges.h"
#include "support/ScratchFolder.h"
#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/pages/uFrame1.h"
#include "ui/pages/uFrame2.h"
#include "ui/pages/uFrame3.h"
#include "ui/pages/uFrame4.h"
#include "ui/widgets/uStringGrid.h"
#include "resources/kvresources.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uQtUiQueue.h"
#include "ui/widgets/uKeyboard.h"
#include "ui/widgets/uSkinControls.h"
#include "ui/widgets/uSkinLabel.h"
#include "support/UpdateServerProcess.h"

#include <korvane_machine.h>
#include <windows.h>
#include <winreg.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

namespace fs = std::filesystem;
using korvane::testing::UpdateServerOptions;
using korvane::testing::UpdateServerProcess;

namespace {

std::string g_out;

void Save(QWidget* w, const std::string& name) {
  const QImage img = w->grab().toImage();
  const std::string path = g_out + "/" + name + ".png";
  if (!img.save(QString::fromStdString(path))) std::cerr << "pages_screenshots: cannot write " << path << "\n";
  else std::cout << path << "\n";
}

// The scan page, photographed once mid-scan.
class TShotFrame2 : public TFrame2 {
 public:
  using TFrame2::TFrame2;
  bool Taken = false;
  void ShowProgress(const TScanProgress& progress) override {
    TFrame2::ShowProgress(progress);
    // Progress calls may be skipped while the page is busy: the first one past 24.
    if (!Taken && progress.Processed >= 24) {
      Taken = true;
      AnimFrame = 2;
      Timer1Timer();
      Save(&Main(), "page2-scan");
    }
  }
};

bool Wait(const std::function<bool()>& pred, int ms = 60000) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: pages_screenshots OUTDIR\n";
    return 2;
  }
  g_out = argv[1];
  fs::create_directories(g_out);
  const char* src = std::getenv("KORVANE_SOURCE_DIR");
  const std::string source = src ? src : ".";

  // A private copy of the fixture machine.
  const std::string root = korvane::testing::MakeScratchFolder("kvshots");
  const std::string machine = root + "/machine";
  fs::copy(fs::path(source) / "tests" / "machines" / "xp-desktop", machine, fs::copy_options::recursive);
  fs::create_directories(root + "/run");
  fs::permissions(root + "/run", fs::perms::owner_all);
  ::setenv("KORVANE_MACHINE", machine.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
  KorvaneResetMachine();

  int rc = 0;
  {
    QApplication app(argc, argv);
    KorvaneInitResources();
    UpdateServerOptions o;
    o.Catalogue = source + "/demo/catalogue.txt";
    UpdateServerProcess server(o);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    for (const auto& [name, value] : {std::pair<const char*, std::string>{UpdateURLValueName, server.HttpBase()},
                                      {SecureUpdateURLValueName, server.HttpsBase()}})
      RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    LoadServerUrls();

    TQtUiQueue queue;
    InstallUiQueue(&queue);
    auto main = std::make_unique<TMainForm>();
    main->InstallPage(2, new TShotFrame2(*main));
    auto info1 = std::make_unique<TDrvInfoForm1>(*main);
    auto info2 = std::make_unique<TDrvInfoForm2>(*main);
    auto infoForm = std::make_unique<TInfoForm>(*main);
    main->Dialogs.DrvInfo1 = info1.get();
    main->Dialogs.DrvInfo2 = info2.get();
    main->Dialogs.Info = infoForm.get();
    // Dialogs are photographed in place of their modal run.
    auto shots = std::make_unique<TScopedModalHook>([](TSkinForm& form) {
      Save(&form, form.objectName() == QStringLiteral("TDrvInfoForm1") ? "dialog-drvinfo1"
                  : form.objectName() == QStringLiteral("TDrvInfoForm2") ? "dialog-drvinfo2"
                                                                          : "dialog-" + form.objectName().toStdString());
      return mrCancel;
    });
    main->show();
    QApplication::processEvents();

    auto* f1 = dynamic_cast<TFrame1*>(main->Page(1));
    auto* f2 = dynamic_cast<TFrame2*>(main->Page(2));
    auto* f3 = dynamic_cast<TFrame3*>(main->Page(3));
    Save(main.get(), "page1-start-first-run");

    f1->ImBtnScanNow->SimulateClick();
    if (!Wait([&] { return !f2->Scanning(); })) {
      std::cerr << "pages_screenshots: the scan did not end\n";
      rc = 1;
    }
    QApplication::processEvents();
    Save(main.get(), "page3-results");
    // The focus marks, as a keyboard user sees them: the list's row, the check box, Back.
    QApplication::setActiveWindow(main.get());
    SetKeyboardInUse(true);
    const auto focusShot = [&](QWidget* w, const std::string& name) {
      w->setFocus(Qt::TabFocusReason);
      QApplication::processEvents();
      Save(main.get(), name);
    };
    f3->sgDrvList->SetRow(std::min(3, f3->sgDrvList->RowCount() - 1));
    focusShot(f3->sgDrvList, "focus-page3-list-row");
    focusShot(f3->ImgCheckBox1, "focus-page3-checkbox");
    focusShot(f3->ImBtnBack, "focus-page3-back");
    SetKeyboardInUse(false);
    f3->ImgCheckBox1->OnClick();
    QApplication::processEvents();
    Save(main.get(), "page3-results-all");
    f3->ImgCheckBox1->OnClick();

    // The detail dialogs of an out-of-date and an up-to-date driver.
    const TKorvaneState& s = main->State;
    for (int i = 1; i <= s.DrvCount; ++i)
      if (s.DrvList[static_cast<size_t>(i)].IsOutOfDate()) {
        info2->RecordIndex = i;
        info2->ShowModal();
        break;
      }
    for (int i = 1; i <= s.DrvCount; ++i)
      if (!s.DrvList[static_cast<size_t>(i)].IsOutOfDate() &&
          !s.DrvList[static_cast<size_t>(i)].ProviderName.empty()) {
        info1->RecordIndex = i;
        info1->ShowModal();
        break;
      }

    main->ImBtnSettingsClick();
    auto* f4 = dynamic_cast<TFrame4*>(main->Page(4));
    f4->Edit1->setText(QStringLiteral("proxy.example.com"));
    f4->Edit2->setText(QStringLiteral("8080"));
    f4->Edit3->setText(QStringLiteral("jsmith"));
    f4->Edit4->setText(QStringLiteral("secret"));
    QApplication::processEvents();
    Save(main.get(), "page4-settings");
    SetKeyboardInUse(true);
    focusShot(f4->ImCheckBox1, "focus-page4-checkbox");
    focusShot(f4->ImBtnOK, "focus-page4-ok");
    SetKeyboardInUse(false);
    f4->ImBtnCancel->SimulateClick();
    QApplication::processEvents();
    // Back on the results without preparation: the header names the results step.
    Save(main.get(), "page3-after-settings-cancel");

    f3->ImBtnBack->SimulateClick();
    QApplication::processEvents();
    Save(main.get(), "page1-start-summary");
    SetKeyboardInUse(true);
    focusShot(f1->ImBtnScanNow, "focus-page1-scannow");
    if (f1->ts1Label33->isVisible()) focusShot(f1->ts1Label33, "focus-page1-install-link");
    focusShot(main->ImBtnSettings, "focus-header-settings");
    focusShot(main->ImBtnClose, "focus-header-close");
    SetKeyboardInUse(false);
    QApplication::processEvents();

    // Counts of four and five digits in the diagram's labels.
    main->Settings().tDrivers = 99999;
    main->Settings().udDrivers = 88888;
    main->Settings().odDrivers = 11111;
    main->UpdateDiagram();
    QApplication::processEvents();
    Save(main.get(), "page1-diagram-five-digits");
    main->Settings().tDrivers = 11700;
    main->Settings().udDrivers = 9600;
    main->Settings().odDrivers = 2100;
    main->UpdateDiagram();
    QApplication::processEvents();
    Save(main.get(), "page1-diagram-four-digits");

    // The companion tool installed: the start page's bottom-left area stays empty.
    {
      HKEY tool = nullptr;
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &tool, nullptr);
      if (tool) RegCloseKey(tool);
      auto fresh = std::make_unique<TMainForm>();
      fresh->show();
      QApplication::processEvents();
      Save(fresh.get(), "page1-companion-installed");
    }

    // The program's icon, as task bars and Alt-Tab show it.
    main->windowIcon().pixmap(32, 32).save(QString::fromStdString(g_out + "/icon-32.png"));
    main->windowIcon().pixmap(16, 16).save(QString::fromStdString(g_out + "/icon-16.png"));
    std::cout << g_out << "/icon-32.png\n" << g_out << "/icon-16.png\n";

    shots.reset();
    main->Dialogs = TMainDialogs();
    info1.reset();
    info2.reset();
    infoForm.reset();
    main.reset();
    InstallUiQueue(nullptr);
  }
  std::error_code ec;
  fs::remove_all(root, ec);
  return rc;
}
