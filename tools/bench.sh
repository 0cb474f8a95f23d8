#!/usr/bin/env bash
# Benchmarks on loopback with a private CUPS daemon.
#   tools/bench.sh [ORDERS]      the local-node road (clinic order to paper)
#                                against the spooler alone; default 100 orders
#   tools/bench.sh pdf [PAGES [ROUNDS]]
#                                the PDF road against QtPdf rendering alone and
#                                against CUPS's own PDF filter chain, taking
#                                turns; default 20 pages, 5 rounds
#   tools/bench.sh idle [SECONDS] the enrolled agent polling an idle node, on a
#                                private X server with a tray, against a bare
#                                tray program: wake-ups/s and resident memory
#   tools/bench.sh update [FILE] the installer digest as the download streams it
#                                against sha256sum; default a 512 MiB file
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}

mode=localnode
bench=bench_localnode
if [ "${1:-}" = pdf ]; then
    mode=pdf
    bench=bench_pdfroad
    shift
elif [ "${1:-}" = idle ]; then
    shift
    "$root/tools/bootstrap.sh" >/dev/null
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_WINDOWS_BACKEND=OFF -DBUILD_TESTING=ON >/dev/null
    cmake --build "$build" --target bench_idle bench_traybare VekPrintAgent -j "$(nproc)"
    QT_QPA_PLATFORM=xcb exec "$root/tests/gui/run-under-xvfb.sh" "$build/tests/bench_idle" \
        "$build/app/VekPrintAgent" "$build/tests/bench_traybare" "${1:-60}"
fi

"$root/tools/bootstrap.sh" >/dev/null
if [ "${1:-}" = update ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_WINDOWS_BACKEND=OFF -DBUILD_TESTING=ON >/dev/null
    cmake --build "$build" --target bench_updatehash -j "$(nproc)"
    exec "$build/tests/bench_updatehash" "${@:2}"
fi
if [ $mode = pdf ]; then
    # CUPS's own PDF to PWG raster conversion, the comparison only this
    # benchmark needs.
    if ! dpkg-query -W -f='${Status}' cups-filters 2>/dev/null | grep -q 'install ok installed'; then
        sudo=""
        [ "$(id -u)" = 0 ] || sudo="sudo"
        $sudo apt-get update -q
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends cups-filters
    fi
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_WINDOWS_BACKEND=OFF -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" --target "$bench" vek_printsink -j "$(nproc)"

cups=$(mktemp -d /tmp/vek-bench-XXXXXX)
trap '"$root/tests/harness/cupsfixture.sh" stop "$cups"' EXIT
"$root/tests/harness/cupsfixture.sh" start "$cups" "$build/tests/harness/vek_printsink" "$root/tests/harness" >/dev/null
export CUPS_SERVER="$cups/cups.sock" VEK_TEST_SINK_DIR="$cups/sink"
if [ $mode = pdf ]; then
    mkdir -m 700 "$cups/runtime"
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$cups/runtime" VEK_BENCH_CUPSD_PID=$(cat "$cups/cupsd.pid") \
        "$build/tests/$bench" "${1:-20}" ${2:+"$2"}
else
    "$build/tests/$bench" "${1:-100}"
fi
