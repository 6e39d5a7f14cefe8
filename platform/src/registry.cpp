// The registry functions over the machine's hive files. Reads use a parsed copy that is
// refreshed whenever the file changes; every change re-reads the file under an advisory
// lock, applies itself, and replaces the file by rename, so concurrent writers keep each
// other's values and a crash leaves either the old or the new hive, never half of one.
#include <windows.h>

#include <korvane_file.h>
#include <korvane_text.h>

#include "autostart.h"
#include "hive.h"
#include "internal.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvp {

namespace {

constexpr int kHiveCount = 2;
constexpr int kHklm = 0;
constexpr int kHkcu = 1;
const char* const kHiveFile[kHiveCount] = {"system.reg", "user.reg"};
const char* const kRootName[kHiveCount] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

constexpr REGSAM kWriteBits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | 0x00040000 |
                              0x00080000;  // WRITE_DAC, WRITE_OWNER

struct Stamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  long long mtimeNs = 0;
  bool operator==(const Stamp& o) const {
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs;
  }
};

Stamp StampOf(const struct stat& st) {
  Stamp s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return s;
}

struct HiveCache {
  bool valid = false;
  std::string path;
  Stamp stamp;
  std::shared_ptr<const RegKey> file;
  std::shared_ptr<const RegKey> view;
  uint64_t viewGen = 0;
  std::string lastError;
};

std::mutex g_mu;
HiveCache g_cache[kHiveCount];
std::shared_ptr<const RegKey> g_overlay;
uint64_t g_overlayGen = 1;
std::mutex g_writeMu[kHiveCount];

struct KeyObj {
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  std::shared_ptr<const RegKey> seenView;
  const RegKey* seenKey = nullptr;
};
std::set<KeyObj*> g_keys;

std::string HivePath(int hive) { return CurrentMachine().root + "/" + kHiveFile[hive]; }

// Reads a whole file; 0, or an errno value.
int ReadWhole(const std::string& path, std::string& text, Stamp& stamp) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int e = errno;
    close(fd);
    return e;
  }
  stamp = StampOf(st);
  text.clear();
  char buf[65536];
  while (true) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      close(fd);
      return e;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return 0;
}

LONG ErrnoToError(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    default: return ERROR_WRITE_FAULT;
  }
}

// The parsed hive file, refreshed when the file changed. Caller holds g_mu.
LONG LoadFileLocked(int hive, std::shared_ptr<const RegKey>& out) {
  HiveCache& c = g_cache[hive];
  std::string path = HivePath(hive);
  struct stat st;
  Stamp now;
  if (stat(path.c_str(), &st) == 0) now = StampOf(st);
  if (c.valid && c.path == path && c.stamp == now) {
    if (!c.file) {
      SetFault(ERROR_BADDB, c.lastError);
      return ERROR_BADDB;
    }
    out = c.file;
    return ERROR_SUCCESS;
  }
  auto root = std::make_shared<RegKey>();
  root->name = kRootName[hive];
  if (now.exists) {
    std::string text;
    int e = ReadWhole(path, text, now);
    if (e == ENOENT) {
      now = Stamp{};
    } else if (e != 0) {
      return ErrnoToError(e);
    } else {
      std::string err;
      if (!ParseHive(text, kRootName[hive], path, *root, &err)) {
        if (err != c.lastError) ReportError(err);
        c.lastError = err;
        c.valid = true;
        c.path = path;
        c.stamp = now;
        c.file.reset();
        c.view.reset();
        // As Windows with a damaged hive: every key of it fails to open.
        SetFault(ERROR_BADDB, err);
        return ERROR_BADDB;
      }
    }
  }
  c.valid = true;
  c.path = path;
  c.stamp = now;
  c.file = root;
  c.view.reset();
  c.lastError.clear();
  out = root;
  return ERROR_SUCCESS;
}

