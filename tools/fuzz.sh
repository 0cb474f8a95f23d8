#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a while,
# starting from its seed corpus (new inputs go to build-fuzz/corpus/).
#   tools/fuzz.sh [SECONDS]      default 60 per target
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
seconds=${1:-60}

"$root/tools/bootstrap.sh" >/dev/null
command -v clang++-14 >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang-14 libclang-rt-14-dev
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
      -DVEK_FUZZ=ON -DVEK_SANITIZE=ON -DVEK_WINDOWS_BACKEND=OFF >/dev/null
# Leaks of libraries the project uses are known and listed there.
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
targets=(fuzz_orderenvelope fuzz_serverlist fuzz_validatepdf fuzz_desktoporder fuzz_journalrecord
         fuzz_updatemanifest fuzz_pefile)
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)"
for target in "${targets[@]}"; do
    mkdir -p "$build/corpus/$target"
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 \
        "$build/corpus/$target" "$root/tests/fuzz/corpus/$target"
done
