// Plugs the downloads into the program's start: the download dialog among the
// windows, the pages' download and "Install Now" hooks, and the companion
// tool's download driven from the start page.
#pragma once

#include <string>

struct TShellHooks;
class ICompanionArea;
class TDownToolThread;

void InstallKorvaneDownloads(TShellHooks& hooks);

// Time-outs of the companion downloads started from the start page: the
// program's values unless a test shortens them.
struct TCompanionTimings {
  unsigned ReadTimeoutMs = 30000;  // the HTTP client's read time-out
  unsigned WindowWaitMs = 3500;    // between the tool's start and the window nudge
};
TCompanionTimings& CompanionTimings();

// "Install Now" after the start page has shown its busy state: starts the
// companion download with the area as its display. url and fileName empty:
// the vendor site's installer into the main window's temporary folder.
// Returns the started thread (it frees itself), or null without an area.
TDownToolThread* StartCompanionDownload(ICompanionArea* area, const std::string& url = std::string(),
                                        const std::string& fileName = std::string());