// What readers see: the file, on the live host with the synthesised keys laid over it.
LONG LoadView(int hive, std::shared_ptr<const RegKey>& out) {
  if (LONG bad = static_cast<LONG>(CheckMachine(false))) return bad;
  if (hive == kHklm) {
    bool need;
    {
      std::lock_guard<std::mutex> lock(g_mu);
      need = !g_overlay;
    }
    if (need) EnsureHostOverlay();
  }
  std::lock_guard<std::mutex> lock(g_mu);
  std::shared_ptr<const RegKey> file;
  LONG r = LoadFileLocked(hive, file);
  if (r != ERROR_SUCCESS) return r;
  HiveCache& c = g_cache[hive];
  if (hive != kHklm || !g_overlay) {
    out = file;
    return ERROR_SUCCESS;
  }
  if (!c.view || c.viewGen != g_overlayGen) {
    auto merged = std::make_shared<RegKey>(*file);
    merged->Merge(*g_overlay);
    c.view = merged;
    c.viewGen = g_overlayGen;
  }
  out = c.view;
  return ERROR_SUCCESS;
}

LONG CheckWritable(int hive) {
  if (LONG bad = static_cast<LONG>(CheckMachine(false))) return bad;
  MachineInfo m = CurrentMachine();
  struct stat st;
  if (stat(m.root.c_str(), &st) != 0) {
    if (!m.host) return ERROR_PATH_NOT_FOUND;
    if (!MakeDirs(m.root, 0700)) return ERROR_ACCESS_DENIED;
  }
  if (faccessat(AT_FDCWD, m.root.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return ERROR_ACCESS_DENIED;
  std::string path = m.root + "/" + kHiveFile[hive];
  if (stat(path.c_str(), &st) == 0 && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

using Change = std::function<LONG(RegKey& root, bool& changed)>;

LONG Modify(int hive, const Change& change) {
  LONG w = CheckWritable(hive);
  if (w != ERROR_SUCCESS) return w;
  std::lock_guard<std::mutex> inProcess(g_writeMu[hive]);
  MachineInfo m = CurrentMachine();
  std::string name = kHiveFile[hive];
  std::string path = m.root + "/" + name;
  std::string lockPath = m.root + "/." + name + ".lock";
  int lfd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lfd < 0) return ErrnoToError(errno);
  while (flock(lfd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(lfd);
      return ERROR_LOCK_VIOLATION;
    }
  }
  struct Unlock {
    int fd;
    ~Unlock() {
      flock(fd, LOCK_UN);
      close(fd);
    }
  } unlock{lfd};

  // Temporary files seen under the lock were left by a writer that died mid-write.
  if (DIR* d = opendir(m.root.c_str())) {
    const std::string prefix = KorvaneReplacementPrefix(path);
    while (dirent* e = readdir(d))
      if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) unlinkat(dirfd(d), e->d_name, 0);
    closedir(d);
  }

  // Another process may have written since our last read: start from the file itself.
  RegKey root;
  root.name = kRootName[hive];
  root.listed = false;
  HiveFormat format;
  std::string text;
  Stamp old;
  int e = ReadWhole(path, text, old);
  if (e == 0) {
    std::string err;
    if (!ParseHive(text, kRootName[hive], path, root, &err, &format)) {
      ReportError(err + " (the hive is left unchanged)");
      SetFault(ERROR_BADDB, err);
      return ERROR_BADDB;
    }
  } else if (e != ENOENT) {
    return ErrnoToError(e);
  }
  bool changed = false;
  LONG r = change(root, changed);
  if (r != ERROR_SUCCESS || !changed) return r;

  std::string out = SerializeHive(root, kRootName[hive], format);
  // A new HKEY_CURRENT_USER hive is the user's alone; a rewritten one keeps its bits.
  TKorvaneReplacement replacement(path, hive == kHkcu ? KORVANE_REPLACE_PRIVATE : 0);
  if (!replacement.Create() || !replacement.Write(out.data(), out.size()) || !replacement.Commit())
    return static_cast<LONG>(GetLastError());
  struct stat st;
  std::lock_guard<std::mutex> lock(g_mu);
  HiveCache& c = g_cache[hive];
  if (stat(path.c_str(), &st) == 0) {
    c.valid = true;
    c.path = path;
    c.stamp = StampOf(st);
    c.file = std::make_shared<RegKey>(std::move(root));
    c.view.reset();
    c.lastError.clear();
  } else {
    c.valid = false;
  }
  return ERROR_SUCCESS;
}

int PredefinedHive(HKEY h) {
  if (h == HKEY_LOCAL_MACHINE) return kHklm;
  if (h == HKEY_CURRENT_USER) return kHkcu;
  return -1;
}

// The hive, path and access of a handle; false for an unknown handle.
bool ResolveHandle(HKEY h, int& hive, std::vector<std::string>& path, REGSAM& access) {
  int p = PredefinedHive(h);
  if (p >= 0) {
    hive = p;
    path.clear();
    access = KEY_ALL_ACCESS;
    return true;
  }
  std::lock_guard<std::mutex> lock(g_mu);
  auto* obj = reinterpret_cast<KeyObj*>(h);
  if (!g_keys.count(obj)) return false;
  hive = obj->hive;
  path = obj->path;
  access = obj->access;
  return true;
}

HKEY NewHandle(int hive, std::vector<std::string> path, REGSAM access) {
  auto* obj = new KeyObj{hive, std::move(path), access, nullptr, nullptr};
  std::lock_guard<std::mutex> lock(g_mu);
  g_keys.insert(obj);
  return reinterpret_cast<HKEY>(obj);
}

bool ValidName(const std::string& utf8) {
  return utf8.find('\n') == std::string::npos && utf8.find('\r') == std::string::npos;
}

bool IsTextType(DWORD t) { return t == REG_SZ || t == REG_EXPAND_SZ || t == REG_MULTI_SZ; }

// What an A function hands out: text in the code page, other data as stored.
std::vector<uint8_t> AnsiData(const RegValue& v) {
  if (!IsTextType(v.type)) return v.data;
  std::string a = WideToAnsi(BytesToUtf16(v.data));
  return std::vector<uint8_t>(a.begin(), a.end());
}

// Windows' size protocol of RegQueryValueExA/RegEnumValueA.
LONG CopyData(const RegValue& v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> d = AnsiData(v);
  if (lpType) *lpType = v.type;
  if (!lpcbData) return ERROR_SUCCESS;
  DWORD need = static_cast<DWORD>(d.size());
  if (!lpData) {
    *lpcbData = need;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < need) {
    *lpcbData = need;
    return ERROR_MORE_DATA;
  }
  if (need) std::memcpy(lpData, d.data(), need);
  *lpcbData = need;
  return ERROR_SUCCESS;
}

LONG CopyName(const std::string& utf8, LPSTR out, LPDWORD cch) {
  if (!out || !cch) return ERROR_INVALID_PARAMETER;
  std::string a = Utf8ToAnsi(utf8);
  if (*cch < a.size() + 1) {
    if (*cch > 0) out[0] = '\0';
    return ERROR_MORE_DATA;
  }
  std::memcpy(out, a.c_str(), a.size() + 1);
  *cch = static_cast<DWORD>(a.size());
  return ERROR_SUCCESS;
}

std::string ValueName(LPCSTR name) { return name ? AnsiToUtf8(name) : std::string(); }

// The key a handle stands for in the current view. A handle remembers the key it found
// in the view it last saw, so the queries of one open key walk its path once.
LONG KeyOf(HKEY hKey, REGSAM need, std::shared_ptr<const RegKey>& view, const RegKey*& key) {
  int hive = PredefinedHive(hKey);
  REGSAM access = KEY_ALL_ACCESS;
  KeyObj* obj = nullptr;
  if (hive < 0) {
    std::lock_guard<std::mutex> lock(g_mu);
    obj = reinterpret_cast<KeyObj*>(hKey);
    if (!g_keys.count(obj)) return ERROR_INVALID_HANDLE;
    hive = obj->hive;
    access = obj->access;
  }
  if ((access & need) != need) return ERROR_ACCESS_DENIED;
  LONG r = LoadView(hive, view);
  if (r != ERROR_SUCCESS) return r;
  if (!obj) {
    key = view.get();
    return ERROR_SUCCESS;
  }
  {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!g_keys.count(obj)) return ERROR_INVALID_HANDLE;
    if (obj->seenView != view) {
      obj->seenView = view;
      obj->seenKey = view->Walk(obj->path);
    }
    key = obj->seenKey;
  }
  if (!key) return ERROR_KEY_DELETED;
  return ERROR_SUCCESS;
}

}  // namespace

