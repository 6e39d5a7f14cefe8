// Text conversions between code-page text (std::string), wide text and UTF-8.
#pragma once

#include <string>
#include <string_view>

std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);
