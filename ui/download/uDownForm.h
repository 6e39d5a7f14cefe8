// TDownForm: the driver package download dialog. Created once at start and
// reused: StartDownload asks for a destination, then shows the progress
// modally while a TDownThread fetches the package.
#pragma once

#include "download/uDownThread.h"
#include "ui/main/uSaveDialog.h"
#include "ui/pages/uPackageDownload.h"
#include "ui/widgets/uSkinForm.h"

#include <string>
#include <vector>

class TImage;
class TImageButton;
class TSkinLabel;
class TLSVGauge;
class TMainForm;

class TDownForm : public TSkinForm, public IDownView, public IPackageDownload {
  Q_OBJECT
 public:
  // The main window's message dialog tells of a completed download and of
  // a folder that cannot be written.
  explicit TDownForm(TMainForm& main);
  ~TDownForm() override;

  std::string Url;  // set by the caller before StartDownload
  unsigned ReadTimeout = httpdefaults::kReadTimeoutMs;

  // Destination, then the modal progress run; returns when the dialog closes.
  void StartDownload();
  // IPackageDownload: Url := url, then StartDownload.
  void DownloadPackage(const std::string& url) override;
  // Save dialog and writability check; creates and starts the thread.
  bool ChooseDestination();
  // The thread's termination handler (UI thread).
  void DownloadFinished(TThread& thread);

  TDownThread* DownThread() const { return FDownThread; }
  // The path the last completed download was saved to (empty when none).
  const std::string& LastSaved() const { return FLastSaved; }

  // IDownView
  void ShowFileName(TDownThread& thread) override;
  void ShowDownloadProgress(TDownThread& thread) override;

  TImage* Image1;
  TImageButton* ImBtnClose;
  TImageButton* ImBtnCancel;
  TSkinLabel* Label6;
  TSkinLabel* Label1;
  TSkinLabel* Label2;
  TSkinLabel* Label3;
  TLSVGauge* DownProg;
  TSkinLabel* Label5;
  TSkinLabel* Label4;
  TSaveDialog DownSD;

 protected:
  void FormClose() override;

 private:
  void StopThread();
  void CancelClick();
  TMainForm& FMain;
  TDownThread* FDownThread = nullptr;
  // Every thread whose termination handler has not run yet: a cancelled one
  // may still be ending while a later download runs.
  std::vector<TDownThread*> FThreads;
  std::string FLastSaved;
};
