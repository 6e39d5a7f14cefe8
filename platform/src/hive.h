// In-memory registry hive and its text form, regedit's export layout. A hive is read in
// any form regedit writes ("Windows Registry Editor Version 5.00" in UTF-16LE with a
// byte-order mark, or in UTF-8 with or without one; "REGEDIT4" in the code page) and
// written back in the form it was read in, so regedit can import it again. New hives are
// UTF-8, which reads well in an editor and in diffs. String data lives in memory as
// UTF-16LE bytes, as Windows keeps it.
#pragma once

#include <minwindef.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kvp {

// Windows' own limit on key nesting; a deeper hive file is malformed.
constexpr size_t kMaxKeyDepth = 512;

// Bytes held elsewhere: a value's data as it lies in the value.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // Implicit, so a vector passes where a view is asked for; the vector must outlive it.
  ByteView(const std::vector<uint8_t>& v) : data_(v.data()), size_(v.size()) {}
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint8_t operator[](size_t i) const { return data_[i]; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }
  std::vector<uint8_t> ToVector() const { return std::vector<uint8_t>(begin(), end()); }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A value: its name (UTF-8; empty is the default value "@"), type and data, all in one
// allocation behind one pointer. A large hive holds hundreds of thousands of short
// values, and a string and a vector each cost more than such a value's data.
class RegValue {
 public:
  RegValue() = default;
  RegValue(std::string_view name, DWORD type, ByteView data);
  RegValue(const RegValue& o) : RegValue(o.Name(), o.Type(), o.Data()) {}
  RegValue& operator=(const RegValue& o) {
    if (this != &o) *this = RegValue(o);
    return *this;
  }
  RegValue(RegValue&&) noexcept = default;
  RegValue& operator=(RegValue&&) noexcept = default;

  std::string_view Name() const;
  DWORD Type() const;
  ByteView Data() const;
  // New type and data under the same name.
  void Set(DWORD type, ByteView data) { *this = RegValue(Name(), type, data); }

 private:
  struct Layout {
    DWORD type = 0;
    const char* name = nullptr;
    size_t nameSize = 0;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
  };
  Layout Read() const;
  // The type, the name's size and the data's size as variable-length numbers, then the
  // name's bytes and the data's; null for an unnamed empty value of type 0.
  std::unique_ptr<uint8_t[]> block_;
};

// Folded name -> position, for keys with many entries (deep-copied with its key).
class NameIndex {
 public:
  NameIndex() = default;
  NameIndex(const NameIndex& o) : map_(o.map_ ? std::make_unique<Map>(*o.map_) : nullptr) {}
  NameIndex& operator=(const NameIndex& o) {
    if (this != &o) map_ = o.map_ ? std::make_unique<Map>(*o.map_) : nullptr;
    return *this;
  }
  NameIndex(NameIndex&&) noexcept = default;
  NameIndex& operator=(NameIndex&&) noexcept = default;

  bool Active() const { return map_ != nullptr; }
  void Clear() { map_.reset(); }
  template <typename Entries>
  void Build(const Entries& entries);
  void Add(std::string_view name, size_t pos);
  // Position of a name, or -1.
  long long Lookup(std::string_view name) const;

 private:
  using Map = std::unordered_map<std::string, size_t>;
  std::unique_ptr<Map> map_;
};

struct RegKey {
  std::string name;  // UTF-8, case preserved
  std::vector<RegValue> values;   // in creation order
  std::vector<RegKey> subkeys;    // sorted as Windows enumerates them (upper-cased names)
  // Where the key's one [section] lies in the hive file it was read from or written to
  // (bytes [sectionBegin, sectionEnd)), so a change of its values can rewrite that section
  // alone; sectionEnd == 0 when unknown (a new key, a key of several sections, a file not
  // in UTF-8). Bookkeeping of the writer, not part of the key's contents.
  mutable size_t sectionBegin = 0;
  mutable size_t sectionEnd = 0;
  // Written with its own [section]; false for a parent a file only implied (a regedit
  // export of a branch names none of the keys above it).
  bool listed = true;

  RegKey* Find(std::string_view child);
  const RegKey* Find(std::string_view child) const;
  RegKey& FindOrAdd(std::string_view child);
  bool Remove(std::string_view child);
  RegValue* FindValue(std::string_view value);
  const RegValue* FindValue(std::string_view value) const;
  void SetValue(std::string_view value, DWORD type, ByteView data);
  bool RemoveValue(std::string_view value);
  // Walks a path of components; nullptr when a component is missing.
  const RegKey* Walk(const std::vector<std::string>& path) const;
  RegKey* Walk(const std::vector<std::string>& path);
  RegKey& WalkOrAdd(const std::vector<std::string>& path);
  // Lays other over this key: keys are added, other's values win.
  void Merge(const RegKey& other);

  // Bulk building (a parse, a merge): children are appended in any order behind a
  // hash index, and SortTree puts every key of the tree back in Windows' order.
  RegKey& FindOrAppend(std::string_view child, bool* added = nullptr);
  void SortTree();

 private:
  void MergeUnsorted(const RegKey& other);
  size_t ValuePos(std::string_view value) const;  // values.size() when absent
  void IndexChildren();  // after the children were reordered
  // Beside listed, so the two flags share one word (a large hive holds a million keys).
  bool unsorted_ = false;  // children appended out of order since the last SortTree
  NameIndex valueIndex_;
  NameIndex keyIndex_;  // for children appended out of order
};

// Case-insensitive equality and order of key and value names (Windows upper-cases).
bool NameEquals(std::string_view a, std::string_view b);
int NameCompare(std::string_view a, std::string_view b);

// Splits "A\B\\C" into components, dropping empty ones.
std::vector<std::string> SplitKeyPath(std::string_view path);

// The form a hive file was read in; writing uses the same.
struct HiveFormat {
  enum Encoding { kUtf8, kUtf8Bom, kUtf16Le, kAnsi } encoding = kUtf8;
  bool regedit4 = false;  // "REGEDIT4": hex(2)/hex(7) data in the code page
  bool crlf = false;
};

// Parses hive file bytes whose sections all lie under rootName ("HKEY_LOCAL_MACHINE").
// On a fault returns false with "<fileName>:<line>: <reason>" in *error.
bool ParseHive(std::string_view bytes, std::string_view rootName, const std::string& fileName, RegKey& root,
               std::string* error, HiveFormat* format = nullptr);
// recordSections: every written key notes where its section lies in the result.
std::string SerializeHive(const RegKey& root, std::string_view rootName,
                          const HiveFormat& format = HiveFormat{}, bool recordSections = false);
// One key's section as SerializeHive writes it ("[<fullPath>]", its values, a blank line),
// in UTF-8; fullPath starts with the root's name.
std::string SerializeSection(const RegKey& key, std::string_view fullPath, const HiveFormat& format);

// Text data helpers: UTF-16LE bytes with the terminating NUL.
std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminate);
std::u16string BytesToUtf16(ByteView data);

}  // namespace kvp
