#!/usr/bin/env bash
# Starts or stops a private CUPS daemon for the tests, with queues that send
# to a local TCP sink printer (printsink), so tests can read the exact bytes
# each queue delivered:
#   VekLabel     a label printer's PPD that takes raw jobs
#   VekOffice    a raw queue, the default
#   VekDocument  a document printer's PPD that passes PWG raster through
#   VekNoRaster  a PPD that takes plain text only, so it refuses raster
#   cupsfixture.sh start DIR SINK_BINARY HARNESS_DIR
#   cupsfixture.sh stop DIR
# Clients reach the daemon with CUPS_SERVER=DIR/cups.sock; the sink writes
# every job it receives to DIR/sink/<queue>/<seq>.job.
set -euo pipefail

queues=(VekLabel VekOffice VekDocument VekNoRaster)

stop_daemons() {
    local dir=$1 pidfile
    for pidfile in "$dir/cupsd.pid" "$dir/sink.pid"; do
        [ -f "$pidfile" ] || continue
        local pid
        pid=$(cat "$pidfile")
        if kill "$pid" 2>/dev/null; then
            for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
            kill -9 "$pid" 2>/dev/null || true
        fi
        rm -f "$pidfile"
    done
}

wait_for() {  # wait_for SECONDS COMMAND...
    local deadline=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
        if [ $SECONDS -ge $deadline ]; then return 1; fi
        sleep 0.1
    done
}

# lpstat -r exits 0 whether or not the scheduler answers; read what it says.
scheduler_running() {
    lpstat -r 2>/dev/null | grep -q '^scheduler is running'
}

start() {
    local dir=$1 sink=$2 harness=$3
    stop_daemons "$dir"
    rm -rf "$dir"
    mkdir -p "$dir"/{etc/ppd,spool/tmp,cache,state,log,sink}
    chmod 755 "$dir" "$dir/sink"

    "$sink" --dir "$dir/sink" --queues "$(IFS=,; echo "${queues[*]}")" --ports-file "$dir/sink.ports" \
        >"$dir/log/sink.log" 2>&1 </dev/null &
    echo $! >"$dir/sink.pid"
    wait_for 20 test -s "$dir/sink.ports" || { echo "the sink printer did not start"; cat "$dir/log/sink.log"; exit 1; }

    local user_lines=""
    if [ "$(id -u)" = 0 ]; then
        # cupsd refuses to run its backends as root.
        user_lines=$'User lp\nGroup lp'
        chown -R root:lp "$dir/spool" "$dir/cache" "$dir/state"
        chmod 0770 "$dir/spool" "$dir/cache" "$dir/state"
        chmod 1770 "$dir/spool/tmp"
    fi
    cat >"$dir/etc/cups-files.conf" <<CONF
$user_lines
ServerRoot $dir/etc
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
CONF
    cat >"$dir/etc/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel warn
Browsing No
WebInterface No
Printcap $dir/state/printcap
MaxJobs 0
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
CONF

    cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 </dev/null &
    echo $! >"$dir/cupsd.pid"
    export CUPS_SERVER="$dir/cups.sock"
    wait_for 30 scheduler_running || { echo "cupsd did not start"; cat "$dir/log/cupsd.out" "$dir/log/error_log" 2>/dev/null; exit 1; }

    local queue port
    while read -r queue port; do
        case $queue in
        VekLabel) lpadmin -p "$queue" -E -v "socket://127.0.0.1:$port" -P "$harness/label-printer.ppd" ;;
        VekDocument) lpadmin -p "$queue" -E -v "socket://127.0.0.1:$port" -P "$harness/document-printer.ppd" ;;
        VekNoRaster) lpadmin -p "$queue" -E -v "socket://127.0.0.1:$port" -P "$harness/no-raster-printer.ppd" ;;
        *) lpadmin -p "$queue" -E -v "socket://127.0.0.1:$port" -m raw ;;
        esac 2>"$dir/log/lpadmin.err" || { cat "$dir/log/lpadmin.err"; exit 1; }
    done <"$dir/sink.ports"
    lpadmin -d VekOffice
    lpstat -v
}

case ${1:-} in
start) start "$2" "$3" "$4" ;;
stop) stop_daemons "$2"; rm -rf "$2" ;;
*) echo "usage: $0 start DIR SINK_BINARY HARNESS_DIR | stop DIR" >&2; exit 2 ;;
esac
