// Registry hive tree and its regedit text form.
#include "hive.h"

#include "internal.h"

#include <algorithm>
#include <cstdio>

namespace kvp {

namespace {

char16_t FoldChar(char16_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F && (c & 1) == 0) return static_cast<char16_t>(c + 1);
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
  bool bad = false;
  Utf8ToWide(s, &bad);
  return !bad;
}

}  // namespace

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
  // Subkeys are kept in NameCompare order (FindOrAdd), so a lookup among the
  // thousands of driver keys of one class stays logarithmic; the linear pass
  // only runs for a name that is not there.
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), child,
                             [](const RegKey& k, std::string_view n) { return NameCompare(k.name, n) < 0; });
  if (it != subkeys.end() && NameEquals(it->name, child)) return &*it;
  for (auto& k : subkeys)
    if (NameEquals(k.name, child)) return &k;
  return nullptr;
}

const RegKey* RegKey::Find(std::string_view child) const { return const_cast<RegKey*>(this)->Find(child); }

RegKey& RegKey::FindOrAdd(std::string_view child) {
  if (RegKey* k = Find(child)) return *k;
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), child,
                             [](const RegKey& k, std::string_view n) { return NameCompare(k.name, n) < 0; });
  RegKey fresh;
  fresh.name = std::string(child);
  return *subkeys.insert(it, std::move(fresh));
}

bool RegKey::Remove(std::string_view child) {
  for (auto it = subkeys.begin(); it != subkeys.end(); ++it)
    if (NameEquals(it->name, child)) {
      subkeys.erase(it);
      return true;
    }
  return false;
}

RegValue* RegKey::FindValue(std::string_view value) {
  for (auto& v : values)
    if (NameEquals(v.name, value)) return &v;
  return nullptr;
}

const RegValue* RegKey::FindValue(std::string_view value) const {
  return const_cast<RegKey*>(this)->FindValue(value);
}

void RegKey::SetValue(std::string_view value, DWORD type, std::vector<uint8_t> data) {
  if (RegValue* v = FindValue(value)) {
    v->type = type;
    v->data = std::move(data);
    return;
  }
  values.push_back(RegValue{std::string(value), type, std::move(data)});
}

