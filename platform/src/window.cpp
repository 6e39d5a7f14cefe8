// The layer's window table and its cross-process door: each process with
// registered windows listens on "win-<pid>.sock" in the session folder and
// answers one request line per connection:
//   FIND <class> <caption>          -> OK <id> | NO     (hex text, "-" = any)
//   POST <id> <msg> <wparam> <lparam> -> OK | NO
//   RECT <id>                       -> OK <l> <t> <r> <b> | NO
//   SETPOS <id> <after> <x> <y> <cx> <cy> <flags> -> OK | NO
// The folder is private to the user (0700) and the listener also checks the
// peer's user id, so no other account can post to our windows.
#include "errhandlingapi.h"
#include "korvane_machine.h"
#include "korvane_window.h"
#include "winuser.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// ---- session folder ---------------------------------------------------------

bool PrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return false;
  // A symlink, someone else's folder or one others may write is refused.
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0077) == 0;
}

uint64_t Fnv1a(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string Hex(const std::string& s) {
  if (s.empty()) return "=";
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

bool Unhex(const std::string& h, std::string& out) {
  out.clear();
  if (h == "=") return true;
  if (h.size() % 2) return false;
  auto v = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < h.size(); i += 2) {
    const int a = v(h[i]), b = v(h[i + 1]);
    if (a < 0 || b < 0) return false;
    out += static_cast<char>(a * 16 + b);
  }
  return true;
}

// ---- the window table ---------------------------------------------------------

struct WindowRef : HWND__ {
  bool remote = false;
  // local
  uint64_t id = 0;
  std::string className, caption;
  KorvaneWindowCallbacks callbacks;
  // remote
  std::string socketPath;
};

struct Registry {
  std::mutex lock;
  std::map<uint64_t, WindowRef*> local;               // by id
  std::map<std::pair<std::string, uint64_t>, WindowRef*> remote;  // cached remote handles
  uint64_t nextId = 1;
  std::thread listener;
  std::atomic<bool> stop{false};
  int listenFd = -1;
  std::string listenPath;
};

Registry& Reg() {
  static Registry* r = new Registry;  // lives to the end: the listener may run at exit
  return *r;
}

WindowRef* LocalById(uint64_t id) {
  auto it = Reg().local.find(id);
  return it == Reg().local.end() ? nullptr : it->second;
}

bool Matches(const WindowRef& w, const char* cls, const char* cap) {
  return (!cls || w.className == cls) && (!cap || w.caption == cap);
}

std::string Answer(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  Registry& r = Reg();
  if (verb == "FIND") {
    std::string hc, hp, cls, cap;
    in >> hc >> hp;
    const bool anyCls = hc == "-", anyCap = hp == "-";
    if ((!anyCls && !Unhex(hc, cls)) || (!anyCap && !Unhex(hp, cap))) return "NO\n";
    std::lock_guard<std::mutex> g(r.lock);
    for (auto& [id, w] : r.local)
      if (Matches(*w, anyCls ? nullptr : cls.c_str(), anyCap ? nullptr : cap.c_str()))
        return "OK " + std::to_string(id) + "\n";
    return "NO\n";
  }
  uint64_t id = 0;
  in >> id;
  KorvaneWindowCallbacks cb;
  {
    std::lock_guard<std::mutex> g(r.lock);
    WindowRef* w = LocalById(id);
    if (!w) return "NO\n";
    cb = w->callbacks;
  }
  if (verb == "POST") {
    unsigned long long msg = 0, wp = 0;
    long long lp = 0;
    if (!(in >> msg >> wp >> lp)) return "NO\n";
    if (cb.Post) cb.Post(static_cast<UINT>(msg), static_cast<WPARAM>(wp), static_cast<LPARAM>(lp));
    return "OK\n";
  }
  if (verb == "RECT") {
    RECT rc{};
    if (!cb.GetRect || !cb.GetRect(rc)) return "NO\n";
    return "OK " + std::to_string(rc.left) + " " + std::to_string(rc.top) + " " + std::to_string(rc.right) + " " +
           std::to_string(rc.bottom) + "\n";
  }
  if (verb == "SETPOS") {
    long long after = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    unsigned flags = 0;
    if (!(in >> after >> x >> y >> cx >> cy >> flags)) return "NO\n";
    if (!cb.SetPos) return "NO\n";
    return cb.SetPos(reinterpret_cast<HWND>(static_cast<LONG_PTR>(after)), x, y, cx, cy, flags) ? "OK\n" : "NO\n";
  }
  return "NO\n";
}

bool ReadLine(int fd, std::string& line, int timeoutMs) {
  line.clear();
  char c;
  while (line.size() < 4096) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    const ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
  return false;
}

void WriteAll(int fd, const std::string& s) {
  size_t off = 0;
  while (off < s.size()) {
    const ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

void ListenLoop(int fd) {
  Registry& r = Reg();
  while (!r.stop) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    ucred cred{};
    socklen_t len = sizeof cred;
    std::string line;
    if (::getsockopt(c, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::getuid() &&
        ReadLine(c, line, 2000))
      WriteAll(c, Answer(line));
    ::close(c);
  }
}

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Starts the listener with the first registered window (lock held).
void EnsureListener() {
  Registry& r = Reg();
  if (r.listenFd >= 0) return;
  const std::string folder = KorvaneSessionFolder();
  if (folder.empty()) return;
  const std::string path = folder + "/win-" + std::to_string(::getpid()) + ".sock";
  sockaddr_un addr{};
  if (!MakeAddress(path, addr)) return;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  ::unlink(path.c_str());  // a stale socket of an earlier process with our pid
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return;
  }
  r.listenFd = fd;
  r.listenPath = path;
  r.stop = false;
  r.listener = std::thread(ListenLoop, fd);
  r.listener.detach();
  static bool cleanupRegistered = false;
  if (!cleanupRegistered) {
    cleanupRegistered = true;
    std::atexit([] {
      Registry& reg = Reg();
      reg.stop = true;
      if (!reg.listenPath.empty()) ::unlink(reg.listenPath.c_str());
    });
  }
}

// One request to another process; false when it does not answer.
bool Ask(const std::string& socketPath, const std::string& request, std::string& reply, bool* stale = nullptr) {
  if (stale) *stale = false;
  sockaddr_un addr{};
  if (!MakeAddress(socketPath, addr)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (stale) *stale = errno == ECONNREFUSED || errno == ENOENT;
    ::close(fd);
    return false;
  }
  WriteAll(fd, request);
  const bool ok = ReadLine(fd, reply, 3000);
  ::close(fd);
  return ok;
}

WindowRef* AsRef(HWND h) {
  if (!h) return nullptr;
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  auto* w = static_cast<WindowRef*>(h);
  for (auto& [id, lw] : r.local)
    if (lw == w) return w;
  for (auto& [key, rw] : r.remote)
    if (rw == w) return w;
  return nullptr;
}

}  // namespace

std::string KorvaneSessionFolder() {
  std::string base;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/') {
    struct stat st{};
    if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()) base = std::string(xdg) + "/korvane";
  }
  if (base.empty()) base = "/tmp/korvane-" + std::to_string(::getuid());
  if (!PrivateFolder(base)) return {};
  char sub[32];
  std::snprintf(sub, sizeof sub, "/m%016llx", static_cast<unsigned long long>(Fnv1a(KorvaneMachineRoot())));
  const std::string folder = base + sub;
  if (!PrivateFolder(folder)) return {};
  return folder;
}

