#include "download/uDownFile.h"

#include "net/uHttpClient.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <ostream>
#include <random>
#include <string_view>

namespace {

// The folder separators of the platform's paths (Windows takes both, and its
// GetTempPathA gives backslashes).
#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
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
                                          (static_cast<uint64_t>(GetCurrentProcessId()) << 32)};
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

// A FILETIME (100 ns steps since 1601) as seconds since 1970.
long long UnixSeconds(const FILETIME& t) {
  const unsigned long long v = (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<long long>(v / 10000000ull) - 11644473600ll;
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
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "/*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  const long long now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  constexpr DWORD kNotPlain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
  int removed = 0;
  do {
    if (!IsTransferScratchName(entry.cFileName) || (entry.dwFileAttributes & kNotPlain)) continue;
    if (now - UnixSeconds(entry.ftLastWriteTime) <= maxAgeSeconds) continue;  // a transfer that may still run
    if (DeleteFileA((folder + "/" + entry.cFileName).c_str())) ++removed;
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return removed;
}

bool ProbeWritable(const std::string& path) {
  if (path.empty() || std::string_view(kSeparators).find(path.back()) != std::string_view::npos) return false;
  if (BaseOf(path).size() > kMaxFileNameBytes) return false;  // no folder can hold that name
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const std::string folder = FolderOf(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string probe = folder + "/" + kProbePrefix + RandomSuffix() + kProbeSuffix;
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, "0", 1, &written, nullptr) && written == 1;
    ok = CloseHandle(file) && ok;
    ok = DeleteFileA(probe.c_str()) && ok;
    return ok;
  }
  return false;
}

TSafeFileWriter::TSafeFileWriter(std::string destination, TFileKind kind, std::size_t bufferSize)
    : FDest(std::move(destination)),
      FFile(FDest, kind == TFileKind::Program ? KORVANE_REPLACE_PRIVATE | KORVANE_REPLACE_EXECUTABLE
                                              : KORVANE_REPLACE_DATA),
      FBuffer(bufferSize ? bufferSize : 1) {}

TSafeFileWriter::~TSafeFileWriter() { Discard(); }

bool TSafeFileWriter::Open() {
  Discard();
  FFailed = false;
  FWritten = 0;
  RemoveStaleTransferFiles(FolderOf(FDest));
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (FFile.Create(PartFilePath(FDest, RandomSuffix()))) {
      setp(FBuffer.data(), FBuffer.data() + FBuffer.size());
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  FFailed = true;
  return false;
}

bool TSafeFileWriter::WriteAll(const char* data, std::size_t n) {
  if (!FFile.Write(data, n)) {
    FFailed = true;
    return false;
  }
  return true;
}

bool TSafeFileWriter::FlushBuffer() {
  if (!IsOpen() || FFailed) return false;
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
  if (!IsOpen() || FFailed) return 0;
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
  if (!IsOpen()) return false;
  const bool ok = FlushBuffer() && !FFailed && FFile.Commit();
  FFile.Discard();  // nothing is left of a failed commit either
  setp(nullptr, nullptr);
  if (!ok) FFailed = true;
  return ok;
}

void TSafeFileWriter::Discard() {
  FFile.Discard();
  setp(nullptr, nullptr);
}

bool GetIntoFile(THttpClient& http, THttpClient*& active, const std::string& url,
                 const std::string& destination, TFileKind kind, const std::function<bool()>& keep) {
  TSafeFileWriter file(destination, kind);
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
