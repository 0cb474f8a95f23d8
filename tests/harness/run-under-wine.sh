#!/bin/sh
# Runs one Windows test executable under Wine for ctest.
#   run-under-wine.sh <test.exe> [test arguments...]
# Environment: WINEPREFIX (a private prefix), VEK_WINE (the wine64 binary),
# WINEDEBUG, CUPS_SERVER, VEK_TEST_SINK_DIR.
#
# Wine reads the CUPS queue list when its session starts, so any wineserver
# left over for this prefix is stopped first. The output goes to a file and
# is printed afterwards: a lingering wineserver could otherwise hold ctest's
# pipe open after the test has ended.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 <test.exe> [test arguments...]" >&2
    exit 2
fi
exe=$1
shift
: "${WINEPREFIX:?WINEPREFIX must name a private Wine prefix}"
wine=${VEK_WINE:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"

mkdir -p "$WINEPREFIX"
output=$(mktemp "${TMPDIR:-/tmp}/vek-wine-output.XXXXXX") || exit 2
trap 'rm -f "$output"' EXIT

"$wineserver" -k >/dev/null 2>&1 || true
"$wine" "$exe" "$@" </dev/null >"$output" 2>&1
status=$?
"$wineserver" -k >/dev/null 2>&1 || true

cat "$output"
# Wine's crash handler can end a crashed program with status 0.
if [ "$status" -eq 0 ] && grep -q '^wine: Unhandled ' "$output"; then
    echo "run-under-wine.sh: $exe crashed" >&2
    status=1
fi
exit "$status"
