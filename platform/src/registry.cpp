// The registry functions over the machine's hive files. Reads use a parsed copy that is
// refreshed whenever the file changes. Value changes are kept in memory, where every
// handle of this process sees them at once, and are written when the handle that made
// them is closed or flushed (RegFlushKey), as Windows writes a hive lazily: one rewrite
// of the hive for all of them, under an advisory lock, merged with what other processes
// wrote meanwhile, into a temporary file that is synced and renamed over the hive, so a
// crash loses at most the changes not yet flushed and never leaves half a hive. When the
// file is as this process last read or wrote it, only the sections of the changed keys
// are rewritten and the rest of the file is copied as it is.
#include <windows.h>

#include <korvane_file.h>
#include <korvane_text.h>

#include "autostart.h"
#include "hive.h"
#include "internal.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <set>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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
  // The file with this process's unwritten changes applied. Its values change in place
  // under g_mu (so value readers hold g_mu); its keys only in a new copy, so a handle's
  // remembered key stays valid.
  std::shared_ptr<RegKey> file;
  HiveFormat format;
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

// A value change not yet written to its hive, in the order made.
struct PendingOp {
  const KeyObj* owner;  // the handle it was made through; nullptr for a predefined root
  std::vector<std::string> path;
  std::string name;
  bool remove;
  DWORD type;
  std::vector<uint8_t> data;
};
std::vector<PendingOp> g_pending[kHiveCount];  // under g_mu
// How many of the first pending changes a flush is writing now (they stay as they are).
size_t g_inFlight[kHiveCount];

bool SamePath(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!NameEquals(a[i], b[i])) return false;
  return true;
}

// Applies a change to a tree; false when its key is not there (deleted by another writer).
bool ApplyOp(RegKey& root, const PendingOp& op) {
  RegKey* k = root.Walk(op.path);
  if (!k) return false;
  if (op.remove)
    k->RemoveValue(op.name);
  else
    k->SetValue(op.name, op.type, op.data);
  return true;
}

// How many of the changes could not be applied.
size_t ApplyOps(RegKey& root, std::vector<PendingOp>::const_iterator from,
                std::vector<PendingOp>::const_iterator to) {
  size_t lost = 0;
  for (auto it = from; it != to; ++it) lost += ApplyOp(root, *it) ? 0 : 1;
  return lost;
}

std::string HivePath(int hive) { return CurrentMachine().root + "/" + kHiveFile[hive]; }

// Reads the rest of an open file into text (sized by the file's length, one copy);
// 0, or an errno value.
int ReadAll(int fd, off_t size, std::string& text) {
  text.resize(static_cast<size_t>(size > 0 ? size : 0));
  size_t have = 0;
  char more[4096];  // what the file grew by meanwhile (rare): no room reserved for it
  while (true) {
    const bool full = have == text.size();
    const ssize_t n = full ? read(fd, more, sizeof more) : read(fd, &text[have], text.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    if (full) text.append(more, static_cast<size_t>(n));
    have += static_cast<size_t>(n);
  }
  text.resize(have);
  return 0;
}

// Opens a file for reading and notes its stamp; -1 with errno set when it cannot.
int OpenStamped(const std::string& path, Stamp& stamp) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int e = errno;
    close(fd);
    errno = e;
    return -1;
  }
  stamp = StampOf(st);
  return fd;
}

// Reads a whole file; 0, or an errno value.
int ReadWhole(const std::string& path, std::string& text, Stamp& stamp) {
  const int fd = OpenStamped(path, stamp);
  if (fd < 0) return errno;
  const int e = ReadAll(fd, stamp.size, text);
  close(fd);
  return e;
}

