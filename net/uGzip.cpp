#include "net/uGzip.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void PutLe32(unsigned char* p, uLong v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

int Strategy(TCompressionType type) {
  switch (type) {
    case TCompressionType::Filtered: return Z_FILTERED;
    case TCompressionType::HuffmanOnly: return Z_HUFFMAN_ONLY;
    case TCompressionType::Standard: break;
  }
  return Z_DEFAULT_STRATEGY;
}

}  // namespace

namespace {

void ShowOpenError(const TGzip& gz, const std::string& path) {
  if (!gz.WindowOnError) return;
  const std::string text = "Can't open: " + path;
  if (gz.OnError)
    gz.OnError(text);
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

std::string GzipResultText(TGzipResult result, const std::string& source,
                           const std::string& destination) {
  switch (result) {
    case TGzipResult::Ok: return std::string();
    case TGzipResult::CantOpenSource: return "Can't open: " + source + ".";
    case TGzipResult::CantCreateDestination: return "Can't open: " + destination + ".";
    case TGzipResult::ReadError: return "Reading " + source + " failed (code 101).";
    case TGzipResult::CompressError: return "Writing " + destination + " failed (code 102).";
    case TGzipResult::FinishError: return "Finishing " + destination + " failed (code 103).";
  }
  return "Packing failed (code " + std::to_string(static_cast<int>(result)) + ").";
}

TGzipResult TGzip::Execute() {
  FilePtr src(std::fopen(FileSource.c_str(), "rb"));
  if (!src) {
    ShowOpenError(*this, FileSource);
    return TGzipResult::CantOpenSource;
  }
  FilePtr dst(std::fopen(FileDestination.c_str(), "wb"));
  if (!dst) {
    ShowOpenError(*this, FileDestination);
    return TGzipResult::CantCreateDestination;
  }
  // Our own buffers are the only ones: stdio would only copy them again.
  std::setvbuf(src.get(), nullptr, _IONBF, 0);
  std::setvbuf(dst.get(), nullptr, _IONBF, 0);

  const bool withName = GzipHeader.count(TGzipHeaderItem::filename) != 0;
  const bool withComment = GzipHeader.count(TGzipHeaderItem::comment) != 0;
  std::string header;
  header += '\x1F';
  header += '\x8B';
  header += '\x08';
  header += static_cast<char>((withName ? 8 : 0) | (withComment ? 16 : 0));
  header.append(6, '\0');  // mtime 0, extra flags 0, OS 0
  if (withName) {
    header += BaseName(FileSource);
    header += '\0';
  }
  if (withComment) {
    header += Comments;
    header += '\0';
  }

  TGzipResult result = TGzipResult::Ok;
  if (std::fwrite(header.data(), 1, header.size(), dst.get()) != header.size()) result = TGzipResult::CompressError;

  z_stream zs{};
  int level = CompressionLevel;
  if (level < Z_DEFAULT_COMPRESSION || level > Z_BEST_COMPRESSION) level = Z_DEFAULT_COMPRESSION;
  bool zInit = false;
  if (result == TGzipResult::Ok) {
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Strategy(CompressionType)) == Z_OK)
      zInit = true;
    else
      result = TGzipResult::CompressError;
  }

  std::vector<unsigned char> in(kBufferSize), out(kBufferSize);
  uLong crc = crc32(0L, Z_NULL, 0);
  uLong length = 0;

  auto drain = [&](int flush) -> int {
    // Returns the last deflate code; output goes out in full buffers.
    int rc;
    do {
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      rc = deflate(&zs, flush);
      if (rc == Z_STREAM_ERROR) return rc;
      const std::size_t have = out.size() - zs.avail_out;
      if (have && std::fwrite(out.data(), 1, have, dst.get()) != have) return Z_ERRNO;
    } while (zs.avail_out == 0 && rc != Z_STREAM_END);
    return rc;
  };

  if (result == TGzipResult::Ok) {
    for (;;) {
      const std::size_t got = std::fread(in.data(), 1, in.size(), src.get());
      if (got < in.size() && std::ferror(src.get())) {
        result = TGzipResult::ReadError;
        break;
      }
      if (got == 0) break;
      crc = crc32(crc, in.data(), static_cast<uInt>(got));
      length += static_cast<uLong>(got);
      zs.next_in = in.data();
      zs.avail_in = static_cast<uInt>(got);
      const int rc = drain(Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_BUF_ERROR) {
        result = TGzipResult::CompressError;
        break;
      }
    }
  }

  if (zInit) {
    // Finishing always runs, so a half-written stream is still closed off;
    // a failure here is the one reported.
    zs.next_in = nullptr;
    zs.avail_in = 0;
    if (drain(Z_FINISH) != Z_STREAM_END) result = TGzipResult::FinishError;
    deflateEnd(&zs);
  }

  if (result == TGzipResult::Ok) {
    unsigned char trailer[8];
    PutLe32(trailer, crc);
    PutLe32(trailer + 4, length & 0xFFFFFFFFUL);
    if (std::fwrite(trailer, 1, sizeof trailer, dst.get()) != sizeof trailer) result = TGzipResult::CompressError;
  }
  src.reset();
  if (std::fclose(dst.release()) != 0 && result == TGzipResult::Ok) result = TGzipResult::CompressError;

  if (result == TGzipResult::Ok && DeleteSource) std::remove(FileSource.c_str());
  // A cut-off packed file must not be taken for the report.
  // Only a regular file is ours to remove (never a device such as /dev/null).
  struct stat st {};
  if (result != TGzipResult::Ok && ::stat(FileDestination.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    std::remove(FileDestination.c_str());
  return result;
}
