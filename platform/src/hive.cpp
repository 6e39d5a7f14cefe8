// Registry hive tree and its regedit text form.
#include "hive.h"

#include "internal.h"
#include "varint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kvp {

namespace {

constexpr size_t kIndexFrom = 16;  // entries a key holds before it keeps an index

// Windows compares key and value names upper-cased.
char16_t FoldChar(char16_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<char16_t>(c - 32);
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1) ? c : static_cast<char16_t>(c - 1);
  return c;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

std::u16string Fold(std::string_view s) {
  std::u16string w = Utf8ToWide(s, nullptr);
  for (auto& c : w) c = FoldChar(c);
  return w;
}

// The hash key of a name: equal exactly when NameEquals says so.
std::string FoldKey(std::string_view s) {
  if (IsAscii(s)) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(FoldChar(static_cast<unsigned char>(c)));
    return out;
  }
  return WideToUtf8(Fold(s));
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ValidUtf8(std::string_view s) {
  if (IsAscii(s)) return true;
  bool bad = false;
  Utf8ToWide(s, &bad);
  return !bad;
}

int NameOrder(const RegKey& a, std::string_view b) { return NameCompare(a.name, b); }

std::string_view EntryName(const RegKey& k) { return k.name; }
std::string_view EntryName(const RegValue& v) { return v.Name(); }

}  // namespace

template <typename Entries>
void NameIndex::Build(const Entries& entries) {
  map_ = std::make_unique<Map>();
  map_->reserve(entries.size() * 2);
  for (size_t i = 0; i < entries.size(); ++i) map_->emplace(FoldKey(EntryName(entries[i])), i);
}

void NameIndex::Add(std::string_view name, size_t pos) {
  if (map_) map_->emplace(FoldKey(name), pos);
}

long long NameIndex::Lookup(std::string_view name) const {
  if (!map_) return -1;
  auto it = map_->find(FoldKey(name));
  return it == map_->end() ? -1 : static_cast<long long>(it->second);
}

int NameCompare(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
      char16_t x = FoldChar(static_cast<unsigned char>(a[i])), y = FoldChar(static_cast<unsigned char>(b[i]));
      if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
  }
  std::u16string x = Fold(a), y = Fold(b);
  return x == y ? 0 : x < y ? -1 : 1;
}

bool NameEquals(std::string_view a, std::string_view b) { return NameCompare(a, b) == 0; }

RegKey* RegKey::Find(std::string_view child) {
  if (unsorted_) {
    if (keyIndex_.Active()) {
      long long pos = keyIndex_.Lookup(child);
      return pos < 0 ? nullptr : &subkeys[static_cast<size_t>(pos)];
    }
    for (auto& k : subkeys)
      if (NameEquals(k.name, child)) return &k;
    return nullptr;
  }
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), child,
                             [](const RegKey& k, std::string_view n) { return NameOrder(k, n) < 0; });
  return it != subkeys.end() && NameEquals(it->name, child) ? &*it : nullptr;
}

const RegKey* RegKey::Find(std::string_view child) const { return const_cast<RegKey*>(this)->Find(child); }

// Sorted children are found by a binary search; only children appended out of order
// need the hash index, and only until SortTree.
void RegKey::IndexChildren() {
  if (unsorted_ && subkeys.size() > kIndexFrom)
    keyIndex_.Build(subkeys);
  else
    keyIndex_.Clear();
}

RegKey& RegKey::FindOrAdd(std::string_view child) {
  if (unsorted_) return FindOrAppend(child);
  if (RegKey* k = Find(child)) return *k;
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), child,
                             [](const RegKey& k, std::string_view n) { return NameOrder(k, n) < 0; });
  RegKey fresh;
  fresh.name = std::string(child);
  it = subkeys.insert(it, std::move(fresh));
  return *it;
}

RegKey& RegKey::FindOrAppend(std::string_view child, bool* added) {
  if (added) *added = false;
  if (RegKey* k = Find(child)) return *k;
  if (!unsorted_ && !subkeys.empty() && NameOrder(subkeys.back(), child) > 0) unsorted_ = true;
  RegKey fresh;
  fresh.name = std::string(child);
  subkeys.push_back(std::move(fresh));
  if (keyIndex_.Active())
    keyIndex_.Add(child, subkeys.size() - 1);
  else
    IndexChildren();
  if (added) *added = true;
  return subkeys.back();
}

