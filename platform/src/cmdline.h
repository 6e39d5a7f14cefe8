// Internal: a Windows command line split into its words, by the rules Windows
// programs read theirs with (CommandLineToArgvW and the C runtime):
//   - words are separated by blanks and tabs outside quotes;
//   - 2n backslashes before a quote give n backslashes, and the quote opens or closes
//     a quoted part; 2n+1 backslashes before a quote give n backslashes and a quote;
//     backslashes before anything else are kept as they are;
//   - inside a quoted part, "" gives one quote and the part goes on.
// The program's own word follows the same rules, so a quote in a folder name, written
// \", never ends the quoted program name early (Windows names cannot hold a quote).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvp {

std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace kvp
