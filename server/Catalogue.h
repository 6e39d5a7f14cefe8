// The driver catalogue: which newer drivers the server offers, for which
// hardware or compatible IDs. File format (also in server/README.md):
//
//   # comment                         blank lines and '#' lines are ignored
//   ID | DATE | VERSION | VENDOR | PACKAGE
//   @package NAME SIZE                a generated package (SIZE bytes; K, M, G suffixes)
//   @errcode N                        every answer carries this error code ...
//   @errmsg TEXT                      ... and this message (tests)
//
// ID is a hardware or compatible ID as the platform reports it, compared
// without regard to ASCII case. DATE is the newer driver's date M-D-YYYY.
// PACKAGE is a file name under DATA/packages/ (served at /packages/NAME and
// generated when missing), an absolute http(s) URL handed out unchanged, or
// empty (the answer then carries an empty <url>). The file is UTF-8 (or
// 1252); answers are 1252 text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <list>
#include <memory>
#include <string_view>
#include <vector>

namespace updsrv {

// Fields are views into the catalogue's own text (shared by its copies), so
// a catalogue of a million entries costs little more than its file.
struct TCatalogueEntry {
  std::string_view Id;       // as written (1252)
  std::string_view Date;     // as written, "M-D-YYYY"
  int DateKey = 0;           // YYYYMMDD
  std::string_view Version;
  std::string_view Vendor;
  std::string_view Package;  // file name, absolute URL, or empty
  int Line = 0;
};

struct TPackageSpec {
  std::string Name;
  uint64_t Size = 0;
  bool Declared = false;  // from an @package line (size enforced)
};

// Size of a package the catalogue names without an @package line.
constexpr uint64_t kDefaultPackageSize = 300 * 1024;

class TCatalogue {
 public:
  // Parses catalogue text; lines that cannot be used are skipped, each with
  // one message in warnings ("line N: ...").
  static TCatalogue Parse(std::string text, std::vector<std::string>* warnings = nullptr);
  // Reads and parses a file; throws std::runtime_error when it cannot be read.
  static TCatalogue Load(const std::string& path, std::vector<std::string>* warnings = nullptr);

  // The entry that makes a device out of date, or nullptr. The device's IDs
  // are tried hardware IDs first, in their order, then compatible IDs; the
  // first ID the catalogue knows decides (its latest entry when it has
  // several). That entry is offered when its date is later than the
  // installed date, or when the installed date is empty or no date at all.
  const TCatalogueEntry* Match(const std::vector<std::string>& hardwareIds,
                               const std::vector<std::string>& compatibleIds,
                               const std::string& installedDate) const;

  const std::vector<TCatalogueEntry>& Entries() const { return entries_; }
  // Every package file to keep under DATA/packages: the @package lines and
  // every local package an entry names (default size), once each.
  std::vector<TPackageSpec> Packages() const;

  std::optional<int> ForcedErrCode;
  std::optional<std::string> ForcedErrMsg;

 private:
  const TCatalogueEntry* Find(std::string_view id) const;
  void Index(uint32_t entry);

  // What the entries' views point into: the file's text, and the 1252 form
  // of the lines that were not ASCII.
  struct TText {
    std::string File;
    std::list<std::string> Converted;
  };
  std::shared_ptr<const TText> text_;
  std::vector<TCatalogueEntry> entries_;
  std::vector<TPackageSpec> declared_;
  // Open addressing on the ASCII-lower-cased ID: entry number + 1 of the
  // latest entry for that ID, 0 for a free slot. Size a power of two.
  std::vector<uint32_t> slots_;
  size_t used_ = 0;
};

// A package file name the server will serve: letters, digits, '.', '_', '-',
// not starting with '.'.
bool IsSafePackageName(const std::string& name);
// "300K", "2M", "512M", "1G" or plain bytes.
std::optional<uint64_t> ParseSize(const std::string& text);

}  // namespace updsrv
