#!/usr/bin/env bash
# Runs a command on a private X server of its own, with a notification area
# (trayer) unless --no-tray is given; both are stopped on every path.
#   run-under-xvfb.sh [--no-tray] COMMAND [ARGUMENT...]
# Sourced, it only defines start_virtual_display for scripts that keep the
# display for their own run and stop it themselves.
set -euo pipefail

# start_virtual_display WORK_DIR WITH_TRAY(1|0)
# Starts Xvfb (and trayer), exports DISPLAY, and appends the processes' ids
# to the caller's array virtual_display_pids. Logs go to WORK_DIR.
start_virtual_display() {
    local work=$1 with_tray=$2 number
    # Xvfb picks a free display itself and names it on the descriptor.
    mkfifo "$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    virtual_display_pids+=($!)
    if ! read -r -t 20 number <"$work/display"; then
        echo "Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$number"

    if [ "$with_tray" = 1 ]; then
        trayer --edge top --align right --widthtype request --height 32 --transparent false \
            --tint 0xffffff --SetDockType true 2>"$work/trayer.log" &
        virtual_display_pids+=($!)
        # Ready once its window is mapped.
        if ! timeout 20 xdotool search --sync --onlyvisible --class trayer >/dev/null; then
            echo "trayer did not start:" >&2
            cat "$work/trayer.log" >&2
            return 1
        fi
    fi
}

if [ "${BASH_SOURCE[0]}" != "$0" ]; then
    return 0
fi

with_tray=1
if [ "${1:-}" = --no-tray ]; then
    with_tray=0
    shift
fi

work=$(mktemp -d)
virtual_display_pids=()
cleanup() {
    for pid in "${virtual_display_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${virtual_display_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_virtual_display "$work" "$with_tray" || exit 1

"$@"
