// Texts of the download dialog and the companion progress: file name from a
// URL, byte sizes, elapsed time, speed and percentage.
#pragma once

#include <cstdint>
#include <string>

// The user's decimal separator (the C library's locale until the program sets one).
char UserDecimalSeparator();
void SetUserDecimalSeparator(char separator);

// Local clock as days since 1899-12-30 (a day is 1.0), with milliseconds.
double NowDays();

// The last path segment of a URL, query string included: every "/" becomes
// "\" and the text after the last "\" or ":" is kept ("" for a URL ending in "/").
std::string FileNameFromUrl(const std::string& url);
// The save dialog's default name for url: FileNameFromUrl without leading dots, so
// that a link never suggests a hidden file (".bashrc", ".profile") or "..".
std::string SuggestedFileName(const std::string& url);

// x rounded to a multiple of step (0.01, 0.1) as x / step, round half to even, * step.
double RoundToStep(double x, double step);
// Shortest general form, up to 15 significant digits, no trailing zeros.
std::string FormatGeneral(double x, char separator = UserDecimalSeparator());

// "1.5 KB", "3 MB", "1024 B": above 1048576 in MB, above 1024 in KB, else bytes.
std::string SizeText(int64_t bytes, char separator = UserDecimalSeparator());
// (now - start) as "hh:nn:ss", hours modulo 24.
std::string ElapsedText(double startDays, double nowDays);
// Whole seconds between two moments (absolute, truncated).
int64_t WholeSecondsBetween(double aDays, double bDays);
// "Speed 50 kb/s": (current / 1024) / whole seconds, one decimal; 0 in the first second.
std::string SpeedText(int64_t current, double startDays, double nowDays, char separator = UserDecimalSeparator());
// "1024 B from 1024 KB, elapsed 00:00:00".
std::string ProgressLineText(int64_t current, int64_t total, double startDays, double nowDays,
                             char separator = UserDecimalSeparator());
// "(33%)...": current / total * 100 rounded half to even; "(0%)..." while either is 0 or less.
std::string ToolPercentText(int64_t total, int64_t current);

// The completion message of a saved package.
std::string DownloadCompletedText(const std::string& path);

constexpr const char* NotWriteableText = "Selected directory is not writeable. Select another directory.";
constexpr const char* FaqPath = "/kvn/faq";