bool RegKey::RemoveValue(std::string_view value) {
  for (auto it = values.begin(); it != values.end(); ++it)
    if (NameEquals(it->name, value)) {
      values.erase(it);
      return true;
    }
  return false;
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

void RegKey::Merge(const RegKey& other) {
  for (const auto& v : other.values) SetValue(v.name, v.type, v.data);
  for (const auto& k : other.subkeys) FindOrAdd(k.name).Merge(k);
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

std::u16string BytesToUtf16(const std::vector<uint8_t>& data) {
  std::u16string out;
  out.reserve(data.size() / 2);
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    out.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return out;
}

// ---- parsing ----

namespace {

struct Parser {
  std::string_view rootName;
  const std::string& fileName;
  std::string* error;
  int line = 0;

  bool Fail(int at, const std::string& why) {
    if (error) *error = fileName + ":" + std::to_string(at) + ": " + why;
    return false;
  }

  // Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
  bool Quoted(const std::string& s, size_t& pos, std::string& out, int at) {
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

  bool HexBytes(std::string_view s, std::vector<uint8_t>& out, int at) {
    out.clear();
    size_t i = 0;
    auto skip = [&] {
      while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r')) ++i;
    };
    skip();
    if (i == s.size()) return true;
    while (true) {
      skip();
      if (i + 1 >= s.size() + 1 || i >= s.size()) return Fail(at, "missing byte after ','");
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

}  // namespace

bool ParseHive(std::string_view text, std::string_view rootName, const std::string& fileName, RegKey& root,
               std::string* error) {
  Parser p{rootName, fileName, error};
  root = RegKey{};
  root.name = std::string(rootName);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  // Physical lines.
  std::vector<std::string> lines;
  {
    size_t i = 0;
    while (i < text.size()) {
      size_t j = text.find('\n', i);
      if (j == std::string_view::npos) j = text.size();
      std::string l(text.substr(i, j - i));
      if (!l.empty() && l.back() == '\r') l.pop_back();
      lines.push_back(std::move(l));
      i = j + 1;
    }
  }
  bool header = false;
  RegKey* cur = nullptr;
  bool curDeleted = false;
  for (size_t n = 0; n < lines.size(); ++n) {
    int at = static_cast<int>(n + 1);
    std::string l = Trim(lines[n]);
    if (l.empty() || l[0] == ';') continue;
    if (!ValidUtf8(l)) return p.Fail(at, "text is not UTF-8");
    if (!header) {
      if (l != "Windows Registry Editor Version 5.00" && l != "REGEDIT4")
        return p.Fail(at, "not a registry file (expected \"Windows Registry Editor Version 5.00\")");
      header = true;
      continue;
    }
    if (l[0] == '[') {
      if (l.back() != ']') return p.Fail(at, "key line without closing ']'");
      std::string inner = l.substr(1, l.size() - 2);
      bool del = !inner.empty() && inner[0] == '-';
      if (del) inner.erase(0, 1);
      auto parts = SplitKeyPath(inner);
      if (parts.empty() || !NameEquals(parts[0], rootName))
        return p.Fail(at, "key outside " + std::string(rootName) + ": [" + inner + "]");
      parts.erase(parts.begin());
      if (del) {
        if (parts.empty()) return p.Fail(at, "the hive root cannot be deleted");
        std::vector<std::string> parent(parts.begin(), parts.end() - 1);
        if (RegKey* k = root.Walk(parent)) k->Remove(parts.back());
        cur = nullptr;
        curDeleted = true;
      } else {
        cur = &root.WalkOrAdd(parts);
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
    std::string lower = data;
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
      cur->SetValue(name, 4 /*REG_DWORD*/,
                    {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 24)});
      continue;
    }
    if (lower.rfind("hex", 0) == 0) {
      DWORD type = 3;  // REG_BINARY
      size_t colon = lower.find(':');
      if (colon == std::string::npos) return p.Fail(at, "bad hex value");
      std::string kind = lower.substr(3, colon - 3);
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
      std::string bytes = data.substr(colon + 1);
      // Long data continues on the next lines after a trailing backslash.
      while (!bytes.empty() && Trim(bytes).size() && Trim(bytes).back() == '\\') {
        bytes = Trim(bytes);
        bytes.pop_back();
        if (n + 1 >= lines.size()) return p.Fail(at, "continuation at the end of the file");
        ++n;
        bytes += Trim(lines[n]);
      }
      std::vector<uint8_t> out;
      if (!p.HexBytes(bytes, out, at)) return false;
      cur->SetValue(name, type, std::move(out));
      continue;
    }
    return p.Fail(at, "unknown value data: " + data.substr(0, 40));
  }
  if (!header && !text.empty()) {
    // Only blank lines and comments: treat as an empty hive.
  }
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

bool TextForm(const RegValue& v, std::string* utf8) {
  if (v.type != 1 || v.data.size() < 2 || v.data.size() % 2) return false;
  std::u16string w = BytesToUtf16(v.data);
  if (w.back() != 0) return false;
  w.pop_back();
  for (size_t i = 0; i < w.size(); ++i) {
    char16_t c = w[i];
    if (c == 0 || c == '\r' || c == '\n') return false;
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

void WriteValue(std::string& out, const RegValue& v) {
  std::string head = v.name.empty() ? "@=" : "\"" + Escape(v.name) + "\"=";
  std::string text;
  char buf[32];
  if (TextForm(v, &text)) {
    out += head + "\"" + Escape(text) + "\"\n";
    return;
  }
  if (v.type == 4 && v.data.size() == 4) {
    uint32_t d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    out += head + buf + "\n";
    return;
  }
  std::string line = head;
  if (v.type == 3) {
    line += "hex:";
  } else {
    std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
    line += buf;
  }
  for (size_t i = 0; i < v.data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", v.data[i]);
    line += buf;
    if (i + 1 < v.data.size()) {
      line += ",";
      if (line.size() >= 76) {
        out += line + "\\\n";
        line = "  ";
      }
    }
  }
  out += line + "\n";
}

void WriteKey(std::string& out, const RegKey& k, const std::string& path) {
  out += "[" + path + "]\n";
  for (const auto& v : k.values) WriteValue(out, v);
  out += "\n";
  for (const auto& s : k.subkeys) WriteKey(out, s, path + "\\" + s.name);
}

}  // namespace

std::string SerializeHive(const RegKey& root, std::string_view rootName) {
  std::string out = "Windows Registry Editor Version 5.00\n\n";
  if (!root.values.empty()) {
    out += "[" + std::string(rootName) + "]\n";
    for (const auto& v : root.values) WriteValue(out, v);
    out += "\n";
  }
  for (const auto& s : root.subkeys) WriteKey(out, s, std::string(rootName) + "\\" + s.name);
  return out;
}

}  // namespace kvp
