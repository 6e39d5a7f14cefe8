// The update check's time-stamped log and its scratch files in the temporary folder.
#pragma once

#include "core/uScratchFile.h"

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

// Creates or overwrites path with bytes (WriteScratchBytes: a link planted in the
// temporary folder is replaced, never written through). Throws EExchangeError on any
// failure.
void WriteScratchFile(const std::string& path, std::string_view bytes);
// Wide text converted to the system code page.
void WriteScratchText(const std::string& path, std::u16string_view text);
