#include "server/Catalogue.h"

#include <fstream>
#include <set>
#include <sstream>
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

bool IsUrl(const std::string& s) {
  return s.rfind("http://", 0) == 0 || s.rfind("https://", 0) == 0;
}

}  // namespace

TCatalogue TCatalogue::Parse(const std::string& text, std::vector<std::string>* warnings) {
  TCatalogue cat;
  auto warn = [&](int line, const std::string& msg) {
    if (warnings) warnings->push_back("line " + std::to_string(line) + ": " + msg);
  };
  std::istringstream in(text);
  std::string raw;
  int lineNo = 0;
  while (std::getline(in, raw)) {
    ++lineNo;
    std::string line = Trim(Utf8ToCp1252(raw));
    if (lineNo == 1 && line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
      line = Trim(line.substr(3));
    if (line.empty() || line[0] == '#') continue;

    if (line[0] == '@') {
      size_t sp = line.find_first_of(" \t");
      std::string word = AsciiLower(line.substr(1, sp == std::string::npos ? sp : sp - 1));
      std::string rest = sp == std::string::npos ? "" : Trim(line.substr(sp));
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
        auto fields = Split(rest, " ");
        std::vector<std::string> words;
        for (auto& f : fields)
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

    auto fields = Split(line, "|");
    if (fields.size() != 5) {
      warn(lineNo, "expected 5 fields separated by '|'");
      continue;
    }
    TCatalogueEntry e;
    e.Id = Trim(fields[0]);
    e.Date = Trim(fields[1]);
    e.Version = Trim(fields[2]);
    e.Vendor = Trim(fields[3]);
    e.Package = Trim(fields[4]);
    e.Line = lineNo;
    auto key = ParseDriverDate(e.Date);
    if (e.Id.empty()) {
      warn(lineNo, "empty ID");
      continue;
    }
    if (!key) {
      warn(lineNo, "date is not M-D-YYYY: " + e.Date);
      continue;
    }
    if (!e.Package.empty() && !IsUrl(e.Package) && !IsSafePackageName(e.Package)) {
      warn(lineNo, "package must be a plain file name or an http(s) URL: " + e.Package);
      continue;
    }
    e.DateKey = *key;
    const std::string idKey = AsciiLower(e.Id);
    cat.entries_.push_back(e);
    auto it = cat.byId_.find(idKey);
    if (it == cat.byId_.end() || cat.entries_[it->second].DateKey < e.DateKey)
      cat.byId_[idKey] = cat.entries_.size() - 1;
  }
  return cat;
}

TCatalogue TCatalogue::Load(const std::string& path, std::vector<std::string>* warnings) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read catalogue " + path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read catalogue " + path);
  return Parse(text, warnings);
}

const TCatalogueEntry* TCatalogue::Match(const std::vector<std::string>& hardwareIds,
                                         const std::vector<std::string>& compatibleIds,
                                         const std::string& installedDate) const {
  const TCatalogueEntry* found = nullptr;
  for (const auto* list : {&hardwareIds, &compatibleIds}) {
    for (const auto& id : *list) {
      auto it = byId_.find(AsciiLower(Trim(id)));
      if (it != byId_.end()) {
        found = &entries_[it->second];
        break;
      }
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
    if (!e.Package.empty() && !IsUrl(e.Package) && seen.insert(e.Package).second)
      out.push_back({e.Package, kDefaultPackageSize, false});
  return out;
}

}  // namespace updsrv