void RegKey::SortTree() {
  std::vector<RegKey*> todo{this};
  while (!todo.empty()) {
    RegKey* k = todo.back();
    todo.pop_back();
    if (k->unsorted_) {
      // Sorts positions by each name's folded form, computed once.
      std::vector<std::u16string> keys;
      keys.reserve(k->subkeys.size());
      for (const auto& c : k->subkeys) keys.push_back(Fold(c.name));
      std::vector<size_t> order(keys.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
      std::vector<RegKey> sorted;
      sorted.reserve(order.size());
      for (size_t i : order) sorted.push_back(std::move(k->subkeys[i]));
      k->subkeys = std::move(sorted);
      k->unsorted_ = false;
      k->IndexChildren();
    }
    // Vectors grown one element at a time hold up to twice their size; a large hive
    // is kept for the whole run, so they are cut to size once it is built.
    if (k->subkeys.capacity() > k->subkeys.size()) k->subkeys.shrink_to_fit();
    if (k->values.capacity() > k->values.size()) k->values.shrink_to_fit();
    for (auto& s : k->subkeys) todo.push_back(&s);
  }
}

bool RegKey::Remove(std::string_view child) {
  RegKey* k = Find(child);
  if (!k) return false;
  subkeys.erase(subkeys.begin() + (k - subkeys.data()));
  if (keyIndex_.Active()) IndexChildren();
  return true;
}

size_t RegKey::ValuePos(std::string_view value) const {
  if (valueIndex_.Active()) {
    long long pos = valueIndex_.Lookup(value);
    return pos < 0 ? values.size() : static_cast<size_t>(pos);
  }
  for (size_t i = 0; i < values.size(); ++i)
    if (NameEquals(values[i].Name(), value)) return i;
  return values.size();
}

RegValue* RegKey::FindValue(std::string_view value) {
  size_t pos = ValuePos(value);
  return pos < values.size() ? &values[pos] : nullptr;
}

const RegValue* RegKey::FindValue(std::string_view value) const {
  return const_cast<RegKey*>(this)->FindValue(value);
}

RegValue::RegValue(std::string_view name, DWORD type, ByteView data) {
  if (name.empty() && data.empty() && type == 0) return;
  block_ = std::make_unique<uint8_t[]>(VarSize(type) + VarSize(name.size()) + VarSize(data.size()) +
                                       name.size() + data.size());
  uint8_t* at = PutVar(PutVar(PutVar(block_.get(), type), name.size()), data.size());
  if (!name.empty()) std::memcpy(at, name.data(), name.size());
  if (!data.empty()) std::memcpy(at + name.size(), data.data(), data.size());
}

RegValue::Layout RegValue::Read() const {
  Layout l;
  if (!block_) return l;
  uint64_t type, nameSize, dataSize;
  const uint8_t* at = GetVar(GetVar(GetVar(block_.get(), type), nameSize), dataSize);
  l.type = static_cast<DWORD>(type);
  l.name = reinterpret_cast<const char*>(at);
  l.nameSize = static_cast<size_t>(nameSize);
  l.data = at + nameSize;
  l.dataSize = static_cast<size_t>(dataSize);
  return l;
}

std::string_view RegValue::Name() const {
  const Layout l = Read();
  return {l.name, l.nameSize};
}

DWORD RegValue::Type() const { return Read().type; }

ByteView RegValue::Data() const {
  const Layout l = Read();
  return {l.data, l.dataSize};
}

void RegKey::SetValue(std::string_view value, DWORD type, ByteView data) {
  if (RegValue* v = FindValue(value)) {
    v->Set(type, data);
    return;
  }
  values.emplace_back(value, type, data);
  if (valueIndex_.Active())
    valueIndex_.Add(value, values.size() - 1);
  else if (values.size() > kIndexFrom)
    valueIndex_.Build(values);
}

bool RegKey::RemoveValue(std::string_view value) {
  size_t pos = ValuePos(value);
  if (pos >= values.size()) return false;
  values.erase(values.begin() + static_cast<long>(pos));
  if (valueIndex_.Active()) valueIndex_.Build(values);
  return true;
}

const RegKey* RegKey::Walk(const std::vector<std::string>& path) const {
  const RegKey* k = this;
  for (const auto& p : path) {
    k = k->Find(p);
    if (!k) return nullptr;
  }
  return k;
}

RegKey* RegKey::Walk(const std::vector<std::string>& path) {
  return const_cast<RegKey*>(static_cast<const RegKey*>(this)->Walk(path));
}

RegKey& RegKey::WalkOrAdd(const std::vector<std::string>& path) {
  RegKey* k = this;
  for (const auto& p : path) k = &k->FindOrAdd(p);
  return *k;
}

void RegKey::MergeUnsorted(const RegKey& other) {
  for (const auto& v : other.values) SetValue(v.Name(), v.Type(), v.Data());
  // Depth is bounded by the parser's limit.
  for (const auto& k : other.subkeys) FindOrAppend(k.name).MergeUnsorted(k);
}

void RegKey::Merge(const RegKey& other) {
  MergeUnsorted(other);
  SortTree();
}

std::vector<std::string> SplitKeyPath(std::string_view path) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string_view::npos) j = path.size();
    if (j > i) out.emplace_back(path.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminate) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2 + 2);
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminate) {
    out.push_back(0);
    out.push_back(0);
  }
  return out;
}

