#include "server/VendorSite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace updsrv {

std::string FaqPage() {
  return R"(<!DOCTYPE html>
<html lang="en">
<head><meta charset="windows-1252"><title>Korvane - Frequently asked questions</title></head>
<body>
<h1>Korvane: frequently asked questions</h1>
<h2>I have downloaded a driver package. What now?</h2>
<p>Open the folder you saved it to and run the package's setup program, or
point the Device Manager's "Update driver" wizard at the unpacked folder.</p>
<h2>Why does Korvane say a driver is out of date?</h2>
<p>The Brantholm update server knows a driver for one of the device's hardware
or compatible IDs that is newer than the one installed.</p>
<h2>The download stopped. What can I do?</h2>
<p>Check your Internet connection and start the download again from the
results page.</p>
</body>
</html>
)";
}

std::string SweeplineInstaller(const std::string& fallbackReg) {
  std::string quotedFallback = "'";
  for (char c : fallbackReg) {
    if (c == '\'') quotedFallback += "'\\''";
    else quotedFallback += c;
  }
  quotedFallback += "'";
  std::string script = R"SH(#!/bin/sh
# Sweepline setup. "/s" installs silently: the program goes to
#   $SWEEPLINE_DEST, or
#   $KORVANE_MACHINE/Program Files/Sweepline when KORVANE_MACHINE names a machine folder, or
#   ${XDG_DATA_HOME:-$HOME/.local/share}/korvane-sweepline
# and its folder is recorded as "InstallLocation" under
#   HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5C2E8A41-7D3B-4F96-A1E0-93B7C46D2F18}
# through korvane-reg: $KORVANE_REG, else korvane-reg beside this file, else
# on PATH, else the path the server knew. Exit codes: 0 installed, 1 failed,
# 2 not silent (this platform has no interactive setup).
silent=0
for arg in "$@"; do
  case "$arg" in
    /s|/S|-s) silent=1 ;;
  esac
done
if [ "$silent" != 1 ]; then
  echo "Sweepline setup: run with /s to install silently." >&2
  exit 2
fi

fallback=@FALLBACK@
reg=""
if [ -n "${KORVANE_REG:-}" ]; then
  reg="$KORVANE_REG"
elif [ -x "$(dirname "$0")/korvane-reg" ]; then
  reg="$(dirname "$0")/korvane-reg"
elif command -v korvane-reg >/dev/null 2>&1; then
  reg="$(command -v korvane-reg)"
elif [ -n "$fallback" ] && [ -x "$fallback" ]; then
  reg="$fallback"
fi
if [ -z "$reg" ]; then
  echo "Sweepline setup: korvane-reg not found (set KORVANE_REG)." >&2
  exit 1
fi

if [ -n "${SWEEPLINE_DEST:-}" ]; then
  dest="$SWEEPLINE_DEST"
elif [ -n "${KORVANE_MACHINE:-}" ] && [ "$KORVANE_MACHINE" != host ] && [ -d "$KORVANE_MACHINE" ]; then
  dest="$KORVANE_MACHINE/Program Files/Sweepline"
else
  dest="${XDG_DATA_HOME:-$HOME/.local/share}/korvane-sweepline"
fi
case "$dest" in
  /*) ;;
  *) dest="$(pwd)/$dest" ;;
esac

mkdir -p "$dest" || exit 1
tmp="$dest/.Sweepline.exe.$$"
cat > "$tmp" <<'PROGRAM' || exit 1
#!/bin/sh
# Sweepline (stand-in on this platform): notes each start in sweepline.log
# beside itself and ends.
here="$(cd "$(dirname "$0")" && pwd)"
echo "started $(date '+%Y-%m-%d %H:%M:%S') $*" >> "$here/sweepline.log"
exit 0
PROGRAM
chmod 755 "$tmp" && mv -f "$tmp" "$dest/Sweepline.exe" || exit 1

"$reg" add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5C2E8A41-7D3B-4F96-A1E0-93B7C46D2F18}' \
  /v InstallLocation /t REG_SZ /d "$dest" /f >/dev/null || exit 1
"$reg" add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\{5C2E8A41-7D3B-4F96-A1E0-93B7C46D2F18}' \
  /v DisplayName /t REG_SZ /d "Sweepline" /f >/dev/null || exit 1
exit 0
)SH";
  const std::string marker = "@FALLBACK@";
  script.replace(script.find(marker), marker.size(), quotedFallback);
  return script;
}

bool EnsurePackage(TOwnedFiles& owned, const std::string& name, uint64_t size, bool exactSize,
                   std::string* note) {
  const std::string rel = "packages/" + name;
  const std::string dir = owned.Path("packages");
  const std::string path = owned.Path(rel);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISREG(st.st_mode) && (!exactSize || static_cast<uint64_t>(st.st_size) == size))
      return false;
    if (!owned.Made(rel)) {
      if (note)
        *note = path + " is not the declared " + std::to_string(size) +
                " bytes but was not made by this server; it is served as it is";
      return false;
    }
  }
  ::mkdir(dir.c_str(), 0755);
  const std::string tmp = path + ".part" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create package " + tmp);
  // One MiB of xorshift64 bytes seeded by the name's FNV-1a hash, repeated
  // with each block's number in its first eight bytes: the same name always
  // gives the same bytes (downloads compare across restarts), no two blocks
  // are equal, and large packages cost little more than the disk writes.
  uint64_t x = 1469598103934665603ull;
  for (unsigned char c : name) x = (x ^ c) * 1099511628211ull;
  if (x == 0) x = 1;
  std::vector<unsigned char> buf(1 << 20);
  for (size_t i = 0; i + 8 <= buf.size(); i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(&buf[i], &x, 8);
  }
  const std::string head = "Korvane demo driver package " + name + "\n";
  uint64_t written = 0;
  uint64_t block = 0;
  while (written < size) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), size - written));
    if (block == 0) {
      std::memcpy(buf.data(), head.data(), std::min(head.size(), buf.size()));
    } else {
      std::memcpy(buf.data(), &block, 8);
    }
    ++block;
    size_t done = 0;
    while (done < n) {
      ssize_t w = ::write(fd, buf.data() + done, n - done);
      if (w <= 0) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw std::runtime_error("cannot write package " + tmp);
      }
      done += static_cast<size_t>(w);
    }
    written += n;
  }
  if (::close(fd) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot write package " + path);
  }
  owned.Record(rel);
  return true;
}

}  // namespace updsrv
