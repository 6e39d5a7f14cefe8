// The live host's autostart entry: the current user's Run value "Korvane" is
// mirrored to the desktop's autostart folder ($XDG_CONFIG_HOME/autostart), so
// the program starts at logon as the Run key makes it start on Windows.
#pragma once

#include <string>
#include <vector>

namespace kvp {

// Called by the registry after a value of HKEY_CURRENT_USER was set (data
// points at the value's bytes as the caller passed them) or deleted (data is
// null). Does nothing unless this is the live host and the value is the Run
// key's "Korvane".
void MirrorRunValue(const std::vector<std::string>& keyPath, const std::string& valueName, bool text,
                    const void* data, size_t size);
// Called after a key of HKEY_CURRENT_USER was deleted.
void MirrorRunKeyDeleted(const std::vector<std::string>& keyPath);

// The desktop entry that starts commandLine (a Windows-style command line: a
// path, quoted or not, then the arguments); exposed for tests.
std::string AutostartDesktopEntry(const std::string& commandLine);
// Where the entry lives: $XDG_CONFIG_HOME/autostart/korvane.desktop, with
// ~/.config when the variable is unset or not an absolute path.
std::string AutostartFilePath();

}  // namespace kvp
