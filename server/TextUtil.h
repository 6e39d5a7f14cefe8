// Small text helpers of the update server: code page 1252 conversion, ASCII
// case folding, trimming and driver dates.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace updsrv {

// UTF-8 to Windows-1252; characters the code page lacks become '?'. Invalid
// UTF-8 bytes are taken as 1252 bytes already (a catalogue saved in 1252).
std::string Utf8ToCp1252(std::string_view utf8);

// ASCII-only lower case: hardware IDs are ASCII and 1252 letters above 0x7F
// must not change.
std::string AsciiLower(std::string_view s);

// Removes blanks (space, tab, CR, LF) at both ends.
std::string Trim(std::string_view s);

// Splits at every occurrence of sep.
std::vector<std::string> Split(std::string_view s, std::string_view sep);

// A driver date "M-D-YYYY" (leading zeros allowed, "/" accepted for "-") as
// the number YYYYMMDD; nothing when the text is no such date.
std::optional<int> ParseDriverDate(std::string_view s);

}  // namespace updsrv