std::u16string BytesToUtf16(ByteView data) {
  std::u16string out;
  out.reserve(data.size() / 2);
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return out;
}

// ---- parsing ----

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

struct Parser {
  std::string_view rootName;
  const std::string& fileName;
  std::string* error;

  bool Fail(size_t at, const std::string& why) {
    if (error) *error = fileName + ":" + std::to_string(at) + ": " + why;
    return false;
  }

  // Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
  bool Quoted(const std::string& s, size_t& pos, std::string& out, size_t at) {
    ++pos;
    out.clear();
    while (pos < s.size()) {
      char c = s[pos];
      if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) {
        out.push_back(s[pos + 1]);
        pos += 2;
        continue;
      }
      if (c == '"') {
        ++pos;
        return true;
      }
      out.push_back(c);
      ++pos;
    }
    return Fail(at, "unterminated quoted text");
  }

  bool HexBytes(std::string_view s, std::vector<uint8_t>& out, size_t at) {
    out.clear();
    out.reserve(s.size() / 3 + 1);
    size_t i = 0;
    auto skip = [&] {
      while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r')) ++i;
    };
    skip();
    if (i == s.size()) return true;
    while (true) {
      skip();
      if (i >= s.size()) return Fail(at, "missing byte after ','");
      int h = HexDigit(s[i]);
      int l = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
      if (h < 0 || l < 0) return Fail(at, "bad hex byte");
      out.push_back(static_cast<uint8_t>(h * 16 + l));
      i += 2;
      skip();
      if (i == s.size()) return true;
      if (s[i] != ',') return Fail(at, "expected ',' between hex bytes");
      ++i;
      skip();
      if (i == s.size()) return true;  // a trailing comma is tolerated
    }
  }
};

// UTF-16LE bytes (after the byte-order mark) to UTF-8; false on a broken surrogate or an
// odd byte count, with the line it happened on.
bool Utf16ToUtf8(std::string_view b, std::string& out, size_t* badLine) {
  out.clear();
  out.reserve(b.size() / 2 + 16);
  size_t line = 1;
  if (b.size() % 2) {
    *badLine = 0;
    return false;
  }
  for (size_t i = 0; i < b.size(); i += 2) {
    char32_t u = static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
      char32_t lo = static_cast<unsigned char>(b[i + 2]) | (static_cast<unsigned char>(b[i + 3]) << 8);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      *badLine = line;
      return false;
    }
    if (u == '\n') ++line;
    AppendUtf8(out, u);
  }
  return true;
}

std::string AnsiToUtf8Text(std::string_view b) {
  std::string out;
  out.reserve(b.size() + 16);
  for (char c : b) AppendUtf8(out, Cp1252ToWide(static_cast<unsigned char>(c)));
  return out;
}

// hex(2)/hex(7) data of a REGEDIT4 file: code-page bytes, held as UTF-16 as Windows does.
std::vector<uint8_t> AnsiBytesToUtf16(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  out.reserve(in.size() * 2);
  for (uint8_t c : in) {
    char16_t w = Cp1252ToWide(c);
    out.push_back(static_cast<uint8_t>(w & 0xFF));
    out.push_back(static_cast<uint8_t>(w >> 8));
  }
  return out;
}

}  // namespace

