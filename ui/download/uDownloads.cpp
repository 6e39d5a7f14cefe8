#include "ui/download/uDownloads.h"

#include "ui/download/uDownForm.h"
#include "download/uDownToolThread.h"
#include "ui/pages/uCompanionArea.h"
#include "ui/pages/uDownloadHook.h"
#include "scan/uServerUrls.h"
#include "ui/main/MainUnit.h"
#include "ui/main/uInfo.h"
#include "ui/main/uShellHooks.h"

#include <fileapi.h>

#include <memory>

namespace {

// The start page's companion area as the thread's display; the information
// dialog asks for the connection.
class TCompanionView : public IToolView {
 public:
  explicit TCompanionView(ICompanionArea* area) : FArea(area) {}
  int AskForConnection(const std::string& text) override {
    if (!InfoForm) return mrCancel;
    InfoForm->MessageText = text;
    return InfoForm->ShowModal();
  }
  void ResetToolProgress() override {
    if (Area()) Area()->ResetToolProgress();
  }
  void ShowToolProgress(int32_t current, int32_t total) override {
    if (Area()) Area()->ShowToolProgress(current, total);
  }
  void ShowInstalling() override {
    if (Area()) Area()->ShowInstalling();
  }
  // The page may be gone at exit; the registered area is the live one.
  ICompanionArea* Area() const { return CompanionArea() == FArea ? FArea : nullptr; }

 private:
  ICompanionArea* FArea;
};

std::string TempFolderNow() {
  if (MainForm && !MainForm->State.TempFolder.empty()) return MainForm->State.TempFolder;
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

TDownToolThread* StartCompanionDownload(ICompanionArea* area, const std::string& url, const std::string& fileName) {
  if (!area) return nullptr;
  std::string target = fileName;
  if (target.empty()) {
    const std::string temp = TempFolderNow();
    if (temp.empty()) {
      area->ToolDownloadFinished();
      return nullptr;
    }
    target = temp + CompanionInstallerName;
  }
  auto view = std::make_shared<TCompanionView>(area);
  auto* thread = new TDownToolThread(view.get(), url.empty() ? VendorURL() + CompanionInstallerPath : url, target);
  thread->ReadTimeout = CompanionTimings().ReadTimeoutMs;
  thread->WindowWaitMs = CompanionTimings().WindowWaitMs;
  thread->FreeOnTerminate = true;
  thread->OnTerminate = [view](TThread&) {
    if (ICompanionArea* a = view->Area()) a->ToolDownloadFinished();
  };
  thread->Start();
  return thread;
}

void InstallKorvaneDownloads(TShellHooks& hooks) {
  hooks.CreateDownForm = [] { return new TDownForm; };
  StartDownloadHook = [](const std::string& url) {
    if (!DownForm) return;
    DownForm->Url = url;
    DownForm->StartDownload();
  };
  InstallCompanionHook = [] { StartCompanionDownload(CompanionArea()); };
}
