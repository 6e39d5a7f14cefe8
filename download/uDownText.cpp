#include "download/uDownText.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <locale.h>

namespace {

std::atomic<char> gSeparator{'\0'};

}  // namespace

char UserDecimalSeparator() {
  const char set = gSeparator.load();
  if (set) return set;
  const lconv* lc = ::localeconv();
  return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
}

void SetUserDecimalSeparator(char separator) { gSeparator.store(separator); }

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

double NowDays() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const int64_t ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &secs);
#else
  ::localtime_r(&secs, &local);
#endif
  // The local wall clock read as if it were UTC: what a TDateTime of local time counts.
  const int64_t localSecs = DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                          static_cast<unsigned>(local.tm_mday)) *
                                86400 +
                            local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  const double localMs = static_cast<double>(localSecs) * 1000.0 + static_cast<double>(ms % 1000);
  return 25569.0 + localMs / 86400000.0;
}

std::string FileNameFromUrl(const std::string& url) {
  std::string s = url;
  for (char& c : s)
    if (c == '/') c = '\\';
  const size_t cut = s.find_last_of("\\:");
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

std::string SuggestedFileName(const std::string& url) {
  const std::string name = FileNameFromUrl(url);
  const size_t first = name.find_first_not_of('.');
  return first == std::string::npos ? std::string() : name.substr(first);
}

double RoundToStep(double x, double step) { return std::nearbyint(x / step) * step; }

std::string FormatGeneral(double x, char separator) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", x);
  std::string s = buf;
  if (s == "-0") s = "0";
  for (char& c : s)
    if (c == '.' || c == ',') c = separator;
  return s;
}

std::string SizeText(int64_t bytes, char separator) {
  const double n = static_cast<double>(bytes);
  if (bytes > 1048576) return FormatGeneral(RoundToStep(n / 1024 / 1024, 0.01), separator) + " MB";
  if (bytes > 1024) return FormatGeneral(RoundToStep(n / 1024, 0.01), separator) + " KB";
  return FormatGeneral(n, separator) + " B";
}

std::string ElapsedText(double startDays, double nowDays) {
  double diff = nowDays - startDays;
  if (diff < 0) diff = 0;  // a clock set back shows zero rather than nonsense
  const int64_t secs = std::llround(diff * 86400000.0) / 1000;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>((secs / 3600) % 24),
                static_cast<int>((secs / 60) % 60), static_cast<int>(secs % 60));
  return buf;
}

int64_t WholeSecondsBetween(double aDays, double bDays) {
  // Milliseconds first, so that ten seconds stay ten after the day fractions.
  return std::llround(std::fabs(aDays - bDays) * 86400000.0) / 1000;
}

std::string SpeedText(int64_t current, double startDays, double nowDays, char separator) {
  const int64_t s = WholeSecondsBetween(startDays, nowDays);
  double speed = 0;
  if (s > 0) speed = RoundToStep((static_cast<double>(current) / 1024) / static_cast<double>(s), 0.1);
  return "Speed " + FormatGeneral(speed, separator) + " kb/s";
}

std::string ProgressLineText(int64_t current, int64_t total, double startDays, double nowDays, char separator) {
  return SizeText(current, separator) + " from " + SizeText(total, separator) + ", elapsed " +
         ElapsedText(startDays, nowDays);
}

std::string ToolPercentText(int64_t total, int64_t current) {
  if (total <= 0 || current <= 0) return "(0%)...";
  const double p = std::nearbyint(static_cast<double>(current) / static_cast<double>(total) * 100.0);
  return "(" + std::to_string(static_cast<int64_t>(p)) + "%)...";
}

std::string DownloadCompletedText(const std::string& path) {
  return "Downloading completed. File has been saved to \r\n" + path + "\r\n" + "\r\n" +
         "If you have any questions please read our FAQ:";
}
