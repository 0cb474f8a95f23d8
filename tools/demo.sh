#!/usr/bin/env bash
# The agent's main job end to end, on this machine, in one command:
#   tools/demo.sh [OUTPUT_DIR]          (default: demo-output/ in the project)
#
# It installs what is needed, builds the agent in Release, and starts a
# private CUPS daemon whose label queue (VekLabel, raw) and document queue
# (VekDocument, PWG raster) print to a sink printer; the clinic simulator with
# a local node and two desktop printing servers; a virtual display with a
# notification area when there is no display. Two agents then run, each with
# a home of its own, and are set up through the real setup dialog, typed in
# with xdotool: one with the local node's enrolment secret (label orders),
# one with a pairing code on the first desktop server, which also names the
# second (PDF orders). An agent serves one mode, so both modes take two.
# A print profile for the document queue is saved in the real profiles
# dialog (with the product's own profile code should the dialog not save
# it), label orders are queued on the local node and PDF orders on
# both desktop servers, and once every order has its final report the
# summary says what each order went through and what the sink received.
#
# OUTPUT_DIR keeps summary.txt, labels/ (the label bytes as the sink got
# them), pages/ (each printed page as PNG), screenshots/ (the tray in its
# states, its menu, the setup dialog in both modes, the profiles dialog)
# and logs/. Exits 0 only when every order was
# reported SPOOLED or COMPLETED and the sink holds every label byte for byte
# and every document's pages in order. Everything else it started is
# stopped, and its temporary files removed, on every way out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/demo-output}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build=$root/build-release
label_orders=5  # the first is printed while the tray is photographed
pdf_orders_per_server=2
order_limit=120  # seconds for all orders to reach their final report and the sink