bool ParseHive(std::string_view bytes, std::string_view rootName, const std::string& fileName, RegKey& root,
               std::string* error, HiveFormat* formatOut) {
  Parser p{rootName, fileName, error};
  root = RegKey{};
  root.name = std::string(rootName);
  root.listed = false;

  // The encoding: a byte-order mark, else the header (REGEDIT4 is in the code page).
  HiveFormat format;
  std::string decoded;
  std::string_view text = bytes;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    format.encoding = HiveFormat::kUtf16Le;
    size_t bad = 0;
    if (!Utf16ToUtf8(bytes.substr(2), decoded, &bad))
      return p.Fail(bad, bad ? "text is not UTF-16" : "UTF-16 text with an odd number of bytes");
    text = decoded;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    format.encoding = HiveFormat::kUtf8Bom;
    text.remove_prefix(3);
  } else {
    size_t b = bytes.find_first_not_of(" \t\r\n");
    if (b != std::string_view::npos && bytes.substr(b, kHeader4.size()) == kHeader4) {
      format.encoding = HiveFormat::kAnsi;
      decoded = AnsiToUtf8Text(bytes);
      text = decoded;
    }
  }
  size_t firstLf = text.find('\n');
  format.crlf = firstLf != std::string_view::npos && firstLf > 0 && text[firstLf - 1] == '\r';

  // Physical lines, read one at a time: the text's line n starts at lineStart.
  size_t next = 0;  // where the line after the current one starts
  size_t lineStart = 0;
  size_t n = 0;  // 1-based number of the current line
  auto nextLine = [&](std::string_view& line) {
    if (next >= text.size()) return false;
    size_t j = text.find('\n', next);
    if (j == std::string_view::npos) j = text.size();
    lineStart = next;
    line = text.substr(next, j - next);
    next = j + 1;
    ++n;
    return true;
  };
  // Sections are located in the file's own bytes, which are the text's for UTF-8 only.
  const bool locate = format.encoding == HiveFormat::kUtf8 || format.encoding == HiveFormat::kUtf8Bom;
  const size_t bom = format.encoding == HiveFormat::kUtf8Bom ? 3 : 0;
  bool header = false;
  RegKey* cur = nullptr;
  bool curDeleted = false;
  // A key's section runs up to the next [line] or the end of the file.
  auto endSection = [&](size_t end) {
    if (cur && locate && cur->sectionBegin != SIZE_MAX) cur->sectionEnd = bom + end;
  };
  std::string_view raw;
  while (nextLine(raw)) {
    const size_t at = n;
    std::string l = Trim(raw);
    if (l.empty() || l[0] == ';') continue;
    if (!ValidUtf8(l)) return p.Fail(at, "text is not UTF-8");
    if (!header) {
      if (l != kHeader5 && l != kHeader4)
        return p.Fail(at, "not a registry file (expected \"Windows Registry Editor Version 5.00\")");
      format.regedit4 = l == kHeader4;
      header = true;
      continue;
    }
    if (l[0] == '[') {
      if (l.back() != ']') return p.Fail(at, "key line without closing ']'");
      endSection(lineStart);
      std::string inner = l.substr(1, l.size() - 2);
      bool del = !inner.empty() && inner[0] == '-';
      if (del) inner.erase(0, 1);
      auto parts = SplitKeyPath(inner);
      if (parts.empty() || !NameEquals(parts[0], rootName))
        return p.Fail(at, "key outside " + std::string(rootName) + ": [" + inner.substr(0, 80) + "]");
      parts.erase(parts.begin());
      if (parts.size() > kMaxKeyDepth)
        return p.Fail(at, "key nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
      if (del) {
        if (parts.empty()) return p.Fail(at, "the hive root cannot be deleted");
        RegKey* k = &root;
        for (size_t i = 0; k && i + 1 < parts.size(); ++i) k = k->Find(parts[i]);
        if (k) k->Remove(parts.back());
        cur = nullptr;
        curDeleted = true;
      } else {
        cur = &root;
        for (const auto& part : parts) {
          bool added = false;
          cur = &cur->FindOrAppend(part, &added);
          if (added) cur->listed = false;
        }
        // A key of two sections cannot be rewritten by replacing one of them.
        if (cur->listed && (cur->sectionEnd != 0 || cur->sectionBegin == SIZE_MAX)) {
          cur->sectionBegin = SIZE_MAX;
          cur->sectionEnd = 0;
        } else if (locate) {
          cur->sectionBegin = bom + lineStart;
        }
        cur->listed = true;
        curDeleted = false;
      }
      continue;
    }
    // A value line.
    if (!cur) {
      if (curDeleted) continue;  // values of a deleted key are ignored, as regedit does
      return p.Fail(at, "value outside a key");
    }
    std::string name;
    size_t pos = 0;
    if (l[0] == '@') {
      pos = 1;
    } else if (l[0] == '"') {
      if (!p.Quoted(l, pos, name, at)) return false;
    } else {
      return p.Fail(at, "expected \"name\"=, @= or [key]");
    }
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    if (pos >= l.size() || l[pos] != '=') return p.Fail(at, "expected '=' after the value name");
    ++pos;
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    std::string data = l.substr(pos);
    if (data == "-") {
      cur->RemoveValue(name);
      continue;
    }
    if (!data.empty() && data[0] == '"') {
      std::string s;
      size_t q = 0;
      if (!p.Quoted(data, q, s, at)) return false;
      if (!Trim(data.substr(q)).empty()) return p.Fail(at, "text after the closing quote");
      cur->SetValue(name, 1 /*REG_SZ*/, Utf16Bytes(Utf8ToWide(s, nullptr), true));
      continue;
    }
    std::string lower = data.substr(0, 16);
    for (auto& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower.rfind("dword:", 0) == 0) {
      std::string digits = Trim(data.substr(6));
      if (digits.empty() || digits.size() > 8) return p.Fail(at, "bad dword value");
      uint32_t v = 0;
      for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) return p.Fail(at, "bad dword value");
        v = v * 16 + static_cast<uint32_t>(d);
      }
      const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
      cur->SetValue(name, 4 /*REG_DWORD*/, ByteView(bytes, sizeof bytes));
      continue;
    }
    if (lower.rfind("hex", 0) == 0) {
      DWORD type = 3;  // REG_BINARY
      size_t colon = data.find(':');
      if (colon == std::string::npos || colon > 14) return p.Fail(at, "bad hex value");
      std::string kind = data.substr(3, colon - 3);
      if (!kind.empty()) {
        if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')') return p.Fail(at, "bad hex(type)");
        std::string t = kind.substr(1, kind.size() - 2);
        if (t.empty() || t.size() > 8) return p.Fail(at, "bad hex(type)");
        type = 0;
        for (char c : t) {
          int d = HexDigit(c);
          if (d < 0) return p.Fail(at, "bad hex(type)");
          type = type * 16 + static_cast<DWORD>(d);
        }
      }
      // Long data continues on the next lines after a trailing backslash; each piece is
      // appended once, so a value of megabytes reads in one pass.
      std::string bytesText = Trim(data.substr(colon + 1));
      while (!bytesText.empty() && bytesText.back() == '\\') {
        bytesText.pop_back();
        std::string_view more;
        if (!nextLine(more)) return p.Fail(at, "continuation at the end of the file");
        bytesText += Trim(more);
      }
      std::vector<uint8_t> out;
      if (!p.HexBytes(bytesText, out, at)) return false;
      if (format.regedit4 && (type == 2 || type == 7)) out = AnsiBytesToUtf16(out);
      cur->SetValue(name, type, std::move(out));
      continue;
    }
    return p.Fail(at, "unknown value data: " + data.substr(0, 40));
  }
  endSection(text.size());
  root.SortTree();
  if (formatOut) *formatOut = format;
  return true;
}

