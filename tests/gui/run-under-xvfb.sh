#!/usr/bin/env bash
# Runs a command on a private X server of its own, with a notification area
# (trayer) unless --no-tray is given; both are stopped on every path.
#   run-under-xvfb.sh [--no-tray] COMMAND [ARGUMENT...]
set -euo pipefail

with_tray=1
if [ "${1:-}" = --no-tray ]; then
    with_tray=0
    shift
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and names it on the descriptor.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
if ! read -r -t 20 number <"$work/display"; then
    echo "Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$number"

if [ "$with_tray" = 1 ]; then
    trayer --edge top --align right --widthtype request --height 32 --transparent false \
        --tint 0xffffff --SetDockType true 2>"$work/trayer.log" &
    pids+=($!)
    # Ready once its window is mapped.
    if ! timeout 20 xdotool search --sync --onlyvisible --class trayer >/dev/null; then
        echo "trayer did not start:" >&2
        cat "$work/trayer.log" >&2
        exit 1
    fi
fi

"$@"
