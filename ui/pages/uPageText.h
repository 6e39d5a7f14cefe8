// Small pure rules the pages share: percentages, the diagram picture number,
// the last-scan date text, the list's truncation and the update dialog's dates.
#pragma once

#include "core/uDateTime.h"
#include "scan/uScanFinish.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

// Colours of the pages.
constexpr int kTitleRed = 38, kTitleGreen = 123, kTitleBlue = 191;  // titles and captions

// "Monday, July 23, 2007, 04:19 pm" (English day and month names, 12-hour clock).
std::string LastScanDateText(const TLocalDateTime& dt);
// The stored LastScan as the start page shows it: the text above, or "undefined"
// when it cannot be read as a date and time.
std::string LastScanLabelText(const std::string& lastScan);

// Every "-" replaced by "/" (7-1-2006 becomes 7/1/2006).
std::string DashesToSlashes(std::string_view date);

// The list's truncation rule: `text` whole when width(text) + margin <= columnWidth,
// otherwise the longest prefix t with width(t + "...") + margin <= columnWidth (or the
// empty prefix), followed by "...".
QString TruncateToColumn(const QString& text, int margin, int columnWidth,
                         const std::function<int(const QString&)>& width);

// Label text for a page: code-page text to QString, with the "\n\r" line breaks
// of the system facts shown as one line break.
QString PageText(const std::string& ansi);