// Copies length bytes at offset of one open file to the end of another, in the kernel
// where it can (no copy through this process), else through a buffer.
bool CopyRange(int from, off_t offset, size_t length, int to) {
  bool kernel = true;
  while (length > 0 && kernel) {
    loff_t in = offset;
    const ssize_t n = copy_file_range(from, &in, to, nullptr, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      kernel = false;  // not on this file system (or the file shrank: pread tells)
      break;
    }
    offset += n;
    length -= static_cast<size_t>(n);
  }
  char buf[65536];
  while (length > 0) {
    const ssize_t n = pread(from, buf, std::min(length, sizeof buf), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // shorter than it was
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(to, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = EIO;
        return false;
      }
      done += w;
    }
    offset += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

LONG ErrnoToError(int e) {
  switch (e) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    default:
      return ERROR_WRITE_FAULT;
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
  HiveFormat format;
  if (now.exists) {
    std::string text;
    int e = ReadWhole(path, text, now);
    if (e == ENOENT) {
      now = Stamp{};
    } else if (e != 0) {
      return ErrnoToError(e);
    } else {
      std::string err;
      if (!ParseHive(text, kRootName[hive], path, *root, &err, &format)) {
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
  // What this process changed and has not written yet stays visible.
  ApplyOps(*root, g_pending[hive].begin(), g_pending[hive].end());
  c.valid = true;
  c.path = path;
  c.stamp = now;
  c.file = root;
  c.format = format;
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

// The full path of a key in a tree, as its section names it; false when it is not there.
bool SectionPath(const RegKey& root, const std::vector<std::string>& path, std::string& out,
                 const RegKey*& key) {
  out = root.name;
  const RegKey* k = &root;
  for (const auto& p : path) {
    k = k->Find(p);
    if (!k) return false;
    out += '\\';
    out += k->name;
  }
  key = k;
  return true;
}

struct Section {
  size_t begin, end;  // in the old file
  std::string text;   // what replaces it
};

// The new file as the old one with the changed keys' sections replaced; false when one of
// them has no single known section (a new key, a key of two sections, a file not in UTF-8).
bool SpliceSections(const RegKey& root, const std::vector<const std::vector<std::string>*>& keys,
                    const HiveFormat& format, size_t fileSize, std::vector<Section>& out) {
  out.clear();
  for (const auto* path : keys) {
    std::string full;
    const RegKey* k = nullptr;
    if (!SectionPath(root, *path, full, k)) return false;
    if (k->sectionEnd == 0 || k->sectionBegin >= k->sectionEnd || k->sectionEnd > fileSize) return false;
    out.push_back({k->sectionBegin, k->sectionEnd, SerializeSection(*k, full, format)});
  }
  std::sort(out.begin(), out.end(), [](const Section& a, const Section& b) { return a.begin < b.begin; });
  for (size_t i = 1; i < out.size(); ++i)
    if (out[i].begin < out[i - 1].end) return false;
  return true;
}

// After a splice: every key's section moves by what the replaced sections before it grew.
void MoveSections(const RegKey& root, const std::vector<Section>& replaced) {
  std::vector<size_t> ends;
  std::vector<long long> shift;  // total growth of the replaced sections up to each one
  long long total = 0;
  for (const auto& r : replaced) {
    total += static_cast<long long>(r.text.size()) - static_cast<long long>(r.end - r.begin);
    ends.push_back(r.end);
    shift.push_back(total);
  }
  // Values rewritten at their old length (the usual save of settings) move nothing.
  if (std::all_of(replaced.begin(), replaced.end(),
                  [](const Section& r) { return r.text.size() == r.end - r.begin; }))
    return;
  std::vector<const RegKey*> todo{&root};
  while (!todo.empty()) {
    const RegKey* k = todo.back();
    todo.pop_back();
    for (const auto& sub : k->subkeys) todo.push_back(&sub);
    if (k->sectionEnd == 0) continue;
    // Sections that end at or before this one begins.
    size_t before =
        static_cast<size_t>(std::upper_bound(ends.begin(), ends.end(), k->sectionBegin) - ends.begin());
    const long long by = before ? shift[before - 1] : 0;
    auto own = std::lower_bound(replaced.begin(), replaced.end(), k->sectionBegin,
                                [](const Section& s, size_t b) { return s.begin < b; });
    const size_t begin = static_cast<size_t>(static_cast<long long>(k->sectionBegin) + by);
    if (own != replaced.end() && own->begin == k->sectionBegin) {
      k->sectionBegin = begin;
      k->sectionEnd = begin + own->text.size();
    } else {
      k->sectionBegin = begin;
      k->sectionEnd = static_cast<size_t>(static_cast<long long>(k->sectionEnd) + by);
    }
  }
}

// True when the file holds each section's new text already.
bool SectionsAsInFile(int fd, const std::vector<Section>& splice) {
  std::string was;
  for (const auto& sec : splice) {
    const size_t n = sec.end - sec.begin;
    if (n != sec.text.size()) return false;
    was.resize(n);
    size_t got = 0;
    while (got < n) {
      const ssize_t r = pread(fd, was.data() + got, n - got, static_cast<off_t>(sec.begin + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    if (was != sec.text) return false;
  }
  return true;
}

// Replaces the hive file by the new one: the old file (fd `hfd`, as this process read it
// when `reused`, else as `text`) with the sections spliced in, or `out` whole. Written,
// synced and renamed into place; ERROR_SUCCESS or the error.
LONG WriteReplacement(const std::string& path, int hive, int hfd, size_t oldSize, bool reused, bool spliced,
                      const std::vector<Section>& splice, const std::string& text, const std::string& out) {
  // A new HKEY_CURRENT_USER hive is the user's alone; a rewritten one keeps its bits.
  TKorvaneReplacement replacement(path, hive == kHkcu ? KORVANE_REPLACE_PRIVATE : 0);
  bool ok = replacement.Create();
  if (spliced && reused) {
    // The unchanged stretches straight from the file, which is as this process read it.
    const int tfd = FileDescriptor(replacement.Handle());
    auto copy = [&](size_t from, size_t to) {
      if (CopyRange(hfd, static_cast<off_t>(from), to - from, tfd)) return true;
      SetLastError(ErrnoToWinError(errno));
      return false;
    };
    size_t at = 0;
    for (const auto& sec : splice) {
      ok = ok && copy(at, sec.begin) && replacement.Write(sec.text.data(), sec.text.size());
      at = sec.end;
    }
    ok = ok && copy(at, oldSize);
  } else if (spliced) {
    size_t at = 0;
    for (const auto& sec : splice) {
      ok = ok && replacement.Write(text.data() + at, sec.begin - at) &&
           replacement.Write(sec.text.data(), sec.text.size());
      at = sec.end;
    }
    ok = ok && replacement.Write(text.data() + at, text.size() - at);
  } else {
    ok = ok && replacement.Write(out.data(), out.size());
  }
  if (ok && replacement.Commit()) return ERROR_SUCCESS;
  const LONG error = static_cast<LONG>(GetLastError());
  return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
}

// Writes the hive's pending changes (and a change of its keys, when given) in one
// rewrite. Without a structural change and with nothing pending, writes nothing.
LONG FlushHive(int hive, const Change* structural = nullptr) {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!structural && g_pending[hive].empty()) return ERROR_SUCCESS;
  }
  LONG w = CheckWritable(hive);
  if (w != ERROR_SUCCESS) return w;
  std::lock_guard<std::mutex> inProcess(g_writeMu[hive]);
  std::vector<PendingOp> ops;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    ops = g_pending[hive];
    g_inFlight[hive] = ops.size();
  }
  struct InFlight {
    int hive;
    ~InFlight() {
      std::lock_guard<std::mutex> lock(g_mu);
      g_inFlight[hive] = 0;
    }
  } inFlight{hive};
  if (!structural && ops.empty()) return ERROR_SUCCESS;  // written by another thread meanwhile
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

  // Another process may have written since our last read: start from the file itself,
  // read only when it is not as this process holds it already.
  std::string text;
  Stamp old;
  const int hfd = OpenStamped(path, old);
  if (hfd < 0 && errno != ENOENT) return ErrnoToError(errno);
  struct CloseOld {
    int fd;
    ~CloseOld() {
      if (fd >= 0) close(fd);
    }
    // Once the file is replaced this descriptor is the old file's last reference, and
    // dropping it frees the file's pages and blocks: about 5 ms for a hive of 12 MiB,
    // as long as writing it. A short-lived thread does that off the caller's time (at
    // exit the kernel does it).
    void Retire() {
      if (fd < 0) return;
      try {
        std::thread([old = fd] { close(old); }).detach();
        fd = -1;
      } catch (const std::system_error&) {
        // No thread: the destructor closes it here.
      }
    }
  } closeOld{hfd};
  const size_t oldSize = hfd >= 0 ? static_cast<size_t>(old.size) : 0;

  // The keys whose values changed, once each.
  std::vector<const std::vector<std::string>*> touched;
  for (const auto& op : ops) {
    bool seen = false;
    for (const auto* t : touched) seen = seen || SamePath(*t, op.path);
    if (!seen) touched.push_back(&op.path);
  }

  // The file as we hold it already (with our changes applied): only the touched sections
  // are written anew.
  std::shared_ptr<RegKey> reused;
  std::shared_ptr<RegKey> fresh;
  HiveFormat format;
  std::vector<Section> splice;
  bool spliced = false;
  size_t lost = 0;
  std::string out;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    HiveCache& c = g_cache[hive];
    if (!structural && old.exists && c.valid && c.file && c.path == path && c.stamp == old) {
      reused = c.file;
      format = c.format;
      spliced = SpliceSections(*reused, touched, format, oldSize, splice);
      if (!spliced) out = SerializeHive(*reused, kRootName[hive], format, true);
    }
  }
  if (!reused && hfd >= 0) {
    const int e = ReadAll(hfd, old.size, text);
    if (e != 0) return ErrnoToError(e);
  }
  if (!reused) {
    fresh = std::make_shared<RegKey>();
    fresh->name = kRootName[hive];
    fresh->listed = false;
    if (old.exists) {
      std::string err;
      if (!ParseHive(text, kRootName[hive], path, *fresh, &err, &format)) {
        ReportError(err + " (the hive is left unchanged)");
        SetFault(ERROR_BADDB, err);
        return ERROR_BADDB;
      }
    }
    // A change of a key another writer deleted meanwhile is lost, as on Windows.
    lost = ApplyOps(*fresh, ops.begin(), ops.end());
    bool changed = ops.size() > lost;
    if (structural) {
      bool keysChanged = false;
      LONG r = (*structural)(*fresh, keysChanged);
      if (r != ERROR_SUCCESS) return r;
      changed = changed || keysChanged;
      if (keysChanged) touched.clear();  // no splice: keys come and go
    }
    if (!changed) {
      if (!lost) return ERROR_SUCCESS;
      std::lock_guard<std::mutex> lock(g_mu);
      auto& pending = g_pending[hive];
      pending.erase(pending.begin(),
                    pending.begin() + static_cast<std::ptrdiff_t>(std::min(ops.size(), pending.size())));
      g_cache[hive].valid = false;  // shows the file as it is again
      return ERROR_KEY_DELETED;
    }
    spliced = !touched.empty() && SpliceSections(*fresh, touched, format, text.size(), splice);
    if (!spliced) out = SerializeHive(*fresh, kRootName[hive], format, true);
  }

  // Changes that leave every byte as it is (values set to what they hold, as every start
  // saves the settings it loaded) write nothing: no rewrite, no sync.
  bool same = false;
  if (spliced && reused)
    same = SectionsAsInFile(hfd, splice);
  else if (spliced)
    same = std::all_of(splice.begin(), splice.end(), [&](const Section& sec) {
      return std::string_view(text).substr(sec.begin, sec.end - sec.begin) == sec.text;
    });
  else if (!reused)
    same = old.exists && out == text;
  if (!same) {
    const LONG error =
        WriteReplacement(path, hive, hfd, oldSize, reused != nullptr, spliced, splice, text, out);
    if (error != ERROR_SUCCESS) {
      // The sections noted for the file not written no longer tell where they lie.
      std::lock_guard<std::mutex> lock(g_mu);
      if (reused && !spliced && g_cache[hive].file == reused) g_cache[hive].valid = false;
      return error;
    }
    closeOld.Retire();
  }

  struct stat st;
  std::lock_guard<std::mutex> lock(g_mu);
  // The changes written are done with; later ones (made while this wrote) stay pending.
  auto& pending = g_pending[hive];
  pending.erase(pending.begin(),
                pending.begin() + static_cast<std::ptrdiff_t>(std::min(ops.size(), pending.size())));
  HiveCache& c = g_cache[hive];
  if (!same && stat(path.c_str(), &st) != 0) {
    c.valid = false;
    return ERROR_SUCCESS;
  }
  const Stamp now = same ? old : StampOf(st);
  RegKey& written = reused ? *reused : *fresh;
  if (spliced) MoveSections(written, splice);
  const LONG result = lost ? ERROR_KEY_DELETED : ERROR_SUCCESS;
  if (reused) {
    // Unless a reader has reloaded the new file already.
    if (c.file == reused) c.stamp = now;
    return result;
  }
  if (c.valid && c.file && c.path == path && c.stamp == now) return result;
  ApplyOps(*fresh, pending.begin(), pending.end());
  c.valid = true;
  c.path = path;
  c.stamp = now;
  c.file = fresh;
  c.format = format;
  c.view.reset();
  c.lastError.clear();
  return result;
}

LONG Modify(int hive, const Change& change) { return FlushHive(hive, &change); }

// Makes the key exist in the hive's file (written at once, as a new key is on Windows).
LONG CreateInFile(int hive, const std::vector<std::string>& path) {
  return Modify(hive, [&](RegKey& root, bool& changed) {
    if (!root.Walk(path)) {
      root.WalkOrAdd(path);
      changed = true;
    }
    return static_cast<LONG>(ERROR_SUCCESS);
  });
}

// Keeps a value change for the next flush and shows it to this process's readers now.
void AddPending(int hive, PendingOp op);

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
  if (!IsTextType(v.Type())) return v.Data().ToVector();
  std::string a = WideToAnsi(BytesToUtf16(v.Data()));
  return std::vector<uint8_t>(a.begin(), a.end());
}

// Windows' size protocol of RegQueryValueExA/RegEnumValueA.
LONG CopyData(const RegValue& v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> d = AnsiData(v);
  if (lpType) *lpType = v.Type();
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

LONG CopyName(std::string_view utf8, LPSTR out, LPDWORD cch) {
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

void FlushAtExit() { FlushRegistry(); }

void AddPending(int hive, PendingOp op) {
  // Values set and not flushed when the program ends are written as it exits.
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(FlushAtExit); });
  std::lock_guard<std::mutex> lock(g_mu);
  HiveCache& c = g_cache[hive];
  if (c.file) {
    ApplyOp(*c.file, op);
    c.view.reset();
  }
  auto& pending = g_pending[hive];
  // A value set again through the same handle replaces its unwritten data (unless a
  // flush is writing that change now); the last few changes are looked at, which keeps a
  // value set over and over from piling up.
  const size_t floor = std::max(std::min(g_inFlight[hive], pending.size()),
                                pending.size() - std::min<size_t>(pending.size(), 16));
  for (size_t i = pending.size(); i > floor; --i) {
    PendingOp& earlier = pending[i - 1];
    if (!NameEquals(earlier.name, op.name) || !SamePath(earlier.path, op.path)) continue;
    if (!earlier.remove && !op.remove && earlier.owner == op.owner) {
      earlier.type = op.type;
      earlier.data = std::move(op.data);
      return;
    }
    break;
  }
  pending.push_back(std::move(op));
}

}  // namespace

void FlushRegistry() {
  for (int hive = 0; hive < kHiveCount; ++hive) FlushHive(hive);
}

void ResetRegistry() {
  std::lock_guard<std::mutex> lock(g_mu);
  for (auto& c : g_cache) c = HiveCache{};
  for (auto& p : g_pending) p.clear();
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

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             PHKEY phkResult) {
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
    r = CreateInFile(hive, path);
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

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<const RegKey> view;
  const RegKey* key = nullptr;
  LONG r = KeyOf(hKey, KEY_QUERY_VALUE, view, key);
  if (r != ERROR_SUCCESS) return r;
  const std::string name = ValueName(lpValueName);
  std::lock_guard<std::mutex> lock(g_mu);  // values change in place
  const RegValue* v = key->FindValue(name);
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
    std::u16string w = AnsiToWide(std::string_view(
        reinterpret_cast<const char*>(lpData ? lpData : reinterpret_cast<const BYTE*>("")), cbData));
    // Text without its NUL is stored with one, so readers always find it terminated.
    if (dwType != REG_MULTI_SZ && (w.empty() || w.back() != 0)) w.push_back(0);
    data = Utf16Bytes(w, false);
  } else if (cbData) {
    data.assign(lpData, lpData + cbData);
  }
  LONG r = CheckWritable(hive);
  if (r != ERROR_SUCCESS) return r;
  std::shared_ptr<const RegKey> view;
  r = LoadView(hive, view);
  if (r != ERROR_SUCCESS) return r;
  if (!view->Walk(path)) return ERROR_KEY_DELETED;
  // A key that exists only in the host's synthesised view is created in the file first.
  bool inFile;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    inFile = g_cache[hive].file && g_cache[hive].file->Walk(path);
  }
  if (!inFile) {
    r = CreateInFile(hive, path);
    if (r != ERROR_SUCCESS) return r;
  }
  const bool predefined = PredefinedHive(hKey) >= 0;
  AddPending(hive, PendingOp{predefined ? nullptr : reinterpret_cast<const KeyObj*>(hKey), path, name, false,
                             dwType, std::move(data)});
  // A predefined root is never closed: what is set through it is written at once.
  if (predefined) r = FlushHive(hive);
  if (r == ERROR_SUCCESS && hive == kHkcu)
    MirrorRunValue(path, name, IsTextType(dwType), lpData ? lpData : reinterpret_cast<const BYTE*>(""),
                   cbData);
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
  bool present;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    present = k->FindValue(name) != nullptr;
  }
  if (present) {
    r = CheckWritable(hive);
    if (r != ERROR_SUCCESS) return r;
    const bool predefined = PredefinedHive(hKey) >= 0;
    AddPending(
        hive,
        PendingOp{predefined ? nullptr : reinterpret_cast<const KeyObj*>(hKey), path, name, true, 0, {}});
    if (predefined) r = FlushHive(hive);
  } else {
    r = ERROR_FILE_NOT_FOUND;
  }
  // An autostart entry left without its value (the hive was replaced) goes too.
  if ((r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) && hive == kHkcu)
    MirrorRunValue(path, name, false, nullptr, 0);
  return r;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (PredefinedHive(hKey) >= 0) return ERROR_SUCCESS;
  KeyObj* obj = reinterpret_cast<KeyObj*>(hKey);
  bool changedThrough = false;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!g_keys.erase(obj)) return ERROR_INVALID_HANDLE;
    for (const auto& op : g_pending[obj->hive]) changedThrough = changedThrough || op.owner == obj;
  }
  // The changes made through the handle are durable once it is closed.
  LONG r = changedThrough ? FlushHive(obj->hive) : ERROR_SUCCESS;
  {
    // Those a failed write left pending belong to no handle now.
    std::lock_guard<std::mutex> lock(g_mu);
    for (auto& op : g_pending[obj->hive])
      if (op.owner == obj) op.owner = nullptr;
  }
  delete obj;
  return r;
}

LSTATUS WINAPI RegFlushKey(HKEY hKey) {
  int hive;
  std::vector<std::string> path;
  REGSAM access;
  if (!ResolveHandle(hKey, hive, path, access)) return ERROR_INVALID_HANDLE;
  return FlushHive(hive);
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
  std::lock_guard<std::mutex> lock(g_mu);  // values change in place
  if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& v = key->values[dwIndex];
  r = CopyName(v.Name(), lpValueName, lpcchValueName);
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
