// The start page's companion area as the companion tool download drives it
// (on the UI thread). The start page implements it and owns the download.
#pragma once

#include <cstdint>
#include <string>

class ICompanionArea {
 public:
  virtual ~ICompanionArea();
  // "Install Now" steps 1-2: status and bar shown, the offer hidden, tag 1.
  virtual void ShowBusy() = 0;
  virtual void ResetToolProgress() = 0;                               // "(0%)...", bar at 0
  virtual void ShowToolProgress(int32_t current, int32_t total) = 0;  // "(42%)..."
  virtual void ShowInstalling() = 0;                                  // "Installing...", no percentage
  virtual void ToolDownloadFinished() = 0;                            // area emptied, bar parked, tag 0
  // After ToolDownloadFinished: the installer failed its signature check; the area
  // says so in one sentence until the page fills again.
  virtual void ShowInstallerNotSigned(const std::string& text) = 0;
  virtual bool ToolDownloadRunning() const = 0;  // the bar's tag is 1
};
