// Text conversions between code-page text (std::string), wide text and UTF-8.
#pragma once

#include <string>
#include <string_view>

std::u16string AnsiToWide(std::string_view text);
std::string WideToAnsi(std::u16string_view text);
std::string AnsiToUtf8(std::string_view text);
std::string Utf8ToAnsi(std::string_view text);

// The locale-aware word sort of lstrcmpA/lstrcmpiA on code-page text: <0, 0 or >0.
int KorvaneCompareAnsi(std::string_view a, std::string_view b, bool ignoreCase);
