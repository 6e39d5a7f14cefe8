#include "scan/uExchangeLog.h"

#include "core/uDateTime.h"
#include "scan/uExchange.h"

#include <korvane_text.h>

#include "core/uOSError.h"

void TExchangeLog::Add(std::u16string_view line) {
  std::string stamp;
  if (Stamp) {
    stamp = Stamp();
  } else {
    const TLocalDateTime now = NowLocal();
    stamp = FormatShortDate(now) + " " + FormatLongTime(now);
  }
  text_ += AnsiToWide(stamp);
  text_ += line;
  text_ += u"\r\n";
}

void TExchangeLog::Add(std::string_view line) { Add(std::u16string_view(AnsiToWide(line))); }

void WriteScratchFile(const std::string& path, std::string_view bytes) {
  const DWORD error = WriteScratchBytes(path, bytes);
  if (error != ERROR_SUCCESS) throw EExchangeError("Cannot write " + path + ": " + OSErrorText(error));
}

void WriteScratchText(const std::string& path, std::u16string_view text) {
  WriteScratchFile(path, WideToAnsi(text));
}
