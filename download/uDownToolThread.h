// TDownToolThread: fetches the companion tool's installer into the temporary
// folder, runs it silently when the vendor's signature inside it is valid (with the
// user's standard environment, in the temporary folder), then starts the installed
// tool and nudges its window.
#pragma once

#include "core/uThread.h"
#include "net/uHttpClient.h"
#include "net/uInstallerSignature.h"

#include <atomic>
#include <cstdint>
#include <string>

constexpr const char* CompanionInstallerPath = "/downloads/swx/fromkvn/Sweepline.exe";
constexpr const char* CompanionInstallerName = "Sweepline.exe";
constexpr const char* CompanionProgramName = "Sweepline.exe";
constexpr const char* CompanionUninstallSubKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5C2E8A41-7D3B-4F96-A1E0-93B7C46D2F18}";
constexpr const char* CompanionLocationValue = "InstallLocation";
constexpr const char* CompanionWindowClass = "TMainForm";
constexpr const char* CompanionWindowCaption = "Sweepline";
constexpr const char* CompanionConnectText =
    "To continue downloading, you need to have an active Internet connection. Connect to the Internet and click OK.";
constexpr unsigned CompanionWindowWaitMs = 3500;

// The start page's side of the companion download; every call runs on the UI
// thread while the worker waits.
class IToolView {
 public:
  virtual ~IToolView() = default;
  virtual int AskForConnection(const std::string& text) = 0;  // modal result: 1 OK
  virtual void ResetToolProgress() = 0;
  virtual void ShowToolProgress(int32_t current, int32_t total) = 0;
  virtual void ShowInstalling() = 0;
};

// Starts commandLine and waits without limit until it ends; false when it
// could not be started. environment: a block for CreateProcessA (NULL: this
// process's); folder: its working folder (NULL: this process's).
bool RunAndWait(const std::string& commandLine, uint32_t* exitCode = nullptr,
                const char* environment = nullptr, const char* folder = nullptr);

// One word of a Windows command line, quoted so that it splits back to exactly word.
std::string QuoteCommandLineWord(const std::string& word);
// The installer's command line: the path quoted as one word, then " /s".
std::string InstallerCommandLine(const std::string& installerPath);

class TDownToolThread : public TThread {
 public:
  // Runs at lower than normal priority. url: the installer's address;
  // fileName: where it is kept (the temporary folder + "Sweepline.exe").
  TDownToolThread(IToolView* view, std::string url, std::string fileName, bool CreateSuspended = true);

  int32_t Total = 0;
  int32_t Current = 0;
  std::string Url;
  std::string FileName;
  // The connectivity probe's address (the update server's by default).
  std::string ProbeUrl;
  unsigned ReadTimeout = httpdefaults::kReadTimeoutMs;
  unsigned WindowWaitMs = CompanionWindowWaitMs;
  // The installer runs only with a valid signature by this key (the vendor's).
  std::string PublicKeyPem;

  // What happened, for the completion handler and tests.
  bool Downloaded() const { return FDownloaded; }   // this run wrote FileName
  bool InstallerRan() const { return FInstallerRan; }
  // The installer at FileName failed its signature check: deleted, not started.
  bool InstallerNotSigned() const { return FNotSigned; }
  TSignatureCheck InstallerCheck() const { return FCheck; }
  uint32_t InstallerExitCode() const { return FExitCode; }
  const std::string& LaunchedProgram() const { return FLaunched; }  // opened through the shell
  bool WindowMoved() const { return FWindowMoved; }

 protected:
  void Execute() override;

 private:
  bool ConnectivityLoop();
  void Download();
  void DropUnsignedLeftover();
  void InstallAndStart();
  void ShowToolProgress();
  bool StopRequested();

  IToolView* FView;
  THttpClient* FHttp = nullptr;
  std::atomic<bool> FTooLarge{false};
  bool FDownloaded = false;
  bool FInstallerRan = false;
  bool FNotSigned = false;
  TSignatureCheck FCheck = TSignatureCheck::Unsigned;
  uint32_t FExitCode = 0;
  std::string FLaunched;
  bool FWindowMoved = false;
};
