// The whole window on a private copy of a machine fixture: main window with
// the real pages, the detail and message dialogs, the Qt UI queue, scripted
// modal answers, and a reference update server on loopback when asked.
#pragma once

#include "support/UpdateServerProcess.h"
#include "ui/main/skin_form_fixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/pages/uDrvInfo1.h"
#include "ui/pages/uDrvInfo2.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uQtUiQueue.h"
#include "support/FakeTray.h"
#include "ui/pages/uPackageDownload.h"
#include "ui/widgets/uSkinForm.h"

class TFrame1;
class TFrame2;
class TFrame3;
class TFrame4;

// Records the package addresses the pages hand to the download.
class RecordingDownload : public IPackageDownload {
 public:
  void DownloadPackage(const std::string& url) override { urls.push_back(url); }
  std::vector<std::string> urls;
};

struct TModalCall {
  std::string Form;     // object name of the dialog
  std::string Message;  // TInfoForm's MessageText at the time
};

class PagesTest : public SkinFormTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The machine becomes a copy of tests/machines/<fixture> (empty: a blank one).
  void UseMachine(const std::string& fixture);
  // Stores the server addresses in the settings key and reloads them.
  void UseServer(const std::string& httpBase, const std::string& httpsBase);
  // Creates the windows (after UseMachine / UseServer); the main window's
  // download is the recorder (downloads_) unless the test sets another.
  void OpenWindow();
  // The balloons the tray was asked for: "title|text|icon|seconds".
  std::vector<std::string> Balloons() const;
  // Processes events until pred() or the time-out; returns pred().
  bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 60000);
  // "Scan Now" on the start page, then waits for the scan to end.
  bool ScanNow();

  TFrame1* Frame1() const;
  TFrame2* Frame2() const;
  TFrame3* Frame3() const;
  TFrame4* Frame4() const;

  std::unique_ptr<TQtUiQueue> queue_;
  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TDrvInfoForm1> info1_;
  std::unique_ptr<TDrvInfoForm2> info2_;
  std::unique_ptr<TInfoForm> infoForm_;
  std::vector<TModalCall> modalCalls_;
  std::optional<ScopedFakeTray> tray_;
  std::unique_ptr<TKorvaneTray> trayPart_;  // the window's notification-area part, on the fake tray
  RecordingDownload recorder_;
  std::vector<std::string>& downloads_ = recorder_.urls;  // URLs handed to the download
  // Answers of the modal runs: called with the dialog; default Cancel for the
  // connectivity prompt, OK for everything else.
  std::function<int(TSkinForm&)> answer_;
};

// The catalogue of these tests and a server that shares it (started once).
std::string PagesCatalogue();

// The pages on the bundled XP desktop machine, checked by one reference update
// server (with PagesCatalogue) for the whole suite.
class PagesServerTest : public PagesTest {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  // The machine, the server's addresses, and the windows.
  void OpenOnFixture();
  static korvane::testing::UpdateServerProcess* server_;
};
