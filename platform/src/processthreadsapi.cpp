#include "processthreadsapi.h"

#include "errhandlingapi.h"
#include "kv_handles.h"
#include "synchapi.h"
#include "winerror.h"

#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// One started process; the process and thread handles share it.
struct ProcessState {
  pid_t pid = -1;
  std::mutex m;
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;

  // Reaps the child once; block waits for it.
  bool Poll(bool block) {
    std::lock_guard<std::mutex> g(m);
    if (ended) return true;
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid) {
      ended = true;
      if (WIFEXITED(status))
        exitCode = static_cast<DWORD>(WEXITSTATUS(status));
      else if (WIFSIGNALED(status))
        exitCode = 0xC0000000u | static_cast<DWORD>(WTERMSIG(status));  // like an NTSTATUS failure
      else
        exitCode = 1;
      return true;
    }
    if (r < 0) {  // not our child any more (reaped elsewhere): treat as ended
      ended = true;
      exitCode = 1;
      return true;
    }
    return false;
  }
  ~ProcessState() {
    // A child still running when the last handle goes stays unreaped until it
    // ends; one that has ended is reaped now so it leaves no zombie.
    if (!ended && pid > 0) {
      int status = 0;
      ::waitpid(pid, &status, WNOHANG);
    }
  }
};

struct ProcessHandle : KvHandleObject {
  std::shared_ptr<ProcessState> state;
};

ProcessHandle* Lookup(HANDLE h) { return dynamic_cast<ProcessHandle*>(KvHandleLookup(h)); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program token: quoted up to the next quote (no escapes), else up to a blank.
std::string ProgramToken(const std::string& line, size_t& pos) {
  std::string out;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  if (pos < line.size() && line[pos] == '"') {
    ++pos;
    while (pos < line.size() && line[pos] != '"') out += line[pos++];
    if (pos < line.size()) ++pos;
  } else {
    while (pos < line.size() && !IsBlank(line[pos])) out += line[pos++];
  }
  return out;
}

// The arguments after the program, as the C runtime of Windows splits them.
std::vector<std::string> ArgumentTokens(const std::string& line, size_t pos) {
  std::vector<std::string> args;
  for (;;) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (pos < line.size() && (quoted || !IsBlank(line[pos]))) {
      if (line[pos] == '\\') {
        size_t n = 0;
        while (pos < line.size() && line[pos] == '\\') {
          ++n;
          ++pos;
        }
        if (pos < line.size() && line[pos] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2) {
            arg += '"';
            ++pos;
          }
        } else {
          arg.append(n, '\\');
        }
      } else if (line[pos] == '"') {
        if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
          arg += '"';  // "" inside quotes is a literal quote
          pos += 2;
        } else {
          quoted = !quoted;
          ++pos;
        }
      } else {
        arg += line[pos++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

DWORD SpawnError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOEXEC:
      return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                           LPSTARTUPINFOA, LPPROCESS_INFORMATION lpProcessInformation) {
  const std::string line = lpCommandLine ? lpCommandLine : "";
  size_t pos = 0;
  std::string first = ProgramToken(line, pos);
  const std::string program = lpApplicationName && *lpApplicationName ? std::string(lpApplicationName) : first;
  if (program.empty() || !lpProcessInformation) {
    SetLastError(program.empty() ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<std::string> args;
  args.push_back(first.empty() ? program : first);
  for (auto& a : ArgumentTokens(line, pos)) args.push_back(std::move(a));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // An environment block is "NAME=value\0...\0\0".
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  char** env = environ;
  if (lpEnvironment) {
    for (const char* p = static_cast<const char*>(lpEnvironment); *p; p += std::char_traits<char>::length(p) + 1)
      envStrings.emplace_back(p);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    env = envp.data();
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (lpCurrentDirectory && *lpCurrentDirectory) posix_spawn_file_actions_addchdir_np(&actions, lpCurrentDirectory);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child starts with default signal handling (this process may ignore SIGPIPE).
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attr, &all);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  const bool search = program.find('/') == std::string::npos;
  const int err = search ? posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), env)
                         : posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) {
    SetLastError(SpawnError(err));
    return FALSE;
  }

  auto state = std::make_shared<ProcessState>();
  state->pid = pid;
  auto* process = new ProcessHandle;
  process->state = state;
  auto* thread = new ProcessHandle;
  thread->state = state;
  lpProcessInformation->hProcess = KvNewHandle(process);
  lpProcessInformation->hThread = KvNewHandle(thread);
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<ProcessState> state;
  if (ProcessHandle* h = Lookup(hHandle)) state = h->state;
  if (!state) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (dwMilliseconds == INFINITE) {
    state->Poll(true);
    return WAIT_OBJECT_0;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  for (;;) {
    if (state->Poll(false)) return WAIT_OBJECT_0;
    if (std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  ProcessHandle* h = Lookup(hProcess);
  if (!h || !lpExitCode) {
    SetLastError(h ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::shared_ptr<ProcessState> state = h->state;
  state->Poll(false);
  std::lock_guard<std::mutex> g(state->m);
  *lpExitCode = state->exitCode;
  return TRUE;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(::getpid()); }

// ---- thread priorities ----
//
// A thread's priority is its own nice value (Linux schedules threads one by one):
// the levels below normal are gentler to the rest of the desktop, as on Windows.

namespace {

int NiceOf(int level) { return -5 * level; }

pid_t ThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

}  // namespace

HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
  if (hThread != GetCurrentThread()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (nPriority < THREAD_PRIORITY_LOWEST || nPriority > THREAD_PRIORITY_HIGHEST) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), NiceOf(nPriority)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread) {
  if (hThread != GetCurrentThread()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()));
  if (nice == -1 && errno != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  if (nice >= 10) return THREAD_PRIORITY_LOWEST;
  if (nice >= 5) return THREAD_PRIORITY_BELOW_NORMAL;
  if (nice > -5) return THREAD_PRIORITY_NORMAL;
  if (nice > -10) return THREAD_PRIORITY_ABOVE_NORMAL;
  return THREAD_PRIORITY_HIGHEST;
}
