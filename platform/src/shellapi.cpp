#include "shellapi.h"

#include "korvane_window.h"

#include <fileapi.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::mutex& HookLock() {
  static std::mutex m;
  return m;
}
KorvaneShellExecuteHook& Hook() {
  static KorvaneShellExecuteHook h;
  return h;
}

HINSTANCE Code(intptr_t v) { return reinterpret_cast<HINSTANCE>(v); }

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= p.size()) {
    const size_t end = p.find(':', start);
    const std::string dir = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

bool LooksLikeUrl(const std::string& s) {
  const size_t colon = s.find("://");
  return colon != std::string::npos && colon > 0 && s.find('/') > colon;
}

// Runs program (with params as its one argument when given) detached from
// this process through a double fork, so it is never our zombie.
HINSTANCE StartDetached(const std::string& program, const std::string& params) {
  const pid_t pid = ::fork();
  if (pid < 0) return Code(SE_ERR_ACCESSDENIED);
  if (pid == 0) {
    ::setsid();
    if (::fork() == 0) {
      const char* argv[] = {program.c_str(), params.empty() ? nullptr : params.c_str(), nullptr};
      ::execv(program.c_str(), const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return Code(42);
}

// How long the desktop's opener is given to refuse a document before it counts as
// opened: xdg-open fails at once when nothing here opens the type, but may keep a
// browser it started in the foreground for as long as that runs.
std::atomic<int> g_openVerdictMs{1500};

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) != tail[i]) return false;
  return true;
}

// The desktop types a file by its name. A compiled-help name whose file holds HTML (the
// form this program's help takes) is handed over as an HTML copy in the temporary
// folder, so that the browser opens it.
std::string TypedByContent(const std::string& file) {
  if (!EndsWithNoCase(file, ".chm")) return file;
  std::ifstream in(file, std::ios::binary);
  std::string head(512, '\0');
  in.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  for (auto& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (head.find("<!doctype html") == std::string::npos && head.find("<html") == std::string::npos) return file;
  char temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n >= sizeof temp) return file;
  const size_t slash = file.find_last_of('/');
  const std::string base = file.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string copy = std::string(temp, n) + base.substr(0, base.size() - 4) + ".html";
  in.clear();
  in.seekg(0);
  std::ofstream out(copy, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  out.close();
  return out ? copy : file;
}

// xdg-open in a grandchild, so that it is never our zombie; the child waits a moment for
// its verdict and passes it on as its exit status.
HINSTANCE OpenWithDesktop(const std::string& file) {
  const pid_t pid = ::fork();
  if (pid < 0) return Code(SE_ERR_ACCESSDENIED);
  if (pid == 0) {
    ::setsid();
    const pid_t opener = ::fork();
    if (opener == 0) {
      const char* argv[] = {"xdg-open", file.c_str(), nullptr};
      ::execvp("xdg-open", const_cast<char* const*>(argv));
      ::_exit(127);
    }
    if (opener < 0) ::_exit(1);
    const struct timespec step = {0, 20 * 1000 * 1000};
    const int verdictMs = g_openVerdictMs.load();
    for (int waited = 0; waited < verdictMs; waited += 20) {
      int status = 0;
      if (::waitpid(opener, &status, WNOHANG) == opener)
        ::_exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1);
      ::nanosleep(&step, nullptr);
    }
    ::_exit(0);  // still running: a viewer has the document
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Code(42) : Code(SE_ERR_NOASSOC);
}

}  // namespace

int KorvaneSetOpenVerdictMs(int ms) { return g_openVerdictMs.exchange(ms); }

KorvaneShellExecuteHook KorvaneSetShellExecuteHook(KorvaneShellExecuteHook hook) {
  std::lock_guard<std::mutex> g(HookLock());
  KorvaneShellExecuteHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR, INT) {
  const std::string op = lpOperation ? lpOperation : "";
  const std::string file = lpFile ? lpFile : "";
  const std::string params = lpParameters ? lpParameters : "";
  if (file.empty()) return Code(SE_ERR_FNF);
  KorvaneShellExecuteHook hook;
  {
    std::lock_guard<std::mutex> g(HookLock());
    hook = Hook();
  }
  if (hook) return hook(op, file, params) ? Code(42) : Code(SE_ERR_NOASSOC);

  if (!LooksLikeUrl(file)) {
    struct stat st{};
    if (::stat(file.c_str(), &st) != 0) return Code(SE_ERR_FNF);
    // The default verb on a program starts it, as the shell does for an .exe.
    if (S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0 && (op.empty() || op == "open"))
      return StartDetached(file, params);
  }
  if (!OnPath("xdg-open")) return Code(SE_ERR_NOASSOC);
  return OpenWithDesktop(LooksLikeUrl(file) ? file : TypedByContent(file));
}
