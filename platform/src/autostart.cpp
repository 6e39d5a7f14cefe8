// The Run value "Korvane" on the live host, mirrored to the desktop's autostart
// folder. Machine folders keep the value in user.reg only: they are not the
// desktop the program runs on.
#include "autostart.h"

#include "internal.h"

#include <korvane_file.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvp {

namespace {

const char* const kRunKey[] = {"Software", "Microsoft", "Windows", "CurrentVersion", "Run"};
constexpr const char* kValueName = "Korvane";
constexpr const char* kFileName = "korvane.desktop";

bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool IsRunKey(const std::vector<std::string>& path) {
  constexpr size_t n = sizeof kRunKey / sizeof kRunKey[0];
  if (path.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (!SameName(path[i], kRunKey[i])) return false;
  return true;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return home;
  if (const passwd* pw = getpwuid(getuid()))
    if (pw->pw_dir && *pw->pw_dir == '/') return pw->pw_dir;
  return {};
}

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;  // a relative value is invalid and ignored
  std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.config";
}

// Characters that oblige an Exec argument to be quoted.
bool NeedsQuotes(const std::string& arg) {
  if (arg.empty()) return true;
  return arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
}

// One Exec argument: quoted where needed (with ", `, $ and \ escaped inside
// the quotes), % doubled, then the escapes every string value of a desktop
// entry takes (\\, \n, \t, \r), which are undone before the quoting is read.
std::string ExecArgument(const std::string& arg, bool alwaysQuote) {
  std::string quoted;
  const bool quote = alwaysQuote || NeedsQuotes(arg);
  if (quote) quoted += '"';
  for (char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted += '\\';
    quoted += c;
    if (c == '%') quoted += '%';
  }
  if (quote) quoted += '"';
  std::string out;
  for (char c : quoted) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// A Windows command line as the Run key holds it: a quoted path, or an
// unquoted one followed by " -t" (the program's own form), or a bare path.
void SplitCommandLine(const std::string& line, std::string& path, std::vector<std::string>& args) {
  std::string rest;
  if (!line.empty() && line[0] == '"') {
    const size_t close = line.find('"', 1);
    path = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    rest = close == std::string::npos ? std::string() : line.substr(close + 1);
  } else if (line.size() > 3 && line.compare(line.size() - 3, 3, " -t") == 0) {
    path = line.substr(0, line.size() - 3);
    rest = "-t";
  } else {
    path = line;
  }
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && rest[i] == ' ') ++i;
    size_t j = rest.find(' ', i);
    if (j == std::string::npos) j = rest.size();
    if (j > i) args.push_back(rest.substr(i, j - i));
    i = j;
  }
}

bool SameContent(const std::string& path, const std::string& text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string have;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) have.append(buf, static_cast<size_t>(n));
  close(fd);
  return n == 0 && have == text;
}

// Replaced in one step, so a desktop reading it at logon never sees half of it.
void WriteEntry(const std::string& text) {
  const std::string config = ConfigHome();
  if (config.empty()) return;
  const std::string dir = config + "/autostart";
  if (!MakeDirs(config, 0700) || !MakeDirs(dir, 0700)) {
    ReportError("cannot create the autostart folder " + dir);
    return;
  }
  const std::string path = dir + "/" + kFileName;
  if (SameContent(path, text)) return;
  if (!KorvaneReplaceFile(path, text))
    ReportError("cannot write the autostart entry " + path + " (error " + std::to_string(GetLastError()) +
                ")");
}

void RemoveEntry() {
  const std::string path = AutostartFilePath();
  if (!path.empty() && unlink(path.c_str()) != 0 && errno != ENOENT)
    ReportError("cannot remove the autostart entry " + path + ": " + std::strerror(errno));
}

}  // namespace

std::string AutostartFilePath() {
  const std::string config = ConfigHome();
  return config.empty() ? std::string() : config + "/autostart/" + kFileName;
}

std::string AutostartDesktopEntry(const std::string& commandLine) {
  std::string path;
  std::vector<std::string> args;
  SplitCommandLine(commandLine, path, args);
  std::string exec = ExecArgument(path, true);
  for (const auto& a : args) exec += " " + ExecArgument(a, false);
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Korvane\n"
         "Comment=Checks the device drivers for updates\n"
         "Exec=" + exec + "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

void MirrorRunValue(const std::vector<std::string>& keyPath, const std::string& valueName, bool text,
                    const void* data, size_t size) {
  if (!SameName(valueName, kValueName) || !IsRunKey(keyPath) || !CurrentMachine().host) return;
  if (!data) {
    RemoveEntry();
    return;
  }
  // The text up to its terminating NUL; a value of another type starts nothing.
  std::string line(static_cast<const char*>(data), size);
  line = line.substr(0, line.find('\0'));
  if (!text || line.empty())
    RemoveEntry();
  else
    WriteEntry(AutostartDesktopEntry(line));
}

void MirrorRunKeyDeleted(const std::vector<std::string>& keyPath) {
  if (IsRunKey(keyPath) && CurrentMachine().host) RemoveEntry();
}

}  // namespace kvp
