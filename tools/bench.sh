#!/usr/bin/env bash
# Measures the local-node road (clinic order to paper) against the spooler
# alone, on loopback with a private CUPS daemon.
#   tools/bench.sh [ORDERS]      default 100
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}

"$root/tools/bootstrap.sh" >/dev/null
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_WINDOWS_BACKEND=OFF -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" --target bench_localnode vek_printsink -j "$(nproc)"

cups=$(mktemp -d /tmp/vek-bench-XXXXXX)
trap '"$root/tests/harness/cupsfixture.sh" stop "$cups"' EXIT
"$root/tests/harness/cupsfixture.sh" start "$cups" "$build/tests/harness/vek_printsink" "$root/tests/harness" >/dev/null
CUPS_SERVER="$cups/cups.sock" VEK_TEST_SINK_DIR="$cups/sink" "$build/tests/bench_localnode" "${1:-100}"
