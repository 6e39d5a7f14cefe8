#include "consoleapi.h"

#include "errhandlingapi.h"
#include "winerror.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGINT, SIGHUP, SIGTERM};

std::mutex gM;
std::vector<PHANDLER_ROUTINE>* gHandlers = new std::vector<PHANDLER_ROUTINE>();  // used until the very end
int gPipe[2] = {-1, -1};

DWORD EventOf(int sig) {
  switch (sig) {
    case SIGINT: return CTRL_C_EVENT;
    case SIGHUP: return CTRL_CLOSE_EVENT;
    default: return CTRL_SHUTDOWN_EVENT;
  }
}

// Async-signal-safe: one byte into the pipe, nothing else.
void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char b = static_cast<unsigned char>(sig);
  if (gPipe[1] >= 0) (void)!::write(gPipe[1], &b, 1);
  errno = saved;
}

void Dispatch() {
  for (;;) {
    unsigned char b = 0;
    const ssize_t n = ::read(gPipe[0], &b, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    std::vector<PHANDLER_ROUTINE> handlers;
    {
      std::lock_guard<std::mutex> lk(gM);
      handlers = *gHandlers;
    }
    bool handled = false;
    for (auto it = handlers.rbegin(); it != handlers.rend() && !handled; ++it) handled = (*it)(EventOf(b)) != FALSE;
    if (!handled) {
      // Nobody took it: the default action, as without a handler.
      std::signal(b, SIG_DFL);
      ::raise(b);
    }
  }
}

bool StartOnce() {
  static bool ok = [] {
    if (::pipe(gPipe) != 0) return false;
    for (int fd : gPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
    std::thread(Dispatch).detach();
    return true;
  }();
  return ok;
}

}  // namespace

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE HandlerRoutine, BOOL bAdd) {
  if (!HandlerRoutine) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(gM);
  if (bAdd) {
    if (!StartOnce()) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    gHandlers->push_back(HandlerRoutine);
    return TRUE;
  }
  auto it = std::find(gHandlers->rbegin(), gHandlers->rend(), HandlerRoutine);
  if (it == gHandlers->rend()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  gHandlers->erase(std::next(it).base());
  return TRUE;
}
