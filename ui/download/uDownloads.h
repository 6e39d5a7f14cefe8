// The companion tool's download behind the start page's "Install Now".
#pragma once

#include <memory>
#include <string>

class ICompanionArea;
class TDownToolThread;
class TMainForm;

// Time-outs of the companion downloads started from the start page: the
// program's values unless a test shortens them.
struct TCompanionTimings {
  unsigned ReadTimeoutMs = 30000;  // the HTTP client's read time-out
  unsigned WindowWaitMs = 3500;    // between the tool's start and the window nudge
};
TCompanionTimings& CompanionTimings();

// The owner of the start page's companion download: it knows whether its
// thread still runs. Going first (the page closes, the program ends), it asks
// the thread to stop and lets it go; from then on the thread reaches neither
// the area nor the message dialog, and frees itself at its end.
class TCompanionDownload {
 public:
  TCompanionDownload(ICompanionArea& area, TMainForm& main);
  ~TCompanionDownload();
  TCompanionDownload(const TCompanionDownload&) = delete;
  TCompanionDownload& operator=(const TCompanionDownload&) = delete;

  // After the area has shown its busy state. url and fileName empty: the
  // vendor site's installer into the main window's temporary folder. Returns
  // the started thread (owned here), or null when none could start (the area
  // is emptied then).
  TDownToolThread* Start(const std::string& url = std::string(), const std::string& fileName = std::string());
  bool Running() const { return FThread != nullptr; }

 private:
  class TView;
  void LetGo();
  ICompanionArea& FArea;
  TMainForm& FMain;
  std::shared_ptr<TView> FView;  // the running thread's display
  TDownToolThread* FThread = nullptr;
};
