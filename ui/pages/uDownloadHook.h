// Where the pages reach the downloads: the results page's download mark and
// the update dialog's Download button hand the package URL to
// StartDownloadHook; the start page's "Install Now" link calls
// InstallCompanionHook. The download dialog sets both at start-up; until then
// they return at once.
#pragma once

#include <functional>
#include <string>

extern std::function<void(const std::string& url)> StartDownloadHook;
extern std::function<void()> InstallCompanionHook;

// Calls the hooks when they are set (an empty hook does nothing).
void StartDownload(const std::string& url);
void InstallCompanion();