// ---- writing ----

namespace {

std::string Escape(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// Characters as regedit counts them for its line width (UTF-16 units).
size_t Width(std::string_view utf8) {
  size_t n = 0;
  for (char c : utf8) {
    unsigned char u = static_cast<unsigned char>(c);
    if ((u & 0xC0) != 0x80) n += u >= 0xF0 ? 2 : 1;
  }
  return n;
}

bool TextForm(const RegValue& v, bool ansi, std::string* utf8) {
  const ByteView data = v.Data();
  if (v.Type() != 1 || data.size() < 2 || data.size() % 2) return false;
  std::u16string w = BytesToUtf16(data);
  if (w.back() != 0) return false;
  w.pop_back();
  for (size_t i = 0; i < w.size(); ++i) {
    char16_t c = w[i];
    if (c == 0 || c == '\r' || c == '\n') return false;
    // A REGEDIT4 file holds code-page text: anything else keeps its bytes as hex(1).
    if (ansi && WideToCp1252(c) < 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= w.size() || w[i + 1] < 0xDC00 || w[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  *utf8 = WideToUtf8(w);
  return true;
}

// regedit's layout: "xx," pieces until the line reaches 77 characters, then a backslash
// and a continuation line indented by two blanks.
void WriteValue(std::string& out, const RegValue& v, const HiveFormat& f, const char* nl) {
  std::string head = v.Name().empty() ? "@=" : "\"" + Escape(v.Name()) + "\"=";
  std::string text;
  char buf[32];
  if (TextForm(v, f.regedit4, &text)) {
    out += head + "\"" + Escape(text) + "\"" + nl;
    return;
  }
  const ByteView data = v.Data();
  if (v.Type() == 4 && data.size() == 4) {
    uint32_t d = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    out += head + buf + nl;
    return;
  }
  out += head;
  size_t width = Width(head);
  if (v.Type() == 3) {
    std::snprintf(buf, sizeof buf, "hex:");
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.Type()));
  }
  out += buf;
  width += std::strlen(buf);
  ByteView bytes = data;
  std::vector<uint8_t> ansi;
  if (f.regedit4 && (v.Type() == 2 || v.Type() == 7) && data.size() % 2 == 0) {
    for (char16_t c : BytesToUtf16(data)) {
      int b = WideToCp1252(c);
      ansi.push_back(static_cast<uint8_t>(b < 0 ? '?' : b));
    }
    bytes = ansi;
  }
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 15]);
    if (i + 1 == bytes.size()) break;
    out.push_back(',');
    width += 3;
    if (width >= 77) {
      out += "\\";
      out += nl;
      out += "  ";
      width = 2;
    }
  }
  out += nl;
}

