#!/usr/bin/env bash
# The real program under Xvfb with the AT-SPI accessibility bus, read and driven by
# a real AT-SPI client (tests/ui/a11y/atspi_client.py: pyatspi for what is shown,
# xdotool key events alone for what is done), against the reference update server.
#   atspi_test.sh SOURCE_DIR BUILD_DIR [--read]
# With --read the client reads and presses buttons through AT-SPI only.
# Exit 77 (skipped) when a component is missing (scripts/bootstrap installs them).
set -uo pipefail
src="$1"
build="$2"
app="$build/app/korvane"
server="$build/server/korvane-updsrv"
reg="$build/tools/korvane-reg/korvane-reg"
launcher=""
for l in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [[ -x "$l" ]] && launcher="$l" && break
done
# Debian's Python, where python3-pyatspi installs (a python3 earlier on PATH may be another).
py=/usr/bin/python3
[[ -x "$py" ]] || py="$(command -v python3 || true)"
[[ -n "$py" ]] || { echo "skipped: python3 is not installed"; exit 77; }
for tool in Xvfb dbus-daemon xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[[ -n "$launcher" ]] || { echo "skipped: at-spi2-core is not installed"; exit 77; }
"$py" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }

work="$(mktemp -d "${TMPDIR:-/tmp}/korvane-atspi.XXXXXX")"
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  if [[ -n "${DBUS_SESSION_BUS_PID:-}" ]]; then kill "$DBUS_SESSION_BUS_PID" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run" XDG_DOWNLOAD_DIR="$work/downloads"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_DOWNLOAD_DIR"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS

# The display.
exec 5<> <(:)
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
display=""
for _ in $(seq 100); do
  display="$(head -n1 <&5 2>/dev/null || true)"
  [[ -n "$display" ]] && break
  sleep 0.1
done
[[ -n "$display" ]] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$display"

# A private session bus, and the accessibility bus through it.
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | {
  read -r address; read -r pid; echo "export DBUS_SESSION_BUS_ADDRESS='$address' DBUS_SESSION_BUS_PID=$pid"; })"
[[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]] || { echo "FAIL: no session bus"; exit 1; }
"$launcher" --launch-immediately >"$work/atspi.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
  sleep 0.1
done
dbus-send --session --type=method_call --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
  string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null 2>&1 || true

# The reference server and the machine the program shows.
"$server" --data "$work/server" --catalogue "$src/tests/ui/pages/catalogue.txt" --http 127.0.0.1:0 \
  --https 127.0.0.1:0 >"$work/ports" 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 100); do grep -q '^https=' "$work/ports" 2>/dev/null && break; sleep 0.1; done
http_port="$(sed -n 's/^http=//p' "$work/ports")"
https_port="$(sed -n 's/^https=//p' "$work/ports")"
[[ -n "$http_port" && -n "$https_port" ]] || { echo "FAIL: the update server did not start"; cat "$work/server.log"; exit 1; }
cp -r "$src/tests/machines/xp-desktop" "$work/machine"
export KORVANE_MACHINE="$work/machine"
key='HKCU\Software\Brantholm\Korvane'
"$reg" add "$key" /v UpdateURL /t REG_SZ /d "http://127.0.0.1:$http_port" /f >/dev/null
"$reg" add "$key" /v SecureUpdateURL /t REG_SZ /d "https://127.0.0.1:$https_port" /f >/dev/null
"$reg" add "$key" /v VendorURL /t REG_SZ /d "http://127.0.0.1:$http_port" /f >/dev/null
# Close ends the program (rather than hiding it in the notification area).
"$reg" add "$key" /v CloseToTray /t REG_DWORD /d 0 /f >/dev/null

# (Under AddressSanitizer the accessibility bridge's bus connections, which live until
# the process is gone, are no leak of the program's: leak checks are left to the
# other tests.)
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
  QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 "$app" >"$work/korvane.log" 2>&1 &
app_pid=$!
pids+=($app_pid)

"$py" "$src/tests/ui/a11y/atspi_client.py" "$XDG_DOWNLOAD_DIR" "${3:-}"
client=$?
if [[ $client != 0 ]]; then
  echo "--- korvane ---"; cat "$work/korvane.log"
  exit 1
fi
# Close was the last window: the program ends by itself.
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then echo "FAIL: the program still runs after Close"; exit 1; fi
wait "$app_pid"
status=$?
[[ $status == 0 ]] || { echo "FAIL: the program ended with status $status"; cat "$work/korvane.log"; exit 1; }
echo "ok: the program ended"
