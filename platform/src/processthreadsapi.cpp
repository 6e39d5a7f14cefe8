#include "processthreadsapi.h"
#include "processenv.h"

#include "cmdline.h"
#include "errhandlingapi.h"
#include "kv_handles.h"
#include "synchapi.h"
#include "winerror.h"

#include <cerrno>
#include <cstring>
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
  std::vector<std::string> args = kvp::SplitCommandLine(lpCommandLine ? lpCommandLine : "");
  const std::string program = lpApplicationName && *lpApplicationName ? std::string(lpApplicationName)
                              : args.empty()                          ? std::string()
                                                                      : args.front();
  if (program.empty() || !lpProcessInformation) {
    SetLastError(program.empty() ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (args.empty())
    args.push_back(program);
  else if (args.front().empty())
    args.front() = program;
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
// A thread's priority is its own nice value (Linux schedules threads one by one),
// counted from the process's (its main thread's) as Windows counts a thread's level
// from its process's priority class: the levels below normal are gentler to the rest
// of the desktop.

namespace {

constexpr int kNiceStep = 5;

pid_t ThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

int ProcessNice() {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  return nice == -1 && errno != 0 ? 0 : nice;
}

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
  int nice = ProcessNice() - kNiceStep * nPriority;
  nice = nice < -20 ? -20 : nice > 19 ? 19 : nice;
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), nice) != 0) {
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
  const int above = ProcessNice() - nice;  // positive: more urgent than the process
  if (above <= -2 * kNiceStep + 2) return THREAD_PRIORITY_LOWEST;
  if (above <= -kNiceStep + 2) return THREAD_PRIORITY_BELOW_NORMAL;
  if (above < kNiceStep - 2) return THREAD_PRIORITY_NORMAL;
  if (above < 2 * kNiceStep - 2) return THREAD_PRIORITY_ABOVE_NORMAL;
  return THREAD_PRIORITY_HIGHEST;
}

LPCH WINAPI GetEnvironmentStringsA(void) {
  std::string block;
  for (char** e = environ; e && *e; ++e) {
    block += *e;
    block += '\0';
  }
  block += '\0';
  if (block.size() == 1) block += '\0';  // an empty environment is still "\0\0"
  char* copy = new char[block.size()];
  std::memcpy(copy, block.data(), block.size());
  return copy;
}

BOOL WINAPI FreeEnvironmentStringsA(LPCH penv) {
  delete[] penv;
  return TRUE;
}
