#include "download/uDownToolThread.h"

#include "download/uDownFile.h"
#include "download/uInstallerTrust.h"
#include "scan/uSSLRequest.h"
#include "scan/uServerUrls.h"

#include <windows.h>
#include <shellapi.h>

#include <korvane_registry.h>

#include <chrono>
#include <limits>
#include <thread>
#include <vector>

namespace {

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder of a path, without its last separator ("" for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// A REG_SZ value, or empty (absent, empty or of another type alike).
std::string ReadText(HKEY key, const char* name) {
  KorvaneRegTextRules rules;
  rules.expandSz = false;
  std::string text;
  RegReadString(key, name, text, rules);
  return text;
}

}  // namespace

bool RunAndWait(const std::string& commandLine, uint32_t* exitCode, const char* environment,
                const char* folder) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, const_cast<char*>(environment),
                      folder, &si, &pi))
    return false;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  if (exitCode) *exitCode = code;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

std::string QuoteCommandLineWord(const std::string& word) {
  // Backslashes count only before a quote: there they are doubled, and the quote
  // itself escaped, so that the word reads back exactly as it is.
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');  // before the closing quote
  return out + "\"";
}

std::string InstallerCommandLine(const std::string& installerPath) {
  // Quoted as one word: a temporary path with blanks must never name another
  // program ("C:\Program.exe" for "C:\Program Files\..."), nor a quote in a
  // folder name end the program's name early.
  return QuoteCommandLineWord(installerPath) + " /s";
}

TDownToolThread::TDownToolThread(IToolView* view, std::string url, std::string fileName, bool CreateSuspended)
    : TThread(CreateSuspended),
      Url(std::move(url)),
      FileName(std::move(fileName)),
      ProbeUrl(ProbeAddress()),
      PublicKeyPem(VendorInstallerPublicKeyPem),
      FView(view) {
  Priority = TThreadPriority::tpLower;
}

bool TDownToolThread::StopRequested() {
  if ((Terminated() || FTooLarge) && FHttp && FHttp->Connected()) FHttp->Disconnect();
  return Terminated() || FTooLarge;
}

void TDownToolThread::ShowToolProgress() {
  if (FView) Synchronize([this] { FView->ShowToolProgress(Current, Total); });
}

bool TDownToolThread::ConnectivityLoop() {
  // No count limit: it ends when the probe answers or the user declines.
  while (!IsInternetAvailableAt(ProbeUrl, ReadTimeout)) {
    int answer = 2;
    if (FView) Synchronize([this, &answer] { answer = FView->AskForConnection(CompanionConnectText); });
    if (answer != 1 || UiQueueClosed()) Terminate();
    if (Terminated()) return false;
  }
  return !Terminated();
}

void TDownToolThread::Download() {
  try {
    THttpClient http;
    http.ReadTimeout = ReadTimeout;
    http.OnWorkBegin = [this](int64_t n) {
      if (n > std::numeric_limits<int32_t>::max()) FTooLarge = true;
      if (StopRequested()) return;
      Total = static_cast<int32_t>(n < 0 ? 0 : n);
      ShowToolProgress();
    };
    http.OnWork = [this](int64_t n) {
      if (n > std::numeric_limits<int32_t>::max()) FTooLarge = true;
      if (StopRequested()) return;
      Current = static_cast<int32_t>(n < 0 ? 0 : n);
      ShowToolProgress();
    };
    http.OnWorkEnd = [this] { StopRequested(); };
    // The installer must be executable here; it lives in the user's private
    // temporary folder.
    FDownloaded = GetIntoFile(http, FHttp, Url, FileName, TFileKind::Program,
                              [this] { return !Terminated() && !FTooLarge; });
  } catch (const std::exception&) {
    // Swallowed: without this attempt's installer nothing is run.
  }
}

void TDownToolThread::DropUnsignedLeftover() {
  // An installer left by an earlier attempt gets the same check as a new one.
  if (FileExists(FileName) && CheckInstallerFile(FileName, PublicKeyPem) != TSignatureCheck::Valid)
    DeleteFileA(FileName.c_str());
}

void TDownToolThread::InstallAndStart() {
  // Only the installer this attempt fetched runs, and only signed by the vendor:
  // whoever answers in the vendor site's place must not run a program here.
  if (FDownloaded && FileExists(FileName)) {
    FCheck = CheckInstallerFile(FileName, PublicKeyPem);
    if (FCheck == TSignatureCheck::Valid) {
      const std::string environment = InstallerEnvironment();
      const std::string folder = FolderOf(FileName);
      FInstallerRan = RunAndWait(InstallerCommandLine(FileName), &FExitCode, environment.c_str(),
                                 folder.empty() ? nullptr : folder.c_str());
    } else {
      DeleteFileA(FileName.c_str());
      FNotSigned = true;
    }
  }

  // Full access, as the start page asks for it when it decides on the offer:
  // both agree on whether the tool counts as installed.
  KorvaneRegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CompanionUninstallSubKey, 0, KEY_ALL_ACCESS, key.Receive()) !=
      ERROR_SUCCESS)
    return;
  std::string folder = ReadText(key.Get(), CompanionLocationValue);
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  const std::string program = folder + "/" + CompanionProgramName;
  if (!folder.empty() && FileExists(program)) {
    ShellExecuteA(nullptr, nullptr, program.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    FLaunched = program;
  }
  // Give the tool time to show its window, then bring it forward, offset.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WindowWaitMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (UiQueueClosed()) break;  // the program is ending
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (HWND w = FindWindowA(CompanionWindowClass, CompanionWindowCaption)) {
    RECT r{};
    if (GetWindowRect(w, &r))
      FWindowMoved = SetWindowPos(w, HWND_TOP, r.left + 50, r.top - 50, r.right - r.left, r.bottom - r.top, 0) != FALSE;
  }
}

void TDownToolThread::Execute() {
  if (!ConnectivityLoop()) return;
  if (FView) Synchronize([this] { FView->ResetToolProgress(); });
  DropUnsignedLeftover();
  Download();
  if (FView) Synchronize([this] { FView->ShowInstalling(); });
  InstallAndStart();
}
