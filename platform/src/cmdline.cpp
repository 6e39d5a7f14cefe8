#include "cmdline.h"

namespace kvp {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  size_t pos = 0;
  for (;;) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size()) break;
    std::string word;
    bool quoted = false;
    while (pos < line.size() && (quoted || !IsBlank(line[pos]))) {
      const char c = line[pos];
      if (c == '\\') {
        size_t n = 0;
        while (pos < line.size() && line[pos] == '\\') {
          ++n;
          ++pos;
        }
        if (pos < line.size() && line[pos] == '"') {
          word.append(n / 2, '\\');
          if (n % 2) {
            word += '"';
            ++pos;
          }
        } else {
          word.append(n, '\\');
        }
      } else if (c == '"') {
        if (quoted && pos + 1 < line.size() && line[pos + 1] == '"') {
          word += '"';
          pos += 2;
        } else {
          quoted = !quoted;
          ++pos;
        }
      } else {
        word += c;
        ++pos;
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace kvp
