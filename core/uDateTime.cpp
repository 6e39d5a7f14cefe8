#include "core/uDateTime.h"

#include <cctype>
#include <cstdio>

TLocalDateTime ToLocalDateTime(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  TLocalDateTime dt;
  dt.Year = tm.tm_year + 1900;
  dt.Month = tm.tm_mon + 1;
  dt.Day = tm.tm_mday;
  dt.Hour = tm.tm_hour;
  dt.Minute = tm.tm_min;
  dt.Second = tm.tm_sec;
  return dt;
}

TLocalDateTime NowLocal() { return ToLocalDateTime(std::time(nullptr)); }

std::string FormatShortDate(const TLocalDateTime& dt) {
  return std::to_string(dt.Month) + "/" + std::to_string(dt.Day) + "/" +
         (dt.Year < 1000 ? std::string(4 - std::to_string(dt.Year).size(), '0') : std::string()) +
         std::to_string(dt.Year);
}

std::string FormatLongTime(const TLocalDateTime& dt) {
  int h12 = dt.Hour % 12;
  if (h12 == 0) h12 = 12;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, dt.Minute, dt.Second,
                dt.Hour < 12 ? "AM" : "PM");
  return buf;
}

std::string FormatDateTime(const TLocalDateTime& dt) {
  if (dt.Hour == 0 && dt.Minute == 0 && dt.Second == 0) return FormatShortDate(dt);
  return FormatShortDate(dt) + " " + FormatLongTime(dt);
}

namespace {

// Reads 1..maxDigits decimal digits at pos.
bool ReadNumber(const std::string& s, std::size_t& pos, int minDigits, int maxDigits, int& out) {
  int n = 0, digits = 0;
  while (pos < s.size() && digits < maxDigits && std::isdigit(static_cast<unsigned char>(s[pos]))) {
    n = n * 10 + (s[pos] - '0');
    ++pos;
    ++digits;
  }
  if (digits < minDigits) return false;
  out = n;
  return true;
}

bool Expect(const std::string& s, std::size_t& pos, char c) {
  if (pos < s.size() && s[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return days[m - 1];
}

}  // namespace

std::optional<TLocalDateTime> ParseDateTime(const std::string& text) {
  TLocalDateTime dt;
  std::size_t pos = 0;
  if (!ReadNumber(text, pos, 1, 2, dt.Month) || !Expect(text, pos, '/') ||
      !ReadNumber(text, pos, 1, 2, dt.Day) || !Expect(text, pos, '/') ||
      !ReadNumber(text, pos, 4, 4, dt.Year))
    return std::nullopt;
  if (dt.Month < 1 || dt.Month > 12 || dt.Year < 1 || dt.Day < 1 ||
      dt.Day > DaysInMonth(dt.Year, dt.Month))
    return std::nullopt;
  if (pos == text.size()) return dt;
  int h = 0;
  if (!Expect(text, pos, ' ') || !ReadNumber(text, pos, 1, 2, h) || !Expect(text, pos, ':') ||
      !ReadNumber(text, pos, 2, 2, dt.Minute) || !Expect(text, pos, ':') ||
      !ReadNumber(text, pos, 2, 2, dt.Second) || !Expect(text, pos, ' '))
    return std::nullopt;
  if (text.size() - pos != 2) return std::nullopt;
  char a = static_cast<char>(std::toupper(static_cast<unsigned char>(text[pos])));
  char m = static_cast<char>(std::toupper(static_cast<unsigned char>(text[pos + 1])));
  if ((a != 'A' && a != 'P') || m != 'M') return std::nullopt;
  if (h < 1 || h > 12 || dt.Minute > 59 || dt.Second > 59) return std::nullopt;
  dt.Hour = (h % 12) + (a == 'P' ? 12 : 0);
  return dt;
}