work=""
pids=()
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    set +e
    # Last started, first stopped: the agents before the servers they talk to.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
    done
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        wait "${pids[i]}" 2>/dev/null
    done
    if [ -n "$work" ]; then
        [ -d "$work/cups" ] && "$root/tests/harness/cupsfixture.sh" stop "$work/cups" >/dev/null 2>&1
        mkdir -p "$out/logs"
        cp "$work"/*.log "$out/logs/" 2>/dev/null
        if [ "$status" != 0 ]; then
            echo "demo: failed; the logs are in $out/logs" >&2
            for log in "$work/events.log" "$work"/agent-*.log "$work/simulator.log"; do
                [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 25 "$log" >&2; }
            done
        fi
        rm -rf "$work"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say() { echo "demo: $*"; }
fail() { echo "demo: $*" >&2; exit 1; }

# 1. What is needed, and a Release build of what the demo runs.
say "installing what is needed"
"$root/tools/bootstrap.sh"
say "building in Release ($build)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_WINDOWS_BACKEND=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target VekPrintAgent vek-clinic-simulator vek_printsink vek-demo
agent=$build/app/VekPrintAgent
simulator=$build/simulator/vek-clinic-simulator
demo=$build/demo/vek-demo

# Short: CUPS and the agent's command channel live on Unix sockets below it.
work=$(mktemp -d /tmp/vek-demo.XXXXXX)
# The CUPS daemon's filters run as another user and must reach its spool.
chmod 755 "$work"
# The Qt tools of this script want a private runtime folder of their own.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -m 700 "$work/runtime"
    export XDG_RUNTIME_DIR=$work/runtime
fi
rm -rf "$out"/{labels,pages,screenshots,logs} "$out/summary.txt"
mkdir -p "$out/screenshots"
shots=$out/screenshots

# 2. The private CUPS daemon and its sink printer.
say "starting a private CUPS daemon with sink printers"
"$root/tests/harness/cupsfixture.sh" start "$work/cups" "$build/tests/harness/vek_printsink" \
    "$root/tests/harness" >"$work/cups-start.log" 2>&1 || { cat "$work/cups-start.log"; fail "CUPS did not start"; }
export CUPS_SERVER=$work/cups/cups.sock
sink=$work/cups/sink

"$demo" files "$work/files" "$label_orders" || fail "the demo's files could not be written"

# 3. The simulator; its event lines are kept with the time each was read.
events=$work/events.log
secret=local-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
code=PAIR-$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n' | tr a-f A-F)
: >"$events"
mkfifo "$work/simulator.fifo"
"$simulator" --local-node 0 --desktop 0 --desktop 0 --admin-port 0 \
    --secret "$secret" --pairing-code "$code" >"$work/simulator.fifo" 2>"$work/simulator.log" &
pids+=($!)
simulator_pid=$!
while IFS= read -r line; do
    printf '%s %s\n' "$EPOCHREALTIME" "$line"
done <"$work/simulator.fifo" >>"$events" &
pids+=($!)

# wait_for_event SECONDS REGEX: waits for an event line matching REGEX.
wait_for_event() {
    local deadline=$((SECONDS + $1))
    until grep -qE "^[0-9.]+ $2" "$events"; do
        kill -0 "$simulator_pid" 2>/dev/null || fail "the simulator ended"
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}
event_field() {  # event_field REGEX FIELD: a field of the first matching line
    grep -E "^[0-9.]+ $1" "$events" | head -n 1 | awk -v f="$2" '{ print $(f + 1) }'
}
wait_for_event 20 'admin ' || fail "the simulator did not start"
local_url=$(event_field 'server local ' 3)
desktop1_url=$(event_field 'server desktop1 ' 3)
admin=$(event_field 'admin ' 2)
say "simulator: local node $local_url, desktop servers $desktop1_url and $(event_field 'server desktop2 ' 3), admin and status page $admin"

# 4. A display with a notification area.
if [ -z "${DISPLAY:-}" ]; then
    say "starting a virtual display (Xvfb) with a notification area (trayer)"
    virtual_display_pids=()
    # shellcheck source=../tests/gui/run-under-xvfb.sh
    . "$root/tests/gui/run-under-xvfb.sh"
    start_virtual_display "$work" 1 || { pids+=("${virtual_display_pids[@]}"); fail "no virtual display"; }
    pids+=("${virtual_display_pids[@]}")
fi

# 5. The agents, each with a home of its own, set up through the real dialog.
# user_env HOME_NAME: sets user_vars to the environment of that agent's
# user, for env; started in the background, env's process id is the program's.
user_env() {
    local home=$work/$1
    # No session bus: the demo's credentials go to the sealed file in its own
    # home, never into the keyring of the user who runs the demo.
    user_vars=(HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data"
        XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/runtime"
        DBUS_SESSION_BUS_ADDRESS=disabled:)
}
as_user() {  # as_user HOME_NAME COMMAND...
    user_env "$1"
    shift
    env "${user_vars[@]}" "$@"
}
start_agent() {  # start_agent HOME_NAME; sets agent_pid
    mkdir -p "$work/$1/runtime"
    chmod 700 "$work/$1" "$work/$1/runtime"
    user_env "$1"
    env "${user_vars[@]}" QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="vek.*.debug=true" \
        "$agent" >"$work/agent-$1.log" 2>&1 &
    agent_pid=$!
    pids+=("$agent_pid")
}
# menu_shot AGENT_PID FILE: the agent's tray menu, opened with a right click on its icon.
menu_shot() {
    # shellcheck disable=SC2034  # set by getwindowgeometry's eval, kept local
    local icon before X Y WIDTH HEIGHT SCREEN WINDOW
    local window
    icon=""
    for window in $(xdotool search --onlyvisible --pid "$1"); do
        [ "$(xdotool getwindowname "$window")" = "Vek Print Agent" ] && icon=$window
    done
    [ -n "$icon" ] || fail "the agent's tray icon was not found"
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    before=$(xdotool search --onlyvisible --pid "$1" | wc -l)
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
    local deadline=$((SECONDS + 10))
    until [ "$(xdotool search --onlyvisible --pid "$1" | wc -l)" -gt "$before" ]; do
        [ $SECONDS -lt $deadline ] || fail "the tray menu did not open"
        sleep 0.1
    done
    "$demo" shot "$2"
    xdotool key Escape
}
# fill_setup_dialog MODE ADDRESS NAME SECRET SCREENSHOT: MODE is local or pairing.
fill_setup_dialog() {
    local window
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Set up this workstation$' | head -n 1) \
        || fail "the setup dialog did not open"
    xdotool windowfocus --sync "$window"
    # The fields in their tab order: mode, address, name, secret.
    if [ "$1" = local ]; then
        xdotool key --delay 50 space  # untick the pairing-code mode
    fi
    xdotool key --delay 50 Tab ctrl+a
    xdotool type --delay 20 "$2"
    xdotool key --delay 50 Tab ctrl+a
    xdotool type --delay 20 "$3"
    xdotool key --delay 50 Tab ctrl+a
    xdotool type --delay 20 "$4"
    "$demo" shot "$5"
    xdotool key Return
}

say "starting the first agent, for the local node"
start_agent l
"$demo" shot "$shots/1-tray-not-set-up.png" not-set-up 30 || fail "the tray icon did not appear"
fill_setup_dialog local "$local_url" "Front desk" "$secret" "$shots/2-setup-dialog-local-node.png"
wait_for_event 60 'workstation \S+ checked in on local' || fail "the first agent did not enrol and check in"
"$demo" shot "$shots/3-tray-ready.png" ready 30 || fail "the tray did not show the agent ready"

say "starting the second agent, for the desktop servers"
start_agent p
fill_setup_dialog pairing "$desktop1_url" "Radiology" "$code" "$shots/4-setup-dialog-pairing-code.png"
wait_for_event 60 'workstation \S+ announced [0-9]+ queues on desktop2' \
    || fail "the second agent did not enrol and announce itself on both desktop servers"
"$demo" shot "$shots/5-tray-ready-both.png" ready 30 || fail "the tray did not show the agent ready"
menu_shot "$agent_pid" "$shots/6-tray-menu-desktop-agent.png"

# 6. A print profile for the document queue, in the second agent's store,
# saved through the real profiles dialog ("--printers") with the driver's
# default options.
# window_of TITLE_REGEX: the visible window with that title, once it is there.
window_of() {
    timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1
}
# profile_in_dialog HOME_NAME QUEUE NAME: false when a step did not happen.
profile_in_dialog() {
    local pid dialog window status=1
    user_env "$1"
    env "${user_vars[@]}" QT_QPA_PLATFORM=xcb "$agent" --printers >"$work/printers-$1.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    if dialog=$(window_of '^Printers and print profiles') && [ -n "$dialog" ]; then
        xdotool windowfocus --sync "$dialog"
        # The printer list finds the queue as its name is typed; then the
        # permission box, and past the profile list, the "New profile" button.
        xdotool type --delay 30 "$2"
        xdotool key --delay 100 Tab space Tab Tab space
        if window=$(window_of '^Print profile$') && [ -n "$window" ]; then
            xdotool windowfocus --sync "$window"
            xdotool type --delay 20 "$3"
            xdotool key Return
            # The options sheet built from what the queue supports: its defaults.
            if window=$(window_of " - $2\$") && [ -n "$window" ]; then
                "$demo" shot "$shots/7-printer-options.png"
                xdotool windowfocus --sync "$window" key Return
                # Saved once the dialog lists the profile; then it is closed.
                local deadline=$((SECONDS + 10))
                until as_user "$1" "$demo" has-profile "$2" "$3" 2>/dev/null; do
                    [ $SECONDS -lt $deadline ] || break
                    sleep 0.1
                done
                "$demo" shot "$shots/8-print-profiles-dialog.png"
                xdotool windowfocus --sync "$dialog" key Escape
                status=0
            fi
        fi
    fi
    local deadline=$((SECONDS + 10))
    while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    kill "$pid" 2>/dev/null || true
    return $status
}
profile="A4 plain"
say "saving the print profile \"$profile\" for VekDocument in the profiles dialog"
if ! profile_in_dialog p VekDocument "$profile" || ! as_user p "$demo" has-profile VekDocument "$profile"; then
    profile=Default
    say "the profiles dialog did not save it; saving \"$profile\" with the product's profile code instead"
    as_user p "$demo" profile VekDocument || fail "the profile could not be saved"
fi

# 7. Orders. The first label is held by a slow local node for a moment, so
# the tray is seen printing.
manifest=$work/orders.txt
: >"$manifest"
order_ids=()
queue_order() {  # queue_order SERVER QUEUE FILE [PROFILE]
    local id
    id=$("$demo" order "$admin" "$1" "$2" "$3" "$manifest" "${@:4}") || fail "the order could not be queued"
    order_ids+=("$id")
}
say "queueing orders"
"$demo" fault "$admin" local slow 4000 || fail "the simulator refused the fault"
queue_order local VekLabel "$work/files/label-1.zpl"
"$demo" shot "$shots/9-tray-printing.png" printing 60 || fail "the tray did not show the agent printing"
"$demo" fault "$admin" local none || fail "the simulator refused the fault"
for ((i = 2; i <= label_orders; i++)); do
    queue_order local VekLabel "$work/files/label-$i.zpl"
done
for server in desktop1 desktop2; do
    for ((i = 1; i <= pdf_orders_per_server; i++)); do
        queue_order "$server" VekDocument "$work/files/document.pdf" "$profile"
    done
done

say "waiting for the final reports of ${#order_ids[@]} orders (at most ${order_limit} s)"
start=$SECONDS
for id in "${order_ids[@]}"; do
    remaining=$((order_limit - (SECONDS - start)))
    wait_for_event "$((remaining > 0 ? remaining : 0))" "report $id (COMPLETED|SPOOLED|FAILED)" \
        || fail "no final report for $id within ${order_limit} s"
done
# SPOOLED means the queue has it; the sink has it once CUPS has sent it.
sink_count() { find "$sink/$1" -name '*.job' 2>/dev/null | wc -l; }
until [ "$(sink_count VekLabel)" -ge "$label_orders" ] \
    && [ "$(sink_count VekDocument)" -ge $((2 * pdf_orders_per_server)) ]; do
    [ $((SECONDS - start)) -lt "$order_limit" ] || break  # the summary tells what is missing
    sleep 0.2
done
# Jobs CUPS still holds would be counted as missing; none should be left.
lpstat -o >"$work/cups-queue.log" 2>&1 || true

menu_shot "$agent_pid" "$shots/10-tray-menu-after-the-orders.png"

# 8. The summary.
say "summary"
echo
set +e
"$demo" summary "$admin" "$events" "$manifest" "$sink" "$out" | tee "$out/summary.txt"
verdict=${PIPESTATUS[0]}
set -e
echo
say "${order_ids[0]} was held by a slow local node for the picture of the tray printing"
say "output in $out: summary.txt, labels/, pages/, screenshots/, logs/ ($((SECONDS)) s in all)"
exit "$verdict"
