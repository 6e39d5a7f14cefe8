// The update check's time-stamped log and its scratch files in the temporary folder.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// File names in the temporary folder.
constexpr const char* ReportFileName = "scanres.log";
constexpr const char* PackedReportFileName = "scanres.log.gz";
constexpr const char* ExchangeLogFileName = "https.log";
constexpr const char* AnswerFileName = "answ.log";

// A wide-text log: each line is the local short date and long time, the line's
// text (which begins with a blank) and "\r\n".
class TExchangeLog {
 public:
  // Time stamp of a new line; the default is the local time now.
  std::function<std::string()> Stamp;

  void Clear() { text_.clear(); }
  void Add(std::u16string_view line);
  void Add(std::string_view line);  // 8-bit text in the system code page
  const std::u16string& Text() const { return text_; }

 private:
  std::u16string text_;
};

// Creates or overwrites path with bytes (mode 0600). The file is opened without
// following a symbolic link, so a link planted in the temporary folder is refused
// rather than written through. Throws EExchangeError on any failure.
void WriteScratchFile(const std::string& path, std::string_view bytes);
// Wide text converted to the system code page.
void WriteScratchText(const std::string& path, std::u16string_view text);

// Removes a file or symbolic link at path (never a link's target); true when
// nothing is left there.
bool RemoveScratchFile(const std::string& path);

// True when path names an existing regular file (a link is not followed).
bool ScratchFileExists(const std::string& path);