void AppendUtf16(std::string& out, char32_t cp) {
  auto unit = [&](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  if (cp >= 0x10000) {
    cp -= 0x10000;
    unit(0xD800 + (cp >> 10));
    unit(0xDC00 + (cp & 0x3FF));
  } else {
    unit(cp);
  }
}

std::string Encode(const std::string& utf8, HiveFormat::Encoding e) {
  if (e == HiveFormat::kUtf8) return utf8;
  if (e == HiveFormat::kUtf8Bom) return "\xEF\xBB\xBF" + utf8;
  std::u16string w = Utf8ToWide(utf8, nullptr);
  std::string out;
  if (e == HiveFormat::kUtf16Le) {
    out.reserve(w.size() * 2 + 2);
    out += "\xFF\xFE";
    for (char16_t c : w) AppendUtf16(out, c);
    return out;
  }
  out.reserve(w.size());
  for (char16_t c : w) {
    int b = WideToCp1252(c);
    out.push_back(static_cast<char>(b < 0 ? '?' : b));
  }
  return out;
}

}  // namespace

std::string SerializeSection(const RegKey& key, std::string_view fullPath, const HiveFormat& format) {
  const char* nl = format.crlf ? "\r\n" : "\n";
  std::string out;
  out.reserve(fullPath.size() + 8 + key.values.size() * 48);
  out += "[";
  out += fullPath;
  out += "]";
  out += nl;
  for (const auto& v : key.values) WriteValue(out, v, format, nl);
  out += nl;
  return out;
}

std::string SerializeHive(const RegKey& root, std::string_view rootName, const HiveFormat& format,
                          bool recordSections) {
  const char* nl = format.crlf ? "\r\n" : "\n";
  // Section positions hold in the written bytes when those are the UTF-8 text itself.
  const bool locate =
      recordSections && (format.encoding == HiveFormat::kUtf8 || format.encoding == HiveFormat::kUtf8Bom);
  const size_t bom = format.encoding == HiveFormat::kUtf8Bom ? 3 : 0;
  std::string out(format.regedit4 ? kHeader4 : kHeader5);
  out += nl;
  out += nl;
  // Depth first in enumeration order, as regedit exports; iterative, so no depth of
  // nesting can exhaust the stack.
  struct Item {
    const RegKey* key;
    std::string path;
  };
  std::vector<Item> todo;
  todo.push_back({&root, std::string(rootName)});
  while (!todo.empty()) {
    Item item = std::move(todo.back());
    todo.pop_back();
    const RegKey& k = *item.key;
    if (recordSections) {
      k.sectionBegin = 0;
      k.sectionEnd = 0;
    }
    if (k.listed || !k.values.empty()) {
      const size_t begin = out.size();
      out += "[" + item.path + "]" + nl;
      for (const auto& v : k.values) WriteValue(out, v, format, nl);
      out += nl;
      if (locate) {
        k.sectionBegin = bom + begin;
        k.sectionEnd = bom + out.size();
      }
    }
    for (size_t i = k.subkeys.size(); i-- > 0;)
      todo.push_back({&k.subkeys[i], item.path + "\\" + k.subkeys[i].name});
  }
  return Encode(out, format.encoding);
}

}  // namespace kvp
