// Packs one file into one gzip file (RFC 1952) with zlib's raw deflate.
#pragma once

#include <functional>
#include <set>
#include <string>

enum class TCompressionType { Standard, Filtered, HuffmanOnly };
enum class TGzipHeaderItem { filename, comment };
using TGzipHeader = std::set<TGzipHeaderItem>;

// Shows "Can't open: <path>" to the user (an error box with one Abort button).
using TGzipErrorHook = std::function<void(const std::string& text)>;

// The process-wide hook used when a TGzip has none of its own; empty means stderr.
void SetDefaultGzipErrorHook(TGzipErrorHook hook);

class TGzip {
 public:
  // Result codes of Execute.
  static constexpr int kOk = 0;
  static constexpr int kCantOpenSource = 1;
  static constexpr int kCantCreateDestination = 2;
  static constexpr int kReadError = 101;
  static constexpr int kCompressError = 102;
  static constexpr int kFinishError = 103;
  static constexpr std::size_t kBufferSize = 16384;

  std::string FileSource = "data.dat";
  std::string FileDestination = "data.dat.gz";
  int CompressionLevel = 6;
  TCompressionType CompressionType = TCompressionType::Standard;
  bool DeleteSource = false;
  TGzipHeader GzipHeader{TGzipHeaderItem::filename};
  std::string Comments = "Packed by Korvane";
  bool WindowOnError = true;
  TGzipErrorHook OnError;  // overrides the default hook for this packer

  int Execute();
};
