#include "scan/uExchangeLog.h"

#include "core/uDateTime.h"
#include "scan/uExchange.h"

#include <korvane_text.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void TExchangeLog::Add(std::u16string_view line) {
  std::string stamp;
  if (Stamp) {
    stamp = Stamp();
  } else {
    const TLocalDateTime now = NowLocal();
    stamp = FormatShortDate(now) + " " + FormatLongTime(now);
  }
  text_ += AnsiToWide(stamp);
  text_ += line;
  text_ += u"\r\n";
}

void TExchangeLog::Add(std::string_view line) { Add(std::u16string_view(AnsiToWide(line))); }

void WriteScratchFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    throw EExchangeError("Cannot create " + path + ": " + std::strerror(errno));
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      throw EExchangeError("Cannot write " + path + ": " + std::strerror(err));
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0)
    throw EExchangeError("Cannot write " + path + ": " + std::strerror(errno));
}

void WriteScratchText(const std::string& path, std::u16string_view text) {
  WriteScratchFile(path, WideToAnsi(text));
}

bool RemoveScratchFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool ScratchFileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
