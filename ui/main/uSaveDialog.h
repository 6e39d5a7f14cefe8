// The file save dialog ("Choose folder for save..."), with a test hook that
// answers each run without showing the dialog.
#pragma once

#include "core/uScopedSeam.h"

#include <functional>
#include <string>

class QWidget;

class TSaveDialog {
 public:
  std::string Title;
  std::string FileName;  // default name in, chosen path out (code-page text)
  std::string Filter;    // Qt filter text, e.g. "All files (*)"
  std::string InitialDir;  // where a bare FileName starts; empty: the working folder

  // Shows the dialog; true when the user chose a file (then FileName is its path).
  bool Execute(QWidget* parent = nullptr);

  // The hook sees the dialog as it would open, may set FileName, and returns
  // true for a choice, false for Cancel. An empty hook shows the real dialog.
  using THook = std::function<bool(TSaveDialog&)>;
  // Returns the hook it replaced; tests set it through TScopedSaveDialogHook.
  static THook SetTestHook(THook hook);
};

// The save dialog's hook for one scope (tests).
using TScopedSaveDialogHook = TScopedSeam<TSaveDialog::THook, &TSaveDialog::SetTestHook>;

// The user's download folder (code-page text): XDG_DOWNLOAD_DIR from the
// environment or from user-dirs.dirs when that folder exists, else the home folder.
std::string UserDownloadFolder();
