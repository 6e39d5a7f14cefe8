#include "ui/download/uDownloads.h"

#include "download/uDownToolThread.h"
#include "download/uInstallerTrust.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/pages/uCompanionArea.h"

#include <fileapi.h>

#include <memory>

// The start page's companion area as the thread's display; the message
// dialog asks for the connection. Every call runs on the UI thread; once the
// owner has let the thread go, the calls do nothing.
class TCompanionDownload::TView : public IToolView {
 public:
  TView(ICompanionArea& area, TMainForm& main) : FArea(&area), FMain(&main) {}
  void Disconnect() {
    FArea = nullptr;
    FMain = nullptr;
  }
  int AskForConnection(const std::string& text) override {
    TInfoForm* info = FMain ? FMain->Dialogs.Info : nullptr;
    if (!info) return mrCancel;
    info->MessageText = text;
    return info->ShowModal();
  }
  void ResetToolProgress() override {
    if (FArea) FArea->ResetToolProgress();
  }
  void ShowToolProgress(int32_t current, int32_t total) override {
    if (FArea) FArea->ShowToolProgress(current, total);
  }
  void ShowInstalling() override {
    if (FArea) FArea->ShowInstalling();
  }

 private:
  ICompanionArea* FArea;
  TMainForm* FMain;
};

namespace {

std::string TempFolderOf(const TMainForm& main) {
  if (!main.State.TempFolder.empty()) return main.State.TempFolder;
  char buf[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(sizeof buf, buf);
  return (n > 0 && n < sizeof buf) ? std::string(buf, n) : std::string();
}

}  // namespace

static_assert(TCompanionTimings{}.ReadTimeoutMs == httpdefaults::kReadTimeoutMs, "the client's read time-out");
static_assert(TCompanionTimings{}.WindowWaitMs == CompanionWindowWaitMs, "the wait before the window nudge");

TCompanionTimings& CompanionTimings() {
  static TCompanionTimings timings;
  return timings;
}

TCompanionDownload::TCompanionDownload(ICompanionArea& area, TMainForm& main) : FArea(area), FMain(main) {}

TCompanionDownload::~TCompanionDownload() { LetGo(); }

void TCompanionDownload::LetGo() {
  if (FView) FView->Disconnect();
  FView.reset();
  if (FThread) {
    FThread->Terminate();
    FThread->Detach();  // its completion no longer runs; it frees itself at its end
  }
  FThread = nullptr;
}

TDownToolThread* TCompanionDownload::Start(const std::string& url, const std::string& fileName) {
  LetGo();  // one download at a time
  std::string target = fileName;
  if (target.empty()) {
    const std::string temp = TempFolderOf(FMain);
    if (temp.empty()) {
      FArea.ToolDownloadFinished();
      return nullptr;
    }
    target = temp + CompanionInstallerName;
  }
  // The display lives as long as the thread (its completion handler holds it).
  auto view = std::make_shared<TView>(FArea, FMain);
  auto* thread = new TDownToolThread(view.get(), url.empty() ? VendorURL() + CompanionInstallerPath : url, target);
  thread->ReadTimeout = CompanionTimings().ReadTimeoutMs;
  thread->WindowWaitMs = CompanionTimings().WindowWaitMs;
  thread->FreeOnTerminate = false;
  thread->OnTerminate = [this, view](TThread& t) {
    std::unique_ptr<TThread> done(&t);  // deleted once its completion has run
    FThread = nullptr;
    FView.reset();
    FArea.ToolDownloadFinished();
    if (static_cast<TDownToolThread&>(t).InstallerNotSigned())
      FArea.ShowInstallerNotSigned(InstallerNotSignedText);
  };
  FView = view;
  FThread = thread;
  thread->Start();
  return thread;
}