HWND KorvaneRegisterWindow(const std::string& className, const std::string& caption,
                           KorvaneWindowCallbacks callbacks) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  auto* w = new WindowRef;
  w->id = r.nextId++;
  w->className = className;
  w->caption = caption;
  w->callbacks = std::move(callbacks);
  r.local[w->id] = w;
  EnsureListener();
  return w;
}

void KorvaneSetWindowCaption(HWND hwnd, const std::string& caption) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  for (auto& [id, w] : r.local)
    if (w == hwnd) w->caption = caption;
}

void KorvaneUnregisterWindow(HWND hwnd) {
  Registry& r = Reg();
  std::lock_guard<std::mutex> g(r.lock);
  for (auto it = r.local.begin(); it != r.local.end(); ++it)
    if (it->second == hwnd) {
      delete it->second;
      r.local.erase(it);
      break;
    }
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
  Registry& r = Reg();
  {
    std::lock_guard<std::mutex> g(r.lock);
    for (auto& [id, w] : r.local)
      if (Matches(*w, lpClassName, lpWindowName)) return w;
  }
  const std::string folder = KorvaneSessionFolder();
  if (folder.empty()) return nullptr;
  const std::string own = "win-" + std::to_string(::getpid()) + ".sock";
  std::vector<std::string> sockets;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n.rfind("win-", 0) == 0 && n.size() > 9 && n.compare(n.size() - 5, 5, ".sock") == 0 && n != own)
        sockets.push_back(folder + "/" + n);
    }
    ::closedir(d);
  }
  const std::string request = std::string("FIND ") + (lpClassName ? Hex(lpClassName) : "-") + " " +
                              (lpWindowName ? Hex(lpWindowName) : "-") + "\n";
  for (const auto& path : sockets) {
    std::string reply;
    bool stale = false;
    if (!Ask(path, request, reply, &stale)) {
      if (stale) ::unlink(path.c_str());  // its process is gone
      continue;
    }
    if (reply.rfind("OK ", 0) != 0) continue;
    const uint64_t id = std::strtoull(reply.c_str() + 3, nullptr, 10);
    std::lock_guard<std::mutex> g(r.lock);
    WindowRef*& slot = r.remote[{path, id}];
    if (!slot) {
      slot = new WindowRef;
      slot->remote = true;
      slot->id = id;
      slot->socketPath = path;
    }
    return slot;
  }
  SetLastError(ERROR_SUCCESS);
  return nullptr;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  WindowRef* w = AsRef(hWnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!w->remote) {
    KorvaneWindowCallbacks cb;
    {
      std::lock_guard<std::mutex> g(Reg().lock);
      cb = w->callbacks;
    }
    if (cb.Post) cb.Post(Msg, wParam, lParam);
    return TRUE;
  }
  std::string reply;
  if (Ask(w->socketPath,
          "POST " + std::to_string(w->id) + " " + std::to_string(Msg) + " " + std::to_string(wParam) + " " +
              std::to_string(lParam) + "\n",
          reply) &&
      reply == "OK")
    return TRUE;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
  WindowRef* w = AsRef(hWnd);
  if (!w || !lpRect) {
    SetLastError(w ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!w->remote) {
    KorvaneWindowCallbacks cb;
    {
      std::lock_guard<std::mutex> g(Reg().lock);
      cb = w->callbacks;
    }
    return cb.GetRect && cb.GetRect(*lpRect) ? TRUE : FALSE;
  }
  std::string reply;
  if (!Ask(w->socketPath, "RECT " + std::to_string(w->id) + "\n", reply) || reply.rfind("OK ", 0) != 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::istringstream in(reply.substr(3));
  RECT rc{};
  if (!(in >> rc.left >> rc.top >> rc.right >> rc.bottom)) return FALSE;
  *lpRect = rc;
  return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  WindowRef* w = AsRef(hWnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!w->remote) {
    KorvaneWindowCallbacks cb;
    {
      std::lock_guard<std::mutex> g(Reg().lock);
      cb = w->callbacks;
    }
    return cb.SetPos && cb.SetPos(hWndInsertAfter, X, Y, cx, cy, uFlags) ? TRUE : FALSE;
  }
  std::string reply;
  const long long after = static_cast<long long>(reinterpret_cast<LONG_PTR>(hWndInsertAfter));
  return Ask(w->socketPath,
             "SETPOS " + std::to_string(w->id) + " " + std::to_string(after) + " " + std::to_string(X) + " " +
                 std::to_string(Y) + " " + std::to_string(cx) + " " + std::to_string(cy) + " " +
                 std::to_string(uFlags) + "\n",
             reply) &&
                 reply == "OK"
             ? TRUE
             : FALSE;
}
