#include "download/uDownFile.h"

#include "net/uHttpClient.h"

#include <cerrno>
#include <functional>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <ostream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr std::size_t kRandomLength = 10;
constexpr const char* kRandomDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr const char* kPartMark = ".kv";
constexpr const char* kPartSuffix = ".part";
constexpr const char* kProbePrefix = ".kvprobe-";
constexpr const char* kProbeSuffix = ".tmp";

std::string RandomSuffix() {
  static thread_local std::mt19937_64 gen{std::random_device{}() ^
                                          (static_cast<uint64_t>(::getpid()) << 32)};
  std::string s;
  for (std::size_t i = 0; i < kRandomLength; ++i) s += kRandomDigits[gen() % 36];
  return s;
}

bool IsRandomPart(const std::string& s) {
  if (s.size() != kRandomLength) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
  return true;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Creates the path make(random) gives exclusively; the descriptor, or -1.
int CreateUnique(const std::function<std::string(const std::string&)>& make, mode_t mode, std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = make(RandomSuffix());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

std::string PartFilePath(const std::string& destination, const std::string& random) {
  std::string name = BaseOf(destination);
  const std::size_t fixed = 1 + std::string(kPartMark).size() + random.size() + std::string(kPartSuffix).size();
  if (name.size() + fixed > kMaxFileNameBytes) {
    std::size_t keep = kMaxFileNameBytes > fixed ? kMaxFileNameBytes - fixed : 0;
    // Never end inside a multi-byte character: continuation bytes are 10xxxxxx.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    name.resize(keep);
  }
  return FolderOf(destination) + "/." + name + kPartMark + random + kPartSuffix;
}

bool IsTransferScratchName(const std::string& name) {
  const std::string probePrefix = kProbePrefix, probeSuffix = kProbeSuffix;
  if (name.size() == probePrefix.size() + kRandomLength + probeSuffix.size() &&
      name.compare(0, probePrefix.size(), probePrefix) == 0 && EndsWith(name, probeSuffix))
    return IsRandomPart(name.substr(probePrefix.size(), kRandomLength));
  const std::string mark = kPartMark, suffix = kPartSuffix;
  const std::size_t tail = mark.size() + kRandomLength + suffix.size();
  if (name.size() < 1 + tail || name[0] != '.' || !EndsWith(name, suffix)) return false;
  const std::size_t markAt = name.size() - tail;
  return name.compare(markAt, mark.size(), mark) == 0 &&
         IsRandomPart(name.substr(markAt + mark.size(), kRandomLength));
}

int RemoveStaleTransferFiles(const std::string& folder, long maxAgeSeconds) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  const std::time_t now = std::time(nullptr);
  int removed = 0;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (!IsTransferScratchName(name)) continue;
    const std::string path = folder + "/" + name;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (now - st.st_mtime <= maxAgeSeconds) continue;  // a transfer that may still be running
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

bool ProbeWritable(const std::string& path) {
  if (path.empty() || path.back() == '/') return false;
  if (BaseOf(path).size() > kMaxFileNameBytes) return false;  // no folder can hold that name
  struct stat st{};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  std::string probe;
  const std::string folder = FolderOf(path);
  const int fd = CreateUnique([&](const std::string& r) { return folder + "/" + kProbePrefix + r + kProbeSuffix; },
                              0600, probe);
  if (fd < 0) return false;
  bool ok = ::write(fd, "0", 1) == 1;
  ok = (::close(fd) == 0) && ok;
  ok = (::unlink(probe.c_str()) == 0) && ok;
  return ok;
}

TSafeFileWriter::TSafeFileWriter(std::string destination, mode_t mode, std::size_t bufferSize)
    : FDest(std::move(destination)), FMode(mode), FBuffer(bufferSize ? bufferSize : 1) {}

TSafeFileWriter::~TSafeFileWriter() { Discard(); }

bool TSafeFileWriter::Open() {
  Discard();
  FFailed = false;
  FWritten = 0;
  FOnDisk = 0;
  FWritebackFrom = 0;
  RemoveStaleTransferFiles(FolderOf(FDest));
  FFd = CreateUnique([this](const std::string& r) { return PartFilePath(FDest, r); }, FMode, FTemp);
  if (FFd < 0) {
    FTemp.clear();
    FFailed = true;
    return false;
  }
  setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
  return true;
}

bool TSafeFileWriter::WriteAll(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(FFd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      FFailed = true;
      return false;
    }
    data += w;
    n -= static_cast<std::size_t>(w);
    FOnDisk += w;
  }
#ifdef __linux__
  // Start the disk writes as the body arrives, so the sync at the end has
  // little left to do; the call only queues the pages and does not wait.
  constexpr long long kWritebackStep = 8 << 20;
  if (FOnDisk - FWritebackFrom >= kWritebackStep) {
    ::sync_file_range(FFd, FWritebackFrom, FOnDisk - FWritebackFrom, SYNC_FILE_RANGE_WRITE);
    FWritebackFrom = FOnDisk;
  }
#endif
  return true;
}

bool TSafeFileWriter::FlushBuffer() {
  if (FFd < 0 || FFailed) return false;
  const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
  const bool ok = WriteAll(pbase(), n);
  setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
  return ok;
}

TSafeFileWriter::int_type TSafeFileWriter::overflow(int_type ch) {
  if (!FlushBuffer()) return traits_type::eof();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    ++FWritten;
  }
  return traits_type::not_eof(ch);
}

