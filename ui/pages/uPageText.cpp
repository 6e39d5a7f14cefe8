#include "ui/pages/uPageText.h"

#include "ui/widgets/uText.h"

#include <cmath>
#include <cstdio>

namespace {

const char* const kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                 "July",    "August",   "September", "October", "November", "December"};

// 0 = Sunday (Sakamoto's method).
int DayOfWeek(int y, int m, int d) {
  static const int t[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

}  // namespace

std::string LastScanDateText(const TLocalDateTime& dt) {
  if (dt.Month < 1 || dt.Month > 12) return std::string();
  int hour12 = dt.Hour % 12;
  if (hour12 == 0) hour12 = 12;  // noon and midnight both read 12
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s, %s %02d, %04d, %02d:%02d %s", kDays[DayOfWeek(dt.Year, dt.Month, dt.Day)],
                kMonths[dt.Month - 1], dt.Day, dt.Year, hour12, dt.Minute, dt.Hour < 12 ? "am" : "pm");
  return buf;
}

std::string LastScanLabelText(const std::string& lastScan) {
  const std::optional<TLocalDateTime> dt = ParseDateTime(lastScan);
  if (!dt) return "undefined";
  return LastScanDateText(*dt);
}

std::string DashesToSlashes(std::string_view date) {
  std::string text(date);
  for (char& c : text)
    if (c == '-') c = '/';
  return text;
}

QString TruncateToColumn(const QString& text, int margin, int columnWidth,
                         const std::function<int(const QString&)>& width) {
  if (width(text) + margin <= columnWidth) return text;
  QString t = text;
  const QString dots = QStringLiteral("...");
  while (!t.isEmpty() && width(t + dots) + margin > columnWidth) t.chop(1);
  return t + dots;
}

QString PageText(const std::string& ansi) {
  QString q = AnsiToQ(ansi);
  q.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  q.remove(QLatin1Char('\r'));
  return q;
}
