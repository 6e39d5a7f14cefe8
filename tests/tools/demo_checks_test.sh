#!/usr/bin/env bash
# The demo's two checks, headless, on the tree already built: a check that worked
# reads as such (korvane-check's status 100 means drivers out of date, no failure),
# and the demo leaves no address of its short-lived server in the host's settings.
#   demo_checks_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$1"
build="$2"
out="$(KORVANE_BUILD_DIR="$build" bash "$src/scripts/demo" --checks-only 2>&1)"
status=$?
fail() {
  echo "FAIL: $*"
  echo "--- demo output ---"
  echo "$out"
  exit 1
}
[[ $status == 0 ]] || fail "the demo's checks ended with status $status"
if grep -q "failed" <<<"$out"; then fail "the demo says \"failed\""; fi
grep -q "^(the check of this machine worked: " <<<"$out" || fail "no verdict for this machine"
grep -qF "(the check of the demo machine worked: some drivers are out of date, so korvane-check ends with status 100)" \
  <<<"$out" || fail "the demo machine's out-of-date drivers are not told in plain words"
grep -q "\[out of date\]" <<<"$out" || fail "no out-of-date driver listed for the demo machine"
(unset KORVANE_MACHINE; "$build/tools/korvane-reg/korvane-reg" query 'HKCU\Software\Brantholm\Korvane' /v UpdateURL \
  >/dev/null 2>&1) && fail "the host's settings still name the demo's server"
echo "ok"
