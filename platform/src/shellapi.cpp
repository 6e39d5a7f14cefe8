#include "shellapi.h"

#include "korvane_window.h"

#include <cstdlib>
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

}  // namespace

void KorvaneSetShellExecuteHook(KorvaneShellExecuteHook hook) {
  std::lock_guard<std::mutex> g(HookLock());
  Hook() = std::move(hook);
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
  // Double fork: the handler is not our child, so it neither becomes a
  // zombie nor dies with us.
  const pid_t pid = ::fork();
  if (pid < 0) return Code(SE_ERR_ACCESSDENIED);
  if (pid == 0) {
    ::setsid();
    if (::fork() == 0) {
      const char* argv[] = {"xdg-open", file.c_str(), nullptr};
      ::execvp("xdg-open", const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return Code(42);
}
