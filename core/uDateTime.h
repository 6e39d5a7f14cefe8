// Date and time text in the user's locale: short date "M/d/yyyy", long time
// "h:mm:ss tt" (the US-English defaults this platform uses).
#pragma once

#include <ctime>
#include <optional>
#include <string>

struct TLocalDateTime {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0;
};

// The local time now.
TLocalDateTime NowLocal();
TLocalDateTime ToLocalDateTime(std::time_t t);

// "M/d/yyyy".
std::string FormatShortDate(const TLocalDateTime& dt);
// "h:mm:ss AM" / "h:mm:ss PM".
std::string FormatLongTime(const TLocalDateTime& dt);
// Short date, a blank and long time; the time is left out at exactly midnight.
std::string FormatDateTime(const TLocalDateTime& dt);
// Parses what FormatDateTime writes (time optional); nullopt for anything else.
std::optional<TLocalDateTime> ParseDateTime(const std::string& text);
