// Where the results page's download mark and the update dialog's Download
// button hand a driver package's address: the download dialog.
#pragma once

#include <string>

class IPackageDownload {
 public:
  virtual ~IPackageDownload() = default;
  // Asks for a destination and shows the transfer; returns when it is over.
  virtual void DownloadPackage(const std::string& url) = 0;
};
