// Code-page text (the program's 8-bit text) to and from Qt strings, through
// the platform's code page, never through Latin-1 or UTF-8.
#pragma once

#include <QString>

#include <string>

QString AnsiToQ(const std::string& text);
std::string QToAnsi(const QString& text);
