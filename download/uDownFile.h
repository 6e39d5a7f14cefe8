// Writing a downloaded file safely: the body goes to a uniquely named
// temporary file beside the destination, which replaces the destination only
// once it is complete and on disk. An unfinished transfer never touches an
// existing file at the destination.
#pragma once

#include <korvane_file.h>

#include <functional>
#include <streambuf>
#include <string>
#include <vector>

// The longest file name a folder entry can have, in bytes.
constexpr std::size_t kMaxFileNameBytes = 255;

// True when a new file can be created in the folder of path: a uniquely named
// probe file holding "0" is created exclusively there, closed and removed
// again. A file already at path is never opened. A path naming a folder is
// not a writable file, nor one whose name is longer than kMaxFileNameBytes.
bool ProbeWritable(const std::string& path);

// The temporary file of a transfer into destination, given its random part:
// "." + name + ".kv" + random + ".part" in the same folder, the name cut (at a
// character boundary) so that the whole entry stays within kMaxFileNameBytes.
std::string PartFilePath(const std::string& destination, const std::string& random);

// A transfer's temporary file not written for this long is a leftover of a
// killed program: a live transfer writes at least every read time-out (30 s)
// and a buffer of 256 KiB, and an hour leaves room for the slowest lines.
constexpr long kStalePartSeconds = 3600;

// True for names this engine gives its temporary and probe files.
bool IsTransferScratchName(const std::string& name);
// Removes from folder the temporary and probe files left by killed transfers:
// ours by name, plain files the user may write (not read-only, not another
// user's, not links or folders), unchanged for more than maxAgeSeconds.
// Anything else is left alone. Returns how many went.
int RemoveStaleTransferFiles(const std::string& folder, long maxAgeSeconds = kStalePartSeconds);

// What a download is: a document anyone may read (as a new file is made), or a
// program only the user may read and run (an installer).
enum class TFileKind { Document, Program };

class TSafeFileWriter : public std::streambuf {
 public:
  explicit TSafeFileWriter(std::string destination, TFileKind kind = TFileKind::Document,
                           std::size_t bufferSize = 256 * 1024);
  ~TSafeFileWriter() override;  // Discard() unless committed
  TSafeFileWriter(const TSafeFileWriter&) = delete;
  TSafeFileWriter& operator=(const TSafeFileWriter&) = delete;

  // Creates the temporary file (after removing stale ones of killed transfers
  // from the folder); false (the last error set) when it cannot be created.
  bool Open();
  // Flushes, syncs and moves over the destination (TKorvaneReplacement); false
  // and the temporary file removed when any step failed (a write error on the
  // way included). A file it replaces keeps its permission bits, except that a
  // document never keeps execute bits (a package saved over a program does not
  // become one) and a program stays runnable.
  bool Commit();
  // Removes the temporary file; the destination stays as it was.
  void Discard();

  bool Failed() const { return FFailed; }
  const std::string& TempPath() const { return FFile.TempPath(); }
  long long Written() const { return FWritten; }

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  bool FlushBuffer();
  bool WriteAll(const char* data, std::size_t n);

  bool IsOpen() const { return !FFile.TempPath().empty(); }

  std::string FDest;
  TKorvaneReplacement FFile;
  bool FFailed = false;
  long long FWritten = 0;
  std::vector<char> FBuffer;
};

class THttpClient;

// GETs url through http (its work events set by the caller) into a new file
// at destination, replacing it only when the whole body arrived and keep()
// still says yes. active points at http during the transfer so that a stop
// request can disconnect it from a work event. Network failures raise.
bool GetIntoFile(THttpClient& http, THttpClient*& active, const std::string& url,
                 const std::string& destination, TFileKind kind, const std::function<bool()>& keep);
