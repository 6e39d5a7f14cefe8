#include "ui/pages/uDownloadHook.h"

std::function<void(const std::string& url)> StartDownloadHook = [](const std::string&) {};
std::function<void()> InstallCompanionHook = [] {};

void StartDownload(const std::string& url) {
  if (StartDownloadHook) StartDownloadHook(url);
}

void InstallCompanion() {
  if (InstallCompanionHook) InstallCompanionHook();
}

#include "ui/pages/uPageHooks.h"

std::function<void(const std::string& title, const std::string& text, int iconKind, int seconds)>
    ShowBalloonHook;
