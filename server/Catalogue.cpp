#include "server/Catalogue.h"

#include <fstream>
#include <set>
#include <stdexcept>

#include "server/TextUtil.h"

namespace updsrv {

bool IsSafePackageName(const std::string& name) {
  if (name.empty() || name.size() > 200 || name[0] == '.') return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::optional<uint64_t> ParseSize(const std::string& text) {
  const std::string s = Trim(text);
  if (s.empty()) return std::nullopt;
  uint64_t value = 0;
  size_t i = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (value > (uint64_t{1} << 40)) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(s[i] - '0');
  }
  if (i == 0) return std::nullopt;
  std::string unit = AsciiLower(s.substr(i));
  uint64_t mul = 1;
  if (unit == "" || unit == "b") mul = 1;
  else if (unit == "k" || unit == "kib") mul = 1024;
  else if (unit == "m" || unit == "mib") mul = 1024 * 1024;
  else if (unit == "g" || unit == "gib") mul = 1024ull * 1024 * 1024;
  else return std::nullopt;
  if (value > (uint64_t{16} << 30) / mul) return std::nullopt;  // 16 GiB is plenty
  return value * mul;
}

namespace {

bool IsUrl(std::string_view s) {
  return s.rfind("http://", 0) == 0 || s.rfind("https://", 0) == 0;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

uint64_t HashId(std::string_view id) {
  uint64_t h = 1469598103934665603ull;
  for (char c : id) h = (h ^ static_cast<unsigned char>(Lower(c))) * 1099511628211ull;
  return h ^ (h >> 29);
}

bool SameId(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string_view TrimView(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

const TCatalogueEntry* TCatalogue::Find(std::string_view id) const {
  if (slots_.empty()) return nullptr;
  const size_t mask = slots_.size() - 1;
  for (size_t i = HashId(id) & mask;; i = (i + 1) & mask) {
    const uint32_t slot = slots_[i];
    if (slot == 0) return nullptr;
    if (SameId(entries_[slot - 1].Id, id)) return &entries_[slot - 1];
  }
}

void TCatalogue::Index(uint32_t entry) {
  if ((used_ + 1) * 2 > slots_.size()) {
    std::vector<uint32_t> old;
    old.swap(slots_);
    slots_.assign(std::max<size_t>(64, old.size() * 2), 0);
    used_ = 0;
    for (uint32_t slot : old)
      if (slot) Index(slot - 1);
  }
  const size_t mask = slots_.size() - 1;
  const TCatalogueEntry& e = entries_[entry];
  for (size_t i = HashId(e.Id) & mask;; i = (i + 1) & mask) {
    uint32_t& slot = slots_[i];
    if (slot == 0) {
      slot = entry + 1;
      ++used_;
      return;
    }
    if (SameId(entries_[slot - 1].Id, e.Id)) {
      // Several lines for one ID: the latest date counts (the first of equals).
      if (entries_[slot - 1].DateKey < e.DateKey) slot = entry + 1;
      return;
    }
  }
}

TCatalogue TCatalogue::Parse(std::string input, std::vector<std::string>* warnings) {
  TCatalogue cat;
  auto warn = [&](int line, const std::string& msg) {
    if (warnings) warnings->push_back("line " + std::to_string(line) + ": " + msg);
  };
  // The entries' fields are views into the text itself (ASCII lines, nearly
  // all of them) or into the converted copy of their line, both kept by the
  // catalogue and shared by its copies.
  auto owned = std::make_shared<TText>();
  owned->File = std::move(input);
  std::string_view text(owned->File);
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);  // a UTF-8 BOM
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  cat.entries_.reserve(lines);

  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view raw = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    ++lineNo;
    std::string_view line = TrimView(raw);
    if (!IsAscii(line)) {
      owned->Converted.push_back(Utf8ToCp1252(line));
      line = TrimView(owned->Converted.back());
    }
    if (line.empty() || line[0] == '#') continue;

    if (line[0] == '@') {
      size_t sp = line.find_first_of(" \t");
      std::string word = AsciiLower(line.substr(1, sp == std::string_view::npos ? sp : sp - 1));
      std::string rest = sp == std::string_view::npos ? "" : Trim(line.substr(sp));
      if (word == "errcode") {
        try {
          size_t used = 0;
          int code = std::stoi(rest, &used);
          if (used != rest.size()) throw std::invalid_argument("trailing text");
          cat.ForcedErrCode = code;
        } catch (const std::exception&) {
          warn(lineNo, "@errcode needs a decimal number");
        }
      } else if (word == "errmsg") {
        cat.ForcedErrMsg = rest;
      } else if (word == "package") {
        std::vector<std::string> words;
        for (auto& f : Split(rest, " "))
          if (!Trim(f).empty()) words.push_back(Trim(f));
        std::optional<uint64_t> size = words.size() == 2 ? ParseSize(words[1]) : std::nullopt;
        if (words.size() != 2 || !IsSafePackageName(words[0]) || !size)
          warn(lineNo, "@package needs a file name and a size");
        else
          cat.declared_.push_back({words[0], *size, true});
      } else {
        warn(lineNo, "unknown directive @" + word);
      }
      continue;
    }

    std::string_view fields[5];
    size_t count = 0, start = 0;
    for (;;) {
      size_t bar = line.find('|', start);
      if (count < 5) fields[count] = TrimView(line.substr(start, bar == std::string_view::npos ? bar : bar - start));
      ++count;
      if (bar == std::string_view::npos) break;
      start = bar + 1;
    }
    if (count != 5) {
      warn(lineNo, "expected 5 fields separated by '|'");
      continue;
    }
    if (fields[0].empty()) {
      warn(lineNo, "empty ID");
      continue;
    }
    auto key = ParseDriverDate(fields[1]);
    if (!key) {
      warn(lineNo, "date is not M-D-YYYY: " + std::string(fields[1]));
      continue;
    }
    if (!fields[4].empty() && !IsUrl(fields[4]) && !IsSafePackageName(std::string(fields[4]))) {
      warn(lineNo, "package must be a plain file name or an http(s) URL: " + std::string(fields[4]));
      continue;
    }
    TCatalogueEntry e;
    e.Id = fields[0];
    e.Date = fields[1];
    e.Version = fields[2];
    e.Vendor = fields[3];
    e.Package = fields[4];
    e.DateKey = *key;
    e.Line = lineNo;
    cat.entries_.push_back(e);
  }
  // The table sized once for every entry (at most half full), so it never
  // grows while a large catalogue is indexed.
  size_t slots = 64;
  while (slots < cat.entries_.size() * 2 + 2) slots *= 2;
  cat.slots_.assign(slots, 0);
  for (size_t i = 0; i < cat.entries_.size(); ++i) cat.Index(static_cast<uint32_t>(i));
  cat.text_ = std::move(owned);
  return cat;
}

TCatalogue TCatalogue::Load(const std::string& path, std::vector<std::string>* warnings) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read catalogue " + path);
  // Read in one piece: catalogues can be tens of MiB.
  std::string text;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size > 0) {
    text.resize(static_cast<size_t>(size));
    in.read(&text[0], size);
    text.resize(static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw std::runtime_error("cannot read catalogue " + path);
  return Parse(std::move(text), warnings);
}

const TCatalogueEntry* TCatalogue::Match(const std::vector<std::string>& hardwareIds,
                                         const std::vector<std::string>& compatibleIds,
                                         const std::string& installedDate) const {
  const TCatalogueEntry* found = nullptr;
  for (const auto* list : {&hardwareIds, &compatibleIds}) {
    for (const auto& id : *list) {
      if ((found = Find(TrimView(id)))) break;
    }
    if (found) break;
  }
  if (!found) return nullptr;
  auto installed = ParseDriverDate(installedDate);
  if (installed && found->DateKey <= *installed) return nullptr;
  return found;
}

std::vector<TPackageSpec> TCatalogue::Packages() const {
  std::vector<TPackageSpec> out;
  std::set<std::string> seen;
  for (const auto& p : declared_)
    if (seen.insert(p.Name).second) out.push_back(p);
  for (const auto& e : entries_)
    if (!e.Package.empty() && !IsUrl(e.Package) && seen.insert(std::string(e.Package)).second)
      out.push_back({std::string(e.Package), kDefaultPackageSize, false});
  return out;
}

}  // namespace updsrv
