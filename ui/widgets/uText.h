// Code-page text (the program's 8-bit text) to and from Qt strings, through
// the platform's code page, never through Latin-1 or UTF-8.
#pragma once

#include <QString>

#include <string>
#include <string_view>

QString AnsiToQ(std::string_view text);
std::string QToAnsi(const QString& text);