std::streamsize TSafeFileWriter::xsputn(const char* s, std::streamsize n) {
  if (FFd < 0 || FFailed) return 0;
  const std::size_t room = static_cast<std::size_t>(epptr() - pptr());
  const std::size_t count = static_cast<std::size_t>(n);
  if (count <= room) {
    traits_type::copy(pptr(), s, count);
    pbump(static_cast<int>(count));
  } else {
    // Large pieces go straight to the file after what is buffered.
    if (!FlushBuffer() || !WriteAll(s, count)) return 0;
  }
  FWritten += n;
  return n;
}

int TSafeFileWriter::sync() { return FlushBuffer() ? 0 : -1; }

bool TSafeFileWriter::Commit() {
  if (FFd < 0) return false;
  bool ok = FlushBuffer() && !FFailed;
  // A file being replaced keeps its permission bits (a 0600 file stays
  // private); execute bits the caller asks for (an installer) are added.
  struct stat old{};
  if (ok && ::stat(FDest.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    ok = ::fchmod(FFd, (old.st_mode & 07777) | (FMode & 0111)) == 0;
  ok = ok && ::fsync(FFd) == 0;
  ok = (::close(FFd) == 0) && ok;
  FFd = -1;
  ok = ok && ::rename(FTemp.c_str(), FDest.c_str()) == 0;
  if (!ok) {
    ::unlink(FTemp.c_str());
    FTemp.clear();
    FFailed = true;
    return false;
  }
  FTemp.clear();
  // The new name is durable once the folder's entry is on disk too.
  const int dir = ::open(FolderOf(FDest).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void TSafeFileWriter::Discard() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
  if (!FTemp.empty()) {
    ::unlink(FTemp.c_str());
    FTemp.clear();
  }
  setp(nullptr, nullptr);
}

bool GetIntoFile(THttpClient& http, THttpClient*& active, const std::string& url, const std::string& destination,
                 mode_t mode, const std::function<bool()>& keep) {
  TSafeFileWriter file(destination, mode);
  if (!file.Open()) return false;
  std::ostream out(&file);
  struct TActive {
    THttpClient*& Ref;
    ~TActive() { Ref = nullptr; }
  } clear{active};
  active = &http;
  http.GetToStream(url, out);
  out.flush();
  return out.good() && keep() && file.Commit();  // else the writer discards the part file
}
