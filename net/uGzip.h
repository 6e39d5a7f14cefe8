// Packs one file into one gzip file (RFC 1952) with zlib's raw deflate.
#pragma once

#include <functional>
#include <set>
#include <string>

enum class TCompressionType { Standard, Filtered, HuffmanOnly };
enum class TGzipHeaderItem { filename, comment };
using TGzipHeader = std::set<TGzipHeaderItem>;

// Shows "Can't open: <path>" to the user (an error box with one Abort button);
// the packer's caller decides how.
using TGzipErrorNotice = std::function<void(const std::string& text)>;

// Result codes of TGzip::Execute; the numbers are the packer's documented codes.
enum class TGzipResult : int {
  Ok = 0,
  CantOpenSource = 1,
  CantCreateDestination = 2,
  ReadError = 101,
  CompressError = 102,
  FinishError = 103,  // finishing the stream failed; wins over the others
};

// A sentence for a failed result, naming the file concerned ("Can't open: <path>.").
std::string GzipResultText(TGzipResult result, const std::string& source,
                           const std::string& destination);

class TGzip {
 public:
  static constexpr std::size_t kBufferSize = 16384;

  std::string FileSource = "data.dat";
  std::string FileDestination = "data.dat.gz";
  int CompressionLevel = 6;
  TCompressionType CompressionType = TCompressionType::Standard;
  bool DeleteSource = false;
  TGzipHeader GzipHeader{TGzipHeaderItem::filename};
  std::string Comments = "Packed by Korvane";
  bool WindowOnError = true;
  TGzipErrorNotice OnError;  // shows the box; without one the text goes to stderr

  TGzipResult Execute();
};