void ResetRegistry() {
  std::lock_guard<std::mutex> lock(g_mu);
  for (auto& c : g_cache) c = HiveCache{};
  g_overlay.reset();
  ++g_overlayGen;
}

void SetMachineOverlay(std::shared_ptr<const RegKey> overlay) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_overlay = std::move(overlay);
  ++g_overlayGen;
}

}  // namespace kvp

using namespace kvp;

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  if (!ResolveHandle(hKey, hive, path, access)) return ERROR_INVALID_HANDLE;
  for (auto& p : SplitKeyPath(lpSubKey ? AnsiToUtf8(lpSubKey) : std::string())) path.push_back(std::move(p));
  std::shared_ptr<const RegKey> view;
  LONG r = LoadView(hive, view);
  if (r != ERROR_SUCCESS) return r;
  // Keep the stored spelling of each component.
  std::vector<std::string> canonical;
  canonical.reserve(path.size());
  const RegKey* walk = view.get();
  for (const auto& p : path) {
    walk = walk->Find(p);
    if (!walk) return ERROR_FILE_NOT_FOUND;
    canonical.push_back(walk->name);
  }
  if (samDesired & kWriteBits) {
    r = CheckWritable(hive);
    if (r != ERROR_SUCCESS) return r;
  }
  (void)ulOptions;
  *phkResult = NewHandle(hive, std::move(canonical), samDesired);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                               PHKEY phkResult, LPDWORD lpdwDisposition) {
  (void)Reserved;
  (void)lpClass;
  (void)dwOptions;
  (void)lpSecurityAttributes;
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  if (!ResolveHandle(hKey, hive, path, access)) return ERROR_INVALID_HANDLE;
  std::string sub = lpSubKey ? AnsiToUtf8(lpSubKey) : std::string();
  if (!ValidName(sub)) return ERROR_INVALID_PARAMETER;
  for (auto& p : SplitKeyPath(sub)) path.push_back(std::move(p));
  if (path.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;  // Windows' nesting limit
  std::shared_ptr<const RegKey> view;
  LONG r = LoadView(hive, view);
  if (r != ERROR_SUCCESS) return r;
  const RegKey* existing = view->Walk(path);
  if (existing) {
    if (samDesired & kWriteBits) {
      r = CheckWritable(hive);
      if (r != ERROR_SUCCESS) return r;
    }
    if (lpdwDisposition) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
  } else {
    r = Modify(hive, [&](RegKey& root, bool& changed) {
      if (!root.Walk(path)) {
        root.WalkOrAdd(path);
        changed = true;
      }
      return static_cast<LONG>(ERROR_SUCCESS);
    });
    if (r != ERROR_SUCCESS) return r;
    if (lpdwDisposition) *lpdwDisposition = REG_CREATED_NEW_KEY;
    r = LoadView(hive, view);
    if (r != ERROR_SUCCESS) return r;
  }
  std::vector<std::string> canonical;
  const RegKey* walk = view.get();
  for (const auto& p : path) {
    walk = walk ? walk->Find(p) : nullptr;
    canonical.push_back(walk ? walk->name : p);
  }
  *phkResult = NewHandle(hive, std::move(canonical), samDesired);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
  if (lpReserved) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<const RegKey> view;
  const RegKey* key = nullptr;
  LONG r = KeyOf(hKey, KEY_QUERY_VALUE, view, key);
  if (r != ERROR_SUCCESS) return r;
  const RegValue* v = key->FindValue(ValueName(lpValueName));
  if (!v) return ERROR_FILE_NOT_FOUND;
  return CopyData(*v, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
  (void)Reserved;
  if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  if (!ResolveHandle(hKey, hive, path, access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string name = ValueName(lpValueName);
  if (!ValidName(name)) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> data;
  if (IsTextType(dwType)) {
    std::u16string w =
        AnsiToWide(std::string_view(reinterpret_cast<const char*>(lpData ? lpData : reinterpret_cast<const BYTE*>("")), cbData));
    // Text without its NUL is stored with one, so readers always find it terminated.
    if (dwType != REG_MULTI_SZ && (w.empty() || w.back() != 0)) w.push_back(0);
    data = Utf16Bytes(w, false);
  } else if (cbData) {
    data.assign(lpData, lpData + cbData);
  }
  // A key that exists only in the host's synthesised view is created in the file.
  std::shared_ptr<const RegKey> view;
  LONG r = LoadView(hive, view);
  if (r != ERROR_SUCCESS) return r;
  bool inView = view->Walk(path) != nullptr;
  r = Modify(hive, [&](RegKey& root, bool& changed) {
    RegKey* k = root.Walk(path);
    if (!k) {
      if (!inView) return static_cast<LONG>(ERROR_KEY_DELETED);
      k = &root.WalkOrAdd(path);
    }
    k->SetValue(name, dwType, data);
    changed = true;
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (r == ERROR_SUCCESS && hive == kHkcu)
    MirrorRunValue(path, name, IsTextType(dwType), lpData ? lpData : reinterpret_cast<const BYTE*>(""), cbData);
  return r;
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  if (!ResolveHandle(hKey, hive, path, access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string name = ValueName(lpValueName);
  std::shared_ptr<const RegKey> view;
  LONG r = LoadView(hive, view);
  if (r != ERROR_SUCCESS) return r;
  const RegKey* k = view->Walk(path);
  if (!k) return ERROR_KEY_DELETED;
  if (k->FindValue(name))
    r = Modify(hive, [&](RegKey& root, bool& changed) {
      RegKey* fk = root.Walk(path);
      if (!fk || !fk->RemoveValue(name)) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
      changed = true;
      return static_cast<LONG>(ERROR_SUCCESS);
    });
  else
    r = ERROR_FILE_NOT_FOUND;
  // An autostart entry left without its value (the hive was replaced) goes too.
  if ((r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) && hive == kHkcu)
    MirrorRunValue(path, name, false, nullptr, 0);
  return r;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (PredefinedHive(hKey) >= 0) return ERROR_SUCCESS;
  KeyObj* obj = reinterpret_cast<KeyObj*>(hKey);
  {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!g_keys.erase(obj)) return ERROR_INVALID_HANDLE;
  }
  delete obj;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (lpReserved) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<const RegKey> view;
  const RegKey* key = nullptr;
  LONG r = KeyOf(hKey, KEY_ENUMERATE_SUB_KEYS, view, key);
  if (r != ERROR_SUCCESS) return r;
  if (dwIndex >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  r = CopyName(key->subkeys[dwIndex].name, lpName, lpcchName);
  if (r != ERROR_SUCCESS) return r;
  if (lpClass && lpcchClass && *lpcchClass) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<const RegKey> view;
  const RegKey* key = nullptr;
  LONG r = KeyOf(hKey, KEY_QUERY_VALUE, view, key);
  if (r != ERROR_SUCCESS) return r;
  if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& v = key->values[dwIndex];
  r = CopyName(v.name, lpValueName, lpcchValueName);
  if (r != ERROR_SUCCESS) return r;
  return CopyData(v, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  if (!ResolveHandle(hKey, hive, path, access)) return ERROR_INVALID_HANDLE;
  auto sub = SplitKeyPath(AnsiToUtf8(lpSubKey));
  if (sub.empty()) return ERROR_INVALID_PARAMETER;
  for (auto& p : sub) path.push_back(std::move(p));
  std::shared_ptr<const RegKey> view;
  LONG r = LoadView(hive, view);
  if (r != ERROR_SUCCESS) return r;
  const RegKey* k = view->Walk(path);
  if (!k) return ERROR_FILE_NOT_FOUND;
  if (!k->subkeys.empty()) return ERROR_ACCESS_DENIED;  // as Windows: only leaf keys
  r = Modify(hive, [&](RegKey& root, bool& changed) {
    std::vector<std::string> parent(path.begin(), path.end() - 1);
    RegKey* pk = root.Walk(parent);
    RegKey* fk = root.Walk(path);
    if (!pk || !fk) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (!fk->subkeys.empty()) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    pk->Remove(path.back());
    changed = true;
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (r == ERROR_SUCCESS && hive == kHkcu) MirrorRunKeyDeleted(path);
  return r;
}
