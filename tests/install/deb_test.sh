#!/usr/bin/env bash
# The Debian package as a user gets it: built by CPack, its control data checked, unpacked
# with dpkg-deb into a scratch root, and the installed programs run from there (the demo
# check against the installed update server, the window program finding itself, its
# menu entry and icons).
set -euo pipefail
build="$1"
cpack="${2:-cpack}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kvdeb.XXXXXX")"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/korvane_*.deb)
deb="${debs[0]}"
[[ -f "$deb" ]] || fail "no korvane_*.deb"
[[ "$(basename "$deb")" == "korvane_1.0.0_$(dpkg --print-architecture).deb" ]] || fail "file name $(basename "$deb")"

# Control data: the shared libraries' packages and what the program starts.
[[ "$(dpkg-deb -f "$deb" Package)" == korvane ]] || fail "Package"
[[ "$(dpkg-deb -f "$deb" Version)" == 1.0.0 ]] || fail "Version"
depends="$(dpkg-deb -f "$deb" Depends)"
for want in libc6 libqt6widgets6 libssl3 libjpeg62-turbo libgif7 zlib1g xdg-utils; do
  [[ ", $depends," == *", $want"[\ ,]* ]] || fail "Depends lacks $want: $depends"
done
# apt resolves every dependency (simulated, nothing is installed).
apt-get install -s -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt cannot resolve"; }

root="$work/root"
dpkg-deb -x "$deb" "$root"
lib="$root/usr/lib/korvane"
for p in korvane korvane-check korvane-reg korvane-updsrv; do
  [[ -x "$lib/$p" ]] || fail "$p not in /usr/lib/korvane"
  [[ "$(readlink "$root/usr/bin/$p")" == "../lib/korvane/$p" ]] || fail "/usr/bin/$p is no link to it"
  [[ -f "$root/usr/share/man/man1/$p.1" ]] || fail "no manual page for $p"
  man -l "$root/usr/share/man/man1/$p.1" >/dev/null 2>&1 </dev/null || fail "manual page of $p"
done
[[ -f "$lib/libSysInfoDll.so" && -f "$lib/help.chm" ]] || fail "library or help missing"
# The programs take the library beside them, not the build's (started through their
# links below, the loader finds their real folder the same way).
for p in korvane korvane-check; do
  libs="$(ldd "$lib/$p")"
  [[ "$libs" == *"libSysInfoDll.so => $lib/libSysInfoDll.so"* ]] ||
    { echo "$libs" >&2; fail "$p does not take libSysInfoDll.so from /usr/lib/korvane"; }
done

desktop="$root/usr/share/applications/korvane.desktop"
desktop-file-validate "$desktop" || fail "desktop entry"
grep -qx 'Exec="/usr/bin/korvane"' "$desktop" || fail "Exec: $(grep ^Exec "$desktop")"
grep -qx 'Icon=korvane' "$desktop" || fail "Icon"
for s in 16 22 24 32 48 64 128 256; do
  icon="$root/usr/share/icons/hicolor/${s}x${s}/apps/korvane.png"
  [[ "$(identify -format '%m %wx%h' "$icon" 2>/dev/null)" == "PNG ${s}x${s}" ]] || fail "icon $s"
done

# The demo from the package: the installed server with the installed catalogue, the
# installed check of the installed demo machine.
machine="$work/xp-desktop"
cp -r "$root/usr/share/korvane/demo/machines/xp-desktop" "$machine"
export KORVANE_MACHINE="$machine" XDG_DATA_HOME="$work/xdg"
"$root/usr/bin/korvane-updsrv" --data "$work/srv" --catalogue "$root/usr/share/korvane/demo/catalogue.txt" \
  --messages "$root/usr/share/korvane/demo/usermsg.txt" --http 127.0.0.1:0 --https 127.0.0.1:0 \
  >"$work/ports" 2>"$work/srv.log" &
pids+=($!)
for _ in $(seq 100); do grep -q '^https=' "$work/ports" 2>/dev/null && break; sleep 0.1; done
http="$(sed -n 's/^http=//p' "$work/ports")"
https="$(sed -n 's/^https=//p' "$work/ports")"
[[ -n "$http" && -n "$https" ]] || { cat "$work/srv.log" >&2; fail "installed server did not start"; }
key='HKCU\Software\Brantholm\Korvane'
"$root/usr/bin/korvane-reg" add "$key" /v UpdateURL /t REG_SZ /d "http://127.0.0.1:$http" /f >/dev/null
"$root/usr/bin/korvane-reg" add "$key" /v SecureUpdateURL /t REG_SZ /d "https://127.0.0.1:$https" /f >/dev/null
# Status 100: checked, and the demo catalogue finds drivers out of date.
status=0
"$root/usr/bin/korvane-check" --exchange </dev/null >"$work/check.out" 2>"$work/check.err" || status=$?
[[ "$status" == 100 ]] ||
  { cat "$work/check.out" "$work/check.err" >&2; fail "installed korvane-check --exchange: status $status"; }
grep -q "NVIDIA" "$work/check.out" || { cat "$work/check.out" >&2; fail "check output"; }
grep -q "6.14.11.7813" "$work/check.out" || { cat "$work/check.out" >&2; fail "no newer driver named"; }

# The window program starts from its link, knows itself by its real place, and writes
# that place into its autorun entry.
QT_QPA_PLATFORM=offscreen "$root/usr/bin/korvane" -t >"$work/app.log" 2>&1 &
app=$!
pids+=($app)
run=""
for _ in $(seq 200); do
  run="$("$root/usr/bin/korvane-reg" query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Korvane 2>/dev/null || true)"
  [[ "$run" == *"$lib/korvane -t"* ]] && break
  kill -0 "$app" 2>/dev/null || { cat "$work/app.log" >&2; fail "korvane ended"; }
  sleep 0.1
done
[[ "$run" == *"$lib/korvane -t"* ]] || { echo "$run"; cat "$work/app.log" >&2; fail "autorun entry"; }

# Under a real X server the window's class is the one the menu entry names.
kill "$app"; wait "$app" 2>/dev/null || true
# Xvfb now and then dies while announcing its display, or soon after, under load: the
# display and the program are tried again.
want="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
class=""
unset QT_QPA_PLATFORM
for _ in 1 2 3 4; do
  rm -f "$work/display"
  Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$work/display" 2>/dev/null &
  xvfb=$!
  pids+=($xvfb)
  for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$work/display" 2>/dev/null)"
  for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
  "$root/usr/bin/korvane" >"$work/app.log" 2>&1 &
  app=$!
  pids+=($app)
  for _ in $(seq 200); do
    for id in $(xwininfo -root -children 2>/dev/null | awk '/"Korvane"/ {print $1}'); do
      c="$(xprop -id "$id" WM_CLASS 2>/dev/null || true)"
      [[ "$c" == *'"'* ]] && class="$c"
      [[ "$c" == *"\"$want\""* ]] && break 3
    done
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  kill "$app" "$xvfb" 2>/dev/null || true
  wait "$app" "$xvfb" 2>/dev/null || true
done
[[ "$class" == *"\"$want\""* ]] || { cat "$work/app.log" >&2; fail "WM_CLASS $class, StartupWMClass $want"; }
echo "deb test: the package installs, validates and runs"
